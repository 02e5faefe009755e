#pragma once

// Shared by FilterPattern's files only: how a chunk's lines are shown, and the search of a
// chunk as shown in runs of lines on two threads.

#include "engine/FilterPattern.h"
#include "engine/TwoLanes.h"

#include <atomic>
#include <optional>
#include <vector>

inline TextShowing showingOf(const LineChunk& chunk)
{
    return TextShowing{chunk.terminal, chunk.controls, chunk.crSymbol};
}

// Lines are taken out of their sequences and searched this many bytes at a time, so that
// what was written is searched while it is still in the processor's cache.
inline constexpr FileOffset ShownRunBytes = FileOffset{256} << 10;

// One run of lines on one of two threads, with its own scratch and rows.
struct ShownRun {
    FilterScratch* scratch = nullptr;
    std::vector<std::uint32_t> rows;
    std::vector<std::uint32_t> undecided;
    std::size_t first = 0;
    bool matched = false; // false: stopped
};

// Calls match(run, runHay, scratch, rows, undecided) for the chunk's runs of whole lines
// that start in each stretch of ShownRunBytes (runHay being hay where the run starts), on
// this thread and a helper (engine/TwoLanes.h): stripping a run costs more than its read,
// and the second processor would otherwise wait. The rows (and undecided lines) a run
// appends count from its first line and are made to count from the chunk's.
template <typename Match>
bool forShownRuns(const LineChunk& chunk, const std::uint8_t* hay, FilterScratch& scratch,
                  std::vector<std::uint32_t>& rows, std::vector<std::uint32_t>* undecided,
                  Match match)
{
    const FileOffset origin = chunk.starts[0];
    if (chunk.starts[chunk.count] - origin <= ShownRunBytes) {
        // One run (the watcher's piece while following): no second thread for it. Its rows
        // come on their own, as a lane's do, whatever the caller's lists hold already.
        std::vector<std::uint32_t> runRows;
        std::vector<std::uint32_t> runUndecided;
        if (!match(chunk, hay, scratch, runRows, runUndecided)) {
            return false;
        }
        rows.insert(rows.end(), runRows.begin(), runRows.end());
        if (undecided != nullptr) {
            undecided->insert(undecided->end(), runUndecided.begin(), runUndecided.end());
        }
        return true;
    }
    // Each lane's scratch is taken before the lanes start: none is handed out on a thread.
    FilterScratch* const laneScratch[3] = {&scratch.lane(0), &scratch.lane(1), &scratch.lane(2)};
    std::atomic<std::size_t> lanesGiven{0};
    TwoLanes<ShownRun> lanes([&](ShownRun& lane, std::size_t k) {
        const std::optional<StretchLines> lines =
            linesOfStretch(chunk.starts, chunk.count, ShownRunBytes, k);
        if (!lines) {
            return false;
        }
        const auto [first, end] = *lines;
        if (lane.scratch == nullptr) {
            lane.scratch = laneScratch[lanesGiven++];
            lane.scratch->newChunk();
        }
        lane.rows.clear();
        lane.undecided.clear();
        lane.first = first;
        lane.matched = true;
        if (first == end) {
            return true; // inside a line that started before
        }
        LineChunk run = chunk;
        const std::size_t offset = std::size_t(chunk.starts[first] - origin);
        run.bytes = chunk.bytes + offset;
        run.starts = chunk.starts + first;
        run.count = end - first;
        lane.matched = match(run, hay + offset, *lane.scratch, lane.rows, lane.undecided);
        return true;
    });
    while (const ShownRun* run = lanes.next()) {
        if (!run->matched) {
            return false;
        }
        for (const std::uint32_t row : run->rows) {
            rows.push_back(row + std::uint32_t(run->first));
        }
        for (std::size_t k = 0; undecided != nullptr && k < run->undecided.size(); ++k) {
            undecided->push_back(run->undecided[k] + std::uint32_t(run->first));
        }
    }
    return true;
}
