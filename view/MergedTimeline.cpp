#include "view/MergedTimeline.h"

#include "engine/MergedRowMap.h"
#include "engine/TimeIndex.h"
#include "view/LogRenderer.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QScrollBar>

#include <algorithm>
#include <limits>

MergedTimeline::MergedTimeline(MergedArea* area, MergedRowSource* rows,
                               std::function<Counts()> counts, QWidget* parent)
    : TimelineView(parent), m_area(area), m_rows(rows), m_counts(std::move(counts))
{
    setObjectName(QStringLiteral("mergedTimeline"));
    // The marked steps follow the area's scrolling.
    connect(m_area->verticalScrollBar(), &QScrollBar::valueChanged, this,
            qOverload<>(&QWidget::update));
}

void MergedTimeline::refresh()
{
    Counts counts = m_counts();
    m_inputs = std::move(counts.inputs);
    m_colors.clear();
    m_keywords.clear();
    for (const Keyword& keyword : counts.keywords) {
        m_colors.push_back(quill::colorFromRef(keyword.backgroundColor));
        m_keywords.push_back(QString::fromStdU16String(keyword.text));
    }
    rebuild();
}

bool MergedTimeline::timeSpan(TimeMs& first, TimeMs& last) const
{
    bool any = false;
    for (const TimelineCounts::Input& input : m_inputs) {
        // A file's running latest times never decrease: its first time and its last.
        const auto found = std::find_if(input.groupLatest.begin(), input.groupLatest.end(),
                                        [](TimeMs t) { return t != TimeIndex::NoTime; });
        if (found == input.groupLatest.end()) {
            continue;
        }
        first = any ? std::min(first, *found) : *found;
        last = any ? std::max(last, input.groupLatest.back()) : input.groupLatest.back();
        any = true;
    }
    return any;
}

std::vector<TimelineCounts::Step> MergedTimeline::buildSteps(TimeMs step) const
{
    return m_rows->map().timeline(m_inputs, step);
}

bool MergedTimeline::shownLines(LineNumber& top, LineNumber& bottom) const
{
    const std::size_t count = m_area->rowCount();
    if (count == 0) {
        return false;
    }
    const std::size_t first = std::min(m_area->firstVisibleRow(), count - 1);
    const std::size_t shown =
        std::size_t(std::max(1, m_area->viewport()->height() / std::max(1, m_area->rowHeight())));
    constexpr std::size_t Most = std::numeric_limits<LineNumber>::max();
    top = LineNumber(std::min(first, Most));
    bottom = LineNumber(std::min(first + shown, Most));
    return true;
}
