// Save Lines As on a filtered log: the lines the filter found written to a file as the log
// holds them (engine/LineSaver.h), beside the filter pass that found them. bench/save.sh
// times `grep TEXT FILE > OUT` on the same file between the runs.

#include "bench/EngineBench.h"

#include "engine/LineSaver.h"

#include <sys/stat.h>

namespace quillbench {

int saveBench(const std::string& path, const std::string& text, const std::string& out)
{
    BenchSettings settings;
    QuietHost host;
    LogDocument doc(&host, *settings.store);
    if (!doc.openDocument(u16(path))) {
        return 1;
    }
    doc.stopWatching();
    FilterSet filterSet;
    filterSet.include = FilterTerm{u16(text), true, false, false};
    warm(path);
    LineFilter filter(doc, nullptr);
    const auto filterStart = Clock::now();
    if (!filter.setFilter(filterSet).empty()) {
        return 1;
    }
    filter.waitIdle(std::chrono::minutes(10));
    filter.collect();
    const double filterSeconds = seconds(Clock::now() - filterStart);

    // What the command does on the window's thread (the choice taken from the filter's rows)
    // and then on its own: the whole cost the user waits for.
    warm(path);
    const double cpuStart = cpuSeconds();
    const auto start = Clock::now();
    LinesToSave lines;
    const FilterMatches& matches = filter.matches();
    for (std::size_t row = 0; row < matches.size(); ++row) {
        lines.addLine(matches.at(row));
    }
    const double takeSeconds = seconds(Clock::now() - start);
    LineSaver saver(doc, std::move(lines), out);
    const SaveResult result = saver.run();
    const double saveSeconds = seconds(Clock::now() - start);
    if (result.outcome != SaveOutcome::Saved) {
        std::fprintf(stderr, "save failed: outcome %d, error %d\n", int(result.outcome),
                     result.error);
        return 1;
    }
    std::printf("save_lines %zu\nsave_bytes %llu\nsave_filter_seconds %.4f\n"
                "save_take_seconds %.4f\nsave_seconds %.4f\nsave_cpu_seconds %.4f\n"
                "save_gbps %.3f\n",
                matches.size(), static_cast<unsigned long long>(result.bytes), filterSeconds,
                takeSeconds, saveSeconds, cpuSeconds() - cpuStart,
                double(result.bytes) / saveSeconds / 1e9);
    return 0;
}

} // namespace quillbench
