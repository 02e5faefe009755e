// The filter bar and pane in the real main frame, driven by keys and mouse events: the rows
// against a line-by-line model while the file grows, clicks and Enter jumping the log view,
// selection and copy of the shown rows, excludes, unusable terms, Escape, the recent list
// and the pane's stored height. English package.

#include "FilterPaneFixture.h"

namespace {

// 400 lines: every 7th an ERROR, every 21st of those also a healthcheck.
std::string sampleLog()
{
    std::string text;
    for (int i = 0; i < 400; ++i) {
        if (i % 21 == 0) {
            text += "t" + std::to_string(i) + " ERROR healthcheck failed\n";
        } else if (i % 7 == 0) {
            text += "t" + std::to_string(i) + " ERROR disk full\n";
        } else {
            text += "t" + std::to_string(i) + " INFO request served\n";
        }
    }
    return text;
}

} // namespace

TEST_F(FilterPaneTest, KeysSetTheFilterAndThePaneFollowsTheGrowingFile)
{
    open(sampleLog(), true);
    EXPECT_FALSE(rows()->isVisible()) << "no filter, no pane";
    const int barOnly = pane()->height();
    filterBy("ERROR");
    EXPECT_TRUE(rows()->isVisible());
    EXPECT_GT(pane()->height(), barOnly);
    EXPECT_EQ(shown(400), expected("ERROR"));
    EXPECT_TRUE(rows()->isFollowing());

    // Appended in pieces, one of them a line cut before its end: the pane ends where the
    // model ends, the cut line counted once it says ERROR.
    append("late INFO one\nlate ERR");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 402; }));
    EXPECT_EQ(shown(402), expected("ERROR"));
    append("OR two\nlate ERROR three\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 403; }));
    EXPECT_EQ(shown(403), expected("ERROR"));
    EXPECT_EQ(rows()->lineOfRow(rows()->rowCount() - 1), 402u);
    EXPECT_TRUE(rows()->isFollowing()) << "at the end before, at the end after";
    EXPECT_EQ(rows()->firstVisibleRow(), std::size_t(rows()->verticalScrollBar()->maximum()));

    // Keys in the pane move its rows: Ctrl+Home leaves the end, new rows do not move it,
    // Ctrl+End comes back and follows again.
    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_FALSE(rows()->isFollowing());
    append("later ERROR four\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 404; }));
    EXPECT_EQ(shown(404), expected("ERROR"));
    EXPECT_EQ(rows()->firstVisibleRow(), 0u);
    QTest::keyClick(rows(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(rows()->isFollowing());

    // Clear starts the pane over with the main view: only lines written after it.
    QTest::keyClick(frame->activeView(), Qt::Key_L, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(rows()->rowCount(), 0u);
    append("after clear ERROR\nafter clear INFO\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 2; }));
    EXPECT_EQ(shown(2), std::vector<LineNumber>{0});
}

TEST_F(FilterPaneTest, AClickOrEnterOnARowSelectsItsLineInTheLogViewWithALineAbove)
{
    open(sampleLog());
    filterBy("disk");
    const std::vector<LineNumber> lines = shown(400);
    ASSERT_EQ(lines, expected("disk"));
    // To the top as a user goes there: a bar merely set to 0 still follows the end, and
    // rows or a layout that arrive late on a busy machine take it back there.
    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return rows()->firstVisibleRow() == 0 && rows()->viewport()->height() > rowPoint(1).y();
    }));

    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {}, rowPoint(1));
    QApplication::processEvents();
    const DocSelection selection = document->selection();
    EXPECT_TRUE(selection.valid);
    EXPECT_EQ(selection.startLine, lines[1]);
    EXPECT_EQ(selection.endLine, lines[1]);
    EXPECT_EQ(selection.startCol, 0);
    EXPECT_EQ(selection.endCol, -1) << "the whole line";
    EXPECT_EQ(frame->activeView()->firstVisibleLine(), lines[1] - 1) << "one line of context";
    EXPECT_EQ(rows()->currentRow(), 1u);
    EXPECT_TRUE(rows()->hasFocus()) << "the keyboard stays in the pane for the next row";

    // Down moves the current row only; Enter shows it. The last row clamps.
    key(Qt::Key_Down);
    EXPECT_EQ(document->selection().startLine, lines[1]);
    key(Qt::Key_Return);
    EXPECT_EQ(document->selection().startLine, lines[2]);
    key(Qt::Key_End, Qt::ControlModifier);
    key(Qt::Key_Down);
    key(Qt::Key_Enter);
    EXPECT_EQ(document->selection().startLine, lines.back());
    const QScrollBar* bar = frame->activeView()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum()) << "scrolled as far as it goes";
}

