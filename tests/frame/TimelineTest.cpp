// View > Timeline on the real main frame with the English package: a log of a line a second
// with a keyword on every seventh line. The bars' counts against a model of the lines'
// times, a click on a bar going to its step's first line, the wheel's steps, the tooltip,
// and the bars growing as lines are appended while the log is followed.

#include "engine/DocumentTimeIndex.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "resources/ResourceIds.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"
#include "view/TimelineView.h"

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <ctime>

using quilltest::NullSound;
using quilltest::ReopeningOwner;
using quilltest::u16;

namespace {

constexpr std::int64_t Base = 1'796'000'000; // December 2026

std::string localText(std::int64_t seconds)
{
    const std::time_t t = seconds;
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// Line i holds second Base + i; every seventh line is an ERROR.
std::string lines(int from, int to)
{
    std::string bytes;
    for (int i = from; i < to; ++i) {
        bytes += localText(Base + i) + (i % 7 == 0 ? ".000 ERROR line " : ".000 INFO line ") +
                 std::to_string(i) + "\n";
    }
    return bytes;
}

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

std::uint64_t totalLines(const TimelineView& timeline)
{
    std::uint64_t total = 0;
    for (const TimelineCounts::Step& s : timeline.steps()) {
        total += s.lines;
    }
    return total;
}

std::uint64_t keywordTotal(const TimelineView& timeline)
{
    std::uint64_t total = 0;
    for (const TimelineCounts::Step& s : timeline.steps()) {
        total += s.keywordLines.empty() ? 0 : s.keywordLines[0];
    }
    return total;
}

TEST(TimelineTest, BarsCountTheLogAndTakeClicksWheelAndNewLines)
{
    quilltest::EnglishPackage package;
    ASSERT_TRUE(package.loaded);
    package.store->saveKeywords({Keyword(u"ERROR", 0x0000FF, 0xFFFFFF, true, false, true)});
    const std::string path = package.dir.file("times.log");
    constexpr int Count = 3000;
    quilltest::writeFile(path, lines(0, Count));
    NullSound sound;
    ReopeningOwner owner;
    auto frame = std::make_unique<MainFrame>(&owner, &sound);
    LogDocument* document = frame->activeDocument();
    owner.document = document;
    owner.frame = frame.get();
    frame->setMessageHandler([](const QString&) {});
    frame->resize(700, 500);
    frame->show();
    frame->activeView()->initialUpdate();
    ASSERT_TRUE(document->openDocument(u16(path)));
    frame->activeView()->initialUpdate();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    settle();

    LogTab* tab = frame->currentTab();
    TimelineView* timeline = tab->timeline();
    ASSERT_FALSE(timeline->isVisible()) << "hidden until asked for";
    QAction* toggle = frame->action(CommandId::Timeline);
    ASSERT_NE(toggle, nullptr);
    toggle->trigger();
    settle();
    ASSERT_TRUE(timeline->isVisible());
    ASSERT_TRUE(toggle->isChecked());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return totalLines(*timeline) == Count && keywordTotal(*timeline) == 429; }, 10000))
        << totalLines(*timeline) << " lines, " << keywordTotal(*timeline) << " keyword lines";

    // A group of 128 lines counts at its last line's time (the times climb).
    const TimeMs step = timeline->step();
    const auto modelFirstLine = [&](TimeMs start) {
        for (LineNumber g = 0;; ++g) {
            const std::int64_t last = std::min<std::int64_t>(g * 128 + 127, Count - 1);
            if ((Base + last) * 1000 >= start) {
                return g * 128;
            }
        }
    };
    const std::vector<TimelineCounts::Step> steps = timeline->steps();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_LE(std::int64_t(steps.size()) * TimelineView::MinBarWidth, timeline->width());
    EXPECT_LT(step, TimelineCounts::Ladder.back()) << "fit to the width, not the coarsest";
    for (const std::size_t i : {std::size_t(0), steps.size() / 2, steps.size() - 1}) {
        EXPECT_EQ(steps[i].firstLine, modelFirstLine(steps[i].start)) << i;
        const QRect bar = timeline->barRect(i);
        QTest::mouseClick(timeline, Qt::LeftButton, {}, bar.center());
        settle();
        const DocSelection s = document->selection();
        EXPECT_TRUE(s.valid && s.startLine == steps[i].firstLine && s.endLine == s.startLine)
            << "the click shows the step's first line, bar " << i;
        EXPECT_LE(frame->activeView()->firstVisibleLine(), steps[i].firstLine);
    }

    // The tooltip of the middle bar: its counts.
    const std::size_t middle = steps.size() / 2;
    const QPoint at = timeline->barRect(middle).center();
    QHelpEvent help(QEvent::ToolTip, at, timeline->mapToGlobal(at));
    QApplication::sendEvent(timeline, &help);
    const QString tip = QToolTip::text();
    EXPECT_TRUE(tip.contains(QStringLiteral(": %1 lines").arg(steps[middle].lines)))
        << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("ERROR: %1 lines").arg(steps[middle].keywordLines[0])))
        << tip.toStdString();

    // Wheel: up a notch, a finer rung (as long as a bar keeps a pixel); down two, coarser.
    const auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(at), QPointF(timeline->mapToGlobal(at)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(timeline, &event);
        settle();
    };
    const auto rung = [&] {
        return std::find(TimelineCounts::Ladder.begin(), TimelineCounts::Ladder.end(),
                         timeline->step()) -
               TimelineCounts::Ladder.begin();
    };
    const auto before = rung();
    wheel(-240);
    EXPECT_EQ(rung(), before + 2);
    EXPECT_EQ(totalLines(*timeline), std::uint64_t(Count)) << "every line in some step";
    wheel(120);
    EXPECT_EQ(rung(), before + 1);
    for (int i = 0; i < 12; ++i) {
        wheel(120);
    }
    // The finest step whose bars keep a pixel each.
    const auto slotsOf = [&](TimeMs stepMs, std::int64_t lineCount) {
        return (Base + lineCount - 1) * 1000 / stepMs - Base * 1000 / stepMs + 1;
    };
    const std::int64_t columns = timeline->width();
    ASSERT_GT(rung(), 0);
    EXPECT_LE(slotsOf(timeline->step(), Count), columns);
    EXPECT_GT(slotsOf(TimelineCounts::Ladder[std::size_t(rung() - 1)], Count), columns);

    // Lines appended while following: the bars take them in.
    quilltest::appendFile(path, lines(Count, Count + 700));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return totalLines(*timeline) == Count + 700 &&
                   keywordTotal(*timeline) == (Count + 700 + 6) / 7;
        },
        10000))
        << totalLines(*timeline) << " lines, " << keywordTotal(*timeline) << " keyword lines";

    // Clear starts the counts over: the lines that come after are all there is.
    frame->action(CommandId::Clear)->trigger();
    settle();
    quilltest::appendFile(path, lines(Count + 700, Count + 770));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return totalLines(*timeline) == 70 && keywordTotal(*timeline) == 10; }, 10000))
        << totalLines(*timeline) << " lines, " << keywordTotal(*timeline) << " keyword lines";

    // Other keywords, as the settings sheet leaves them: the bars count the new list's lines.
    package.store->saveKeywords({Keyword(u"INFO", 0x0000FF, 0xFFFFFF, true, false, true)});
    document->reloadKeywords();
    tab->updateAllViews();
    EXPECT_TRUE(QTest::qWaitFor([&] { return keywordTotal(*timeline) == 60; }, 10000))
        << keywordTotal(*timeline) << " keyword lines";
    EXPECT_FALSE(tab->timeIndex()->groupCounts().keywords.empty());

    // With the overview strip, whose keyword search counts as well: the index stops counting
    // and the bars keep their keyword lines, also for lines appended since.
    frame->action(CommandId::OverviewStrip)->trigger();
    settle();
    quilltest::appendFile(path, lines(Count + 770, Count + 840));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return totalLines(*timeline) == 140 && keywordTotal(*timeline) == 120; }, 10000))
        << totalLines(*timeline) << " lines, " << keywordTotal(*timeline) << " keyword lines";
    EXPECT_TRUE(tab->timeIndex()->groupCounts().keywords.empty()) << "no line searched twice";
    frame->action(CommandId::OverviewStrip)->trigger();
    settle();

    toggle->trigger();
    settle();
    EXPECT_FALSE(timeline->isVisible());
}

