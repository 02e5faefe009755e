#pragma once

// Small value types shared by the document, its watcher and the view.

#include <chrono>
#include <cstdint>

// Byte offsets and sizes in the watched file: 64-bit, so files beyond 2 GiB work.
using FileOffset = std::int64_t;
// Line numbers and counts of the line index.
using LineNumber = std::uint32_t;

// The file's state as the watcher compares it: what stat by name reports. A different
// device or inode under the same path is another file (replaced, rotated).
struct FileState {
    std::int64_t mtimeNs = 0; // modification time, nanoseconds since the epoch
    FileOffset size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileState&) const = default;
};

// The watcher's intervals. The defaults are the program's; tests shorten them.
struct WatchTiming {
    std::chrono::milliseconds poll{500};         // sleep before each poll
    std::chrono::milliseconds missingRetry{250}; // wait between tries for a missing file
    std::chrono::milliseconds sizeRetry{100};    // wait between transient open failures
};

// The selection: first and last selected character, both included. endCol -1 means
// through the end of the end line. endLine may equal the line count (Select All).
struct DocSelection {
    bool valid = false;
    LineNumber startLine = 0;
    LineNumber endLine = 0;
    std::int32_t startCol = 0;
    std::int32_t endCol = 0;
};

// Where the next search starts.
struct FindPosition {
    LineNumber line = 0;
    std::int32_t col = 0;
};

// Find flags, the values of the find dialog.
constexpr unsigned FR_DOWN = 1;
constexpr unsigned FR_WHOLEWORD = 2;
constexpr unsigned FR_MATCHCASE = 4;
