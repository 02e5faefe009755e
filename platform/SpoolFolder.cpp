#include "platform/SpoolFolder.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quill {

namespace {

constexpr std::string_view SpoolSuffix = ".spool";
std::atomic<unsigned> s_serial{0};

// Field 22 of /proc/<pid>/stat: the start time in clock ticks after boot. Empty when the
// process does not exist. The command name (field 2) may hold blanks and parentheses, so
// the fields are counted from its closing parenthesis.
std::string startTimeOf(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!stat || !std::getline(stat, text)) {
        return {};
    }
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return {};
    }
    std::size_t pos = close + 1;
    // Fields 3 to 21 come before the start time.
    for (int field = 3; field <= 22; ++field) {
        while (pos < text.size() && text[pos] == ' ') {
            ++pos;
        }
        const std::size_t end = text.find(' ', pos);
        if (field == 22) {
            return text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        }
        if (end == std::string::npos) {
            return {};
        }
        pos = end;
    }
    return {};
}

bool allDigits(std::string_view text)
{
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

int mkdirOne(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
        return 0;
    }
    return errno;
}

// Opens the folder without following a link in its last component and checks it on the
// descriptor; -1 with errno set when it is not private.
int openPrivateFolder(const std::string& folder)
{
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        // A link in its place reads as "not a directory"; say what it is.
        struct stat st {};
        if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            errno = EPERM;
        }
        return -1;
    }
    struct stat st {};
    if (::fstat(dir, &st) != 0) {
        const int error = errno;
        ::close(dir);
        errno = error;
        return -1;
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        ::close(dir);
        errno = EPERM;
        return -1;
    }
    return dir;
}

} // namespace

SpoolFolderFault spoolFolderFault(const std::string& folder)
{
    SpoolFolderFault fault;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return fault;
    }
    fault.mode = static_cast<unsigned>(st.st_mode & 07777);
    if (S_ISLNK(st.st_mode)) {
        fault.kind = SpoolFolderFault::Kind::Link;
    } else if (st.st_uid != ::geteuid()) {
        fault.kind = SpoolFolderFault::Kind::OtherOwner;
    } else if ((st.st_mode & 077) != 0) {
        fault.kind = SpoolFolderFault::Kind::OpenToOthers;
    }
    return fault;
}

std::string spoolFolderPath()
{
    std::string cache;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        cache = xdg;
    } else {
        const char* home = std::getenv("HOME");
        cache = std::string(home != nullptr && home[0] == '/' ? home : "/tmp") + "/.cache";
    }
    while (cache.size() > 1 && cache.back() == '/') {
        cache.pop_back();
    }
    return cache + "/quillstream/spool";
}

int prepareSpoolFolder(const std::string& folder)
{
    // Parents are made as mkdir -p would; only the last two are ours and private.
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        if (const int error = mkdirOne(folder.substr(0, slash))) {
            return error;
        }
    }
    if (const int error = mkdirOne(folder)) {
        return error;
    }
    const int dir = openPrivateFolder(folder);
    if (dir < 0) {
        return errno;
    }
    ::close(dir);
    return 0;
}

SpoolFile createSpool(const std::string& folder)
{
    SpoolFile spool;
    const int dir = openPrivateFolder(folder);
    if (dir < 0) {
        spool.error = errno;
        return spool;
    }
    const std::string identity =
        std::to_string(::getpid()) + '-' + startTimeOf(::getpid()) + '-';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = identity + std::to_string(s_serial.fetch_add(1)) +
                                 std::string(SpoolSuffix);
        const int fd = ::openat(dir, name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            spool.fd = fd;
            spool.path = folder;
            spool.path += '/';
            spool.path += name;
            break;
        }
        if (errno != EEXIST) {
            spool.error = errno;
            break;
        }
        spool.error = EEXIST;
    }
    ::close(dir);
    return spool;
}

bool isStaleSpoolName(std::string_view name)
{
    if (name.size() <= SpoolSuffix.size() ||
        name.substr(name.size() - SpoolSuffix.size()) != SpoolSuffix) {
        return false;
    }
    name.remove_suffix(SpoolSuffix.size());
    const std::size_t first = name.find('-');
    const std::size_t second = first == std::string_view::npos ? first : name.find('-', first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    const std::string_view pid = name.substr(0, first);
    const std::string_view start = name.substr(first + 1, second - first - 1);
    if (!allDigits(pid) || !allDigits(start) || !allDigits(name.substr(second + 1)) ||
        pid.size() > 9) {
        return false;
    }
    return startTimeOf(std::strtol(std::string(pid).c_str(), nullptr, 10)) != start;
}

int removeStaleSpools(const std::string& folder)
{
    const int dir = openPrivateFolder(folder);
    if (dir < 0) {
        return 0;
    }
    DIR* listing = ::fdopendir(::dup(dir));
    int removed = 0;
    if (listing != nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            struct stat st {};
            if (!isStaleSpoolName(entry->d_name) ||
                ::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
                continue;
            }
            if (::unlinkat(dir, entry->d_name, 0) == 0) {
                ++removed;
            }
        }
        ::closedir(listing);
    }
    ::close(dir);
    return removed;
}

std::int64_t freeBytesOf(int fd)
{
    struct statvfs fs {};
    if (::fstatvfs(fd, &fs) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

std::int64_t spoolReserveBytes(int fd)
{
    constexpr std::int64_t MiB = 1 << 20;
    struct statvfs fs {};
    if (::fstatvfs(fd, &fs) != 0) {
        return 64 * MiB;
    }
    const std::int64_t size =
        static_cast<std::int64_t>(fs.f_blocks) * static_cast<std::int64_t>(fs.f_frsize);
    const std::int64_t share = size / 50;
    return share < 64 * MiB ? 64 * MiB : (share > 1024 * MiB ? 1024 * MiB : share);
}

} // namespace quill
