#pragma once

// DocumentTimeIndex: a document's TimeIndex, built on a worker thread of its own and kept up
// with the document: extended as the watcher appends lines, started over when the document's
// index does (open, reload, New, Clear). The layout of the times is chosen from the first
// DetectLines complete lines (or all there are, at the end of the file) and the file's
// modification time, and kept until the index starts over; while a followed file holds too
// few lines to tell, the choice waits for more.
//
// A stretch of at least SampleFromBytes (a large log's first build, a reload) is indexed from
// samples: the lines at the start of each group of TimeIndex::GroupLines lines, one small read
// a group, so the index costs a fraction of reading the file (see TimeIndex for what that
// means for Go to Time), whether keywords are counted or not (then from the bytes the counting
// reads). Its first group, a UTF-16 log and the lines a followed log appends are read whole.
//
// Lines are read as bytes, at most PrefixBytes of each (a line's time sits near its start):
// a UTF-16 file's code units below 128 are narrowed to their ASCII bytes, every other unit
// becomes '?', so the layouts read it as they read any narrow file.
//
// For the timeline, the index can also count the lines each keyword colours per group of
// lines (setCountedKeywords), from the bytes it reads for the times: a log is read once for
// both. Lines it indexed before the counting began are read once more, for the counts alone.
// While counting, the lines are read whole (up to CountedLineBytes), as the keyword search
// reads them, so the counts are those KeywordLines::groupCounts would give.
//
// Threads: start() and the destructor on the main thread (the owner calls start() once the
// first paint is done: opening never waits for the index). The worker, and the second lane it
// takes for a long stretch of lines, take docAccess only to copy a piece's line starts
// (LogDocument::copyLinesStartingIn) or a batch's group starts, never while they read or
// parse.
// The queries may be called on any thread; they take the index's own lock and docAccess
// briefly, and read at most one group of lines. Do not hold docAccess while destroying it.
// The document must outlive it.

#include "engine/DocumentTypes.h"
#include "engine/KeywordScan.h"
#include "engine/LineTime.h"
#include "engine/LogDocument.h"
#include "engine/TimeIndex.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quill {
class ReadOnlyFile;
}

class DocumentTimeIndex : private LogDocument::AppendListener {
  public:
    static constexpr std::size_t DetectLines = 200;
    static constexpr std::size_t PrefixBytes = 256;
    // Of a longer line only this much is searched for keywords (as by KeywordLines).
    static constexpr std::size_t CountedLineBytes = std::size_t{4} << 20;
    static constexpr FileOffset SampleFromBytes = FileOffset{64} << 20;

    enum class State {
        Idle,     // not started
        Building, // reading the lines that were there when the index (re)started
        Ready,    // those are read; lines appended since are read as they come
        NoTimes,  // the log's first lines hold no time in any known layout
    };

    explicit DocumentTimeIndex(LogDocument& document);
    ~DocumentTimeIndex() override;
    DocumentTimeIndex(const DocumentTimeIndex&) = delete;
    DocumentTimeIndex& operator=(const DocumentTimeIndex&) = delete;

    // Called on the worker each time it has caught up with the document (set before start).
    void setCaughtUpCallback(std::function<void()> callback) { m_caughtUp = std::move(callback); }
    // Starts the worker, or tells it to look at the document again. Main thread.
    void start();
    // Stretches of at least this many bytes are sampled (SampleFromBytes unless set; tests).
    void setSampleFromBytes(FileOffset bytes);

    State state() const;
    // Lines indexed out of the document's complete lines, for a progress note.
    LineNumber indexedLines() const;

    // The time of a document line: its own, else that of the nearest earlier line with one.
    std::optional<TimeMs> timeOfLine(LineNumber line) const;
    // The time of the last indexed line.
    std::optional<TimeMs> lastLineTime() const;
    // The first time of the log.
    std::optional<TimeMs> firstTime() const;

    struct Found {
        enum class Where { Inside, BeforeFirst, AfterLast };
        LineNumber line = 0;
        Where where = Where::Inside;
    };
    // The first line whose running latest time reaches t; before the first time the first
    // line, after the last the last indexed line. None while not Ready (or NoTimes).
    std::optional<Found> firstLineAtOrAfter(TimeMs t) const;

    // Earliest and latest time of each block of lines (for a timeline).
    std::vector<TimeIndex::Block> blocks() const;
    // TimeIndex::groupLatest of the lines indexed so far (for a timeline).
    std::vector<TimeMs> groupLatest() const;
    std::size_t memoryBytes() const;

