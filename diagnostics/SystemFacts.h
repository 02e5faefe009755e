#pragma once

// The machine description that the environment report writes into the trace log,
// gathered from Linux (uname, sysconf, sysinfo, /proc) in the figures the report's labels
// name. Kept for the rest of the run by whoever gathered it.

#include <cstdint>
#include <string>
#include <string_view>

struct SystemFacts {
    // Processor architecture numbers as the Windows system information reports them, so
    // that the report reads the same on every platform.
    static constexpr std::uint32_t ArchitectureIntel = 0;
    static constexpr std::uint32_t ArchitectureArm = 5;
    static constexpr std::uint32_t ArchitectureIa64 = 6;
    static constexpr std::uint32_t ArchitectureAmd64 = 9;
    static constexpr std::uint32_t ArchitectureArm64 = 12;
    static constexpr std::uint32_t ArchitectureUnknown = 0xFFFF;

    bool osKnown = false; // false: the system could not be described; nothing is reported
    std::string osText;   // "Linux <release> <version> <machine>"
    std::uint32_t architecture = ArchitectureUnknown;
    std::uint32_t processorCount = 0;
    std::string processorText;

    std::uint32_t memoryLoad = 0; // percent of physical memory in use
    std::uint64_t totalPhysical = 0;
    std::uint64_t availablePhysical = 0;
    std::uint64_t totalPaging = 0; // swap
    std::uint64_t availablePaging = 0;
    std::uint64_t totalVirtual = 0; // the process's user address space
    std::uint64_t availableVirtual = 0;
    std::uint32_t codePage = 0; // the narrow set's Windows code page number

    // Reads everything from the running system. Failures leave figures at 0. Any thread.
    static SystemFacts gather();

    // The pieces of gather() that interpret text, exposed for tests.
    static std::uint32_t architectureNumber(std::string_view machine);
    // x86: the family as the processor level ("PROCESSOR_INTEL_386", ..., "Unknown: 6");
    // elsewhere the processor's model name, else "Unknown".
    static std::string processorTextFrom(std::string_view cpuinfo, std::uint32_t architecture);
    // "UNICODE", "EASTEUR", "ANSI", "JAPAN" or empty.
    static std::string_view codePageName(std::uint32_t codePage);
    // The top of the user address space: the end of the highest mapping in /proc/self/maps
    // text (the kernel's vsyscall page excluded), rounded up to a power of two; 0 if none.
    static std::uint64_t addressSpaceTop(std::string_view maps);
    // A "kB" field of /proc/meminfo or /proc/self/status text in bytes; -1 when absent.
    static std::int64_t kilobyteField(std::string_view text, std::string_view name);
};
