// The overview strip, the keyword-line jumps and the timeline of a tab of files merged by
// time, in the real window the application opens, driven by its keys and by clicks on the
// widgets under the point: the strip's keyword colour sits where the keyword rows are and a
// click there goes to them, Alt+Down and Alt+Up go from one keyword row to the next over
// both files, and the timeline adds up both files per step, goes to a step's first merged
// row on a click and grows as the files do.

#include "view/MergedTimeline.h"
#include "app/Application.h"
#include "dialogs/FindDialog.h"
#include "engine/TimelineCounts.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedNavigation.h"
#include "frame/MergedPart.h"
#include "resources/ResourceIds.h"
#include "support/MergedWindowTest.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/LogRenderer.h"
#include "view/LogView.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"
#include "view/MergedStrip.h"

#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

using quilltest::waitFor;

namespace {

constexpr std::time_t Base = 1'796'000'000;
constexpr ColorRef ErrorBack = 0x0000FF; // red (0x00BBGGRR)

// A line of east or west at `second` after Base; every 50th of east's holds ERROR.
std::string logLine(bool east, int second)
{
    const bool error = east && second % 100 == 50;
    return quilltest::stamp(second) + (east ? " east " : " west ") + std::to_string(second) +
           (error ? " ERROR" : "");
}

struct Written {
    int second;
    bool east;
    std::string text;
};

class MergedTimelineTest : public quilltest::MergedWindowTest {
  protected:
    void SetUp() override
    {
        MergedWindowTest::SetUp();
        store->saveKeywords({Keyword(u"ERROR", 0xFFFFFF, ErrorBack, false, false, true)});
        a = dir.file("east.log");
        b = dir.file("west.log");
    }
    std::string lines(bool east, int from, int to, int step)
    {
        std::string bytes;
        for (int second = from; second < to; second += step) {
            written.push_back({second, east, logLine(east, second)});
            bytes += written.back().text + "\n";
        }
        return bytes;
    }
    // The texts in the order of their times, east first at equal times.
    std::vector<std::string> expected() const
    {
        std::vector<Written> all = written;
        std::stable_sort(all.begin(), all.end(), [](const Written& x, const Written& y) {
            return std::pair(x.second, x.east ? 0 : 1) < std::pair(y.second, y.east ? 0 : 1);
        });
        std::vector<std::string> texts;
        for (const Written& line : all) {
            texts.push_back(line.text);
        }
        return texts;
    }
    std::string rowText(std::size_t row) const
    {
        return QString::fromStdU16String(std::u16string(part()->rows()->rowText(row)))
            .toStdString();
    }
    MergedPart* part() const { return merged(); }
    static std::uint64_t totalLines(const TimelineView& timeline)
    {
        std::uint64_t lines = 0;
        for (const TimelineCounts::Step& step : timeline.steps()) {
            lines += step.lines;
        }
        return lines;
    }
    // Clicks at a point of widget, through the window's widget under that point.
    void clickThroughWindow(QWidget* widget, QPoint at)
    {
        QWidget* under = frame->childAt(frame->mapFromGlobal(widget->mapToGlobal(at)));
        ASSERT_EQ(under, widget);
        QTest::mouseClick(under, Qt::LeftButton, {}, at);
    }

