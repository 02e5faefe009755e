// The log view on a real document: following the end, keys, wheel,
// painting with keyword colours and the alert rule.

#include "ViewTestSupport.h"
#include "support/WidgetEvents.h"

#include <QScreen>

#include <fcntl.h>
#include <unistd.h>

#include <QTest>
#include <QWheelEvent>
#include <climits>

using quilltest::ViewFixture;

namespace {

constexpr ColorRef KeywordText = 0x00FFFFFF; // white
constexpr ColorRef KeywordBack = 0x000000FF; // red

void storeErrorKeyword(SettingsStore& store)
{
    store.saveKeywords({Keyword(u"ERROR", KeywordText, KeywordBack, false, false, true)});
}

void sendWheel(QWidget* target, int delta, Qt::KeyboardModifiers modifiers)
{
    const QPointF at(10, 10);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

} // namespace

class LogViewTest : public ViewFixture {};

TEST_F(LogViewTest, OpeningScrollsToTheEnd)
{
    open(numberedLines(0, 200), 20);
    EXPECT_EQ(view->visibleRowCount(), 20u);
    EXPECT_EQ(view->contentSize().height(), 200 * lineHeight);
    EXPECT_EQ(vbar()->maximum(), 180 * lineHeight);
    EXPECT_EQ(vbar()->value(), vbar()->maximum());
}

TEST_F(LogViewTest, AThumbDragEndingWithinFivePixelsOfTheEndFollows)
{
    struct Row {
        int distance;
        bool follows;
    };
    for (const Row& row : {Row{0, true}, Row{5, true}, Row{6, false}, Row{40, false}}) {
        SCOPED_TRACE(row.distance);
        open(numberedLines(0, 200), 20);
        const int before = vbar()->maximum() - row.distance;
        // What a drag of the thumb does: the slider position moves and reports the move.
        vbar()->setSliderPosition(before);
        EXPECT_EQ(view->isFollowing(), row.follows);
        append(numberedLines(200, 3));
        ASSERT_EQ(vbar()->maximum(), 183 * lineHeight);
        EXPECT_EQ(vbar()->value(), row.follows ? vbar()->maximum() : before);
    }
}

TEST_F(LogViewTest, AResizedWindowKeepsFollowingFromTheEndOnly)
{
    open(numberedLines(0, 200), 20);
    ASSERT_EQ(vbar()->value(), vbar()->maximum());
    view->resize(view->width(), view->height() - 8 * lineHeight); // restored from maximised
    settle();
    EXPECT_EQ(vbar()->value(), vbar()->maximum());
    append(numberedLines(200, 3));
    EXPECT_EQ(vbar()->value(), vbar()->maximum()) << "new lines in sight";

    // Away from the end the position stays what it was.
    QTest::keyClick(view.get(), Qt::Key_Up);
    const int away = vbar()->value();
    ASSERT_LT(away, vbar()->maximum());
    view->resize(view->width(), view->height() - 4 * lineHeight);
    settle();
    EXPECT_EQ(vbar()->value(), away);
}

TEST_F(LogViewTest, ProgrammaticMovesOfTheBarNeitherStartNorStopFollowing)
{
    // Only the user's own scrolls decide: a value set by a layout (a bar appearing, a
    // range clamped) must not count, whichever way it points.
    open(numberedLines(0, 200), 20);
    vbar()->setValue(0);
    append(numberedLines(200, 1));
    EXPECT_EQ(vbar()->value(), vbar()->maximum());

    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    ASSERT_FALSE(view->isFollowing());
    vbar()->setValue(vbar()->maximum());
    vbar()->setValue(0);
    append(numberedLines(201, 1));
    EXPECT_EQ(vbar()->value(), 0);
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    append(numberedLines(202, 1));
    EXPECT_EQ(vbar()->value(), vbar()->maximum());
}

TEST_F(LogViewTest, AThumbTakenAndLetGoWithoutMovingAtTheEndFollowsAgain)
{
    // A user away from the end whose window grew until the end showed: taking the thumb
    // and letting it go where it was is a scroll that ends at the end, though no move is
    // reported.
    open(numberedLines(0, 200), 20);
    QTest::keyClick(view.get(), Qt::Key_PageUp);
    ASSERT_FALSE(view->isFollowing());
    view->resize(view->width(), 200 * lineHeight - vbar()->value());
    settle();
    ASSERT_EQ(vbar()->value(), vbar()->maximum());
    ASSERT_FALSE(view->isFollowing());
    const QPoint thumb = quilltest::scrollBarPart(vbar(), QStyle::SC_ScrollBarSlider).center();
    QTest::mousePress(vbar(), Qt::LeftButton, {}, thumb);
    QTest::mouseRelease(vbar(), Qt::LeftButton, {}, thumb);
    append(numberedLines(200, 3));
    EXPECT_EQ(vbar()->value(), vbar()->maximum());
}

TEST_F(LogViewTest, AFontChangeKeepsTheTopLineOfAUserAwayFromTheEnd)
{
    open(numberedLines(0, 200), 20);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(view.get(), Qt::Key_PageDown);
    }
    const std::uint32_t top = view->firstVisibleLine();
    ASSERT_GT(top, 0u);
    LogFontRecord record = LogRenderer::defaultFontRecord(96);
    record.lfHeight = -2 * lineHeight;
    store->setFont(Setting::TextFont, record);
    store->setBool(Setting::IsTextFontSet, true);
    view->updateFromDocument();
    settle();
    ASSERT_NE(int(view->lineHeight()), lineHeight);
    EXPECT_EQ(view->firstVisibleLine(), top);
    EXPECT_EQ(vbar()->value() % int(view->lineHeight()), 0) << "the line whole at the top";
}

