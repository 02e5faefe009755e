#include "platform/SafeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

SafeOpenResult failed(int fd, SafeOpenStatus status, int error = 0)
{
    if (fd >= 0) {
        ::close(fd);
    }
    SafeOpenResult result;
    result.status = status;
    result.error = error;
    return result;
}

} // namespace

SafeOpenResult openForWritingSafely(const std::string& path, SafeOpenMode mode, uid_t owner)
{
    // O_NONBLOCK keeps a planted FIFO from hanging the open; it is cleared again once the
    // file is known to be regular. O_TRUNC is deliberately absent: truncating before the
    // owner check would destroy another user's file.
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    if (mode == SafeOpenMode::Append) {
        flags |= O_APPEND;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return failed(-1, SafeOpenStatus::OpenFailed, errno);
    }

    // Checked on the descriptor, not the name, so nothing can be swapped in between.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return failed(fd, SafeOpenStatus::OpenFailed, errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return failed(fd, SafeOpenStatus::NotRegularFile);
    }
    const uid_t expected = owner == CurrentUser ? ::geteuid() : owner;
    if (st.st_uid != expected) {
        return failed(fd, SafeOpenStatus::OwnedByOtherUser);
    }
    if (st.st_nlink > 1) {
        return failed(fd, SafeOpenStatus::MultipleLinks);
    }

    const int fdFlags = ::fcntl(fd, F_GETFL);
    if (fdFlags < 0 || ::fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) != 0) {
        return failed(fd, SafeOpenStatus::OpenFailed, errno);
    }
    if (mode == SafeOpenMode::Truncate && ::ftruncate(fd, 0) != 0) {
        return failed(fd, SafeOpenStatus::TruncateFailed, errno);
    }

    SafeOpenResult result;
    result.fd = fd;
    result.status = SafeOpenStatus::Opened;
    return result;
}

std::FILE* fopenForWritingSafely(const std::string& path, SafeOpenMode mode, uid_t owner)
{
    SafeOpenResult opened = openForWritingSafely(path, mode, owner);
    if (!opened) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(opened.fd, mode == SafeOpenMode::Append ? "a" : "w");
    if (!file) {
        ::close(opened.fd);
    }
    return file;
}

} // namespace quill
