// The filter of a merged tab in the real window: the pane lists the merged rows whose lines
// match, in merged order, as the files grow, as a file whose clock runs behind adds older
// lines and as a file starts over; the time range holds each file's lines by its own times;
// a click or Enter in the pane shows that row in the merged area, Copy from the pane takes the
// original lines, and Filter as View shows the rows in place of the area at the same place.
// Keys and clicks go to the widgets, commands through the window's menus.

#include "app/Application.h"
#include "engine/LogDocument.h"
#include "engine/MergedFilterRows.h"
#include "frame/FilterBar.h"
#include "frame/LogTab.h"
#include "frame/MarksList.h"
#include "frame/MergedFilterPane.h"
#include "resources/ResourceIds.h"
#include "support/MergedWindowTest.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/MergedArea.h"
#include "view/MergedFilterView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

using quilltest::stamp;
using quilltest::waitFor;

namespace {

class MergedFilterTest : public quilltest::MergedWindowTest {
  protected:
    void SetUp() override
    {
        MergedWindowTest::SetUp();
        a = dir.file("east.log");
        b = dir.file("west.log");
    }
    // Lines of a file at the seconds given; every fifth second's line says ERR.
    std::string lines(bool east, int from, int to, int step)
    {
        std::string bytes;
        for (int second = from; second < to; second += step) {
            std::string text = stamp(second) + (east ? " east " : " west ") +
                               std::to_string(second) + (second % 5 == 0 ? " ERR" : "");
            written.emplace_back(second, east, text);
            bytes += text + "\n";
        }
        return bytes;
    }
    // The written lines in merged order (east first at equal times) that say ERR, within
    // seconds [from, to].
    std::vector<std::string> expected(int from = -1'000'000, int to = 1'000'000) const
    {
        auto all = written;
        std::stable_sort(all.begin(), all.end(), [](const auto& x, const auto& y) {
            return std::make_pair(std::get<0>(x), !std::get<1>(x)) <
                   std::make_pair(std::get<0>(y), !std::get<1>(y));
        });
        std::vector<std::string> texts;
        for (const auto& [second, east, text] : all) {
            if (text.ends_with(" ERR") && second >= from && second <= to) {
                texts.push_back(text);
            }
        }
        return texts;
    }
    MergedFilterPane* pane() const { return frame->currentTab()->mergedFilter(); }
    std::vector<std::string> shown() const
    {
        std::vector<std::string> texts;
        MergedFilterRowSource& rows = pane()->view()->rows();
        for (std::size_t row = 0; row < rows.rowCount(); ++row) {
            texts.push_back(
                QString::fromStdU16String(std::u16string(rows.rowText(row))).toStdString());
        }
        return texts;
    }
    // Types into the widget with the keyboard, then Enter.
    static void type(QWidget* widget, const QString& text)
    {
        QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(widget, text);
        QTest::keyClick(widget, Qt::Key_Return);
    }

    std::string a;
    std::string b;
    std::vector<std::tuple<int, bool, std::string>> written;
};

TEST_F(MergedFilterTest, PaneFollowsLateLinesRestartsTimeRangeClickCopyAndAsView)
{
    quilltest::writeFile(a, lines(true, 0, 300, 2));
    quilltest::writeFile(b, lines(false, 1, 300, 3));
    // East's lines are keyword lines: the jumps among the filter's rows pass west's by.
    store->saveKeywords({Keyword(u" east ", 0xFFFFFF, 0x0000FF, false, false, true)});
    app = std::make_unique<Application>();
    ASSERT_TRUE(app->initInstance({"--merge", a, b}));
    frame = app->mainFrame();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    ASSERT_NE(pane(), nullptr);
    MergedArea* area = frame->currentTab()->merged()->area();
    ASSERT_TRUE(waitFor([&] { return area->rowCount() == written.size(); }));

    // Filter: the focus goes to the bar's field, where the text is typed.
    pick(CommandId::Filter);
    QWidget* field = QApplication::focusWidget();
    ASSERT_EQ(field, pane()->bar()->fieldBox());
    type(field, QStringLiteral("err"));
    ASSERT_TRUE(waitFor([&] { return shown() == expected(); })) << shown().size();
    EXPECT_TRUE(pane()->view()->isVisible());

    // West's clock is behind: its older lines take their place among east's; then new lines.
    quilltest::appendFile(a, lines(true, 300, 400, 2));
    ASSERT_TRUE(waitFor([&] { return shown() == expected(); })) << shown().size();
    quilltest::appendFile(b, lines(false, 300, 420, 5));
    ASSERT_TRUE(waitFor([&] { return shown() == expected(); })) << shown().size();

    // East starts over with fewer lines: its old rows go, its new ones take their places.
    written.erase(std::remove_if(written.begin(), written.end(),
                                 [](const auto& line) { return std::get<1>(line); }),
                  written.end());
    quilltest::writeFile(a, lines(true, 100, 160, 1));
    ASSERT_TRUE(waitFor([&] { return shown() == expected(); })) << shown().size();

    // A click on a pane row shows that row in the merged area.
    MergedFilterView* rows = pane()->view();
    QApplication::processEvents();
    const int height = rows->rowHeight();
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                      QPoint(rows->gutterWidth() + 5, height * 2 + height / 2));
    const std::size_t clicked = rows->currentRow();
    const std::string text = shown().at(clicked);
    ASSERT_TRUE(waitFor([&] {
        return area->currentRow() < area->rowCount() &&
               QString::fromStdU16String(
                   std::u16string(
                       frame->currentTab()->merged()->rows()->rowText(area->currentRow())))
                       .toStdString() == text;
    }));
    // Enter on the next row does the same.
    QTest::keyClick(rows, Qt::Key_Down);
    QTest::keyClick(rows, Qt::Key_Return);
    EXPECT_EQ(area->currentRow(), pane()->rows()->at(clicked + 1).merged);