TEST_F(FilterPaneTest, SelectAllAndADragCopyTheShownRowsOnly)
{
    open("a ERROR one\nplain\nb ERROR two\u00e4\nplain\nc ERROR three\n");
    filterBy("ERROR");
    ASSERT_EQ(shown(5).size(), 3u);
    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {}, rowPoint(0));
    ASSERT_TRUE(rows()->hasFocus());

    key(Qt::Key_A, Qt::ControlModifier);
    const DocSelection all = rows()->selection();
    EXPECT_TRUE(all.valid) << "Select All acts on the pane that has the keyboard";
    EXPECT_EQ(all.endLine, 3u) << "every row and the empty one after the last";
    EXPECT_EQ(document->selection().endLine, 0u) << "the log view keeps the clicked line";
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromUtf8("a ERROR one\nb ERROR two\u00e4\nc ERROR three\n"));

    // From "ERROR" on row 0 to just past "b" on row 1: character cells at the points.
    const QString row0 = QStringLiteral("a ERROR one");
    const int x0 = rows()->gutterWidth() + int(rows()->renderer().prefixWidth(row0, 2)) + 1;
    const int x1 = rows()->gutterWidth() + int(rows()->renderer().prefixWidth(row0, 1)) - 1;
    // The first move is reported on row 1 already: the drag still starts at the press.
    QTest::mousePress(rows()->viewport(), Qt::LeftButton, {}, rowPoint(0, x0));
    QTest::mouseMove(rows()->viewport(), rowPoint(1, x1));
    QTest::mouseRelease(rows()->viewport(), Qt::LeftButton, {}, rowPoint(1, x1));
    const DocSelection dragged = rows()->selection();
    EXPECT_EQ(dragged.startLine, 0u);
    EXPECT_EQ(dragged.startCol, 2);
    EXPECT_EQ(dragged.endLine, 1u);
    EXPECT_EQ(dragged.endCol, 0);
    EXPECT_EQ(frame->action(CommandId::Copy)->isEnabled(), true);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), row0.mid(2) + QStringLiteral("\nb"));
}

