#include "view/MergedFilterView.h"

#include "engine/LogDocument.h"
#include "view/LogView.h"
#include "view/MergedRowSource.h"

#include <algorithm>

MergedFilterRowSource::MergedFilterRowSource(MergedRowSource* merged, const MergedFilterRows* rows)
    : m_merged(merged), m_rows(rows)
{
}

bool MergedFilterRowSource::isUndecided(std::size_t row) const
{
    if (row >= rowCount()) {
        return false;
    }
    const MergedFilterRows::Row at = m_rows->at(row);
    const std::vector<LineNumber>* lines =
        at.source < m_undecided.size() ? m_undecided[at.source] : nullptr;
    return lines != nullptr && std::binary_search(lines->begin(), lines->end(), at.line);
}

std::u16string_view MergedFilterRowSource::rowText(std::size_t row)
{
    if (row >= rowCount()) {
        return {};
    }
    return m_merged->rowText(m_rows->at(row).merged);
}

const StyleRuns& MergedFilterRowSource::rowRuns(std::size_t row)
{
    static const StyleRuns none;
    if (row >= rowCount()) {
        return none;
    }
    return m_merged->rowRuns(m_rows->at(row).merged);
}

std::uint64_t MergedFilterRowSource::largestLineNumber() const
{
    return m_merged->largestLineNumber();
}

std::uint64_t MergedFilterRowSource::rowKey(std::size_t row) const
{
    const MergedFilterRows::Row at = m_rows->at(row);
    return (std::uint64_t(at.source) << 32) | at.line;
}

char16_t MergedFilterRowSource::rowSign(std::size_t row) const
{
    return isUndecided(row) ? signRoom() : 0;
}

std::optional<ColorRef> MergedFilterRowSource::rowStripe(std::size_t row) const
{
    if (row >= rowCount()) {
        return std::nullopt;
    }
    return m_merged->color(m_rows->at(row).source);
}

void MergedFilterRowSource::keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                                          bool& matched) const
{
    m_merged->keywordColors(text, fore, back, matched);
}

bool MergedFilterRowSource::colorsMatches() const
{
    return m_merged->colorsMatches();
}

void MergedFilterRowSource::matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                                      StyleRuns& runs) const
{
    m_merged->matchRuns(text, from, to, runs);
}

MergedFilterView::MergedFilterView(MergedRowSource* merged, const MergedFilterRows* rows,
                                   QWidget* parent)
    : TextArea(parent), m_merged(merged), m_rowsOf(rows), m_rows(merged, rows)
{
    setObjectName(QStringLiteral("mergedFilterView"));
    setRowSource(&m_rows);
    connect(this, &TextArea::rowActivated, this, [this](std::size_t row) {
        if (row < rowCount()) {
            emit mergedRowActivated(m_rows.row(row).merged);
        }
    });
}

MergedFilterView::~MergedFilterView()
{
    setRowSource(nullptr);
}

std::optional<std::size_t> MergedFilterView::placeRow()
{
    const std::size_t count = rowCount();
    if (count == 0) {
        return std::nullopt;
    }
    const std::size_t top = std::min(firstVisibleRow(), count - 1);
    const std::size_t current = currentRow();
    bool onScreen = false;
    if (wrapsLines()) {
        for (const WrapScroller::Row& row : screenRows()) {
            onScreen = onScreen || (row.item == current && row.y >= 0 &&
                                    row.y + rowHeight() <= viewport()->height());
        }
    } else {
        const auto shown =
            std::size_t(std::max(1, viewport()->height() / std::max(1, rowHeight())));
        onScreen = current >= top && current < top + shown;
    }
    return m_rows.row(onScreen && current < count ? current : top).merged;
}

void MergedFilterView::toggleMarkAtCurrentRow()
{
    if (currentRow() >= rowCount()) {
        return;
    }
    const MergedFilterRows::Row at = m_rows.row(currentRow());
    m_merged->document(at.source).marks().toggle(at.line);
    viewport()->update();
}

bool MergedFilterView::jumpToMark(bool next)
{
    // The rows of the marked lines that are listed here, in order.
    std::vector<std::size_t> marked;
    for (const std::size_t merged : m_merged->markedRows()) {
        const std::size_t row = m_rowsOf->lowerBound(merged);
        if (row < rowCount() && m_rowsOf->at(row).merged == merged) {
            marked.push_back(row);
        }
    }
    return jumpAround(marked, next);
}

void MergedFilterView::styleRow(std::size_t row, LogRenderer::RowStyle& style)
{
    if (row >= rowCount()) {
        return;
    }
    const MergedFilterRows::Row at = m_rows.row(row);
    const LineMarks& marks = m_merged->document(at.source).marks();
    if (marks.isEmpty() || !marks.isMarked(at.line)) {
        return;
    }
    style.background = LogView::markedBackground(style.background);
    style.rest = LogView::markedBackground(style.rest);
    style.fillBackground = true;
}
