#pragma once

// LogDocument: the single document. It owns the watched file's path, the index of line
// starts (the only per-line data kept for the whole file), a decoded window of at most
// 1000 lines around the line last asked for, the selection, the find position, the
// keyword list and the watcher thread. Text is decoded on demand straight from the file,
// which is opened for each read and closed at once.
//
// A display line is an index line: line i of line is the i-th line of the line index,
// which decides the file's encoding from its first bytes (UTF-16 or the locale's narrow
// set) and ends lines at line feeds of that encoding. A carriage return that is not
// directly followed by the line feed does not end a line; it is shown as U+240D (SYMBOL
// FOR CARRIAGE RETURN), one character in its place, so columns stay put.
//
// Threads and the lock "docAccess": everything is main-thread API except appendText (the
// watcher thread, holding docAccess()) and fileSizeBytes (any thread). docAccess() is
// recursive: every reading operation below takes it for its own duration, so no caller
// ever sees a half-grown index, and the view's paint holds it across the whole paint
// (std::lock_guard lock(doc.docAccess())) so the index does not change under it. Never
// hold it while calling openDocument, closeDocument, startWatching, stopWatching or
// clearText: they wait for the watcher, which may be waiting for the lock.

#include "engine/DocumentTypes.h"
#include "engine/LineIndex.h"
#include "engine/LineIndexPieces.h"
#include "engine/LineMarks.h"
#include "engine/ShownText.h"
#include "engine/StyleRuns.h"
#include "platform/TextEncoding.h"
#include "settings/Keyword.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FilterPattern;
class FilterScratch;
struct RegexFindReport;
class FileWatcher;
class DocumentHost;
class LogSource;
class SettingsStore;
namespace quill {
class ReadOnlyFile;
}

enum class PieceOutcome { Complete, Stopped, Reset, Unreadable };

class LogDocument {
  public:
    static constexpr LineNumber WindowLines = 1000;

    // host may be null (no user interface: nothing is shown, posts are dropped) and can
    // be set later; neither argument is owned.
    explicit LogDocument(DocumentHost* host = nullptr);
    LogDocument(DocumentHost* host, SettingsStore& settings);
    // Stops a running watcher first.
    ~LogDocument();
    LogDocument(const LogDocument&) = delete;
    LogDocument& operator=(const LogDocument&) = delete;

    void setHost(DocumentHost* host) { m_host = host; }
    // The intervals every later watcher uses (tests shorten them).
    void setWatchTiming(const WatchTiming& timing) { m_watchTiming = timing; }
    // Asked between the pieces a file is indexed in (on the calling thread): true abandons
    // the indexing. An open abandoned so returns false with the document empty and without
    // a path, and no error shown; a catch-up keeps what it indexed for the watcher to
    // continue. The program ending must not wait for a huge file to be read to its end.
    void setIndexingStop(std::function<bool()> stop) { m_indexingStop = std::move(stop); }
    // Files are indexed on up to `threads` threads in pieces of `pieceBytes` (tests use
    // small pieces; the default is indexingThreads() and 8 MiB).
    void setIndexPieces(std::size_t pieceBytes, unsigned threads)
    {
        m_indexPieceBytes = pieceBytes;
        m_indexThreads = threads;
    }
    // Whether the last openDocument returned false because the indexing was stopped.
    bool openWasStopped() const { return m_openStopped; }
    // The figure the line index is bounded by: what memory this process could still take
    // (default quill::availableMemoryBytes; tests give a small one). The index may hold
    // half of that figure plus what it holds already, i.e. half of what it could have if
    // it held nothing: read at every open, reload and Clear and again each time the index
    // has grown by an eighth of its room (at least 1 MiB) since.
    void setAvailableMemory(std::function<std::uint64_t()> figure)
    {
        m_availableMemory = std::move(figure);
    }

    // Why the index stopped taking lines, if it did: its memory bound or the end of the
    // line numbers (LineIndex::MaxLines). The lines before stay as they are; the rest of the
    // file is not indexed, a followed file is not read further and a source stops taking
    // input (LogSource::stopInput), until the next open, reload or Clear starts over.
    struct IndexStop {
        enum class Limit { None, Memory, LineNumbers };
        Limit limit = Limit::None;
        LineNumber lines = 0;     // the lines kept
        std::uint64_t bound = 0;  // Memory: the bound in bytes
        std::uint64_t serial = 0; // different for every stop in this process
    };
    // Any thread; takes docAccess.
    IndexStop indexStopped() const;

