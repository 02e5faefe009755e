#pragma once

// KeywordLines: which lines of the whole document a keyword colours, found on a thread of
// its own and kept up to date as the file grows, for the jumps to the next and previous
// keyword line and for the overview strip beside the scroll bar.
//
// The worker reads the lines it has not checked yet in stretches of bytes on two threads
// (each copies its stretch's line starts under docAccess, then reads and matches the bytes
// without it, as the filter does; the stretches are recorded in order as they come), so a
// growing file costs only its new lines: an append is never a rescan. Each stretch is one
// pass over its bytes for all keywords (KeywordScan), with KeywordMatcher's rule exactly.
// While the file is followed, the lines the watcher has just appended are searched right
// there, on the watcher's thread and in its buffer (LogDocument::AppendListener), when
// nothing else is at work: following costs no second read of every byte.
// The open last line is left for later; it is checked once a line feed ends it. A new
// index (open, reload, Clear), another encoding, terminal colours switched or another
// keyword list starts the work over.
//
// Memory: the keyword lines as the filter keeps its matches (FilterMatches, about 2 bytes
// a line) and, for the strip, one byte per bucket of lines (at most MaxBuckets buckets:
// when the file outgrows them, neighbouring buckets are merged and each bucket covers twice
// the lines). A bucket holds the first keyword of its lines. For the timeline, a byte per
// keyword for each group of 128 lines (a 1 GiB log of ten million lines and ten keywords:
// under a megabyte).
//
// Threads: every public call is for the main thread except that `notify` is called on the
// worker after new results (at most every tenth of a second during a pass, and soon after
// it has caught up); it must only post. Either the worker or the watcher's run works at a
// time (m_running). The document must outlive this object; the destructor stops and joins
// the worker.

