// A small harness for the tail engine's figures; bench/compare.sh drives it and times the
// command-line peers on the same file. Every timing of a file is preceded by reading the
// file through, so that it is measured from the page cache.
//
//   quill_bench generate FILE MIB        a realistic log, its last line a unique marker
//   quill_bench generate-lines FILE MIB MIN MAX
//                                        lines of MIN to MAX bytes (the index's long-line and
//                                        worst cases)
//   quill_bench index FILE [THREADS]     open + index: seconds, GB/s, bytes per line (THREADS 1:
//                                        on this thread alone, as on a single processor)
//   quill_bench times FILE               the time index after an open: its build time beside
//                                        the open's, bytes per line, and Go to Time's latency
//                                        (firstLineAtOrAfter at random times: median, p99, max)
//   quill_bench getline FILE COUNT       line of random far lines: median, p90 (ms)
//   quill_bench generate-coloured FILE MIB [PERCENT]
//                                        the same log as a program writes it for a terminal:
//                                        levels and names in SGR colours, in PERCENT of the
//                                        lines (100 when not given), the others plain
//   quill_bench find FILE TEXT FLAGS     Find from the top (FLAGS: c = case, w = word,
//                                        t = with terminal colours on)
//   quill_bench follow DIR SECONDS MBPS [poll]
//                                        a writer process appends in 4 KiB writes while the
//                                        document, its watcher and a main-thread loop that
//                                        reads what a paint reads follow: CPU of this
//                                        process, messages per second, catch-up, no loss
//   quill_bench latency DIR SAMPLES [poll]
//                                        lines appended at random moments: time from the
//                                        write to the main thread holding the line's text
//   quill_bench idle FILE SECONDS [poll] CPU share and wake-ups of the watcher of an idle file
//   quill_bench follow-filter DIR SECONDS MBPS TEXT
//                                        a writer thread appends in 4 KiB writes while followed,
//                                        with a filter for TEXT kept up to date (empty: none)
//   quill_bench filter FILE TEXT FLAGS   the filter pass over the whole file (FLAGS: c = case,
//                                        w = word, r = regular expression, x = exclude,
//                                        t = with terminal colours on)
//   quill_bench slow-pattern DIR [LINES BYTES]
//                                        `(.*a){20}` (each line holds 19 a's among b's, so
//                                        PCRE2 backtracks through every way to place them):
//                                        each line's time with the pattern, and how soon Stop,
//                                        a new filter and the filter's end take effect in a
//                                        pass (2000 lines of 10 kB when not given)
//   quill_bench keywords COUNT           load COUNT stored keywords, match log lines
//   quill_bench overview FILE            the keyword lines of the whole file for the overview
//                                        strip and the keyword jumps, with 10 keywords: the
//                                        first pass, its memory, and what 1000 appended lines
//                                        cost after it (a pass over the new lines only)
//   quill_bench keyword-scan FILE        the overview's keyword search alone, in memory, one
//                                        thread: its cost per byte and per keyword line
//   quill_bench jump FILE                Alt+Down from the first line when the only keyword
//                                        line is the last one: the time until it is known
//   quill_bench longline DIR MIB         peak memory to read and show one line of MIB MiB,
//                                        and the cost of showing it after small appends
//   quill_bench yes DIR SECONDS FIGURE_MIB [alternate]
//                                        the line index of the shortest lines: bytes per line
//                                        and speed of 512 MiB of `y\n` in memory (and of
//                                        `y\n` and `yy\n` alternating, which no block of one
//                                        length can hold), then a writer as fast as `yes`
//                                        into a pipe followed as standard input for SECONDS,
//                                        the memory figure FIGURE_MIB (0: the machine's):
//                                        spool, lines, index bytes and RSS twice a second,
//                                        and where the bound stopped it
//   quill_bench linetime FILE            each line's time (the layout chosen from the first 200
//                                        lines): ns per line over the whole file, beyond the
//                                        split into lines, and ns per line of a layout the
//                                        lines do not hold (the search through each line's
//                                        start that finds nothing); processor time
//
// "poll" switches change events off: the watcher then wakes on its 500 ms timer alone, as
// it does on file systems without inotify.

#include "bench/QuietHost.h"
#include "engine/DocumentHost.h"
#include "engine/DocumentTimeIndex.h"
#include "engine/FilterPattern.h"
#include "engine/KeywordLines.h"
#include "engine/KeywordMatcher.h"
#include "engine/KeywordScan.h"
#include "engine/LineFilter.h"
#include "engine/LineTime.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/TimelineCounts.h"
#include "platform/AvailableMemory.h"
#include "platform/NarrowCodec.h"
#include "platform/ReadOnlyFile.h"
#include "settings/SettingsStore.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

using quillbench::QuietHost;

// The main window's stand-in: the watcher's messages queue up and the benchmark's main
// thread takes them one by one, as the frame's event loop does.
class LoopHost : public QuietHost {
  public:
    void postFileAppended() override
    {
        QuietHost::postFileAppended();
        queue(FileMessage::Appended);
    }
    void postFileReload() override
    {
        QuietHost::postFileReload();
        queue(FileMessage::Reload);
    }
    void postFileUnreadable(int error) override
    {
        QuietHost::postFileUnreadable(error);
        queue(FileMessage::Unreadable);
    }
    // The next message, or none when none came within the time.
    std::optional<FileMessage> next(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        if (!m_cond.wait_for(lock, timeout, [this] { return !m_queue.empty(); })) {
            return std::nullopt;
        }
        const FileMessage message = m_queue.front();
        m_queue.pop_front();
        return message;
    }

  private:
    void queue(FileMessage message)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(message);
        }
        m_cond.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<FileMessage> m_queue;
};

// What the view's paint at the end of the file reads: the last screen of lines.
std::u16string paintLastScreen(LogDocument& doc)
{
    std::lock_guard lock(doc.docAccess());
    const LineNumber count = doc.lineCount();
    std::u16string last;
    for (LineNumber line = count > 50 ? count - 50 : 0; line < count; ++line) {
        last = doc.line(line);
    }
    return last;
}

WatchTiming benchTiming(bool changeEvents)
{
    WatchTiming timing;
    timing.changeEvents = changeEvents;
    return timing;
}

// Settings in a private folder, so that a benchmark never touches the user's.
struct BenchSettings {
    BenchSettings()
    {
        char pattern[] = "/tmp/quillbench-XXXXXX";
        dir = mkdtemp(pattern) ? pattern : "/tmp";
        store = std::make_unique<SettingsStore>(dir + "/user.reg", dir + "/machine.reg");
    }
    ~BenchSettings()
    {
        std::remove((dir + "/user.reg").c_str());
        std::remove((dir + "/user.reg.lock").c_str());
        std::remove((dir + "/machine.reg").c_str());
        ::rmdir(dir.c_str());
    }
    std::string dir;
    std::unique_ptr<SettingsStore> store;
};

void warm(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return;
    }
    std::vector<char> buffer(1 << 20);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

long statusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field));
        }
    }
    return 0;
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::u16string u16(const std::string& s)
{
    return quill::narrowToUtf16(s);
}

const char* const LastLineMarker = "QUILL-LAST-LINE-MARKER zebra";

