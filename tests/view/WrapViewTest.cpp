// The log view with wrapped lines, through real keys, wheel and mouse events: rows painted
// where the break rule puts them (compared pixel for pixel with the renderer painting the
// expected row alone), scrolling and paging by rows against a model of the rows, following
// the end, a place kept while lines arrive and the window narrows, selection across rows
// and its copy, and a shown line's first row.

#include "ViewTestSupport.h"
#include "support/WidgetEvents.h"
#include "view/LineGutter.h"

#include <QClipboard>
#include <QPainter>
#include <QTest>
#include <QWheelEvent>

using quilltest::ViewFixture;

namespace {

struct ModelRow {
    LineNumber line;
    qsizetype start;
};

} // namespace

class WrapViewTest : public ViewFixture {
  protected:
    // Opens the bytes and switches wrapping on; cols is how many cells a row holds.
    void openWrapped(const std::string& bytes, int rows = 10)
    {
        open(bytes, rows);
        setWrap(true);
        cell = view->renderer().averageCharWidth();
        ASSERT_TRUE(LogRenderer::isMonospaced(view->renderer().font()));
        cols = view->wrapWidth() / cell;
        ASSERT_GT(cols, 20);
    }

    // What View > Wrap Long Lines does: the setting, and the views brought up to date.
    void setWrap(bool wrap)
    {
        store->setBool(Setting::WrapLongLines, wrap);
        view->updateFromDocument();
        settle();
    }

    // The first row on screen that shows whole.
    ModelRow topRow()
    {
        for (const WrapScroller::Row& row : view->screenRows()) {
            if (row.y >= 0) {
                return {LineNumber(row.item), row.start};
            }
        }
        return {0, -1};
    }

    // The viewport's pixels of row y against the renderer painting `text` alone.
    void expectRowShows(int y, const std::u16string& text)
    {
        view->clearFocus(); // no caret
        settle();
        const QImage shown = view->viewport()->grab().toImage();
        QImage expected(shown.width(), lineHeight, QImage::Format_RGB32);
        const QColor background = quill::colorFromRef(store->dword(Setting::BackgroundColor));
        expected.fill(background);
        LogRenderer::RowStyle style;
        style.text = quill::colorFromRef(store->dword(Setting::TextColor));
        style.background = background;
        {
            QPainter painter(&expected);
            view->renderer().paintRow(painter, 0, 0, 0, expected.width(),
                                      QStringView(text.data(), qsizetype(text.size())), style);
        }
        int differing = 0;
        for (int py = 0; py < lineHeight; ++py) {
            for (int px = 0; px < shown.width() - 2; ++px) {
                differing += QColor(shown.pixel(px, y + py)) != QColor(expected.pixel(px, py));
            }
        }
        EXPECT_EQ(differing, 0) << "row at y " << y << " is not "
                                << QString::fromStdU16String(text).toStdString();
    }

    void wheel(int notches)
    {
        const QPointF at(10, 10);
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(),
                          QPoint(0, -120 * notches), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
        settle();
    }

    int cell = 0;
    int cols = 0;
};

