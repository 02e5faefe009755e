// Find, the filter (a pass, while following, a pattern that backtracks) and the keyword
// lines of the overview strip and the keyword jumps.

#include "bench/EngineBench.h"

namespace quillbench {

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
        flags |= SearchMatchCase;
    }
    if (flagText.find('w') != std::string::npos) {
        flags |= SearchWholeWord;
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
        filter->stop();
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
            filter.stop();
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

} // namespace quillbench
