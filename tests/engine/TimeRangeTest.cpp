// The lines of a time range against a plain model: each line's own time in a vector, its
// running latest by a scan, and the range checked line by line. Random logs whose times go
// back in runs, with untimed lines (also at the head), read a piece at a time as a followed
// log is: the window must hold exactly the known lines in range, and never lose a line.

#include "engine/TimeRange.h"
#include "engine/TimeIndex.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Times = std::vector<std::optional<TimeMs>>;

// The model: in range when some line up to here has a time and the latest such is within.
std::vector<bool> modelInRange(const Times& own, const TimeRange& range)
{
    std::vector<bool> in(own.size(), false);
    std::optional<TimeMs> latest;
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (own[i] && (!latest || *own[i] > *latest)) {
            latest = own[i];
        }
        in[i] = latest && (!range.from || *latest >= *range.from) &&
                (!range.to || *latest <= *range.to);
    }
    return in;
}

Times randomLog(std::mt19937& random, std::size_t lines)
{
    Times own;
    TimeMs t = 1'000'000;
    std::uniform_int_distribution<int> pick(0, 99);
    const int headUntimed = pick(random) % 4;
    for (int i = 0; i < headUntimed; ++i) {
        own.push_back(std::nullopt);
    }
    while (own.size() < lines) {
        const int p = pick(random);
        if (p < 20) {
            own.push_back(std::nullopt); // a continuation line
        } else if (p < 28) {
            // Another writer's lines, late: a run going back in time.
            const TimeMs back = t - 1 - pick(random) * 10;
            for (int k = 0, n = 1 + pick(random) % 5; k < n; ++k) {
                own.push_back(back + k);
            }
        } else {
            t += pick(random) % 3 == 0 ? 0 : pick(random); // equal times too
            own.push_back(t);
        }
    }
    own.resize(lines);
    return own;
}

} // namespace

TEST(TimeRangeTest, WindowHoldsExactlyTheKnownLinesInRangeAndOnlyGrows)
{
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        const std::size_t count = 1 + random() % 700;
        const Times own = randomLog(random, count);
        std::vector<TimeMs> present;
        for (const auto& time : own) {
            if (time) {
                present.push_back(*time);
            }
        }
        // Bounds on line times, between them, and beyond both ends.
        auto bound = [&]() -> std::optional<TimeMs> {
            switch (random() % 4) {
            case 0:
                return std::nullopt;
            case 1:
                return present.empty() ? 5 : present[random() % present.size()];
            case 2:
                return present.empty() ? 7 : present[random() % present.size()] + 1;
            default:
                return TimeMs(1'000'000) + TimeMs(random() % 40'000) - 2000;
            }
        };
        TimeRange range{bound(), bound()};
        const std::vector<bool> in = modelInRange(own, range);

        TimeIndex index;
        const TimeIndex::Reader read = [&](LineNumber first, LineNumber end, Times& times) {
            times.assign(own.begin() + std::ptrdiff_t(first), own.begin() + std::ptrdiff_t(end));
            return true;
        };
        LineWindow before{0, 0};
        std::size_t known = 0;
        while (known < count) {
            known = std::min(count, known + 1 + random() % 200);
            while (index.lineCount() < LineNumber(known)) {
                index.addLine(own[std::size_t(index.lineCount())]);
            }
            const LineWindow window = lineWindow(range, LineNumber(known), [&](TimeMs t) {
                return index.firstLineAtOrAfter(t, read);
            });
            SCOPED_TRACE(testing::Message() << "seed " << seed << " known " << known);
            for (std::size_t line = 0; line < known; ++line) {
                const bool inside =
                    LineNumber(line) >= window.first && LineNumber(line) < window.end;
                ASSERT_EQ(inside, bool(in[line])) << "line " << line;
                const bool wasInside =
                    LineNumber(line) >= before.first && LineNumber(line) < before.end;
                ASSERT_TRUE(!wasInside || inside) << "line " << line << " left the window";
            }
            // Lines not yet known are let in only where every later line is in range.
            if (window.end > LineNumber(known)) {
                ASSERT_EQ(window.end, LineWindow::NoEnd);
                ASSERT_FALSE(range.to);
                ASSERT_LT(window.first, LineNumber(known));
            }
            before = window;
        }
    }
}
