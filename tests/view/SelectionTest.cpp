// Selecting with the mouse on the real view, through real mouse events on its viewport:
// clicks, drags both ways, Shift+click, double-click words, drags past the edges, releases
// outside, Select All and Copy (Unicode and the narrow set), and what a reset leaves.

#include "ViewTestSupport.h"

#include "platform/NarrowCodec.h"
#include "support/TestDoubles.h"

#include <QClipboard>
#include <QMimeData>
#include <QTest>

#include <atomic>
#include <fstream>
#include <thread>

using quilltest::u16;
using quilltest::ViewFixture;

class SelectionTest : public ViewFixture {
  protected:
    void TearDown() override
    {
        quill::setNarrowCharsetForTesting("UTF-8");
        setAvailableMemoryForTesting(0);
        ViewFixture::TearDown();
    }

    QWidget* port() const { return view->viewport(); }

    // The middle of character k of a line, in viewport coordinates, measured independently
    // of the view: the renderer's width of the characters before it plus half its own.
    QPoint at(LineNumber line, int k)
    {
        const std::u16string text = document->line(line);
        const QStringView s(text.data(), qsizetype(text.size()));
        const int left = view->renderer().prefixWidth(s, k);
        const int right = view->renderer().prefixWidth(s, k + 1);
        return QPoint((left + right) / 2 - hbar()->value(),
                      int(line) * lineHeight - vbar()->value() + lineHeight / 2);
    }

    void press(QPoint p, Qt::KeyboardModifiers mods = {})
    {
        QTest::mousePress(port(), Qt::LeftButton, mods, p);
    }
    void move(QPoint p) { QTest::mouseMove(port(), p); }
    void release(QPoint p, Qt::KeyboardModifiers mods = {})
    {
        QTest::mouseRelease(port(), Qt::LeftButton, mods, p);
    }
    void drag(QPoint from, QPoint to)
    {
        press(from);
        move(from);
        move(to);
        release(to);
    }
    void doubleClick(QPoint p)
    {
        press(p);
        release(p);
        QTest::mouseEvent(QTest::MouseDClick, port(), Qt::LeftButton, {}, p);
        release(p);
    }

    DocSelection selection() const { return document->selection(); }
    std::u16string selected() const { return document->selectedText(); }
};

TEST_F(SelectionTest, ClickClearsTheSelectionAndSnapsTheCaretToTheCharacterUnderIt)
{
    open("alpha beta\ngamma delta\n", 10);
    view->onEditSelectAll();
    ASSERT_TRUE(selection().valid);
    const QPoint p = at(1, 3) + QPoint(1, 0); // right of the middle, still on character 3
    press(p);
    release(p);
    EXPECT_FALSE(selection().valid);
    EXPECT_EQ(view->caretLine(), 1);
    EXPECT_EQ(view->caretX(), view->renderer().prefixWidth(u"gamma", 3));
    EXPECT_EQ(document->findPosition().line, 1u);
    EXPECT_EQ(document->findPosition().col, 3);
}

