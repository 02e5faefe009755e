#include "view/LogScrollBar.h"

#include <QPaintEvent>
#include <QStyle>
#include <QStyleOptionSlider>

LogScrollBar::LogScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
{
}

LogScrollBar::Look LogScrollBar::currentLook() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                    this),
            value() == minimum(), value() == maximum()};
}

void LogScrollBar::sliderChange(SliderChange change)
{
    // Transient bars (the styles that fade them in on scrolling) must see every change.
    if (change == SliderValueChange && m_painted && isVisible() &&
        !style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this) &&
        currentLook() == *m_painted) {
        return;
    }
    QScrollBar::sliderChange(change);
}

void LogScrollBar::paintEvent(QPaintEvent* event)
{
    QScrollBar::paintEvent(event);
    const Look look = currentLook();
    if (event->region().contains(rect())) {
        m_painted = look;
    } else if (m_painted && look != *m_painted) {
        // Part of the bar shows a newer look than the rest; only a full paint mends that.
        m_painted.reset();
    }
}
