#pragma once

// Opening files for writing in folders that other users can write to (the temporary
// folder). A planted symbolic link, hard link, FIFO or another user's file must never
// make the program write somewhere the user did not intend.

#include <cstdio>
#include <string>
#include <sys/types.h>

namespace quill {

enum class SafeOpenMode {
    Append,   // keep the contents, every write goes to the end
    Truncate, // empty the file (only after every check has passed)
};

enum class SafeOpenStatus {
    Opened,
    OpenFailed,        // open(2) failed: missing folder, no rights, a symbolic link (ELOOP)
    NotRegularFile,    // a directory, FIFO, device or socket
    OwnedByOtherUser,  // the file exists and belongs to someone else
    MultipleLinks,     // a hard link to a file that lives elsewhere too
    TruncateFailed,
};

// The owner that a file must have; the default stands for the effective user.
inline constexpr uid_t CurrentUser = static_cast<uid_t>(-1);

struct SafeOpenResult {
    int fd = -1; // owned by the caller, who closes it; -1 unless status is Opened
    SafeOpenStatus status = SafeOpenStatus::OpenFailed;
    int error = 0; // errno of the failed call, 0 for failed checks

    explicit operator bool() const { return fd >= 0; }
};

// Opens path write-only. A missing file is created with mode 0600. The last path component
// is never followed when it is a symbolic link, the call never blocks on a FIFO, and only a
// regular file with a single link owned by `owner` is accepted. The descriptor is
// close-on-exec; in Append mode it has O_APPEND. Thread-safe.
SafeOpenResult openForWritingSafely(const std::string& path, SafeOpenMode mode,
                                    uid_t owner = CurrentUser);

// The same as a stdio stream ("a" or "w"); nullptr on any failure. The caller fcloses it.
std::FILE* fopenForWritingSafely(const std::string& path, SafeOpenMode mode,
                                 uid_t owner = CurrentUser);

} // namespace quill
