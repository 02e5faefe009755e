#include "view/OverviewStrip.h"

#include "engine/KeywordLines.h"
#include "view/LogView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

OverviewStrip::OverviewStrip(LogView* view) : OverviewStrip(static_cast<QAbstractScrollArea*>(view))
{
    m_view = view;
}

OverviewStrip::OverviewStrip(QAbstractScrollArea* area) : QWidget(area), m_area(area)
{
    setObjectName(QStringLiteral("overviewStrip"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
}

QRect OverviewStrip::track() const
{
    QScrollBar* bar = m_area->verticalScrollBar();
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    const QRect groove = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                      QStyle::SC_ScrollBarGroove, bar);
    if (!bar->isVisible() || !groove.isValid() || groove.height() <= 0) {
        return rect();
    }
    const int top = bar->mapTo(m_area, groove.topLeft()).y() - y();
    const QRect mapped(0, top, width(), groove.height());
    return mapped.intersected(rect()).isEmpty() ? rect() : mapped.intersected(rect());
}

int OverviewStrip::rowOf(std::uint64_t line, std::uint64_t count) const
{
    const QRect t = track();
    if (count == 0) {
        return t.top();
    }
    return t.top() + static_cast<int>(line * std::uint64_t(t.height()) / count);
}

std::uint64_t OverviewStrip::lineAt(int y, std::uint64_t count) const
{
    const QRect t = track();
    if (count == 0 || t.height() <= 0) {
        return 0;
    }
    const std::uint64_t row = std::uint64_t(std::clamp(y - t.top(), 0, t.height() - 1));
    return linesOfRow(row, count, std::uint64_t(t.height())).first;
}

std::pair<std::uint64_t, std::uint64_t>
OverviewStrip::linesOfRow(std::uint64_t row, std::uint64_t count, std::uint64_t height)
{
    // Rows of line l start at l * h / count: the first line that starts on the row, else
    // (fewer lines than rows) the line above, whose rows reach down over it.
    const auto firstOn = [&](std::uint64_t r) {
        std::uint64_t line = (r * count + height - 1) / height;
        if (line > 0 && line * height / count > r) {
            --line;
        }
        return std::min(line, count - 1);
    };
    const std::uint64_t first = firstOn(row);
    const std::uint64_t end = row + 1 >= height ? count : std::max(firstOn(row + 1), first + 1);
    return {first, end};
}

void OverviewStrip::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Base).darker(104));
    const LogDocument* document = m_view->document();
    if (document == nullptr) {
        return;
    }
    const std::uint64_t count = document->lineCount();
    if (count == 0) {
        return;
    }
    const QRect t = track();
    const std::uint64_t height = std::uint64_t(std::max(1, t.height()));
    if (const KeywordLines* keywordLines = m_view->keywordLines()) {
        const KeywordLines::Overview overview = keywordLines->overview();
        // Row by row: the first keyword of the lines the row stands for. A row covers the
        // buckets of its lines; each bucket is looked at by at most two rows.
        for (std::uint64_t row = 0; row < height; ++row) {
            const auto [first, end] = linesOfRow(row, count, height);
            std::uint8_t keyword = 0;
            const std::uint64_t lastBucket = (end - 1) >> overview.shift;
            for (std::uint64_t b = first >> overview.shift;
                 b <= lastBucket && b < overview.buckets.size() && keyword == 0; ++b) {
                keyword = overview.buckets[b];
            }
            if (keyword != 0 && keyword <= overview.backgrounds.size()) {
                painter.fillRect(QRect(0, t.top() + int(row), width(), 1),
                                 quill::colorFromRef(overview.backgrounds[keyword - 1]));
            }
        }
    }
    // The find text's lines in the right third, in the colour of the current match.
    if (const KeywordLines* findLines = m_view->findLines()) {
        const KeywordLines::Overview overview = findLines->overview();
        const int third = findWidth();
        const QColor opaque = findColor();
        for (std::uint64_t row = 0; row < height; ++row) {
            const auto [first, end] = linesOfRow(row, count, height);
            bool any = false;
            for (std::uint64_t b = first >> overview.shift;
                 b <= ((end - 1) >> overview.shift) && b < overview.buckets.size() && !any; ++b) {
                any = overview.buckets[b] != 0;
            }
            if (any) {
                painter.fillRect(QRect(width() - third, t.top() + int(row), third, 1), opaque);
            }
        }
    }
    // Marks over the keywords, at least two rows high so one mark in a million lines shows.
    const QColor mark = LogView::markColor();
    for (LineNumber line : document->marks().lines()) {
        const int top = rowOf(line, count);
        const int bottom = std::max(top + 2, rowOf(std::uint64_t(line) + 1, count));
        painter.fillRect(QRect(0, top, width(), bottom - top), mark);
    }
}

int OverviewStrip::findWidth() const
{
    return std::max(2, width() / 3);
}

QColor OverviewStrip::findColor()
{
    const QColor found = LogView::currentMatchHighlightColor().toRgb();
    return {found.red(), found.green(), found.blue()};
}

void OverviewStrip::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    const LogDocument* document = m_view->document();
    if (event->button() != Qt::LeftButton || document == nullptr) {
        return;
    }
    const std::uint64_t count = document->lineCount();
    if (count > 0) {
        m_view->scrollToLine(
            static_cast<LineNumber>(lineAt(event->position().toPoint().y(), count)));
    }
}