TEST_F(LogViewTest, AFindWhoseLineIsOnScreenLeavesTheViewWhereItIs)
{
    // Once a one-time jump to the end moved a view at the top when the match was on line 2.
    open(numberedLines(0, 100), 20);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    view->setSelectionAndCaret(2, 2, 0, 3);
    view->ensureSelectionVisible();
    append(numberedLines(100, 1));
    EXPECT_EQ(vbar()->value(), 0);

    // A match below the screen moves the view to it, with a line above, and leaves the end.
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    view->setSelectionAndCaret(50, 50, 0, 3);
    view->ensureSelectionVisible();
    EXPECT_EQ(vbar()->value(), 49 * lineHeight);
    EXPECT_FALSE(view->isFollowing());
    // A match on the last line keeps the user at the end.
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    view->setSelectionAndCaret(100, 100, 0, 3);
    view->ensureSelectionVisible();
    EXPECT_TRUE(view->isFollowing());
}

TEST_F(LogViewTest, DamagedFontSizeIsBoundedAndTheGlyphCacheByMemory)
{
    struct Row {
        std::int32_t height;
        int pixels;
    };
    const int most = LogRenderer::MaxFontPixels;
    // +-10000 once asked the tiles for 17 GB; INT_MIN has no 32-bit negation.
    for (const Row& row : {Row{-10000, most}, Row{10000, most}, Row{INT_MIN, most},
                           Row{-most, most}, Row{-(most + 1), most}, Row{-13, 13}}) {
        SCOPED_TRACE(row.height);
        LogFontRecord record = LogRenderer::defaultFontRecord(96);
        record.lfHeight = row.height;
        store->setFont(Setting::TextFont, record);
        store->setBool(Setting::IsTextFontSet, true);
        open(numberedLines(0, 50), 3, 300);
        EXPECT_EQ(view->renderer().font().pixelSize(), row.pixels);
        const QImage shown = view->viewport()->grab().toImage();
        EXPECT_FALSE(shown.isNull());
        EXPECT_LE(view->renderer().tileCacheBytes(), LogRenderer::TileCacheBudget);
        EXPECT_EQ(view->renderer().usesTiles(), row.pixels < 100) << "tiles for usual sizes";
    }
}