    // --- framework entry points (main thread) ---
    // Stops the watcher, reloads keywords, resets, indexes the whole file, scrolls the
    // views to the end, starts watching and shows the path. A missing file asks the
    // missing-file question (or uses the stored answer); declined -> false without a
    // message. Any other failure (including a directory, FIFO or device) -> reportOpenError
    // and false. true: the file is being watched. path: a file name in its escaped form
    // (platform/FileName.h); the file opened is the one its bytes name.
    bool openDocument(const std::u16string& path);
    // An empty document without a path: the watcher is stopped and the lines are gone.
    bool newDocument();
    // Stops the watcher and ends the source (command, spool), if any.
    void closeDocument();

    // --- a log that arrives as no file of its own (engine/LogSource.h), main thread ---
    // Takes the source and opens its spool at once (openDocument's result): a pipe or a
    // command is followed for good, a decompressed copy only while it is being written, so
    // its lines show as they are decompressed. The title and the path pane name the source.
    bool openSource(std::unique_ptr<LogSource> source);
    // Stops the watcher and ends the source: its command ends, its spool is removed.
    void dropSource();
    LogSource* source() const { return m_source.get(); }
    // Now and then on the main thread: once a decompressed copy is done (complete, damaged
    // or cancelled) and the index holds all of it, nobody watches it any more (read to its
    // end first, also when following was paused). True when that happened just now.
    bool pollSource();
    // Whether Resume has something to follow: a path, and no decompressed copy that is
    // complete (it does not grow any more).
    bool canFollow() const;
    // Composes "Quillstream - " + string 133 + version [+ "  -  " + path]; the argument is
    // ignored. Tells the host.
    void setTitle(const std::u16string& ignored = {});
    const std::u16string& title() const { return m_title; }
    bool isModified() const { return m_modified; }
    void setModifiedFlag(bool modified = true) { m_modified = modified; }
    const std::u16string& pathName() const { return m_path; }

    // --- watching (main thread) ---
    // Starts a watcher from the state the last one ended with; a running one is stopped
    // first and the new one continues from where it stopped. readError: why the file cannot
    // be read as the caller just found (0: not known); ReadError says so from the start, and
    // the watcher tells only of a change, so the reason shown does not blink away.
    void startWatching(int readError = 0);
    // Returns when the watcher thread has ended; keeps the index and the file state.
    void stopWatching();
    // True while a watcher runs (or has ended by itself and was not stopped yet).
    bool isWatching() const { return m_watching; }
    // Whether change events wake the running watcher (false: it polls on its timer only).
    bool hasChangeEvents() const;
    // Why the running watcher cannot read the file, as an errno: EACCES, EISDIR (a folder
    // took its name), ENOTSUP (a FIFO, socket or device did), EIO, ...; 0 while it can, or
    // while nobody watches. The lines indexed so far stay meanwhile, and the watcher tries
    // again on every poll. Any thread.
    int readError() const { return m_readError.load(std::memory_order_relaxed); }
    // Whether the file can be opened for reading now: 0, or the errno of the open (ENOENT
    // also without a path). Main thread.
    int fileOpenError() const;

    // --- the watcher thread, holding docAccess() ---
    // Extends the index with the file's bytes from the current indexed end on, then
    // posts the append message to the host when post is true (also for n == 0). The watcher
    // hands a large growth over in several calls and posts only with the last.
    void appendText(const std::uint8_t* bytes, std::size_t n, bool post = true);