TEST_F(WrapViewTest, ALongLineGoesOnInTheRowsBelowBrokenAtABlank)
{
    open("short line\nplaceholder\nafter\n", 10);
    cell = view->renderer().averageCharWidth();
    const int width = (view->viewport()->width() - 1) / cell;
    const std::string first(std::size_t(width - 3), 'a');
    const std::string wide = first + " bbbbbbbbbb cc";
    openWrapped("short line\n" + wide + "\nafter\n", 10);
    EXPECT_EQ(hbar()->maximum(), 0) << "nothing to scroll sideways";
    EXPECT_EQ(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    expectRowShows(0, u"short line");
    expectRowShows(lineHeight, std::u16string(first.begin(), first.end()) + u" ");
    expectRowShows(2 * lineHeight, u"bbbbbbbbbb cc");
    expectRowShows(3 * lineHeight, u"after");

    // Switched off, the line is one row again and scrolls sideways.
    setWrap(false);
    expectRowShows(2 * lineHeight, u"after");
    EXPECT_GT(hbar()->maximum(), 0);
}

TEST_F(WrapViewTest, KeysAndTheWheelScrollByRows)
{
    // Lines of 1, 2 or 3 full rows of x: the model of the rows is plain counting.
    openWrapped("placeholder\n", 8);
    std::string bytes;
    std::vector<ModelRow> model;
    for (LineNumber line = 0; line < 60; ++line) {
        const int rows = int(line % 3) + 1;
        bytes += std::string(std::size_t(rows * cols), 'x') + "\n";
        for (int r = 0; r < rows; ++r) {
            model.push_back({line, qsizetype(r) * cols});
        }
    }
    openWrapped(bytes, 8);
    auto expectTop = [&](std::size_t index, const char* what) {
        const ModelRow top = topRow();
        EXPECT_EQ(top.line, model[index].line) << what;
        EXPECT_EQ(top.start, model[index].start) << what;
    };
    // At the end: the last row's bottom on the viewport's.
    const std::vector<WrapScroller::Row> end = view->screenRows();
    ASSERT_FALSE(end.empty());
    EXPECT_EQ(end.back().item, 59u);
    EXPECT_EQ(end.back().y + lineHeight, view->viewport()->height());
    EXPECT_TRUE(view->isFollowing());

    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    expectTop(0, "Ctrl+Home");
    EXPECT_FALSE(view->isFollowing());
    QTest::keyClick(view.get(), Qt::Key_Down);
    expectTop(1, "Down");
    QTest::keyClick(view.get(), Qt::Key_Down);
    QTest::keyClick(view.get(), Qt::Key_Down);
    expectTop(3, "Down twice more: into the third line");
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    expectTop(3 + 7, "a page is the rows on screen less one");
    QTest::keyClick(view.get(), Qt::Key_Up);
    expectTop(9, "Up");
    const int wheelRows = QApplication::wheelScrollLines();
    wheel(1);
    expectTop(9 + std::size_t(std::min(wheelRows, 7)), "a notch of the wheel");
    QTest::keyClick(view.get(), Qt::Key_PageUp);
    expectTop(9 + std::size_t(std::min(wheelRows, 7)) - 7, "Page Up");
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(view->isFollowing());
    EXPECT_EQ(view->screenRows().back().y + lineHeight, view->viewport()->height());
    EXPECT_EQ(vbar()->value(), vbar()->maximum());

    // One row up from the end is away from it, however small a step of the bar that is.
    QTest::keyClick(view.get(), Qt::Key_Up);
    EXPECT_FALSE(view->isFollowing());
    EXPECT_LT(vbar()->value(), vbar()->maximum() - 5);
    QTest::keyClick(view.get(), Qt::Key_Down);
    EXPECT_TRUE(view->isFollowing()) << "back at the end by a scroll of the user's own";
}

TEST_F(WrapViewTest, FollowingShowsTheLastRowOfAGrowingLineAtTheBottom)
{
    openWrapped("first\nsecond\n", 6);
    ASSERT_TRUE(view->isFollowing());
    for (int round = 0; round < 4; ++round) {
        append(std::string(std::size_t(cols * (round + 2) + 5), 'y') + "\nz " +
               std::to_string(round));
        const std::vector<WrapScroller::Row> rows = view->screenRows();
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().item, document->lineCount() - 1);
        EXPECT_EQ(rows.back().end, qsizetype(document->line(document->lineCount() - 1).size()));
        EXPECT_EQ(rows.back().y + lineHeight, view->viewport()->height())
            << "the top row is the one cut, never the last";
        EXPECT_EQ(vbar()->value(), vbar()->maximum());
    }
    // The open last line grows on its own row.
    append(std::string(std::size_t(cols) * 3, 'w'));
    EXPECT_EQ(view->screenRows().back().end,
              qsizetype(document->line(document->lineCount() - 1).size()));
}

TEST_F(WrapViewTest, AwayFromTheEndThePlaceStaysThroughAppendsAndResizes)
{
    std::string bytes;
    for (int line = 0; line < 40; ++line) {
        bytes +=
            "line " + std::to_string(line) + " " + std::string(std::size_t(200 + line), 'q') + "\n";
    }
    openWrapped(bytes, 8);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    for (int k = 0; k < 3; ++k) {
        QTest::keyClick(view.get(), Qt::Key_Down);
    }
    const ModelRow before = topRow();
    ASSERT_GT(before.start, 0) << "a continuation row at the top";
    const int value = vbar()->value();
    append("more\n" + std::string(900, 'm') + "\n");
    EXPECT_EQ(topRow().line, before.line);
    EXPECT_EQ(topRow().start, before.start);
    EXPECT_EQ(vbar()->value(), value);

    // Narrower: the row that holds the same character is at the top.
    view->resize(view->width() - 7 * cell, view->height());
    settle();
    const ModelRow narrow = topRow();
    EXPECT_EQ(narrow.line, before.line);
    EXPECT_LE(narrow.start, before.start);
    EXPECT_GT(view->screenRows().front().end, before.start);
    view->resize(view->width() + 7 * cell, view->height());
    settle();
    EXPECT_EQ(topRow().start, before.start) << "and back where it was";
    EXPECT_FALSE(view->isFollowing());
}