TEST_F(LogViewTest, PageDownMovesByOneRowLessThanTheWindow)
{
    open(numberedLines(0, 500), 20);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    ASSERT_EQ(vbar()->value(), 0);
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    EXPECT_EQ(vbar()->value(), 19 * lineHeight);
    EXPECT_EQ(view->firstVisibleLine(), 19u) << "the last row of the page stays in view";
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    QTest::keyClick(view.get(), Qt::Key_PageUp);
    EXPECT_EQ(vbar()->value(), 19 * lineHeight);
    QTest::keyClick(view.get(), Qt::Key_Down);
    EXPECT_EQ(vbar()->value(), 20 * lineHeight);
    QTest::keyClick(view.get(), Qt::Key_Up);
    QTest::keyClick(view.get(), Qt::Key_Up);
    EXPECT_EQ(vbar()->value(), 18 * lineHeight);
}

TEST_F(LogViewTest, HomeAndEndScrollSidewaysCtrlHomeGoesToTheFirstLine)
{
    const std::string longLine(300, 'w');
    open(numberedLines(0, 100, longLine), 20, 300);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    settle();
    ASSERT_GT(hbar()->maximum(), 0);
    document->setFindPosition(40, 7);
    const int bottom = vbar()->value();
    ASSERT_GT(bottom, 0);

    QTest::keyClick(view.get(), Qt::Key_End);
    EXPECT_EQ(hbar()->value(), hbar()->maximum());
    EXPECT_EQ(vbar()->value(), bottom);
    QTest::keyClick(view.get(), Qt::Key_Left);
    EXPECT_EQ(hbar()->value(), hbar()->maximum() - view->lineStep().width());
    QTest::keyClick(view.get(), Qt::Key_Home);
    EXPECT_EQ(hbar()->value(), 0);
    EXPECT_EQ(vbar()->value(), bottom) << "Home alone keeps the line";

    view->placeCaret(5, 40);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(vbar()->value(), 0);
    EXPECT_EQ(view->caretLine(), 0);
    EXPECT_EQ(view->caretX(), 0);
    EXPECT_EQ(document->findPosition().line, 0u);
    EXPECT_EQ(document->findPosition().col, 0);

    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(vbar()->value(), vbar()->maximum());
}

TEST_F(LogViewTest, DraggingTheThumbToTheTopActsAsCtrlHome)
{
    open(numberedLines(0, 100), 20);
    document->setFindPosition(50, 3);
    view->placeCaret(90, 16);
    vbar()->setSliderDown(true);
    vbar()->setSliderPosition(0);
    vbar()->setSliderDown(false);
    EXPECT_EQ(vbar()->value(), 0);
    EXPECT_EQ(view->caretLine(), 0);
    EXPECT_EQ(document->findPosition().line, 0u);
}

TEST_F(LogViewTest, WheelScrollsLinesAndIgnoresShiftAndCtrl)
{
    open(numberedLines(0, 300), 20);
    view->onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderToMinimum);
    const int lines = QApplication::wheelScrollLines();
    sendWheel(view->viewport(), -120, Qt::NoModifier);
    EXPECT_EQ(vbar()->value(), std::min(lines, 19) * lineHeight);
    const int after = vbar()->value();
    sendWheel(view->viewport(), -120, Qt::ShiftModifier);
    sendWheel(view->viewport(), -120, Qt::ControlModifier);
    EXPECT_EQ(vbar()->value(), after);
    sendWheel(view->viewport(), 120, Qt::NoModifier);
    EXPECT_EQ(vbar()->value(), 0);
    // Downwards never more than a page.
    sendWheel(view->viewport(), -120 * 50, Qt::NoModifier);
    EXPECT_EQ(vbar()->value(), 19 * lineHeight);
}

TEST_F(LogViewTest, PaintsBackgroundTextAndKeywordRowAcrossItsTextOnly)
{
    storeErrorKeyword(*store);
    open(std::string("plain line\nERROR disk full\nanother\n"), 10);
    const QImage image = view->viewport()->grab().toImage();
    const QColor black(0, 0, 0);
    const QColor green(0, 255, 0);
    const QColor red(255, 0, 0);
    const int errorWidth = view->renderer().textWidth(u"ERROR disk full");
    const int plainWidth = view->renderer().textWidth(u"plain line");

    auto countRow = [&](int row, int from, int to, const QColor& color) {
        int count = 0;
        for (int y = row * lineHeight; y < (row + 1) * lineHeight; ++y) {
            for (int x = from; x < to; ++x) {
                count += QColor(image.pixel(x, y)) == color ? 1 : 0;
            }
        }
        return count;
    };
    EXPECT_GT(countRow(0, 0, plainWidth, green), 0) << "text colour";
    EXPECT_EQ(countRow(0, 0, image.width(), red), 0);
    EXPECT_EQ(image.pixel(0, 1 * lineHeight), red.rgb()) << "keyword background at the row start";
    EXPECT_EQ(countRow(1, errorWidth, image.width(), red), 0) << "only across the text";
    EXPECT_EQ(countRow(1, 0, errorWidth, black), 0);
    EXPECT_GT(countRow(1, 0, errorWidth, QColor(255, 255, 255)), 0) << "keyword text colour";
    EXPECT_EQ(countRow(2, 0, image.width(), red), 0) << "the keyword's row only";
    EXPECT_EQ(countRow(5, 0, image.width(), black), lineHeight * image.width());
}