    // Told on the watcher's thread of each piece of text it has just appended, after
    // docAccess is released and while the watcher still holds the bytes, so a reader of new
    // lines (the filter) can take them from there instead of reading them from the file
    // again. Any number of listeners (the filter, the keyword lines), added and removed on
    // the main thread; once removed one is not called any more.
    class AppendListener {
      public:
        virtual ~AppendListener() = default;
        // bytes: the n bytes now indexed from file offset `offset` on; valid for the call.
        virtual void textAppended(FileOffset offset, const std::uint8_t* bytes, std::size_t n) = 0;
        // Main thread, without docAccess: the index has started over (open, reload, New,
        // Clear) and holds what it will show, whether or not the views are updated next.
        virtual void indexRestarted() {}
    };
    void addAppendListener(AppendListener* listener);
    void removeAppendListener(AppendListener* listener);
    // The watcher, after appendText and without docAccess.
    void tellAppendListener(FileOffset offset, const std::uint8_t* bytes, std::size_t n);

    // --- commands (main thread) ---
    // From now on only text appended after the current end of the file is shown.
    void clearText();
    void reloadKeywords();

    // --- reading (main thread unless noted; each takes docAccess) ---
    LineNumber lineCount() const;
    // The line's text without its terminator; empty for a line >= lineCount() or one
    // that could not be read. May move the decoded window (one read of the file).
    std::u16string line(LineNumber index);
    // The same without a copy: valid while the caller holds docAccess() and makes no other
    // call of this document (the next may move the window). A line of hundreds of megabytes
    // is then held once, in the window, and shown from there.
    std::u16string_view lineView(LineNumber index);
    // A line's text as the view shows it: for a line that is not long (engine/LongLine.h),
    // all of it (first 0, columns -1); for a long line, the part of it around the focus
    // column (setLongLineFocus): text holds the columns [first, first + text.size()) of
    // the line's `columns`. Same lifetime as lineView's text; lineView gives the
    // same text.
    struct LinePart {
        std::u16string_view text;
        std::int64_t first = 0;
        std::int64_t columns = -1;
        bool isLong() const { return columns >= 0; }
    };
    LinePart linePart(LineNumber index);
    // The column of long lines that the view shows at its left edge; a long line's part is
    // decoded around it when the line is next asked for (main thread).
    void setLongLineFocus(std::int64_t column) { m_longFocus = std::max<std::int64_t>(0, column); }
    // A long line's part that holds its columns [first, first + count) as far as the line
    // goes (the rows of a wrapped long line on screen; count is capped at LongRangeColumns),
    // kept apart from the part around the focus: views of both stay valid together, under
    // the same rules as lineView's. Not long: as linePart.
    static constexpr std::int64_t LongRangeColumns = std::int64_t{1} << 22;
    LinePart longLineColumnsPart(LineNumber index, std::int64_t first, std::int64_t count);
    // The columns of a long line's text (as LinePart::columns), found without decoding
    // it; 0 for a line that is not long or cannot be read.
    std::int64_t longLineTextColumns(LineNumber index);
    // The columns of the longest long line of the decoded window, 0 when it holds none;
    // counted from the index alone, without a read.
    std::int64_t longestLongLineColumns() const;
    // Whether the line is a long line (engine/LongLine.h).
    bool isLongLine(LineNumber index) const;
    // The text of scattered lines (the filter pane's rows), in the order asked, each
    // without its terminator; a line at or beyond the line count, or one that cannot be
    // read, gives empty text. Lines outside the decoded window are read straight from the
    // file, so the window the main view paints from stays where it is. With runs, also
    // each line's terminal colours as lineRuns gives them (none while they are off).
    void lines(const std::vector<LineNumber>& lines, std::vector<std::u16string>& texts,
               std::vector<StyleRuns>* runs = nullptr);
    // The longest line of the decoded window, terminator included.
    std::u16string longestLine() const;
    // Which line that is: equal keys mean equal text, and a key that differs only by a
    // greater length means the same line grown at its end (what was measured of it holds).
    struct LongestLineKey {
        std::uint64_t generation = 0; // changes whenever lines may have changed their text
        LineNumber line = 0;
        std::size_t length = 0;
        // The leading characters that stay as they are when the line grows (the end of a
        // growing line may still change: a carriage return, a character half written).
        std::size_t stable = 0;
        bool operator==(const LongestLineKey&) const = default;
    };
    // Both under one lock: the caller holds docAccess() while it uses the view.
    std::u16string_view longestLineView(LongestLineKey& key) const;
    // Size of the file at open and after every append; -1 when it could not be read.
    // Any thread.
    FileOffset fileSizeBytes() const { return m_fileSize.load(std::memory_order_relaxed); }

