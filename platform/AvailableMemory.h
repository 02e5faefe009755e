#pragma once

// How much more memory this process could take before the system, or the control group it
// runs in, runs short: what a structure that grows with its input (the line index) bounds
// itself by, as the spool bounds itself by the free disk.

#include <cstdint>
#include <string>

namespace quill {

// Nothing could be read: no bound.
constexpr std::uint64_t UnknownMemory = ~std::uint64_t(0);

// The least of
//  - MemAvailable of /proc/meminfo (the kernel's own estimate, file cache included), and
//  - for the process's memory control group and each group above it that has a limit
//    (cgroup v2 memory.max, or v1 memory.limit_in_bytes): the limit less the usage, the
//    group's file cache (active_file + inactive_file of its memory.stat) counted as free,
//    since the kernel takes that back before it ends a process for want of memory.
// UnknownMemory when neither can be read. `root` is put before /proc and /sys (tests
// build a tree of their own). A few small reads: cheap enough for every few MiB grown.
std::uint64_t availableMemoryBytes(const std::string& root = {});

} // namespace quill