int generate(const std::string& path, long mib)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        return 1;
    }
    std::mt19937 rng(1);
    const char* levels[] = {"INFO ", "DEBUG", "WARN ", "ERROR", "TRACE"};
    const char* words[] = {"connection", "request",  "user",  "session", "timeout",
                           "handler",    "database", "cache", "worker",  "queue",
                           "retry",      "payload",  "GET",   "POST",    "/api/v1/items",
                           "status=200", "id=42"};
    const long target = mib * 1024 * 1024 - long(std::strlen(LastLineMarker)) - 1;
    long written = 0;
    std::string line;
    long n = 0;
    while (written < target) {
        char stamp[64];
        const unsigned thread = unsigned(rng() % 16);
        std::snprintf(stamp, sizeof stamp, "2026-12-07 12:%02ld:%02ld.%03ld %s [t%02u] ",
                      (n / 60000) % 60, (n / 1000) % 60, n % 1000, levels[rng() % 5], thread);
        line = stamp;
        // 40-200 bytes, now and then a line of several KB (a stack trace, a dump).
        const std::size_t length = (rng() % 5000 == 0) ? 2000 + rng() % 6000 : 40 + rng() % 160;
        while (line.size() < length) {
            line += words[rng() % (sizeof words / sizeof words[0])];
            line += ' ';
        }
        line.resize(length);
        line += '\n';
        if (written + long(line.size()) > target) {
            line.assign(std::size_t(target - written), 'x');
            if (!line.empty()) {
                line.back() = '\n';
            }
        }
        std::fwrite(line.data(), 1, line.size(), out);
        written += long(line.size());
        ++n;
    }
    std::fprintf(out, "%s\n", LastLineMarker);
    std::fclose(out);
    return 0;
}

int generateColoured(const std::string& path, long mib, long percent)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        return 1;
    }
    std::mt19937 rng(1);
    // Each piece coloured and plain; a line is written in colour with the given chance.
    const char* levels[][2] = {{"\x1b[32mINFO \x1b[0m", "INFO "},
                               {"\x1b[2mDEBUG\x1b[0m", "DEBUG"},
                               {"\x1b[1;33mWARN \x1b[0m", "WARN "},
                               {"\x1b[1;31mERROR\x1b[0m", "ERROR"},
                               {"\x1b[38;5;244mTRACE\x1b[0m", "TRACE"}};
    const char* words[][2] = {{"connection", "connection"},
                              {"request", "request"},
                              {"user", "user"},
                              {"\x1b[36msession\x1b[39m", "session"},
                              {"timeout", "timeout"},
                              {"handler", "handler"},
                              {"database", "database"},
                              {"cache", "cache"},
                              {"worker", "worker"},
                              {"queue", "queue"},
                              {"retry", "retry"},
                              {"payload", "payload"},
                              {"GET", "GET"},
                              {"POST", "POST"},
                              {"/api/v1/items", "/api/v1/items"},
                              {"status=\x1b[38;2;0;200;0m200\x1b[0m", "status=200"},
                              {"id=42", "id=42"}};
    const long target = mib * 1024 * 1024 - long(std::strlen(LastLineMarker)) - 1;
    long written = 0;
    std::string line;
    long n = 0;
    while (written < target) {
        const int plain = long(rng() % 100) < percent ? 0 : 1;
        char stamp[96];
        const unsigned thread = unsigned(rng() % 16);
        std::snprintf(stamp, sizeof stamp, "%s2026-12-07 12:%02ld:%02ld.%03ld%s %s [t%02u] ",
                      plain ? "" : "\x1b[90m", (n / 60000) % 60, (n / 1000) % 60, n % 1000,
                      plain ? "" : "\x1b[0m", levels[rng() % 5][plain], thread);
        line = stamp;
        const std::size_t length = 60 + rng() % 160;
        while (line.size() < length) {
            line += words[rng() % (sizeof words / sizeof words[0])][plain];
            line += ' ';
        }
        line += '\n';
        if (written + long(line.size()) > target) {
            line.assign(std::size_t(std::max(0L, target - written)), 'x');
            if (!line.empty()) {
                line.back() = '\n';
            }
        }
        std::fwrite(line.data(), 1, line.size(), out);
        written += long(line.size());
        ++n;
    }
    std::fprintf(out, "%s\n", LastLineMarker);
    std::fclose(out);
    return 0;
}

int generateLines(const std::string& path, long mib, long minLength, long maxLength)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || minLength < 1 || maxLength < minLength) {
        return 1;
    }
    std::mt19937 rng(2);
    const std::string text(std::size_t(maxLength), 'x');
    for (long written = 0, target = mib * 1024 * 1024; written < target;) {
        const long length = std::min(
            target - written, minLength + long(rng() % std::uint32_t(maxLength - minLength + 1)));
        std::fwrite(text.data(), 1, std::size_t(length - 1), out);
        std::fputc('\n', out);
        written += length;
    }
    std::fclose(out);
    return 0;
}

int indexBench(const std::string& path, unsigned threads)
{
    BenchSettings settings;
    QuietHost host;
    double best = 1e9;
    double bestCpu = 1e9;
    long growthKb = 0;
    LineNumber lines = 0;
    FileOffset size = 0;
    std::size_t indexBytes = 0;
    for (int run = 0; run < 3; ++run) {
        warm(path);
        const long rssBefore = statusKb("VmRSS:");
        auto doc = std::make_unique<LogDocument>(&host, *settings.store);
        if (threads > 0) {
            doc->setIndexPieces(8 << 20, threads);
        }
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        if (!doc->openDocument(u16(path))) {
            return 1;
        }
        best = std::min(best, seconds(Clock::now() - start));
        bestCpu = std::min(bestCpu, cpuSeconds() - cpuStart);
        doc->stopWatching();
        lines = doc->lineCount();
        size = doc->indexedEnd();
        indexBytes = doc->indexMemoryBytes();
        if (run == 0) {
            // The peak of the first open: what the index (and everything else) needed.
            growthKb = statusKb("VmHWM:") - rssBefore;
        }
    }
    std::printf("index_seconds %.4f\nindex_cpu_seconds %.4f\nindex_gbps %.3f\nlines %u\n", best,
                bestCpu, double(size) / best / 1e9, lines);
    std::printf("index_bytes_per_line %.3f\nrss_growth_bytes_per_line %.3f\n",
                double(indexBytes) / lines, double(growthKb) * 1024.0 / lines);
    return 0;
}

int timesBench(const std::string& path)
{
    BenchSettings settings;
    QuietHost host;
    for (int run = 0; run < 2; ++run) {
        warm(path);
        auto doc = std::make_unique<LogDocument>(&host, *settings.store);
        auto start = Clock::now();
        if (!doc->openDocument(u16(path))) {
            return 1;
        }
        const double open = seconds(Clock::now() - start);
        doc->stopWatching();
        DocumentTimeIndex times(*doc);
        start = Clock::now();
        times.start();
        if (!times.waitCaughtUp(std::chrono::minutes(10))) {
            return 1;
        }
        const double build = seconds(Clock::now() - start);
        const LineNumber lines = doc->lineCount();
        std::printf("run %d\nopen_seconds %.3f\ntime_index_seconds %.3f\ntime_index_share_of_open "
                    "%.2f\nlines %u\ntime_index_bytes_per_line %.4f\n",
                    run, open, build, build / open, lines, double(times.memoryBytes()) / lines);
        const auto first = times.firstTime();
        const auto last = times.lastLineTime();
        if (!first || !last) {
            std::printf("no times\n");
            return 1;
        }
        std::mt19937_64 rng(3);
        std::vector<double> ms;
        for (int i = 0; i < 2000; ++i) {
            const TimeMs t = *first + TimeMs(rng() % std::uint64_t(*last - *first + 1));
            const auto at = Clock::now();
            const auto found = times.firstLineAtOrAfter(t);
            ms.push_back(seconds(Clock::now() - at) * 1000);
            if (!found) {
                return 1;
            }
        }
        std::sort(ms.begin(), ms.end());
        std::printf("go_to_time_ms median %.4f p99 %.4f max %.4f\n", ms[ms.size() / 2],
                    ms[ms.size() * 99 / 100], ms.back());
    }
    return 0;
}