    bool selection(DocSelection& selection) const;
    DocSelection selection() const { return m_selection; }
    void setSelection(LineNumber startLine, LineNumber endLine, std::int32_t startCol,
                      std::int32_t endCol);
    void clearSelection();
    // The selected text, lines joined by a line feed, this system's line end, whatever the
    // file's own line ends are (Select All ends with one).
    std::u16string selectedText();
    // The text of any selection record, handed over in pieces (line parts and the line feeds
    // between them) as it is read, straight from the file in large reads and without
    // moving the decoded window, so a caller can build one huge text without a second copy.
    // Lines at or beyond the line count give empty parts; lines appended after the start
    // are not included. The sink returns false to stop. Any thread: docAccess is held only
    // while each block of about 1 MiB is located, never across the reading or the sink, so
    // the paint and the watcher go on meanwhile. Reset: the lines were reset (open, reload,
    // Clear) on the way; Unreadable: the file could not be read. In both, the pieces handed
    // over so far stand.
    // generation: the contentGeneration the record was taken under; a document reset since
    // then gives Reset before anything is read. AnyGeneration: the current one.
    using TextSink = bool (*)(void* context, std::u16string_view piece);
    static constexpr std::uint64_t AnyGeneration = ~std::uint64_t(0);
    PieceOutcome forEachSelectedPiece(const DocSelection& selection, TextSink sink, void* context,
                                      std::uint64_t generation = AnyGeneration);
    // An upper bound of the length in UTF-16 units of that text, from the byte extent of
    // the selected lines: what a copy must be ready to hold before it starts.
    std::uint64_t selectedTextBound(const DocSelection& selection) const;
    // Counts every reset of the lines (open, reload, Clear): a selection record taken under
    // one generation names text that no longer exists under the next.
    std::uint64_t contentGeneration() const { return m_contentGeneration; }

    FindPosition findPosition() const { return m_findPos; }
    void setFindPosition(LineNumber line, std::int32_t col) { m_findPos = {line, col}; }
    // The user's marks on this document's lines (main thread); every reset of the lines
    // (open, reload, Clear, New) drops them.
    LineMarks& marks() { return m_marks; }
    const LineMarks& marks() const { return m_marks; }
    // flags: SearchWholeWord, SearchMatchCase (SearchDown is given by down). A document without
    // lines returns true and selects nothing; an empty text is never found. On a match:
    // selection and find position move, the views make it visible and are updated.
    bool find(const std::u16string& text, bool down, unsigned flags);
    // The same with a regular expression, matched line by line within the filter's bounds:
    // a line too complex for the pattern is passed over and counted in report; Stop (the
    // scratch's abort) ends the search, found nothing, with report.abandoned.
    bool findRegex(const FilterPattern& pattern, bool down, FilterScratch& scratch,
                   RegexFindReport& report);

    // --- keywords (main thread) ---
    void keywordColors(std::u16string_view line, ColorRef& textColor, ColorRef& bkColor,
                       bool& matched) const;
    const std::vector<Keyword>& keywords() const { return m_keywords; }
    // The runs of characters in [from, to) of the line that match-only keywords colour
    // (engine/KeywordMatcher.h).
    void matchRuns(std::u16string_view line, std::size_t from, std::size_t to,
                   StyleRuns& runs) const;

    // --- the encoding (main thread) ---
    // The encoding the next open reads the file in; Automatic (the default) lets the
    // file's first bytes decide, as ever. Kept across opens of this document.
    void setEncoding(quill::TextEncoding chosen) { m_chosenEncoding = chosen; }
    quill::TextEncoding chosenEncoding() const { return m_chosenEncoding; }
    // The encoding the lines are read in now, never Automatic: the one chosen at the last
    // open, or what the first bytes decided (UTF-16 LE or the locale's set). Takes
    // docAccess; any thread.
    quill::TextEncoding encodingForm() const;

