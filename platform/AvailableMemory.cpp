#include "platform/AvailableMemory.h"

#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace quill {

namespace {

// A limit this high is none (cgroup v1 writes "no limit" as about 2^63).
constexpr std::uint64_t NoLimit = std::uint64_t(1) << 60;

std::optional<std::string> readSmallFile(const std::string& path)
{
    return quill::readSmallFile(path, 1 << 20);
}

std::optional<std::uint64_t> parseNumber(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// The number after "key" at the start of a line of a "key value" file.
std::optional<std::uint64_t> fieldOf(std::string_view text, std::string_view key)
{
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(at, end - at);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            (line[key.size()] == ' ' || line[key.size()] == '\t')) {
            return parseNumber(line.substr(key.size()));
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> numberIn(const std::string& path)
{
    const std::optional<std::string> text = readSmallFile(path);
    return text ? parseNumber(*text) : std::nullopt;
}

// The comma-separated list names the controller. Compared piece by piece: GCC 12 at -O3
// takes a string built as "," + list + "," for an overlapping copy (a false -Wrestrict).
bool listsController(std::string_view list, std::string_view name)
{
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (list.substr(0, comma) == name) {
            return true;
        }
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
    }
    return false;
}

// What one group leaves: its limit less what it holds other than file cache.
std::optional<std::uint64_t> groupRoom(const std::string& dir, bool v2)
{
    const std::optional<std::uint64_t> limit =
        numberIn(dir + (v2 ? "/memory.max" : "/memory.limit_in_bytes")); // "max": none
    if (!limit || *limit >= NoLimit) {
        return std::nullopt;
    }
    const std::uint64_t usage =
        numberIn(dir + (v2 ? "/memory.current" : "/memory.usage_in_bytes")).value_or(0);
    std::uint64_t cache = 0;
    if (const std::optional<std::string> stat = readSmallFile(dir + "/memory.stat")) {
        // v1 counts the hierarchy below in the total_ fields.
        cache = fieldOf(*stat, v2 ? "active_file" : "total_active_file").value_or(0) +
                fieldOf(*stat, v2 ? "inactive_file" : "total_inactive_file").value_or(0);
    }
    const std::uint64_t held = usage - std::min(usage, cache);
    return *limit > held ? *limit - held : 0;
}

// The least room of the group at `path` under the hierarchy's mount `base` and of the
// groups above it. Inside a container the mount may be the group itself: a path that is
// not there starts from the mount.
std::optional<std::uint64_t> hierarchyRoom(const std::string& base, std::string path, bool v2)
{
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    if (::access((base + path).c_str(), F_OK) != 0) {
        path.clear();
    }
    std::optional<std::uint64_t> least;
    for (;;) {
        if (const std::optional<std::uint64_t> room = groupRoom(base + path, v2)) {
            least = std::min(least.value_or(UnknownMemory), *room);
        }
        if (path.empty()) {
            return least;
        }
        const std::size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash);
    }
}

} // namespace

std::uint64_t availableMemoryBytes(const std::string& root)
{
    std::uint64_t available = UnknownMemory;
    if (const std::optional<std::string> meminfo = readSmallFile(root + "/proc/meminfo")) {
        if (const std::optional<std::uint64_t> kb = fieldOf(*meminfo, "MemAvailable:")) {
            available = *kb * 1024;
        }
    }
    const std::optional<std::string> groups = readSmallFile(root + "/proc/self/cgroup");
    if (!groups) {
        return available;
    }
    // Lines "id:controllers:path"; v2's is "0::path".
    std::string_view text = *groups;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string path(line.substr(second + 1));
        std::optional<std::uint64_t> room;
        if (controllers.empty()) {
            const std::string unified = root + "/sys/fs/cgroup";
            const bool mounted = ::access((unified + "/cgroup.controllers").c_str(), F_OK) == 0;
            room = hierarchyRoom(mounted ? unified : unified + "/unified", path, true);
        } else if (listsController(controllers, "memory")) {
            room = hierarchyRoom(root + "/sys/fs/cgroup/memory", path, false);
        }
        if (room) {
            available = std::min(available, *room);
        }
    }
    return available;
}

} // namespace quill
