// Several logs merged by time: the merged order's memory in bytes a line for two logs whose
// lines take turns strictly or come in bursts, and the open of two logs merged: each one's
// line index, then the worker's first (provisional) order of the last lines, which is what
// the first paint shows, and the whole order. Wall and CPU seconds side by side: the machine
// may be shared.
// And what a merged tab's overview strip, keyword-line jumps and timeline cost the window
// thread, which maps each file's own results onto the rows: a paint of the strip, a jump, a
// refresh of the timeline (the files' keyword lines and counts made up, as their workers
// would give them). Save Lines As of two merged logs: every row written in the merged order,
// beside the same bytes saved as two whole files one after the other.
//   quill_bench merged-memory [MILLION_LINES]
//   quill_bench merged-open FILE FILE
//   quill_bench merged-map [MILLION_LINES]
//   quill_bench merged-save FILE FILE OUT

#include "bench/EngineBench.h"

#include "engine/LineSaver.h"
#include "engine/MergedLineSaver.h"
#include "engine/MergedLogs.h"
#include "engine/MergedOrder.h"
#include "engine/MergedRowMap.h"
#include "engine/TimeIndex.h"

namespace quillbench {

namespace {

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

} // namespace

int mergedMemoryBench(long millionLines)
{
    const std::size_t lines = std::size_t(std::max(1L, millionLines)) * 1'000'000;
    std::mt19937 rng(3);
    for (const bool bursts : {false, true}) {
        MergedOrder order(2);
        TimeMs clock = 1'796'000'000'000;
        std::size_t source = 0;
        std::vector<TimeMs> run;
        const double cpuStart = cpuSeconds();
        const auto start = Clock::now();
        for (std::size_t done = 0; done < lines;) {
            // Strictly in turn: one line each; in bursts: 1 to 2,000 lines of one log.
            const std::size_t count =
                std::min(lines - done, bursts ? 1 + std::size_t(rng() % 2000) : std::size_t(1));
            run.clear();
            for (std::size_t i = 0; i < count; ++i) {
                run.push_back(++clock);
            }
            order.add(source, run, {});
            source = 1 - source;
            done += count;
        }
        std::printf("%s lines %zu bytes_per_line %.4f build_seconds %.3f (cpu %.3f) "
                    "load %s\n",
                    bursts ? "bursts" : "alternating", lines,
                    double(order.memoryBytes()) / double(lines), seconds(Clock::now() - start),
                    cpuSeconds() - cpuStart, loadAverage().c_str());
    }
    return 0;
}

int mergedOpenBench(const std::string& first, const std::string& second)
{
    BenchSettings settings;
    QuietHost host;
    warm(first);
    warm(second);
    std::printf("load %s\n", loadAverage().c_str());
    const auto start = Clock::now();
    const double cpuStart = cpuSeconds();
    LogDocument a(&host, *settings.store);
    LogDocument b(&host, *settings.store);
    if (!a.openDocument(u16(first)) || !b.openDocument(u16(second))) {
        return 1;
    }
    const double opened = seconds(Clock::now() - start);
    const double openedCpu = cpuSeconds() - cpuStart;
    std::mutex mutex;
    std::condition_variable changed;
    bool any = false;
    MergedLogs merged({&a, &b});
    merged.setChangedCallback([&] {
        std::lock_guard lock(mutex);
        any = true;
        changed.notify_all();
    });
    merged.start();
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return any; });
    }
    const double firstRows = seconds(Clock::now() - start);
    const double firstRowsCpu = cpuSeconds() - cpuStart;
    const auto changes = merged.takeChanges();
    if (!merged.waitCaughtUp(std::chrono::minutes(20))) {
        return 1;
    }
    const double whole = seconds(Clock::now() - start);
    const double wholeCpu = cpuSeconds() - cpuStart;
    const double lines = double(a.lineCount()) + double(b.lineCount());
    std::printf("lines %.0f\nindexes_open_seconds %.3f (cpu %.3f)\n"
                "first_rows_seconds %.3f (cpu %.3f, %s, %zu rows)\n"
                "whole_order_seconds %.3f (cpu %.3f)\norder_bytes_per_line %.4f\nload %s\n",
                lines, opened, openedCpu, firstRows, firstRowsCpu,
                !changes.empty() && changes.front().provisional ? "provisional" : "whole",
                changes.empty() ? std::size_t(0) : changes.front().sources.size(), whole, wholeCpu,
                double(merged.memoryBytes()) / lines, loadAverage().c_str());
    a.closeDocument();
    b.closeDocument();
    return 0;
}

