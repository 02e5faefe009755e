// The filter pane's rows as they show: lines too complex to decide, marked and counted apart
// from the matches, wrapped rows, terminal colours and progress lines, in the real main
// frame. English package.

#include "FilterPaneFixture.h"

TEST_F(FilterPaneTest, LinesTooComplexAreMarkedCountedAndExplained)
{
    for (const int hard : {3, 1}) {
        SCOPED_TRACE(std::to_string(hard) + " hard lines");
        std::string text;
        std::vector<std::size_t> hardRows;
        for (int i = 0; i < 9; ++i) {
            if (i % 3 == 0 && i / 3 < hard) {
                text += std::string(28, 'a') + "b ac\n";
                hardRows.push_back(std::size_t(i));
            } else {
                text += "plain ac\n";
            }
        }
        open(text);
        QTest::mouseClick(pane()->bar()->option(0, 2), Qt::LeftButton);
        filterBy("(a+)+c");
        EXPECT_EQ(shown(9), expected("ac"));
        std::vector<std::size_t> marked;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            if (rows()->isUndecided(row)) {
                marked.push_back(row);
            }
        }
        EXPECT_EQ(marked, hardRows);
        EXPECT_TRUE(pane()->progressLabel()->text().endsWith(
            QStringLiteral("%1 lines too complex for this pattern").arg(hard)))
            << pane()->progressLabel()->text().toStdString();
        QLabel* explanation = pane()->bar()->errorLabel(0);
        EXPECT_TRUE(explanation->isVisible());
        EXPECT_TRUE(explanation->text().contains(QStringLiteral("could not be tested")));

        // The mark as painted: ink further left in the gutter of the first row, which is
        // marked, than in that of the second, which is not (one digit each).
        QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
        ASSERT_EQ(rows()->firstVisibleRow(), 0u);
        ASSERT_GE(rows()->viewport()->height(), 2 * rows()->rowHeight());
        rows()->viewport()->repaint();
        const QImage image = rows()->viewport()->grab().toImage();
        auto leftmostInk = [&](int row) {
            const int top = row * rows()->rowHeight();
            const QColor gutter = image.pixelColor(1, top + 1); // the padding: no ink
            for (int x = 2; x < rows()->gutterWidth(); ++x) {
                for (int y = top; y < top + rows()->rowHeight(); ++y) {
                    if (image.pixelColor(x, y) != gutter) {
                        return x;
                    }
                }
            }
            return rows()->gutterWidth();
        };
        EXPECT_LT(leftmostInk(0) + 2, leftmostInk(1));
        EXPECT_LT(leftmostInk(1), rows()->gutterWidth());

        QLineEdit* field = pane()->bar()->field(0);
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("plain"));
        key(Qt::Key_Return);
        EXPECT_EQ(shown(9), expected("plain"));
        EXPECT_FALSE(explanation->isVisible());
        EXPECT_FALSE(pane()->progressLabel()->text().contains(QStringLiteral("complex")));
    }
}

namespace {

// A line of `length` b's with `count` a's at distinct random places.
std::string scatteredAs(std::mt19937& rng, std::size_t length, int count)
{
    std::string line(length, 'b');
    for (int placed = 0; placed < count;) {
        char& c = line[rng() % length];
        placed += c != 'a' ? 1 : 0;
        c = 'a';
    }
    return line + '\n';
}

// The first number in `text` after `before` and before `after` (plain digits: the counts
// here stay below a thousand); -1 when there is none.
long numberBetween(const QString& text, const QString& before, const QString& after)
{
    const qsizetype end = text.indexOf(after);
    if (end < 0) {
        return -1;
    }
    const qsizetype start = before.isEmpty() ? 0 : text.lastIndexOf(before, end);
    if (start < 0) {
        return -1;
    }
    bool ok = false;
    const long n = text.mid(start + before.size(), end - start - before.size()).toLong(&ok);
    return ok ? n : -1;
}

} // namespace