TEST_F(FilterPaneTest, AnExcludeRowHidesItsLinesAndEscapeClearsEverything)
{
    open(sampleLog(), true);
    filterBy("ERROR");
    QTest::mouseClick(pane()->bar()->addButton(), Qt::LeftButton);
    ASSERT_EQ(pane()->bar()->rowCount(), 2);
    EXPECT_TRUE(pane()->bar()->option(1, 3)->isChecked()) << "an added row excludes";

    // Space is the window's Pause key, but a focused check box takes it first.
    pane()->bar()->option(1, 3)->setFocus(Qt::TabFocusReason);
    key(Qt::Key_Space);
    EXPECT_FALSE(pane()->bar()->option(1, 3)->isChecked());
    key(Qt::Key_Space);
    EXPECT_TRUE(pane()->bar()->option(1, 3)->isChecked());
    EXPECT_TRUE(document->isWatching());
    pane()->bar()->fieldBox(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(focused(), QStringLiteral("healthcheck"));
    key(Qt::Key_Return);
    EXPECT_EQ(shown(400), expected("ERROR", {"healthcheck"}));

    // Only the exclude: every line but those.
    pane()->bar()->field(0)->clear();
    key(Qt::Key_Return);
    EXPECT_EQ(shown(400), expected("", {"healthcheck"}));

    key(Qt::Key_Escape);
    EXPECT_FALSE(pane()->isActive());
    EXPECT_FALSE(rows()->isVisible());
    EXPECT_FALSE(pane()->filter()->isActive());
    EXPECT_EQ(pane()->bar()->rowCount(), 1);
    EXPECT_TRUE(pane()->bar()->field(0)->text().isEmpty());
    EXPECT_EQ(focused(), frame->activeView());
}

TEST_F(FilterPaneTest, ATermThatCannotBeUsedSaysWhyAndFiltersNothing)
{
    open(sampleLog());
    FilterBar* bar = pane()->bar();
    quilltest::clickCheckBox(bar->option(0, 2));
    filterBy("disk (full");
    EXPECT_FALSE(pane()->isActive());
    EXPECT_FALSE(bar->errorLabel(0)->isHidden());
    EXPECT_TRUE(bar->errorLabel(0)->text().contains(QStringLiteral("character 11")))
        << bar->errorLabel(0)->text().toStdString();

    bar->field(0)->selectAll();
    QTest::keyClicks(bar->field(0), QStringLiteral("disk \\(?full"));
    key(Qt::Key_Return);
    EXPECT_TRUE(bar->errorLabel(0)->isHidden());
    EXPECT_EQ(shown(400), expected("disk"));

    // A second row that includes too: it cannot be, and says so under itself.
    QTest::mouseClick(bar->addButton(), Qt::LeftButton);
    quilltest::clickCheckBox(bar->option(1, 3));
    QTest::keyClicks(bar->field(1), QStringLiteral("INFO"));
    key(Qt::Key_Return);
    EXPECT_FALSE(pane()->isActive());
    EXPECT_TRUE(bar->errorLabel(0)->isHidden());
    EXPECT_FALSE(bar->errorLabel(1)->isHidden());
}

TEST_F(FilterPaneTest, UsedFiltersAreOfferedAgainWithTheirOptionsAndThePaneKeepsItsHeight)
{
    open(sampleLog());
    FilterBar* bar = pane()->bar();
    quilltest::clickCheckBox(bar->option(0, 1));
    filterBy("full");
    EXPECT_EQ(shown(400), expected("full"));

    // The splitter handle dragged up by 60 pixels: the pane's new height is kept.
    QSplitterHandle* handle = frame->splitter()->handle(1);
    const QPoint grip = handle->rect().center();
    const int before = pane()->height();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip - QPoint(0, 60));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(0, 60));
    QApplication::processEvents();
    const int dragged = pane()->height();
    EXPECT_GT(dragged, before);
    EXPECT_EQ(store->dword(Setting::FilterPaneHeight), std::uint32_t(dragged));

    // A new window: the list offers "full" with Whole word on; the pane comes back as high.
    open(sampleLog());
    bar = pane()->bar();
    QComboBox* box = bar->fieldBox(0);
    ASSERT_EQ(box->count(), 1);
    EXPECT_EQ(box->itemText(0), QStringLiteral("full"));
    EXPECT_FALSE(bar->option(0, 1)->isChecked());
    box->setFocus();
    key(Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->view()->isVisible(); }));
    QTest::keyClick(box->view(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(bar->option(0, 1)->isChecked());
    EXPECT_EQ(shown(400), expected("full"));
    EXPECT_EQ(pane()->height(), dragged);
}

TEST_F(FilterPaneTest, StopKeepsTheRowsFoundSoFarAndContinueFindsTheRest)
{
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text += i % 10 == 3 ? "x ERROR " + std::to_string(i) + "\n" : "x info\n";
    }
    open(text);
    // Chunks of one line, so the pass is still running when Stop is clicked.
    pane()->filter()->setChunkLimits(1, 1 << 20);
    filterBy("ERROR");
    QPushButton* stop = pane()->stopButton();
    ASSERT_TRUE(stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pane()->filter()->progress().state == FilterState::Stopped; }));
    QApplication::processEvents();
    const std::size_t kept = rows()->rowCount();
    EXPECT_LT(kept, 20000u);
    EXPECT_TRUE(pane()->progressLabel()->text().startsWith(QStringLiteral("Stopped at")))
        << pane()->progressLabel()->text().toStdString();
    EXPECT_EQ(stop->text(), QStringLiteral("Continue"));

    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(shown(200000), expected("ERROR"));
    const QLocale locale;
    EXPECT_EQ(pane()->progressLabel()->text(),
              QStringLiteral("%1 of %2 lines match")
                  .arg(locale.toString(20000), locale.toString(200000)));
    EXPECT_FALSE(stop->isEnabled());
}

// WCAG contrast ratio, computed here from the sRGB definition.
static double contrastRatio(const QColor& a, const QColor& b)
{
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const auto luminance = [&](const QColor& c) {
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The message under an unusable term: the bar grows to hold it whole, the field keeps its
// height, and the text stands out from the bar in a light and in a dark palette.
TEST_F(FilterPaneTest, AnUnusableTermKeepsTheBarWholeAndItsMessageReadable)
{
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(0x20, 0x20, 0x20)},
                                {QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0)},
                                {QPalette::Base, QColor(0x2A, 0x2A, 0x2A)},
                                {QPalette::Text, QColor(0xE0, 0xE0, 0xE0)},
                                {QPalette::Button, QColor(0x30, 0x30, 0x30)},
                                {QPalette::ButtonText, QColor(0xE0, 0xE0, 0xE0)}}) {
        dark.setColor(role, colour);
    }
    for (const QPalette& palette : {before, dark}) {
        QApplication::setPalette(palette);
        open(sampleLog());
        FilterBar* bar = pane()->bar();
        key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QApplication::processEvents();
        const int fieldHeight = bar->fieldBox(0)->height();
        ASSERT_GT(fieldHeight, 10);
        quilltest::clickCheckBox(bar->option(0, 2));
        filterBy("disk (full");
        QLabel* error = bar->errorLabel(0);
        ASSERT_FALSE(error->isHidden());
        QTest::qWait(50);
        QApplication::processEvents();
        EXPECT_GE(bar->fieldBox(0)->height(), fieldHeight) << "the field is not squashed";
        EXPECT_GE(error->height(), error->heightForWidth(error->width()))
            << "the message shows whole";
        EXPECT_GE(pane()->height(), bar->sizeHint().height());
        const QColor text = error->palette().color(QPalette::WindowText);
        const QColor back = bar->palette().color(QPalette::Window);
        EXPECT_GE(contrastRatio(text, back), 4.5)
            << text.name().toStdString() << " on " << back.name().toStdString();
        EXPECT_GT(text.red(), std::max(text.green(), text.blue()) + 60)
            << "still an error's red: " << text.name().toStdString();
        frame.reset();
    }
    QApplication::setPalette(before);
}