// The index of `y\n` (or `y\n` and `yy\n` alternating) fed from memory: its bytes per line
// and its speed.
void indexShortLines(bool alternate)
{
    std::string chunk;
    while (chunk.size() < (std::size_t{1} << 20)) {
        chunk += alternate && (chunk.size() / 2) % 2 != 0 ? "yy\n" : "y\n";
    }
    chunk.resize(chunk.rfind('\n') + 1);
    LineIndex index;
    const auto start = Clock::now();
    std::size_t fed = 0;
    while (fed < (std::size_t{512} << 20)) {
        index.append(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
        fed += chunk.size();
    }
    const double took = seconds(Clock::now() - start);
    std::printf("%s: %u lines, index %zu bytes, %.4f bytes a line (%.1f%% of the text), "
                "%.2f GB/s\n",
                alternate ? "y and yy alternating" : "y", index.lineCount(), index.memoryBytes(),
                double(index.memoryBytes()) / index.lineCount(),
                100.0 * double(index.memoryBytes()) / double(fed), double(fed) / took / 1e9);
}

int yesBench(const std::string& dir, double secondsToRun, long figureMib, bool alternate)
{
    indexShortLines(false);
    indexShortLines(true);
    BenchSettings settings;
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    const std::uint64_t figure = std::uint64_t(figureMib) << 20;
    if (figureMib > 0) {
        // As the machine's figure does: what the index takes is no longer available.
        doc.setAvailableMemory([figure, &doc] {
            return figure - std::min<std::uint64_t>(figure, doc.indexMemoryBytes());
        });
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) {
        return 1;
    }
    SourceOptions options;
    options.folder = dir;
    int error = 0;
    std::unique_ptr<LogSource> source =
        LogSource::followStream(fds[0], u"standard input", options, error);
    if (!source) {
        std::fprintf(stderr, "no spool in %s: %s\n", dir.c_str(), std::strerror(error));
        return 1;
    }
    LogSource* followed = source.get();
    const long rssBefore = statusKb("VmRSS:");
    if (!doc.openSource(std::move(source))) {
        return 1;
    }
    // The writer: what `yes` does, 64 KiB writes as fast as the pipe takes them.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::string block;
        while (block.size() < 65536) {
            block += alternate && (block.size() / 2) % 2 != 0 ? "yy\n" : "y\n";
        }
        block.resize(block.rfind('\n') + 1);
        std::size_t at = 0;
        while (!stop.load()) {
            const ssize_t put = ::write(fds[1], block.data() + at, block.size() - at);
            if (put > 0) {
                at = (at + std::size_t(put)) % block.size();
            } else {
                pollfd out{fds[1], POLLOUT, 0};
                ::poll(&out, 1, 20);
            }
        }
    });
    std::printf("figure %s, writing %s\n",
                figureMib > 0
                    ? (std::to_string(figureMib) + " MiB").c_str()
                    : (std::to_string(quill::availableMemoryBytes() >> 20) + " MiB (the machine's)")
                          .c_str(),
                alternate ? "y and yy alternating" : "y");
    std::printf("%8s %12s %14s %14s %10s %12s\n", "seconds", "spool_MB", "lines", "index_bytes",
                "bytes/line", "rss_grown_MB");
    const auto start = Clock::now();
    std::size_t mostIndex = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const double at = seconds(Clock::now() - start);
        const SourceStatus status = followed->Status();
        const LineNumber lines = doc.lineCount();
        const std::size_t indexBytes = doc.indexMemoryBytes();
        mostIndex = std::max(mostIndex, indexBytes);
        std::printf("%8.1f %12.1f %14u %14zu %10.4f %12.1f\n", at, double(status.spooled) / 1e6,
                    lines, indexBytes, lines ? double(indexBytes) / lines : 0.0,
                    double(statusKb("VmRSS:") - rssBefore) / 1024.0);
        std::fflush(stdout);
        if (at >= secondsToRun) {
            break;
        }
    }
    const LogDocument::IndexStop stopped = doc.indexStopped();
    const SourceStatus status = followed->Status();
    if (stopped.limit != LogDocument::IndexStop::Limit::None) {
        std::printf(
            "stopped at %u lines (%s), bound %llu bytes, index %zu bytes at most: %s; "
            "input %s\n",
            stopped.lines,
            stopped.limit == LogDocument::IndexStop::Limit::Memory ? "memory" : "line numbers",
            static_cast<unsigned long long>(stopped.bound), mostIndex,
            mostIndex <= stopped.bound || stopped.bound == 0 ? "the bound held"
                                                             : "THE BOUND WAS PASSED",
            status.problem == SourceStatus::Problem::IndexFull ? "no longer read" : "STILL READ");
    } else {
        std::printf("not stopped: index %zu bytes at most\n", mostIndex);
    }
    stop.store(true);
    writer.join();
    doc.closeDocument();
    ::close(fds[1]);
    ::close(fds[0]);
    return 0;
}