TEST_F(WrapViewTest, ThePartlyHiddenTopRowCountsAsTheNextRow)
{
    std::string bytes;
    for (int line = 0; line < 30; ++line) {
        bytes += std::string(300, char('a' + line % 26)) + "\n";
    }
    openWrapped(bytes, 8);
    // The thumb put where the top row is cut: a point in what shows of it is the next row.
    for (int value = vbar()->maximum() / 3; value < vbar()->maximum(); value += 7) {
        vbar()->setSliderPosition(value);
        settle();
        if (view->screenRows().front().y < 0) {
            break;
        }
    }
    const std::vector<WrapScroller::Row> rows = view->screenRows();
    ASSERT_LT(rows.front().y, 0);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(2, 0));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(2, 0));
    EXPECT_EQ(view->caretLine(), int(rows[1].item));
    EXPECT_EQ(view->caretCharacter(), rows[1].start);
}

TEST_F(WrapViewTest, ShowLinePutsTheLinesFirstRowOnScreenWithARowAbove)
{
    openWrapped("placeholder\n", 8);
    std::string bytes;
    for (int line = 0; line < 50; ++line) {
        bytes += std::to_string(line) + " " + std::string(std::size_t(cols * 2), 'k') + "\n";
    }
    openWrapped(bytes, 8);
    view->showLine(20);
    settle();
    const std::vector<WrapScroller::Row> rows = view->screenRows();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].item, 19u);
    EXPECT_EQ(rows[1].item, 20u);
    EXPECT_EQ(rows[1].start, 0);
    EXPECT_EQ(rows[0].y, 0);

    // The gutter's number stands on the first row of each line, none on the rows after.
    view->setLineNumbersShown(true);
    settle();
    const QImage gutter = view->gutter()->grab().toImage();
    const QColor back = view->gutter()->palette().color(QPalette::Window);
    auto inked = [&](int y) {
        for (int py = y; py < y + lineHeight; ++py) {
            for (int px = 0; px < gutter.width(); ++px) {
                if (QColor(gutter.pixel(px, py)) != back) {
                    return true;
                }
            }
        }
        return false;
    };
    int firstRows = 0;
    int laterRows = 0;
    for (const WrapScroller::Row& row : view->screenRows()) {
        if (row.y >= 0 && row.y + lineHeight <= gutter.height()) {
            EXPECT_EQ(inked(row.y), row.start == 0) << "row at " << row.y;
            ++(row.start == 0 ? firstRows : laterRows);
        }
    }
    EXPECT_GT(firstRows, 0);
    EXPECT_GT(laterRows, 0);
}

// Where the user's place lies below the end (the window grew, the thumb named a place the
// estimate put too low), the screen still ends with the last row at the bottom; and what
// the user was shown is where they stay when lines arrive.
TEST_F(WrapViewTest, APlaceBelowTheEndShowsTheEndAndStaysWhatWasShown)
{
    std::string bytes;
    for (int line = 0; line < 100; ++line) {
        bytes += "line " + std::to_string(line) + "\n";
    }
    openWrapped(bytes, 8);
    // Two rows above the end, then a taller window: the rows below the place do not fill it.
    QTest::keyClick(view.get(), Qt::Key_Up);
    QTest::keyClick(view.get(), Qt::Key_Up);
    ASSERT_FALSE(view->isFollowing());
    view->resize(view->width(), view->height() + 5 * lineHeight);
    settle();
    std::vector<WrapScroller::Row> rows = view->screenRows();
    EXPECT_EQ(rows.back().item, 99u);
    EXPECT_EQ(rows.back().y + lineHeight, view->viewport()->height());
    EXPECT_FALSE(view->isFollowing());

    // The last line's size (bytes of two-byte characters) makes its rows overestimated:
    // the bar's end, estimated while following, lies beyond the true end, and a thumb let
    // go just short of it names a place below the end. The end is what shows, and stays.
    std::string wide;
    for (int k = 0; k < cols * 10; ++k) {
        wide += "\xc3\xa9";
    }
    openWrapped(bytes + wide + "\n", 8);
    ASSERT_TRUE(view->isFollowing());
    vbar()->setSliderPosition(vbar()->maximum() - 10);
    settle();
    ASSERT_FALSE(view->isFollowing());
    rows = view->screenRows();
    ASSERT_EQ(rows.back().item, 100u);
    EXPECT_EQ(rows.back().y + lineHeight, view->viewport()->height()) << "the end shows";
    const WrapScroller::Row shown = rows.front();
    append("one\ntwo\nthree\n");
    EXPECT_EQ(view->screenRows().front().item, shown.item);
    EXPECT_EQ(view->screenRows().front().start, shown.start);
    EXPECT_EQ(view->screenRows().front().y, shown.y);
}

