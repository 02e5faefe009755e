// The filter of a merged tab: what its rows cost the window thread, counted from the merged
// order and each file's matches (engine/MergedFilterRows.h). Two logs of MILLION_LINES
// million lines together, in bursts of one log, with 1% and 30% of the lines matching: the
// count after a change (update), a row read out of turn (the search a jump or a scroll bar
// drag does), rows read in turn (a paint, a copy), and a merged row's place among the rows.
//   quill_bench merged-filter [MILLION_LINES]

#include "bench/EngineBench.h"

#include "engine/FilterMatches.h"
#include "engine/MergedFilterRows.h"
#include "engine/MergedOrder.h"

namespace quillbench {

int mergedFilterBench(long millionLines)
{
    const std::size_t lines = std::size_t(std::max(1L, millionLines)) * 1'000'000;
    std::mt19937 rng(5);
    MergedOrder order(2);
    TimeMs clock = 1'796'000'000'000;
    std::size_t source = 0;
    std::vector<TimeMs> run;
    for (std::size_t done = 0; done < lines;) {
        const std::size_t count = std::min(lines - done, 1 + std::size_t(rng() % 2000));
        run.assign(count, 0);
        for (TimeMs& t : run) {
            t = ++clock;
        }
        order.add(source, run, {});
        source = 1 - source;
        done += count;
    }
    const std::vector<LineNumber> bases(2, 0);
    std::ifstream loadFile("/proc/loadavg");
    std::string load;
    std::getline(loadFile, load);
    for (const unsigned percent : {1u, 30u}) {
        FilterMatches a;
        FilterMatches b;
        for (std::size_t s = 0; s < 2; ++s) {
            FilterMatches& m = s == 0 ? a : b;
            for (LineNumber line = 0; line < order.sourceLines(s); ++line) {
                if (rng() % 100 < percent) {
                    m.push_back(line);
                }
            }
        }
        MergedFilterRows rows(order.rows(), bases, {&a, &b});
        auto start = Clock::now();
        constexpr int Updates = 1000;
        for (int i = 0; i < Updates; ++i) {
            rows.update(true, true);
        }
        const double update = seconds(Clock::now() - start) / Updates * 1e6;
        constexpr int Jumps = 20'000;
        std::size_t sink = 0;
        start = Clock::now();
        for (int i = 0; i < Jumps; ++i) {
            sink += rows.at(std::size_t(rng()) % rows.size()).merged;
        }
        const double jump = seconds(Clock::now() - start) / Jumps * 1e6;
        const std::size_t inTurn = std::min<std::size_t>(rows.size(), 1'000'000);
        start = Clock::now();
        for (std::size_t r = 0; r < inTurn; ++r) {
            sink += rows.at(r).line;
        }
        const double step = seconds(Clock::now() - start) / double(inTurn) * 1e9;
        start = Clock::now();
        for (int i = 0; i < Jumps; ++i) {
            sink += rows.lowerBound(std::size_t(rng()) % order.rowCount());
        }
        const double place = seconds(Clock::now() - start) / Jumps * 1e6;
        std::printf("lines %zu matching %u%% rows %zu update_us %.2f jump_us %.2f "
                    "in_turn_ns %.0f place_us %.2f (%zu) load %s\n",
                    lines, percent, rows.size(), update, jump, step, place, sink % 10,
                    load.c_str());
    }
    return 0;
}

} // namespace quillbench