// A line wider than an int counts pixels (tabs make it so with a few tens of megabytes):
// the bar counts in larger steps, and End shows the line's last characters.
// A line of 400 MB of zero bytes (a sparse file; wider than the bar's range counts) with
// text deep inside and at its end: it paints, End shows its last characters, Home its
// first, and a match deep inside is scrolled to and drawn where its columns put it. The
// line is never decoded whole (the engine's tests count its memory).
TEST_F(LogViewTest, AHugeLineOfZeroBytesPaintsAndScrollsToAnyPlace)
{
    constexpr std::int64_t Zeros = std::int64_t(400) << 20;
    constexpr std::int64_t Mark = 250'000'000; // the column of "MARK"
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const std::string head = "first\n";
        const std::string tail = "END\nnext\n";
        ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), qint64(head.size()));
        ASSERT_EQ(::pwrite(fd, "   MARK   ", 10, qint64(head.size()) + Mark - 3), 10);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), qint64(head.size()) + Zeros),
                  qint64(tail.size()));
        ::close(fd);
    }
    openWritten(10, 300);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    settle();
    const qint64 average = view->renderer().averageCharWidth();
    // The line's columns with "END" and its line feed, each as wide as the average character.
    EXPECT_EQ(view->contentWidth(), (Zeros + 4) * average);
    ASSERT_GT(view->horizontalScale(), 1);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    settle();
    const int row = 1 * lineHeight; // the long line's row, from the top
    auto textPixels = [&](qint64 fromX, qint64 toX) {
        const QImage image = view->viewport()->grab().toImage();
        int count = 0;
        for (int y = row; y < row + lineHeight; ++y) {
            for (qint64 x = std::max<qint64>(0, fromX); x < std::min<qint64>(image.width(), toX);
                 ++x) {
                count += QColor(image.pixel(int(x), y)) == QColor(0, 255, 0) ? 1 : 0;
            }
        }
        return count;
    };

    QTest::keyClick(view.get(), Qt::Key_End);
    EXPECT_EQ(hbar()->value(), hbar()->maximum());
    EXPECT_GE(view->scrollX() + view->viewport()->width(), view->contentWidth());
    const qint64 endX = Zeros * average - view->scrollX(); // where "END" starts
    ASSERT_GT(endX, 0);
    EXPECT_GT(textPixels(endX, endX + 3 * average), 0) << "END is drawn at the right end";
    QTest::keyClick(view.get(), Qt::Key_Home);
    EXPECT_EQ(hbar()->value(), 0);

    // Find, as the find dialog asks it: the view scrolls sideways to the match.
    document->setFindPosition(0, 0);
    ASSERT_TRUE(document->find(u"MARK", true, SearchMatchCase));
    settle();
    const qint64 markX = Mark * average - view->scrollX();
    ASSERT_GE(markX, 0);
    ASSERT_LE(markX + 4 * average, view->viewport()->width());
    const TextPoint hit = view->pointToText(QPoint(int(markX + average / 2), row + 1));
    EXPECT_EQ(hit.line, 1u);
    EXPECT_EQ(hit.character, Mark);
    document->clearSelection();
    view->viewport()->update();
    settle();
    EXPECT_GT(textPixels(markX, markX + 4 * average), 0) << "MARK is drawn at its columns";
    EXPECT_EQ(textPixels(markX - 3 * average, markX), 0) << "the blanks before it are blank";
    // A step right and back shows the same.
    QTest::keyClick(view.get(), Qt::Key_Right);
    QTest::keyClick(view.get(), Qt::Key_Left);
    settle();
    EXPECT_GT(textPixels(markX, markX + 4 * average), 0);
}

