#include "engine/LogDocument.h"

#include "diagnostics/TraceLog.h"
#include "engine/DocumentHost.h"
#include "engine/FileWatcher.h"
#include "engine/KeywordMatcher.h"
#include "engine/LineIndexPieces.h"
#include "engine/LineText.h"
#include "engine/LogSource.h"
#include "engine/LongLine.h"
#include "engine/SequentialReader.h"
#include "engine/SgrParser.h"
#include "platform/AvailableMemory.h"
#include "engine/ShownText.h"
#include "platform/FileName.h"
#include "platform/NarrowCodec.h"
#include "platform/ReadOnlyFile.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

namespace {

// Reads into an aligned buffer that stays in the cache while it is scanned; large files
// are read ahead on a helper thread (SequentialReader).
constexpr std::size_t IndexReadSize = std::size_t{256} << 10;
// The open error's description for a path that is not a regular file.
constexpr std::uint32_t StringNotRegularFile = 190;
constexpr std::uint32_t StringDecompressedCopy = 401;
// The memory figure is read again after the index has grown by at least this much.
constexpr std::size_t BoundStepBytes = std::size_t{1} << 20;
// A long line is shown from a part of three pieces of this many columns around the focus:
// the view's width fits in one piece, so a scroll within the line decodes anew only when
// it leaves the middle piece, and a window of long lines holds at most 96 KiB a line.
constexpr std::int64_t LongPieceColumns = std::int64_t{1} << 14;
// A copy or a search of a long line reads it in pieces of this many columns.
constexpr std::int64_t LongReadColumns = std::int64_t{1} << 20;
// Bytes read around a part: a character cut by its edges (4 bytes of UTF-8), the bytes of
// a terminator.
constexpr FileOffset LongPartMargin = 4;

std::u16string errorDescription(int errorNumber)
{
    char buffer[256] = {};
    // The GNU variant returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text ? quill::narrowToUtf16(text) : std::u16string();
}

} // namespace

LogDocument::LogDocument(DocumentHost* host) : LogDocument(host, SettingsStore::instance()) {}

LogDocument::LogDocument(DocumentHost* host, SettingsStore& settings)
    : m_host(host), m_settings(settings)
{
    ResetLines();
}

LogDocument::~LogDocument()
{
    StopWatching();
    m_source.reset();
    m_watcher.reset();
    m_keywords.clear();
    ResetLines();
}

bool LogDocument::OnNewDocument()
{
    // A new document shows no file: nothing of the old one may keep arriving or stay on
    // screen under a title without a path.
    StopWatching();
    SetModifiedFlag(false);
    m_path.clear();
    {
        // A copy running on another thread reads the path under the lock.
        std::lock_guard lock(m_docAccess);
        m_nativePath.clear();
    }
    ResetLines();
    {
        std::lock_guard lock(m_docAccess);
        RestartIndex();
    }
    m_haveFileState = false;
    m_haveSavedSize = false;
    m_reindexPending = false;
    TellIndexRestarted();
    // The status bar and the tab stop naming the file that is gone.
    if (m_host) {
        m_host->SetFilePathText(ShownName());
    }
    return true;
}

void LogDocument::OnCloseDocument()
{
    StopWatching();
    DropSource();
}

bool LogDocument::OpenSource(std::unique_ptr<LogSource> source)
{
    DropSource();
    m_source = std::move(source);
    m_sourceShown = false;
    if (!m_source) {
        return false;
    }
    // A decompressed copy is followed like any growing file while it is written, so its
    // first lines show long before the archive is through; PollSource ends that.
    m_sourceShown = m_source->Follows();
    const bool opened = OnOpenDocument(quill::fileNameToUtf16(m_source->SpoolPath()));
    SetTitle();
    return opened;
}

void LogDocument::DropSource()
{
    if (m_source) {
        StopWatching();
        m_source.reset();
    }
}

bool LogDocument::PollSource()
{
    if (!m_source || m_sourceShown) {
        return false;
    }
    const SourceStatus status = m_source->Status();
    if (status.phase == SourceStatus::Phase::Running) {
        return false;
    }
    // Whatever was decompressed is shown, also of a damaged or cancelled archive, and also
    // when following was paused: once complete the copy cannot be resumed any more.
    if (!m_watching) {
        StartWatching();
    }
    // The watcher reads the rest; an index that stopped or a spool that cannot be read
    // takes no more.
    if (m_watching && IndexedEnd() < FileOffset(status.spooled) &&
        IndexStopped().limit == IndexStop::Limit::None && ReadError() == 0) {
        return false;
    }
    m_sourceShown = true;
    StopWatching();
    SetTitle();
    return true;
}

bool LogDocument::CanFollow() const
{
    return !m_path.empty() && (!m_source || m_source->Follows() || !m_sourceShown);
}

std::u16string LogDocument::ShownName() const
{
    if (!m_source) {
        return m_path;
    }
    if (m_source->Kind() == SourceKind::Decompressed && m_host) {
        // String 401: "%1 (decompressed copy)".
        std::u16string text = m_host->LoadResourceString(StringDecompressedCopy);
        const std::size_t at = text.find(u"%1");
        if (at != std::u16string::npos) {
            text.replace(at, 2, m_source->DisplayName());
            return text;
        }
    }
    return m_source->DisplayName();
}

void LogDocument::ResetLines()
{
    std::lock_guard lock(m_docAccess);
    SetFileSize(0);
    m_longestLength = 0;
    m_longestSlot = 0;
    ++m_textGeneration;
    m_tail = OpenTail();
    m_windowFirst = 0;
    m_windowEnd = 0;
    m_selection = DocSelection();
    m_findPos = FindPosition();
    m_marks.Clear();
    ++m_contentGeneration;
    m_watching = false;
    // The index restarts at its old end (what ClearText needs); opening restarts it at 0.
    m_index.restartAtEnd();
    // Its bound is taken afresh: memory may have been freed since it stopped.
    m_nextBoundCheck = 0;
    m_indexStop = IndexStop();
    ++m_indexEpoch;
    m_lineCache.assign(WindowLines + 1, std::u16string());
    m_lineRuns.clear();
    m_longParts.clear();
    m_wrapParts.clear();
}