int mergedSaveBench(const std::string& first, const std::string& second, const std::string& out)
{
    BenchSettings settings;
    QuietHost host;
    LogDocument a(&host, *settings.store);
    LogDocument b(&host, *settings.store);
    if (!a.openDocument(u16(first)) || !b.openDocument(u16(second))) {
        return 1;
    }
    a.stopWatching();
    b.stopWatching();
    MergedRows rows(2);
    std::vector<LineNumber> bases;
    {
        MergedLogs merged({&a, &b});
        merged.start();
        if (!merged.waitCaughtUp(std::chrono::minutes(20))) {
            return 1;
        }
        for (const MergedLogs::Change& change : merged.takeChanges()) {
            MergedLogs::applyChange(change, rows, bases);
        }
    }
    std::printf("load %s\nrows %zu\n", loadAverage().c_str(), rows.rowCount());
    warm(first);
    warm(second);
    double cpuStart = cpuSeconds();
    auto start = Clock::now();
    MergedLineSaver merged({&a, &b}, rows, bases, 0, rows.rowCount(), out);
    const SaveResult result = merged.run();
    const double mergedSeconds = seconds(Clock::now() - start);
    const double mergedCpu = cpuSeconds() - cpuStart;
    if (result.outcome != SaveOutcome::Saved) {
        return 1;
    }
    // The same bytes as two whole files, one after the other.
    warm(first);
    warm(second);
    cpuStart = cpuSeconds();
    start = Clock::now();
    for (LogDocument* document : {&a, &b}) {
        LinesToSave all;
        all.spans.push_back({0, document->lineCount()});
        if (LineSaver(*document, all, out).run().outcome != SaveOutcome::Saved) {
            return 1;
        }
    }
    const double plainSeconds = seconds(Clock::now() - start);
    const double plainCpu = cpuSeconds() - cpuStart;
    std::printf("merged_save_bytes %llu\nmerged_save_seconds %.3f (cpu %.3f)\n"
                "two_files_save_seconds %.3f (cpu %.3f)\nload %s\n",
                static_cast<unsigned long long>(result.bytes), mergedSeconds, mergedCpu,
                plainSeconds, plainCpu, loadAverage().c_str());
    a.closeDocument();
    b.closeDocument();
    return 0;
}

} // namespace quillbench

