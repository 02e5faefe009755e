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

namespace {

// Rows read at once while a search goes through them: the row cache keeps only what is on
// screen, so a search reads its own batches.
constexpr std::size_t FindBatchRows = 512;

} // namespace

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

bool FilterView::findRows(bool down, const RowMatch& match)
{
    const std::size_t count = rowCount();
    if (count == 0) {
        return false;
    }
    // From the selection (past it going down, before it going up), else from the current
    // row's start or end.
    const DocSelection chosen = selection();
    std::size_t row = std::min(currentRow(), count - 1);
    std::int64_t from = down ? 0 : -1; // -1: the row's end
    if (chosen.valid && chosen.startLine < count) {
        row = down ? std::min<std::size_t>(chosen.endLine, count - 1) : chosen.startLine;
        from = down ? (chosen.endCol < 0 ? std::int64_t(1) << 40 : std::int64_t(chosen.endCol) + 1)
                    : std::int64_t(chosen.startCol);
    }
    std::vector<std::u16string> texts;
    std::size_t at = row;
    while (true) {
        const std::size_t first =
            down ? at : (at + 1 >= FindBatchRows ? at + 1 - FindBatchRows : 0);
        const std::size_t end = down ? std::min(count, at + FindBatchRows) : at + 1;
        texts.clear();
        m_rows.copyRows(first, end, texts);
        for (std::size_t i = 0; i < end - first; ++i) {
            const std::size_t r = down ? first + i : end - 1 - i;
            std::u16string_view text;
            if (r - first < texts.size()) {
                text = texts[r - first];
            }
            std::int64_t start = down ? 0 : std::int64_t(text.size());
            if (r == row) {
                start = from < 0 ? std::int64_t(text.size()) : from;
            }
            if (const auto hit = match(text, start, down)) {
                selectInRow(r, std::int32_t(hit->first), std::int32_t(hit->second));
                return true;
            }
        }
        if (down ? end >= count : first == 0) {
            return false;
        }
        at = down ? end : first - 1;
    }
}

bool FilterView::findText(const std::u16string& text, bool down, unsigned flags)
{
    if (text.empty()) {
        return false;
    }
    const bool matchCase = (flags & SearchMatchCase) != 0;
    const bool wholeWord = (flags & SearchWholeWord) != 0;
    std::u16string pattern = text;
    if (!matchCase) {
        foldAsciiCase(pattern);
    }
    std::u16string folded;
    return findRows(down,
                    [&](std::u16string_view line, std::int64_t start,
                        bool forward) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
                        if (!matchCase) {
                            folded.assign(line);
                            foldAsciiCase(folded);
                            line = folded;
                        }
                        const std::int64_t column =
                            forward ? findInLineForward(line, pattern, start, wholeWord)
                                    : findInLineBackward(line, pattern, start, wholeWord);
                        if (column < 0) {
                            return std::nullopt;
                        }
                        return std::pair{column, column + std::int64_t(pattern.size()) - 1};
                    });
}

bool FilterView::findPattern(const FilterPattern& pattern, bool down, std::uint64_t& undecided)
{
    undecided = 0;
    FilterScratch scratch;
    return findRows(down,
                    [&](std::u16string_view line, std::int64_t start,
                        bool forward) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
                        const auto from = std::size_t(
                            std::clamp<std::int64_t>(start, 0, std::int64_t(line.size())));
                        const RegexHit hit = forward
                                                 ? regexFindForward(pattern, line, from, scratch)
                                                 : regexFindBackward(pattern, line, from, scratch);
                        if (hit.verdict == FilterPattern::Undecided) {
                            ++undecided;
                        }
                        if (hit.verdict != FilterPattern::Match) {
                            return std::nullopt;
                        }
                        return std::pair{std::int64_t(hit.begin), std::int64_t(hit.end) - 1};
                    });
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

bool FilterView::jumpToKeywordLine(bool down)
{
    const std::size_t count = rowCount();
    if (count == 0) {
        return false;
    }
    // Batches of rows past the current one, as Find reads them; rows are only ever the lines
    // the filter kept, so a keyword line it hid is passed over.
    std::vector<std::u16string> texts;
    std::size_t at = std::min(currentRow(), count - 1) + (down ? 1 : 0); // down: first; up: end
    while (down ? at < count : at > 0) {
        const std::size_t first = down ? at : at - std::min(at, FindBatchRows);
        const std::size_t end = down ? std::min(count, at + FindBatchRows) : at;
        texts.clear();
        m_rows.copyRows(first, end, texts);
        for (std::size_t i = 0; i < end - first; ++i) {
            const std::size_t r = down ? first + i : end - 1 - i;
            if (r - first >= texts.size()) {
                continue;
            }
            ColorRef fore = 0;
            ColorRef back = 0;
            bool matched = false;
            m_rows.keywordColors(texts[r - first], fore, back, matched);
            if (matched) {
                selectInRow(r, 0, -1);
                return true;
            }
        }
        at = down ? end : first;
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
