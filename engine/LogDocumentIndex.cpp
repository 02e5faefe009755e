// The document's line index: the first indexing of a file (read ahead on a helper thread,
// stopped early when asked or when memory runs short), the watcher's appends, the listeners
// told of each appended piece, and starting and stopping the watcher.

#include "engine/LogDocument.h"

#include "diagnostics/TraceLog.h"
#include "engine/DocumentHost.h"
#include "engine/FileWatcher.h"
#include "engine/LineIndexPieces.h"
#include "engine/LogSource.h"
#include "engine/SequentialReader.h"
#include "platform/AvailableMemory.h"
#include "platform/NarrowCodec.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>

namespace {

// Reads into an aligned buffer that stays in the cache while it is scanned; large files
// are read ahead on a helper thread (SequentialReader).
constexpr std::size_t IndexReadSize = std::size_t{256} << 10;
// The memory figure is read again after the index has grown by at least this much.
constexpr std::size_t BoundStepBytes = std::size_t{1} << 20;

} // namespace

void LogDocument::restartIndex()
{
    m_index.reset();
    m_openEncoding = m_chosenEncoding;
    if (m_openEncoding == quill::TextEncoding::Automatic) {
        return;
    }
    // A byte-order mark of the chosen encoding is not text.
    std::size_t markBytes = 0;
    const bool utf8 =
        m_openEncoding == quill::TextEncoding::Utf8 ||
        (m_openEncoding == quill::TextEncoding::Locale && quill::narrowCharset().isUtf8);
    if (quill::isUtf16(m_openEncoding) || utf8) {
        quill::ReadOnlyFile head = openFile();
        std::uint8_t mark[3] = {0, 0, 0};
        const std::int64_t got = head.isOpen() ? head.readAt(mark, 3, 0) : 0;
        if (m_openEncoding == quill::TextEncoding::Utf16Le) {
            markBytes = got >= 2 && mark[0] == 0xFF && mark[1] == 0xFE ? 2 : 0;
        } else if (m_openEncoding == quill::TextEncoding::Utf16Be) {
            markBytes = got >= 2 && mark[0] == 0xFE && mark[1] == 0xFF ? 2 : 0;
        } else {
            markBytes = got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF ? 3 : 0;
        }
    }
    m_index.chooseEncoding(quill::isUtf16(m_openEncoding),
                           m_openEncoding == quill::TextEncoding::Utf16Be, markBytes);
}

bool LogDocument::indexingStopRequested()
{
    m_indexingStopped = m_indexingStop && m_indexingStop();
    return m_indexingStopped;
}

bool LogDocument::indexFile(const quill::ReadOnlyFile& file)
{
    m_indexingStopped = false;
    const FileOffset fileSize = file.size();
    bool readAhead = true;
    if (m_indexThreads > 1 && fileSize - m_index.end() > FileOffset(4 * m_indexPieceBytes)) {
        // The encoding is decided from the first bytes before the rest is cut into pieces
        // (a provisional decision may still index those bytes again).
        {
            quill::AlignedBuffer buffer(IndexReadSize);
            while (buffer.valid() && !m_index.acceptsLineStarts() && !m_index.overflowed()) {
                if (indexingStopRequested()) {
                    return false;
                }
                const std::int64_t got = file.readAt(buffer.data(), buffer.size(), m_index.end());
                if (got <= 0) {
                    return got == 0 && !m_index.overflowed();
                }
                updateIndexBound();
                m_index.append(buffer.data(), std::size_t(got));
            }
        }
        if (indexInPieces(m_index, file, fileSize, m_indexPieceBytes, [this] {
                updateIndexBound();
                return indexingStopRequested();
            }) == PiecesOutcome::Stopped) {
            return false;
        }
        if (m_index.overflowed()) {
            return false;
        }
        // What is left is less than a piece (or the file changed): no read-ahead buffers.
        readAhead = false;
    }
    FileOffset offset = m_index.end();
    if (readAhead && file.size() - offset > FileOffset(4 * SequentialReader::PieceSize)) {
        SequentialReader reader(file, offset);
        if (reader.valid()) {
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            while (reader.next(data, size)) {
                if (indexingStopRequested()) {
                    return false;
                }
                updateIndexBound();
                m_index.append(data, size);
                if (m_index.overflowed()) {
                    return false;
                }
            }
            return !reader.failed();
        }
    }
    quill::AlignedBuffer buffer(IndexReadSize);
    if (!buffer.valid()) {
        return false;
    }
    for (;;) {
        if (indexingStopRequested()) {
            return false;
        }
        const std::int64_t got = file.readAt(buffer.data(), buffer.size(), offset);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return !m_index.overflowed();
        }
        updateIndexBound();
        m_index.append(buffer.data(), std::size_t(got));
        if (m_index.overflowed()) {
            return false;
        }
        offset += got;
    }
}

