// Several logs merged by time: the merged order's memory in bytes a line for two logs whose
// lines take turns strictly or come in bursts, and the open of two logs merged: each one's
// line index, then the worker's first (provisional) order of the last lines, which is what
// the first paint shows, and the whole order. Wall and CPU seconds side by side: the machine
// may be shared.
// Save Lines As of two merged logs: every row written in the merged order, beside the same
// bytes saved as two whole files one after the other.
//   quill_bench merged-memory [MILLION_LINES]
//   quill_bench merged-open FILE FILE
//   quill_bench merged-save FILE FILE OUT

#include "bench/EngineBench.h"

#include "engine/LineSaver.h"
#include "engine/MergedLineSaver.h"
#include "engine/MergedLogs.h"
#include "engine/MergedOrder.h"

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