    // Copy from the pane: the original lines of every row.
    rows->setFocus();
    pick(CommandId::SelectAll);
    QApplication::clipboard()->clear();
    pick(CommandId::Copy);
    QStringList copied = QApplication::clipboard()->text().split(QChar(u'\n'), Qt::SkipEmptyParts);
    QStringList wanted;
    for (const std::string& line : expected()) {
        wanted.append(QString::fromStdString(line));
    }
    EXPECT_EQ(copied, wanted);

    // Filter as View: the rows stand in place of the area, from the row the area was at.
    area->setFocus();
    QTest::keyClick(area, Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(area, Qt::Key_Down);
    }
    // A mark on a row the filter does not list: the jumps in the rows pass it by.
    while (area->currentRow() + 1 < area->rowCount() &&
           QString::fromStdU16String(
               std::u16string(frame->currentTab()->merged()->rows()->rowText(area->currentRow())))
               .endsWith(QStringLiteral("ERR"))) {
        QTest::keyClick(area, Qt::Key_Down);
    }
    pick(CommandId::ToggleMark);
    const std::size_t at = area->currentRow();
    pick(CommandId::FilterAsView);
    ASSERT_TRUE(pane()->showsAsView());
    EXPECT_FALSE(area->isVisible());
    EXPECT_TRUE(rows->isVisible());
    const std::size_t first = pane()->rows()->lowerBound(at);
    EXPECT_EQ(rows->currentRow(), first);
    // Down a row in the rows, and back to the area: it shows that row's merged row.
    QTest::keyClick(rows, Qt::Key_Down);
    const std::size_t mergedRow = pane()->rows()->at(first + 1).merged;
    // Marks and Find act on the rows: a mark on this row's line, Find down to a later row.
    pick(CommandId::ToggleMark);
    const MergedFilterRows::Row markedRow = pane()->rows()->at(first + 1);
    MergedRowSource* source = frame->currentTab()->merged()->rows();
    EXPECT_TRUE(source->document(markedRow.source).marks().isMarked(markedRow.line));
    const std::string later = shown().at(first + 4);
    SettingsStore::instance().setString(Setting::LastFindString,
                                        QString::fromStdString(later).toStdU16String());
    pick(CommandId::FindNextDown);
    ASSERT_TRUE(rows->selection().valid);
    EXPECT_EQ(rows->selection().startLine, first + 4);
    pick(CommandId::PreviousMark);
    EXPECT_EQ(rows->currentRow(), first + 1);
    pick(CommandId::NextMark);
    EXPECT_EQ(rows->currentRow(), first + 1) << "the only marked row listed";
    // View > Marks meanwhile: Enter on the mark of a row the filter does not list goes to
    // the first listed row after it, among the rows; the area stays hidden.
    QTest::keyClick(rows, Qt::Key_Down);
    pick(CommandId::ViewMarks);
    auto* marks = frame->findChild<MarksList*>();
    ASSERT_NE(marks, nullptr);
    ASSERT_EQ(marks->list()->topLevelItemCount(), 2);
    QTest::keyClick(marks->list(), Qt::Key_Home);
    QTest::keyClick(marks->list(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return frame->findChild<MarksList*>() == nullptr; }));
    EXPECT_EQ(rows->currentRow(), first);
    EXPECT_FALSE(area->isVisible());
    QTest::keyClick(rows, Qt::Key_Down);
    // Next Keyword Line meanwhile: to the next of the rows that is east's, and back.
    const std::vector<std::string> listed = shown();
    std::size_t east = first + 1;
    do {
        ++east;
    } while (east < listed.size() && listed[east].find(" east ") == std::string::npos);
    ASSERT_LT(east, listed.size());
    pick(CommandId::NextKeywordLine);
    EXPECT_EQ(rows->currentRow(), east);
    EXPECT_FALSE(area->isVisible());
    pick(CommandId::PreviousKeywordLine);
    EXPECT_LE(rows->currentRow(), first + 1);
    EXPECT_NE(listed[rows->currentRow()].find(" east "), std::string::npos);
    while (rows->currentRow() < first + 1) {
        QTest::keyClick(rows, Qt::Key_Down);
    }
    pick(CommandId::FilterAsView);
    EXPECT_FALSE(pane()->showsAsView());
    EXPECT_TRUE(area->isVisible());
    EXPECT_EQ(area->currentRow(), mergedRow);

    // The time range: each file's lines by their own times, from the one to the other.
    type(pane()->bar()->fromField(), QString::fromStdString(stamp(120)));
    type(pane()->bar()->toField(), QString::fromStdString(stamp(330)));
    ASSERT_TRUE(waitFor([&] { return shown() == expected(120, 330); })) << shown().size();
    // Lines of east that come after west's end but lie in the range by east's own clock join.
    quilltest::appendFile(a, lines(true, 160, 200, 1));
    ASSERT_TRUE(waitFor([&] { return shown() == expected(120, 330); })) << shown().size();

    // Escape in the field: no filter, the pane's rows go.
    QTest::keyClick(pane()->bar()->field(), Qt::Key_Escape);
    EXPECT_FALSE(pane()->isActive());
    EXPECT_EQ(pane()->view()->rowCount(), 0u);
}

} // namespace