#include "engine/DocumentTypes.h"
#include "engine/FilterMatches.h"
#include "engine/KeywordScan.h"
#include "engine/LogDocument.h"
#include "platform/ReadOnlyFile.h"
#include "platform/TextEncoding.h"
#include "settings/Keyword.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KeywordLines : private LogDocument::AppendListener {
  public:
    static constexpr std::size_t MaxBuckets = 4096;

    // keywords: where the list comes from (main thread, at every Sync); none: the
    // document's keywords. The overview strip gives the find text as a keyword of its own.
    KeywordLines(LogDocument& document, std::function<void()> notify,
                 std::function<std::vector<Keyword>()> keywords = {});
    ~KeywordLines() override;
    KeywordLines(const KeywordLines&) = delete;
    KeywordLines& operator=(const KeywordLines&) = delete;

    // Looks at the document (its index, keywords, lines) and hands the worker what is new.
    // Cheap when nothing changed; call it after every update.
    void sync();

    // What the strip draws: bucket b covers lines [b << shift, (b + 1) << shift) and holds
    // 1 + the index of the first keyword on them, 0 for none; buckets past the end of the
    // vector hold none. `checked` lines from the first on are known.
    struct Overview {
        std::vector<std::uint8_t> buckets;
        unsigned shift = 0;
        LineNumber checked = 0;
        std::vector<ColorRef> backgrounds; // of the keywords, by index
    };
    Overview overview() const;

    // For the timeline: per group of CountGroupLines lines (as the time index groups them),
    // how many of its checked lines each keyword colours (keywords.size() bytes a group);
    // only the groups of the checked lines are there.
    static constexpr LineNumber CountGroupLines = 128;
    struct GroupCounts {
        std::vector<std::uint8_t> counts;
        std::vector<Keyword> keywords;
    };
    GroupCounts groupCounts() const;

    enum class Outcome {
        Found,   // line holds the nearest keyword line in that direction
        Pending, // the lines in between are not checked yet: ask again after the next notice
        None,    // there is none
    };
    // The nearest keyword line after `from` (down) or before it (up) among the lines that
    // are checked; the open last line is not among them.
    Outcome neighbour(LineNumber from, bool down, LineNumber& line) const;

    LineNumber checkedLines() const;
    // Every line that was there at the last sync() is checked (or the work was set aside).
    bool isIdle() const;
    // Tests and benchmarks: waits until idle; false after the timeout.
    bool waitIdle(std::chrono::milliseconds timeout) const;
    // Bytes held by the results.
    std::size_t memoryBytes() const;
    // Lines read and matched since construction (tests: an append is no rescan).
    std::uint64_t linesRead() const;
    // Bytes read from the file since construction (tests: the watcher's pieces are not read
    // again).
    std::uint64_t bytesRead() const;

  private:
    void workerLoop();
    // AppendListener, on the watcher's thread: the piece's complete lines, searched where
    // the watcher holds them, when nothing else is at work.
    void textAppended(FileOffset offset, const std::uint8_t* bytes, std::size_t n) override;
    // Takes the work for the caller (m_mutex held): the scan for the current keywords.
    void claim();
    // Lines [from, count) of run read from the file and searched into m_found; false when
    // the file could not be read. Holder of the work only.
    bool scanFromFile(const LogDocument::LineRun& run, std::size_t from, std::size_t count,
                      const std::string& path);
    // Lines [next, target) the same way, on this thread and a helper, each recorded as soon
    // as its stretch is searched; false when the pass could not go on (the file could not
    // be read, the index or the work started over). Worker only.
    bool scanInLanes(std::uint64_t generation, std::uint64_t epoch, LineNumber next,
                     LineNumber target, const std::string& path);
    bool openFile(const std::string& path);
    void scanPiece(const std::uint8_t* bytes, const FileOffset* starts, std::size_t firstRow,
                   std::size_t count);
    // Gives the work back and records m_found for count lines from next, unless the work
    // started over meanwhile; lock holds m_mutex.
    void finish(std::unique_lock<std::mutex>& lock, std::uint64_t generation, std::uint64_t epoch,
                LineNumber next, std::size_t count, bool readable);
    // Records the keyword lines found (rows from `first`) and count lines checked from first,
    // unless the work started over meanwhile (false); caller holds m_mutex.
    bool record(std::uint64_t generation, std::uint64_t epoch, LineNumber first, std::size_t count,
                const std::vector<KeywordScan::Line>& found);
    // Records a keyword line; caller holds m_mutex.
    void addLine(LineNumber line, std::size_t keyword);

    LogDocument& m_doc;
    std::function<void()> m_notify;
    std::function<std::vector<Keyword>()> m_source;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    mutable std::condition_variable m_idle;
    bool m_quit = false;
    std::uint64_t m_generation = 0; // bumped by every start over
    std::uint64_t m_epoch = ~std::uint64_t(0);
    std::string m_path;
    quill::TextEncoding m_form = quill::TextEncoding::Locale;
    bool m_terminal = false;
    std::vector<Keyword> m_keywords;
    bool m_active = false;    // some keyword is enabled, a file is open
    LineNumber m_target = 0;  // lines to check
    LineNumber m_checked = 0; // lines checked
    bool m_running = false;   // the worker or the watcher is at work
    bool m_noticeOwed = false;
    std::chrono::steady_clock::time_point m_lastNotice{};
    FilterMatches m_lines;
    std::vector<std::uint8_t> m_buckets;
    std::vector<std::uint8_t> m_groupCounts; // see groupCounts()
    unsigned m_shift = 0;
    std::uint64_t m_linesRead = 0;
    std::atomic<std::uint64_t> m_bytesRead{0};

    // The one at work's (see m_running).
    std::unique_ptr<KeywordScan> m_scan;
    // The worker's pass's: one for this thread, one for each of the helper's two lanes.
    std::array<std::unique_ptr<KeywordScan>, 3> m_laneScans;
    std::uint64_t m_scanGeneration = ~std::uint64_t(0);
    quill::ReadOnlyFile m_file;
    std::uint64_t m_fileGeneration = ~std::uint64_t(0);
    std::vector<std::uint8_t> m_bytes;
    std::vector<KeywordScan::Line> m_found;
    LogDocument::LineRun m_run;

    std::thread m_thread;
};
