#include "view/EndFollower.h"

#include <QScrollBar>

#include <algorithm>

EndFollower::EndFollower(QScrollBar* bar, int slack, QObject* parent)
    : QObject(parent), m_bar(bar), m_slack(slack)
{
    // A longer range (more lines, a smaller viewport) would leave a follower above the end.
    connect(m_bar, &QAbstractSlider::rangeChanged, this, [this] { keep(); });
    // Emitted before the value is set; the slider position already holds the outcome.
    connect(m_bar, &QAbstractSlider::actionTriggered, this,
            [this](int) { judge(m_bar->sliderPosition()); });
    // A thumb let go where it was taken (no move, so no action) still ends a scroll there.
    connect(m_bar, &QAbstractSlider::sliderReleased, this, [this] { judge(m_bar->value()); });
}

void EndFollower::arrive()
{
    m_following = true;
    keep();
}

void EndFollower::userScrolled()
{
    judge(m_bar->value());
}

void EndFollower::keep()
{
    const int target = m_following ? m_bar->maximum() : std::min(m_position, m_bar->maximum());
    if (m_bar->value() != target) {
        m_bar->setValue(target);
    }
}

void EndFollower::anchor(int position)
{
    m_position = position;
    keep();
}

void EndFollower::judge(int position)
{
    m_following = m_bar->maximum() - position <= m_slack;
    m_position = position;
}