void LogDocument::updateIndexBound()
{
    const std::size_t held = m_index.memoryBytes();
    if (held < m_nextBoundCheck) {
        return;
    }
    const std::uint64_t available =
        m_availableMemory ? m_availableMemory() : quill::availableMemoryBytes();
    // Half of what the index could have if it held nothing: the index's own growth lowers
    // the figure as much as it raises what it holds, so the bound stays where it was set
    // unless other memory comes or goes.
    const std::uint64_t bound =
        available == quill::UnknownMemory ? quill::UnknownMemory : available / 2 + held / 2;
    const auto limit = std::size_t(std::min<std::uint64_t>(bound, ~std::size_t(0)));
    m_index.setMemoryLimit(limit);
    m_nextBoundCheck = held + std::max(BoundStepBytes, (limit > held ? limit - held : 0) / 8);
}

void LogDocument::noteIndexStop()
{
    if (!m_index.overflowed() || m_indexStop.limit != IndexStop::Limit::None) {
        return;
    }
    static std::atomic<std::uint64_t> serials{0};
    const bool memory = m_index.memoryFull();
    m_indexStop.limit = memory ? IndexStop::Limit::Memory : IndexStop::Limit::LineNumbers;
    m_indexStop.lines = m_index.lineCount();
    m_indexStop.bound = memory ? m_index.memoryLimit() : 0;
    m_indexStop.serial = ++serials;
    TraceLog::instance().line(
        TraceLog::LevelInfo, "Indexing stopped at ", std::uint32_t(m_indexStop.lines), " lines, ",
        std::int64_t(m_index.end()),
        " bytes: ", memory ? "the line index reached its memory bound of " : "no line numbers left",
        memory ? std::to_string(m_indexStop.bound) : std::string());
    if (m_source) {
        m_source->stopInput();
    }
}

LogDocument::IndexStop LogDocument::indexStopped() const
{
    std::lock_guard lock(m_docAccess);
    return m_indexStop;
}

void LogDocument::handOverIndexedEnd(const quill::ReadOnlyFile& file)
{
    quill::FileStat st;
    if (!quill::statOpenFile(file, st)) {
        return;
    }
    std::lock_guard lock(m_docAccess);
    // The state's size is the indexed end: a file that grew while it was being indexed
    // differs from it, so the first poll reads the rest.
    const FileOffset end = m_index.end();
    m_fileState = FileState{st.mtimeNs, st.ctimeNs, st.birthNs, end, st.device, st.inode};
    // The bytes before the end, for the watcher to see that the file is still the one
    // indexed.
    std::array<std::uint8_t, FileState::TailBytes> tail{};
    const std::size_t want = std::size_t(std::min<FileOffset>(end, FileState::TailBytes));
    const std::int64_t got = file.readAt(tail.data(), want, end - FileOffset(want));
    if (got > 0) {
        m_fileState.pushTail(tail.data(), std::size_t(got));
    }
    std::array<std::uint8_t, FileState::HeadBytes> head{};
    const std::int64_t gotHead =
        file.readAt(head.data(), std::size_t(std::min<FileOffset>(end, FileState::HeadBytes)), 0);
    if (gotHead > 0) {
        m_fileState.pushHead(0, head.data(), std::size_t(gotHead));
    }
    m_haveFileState = true;
    m_savedSize = end;
    m_haveSavedSize = true;
}

void LogDocument::reindexFromEnd()
{
    quill::ReadOnlyFile file = openFile();
    if (!file.isOpen()) {
        return;
    }
    {
        std::lock_guard lock(m_docAccess);
        indexFile(file);
        noteIndexStop();
    }
    handOverIndexedEnd(file);
    m_openedMissing = false;
}

void LogDocument::appendText(const std::uint8_t* bytes, std::size_t n, bool post)
{
    {
        std::lock_guard lock(m_docAccess);
        const LineNumber oldCount = m_index.lineCount();
        const FileOffset oldEnd = m_index.end();
        updateIndexBound();
        const LineIndex::AppendOutcome outcome = m_index.append(bytes, n);
        noteIndexStop();
        if (outcome == LineIndex::AppendOutcome::Reindexed) {
            // The first bytes changed their minds about the encoding: nothing decoded so
            // far still holds, and readers of the old lines start over.
            ++m_indexEpoch;
            // The decoded rows themselves are left alone: this runs on the watcher thread
            // while the view may be drawing them outside the lock. An empty window is
            // enough for the next use to decode afresh.
            m_windowFirst = 0;
            m_windowEnd = 0;
            m_longestLength = 0;
            ++m_textGeneration;
            m_tail = OpenTail();
        } else if (oldCount > 0 && m_windowEnd == oldCount && m_windowEnd > m_windowFirst &&
                   m_index.lineStart(oldCount) != oldEnd) {
            // The last line grew (its open end, or the second byte of its line feed). Its
            // next use decodes what was appended, or, without a resume point, all of it.
            if (m_tail.valid && m_tail.line == oldCount - 1) {
                m_tail.stale = true;
            } else {
                // Narrowed, not cleared: the view may be drawing the old text right now.
                --m_windowEnd;
                if (m_longestSlot == m_windowEnd - m_windowFirst) {
                    m_longestLength = 0;
                }
            }
        }
    }
    if (post) {
        postFileAppended();
    }
}