    // --- terminal colours (main thread) ---
    // While on, every text of the document is the text as a terminal shows it: control
    // sequences are taken out wherever lines are decoded (the window, Find, copy, the
    // filter pane's rows, the filter), and the window keeps the styles of its lines'
    // SGR sequences (engine/SgrParser.h). Switching starts the lines' text over: the
    // selection and the find position go, and contentGeneration moves on.
    void setTerminalColors(bool on);
    bool terminalColors() const { return m_terminalColors.load(std::memory_order_relaxed); }
    // Carriage returns inside a line: shown (each as the symbol) rather than applied as a
    // terminal applies them (engine/ShownText.h). Switching starts the lines' text over, as
    // above. The symbol is the view's choice among those its font has.
    void setShowControlCharacters(bool on);
    bool showControlCharacters() const { return m_showControls.load(std::memory_order_relaxed); }
    void setCarriageReturnSymbol(char16_t symbol);
    // How every text of the document is shown now. Any thread.
    TextShowing textShowing() const
    {
        return TextShowing{terminalColors(), showControlCharacters(),
                           m_crSymbol.load(std::memory_order_relaxed)};
    }
    // The styles of a line of the decoded window, as its text is shown; empty for a line
    // without them or outside the window. Same lifetime as lineView's text: valid while
    // the caller holds docAccess() and makes no other call of this document.
    const StyleRuns& lineRuns(LineNumber index) const;

    bool newTextArrived() const { return m_newTextArrived; }
    void setNewTextArrived(bool arrived) { m_newTextArrived = arrived; }

    // The lock "docAccess" (see the top of this header).
    std::recursive_mutex& docAccess() const { return m_docAccess; }

    // Shows string 135 for the error number and path through the host.
    void reportOpenError(int errorNumber, const std::u16string& path);

    // --- state for the view, the watcher and tests ---
    // The encoding the line index decided from the file's first bytes.
    bool isUtf16() const;
    bool lastLineOpen() const;
    FileOffset indexedEnd() const;
    FileOffset lineStart(LineNumber index) const; // index <= lineCount()
    LineNumber windowFirst() const { return m_windowFirst; }
    LineNumber windowEnd() const { return m_windowEnd; }
    // The window computeWindow gives for a line below the line count.
    static void computeWindow(LineNumber line, LineNumber lineCount, LineNumber& first,
                              LineNumber& end);
    const std::string& nativePath() const { return m_nativePath; }
    // Memory held by the line index, in bytes.
    std::size_t indexMemoryBytes() const;

    // --- for readers on other threads (the filter); each takes docAccess briefly ---
    // Changes whenever the index starts over (open, reload, New, Clear, or the byte-order
    // mark completing): line numbers from before then name other lines. Any thread.
    std::uint64_t indexEpoch() const;
    // The encoding has been decided (the file's first bytes decide it); isUtf16() is
    // final for this file from then on.
    bool isEncodingDecided() const;
    // A consistent view of a run of lines, taken under docAccess: the starts of lines
    // first, first + 1, ... (at most maxLines, and no further than maxBytes past the first
    // start unless that leaves none) plus the end of the last one, so starts.size() is the
    // number of lines + 1. Lines at or beyond `limit` are not included. Returns the epoch it
    // was taken in; lastOpen tells whether the last line copied is the document's open last
    // line (it may still grow). Any thread.
    struct LineRun {
        std::uint64_t epoch = 0;
        LineNumber first = 0;
        std::vector<FileOffset> starts;
        bool lastOpen = false;
        LineNumber lineCount = 0; // the document's line count at the time
    };
    void copyLineRun(LineNumber first, LineNumber limit, LineNumber maxLines, FileOffset maxBytes,
                     LineRun& run) const;
    // The same for the lines of [first, limit) that start in [from, to): stretches of bytes
    // side by side give each line to one of them. run.first is the first line of the range
    // that starts at or after `from` (the range's end when none does), and starts is empty
    // when that line starts at or after `to` (a longer line spans the stretch). Any thread.
    void copyLinesStartingIn(LineNumber first, LineNumber limit, FileOffset from, FileOffset to,
                             LineRun& run) const;

  private:
    friend class FileWatcher;
    friend class DocumentSearch;