TEST_F(SelectionTest, DragsRightToLeftAndUpwardsSelectWhatTheOppositeDragsSelect)
{
    open("0123456789 first\nsecond line here\nthird line of text\n", 10);
    struct Case {
        LineNumber lineA;
        int charA;
        LineNumber lineB;
        int charB;
        const char16_t* expected;
    };
    const Case cases[] = {
        {0, 2, 0, 6, u"23456"},
        {0, 8, 2, 4, u"89 first\nsecond line here\nthird"},
        {1, 0, 1, 0, u"s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.lineA << ":" << c.charA << " " << c.lineB << ":" << c.charB);
        drag(at(c.lineA, c.charA), at(c.lineB, c.charB));
        const DocSelection forward = selection();
        EXPECT_EQ(selected(), c.expected);
        drag(at(c.lineB, c.charB), at(c.lineA, c.charA));
        const DocSelection backward = selection();
        EXPECT_EQ(selected(), c.expected);
        EXPECT_EQ(forward.startLine, backward.startLine);
        EXPECT_EQ(forward.endLine, backward.endLine);
        EXPECT_EQ(forward.startCol, backward.startCol);
        EXPECT_EQ(forward.endCol, backward.endCol);
        EXPECT_FALSE(view->mouseSelection().isDragging());
    }
}

TEST_F(SelectionTest, TheMovingEndCrossingTheAnchorFlipsAroundIt)
{
    open("abcdefghij\nklmnopqrst\n", 10);
    press(at(0, 5));
    move(at(0, 5));
    move(at(1, 2)); // down: f..m
    EXPECT_EQ(selected(), u"fghij\nklm");
    move(at(0, 1)); // back above the anchor: b..f
    EXPECT_EQ(selected(), u"bcdef");
    move(at(0, 7)); // and right of it on the same line: f..h
    EXPECT_EQ(selected(), u"fgh");
    release(at(0, 7));
    EXPECT_EQ(view->caretLine(), 0);
    EXPECT_EQ(view->caretX(), view->renderer().prefixWidth(u"abcdefgh", 8));
}

// The first move report comes some pixels after the press: the drag still starts at the
// character under the press, forwards, backwards and across lines alike.
TEST_F(SelectionTest, ADragStartsWhereTheButtonWentDownNotAtTheFirstMoveReport)
{
    open("abcdefghij\nklmnopqrst\n", 10);
    press(at(0, 1));
    move(at(0, 4));
    EXPECT_EQ(selected(), u"bcde");
    release(at(0, 4));
    press(at(1, 6));
    move(at(0, 8));
    EXPECT_EQ(selected(), u"ij\nklmnopq");
    release(at(0, 8));
    // Pressed below the last line: the drag starts at the first move, as before.
    press(QPoint(at(0, 3).x(), 6 * lineHeight));
    move(at(1, 3));
    move(at(1, 5));
    EXPECT_EQ(selected(), u"nop");
    release(at(1, 5));
}

TEST_F(SelectionTest, TabsAndWrittenOverTextAreHitWhereTheyArePainted)
{
    open("a\tb\nxz\ry\n", 10);
    drag(at(0, 2), at(0, 2));
    EXPECT_EQ(selected(), u"b") << "the character after the tab, at the tab stop";
    drag(at(1, 0), at(1, 1));
    EXPECT_EQ(selected(), u"yz") << "what follows the CR writes over the line's start";
    drag(at(0, 1), at(0, 1));
    EXPECT_EQ(selected(), u"\t");
}

TEST_F(SelectionTest, ThePartlyHiddenTopRowIsNeverHit)
{
    open(numberedLines(0, 100), 10);
    vbar()->setSliderPosition(10 * lineHeight + lineHeight / 2); // a drag of the thumb
    settle();
    press(QPoint(2, 1));
    release(QPoint(2, 1));
    EXPECT_EQ(view->caretLine(), 11) << "a point in row 10's visible half is row 11";
    const int hidden = lineHeight - lineHeight / 2; // what shows of row 10
    EXPECT_EQ(view->lineFromPoint(hidden - 1), 11u);
    EXPECT_EQ(view->lineFromPoint(hidden + lineHeight - 1), 11u);
    EXPECT_EQ(view->lineFromPoint(hidden + lineHeight), 12u);
}

TEST_F(SelectionTest, ShiftClickExtendsBelowAndAboveButNotWithin)
{
    open(numberedLines(0, 10), 10);
    drag(at(3, 1), at(5, 2));
    const DocSelection before = selection();
    press(at(4, 0), Qt::ShiftModifier);
    release(at(4, 0), Qt::ShiftModifier);
    EXPECT_EQ(selection().startLine, before.startLine);
    EXPECT_EQ(selection().endLine, before.endLine);
    EXPECT_EQ(selection().endCol, before.endCol);

    press(at(7, 3), Qt::ShiftModifier);
    release(at(7, 3), Qt::ShiftModifier);
    EXPECT_EQ(selection().endLine, 7u);
    EXPECT_EQ(selection().endCol, 3);
    press(at(1, 2), Qt::ShiftModifier);
    release(at(1, 2), Qt::ShiftModifier);
    EXPECT_EQ(selection().startLine, 1u);
    EXPECT_EQ(selection().startCol, 2);
    EXPECT_EQ(selection().endLine, 7u);
}

TEST_F(SelectionTest, DoubleClickSelectsTheWordOrTheSeparatorAlone)
{
    open("fatal error:42 in c:\\x.log\n", 10);
    doubleClick(at(0, 12)); // the 4
    EXPECT_EQ(selected(), u"42");
    doubleClick(at(0, 11)); // the colon
    EXPECT_EQ(selected(), u":");
    doubleClick(at(0, 8)); // inside "error"
    EXPECT_EQ(selected(), u"error");
    doubleClick(at(0, 21)); // between backslash and period
    EXPECT_EQ(selected(), u"x");

    // The button still held at the same point keeps the word; a real move starts a drag.
    doubleClick(at(0, 2));
    press(at(0, 2));
    QTest::mouseEvent(QTest::MouseDClick, port(), Qt::LeftButton, {}, at(0, 2));
    move(at(0, 2));
    EXPECT_EQ(selected(), u"fatal");
    move(at(0, 8));
    EXPECT_TRUE(view->mouseSelection().isDragging());
    release(at(0, 8));
}

TEST_F(SelectionTest, DoubleClickBelowTheLastLineSelectsNothing)
{
    open("one\ntwo\n", 10);
    doubleClick(QPoint(3, 5 * lineHeight));
    EXPECT_FALSE(selection().valid);
}

TEST_F(SelectionTest, AReleaseOutsideTheViewEndsTheDrag)
{
    open(numberedLines(0, 10), 10);
    press(at(2, 1));
    move(at(2, 1));
    move(at(4, 1));
    // Through the implicit grab the viewport gets the release even far outside it.
    release(QPoint(-40, -300));
    EXPECT_FALSE(view->mouseSelection().isDragging());
    EXPECT_EQ(selected(), u"ine 2\nline 3\nli");

    // A new press and move starts a new selection instead of continuing the old one.
    press(at(6, 2));
    move(at(6, 2));
    EXPECT_EQ(selection().startLine, 6u);
    EXPECT_EQ(selected(), u"n");
    release(at(6, 2));
}

TEST_F(SelectionTest, DraggingBelowTheBottomEdgeScrollsAndKeepsExtending)
{
    open(numberedLines(0, 200), 10);
    view->onScroll(LogView::ScrollCode::None, LogView::ScrollCode::Top);
    settle();
    press(at(2, 0));
    move(at(2, 0));
    move(QPoint(5, port()->height() + 20));
    // Not QTRY_VERIFY: it reports to QTestLib, which GoogleTest does not hear.
    ASSERT_TRUE(QTest::qWaitFor([&] { return vbar()->value() >= 5 * lineHeight; }));
    EXPECT_GE(selection().endLine, 14u) << "the selection follows the rows scrolled in";
    release(QPoint(5, port()->height() + 20));
    const int stopped = vbar()->value();
    QTest::qWait(150);
    EXPECT_EQ(vbar()->value(), stopped) << "the release stops the scrolling";
    EXPECT_EQ(selection().startLine, 2u);
}

TEST_F(SelectionTest, SelectAllAndCopyGiveTheLinesJoinedByCrLfAndOneMore)
{
    open("first\nsecond\r\nthird\n", 10);
    view->onEditSelectAll();
    EXPECT_EQ(selection().endLine, 3u);
    const CopyResult result = view->onEditCopy();
    EXPECT_EQ(result.outcome, CopyOutcome::Copied);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("first\nsecond\nthird\n"));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->data(QStringLiteral("text/plain")), QByteArray("first\nsecond\nthird\n"));
}

