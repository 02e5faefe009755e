// The log view's scroll bar: what is on screen always matches a fresh rendering of the bar
// at its current value, while value changes that leave the picture as it is cost no
// repaint.

#include "view/LogScrollBar.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int BarHeight = 400;
constexpr int Range = 100'000;

class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

void configure(QScrollBar& bar)
{
    bar.setRange(0, Range);
    bar.setPageStep(1000);
    bar.resize(bar.sizeHint().width(), BarHeight);
}

// The window's backing store: the pixels actually shown, not a fresh rendering.
QImage shown(QWidget& widget)
{
    return QGuiApplication::primaryScreen()->grabWindow(widget.winId()).toImage();
}

class LogScrollBarTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        configure(bar);
        bar.installEventFilter(&counter);
        bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
        settle();
        counter.paints = 0;
    }
    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
        }
    }
    // The bar rendered afresh at its current state, bypassing what the screen holds.
    QImage expected() { return bar.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    LogScrollBar bar{Qt::Vertical};
    PaintCounter counter;
};

} // namespace

TEST_F(LogScrollBarTest, SmallStepsThatKeepTheHandleInPlaceAreNotRepainted)
{
    bar.setValue(Range / 2);
    settle();
    const int paintsAfterMove = counter.paints;
    EXPECT_GE(paintsAfterMove, 1);
    bar.setValue(Range / 2 + 1);
    settle();
    EXPECT_EQ(counter.paints, paintsAfterMove);
    const QImage screen = shown(bar).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(screen, expected());
}

TEST_F(LogScrollBarTest, ScreenMatchesTheValueThroughoutAWalkToTheEnd)
{
    // Small steps that add up to handle moves, then the last steps onto the maximum, whose
    // end state a style may draw differently even when the handle does not move.
    std::vector<int> values;
    for (int value = 0; value <= Range / 20; value += 37) {
        values.push_back(value);
    }
    for (int value = Range - 90; value <= Range; value += 30) {
        values.push_back(value);
    }
    values.push_back(Range - 1);
    values.push_back(1);
    values.push_back(0);
    int repaints = 0;
    for (const int value : values) {
        SCOPED_TRACE(value);
        const int before = counter.paints;
        bar.setValue(value);
        settle();
        repaints += counter.paints - before;
        const QImage screen = shown(bar).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(screen, expected());
    }
    // Repaints happened only for a minority of the steps.
    EXPECT_LT(repaints, int(values.size()) / 2);
}

TEST_F(LogScrollBarTest, ARangeChangeRepaintsEvenWithTheValueKept)
{
    bar.setValue(Range / 2);
    settle();
    const int before = counter.paints;
    bar.setRange(0, Range * 2);
    settle();
    EXPECT_GT(counter.paints, before);
    const QImage screen = shown(bar).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(screen, expected());
}
