#pragma once

// What the kernel has counted of this process's reading so far (/proc/self/io): tests that
// a file is read once, or not at all, count with these.

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace quilltest {

inline std::uint64_t processIoCount(std::string_view field)
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key.size() == field.size() + 1 && key.compare(0, field.size(), field) == 0) {
            return value;
        }
    }
    return 0;
}

// Bytes read so far.
inline std::uint64_t bytesRead() { return processIoCount("rchar"); }
// Read system calls so far, the ones of asking included.
inline std::uint64_t readCalls() { return processIoCount("syscr"); }

} // namespace quilltest
