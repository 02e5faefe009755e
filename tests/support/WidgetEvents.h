#pragma once

// Widget-test helpers: mouse clicks through the real event path, and answering a modal
// dialog once its loop runs. Header-only; GUI tests only.

#include <QApplication>
#include <QCheckBox>
#include <QStyle>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace quilltest {

// Runs the event loop until condition() holds or limit passes, and says whether it held: a
// safety net for what arrives through the loop, not a timing check.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// Runs fn once a modal widget of type T is the active modal widget (polled from the event
// loop, so it works for dialogs opened by the click that follows).
template <typename T> void whenModal(std::function<void(T*)> fn)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [fn, poll] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            fn(dialog);
        } else {
            QTimer::singleShot(5, *poll);
        }
    };
    QTimer::singleShot(0, *poll);
}

inline void click(QWidget* widget, QPoint at = {})
{
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
}

// Clicks a check box on its indicator (its centre may be empty space beside the label).
inline void clickCheckBox(QCheckBox* box)
{
    ASSERT_NE(box, nullptr);
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator =
        box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    click(box, indicator.center());
}

// Where the style draws a scroll bar's thumb and its groove, for presses and drags on it.
inline QRect scrollBarPart(QScrollBar* bar, QStyle::SubControl part)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    if (bar->orientation() == Qt::Horizontal) {
        option.state |= QStyle::State_Horizontal;
    }
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar);
}

} // namespace quilltest
