// The filter's lines as the main view, in the real main frame driven by keys and clicks: the
// switch (Ctrl+H and the bar's box), copy of the original lines, Find and the marks among
// the filtered rows only, following a growing file, the way back to the same line of the
// whole log, the switch kept through edits of the filter, and a random walk of appends,
// switches and scrolls against a model of the rows and of the line the log view lands on.

#include "FilterPaneFixture.h"

#include "dialogs/FindDialog.h"
#include "dialogs/GoToLineDialog.h"

#include <QImage>

#include <algorithm>

namespace {

class FilterAsViewTest : public FilterPaneTest {
  protected:
    void SetUp() override { FilterPaneTest::SetUp(); }
    QStringList messages;
    LogView* logView() const { return frame->activeView(); }

    // Ctrl+H where the keyboard is.
    void switchKey() { key(Qt::Key_H, Qt::ControlModifier); }

    bool asView() const
    {
        return pane()->showsAsView() && !logView()->isVisible() && rows()->isVisible();
    }

    std::vector<LineNumber> rowLines() const
    {
        std::vector<LineNumber> lines;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            lines.push_back(rows()->lineOfRow(row));
        }
        return lines;
    }

    // The rows from the top, the pane's own Ctrl+Home, laid out.
    void rowsToTop()
    {
        QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
        QApplication::processEvents();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rows()->firstVisibleRow() == 0; }));
    }

    // The colour painted at the right end of a row of a view's viewport.
    static QColor rowColour(QAbstractScrollArea* view, int y)
    {
        const QImage image = view->viewport()->grab().toImage();
        return image.pixelColor(image.width() - 3, y);
    }

    // The line is wholly on screen (unwrapped: the bar counts pixels).
    static bool lineShown(const LogView* view, LineNumber line)
    {
        const qint64 y = qint64(line) * view->lineHeight() - view->verticalScrollBar()->value();
        return y >= 0 && y + view->lineHeight() <= view->viewport()->height();
    }
};

// 300 lines: every 5th says ERROR; every line names a "needle" number.
std::string numberedLog(int count = 300)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "n" + std::to_string(i) + (i % 5 == 0 ? " ERROR needle" : " INFO needle") +
                std::to_string(i % 3) + "\n";
    }
    return text;
}

} // namespace

TEST_F(FilterAsViewTest, TheKeyAndTheBoxSwitchTheMainViewToTheFilteredLinesNumberedAsInTheFile)
{
    open(numberedLog());
    filterBy("ERROR");
    ASSERT_EQ(shown(300), expected("ERROR"));
    QCheckBox* box = pane()->bar()->asViewSwitch();
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(asView());

    // From the filter field the user has just typed in.
    ASSERT_TRUE(pane()->bar()->isAncestorOf(focused()));
    switchKey();
    EXPECT_TRUE(asView());
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(frame->action(CommandId::FilterAsView)->isChecked());
    EXPECT_EQ(rowLines(), expected("ERROR")) << "the file's line of every row, for the gutter";
    EXPECT_GT(rows()->height(), frame->splitter()->height() * 3 / 4) << "the whole tab";

    quilltest::clickCheckBox(box);
    EXPECT_FALSE(pane()->showsAsView());
    EXPECT_TRUE(logView()->isVisible());
    EXPECT_TRUE(rows()->isVisible()) << "the pane is back below the log";
    EXPECT_FALSE(frame->action(CommandId::FilterAsView)->isChecked());

    quilltest::clickCheckBox(box);
    EXPECT_TRUE(asView());
    // The key from the rows themselves, and back.
    rows()->setFocus();
    switchKey();
    EXPECT_FALSE(pane()->showsAsView());
    EXPECT_TRUE(logView()->hasFocus()) << "the keyboard goes with the main view";
    switchKey();
    EXPECT_TRUE(asView());
    EXPECT_TRUE(rows()->hasFocus());
}

