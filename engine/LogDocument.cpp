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

// The open error's description for a path that is not a regular file.
constexpr std::uint32_t StringNotRegularFile = 190;
constexpr std::uint32_t StringDecompressedCopy = 401;

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
