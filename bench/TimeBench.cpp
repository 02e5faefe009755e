// A line's time read over a whole file, and the time index with Go to Time's latency.

#include "bench/EngineBench.h"

namespace quillbench {

int timesBench(const std::string& path)
{
    BenchSettings settings;
    QuietHost host;
    for (int run = 0; run < 2; ++run) {
        warm(path);
        auto doc = std::make_unique<LogDocument>(&host, *settings.store);
        auto start = Clock::now();
        const double openCpuStart = cpuSeconds();
        if (!doc->openDocument(u16(path))) {
            return 1;
        }
        const double open = seconds(Clock::now() - start);
        const double openCpu = cpuSeconds() - openCpuStart;
        doc->stopWatching();
        DocumentTimeIndex times(*doc);
        start = Clock::now();
        const double cpuStart = cpuSeconds();
        times.start();
        if (!times.waitCaughtUp(std::chrono::minutes(10))) {
            return 1;
        }
        const double build = seconds(Clock::now() - start);
        const double cpu = cpuSeconds() - cpuStart;
        const LineNumber lines = doc->lineCount();
        std::printf("run %d\nopen_seconds %.3f (cpu %.3f)\ntime_index_seconds %.3f (cpu %.3f)\n"
                    "time_index_share_of_open %.2f\nlines %u\ntime_index_bytes_per_line %.4f\n",
                    run, open, openCpu, build, cpu, build / open, lines,
                    double(times.memoryBytes()) / lines);
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
    std::vector<double> split, timed, recentTimed, missed;
    std::size_t lines = 0, found = 0, foundMissing = 0;
    for (int run = 0; run < 3; ++run) {
        auto [splitSeconds, splitLines, lengths] =
            eachLine(text, [](std::string_view line) { return line.size(); });
        split.push_back(splitSeconds);
        auto [timedSeconds, timedLines, timedFound] =
            eachLine(text, [&](std::string_view line) { return reader->timeOf(line).has_value(); });
        timed.push_back(timedSeconds);
        LineTimeReader::Recent recent;
        auto [recentSeconds, recentLines, recentFound] = eachLine(
            text, [&](std::string_view line) { return reader->timeOf(line, recent).has_value(); });
        recentTimed.push_back(recentSeconds);
        auto [missSeconds, missLines, missFound] =
            eachLine(text, [&](std::string_view line) { return missing.timeOf(line).has_value(); });
        missed.push_back(missSeconds);
        lines = timedLines;
        found = timedFound;
        foundMissing = missFound;
        if (splitLines != timedLines || missLines != timedLines || recentLines != timedLines ||
            recentFound != timedFound || lengths == 0) {
            return 1;
        }
    }
    std::sort(split.begin(), split.end());
    std::sort(timed.begin(), timed.end());
    std::sort(recentTimed.begin(), recentTimed.end());
    std::sort(missed.begin(), missed.end());
    const double perLine = 1e9 / double(lines);
    std::printf("linetime_layout %d\nlinetime_lines %zu\nlinetime_lines_with_time %zu\n"
                "linetime_split_ns_per_line %.2f\nlinetime_ns_per_line %.2f (%.2f..%.2f)\n"
                "linetime_in_order_ns_per_line %.2f (%.2f..%.2f)\n"
                "linetime_miss_ns_per_line %.2f (%zu found)\n",
                int(reader->layout()), lines, found, split[1] * perLine,
                (timed[1] - split[1]) * perLine, (timed[0] - split[1]) * perLine,
                (timed[2] - split[1]) * perLine, (recentTimed[1] - split[1]) * perLine,
                (recentTimed[0] - split[1]) * perLine, (recentTimed[2] - split[1]) * perLine,
                (missed[1] - split[1]) * perLine, foundMissing);
    ::munmap(mapped, std::size_t(size));
    return 0;
}

// The timeline with ten keywords: the time index over the whole file counting the keyword
// lines in the same read (as the tab runs it while the timeline shows), then the timeline's
// own work: copying both group tables and counting the steps at the fitted step and at one
// second. Medians of three from a warm cache; compare with `filter` for one text.
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
        DocumentTimeIndex times(doc);
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        times.setCountedKeywords(doc.keywords());
        times.start();
        if (!times.waitCaughtUp(std::chrono::minutes(10))) {
            return 1;
        }
        passes.push_back(seconds(Clock::now() - start));
        cpus.push_back(cpuSeconds() - cpuStart);
        const auto built = Clock::now();
        TimelineCounts::Input input;
        input.groupLatest = times.groupLatest();
        input.lines = times.indexedLines();
        DocumentTimeIndex::GroupCounts counts = times.groupCounts();
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

} // namespace quillbench