TEST_F(SelectionTest, TheNarrowCopyGoesUnderItsSetsNameAndPlainTextStaysUtf8)
{
    quill::setNarrowCharsetForTesting("ISO-8859-15");
    // A UTF-16 file, so the text is not limited by the narrow set.
    const std::u16string line = u"5\u20AC \u4E2D\u00E9\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : line) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    open(bytes, 10);
    drag(at(0, 0), at(0, 4));
    ASSERT_EQ(view->onEditCopy().outcome, CopyOutcome::Copied);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text(), QString::fromUtf16(u"5\u20AC \u4E2D\u00E9"));
    EXPECT_EQ(data->data(QStringLiteral("text/plain;charset=ISO-8859-15")),
              QByteArray("5\xA4 ?\xE9"));
    // X11 serves "text/plain" as UTF8_STRING: it must hold UTF-8 whatever the locale.
    EXPECT_EQ(data->data(QStringLiteral("text/plain")),
              QByteArray("5\xE2\x82\xAC \xE4\xB8\xAD\xC3\xA9"));
}

TEST_F(SelectionTest, ACopyBeyondHalfTheAvailableMemoryIsRefusedAndLeavesTheClipboard)
{
    open(numberedLines(0, 1000), 10);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    view->onEditSelectAll();
    const std::uint64_t bound = document->selectedTextBound(selection());
    ASSERT_GE(bound, 8890u) << "at least every character and line feed";
    setAvailableMemoryForTesting(2 * clipboardPeakBytes(bound) - 1);
    EXPECT_EQ(view->onEditCopy().outcome, CopyOutcome::TooLarge);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    setAvailableMemoryForTesting(2 * clipboardPeakBytes(bound));
    EXPECT_EQ(view->onEditCopy().outcome, CopyOutcome::Copied);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().endsWith(QStringLiteral("line 999\n")));
}