    void resetLines();
    void tellIndexRestarted();
    // Feeds the file from the index's end to the file's end into the index; false on a
    // read error or when stopped (m_indexingStopped tells). Caller holds docAccess.
    bool indexFile(const quill::ReadOnlyFile& file);
    bool indexingStopRequested();
    // Reads the memory figure again when the index has grown enough since the last time
    // (or the lines started over) and sets the index's limit from it; under docAccess.
    void updateIndexBound();
    // After indexing: a stop of the index is recorded, traced and handed to the source;
    // under docAccess.
    void noteIndexStop();
    // Hands the indexed end (and the file's time) to the next watcher, so it starts
    // exactly where the index stops.
    void handOverIndexedEnd(const quill::ReadOnlyFile& file);
    void reindexFromEnd();
    // Moves the window so that it holds the line; false when the file cannot be read.
    // Empties the index and sets it to the chosen encoding (skipping the byte-order mark of
    // a chosen UTF-16); under docAccess.
    void restartIndex();
    bool fetchWindow(LineNumber line);
    // Decodes the bytes appended to the open last line since it was decoded, from its
    // resume point on, instead of the whole line again.
    void refreshTail();
    void findLongestLine();
    // A long line's part around m_longFocus, decoded when the one held is of another
    // place or of fewer bytes; under docAccess.
    LinePart longLinePart(LineNumber line);
    bool isLongLineLocked(LineNumber line) const;
    // The bytes of a line's text (its terminator left out), read from the file's end of
    // the line; -1 when they cannot be read.
    std::int64_t lineTextBytes(const quill::ReadOnlyFile& file, LineNumber line) const;
    // Hands the text of a long line's columns [from, to) (to -1: its end) to the sink in
    // pieces, read from the line starting at lineStart whose text has textBytes bytes,
    // its control sequences hidden when asked; false when stopped or unreadable
    // (unreadable is then set). Any thread, no lock.
    bool emitLongLine(const quill::ReadOnlyFile& file, FileOffset lineStart, std::int64_t textBytes,
                      quill::TextEncoding form, std::int64_t from, std::int64_t to,
                      const std::function<bool(std::u16string_view)>& sink, bool& unreadable,
                      bool hideSequences);
    void decodeRange(const quill::ReadOnlyFile& file, LineNumber first, LineNumber end,
                     LineNumber slot, std::vector<std::u16string>& slots);
    void decodeShortLines(const quill::ReadOnlyFile& file, LineNumber first, LineNumber end,
                          LineNumber slot, std::vector<std::u16string>& slots);
    // The text of one line read straight from the file (Find), without terminator; with
    // runs, its terminal colours too.
    bool readLineText(const quill::ReadOnlyFile& file, LineNumber line, std::u16string& text,
                      StyleRuns* runs = nullptr);
    // Called by the watcher (holding docAccess) after an append.
    void setFileSize(FileOffset size) { m_fileSize.store(size, std::memory_order_relaxed); }
    // The watcher, when the reason it cannot read the file changes.
    void setReadError(int error) { m_readError.store(error, std::memory_order_relaxed); }
    // After an open that failed: the document names no file.
    void forgetPath();
    // The file, opened through the watch timing's calls.
    const quill::FileCalls& calls() const;
    quill::ReadOnlyFile openFile() const;
    // The watcher's messages, passed on to the host when there is one (any thread).
    void postFileAppended();
    void postFileReload();
    void postFileUnreadable(int error);

    DocumentHost* m_host = nullptr;
    SettingsStore& m_settings;
    WatchTiming m_watchTiming;

