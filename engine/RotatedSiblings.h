#pragma once

// The rotated siblings of a live log: the older files that logrotate, newsyslog and friends
// leave beside it, found by their names and put in the order they were written. For the
// live file app.log these are
//   app.log.N      numbered (N digits; the highest number is the oldest)
//   app.N.log      numbered, the number before the extension
//   app.log-DATE   dated (at least eight digits, '-' or '_' between groups; the earliest
//                  date is the oldest)
// each optionally with the suffix of a compression the program reads (.gz, .bz2, .xz, .zst).
// Names that only look alike (app.logger, app.log.bak, app.log.1.tmp) are none; neither is
// anything but a regular file. Numbered and dated files mixed (the configuration changed)
// go by group: the group whose newest file was modified first comes first. Equal keys
// (app.log.1 beside app.1.log) go by their modification time, then by name.
// Pure but for findRotatedSiblings, which reads the folder; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class RotationNaming { Numbered, Dated };

struct RotatedName {
    RotationNaming naming = RotationNaming::Numbered;
    // The number without leading zeros, or the date's digits.
    std::string key;
};

// What name says of itself as a sibling of live (both plain names, no folder); nullopt
// when it is none.
std::optional<RotatedName> rotatedNameOf(std::string_view live, std::string_view name);

// One entry of the live file's folder as the ordering sees it.
struct SiblingEntry {
    std::string name;
    bool regular = true;
    bool readable = true;
    std::int64_t modified = 0; // nanoseconds since the epoch
};

struct RotatedSiblings {
    std::vector<std::string> members;    // oldest first; the live file is not among them
    std::vector<std::string> unreadable; // siblings by name that cannot be read, by name
};

RotatedSiblings orderRotatedSiblings(std::string_view live,
                                     const std::vector<SiblingEntry>& entries);

// The siblings of the file at livePath, read from its folder; paths as livePath gives its
// folder. Nothing when the folder cannot be read.
RotatedSiblings findRotatedSiblings(const std::string& livePath);