    // Counts the lines each of keywords colours (in the document's encoding and showing as
    // they are now), per group of TimeIndex::GroupLines lines; none enabled: no counting.
    // Starts the counts over when any of these changed. Main thread; cheap when nothing did.
    void setCountedKeywords(const std::vector<Keyword>& keywords);
    struct GroupCounts {
        // keywords.size() bytes a group, for the groups of the first `lines` lines.
        std::vector<std::uint8_t> counts;
        std::vector<Keyword> keywords;
        LineNumber lines = 0;
    };
    GroupCounts groupCounts() const;

    // Waits until the worker has caught up with the document as it is now; false after the
    // timeout. Tests and benchmarks.
    bool waitCaughtUp(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  private:
    struct Job {
        std::uint64_t epoch = 0;
        std::string path;
        quill::TextEncoding encoding = quill::TextEncoding::Locale;
    };
    void textAppended(FileOffset offset, const std::uint8_t* bytes, std::size_t n) override;
    void indexRestarted() override;
    void workerLoop();
    // Indexes lines up to the document's complete lines; false when the epoch moved on.
    bool catchUp(const Job& job);
    // What a pass does with the lines it reads: their times (else only their keywords, for
    // the lines indexed before the counting began), and their keywords.
    struct PassPlan {
        bool times = true;
        bool count = false;
        // The times of the lines at each group's start only (the counts need every line read).
        bool sample = false;
        std::uint64_t countGeneration = 0;
        LineNumber limit = ~LineNumber(0); // one past the last line to read
    };
    // Indexes (or counts) the complete lines from next (which starts at base) in pieces, for
    // as long as the index is the one of epoch; the lines added.
    LineNumber indexFrom(const quill::ReadOnlyFile& file, quill::TextEncoding encoding,
                         std::uint64_t epoch, LineNumber next, FileOffset base,
                         const LineTimeReader& reader, const PassPlan& plan);
    // Adds the complete groups from next (a group's first line) from samples, for as long as
    // the index is the one of epoch; the groups added.
    LineNumber sampleFrom(const quill::ReadOnlyFile& file, quill::TextEncoding encoding,
                          std::uint64_t epoch, LineNumber next, const LineTimeReader& reader);
    // The plan for the next pass from next (m_mutex held); scans made for the counting's
    // keywords where they changed.
    PassPlan planPass(LineNumber next);
    // Adds a piece's keyword lines (rows from first) to the counts (m_mutex held).
    void addCounts(LineNumber first, std::size_t count,
                   const std::vector<KeywordScan::Line>& found);
    // Reader for the index's queries; caller holds m_mutex.
    bool readTimes(LineNumber first, LineNumber end,
                   std::vector<std::optional<TimeMs>>& times) const;

    LogDocument& m_doc;
    std::function<void()> m_caughtUp;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    mutable std::condition_variable m_idle;
    Job m_job;                   // the document as start() or the last restart found it
    std::uint64_t m_request = 0; // bumped for every look wanted
    std::uint64_t m_served = 0;
    bool m_quit = false;
    std::atomic<bool> m_stopping{false}; // m_quit, for the lanes to read without the lock
    State m_state = State::Idle;
    // What the worker built, for the job's epoch.
    std::uint64_t m_indexEpoch = ~std::uint64_t(0);
    TimeIndex m_index;
    std::optional<LineTimeReader> m_reader;
    bool m_noTimesFinal = false; // NoTimes from enough lines: not looked for again
    FileOffset m_sampleFromBytes = SampleFromBytes;
    // The keyword counting (see setCountedKeywords); the generation moves with every change.
    std::vector<Keyword> m_countKeywords; // empty: no counting
    quill::TextEncoding m_countForm = quill::TextEncoding::Locale;
    TextShowing m_countShowing;
    std::uint64_t m_countGeneration = 0;
    std::vector<std::uint8_t> m_counts;
    LineNumber m_countedLines = 0;
    // The lanes' scans (the first piece's, the caller's and the helper's two lanes), for
    // m_scanGeneration's keywords; used by the worker's passes only.
    std::array<std::unique_ptr<KeywordScan>, 4> m_scans;
    std::uint64_t m_scanGeneration = ~std::uint64_t(0);
    std::thread m_thread;
};
