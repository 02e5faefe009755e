#include "platform/ReplacingFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

// Symbolic links followed from a path to the file written (the kernel's own limit).
constexpr int MaxLinkHops = 40;

ssize_t systemWrite(int fd, const void* bytes, std::size_t n)
{
    return ::write(fd, bytes, n);
}

int systemFsync(int fd)
{
    return ::fsync(fd);
}

std::string parentFolder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t currentUmask()
{
    // umask can only be read by setting it; the old value goes straight back.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace

const WriteCalls& WriteCalls::system()
{
    static const WriteCalls calls{&systemWrite, &systemFsync};
    return calls;
}

std::string replacementTarget(const std::string& path)
{
    // Followed by hand rather than by realpath, which fails for a link whose target does
    // not exist yet: that target is the file to create, not the link to replace.
    std::string target = path;
    for (int hops = 0; hops < MaxLinkHops; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return target;
        }
        // Another user's link (planted in a shared folder) is not written through: the
        // rename then replaces the link itself, or fails where the folder forbids that.
        if (st.st_uid != ::geteuid()) {
            return target;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) {
            return path;
        }
        link.resize(static_cast<std::size_t>(length));
        target = link.front() == '/' ? link : parentFolder(target).append("/").append(link);
    }
    return path; // a loop of links: replacing the first one is the least harm
}

ReplacingFile::~ReplacingFile()
{
    abandon();
}

bool ReplacingFile::fail(int error)
{
    m_error = error != 0 ? error : EIO;
    abandon();
    return false;
}

bool ReplacingFile::begin(const std::string& target, Permissions permissions,
                          const WriteCalls& calls)
{
    abandon();
    m_calls = &calls;
    m_error = 0;
    m_written = 0;
    m_target = replacementTarget(target);
    std::string temp = parentFolder(m_target) + "/." + baseName(m_target) + ".XXXXXX";
    // mkostemp creates with O_EXCL and mode 0600: never an existing file or a planted link.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    m_fd = fd;
    m_temp = std::move(temp);
    // The replacement keeps what the user gave the old file. Failing to set it is no
    // reason to lose what is being written.
    if (permissions == Permissions::Default) {
        struct stat old {};
        const bool exists = ::stat(m_target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
        (void)::fchmod(m_fd, exists ? (old.st_mode & 07777) : (0666 & ~currentUmask()));
    }
    return true;
}

bool ReplacingFile::write(const void* bytes, std::size_t n)
{
    if (m_fd < 0) {
        return false;
    }
    const auto* p = static_cast<const char*>(bytes);
    while (n > 0) {
        const ssize_t done = m_calls->write(m_fd, p, n);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        if (done == 0) {
            return fail(ENOSPC); // a write that takes nothing will never take the rest
        }
        p += done;
        n -= static_cast<std::size_t>(done);
        m_written += static_cast<std::uint64_t>(done);
    }
    return true;
}

bool ReplacingFile::commit()
{
    if (m_fd < 0) {
        return false;
    }
    // The data must be on the disk before the name points at it, or a crash right after
    // the rename could leave an empty file where the old one was.
    if (m_calls->fsync(m_fd) != 0) {
        return fail(errno);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        return fail(errno);
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        return fail(errno);
    }
    m_temp.clear();
    // The rename itself must reach the disk before the write counts as done.
    const int dir = ::open(parentFolder(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void ReplacingFile::abandon()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

} // namespace quill
