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

} // namespace quillbench