TEST_F(LogViewTest, SelectionRunningToTheLineEndIsPaintedInverted)
{
    open(std::string("0123456789\nabcdefghij\n"), 10);
    document->setSelection(0, 1, 4, -1);
    const QImage image = view->viewport()->grab().toImage();
    const QColor green(0, 255, 0);
    const int from = view->renderer().prefixWidth(u"0123456789", 4);
    const int to = view->renderer().textWidth(u"0123456789");
    EXPECT_EQ(QColor(image.pixel(from, 0)), green);
    EXPECT_EQ(QColor(image.pixel(to - 1, 0)), green);
    EXPECT_EQ(QColor(image.pixel(from - 1, 0)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(image.pixel(0, lineHeight)), green) << "the whole second row";
    EXPECT_EQ(QColor(image.pixel(view->renderer().textWidth(u"abcdefghij") - 1, lineHeight)),
              green);
}

TEST_F(LogViewTest, AlertSoundsOncePerPaintForSeveralMatchingRows)
{
    storeErrorKeyword(*store);
    store->setBool(Setting::Beep, true);
    store->setBool(Setting::PlaySound, true);
    store->setString(Setting::Sound, u"/usr/share/sounds/alert.wav");
    open(std::string("ERROR one\nok\nERROR two\nERROR three\n"), 10);
    view->viewport()->grab();
    EXPECT_EQ(sound.plays, 0) << "no new text yet";

    document->setNewTextArrived(true);
    view->viewport()->grab();
    EXPECT_EQ(sound.plays, 1);
    EXPECT_EQ(sound.beeps, 1);
    EXPECT_EQ(sound.lastFile, u"/usr/share/sounds/alert.wav");
    EXPECT_EQ(sound.startedUnderLock, 0) << "the watcher would wait for the sound";
    EXPECT_FALSE(document->newTextArrived());

    view->viewport()->grab();
    EXPECT_EQ(sound.plays, 1) << "only the first paint after new text";
}

TEST_F(LogViewTest, NewTextFlagIsClearedSilentlyWhenNoShownLineMatches)
{
    storeErrorKeyword(*store);
    store->setBool(Setting::Beep, true);
    open(std::string("fine\nstill fine\n"), 10);
    document->setNewTextArrived(true);
    view->viewport()->grab();
    EXPECT_EQ(sound.beeps, 0);
    EXPECT_FALSE(document->newTextArrived());
}

TEST_F(LogViewTest, EmptyDocumentPaintsBackgroundAndKeepsTheNewTextFlag)
{
    store->setDword(Setting::BackgroundColor, 0x00204080);
    open(std::string(), 10);
    document->setNewTextArrived(true);
    const QImage image = view->viewport()->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(5, 5)), QColor(0x80, 0x40, 0x20));
    EXPECT_TRUE(document->newTextArrived());
}

TEST_F(LogViewTest, PauseAndResumeFollowTheWatcher)
{
    open(numberedLines(0, 10), 10);
    EXPECT_TRUE(view->canResume());
    EXPECT_FALSE(view->canPause());
    view->onResume();
    EXPECT_TRUE(document->isWatching());
    EXPECT_TRUE(view->canPause());
    view->onPause();
    EXPECT_FALSE(document->isWatching());
}

TEST_F(LogViewTest, ResumeTakesAUserAwayFromTheEndBackToIt)
{
    open(numberedLines(0, 100), 10);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    view->onResume();
    view->onPause();
    append(numberedLines(100, 2));
    EXPECT_EQ(vbar()->value(), vbar()->maximum());
}

