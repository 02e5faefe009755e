#pragma once

// LineFilter: the filter view's model. It keeps the numbers of the document's lines that
// match a FilterSet (FilterMatches, ascending), and brings them up to date on its own
// worker thread as the document grows, so the user interface never waits for it.
//
// How the pane drives it (everything on the main thread unless said otherwise):
//   - setFilter(filterSet): compiles the terms; on errors nothing is filtered (the filter is
//     off and the errors are returned), otherwise the rows restart empty and the worker
//     starts on every line of the document.
//   - sync(): after every change the document announces (the append message's handler,
//     and every update of the views: open, reload, New, Clear). Appended lines are
//     filtered incrementally: only the new lines, and the last line again when it had no
//     line feed and has grown. When the document's index started over (Clear, reload, a
//     new file) the rows are dropped at once and filtering restarts at its first line, so
//     the pane shows lines from the clear point on, as the main view does.
//   - The worker calls FilterHost::postFilterProgress(); the pane answers with collect(),
//     which moves what the worker found into matches() and says what changed. Rows
//     change only inside collect(), setFilter(), clearFilter() and sync() (a reset).
//     When the watcher's own runs have checked every new line by the time of sync(), the
//     worker is not woken: sync() posts the notice itself when they found rows, and the
//     caller may take them at once with collect() (isCollected() is false until then).
//   - progress(): lines checked out of the lines to check, and the state, for the
//     pane's header. stop() ends the running pass within one line's work and keeps the
//     rows found so far; resume() goes on from there.
//   - A line a term could not decide (too complex for a regular expression, or longer than
//     the longest line held whole) is shown, never hidden: undecided() lists those of
//     the rows, for the pane to mark and count. An exclude that could not decide a line
//     keeps it.
//
// Threads and locks: the worker takes the document's lock "docAccess" only to copy the line
// starts of the next chunk (at most 64 Ki lines), never while it reads or matches, so the
// watcher keeps appending while a long pass runs. The filter also listens to the watcher
// (LogDocument::AppendListener): when the worker is idle, the lines of the piece the
// watcher has just appended are matched right there, on the watcher's thread and in its
// buffer, so following a busy file does not read every byte twice. That run is bounded: it
// gives up after a couple of milliseconds, and on the first line a pattern cannot decide
// with a tenth of its usual steps, and leaves the rest to the worker; so a slow pattern
// never holds up the watcher. Only one of the two runs at a time (m_runMutex); the watcher
// never waits for it. The document also tells the filter when its index starts over
// (reload, Clear, New); the filter then posts a notice, and the pane's collect() starts the
// rows over. Stop, a new filter and the destructor interrupt a run between two lines, so
// none of them waits for more than one line's work. Do not hold docAccess while calling
// setFilter(), clearFilter() or the destructor (they may wait for the worker, which may be
// waiting for the lock). The document must outlive the filter.

#include "engine/DocumentTypes.h"
#include "engine/FilterMatches.h"
#include "engine/FilterSet.h"
#include "engine/LogDocument.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class LogDocument;
class FilterHost;
class LineMatcher;
struct LineChunk;
enum class FilterTextForm;

enum class FilterState {
    Off,     // no filter set
    Running, // the worker is filtering lines not checked yet
    Stopped, // stopped by the user; the rows cover the lines checked so far
    Done,    // every line of the last sync() is checked
};

struct FilterProgress {
    FilterState state = FilterState::Off;
    LineNumber done = 0;  // lines checked
    LineNumber total = 0; // lines to check: the document's line count at the last sync()
};

// What a collect() (or a reset) changed in the rows.
struct FilterChange {
    bool reset = false;          // the earlier rows are gone: the list starts over
    bool lastRowRemoved = false; // the previous last row was taken back (its line grew)
    std::size_t firstNewRow = 0; // rows from here on are new
    std::size_t rowCount = 0;
    bool changed() const { return reset || lastRowRemoved || firstNewRow != rowCount; }
};

class LineFilter : private LogDocument::AppendListener {
  public:
    // Neither is owned; host may be null (nothing is posted: poll with waitIdle()).
    LineFilter(LogDocument& document, FilterHost* host);
    // Stops the worker and waits for it.
    ~LineFilter();
    LineFilter(const LineFilter&) = delete;
    LineFilter& operator=(const LineFilter&) = delete;

    // Sets the filter and starts filtering from the document's first line. Terms with
    // empty text are ignored; a set without any term turns the filter off. When a regular
    // expression does not compile, the filter is off and the errors are returned.
    std::vector<FilterError> setFilter(const FilterSet& filterSet);
    // Filters with matchers of the caller's own (tests choose what a line costs). filter()
    // is then empty.
    void setMatchers(std::shared_ptr<const LineMatcher> include,
                     std::vector<std::shared_ptr<const LineMatcher>> excludes);
    void clearFilter();
    // Checks only lines [first, end) (end ~0: every line from first on, as the document
    // grows): a time range's lines. While the filter stays set the window may only grow, the
    // start only while the window is still empty (no line was checked in it). It holds until
    // clearFilter(); when the document's index starts over, a restricted window becomes
    // empty until its owner sets it again for the new lines.
    void setLineWindow(LineNumber first, LineNumber end);
    // The set of terms last set successfully (empty when off).
    const FilterSet& filter() const { return m_filterSet; }
    bool isActive() const { return m_active; }

    // Looks at the document: a new index (Clear, reload) drops the rows and restarts;
    // new or grown lines are handed to the worker. Cheap when nothing changed. Returns
    // what it changed in the rows (a reset only).
    FilterChange sync();
    void stop();
    void resume();