namespace quillbench {

int mergedMapBench(long millionLines)
{
    const std::size_t lines = std::size_t(std::max(1L, millionLines)) * 1'000'000;
    std::mt19937 rng(5);
    // Two logs in bursts of 1 to 2,000 lines, a second apart every 100 lines.
    MergedRows rows(2);
    std::vector<std::vector<TimeMs>> latest(2);
    TimeMs clock = 1'796'000'000'000;
    for (std::size_t done = 0, source = 0; done < lines; source = 1 - source) {
        const std::size_t count = std::min(lines - done, 1 + std::size_t(rng() % 2000));
        for (std::size_t i = 0; i < count; ++i) {
            rows.push(source);
            clock += 10;
            if (rows.sourceLines(source) % TimeIndex::GroupLines == 0) {
                latest[source].push_back(clock);
            }
        }
        done += count;
    }
    const std::vector<LineNumber> bases(2, 0);
    const MergedRowMap map(rows, bases);
    // One line in 200 a keyword line, of ten keywords; the strip's 4,096 buckets a file.
    constexpr std::size_t Keywords = 10;
    std::vector<std::vector<LineNumber>> keywordLines(2);
    std::vector<std::vector<std::uint8_t>> buckets(2);
    std::vector<MergedRowMap::Buckets> strips;
    std::vector<TimelineCounts::Input> inputs(2);
    for (std::size_t s = 0; s < 2; ++s) {
        const LineNumber count = rows.sourceLines(s);
        unsigned shift = 0;
        while ((std::uint64_t(count) >> shift) > KeywordLines::MaxBuckets) {
            ++shift;
        }
        buckets[s].assign((std::size_t(count) >> shift) + 1, 0);
        for (LineNumber l = 0; l < count; l += 200) {
            keywordLines[s].push_back(l);
            std::uint8_t& bucket = buckets[s][l >> shift];
            bucket = bucket == 0 ? std::uint8_t(1 + rng() % Keywords) : bucket;
        }
        strips.push_back({buckets[s], shift});
        inputs[s].groupLines = TimeIndex::GroupLines;
        inputs[s].groupLatest = latest[s];
        inputs[s].lines = LineNumber(latest[s].size()) * TimeIndex::GroupLines;
        inputs[s].keywords = Keywords;
        inputs[s].keywordCounts.assign(latest[s].size() * Keywords, 0);
        for (std::size_t g = 0; g < latest[s].size(); ++g) {
            inputs[s].keywordCounts[g * Keywords + g % Keywords] = 1;
        }
    }
    const auto neighbour = [&](std::size_t s, LineNumber from, bool down, LineNumber& line) {
        const std::vector<LineNumber>& found = keywordLines[s];
        if (down) {
            const auto after = std::upper_bound(found.begin(), found.end(), from);
            if (after == found.end()) {
                return MergedRowMap::Outcome::None;
            }
            line = *after;
            return MergedRowMap::Outcome::Found;
        }
        const auto at = std::lower_bound(found.begin(), found.end(), from);
        if (at == found.begin()) {
            return MergedRowMap::Outcome::None;
        }
        line = *(at - 1);
        return MergedRowMap::Outcome::Found;
    };
    const auto median = [](std::vector<double>& times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2] * 1000.0;
    };
    // A strip of 1,000 pixel rows.
    std::vector<double> paints;
    std::size_t painted = 0;
    for (int i = 0; i < 21; ++i) {
        const auto start = Clock::now();
        for (std::size_t r = 0; r < 1000; ++r) {
            painted += map.keywordIn(r * lines / 1000, (r + 1) * lines / 1000, strips) != 0;
        }
        paints.push_back(seconds(Clock::now() - start));
    }
    // The same without any keyword line: every bucket of every file looked at.
    std::vector<std::vector<std::uint8_t>> none(2);
    std::vector<MergedRowMap::Buckets> empty;
    for (std::size_t s = 0; s < 2; ++s) {
        none[s].assign(buckets[s].size(), 0);
        empty.push_back({none[s], strips[s].shift});
    }
    std::vector<double> emptyPaints;
    for (int i = 0; i < 21; ++i) {
        const auto start = Clock::now();
        for (std::size_t r = 0; r < 1000; ++r) {
            painted += map.keywordIn(r * lines / 1000, (r + 1) * lines / 1000, empty) != 0;
        }
        emptyPaints.push_back(seconds(Clock::now() - start));
    }
    std::vector<double> jumps;
    for (int i = 0; i < 1001; ++i) {
        const std::size_t from = rng() % lines;
        std::size_t found = 0;
        const auto start = Clock::now();
        map.neighbourRow(from, i % 2 == 0, neighbour, found);
        jumps.push_back(seconds(Clock::now() - start));
    }
    // A timeline 1,000 pixels wide: the step that fits, as the view picks it.
    const TimeMs first = std::min(latest[0].front(), latest[1].front());
    const TimeMs last = std::max(latest[0].back(), latest[1].back());
    const TimeMs step = TimelineCounts::fitStep(first, last, 1000 / 3);
    std::vector<double> timelines;
    std::size_t steps = 0;
    for (int i = 0; i < 21; ++i) {
        const auto start = Clock::now();
        steps = map.timeline(inputs, step).size();
        timelines.push_back(seconds(Clock::now() - start));
    }
    std::printf("rows %zu strip_paint_ms %.3f (%zu of 1000 coloured; none: %.3f) jump_ms %.4f "
                "timeline_ms %.3f (%zu steps of %lld s) load %s\n",
                lines, median(paints), painted / 21, median(emptyPaints), median(jumps),
                median(timelines), steps, static_cast<long long>(step / 1000),
                loadAverage().c_str());
    return 0;
}

} // namespace quillbench
