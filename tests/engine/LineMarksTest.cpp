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
    EXPECT_FALSE(marks.next(0).has_value());
    EXPECT_FALSE(marks.previous(0).has_value());
    EXPECT_TRUE(marks.toggle(7));
    EXPECT_TRUE(marks.toggle(0));
    EXPECT_TRUE(marks.toggle(UINT32_MAX));
    EXPECT_EQ(marks.lines(), (std::vector<LineNumber>{0, 7, UINT32_MAX}));
    EXPECT_EQ(marks.next(0), 7u) << "strictly after";
    EXPECT_EQ(marks.next(6), 7u);
    EXPECT_EQ(marks.next(7), UINT32_MAX);
    EXPECT_EQ(marks.next(UINT32_MAX), 0u) << "wraps to the first";
    EXPECT_EQ(marks.previous(7), 0u) << "strictly before";
    EXPECT_EQ(marks.previous(8), 7u);
    EXPECT_EQ(marks.previous(0), UINT32_MAX) << "wraps to the last";
    auto [from, to] = marks.inRange(1, 8);
    EXPECT_EQ(std::vector<LineNumber>(from, to), std::vector<LineNumber>{7});
    std::tie(from, to) = marks.inRange(0, 7);
    EXPECT_EQ(std::vector<LineNumber>(from, to), std::vector<LineNumber>{0}) << "end excluded";
    std::tie(from, to) = marks.inRange(8, 3);
    EXPECT_EQ(from, to) << "an empty range";
    EXPECT_FALSE(marks.toggle(7));
    EXPECT_FALSE(marks.isMarked(7));
    EXPECT_EQ(marks.count(), 2u);
    marks.clear();
    EXPECT_TRUE(marks.isEmpty());
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
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
        std::set<LineNumber> model;
        for (int step = 0; step < 300; ++step) {
            const LineNumber count = doc.lineCount();
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
                const bool marked = doc.marks().toggle(line);
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
                doc.appendText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                               false);
                break;
            }
            case 5:
                doc.clearText();
                doc.stopWatching();
                model.clear();
                break;
            case 6:
                if (random() % 4 == 0) {
                    writeFile(path, "again\n");
                    ASSERT_TRUE(doc.openDocument(u16(path)));
                    doc.stopWatching();
                    model.clear();
                }
                break;
            default: {
                const LineNumber from = count == 0 ? 0 : random() % (count + 1);
                ASSERT_EQ(doc.marks().next(from), modelNeighbour(model, from, true))
                    << "seed " << seed << " step " << step;
                ASSERT_EQ(doc.marks().previous(from), modelNeighbour(model, from, false))
                    << "seed " << seed << " step " << step;
                break;
            }
            }
            ASSERT_EQ(doc.marks().lines(), std::vector<LineNumber>(model.begin(), model.end()))
                << "seed " << seed << " step " << step;
            for (LineNumber m : model) {
                ASSERT_LT(m, doc.lineCount()) << "a mark outlived its line";
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

TEST(LineMarks, NotesStayWithTheirLinesAsMarksComeAndGo)
{
    LineMarks marks;
    marks.mark(5, u"five");
    EXPECT_TRUE(marks.toggle(2));
    marks.mark(9, u"nine");
    EXPECT_FALSE(marks.setNote(3, u"unmarked")) << "a note needs a mark";
    EXPECT_FALSE(marks.isMarked(3));
    EXPECT_TRUE(marks.setNote(2, u"two"));
    EXPECT_FALSE(marks.toggle(5));
    EXPECT_EQ(marks.note(5), u"") << "an unmarked line has no note";
    EXPECT_EQ(marks.note(2), u"two");
    EXPECT_EQ(marks.note(9), u"nine");
    marks.mark(9, u"");
    EXPECT_TRUE(marks.isMarked(9));
    EXPECT_EQ(marks.note(9), u"");
    EXPECT_TRUE(marks.toggle(5));
    EXPECT_EQ(marks.note(5), u"") << "marked again, its old note is gone";
    EXPECT_EQ(marks.lines(), (std::vector<LineNumber>{2, 5, 9}));
    marks.clear();
    EXPECT_EQ(marks.note(2), u"");
}