// The bar's own arrows step a row, its trough a page of rows (real clicks on the bar).
TEST_F(WrapViewTest, TheBarsArrowsAndTroughStepByRows)
{
    openWrapped("placeholder\n", 8);
    std::string bytes;
    for (int line = 0; line < 40; ++line) {
        bytes += std::string(std::size_t(2 * cols), char('a' + line % 26)) + "\n";
    }
    openWrapped(bytes, 8);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    const QRect down = quilltest::scrollBarPart(vbar(), QStyle::SC_ScrollBarAddLine);
    const QRect thumb = quilltest::scrollBarPart(vbar(), QStyle::SC_ScrollBarSlider);
    ASSERT_TRUE(down.isValid());
    QTest::mouseClick(vbar(), Qt::LeftButton, {}, down.center());
    settle();
    EXPECT_EQ(view->screenRows().front().item, 0u);
    EXPECT_EQ(view->screenRows().front().start, qsizetype(cols)) << "one row down";
    const QPoint trough(thumb.center().x(), (thumb.bottom() + down.top()) / 2);
    QTest::mouseClick(vbar(), Qt::LeftButton, {}, trough);
    settle();
    // 1 + 7 rows: the first of line 4 (two rows a line).
    EXPECT_EQ(view->screenRows().front().item, 4u);
    EXPECT_EQ(view->screenRows().front().start, 0);
    EXPECT_FALSE(view->isFollowing());
}

// From a partly hidden top row, paging up past the first row shows it whole.
TEST_F(WrapViewTest, PagingUpPastTheTopShowsTheFirstRowWhole)
{
    std::string bytes;
    for (int line = 0; line < 30; ++line) {
        bytes += std::string(300, char('a' + line % 26)) + "\n";
    }
    openWrapped(bytes, 8);
    for (int value = vbar()->maximum() / 10; value < vbar()->maximum(); value += 7) {
        vbar()->setSliderPosition(value);
        settle();
        if (view->screenRows().front().y < 0) {
            break;
        }
    }
    ASSERT_LT(view->screenRows().front().y, 0);
    for (int k = 0; k < 10; ++k) {
        QTest::keyClick(view.get(), Qt::Key_PageUp);
    }
    EXPECT_EQ(view->screenRows().front().item, 0u);
    EXPECT_EQ(view->screenRows().front().start, 0);
    EXPECT_EQ(view->screenRows().front().y, 0);
}

// A list of a few lines whose blanks waste room (one word a row) does not fit however
// its size reads: the bar is there, and the wheel scrolls it.
TEST_F(WrapViewTest, AFewLinesThatDoNotFitHaveTheirScrollBar)
{
    openWrapped("placeholder\n", 8);
    const std::string word(std::size_t(cols / 2 + 1), 'w');
    std::string bytes;
    for (int line = 0; line < 2; ++line) {
        for (int k = 0; k < 6; ++k) {
            bytes += word + " ";
        }
        bytes += "\n";
    }
    openWrapped(bytes, 8);
    ASSERT_EQ(view->screenRows().back().item, 1u);
    EXPECT_GT(vbar()->maximum(), 0) << "twelve rows in eight";
    EXPECT_EQ(view->screenRows().back().y + lineHeight, view->viewport()->height());
    wheel(-3);
    EXPECT_EQ(view->screenRows().front().item, 0u);
    EXPECT_EQ(view->screenRows().front().start, 0);
}