bool LogDocument::OnOpenDocument(const std::u16string& path)
{
    StopWatching();
    ReloadKeywords();
    // Read before the first line is decoded: every text of this file is shown one way.
    m_terminalColors.store(m_settings.GetBool(Setting::TerminalColors), std::memory_order_relaxed);
    m_showControls.store(m_settings.GetBool(Setting::ShowControlCharacters),
                         std::memory_order_relaxed);
    SetModifiedFlag(false);
    m_path = path;
    {
        std::lock_guard lock(m_docAccess);
        m_nativePath = quill::fileNameToBytes(path);
    }
    ResetLines();
    // Whichever way the open ends, readers of the old lines hear of it once the new ones
    // are indexed: a reload that finds the new file already written is followed by no
    // append.
    struct TellOnReturn {
        LogDocument& doc;
        ~TellOnReturn() { doc.TellIndexRestarted(); }
    } tellOnReturn{*this};
    {
        std::lock_guard lock(m_docAccess);
        RestartIndex();
    }
    m_haveFileState = false;
    m_haveSavedSize = false;
    m_reindexPending = false;
    m_openedMissing = false;
    m_sizeless = false;
    m_openStopped = false;

    bool accept = m_settings.GetBool(Setting::ShowEmptyFiles);
    quill::ReadOnlyFile file = OpenFile();
    if (file.isOpen()) {
        bool complete;
        {
            std::lock_guard lock(m_docAccess);
            complete = IndexFile(file);
            NoteIndexStop();
        }
        if (!complete && m_indexingStopped) {
            m_openStopped = true;
            OnNewDocument();
            return false;
        }
        // An index that stopped at a limit keeps its lines and is shown; the window says
        // why (IndexStopped).
        if (!complete && !m_index.overflowed()) {
            ResetLines();
            ForgetPath();
            ReportOpenError(EIO, path);
            return false;
        }
        HandOverIndexedEnd(file);
        // A file that reports no size but read as text (/proc files) is shown as read:
        // following it would take every poll for a truncation.
        m_sizeless = file.size() == 0 && IndexedEnd() > 0;
        file.close();
        SetFileSize(QueryFileSize(m_nativePath, m_watchTiming.sizeRetry, Calls()));
        if (m_host) {
            m_host->ScrollViewsToEnd();
        }
    } else if (file.error() == ENOENT) {
        if (m_settings.GetBool(Setting::ShowEmptyFileWarning) && m_host) {
            const MissingFileAnswer answer = m_host->AskMissingFile(path);
            accept = answer.accepted;
            m_settings.SetBool(Setting::ShowEmptyFiles, accept);
            m_settings.SetBool(Setting::ShowEmptyFileWarning, !answer.dontAskAgain);
        }
        if (!accept) {
            ForgetPath();
            return false;
        }
        m_openedMissing = true;
    } else {
        ForgetPath();
        ReportOpenError(file.error(), path);
        return false;
    }

    StartWatching();
    if (m_host) {
        m_host->SetFilePathText(ShownName());
    }
    return true;
}

void LogDocument::ForgetPath()
{
    // A document that shows no file names none: Resume would follow it from wherever it
    // stands then, and an open of the path would take it for open already.
    m_path.clear();
    std::lock_guard lock(m_docAccess);
    m_nativePath.clear();
}

const quill::FileCalls& LogDocument::Calls() const
{
    return m_watchTiming.fileCalls != nullptr ? *m_watchTiming.fileCalls
                                              : quill::FileCalls::system();
}

quill::ReadOnlyFile LogDocument::OpenFile() const
{
    return quill::ReadOnlyFile::open(m_nativePath, Calls());
}

int LogDocument::FileOpenError() const
{
    if (m_nativePath.empty()) {
        return ENOENT;
    }
    return OpenFile().error();
}

void LogDocument::RestartIndex()
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
        quill::ReadOnlyFile head = OpenFile();
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

bool LogDocument::IndexingStopRequested()
{
    m_indexingStopped = m_indexingStop && m_indexingStop();
    return m_indexingStopped;
}

bool LogDocument::IndexFile(const quill::ReadOnlyFile& file)
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
                if (IndexingStopRequested()) {
                    return false;
                }
                const std::int64_t got =
                    file.readAt(buffer.data(), buffer.size(), m_index.end());
                if (got <= 0) {
                    return got == 0 && !m_index.overflowed();
                }
                UpdateIndexBound();
                m_index.append(buffer.data(), std::size_t(got));
            }
        }
        if (IndexInPieces(m_index, file, fileSize, m_indexPieceBytes, [this] {
                UpdateIndexBound();
                return IndexingStopRequested();
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
                if (IndexingStopRequested()) {
                    return false;
                }
                UpdateIndexBound();
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
        if (IndexingStopRequested()) {
            return false;
        }
        const std::int64_t got = file.readAt(buffer.data(), buffer.size(), offset);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return !m_index.overflowed();
        }
        UpdateIndexBound();
        m_index.append(buffer.data(), std::size_t(got));
        if (m_index.overflowed()) {
            return false;
        }
        offset += got;
    }
}

void LogDocument::UpdateIndexBound()
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

void LogDocument::NoteIndexStop()
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
    TraceLog::instance().Line(
        TraceLog::LevelInfo, "Indexing stopped at ", std::uint32_t(m_indexStop.lines), " lines, ",
        std::int64_t(m_index.end()),
        " bytes: ", memory ? "the line index reached its memory bound of " : "no line numbers left",
        memory ? std::to_string(m_indexStop.bound) : std::string());
    if (m_source) {
        m_source->StopInput();
    }
}

LogDocument::IndexStop LogDocument::IndexStopped() const
{
    std::lock_guard lock(m_docAccess);
    return m_indexStop;
}

void LogDocument::HandOverIndexedEnd(const quill::ReadOnlyFile& file)
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
        m_fileState.PushTail(tail.data(), std::size_t(got));
    }
    std::array<std::uint8_t, FileState::HeadBytes> head{};
    const std::int64_t gotHead =
        file.readAt(head.data(), std::size_t(std::min<FileOffset>(end, FileState::HeadBytes)), 0);
    if (gotHead > 0) {
        m_fileState.PushHead(0, head.data(), std::size_t(gotHead));
    }
    m_haveFileState = true;
    m_savedSize = end;
    m_haveSavedSize = true;
}

void LogDocument::ReindexFromEnd()
{
    quill::ReadOnlyFile file = OpenFile();
    if (!file.isOpen()) {
        return;
    }
    {
        std::lock_guard lock(m_docAccess);
        IndexFile(file);
        NoteIndexStop();
    }
    HandOverIndexedEnd(file);
    m_openedMissing = false;
}

