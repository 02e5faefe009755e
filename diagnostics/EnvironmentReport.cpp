#include "diagnostics/EnvironmentReport.h"

#include "diagnostics/TraceLog.h"
#include "settings/SettingsStore.h"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

EnvironmentReport::EnvironmentReport(TraceLog& log, SettingsStore& settings)
    : m_log(log), m_settings(settings)
{
}

void EnvironmentReport::reportEnvironment()
{
    m_facts = SystemFacts::gather();
    writeEnvironment(m_facts);
}

void EnvironmentReport::writeEnvironment(const SystemFacts& facts)
{
    if (!facts.osKnown) {
        return;
    }
    const std::uint16_t level = TraceLog::LevelInfo;
    m_log.line(level, "OS: ", facts.osText);
    if (facts.architecture == SystemFacts::ArchitectureIntel) {
        m_log.line(level, "Architecture: INTEL");
    } else {
        m_log.line(level, "Architecture: unknown: ", facts.architecture);
    }
    m_log.line(level, "Number of processors: ", facts.processorCount);
    m_log.line(level, "Processortype: ", facts.processorText);

    m_log.setMessageLevel(level);
    m_log.stamp();
    m_log << "Percentage of memory in use:    " << facts.memoryLoad;
    m_log.endLine();
    // The memory block reads as one message: only its first line carries a prefix.
    const auto figureLine = [this](std::string_view label, std::uint64_t figure) {
        m_log << label << figure;
        m_log.endLine();
    };
    figureLine("bytes of physical memory:    ", facts.totalPhysical);
    figureLine("free physical memory bytes:  ", facts.availablePhysical);
    figureLine("bytes of paging file:        ", facts.totalPaging);
    figureLine("free bytes of paging file:   ", facts.availablePaging);
    figureLine("user bytes of address space: ", facts.totalVirtual);
    figureLine("free user bytes:             ", facts.availableVirtual);
    m_log << "code page:                   " << facts.codePage << " "
          << SystemFacts::codePageName(facts.codePage);
    m_log.endLine();
}

void EnvironmentReport::reportLoadedModules()
{
    if (m_log.configuredLevel() != TraceLog::LevelInfo ||
        !m_settings.boolValue(Setting::ListLoadedDLLs)) {
        return;
    }
    for (const std::string& path : loadedModulePaths()) {
        logModuleVersion(path);
    }
}

void EnvironmentReport::logModuleVersion(const std::string& path)
{
    // The loader names a library by its soname link (libstdc++.so.6); the file it leads
    // to carries the full version (libstdc++.so.6.0.30).
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
        return;
    }
    std::optional<ModuleVersion> version = versionFromFileName(real.get());
    if (!version) {
        version = versionFromFileName(path);
    }
    if (!version) {
        return;
    }
    m_log.line(TraceLog::LevelInfo, path, ": [", versionText(*version), "]");
}

std::optional<EnvironmentReport::ModuleVersion>
EnvironmentReport::versionFromFileName(std::string_view path)
{
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // The first ".so." that is followed by nothing but dot-separated numbers.
    for (std::size_t at = name.find(".so."); at != std::string_view::npos;
         at = name.find(".so.", at + 1)) {
        std::string_view rest = name.substr(at + 4);
        ModuleVersion version{0, 0, 0, 0};
        std::size_t count = 0;
        bool valid = !rest.empty();
        while (valid && !rest.empty()) {
            const auto dot = rest.find('.');
            const std::string_view part = rest.substr(0, dot);
            std::uint32_t number = 0;
            const auto parsed = std::from_chars(part.data(), part.data() + part.size(), number);
            valid = !part.empty() && parsed.ec == std::errc() &&
                    parsed.ptr == part.data() + part.size();
            if (valid && count < version.size()) {
                version[count] = number;
            }
            ++count;
            if (dot == std::string_view::npos) {
                break;
            }
            rest = rest.substr(dot + 1);
            valid = valid && !rest.empty(); // a trailing dot is not a version
        }
        if (valid) {
            return version;
        }
    }
    return std::nullopt;
}

std::string EnvironmentReport::versionText(const ModuleVersion& version)
{
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

namespace {

std::string executablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

int collectModule(dl_phdr_info* info, std::size_t, void* data)
{
    auto& paths = *static_cast<std::vector<std::string>*>(data);
    const char* name = info->dlpi_name;
    if (name && std::strchr(name, '/')) {
        paths.emplace_back(name);
    } else if (!name || name[0] == '\0') {
        // The loader gives the program itself no name.
        std::string self = executablePath();
        if (!self.empty()) {
            paths.push_back(std::move(self));
        }
    }
    return 0;
}

} // namespace

std::vector<std::string> EnvironmentReport::loadedModulePaths()
{
    std::vector<std::string> paths;
    ::dl_iterate_phdr(&collectModule, &paths);
    return paths;
}