TEST_F(FilterAsViewTest, SelectAllAndCopyGiveTheOriginalLinesOfTheShownRows)
{
    open("a ERROR \u00e4one\nplain\n\tb ERROR two\r\nplain\nc ERROR three");
    filterBy("ERROR");
    ASSERT_EQ(shown(5).size(), 3u);
    switchKey();
    ASSERT_TRUE(asView());
    rows()->setFocus();
    key(Qt::Key_A, Qt::ControlModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromUtf8("a ERROR \u00e4one\n\tb ERROR two\nc ERROR three\n"));
    EXPECT_FALSE(document->selection().valid) << "the hidden log view selected nothing";
}

TEST_F(FilterAsViewTest, FindAndFindNextMoveAmongTheFilteredRowsOnly)
{
    open(numberedLog(40));
    filterBy("ERROR");
    ASSERT_EQ(shown(40), expected("ERROR"));
    switchKey();
    ASSERT_TRUE(asView());
    rowsToTop();
    // needle1 is on the lines whose number leaves 1 by 3: among the ERROR rows 10, 25, 40...
    QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
    FindDialog* dialog = frame->findDialog();
    ASSERT_NE(dialog, nullptr);
    QLineEdit* text = dialog->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit();
    text->selectAll();
    QTest::keyClicks(text, "error NEEDLE1");
    QTest::keyClick(text, Qt::Key_Return);
    QApplication::processEvents();
    auto selectedLine = [&] {
        const DocSelection s = rows()->selection();
        EXPECT_TRUE(s.valid);
        EXPECT_EQ(s.startLine, s.endLine);
        return s.valid ? rows()->lineOfRow(s.startLine) : ~LineNumber(0);
    };
    EXPECT_EQ(selectedLine(), 10u) << "not line 1, 4 or 7: they are not shown";
    EXPECT_EQ(rows()->selection().startCol, 4) << "the row's ERROR and needle1, case ignored";
    EXPECT_EQ(rows()->selection().endCol, 16);
    QTest::keyClick(text, Qt::Key_Escape);
    ASSERT_EQ(frame->findDialog(), nullptr);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    key(Qt::Key_F3);
    EXPECT_EQ(selectedLine(), 25u);
    EXPECT_EQ(rows()->currentRow(), 5u);
    key(Qt::Key_F3);
    EXPECT_EQ(selectedLine(), 25u) << "line 40 is not in the file: not found, nothing moves";
    key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(selectedLine(), 10u);
    key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(selectedLine(), 10u);
    EXPECT_FALSE(document->selection().valid) << "the whole log's search did not run";

    // The text selected in a row is what F3 finds next.
    key(Qt::Key_F3);
    EXPECT_EQ(selectedLine(), 25u);
}

TEST_F(FilterAsViewTest, FindGoesOnAcrossAThousandRowsBothWays)
{
    // Every line shown. A search reads its rows in batches of 512 from where it starts: the
    // targets lie where the batch after the first begins, each way, and on the last row.
    const std::vector<int> targets{3, 515, 1027, 1499};
    std::string text;
    for (int i = 0; i < 1500; ++i) {
        const bool target = std::find(targets.begin(), targets.end(), i) != targets.end();
        text += "r" + std::to_string(i) + (target ? " ERROR aaaaa\n" : " ERROR\n");
    }
    open(text);
    filterBy("ERROR");
    ASSERT_EQ(shown(1500).size(), 1500u);
    switchKey();
    rowsToTop();
    rows()->setFocus();
    SettingsStore::instance().setString(Setting::LastFindString, u"aaaaa");
    std::vector<int> found;
    for (std::size_t i = 0; i < targets.size() + 1; ++i) {
        key(Qt::Key_F3);
        found.push_back(int(rows()->currentRow()));
    }
    EXPECT_EQ(found, (std::vector<int>{3, 515, 1027, 1499, 1499}));
    found.clear();
    for (std::size_t i = 0; i < targets.size(); ++i) {
        key(Qt::Key_F3, Qt::ShiftModifier);
        found.push_back(int(rows()->currentRow()));
    }
    EXPECT_EQ(found, (std::vector<int>{1027, 515, 3, 3}));

    // From the selection on row 3: matches that overlap are not found, the next one begins
    // after the one selected ends.
    frame->onFindNext(QStringLiteral("aa"), true, false, false);
    EXPECT_EQ(rows()->currentRow(), 515u);
    EXPECT_EQ(rows()->selection().startCol, 11) << "r515 ERROR aaaaa";
    key(Qt::Key_F3);
    EXPECT_EQ(rows()->currentRow(), 515u);
    EXPECT_EQ(rows()->selection().startCol, 13);
    key(Qt::Key_F3);
    EXPECT_EQ(rows()->currentRow(), 1027u);
}