void LogDocument::AppendText(const std::uint8_t* bytes, std::size_t n, bool post)
{
    {
        std::lock_guard lock(m_docAccess);
        const LineNumber oldCount = m_index.lineCount();
        const FileOffset oldEnd = m_index.end();
        UpdateIndexBound();
        const LineIndex::AppendOutcome outcome = m_index.append(bytes, n);
        NoteIndexStop();
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

void LogDocument::AddAppendListener(AppendListener* listener)
{
    std::lock_guard lock(m_listenerMutex);
    m_appendListeners.push_back(listener);
}

void LogDocument::RemoveAppendListener(AppendListener* listener)
{
    std::lock_guard lock(m_listenerMutex);
    std::erase(m_appendListeners, listener);
}

void LogDocument::TellIndexRestarted()
{
    std::lock_guard lock(m_listenerMutex);
    for (AppendListener* listener : m_appendListeners) {
        listener->IndexRestarted();
    }
}

void LogDocument::TellAppendListener(FileOffset offset, const std::uint8_t* bytes, std::size_t n)
{
    std::lock_guard lock(m_listenerMutex);
    for (AppendListener* listener : m_appendListeners) {
        listener->TextAppended(offset, bytes, n);
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

void LogDocument::StartWatching(int readError)
{
    if (m_source && !m_source->Follows() && m_sourceShown) {
        // A complete decompressed copy does not grow; a reload of it is shown as read.
        return;
    }
    // A running watcher is stopped first, so that the next one resumes exactly where it
    // left off (its size and file state), not from what was handed over before it ran.
    StopWatching();
    m_watcher.reset();
    if (m_reindexPending) {
        ReindexFromEnd();
        m_reindexPending = false;
    }
    if (m_path.empty()) {
        return;
    }
    auto watcher = std::make_unique<FileWatcher>(*this, m_watchTiming);
    if (m_haveFileState) {
        watcher->SetFileState(m_fileState);
    }
    if (m_haveSavedSize) {
        watcher->SetSize(m_savedSize);
    }
    if (m_openedMissing) {
        watcher->SetStartsMissing();
    }
    if (m_sizeless) {
        watcher->SetSizeless();
    }
    watcher->SetPath(m_nativePath);
    // Before the thread runs: its first poll may find the file readable and withdraw it.
    watcher->SetReadError(readError);
    SetReadError(readError);
    if (!watcher->Start()) {
        SetReadError(0);
        return;
    }
    m_watcher = std::move(watcher);
    m_watching = true;
}

void LogDocument::StopWatching()
{
    if (m_watching && m_watcher) {
        m_watcher->Stop();
        // A watcher that never saw the file (or saw it but did not re-open it yet) hands
        // nothing over: the next one must wait for the file again and have it re-opened,
        // instead of ending at once or following from a size nothing was indexed up to.
        if (m_watcher->GetSize() >= 0 && !m_openedMissing) {
            m_fileState = m_watcher->GetFileState();
            m_haveFileState = true;
            m_savedSize = m_watcher->GetSize();
            m_haveSavedSize = true;
        } else {
            m_haveFileState = false;
            m_haveSavedSize = false;
        }
        m_watcher.reset();
    }
    m_watching = false;
    // Nobody reads the file now, so nobody knows.
    SetReadError(0);
}

bool LogDocument::HasChangeEvents() const
{
    return m_watching && m_watcher && m_watcher->HasChangeEvents();
}

void LogDocument::ClearText()
{
    const bool wasWatching = m_watching;
    if (wasWatching) {
        StopWatching();
    }
    ResetLines();
    m_haveFileState = false;
    m_haveSavedSize = false;
    if (wasWatching) {
        ReindexFromEnd();
    } else {
        m_reindexPending = true;
    }
    if (m_host) {
        m_host->ResetViewsScroll();
        m_host->UpdateAllViews();
    }
    if (wasWatching) {
        StartWatching();
    }
    TellIndexRestarted();
}

void LogDocument::ReloadKeywords()
{
    m_keywords.clear();
    m_settings.LoadKeywords(m_keywords);
}

LineNumber LogDocument::GetLineCount() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.lineCount();
}

quill::TextEncoding LogDocument::Form() const
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

bool LogDocument::IsUtf16() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.isUtf16();
}

bool LogDocument::LastLineOpen() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.lastLineOpen();
}

FileOffset LogDocument::IndexedEnd() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.end();
}

FileOffset LogDocument::LineStart(LineNumber index) const
{
    std::lock_guard lock(m_docAccess);
    return m_index.lineStart(index);
}

std::size_t LogDocument::IndexMemoryBytes() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.memoryBytes();
}

std::uint64_t LogDocument::IndexEpoch() const
{
    std::lock_guard lock(m_docAccess);
    return m_indexEpoch;
}

bool LogDocument::IsEncodingDecided() const
{
    std::lock_guard lock(m_docAccess);
    return m_index.encodingFinal();
}

void LogDocument::CopyLineRun(LineNumber first, LineNumber limit, LineNumber maxLines,
                                FileOffset maxBytes, LineRun& run) const
{
    std::lock_guard lock(m_docAccess);
    run.epoch = m_indexEpoch;
    run.first = first;
    run.starts.clear();
    run.lineCount = m_index.lineCount();
    run.lastOpen = false;
    const LineNumber end = std::min(limit, m_index.lineCount());
    if (first >= end) {
        return;
    }
    const LineNumber most = std::min(end - first, maxLines);
    const FileOffset base = m_index.lineStart(first);
    run.starts.reserve(std::size_t(most) + 1);
    // The first line's end is always included, however far it is.
    constexpr FileOffset far = std::numeric_limits<FileOffset>::max();
    m_index.copyStarts(first, 2, far, run.starts);
    m_index.copyStarts(first + 2, most - 1, maxBytes > far - base ? far : base + maxBytes,
                       run.starts);
    const LineNumber last = first + LineNumber(run.starts.size()) - 2;
    run.lastOpen = last + 1 == m_index.lineCount() && m_index.lastLineOpen();
}

void LogDocument::CopyLinesStartingIn(LineNumber first, LineNumber limit, FileOffset from,
                                      FileOffset to, LineRun& run) const
{
    std::lock_guard lock(m_docAccess);
    run.epoch = m_indexEpoch;
    run.starts.clear();
    run.lineCount = m_index.lineCount();
    run.lastOpen = false;
    const LineNumber end = std::min(limit, m_index.lineCount());
    run.first = first;
    if (first >= end) {
        return;
    }
    if (from > m_index.lineStart(first)) {
        if (from >= m_index.lineStart(end)) {
            run.first = end;
            return;
        }
        // The line holding `from`, or the next one when it began before.
        const LineNumber holder = m_index.lineAt(from);
        run.first = std::max(first, m_index.lineStart(holder) < from ? holder + 1 : holder);
    }
    if (run.first >= end || to <= m_index.lineStart(run.first)) {
        return;
    }
    const LineNumber copied = m_index.copyStarts(run.first, end - run.first, to - 1, run.starts);
    m_index.copyStarts(run.first + copied, 1, std::numeric_limits<FileOffset>::max(), run.starts);
    const LineNumber last = run.first + copied - 1;
    run.lastOpen = last + 1 == m_index.lineCount() && m_index.lastLineOpen();
}

