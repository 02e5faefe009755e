#pragma once

// Reading the watched file: opened read-only for one operation and closed at once, never
// held open between reads, and only when it is a regular file (or a link to one), so a
// directory, FIFO or device gives an error instead of a hang. Other programs keep reading
// and writing the file meanwhile (POSIX has no share modes to ask for). Thread-safe: each
// object is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quill {

// The system calls behind reading a file, so that tests can make them fail as a file
// without read permission (open: EACCES) or a failing disk (pread: EIO) does, also when
// they run as root, whom permission bits do not stop. Each call returns what the system
// call returns and sets errno as it does.
struct FileCalls {
    int (*open)(const char* path, int flags);
    std::int64_t (*pread)(int fd, void* buffer, std::size_t n, std::int64_t offset);
    static const FileCalls& system();
};

class ReadOnlyFile {
  public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens without blocking on FIFOs or devices, then checks that it is a regular file.
    // On failure isOpen() is false and error() holds the errno: ENOENT for a missing file,
    // EISDIR for a directory, ENOTSUP for any other file that is not a regular file. The
    // calls must outlive the object.
    static ReadOnlyFile open(const std::string& path, const FileCalls& calls = FileCalls::system());

    bool isOpen() const { return m_fd >= 0; }
    int error() const { return m_error; }
    int fd() const { return m_fd; }
    // Size by fstat; -1 on failure.
    std::int64_t size() const;
    // Reads up to n bytes at the offset, retrying short reads and EINTR; returns the
    // number read (less at the end of the file) or -1 on a read error.
    std::int64_t readAt(void* buffer, std::size_t n, std::int64_t offset) const;
    void close();

  private:
    int m_fd = -1;
    int m_error = 0;
    const FileCalls* m_calls = &FileCalls::system();
};

// What statx reports about a file: enough to see that it changed or was replaced.
struct FileStat {
    enum class Kind : std::uint8_t {
        Regular,
        Directory,
        Other, // a FIFO, socket or device: never opened for reading by the watcher
    };
    std::int64_t mtimeNs = 0; // modification time, nanoseconds since the epoch
    std::int64_t ctimeNs = 0; // status change time: moves on truncation, cannot be set back
    std::int64_t birthNs = 0; // creation time; 0 where the file system keeps none
    std::int64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    Kind kind = Kind::Regular;
};

// The file a path names, following links, without opening it. false (errno set) when it
// cannot be read.
bool statByName(const std::string& path, FileStat& stat);
// The same for an open file.
bool statOpenFile(const ReadOnlyFile& file, FileStat& stat);

// The text of a small file read to its end (/proc and /sys files report a size of 0), at
// most about `limit` bytes; nothing when it cannot be opened.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit);

// A byte buffer whose start is 64-byte aligned: reads into it are copied fastest by the
// kernel and scanned fastest by memchr.
class AlignedBuffer {
  public:
    explicit AlignedBuffer(std::size_t size);
    std::uint8_t* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    bool valid() const { return m_data != nullptr; }

  private:
    struct Free {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t, Free> m_data;
    std::size_t m_size = 0;
};

} // namespace quill
