// Lines too long to decode whole, through the real view with real events: wrapped, such a
// line shows every row of its columns (its last, one deep inside, the one a match is in),
// scrolls by rows, and a point on it names its column; unwrapped or wrapped, a find
// highlight deep inside it is drawn on the match's columns and nowhere beside them.

#include "ViewTestSupport.h"
#include "engine/LongLine.h"
#include "support/WidgetEvents.h"
#include "view/ColumnRows.h"

#include <QPainter>
#include <QTest>
#include <QWheelEvent>

#include <fcntl.h>
#include <unistd.h>

using quilltest::ViewFixture;

namespace {

// "first\n", then Zeros bytes of zeros with "MARK" at column mark and "END" as the line's
// last columns, then "next\n": a sparse file.
constexpr std::int64_t Zeros = std::int64_t(64) << 20;

} // namespace

class LongWrapTest : public ViewFixture {
  protected:
    void writeHugeLine(std::int64_t mark)
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "first\n", 6, 0), 6);
        ASSERT_EQ(::pwrite(fd, "MARK", 4, 6 + mark), 4);
        ASSERT_EQ(::pwrite(fd, "END\nnext\n", 9, 6 + Zeros - 3), 9);
        ::close(fd);
    }
    // The columns [from, to) of the long line as the view shows them.
    std::u16string model(std::int64_t from, std::int64_t to, std::int64_t mark) const
    {
        std::u16string text;
        for (std::int64_t c = from; c < std::min(to, Zeros); ++c) {
            char16_t unit = 0;
            if (c >= mark && c < mark + 4) {
                unit = u"MARK"[c - mark];
            } else if (c >= Zeros - 3) {
                unit = u"END"[c - (Zeros - 3)];
            }
            text += unit;
        }
        return text;
    }
    // Pixel for pixel, the viewport's row at y against the renderer painting text alone.
    void expectRowShows(const QImage& shown, int y, const std::u16string& text)
    {
        EXPECT_EQ(rowDifference(shown, y, text), 0)
            << "row at y " << y << ": " << QString::fromStdU16String(text).toStdString();
    }
    // Pixels of the find highlight (reddish, where text and background are green and black)
    // in the row at y between x from and to.
    static int highlighted(const QImage& image, int y, int height, qint64 from, qint64 to)
    {
        int count = 0;
        for (int py = y; py < y + height; ++py) {
            for (qint64 x = std::max<qint64>(0, from); x < std::min<qint64>(image.width(), to);
                 ++x) {
                count += QColor(image.pixel(int(x), py)).red() > 40 ? 1 : 0;
            }
        }
        return count;
    }
    // The row on screen of line 1 that holds column c.
    std::optional<WrapScroller::Row> rowOf(std::int64_t c)
    {
        for (const WrapScroller::Row& row : view->screenRows()) {
            if (row.item == 1 && row.start <= c && c < row.end) {
                return row;
            }
        }
        return std::nullopt;
    }
};