// `^ok|(.*a){24}` decides the short lines at once and none of the long ones, each one a short
// of enough a's, in the time a line may take. The header counts those lines apart and never
// among the matches: while the pass runs, when it is stopped and when it is done, its count
// of matches is the rows without a mark, and at the end the model's.
TEST_F(FilterPaneTest, TheHeaderNeverCountsLinesTooComplexAsMatches)
{
    std::mt19937 rng(11);
    std::string text;
    std::size_t matching = 0;
    std::size_t hard = 0;
    const int lines = 90;
    for (int i = 0; i < lines; ++i) {
        if (i % 2 == 0) {
            text += scatteredAs(rng, 10'000, 23);
            ++hard;
        } else if (rng() % 3 == 0) {
            text += "ok " + scatteredAs(rng, 30, int(rng() % 5));
            ++matching;
        } else {
            text += "no " + scatteredAs(rng, 30, int(rng() % 5));
        }
    }
    open(text);
    pane()->filter()->setChunkLimits(3, 1 << 20);
    QTest::mouseClick(pane()->bar()->option(0, 2), Qt::LeftButton);
    filterBy("^ok|(.*a){24}");
    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        QApplication::processEvents();
        const QString header = pane()->progressLabel()->text();
        std::size_t marked = 0;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            marked += rows()->isUndecided(row) ? 1 : 0;
        }
        const bool done = pane()->filter()->progress().state == FilterState::Done;
        const long matches =
            done ? numberBetween(header, QString(), QStringLiteral(" of "))
                 : numberBetween(header, QStringLiteral(", "), QStringLiteral(" match"));
        EXPECT_EQ(matches, long(rows()->rowCount() - marked)) << header.toStdString();
        if (marked > 0) {
            EXPECT_EQ(numberBetween(header, QStringLiteral(", "),
                                    QStringLiteral(" lines too complex for this pattern")),
                      long(marked))
                << header.toStdString();
        } else {
            EXPECT_FALSE(header.contains(QStringLiteral("complex"))) << header.toStdString();
        }
        return marked;
    };
    QPushButton* stop = pane()->stopButton();
    ASSERT_TRUE(stop->isEnabled()) << "the pass ended before it could be stopped";
    QTest::qWait(100);
    check("running");
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pane()->filter()->progress().state == FilterState::Stopped; }));
    QTest::qWait(50);
    EXPECT_TRUE(pane()->progressLabel()->text().startsWith(QStringLiteral("Stopped at")));
    check("stopped");
    QTest::mouseClick(stop, Qt::LeftButton);
    QTest::qWait(100);
    check("running again");
    ASSERT_EQ(shown(LineNumber(lines)).size(), matching + hard);
    EXPECT_EQ(check("done"), hard);
    EXPECT_TRUE(pane()->progressLabel()->text().startsWith(
        QStringLiteral("%1 of %2 lines match").arg(matching).arg(lines)))
        << pane()->progressLabel()->text().toStdString();
}

