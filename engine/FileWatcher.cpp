#include "engine/FileWatcher.h"

#include "engine/DocumentHost.h"
#include "engine/LogDocument.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

// Appended bytes are handed to the document in pieces of this size, so that a large
// growth (a long pause) neither needs one huge buffer nor holds the lock for long.
constexpr std::size_t AppendPieceSize = 4 * 1024 * 1024;

bool isTransientOpenError(int error)
{
    return error == EAGAIN || error == EBUSY || error == EINTR || error == ETXTBSY;
}

} // namespace

void ManualResetEvent::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_set = true;
    }
    m_cond.notify_all();
}

bool ManualResetEvent::IsSet() const
{
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool ManualResetEvent::WaitFor(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_cond.wait_for(lock, timeout, [this] { return m_set; });
}

void ManualResetEvent::Wait() const
{
    std::unique_lock lock(m_mutex);
    m_cond.wait(lock, [this] { return m_set; });
}

FileOffset QueryFileSize(const std::string& path, std::chrono::milliseconds retry)
{
    for (int attempt = 1; attempt <= 10; ++attempt) {
        const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(path);
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

CFileReaderThread::CFileReaderThread(CBrackenlyDoc& document, WatchTiming timing)
    : m_document(document), m_timing(timing)
{
}

CFileReaderThread::~CFileReaderThread()
{
    Stop();
}

void CFileReaderThread::SetFileState(const FileState& state)
{
    m_fileState = state;
    m_haveFileState = true;
}

void CFileReaderThread::SetSize(FileOffset size)
{
    m_size = size;
    m_haveSize = true;
}

bool CFileReaderThread::Start()
{
    try {
        m_thread = std::thread([this] {
            WatchLoop();
            m_exitedEvent.Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CFileReaderThread::Stop()
{
    m_stopEvent.Set();
    if (m_thread.joinable()) {
        m_exitedEvent.Wait();
        m_thread.join();
    }
}

void CFileReaderThread::WatchLoop()
{
    bool missing = m_startsMissing;
    if (!m_haveSize) {
        m_size = -1;
        while (!m_stopEvent.IsSet()) {
            m_size = QueryFileSize(m_path, m_timing.sizeRetry);
            if (m_size != -1) {
                break;
            }
            if (m_stopEvent.WaitFor(m_timing.missingRetry)) {
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
        m_fileState = FileState{st.mtimeNs, st.size, st.device, st.inode};
        m_haveFileState = true;
    }
    while (!m_stopEvent.WaitFor(m_timing.poll)) {
        if (!Poll(missing)) {
            return;
        }
    }
}

bool CFileReaderThread::Poll(bool& missing)
{
    quill::FileStat st;
    if (!quill::statByName(m_path, st)) {
        // Deleted, renamed away (rotation) or out of reach.
        m_size = 0;
        m_document.PostToMainWindow(WM_FILE_RELOAD, 0, 0);
        return false;
    }
    const FileState current{st.mtimeNs, st.size, st.device, st.inode};
    if (!missing && (current.device != m_fileState.device || current.inode != m_fileState.inode)) {
        // Another file under the same name, however long: its bytes are not a
        // continuation of what the index holds.
        m_size = 0;
        m_document.PostToMainWindow(WM_FILE_RELOAD, 0, 0);
        return false;
    }
    const bool changed =
        missing || m_fileState.mtimeNs < current.mtimeNs || m_fileState.size != current.size;
    if (!changed) {
        return true;
    }
    const FileOffset newSize = QueryFileSize(m_path, m_timing.sizeRetry);
    if (newSize == -1) {
        return true;
    }
    quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_path);
    if (!file.isOpen()) {
        // missing stays set until the file really opens, so that the document indexes it
        // from its start instead of from the first size seen.
        return true;
    }
    if (missing || newSize < m_size) {
        m_size = 0;
        file.close();
        m_document.PostToMainWindow(WM_FILE_RELOAD, 0, 0);
        return false;
    }
    if (!ReadAppended(file, newSize, current)) {
        return false;
    }
    missing = false;
    return true;
}

bool CFileReaderThread::ReadAppended(const quill::ReadOnlyFile& file, FileOffset newSize,
                                     const FileState& current)
{
    const FileOffset total = newSize - m_size;
    quill::AlignedBuffer buffer(std::size_t(
        std::min<FileOffset>(std::max<FileOffset>(total, 1), FileOffset(AppendPieceSize))));
    if (!buffer.valid()) {
        return true; // no buffer this time: the next poll tries again
    }
    FileOffset offset = m_size;
    bool posted = false;
    bool ok = true;
    while (offset < newSize) {
        const std::size_t want =
            std::size_t(std::min<FileOffset>(newSize - offset, FileOffset(buffer.size())));
        const std::int64_t got = file.readAt(buffer.data(), want, offset);
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) {
            break; // shrank under us; the next poll sees it
        }
        const bool last = offset + got >= newSize || std::size_t(got) < want;
        {
            std::lock_guard lock(m_document.docAccess());
            m_document.AppendText(buffer.data(), std::size_t(got), last);
            if (last) {
                m_document.SetFileSize(newSize);
            }
        }
        posted = posted || last;
        offset += got;
        if (std::size_t(got) < want) {
            break;
        }
    }
    if (ok && !posted) {
        // A change of time only, or nothing could be read: the views still hear of it.
        std::lock_guard lock(m_document.docAccess());
        m_document.AppendText(nullptr, 0, true);
        m_document.SetFileSize(newSize);
    }
    // Everything handed over counts even after a read error, so nothing is read twice.
    m_size = offset;
    // The reference size is what was consumed: any byte beyond it is a change next time.
    m_fileState = FileState{current.mtimeNs, offset, current.device, current.inode};
    return ok;
}