void LogDocument::ComputeWindow(LineNumber line, LineNumber lineCount, LineNumber& first,
                                  LineNumber& end)
{
    const LineNumber half = std::min(lineCount, WindowLines) / 2;
    if (line > half) {
        first = line - half;
        end = line + half;
        if (end > lineCount) {
            end = lineCount;
            first = lineCount >= WindowLines ? lineCount - WindowLines : 0;
        }
    } else {
        first = 0;
        end = std::min(lineCount, WindowLines);
    }
}

std::u16string LogDocument::GetLine(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    return std::u16string(GetLineView(index));
}

std::u16string_view LogDocument::GetLineView(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    if (index >= m_index.lineCount()) {
        return {};
    }
    if ((index < m_windowFirst || index >= m_windowEnd) && !FetchWindow(index)) {
        return {};
    }
    if (m_tail.stale && index == m_tail.line) {
        RefreshTail();
    }
    if (index < m_windowFirst || index >= m_windowEnd) {
        return {};
    }
    if (IsLongLineLocked(index)) {
        return LongLinePart(index).text;
    }
    return StripTerminator(m_lineCache[index - m_windowFirst]);
}

LogDocument::LinePart LogDocument::GetLinePart(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    const std::u16string_view text = GetLineView(index);
    if (index < m_windowFirst || index >= m_windowEnd || !IsLongLineLocked(index)) {
        return LinePart{text, 0, -1};
    }
    return LongLinePart(index);
}

bool LogDocument::IsLongLine(LineNumber index) const
{
    std::lock_guard lock(m_docAccess);
    return index < m_index.lineCount() && IsLongLineLocked(index);
}

bool LogDocument::IsLongLineLocked(LineNumber line) const
{
    return std::uint64_t(m_index.lineStart(line + 1) - m_index.lineStart(line)) > LongLineBytes;
}

std::int64_t LogDocument::LongestLongLineColumns() const
{
    std::lock_guard lock(m_docAccess);
    FileOffset longest = 0;
    const LineNumber end = std::min(m_windowEnd, m_index.lineCount());
    for (LineNumber line = m_windowFirst; line < end; ++line) {
        longest = std::max(longest, m_index.lineStart(line + 1) - m_index.lineStart(line));
    }
    return std::uint64_t(longest) > LongLineBytes ? LongLineColumns(std::uint64_t(longest), Form())
                                                  : 0;
}

std::int64_t LogDocument::LineTextBytes(const quill::ReadOnlyFile& file, LineNumber line) const
{
    const FileOffset start = m_index.lineStart(line);
    const FileOffset size = m_index.lineStart(line + 1) - start;
    if (line + 1 == m_index.lineCount() && m_index.lastLineOpen()) {
        return size;
    }
    // A terminator is a line feed, maybe after a carriage return, of the line's encoding.
    std::uint8_t tail[4] = {0, 0, 0, 0};
    const FileOffset want = std::min<FileOffset>(size, 4);
    if (file.readAt(tail + (4 - want), std::size_t(want), start + size - want) != want) {
        return -1;
    }
    const quill::TextEncoding form = Form();
    if (quill::isUtf16(form)) {
        const bool big = form == quill::TextEncoding::Utf16Be;
        auto unitAt = [&](int k) {
            return big ? char16_t((tail[k] << 8) | tail[k + 1])
                       : char16_t(tail[k] | (tail[k + 1] << 8));
        };
        if (want < 2 || unitAt(2) != u'\n') {
            return size;
        }
        return size - (want == 4 && unitAt(0) == u'\r' ? 4 : 2);
    }
    if (want < 1 || tail[3] != '\n') {
        return size;
    }
    return size - (want >= 2 && tail[2] == '\r' ? 2 : 1);
}

LogDocument::LongPart& LogDocument::LongEntry(std::vector<std::unique_ptr<LongPart>>& parts,
                                              LineNumber line)
{
    const FileOffset bytes = m_index.lineStart(line + 1) - m_index.lineStart(line);
    auto it = std::find_if(parts.begin(), parts.end(),
                           [&](const auto& part) { return part->line == line; });
    if (it == parts.end()) {
        parts.push_back(std::make_unique<LongPart>());
        it = parts.end() - 1;
        (*it)->line = line;
    }
    LongPart& part = **it;
    // The text generation tells a reindex or a switch of terminal colours: the same bytes
    // may then read as other text.
    if (part.bytes != bytes || part.generation != m_textGeneration) {
        part.text.clear();
        part.piece = -1;
        part.columns = -1;
        part.bytes = bytes;
        part.generation = m_textGeneration;
    }
    return part;
}

LogDocument::LinePart LogDocument::LongLinePart(LineNumber line)
{
    const FileOffset bytes = m_index.lineStart(line + 1) - m_index.lineStart(line);
    const std::int64_t lastPiece = std::max<std::int64_t>(
        0, (LongLineColumns(std::uint64_t(bytes), Form()) - 1) / LongPieceColumns);
    const std::int64_t piece = std::min(m_longFocus / LongPieceColumns, lastPiece);
    return DecodeLongPieces(LongEntry(m_longParts, line), std::max<std::int64_t>(0, piece - 1),
                            piece + 2);
}

LogDocument::LinePart LogDocument::DecodeLongPieces(LongPart& part, std::int64_t piece,
                                                    std::int64_t endPiece)
{
    if (part.piece == piece && part.endPiece == endPiece) {
        return LinePart{part.text, part.first, part.columns};
    }
    const LineNumber line = part.line;
    const FileOffset bytes = part.bytes;
    const quill::TextEncoding form = Form();
    std::u16string& text = part.text;
    text.clear();
    part.piece = -1;
    part.first = piece * LongPieceColumns;
    quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_nativePath);
    const std::int64_t textBytes = file.isOpen() ? LineTextBytes(file, line) : -1;
    part.columns = textBytes >= 0 ? LongLineColumns(std::uint64_t(textBytes), form) : 0;
    if (textBytes >= 0) {
        const bool hide = TerminalColors();
        const FileOffset margin = LongPartMargin + LongSequenceMargin(form, hide);
        const std::int64_t unit = LongLineUnitBytes(form);
        const std::int64_t end = std::min(part.columns, endPiece * LongPieceColumns);
        const FileOffset from = std::max<FileOffset>(0, part.first * unit - margin);
        const FileOffset to = std::min<FileOffset>(bytes, end * unit + margin);
        try {
            std::vector<std::uint8_t> buffer(std::size_t(std::max<FileOffset>(0, to - from)));
            const std::int64_t got =
                file.readAt(buffer.data(), buffer.size(), m_index.lineStart(line) + from);
            if (got > 0) {
                text.reserve(std::size_t(std::max<std::int64_t>(0, end - part.first)) + 1);
                DecodeLongLinePart(buffer.data(), std::size_t(got), std::uint64_t(from),
                                   std::uint64_t(textBytes), part.first, end - part.first, form,
                                   true, text, nullptr, hide);
                part.piece = piece;
                part.endPiece = endPiece;
            }
        } catch (const std::bad_alloc&) {
            text.clear();
        }
    }
    return LinePart{part.text, part.first, part.columns};
}