void LogDocument::addAppendListener(AppendListener* listener)
{
    std::lock_guard lock(m_listenerMutex);
    m_appendListeners.push_back(listener);
}

void LogDocument::removeAppendListener(AppendListener* listener)
{
    std::lock_guard lock(m_listenerMutex);
    std::erase(m_appendListeners, listener);
}

void LogDocument::tellIndexRestarted()
{
    std::lock_guard lock(m_listenerMutex);
    for (AppendListener* listener : m_appendListeners) {
        listener->indexRestarted();
    }
}

void LogDocument::tellAppendListener(FileOffset offset, const std::uint8_t* bytes, std::size_t n)
{
    std::lock_guard lock(m_listenerMutex);
    for (AppendListener* listener : m_appendListeners) {
        listener->textAppended(offset, bytes, n);
    }
}

void LogDocument::postFileAppended()
{
    if (m_host) {
        m_host->postFileAppended();
    }
}

void LogDocument::postFileReload()
{
    if (m_host) {
        m_host->postFileReload();
    }
}

void LogDocument::postFileUnreadable(int error)
{
    if (m_host) {
        m_host->postFileUnreadable(error);
    }
}

void LogDocument::startWatching(int readError)
{
    if (m_source && !m_source->follows() && m_sourceShown) {
        // A complete decompressed copy does not grow; a reload of it is shown as read.
        return;
    }
    // A running watcher is stopped first, so that the next one resumes exactly where it
    // left off (its size and file state), not from what was handed over before it ran.
    stopWatching();
    m_watcher.reset();
    if (m_reindexPending) {
        reindexFromEnd();
        m_reindexPending = false;
    }
    if (m_path.empty()) {
        return;
    }
    auto watcher = std::make_unique<FileWatcher>(*this, m_watchTiming);
    if (m_haveFileState) {
        watcher->setFileState(m_fileState);
    }
    if (m_haveSavedSize) {
        watcher->setSize(m_savedSize);
    }
    if (m_openedMissing) {
        watcher->setStartsMissing();
    }
    if (m_sizeless) {
        watcher->setSizeless();
    }
    watcher->setPath(m_nativePath);
    // Before the thread runs: its first poll may find the file readable and withdraw it.
    watcher->setReadError(readError);
    setReadError(readError);
    if (!watcher->start()) {
        setReadError(0);
        return;
    }
    m_watcher = std::move(watcher);
    m_watching = true;
}

void LogDocument::stopWatching()
{
    if (m_watching && m_watcher) {
        m_watcher->stop();
        // A watcher that never saw the file (or saw it but did not re-open it yet) hands
        // nothing over: the next one must wait for the file again and have it re-opened,
        // instead of ending at once or following from a size nothing was indexed up to.
        if (m_watcher->size() >= 0 && !m_openedMissing) {
            m_fileState = m_watcher->fileState();
            m_haveFileState = true;
            m_savedSize = m_watcher->size();
            m_haveSavedSize = true;
        } else {
            m_haveFileState = false;
            m_haveSavedSize = false;
        }
        m_watcher.reset();
    }
    m_watching = false;
    // Nobody reads the file now, so nobody knows.
    setReadError(0);
}

bool LogDocument::hasChangeEvents() const
{
    return m_watching && m_watcher && m_watcher->hasChangeEvents();
}

LineNumber LogDocument::lineCount() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.lineCount();
}

quill::TextEncoding LogDocument::encodingForm() const
{
    std::lock_guard lock(m_docAccess);
    if (m_openEncoding != quill::TextEncoding::Automatic) {
        return m_openEncoding;
    }
    if (m_index.isUtf16()) {
        return m_index.isBigEndian() ? quill::TextEncoding::Utf16Be : quill::TextEncoding::Utf16Le;
    }
    // A UTF-8 byte-order mark says what the text is, whatever the locale's set.
    return m_index.markBytes() == 3 ? quill::TextEncoding::Utf8 : quill::TextEncoding::Locale;
}

bool LogDocument::isUtf16() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.isUtf16();
}

bool LogDocument::lastLineOpen() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.lastLineOpen();
}

FileOffset LogDocument::indexedEnd() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.end();
}

FileOffset LogDocument::lineStart(LineNumber index) const
{
    std::lock_guard lock(m_docAccess);
    return m_index.lineStart(index);
}

std::size_t LogDocument::indexMemoryBytes() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.memoryBytes();
}

std::uint64_t LogDocument::indexEpoch() const
{
    std::lock_guard lock(m_docAccess);
    return m_indexEpoch;
}

bool LogDocument::isEncodingDecided() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.encodingFinal();
}