// With lines wrapped the pane wraps its rows too: a long matching line takes several screen
// rows, its number on the first; a click on a later screen row of it shows that line; Down
// brings the next row's first screen row into sight; a drag across screen rows selects
// the characters between; at the end, the last screen row is at the bottom.
TEST_F(FilterPaneTest, WrappedRowsAreClickedSelectedAndFollowedByScreenRows)
{
    std::string text;
    for (int i = 0; i < 60; ++i) {
        text += "t" + std::to_string(i) +
                (i % 3 == 0 ? " ERROR " + std::string(300, 'x') : " INFO") + "\n";
    }
    open(text);
    key(Qt::Key_Z, Qt::AltModifier);
    ASSERT_TRUE(frame->activeView()->wrapsLines());
    filterBy("ERROR");
    const std::vector<LineNumber> lines = shown(60);
    ASSERT_EQ(lines, expected("ERROR"));
    ASSERT_TRUE(rows()->wrapsLines());
    EXPECT_FALSE(rows()->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(rows()->isFollowing());
    std::vector<WrapScroller::Row> screen = rows()->screenRows();
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.back().item, lines.size() - 1);
    EXPECT_EQ(screen.back().y + rows()->rowHeight(), rows()->viewport()->height());

    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    screen = rows()->screenRows();
    ASSERT_GE(screen.size(), 3u);
    ASSERT_EQ(screen[1].item, 0u);
    ASSERT_GT(screen[1].start, 0) << "the first row goes on in a second screen row";
    const int h = rows()->rowHeight();
    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {},
                      QPoint(rows()->gutterWidth() + 4, screen[1].y + h / 2));
    QApplication::processEvents();
    EXPECT_EQ(document->selection().startLine, lines[0]);
    EXPECT_EQ(rows()->currentRow(), 0u);

    // Down, down, ...: the current row's first screen row stays in sight; a row that comes
    // up from below the pane comes whole, its last screen row the lowest whole one.
    const auto firstRowInSight = [&](std::size_t k) {
        bool seen = false;
        for (const WrapScroller::Row& row : rows()->screenRows()) {
            seen = seen || (row.item == k && row.start == 0 && row.y >= 0 &&
                            row.y + h <= rows()->viewport()->height());
        }
        return seen;
    };
    bool cameFromBelow = false;
    for (std::size_t k = 1; k < 12; ++k) {
        const bool wasInSight = firstRowInSight(k);
        key(Qt::Key_Down);
        EXPECT_TRUE(firstRowInSight(k)) << "row " << k;
        if (!wasInSight) {
            cameFromBelow = true;
            int bottom = 0;
            for (const WrapScroller::Row& row : rows()->screenRows()) {
                bottom = row.item == k ? std::max(bottom, row.y + h) : bottom;
            }
            // The lowest whole row of the pane; a row of part height may show below it.
            EXPECT_EQ(bottom, rows()->viewport()->height() / h * h) << "row " << k;
        }
    }
    EXPECT_TRUE(cameFromBelow);
    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();

    // A drag from the first screen row of a row to its second.
    screen = rows()->screenRows();
    std::size_t first = 0;
    while (first + 1 < screen.size() && !(screen[first].start == 0 && screen[first].y >= 0 &&
                                          screen[first + 1].item == screen[first].item)) {
        ++first;
    }
    ASSERT_LT(first + 1, screen.size());
    const int cell = rows()->renderer().averageCharWidth();
    const int left = rows()->gutterWidth() + cell / 2;
    QTest::mousePress(rows()->viewport(), Qt::LeftButton, {},
                      QPoint(left + cell, screen[first].y + h / 2));
    QTest::mouseMove(rows()->viewport(), QPoint(left + cell, screen[first].y + h / 2));
    QTest::mouseMove(rows()->viewport(), QPoint(left + 2 * cell, screen[first + 1].y + h / 2));
    QTest::mouseRelease(rows()->viewport(), Qt::LeftButton, {},
                        QPoint(left + 2 * cell, screen[first + 1].y + h / 2));
    const DocSelection dragged = rows()->selection();
    EXPECT_EQ(dragged.startLine, LineNumber(screen[first].item));
    EXPECT_EQ(dragged.endLine, LineNumber(screen[first].item));
    EXPECT_EQ(dragged.startCol, 1);
    EXPECT_EQ(dragged.endCol, int(screen[first + 1].start) + 2);
}

