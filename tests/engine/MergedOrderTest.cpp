// The merged order against a plain model: every source's own times in a vector, each line's
// key the latest time of its source up to it, and all lines sorted by (key, source, line).
// Random walks of appends (in time, a little late, far too late for the kept keys, without a
// time) and restarts, with few kept keys so that merging everything again is walked too.

#include "engine/MergedOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

namespace {

constexpr TimeMs None = MergedOrder::NoTime;

struct Model {
    std::vector<std::vector<TimeMs>> own;

    // (source, line) of each row, sorted here without the code under test.
    std::vector<std::pair<std::size_t, LineNumber>> rows() const
    {
        std::vector<std::tuple<TimeMs, std::size_t, LineNumber>> all;
        for (std::size_t s = 0; s < own.size(); ++s) {
            bool seen = false;
            TimeMs latest = 0;
            for (std::size_t i = 0; i < own[s].size(); ++i) {
                if (own[s][i] != None && (!seen || own[s][i] > latest)) {
                    latest = own[s][i];
                    seen = true;
                }
                all.emplace_back(seen ? latest : None, s, LineNumber(i));
            }
        }
        std::sort(all.begin(), all.end());
        std::vector<std::pair<std::size_t, LineNumber>> rows;
        for (const auto& [key, s, line] : all) {
            rows.emplace_back(s, line);
        }
        return rows;
    }
};

std::vector<std::pair<std::size_t, LineNumber>> orderRows(const MergedRows& rows)
{
    std::vector<std::pair<std::size_t, LineNumber>> out;
    for (std::size_t row = 0; row < rows.rowCount(); ++row) {
        const MergedRows::Place place = rows.placeOfRow(row);
        out.emplace_back(place.source, place.line);
    }
    return out;
}

// Runs one walk; returns a description of the first difference, empty when none.
std::string walk(std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const std::size_t sourceChoices[] = {1, 2, 2, 3, 5, 17};
    const std::size_t sources = sourceChoices[rng() % std::size(sourceChoices)];
    const std::size_t kept = rng() % 2 ? 1 + rng() % 40 : 4096;
    Model model;
    model.own.resize(sources);
    MergedOrder order(sources, kept);
    std::vector<TimeMs> clock(sources, TimeMs(1'700'000'000'000) + TimeMs(rng() % 1000));
    // Coarse clocks: the sources' lines meet at equal times.
    const TimeMs grain = rng() % 2 ? 16 : 1;
    const auto read = [&](std::size_t s, LineNumber first, LineNumber end,
                          std::vector<TimeMs>& times) {
        times.assign(model.own[s].begin() + first, model.own[s].begin() + end);
        return true;
    };
    auto before = orderRows(order.rows());
    for (int step = 0; step < 80; ++step) {
        const std::size_t s = rng() % sources;
        const int roll = int(rng() % 100);
        std::size_t changed = 0;
        if (roll < 6) {
            model.own[s].clear();
            changed = order.restart(s);
        } else {
            const std::size_t count = roll < 60 ? 1 + rng() % 3 : 1 + rng() % 300;
            std::vector<TimeMs> times;
            for (std::size_t i = 0; i < count; ++i) {
                const int kind = int(rng() % 100);
                if (kind < 20) {
                    times.push_back(None); // a continuation line
                } else if (kind < 23) {
                    times.push_back(clock[s] - TimeMs(rng() % 100'000)); // far behind
                } else {
                    clock[s] += TimeMs(rng() % 40) - 5; // now and then a little back
                    times.push_back(clock[s] - clock[s] % grain);
                }
            }
            if (rng() % 10 == 0) {
                std::fill(times.begin(), times.end(), None); // a stretch without times
            }
            model.own[s].insert(model.own[s].end(), times.begin(), times.end());
            changed = order.add(s, times, read);
        }
        const auto expected = model.rows();
        const auto got = orderRows(order.rows());
        if (got != expected) {
            return "rows differ after step " + std::to_string(step);
        }
        for (std::size_t row = 0; row < changed && row < before.size(); ++row) {
            if (row >= got.size() || got[row] != before[row]) {
                return "row " + std::to_string(row) + " changed before " + std::to_string(changed) +
                       " at step " + std::to_string(step);
            }
        }
        for (std::size_t i = 0; i < 64 && !got.empty(); ++i) {
            const std::size_t row =
                i < 8 ? std::min(changed + i, got.size() - 1) : std::size_t(rng() % got.size());
            if (order.rows().rowOfLine(got[row].first, got[row].second) != row) {
                return "rowOfLine wrong for row " + std::to_string(row);
            }
        }
        for (std::size_t t = 0; t < sources; ++t) {
            if (order.sourceLines(t) != model.own[t].size()) {
                return "line count of source " + std::to_string(t);
            }
        }
        before = got;
    }
    return {};
}

TEST(MergedOrderTest, RandomWalksMatchSortedModel)
{
    // Seeds that once failed stay first.
    std::vector<std::uint32_t> seeds = {};
    for (std::uint32_t seed = 1; seed <= 80; ++seed) {
        seeds.push_back(seed);
    }
    for (const std::uint32_t seed : seeds) {
        const std::string failure = walk(seed);
        ASSERT_TRUE(failure.empty()) << "seed " << seed << ": " << failure;
    }
}

// Row storage alone, across a checkpoint and a word's last field, for every width: the
// count of a source's rows must stop exactly at the row asked for.
TEST(MergedOrderTest, RowsAtWordAndCheckpointEdges)
{
    for (const std::size_t sources : {2u, 3u, 16u, 17u, 256u}) {
        MergedRows rows(sources);
        std::vector<LineNumber> lines(sources, 0);
        std::vector<MergedRows::Place> places;
        for (std::size_t row = 0; row < 3 * MergedRows::CheckpointRows + 7; ++row) {
            // Long bursts of the last source around the edges, the others in turn between.
            const std::size_t s = (row / 61) % 2 == 0 ? sources - 1 : row % sources;
            places.push_back({s, lines[s]++});
            rows.push(s);
        }
        for (std::size_t row = 0; row < places.size(); ++row) {
            ASSERT_EQ(rows.placeOfRow(row), places[row]) << sources << " sources, row " << row;
            ASSERT_EQ(rows.rowOfLine(places[row].source, places[row].line), row);
        }
        for (const std::size_t keep :
             {MergedRows::CheckpointRows, std::size_t{64}, std::size_t{1}}) {
            MergedRows cut = rows;
            cut.truncate(keep);
            std::vector<LineNumber> counted(sources, 0);
            for (std::size_t row = 0; row < keep; ++row) {
                ++counted[places[row].source];
            }
            for (std::size_t s = 0; s < sources; ++s) {
                ASSERT_EQ(cut.sourceLines(s), counted[s]) << sources << " sources, kept " << keep;
            }
            cut.push(0);
            ASSERT_EQ(cut.placeOfRow(keep), (MergedRows::Place{0, counted[0]}));
        }
    }
}

// Two logs whose lines take turns cost far less than a byte a line.
TEST(MergedOrderTest, TwoInterleavedLogsUnderAByteALine)
{
    // The keys kept for late lines are a fixed cost, small beside a large log's lines.
    MergedOrder order(2, 4096);
    const std::size_t lines = 400'000;
    for (std::size_t i = 0; i < lines; ++i) {
        const TimeMs time = TimeMs(i);
        order.add(i % 2, std::span(&time, 1), {});
    }
    EXPECT_LT(double(order.memoryBytes()) / double(lines), 1.0);
}

} // namespace
