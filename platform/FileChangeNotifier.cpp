#include "platform/FileChangeNotifier.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

constexpr std::uint32_t FileEvents = IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t FolderEvents =
    IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;

int systemInit(int flags)
{
    return ::inotify_init1(flags);
}

int systemAddWatch(int fd, const char* path, std::uint32_t mask)
{
    return ::inotify_add_watch(fd, path, mask);
}

} // namespace

const NotifierCalls& NotifierCalls::system()
{
    static const NotifierCalls calls{systemInit, systemAddWatch};
    return calls;
}

FileChangeNotifier::~FileChangeNotifier()
{
    close();
}

void FileChangeNotifier::close()
{
    if (m_inotify >= 0) {
        ::close(m_inotify);
        m_inotify = -1;
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
    m_fileWatch = m_folderWatch = -1;
}

bool FileChangeNotifier::watch(const std::string& path, const NotifierCalls& calls)
{
    close();
    const std::size_t slash = path.rfind('/');
    m_folder = slash == std::string::npos ? std::string(".")
               : slash == 0               ? "/"
                                          : path.substr(0, slash);
    m_name = slash == std::string::npos ? path : path.substr(slash + 1);
    m_calls = &calls;

    m_inotify = calls.init(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0) {
        m_error = errno;
        return false;
    }
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) {
        m_error = errno;
        close();
        return false;
    }
    // An existing file tells of its own deletion, rotation and replacement (the link count
    // changes, or it moves away); the folder is watched only for a file that is not there
    // yet, or a link that may be pointed elsewhere, so a busy folder (/var/log, /tmp) does
    // not wake the watcher for every other file in it.
    m_fileWatch = calls.addWatch(m_inotify, path.c_str(), FileEvents);
    if (m_fileWatch < 0 && errno != ENOENT) {
        m_error = errno;
        close();
        return false;
    }
    struct stat link {};
    if (m_fileWatch < 0 || (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))) {
        m_folderWatch = calls.addWatch(m_inotify, m_folder.c_str(), FolderEvents);
        if (m_folderWatch < 0) {
            m_error = errno;
            close();
            return false;
        }
    }
    m_error = 0;
    return true;
}

bool FileChangeNotifier::watchFolder()
{
    if (m_inotify < 0 || m_calls == nullptr) {
        return false;
    }
    if (m_folderWatch < 0) {
        m_folderWatch = m_calls->addWatch(m_inotify, m_folder.c_str(), FolderEvents);
    }
    return m_folderWatch >= 0;
}

bool FileChangeNotifier::drain()
{
    if (m_inotify < 0) {
        return false;
    }
    alignas(inotify_event) char buffer[4096];
    bool concerned = false;
    for (;;) {
        const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return concerned;
        }
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof event;
            const bool ours = event.wd == m_fileWatch || (event.mask & IN_Q_OVERFLOW) != 0;
            const bool ourName = event.wd == m_folderWatch && event.len > 0 &&
                                 std::strcmp(name, m_name.c_str()) == 0;
            concerned = concerned || ours || ourName;
            at += ssize_t(sizeof event + event.len);
        }
    }
}

FileChangeNotifier::Wake FileChangeNotifier::wait(std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_inotify, POLLIN, 0}};
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int ready = ::poll(fds, 2, int(std::max<std::int64_t>(left, 0)));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Wake::TimedOut;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return Wake::Woken;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            if (drain()) {
                return Wake::Changed;
            }
        } else if (ready > 0) {
            return Wake::TimedOut; // an error state of a descriptor: never spin on it
        }
        if (ready == 0 || Clock::now() >= deadline) {
            return Wake::TimedOut;
        }
    }
}

void FileChangeNotifier::wake()
{
    if (m_wakeFd >= 0) {
        // Until takeWake reads the counter back, every later wait returns at once.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
}

void FileChangeNotifier::takeWake()
{
    if (m_wakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(m_wakeFd, &count, sizeof count);
    }
}

} // namespace quill
