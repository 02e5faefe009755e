#pragma once

// The machine description and the loaded-module list that start-up writes into the trace
// log. The log and the settings store are borrowed and must outlive the report object.
// Main (user-interface) thread only, like the trace log.

#include "diagnostics/SystemFacts.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SettingsStore;
class TraceLog;

class EnvironmentReport {
  public:
    using ModuleVersion = std::array<std::uint32_t, 4>;

    EnvironmentReport(TraceLog& log, SettingsStore& settings);

    // Gathers the system facts now, keeps them (facts()) and writes them at level 3:
    // OS, architecture, processor count and type, then eight memory and code-page lines of
    // which only the first has a prefix. Writes nothing when the system cannot be described.
    void reportEnvironment();
    // One version line per loaded module whose file name carries a version; only when the
    // log's configured level is exactly 3 and "ListLoadedDLLs" is on.
    void reportLoadedModules();
    // "<path>: [a.b.c.d]" at level 3 for an existing file whose name (or the name of the
    // file a symbolic link leads to) carries a version; nothing otherwise.
    void logModuleVersion(const std::string& path);

    // reportEnvironment's writing step, for facts gathered elsewhere (tests).
    void writeEnvironment(const SystemFacts& facts);
    // The facts of the last reportEnvironment(), kept for the rest of the run.
    const SystemFacts& facts() const { return m_facts; }

    // The version in a shared-object name: "libfoo.so.1.2.3" gives {1, 2, 3, 0}; numbers
    // past the fourth are ignored; no ".so.<numbers>" ending gives nullopt. Pure.
    static std::optional<ModuleVersion> versionFromFileName(std::string_view path);
    // "1.2.3.0".
    static std::string versionText(const ModuleVersion& version);
    // Full paths of the modules loaded into this process, in load order; the program
    // itself as its executable's path; modules without a file (the vDSO) are left out.
    static std::vector<std::string> loadedModulePaths();

  private:
    TraceLog& m_log;
    SettingsStore& m_settings;
    SystemFacts m_facts;
};
