#pragma once

// The string ids the document asks DocumentHost::loadResourceString for. The core lies below
// resources/, so it cannot see StringId there; StringId takes these numbers from here, and
// the two cannot drift apart.

#include <cstdint>

namespace HostString {
constexpr std::uint32_t VersionPrefix = 133;    // "Version "
constexpr std::uint32_t NotRegularFile = 190;   // not a regular file but a pipe, ...
constexpr std::uint32_t DecompressedCopy = 401; // "%1 (decompressed copy)"
} // namespace HostString
