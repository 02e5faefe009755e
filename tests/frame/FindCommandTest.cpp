// Find, Find Next and the clipboard keys on the real main frame with the English package:
// the dialog driven by keys (Enter, Shift+Enter, Escape), its options, the not-found message,
// the fallback to the dialog, a search from a click right of a line's end, and the keys
// Ctrl+A, Ctrl+C, Ctrl+Insert, Ctrl+F, F3, Shift+F3, Ctrl+G.

#include "FindBoxFixture.h"
#include "dialogs/FindDialog.h"
#include "engine/LogDocument.h"
#include "frame/FilterPane.h"
#include "frame/MainFrame.h"
#include "resources/ResourceHandler.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/FilterView.h"
#include "view/LogView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

using quilltest::TempDir;
using quilltest::u16;

class FindCommandTest : public FindBoxFixture {
  protected:
    TempDir& dir = package.dir;
    std::unique_ptr<SettingsStore>& store = package.store;
};

TEST_F(FindCommandTest, EnterSearchesDownShiftEnterUpAndTheOptionsNarrowTheMatches)
{
    open("alpha beta\ngamma beta delta\nBeta betamax\nend\n");
    FindDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->searchDown()) << "FindDown defaults to true";
    QTest::keyClicks(textField(dialog), "beta");
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(selected(), Match(0, 6, 9));
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(selected(), Match(1, 6, 9));
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(selected(), Match(2, 0, 3)) << "case ignored";

    dialog->findChild<QCheckBox*>(QStringLiteral("wholeWord"))->setChecked(true);
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(messages.size(), 1) << "betamax is no whole word, and nothing follows";
    EXPECT_EQ(selected(), Match(2, 0, 3)) << "not found leaves the selection";

    key(textField(dialog), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(selected(), Match(2, 0, 3));
    key(textField(dialog), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(selected(), Match(1, 6, 9));
    EXPECT_TRUE(store->boolValue(Setting::FindWholeWord));
    EXPECT_TRUE(store->boolValue(Setting::FindDown)) << "Shift+Enter does not turn the dialog";
    EXPECT_EQ(dialog->history(), QStringList{QStringLiteral("beta")});

    dialog->findChild<QCheckBox*>(QStringLiteral("matchCase"))->setChecked(true);
    textField(dialog)->selectAll();
    QTest::keyClicks(textField(dialog), "Beta");
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(selected(), Match(2, 0, 3));
    EXPECT_TRUE(store->boolValue(Setting::FindMatchCase));
    EXPECT_EQ(dialog->history(), (QStringList{QStringLiteral("Beta"), QStringLiteral("beta")}));

    // The history belongs to the run, not to one dialog; F3 adds to it too.
    key(textField(dialog), Qt::Key_Escape);
    ASSERT_EQ(frame->findDialog(), nullptr);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    store->setString(Setting::LastFindString, u"gamma");
    document->clearSelection();
    key(frame->activeView(), Qt::Key_F3);
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->history(), (QStringList{QStringLiteral("gamma"), QStringLiteral("Beta"),
                                              QStringLiteral("beta")}));
}

TEST_F(FindCommandTest, NotFoundShowsTheMessageKeepsTheSelectionAndStoresTheText)
{
    open("one two\nthree\n");
    document->setSelection(1, 1, 0, 2);
    FindDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->searchText(), QStringLiteral("thr")) << "the selection presets the text";
    textField(dialog)->selectAll();
    QTest::keyClicks(textField(dialog), "zebra");
    key(textField(dialog), Qt::Key_Return);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("The text \"zebra\" was not found."));
    EXPECT_EQ(selected(), Match(1, 0, 2));
    EXPECT_EQ(store->string(Setting::LastFindString), u"zebra");
    EXPECT_TRUE(textField(dialog)->hasFocus()) << "focus goes back to the dialog";
}

TEST_F(FindCommandTest, WithoutMatchCaseEveryCapitalFoldsUpToZ)
{
    open("a zoo\nZebra crossing\n");
    FindDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QCheckBox*>(QStringLiteral("matchCase"))->setChecked(false);
    textField(dialog)->selectAll();
    QTest::keyClicks(textField(dialog), "zebra");
    key(textField(dialog), Qt::Key_Return);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    EXPECT_EQ(selected(), Match(1, 0, 4));
}

TEST_F(FindCommandTest, OneDialogAtMostAndEscapeClosesIt)
{
    open("a\n");
    FindDialog* first = openDialog();
    ASSERT_NE(first, nullptr);
    frame->activateWindow();
    EXPECT_EQ(openDialog(), first);
    EXPECT_EQ(frame->findChildren<FindDialog*>().size(), 1);
    key(textField(first), Qt::Key_Escape);
    EXPECT_EQ(frame->findDialog(), nullptr);
}