int getlineBench(const std::string& path, int count)
{
    BenchSettings settings;
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    const LineNumber lines = doc.lineCount();
    doc.line(lines - 1);
    std::mt19937 rng(3);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const LineNumber line = LineNumber(rng() % lines);
        const auto start = Clock::now();
        doc.line(line);
        ms.push_back(seconds(Clock::now() - start) * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("getline_median_ms %.3f\ngetline_p90_ms %.3f\ngetline_max_ms %.3f\n",
                ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
    return 0;
}

int findBench(const std::string& path, const std::string& text, const std::string& flagText)
{
    BenchSettings settings;
    settings.store->setBool(Setting::TerminalColors, flagText.find('t') != std::string::npos);
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    unsigned flags = 0;
    if (flagText.find('c') != std::string::npos) {
        flags |= FR_MATCHCASE;
    }
    if (flagText.find('w') != std::string::npos) {
        flags |= FR_WHOLEWORD;
    }
    doc.line(0);
    double best = 1e9;
    double bestCpu = 1e9;
    bool found = false;
    for (int run = 0; run < 3; ++run) {
        warm(path);
        doc.setFindPosition(0, 0);
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        found = doc.find(u16(text), true, flags);
        best = std::min(best, seconds(Clock::now() - start));
        bestCpu = std::min(bestCpu, cpuSeconds() - cpuStart);
    }
    const bool onLastLine = found && doc.selection().startLine == doc.lineCount() - 1;
    std::printf("find_seconds %.4f\nfind_cpu_seconds %.4f\nfind_gbps %.3f\nfind_on_last_line %d\n",
                best, bestCpu, double(doc.indexedEnd()) / best / 1e9, onLastLine ? 1 : 0);
    return onLastLine ? 0 : 2;
}

// The writer runs in a process of its own, so that this process's CPU time is the
// follower's alone. It starts when it reads a byte from `go` and reports "bytes lines".
pid_t startWriter(const std::string& path, double duration, double mbps, int go, int report)
{
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    char byte = 0;
    if (::read(go, &byte, 1) != 1) {
        ::_exit(1);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    long serial = 0;
    long lines = 0;
    long written = 0;
    const double bytesPerSecond = mbps * 1e6;
    // Lines are made a megabyte at a time, so that the writer keeps up at 150 MB/s on a
    // busy machine; they go out in 4 KiB writes.
    std::vector<char> block;
    block.reserve((1 << 20) + 256);
    const std::string_view head = "2026-12-07 12:00:00.000 INFO follow line ";
    const std::string_view tail = " with some payload text to make it realistic\n";
    const auto start = Clock::now();
    while (seconds(Clock::now() - start) < duration) {
        block.clear();
        while (block.size() < (1 << 20)) {
            block.insert(block.end(), head.begin(), head.end());
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, serial++).ptr;
            block.insert(block.end(), digits, end);
            block.insert(block.end(), tail.begin(), tail.end());
            ++lines;
        }
        for (std::size_t at = 0; at < block.size();) {
            const std::size_t n = std::min<std::size_t>(4096, block.size() - at);
            if (::write(fd, block.data() + at, n) != ssize_t(n)) {
                ::_exit(1);
            }
            at += n;
            written += long(n);
            const double due = double(written) / bytesPerSecond;
            const double now = seconds(Clock::now() - start);
            if (due > now) {
                std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
            }
        }
    }
    ::close(fd);
    const std::string line = std::to_string(written) + " " + std::to_string(lines) + "\n";
    if (::write(report, line.data(), line.size()) != ssize_t(line.size())) {
        ::_exit(1);
    }
    ::_exit(0);
}

int followBench(const std::string& dir, double duration, double mbps, bool changeEvents)
{
    const std::string path = dir + "/follow.log";
    {
        std::ofstream(path, std::ios::trunc);
    }
    int go[2];
    int report[2];
    if (::pipe(go) != 0 || ::pipe(report) != 0) {
        return 1;
    }
    // Forked before any thread of ours exists.
    const pid_t writer = startWriter(path, duration, mbps, go[0], report[1]);
    BenchSettings settings;
    LoopHost host;
    LogDocument doc(&host, *settings.store);
    doc.setWatchTiming(benchTiming(changeEvents));
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    const double cpuBefore = cpuSeconds();
    const int postsBefore = host.appended;
    if (::write(go[1], "g", 1) != 1) {
        return 1;
    }
    const auto start = Clock::now();
    long written = -1;
    long linesWritten = 0;
    double writeSeconds = 0;
    double cpuWriting = 0;
    int postsWriting = 0;
    while (seconds(Clock::now() - start) < duration + 20) {
        if (host.next(std::chrono::milliseconds(5)) == FileMessage::Appended) {
            paintLastScreen(doc);
        }
        if (written < 0) {
            pollfd fd{report[0], POLLIN, 0};
            if (::poll(&fd, 1, 0) == 1) {
                char text[64] = {};
                if (::read(report[0], text, sizeof text - 1) <= 0 ||
                    std::sscanf(text, "%ld %ld", &written, &linesWritten) != 2) {
                    return 1;
                }
                writeSeconds = seconds(Clock::now() - start);
                cpuWriting = cpuSeconds() - cpuBefore;
                postsWriting = host.appended - postsBefore;
            }
        } else if (doc.indexedEnd() >= written) {
            break;
        }
    }
    const double lag = seconds(Clock::now() - start) - writeSeconds;
    doc.stopWatching();
    ::waitpid(writer, nullptr, 0);
    const bool complete =
        doc.indexedEnd() == written && doc.lineCount() == LineNumber(linesWritten);
    std::printf("follow_mbps_written %.1f\nfollow_lines %ld\nfollow_indexed_lines %u\n"
                "follow_catch_up_seconds %.3f\nfollow_no_loss %d\nfollow_cpu_percent %.2f\n"
                "follow_messages_per_second %.1f\n",
                double(written) / writeSeconds / 1e6, linesWritten, doc.lineCount(), lag,
                complete ? 1 : 0, 100.0 * cpuWriting / writeSeconds,
                double(postsWriting) / writeSeconds);
    std::remove(path.c_str());
    return complete ? 0 : 2;
}

int latencyBench(const std::string& dir, int samples, bool changeEvents)
{
    BenchSettings settings;
    LoopHost host;
    const std::string path = dir + "/latency.log";
    {
        std::ofstream(path, std::ios::trunc);
    }
    LogDocument doc(&host, *settings.store);
    doc.setWatchTiming(benchTiming(changeEvents));
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    // Each line carries the moment of its write; the writes come at random moments, 20 to
    // 200 ms apart, each line in one write.
    std::thread writer([&] {
        std::mt19937 rng(11);
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        for (int i = 0; i < samples; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(20000 + rng() % 180000));
            const long long stamp = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        Clock::now().time_since_epoch())
                                        .count();
            const std::string line = "2026-12-07 12:00:00.000 INFO t=" + std::to_string(stamp) +
                                     " sample " + std::to_string(i) + "\n";
            if (::write(fd, line.data(), line.size()) != ssize_t(line.size())) {
                break;
            }
        }
        ::close(fd);
    });
    std::vector<double> ms;
    LineNumber seen = 0;
    const auto start = Clock::now();
    while (int(ms.size()) < samples && seconds(Clock::now() - start) < samples * 0.25 + 30) {
        if (host.next(std::chrono::milliseconds(100)) != FileMessage::Appended) {
            continue;
        }
        paintLastScreen(doc);
        const auto now = Clock::now().time_since_epoch();
        const LineNumber count = doc.lineCount();
        for (; seen < count; ++seen) {
            const std::u16string text = doc.line(seen);
            const std::size_t at = text.find(u"t=");
            if (at == std::u16string::npos) {
                continue;
            }
            long long stamp = 0;
            for (std::size_t i = at + 2; i < text.size() && text[i] >= u'0' && text[i] <= u'9';
                 ++i) {
                stamp = stamp * 10 + (text[i] - u'0');
            }
            ms.push_back(
                double(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() - stamp) /
                1e6);
        }
    }
    writer.join();
    doc.stopWatching();
    std::remove(path.c_str());
    if (ms.empty()) {
        return 2;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("latency_samples %zu\nlatency_median_ms %.3f\nlatency_p95_ms %.3f\n"
                "latency_max_ms %.3f\n",
                ms.size(), ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    return int(ms.size()) == samples ? 0 : 2;
}

int idleBench(const std::string& path, double duration, bool changeEvents)
{
    BenchSettings settings;
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    doc.setWatchTiming(benchTiming(changeEvents));
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    // Settle: the watcher's first poll and the open's own work are not idling.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(duration));
    const double cpu = cpuSeconds() - cpuBefore;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double wall = seconds(Clock::now() - start);
    doc.stopWatching();
    // The main thread's one sleep is a switch too; what is left is the watcher's.
    const long switches =
        (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw) - 1;
    std::printf("idle_cpu_percent %.4f\nidle_wakeups_per_second %.2f\n", 100.0 * cpu / wall,
                double(switches) / wall);
    return 0;
}

// The follow benchmark in one process (writer, watcher and a user-interface thread), with a
// filter kept up to date when filterText is not empty: what the filter adds to following.
int followFilterBench(const std::string& dir, double duration, double mbps,
                      const std::string& filterText)
{
    BenchSettings settings;
    QuietHost host;
    const std::string path = dir + "/follow.log";
    {
        std::ofstream(path, std::ios::trunc);
    }
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    std::unique_ptr<LineFilter> filter;
    if (!filterText.empty()) {
        filter = std::make_unique<LineFilter>(doc, nullptr);
        filter->setFilter(FilterSet{FilterTerm{u16(filterText), true, false, false}, {}});
    }
    // The user-interface thread: what the main window does for each append message.
    std::atomic<bool> following{true};
    std::thread ui([&] {
        int seen = 0;
        while (following.load()) {
            const int now = host.appended.load();
            if (now == seen) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            seen = now;
            doc.lineCount();
            if (filter) {
                filter->sync();
                filter->collect();
            }
        }
    });
    // The writer is this thread; its own CPU is the benchmark's, not the program's.
    const double cpuStart = cpuSeconds();
    const double writerStart = threadCpuSeconds();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    std::string block;
    long serial = 0;
    long linesWritten = 0;
    const double bytesPerSecond = mbps * 1e6;
    const auto start = Clock::now();
    long written = 0;
    std::string pending;
    while (seconds(Clock::now() - start) < duration) {
        while (pending.size() < 4096) {
            pending += "2026-12-07 12:00:00.000 INFO follow line " + std::to_string(serial++) +
                       " with some payload text to make it realistic\n";
            ++linesWritten;
        }
        if (::write(fd, pending.data(), 4096) != 4096) {
            return 1;
        }
        pending.erase(0, 4096);
        written += 4096;
        const double due = double(written) / bytesPerSecond;
        const double now = seconds(Clock::now() - start);
        if (due > now) {
            std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
        }
    }
    if (::write(fd, pending.data(), pending.size()) != ssize_t(pending.size())) {
        return 1;
    }
    written += long(pending.size());
    ::close(fd);
    const double writerCpu = threadCpuSeconds() - writerStart;
    const double writeSeconds = seconds(Clock::now() - start);
    while (doc.indexedEnd() < written && seconds(Clock::now() - start) < duration + 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double lag = seconds(Clock::now() - start) - writeSeconds;
    following = false;
    ui.join();
    const double cpu = cpuSeconds() - cpuStart - writerCpu;
    doc.stopWatching();
    bool complete = doc.indexedEnd() == written && doc.lineCount() == LineNumber(linesWritten);
    if (filter) {
        // Line i holds serial i; the filter's text picks the serials it names.
        filter->sync();
        filter->waitIdle(std::chrono::minutes(1));
        filter->collect();
        const FilterMatches& rows = filter->matches();
        std::size_t expected = 0;
        for (long i = 0; i < linesWritten; ++i) {
            const std::string line = "line " + std::to_string(i) + " with";
            if (line.find(filterText) != std::string::npos) {
                if (expected >= rows.size() || rows.at(expected) != LineNumber(i)) {
                    complete = false;
                    break;
                }
                ++expected;
            }
        }
        complete = complete && expected == rows.size();
        std::printf("follow_filter_rows %zu\n", rows.size());
    }
    std::printf("follow_cpu_seconds %.3f\n", cpu);
    std::printf("follow_mbps_written %.1f\nfollow_lines %ld\nfollow_indexed_lines %u\n"
                "follow_catch_up_seconds %.3f\nfollow_no_loss %d\n",
                double(written) / writeSeconds / 1e6, linesWritten, doc.lineCount(), lag,
                complete ? 1 : 0);
    std::remove(path.c_str());
    return complete ? 0 : 2;
}

// The filter's pass over the whole file from a warm cache: median of five, the number of
// matching lines and what their list costs.
int filterBench(const std::string& path, const std::string& text, const std::string& flagText)
{
    BenchSettings settings;
    settings.store->setBool(Setting::TerminalColors, flagText.find('t') != std::string::npos);
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    doc.line(0);
    FilterTerm term{u16(text), flagText.find('c') != std::string::npos,
                    flagText.find('w') != std::string::npos,
                    flagText.find('r') != std::string::npos};
    FilterSet filterSet;
    if (flagText.find('x') != std::string::npos) {
        filterSet.excludes.push_back(term);
    } else {
        filterSet.include = term;
    }
    std::vector<double> times;
    std::vector<double> cpu;
    std::size_t matches = 0;
    std::size_t memory = 0;
    bool atOnce = false;
    for (int run = 0; run < 5; ++run) {
        warm(path);
        LineFilter filter(doc, nullptr);
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        const std::vector<FilterError> errors = filter.setFilter(filterSet);
        if (!errors.empty()) {
            std::fprintf(stderr, "pattern error at %zu\n", errors[0].offset);
            return 1;
        }
        filter.waitIdle(std::chrono::minutes(10));
        filter.collect();
        times.push_back(seconds(Clock::now() - start));
        cpu.push_back(cpuSeconds() - cpuStart);
        matches = filter.matches().size();
        memory = filter.matches().memoryBytes();
        std::u16string message;
        std::size_t offset = 0;
        const auto compiled = FilterPattern::compile(term, message, offset);
        atOnce = compiled && compiled->matchesRunsAtOnce();
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("filter_cpu_seconds %.4f\n", cpu[cpu.size() / 2]);
    std::printf("filter_seconds %.4f\nfilter_best_seconds %.4f\nfilter_gbps %.3f\n"
                "filter_matches %zu\nfilter_bytes_per_match %.3f\nfilter_runs_at_once %d\n",
                times[times.size() / 2], times.front(),
                double(doc.indexedEnd()) / times[times.size() / 2] / 1e9, matches,
                matches ? double(memory) / double(matches) : 0.0, atOnce ? 1 : 0);
    return 0;
}

// Percentiles of a list of times, in milliseconds.
void printTimes(const char* name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))];
    };
    std::printf("%s_ms median %.2f p90 %.2f max %.2f (%zu times)\n", name, at(0.5), at(0.9),
                ms.back(), ms.size());
}

