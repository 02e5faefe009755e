#include "view/TimelineView.h"

#include "engine/DocumentTimeIndex.h"
#include "engine/KeywordLines.h"
#include "engine/LogDocument.h"
#include "engine/TimeIndex.h"
#include "resources/LanguageResources.h"
#include "view/LogRenderer.h"
#include "view/LogView.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <ctime>

static_assert(KeywordLines::CountGroupLines == TimeIndex::GroupLines,
              "the keyword counts and the times must group lines alike");

namespace {

QString localTime(TimeMs time)
{
    const std::time_t seconds = std::time_t(time >= 0 ? time / 1000 : (time - 999) / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return QLatin1String(text);
}

} // namespace

TimelineView::TimelineView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("timeline"));
    // Its paint covers it whole: a redraw while following need not paint the tab and the
    // window behind it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TimelineView::sizeHint() const
{
    return {400, fontMetrics().height() * 3};
}

void TimelineView::setSources(const DocumentTimeIndex* times, LogView* view)
{
    m_times = times;
    m_view = view;
    if (m_view != nullptr) {
        // The marked part follows the log view's scrolling.
        connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this,
                qOverload<>(&QWidget::update));
    }
    refresh();
}

void TimelineView::refresh()
{
    m_input = TimelineCounts::Input{};
    m_input.groupLines = TimeIndex::GroupLines;
    m_colors.clear();
    m_keywords.clear();
    if (m_times != nullptr) {
        m_input.groupLatest = m_times->groupLatest();
        m_input.lines = std::min<LineNumber>(
            m_times->indexedLines(), LineNumber(m_input.groupLatest.size()) * m_input.groupLines);
    }
    if (m_times != nullptr) {
        DocumentTimeIndex::GroupCounts counts = m_times->groupCounts();
        if (counts.keywords.empty() && m_view != nullptr && m_view->keywordLines() != nullptr) {
            // The view's keyword search (for its strip or jumps) counts instead of the index.
            KeywordLines::GroupCounts searched = m_view->keywordLines()->groupCounts();
            counts.counts = std::move(searched.counts);
            counts.keywords = std::move(searched.keywords);
        }
        m_input.keywordCounts = std::move(counts.counts);
        m_input.keywords = counts.keywords.size();
        for (const Keyword& keyword : counts.keywords) {
            m_colors.push_back(quill::colorFromRef(keyword.backgroundColor));
            m_keywords.push_back(QString::fromStdU16String(keyword.text));
        }
    }
    rebuild();
}

bool TimelineView::timeSpan(TimeMs& first, TimeMs& last) const
{
    const auto found = std::find_if(m_input.groupLatest.begin(), m_input.groupLatest.end(),
                                    [](TimeMs t) { return t != TimeIndex::NoTime; });
    if (found == m_input.groupLatest.end()) {
        return false;
    }
    first = *found;
    last = m_input.groupLatest.back();
    return true;
}

std::int64_t TimelineView::slotsAt(std::size_t index) const
{
    TimeMs first = 0;
    TimeMs last = 0;
    if (!timeSpan(first, last)) {
        return 0;
    }
    const TimeMs step = TimelineCounts::Ladder[index];
    return (TimelineCounts::stepStart(last, step) - TimelineCounts::stepStart(first, step)) / step +
           1;
}

void TimelineView::rebuild()
{
    const std::int64_t columns = std::max(1, width());
    TimeMs first = 0;
    TimeMs last = 0;
    if (!m_stepChosen && timeSpan(first, last)) {
        const TimeMs fitted = TimelineCounts::fitStep(first, last, columns / MinBarWidth);
        m_stepIndex = std::size_t(
            std::find(TimelineCounts::Ladder.begin(), TimelineCounts::Ladder.end(), fitted) -
            TimelineCounts::Ladder.begin());
    }
    // The wheel's step stays while a bar keeps a pixel at least.
    while (m_stepIndex + 1 < TimelineCounts::Ladder.size() && slotsAt(m_stepIndex) > columns) {
        ++m_stepIndex;
    }
    m_steps = buildSteps(step());
    m_tallest = 0;
    for (const TimelineCounts::Step& s : m_steps) {
        m_tallest = std::max(m_tallest, s.lines);
    }
    update();
}

std::vector<TimelineCounts::Step> TimelineView::buildSteps(TimeMs step) const
{
    return TimelineCounts::build(m_input, step);
}

bool TimelineView::shownLines(LineNumber& top, LineNumber& bottom) const
{
    if (m_view == nullptr || m_view->document() == nullptr) {
        return false;
    }
    top = m_view->firstVisibleLine();
    bottom = top + std::max<std::uint32_t>(1, m_view->visibleRowCount());
    return true;
}

