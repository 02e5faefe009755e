// The text area over a row source of the test's own (rows in memory, line numbers of its
// choosing): what a new kind of list needs is a RowSource, and the real widget does the
// rest. Real key and mouse events; the place and the following are checked against a
// model of the rows that knows nothing of the widget.

#include "support/TempDir.h"

#include "settings/SettingsStore.h"
#include "view/TextArea.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Rows in memory; row r stands for line 10 * r + offset (7 unless a test says), so a row number is
// never taken for a line number.
class ListRows : public RowSource {
  public:
    std::size_t rowCount() const override { return texts.size(); }
    LineNumber lineOfRow(std::size_t row) const override { return LineNumber(10 * row + offset); }
    std::u16string_view rowText(std::size_t row) override
    {
        ++reads;
        return row < texts.size() ? std::u16string_view(texts[row]) : std::u16string_view();
    }
    const StyleRuns& rowRuns(std::size_t) override { return none; }

    void append(std::size_t count, const std::u16string& text = u"row")
    {
        const std::size_t before = texts.size();
        for (std::size_t i = 0; i < count; ++i) {
            texts.push_back(text + u" " + number(before + i));
        }
        rowsAppended(before, count);
    }
    // The last row taken back (as a filter takes back a line that grew out of a match).
    void takeBackLast()
    {
        texts.pop_back();
        rowsAppended(texts.size(), 0);
    }
    // Other texts under the same line numbers (a file replaced under the same rows).
    void retextAll(const std::u16string& text)
    {
        for (std::u16string& row : texts) {
            row = text;
        }
        rowsRetexted(0, true);
    }
    void resetTo(std::size_t count)
    {
        texts.clear();
        for (std::size_t i = 0; i < count; ++i) {
            texts.push_back(u"new " + number(i));
        }
        rowsReset();
    }
    static std::u16string number(std::size_t n)
    {
        const std::string digits = std::to_string(n);
        return std::u16string(digits.begin(), digits.end());
    }

    std::vector<std::u16string> texts;
    std::size_t offset = 7;
    StyleRuns none;
    int reads = 0;
};

class TextAreaTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        store = std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg"));
        SettingsStore::overrideInstance(store.get());
        area = std::make_unique<TextArea>();
        area->setRowSource(&rows);
        area->setTextFont(QFont(QStringLiteral("Monospace"), 10));
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        area->resize(400, 100);
        area->show();
        height = area->rowHeight();
        ASSERT_GT(height, 0);
        area->resize(400, Rows * height + (area->height() - area->viewport()->height()));
        settle();
        ASSERT_EQ(area->viewport()->height(), Rows * height);
    }
    void TearDown() override
    {
        area.reset();
        SettingsStore::overrideInstance(nullptr);
    }
    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
        }
    }
    void key(int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(area.get(), Qt::Key(k), modifiers);
        settle();
    }

    static constexpr int Rows = 8;
    quilltest::TempDir dir;
    std::unique_ptr<SettingsStore> store;
    ListRows rows;
    std::unique_ptr<TextArea> area;
    int height = 0;
};

TEST_F(TextAreaTest, AppendedRowsKeepTheEndInViewUntilTheUserLeavesItAndAResetComesBack)
{
    rows.append(20);
    settle();
    EXPECT_TRUE(area->isFollowing());
    EXPECT_EQ(area->firstVisibleRow(), 20u - Rows);
    rows.append(5);
    settle();
    EXPECT_EQ(area->firstVisibleRow(), 25u - Rows);

    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_FALSE(area->isFollowing());
    EXPECT_EQ(area->firstVisibleRow(), 0u);
    EXPECT_EQ(area->currentRow(), 0u);
    rows.append(30);
    settle();
    EXPECT_EQ(area->firstVisibleRow(), 0u) << "a user away from the end keeps the place";

    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(area->isFollowing());
    EXPECT_EQ(area->firstVisibleRow(), 55u - Rows);

    EXPECT_EQ(area->currentRow(), 54u);
    rows.takeBackLast();
    settle();
    EXPECT_EQ(area->currentRow(), 53u) << "the current row stays the last one";

    key(Qt::Key_PageUp);
    area->onEditSelectAll();
    ASSERT_TRUE(area->canCopy());
    rows.resetTo(40);
    settle();
    EXPECT_TRUE(area->isFollowing()) << "new rows are read from their end";
    EXPECT_EQ(area->firstVisibleRow(), 40u - Rows);
    EXPECT_EQ(area->currentRow(), 0u);
    EXPECT_FALSE(area->canCopy()) << "a selection of rows goes with them";
}