LogDocument::LinePart LogDocument::GetLongLineColumns(LineNumber index, std::int64_t first,
                                                      std::int64_t count)
{
    std::lock_guard lock(m_docAccess);
    const std::u16string_view text = GetLineView(index);
    if (index < m_windowFirst || index >= m_windowEnd || !IsLongLineLocked(index)) {
        return LinePart{text, 0, -1};
    }
    first = std::max<std::int64_t>(0, first);
    count = std::clamp<std::int64_t>(count, 1, LongRangeColumns);
    // A piece more on either side: a scroll by a few rows finds its text decoded.
    const std::int64_t piece = std::max<std::int64_t>(0, first / LongPieceColumns - 1);
    const std::int64_t endPiece = (first + count + LongPieceColumns - 1) / LongPieceColumns + 1;
    return DecodeLongPieces(LongEntry(m_wrapParts, index), piece, endPiece);
}

std::int64_t LogDocument::LongLineTextColumns(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    if (index >= m_index.lineCount() || !IsLongLineLocked(index)) {
        return 0;
    }
    LongPart& part = LongEntry(m_wrapParts, index);
    if (part.columns < 0) {
        quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_nativePath);
        const std::int64_t textBytes = file.isOpen() ? LineTextBytes(file, index) : -1;
        if (textBytes < 0) {
            return 0;
        }
        part.columns = LongLineColumns(std::uint64_t(textBytes), Form());
    }
    return part.columns;
}

void LogDocument::GetLines(const std::vector<LineNumber>& lines, std::vector<std::u16string>& texts,
                           std::vector<StyleRuns>* runs)
{
    std::lock_guard lock(m_docAccess);
    texts.assign(lines.size(), std::u16string());
    if (runs != nullptr) {
        runs->assign(lines.size(), StyleRuns());
    }
    std::optional<quill::ReadOnlyFile> file;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineNumber line = lines[i];
        if (line >= m_index.lineCount()) {
            continue;
        }
        if (line >= m_windowFirst && line < m_windowEnd) {
            texts[i] = GetLineView(line);
            if (runs != nullptr) {
                (*runs)[i] = GetLineRuns(line);
            }
            continue;
        }
        if (!file) {
            file.emplace(OpenFile());
        }
        if (file->isOpen()) {
            ReadLineText(*file, line, texts[i], runs != nullptr ? &(*runs)[i] : nullptr);
        }
    }
}

std::u16string LogDocument::GetLongestLine() const
{
    std::lock_guard lock(m_docAccess);
    LongestLineKey key;
    return std::u16string(GetLongestLineView(key));
}

std::u16string_view LogDocument::GetLongestLineView(LongestLineKey& key) const
{
    std::lock_guard lock(m_docAccess);
    if (m_longestLength == 0) {
        key = LongestLineKey{m_textGeneration, 0, 0, 0};
        return {};
    }
    const std::u16string& text = m_lineCache[m_longestSlot];
    const LineNumber line = m_windowFirst + m_longestSlot;
    const bool growing = m_tail.valid && m_tail.line == line;
    key = LongestLineKey{m_textGeneration, line, text.size(),
                         growing ? std::min(m_tail.safeLength, text.size()) : text.size()};
    return text;
}

void LogDocument::FindLongestLine()
{
    m_longestLength = 0;
    m_longestSlot = 0;
    // Only the window's slots: one past its end may hold a row the watcher dropped.
    const LineNumber shown = m_windowEnd - m_windowFirst;
    for (LineNumber slot = 0; slot < shown; ++slot) {
        if (m_lineCache[slot].size() > m_longestLength) {
            m_longestLength = m_lineCache[slot].size();
            m_longestSlot = slot;
        }
    }
}

bool LogDocument::FetchWindow(LineNumber line)
{
    quill::ReadOnlyFile file = OpenFile();
    if (!file.isOpen()) {
        return false;
    }
    if (m_tail.stale) {
        RefreshTail();
    }
    LineNumber first = 0;
    LineNumber end = 0;
    ComputeWindow(line, m_index.lineCount(), first, end);

    std::vector<std::u16string> slots(WindowLines + 1);
    const LineNumber oldFirst = m_windowFirst;
    const LineNumber oldEnd = m_windowEnd;
    LineNumber keepFirst = std::max(first, oldFirst);
    LineNumber keepEnd = std::min(end, oldEnd);
    if (oldEnd > oldFirst && keepEnd > keepFirst) {
        // The old window's last line may still grow while it has no line feed; the open
        // tail is kept up to date instead.
        if (keepEnd == oldEnd &&
            m_lineCache[oldEnd - 1 - oldFirst].find(u'\n') == std::u16string::npos &&
            !(m_tail.valid && m_tail.line == oldEnd - 1)) {
            --keepEnd;
        }
        for (LineNumber l = keepFirst; l < keepEnd; ++l) {
            slots[l - first] = std::move(m_lineCache[l - oldFirst]);
        }
    } else {
        keepFirst = keepEnd = first;
    }
    if (m_tail.valid && (m_tail.line < keepFirst || m_tail.line >= keepEnd)) {
        m_tail = OpenTail();
    }
    m_lineCache.swap(slots);
    slots.clear();
    DecodeRange(file, first, keepFirst, 0, m_lineCache);
    DecodeRange(file, keepEnd, end, keepEnd - first, m_lineCache);
    m_windowFirst = first;
    m_windowEnd = end;
    std::erase_if(m_lineRuns, [&](const auto& entry) {
        return entry.first < first || entry.first >= end;
    });
    std::erase_if(m_longParts,
                  [&](const auto& part) { return part->line < first || part->line >= end; });
    std::erase_if(m_wrapParts,
                  [&](const auto& part) { return part->line < first || part->line >= end; });
    FindLongestLine();
    return true;
}