    std::u16string m_path;
    std::string m_nativePath;
    std::unique_ptr<LogSource> m_source;
    bool m_sourceShown = false; // the source is followed for good, or its copy is complete
    // What the title and the path pane show: the source's name, or the path.
    std::u16string shownName() const;
    std::u16string m_title;
    bool m_modified = false;
    bool m_haveFileState = false;
    FileState m_fileState;
    bool m_haveSavedSize = false;
    FileOffset m_savedSize = 0;
    std::unique_ptr<FileWatcher> m_watcher;
    bool m_watching = false;
    std::atomic<FileOffset> m_fileSize{0};
    std::atomic<int> m_readError{0};
    std::size_t m_longestLength = 0;
    LineNumber m_longestSlot = 0; // of the window; meaningful while m_longestLength > 0
    std::uint64_t m_textGeneration = 0;
    // The document's open last line as the window holds it: its slot holds the decode of
    // its bytes up to safeEnd (safeLength characters) followed by the decode of the rest
    // known when it was decoded; stale once more bytes were appended to it.
    struct OpenTail {
        bool valid = false;
        bool stale = false;
        LineNumber line = 0;
        FileOffset safeEnd = 0;
        std::size_t safeLength = 0;
    } m_tail;
    DocSelection m_selection;
    FindPosition m_findPos;
    LineMarks m_marks;
    LineNumber m_windowFirst = 0;
    LineNumber m_windowEnd = 0;
    bool m_reindexPending = false;
    bool m_openedMissing = false; // opened while missing, nothing indexed since
    std::function<bool()> m_indexingStop;
    bool m_indexingStopped = false; // the last indexFile ended on m_indexingStop
    std::size_t m_indexPieceBytes = 8 << 20;
    unsigned m_indexThreads = indexingThreads();
    bool m_openStopped = false;
    std::function<std::uint64_t()> m_availableMemory;
    std::size_t m_nextBoundCheck = 0;        // index bytes at which the figure is read again
    IndexStop m_indexStop;                   // guarded by docAccess
    bool m_sizeless = false;                 // reports size 0 but held text (/proc files)
    std::vector<std::u16string> m_lineCache; // WindowLines + 1 slots
    // The window's long lines that were asked for, each with the part of it decoded: its
    // slot stays empty. An entry keeps its text where it is while it lives (the paint
    // draws from it), and goes when its line leaves the window.
    struct LongPart {
        LineNumber line = 0;
        FileOffset bytes = 0;    // of the line, terminator included, when decoded
        std::int64_t piece = -1; // the first piece it was decoded for; -1: none decoded
        std::int64_t endPiece = 0;
        std::int64_t first = 0;
        std::int64_t columns = -1; // -1: not known for these bytes
        std::uint64_t generation = 0;
        std::u16string text;
    };
    std::vector<std::unique_ptr<LongPart>> m_longParts;
    // The parts of wrapped long lines' rows (longLineColumnsPart), kept likewise.
    std::vector<std::unique_ptr<LongPart>> m_wrapParts;
    // The entry of the line in parts, made afresh (nothing known) for other bytes or text.
    LongPart& longEntry(std::vector<std::unique_ptr<LongPart>>& parts, LineNumber line);
    // The entry's part of pieces [piece, endPiece), decoded unless held.
    LinePart decodeLongPieces(LongPart& part, std::int64_t piece, std::int64_t endPiece);
    std::int64_t m_longFocus = 0;
    LineIndex m_index;
    std::vector<Keyword> m_keywords;
    quill::TextEncoding m_chosenEncoding = quill::TextEncoding::Automatic;
    // What the last open chose, Automatic when the first bytes decide; guarded by docAccess.
    quill::TextEncoding m_openEncoding = quill::TextEncoding::Automatic;
    // Terminal colours: read by the filter's threads, hence atomic.
    std::atomic<bool> m_terminalColors{false};
    std::atomic<bool> m_showControls{false};
    std::atomic<char16_t> m_crSymbol{LoneCrSymbol};
    // The lines' text is shown another way: what pointed into the old text goes.
    void restartShownText();
    // The styles of the window's lines that have any, by line number; a line leaving the
    // window takes its entry along when the window moves.
    std::vector<std::pair<LineNumber, StyleRuns>> m_lineRuns;
    // Decoded window text as shown: strips a line's sequences and records its styles.
    void showDecodedLine(LineNumber line, std::u16string& text);
    // The first prefix characters of a decoded line are shown as they are decoded: no
    // sequence may be taken out of them, no carriage return writes over them.
    bool shownAsDecoded(std::u16string_view decoded, std::size_t prefix) const;
    bool m_newTextArrived = false;
    std::uint64_t m_indexEpoch = 0; // guarded by docAccess
    std::mutex m_listenerMutex;
    std::vector<AppendListener*> m_appendListeners; // guarded by m_listenerMutex
    std::uint64_t m_contentGeneration = 0;
    mutable std::recursive_mutex m_docAccess;
};