    // Takes over what the worker found since the last call; starts over (a reset) when the
    // document's index did.
    FilterChange collect();
    const FilterMatches& matches() const { return m_matches; }
    // The lines among matches() that some term could not decide, ascending.
    const std::vector<LineNumber>& undecided() const { return m_undecided; }
    // Which terms left those lines undecided: bit 0 the include, bit 1 + i the i-th exclude
    // with text (the last bit stands for any beyond).
    std::uint64_t undecidedTerms() const { return m_undecidedTerms; }
    FilterProgress progress() const;
    // True once collect() has taken every row found so far: the worker may report Done a
    // moment before its notice reaches the window.
    bool isCollected() const;

    // The most lines and bytes one chunk of work takes (tests make them small to cross
    // chunk boundaries often). Takes effect with the next setFilter().
    void setChunkLimits(LineNumber lines, FileOffset bytes);
    // Lines longer than this are not read but shown as undecided (tests make it small).
    void setLongLineLimit(FileOffset bytes);
    // How long the watcher's own run may take (slow sanitizer builds need more).
    void setWatcherBudget(std::chrono::microseconds budget) { m_watcherBudget = budget; }

    // Waits until the worker has checked every line of the last sync() (or was stopped);
    // false after the timeout. Tests and benchmarks.
    bool waitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

  private:
    struct Job;
    struct Worker;
    enum class RunEnd {
        CaughtUp,   // every line up to the target is checked
        Stopped,    // stop()
        Superseded, // a new job (filter, reset) is wanted
        Unreadable, // the file or the index changed under the pass; the next sync() restarts
        Deferred,   // the watcher's run is over its budget: the worker takes over
    };

    void startJob();
    void workerLoop();
    // Bytes of the file already in memory: lines that lie wholly inside are matched there.
    struct Piece {
        FileOffset offset = 0;
        const std::uint8_t* bytes = nullptr;
        std::size_t size = 0;
    };
    // Checks lines from worker.next up to target; holds m_runMutex. With a piece, the
    // watcher's bounded run.
    RunEnd run(const Job& job, LineNumber target, Worker& worker, const Piece* piece);
    // True when the worker is idle and every line up to count is checked already (by the
    // watcher's runs): the lines are then taken as done without waking the worker.
    bool checkedByWatcher(LineNumber count, FileOffset end);
    // Why the pass stops early, or CaughtUp when it may go on.
    RunEnd interruption(const Job& job) const;
    // Matches one chunk against the job's terms into worker.found and worker.undecided;
    // false when interrupted.
    bool matchChunk(const Job& job, const LineChunk& chunk, Worker& worker);
    // Reads the bytes of lines [starts.front(), starts.back()) into the worker's buffer.
    RunEnd readChunk(const Job& job, Worker& worker, std::size_t size);
    // AppendListener, on the watcher's thread: the watcher's piece, matched where its bytes
    // are when nothing else is running, within a budget.
    void textAppended(FileOffset offset, const std::uint8_t* bytes, std::size_t n) override;
    // AppendListener, on the main thread.
    void indexRestarted() override;
    // Hands a chunk's rows to the main thread; false when the job is no longer wanted.
    bool handOver(const Job& job, std::optional<LineNumber> retract,
                  const std::vector<LineNumber>& lines, const std::vector<LineNumber>& undecided,
                  LineNumber done, bool notify);
    void postNotice(std::unique_lock<std::mutex>& lock, bool force);

    LogDocument& m_doc;
    FilterHost* m_host;

    // Main thread only.
    FilterSet m_filterSet;
    bool m_active = false;
    FilterMatches m_matches;
    std::vector<LineNumber> m_undecided;
    std::uint64_t m_undecidedTerms = 0;
    bool m_resetPending = false; // collect() reports a reset
    std::shared_ptr<const LineMatcher> m_include;
    std::vector<std::shared_ptr<const LineMatcher>> m_excludes;
    std::uint64_t m_epoch = 0;
    FilterTextForm m_form{};
    LineNumber m_chunkLines;
    FileOffset m_chunkBytes;
    FileOffset m_longLineBytes;
    std::chrono::microseconds m_watcherBudget;
    LineNumber m_syncedCount = 0;
    FileOffset m_syncedEnd = -1;

    // Shared with the worker, guarded by m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    mutable std::condition_variable m_idle;
    std::shared_ptr<const Job> m_job;
    LineNumber m_target = 0;
    std::uint64_t m_request = 0; // bumped by every sync() that found work, and every new job
    std::uint64_t m_served = 0;  // the last request the worker caught up with
    bool m_quit = false;
    bool m_running = false;
    LineNumber m_done = 0;
    bool m_noticeOutstanding = false;
    std::chrono::steady_clock::time_point m_lastNotice;
    struct Pending {
        std::uint64_t generation = 0;
        std::optional<LineNumber> retract;
        std::vector<LineNumber> lines;
        std::vector<LineNumber> undecided;
        std::uint64_t undecidedTerms = 0;
    } m_pending;

    std::atomic<std::uint64_t> m_generation{0}; // the wanted job's; the worker polls it
    std::atomic<bool> m_stopped{false};
    // The line window; the pass reads it at the start of each run.
    std::atomic<LineNumber> m_windowFirst{0};
    std::atomic<LineNumber> m_windowEnd{~LineNumber(0)};
    std::uint64_t m_nextGeneration = 0;
    std::thread m_thread;
    // Whoever runs a pass (the worker, or the watcher with its piece) holds m_runMutex and
    // uses m_worker's position and buffers.
    std::mutex m_runMutex;
    std::unique_ptr<Worker> m_worker;
};