void LogDocument::RefreshTail()
{
    m_tail.stale = false;
    if (IsLongLineLocked(m_tail.line)) {
        // Grown past the long-line bound: from now on it is shown from parts.
        m_lineCache[m_tail.line - m_windowFirst].clear();
        m_tail = OpenTail();
        FindLongestLine();
        return;
    }
    const LineNumber slot = m_tail.line - m_windowFirst;
    std::u16string& text = m_lineCache[slot];
    const FileOffset lineEnd = m_index.lineStart(m_tail.line + 1);
    const bool stillOpen = m_tail.line + 1 == m_index.lineCount() && m_index.lastLineOpen();
    quill::ReadOnlyFile file = OpenFile();
    std::vector<std::uint8_t> bytes;
    std::int64_t got = -1;
    if (file.isOpen()) {
        try {
            bytes.resize(std::size_t(lineEnd - m_tail.safeEnd));
            got = file.readAt(bytes.data(), bytes.size(), m_tail.safeEnd);
            // Room to grow by a quarter at a time: a line growing by small appends is
            // then copied a bounded number of times, not once per append.
            const std::size_t need = m_tail.safeLength + bytes.size();
            if (text.capacity() < need) {
                text.reserve(std::max(need, text.capacity() + text.capacity() / 4));
            }
        } catch (const std::bad_alloc&) {
            got = -1;
        }
    }
    if (got < 0 || std::size_t(got) != bytes.size()) {
        // Unreadable now: the line leaves the window and is decoded whole when asked for.
        text.clear();
        m_tail = OpenTail();
        if (slot + 1 == m_windowEnd - m_windowFirst) {
            --m_windowEnd;
        }
        FindLongestLine();
        return;
    }
    text.resize(m_tail.safeLength);
    std::size_t safeBytes = 0;
    std::size_t safeLength = 0;
    bool restart = false;
    try {
        DecodeLineBytesResumable(bytes.data(), bytes.size(), Form(), text, safeBytes, safeLength);
        // A sequence may still be half written, a carriage return writes over the start:
        // the line is then decoded whole each time (its resume point goes back to its
        // start) and shown afresh. Its start as decoded is its start as shown until then.
        restart = !ShownAsDecoded(text, m_tail.safeLength + safeLength);
        ShowDecodedLine(m_tail.line, text);
    } catch (const std::bad_alloc&) {
        text.clear();
        m_tail = OpenTail();
        FindLongestLine();
        return;
    }
    if (restart) {
        m_tail.safeEnd = m_index.lineStart(m_tail.line);
        m_tail.safeLength = 0;
    } else {
        m_tail.safeEnd += FileOffset(safeBytes);
        m_tail.safeLength += safeLength;
    }
    m_tail.valid = stillOpen;
    if (text.size() > m_longestLength) {
        m_longestLength = text.size();
        m_longestSlot = slot;
    }
}

void LogDocument::DecodeRange(const quill::ReadOnlyFile& file, LineNumber first, LineNumber end,
                                LineNumber slot, std::vector<std::u16string>& slots)
{
    // A long line keeps its slot empty (its parts are decoded when it is asked for) and
    // is not read here: the lines around it are read in runs of their own.
    for (LineNumber line = first; line < end;) {
        if (IsLongLineLocked(line)) {
            slots[slot + (line - first)].clear();
            ++line;
            continue;
        }
        LineNumber runEnd = line + 1;
        while (runEnd < end && !IsLongLineLocked(runEnd)) {
            ++runEnd;
        }
        DecodeShortLines(file, line, runEnd, slot + (line - first), slots);
        line = runEnd;
    }
}

void LogDocument::DecodeShortLines(const quill::ReadOnlyFile& file, LineNumber first,
                                   LineNumber end, LineNumber slot,
                                   std::vector<std::u16string>& slots)
{
    if (first >= end) {
        return;
    }
    const FileOffset base = m_index.lineStart(first);
    const FileOffset rangeEnd = m_index.lineStart(end);
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(std::size_t(rangeEnd - base));
    } catch (const std::bad_alloc&) {
        return;
    }
    const std::int64_t got = file.readAt(bytes.data(), bytes.size(), base);
    if (got <= 0) {
        return;
    }
    const std::size_t count = std::size_t(got);
    const quill::TextEncoding form = Form();
    try {
        for (LineNumber line = first; line < end; ++line, ++slot) {
            const std::size_t from = std::size_t(m_index.lineStart(line) - base);
            if (from >= count) {
                break;
            }
            const std::size_t to = std::min(count, std::size_t(m_index.lineStart(line + 1) - base));
            std::u16string& text = slots[slot];
            text.clear();
            if (line + 1 == m_index.lineCount() && m_index.lastLineOpen()) {
                std::size_t safeBytes = 0;
                std::size_t safeLength = 0;
                DecodeLineBytesResumable(bytes.data() + from, to - from, form, text, safeBytes,
                                         safeLength);
                if (!ShownAsDecoded(text, safeLength)) {
                    safeBytes = 0;
                    safeLength = 0;
                }
                m_tail = OpenTail{true, false, line, m_index.lineStart(line) + FileOffset(safeBytes),
                                  safeLength};
            } else {
                DecodeLineBytes(bytes.data() + from, to - from, form, text);
            }
            ShowDecodedLine(line, text);
        }
    } catch (const std::bad_alloc&) {
        // The lines decoded so far stay; the rest read as empty text.
    }
}

bool LogDocument::ReadLineText(const quill::ReadOnlyFile& file, LineNumber line,
                               std::u16string& text, StyleRuns* runs)
{
    text.clear();
    const FileOffset from = m_index.lineStart(line);
    const FileOffset to = m_index.lineStart(line + 1);
    if (IsLongLineLocked(line)) {
        // Its first piece, as the view shows it at the line's start.
        const std::int64_t textBytes = LineTextBytes(file, line);
        if (textBytes < 0) {
            return false;
        }
        const quill::TextEncoding form = Form();
        const bool hide = TerminalColors();
        const std::int64_t count = 3 * LongPieceColumns;
        const FileOffset want =
            std::min<FileOffset>(to - from, count * LongLineUnitBytes(form) + LongPartMargin +
                                                LongSequenceMargin(form, hide));
        try {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(want));
            const std::int64_t got = file.readAt(bytes.data(), bytes.size(), from);
            if (got < 0) {
                return false;
            }
            DecodeLongLinePart(bytes.data(), std::size_t(got), 0, std::uint64_t(textBytes), 0,
                               count, form, true, text, nullptr, hide);
        } catch (const std::bad_alloc&) {
            text.clear();
            return false;
        }
        return true;
    }
    try {
        std::vector<std::uint8_t> bytes(std::size_t(to - from));
        const std::int64_t got = file.readAt(bytes.data(), bytes.size(), from);
        if (got < 0) {
            return false;
        }
        std::u16string decoded;
        DecodeLineBytes(bytes.data(), std::size_t(got), Form(), decoded);
        ShowLineText(decoded, runs, Showing());
        text.assign(StripTerminator(decoded));
    } catch (const std::bad_alloc&) {
        text.clear(); // a line too long to hold is searched as empty
        return false;
    }
    return true;
}

