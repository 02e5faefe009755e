#include "view/MergedStrip.h"

#include "engine/LogDocument.h"
#include "engine/MergedRowMap.h"
#include "view/LogRenderer.h"
#include "view/LogView.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

MergedStrip::MergedStrip(MergedArea* area, MergedRowSource* rows, Overviews overviews,
                         Overviews found)
    : OverviewStrip(area), m_area(area), m_rows(rows), m_overviews(std::move(overviews)),
      m_found(std::move(found))
{
    setObjectName(QStringLiteral("mergedStrip"));
}

void MergedStrip::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Base).darker(104));
    const std::uint64_t count = m_rows->rowCount();
    if (count == 0) {
        return;
    }
    const QRect t = track();
    const std::uint64_t height = std::uint64_t(std::max(1, t.height()));
    const std::vector<KeywordLines::Overview> overviews = m_overviews();
    std::vector<MergedRowMap::Buckets> buckets;
    const std::vector<ColorRef>* backgrounds = nullptr;
    for (const KeywordLines::Overview& overview : overviews) {
        buckets.push_back({overview.buckets, overview.shift});
        if (backgrounds == nullptr && !overview.backgrounds.empty()) {
            backgrounds = &overview.backgrounds;
        }
    }
    const MergedRowMap map = m_rows->map();
    if (backgrounds != nullptr) {
        // Row by row of the strip: a keyword of the rows it stands for.
        for (std::uint64_t row = 0; row < height; ++row) {
            const auto [first, end] = linesOfRow(row, count, height);
            const std::uint8_t keyword = map.keywordIn(first, end, buckets);
            if (keyword != 0 && keyword <= backgrounds->size()) {
                painter.fillRect(QRect(0, t.top() + int(row), width(), 1),
                                 quill::colorFromRef((*backgrounds)[keyword - 1]));
            }
        }
    }
    // The find text's rows in the right third.
    const std::vector<KeywordLines::Overview> found = m_found();
    if (std::any_of(found.begin(), found.end(),
                    [](const KeywordLines::Overview& o) { return !o.buckets.empty(); })) {
        std::vector<MergedRowMap::Buckets> foundBuckets;
        for (const KeywordLines::Overview& overview : found) {
            foundBuckets.push_back({overview.buckets, overview.shift});
        }
        const int third = findWidth();
        const QColor colour = findColor();
        for (std::uint64_t row = 0; row < height; ++row) {
            const auto [first, end] = linesOfRow(row, count, height);
            if (map.keywordIn(first, end, foundBuckets) != 0) {
                painter.fillRect(QRect(width() - third, t.top() + int(row), third, 1), colour);
            }
        }
    }
    // Marks over the keywords, at least two rows high so that one mark among millions shows.
    const QColor mark = LogView::markColor();
    for (std::size_t s = 0; s < m_rows->sourceCount(); ++s) {
        for (const LineNumber line : m_rows->document(s).marks().lines()) {
            const std::size_t at = map.rowOf(s, line);
            if (at < count) {
                const int top = rowOf(at, count);
                const int bottom = std::max(top + 2, rowOf(at + 1, count));
                painter.fillRect(QRect(0, top, width(), bottom - top), mark);
            }
        }
    }
    // The rows on screen, as a bar along the left edge that leaves the colours beside it.
    const std::size_t first = std::min<std::size_t>(m_area->firstVisibleRow(), count - 1);
    const std::size_t shown =
        std::size_t(std::max(1, m_area->viewport()->height() / std::max(1, m_area->rowHeight())));
    const int top = rowOf(first, count);
    const int bottom =
        std::max(top + 2, rowOf(std::min<std::uint64_t>(first + shown, count), count));
    painter.fillRect(QRect(0, top, ShownWidth, bottom - top), palette().color(QPalette::Highlight));
}

void MergedStrip::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    const std::uint64_t count = m_rows->rowCount();
    if (event->button() != Qt::LeftButton || count == 0) {
        return;
    }
    m_area->selectInRow(std::size_t(lineAt(event->position().toPoint().y(), count)), 0, -1);
}