TEST_F(LogViewTest, AFindMovesOnlyForAMatchNotWhollyShownAndOnlyAsFarAsItTakes)
{
    // Rows as seen with line 10 at the top of 20 rows; the match is line `line`.
    struct Row {
        LineNumber line;
        bool moves;
    };
    for (const Row& row : {Row{10, false}, Row{29, false}, Row{9, true}, Row{30, true}}) {
        SCOPED_TRACE(row.line);
        open(numberedLines(0, 100), 20);
        QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
        for (int i = 0; i < 10; ++i) {
            QTest::keyClick(view.get(), Qt::Key_Down);
        }
        ASSERT_EQ(vbar()->value(), 10 * lineHeight);
        view->setSelectionAndCaret(row.line, row.line, 0, 3);
        view->ensureSelectionVisible();
        EXPECT_EQ(vbar()->value(), row.moves ? int(row.line - 1) * lineHeight : 10 * lineHeight);
    }

    // Sideways, on a line far wider than the view: a match whose start is at the left edge
    // or whose end is at the right edge is wholly shown and stays; one ending exactly at
    // the view's width from a view scrolled right goes back to the left edge.
    const std::string wide = "0123456789abcdefghij" + std::string(3000, 'x') + "\n";
    open(wide, 5, 300);
    const LogRenderer& r = view->renderer();
    const QString text = QString::fromLatin1(wide.data(), int(wide.size()) - 1);
    const int client = view->viewport()->width();
    const auto place = [&](qint64 x) {
        hbar()->setValue(int(x));
        ASSERT_EQ(view->scrollX(), x);
    };
    // A match of characters 1000..1004, far right of the first screen.
    const qint64 a = r.prefixWidth(text, 1000);
    const qint64 b = r.prefixWidth(text, 1005);
    place(a);
    view->setSelectionAndCaret(0, 0, 1000, 1004);
    view->ensureSelectionVisible();
    EXPECT_EQ(view->scrollX(), a) << "starts at the left edge";
    place(b - client);
    view->ensureSelectionVisible();
    EXPECT_EQ(view->scrollX(), b - client) << "ends at the right edge";
    place(b - client - 1);
    view->ensureSelectionVisible();
    EXPECT_EQ(view->scrollX(), a) << "its last character cut by a pixel at the right edge";
    place(a + 1);
    view->ensureSelectionVisible();
    EXPECT_EQ(view->scrollX(), a) << "cut at the left: its start goes to the left edge";
    // A match (characters 2..4) that ends exactly at the width of the view is shown from
    // x = 0, not with its start at the left edge.
    view->setSelectionAndCaret(0, 0, 2, 4);
    view->resize(int(r.prefixWidth(text, 5)) + (view->width() - client), view->height());
    settle();
    ASSERT_EQ(view->viewport()->width(), r.prefixWidth(text, 5));
    place(r.prefixWidth(text, 2) + 1);
    view->ensureSelectionVisible();
    EXPECT_EQ(view->scrollX(), 0);
}

TEST_F(LogViewTest, ScreenShowsWhatAFreshRenderingShowsAfterPagingAndScrolling)
{
    // Rows are assembled straight in the window's backing store: inside a parent, at an
    // offset, the screen must still match the viewport rendered on its own.
    storeErrorKeyword(*store);
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        bytes += (i % 7 == 0 ? "ERROR " : "plain\t") + std::string(60, char('a' + i % 26)) + " " +
                 std::to_string(i) + "\n";
    }
    open(bytes, 20, 300);
    QWidget frame;
    view->setParent(&frame);
    view->move(13, 7);
    frame.resize(view->width() + 30, view->height() + 20);
    frame.show();
    settle();
    vbar()->setValue(0);
    document->setSelection(3, 2, 5, 9);
    settle();
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        QKeyEvent key(QEvent::KeyPress, step == 2 ? Qt::Key_Right : Qt::Key_PageDown,
                      Qt::NoModifier);
        QApplication::sendEvent(view.get(), &key);
        view->viewport()->repaint();
        settle();
        const QPoint at = view->viewport()->mapTo(&frame, QPoint(0, 0));
        const QImage screen = QGuiApplication::primaryScreen()
                                  ->grabWindow(frame.winId())
                                  .toImage()
                                  .copy(QRect(at, view->viewport()->size()))
                                  .convertToFormat(QImage::Format_RGB32);
        const QImage fresh =
            view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(screen, fresh);
    }
    EXPECT_GT(hbar()->value(), 0);
    view->setParent(nullptr);
}