// The steps whose lines the log view shows are marked behind their bars, and the mark moves
// as the view does: five sparse groups (a line a minute) before fifty dense ones (fifty lines
// a second), so that a sparse step's bar leaves the top of its column to the mark.
TEST(TimelineTest, TheStepsOnScreenAreMarkedAndTheMarkFollowsTheView)
{
    quilltest::EnglishPackage package;
    ASSERT_TRUE(package.loaded);
    const std::string path = package.dir.file("marked.log");
    std::string bytes;
    for (int i = 0; i < 640; ++i) {
        bytes += localText(Base + 60 * i) + ".000 INFO sparse " + std::to_string(i) + "\n";
    }
    for (int i = 0; i < 6400; ++i) {
        bytes +=
            localText(Base + 60 * 640 + i / 50) + ".000 INFO dense " + std::to_string(i) + "\n";
    }
    quilltest::writeFile(path, bytes);
    NullSound sound;
    ReopeningOwner owner;
    auto frame = std::make_unique<MainFrame>(&owner, &sound);
    LogDocument* document = frame->activeDocument();
    owner.document = document;
    owner.frame = frame.get();
    frame->setMessageHandler([](const QString&) {});
    frame->resize(700, 500);
    frame->show();
    frame->activeView()->initialUpdate();
    ASSERT_TRUE(document->openDocument(u16(path)));
    frame->activeView()->initialUpdate();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->action(CommandId::Timeline)->trigger();
    TimelineView* timeline = frame->currentTab()->timeline();
    ASSERT_TRUE(QTest::qWaitFor([&] { return totalLines(*timeline) == 7040; }, 10000));
    const std::vector<TimelineCounts::Step> steps = timeline->steps();
    // The sparse groups' steps: a group each.
    std::vector<std::size_t> sparse;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].endLine <= 640) {
            sparse.push_back(i);
        }
    }
    ASSERT_GE(sparse.size(), 4u) << "the last may share its step with the dense ones";
    const auto marked = [&](std::size_t i) {
        settle();
        const QImage image = timeline->grab().toImage();
        const QRect bar = timeline->barRect(i);
        return image.pixelColor(bar.center().x(), bar.top() + 1) !=
               timeline->palette().color(QPalette::Base);
    };
    const auto press = [&](int key) {
        QTest::keyClick(frame->activeView(), Qt::Key(key), Qt::ControlModifier);
        QTest::qWait(350); // past the timeline's refresh
    };
    // Followed: the dense end is on screen, no sparse step is.
    for (const std::size_t i : sparse) {
        EXPECT_FALSE(marked(i)) << "sparse step " << i << " at the end";
    }
    press(Qt::Key_Home);
    ASSERT_EQ(frame->activeView()->firstVisibleLine(), 0u);
    EXPECT_TRUE(marked(sparse[0])) << "the first group's step at the top";
    for (std::size_t k = 1; k < sparse.size(); ++k) {
        EXPECT_FALSE(marked(sparse[k])) << "sparse step " << sparse[k] << " off screen";
    }
    // A click on the third sparse bar: its group is shown and marked, the first is not.
    QTest::mouseClick(timeline, Qt::LeftButton, {}, timeline->barRect(sparse[2]).center());
    QTest::qWait(350);
    EXPECT_TRUE(marked(sparse[2]));
    EXPECT_FALSE(marked(sparse[0]));
    press(Qt::Key_End);
    for (const std::size_t i : sparse) {
        EXPECT_FALSE(marked(i)) << "sparse step " << i << " at the end again";
    }
}

} // namespace
