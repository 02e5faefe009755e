// Go to Time and the caret time pane on the real main frame with the English package, through
// keys: Ctrl+T, the time typed, Enter. The line it lands on is checked against a model that
// scans the lines' times itself (times that go back, lines without one); the view stops
// following and shows the line in its upper third; a time before the first line or after the
// last, and a log without times, leave a note in the status bar.

#include "dialogs/GoToTimeDialog.h"
#include "engine/DocumentTimeIndex.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

#include <ctime>
#include <random>

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

class GoToTimeTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        path = package.dir.file("times.log");
    }

    // Lines whose times mostly climb a second at a time, go back now and then, and some
    // lines without a time; own[i] is line i's own time in seconds.
    std::string timedLines(int count)
    {
        std::mt19937 rng(5);
        std::string bytes;
        std::int64_t now = Base;
        for (int i = 0; i < count; ++i) {
            const int roll = int(rng() % 10);
            if (roll < 2) {
                bytes += "    at frame " + std::to_string(i) + "\n";
                own.push_back(std::nullopt);
                continue;
            }
            now += roll == 2 ? -std::int64_t(rng() % 5) : std::int64_t(rng() % 3);
            bytes += localText(now) + ".000 INFO line " + std::to_string(i) + "\n";
            own.push_back(now);
        }
        return bytes;
    }

    std::optional<LineNumber> modelFirstAtOrAfter(std::int64_t t) const
    {
        std::optional<std::int64_t> latest;
        for (std::size_t i = 0; i < own.size(); ++i) {
            if (own[i] && (!latest || *own[i] > *latest)) {
                latest = own[i];
            }
            if (latest && *latest >= t) {
                return LineNumber(i);
            }
        }
        return std::nullopt;
    }

    void open(const std::string& bytes)
    {
        quilltest::writeFile(path, bytes);
        frame = std::make_unique<MainFrame>(&owner, &sound);
        document = frame->activeDocument();
        owner.document = document;
        owner.frame = frame.get();
        frame->setMessageHandler([](const QString&) {});
        frame->resize(600, 400);
        frame->show();
        view()->initialUpdate();
        ASSERT_TRUE(document->openDocument(u16(path)));
        view()->initialUpdate();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        settle();
        // The index starts once the lines are painted; the test waits for it to be read.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto state = frame->currentTab()->timeIndex()->state();
                return state == DocumentTimeIndex::State::Ready ||
                       state == DocumentTimeIndex::State::NoTimes;
            },
            10000));
        settle();
    }

    LogView* view() const { return frame->activeView(); }

    static void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }

    // Ctrl+T, the text typed into the box, then Enter.
    void goToTime(const std::string& typed)
    {
        QTest::keyClick(view(), Qt::Key_T, Qt::ControlModifier);
        settle();
        auto* box = qobject_cast<GoToTimeDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr) << "Ctrl+T opens the box";
        auto* field = box->findChild<QLineEdit*>(QStringLiteral("time"));
        ASSERT_NE(field, nullptr);
        QTest::keyClicks(field, QString::fromStdString(typed));
        QTest::keyClick(field, Qt::Key_Return);
        settle();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box closed";
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        settle();
    }

    std::optional<LineNumber> shownLine() const
    {
        const DocSelection s = document->selection();
        if (!s.valid || s.startLine != s.endLine || s.startCol != 0 || s.endCol != -1) {
            return std::nullopt;
        }
        return s.startLine;
    }

    QString timePane() const
    {
        auto* pane = frame->statusBar()->findChild<QLabel*>(QStringLiteral("timePane"));
        return pane != nullptr && pane->isVisible() ? pane->text() : QString();
    }

    quilltest::EnglishPackage package;
    NullSound sound;
    ReopeningOwner owner;
    std::unique_ptr<MainFrame> frame;
    LogDocument* document = nullptr;
    std::string path;
    std::vector<std::optional<std::int64_t>> own;
};

} // namespace

