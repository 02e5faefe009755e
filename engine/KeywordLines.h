#pragma once

// KeywordLines: which lines of the whole document a keyword colours, found on a thread of
// its own and kept up to date as the file grows, for the jumps to the next and previous
// keyword line and for the overview strip beside the scroll bar.
//
// The worker reads the lines it has not checked yet in chunks (the line starts are copied
// under docAccess, the bytes are read and matched without it, as the filter does), so a
// growing file costs only its new lines: an append is never a rescan. The open last line
// is left for later; it is checked once a line feed ends it. A new index (open, reload,
// Clear) or another keyword list starts the work over. With terminal colours on, a line is
// matched as shown, without its control sequences, as the log view colours it.
//
// Memory: the keyword lines (4 bytes each) and, for the strip, one byte per bucket of lines
// (at most MaxBuckets buckets: when the file outgrows them, neighbouring buckets are merged
// and each bucket covers twice the lines). A bucket holds the first keyword of its lines.
//
// Threads: every public call is for the main thread except that `notify` is called on the
// worker after new results (at most every NoticeInterval and when caught up); it must only
// post. The document must outlive this object; the destructor stops and joins the worker.

#include "engine/DocumentTypes.h"
#include "settings/Keyword.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LogDocument;

class KeywordLines {
  public:
    static constexpr std::size_t MaxBuckets = 4096;

    // keywords: where the list comes from (main thread, at every Sync); none: the
    // document's keywords. The overview strip gives the find text as a keyword of its own.
    KeywordLines(LogDocument& document, std::function<void()> notify,
                 std::function<std::vector<Keyword>()> keywords = {});
    ~KeywordLines();
    KeywordLines(const KeywordLines&) = delete;
    KeywordLines& operator=(const KeywordLines&) = delete;

    // Looks at the document (its index, keywords, lines) and hands the worker what is new.
    // Cheap when nothing changed; call it after every update.
    void Sync();

    // What the strip draws: bucket b covers lines [b << shift, (b + 1) << shift) and holds
    // 1 + the index of the first keyword on them, 0 for none; buckets past the end of the
    // vector hold none. `checked` lines from the first on are known.
    struct Overview {
        std::vector<std::uint8_t> buckets;
        unsigned shift = 0;
        LineNumber checked = 0;
        std::vector<ColorRef> backgrounds; // of the keywords, by index
    };
    Overview GetOverview() const;

    enum class Outcome {
        Found,   // line holds the nearest keyword line in that direction
        Pending, // the lines in between are not checked yet: ask again after the next notice
        None,    // there is none
    };
    // The nearest keyword line after `from` (down) or before it (up) among the lines that
    // are checked; the open last line is not among them.
    Outcome Neighbour(LineNumber from, bool down, LineNumber& line) const;

    LineNumber CheckedLines() const;
    // Every line that was there at the last Sync() is checked (or the work was set aside).
    bool IsIdle() const;
    // Tests and benchmarks: waits until idle; false after the timeout.
    bool WaitIdle(std::chrono::milliseconds timeout) const;
    // Bytes held by the results.
    std::size_t MemoryBytes() const;
    // Lines read and matched since construction (tests: an append is no rescan).
    std::uint64_t LinesRead() const;

  private:
    void workerLoop();
    // Records the keyword lines of one checked chunk; caller holds m_mutex.
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
    bool m_utf16 = false;
    bool m_terminal = false; // lines are matched as terminal colours show them
    std::vector<Keyword> m_keywords;
    LineNumber m_target = 0;  // lines to check
    LineNumber m_checked = 0; // lines checked
    bool m_busy = false;
    std::vector<LineNumber> m_lines;
    std::vector<std::uint8_t> m_buckets;
    unsigned m_shift = 0;
    std::uint64_t m_linesRead = 0;
    std::thread m_thread;
};