TEST_F(FilterAsViewTest, ARegularExpressionIsFoundUpAndDownAmongTheRows)
{
    open(numberedLog(40));
    frame->setMessageHandler([this](const QString& t) { messages.append(t); });
    filterBy("ERROR");
    ASSERT_EQ(shown(40), expected("ERROR"));
    switchKey();
    rowsToTop();
    QTest::keyClick(rows(), Qt::Key_F, Qt::ControlModifier);
    FindDialog* dialog = frame->findDialog();
    ASSERT_NE(dialog, nullptr);
    auto* option = dialog->findChild<QCheckBox*>(QStringLiteral("regularExpression"));
    ASSERT_NE(option, nullptr);
    if (!option->isChecked()) {
        QTest::mouseClick(option, Qt::LeftButton, {}, option->rect().center());
    }
    QLineEdit* text = dialog->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit();
    text->selectAll();
    QTest::keyClicks(text, "n[23]5 \\w+");
    QTest::keyClick(text, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(rows()->lineOfRow(rows()->selection().startLine), 25u);
    EXPECT_EQ(rows()->selection().startCol, 0);
    EXPECT_EQ(rows()->selection().endCol, 8) << "n25 ERROR";
    QTest::keyClick(text, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(rows()->lineOfRow(rows()->selection().startLine), 35u);
    QTest::keyClick(text, Qt::Key_Escape);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(rows()->lineOfRow(rows()->selection().startLine), 25u);
    // Up within one row: the last match that ends before the selection.
    frame->onFindNext(QStringLiteral("needle|ERROR"), false, true, false, true);
    EXPECT_EQ(rows()->lineOfRow(rows()->selection().startLine), 20u);
    EXPECT_EQ(rows()->selection().startCol, 10) << "needle, the later of its two matches";
    frame->onFindNext(QStringLiteral("needle|ERROR"), false, true, false, true);
    EXPECT_EQ(rows()->lineOfRow(rows()->selection().startLine), 20u);
    EXPECT_EQ(rows()->selection().startCol, 4);
    EXPECT_FALSE(document->selection().valid);
}

TEST_F(FilterAsViewTest, AMarkSetAmongTheRowsIsTheWholeLogsAndTheJumpsSkipHiddenMarks)
{
    open(numberedLog(60));
    filterBy("ERROR");
    ASSERT_EQ(shown(60), expected("ERROR"));
    // A mark on a line the filter hides, set in the whole view.
    logView()->toggleMark(12);
    switchKey();
    ASSERT_TRUE(asView());
    rowsToTop();
    rows()->setFocus();
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_TRUE(document->marks().isMarked(10));
    EXPECT_EQ(document->marks().count(), 2u);
    const int h = rows()->rowHeight();
    const QColor plain = rowColour(rows(), h / 2);
    EXPECT_NE(rowColour(rows(), 2 * h + h / 2), plain) << "the marked row is tinted";
    EXPECT_EQ(rowColour(rows(), 2 * h + h / 2), LogView::markedBackground(plain));

    // F2 from row 0 passes over line 12, which no row shows; with a second mark among the
    // rows the jumps go on to it and wrap around as the log view's jump does.
    key(Qt::Key_Home, Qt::ControlModifier);
    key(Qt::Key_F2);
    EXPECT_EQ(rows()->currentRow(), 2u);
    key(Qt::Key_F2);
    EXPECT_EQ(rows()->currentRow(), 2u) << "the only mark among the rows";
    logView()->toggleMark(20);
    key(Qt::Key_F2);
    EXPECT_EQ(rows()->currentRow(), 4u);
    key(Qt::Key_F2);
    EXPECT_EQ(rows()->currentRow(), 2u) << "around the end";
    key(Qt::Key_F2, Qt::ShiftModifier);
    EXPECT_EQ(rows()->currentRow(), 4u) << "around the start";
    key(Qt::Key_F2, Qt::ShiftModifier);
    EXPECT_EQ(rows()->currentRow(), 2u);
    logView()->toggleMark(20);

    // Go to line: the row of the line, or of the first shown one after a hidden one.
    for (const auto& [typed, row] :
         {std::pair{"16", 3u}, std::pair{"13", 3u}, std::pair{"1", 0u}}) {
        key(Qt::Key_J, Qt::ControlModifier);
        auto* box = qobject_cast<GoToLineDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr) << "Ctrl+J opens the box";
        auto* field = box->findChild<QLineEdit*>(QStringLiteral("lineNumber"));
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
        QApplication::processEvents();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        EXPECT_EQ(rows()->currentRow(), row) << typed;
        EXPECT_TRUE(rows()->hasFocus());
    }
    key(Qt::Key_Down);
    key(Qt::Key_Down);

    // Back in the whole log, line 10 shows its mark there.
    switchKey();
    ASSERT_TRUE(logView()->isVisible());
    QApplication::processEvents();
    ASSERT_TRUE(lineShown(logView(), 10));
    const int y = int(10 - logView()->firstVisibleLine()) * int(logView()->lineHeight()) +
                  int(logView()->lineHeight()) / 2;
    EXPECT_EQ(rowColour(logView(), y), LogView::markedBackground(plain));
    // Ctrl+F2 in the whole log acts on its own caret again.
    EXPECT_EQ(logView()->caretLine(), 10);
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_FALSE(document->marks().isMarked(10));
}

// Alt+Down and Alt+Up go among the rows a keyword colours, over batches of rows both ways and
// past a keyword line the filter hides; Go to Time lands on the row of the first shown line at
// or after the time.
TEST_F(FilterAsViewTest, KeywordLineJumpsAndGoToTimeStayAmongTheRows)
{
    store->saveKeywords({Keyword(u"KEY", 0x00FFFFFF, 0x00FF0000, true, false, true)});
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2026-12-09 10:%02d:%02d", i / 60 % 60, i % 60);
        const bool key = i == 6 || i == 701 || i == 1400 || i == 1998;
        text += std::string(stamp) + (i % 2 == 0 ? " ERROR" : " INFO") + (key ? " KEY" : "") + " " +
                std::to_string(i) + "\n";
    }
    open(text);
    filterBy("ERROR");
    ASSERT_EQ(shown(2000), expected("ERROR"));
    switchKey();
    ASSERT_TRUE(asView());
    rowsToTop();
    rows()->setFocus();
    auto at = [&] { return rows()->lineOfRow(rows()->currentRow()); };
    for (const LineNumber line : {6u, 1400u, 1998u, 1998u}) {
        key(Qt::Key_Down, Qt::AltModifier);
        EXPECT_EQ(at(), line) << "down";
    }
    for (const LineNumber line : {1400u, 6u, 6u}) {
        key(Qt::Key_Up, Qt::AltModifier);
        EXPECT_EQ(at(), line) << "up";
    }
    EXPECT_TRUE(logView()->isHidden());

    // 10:11:41 is line 701, which the filter hides: its next shown line is 702.
    key(Qt::Key_T, Qt::ControlModifier);
    auto* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr) << "Ctrl+T opens the box";
    auto* field = box->findChild<QLineEdit*>(QStringLiteral("time"));
    ASSERT_NE(field, nullptr);
    QTest::keyClicks(field, QStringLiteral("2026-12-09 10:11:41"));
    QTest::keyClick(field, Qt::Key_Return);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return at() == 702u; })) << at();
    EXPECT_TRUE(asView());
}

