// The filter view as the main view: Find among its rows, the marks on its rows, and the line
// the user is at when the view changes.

#include "view/FilterView.h"

#include "engine/FilterPattern.h"
#include "engine/FilterRows.h"
#include "engine/LineText.h"
#include "engine/LogDocument.h"
#include "engine/RegexFind.h"
#include "view/EndFollower.h"
#include "view/LogView.h"

#include <QScrollBar>

#include <algorithm>
#include <climits>

std::u16string FilterView::selectedRowText()
{
    const DocSelection chosen = selection();
    if (!chosen.valid || chosen.startLine != chosen.endLine || chosen.startLine >= rowCount()) {
        return {};
    }
    const std::u16string_view text = m_rows.rowText(chosen.startLine);
    const auto first = std::size_t(std::max(0, chosen.startCol));
    if (first >= text.size()) {
        return {};
    }
    const std::size_t last =
        chosen.endCol < 0 ? text.size() : std::min(text.size(), std::size_t(chosen.endCol) + 1);
    return last > first ? std::u16string(text.substr(first, last - first)) : std::u16string();
}

void FilterView::toggleMarkAtCurrentRow()
{
    LogDocument* document = m_rows.document();
    if (document == nullptr || currentRow() >= rowCount()) {
        return;
    }
    const LineNumber line = lineOfRow(currentRow());
    if (line >= document->lineCount()) {
        return;
    }
    document->marks().toggle(line);
    viewport()->update();
    emit marksChanged();
}

bool FilterView::jumpToMark(bool next)
{
    LogDocument* document = m_rows.document();
    const FilterRows* rows = m_rows.matches();
    const std::size_t count = rowCount();
    if (document == nullptr || rows == nullptr || count == 0) {
        return false;
    }
    const std::vector<LineNumber>& marks = document->marks().lines();
    const LineNumber from = lineOfRow(std::min(currentRow(), count - 1));
    // The marks after (or before) the current line first, then the rest around the end, as
    // the log view's jump wraps; a mark on a line not among the rows is passed over.
    const auto split = next ? std::upper_bound(marks.begin(), marks.end(), from)
                            : std::lower_bound(marks.begin(), marks.end(), from);
    const std::size_t n = marks.size();
    const auto start = std::size_t(split - marks.begin());
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = next ? (start + k) % n : (start + n - 1 - k) % n;
        const std::size_t row = rows->lowerBound(marks[i]);
        if (row < count && rows->at(row) == marks[i]) {
            selectInRow(row, 0, -1);
            return true;
        }
    }
    return false;
}

std::optional<LineNumber> FilterView::placeLine()
{
    const std::size_t count = rowCount();
    if (count == 0) {
        return std::nullopt;
    }
    const std::size_t top = std::min(firstVisibleRow(), count - 1);
    const std::size_t current = currentRow();
    bool onScreen = false;
    if (m_wrap) {
        for (const WrapScroller::Row& row : screenRows()) {
            onScreen = onScreen || (row.item == current && row.y >= 0 &&
                                    row.y + rowHeight() <= viewport()->height());
        }
    } else {
        const auto shown =
            std::size_t(std::max(1, viewport()->height() / std::max(1, rowHeight())));
        onScreen = current >= top && current < top + shown;
    }
    return lineOfRow(onScreen && current < count ? current : top);
}

void FilterView::showLineAtTop(LineNumber line)
{
    const FilterRows* rows = m_rows.matches();
    const std::size_t count = rowCount();
    if (rows == nullptr || count == 0) {
        return;
    }
    const std::size_t row = std::min(rows->lowerBound(line), count - 1);
    rearrangeRows(row, row);
    // A scroll of the user's own: the view follows the end afterwards only if it is there.
    if (m_wrap) {
        m_wrapScroller->scrollToPlace(WrapScroller::Place{row, 0}, 0);
    } else {
        verticalScrollBar()->setValue(static_cast<int>(std::min<std::size_t>(row, INT_MAX)));
        m_follower->userScrolled();
    }
    viewport()->update();
}

void FilterView::selectLine(LineNumber line)
{
    const FilterRows* rows = m_rows.matches();
    const std::size_t count = rowCount();
    if (rows != nullptr && count > 0) {
        selectInRow(std::min(rows->lowerBound(line), count - 1), 0, -1);
    }
}

void FilterView::styleRow(std::size_t row, LogRenderer::RowStyle& style)
{
    const LogDocument* document = m_rows.document();
    if (document == nullptr || document->marks().isEmpty() || row >= rowCount() ||
        !document->marks().isMarked(lineOfRow(row))) {
        return;
    }
    style.background = LogView::markedBackground(style.background);
    style.rest = LogView::markedBackground(style.rest);
    style.fillBackground = true;
}