bool LogDocument::EmitLongLine(const quill::ReadOnlyFile& file, FileOffset lineStart,
                               std::int64_t textBytes, quill::TextEncoding form, std::int64_t from,
                               std::int64_t to,
                               const std::function<bool(std::u16string_view)>& sink,
                               bool& unreadable, bool hideSequences)
{
    const FileOffset margin = LongPartMargin + LongSequenceMargin(form, hideSequences);
    const std::int64_t unit = LongLineUnitBytes(form);
    // To its end: all of it, also past the columns a selection can name.
    const std::int64_t columns = textBytes / unit;
    if (to < 0 || to > columns) {
        to = columns;
    }
    std::vector<std::uint8_t> buffer;
    std::u16string text;
    for (std::int64_t c = std::max<std::int64_t>(0, from); c < to; c += LongReadColumns) {
        const std::int64_t end = std::min(to, c + LongReadColumns);
        const FileOffset a = std::max<FileOffset>(0, c * unit - margin);
        const FileOffset b = end * unit + margin;
        buffer.resize(std::size_t(b - a));
        const std::int64_t got = file.readAt(buffer.data(), buffer.size(), lineStart + a);
        if (got < 0) {
            unreadable = true;
            return false;
        }
        text.clear();
        DecodeLongLinePart(buffer.data(), std::size_t(got), std::uint64_t(a),
                           std::uint64_t(textBytes), c, end - c, form, false, text, nullptr,
                           hideSequences);
        if (!sink(text)) {
            return false;
        }
    }
    return true;
}

bool LogDocument::GetSelection(DocSelection& selection) const
{
    selection = m_selection;
    return m_selection.valid;
}

void LogDocument::SetSelection(LineNumber startLine, LineNumber endLine, std::int32_t startCol,
                                 std::int32_t endCol)
{
    m_selection = DocSelection{true, startLine, endLine, startCol, endCol};
}

void LogDocument::ClearSelection()
{
    m_selection = DocSelection();
}

std::u16string LogDocument::GetSelectedText()
{
    std::u16string result;
    if (!m_selection.valid) {
        return result;
    }
    try {
        ForEachSelectedPiece(
            m_selection,
            [](void* context, std::u16string_view piece) {
                static_cast<std::u16string*>(context)->append(piece);
                return true;
            },
            &result);
    } catch (const std::bad_alloc&) {
        result.clear(); // more than memory holds: nothing rather than a cut-off text
    }
    return result;
}

std::uint64_t LogDocument::SelectedTextBound(const DocSelection& selection) const
{
    if (!selection.valid || selection.endLine < selection.startLine) {
        return 0;
    }
    std::lock_guard lock(m_docAccess);
    const LineNumber count = m_index.lineCount();
    const LineNumber first = std::min(selection.startLine, count);
    const LineNumber end = std::min<std::uint64_t>(std::uint64_t(selection.endLine) + 1, count);
    const std::uint64_t bytes =
        end > first ? std::uint64_t(m_index.lineStart(end) - m_index.lineStart(first)) : 0;
    // A narrow byte decodes to at most one unit (four UTF-8 bytes to two), a UTF-16 code
    // unit is two bytes; each line's terminator (at least one unit) becomes one line feed,
    // and hidden sequences and written-over text only take units away.
    return m_index.isUtf16() ? bytes / 2 : bytes;
}

PieceOutcome LogDocument::ForEachSelectedPiece(const DocSelection& selection, TextSink sink,
                                                 void* context, std::uint64_t generation)
{
    if (!selection.valid || selection.endLine < selection.startLine) {
        return PieceOutcome::Complete;
    }
    // Whole lines are read in blocks of about this size; a longer line is read alone.
    constexpr FileOffset BlockBytes = 1 << 20;
    quill::TextEncoding form = quill::TextEncoding::Locale;
    TextShowing showing;
    LineNumber count = 0;
    quill::ReadOnlyFile file;
    {
        std::lock_guard lock(m_docAccess);
        if (generation == AnyGeneration) {
            generation = m_contentGeneration;
        } else if (generation != m_contentGeneration) {
            return PieceOutcome::Reset; // the lines the record names are gone
        }
        form = Form();
        showing = Showing();
        showing.crSymbol = 0; // a copy takes a shown carriage return as it is
        count = m_index.lineCount();
        if (selection.startLine < count) {
            file = OpenFile();
            if (!file.isOpen()) {
                return PieceOutcome::Unreadable;
            }
        }
    }
    // A record that reaches past the empty line after the last one (taken before the text
    // shrank) ends there: nothing beyond it exists. Lines appended meanwhile are not part
    // of a selection made before them.
    const LineNumber endLine = std::min(selection.endLine, count);
    std::vector<std::uint8_t> bytes;
    std::vector<FileOffset> starts;
    std::u16string decoded;
    bool going = true;
    auto emit = [&](std::u16string_view piece) { going = going && sink(context, piece); };
    auto emitPart = [&](LineNumber line, std::u16string_view text) {
        std::size_t from = 0;
        if (line == selection.startLine) {
            from = std::size_t(std::max(0, selection.startCol));
        }
        if (from >= text.size()) {
            return;
        }
        std::size_t length = text.size() - from;
        if (line == selection.endLine && selection.endCol != -1) {
            if (std::int64_t(selection.endCol) < std::int64_t(from)) {
                return;
            }
            length = std::min<std::size_t>(length, std::size_t(selection.endCol) - from + 1);
        }
        emit(text.substr(from, length));
    };
    LineNumber line = selection.startLine;
    while (line < count && line <= endLine) {
        // A block of whole lines, at least one. docAccess is held only to find the block's
        // line starts, so that a copy on another thread leaves the paint and the watcher
        // free; a reset since the start ends the copy, whose text no longer exists.
        const LineNumber lastEnd = std::min<LineNumber>(endLine + 1, count);
        const LineNumber blockFirst = line;
        LineNumber blockEnd = line + 1;
        std::int64_t longTextBytes = -1; // a long line's text bytes; -1: not a long line
        {
            std::lock_guard lock(m_docAccess);
            if (m_contentGeneration != generation) {
                return PieceOutcome::Reset;
            }
            const FileOffset base = m_index.lineStart(line);
            while (blockEnd < lastEnd && m_index.lineStart(blockEnd + 1) - base <= BlockBytes) {
                ++blockEnd;
            }
            starts.clear();
            for (LineNumber l = line; l <= blockEnd; ++l) {
                starts.push_back(m_index.lineStart(l));
            }
            if (blockEnd == line + 1 && IsLongLineLocked(line)) {
                longTextBytes = LineTextBytes(file, line);
                if (longTextBytes < 0) {
                    return PieceOutcome::Unreadable;
                }
            }
        }
        if (longTextBytes >= 0) {
            // Streamed in pieces, never held whole.
            if (line != selection.startLine) {
                emit(u"\r\n");
            }
            std::int64_t from = line == selection.startLine ? std::max(0, selection.startCol) : 0;
            std::int64_t to = -1;
            if (line == selection.endLine && selection.endCol != -1) {
                to = std::max<std::int64_t>(from, std::int64_t(selection.endCol) + 1);
            }
            bool unreadable = false;
            if (going) {
                EmitLongLine(
                    file, starts.front(), longTextBytes, form, from, to,
                    [&](std::u16string_view piece) {
                        emit(piece);
                        return going;
                    },
                    unreadable, showing.terminal);
            }
            if (unreadable) {
                return PieceOutcome::Unreadable;
            }
            if (!going) {
                return PieceOutcome::Stopped;
            }
            ++line;
            continue;
        }
        const FileOffset base = starts.front();
        bytes.resize(std::size_t(starts.back() - base));
        const std::int64_t got = file.readAt(bytes.data(), bytes.size(), base);
        if (got < 0) {
            return PieceOutcome::Unreadable;
        }
        for (; line < blockEnd && going; ++line) {
            if (line != selection.startLine) {
                emit(u"\n");
            }
            const std::size_t k = std::size_t(line - blockFirst);
            const std::int64_t from = starts[k] - base;
            const std::int64_t to = std::min<std::int64_t>(got, starts[k + 1] - base);
            decoded.clear();
            std::size_t shown = 0;
            if (to > from) {
                DecodeLineBytes(bytes.data() + from, std::size_t(to - from), form, decoded);
                shown = ShowLineText(decoded, nullptr, showing);
            }
            emitPart(line, std::u16string_view(decoded).substr(0, shown));
        }
        if (!going) {
            return PieceOutcome::Stopped;
        }
    }
    // Lines at or beyond the count (Select All's empty line after the last) are empty.
    for (; line <= endLine && going; ++line) {
        if (line != selection.startLine) {
            emit(u"\n");
        }
    }
    return going ? PieceOutcome::Complete : PieceOutcome::Stopped;
}

