#pragma once

// ReplacingFile: writes a file that takes the place of another only once it is complete.
// The bytes go to a temporary file beside the target (same folder, so the final rename is
// atomic on one file system); commit() flushes it to the disk, renames it over the target
// and flushes the folder. Until then the old target, if any, is untouched, and a failure
// (no room, no rights, a cancel) removes the temporary file again: a reader of the target
// sees either the old file whole or the new one whole, never a part.
//
// The temporary file is created with O_EXCL (never an existing file or a planted link).
// A target that is the user's own symbolic link is written where the link points, so the
// link stays.
// Every failure keeps the errno of the call that failed, for the message the user sees.
// One thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace quill {

// The calls that write, so that tests can make a disk run full or fail at any byte.
struct WriteCalls {
    ssize_t (*write)(int fd, const void* bytes, std::size_t n);
    int (*fsync)(int fd);
    static const WriteCalls& system();
};

// What a path names once symbolic links are followed to their end (a link whose target
// does not exist yet names that target); the path itself for anything else, and for a
// loop of links. Only the user's own links are followed: the chain stops at a link that
// belongs to someone else.
std::string replacementTarget(const std::string& path);

class ReplacingFile {
  public:
    enum class Permissions {
        Private, // always 0600 (settings, marks)
        Default, // the old target's own; for a new file 0666 less the umask, as an
                 // editor's new file gets
    };

    ReplacingFile() = default;
    // Removes the temporary file unless committed.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file for target; false (with error()) when the folder cannot
    // take one. The calls must outlive the object.
    bool begin(const std::string& target, Permissions permissions,
               const WriteCalls& calls = WriteCalls::system());
    // Writes all n bytes, retrying short writes and EINTR; false with error() on failure
    // (ENOSPC, EDQUOT, EIO, ...), after which only abandon() is left.
    bool write(const void* bytes, std::size_t n);
    // fsync, close, rename over the target, fsync of the folder. False (with error()) when
    // any step before the rename fails; the temporary file is then gone and the target as
    // it was.
    bool commit();
    // Removes the temporary file; the target stays as it was.
    void abandon();

    bool isOpen() const { return m_fd >= 0; }
    int error() const { return m_error; }
    std::uint64_t written() const { return m_written; }
    // The temporary file's path while open (tests look for leftovers).
    const std::string& temporaryPath() const { return m_temp; }
    // The file the rename replaces.
    const std::string& target() const { return m_target; }

  private:
    bool fail(int error);

    const WriteCalls* m_calls = &WriteCalls::system();
    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
    int m_error = 0;
    std::uint64_t m_written = 0;
};

} // namespace quill
