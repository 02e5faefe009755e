// Marks: the neighbour rules at both ends, and a random walk of toggles, appends, Clear and
// reloads on a real document against a plain set of marked lines.

#include "EngineTestSupport.h"

#include "engine/LineMarks.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace quilltest;

TEST(LineMarks, NeighboursWrapAtBothEndsAndToggleTwiceUnmarks)
{
    LineMarks marks;
    EXPECT_FALSE(marks.Next(0).has_value());
    EXPECT_FALSE(marks.Previous(0).has_value());
    EXPECT_TRUE(marks.Toggle(7));
    EXPECT_TRUE(marks.Toggle(0));
    EXPECT_TRUE(marks.Toggle(UINT32_MAX));
    EXPECT_EQ(marks.Lines(), (std::vector<LineNumber>{0, 7, UINT32_MAX}));
    EXPECT_EQ(marks.Next(0), 7u) << "strictly after";
    EXPECT_EQ(marks.Next(6), 7u);
    EXPECT_EQ(marks.Next(7), UINT32_MAX);
    EXPECT_EQ(marks.Next(UINT32_MAX), 0u) << "wraps to the first";
    EXPECT_EQ(marks.Previous(7), 0u) << "strictly before";
    EXPECT_EQ(marks.Previous(8), 7u);
    EXPECT_EQ(marks.Previous(0), UINT32_MAX) << "wraps to the last";
    auto [from, to] = marks.InRange(1, 8);
    EXPECT_EQ(std::vector<LineNumber>(from, to), std::vector<LineNumber>{7});
    std::tie(from, to) = marks.InRange(0, 7);
    EXPECT_EQ(std::vector<LineNumber>(from, to), std::vector<LineNumber>{0}) << "end excluded";
    std::tie(from, to) = marks.InRange(8, 3);
    EXPECT_EQ(from, to) << "an empty range";
    EXPECT_FALSE(marks.Toggle(7));
    EXPECT_FALSE(marks.IsMarked(7));
    EXPECT_EQ(marks.Count(), 2u);
    marks.Clear();
    EXPECT_TRUE(marks.Empty());
}

namespace {

// Where a jump from `line` lands in the model: the nearest marked line beyond it, around the
// end when none is.
std::optional<LineNumber> modelNeighbour(const std::set<LineNumber>& model, LineNumber line,
                                         bool next)
{
    if (model.empty()) {
        return std::nullopt;
    }
    if (next) {
        for (LineNumber m : model) {
            if (m > line) {
                return m;
            }
        }
        return *model.begin();
    }
    std::optional<LineNumber> best;
    for (LineNumber m : model) {
        if (m < line) {
            best = m;
        }
    }
    return best ? best : std::optional<LineNumber>(*model.rbegin());
}

class MarksWalk : public ::testing::Test {
  protected:
    void run(unsigned seed)
    {
        std::mt19937 random(seed);
        const std::string path = settings.dir.file("marks.log");
        writeFile(path, "first\nsecond\nthird");
        ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
        doc.StopWatching();
        std::set<LineNumber> model;
        for (int step = 0; step < 300; ++step) {
            const LineNumber count = doc.GetLineCount();
            switch (random() % 8) {
            case 0:
            case 1:
            case 2: {
                // The last line gets its share: it is the one an append may still extend.
                const LineNumber line =
                    count == 0 ? 0 : (random() % 3 == 0 ? count - 1 : random() % count);
                if (count == 0) {
                    break;
                }
                const bool marked = doc.Marks().Toggle(line);
                if (model.erase(line) == 0) {
                    model.insert(line);
                }
                ASSERT_EQ(marked, model.count(line) == 1);
                break;
            }
            case 3:
            case 4: {
                // Either the open last line grows or whole lines arrive.
                const std::string bytes = random() % 2 ? "tail" : "more\nlines\n";
                appendFile(path, bytes);
                std::lock_guard lock(doc.docAccess());
                doc.AppendText(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               bytes.size(), false);
                break;
            }
            case 5:
                doc.ClearText();
                doc.StopWatching();
                model.clear();
                break;
            case 6:
                if (random() % 4 == 0) {
                    writeFile(path, "again\n");
                    ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
                    doc.StopWatching();
                    model.clear();
                }
                break;
            default: {
                const LineNumber from = count == 0 ? 0 : random() % (count + 1);
                ASSERT_EQ(doc.Marks().Next(from), modelNeighbour(model, from, true))
                    << "seed " << seed << " step " << step;
                ASSERT_EQ(doc.Marks().Previous(from), modelNeighbour(model, from, false))
                    << "seed " << seed << " step " << step;
                break;
            }
            }
            ASSERT_EQ(doc.Marks().Lines(), std::vector<LineNumber>(model.begin(), model.end()))
                << "seed " << seed << " step " << step;
            for (LineNumber m : model) {
                ASSERT_LT(m, doc.GetLineCount()) << "a mark outlived its line";
            }
        }
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
};

} // namespace

TEST_F(MarksWalk, RandomTogglesAppendsClearsAndReloadsAgreeWithASetOfLines)
{
    for (unsigned seed = 1; seed <= 12; ++seed) {
        run(seed);
        if (HasFatalFailure()) {
            return;
        }
    }
}