// A pattern that backtracks for seconds on every line: what one line costs, and how soon
// the pass answers the user. A wait that never ends is cut off at `cap` and shows as that.
int slowPatternBench(const std::string& dir, int lineCount, std::size_t lineBytes)
{
    const std::string path = dir + "/quill-slow-pattern.log";
    std::mt19937 rng(20);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < lineCount; ++i) {
            std::string line(lineBytes, 'b');
            for (int placed = 0; placed < 19;) {
                char& c = line[rng() % lineBytes];
                placed += c != 'a' ? 1 : 0;
                c = 'a';
            }
            out << line << '\n';
        }
    }
    BenchSettings settings;
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    doc.line(0);
    const FilterSet hard{FilterTerm{u"(.*a){20}", true, false, true}, {}};
    const FilterSet plain{FilterTerm{u"b", true, false, false}, {}};
    const auto cap = std::chrono::seconds(30);
    auto ms = [](Clock::duration d) { return 1000.0 * seconds(d); };

    // Each line alone, as the pass matches it.
    {
        std::u16string message;
        std::size_t offset = 0;
        const auto pattern = FilterPattern::compile(hard.include, message, offset);
        quill::ReadOnlyFile file = quill::ReadOnlyFile::open(path);
        FilterScratch scratch;
        std::vector<std::uint8_t> bytes(lineBytes + 1);
        std::vector<double> times;
        std::size_t undecided = 0;
        for (int i = 0; i < std::min(lineCount, 40); ++i) {
            const FileOffset start = FileOffset(i) * FileOffset(lineBytes + 1);
            if (file.readAt(bytes.data(), bytes.size(), start) != std::int64_t(bytes.size())) {
                return 1;
            }
            const FileOffset starts[2] = {start, start + FileOffset(bytes.size())};
            const LineChunk chunk{bytes.data(),         starts, 1,
                                  FilterTextForm::Utf8, false,  quill::TextEncoding::Utf8};
            std::vector<std::uint32_t> rows;
            std::vector<std::uint32_t> unsure;
            scratch.newChunk();
            const auto begin = Clock::now();
            pattern->matchLines(chunk, scratch, rows, unsure);
            times.push_back(ms(Clock::now() - begin));
            undecided += unsure.size();
        }
        printTimes("slow_line", times);
        std::printf("slow_line_undecided %zu of %zu\n", undecided, times.size());
    }

    // Stop, a new filter and the filter's end at a random moment of a pass.
    std::vector<double> stop;
    std::vector<double> refilter;
    std::vector<double> end;
    for (int trial = 0; trial < 12; ++trial) {
        auto filter = std::make_unique<LineFilter>(doc, nullptr);
        filter->setFilter(hard);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 200));
        // Stop returns at once; the worker leaves its line when it sees it, which the
        // filter's end (a join) then waits for.
        auto begin = Clock::now();
        filter->Stop();
        filter.reset();
        stop.push_back(ms(Clock::now() - begin));

        filter = std::make_unique<LineFilter>(doc, nullptr);
        filter->setFilter(hard);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 200));
        begin = Clock::now();
        filter->setFilter(plain);
        filter->waitIdle(cap);
        refilter.push_back(ms(Clock::now() - begin));

        filter->setFilter(hard);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 200));
        begin = Clock::now();
        filter.reset();
        end.push_back(ms(Clock::now() - begin));
    }
    printTimes("slow_stop_then_end", stop);
    printTimes("slow_new_filter_done", refilter);
    printTimes("slow_end", end);

    // The whole pass (cut off after 10 minutes): the time a line takes and what it found.
    {
        LineFilter filter(doc, nullptr);
        const auto begin = Clock::now();
        filter.setFilter(hard);
        if (!filter.waitIdle(std::chrono::minutes(10))) {
            filter.Stop();
        }
        filter.collect();
        const double took = seconds(Clock::now() - begin);
        const FilterProgress progress = filter.progress();
        std::printf("slow_pass_ms_per_line %.2f (%llu lines in %.2f s)\n",
                    progress.done > 0 ? 1000.0 * took / double(progress.done) : 0.0,
                    static_cast<unsigned long long>(progress.done), took);
        std::printf("slow_pass_rows %zu undecided %zu\n", filter.matches().size(),
                    filter.undecided().size());
    }
    std::remove(path.c_str());
    return 0;
}

