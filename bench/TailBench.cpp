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
//   quill_bench merged-memory [MILLIONS] the merged order's bytes a line, two logs in turn and
//                                        in bursts (bench/MergedBench.cpp)
//   quill_bench merged-open FILE FILE    two logs merged: indexes, first rows, whole order
//   quill_bench merged-save FILE FILE OUT  every merged row saved, beside the two files saved whole
//   quill_bench merged-map [MILLIONS]    what a merged tab's strip paint, keyword-line jump and
//                                        timeline refresh cost the window thread
//   quill_bench merged-filter [MILLIONS] a merged tab's filter rows: count, jump, read in
//                                        turn, place (bench/MergedFilterBench.cpp)
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
//   quill_bench save FILE TEXT OUT        the filter's result for TEXT (case matched) saved to OUT:
//                                        the save's seconds, GB/s and CPU beside the filter's
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
//                                        split into lines, each line alone and in file order
//                                        (what the time index does), and ns per line of a layout
//                                        the lines do not hold (the search through each line's
//                                        start that finds nothing); processor time
//
// "poll" switches change events off: the watcher then wakes on its 500 ms timer alone, as
// it does on file systems without inotify.

#include "bench/EngineBench.h"

namespace quillbench {

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
        const SourceStatus status = followed->status();
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
    const SourceStatus status = followed->status();
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

} // namespace quillbench

using namespace quillbench;

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
    if (args.size() >= 1 && args[0] == "merged-memory") {
        return mergedMemoryBench(args.size() >= 2 ? std::atol(args[1].c_str()) : 20);
    }
    if (args.size() >= 4 && args[0] == "merged-save") {
        return mergedSaveBench(args[1], args[2], args[3]);
    }
    if (args.size() >= 1 && args[0] == "merged-map") {
        return mergedMapBench(args.size() >= 2 ? std::atol(args[1].c_str()) : 10);
    }
    if (args.size() >= 1 && args[0] == "merged-filter") {
        return mergedFilterBench(args.size() >= 2 ? std::atol(args[1].c_str()) : 20);
    }
    if (args.size() >= 3 && args[0] == "merged-open") {
        return mergedOpenBench(args[1], args[2]);
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
    if (args.size() >= 4 && args[0] == "save") {
        return saveBench(args[1], args[2], args[3]);
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