    std::string a;
    std::string b;
    std::vector<Written> written;
};

TEST_F(MergedTimelineTest, StripJumpsAndTimelineOverBothFiles)
{
    quilltest::writeFile(a, lines(true, 0, 1600, 2));
    // West ends earlier: the timeline spans both files' times.
    quilltest::writeFile(b, lines(false, 1, 1000, 3));
    app = std::make_unique<Application>();
    ASSERT_TRUE(app->initInstance({"--merge", a, b}));
    frame = app->mainFrame();
    frame->resize(900, 700);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    ASSERT_NE(part(), nullptr);
    MergedArea* area = part()->area();
    const auto rowsMatch = [&] {
        const std::vector<std::string> want = expected();
        if (area->rowCount() != want.size()) {
            return false;
        }
        for (std::size_t row = 0; row < want.size(); ++row) {
            if (rowText(row) != want[row]) {
                return false;
            }
        }
        return true;
    };
    ASSERT_TRUE(waitFor(rowsMatch)) << area->rowCount();
    std::vector<std::size_t> errorRows;
    for (std::size_t row = 0; row < expected().size(); ++row) {
        if (expected()[row].find("ERROR") != std::string::npos) {
            errorRows.push_back(row);
        }
    }
    ASSERT_EQ(errorRows.size(), 16u);

    // The timeline first, its keyword lines counted by the files' time indexes: both files'
    // lines, step by step.
    const std::size_t count = area->rowCount();
    pick(CommandId::Timeline);
    auto* timeline = part()->navigation()->timeline();
    const auto errorsCounted = [&] {
        std::uint64_t counted = 0;
        for (const TimelineCounts::Step& s : timeline->steps()) {
            counted += s.keywordLines.empty() ? 0 : s.keywordLines[0];
        }
        return counted;
    };
    ASSERT_TRUE(waitFor([&] {
        return timeline->isVisible() && totalLines(*timeline) == count &&
               errorsCounted() == errorRows.size();
    })) << totalLines(*timeline)
        << ", " << errorsCounted();
    // A group of 128 of a file's lines counts at its last line's time (the times climb).
    const TimeMs step = timeline->step();
    const auto modelFirstRow = [&](TimeMs start) {
        std::size_t first = SIZE_MAX;
        for (const bool east : {true, false}) {
            std::vector<const Written*> own;
            for (const Written& line : written) {
                if (line.east == east) {
                    own.push_back(&line);
                }
            }
            for (std::size_t g = 0; g * 128 < own.size(); ++g) {
                const Written& last = *own[std::min(own.size() - 1, g * 128 + 127)];
                const TimeMs t = (Base + last.second) * 1000;
                if (t - t % step == start) {
                    const auto want = expected();
                    first = std::min(
                        first, std::size_t(std::find(want.begin(), want.end(), own[g * 128]->text) -
                                           want.begin()));
                }
            }
        }
        return first;
    };
    const std::vector<TimelineCounts::Step> steps = timeline->steps();
    ASSERT_GE(steps.size(), 3u);
    for (const std::size_t i : {std::size_t(0), steps.size() / 2, steps.size() - 1}) {
        EXPECT_EQ(steps[i].firstLine, modelFirstRow(steps[i].start)) << i;
        clickThroughWindow(timeline, timeline->barRect(i).center());
        EXPECT_EQ(area->currentRow(), steps[i].firstLine) << "bar " << i;
        // The step shown is marked above its bar; the first or the last, far off, is not.
        QApplication::processEvents();
        const QImage shot = timeline->grab().toImage();
        const QColor base = timeline->palette().color(QPalette::Base);
        const std::size_t far = i == 0 ? steps.size() - 1 : 0;
        EXPECT_NE(shot.pixelColor(timeline->barRect(i).center().x(), 0), base) << "bar " << i;
        EXPECT_EQ(shot.pixelColor(timeline->barRect(far).center().x(), 0), base) << "bar " << far;
    }
    const std::size_t middle = steps.size() / 2;
    const QPoint tipAt = timeline->barRect(middle).center();
    QHelpEvent help(QEvent::ToolTip, tipAt, timeline->mapToGlobal(tipAt));
    QApplication::sendEvent(timeline, &help);
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral(": %1 lines").arg(steps[middle].lines)))
        << QToolTip::text().toStdString();

    // Alt+Down from the top: the keyword rows one after another; Alt+Up back.
    area->setFocus();
    QTest::keyClick(area, Qt::Key_Home, Qt::ControlModifier);
    for (std::size_t i = 0; i < 3; ++i) {
        QTest::keyClick(area, Qt::Key_Down, Qt::AltModifier);
        ASSERT_TRUE(waitFor([&] { return area->currentRow() == errorRows[i]; }))
            << i << ": " << area->currentRow();
    }
    QTest::keyClick(area, Qt::Key_Up, Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return area->currentRow() == errorRows[1]; }));
    QTest::keyClick(area, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(area, Qt::Key_Up, Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return area->currentRow() == errorRows.back(); }));

    // The strip: the keyword's colour where its rows are; a click there goes to such a row.
    pick(CommandId::OverviewStrip);
    MergedStrip* strip = part()->navigation()->strip();
    ASSERT_TRUE(waitFor([&] { return strip->isVisible() && strip->width() > 0; }));
    const QColor red = quill::colorFromRef(ErrorBack);
    std::vector<int> redRows;
    ASSERT_TRUE(waitFor([&] {
        redRows.clear();
        const QImage shot = strip->grab().toImage();
        for (int y = 0; y < shot.height(); ++y) {
            if (shot.pixelColor(shot.width() / 2, y) == red) {
                redRows.push_back(y);
            }
        }
        return redRows.size() == errorRows.size();
    })) << redRows.size();
    const QRect track = strip->track();
    // A strip row stands for this many rows at most (a click goes to the first of them, the
    // keyword row may be any).
    const std::size_t span = count / std::size_t(track.height()) + 1;
    for (const int y : {redRows.front(), redRows.back()}) {
        clickThroughWindow(strip, QPoint(strip->width() / 2, y));
        const std::size_t at = area->currentRow();
        const std::size_t wanted = y == redRows.front() ? errorRows.front() : errorRows.back();
        EXPECT_TRUE(wanted + span > at && wanted < at + span)
            << "strip row " << y << " went to row " << at << " for " << strip->lineAt(y, count)
            << " of " << count << " track " << track.top() << "+" << track.height() << " span "
            << span << " last error row " << errorRows.back();
    }
    // The rows on screen marked along the strip's left edge.
    const QImage shot = strip->grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, strip->rowOf(area->firstVisibleRow(), count)),
              strip->palette().color(QPalette::Highlight));
    // No keyword colour far from every keyword row.
    for (int y = track.top(); y < track.bottom(); ++y) {
        const std::size_t at = strip->lineAt(y, count);
        const bool near = std::any_of(errorRows.begin(), errorRows.end(), [&](std::size_t row) {
            return row + span >= at && row <= at + span;
        });
        if (!near) {
            EXPECT_EQ(std::count(redRows.begin(), redRows.end(), y), 0) << y;
        }
    }

    // Find's text: its rows in the strip's right third, in the current match's colour.
    const std::vector<std::string> ordered = expected();
    const std::size_t foundRow = std::size_t(
        std::find(ordered.begin(), ordered.end(), logLine(false, 700)) - ordered.begin());
    ASSERT_LT(foundRow, count);
    QTest::keyClick(area, Qt::Key_F, Qt::ControlModifier);
    ASSERT_NE(frame->findDialog(), nullptr);
    QTest::keyClicks(
        frame->findDialog()->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit(),
        "west 700");
    const QColor match = LogView::currentMatchHighlightColor().toRgb();
    const QColor found(match.red(), match.green(), match.blue());
    const auto rightColour = [&](std::size_t row) {
        const QImage image = strip->grab().toImage();
        return image.pixelColor(image.width() - 1, strip->rowOf(row, count));
    };
    ASSERT_TRUE(waitFor([&] { return rightColour(foundRow) == found; }));
    EXPECT_NE(rightColour(0), found);
    EXPECT_NE(rightColour(count - 1), found);
    frame->findDialog()->close();
    // The commands' shortcuts go to the active window.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    area->setFocus();

    // It grows as both files do, its keyword lines now counted by the files' keyword
    // searches, which the jumps and the strip started.
    quilltest::appendFile(a, lines(true, 1600, 2000, 2));
    quilltest::appendFile(b, lines(false, 1000, 2000, 3));
    ASSERT_TRUE(waitFor(rowsMatch));
    ASSERT_TRUE(waitFor([&] {
        return totalLines(*timeline) == written.size() && errorsCounted() == 20;
    })) << totalLines(*timeline)
        << " of " << written.size() << ", " << errorsCounted();

    // A keyword line that no line feed ends yet, in the middle of the rows (west goes on
    // later): the searches leave it for later, the jumps take it all the same.
    quilltest::appendFile(a, logLine(true, 2050));
    written.push_back({2050, true, logLine(true, 2050)});
    quilltest::appendFile(b, lines(false, 2000, 2300, 3));
    ASSERT_TRUE(waitFor(rowsMatch)) << area->rowCount() << " rows of " << expected().size()
                                    << ", the last " << rowText(area->rowCount() - 1);
    const std::vector<std::string> now = expected();
    const std::size_t open =
        std::size_t(std::find(now.begin(), now.end(), logLine(true, 2050)) - now.begin());
    ASSERT_LT(open + 1, area->rowCount());
    QTest::keyClick(area, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(area, Qt::Key_Up, Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return area->currentRow() == open; })) << area->currentRow();
    QTest::keyClick(area, Qt::Key_Up, Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return area->currentRow() < open; }));
    const std::size_t before = area->currentRow();
    EXPECT_NE(rowText(before).find("ERROR"), std::string::npos) << rowText(before);
    QTest::keyClick(area, Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return area->currentRow() == open; })) << area->currentRow();
    // An open last line without the keyword is no keyword row: nothing below the open one.
    quilltest::appendFile(b, logLine(false, 2400));
    written.push_back({2400, false, logLine(false, 2400)});
    ASSERT_TRUE(waitFor(rowsMatch)) << area->rowCount();
    QTest::keyClick(area, Qt::Key_Down, Qt::AltModifier);
    QTest::qWait(300);
    EXPECT_EQ(area->currentRow(), open);
}

} // namespace