// The levels a user colours and texts that turn up now and then, not words every line holds.
std::vector<Keyword> overviewKeywords()
{
    std::vector<Keyword> keywords;
    const char* texts[] = {"ERROR",  "WARN",       "Fatal",    "panic",    "refused",
                           "denied", "status=500", "segfault", "deadlock", "corrupt"};
    for (int i = 0; i < 10; ++i) {
        const std::string text = texts[i];
        keywords.emplace_back(std::u16string(text.begin(), text.end()), 0x000000u,
                              0x0000FFu + 0x100u * unsigned(i), i % 2 == 0, i % 3 == 0, true);
    }
    return keywords;
}

// The keyword search alone (KeywordScan, as the overview's lanes run it on 64 KiB pieces) on
// one thread over the first 256 MiB of the file held in memory: no read, no index, so that
// its own cost per byte shows. Median of five.
int keywordScanBench(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(std::size_t(256) << 20);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    std::vector<FileOffset> starts{0};
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] == '\n') {
            starts.push_back(FileOffset(at + 1));
        }
    }
    const std::size_t lineCount = starts.size() - 1;
    std::vector<double> times;
    std::size_t found = 0;
    for (int run = 0; run < 5; ++run) {
        KeywordScan scan(overviewKeywords(), quill::TextEncoding::Utf8, false);
        std::vector<KeywordScan::Line> lines;
        lines.reserve(lineCount);
        const auto start = Clock::now();
        for (std::size_t done = 0; done < lineCount;) {
            std::size_t end = done + 1;
            while (end < lineCount && starts[end + 1] - starts[done] <= (64 << 10)) {
                ++end;
            }
            scan.scan(bytes.data() + starts[done], starts.data() + done, end - done, lines);
            done = end;
        }
        times.push_back(seconds(Clock::now() - start));
        found = lines.size();
    }
    std::sort(times.begin(), times.end());
    std::printf("scan_seconds %.4f\nscan_gbps %.3f\nscan_ns_per_keyword_line %.2f\n"
                "scan_keyword_lines %zu\nscan_lines %zu\n",
                times[2], double(bytes.size()) / times[2] / 1e9, times[2] * 1e9 / double(found),
                found, lineCount);
    return 0;
}

