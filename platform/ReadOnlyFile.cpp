#include "platform/ReadOnlyFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

int systemOpen(const char* path, int flags)
{
    return ::open(path, flags);
}

std::int64_t systemPread(int fd, void* buffer, std::size_t n, std::int64_t offset)
{
    return ::pread(fd, buffer, n, off_t(offset));
}

} // namespace

const FileCalls& FileCalls::system()
{
    static const FileCalls calls{systemOpen, systemPread};
    return calls;
}

ReadOnlyFile::~ReadOnlyFile()
{
    close();
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : m_fd(other.m_fd), m_error(other.m_error), m_calls(other.m_calls)
{
    other.m_fd = -1;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_error = other.m_error;
        m_calls = other.m_calls;
        other.m_fd = -1;
    }
    return *this;
}

ReadOnlyFile ReadOnlyFile::open(const std::string& path, const FileCalls& calls)
{
    ReadOnlyFile file;
    file.m_calls = &calls;
    int fd;
    do {
        // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
        fd = calls.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        file.m_error = errno;
        return file;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        file.m_error = errno;
        ::close(fd);
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.m_error = S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP;
        ::close(fd);
        return file;
    }
    file.m_fd = fd;
    return file;
}

std::int64_t ReadOnlyFile::size() const
{
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        return -1;
    }
    return std::int64_t(st.st_size);
}

std::int64_t ReadOnlyFile::readAt(void* buffer, std::size_t n, std::int64_t offset) const
{
    if (m_fd < 0) {
        return -1;
    }
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const std::int64_t got =
            m_calls->pread(m_fd, p + done, n - done, offset + std::int64_t(done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += std::size_t(got);
    }
    return std::int64_t(done);
}

void ReadOnlyFile::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

namespace {

std::int64_t nanoseconds(const struct statx_timestamp& t)
{
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool statxAt(int dirFd, const char* path, int flags, FileStat& result)
{
    struct statx st {};
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (::statx(dirFd, path, flags, mask, &st) != 0) {
        return false;
    }
    result.mtimeNs = nanoseconds(st.stx_mtime);
    result.ctimeNs = nanoseconds(st.stx_ctime);
    result.birthNs = (st.stx_mask & STATX_BTIME) != 0 ? nanoseconds(st.stx_btime) : 0;
    result.size = std::int64_t(st.stx_size);
    result.device = (std::uint64_t(st.stx_dev_major) << 32) | st.stx_dev_minor;
    result.inode = std::uint64_t(st.stx_ino);
    result.kind = S_ISREG(st.stx_mode)   ? FileStat::Kind::Regular
                  : S_ISDIR(st.stx_mode) ? FileStat::Kind::Directory
                                         : FileStat::Kind::Other;
    return true;
}

} // namespace

bool statByName(const std::string& path, FileStat& result)
{
    return statxAt(AT_FDCWD, path.c_str(), 0, result);
}

bool statOpenFile(const ReadOnlyFile& file, FileStat& result)
{
    return file.fd() >= 0 && statxAt(file.fd(), "", AT_EMPTY_PATH, result);
}

AlignedBuffer::AlignedBuffer(std::size_t size)
{
    const std::size_t rounded = (size + 63) / 64 * 64;
    m_data.reset(static_cast<std::uint8_t*>(std::aligned_alloc(64, rounded == 0 ? 64 : rounded)));
    m_size = m_data ? size : 0;
}

void AlignedBuffer::Free::operator()(std::uint8_t* p) const
{
    std::free(p);
}

std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    while (text.size() < limit) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

} // namespace quill
