#include "platform/ReadOnlyFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

ReadOnlyFile::~ReadOnlyFile()
{
    close();
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : m_fd(other.m_fd), m_error(other.m_error)
{
    other.m_fd = -1;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_error = other.m_error;
        other.m_fd = -1;
    }
    return *this;
}

ReadOnlyFile ReadOnlyFile::open(const std::string& path)
{
    ReadOnlyFile file;
    int fd;
    do {
        // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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
        const ssize_t got = ::pread(m_fd, p + done, n - done, off_t(offset + std::int64_t(done)));
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

FileStat fromStat(const struct stat& st)
{
    FileStat out;
    out.mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.size = std::int64_t(st.st_size);
    out.device = std::uint64_t(st.st_dev);
    out.inode = std::uint64_t(st.st_ino);
    return out;
}

} // namespace

bool statByName(const std::string& path, FileStat& result)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    result = fromStat(st);
    return true;
}

bool statOpenFile(const ReadOnlyFile& file, FileStat& result)
{
    struct stat st {};
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0) {
        return false;
    }
    result = fromStat(st);
    return true;
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

} // namespace quill
