#pragma once

// Wakes a thread as soon as a watched file changes: inotify on the file (modified,
// attributes changed (also its link count: deleted or replaced by a rename), moved,
// deleted) and, while the file is missing or the path is a symbolic link, on its folder
// (an entry of the file's name created, moved in, moved away or deleted), and an event
// counter that another thread signals to interrupt the wait. Events say only that something may
// have changed: the caller decides what from the file's state, so a lost or merged event costs
// nothing but time, and a file system that sends none (NFS, SMB, FUSE) leaves the caller on its
// timer.
//
// One thread waits; wake() may be called from any thread. watch() is called once, before
// the waiting thread starts.

#include <chrono>
#include <cstdint>
#include <string>

namespace quill {

// The system calls behind the notifier, so that tests can make them fail as an exhausted
// watch limit does (inotify_add_watch: ENOSPC) without exhausting the machine's.
struct NotifierCalls {
    int (*init)(int flags);
    int (*addWatch)(int fd, const char* path, std::uint32_t mask);
    static const NotifierCalls& system();
};

class FileChangeNotifier {
  public:
    enum class Wake {
        Changed,  // an event concerned the file or its name
        TimedOut, // nothing concerning the file within the time
        Woken,    // wake() was called
    };

    FileChangeNotifier() = default;
    ~FileChangeNotifier();
    FileChangeNotifier(const FileChangeNotifier&) = delete;
    FileChangeNotifier& operator=(const FileChangeNotifier&) = delete;

    // Watches the file itself (through a link to the file it names) and, when it is
    // missing or a link, its folder. false when notification cannot be set up: the error number is
    // in error() and the notifier stays inactive.
    bool watch(const std::string& path, const NotifierCalls& calls = NotifierCalls::system());
    bool active() const { return m_inotify >= 0; }
    // Watches the folder too (if it is not yet): the file's name now names something else
    // (a folder, a FIFO), so the file that comes back will be a new one, of which only
    // the folder can tell. false when that cannot be set up; the file's events go on.
    bool watchFolder();
    int error() const { return m_error; }

    // Waits until an event concerns the file, wake() is called or the time has passed.
    // Events of other names in the folder are read and waiting goes on. Active only.
    Wake wait(std::chrono::milliseconds timeout);
    // Reads every queued event without waiting; true when one concerned the file.
    bool drain();
    // Any thread: the current wait, or the next one, returns Woken.
    void wake();
    // The waiting thread: a wake() seen is forgotten, so that later waits wait again.
    void takeWake();

  private:
    void close();

    int m_inotify = -1;
    int m_wakeFd = -1;
    int m_fileWatch = -1;
    int m_folderWatch = -1;
    int m_error = 0;
    std::string m_name;   // the file's name in its folder
    std::string m_folder; // the folder's path
    const NotifierCalls* m_calls = nullptr;
};

} // namespace quill