// However the file is replaced, and whether the watcher sees it empty first or already
// written, the pane ends with the new file's lines, not the old file's rows.
TEST_F(FilterPaneTest, EveryReloadStartsThePaneOver)
{
    std::string old;
    for (int i = 0; i < 1000; ++i) {
        old += "old " + std::to_string(i) + (i % 3 == 0 ? " ERROR\n" : " fine\n");
    }
    std::string fresh;
    for (int i = 0; i < 10; ++i) {
        fresh += "new " + std::to_string(i) + (i % 2 == 0 ? " ERROR\n" : " fine\n");
    }
    const std::string rotated = path + ".1";
    // A reload that finds the file missing for a moment waits for it instead of asking.
    store->setBool(Setting::ShowEmptyFileWarning, false);
    store->setBool(Setting::ShowEmptyFiles, true);
    enum class Step { Truncate, Rename, Remove, WaitEmpty, Write };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } orders[] = {
        {"truncate then write", {Step::Truncate, Step::Write}},
        {"truncate, reload, write", {Step::Truncate, Step::WaitEmpty, Step::Write}},
        {"rename then create", {Step::Rename, Step::Write}},
        {"rename, create empty, reload, write",
         {Step::Rename, Step::Truncate, Step::WaitEmpty, Step::Write}},
        {"delete then create", {Step::Remove, Step::Write}},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(order.name);
        open(old, true);
        filterBy("ERROR");
        ASSERT_EQ(shown(1000), expected("ERROR"));
        for (Step step : order.steps) {
            switch (step) {
            case Step::Truncate:
                quilltest::writeFile(path, "");
                break;
            case Step::Rename:
                ASSERT_EQ(std::rename(path.c_str(), rotated.c_str()), 0);
                break;
            case Step::Remove:
                ASSERT_EQ(std::remove(path.c_str()), 0);
                break;
            case Step::WaitEmpty:
                ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 0; }));
                break;
            case Step::Write:
                std::ofstream(path, std::ios::binary | std::ios::app) << fresh;
                break;
            }
        }
        content = fresh;
        ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 10; }));
        EXPECT_EQ(shown(10), expected("ERROR"));
        // The rows' texts are the new file's, not those the pane had read of the old one.
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            EXPECT_EQ(rows()->selectableLine(LineNumber(row)),
                      u16("new " + std::to_string(rows()->lineOfRow(row)) + " ERROR"));
        }
        std::remove(rotated.c_str());
    }
}

// Line numbers of seven digits and more fit the gutter, also when the large file came with
// a reload that no append followed.
TEST_F(FilterPaneTest, TheGutterFitsTheLargestLineNumber)
{
    open("hit one\n", true);
    filterBy("hit");
    ASSERT_EQ(shown(1), expected("hit"));
    std::string big;
    big.reserve(2'100'000);
    for (int i = 0; i < 1'000'000; ++i) {
        big += "x\n";
    }
    big += "hit last\n";
    quilltest::writeFile(path + ".new", big);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    content = big;
    EXPECT_EQ(shown(1'000'001), expected("hit"));
    const QFontMetrics metrics(rows()->renderer().font());
    EXPECT_GT(rows()->gutterWidth(), metrics.horizontalAdvance(QStringLiteral("?1000001")));
    // The number as painted: the gutter's pixels hold ink as far left as seven digits reach.
    const QImage image = rows()->viewport()->grab().toImage();
    ASSERT_EQ(rows()->firstVisibleRow(), 0u);
    const QColor gutter = image.pixelColor(1, 1); // the padding: no ink
    const int right = rows()->gutterWidth() - 6;
    const int left = right - metrics.horizontalAdvance(QStringLiteral("1000001"));
    bool inkAtFirstDigit = false;
    for (int y = 0; y < rows()->rowHeight(); ++y) {
        for (int x = left; x < left + metrics.horizontalAdvance(QLatin1Char('1')); ++x) {
            inkAtFirstDigit = inkAtFirstDigit || image.pixelColor(x, y) != gutter;
        }
    }
    EXPECT_GE(left, 0);
    EXPECT_TRUE(inkAtFirstDigit);
}

// A line too complex for the pattern is shown with a mark before its number, counted in the
// header and explained under the term's row; a plain filter next has none.