TEST_F(FindCommandTest, FindNextWithoutAnyTextOpensTheDialog)
{
    open("a\nb\n");
    key(frame->activeView(), Qt::Key_F3);
    EXPECT_NE(frame->findDialog(), nullptr);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FindCommandTest, FindNextFromAClickRightOfALineEndStartsOnTheNextLine)
{
    open("x alpha\nalpha y\nz alpha\n");
    store->setString(Setting::LastFindString, u"alpha");
    QWidget* port = frame->activeView()->viewport();
    const int h = int(frame->activeView()->lineHeight());
    QTest::mouseClick(port, Qt::LeftButton, {}, QPoint(port->width() - 5, h / 2));
    EXPECT_EQ(document->findPosition().col, 7);
    key(frame->activeView(), Qt::Key_F3);
    EXPECT_EQ(selected(), Match(1, 0, 4));
    key(frame->activeView(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(selected(), Match(2, 2, 6));
    key(frame->activeView(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(selected(), Match(2, 2, 6)) << "upwards from the match's start finds it again";
    EXPECT_EQ(frame->searchFlags() & SearchDown, 0u);
    key(frame->activeView(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(selected(), Match(1, 0, 4));
}

TEST_F(FindCommandTest, SelectAllAndCopyKeys)
{
    open("first\nsecond\n");
    QGuiApplication::clipboard()->clear();
    key(frame->activeView(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(frame->action(CommandId::Copy)->isEnabled());
    // The copy is built beside the window's thread; the clipboard fills when it is done.
    const auto copied = [] {
        return QTest::qWaitFor([] {
            return QGuiApplication::clipboard()->text() == QStringLiteral("first\nsecond\n");
        });
    };
    key(frame->activeView(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_TRUE(copied());
    QGuiApplication::clipboard()->clear();
    key(frame->activeView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(copied());
}

// With lines wrapped, a match far into a long line is shown on its own row (a later row of
// that line), with a row above it, and drawn as the current match there.
TEST_F(FindCommandTest, FindShowsAMatchOnALaterRowOfAWrappedLine)
{
    std::string bytes;
    for (int i = 0; i < 100; ++i) {
        bytes += "line " + std::to_string(i) + "\n";
    }
    std::string longLine;
    for (int word = 0; longLine.size() < 4000; ++word) {
        longLine += "filler" + std::to_string(word) + " ";
    }
    const std::size_t at = longLine.size();
    longLine += "NEEDLE and some more";
    bytes += longLine + "\n";
    for (int i = 0; i < 100; ++i) {
        bytes += "after " + std::to_string(i) + "\n";
    }
    open(bytes);
    LogView* view = frame->activeView();
    key(view, Qt::Key_Z, Qt::AltModifier);
    ASSERT_TRUE(view->wrapsLines());
    key(view, Qt::Key_Home, Qt::ControlModifier);
    FindDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    QTest::keyClicks(textField(dialog), "NEEDLE");
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(selected(), Match(100, int(at), int(at) + 5));
    QApplication::processEvents();

    const int row = int(view->lineHeight());
    std::optional<WrapScroller::Row> shown;
    std::size_t index = 0;
    const std::vector<WrapScroller::Row> rows = view->screenRows();
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (rows[k].item == 100 && rows[k].start <= qsizetype(at) && qsizetype(at) < rows[k].end) {
            shown = rows[k];
            index = k;
        }
    }
    ASSERT_TRUE(shown.has_value()) << "the match's row is on screen";
    EXPECT_GT(shown->start, 0) << "a later row of the line";
    EXPECT_EQ(index, 1u) << "with one row above it";
    EXPECT_GE(shown->y, 0);
    EXPECT_LE(shown->y + row, view->viewport()->height());
    // Painted: the selected match stands out of the black background where it lies.
    const QImage image = view->viewport()->grab().toImage();
    const std::u16string line = document->line(100);
    const QStringView part(line.data() + shown->start, shown->end - shown->start);
    const int x = int(view->renderer().prefixWidth(part, qsizetype(at) - shown->start)) + 1;
    EXPECT_NE(QColor(image.pixel(x, shown->y)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(image.pixel(x, shown->y - row)), QColor(0, 0, 0))
        << "the row above is the line's text before it, not selected";
}

namespace {

// The colour most pixels of the rectangle have: a cell's background, whatever its glyph.
QColor dominant(const QImage& image, const QRect& rect)
{
    std::map<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            ++counts[image.pixel(x, y) | 0xFF000000u];
        }
    }
    QRgb best = 0;
    int most = -1;
    for (const auto& [rgb, n] : counts) {
        if (n > most) {
            most = n;
            best = rgb;
        }
    }
    return QColor(best);
}

double apart(const QColor& a, const QColor& b)
{
    return std::hypot(a.red() - b.red(), a.green() - b.green(), a.blue() - b.blue());
}

} // namespace

// The current match is drawn as the selection is (the row's colours swapped), the other
// matches in a tint apart from the row and from the current match: in the log view,
// unwrapped and wrapped, and in the filter pane, unwrapped and wrapped.
TEST_F(FindCommandTest, TheCurrentMatchLooksSelectedAndTheOthersTintedOnKeywordAndPlainLines)
{
    const QColor white(255, 255, 255);
    const QColor red(255, 0, 0);
    const QColor green(0, 255, 0);
    const QColor black(0, 0, 0);
    store->saveKeywords({Keyword(u"ERROR", 0x00FFFFFF, 0x000000FF, false, false, true)});
    open("ERROR beta x beta\nplain beta\n");
    LogView* view = frame->activeView();
    const int height = int(view->lineHeight());
    FindDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    QTest::keyClicks(textField(dialog), "beta");
    key(textField(dialog), Qt::Key_Return);
    ASSERT_EQ(selected(), Match(0, 6, 9));
    key(textField(dialog), Qt::Key_Escape);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    // The cell of characters [col, col + length) of a line at row y of a pane, x from left.
    auto cell = [&](const LogRenderer& renderer, const std::u16string& line, int col, int length,
                    int left, int y) {
        const QStringView text(line.data(), qsizetype(line.size()));
        const int x0 = left + int(renderer.prefixWidth(text, col));
        const int x1 = left + int(renderer.prefixWidth(text, col + length));
        return QRect(x0, y, x1 - x0, height);
    };
    const std::u16string first = document->line(0);
    const std::u16string second = document->line(1);
    for (const bool wrap : {false, true}) {
        SCOPED_TRACE(wrap ? "wrapped" : "unwrapped");
        if (view->wrapsLines() != wrap) {
            key(view, Qt::Key_Z, Qt::AltModifier);
        }
        ASSERT_EQ(view->wrapsLines(), wrap);
        QApplication::processEvents();
        const QImage image = view->viewport()->grab().toImage();
        const LogRenderer& renderer = view->renderer();
        EXPECT_EQ(dominant(image, cell(renderer, first, 6, 4, 0, 0)), white)
            << "the current match inverts the red keyword line";
        const QColor other = dominant(image, cell(renderer, first, 13, 4, 0, 0));
        EXPECT_GE(apart(other, red), 110) << other.name().toStdString();
        EXPECT_GE(apart(other, white), 110) << other.name().toStdString();
        const QColor plain = dominant(image, cell(renderer, second, 6, 4, 0, height));
        EXPECT_GE(apart(plain, black), 110) << plain.name().toStdString();
        EXPECT_GE(apart(plain, green), 110) << plain.name().toStdString();
        EXPECT_EQ(dominant(image, cell(renderer, second, 0, 5, 0, height)), black)
            << "the rest of the line as it was";
    }

    // The filter pane, by the keys a user sets a filter with.
    key(view, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClicks(QApplication::focusWidget(), "e");
    key(QApplication::focusWidget(), Qt::Key_Return);
    FilterView* pane = frame->filterPane()->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->rowCount() == 2; }));
    for (const bool wrap : {false, true}) {
        SCOPED_TRACE(wrap ? "pane wrapped" : "pane unwrapped");
        pane->setWrapLines(wrap);
        pane->verticalScrollBar()->setValue(0);
        QApplication::processEvents();
        const QImage image = pane->viewport()->grab().toImage();
        const LogRenderer& renderer = pane->renderer();
        const int left = pane->gutterWidth();
        const QColor other = dominant(image, cell(renderer, first, 13, 4, left, 0));
        EXPECT_GE(apart(other, red), 110) << other.name().toStdString();
        EXPECT_GE(apart(other, white), 110) << other.name().toStdString();
        const QColor plain = dominant(image, cell(renderer, second, 6, 4, left, height));
        EXPECT_GE(apart(plain, black), 110) << plain.name().toStdString();
        EXPECT_EQ(dominant(image, cell(renderer, second, 0, 5, left, height)), black);
    }
}
