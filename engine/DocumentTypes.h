#pragma once

// Small value types shared by the document, its watcher and the view.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quill {
struct FileCalls;
struct NotifierCalls;
} // namespace quill

// Byte offsets and sizes in the watched file: 64-bit, so files beyond 2 GiB work.
using FileOffset = std::int64_t;
// Line numbers and counts of the line index.
using LineNumber = std::uint32_t;

// The file's state as the watcher compares it: what statx by name reports, the file's first
// bytes and the last bytes before `size` as they were indexed. Another device or inode,
// another birth time, or other bytes at the start or before the indexed end under the same
// path is another file (replaced, rotated, truncated and written again within one poll, or
// deleted and re-created with the inode number the old one had).
struct FileState {
    // Both places are compared, and each spans whole lines of a usual log: lines often
    // end alike (" done\n"), so a file written again can match a short tail by chance.
    static constexpr std::size_t TailBytes = 128;
    static constexpr std::size_t HeadBytes = 128;

    std::int64_t mtimeNs = 0; // modification time, nanoseconds since the epoch
    std::int64_t ctimeNs = 0; // status change time
    std::int64_t birthNs = 0; // creation time; 0 where the file system keeps none
    FileOffset size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::array<std::uint8_t, TailBytes> tail{}; // the file's bytes just before size
    std::uint8_t tailSize = 0;
    std::array<std::uint8_t, HeadBytes> head{}; // the file's first bytes
    std::uint8_t headSize = 0;
    bool operator==(const FileState&) const = default;

    // Extends the head with n bytes read at offset, where they continue it.
    void pushHead(std::int64_t offset, const std::uint8_t* bytes, std::size_t n)
    {
        if (offset != std::int64_t(headSize) || headSize >= HeadBytes) {
            return;
        }
        const std::size_t take = std::min<std::size_t>(n, HeadBytes - headSize);
        if (take > 0) {
            std::memcpy(head.data() + headSize, bytes, take);
        }
        headSize = std::uint8_t(headSize + take);
    }

    // Keeps the last TailBytes of the tail followed by these bytes.
    void pushTail(const std::uint8_t* bytes, std::size_t n)
    {
        if (n >= TailBytes) {
            std::memcpy(tail.data(), bytes + (n - TailBytes), TailBytes);
            tailSize = TailBytes;
            return;
        }
        const std::size_t keep = std::min<std::size_t>(tailSize, TailBytes - n);
        std::memmove(tail.data(), tail.data() + (tailSize - keep), keep);
        if (n > 0) {
            std::memcpy(tail.data() + keep, bytes, n);
        }
        tailSize = std::uint8_t(keep + n);
    }
};

// The watcher's intervals and how it learns of changes. The defaults are the program's;
// tests shorten the intervals and switch change events off or fake their set-up.
struct WatchTiming {
    std::chrono::milliseconds poll{500};         // poll after this long without an event
    std::chrono::milliseconds missingRetry{250}; // wait between tries for a missing file
    std::chrono::milliseconds sizeRetry{100};    // wait between transient open failures
    // Wake on change events (inotify) as well as on the poll timer.
    bool changeEvents = true;
    // Polls woken by events are at least eventGap apart, and at most eventBurst of them
    // come faster than one per busyGap: a writer that never pauses is polled (and the
    // views told) once per busyGap, a line after a pause at once.
    std::chrono::milliseconds eventGap{4};
    std::chrono::milliseconds busyGap{100};
    int eventBurst = 8;
    // After a poll that read floodBytes or more (a flood no one reads line by line), the
    // next comes floodGap later at the earliest: a fast writer costs what the timer alone
    // costs, and is caught up within floodGap after it stops.
    FileOffset floodBytes = 1 << 20;
    std::chrono::milliseconds floodGap{400};
    // The system calls behind change events; null: the system's own.
    const quill::NotifierCalls* notifierCalls = nullptr;
    // The system calls that open and read the file, the watcher's and the document's;
    // null: the system's own.
    const quill::FileCalls* fileCalls = nullptr;
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
constexpr unsigned SearchDown = 1;
constexpr unsigned SearchWholeWord = 2;
constexpr unsigned SearchMatchCase = 4;