// The job the main window runs beside its thread: the same text, its progress at the end
// near the whole of its bound, and a cancel before the start gives nothing.
TEST_F(SelectionTest, ACopyJobBuildsTheTextBesideTheThreadAndReportsItsProgress)
{
    open(numberedLines(0, 3000), 10);
    view->onEditSelectAll();
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        expected += "line " + std::to_string(i) + "\n";
    }
    SelectionCopyJob job(*document, selection());
    ASSERT_TRUE(QTest::qWaitFor([&] { return job.isFinished(); }));
    EXPECT_EQ(job.result().outcome, CopyOutcome::Copied);
    EXPECT_GE(job.permille(), 900);
    EXPECT_LE(job.permille(), 1000);
    EXPECT_EQ(job.takeText(), QString::fromStdString(expected));

    std::atomic<bool> go{false};
    SelectionCopyJob::setStartHookForTesting([&go] {
        while (!go.load()) {
            std::this_thread::yield();
        }
    });
    SelectionCopyJob stopped(*document, selection());
    stopped.cancel();
    go = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopped.isFinished(); }));
    EXPECT_EQ(stopped.result().outcome, CopyOutcome::Cancelled);
    EXPECT_TRUE(stopped.takeText().isEmpty());

    // Clear between Copy and the start of its thread: the selected lines are gone, and the
    // lines that come after the clear were never selected.
    go = false;
    SelectionCopyJob cleared(*document, selection());
    document->clearText();
    document->stopWatching();
    std::ofstream(path, std::ios::binary | std::ios::app) << "after the clear\n";
    {
        std::lock_guard lock(document->docAccess());
        document->appendText(reinterpret_cast<const std::uint8_t*>("after the clear\n"), 16);
    }
    go = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return cleared.isFinished(); }));
    SelectionCopyJob::setStartHookForTesting(nullptr);
    EXPECT_EQ(cleared.result().outcome, CopyOutcome::Unreadable);
    EXPECT_TRUE(cleared.takeText().isEmpty());
}

