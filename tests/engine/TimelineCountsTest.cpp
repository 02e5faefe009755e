// The timeline's counts against a plain model: every line's own time and keyword, each line
// put in the step of its group's running latest time, counted by a map. The group times come
// from a real TimeIndex fed the same lines, so its groups are checked along the way.

#include "engine/TimelineCounts.h"
#include "engine/TimeIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <random>

namespace {

struct ModelStep {
    LineNumber firstLine = 0;
    LineNumber endLine = 0;
    std::uint64_t lines = 0;
    std::vector<std::uint32_t> keywordLines;
};

TimeMs floorTo(TimeMs t, TimeMs step)
{
    return TimeMs(std::floor(double(t) / double(step))) * step;
}

TEST(TimelineCountsTest, RandomLogsMatchTheModel)
{
    constexpr LineNumber Group = TimeIndex::GroupLines;
    for (std::uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed);
        const std::size_t lineCount = rng() % 2000;
        const std::size_t keywords = rng() % 4;
        const std::size_t checked = rng() % (lineCount + 1); // keyword search under way
        TimeMs now = TimeMs(rng() % 400000) - 200000;        // some before the epoch
        std::vector<std::optional<TimeMs>> own;
        std::vector<int> keywordOf; // -1: none
        TimeIndex index;
        bool started = rng() % 3 != 0;
        for (std::size_t i = 0; i < lineCount; ++i) {
            std::optional<TimeMs> t;
            const unsigned roll = rng() % 100;
            if (!started && roll < 95) {
                t = std::nullopt;
            } else if (roll < 20) {
                t = std::nullopt;
            } else {
                started = true;
                now += TimeMs(rng() % 3000);
                t = roll < 28 ? now - TimeMs(rng() % 20000) : now; // a writer behind
            }
            own.push_back(t);
            index.addLine(t);
            keywordOf.push_back(keywords > 0 && rng() % 3 == 0 ? int(rng() % keywords) : -1);
        }
        TimelineCounts::Input input;
        input.groupLines = Group;
        input.groupLatest = index.groupLatest();
        input.lines = LineNumber(lineCount);
        input.keywords = keywords;
        input.keywordCounts.assign((checked + Group - 1) / Group * keywords, 0);
        for (std::size_t i = 0; i < checked; ++i) {
            if (keywordOf[i] >= 0) {
                ++input.keywordCounts[i / Group * keywords + std::size_t(keywordOf[i])];
            }
        }
        for (const TimeMs step : {TimeMs(1000), TimeMs(5000), TimeMs(60000)}) {
            std::map<TimeMs, ModelStep> model;
            std::optional<TimeMs> latest;
            for (std::size_t g = 0; g * Group < lineCount; ++g) {
                const std::size_t end = std::min<std::size_t>((g + 1) * Group, lineCount);
                for (std::size_t i = g * Group; i < end; ++i) {
                    if (own[i] && (!latest || *own[i] > *latest)) {
                        latest = own[i];
                    }
                }
                if (!latest) {
                    continue;
                }
                ModelStep& m = model[floorTo(*latest, step)];
                if (m.lines == 0) {
                    m.firstLine = LineNumber(g * Group);
                    m.keywordLines.assign(keywords, 0);
                }
                m.endLine = LineNumber(end);
                for (std::size_t i = g * Group; i < end; ++i) {
                    ++m.lines;
                    if (i < checked && keywordOf[i] >= 0) {
                        ++m.keywordLines[std::size_t(keywordOf[i])];
                    }
                }
            }
            const std::vector<TimelineCounts::Step> steps = TimelineCounts::build(input, step);
            ASSERT_EQ(steps.size(), model.size()) << "seed " << seed << " step " << step;
            std::size_t s = 0;
            for (const auto& [start, m] : model) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << " step " << step);
                EXPECT_EQ(steps[s].start, start);
                EXPECT_EQ(steps[s].firstLine, m.firstLine);
                EXPECT_EQ(steps[s].endLine, m.endLine);
                EXPECT_EQ(steps[s].lines, m.lines);
                EXPECT_EQ(steps[s].keywordLines, m.keywordLines);
                ++s;
            }
        }
    }
}

// Groups past the lines given (the index read ahead of the line count) count nowhere.
TEST(TimelineCountsTest, GroupsPastTheLinesAreLeftOut)
{
    TimelineCounts::Input input;
    input.groupLines = 128;
    input.groupLatest = {1000, 2000, 3000};
    input.lines = 256;
    const std::vector<TimelineCounts::Step> steps = TimelineCounts::build(input, 1000);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[1].endLine, 256u);
    EXPECT_EQ(steps[1].lines, 128u);
}

// The finest step whose count fits, at the edges: exactly the slots, one more, before the
// epoch, and a span no step of the ladder fits.
TEST(TimelineCountsTest, FitStepTakesTheFinestThatFits)
{
    const auto model = [](TimeMs first, TimeMs last, std::int64_t slots) {
        for (const TimeMs step : TimelineCounts::Ladder) {
            if (floorTo(last, step) / step - floorTo(first, step) / step + 1 <= slots) {
                return step;
            }
        }
        return TimelineCounts::Ladder.back();
    };
    EXPECT_EQ(TimelineCounts::stepStart(-5000, 1000), -5000) << "an edge before the epoch";
    EXPECT_EQ(TimelineCounts::stepStart(-4999, 1000), -5000);
    EXPECT_EQ(TimelineCounts::stepStart(-1, 1000), -1000);
    EXPECT_EQ(TimelineCounts::fitStep(0, 99999, 100), 1000);
    EXPECT_EQ(TimelineCounts::fitStep(0, 100000, 100), 5000);
    EXPECT_EQ(TimelineCounts::fitStep(-1, 98999, 100), 1000);
    EXPECT_EQ(TimelineCounts::fitStep(-1, 99000, 100), 5000);
    EXPECT_EQ(TimelineCounts::fitStep(0, 86400000LL * 1000, 10), 86400000);
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const TimeMs first = TimeMs(rng() % 2000000000) - 1000000000;
        const TimeMs last = first + TimeMs(rng() % 400000000);
        const std::int64_t slots = 1 + std::int64_t(rng() % 500);
        ASSERT_EQ(TimelineCounts::fitStep(first, last, slots), model(first, last, slots))
            << first << " " << last << " " << slots;
    }
}

} // namespace