// The keyword lines of the whole file (KeywordLines) with ten keywords, as the overview strip
// and Alt+Down find them: the first pass from a warm cache (median of three), then the work
// of 1000 lines appended to the followed file.
int overviewBench(const std::string& path)
{
    BenchSettings settings;
    settings.store->saveKeywords(overviewKeywords());
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    doc.line(0);
    std::vector<double> times;
    std::vector<double> cpu;
    std::size_t memory = 0;
    std::size_t found = 0;
    for (int run = 0; run < 3; ++run) {
        warm(path);
        KeywordLines lines(doc, nullptr);
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        lines.sync();
        lines.waitIdle(std::chrono::minutes(10));
        times.push_back(seconds(Clock::now() - start));
        cpu.push_back(cpuSeconds() - cpuStart);
        memory = lines.memoryBytes();
        LineNumber line = 0;
        found = 0;
        for (LineNumber from = 0; lines.neighbour(from, true, line) == KeywordLines::Outcome::Found;
             from = line) {
            ++found;
        }
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("overview_seconds %.4f\noverview_cpu_seconds %.4f\noverview_gbps %.3f\n"
                "overview_keyword_lines %zu\noverview_memory_bytes %zu\n"
                "overview_bytes_per_keyword_line %.3f\n",
                times[times.size() / 2], cpu[cpu.size() / 2],
                double(doc.indexedEnd()) / times[times.size() / 2] / 1e9, found, memory,
                found ? double(memory) / double(found) : 0.0);

    // Appends to the followed file: the pass covers the new lines only.
    KeywordLines lines(doc, nullptr);
    lines.sync();
    lines.waitIdle(std::chrono::minutes(10));
    // The first 64 MiB are enough to follow: what an append costs does not depend on what
    // came before it, and the disk need not hold a second copy of the whole file.
    const std::string copy = path + ".overview";
    {
        std::ifstream in(path, std::ios::binary);
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        std::vector<char> head(std::size_t(64) << 20);
        in.read(head.data(), std::streamsize(head.size()));
        std::string_view kept(head.data(), std::size_t(in.gcount()));
        kept = kept.substr(0, kept.rfind('\n') + 1);
        out.write(kept.data(), std::streamsize(kept.size()));
    }
    LogDocument grown(&host, *settings.store);
    if (!grown.openDocument(u16(copy))) {
        return 1;
    }
    grown.stopWatching();
    KeywordLines growing(grown, nullptr);
    growing.sync();
    growing.waitIdle(std::chrono::minutes(10));
    std::string block;
    for (int i = 0; i < 1000; ++i) {
        block += "2026-12-07 13:00:00.000 INFO  [t01] request " + std::to_string(i) +
                 (i % 20 == 0 ? " ERROR timeout" : " served") + "\n";
    }
    std::vector<double> appendTimes;
    const std::uint64_t readBefore = growing.linesRead();
    for (int round = 0; round < 20; ++round) {
        {
            std::ofstream out(copy, std::ios::binary | std::ios::app);
            out << block;
        }
        {
            std::lock_guard lock(grown.docAccess());
            grown.appendText(reinterpret_cast<const std::uint8_t*>(block.data()), block.size(),
                             false);
        }
        const auto start = Clock::now();
        growing.sync();
        growing.waitIdle(std::chrono::minutes(1));
        appendTimes.push_back(seconds(Clock::now() - start));
    }
    std::sort(appendTimes.begin(), appendTimes.end());
    std::printf("overview_append_1000_lines_ms %.3f\noverview_append_lines_read_per_round %.1f\n",
                1000.0 * appendTimes[appendTimes.size() / 2],
                double(growing.linesRead() - readBefore) / 20.0);
    std::remove(copy.c_str());
    return 0;
}

// A keyword-line jump (Alt+Down) from the first line when the only keyword line is the file's
// last: the jump waits for the search to reach it. Nine keywords no line holds and the last
// line's marker, from a warm cache, median of three.
int jumpBench(const std::string& path)
{
    BenchSettings settings;
    std::vector<Keyword> keywords;
    const char* texts[] = {"Fatal",    "panic",    "refused", "denied",     "status=500",
                           "segfault", "deadlock", "corrupt", "OOM-killer", "zebra"};
    for (int i = 0; i < 10; ++i) {
        const std::string text = texts[i];
        keywords.emplace_back(std::u16string(text.begin(), text.end()), 0x000000u, 0x0000FFu,
                              i % 2 == 0, i % 3 == 0, true);
    }
    settings.store->saveKeywords(keywords);
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    doc.line(0);
    std::vector<double> times;
    std::vector<double> cpu;
    LineNumber target = 0;
    for (int run = 0; run < 3; ++run) {
        warm(path);
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        KeywordLines lines(doc, nullptr);
        lines.sync();
        // As the view asks again at each notice of progress, at most every few milliseconds.
        while (lines.neighbour(0, true, target) == KeywordLines::Outcome::Pending) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        times.push_back(seconds(Clock::now() - start));
        cpu.push_back(cpuSeconds() - cpuStart);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("jump_seconds %.4f\njump_cpu_seconds %.4f\njump_target_line %u\n"
                "jump_line_count %u\n",
                times[times.size() / 2], cpu[cpu.size() / 2], unsigned(target),
                unsigned(doc.lineCount()));
    return target + 1 == doc.lineCount() ? 0 : 2;
}

// Keywords as a user with many would keep them: mixed case and whole-word switches, texts
// that do not occur in the lines, so that matching walks the whole list.
int keywordsBench(int count)
{
    BenchSettings settings;
    std::vector<Keyword> keywords;
    for (int i = 0; i < count; ++i) {
        const std::string text = "Keyword-" + std::to_string(i) + (i % 3 ? "-fault" : "");
        keywords.emplace_back(std::u16string(text.begin(), text.end()), 0x0000FFu, 0x00FFFFu,
                              i % 2 == 0, i % 5 == 0, true);
    }
    settings.store->saveKeywords(keywords);

    const auto start = Clock::now();
    std::vector<Keyword> loaded;
    settings.store->loadKeywords(loaded);
    const double load = seconds(Clock::now() - start);

    std::vector<std::u16string> lines;
    for (int i = 0; i < 100; ++i) {
        const std::string line = "2026-12-07 12:00:" + std::to_string(10 + i % 50) +
                                 " INFO worker " + std::to_string(i) +
                                 " finished request /api/v1/items in 12 ms";
        lines.emplace_back(line.begin(), line.end());
    }
    int matched = 0;
    const auto matchStart = Clock::now();
    int rounds = 0;
    do {
        for (const std::u16string& line : lines) {
            matched += findKeyword(loaded, line) != nullptr;
        }
        ++rounds;
    } while (seconds(Clock::now() - matchStart) < 0.5);
    const double perLine = seconds(Clock::now() - matchStart) / (rounds * double(lines.size()));
    std::printf("keywords_loaded %zu\n", loaded.size());
    std::printf("keywords_load_seconds %.4f\n", load);
    std::printf("keywords_match_us_per_line %.2f\n", perLine * 1e6);
    std::printf("keywords_matched %d\n", matched);
    return loaded.size() == std::size_t(count) ? 0 : 1;
}

// What the view does with one very long line: open, show it (the line, the longest line,
// the keyword colours), then let it grow by small appends and show it after each.
int longLineBench(const std::string& dir, long mib)
{
    const std::string path = dir + "/long-line.log";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        const std::string chunk(1 << 20, 'x');
        out << "first line\n";
        for (long i = 0; i < mib; ++i) {
            out << chunk;
        }
    }
    const double lineBytes = double(mib) * (1 << 20);
    BenchSettings settings;
    settings.store->saveKeywords({Keyword(u"error", 0xFF, 0, false, false, true)});
    QuietHost host;
    const long rssBefore = statusKb("VmRSS:");
    {
        LogDocument doc(&host, *settings.store);
        if (!doc.openDocument(u16(path))) {
            return 1;
        }
        doc.stopWatching();
        auto show = [&] {
            std::lock_guard lock(doc.docAccess());
            const std::u16string_view line = doc.lineView(doc.lineCount() - 1);
            ColorRef text = 0;
            ColorRef back = 0;
            bool matched = false;
            doc.keywordColors(line, text, back, matched);
            LogDocument::LongestLineKey key;
            return line.size() + doc.longestLineView(key).size() + (matched ? 1 : 0);
        };
        if (show() == 0) {
            return 1;
        }
        const long peakKb = statusKb("VmHWM:") - rssBefore;
        std::printf("longline_peak_over_size %.2f\n", double(peakKb) * 1024.0 / lineBytes);
        const int appends = 20;
        auto start = Clock::now();
        for (int i = -1; i < appends; ++i) {
            if (i == 0) {
                start = Clock::now(); // after the first, which makes room for growth
            }
            const std::string piece = "yy";
            {
                std::ofstream out(path, std::ios::binary | std::ios::app);
                out << piece;
            }
            {
                std::lock_guard lock(doc.docAccess());
                doc.appendText(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size(),
                               false);
            }
            show();
        }
        std::printf("longline_show_after_append_ms %.3f\n",
                    1000.0 * seconds(Clock::now() - start) / appends);
    }
    std::remove(path.c_str());
    return 0;
}

// One pass over every line of the mapped file, giving each to read (or only splitting it);
// the processor seconds of this thread (the machine may be busy), the lines and what read
// found.
template <typename Read>
std::tuple<double, std::size_t, std::size_t> eachLine(std::string_view text, Read read)
{
    const double start = threadCpuSeconds();
    std::size_t lines = 0;
    std::size_t found = 0;
    for (std::size_t at = 0; at < text.size();) {
        const void* feed = std::memchr(text.data() + at, '\n', text.size() - at);
        const std::size_t end =
            feed ? std::size_t(static_cast<const char*>(feed) - text.data()) : text.size();
        found += read(text.substr(at, end - at));
        ++lines;
        at = end + 1;
    }
    return {threadCpuSeconds() - start, lines, found};
}

int lineTimeBench(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    void* mapped = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    const std::string_view text(static_cast<const char*>(mapped), std::size_t(size));
    std::vector<std::string_view> sample;
    for (std::size_t at = 0; at < text.size() && sample.size() < 200;) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        sample.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    const auto reader = LineTimeReader::detect(sample, TimeMs(std::time(nullptr)) * 1000);
    if (!reader) {
        std::fprintf(stderr, "no time layout in the first lines\n");
        return 1;
    }
    const LineTimeReader missing(TimeLayout::Syslog, TimeMs(std::time(nullptr)) * 1000);
    std::vector<double> split, timed, missed;
    std::size_t lines = 0, found = 0, foundMissing = 0;
    for (int run = 0; run < 3; ++run) {
        auto [splitSeconds, splitLines, lengths] =
            eachLine(text, [](std::string_view line) { return line.size(); });
        split.push_back(splitSeconds);
        auto [timedSeconds, timedLines, timedFound] =
            eachLine(text, [&](std::string_view line) { return reader->timeOf(line).has_value(); });
        timed.push_back(timedSeconds);
        auto [missSeconds, missLines, missFound] =
            eachLine(text, [&](std::string_view line) { return missing.timeOf(line).has_value(); });
        missed.push_back(missSeconds);
        lines = timedLines;
        found = timedFound;
        foundMissing = missFound;
        if (splitLines != timedLines || missLines != timedLines || lengths == 0) {
            return 1;
        }
    }
    std::sort(split.begin(), split.end());
    std::sort(timed.begin(), timed.end());
    std::sort(missed.begin(), missed.end());
    const double perLine = 1e9 / double(lines);
    std::printf("linetime_layout %d\nlinetime_lines %zu\nlinetime_lines_with_time %zu\n"
                "linetime_split_ns_per_line %.2f\nlinetime_ns_per_line %.2f (%.2f..%.2f)\n"
                "linetime_miss_ns_per_line %.2f (%zu found)\n",
                int(reader->layout()), lines, found, split[1] * perLine,
                (timed[1] - split[1]) * perLine, (timed[0] - split[1]) * perLine,
                (timed[2] - split[1]) * perLine, (missed[1] - split[1]) * perLine, foundMissing);
    ::munmap(mapped, std::size_t(size));
    return 0;
}

// The timeline with ten keywords: the keyword search and the time index over the whole file
// (what the timeline counts on, on their workers at once, as the tab runs them), then the
// timeline's own work: copying both group tables and counting the steps at the fitted step
// and at one second. Medians of three from a warm cache; compare with `filter` for one text.
int timelineBench(const std::string& path)
{
    BenchSettings settings;
    settings.store->saveKeywords(overviewKeywords());
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    doc.line(0);
    std::vector<double> passes, cpus, builds, fine;
    std::size_t steps = 0;
    std::size_t tables = 0;
    for (int run = 0; run < 3; ++run) {
        warm(path);
        KeywordLines lines(doc, nullptr);
        DocumentTimeIndex times(doc);
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        lines.sync();
        times.start();
        if (!lines.waitIdle(std::chrono::minutes(10)) ||
            !times.waitCaughtUp(std::chrono::minutes(10))) {
            return 1;
        }
        passes.push_back(seconds(Clock::now() - start));
        cpus.push_back(cpuSeconds() - cpuStart);
        const auto built = Clock::now();
        TimelineCounts::Input input;
        input.groupLatest = times.groupLatest();
        input.lines = times.indexedLines();
        KeywordLines::GroupCounts counts = lines.groupCounts();
        input.keywordCounts = std::move(counts.counts);
        input.keywords = counts.keywords.size();
        const auto first = times.firstTime();
        const auto last = times.lastLineTime();
        if (!first || !last) {
            std::printf("no times\n");
            return 1;
        }
        const TimeMs step = TimelineCounts::fitStep(*first, *last, 1920 / 3);
        steps = TimelineCounts::build(input, step).size();
        builds.push_back(seconds(Clock::now() - built));
        const auto fineStart = Clock::now();
        TimelineCounts::build(input, 1000);
        fine.push_back(seconds(Clock::now() - fineStart));
        tables = input.groupLatest.size() * sizeof(TimeMs) + input.keywordCounts.size();
    }
    for (auto* v : {&passes, &cpus, &builds, &fine}) {
        std::sort(v->begin(), v->end());
    }
    std::printf("timeline_pass_seconds %.4f (%.4f..%.4f)\ntimeline_pass_cpu_seconds %.4f\n"
                "timeline_build_ms %.3f (%.3f..%.3f)\ntimeline_build_1s_ms %.3f\n"
                "timeline_steps %zu\ntimeline_table_bytes %zu\n",
                passes[1], passes[0], passes[2], cpus[1], builds[1] * 1000, builds[0] * 1000,
                builds[2] * 1000, fine[1] * 1000, steps, tables);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "generate") {
        return generate(args[1], std::atol(args[2].c_str()));
    }
    if (args.size() >= 3 && args[0] == "generate-coloured") {
        return generateColoured(args[1], std::atol(args[2].c_str()),
                                args.size() >= 4 ? std::atol(args[3].c_str()) : 100);
    }
    if (args.size() >= 5 && args[0] == "generate-lines") {
        return generateLines(args[1], std::atol(args[2].c_str()), std::atol(args[3].c_str()),
                             std::atol(args[4].c_str()));
    }
    if (args.size() >= 2 && args[0] == "index") {
        return indexBench(args[1], args.size() >= 3 ? unsigned(std::atoi(args[2].c_str())) : 0);
    }
    if (args.size() >= 2 && args[0] == "times") {
        return timesBench(args[1]);
    }
    if (args.size() >= 3 && args[0] == "getline") {
        return getlineBench(args[1], std::atoi(args[2].c_str()));
    }
    if (args.size() >= 3 && args[0] == "find") {
        return findBench(args[1], args[2], args.size() >= 4 ? args[3] : "");
    }
    const bool changeEvents = args.empty() || args.back() != "poll";
    if (args.size() >= 4 && args[0] == "follow") {
        return followBench(args[1], std::atof(args[2].c_str()), std::atof(args[3].c_str()),
                           changeEvents);
    }
    if (args.size() >= 3 && args[0] == "latency") {
        return latencyBench(args[1], std::atoi(args[2].c_str()), changeEvents);
    }
    if (args.size() >= 5 && args[0] == "follow-filter") {
        return followFilterBench(args[1], std::atof(args[2].c_str()), std::atof(args[3].c_str()),
                                 args[4]);
    }
    if (args.size() >= 3 && args[0] == "filter") {
        return filterBench(args[1], args[2], args.size() >= 4 ? args[3] : "");
    }
    if (args.size() >= 3 && args[0] == "idle") {
        return idleBench(args[1], std::atof(args[2].c_str()), changeEvents);
    }
    if (args.size() >= 4 && args[0] == "yes") {
        return yesBench(args[1], std::atof(args[2].c_str()), std::atol(args[3].c_str()),
                        args.size() >= 5 && args[4] == "alternate");
    }
    if (args.size() >= 3 && args[0] == "longline") {
        return longLineBench(args[1], std::atol(args[2].c_str()));
    }
    if (args.size() >= 2 && args[0] == "keyword-scan") {
        return keywordScanBench(args[1]);
    }
    if (args.size() >= 2 && args[0] == "overview") {
        return overviewBench(args[1]);
    }
    if (args.size() >= 2 && args[0] == "jump") {
        return jumpBench(args[1]);
    }
    if (args.size() >= 2 && args[0] == "slow-pattern") {
        return slowPatternBench(args[1], args.size() >= 3 ? std::atoi(args[2].c_str()) : 2000,
                                args.size() >= 4 ? std::size_t(std::atol(args[3].c_str()))
                                                 : 10'000);
    }
    if (args.size() >= 2 && args[0] == "timeline") {
        return timelineBench(args[1]);
    }
    if (args.size() >= 2 && args[0] == "linetime") {
        return lineTimeBench(args[1]);
    }
    if (args.size() >= 2 && args[0] == "keywords") {
        return keywordsBench(std::atoi(args[1].c_str()));
    }
    std::fprintf(stderr, "usage: see the comment at the top of TailBench.cpp\n");
    return 64;
}
