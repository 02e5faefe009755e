#pragma once

// FileWatcher follows the watched file on its own thread while the document shows
// it. It polls at once when it starts, whenever a change event of the file or its name
// wakes it (inotify), and after every poll interval without one. Each poll compares the
// file's state (times in nanoseconds, size, device, inode and birth time, read by name
// with statx) with the state at the last append; when the file grew it checks that the
// bytes just before the indexed end are still those indexed, reads the appended bytes and
// extends the document's index (appendText, under the lock "docAccess"); when the file
// vanished, shrank, was replaced by another file, or appeared after having been missing it
// posts the reload message to the main window and ends. Every decision comes from the file's
// state, never from the event, so following without events (NFS, SMB, FUSE, the watch
// limit reached) works the same, only later.
//
// A file that cannot be read (no permission, a read error) or a name that now names a
// folder, FIFO or device is not followed and not reloaded: the watcher tells the document
// why (LogDocument::readError, the unreadable message when the reason changes), the index
// stays, and every later poll tries again. Once the name names a regular file that can be
// read, the usual decision holds: the same file with the indexed bytes still in place is
// continued, any other file is reloaded.
//
// The poll interval is not the watcher's own timer: the program's one SafetyPoller looks at
// every watched name and wakes a watcher only when its file's state differs from what its
// last poll saw, or every round while the file cannot be read, so that quiet files cost no
// wake-ups of their watchers at all.
//
// A writer that never pauses wakes it continuously: after a short burst, polls are then
// spaced busyGap apart, floodGap when each poll finds a flood of bytes; each poll posts at
// most one append message, so the views repaint at most that often however fast the file
// grows.
//
// The document owns the object: it constructs it, hands over the path and the state the
// previous watcher left, start()s it, and stop()s and deletes it. The thread never deletes
// itself. Construction, the hand-overs, Start, Stop and the read-backs are main-thread
// operations; the thread itself only runs watchLoop.

#include "engine/DocumentTypes.h"
#include "engine/SafetyPoller.h"
#include "platform/FileChangeNotifier.h"
#include "platform/ReadOnlyFile.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class LogDocument;
namespace quill {
class ReadOnlyFile;
}

// A manual-reset event: Set wakes every waiter and stays set. Thread-safe.
class ManualResetEvent {
  public:
    void set();
    bool isSet() const;
    // Waits until the event is set or the time has passed; true when it is set. The timed
    // wait is the watcher's sleep, so a stop wakes it at once.
    bool waitFor(std::chrono::milliseconds timeout) const;
    void wait() const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cond;
    bool m_set = false;
};

// The size of a regular file by name, or -1: the file is missing, unreadable or not a
// regular file (a FIFO or device is never opened for reading, so this never hangs).
// Opening is retried up to ten times, sleeping `retry` between attempts, while it fails
// for a transient reason (EAGAIN, EBUSY, EINTR, ETXTBSY: the analogue of a sharing
// violation); any other failure returns -1 at once. With error, the errno of the last
// failure (0 on success). Thread-safe.
FileOffset queryFileSize(const std::string& path,
                         std::chrono::milliseconds retry = std::chrono::milliseconds(100),
                         const quill::FileCalls& calls = quill::FileCalls::system(),
                         int* error = nullptr);

class FileWatcher {
  public:
    // The document is not owned and must outlive the thread.
    explicit FileWatcher(LogDocument& document, WatchTiming timing = {});
    // Stops the thread if it still runs.
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // Before Start: the path (in the file system's narrow encoding), and optionally the
    // state and size the previous watcher ended with. With a handed-over size the watcher
    // neither waits for the file nor re-reads the size; with a handed-over state it does
    // not re-read the state at its start.
    void setPath(const std::string& path) { m_path = path; }
    void setFileState(const FileState& state);
    void setSize(FileOffset size);
    // The document found the file missing and has indexed nothing: whenever the file is
    // found, it is re-opened (the reload message), never followed from the size first seen.
    void setStartsMissing() { m_startsMissing = true; }
    // The document was told already that the file cannot be read for this reason.
    void setReadError(int error) { m_readError = error; }
    // The file reports size 0 but held text when it was indexed (/proc files): it is shown
    // as read, and a reported size of 0 is not taken for a truncation.
    void setSizeless() { m_sizeless = true; }

    // Sets up change events (a failure is traced at level 1 and leaves the poll timer to
    // do the work) and starts the thread; false when the thread could not be created.
    bool start();
    // Sets the stop event and waits without time-out until the thread has ended. Returns
    // at once when the thread has already ended or was never started. The caller must not
    // hold "docAccess" (the thread may be waiting for it).
    void stop();

    // After Stop: what the next watcher starts from.
    const FileState& fileState() const { return m_fileState; }
    FileOffset size() const { return m_size; }
    // True once the thread has finished its work (ExitedEvent).
    bool hasExited() const { return m_exitedEvent.isSet(); }
    // Whether change events wake the thread (after Start).
    bool hasChangeEvents() const { return m_notifier.active(); }

  private:
    enum class PollOutcome {
        Unchanged, // nothing to do, or nothing that could be done this time
        Appended,  // the index was extended (or a change of time announced)
        Reload,    // the reload message was posted: the watch ends
        Failed,    // the file's bytes could not be read: Poll says why, and tries again
    };

    void watchLoop();
    // Waits for a change event, the safety poller's kick, the stop event or the time; true
    // when stop was asked.
    bool waitForChange(std::chrono::milliseconds timeout, bool& changed);
    // The safety poller found the file's state changed: the wait ends. Any thread.
    void kick();
    PollOutcome poll(bool& missing);
    PollOutcome requestReload();
    // The file cannot be read for this reason: the document hears of it when the reason
    // changes; the watch goes on (Unchanged).
    PollOutcome cannotRead(int error);
    // The file could be opened: a reason given before is withdrawn.
    void canRead();
    const quill::FileCalls& calls() const;
    // Checks the bytes before m_size, then reads [m_size, newSize) and hands it to the
    // document.
    PollOutcome readAppended(const quill::ReadOnlyFile& file, FileOffset newSize,
                             const FileState& current);

    ManualResetEvent m_stopEvent;
    // Without change events the safety poller's kick ends the wait through these.
    std::mutex m_kickMutex;
    std::condition_variable m_kickCond;
    bool m_kicked = false;
    bool m_stopping = false;
    std::uint64_t m_pollerId = 0; // this watcher's entry in the safety poller, 0: none
    NameState m_seen;             // what the last poll's stat found
    ManualResetEvent m_exitedEvent;
    std::string m_path;
    bool m_haveFileState = false;
    FileState m_fileState;
    bool m_haveSize = false;
    bool m_startsMissing = false;
    bool m_sizeless = false;
    FileOffset m_size = 0;
    FileOffset m_lastRead = 0; // bytes the last poll handed over
    int m_readError = 0;       // why the file cannot be read, as the document was told
    int m_readFailure = 0;     // the errno of the last failed read of appended bytes
    LogDocument& m_document;
    WatchTiming m_timing;
    quill::FileChangeNotifier m_notifier;
    std::optional<quill::AlignedBuffer> m_buffer; // the watcher thread's read buffer
    std::thread m_thread;
};