TEST_F(FilterAsViewTest, TheFilteredViewFollowsMatchingAppendsAndWrapsLongLines)
{
    open(numberedLog(200), true);
    filterBy("ERROR");
    ASSERT_EQ(shown(200), expected("ERROR"));
    switchKey();
    ASSERT_TRUE(asView());
    EXPECT_TRUE(rows()->isFollowing()) << "the log view followed: so does the filtered view";
    append("late INFO one\nlate ERR");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 202; }));
    EXPECT_EQ(shown(202), expected("ERROR"));
    append("OR two " + std::string(300, 'w') + "\nlate INFO three\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 203; }));
    EXPECT_EQ(shown(203), expected("ERROR"));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return rows()->firstVisibleRow() == std::size_t(rows()->verticalScrollBar()->maximum());
    }));
    EXPECT_TRUE(rows()->isFollowing());
    EXPECT_EQ(rows()->lineOfRow(rows()->rowCount() - 1), 201u);
    EXPECT_TRUE(asView()) << "appends keep the filtered view";

    // Wrap Long Lines wraps the rows; the last one still ends the view.
    key(Qt::Key_Z, Qt::AltModifier);
    EXPECT_TRUE(rows()->wrapsLines());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto& screen = rows()->screenRows();
        return !screen.empty() && screen.back().item == rows()->rowCount() - 1;
    }));
    EXPECT_GT(std::count_if(rows()->screenRows().begin(), rows()->screenRows().end(),
                            [&](const auto& r) { return r.item == rows()->rowCount() - 1; }),
              1);
}