TEST_F(LongWrapTest, AWrappedHugeLineShowsEachRowOfItsColumnsWhereverItIsScrolledTo)
{
    open("placeholder\n", 10, 300);
    setWrap(true);
    const int cell = view->renderer().averageCharWidth();
    ASSERT_TRUE(LogRenderer::isMonospaced(view->renderer().font()));
    const std::int64_t cols = view->wrapWidth() / cell;
    ASSERT_GT(cols, 10);
    // Deep inside, in the middle of a row.
    const std::int64_t mark = (std::int64_t(50'000'000) / cols) * cols + cols / 2;
    writeHugeLine(mark);
    openWritten(10, 300);
    setWrap(true);
    view->clearFocus(); // no caret
    const std::int64_t rows = (Zeros + cols - 1) / cols;

    // The end: "next" on the last row, the line's last columns on the row above it.
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    settle();
    QImage image = view->viewport()->grab().toImage();
    expectRowShows(image, 9 * lineHeight, u"next");
    expectRowShows(image, 8 * lineHeight, model((rows - 1) * cols, Zeros, mark));
    expectRowShows(image, 7 * lineHeight, model((rows - 2) * cols, (rows - 1) * cols, mark));
    // The top: the line's first rows below "first".
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    settle();
    image = view->viewport()->grab().toImage();
    expectRowShows(image, 0, u"first");
    expectRowShows(image, lineHeight, model(0, cols, mark));
    ASSERT_TRUE(rowOf(cols));
    EXPECT_EQ(rowOf(cols)->end, 2 * cols);

    // Find scrolls to the row that holds the match, deep past every part decoded so far.
    document->setFindPosition(0, 0);
    ASSERT_TRUE(document->find(u"MARK", true, SearchMatchCase));
    settle();
    std::optional<WrapScroller::Row> row = rowOf(mark);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->start, mark - cols / 2);
    EXPECT_EQ(row->end, row->start + cols);
    ASSERT_GE(row->y, 0);
    const int markX = int(mark - row->start) * cell;
    const TextPoint hit = view->pointToText(QPoint(markX + cell / 2, row->y + 1));
    EXPECT_EQ(hit.line, 1u);
    EXPECT_EQ(hit.character, mark);
    EXPECT_EQ(view->pointToText(QPoint(markX + 3 * cell + cell / 2, row->y + 1)).character,
              mark + 3);
    document->clearSelection();
    view->setFindHighlight(u"MARK", SearchMatchCase);
    settle();
    image = view->viewport()->grab().toImage();
    expectRowShows(image, row->y - lineHeight, model(row->start - cols, row->start, mark));
    EXPECT_GT(highlighted(image, row->y, lineHeight, markX, markX + 4 * cell), 4 * cell);
    EXPECT_EQ(highlighted(image, row->y, lineHeight, 0, markX), 0);
    EXPECT_EQ(highlighted(image, row->y, lineHeight, markX + 4 * cell, image.width()), 0);
    view->setFindHighlight(u"", 0);

    // A wheel notch scrolls by rows of columns.
    const std::int64_t before = view->screenRows().front().start;
    const QPointF at(10, 10);
    QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &event);
    settle();
    const std::int64_t after = view->screenRows().front().start;
    EXPECT_GT(after, before);
    EXPECT_EQ((after - before) % cols, 0);
    image = view->viewport()->grab().toImage();
    for (const WrapScroller::Row& shown : view->screenRows()) {
        if (shown.item == 1 && shown.y >= 0 && shown.y + lineHeight <= image.height()) {
            EXPECT_EQ(shown.start % cols, 0);
            expectRowShows(image, shown.y, model(shown.start, shown.end, mark));
        }
    }
}

// Unwrapped: the highlight of a match far from the line's start is drawn on its columns.
TEST_F(LongWrapTest, AFindHighlightDeepInsideAHugeLineIsDrawnOnTheMatch)
{
    const std::int64_t mark = 40'000'003;
    writeHugeLine(mark);
    openWritten(10, 300);
    view->clearFocus();
    document->setFindPosition(0, 0);
    ASSERT_TRUE(document->find(u"MARK", true, SearchMatchCase));
    settle();
    document->clearSelection();
    view->setFindHighlight(u"MARK", SearchMatchCase);
    settle();
    const qint64 average = view->renderer().averageCharWidth();
    const qint64 markX = mark * average - view->scrollX();
    ASSERT_GE(markX, 0);
    ASSERT_LE(markX + 4 * average, view->viewport()->width());
    const QImage image = view->viewport()->grab().toImage();
    EXPECT_GT(highlighted(image, lineHeight, lineHeight, markX, markX + 4 * average), 4 * average);
    EXPECT_EQ(highlighted(image, lineHeight, lineHeight, 0, markX), 0);
    EXPECT_EQ(highlighted(image, lineHeight, lineHeight, markX + 4 * average, image.width()), 0);
    EXPECT_EQ(highlighted(image, 0, lineHeight, 0, image.width()), 0) << "nothing on line 0";
}

