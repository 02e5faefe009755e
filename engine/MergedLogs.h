#pragma once

// MergedLogs: several followed documents as one order of rows by time (engine/MergedOrder.h),
// kept on a worker thread of its own. The worker reads each line's time from the file
// (its first PrefixBytes, in the layout the document's first DetectLines lines show) without
// docAccess, which it takes only to copy line starts; it merges the lines as they come and
// hands the changes to the user interface, which keeps a mirror of the rows (MergedRows):
// the worker never holds a lock that a paint waits for while it reads or merges.
//
// Opening does not wait for the whole merge: with many lines, the worker first merges the
// last TailLines lines of each document and hands that order as provisional (each document's
// lines from a base line on), so the view can show the end at once; the whole order follows
// as one change when it is built. From then on, lines that come join by time, and a
// document that starts over (truncated, replaced, reloaded) leaves the order and joins again.
//
// A document whose first lines hold no time in any known layout merges as a block in file
// order before the first line with a time (timeless() names it). A line joins once it is
// complete (its line feed is written), or, as a document's open last line, once it has stayed
// as it is for OpenLineQuiet: a file that ends without a line feed shows its last line, while
// a line a program is writing waits for its end (and for the rest of its time).
//
// Threads: construct, start() and destroy on the main thread; takeChanges() and the queries
// on any thread. The changed callback runs on the worker. The documents must outlive it.

#include "engine/DocumentTypes.h"
#include "engine/LineTime.h"
#include "engine/LogDocument.h"
#include "engine/MergedOrder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class MergedLogs {
  public:
    static constexpr std::size_t DetectLines = 200;
    static constexpr std::size_t PrefixBytes = 256;
    static constexpr LineNumber TailLines = 20'000;
    // Fewer lines than this in all documents together: no provisional order first.
    static constexpr LineNumber TailFirstAbove = 200'000;
    static constexpr std::chrono::milliseconds OpenLineQuiet{1000};

    // One change of the rows: the rows from `keep` on are now `sources` (one source number
    // a row). A provisional change shows each document's lines from bases[source] on (the
    // others are not merged yet); a final one (bases all zero) shows them all.
    struct Change {
        bool provisional = false;
        std::vector<LineNumber> bases;
        std::size_t keep = 0;
        std::vector<std::uint8_t> sources;
    };

    // Brings a mirror of the rows (and the base of each source's lines) up to the change.
    static void applyChange(const Change& change, MergedRows& rows, std::vector<LineNumber>& bases);

    // The shortest distinct part of each path for the name column: its last few components,
    // as many as it takes for no two to read the same ("a.log"; "east/app.log" beside
    // "west/app.log"). Paths that are the same keep their whole text. prefixes (none, or one
    // per path) go in front of each name and count in telling them apart ("east:app.log").
    static std::vector<std::string> shortNames(const std::vector<std::string>& paths,
                                               const std::vector<std::string>& prefixes = {});

    // documents: 1 to MergedRows::MaxSources, not owned.
    explicit MergedLogs(std::vector<LogDocument*> documents);
    ~MergedLogs();
    MergedLogs(const MergedLogs&) = delete;
    MergedLogs& operator=(const MergedLogs&) = delete;

    // Runs on the worker after it has queued changes (set before start).
    void setChangedCallback(std::function<void()> callback) { m_changed = std::move(callback); }
    // Tests: another time an open last line waits (set before start).
    void setOpenLineQuiet(std::chrono::milliseconds quiet) { m_openQuiet = quiet; }
    void start();

    // Looks at every document again: lines indexed without an append (a document that
    // reads on after a pause, or indexes what came after a Clear) join too.
    void recheck() { wake(); }

    std::size_t sourceCount() const { return m_documents.size(); }
    LogDocument& document(std::size_t source) const { return *m_documents[source]; }
    // The changes queued since the last call, oldest first.
    std::vector<Change> takeChanges();
    // Which documents hold no time in their first lines (so far).
    std::vector<bool> timeless() const;
    // Whether the whole order has been built once (no provisional order any more).
    bool complete() const;
    // The merged order's own memory, in bytes (the worker's copy).
    std::size_t memoryBytes() const;

    // Waits until the worker has merged every complete line there is now; false after the
    // timeout. Tests and benchmarks.
    bool waitCaughtUp(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  private:
    struct Listener : LogDocument::AppendListener {
        MergedLogs* owner = nullptr;
        void textAppended(FileOffset, const std::uint8_t*, std::size_t) override { owner->wake(); }
        void indexRestarted() override { owner->wake(); }
    };
    struct Source {
        std::uint64_t epoch = ~std::uint64_t(0);
        std::optional<LineTimeReader> reader;
        bool detected = false;
        LogDocument::LineRun run; // the next lines to merge
        // The open last line as last seen: where its bytes end, and since when.
        FileOffset openEnd = -1;
        std::chrono::steady_clock::time_point openSince;
    };

    void wake();
    void workerLoop();
    // Merges whatever came; false when it is to stop.
    bool catchUp();
    void buildTail();
    // Looks at the document: a new epoch restarts the source; then the layout of its times.
    void refresh(std::size_t source);
    // The own times of lines [first, end) of the source, read from its file.
    bool readTimes(std::size_t source, LineNumber first, LineNumber end,
                   std::vector<TimeMs>& times) const;
    bool readRun(std::size_t source, const LogDocument::LineRun& run, std::size_t count,
                 std::vector<TimeMs>& times) const;
    void publish(Change change);
    // Whether the source's open last line, which ends at `end`, may join (it has stayed as it
    // is long enough); else when to look again is noted in m_openDue.
    bool openLineSettled(Source& source, FileOffset end);

    std::vector<LogDocument*> m_documents;
    std::vector<std::unique_ptr<Listener>> m_listeners;
    std::function<void()> m_changed;

    // Worker only.
    std::vector<Source> m_sources;
    MergedOrder m_order;
    bool m_built = false;
    std::chrono::milliseconds m_openQuiet = OpenLineQuiet;
    // When an open last line that waits may join: the worker looks again then by itself.
    std::optional<std::chrono::steady_clock::time_point> m_openDue;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::uint64_t m_request = 0;
    std::uint64_t m_served = 0;
    bool m_quit = false;
    std::atomic<bool> m_stopping{false};
    std::vector<Change> m_changes;
    std::vector<bool> m_timeless;
    bool m_complete = false;
    std::size_t m_memory = 0;
    std::thread m_thread;
};
