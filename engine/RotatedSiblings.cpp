#include "engine/RotatedSiblings.h"

#include <algorithm>
#include <array>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::array<std::string_view, 4> CompressionSuffixes = {".gz", ".bz2", ".xz", ".zst"};
constexpr std::size_t DateDigits = 8;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

std::string_view withoutCompression(std::string_view name)
{
    for (std::string_view suffix : CompressionSuffixes) {
        if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix) {
            return name.substr(0, name.size() - suffix.size());
        }
    }
    return name;
}

std::string numberKey(std::string_view digits)
{
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string("0") : std::string(digits.substr(first));
}

// Digit groups joined by '-' or '_', the first starting the text, at least DateDigits digits.
std::optional<std::string> dateKey(std::string_view text)
{
    if (text.empty() || !isDigit(text.front()) || !isDigit(text.back())) {
        return std::nullopt;
    }
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            digits += c;
        } else if ((c != '-' && c != '_') || !isDigit(text[i + 1])) {
            return std::nullopt;
        }
    }
    if (digits.size() < DateDigits) {
        return std::nullopt;
    }
    return digits;
}

bool startsWith(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && text.substr(0, start.size()) == start;
}

// A number compared as a number of any length: the longer is larger.
bool numberBefore(const std::string& a, const std::string& b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

struct Candidate {
    const SiblingEntry* entry;
    RotatedName name;
};

// Oldest first within one naming.
bool olderWithin(const Candidate& a, const Candidate& b)
{
    if (a.name.key != b.name.key) {
        // Numbers: the higher is older; dates: the earlier is older.
        return a.name.naming == RotationNaming::Numbered ? numberBefore(b.name.key, a.name.key)
                                                         : a.name.key < b.name.key;
    }
    if (a.entry->modified != b.entry->modified) {
        return a.entry->modified < b.entry->modified;
    }
    return a.entry->name < b.entry->name;
}

} // namespace

std::optional<RotatedName> rotatedNameOf(std::string_view live, std::string_view name)
{
    if (live.empty() || name.size() <= live.size()) {
        return std::nullopt;
    }
    const std::string_view bare = withoutCompression(name);
    if (startsWith(bare, live) && bare.size() > live.size() + 1) {
        const std::string_view rest = bare.substr(live.size() + 1);
        if (bare[live.size()] == '.' && allDigits(rest)) {
            return RotatedName{RotationNaming::Numbered, numberKey(rest)};
        }
        if (bare[live.size()] == '-') {
            if (std::optional<std::string> date = dateKey(rest)) {
                return RotatedName{RotationNaming::Dated, std::move(*date)};
            }
        }
    }
    // app.N.log: the number between the stem and the extension.
    const std::size_t dot = live.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    const std::string_view stem = live.substr(0, dot + 1);
    const std::string_view extension = live.substr(dot);
    if (bare.size() > stem.size() + extension.size() && startsWith(bare, stem) &&
        bare.substr(bare.size() - extension.size()) == extension) {
        const std::string_view number =
            bare.substr(stem.size(), bare.size() - stem.size() - extension.size());
        if (allDigits(number)) {
            return RotatedName{RotationNaming::Numbered, numberKey(number)};
        }
    }
    return std::nullopt;
}

RotatedSiblings orderRotatedSiblings(std::string_view live,
                                     const std::vector<SiblingEntry>& entries)
{
    RotatedSiblings result;
    std::vector<Candidate> groups[2];
    for (const SiblingEntry& entry : entries) {
        if (!entry.regular || entry.name == live) {
            continue;
        }
        std::optional<RotatedName> name = rotatedNameOf(live, entry.name);
        if (!name) {
            continue;
        }
        if (!entry.readable) {
            result.unreadable.push_back(entry.name);
            continue;
        }
        groups[name->naming == RotationNaming::Dated].push_back({&entry, std::move(*name)});
    }
    std::int64_t newest[2] = {0, 0};
    for (int g = 0; g < 2; ++g) {
        std::sort(groups[g].begin(), groups[g].end(), olderWithin);
        for (const Candidate& candidate : groups[g]) {
            newest[g] = std::max(newest[g], candidate.entry->modified);
        }
    }
    // The group written to last comes last; on a tie, dates before numbers.
    const int first = groups[0].empty() || groups[1].empty() || newest[1] <= newest[0] ? 1 : 0;
    for (int g : {first, 1 - first}) {
        for (const Candidate& candidate : groups[g]) {
            result.members.push_back(candidate.entry->name);
        }
    }
    std::sort(result.unreadable.begin(), result.unreadable.end());
    return result;
}

RotatedSiblings findRotatedSiblings(const std::string& livePath)
{
    const std::size_t slash = livePath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : livePath.substr(0, slash);
    const std::string prefix =
        slash == std::string::npos ? std::string() : livePath.substr(0, slash + 1);
    const std::string live = slash == std::string::npos ? livePath : livePath.substr(slash + 1);
    std::vector<SiblingEntry> entries;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        // Most of a busy log folder is no sibling: only candidates cost a stat.
        if (name == live || !rotatedNameOf(live, name)) {
            continue;
        }
        SiblingEntry entry;
        entry.name = std::string(name);
        const std::string path = prefix + entry.name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            continue; // gone since, or a dangling link
        }
        entry.regular = S_ISREG(st.st_mode);
        entry.readable = ::access(path.c_str(), R_OK) == 0;
        entry.modified =
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    RotatedSiblings result = orderRotatedSiblings(live, entries);
    for (std::vector<std::string>* names : {&result.members, &result.unreadable}) {
        for (std::string& name : *names) {
            name.insert(0, prefix);
        }
    }
    return result;
}