TEST_F(TextAreaTest, TheGutterMakesRoomForTheSourcesLineNumbersNotItsRowNumbers)
{
    rows.append(3);
    settle();
    const int narrow = area->gutterWidth();
    rows.append(2000); // the last row's line is 20,027: five digits
    settle();
    const int digit = QFontMetrics(area->renderer().font()).horizontalAdvance(QLatin1Char('8'));
    EXPECT_EQ(area->gutterWidth(), narrow + digit);

    // The largest number 10,000 (row 999 is line 9,999, shown as 10,000) takes five digits.
    rows.offset = 9;
    rows.resetTo(1000);
    settle();
    EXPECT_EQ(area->gutterWidth(), narrow + digit);

    // An area given rows that are already there makes room for them at once.
    TextArea other;
    other.setTextFont(area->renderer().font());
    other.setRowSource(&rows);
    EXPECT_EQ(other.gutterWidth(), area->gutterWidth());
    other.setRowSource(nullptr);
}

TEST_F(TextAreaTest, AClickActivatesItsRowAndACopyJoinsTheSelectedRowsTexts)
{
    rows.append(5);
    settle();
    std::vector<std::size_t> activated;
    QObject::connect(area.get(), &TextArea::rowActivated,
                     [&](std::size_t row) { activated.push_back(row); });
    QTest::mouseClick(area->viewport(), Qt::LeftButton, {},
                      QPoint(area->gutterWidth() + 5, 2 * height + height / 2));
    settle();
    ASSERT_EQ(activated.size(), 1u);
    EXPECT_EQ(activated[0], 2u);
    EXPECT_EQ(area->lineOfRow(activated[0]), 27u);
    EXPECT_EQ(area->currentRow(), 2u);

    // A drag over rows 1 to 3 is a selection, not an activation.
    const int x = area->gutterWidth() + 1;
    QTest::mousePress(area->viewport(), Qt::LeftButton, {}, QPoint(x, height + 1));
    QTest::mouseMove(area->viewport(), QPoint(x + 40, 3 * height + 2));
    QTest::mouseRelease(area->viewport(), Qt::LeftButton, {}, QPoint(x + 40, 3 * height + 2));
    settle();
    EXPECT_EQ(activated.size(), 1u);
    ASSERT_TRUE(area->canCopy());
    EXPECT_EQ(area->selection().startLine, 1u);
    EXPECT_EQ(area->selection().endLine, 3u);

    area->onEditSelectAll();
    ASSERT_EQ(area->onEditCopy().outcome, CopyOutcome::Copied);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("row 0\nrow 1\nrow 2\nrow 3\nrow 4\n"));
}

TEST_F(TextAreaTest, ADragOverRowsThatAreResetEndsWithThem)
{
    rows.append(5);
    settle();
    const int x = area->gutterWidth() + 1;
    QTest::mousePress(area->viewport(), Qt::LeftButton, {}, QPoint(x, height + 1));
    QTest::mouseMove(area->viewport(), QPoint(x + 40, 3 * height + 2));
    settle();
    ASSERT_TRUE(area->canCopy());
    rows.resetTo(10);
    settle();
    EXPECT_FALSE(area->canCopy());
    QTest::mouseMove(area->viewport(), QPoint(x + 40, 5 * height + 2));
    QTest::mouseRelease(area->viewport(), Qt::LeftButton, {}, QPoint(x + 40, 5 * height + 2));
    settle();
    // A move with the button still held starts afresh where it is; the old anchor is gone.
    EXPECT_TRUE(!area->canCopy() || area->selection().startLine == area->firstVisibleRow() + 5)
        << "the drag went on from row " << area->selection().startLine;
}

TEST_F(TextAreaTest, WrappedTheLastRowsScreenRowsStayAtTheBottomAsRowsArrive)
{
    area->setWrapLines(true);
    rows.append(10);
    rows.append(1, std::u16string(400, u'x'));
    settle();
    ASSERT_TRUE(area->isFollowing());
    const std::vector<WrapScroller::Row>& shown = area->screenRows();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().item, 10u);
    EXPECT_GT(shown.back().start, 0) << "a row wider than the view goes on below";
    EXPECT_EQ(shown.back().y + height, area->viewport()->height());
    rows.append(1);
    settle();
    EXPECT_EQ(area->screenRows().back().item, 11u);
    EXPECT_EQ(area->screenRows().back().y + height, area->viewport()->height());
}

