#include "engine/FileWatcher.h"

#include "diagnostics/TraceLog.h"
#include "engine/DocumentHost.h"
#include "engine/LogDocument.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

namespace {

// Appended bytes are read and handed to the document in pieces of this size: a large
// growth (a long pause) neither needs a huge buffer nor holds the lock for long, and each
// piece is still in the cache when it is indexed. The buffer lives as long as the watcher,
// so a fast writer's polls do not fault in fresh pages every time.
constexpr std::size_t AppendPieceSize = std::size_t{256} << 10;

bool isTransientOpenError(int error)
{
    return error == EAGAIN || error == EBUSY || error == EINTR || error == ETXTBSY;
}

} // namespace

void ManualResetEvent::set()
{
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_cond.notify_all();
}

bool ManualResetEvent::isSet() const
{
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool ManualResetEvent::waitFor(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_cond.wait_for(lock, timeout, [this] { return m_set; });
}

void ManualResetEvent::wait() const
{
    std::unique_lock lock(m_mutex);
    m_cond.wait(lock, [this] { return m_set; });
}

FileOffset queryFileSize(const std::string& path, std::chrono::milliseconds retry,
                         const quill::FileCalls& calls, int* error)
{
    for (int attempt = 1; attempt <= 10; ++attempt) {
        const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(path, calls);
        if (error != nullptr) {
            *error = file.error();
        }
        if (file.isOpen()) {
            return file.size();
        }
        if (!isTransientOpenError(file.error())) {
            return -1;
        }
        std::this_thread::sleep_for(retry);
    }
    return -1;
}

FileWatcher::FileWatcher(LogDocument& document, WatchTiming timing)
    : m_document(document), m_timing(timing)
{
}

FileWatcher::~FileWatcher()
{
    stop();
}

void FileWatcher::setFileState(const FileState& state)
{
    m_fileState = state;
    m_haveFileState = true;
}

void FileWatcher::setSize(FileOffset size)
{
    m_size = size;
    m_haveSize = true;
}

bool FileWatcher::start()
{
    if (m_timing.changeEvents && !m_path.empty()) {
        const quill::NotifierCalls& calls =
            m_timing.notifierCalls ? *m_timing.notifierCalls : quill::NotifierCalls::system();
        if (!m_notifier.watch(m_path, calls)) {
            const int error = m_notifier.error();
            TraceLog::instance().line(TraceLog::LevelError, "No change events for ",
                                      std::string_view(m_path), ": ", std::strerror(error), " (",
                                      std::int64_t(error), "); polling every ",
                                      std::int64_t(m_timing.poll.count()), " ms");
        }
    }
    try {
        m_thread = std::thread([this] {
            quill::nameThisThread("quill-watch");
            watchLoop();
            m_exitedEvent.set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void FileWatcher::stop()
{
    m_stopEvent.set();
    {
        std::lock_guard lock(m_kickMutex);
        m_stopping = true;
    }
    m_kickCond.notify_all();
    m_notifier.wake();
    if (m_thread.joinable()) {
        m_exitedEvent.wait();
        m_thread.join();
    }
}

void FileWatcher::kick()
{
    if (m_notifier.active()) {
        m_notifier.wake();
        return;
    }
    {
        std::lock_guard lock(m_kickMutex);
        m_kicked = true;
    }
    m_kickCond.notify_all();
}

bool FileWatcher::waitForChange(std::chrono::milliseconds timeout, bool& changed)
{
    changed = false;
    if (!m_notifier.active()) {
        std::unique_lock lock(m_kickMutex);
        m_kickCond.wait_for(lock, timeout, [this] { return m_kicked || m_stopping; });
        m_kicked = false;
        return m_stopping;
    }
    if (m_stopEvent.isSet()) {
        return true;
    }
    const auto wake = m_notifier.wait(timeout);
    changed = wake == quill::FileChangeNotifier::Wake::Changed;
    if (wake == quill::FileChangeNotifier::Wake::Woken) {
        // A kick: forgotten once seen. A stop sets its event before it wakes, so it is
        // seen below even when its wake was the one taken.
        m_notifier.takeWake();
    }
    return m_stopEvent.isSet();
}

void FileWatcher::watchLoop()
{
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    bool missing = m_startsMissing;
    bool changed = false;
    if (!m_haveSize) {
        m_size = -1;
        while (!m_stopEvent.isSet()) {
            int error = 0;
            m_size = queryFileSize(m_path, m_timing.sizeRetry, calls(), &error);
            if (m_size != -1) {
                break;
            }
            if (error != ENOENT) {
                cannotRead(error); // there, but not a file that can be read
            }
            if (waitForChange(m_timing.missingRetry, changed)) {
                break;
            }
            missing = true;
        }
    }
    if (m_size == -1) {
        return;
    }
    if (!m_haveFileState) {
        quill::FileStat st;
        if (!quill::statByName(m_path, st)) {
            return;
        }
        m_fileState = FileState{st.mtimeNs, st.ctimeNs, st.birthNs, st.size, st.device, st.inode};
        m_haveFileState = true;
    }

    // The safety poll is the shared poller's from here on; the name's state now is what
    // the first poll, at once, deals with.
    struct Registration {
        SafetyPoller& poller;
        std::uint64_t id;
        ~Registration()
        {
            if (id != 0) {
                poller.remove(id);
            }
        }
    } registration{SafetyPoller::shared(),
                   SafetyPoller::shared().add(m_path, m_timing.poll, m_notifier.active(),
                                              SafetyPoller::probeName(m_path), [this] { kick(); })};
    m_pollerId = registration.id;
    // Kicked, the watcher polls; its own timer is only a fallback without the poller.
    const auto ownTimer =
        m_pollerId != 0 ? std::chrono::milliseconds(std::chrono::hours(1)) : m_timing.poll;

    // The first poll at once: the file may have changed since the state was taken (while
    // it was indexed, paused, or missing).
    auto lastPoll = Clock::now();
    // Polls are paced like a token bucket (the generic cell rate algorithm): `due` moves
    // on by busyGap with every poll, and a poll may run at most eventBurst - 1 gaps ahead
    // of it.
    const auto burstAhead = m_timing.busyGap * std::max(0, m_timing.eventBurst - 1);
    auto due = lastPoll + m_timing.busyGap;
    for (PollOutcome outcome = poll(missing);
         outcome == PollOutcome::Unchanged || outcome == PollOutcome::Appended;
         outcome = poll(missing)) {
        if (m_pollerId != 0) {
            registration.poller.seen(m_pollerId, m_seen, missing || m_readError != 0);
        }
        const auto timer = lastPoll + ownTimer;
        auto earliest = std::max(lastPoll + m_timing.eventGap, due - burstAhead);
        if (m_lastRead >= m_timing.floodBytes) {
            earliest = std::max(earliest, lastPoll + m_timing.floodGap);
        }
        changed = false;
        if (m_notifier.active() && earliest - Clock::now() > m_timing.eventGap) {
            // Out of burst: nothing would be polled before `earliest`, so sleep until then
            // and look at the events once, instead of waking for each of them.
            if (m_stopEvent.waitFor(std::chrono::ceil<milliseconds>(earliest - Clock::now()))) {
                return;
            }
            changed = m_notifier.drain();
        }
        if (!changed) {
            if (waitForChange(std::chrono::ceil<milliseconds>(timer - Clock::now()), changed)) {
                return;
            }
            const auto now = Clock::now();
            if (changed && now < earliest) {
                // Let the rest of a burst of events gather into one poll.
                if (m_stopEvent.waitFor(std::chrono::ceil<milliseconds>(earliest - now))) {
                    return;
                }
                m_notifier.drain();
            }
        }
        lastPoll = Clock::now();
        due = std::max(due, lastPoll) + m_timing.busyGap;
    }
}

FileWatcher::PollOutcome FileWatcher::requestReload()
{
    // The size stays the indexed end: a watcher that is stopped and started again before
    // the re-open sees the same change and asks again, instead of re-reading from 0.
    m_document.postFileReload();
    return PollOutcome::Reload;
}

const quill::FileCalls& FileWatcher::calls() const
{
    return m_timing.fileCalls != nullptr ? *m_timing.fileCalls : quill::FileCalls::system();
}

FileWatcher::PollOutcome FileWatcher::cannotRead(int error)
{
    if (error != m_readError) {
        m_readError = error;
        m_document.setReadError(error);
        m_document.postFileUnreadable(error);
    }
    return PollOutcome::Unchanged;
}

void FileWatcher::canRead()
{
    if (m_readError != 0) {
        m_readError = 0;
        m_document.setReadError(0);
        m_document.postFileUnreadable(0);
    }
}

FileWatcher::PollOutcome FileWatcher::poll(bool& missing)
{
    m_lastRead = 0;
    quill::FileStat st;
    const bool found = quill::statByName(m_path, st);
    m_seen = SafetyPoller::stateOf(found ? &st : nullptr, found ? 0 : errno);
    if (!found) {
        const int error = m_seen.error;
        if (error != ENOENT && error != ENOTDIR) {
            return cannotRead(error); // a folder on the way may not be searched
        }
        return requestReload(); // deleted, renamed away (rotation)
    }
    if (st.kind != quill::FileStat::Kind::Regular) {
        // A folder or a FIFO took the name: it is not opened (a FIFO's writer would see a
        // reader come and go), and what comes back will be another file, which only the
        // folder tells of.
        m_notifier.watchFolder();
        return cannotRead(st.kind == quill::FileStat::Kind::Directory ? EISDIR : ENOTSUP);
    }
    const FileState current{st.mtimeNs, st.ctimeNs, st.birthNs, st.size, st.device, st.inode};
    if (!missing && (current.device != m_fileState.device || current.inode != m_fileState.inode ||
                     (current.birthNs != 0 && m_fileState.birthNs != 0 &&
                      current.birthNs != m_fileState.birthNs))) {
        // Another file under the same name, however long: its bytes are not a
        // continuation of what the index holds. It is reloaded once it can be read; till
        // then the lines read stay.
        int error = 0;
        if (queryFileSize(m_path, m_timing.sizeRetry, calls(), &error) == -1 && error != ENOENT) {
            return cannotRead(error);
        }
        return requestReload();
    }
    if (!missing && m_sizeless && current.size == 0) {
        return PollOutcome::Unchanged; // shown as read; its size says nothing
    }
    // The status change time moves with every write and truncation and cannot be set
    // back, so a truncation that restores the old modification time is still seen. A file
    // that could not be read is tried again whatever its times say (a policy may allow it
    // again without a change of its own).
    const bool changed = missing || m_readError != 0 || m_fileState.mtimeNs < current.mtimeNs ||
                         m_fileState.size != current.size || m_fileState.ctimeNs != current.ctimeNs;
    if (!changed) {
        return PollOutcome::Unchanged;
    }
    int error = 0;
    const FileOffset newSize = queryFileSize(m_path, m_timing.sizeRetry, calls(), &error);
    if (newSize == -1) {
        // Gone just now: the next poll reloads.
        return error == ENOENT ? PollOutcome::Unchanged : cannotRead(error);
    }
    quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_path, calls());
    if (!file.isOpen()) {
        // missing stays set until the file really opens, so that the document indexes it
        // from its start instead of from the first size seen.
        return file.error() == ENOENT ? PollOutcome::Unchanged : cannotRead(file.error());
    }
    canRead();
    if (missing || newSize < m_size) {
        file.close();
        return requestReload();
    }
    const FileOffset before = m_size;
    const PollOutcome outcome = readAppended(file, newSize, current);
    m_lastRead = m_size - before;
    if (outcome == PollOutcome::Appended) {
        missing = false;
    }
    if (outcome == PollOutcome::Failed) {
        // What was read stays handed over; the next poll reads on from there.
        return cannotRead(m_readFailure != 0 ? m_readFailure : EIO);
    }
    return outcome;
}

FileWatcher::PollOutcome FileWatcher::readAppended(const quill::ReadOnlyFile& file,
                                                   FileOffset newSize, const FileState& current)
{
    // The file's first bytes and the bytes just before the indexed end must still be those
    // indexed: a file truncated and written again, or deleted and re-created with the same
    // inode, differs in one of them even when it is as long or longer. The start is the
    // place a log written again differs most surely (a time stamp, a header), the end
    // catches a file rewritten behind a header of its own.
    if (m_fileState.headSize > 0) {
        std::array<std::uint8_t, FileState::HeadBytes> head{};
        const std::int64_t got = file.readAt(head.data(), m_fileState.headSize, 0);
        if (got < 0) {
            m_readFailure = errno; // says nothing of the file's bytes: tried again
            return PollOutcome::Failed;
        }
        if (got != std::int64_t(m_fileState.headSize) ||
            std::memcmp(head.data(), m_fileState.head.data(), m_fileState.headSize) != 0) {
            return requestReload();
        }
    }
    {
        // An index that stopped at its limit takes no more: the growth is not read (a file
        // replaced or shrunk is still seen above and reloaded).
        std::lock_guard lock(m_document.docAccess());
        if (m_document.m_index.overflowed()) {
            return PollOutcome::Unchanged;
        }
    }
    const std::size_t lead = std::min<std::size_t>(m_fileState.tailSize, std::size_t(m_size));
    if (!m_buffer || !m_buffer->valid()) {
        m_buffer.emplace(AppendPieceSize + FileState::TailBytes);
        if (!m_buffer->valid()) {
            return PollOutcome::Unchanged; // no buffer this time: the next poll tries again
        }
    }
    const quill::AlignedBuffer& buffer = *m_buffer;
    FileState state = m_fileState;
    FileOffset offset = m_size;
    bool posted = false;
    bool ok = true;
    std::size_t skip = lead;
    while (offset < newSize || skip > 0) {
        const std::size_t want =
            std::size_t(std::min<FileOffset>(newSize - offset, FileOffset(buffer.size() - skip)));
        const std::int64_t got = file.readAt(buffer.data(), want + skip, offset - FileOffset(skip));
        if (got < 0) {
            m_readFailure = errno;
            ok = false;
            break;
        }
        if (skip > 0) {
            if (std::size_t(got) < skip ||
                std::memcmp(buffer.data(), m_fileState.tail.data() + (m_fileState.tailSize - skip),
                            skip) != 0) {
                return requestReload();
            }
        }
        const std::size_t fresh = std::size_t(got) - skip;
        const std::uint8_t* bytes = buffer.data() + skip;
        skip = 0;
        if (fresh == 0) {
            break; // nothing to add (a change of time only), or it shrank under us
        }
        bool last = offset + FileOffset(fresh) >= newSize || fresh < want;
        // What the index took: all of it, unless it stopped at its limit on the way.
        std::size_t indexed = fresh;
        {
            std::lock_guard lock(m_document.docAccess());
            m_document.appendText(bytes, fresh, last);
            if (m_document.m_index.overflowed()) {
                indexed = std::size_t(std::clamp<FileOffset>(m_document.m_index.end() - offset, 0,
                                                             FileOffset(fresh)));
                if (!last) {
                    m_document.appendText(nullptr, 0, true);
                }
                last = true;
            }
            if (last) {
                m_document.setFileSize(newSize);
            }
        }
        if (indexed > 0) {
            m_document.tellAppendListener(offset, bytes, indexed);
        }
        state.pushTail(bytes, fresh);
        state.pushHead(offset, bytes, fresh);
        posted = posted || last;
        offset += FileOffset(fresh);
        if (fresh < want || indexed < fresh) {
            break;
        }
    }
    if (ok && !posted) {
        // A change of time only, or nothing could be read: the views still hear of it.
        std::lock_guard lock(m_document.docAccess());
        m_document.appendText(nullptr, 0, true);
        m_document.setFileSize(newSize);
    }
    // Everything handed over counts even after a read error, so nothing is read twice.
    m_size = offset;
    // The reference size is what was consumed: any byte beyond it is a change next time.
    state.mtimeNs = current.mtimeNs;
    state.ctimeNs = current.ctimeNs;
    state.birthNs = current.birthNs;
    state.size = offset;
    m_fileState = state;
    return ok ? PollOutcome::Appended : PollOutcome::Failed;
}