TEST_F(FilterAsViewTest, TurningItOffLandsOnTheCaretRowsLineOrElseTheTopRowsLine)
{
    open(numberedLog(1000));
    filterBy("ERROR");
    ASSERT_EQ(shown(1000), expected("ERROR"));
    switchKey();
    rowsToTop();
    rows()->setFocus();
    for (int i = 0; i < 40; ++i) {
        key(Qt::Key_Down);
    }
    const std::size_t above = rows()->currentRow() - rows()->firstVisibleRow();
    ASSERT_EQ(rows()->lineOfRow(rows()->currentRow()), 200u);
    switchKey();
    EXPECT_EQ(logView()->caretLine(), 200);
    EXPECT_TRUE(lineShown(logView(), 200));
    const std::size_t fit = logView()->viewport()->height() / logView()->lineHeight() - 1;
    EXPECT_EQ(logView()->firstVisibleLine(), 200u - std::min(above, fit))
        << "as many rows above it as before, as far as the log view's height allows";
    EXPECT_FALSE(logView()->isFollowing());

    // Back to the filtered view: at the caret's line again.
    switchKey();
    EXPECT_EQ(rows()->lineOfRow(rows()->currentRow()), 200u);
    EXPECT_EQ(rows()->lineOfRow(rows()->firstVisibleRow()), 200u);

    // The caret row scrolled out of sight: the top row's line.
    rows()->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    rows()->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QApplication::processEvents();
    const LineNumber top = rows()->lineOfRow(rows()->firstVisibleRow());
    ASSERT_GT(top, 200u);
    switchKey();
    EXPECT_EQ(logView()->caretLine(), int(top));
    EXPECT_EQ(logView()->firstVisibleLine(), top);

    // The caret row a few rows below the screen: the top row's line too.
    switchKey();
    ASSERT_TRUE(rows()->hasFocus());
    const int page = rows()->viewport()->height() / rows()->rowHeight();
    for (int i = 0; i < page + 3; ++i) {
        key(Qt::Key_Down);
    }
    for (int i = 0; i < 5; ++i) {
        rows()->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    }
    QApplication::processEvents();
    ASSERT_GE(rows()->currentRow(), rows()->firstVisibleRow() + std::size_t(page));
    const LineNumber topNow = rows()->lineOfRow(rows()->firstVisibleRow());
    switchKey();
    EXPECT_EQ(logView()->caretLine(), int(topNow));
}

