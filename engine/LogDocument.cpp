#include "engine/LogDocument.h"

#include "diagnostics/TraceLog.h"
#include "engine/DocumentHost.h"
#include "engine/FileWatcher.h"
#include "engine/HostStrings.h"
#include "engine/KeywordMatcher.h"
#include "engine/LineIndexPieces.h"
#include "engine/LineText.h"
#include "engine/LogSource.h"
#include "engine/LongLine.h"
#include "engine/SequentialReader.h"
#include "engine/SgrParser.h"
#include "engine/ShownText.h"
#include "platform/AvailableMemory.h"
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
    resetLines();
}

LogDocument::~LogDocument()
{
    stopWatching();
    m_source.reset();
    m_watcher.reset();
    m_keywords.clear();
    resetLines();
}

bool LogDocument::newDocument()
{
    // A new document shows no file: nothing of the old one may keep arriving or stay on
    // screen under a title without a path.
    stopWatching();
    setModifiedFlag(false);
    m_path.clear();
    {
        // A copy running on another thread reads the path under the lock.
        std::lock_guard lock(m_docAccess);
        m_nativePath.clear();
    }
    resetLines();
    {
        std::lock_guard lock(m_docAccess);
        restartIndex();
    }
    m_haveFileState = false;
    m_haveSavedSize = false;
    m_reindexPending = false;
    tellIndexRestarted();
    // The status bar and the tab stop naming the file that is gone.
    if (m_host) {
        m_host->setFilePathText(shownName());
    }
    return true;
}

void LogDocument::closeDocument()
{
    stopWatching();
    dropSource();
}

bool LogDocument::openSource(std::unique_ptr<LogSource> source)
{
    dropSource();
    m_source = std::move(source);
    m_sourceShown = false;
    if (!m_source) {
        return false;
    }
    // A decompressed copy is followed like any growing file while it is written, so its
    // first lines show long before the archive is through; pollSource ends that.
    m_sourceShown = m_source->follows();
    const bool opened = openDocument(quill::fileNameToUtf16(m_source->spoolPath()));
    setTitle();
    return opened;
}

void LogDocument::dropSource()
{
    if (m_source) {
        stopWatching();
        m_source.reset();
    }
}

bool LogDocument::pollSource()
{
    if (!m_source || m_sourceShown) {
        return false;
    }
    const SourceStatus status = m_source->status();
    if (status.phase == SourceStatus::Phase::Running) {
        return false;
    }
    // Whatever was decompressed is shown, also of a damaged or cancelled archive, and also
    // when following was paused: once complete the copy cannot be resumed any more.
    if (!m_watching) {
        startWatching();
    }
    // The watcher reads the rest; an index that stopped or a spool that cannot be read
    // takes no more.
    if (m_watching && indexedEnd() < FileOffset(status.spooled) &&
        indexStopped().limit == IndexStop::Limit::None && readError() == 0) {
        return false;
    }
    m_sourceShown = true;
    stopWatching();
    setTitle();
    return true;
}

bool LogDocument::canFollow() const
{
    return !m_path.empty() && (!m_source || m_source->follows() || !m_sourceShown);
}

std::u16string LogDocument::shownName() const
{
    if (!m_source) {
        return m_path;
    }
    if (m_source->kind() == SourceKind::Decompressed && m_host) {
        // String 401: "%1 (decompressed copy)".
        std::u16string text = m_host->loadResourceString(HostString::DecompressedCopy);
        const std::size_t at = text.find(u"%1");
        if (at != std::u16string::npos) {
            text.replace(at, 2, m_source->displayName());
            return text;
        }
    }
    return m_source->displayName();
}