TEST_F(TextAreaTest, WrappedRowsOfTextsReplacedUnderTheSameNumbersAreLaidOutAfresh)
{
    area->setWrapLines(true);
    rows.append(1, std::u16string(400, u'x'));
    settle();
    ASSERT_GT(area->screenRows().size(), 2u);
    const int cols = area->screenRows().front().end; // a row without blanks breaks at the edge
    // Words of a length that does not divide a row, so a row that breaks after a blank is
    // one laid out from the new text.
    const std::size_t word = cols % 7 == 0 ? 6 : 7;
    const std::size_t length = rows.texts[0].size();
    std::u16string words;
    while (words.size() < length) {
        words += words.size() % word == word - 1 ? u' ' : u'w';
    }
    rows.retextAll(words);
    settle();
    const std::vector<WrapScroller::Row>& shown = area->screenRows();
    ASSERT_GT(shown.size(), 2u);
    for (std::size_t k = 0; k + 1 < shown.size(); ++k) {
        ASSERT_GT(shown[k].end, 0);
        EXPECT_EQ(words[std::size_t(shown[k].end) - 1], u' ') << "screen row " << k;
    }
}

TEST_F(TextAreaTest, WrappedAPageMovesByTheRowsWhollyShownNotByScreenRows)
{
    area->setWrapLines(true);
    const int cell = area->renderer().averageCharWidth();
    ASSERT_GT(cell, 0);
    const int cols = (area->viewport()->width() - area->gutterWidth() - 1) / cell;
    rows.append(20, std::u16string(std::size_t(cols + cols / 2), u'w'));
    settle();
    key(Qt::Key_Home, Qt::ControlModifier);
    ASSERT_EQ(area->screenRows().at(1).item, 0u) << "each row takes two screen rows";
    ASSERT_EQ(area->screenRows().at(2).item, 1u);
    // Four rows start on the eight screen rows: a page is three.
    key(Qt::Key_PageDown);
    EXPECT_EQ(area->currentRow(), 3u);
}

TEST_F(TextAreaTest, OnlyTheRowsOnScreenAreRead)
{
    rows.append(100000);
    settle();
    rows.reads = 0;
    area->viewport()->repaint();
    EXPECT_GT(rows.reads, 0);
    EXPECT_LE(rows.reads, 3 * (Rows + 2));
}

// Random appends, resets and keys against a model of the place: a user at the end stays
// there through appends; a key that scrolls decides whether the user is at the end; a
// reset puts the user at the end with the first row current.
TEST_F(TextAreaTest, RandomWalkKeepsThePlaceTheModelKeeps)
{
    for (const std::uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        rows.resetTo(0);
        settle();
        std::size_t count = 0;
        std::size_t top = 0;
        std::size_t current = 0;
        bool following = true;
        auto lastTop = [&] { return count > std::size_t(Rows) ? count - Rows : 0; };
        for (int step = 0; step < 60; ++step) {
            const int action = int(random() % 6);
            if (action == 0) {
                const std::size_t n = random() % 12;
                rows.append(n);
                count += n;
                if (following) {
                    top = lastTop();
                }
            } else if (action == 1 && random() % 4 == 0) {
                const std::size_t n = random() % 30;
                rows.resetTo(n);
                count = n;
                current = 0;
                following = true;
                top = lastTop();
            } else if (count > 0) {
                const std::size_t page = Rows - 1;
                std::size_t target = current;
                switch (action) {
                case 1:
                case 2:
                    key(Qt::Key_Up);
                    target = current > 0 ? current - 1 : 0;
                    break;
                case 3:
                    key(Qt::Key_PageDown);
                    target = std::min(current + page, count - 1);
                    break;
                case 4:
                    key(Qt::Key_PageUp);
                    target = current > page ? current - page : 0;
                    break;
                default: {
                    const bool home = random() % 2 == 0;
                    key(home ? Qt::Key_Home : Qt::Key_End, Qt::ControlModifier);
                    target = home ? 0 : count - 1;
                    break;
                }
                }
                current = target;
                std::size_t shownTop = top;
                if (current < top) {
                    shownTop = current;
                } else if (current >= top + Rows) {
                    shownTop = current + 1 - Rows;
                }
                if (shownTop != top) {
                    top = shownTop;
                    following = top >= lastTop();
                }
            }
            settle();
            ASSERT_EQ(area->rowCount(), count);
            ASSERT_EQ(area->currentRow(), current) << "step " << step;
            ASSERT_EQ(area->firstVisibleRow(), top) << "step " << step;
            ASSERT_EQ(area->isFollowing(), following) << "step " << step;
        }
    }
}

} // namespace
