#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

bool isHelpSwitch(const std::string& arg)
{
    static constexpr std::array<std::string_view, 4> HelpSwitches = {"-h", "-help", "-?", "--help"};
    std::string lower = arg;
    // Only the letters a to z matter for the switch words; leave other bytes alone so a
    // UTF-8 argument is never mangled into a match.
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return std::find(HelpSwitches.begin(), HelpSwitches.end(), lower) != HelpSwitches.end();
}

bool isVersionSwitch(const std::string& arg)
{
    static constexpr std::string_view VersionSwitch = "--version";
    return arg.size() == VersionSwitch.size() &&
           std::equal(arg.begin(), arg.end(), VersionSwitch.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

namespace {

// A line number of decimal digits, saturated; nothing for anything else (empty included).
std::optional<std::uint32_t> lineNumber(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = std::min<std::uint64_t>(value * 10 + std::uint64_t(c - '0'), UINT32_MAX);
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace

CommandLineInfo parseCommandLine(const std::vector<std::string>& args)
{
    CommandLineInfo info;
    bool flagsEnded = false;
    // A line asked for the next file; "+G" sets it too, so that it overrules an earlier "+N".
    bool linePending = false;
    std::optional<std::uint32_t> pendingLine;
    const auto takeLine = [&](std::optional<std::uint32_t> line) {
        linePending = true;
        pendingLine = line;
    };
    static constexpr std::string_view CommandSwitch = "--command";
    static constexpr std::string_view LineOption = "--line";
    static constexpr std::string_view AtOption = "--at";
    static constexpr std::string_view RotatedOption = "--with-rotated";
    const auto addFile = [&](const std::string& file, bool withRotated) {
        if (!info.fileName) {
            info.fileName = file;
        }
        info.fileNames.push_back(file);
        info.lines.push_back(linePending ? pendingLine : std::nullopt);
        info.withRotated.push_back(withRotated);
        linePending = false;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!flagsEnded && arg == "--") {
            flagsEnded = true;
            continue;
        }
        if (!flagsEnded && arg == "-") {
            info.standardInput = true;
            continue;
        }
        if (!flagsEnded && arg == CommandSwitch) {
            // The next argument is the command line, whatever it starts with.
            if (i + 1 < args.size()) {
                if (!info.command) {
                    info.command = args[i + 1];
                }
                ++i;
            }
            continue;
        }
        if (!flagsEnded && arg.size() > CommandSwitch.size() &&
            arg.compare(0, CommandSwitch.size() + 1, "--command=") == 0) {
            if (!info.command) {
                info.command = arg.substr(CommandSwitch.size() + 1);
            }
            continue;
        }
        if (!flagsEnded && !arg.empty() && arg.front() == '+') {
            const std::string_view rest = std::string_view(arg).substr(1);
            if (rest.empty() || rest == "G") {
                takeLine(std::nullopt);
                continue;
            }
            if (const std::optional<std::uint32_t> line = lineNumber(rest)) {
                takeLine(line);
                continue;
            }
        }
        if (!flagsEnded && arg.starts_with(LineOption) &&
            (arg.size() == LineOption.size() || arg[LineOption.size()] == '=')) {
            const bool joined = arg.size() > LineOption.size();
            std::optional<std::uint32_t> line;
            if (joined) {
                line = lineNumber(std::string_view(arg).substr(LineOption.size() + 1));
            } else if (i + 1 < args.size()) {
                line = lineNumber(args[i + 1]);
                if (line) {
                    ++i;
                }
            }
            if (line) {
                takeLine(line);
            } else if (info.badOption.empty()) {
                info.badOption = std::string(LineOption);
            }
            continue;
        }
        if (!flagsEnded && arg.starts_with(AtOption) &&
            (arg.size() == AtOption.size() || arg[AtOption.size()] == '=')) {
            // The value is taken whatever it starts with: "-15m" is a time, not a flag.
            std::optional<TimeQuery> at;
            std::string text;
            if (arg.size() > AtOption.size()) {
                text = arg.substr(AtOption.size() + 1);
                at = parseTimeQuery(text);
            } else if (i + 1 < args.size()) {
                text = args[++i];
                at = parseTimeQuery(text);
            }
            if (!at && info.badOption.empty()) {
                info.badOption = std::string(AtOption);
            } else if (at && !info.at) {
                info.at = at;
                info.atText = text;
            }
            continue;
        }
        if (!flagsEnded && arg.starts_with(RotatedOption) &&
            (arg.size() == RotatedOption.size() || arg[RotatedOption.size()] == '=')) {
            // The file named is taken whatever it starts with, as --command's line is.
            std::string file;
            if (arg.size() > RotatedOption.size()) {
                file = arg.substr(RotatedOption.size() + 1);
            } else if (i + 1 < args.size()) {
                file = args[++i];
            }
            if (file.empty()) {
                if (info.badOption.empty()) {
                    info.badOption = std::string(RotatedOption);
                }
                continue;
            }
            addFile(file, true);
            continue;
        }
        if (!flagsEnded && arg == "--merge") {
            info.merge = true;
            continue;
        }
        if (!flagsEnded && arg == "--new-window") {
            info.newWindow = true;
            continue;
        }
        if (!flagsEnded && !arg.empty() && arg.front() == '-') {
            if (isHelpSwitch(arg)) {
                info.showHelp = true;
            }
            if (isVersionSwitch(arg)) {
                info.showVersion = true;
            }
            continue;
        }
        if (arg.empty()) {
            continue;
        }
        addFile(arg, false);
    }
    if (linePending && !info.lines.empty()) {
        info.lines.back() = pendingLine;
    }
    if (!info.lines.empty()) {
        info.line = info.lines.front();
    }
    return info;
}