TEST_F(FilterAsViewTest, EditingTheFilterKeepsTheViewAndClearingItReturnsToAllLines)
{
    open(numberedLog(100));
    filterBy("ERROR");
    ASSERT_EQ(shown(100), expected("ERROR"));
    switchKey();
    ASSERT_TRUE(asView());

    // Another text: still the filtered view, now of its lines.
    filterBy("needle2");
    EXPECT_EQ(shown(100), expected("needle2"));
    EXPECT_TRUE(asView());
    // Emptied for a moment while typing another: all lines meanwhile, the switch stays on.
    QLineEdit* field = pane()->bar()->field();
    field->setFocus();
    field->selectAll();
    key(Qt::Key_Backspace);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pane()->isActive(); }));
    EXPECT_TRUE(logView()->isVisible());
    EXPECT_TRUE(pane()->bar()->asViewSwitch()->isChecked());
    QTest::keyClicks(field, "needle0");
    key(Qt::Key_Return);
    EXPECT_EQ(shown(100), expected("needle0"));
    EXPECT_TRUE(asView());

    // Escape clears the filter and the switch.
    key(Qt::Key_Escape);
    EXPECT_FALSE(pane()->isActive());
    EXPECT_FALSE(pane()->bar()->asViewSwitch()->isChecked());
    EXPECT_TRUE(logView()->isVisible());
    filterBy("ERROR");
    EXPECT_EQ(shown(100), expected("ERROR"));
    EXPECT_FALSE(pane()->showsAsView()) << "a new filter starts in the pane";

    // The key without a filter turns the switch on and asks for one.
    key(Qt::Key_Escape);
    logView()->setFocus();
    switchKey();
    EXPECT_TRUE(pane()->bar()->asViewSwitch()->isChecked());
    EXPECT_TRUE(focused() == pane()->bar()->field() || focused() == pane()->bar()->fieldBox());
    EXPECT_TRUE(logView()->isVisible());
    QTest::keyClicks(focused(), "ERROR");
    key(Qt::Key_Return);
    EXPECT_EQ(shown(100), expected("ERROR"));
    EXPECT_TRUE(asView());
}

// Appends of matching and other lines, switches, and the keys that scroll, at random: the
// rows are always the model's matching lines, the log view is hidden exactly while the
// switch is on, and each switch off lands the log view's caret on the line the model names
// (the current row's line when it was on screen, else the top row's).
TEST_F(FilterAsViewTest, ARandomWalkOfAppendsSwitchesAndScrollsKeepsRowsAndPlaces)
{
    const unsigned seeds[] = {1u, 7u, 20261210u};
    for (const unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        open(numberedLog(50), true);
        filterBy("ERROR");
        ASSERT_EQ(shown(50), expected("ERROR"));
        std::mt19937 random(seed);
        LineNumber lines = 50;
        bool on = false;
        for (int step = 0; step < 40; ++step) {
            switch (random() % 5) {
            case 0: {
                const int count = int(random() % 30) + 1;
                for (int i = 0; i < count; ++i) {
                    append("w" + std::to_string(lines) +
                           (random() % 3 == 0 ? " ERROR x\n" : " INFO y\n"));
                    ++lines;
                }
                ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == lines; }));
                ASSERT_EQ(shown(lines), expected("ERROR"));
                break;
            }
            case 1:
            case 2: {
                // The model's place in the rows before the switch goes off.
                const std::vector<LineNumber> model = expected("ERROR");
                const std::size_t top = rows()->firstVisibleRow();
                const std::size_t current = rows()->currentRow();
                const std::size_t fit =
                    std::size_t(rows()->viewport()->height() / rows()->rowHeight());
                const std::size_t at = current >= top && current < top + fit ? current : top;
                rows()->isVisible() ? rows()->setFocus() : logView()->setFocus();
                switchKey();
                on = !on;
                ASSERT_EQ(asView(), on);
                if (!on && at < model.size()) {
                    EXPECT_EQ(logView()->caretLine(), int(model[at]));
                    EXPECT_TRUE(lineShown(logView(), model[at]))
                        << logView()->firstVisibleLine() << " " << logView()->visibleRowCount()
                        << " " << model[at] << " " << lines << " " << logView()->height();
                }
                break;
            }
            default: {
                static const int keys[] = {Qt::Key_Up,       Qt::Key_Down, Qt::Key_PageUp,
                                           Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
                QWidget* view = on ? static_cast<QWidget*>(rows()) : logView();
                const int k = keys[random() % 6];
                const auto mods =
                    k == Qt::Key_Home || k == Qt::Key_End ? Qt::ControlModifier : Qt::NoModifier;
                for (int i = int(random() % 4); i >= 0; --i) {
                    QTest::keyClick(view, Qt::Key(k), mods);
                }
                QApplication::processEvents();
                break;
            }
            }
            ASSERT_EQ(rowLines(), expected("ERROR"));
        }
    }
}