// With a million lines a line's share of the bar is a few values, and one row of a long
// last line less than one: a row up from the end must still be away from it.
TEST_F(WrapViewTest, ARowUpFromTheEndIsAwayFromItWhateverARowIsWorthOnTheBar)
{
    openWrapped("placeholder\n", 8);
    std::string bytes;
    bytes.reserve((1u << 20) * 2 + 50'000);
    for (int line = 0; line < (1 << 20); ++line) {
        bytes += "x\n";
    }
    bytes += std::string(std::size_t(cols) * 600, 'z');
    openWrapped(bytes, 8);
    ASSERT_TRUE(view->isFollowing());
    QTest::keyClick(view.get(), Qt::Key_Up);
    EXPECT_FALSE(view->isFollowing());
    EXPECT_LT(vbar()->value(), vbar()->maximum() - 5);
    append("more");
    EXPECT_LT(view->screenRows().back().end,
              qsizetype(document->line(document->lineCount() - 1).size()))
        << "the view stays where the user went";
}

// The caret after a line's last character stands at the end of its last row.
TEST_F(WrapViewTest, TheCaretAtALinesEndStandsOnItsLastRow)
{
    openWrapped("placeholder\n", 8);
    openWrapped(std::string(std::size_t(cols) + 7, 'c') + "\nnext\n", 8);
    const std::vector<WrapScroller::Row> rows = view->screenRows();
    ASSERT_EQ(rows[1].item, 0u);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      QPoint(view->wrapWidth() - 2, rows[1].y + lineHeight / 2));
    view->viewport()->repaint();
    EXPECT_EQ(view->caretLine(), 0);
    EXPECT_EQ(view->caretCharacter(), cols + 7);
    EXPECT_EQ(view->caretX(), 7 * cell) << "after the seventh character of the second row";
}

// A file read again whose lines have the same lengths but other breaks is laid out anew.
TEST_F(WrapViewTest, LinesReadAgainAreWrappedAsTheyNowRead)
{
    openWrapped("placeholder\n", 8);
    auto lines = [&](int shift) {
        std::string bytes;
        for (int line = 0; line < 6; ++line) {
            std::string text(std::size_t(3 * cols), 'r');
            text[std::size_t(cols / 2 + 3 * line + shift)] = ' ';
            bytes += text + "\n";
        }
        return bytes;
    };
    openWrapped(lines(0), 30);
    quilltest::writeFile(path, lines(1));
    ASSERT_TRUE(document->openDocument(std::u16string(path.begin(), path.end())));
    document->stopWatching();
    view->initialUpdate();
    settle();
    int checked = 0;
    for (const WrapScroller::Row& row : view->screenRows()) {
        if (row.start == 0) {
            // The first row ends after the blank, wherever it now is.
            EXPECT_EQ(row.end, cols / 2 + 3 * qsizetype(row.item) + 2) << "line " << row.item;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 6);
}

// A view whose height is not a whole number of rows: at the end the last row stands on the
// bottom edge and the top row is the one cut, with no blank strip above it; rows that fit in
// the height scroll nowhere, and one row more than fits scrolls by what does not fit.
TEST_F(WrapViewTest, AHeightOfPartRowsShowsTheEndOnTheBottomEdgeAndScrollsOnlyWhatDoesNotFit)
{
    openWrapped("placeholder\n", 8); // the row's height and width
    for (const int part : {1, lineHeight / 2, lineHeight - 1}) {
        SCOPED_TRACE("part row of " + std::to_string(part) + " pixels");
        const std::string wide(std::size_t(cols + cols / 2), 'x'); // two rows a line
        std::string bytes;
        for (int line = 0; line < 10; ++line) {
            bytes += wide + "\n";
        }
        openWrapped(bytes, 8);
        view->resize(view->width(), view->height() + part);
        settle();
        const int height = view->viewport()->height();
        ASSERT_EQ(height, 8 * lineHeight + part);
        ASSERT_TRUE(view->isFollowing());
        std::vector<WrapScroller::Row> rows = view->screenRows();
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().item, 9u);
        EXPECT_EQ(rows.back().y + lineHeight, height) << "the last row on the bottom edge";
        EXPECT_EQ(rows.front().y, part - lineHeight) << "the top row cut, nothing blank above";
        EXPECT_EQ(int(rows.size()), 9);
        EXPECT_EQ(vbar()->value(), vbar()->maximum());

        // Four lines, eight rows: they fit in eight and a part.
        bytes.clear();
        for (int line = 0; line < 4; ++line) {
            bytes += wide + "\n";
        }
        openWrapped(bytes, 8);
        view->resize(view->width(), view->height() + part);
        settle();
        EXPECT_EQ(vbar()->maximum(), 0) << "nothing to scroll";
        rows = view->screenRows();
        ASSERT_EQ(rows.size(), 8u);
        EXPECT_EQ(rows.front().y, 0) << "from the top, the part row left blank below";
        wheel(3);
        EXPECT_EQ(view->screenRows().front().y, 0);

        // Nine rows: one does not fit whole.
        append(std::string(std::size_t(cols / 2), 'z') + "\n");
        EXPECT_GT(vbar()->maximum(), 0) << "nine rows in eight and a part";
        EXPECT_EQ(view->screenRows().back().y + lineHeight, view->viewport()->height());
    }
}