// With View > Terminal Colours on, the pane's rows look as the log view's lines do: the
// sequences hidden, their colours, bold and underline shown, a whole-line keyword's
// colours over them; rows near the log view's lines and far from them alike. A text a
// sequence splits is found whole, and a copy gives the rows as shown.
TEST_F(FilterPaneTest, TerminalColoursShowInTheRowsAsInTheLogView)
{
    store->saveKeywords({Keyword(u"FATAL", 0x00FFFFFF, 0x00FF0000, true, false, true)});
    const std::string coloured = "\x1b[42mGREEN\x1b[0m ERROR tail\n"
                                 "FATAL \x1b[42mgreen\x1b[0m ERROR\n"
                                 "ER\x1b[31mROR \x1b[1;4mbold under\x1b[0m \x1b[K\n";
    std::string text = coloured;
    for (int i = 0; i < 3000; ++i) {
        text += "plain " + std::to_string(i) + "\n";
    }
    text += coloured;
    open(text);
    frame->action(CommandId::ViewTerminalColors)->trigger();
    ASSERT_TRUE(document->terminalColors());
    filterBy("ERROR");
    EXPECT_EQ(shown(3006), (std::vector<LineNumber>{0, 1, 2, 3003, 3004, 3005}));

    // The log view at its top shows lines 0-2 from its window; the pane's last rows read
    // lines 3003-3005 from the file.
    QTest::keyClick(frame->activeView(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    LogView* view = frame->activeView();
    ASSERT_EQ(view->verticalScrollBar()->value(), 0);
    const QImage log = view->viewport()->grab().toImage();
    const int height = int(view->lineHeight());
    ASSERT_EQ(rows()->rowHeight(), height);
    const int width = std::min(log.width(), 30 * view->renderer().averageCharWidth());
    const QColor green(0, 205, 0);
    const QColor blue(0, 0, 255);
    for (const bool far : {false, true}) {
        SCOPED_TRACE(far ? "rows read from the file" : "rows of the log view's window");
        QTest::keyClick(rows(), far ? Qt::Key_End : Qt::Key_Home, Qt::ControlModifier);
        QApplication::processEvents();
        const QImage pane = rows()->viewport()->grab().toImage();
        const std::size_t first = far ? 3 : 0;
        ASSERT_LT(first - rows()->firstVisibleRow(), 4u);
        const int gutter = rows()->gutterWidth();
        const int cell = rows()->renderer().averageCharWidth();
        for (int line = 0; line < 3; ++line) {
            const int top = int(first + std::size_t(line) - rows()->firstVisibleRow()) * height;
            int differing = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    differing += pane.pixel(gutter + x, top + y) != log.pixel(x, line * height + y);
                }
            }
            EXPECT_EQ(differing, 0) << "row of line " << line << " looks as in the log view";
        }
        // What the rows look like: green behind GREEN only, the keyword's blue over the
        // green of the FATAL line.
        const int greenRow = int(first - rows()->firstVisibleRow()) * height;
        EXPECT_EQ(pane.pixelColor(gutter + 1, greenRow + 1), green);
        EXPECT_EQ(pane.pixelColor(gutter + 4 * cell + 1, greenRow + 1), green);
        EXPECT_NE(pane.pixelColor(gutter + 5 * cell + 1, greenRow + 1), green);
        const int fatal = greenRow + height;
        EXPECT_EQ(pane.pixelColor(gutter + 7 * cell + 1, fatal + 1), blue);
    }
    // Bold and underline drawn: row 2's styled words differ from the same words unstyled.
    const QImage pane = rows()->viewport()->grab().toImage();
    const int top = int(5 - rows()->firstVisibleRow()) * height;
    const QColor background = quill::colorFromRef(store->dword(Setting::BackgroundColor));
    QImage plain(pane.size(), QImage::Format_RGB32);
    {
        QPainter painter(&plain);
        LogRenderer::RowStyle style;
        style.text = quill::colorFromRef(store->dword(Setting::TextColor));
        style.background = style.rest = background;
        rows()->renderer().paintRow(painter, top, -rows()->gutterWidth(), 0, pane.width(),
                                    QStringLiteral("ERROR bold under "), style);
    }
    const int cell = rows()->renderer().averageCharWidth();
    auto ink = [&](const QImage& image, int from, int to) {
        int count = 0;
        for (int y = top; y < top + height; ++y) {
            for (int x = rows()->gutterWidth() + from * cell; x < rows()->gutterWidth() + to * cell;
                 ++x) {
                count += image.pixelColor(x, y) != background;
            }
        }
        return count;
    };
    EXPECT_EQ(ink(pane, 0, 6), ink(plain, 0, 6)) << "ERROR is plain text";
    EXPECT_GT(ink(pane, 6, 16), ink(plain, 6, 16)) << "bold and underlined";

    // Select All and copy in the pane: the rows' text as shown.
    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {}, rowPoint(rows()->firstVisibleRow()));
    ASSERT_TRUE(rows()->hasFocus());
    key(Qt::Key_A, Qt::ControlModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    const QString shownRows =
        QStringLiteral("GREEN ERROR tail\nFATAL green ERROR\nERROR bold under \n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shownRows + shownRows);
}

// Terminal colours switched on while the pane shows rows: the rows take the colours at
// once, from the log view's window and from the file alike, with no reopening, with long
// lines wrapped or not.
TEST_F(FilterPaneTest, TerminalColoursSwitchedOnWithThePaneOpenColourItsRows)
{
    for (const bool wrap : {false, true}) {
        SCOPED_TRACE(wrap ? "wrapped" : "not wrapped");
        if (store->boolValue(Setting::WrapLongLines) != wrap) {
            store->setBool(Setting::WrapLongLines, wrap);
        }
        if (store->boolValue(Setting::TerminalColors)) {
            store->setBool(Setting::TerminalColors, false);
        }
        std::string text = "\x1b[42mGREEN\x1b[0m ERROR near\n";
        for (int i = 0; i < 3000; ++i) {
            text += "plain " + std::to_string(i) + "\n";
        }
        text += "\x1b[42mGREEN\x1b[0m ERROR far\n";
        open(text);
        ASSERT_FALSE(document->terminalColors());
        filterBy("ERROR");
        EXPECT_EQ(shown(3002), (std::vector<LineNumber>{0, 3001}));
        QTest::keyClick(frame->activeView(), Qt::Key_Home, Qt::ControlModifier);
        QApplication::processEvents();
        (void)rows()->viewport()->grab(); // the rows are read and drawn without colours first

        frame->action(CommandId::ViewTerminalColors)->trigger();
        ASSERT_TRUE(document->terminalColors());
        EXPECT_EQ(shown(3002), (std::vector<LineNumber>{0, 3001}));
        const QColor green(0, 205, 0);
        const int height = rows()->rowHeight();
        const int gutter = rows()->gutterWidth();
        const int cell = rows()->renderer().averageCharWidth();
        for (std::size_t row : {0, 1}) {
            SCOPED_TRACE(row == 0 ? "a line of the log view's window"
                                  : "a line read from the file");
            QApplication::processEvents();
            const QImage pane = rows()->viewport()->grab().toImage();
            const int top = int(row - rows()->firstVisibleRow()) * height;
            EXPECT_EQ(pane.pixelColor(gutter + 1, top + 1), green);
            EXPECT_EQ(pane.pixelColor(gutter + 4 * cell + 1, top + 1), green);
            EXPECT_NE(pane.pixelColor(gutter + 5 * cell + 1, top + 1), green);
        }
    }
}

// A progress line written with carriage returns shows its last state as a terminal does;
// Ctrl+A, Ctrl+C in the log view give the lines as shown, joined by line feeds, without
// any carriage return or its symbol. View > Show Control Characters shows every state with
// the symbol the font has, and a copy then carries the carriage returns themselves. The
// filter finds what the line shows.
TEST_F(FilterPaneTest, ProgressLinesShowTheirLastStateAndCopyAsShown)
{
    open("get 10%\rget 50%\rdone\r\nnext line\r\n");
    LogView* view = frame->activeView();
    const char16_t symbol = view->renderer().carriageReturnSymbol();
    EXPECT_TRUE(QRawFont::fromFont(view->renderer().font()).supportsCharacter(QChar(symbol)) ||
                symbol == u'^');
    EXPECT_EQ(document->line(0), u"done50%");
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::clipboard()->text().isEmpty(); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("done50%\nnext line\n"));

    filterBy("done5");
    EXPECT_EQ(shown(2), (std::vector<LineNumber>{0}));

    frame->action(CommandId::ViewShowControlCharacters)->trigger();
    ASSERT_TRUE(frame->action(CommandId::ViewShowControlCharacters)->isChecked());
    EXPECT_EQ(document->line(0), u"get 10%" + std::u16string(1, symbol) + u"get 50%" +
                                     std::u16string(1, symbol) + u"done");
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(
        QTest::qWaitFor([] { return QGuiApplication::clipboard()->text().contains(u'\r'); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("get 10%\rget 50%\rdone\nnext line\n"));
    EXPECT_TRUE(store->boolValue(Setting::ShowControlCharacters));
    frame->action(CommandId::ViewShowControlCharacters)->trigger();
    EXPECT_EQ(document->line(0), u"done50%");
}