void LogDocument::GetKeywordColors(std::u16string_view line, ColorRef& textColor,
                                     ColorRef& bkColor, bool& matched) const
{
    ::GetKeywordColors(m_keywords, line, textColor, bkColor, matched);
}

void LogDocument::GetMatchRuns(std::u16string_view line, std::size_t from, std::size_t to,
                               StyleRuns& runs) const
{
    ::GetMatchRuns(m_keywords, line, from, to, runs);
}

void LogDocument::SetTerminalColors(bool on)
{
    std::lock_guard lock(m_docAccess);
    if (on == TerminalColors()) {
        return;
    }
    m_terminalColors.store(on, std::memory_order_relaxed);
    RestartShownText();
}

void LogDocument::SetShowControlCharacters(bool on)
{
    std::lock_guard lock(m_docAccess);
    if (on == ShowControlCharacters()) {
        return;
    }
    m_showControls.store(on, std::memory_order_relaxed);
    RestartShownText();
}

void LogDocument::SetCarriageReturnSymbol(char16_t symbol)
{
    std::lock_guard lock(m_docAccess);
    if (symbol == m_crSymbol.load(std::memory_order_relaxed)) {
        return;
    }
    m_crSymbol.store(symbol, std::memory_order_relaxed);
    if (ShowControlCharacters()) {
        RestartShownText();
    }
}

void LogDocument::RestartShownText()
{
    // Columns of the old text name other characters in the new: what pointed into it goes.
    // The rows themselves stay (the view may still draw them); an empty window is enough
    // for the next use to decode afresh.
    m_windowFirst = 0;
    m_windowEnd = 0;
    m_longestLength = 0;
    ++m_textGeneration;
    m_tail = OpenTail();
    m_lineRuns.clear();
    m_selection = DocSelection();
    m_findPos = FindPosition();
    ++m_contentGeneration;
    ++m_indexEpoch;
}

bool LogDocument::ShownAsDecoded(std::u16string_view decoded, std::size_t prefix) const
{
    return !TerminalColors() && decoded.substr(0, prefix).find(u'\r') == std::u16string_view::npos;
}

void LogDocument::ShowDecodedLine(LineNumber line, std::u16string& text)
{
    auto it = std::find_if(m_lineRuns.begin(), m_lineRuns.end(),
                           [&](const auto& entry) { return entry.first == line; });
    const TextShowing showing = Showing();
    if (!showing.terminal) {
        if (it != m_lineRuns.end()) {
            m_lineRuns.erase(it);
        }
        ShowLineText(text, nullptr, showing);
        return;
    }
    StyleRuns runs;
    ShowLineText(text, &runs, showing);
    if (runs.empty()) {
        if (it != m_lineRuns.end()) {
            m_lineRuns.erase(it);
        }
    } else if (it != m_lineRuns.end()) {
        it->second = std::move(runs);
    } else {
        m_lineRuns.emplace_back(line, std::move(runs));
    }
}

const StyleRuns& LogDocument::GetLineRuns(LineNumber index) const
{
    static const StyleRuns none;
    std::lock_guard lock(m_docAccess);
    if (index < m_windowFirst || index >= m_windowEnd) {
        return none;
    }
    for (const auto& [line, runs] : m_lineRuns) {
        if (line == index) {
            return runs;
        }
    }
    return none;
}

void LogDocument::SetTitle(const std::u16string&)
{
    std::u16string title = u"Quillstream - ";
    if (m_host) {
        title += m_host->LoadResourceString(133);
        title += m_host->GetFileVersionText();
    }
    const std::u16string shown = ShownName();
    if (!shown.empty()) {
        title += u"  -  ";
        title += shown;
    }
    m_title = title;
    if (m_host) {
        m_host->TitleChanged(m_title);
    }
}

void LogDocument::ReportOpenError(int errorNumber, const std::u16string& path)
{
    if (m_host) {
        // ENOTSUP is what opening reports for a FIFO, socket or device; the system's own
        // wording of it ("Operation not supported") would say nothing to the user.
        const std::u16string description = errorNumber == ENOTSUP
                                               ? m_host->LoadResourceString(StringNotRegularFile)
                                               : errorDescription(errorNumber);
        m_host->ShowOpenError(path, description, errorNumber);
    }
}
