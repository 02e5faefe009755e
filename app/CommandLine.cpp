#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

bool isHelpSwitch(const std::string& arg)
{
    static constexpr std::array<std::string_view, 4> switches = {"-h", "-help", "-?", "--help"};
    std::string lower = arg;
    // Only the letters a to z matter for the switch words; leave other bytes alone so a
    // UTF-8 argument is never mangled into a match.
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return std::find(switches.begin(), switches.end(), lower) != switches.end();
}

bool isVersionSwitch(const std::string& arg)
{
    static constexpr std::string_view word = "--version";
    return arg.size() == word.size() &&
           std::equal(arg.begin(), arg.end(), word.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

CommandLineInfo parseCommandLine(const std::vector<std::string>& args)
{
    CommandLineInfo info;
    bool flagsEnded = false;
    for (const std::string& arg : args) {
        if (!flagsEnded && arg == "--") {
            flagsEnded = true;
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
        if (!info.fileName) {
            info.fileName = arg;
        }
        info.fileNames.push_back(arg);
    }
    return info;
}
