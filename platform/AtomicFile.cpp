#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quill {

namespace {

std::string parentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool writeAll(int fd, std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool ensurePrivateFolder(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos == folder.size() || folder[pos] == '/') {
            const std::string part = folder.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool replaceFileAtomically(const std::string& path, std::string_view bytes)
{
    const std::string folder = parentOf(path);
    const std::size_t slash = path.rfind('/');
    std::string temp =
        folder + "/." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".XXXXXX";
    // mkostemp creates with O_EXCL and mode 0600: never an existing file or a planted link.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    const bool closed = ::close(fd) == 0;
    if (written && !closed) {
        error = errno;
    }
    if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
        if (error == 0) {
            error = errno;
        }
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    // The rename itself must reach the disk before the write counts as done.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace quill