// A line one byte over the long-line bound and one at it, wrapped: each shows its last
// row whole, the first by columns, the second laid out from its text.
TEST_F(LongWrapTest, LinesAtAndJustOverTheBoundShowTheirLastRows)
{
    open("placeholder\n", 10, 300);
    setWrap(true);
    const std::int64_t cols = view->wrapWidth() / view->renderer().averageCharWidth();
    const std::int64_t over = std::int64_t(LongLineBytes); // its text; with "\n" one over
    const std::int64_t at = over - 1;                      // with "\n" exactly at the bound
    // And a long line of whole rows: its last row ends at its end, no empty row follows.
    const std::int64_t whole = (over / cols + 1) * cols;
    quilltest::writeFile(path, "first\n" + std::string(std::size_t(over), 'b') + "\n" +
                                   std::string(std::size_t(at), 'a') + "\n" +
                                   std::string(std::size_t(whole), 'c') + "\nend\n");
    openWritten(10, 300);
    setWrap(true);
    view->clearFocus();
    ASSERT_TRUE(document->isLongLine(1));
    ASSERT_FALSE(document->isLongLine(2));

    view->showLine(2);
    settle();
    std::optional<WrapScroller::Row> last;
    for (const WrapScroller::Row& row : view->screenRows()) {
        if (row.item == 1) {
            last = row;
        }
    }
    ASSERT_TRUE(last);
    EXPECT_EQ(last->start, ((over - 1) / cols) * cols);
    EXPECT_EQ(last->end, over);
    QImage image = view->viewport()->grab().toImage();
    {
        SCOPED_TRACE("the last row of the line over the bound");
        expectRowShows(image, last->y, std::u16string(std::size_t(last->end - last->start), u'b'));
    }

    // The row above a line's first row, as showLine shows that line.
    auto rowAbove = [&](LineNumber line) -> std::optional<WrapScroller::Row> {
        view->showLine(line);
        document->clearSelection(); // the line shown is selected
        settle();
        const std::vector<WrapScroller::Row> rows = view->screenRows();
        for (std::size_t k = 1; k < rows.size(); ++k) {
            if (rows[k].item == line && rows[k].start == 0) {
                return rows[k - 1];
            }
        }
        return std::nullopt;
    };
    const std::optional<WrapScroller::Row> atEnd = rowAbove(3);
    ASSERT_TRUE(atEnd);
    ASSERT_EQ(atEnd->item, 2u);
    EXPECT_EQ(atEnd->end, at);
    image = view->viewport()->grab().toImage();
    {
        SCOPED_TRACE("the last row of the line at the bound");
        expectRowShows(image, atEnd->y,
                       std::u16string(std::size_t(atEnd->end - atEnd->start), u'a'));
    }
    const std::optional<WrapScroller::Row> wholeEnd = rowAbove(4);
    ASSERT_TRUE(wholeEnd);
    EXPECT_EQ(wholeEnd->item, 3u);
    EXPECT_EQ(wholeEnd->start, whole - cols);
    EXPECT_EQ(wholeEnd->end, whole);
}

// The rows of a line wrapped by columns against rows counted one by one.
TEST(ColumnRowsTest, RowsCoverEveryColumnOnceAtEveryBoundary)
{
    for (std::int64_t columns : {0, 1, 6, 7, 8, 13, 14, 15, 50}) {
        for (std::int64_t per : {1, 7, 100}) {
            const ColumnRows rows(columns, per);
            std::vector<std::int64_t> starts{0};
            while (starts.back() + per < columns) {
                starts.push_back(starts.back() + per);
            }
            ASSERT_EQ(rows.count(), std::int64_t(starts.size())) << columns << "/" << per;
            EXPECT_EQ(rows.lastStart(), starts.back());
            for (std::int64_t c = -1; c <= columns + 1; ++c) {
                std::size_t k = 0;
                while (k + 1 < starts.size() && starts[k + 1] <= c) {
                    ++k;
                }
                EXPECT_EQ(rows.rowStart(c), starts[k]) << columns << "/" << per << " at " << c;
                EXPECT_EQ(rows.rowOf(c), std::int64_t(k));
                EXPECT_EQ(rows.rowEnd(c), k + 1 < starts.size() ? starts[k + 1] : columns);
                EXPECT_EQ(rows.start(std::int64_t(k)), starts[k]);
            }
            EXPECT_EQ(rows.start(rows.count() + 3), starts.back());
        }
    }
}