TEST_F(GoToTimeTest, CtrlTLandsOnTheFirstLineAtOrAfterTheTimeAndStopsFollowing)
{
    open(timedLines(3000));
    ASSERT_TRUE(view()->isFollowing()) << "a freshly opened log is followed";
    const int rows = int(view()->visibleRowCount());
    std::mt19937 rng(9);
    for (int round = 0; round < 6; ++round) {
        // A time some line holds, or one between two lines' times (seconds apart).
        const std::int64_t t = Base + std::int64_t(rng() % 1500);
        const std::optional<LineNumber> expected = modelFirstAtOrAfter(t);
        if (!expected || *expected < LineNumber(rows)) {
            continue;
        }
        goToTime(localText(t));
        EXPECT_EQ(shownLine(), expected) << localText(t);
        EXPECT_FALSE(view()->isFollowing()) << "following stopped";
        const LineNumber first = view()->firstVisibleLine();
        EXPECT_LE(first, *expected);
        EXPECT_LT(*expected - first, LineNumber(rows / 2)) << "in the upper third";
        EXPECT_GE(*expected - first, LineNumber(rows / 4));
        EXPECT_TRUE(frame->statusBar()->currentMessage().isEmpty());
    }

    goToTime(localText(Base - 3600));
    EXPECT_EQ(shownLine(), 0u) << "before the first time: the first line";
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("before")))
        << frame->statusBar()->currentMessage().toStdString();
    goToTime(localText(Base + 86400));
    EXPECT_EQ(shownLine(), 2999u) << "after the last time: the last line";
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("after")));
}

TEST_F(GoToTimeTest, ThePaneShowsTheCaretLinesTimeAndTheTimeSinceTheMarkAbove)
{
    open(timedLines(3000));
    // A line with a time of its own, then one a little later, with a mark on the first.
    LineNumber marked = 500;
    while (!own[marked]) {
        ++marked;
    }
    goToTime(localText(*own[marked]));
    const LineNumber markLine = *shownLine();
    const std::int64_t markTime = **std::max_element(own.begin(), own.begin() + markLine + 1);
    QTest::keyClick(view(), Qt::Key_F2, Qt::ControlModifier);
    QTest::qWait(150); // the pane reads the caret line's time once a burst of keys is over
    EXPECT_EQ(timePane(), QString::fromStdString(localText(*own[markLine]) + ".000"))
        << "the mark is on the caret line, not above it";

    goToTime(localText(markTime + 100));
    const LineNumber later = *shownLine();
    ASSERT_GT(later, markLine);
    std::optional<std::int64_t> laterTime;
    for (LineNumber i = later + 1; i-- > 0 && !laterTime;) {
        laterTime = own[i];
    }
    const std::int64_t span = *laterTime - *own[markLine];
    const QString expectedSpan =
        span < 60
            ? QStringLiteral("+%1.000s").arg(span)
            : QStringLiteral("+%1m %2.0s").arg(span / 60).arg(span % 60, 2, 10, QLatin1Char('0'));
    const QString expected = QString::fromStdString(localText(*laterTime) + ".000") +
                             QStringLiteral("   mark +") + expectedSpan;
    static_cast<void>(QTest::qWaitFor([&] { return timePane() == expected; }, 5000));
    EXPECT_EQ(timePane(), expected);
}

TEST_F(GoToTimeTest, ALogWithoutTimesSaysSo)
{
    std::string plain;
    for (int i = 0; i < 400; ++i) {
        plain += "no time " + std::to_string(i) + "\n";
    }
    open(plain);
    goToTime(localText(Base));
    EXPECT_EQ(frame->statusBar()->currentMessage(),
              QStringLiteral("This log's lines hold no times."));
    EXPECT_TRUE(view()->isFollowing()) << "nowhere to go: the view stays";
    EXPECT_TRUE(timePane().isEmpty());
}
