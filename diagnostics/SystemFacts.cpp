#include "diagnostics/SystemFacts.h"

#include "platform/NarrowCodec.h"
#include "platform/ReadOnlyFile.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

// /proc files report a size of 0, so they are read until the end.
std::string readProcFile(const char* path)
{
    return quill::readSmallFile(path, std::size_t(16) << 20).value_or(std::string());
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The value of the first "key : value" line of /proc/cpuinfo with that key.
std::string_view cpuinfoField(std::string_view cpuinfo, std::string_view key)
{
    std::size_t pos = 0;
    while (pos < cpuinfo.size()) {
        std::size_t end = cpuinfo.find('\n', pos);
        if (end == std::string_view::npos) {
            end = cpuinfo.size();
        }
        const std::string_view line = cpuinfo.substr(pos, end - pos);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && trimmed(line.substr(0, colon)) == key) {
            return trimmed(line.substr(colon + 1));
        }
        pos = end + 1;
    }
    return {};
}

} // namespace

std::uint32_t SystemFacts::architectureNumber(std::string_view machine)
{
    if (machine == "x86_64" || machine == "amd64") {
        return ArchitectureAmd64;
    }
    if (machine == "aarch64" || machine == "arm64" || machine == "aarch64_be") {
        return ArchitectureArm64;
    }
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") {
        return ArchitectureIntel; // i386 ... i686
    }
    if (machine.starts_with("arm")) {
        return ArchitectureArm;
    }
    if (machine == "ia64") {
        return ArchitectureIa64;
    }
    return ArchitectureUnknown;
}

std::string SystemFacts::processorTextFrom(std::string_view cpuinfo, std::uint32_t architecture)
{
    if (architecture == ArchitectureIntel) {
        const std::string_view family = cpuinfoField(cpuinfo, "cpu family");
        unsigned level = 0;
        const auto parsed = std::from_chars(family.data(), family.data() + family.size(), level);
        if (family.empty() || parsed.ec != std::errc()) {
            return "Unknown";
        }
        switch (level) {
        case 3:
            return "PROCESSOR_INTEL_386";
        case 4:
            return "PROCESSOR_INTEL_486";
        case 5:
            return "PROCESSOR_INTEL_PENTIUM";
        default:
            return "Unknown: " + std::to_string(level);
        }
    }
    // Different architectures name the model differently; the first one present wins.
    for (std::string_view key : {"model name", "Processor", "cpu model", "cpu", "uarch"}) {
        const std::string_view value = cpuinfoField(cpuinfo, key);
        if (!value.empty()) {
            return std::string(value);
        }
    }
    return "Unknown";
}

std::string_view SystemFacts::codePageName(std::uint32_t codePage)
{
    switch (codePage) {
    case 1200:
        return "UNICODE";
    case 1250:
        return "EASTEUR";
    case 1252:
        return "ANSI";
    case 932:
        return "JAPAN";
    default:
        return {};
    }
}

std::uint64_t SystemFacts::addressSpaceTop(std::string_view maps)
{
    std::uint64_t highest = 0;
    std::size_t pos = 0;
    while (pos < maps.size()) {
        std::size_t end = maps.find('\n', pos);
        if (end == std::string_view::npos) {
            end = maps.size();
        }
        const std::string_view line = maps.substr(pos, end - pos);
        pos = end + 1;
        if (line.ends_with("[vsyscall]")) {
            continue; // a kernel page above the user range
        }
        const auto dash = line.find('-');
        if (dash == std::string_view::npos) {
            continue;
        }
        const auto space = line.find(' ', dash);
        const std::string_view endText = line.substr(dash + 1, space - dash - 1);
        std::uint64_t mappingEnd = 0;
        const auto parsed =
            std::from_chars(endText.data(), endText.data() + endText.size(), mappingEnd, 16);
        if (parsed.ec == std::errc() && mappingEnd > highest) {
            highest = mappingEnd;
        }
    }
    if (highest == 0 || highest > (std::uint64_t(1) << 63)) {
        return highest;
    }
    return std::bit_ceil(highest);
}

std::int64_t SystemFacts::kilobyteField(std::string_view text, std::string_view name)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || line.substr(0, colon) != name) {
            continue;
        }
        const std::string_view value = trimmed(line.substr(colon + 1));
        std::int64_t kilobytes = 0;
        const auto parsed = std::from_chars(value.data(), value.data() + value.size(), kilobytes);
        if (parsed.ec != std::errc() || kilobytes < 0 || kilobytes > (INT64_MAX >> 10)) {
            return -1;
        }
        return kilobytes * 1024;
    }
    return -1;
}

SystemFacts SystemFacts::gather()
{
    SystemFacts facts;
    struct utsname names {};
    if (::uname(&names) != 0) {
        return facts;
    }
    facts.osKnown = true;
    facts.osText = std::string(names.sysname) + " " + names.release + " " + names.version + " "
        + names.machine;
    facts.architecture = architectureNumber(names.machine);

    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    facts.processorCount = online > 0 ? static_cast<std::uint32_t>(online) : 0;
    facts.processorText = processorTextFrom(readProcFile("/proc/cpuinfo"), facts.architecture);

    struct sysinfo info {};
    if (::sysinfo(&info) == 0) {
        const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1;
        facts.totalPhysical = std::uint64_t(info.totalram) * unit;
        // Free memory in the kernel's narrow sense leaves out the page cache, which is
        // handed back on demand; MemAvailable is the figure that means "available".
        const std::int64_t available =
            kilobyteField(readProcFile("/proc/meminfo"), "MemAvailable");
        facts.availablePhysical = available >= 0
            ? static_cast<std::uint64_t>(available)
            : (std::uint64_t(info.freeram) + info.bufferram) * unit;
        if (facts.availablePhysical > facts.totalPhysical) {
            facts.availablePhysical = facts.totalPhysical;
        }
        facts.totalPaging = std::uint64_t(info.totalswap) * unit;
        facts.availablePaging = std::uint64_t(info.freeswap) * unit;
        if (facts.totalPhysical > 0) {
            const std::uint64_t used = facts.totalPhysical - facts.availablePhysical;
            facts.memoryLoad = static_cast<std::uint32_t>(
                (used * 100 + facts.totalPhysical / 2) / facts.totalPhysical);
        }
    }

    facts.totalVirtual = addressSpaceTop(readProcFile("/proc/self/maps"));
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && (facts.totalVirtual == 0 || limit.rlim_cur < facts.totalVirtual)) {
        facts.totalVirtual = limit.rlim_cur;
    }
    const std::int64_t used = kilobyteField(readProcFile("/proc/self/status"), "VmSize");
    if (used >= 0 && static_cast<std::uint64_t>(used) < facts.totalVirtual) {
        facts.availableVirtual = facts.totalVirtual - static_cast<std::uint64_t>(used);
    }

    facts.codePage = quill::narrowCharset().codePage;
    return facts;
}