double TimelineView::barWidth() const
{
    const std::int64_t count = slotsAt(m_stepIndex);
    return count > 0 ? double(width()) / double(count) : 0.0;
}

QRect TimelineView::barRect(std::size_t i) const
{
    if (i >= m_steps.size()) {
        return {};
    }
    const double w = barWidth();
    const std::int64_t slot = (m_steps[i].start - m_steps.front().start) / step();
    const int left = int(double(slot) * w);
    const int right = std::max(left + 1, int(double(slot + 1) * w));
    return {left, 0, right - left, height()};
}

int TimelineView::stepAt(int x) const
{
    const double w = barWidth();
    if (m_steps.empty() || w <= 0.0 || x < 0) {
        return -1;
    }
    const TimeMs start = m_steps.front().start + TimeMs(double(x) / w) * step();
    const auto it =
        std::lower_bound(m_steps.begin(), m_steps.end(), start,
                         [](const TimelineCounts::Step& s, TimeMs t) { return s.start < t; });
    return it != m_steps.end() && it->start == start ? int(it - m_steps.begin()) : -1;
}

void TimelineView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    if (m_steps.empty() || m_tallest == 0) {
        return;
    }
    const int h = height() - 1;
    const QColor grey = palette().color(QPalette::Mid);
    // The steps the log view shows, behind their bars.
    LineNumber shownTop = 0;
    LineNumber shownBottom = 0;
    if (shownLines(shownTop, shownBottom)) {
        QColor shown = palette().color(QPalette::Highlight);
        shown.setAlpha(70);
        for (std::size_t i = 0; i < m_steps.size(); ++i) {
            if (m_steps[i].firstLine < shownBottom && m_steps[i].endLine > shownTop) {
                painter.fillRect(barRect(i), shown);
            }
        }
    }
    for (std::size_t i = 0; i < m_steps.size(); ++i) {
        const TimelineCounts::Step& s = m_steps[i];
        const QRect bar = barRect(i);
        const double scale = double(h) / double(m_tallest);
        double y = double(h + 1);
        std::uint64_t coloured = 0;
        for (std::size_t k = 0; k < s.keywordLines.size() && k < m_colors.size(); ++k) {
            if (s.keywordLines[k] == 0) {
                continue;
            }
            coloured += s.keywordLines[k];
            const double top = y - double(s.keywordLines[k]) * scale;
            painter.fillRect(QRectF(bar.left(), top, bar.width(), y - top), m_colors[k]);
            y = top;
        }
        const std::uint64_t rest = s.lines - std::min(s.lines, coloured);
        // A step with lines keeps a pixel of height, however few they are.
        const double top = std::min(y - double(rest) * scale, double(h));
        painter.fillRect(QRectF(bar.left(), top, bar.width(), y - top), grey);
    }
}

QString TimelineView::tipAt(int x) const
{
    const int i = stepAt(x);
    if (i < 0) {
        return {};
    }
    const TimelineCounts::Step& s = m_steps[std::size_t(i)];
    const LanguageResources& texts = LanguageResources::current();
    QString tip = texts.string(StringId::TimelineTip)
                      .arg(localTime(s.start), localTime(s.start + step() - 1000))
                      .arg(s.lines);
    for (std::size_t k = 0; k < s.keywordLines.size() && k < m_keywords.size(); ++k) {
        if (s.keywordLines[k] > 0) {
            tip += QLatin1Char('\n') + texts.string(StringId::TimelineKeywordCount)
                                           .arg(m_keywords[k])
                                           .arg(s.keywordLines[k]);
        }
    }
    return tip;
}

bool TimelineView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = tipAt(help->pos().x());
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), tip, this);
        }
        return true;
    }
    return QWidget::event(event);
}

void TimelineView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int i = stepAt(int(event->position().x()));
    if (i >= 0) {
        emit lineChosen(m_steps[std::size_t(i)].firstLine);
    }
}

void TimelineView::wheelEvent(QWheelEvent* event)
{
    // Up: a finer step, down: a coarser one; a notch (120) a rung.
    m_wheelRest += event->angleDelta().y();
    const int rungs = m_wheelRest / 120;
    m_wheelRest %= 120;
    if (rungs == 0) {
        event->accept();
        return;
    }
    const std::int64_t wanted = std::clamp<std::int64_t>(
        std::int64_t(m_stepIndex) - rungs, 0, std::int64_t(TimelineCounts::Ladder.size()) - 1);
    // rebuild() keeps it no finer than a pixel a bar.
    m_stepIndex = std::size_t(wanted);
    m_stepChosen = true;
    rebuild();
    event->accept();
}

void TimelineView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    rebuild();
}