void LogDocument::resetLines()
{
    std::lock_guard lock(m_docAccess);
    setFileSize(0);
    m_longestLength = 0;
    m_longestSlot = 0;
    ++m_textGeneration;
    m_tail = OpenTail();
    m_windowFirst = 0;
    m_windowEnd = 0;
    m_selection = DocSelection();
    m_findPos = FindPosition();
    m_marks.clear();
    ++m_contentGeneration;
    m_watching = false;
    // The index restarts at its old end (what clearText needs); opening restarts it at 0.
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

bool LogDocument::openDocument(const std::u16string& path)
{
    stopWatching();
    reloadKeywords();
    // Read before the first line is decoded: every text of this file is shown one way.
    m_terminalColors.store(m_settings.boolValue(Setting::TerminalColors),
                           std::memory_order_relaxed);
    m_showControls.store(m_settings.boolValue(Setting::ShowControlCharacters),
                         std::memory_order_relaxed);
    setModifiedFlag(false);
    m_path = path;
    {
        std::lock_guard lock(m_docAccess);
        m_nativePath = quill::fileNameToBytes(path);
    }
    resetLines();
    // Whichever way the open ends, readers of the old lines hear of it once the new ones
    // are indexed: a reload that finds the new file already written is followed by no
    // append.
    struct TellOnReturn {
        LogDocument& doc;
        ~TellOnReturn() { doc.tellIndexRestarted(); }
    } tellOnReturn{*this};
    {
        std::lock_guard lock(m_docAccess);
        restartIndex();
    }
    m_haveFileState = false;
    m_haveSavedSize = false;
    m_reindexPending = false;
    m_openedMissing = false;
    m_sizeless = false;
    m_openStopped = false;

    bool accept = m_settings.boolValue(Setting::ShowEmptyFiles);
    quill::ReadOnlyFile file = openFile();
    if (file.isOpen()) {
        bool complete;
        {
            std::lock_guard lock(m_docAccess);
            complete = indexFile(file);
            noteIndexStop();
        }
        if (!complete && m_indexingStopped) {
            m_openStopped = true;
            newDocument();
            return false;
        }
        // An index that stopped at a limit keeps its lines and is shown; the window says
        // why (indexStopped).
        if (!complete && !m_index.overflowed()) {
            resetLines();
            forgetPath();
            reportOpenError(EIO, path);
            return false;
        }
        handOverIndexedEnd(file);
        // A file that reports no size but read as text (/proc files) is shown as read:
        // following it would take every poll for a truncation.
        m_sizeless = file.size() == 0 && indexedEnd() > 0;
        file.close();
        setFileSize(queryFileSize(m_nativePath, m_watchTiming.sizeRetry, calls()));
        if (m_host) {
            m_host->scrollViewsToEnd();
        }
    } else if (file.error() == ENOENT) {
        if (m_settings.boolValue(Setting::ShowEmptyFileWarning) && m_host) {
            const MissingFileAnswer answer = m_host->askMissingFile(path);
            accept = answer.accepted;
            m_settings.setBool(Setting::ShowEmptyFiles, accept);
            m_settings.setBool(Setting::ShowEmptyFileWarning, !answer.dontAskAgain);
        }
        if (!accept) {
            forgetPath();
            return false;
        }
        m_openedMissing = true;
    } else {
        forgetPath();
        reportOpenError(file.error(), path);
        return false;
    }

    startWatching();
    if (m_host) {
        m_host->setFilePathText(shownName());
    }
    return true;
}

void LogDocument::forgetPath()
{
    // A document that shows no file names none: Resume would follow it from wherever it
    // stands then, and an open of the path would take it for open already.
    m_path.clear();
    std::lock_guard lock(m_docAccess);
    m_nativePath.clear();
}

const quill::FileCalls& LogDocument::calls() const
{
    return m_watchTiming.fileCalls != nullptr ? *m_watchTiming.fileCalls
                                              : quill::FileCalls::system();
}

quill::ReadOnlyFile LogDocument::openFile() const
{
    return quill::ReadOnlyFile::open(m_nativePath, calls());
}

int LogDocument::fileOpenError() const
{
    if (m_nativePath.empty()) {
        return ENOENT;
    }
    return openFile().error();
}

void LogDocument::clearText()
{
    const bool wasWatching = m_watching;
    if (wasWatching) {
        stopWatching();
    }
    resetLines();
    m_haveFileState = false;
    m_haveSavedSize = false;
    if (wasWatching) {
        reindexFromEnd();
    } else {
        m_reindexPending = true;
    }
    if (m_host) {
        m_host->resetViewsScroll();
        m_host->updateAllViews();
    }
    if (wasWatching) {
        startWatching();
    }
    tellIndexRestarted();
}

void LogDocument::reloadKeywords()
{
    m_keywords.clear();
    m_settings.loadKeywords(m_keywords);
}

void LogDocument::setTitle(const std::u16string&)
{
    std::u16string title = u"Quillstream - ";
    if (m_host) {
        title += m_host->loadResourceString(133);
        title += m_host->fileVersionText();
    }
    const std::u16string shown = shownName();
    if (!shown.empty()) {
        title += u"  -  ";
        title += shown;
    }
    m_title = title;
    if (m_host) {
        m_host->titleChanged(m_title);
    }
}

void LogDocument::reportOpenError(int errorNumber, const std::u16string& path)
{
    if (m_host) {
        // ENOTSUP is what opening reports for a FIFO, socket or device; the system's own
        // wording of it ("Operation not supported") would say nothing to the user.
        const std::u16string description =
            errorNumber == ENOTSUP ? m_host->loadResourceString(HostString::NotRegularFile)
                                   : errorDescription(errorNumber);
        m_host->showOpenError(path, description, errorNumber);
    }
}