TEST_F(SelectionTest, ClearAndReloadLeaveNoSelectionOfTextThatIsGone)
{
    open(numberedLines(0, 50), 10);
    drag(at(40, 0), at(45, 2));
    ASSERT_TRUE(view->canCopy());
    document->clearText();
    document->stopWatching();
    view->updateFromDocument();
    EXPECT_FALSE(view->canCopy());
    EXPECT_EQ(document->findPosition().line, 0u);

    // A drag in progress across a reload does not continue over the new lines.
    quilltest::writeFile(path, numberedLines(0, 50));
    ASSERT_TRUE(document->openDocument(u16(path)));
    document->stopWatching();
    view->initialUpdate();
    settle();
    press(at(1, 0));
    move(at(1, 0));
    quilltest::writeFile(path, "short\n");
    ASSERT_TRUE(document->openDocument(u16(path)));
    document->stopWatching();
    view->updateFromDocument();
    EXPECT_FALSE(view->mouseSelection().isDragging());
    EXPECT_FALSE(view->canCopy());
    release(at(0, 0));
}

TEST_F(SelectionTest, PrimaryDataIsBuiltOnlyWhenAskedAndNeverFromAResetDocument)
{
    open("one two\nthree\n", 10);
    auto source = std::make_shared<SelectionTextSource>(document.get());
    const DocSelection words{true, 0, 1, 4, 2};
    SelectionMimeData lazy(source, words, document->contentGeneration());
    EXPECT_FALSE(lazy.isBuilt());
    EXPECT_TRUE(lazy.hasFormat(QStringLiteral("text/plain")));
    EXPECT_FALSE(lazy.isBuilt()) << "asking for the formats builds nothing";
    EXPECT_EQ(lazy.text(), QStringLiteral("two\nthr"));

    SelectionMimeData stale(source, words, document->contentGeneration());
    document->clearText();
    EXPECT_EQ(stale.text(), QString());
    SelectionMimeData orphan(source, words, document->contentGeneration());
    source->detach();
    EXPECT_EQ(orphan.text(), QString());
}

// With wrapped lines a point names a character by its row as well: a drag from the first
// row of a line to its third selects what lies between, and copies it; right of a row
// that broke at a blank is that blank, not the next row's first character.
TEST_F(SelectionTest, ADragAcrossWrappedRowsSelectsAndCopiesTheTextBetween)
{
    open("placeholder\n", 10);
    const int cell = view->renderer().averageCharWidth();
    const int cols = (view->viewport()->width() - 1) / cell;
    std::string digits;
    for (int k = 0; k < 5 * cols; ++k) {
        digits += char('0' + k % 10);
    }
    const std::string broken = std::string(std::size_t(cols - 3), 'a') + " bbbb";
    open(digits + "\n" + broken + "\n", 12);
    store->setBool(Setting::WrapLongLines, true); // View > Wrap Long Lines
    view->updateFromDocument();
    settle();
    ASSERT_EQ(view->wrapWidth() / cell, cols);
    auto point = [&](int k) {
        return QPoint((k % cols) * cell + cell / 2, (k / cols) * lineHeight + lineHeight / 2);
    };
    const std::u16string text(digits.begin(), digits.end());
    const std::u16string expected = text.substr(5, std::size_t(2 * cols - 1));
    drag(point(5), point(2 * cols + 3));
    EXPECT_EQ(selected(), expected);
    drag(point(2 * cols + 3), point(5));
    EXPECT_EQ(selected(), expected) << "upwards the same";
    EXPECT_EQ(view->onEditCopy().outcome, CopyOutcome::Copied);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdU16String(expected));

    // The second line's first row ends with the blank it broke at.
    const int y = 5 * lineHeight + lineHeight / 2;
    drag(QPoint(cell / 2, y), QPoint(view->viewport()->width() - 2, y));
    EXPECT_EQ(selected(), std::u16string(std::size_t(cols - 3), u'a') + u" ");
    EXPECT_EQ(view->caretLine(), 1);
    EXPECT_EQ(view->caretCharacter(), cols - 2) << "after the blank: the next row's start";
}
