#include "engine/MergedFilterRows.h"

#include <algorithm>
#include <cassert>

MergedFilterRows::MergedFilterRows(const MergedRows& order, const std::vector<LineNumber>& bases,
                                   std::vector<const FilterMatches*> matches)
    : m_order(order), m_bases(bases), m_matches(std::move(matches)), m_spans(m_matches.size())
{
    count();
    m_lastMerged = m_size > 0 ? at(m_size - 1).merged : 0;
}

void MergedFilterRows::count()
{
    m_size = 0;
    m_cachedRow = ~std::size_t(0);
    for (std::size_t s = 0; s < m_spans.size(); ++s) {
        Span& span = m_spans[s];
        span = {};
        const FilterMatches* matches = m_matches[s];
        if (matches == nullptr || s >= m_order.sourceCount() || s >= m_bases.size()) {
            continue;
        }
        const LineNumber base = m_bases[s];
        span.first = matches->lowerBound(base);
        span.end = std::max(span.first, matches->lowerBound(base + m_order.sourceLines(s)));
        m_size += span.end - span.first;
    }
}

MergedFilterRows::Update MergedFilterRows::update(bool orderAppended, bool matchesGrown)
{
    const std::vector<Span> before = m_spans;
    Update result;
    result.oldSize = m_size;
    count();
    result.appended = orderAppended && matchesGrown && m_size >= result.oldSize;
    for (std::size_t s = 0; s < m_spans.size() && result.appended; ++s) {
        const Span& now = m_spans[s];
        const Span& was = before[s];
        // Matches before the first line merged may have come while none was shown.
        const bool wasEmpty = was.first == was.end;
        const std::size_t end = wasEmpty ? now.first : was.end;
        // Rows went, or a match came among lines already merged: it falls between rows
        // shown before.
        const bool shrunk = (!wasEmpty && now.first != was.first) || now.end < end;
        if (shrunk ||
            (now.end > end && result.oldSize > 0 && mergedRowOf(s, end) <= m_lastMerged)) {
            result.appended = false;
        }
    }
    m_lastMerged = m_size > 0 ? at(m_size - 1).merged : 0;
    return result;
}

std::size_t MergedFilterRows::mergedRowOf(std::size_t source, std::size_t index) const
{
    const LineNumber line = m_matches[source]->at(index);
    return m_order.rowOfLine(source, line - m_bases[source]);
}

std::size_t MergedFilterRows::matchesBefore(std::size_t source, std::size_t mergedRow) const
{
    const Span& span = m_spans[source];
    if (span.first == span.end) {
        return 0;
    }
    const LineNumber lines = m_order.linesBefore(source, mergedRow);
    const std::size_t below = m_matches[source]->lowerBound(m_bases[source] + lines);
    return std::clamp(below, span.first, span.end) - span.first;
}

std::size_t MergedFilterRows::lowerBound(std::size_t mergedRow) const
{
    mergedRow = std::min(mergedRow, m_order.rowCount());
    std::size_t rows = 0;
    for (std::size_t s = 0; s < m_spans.size(); ++s) {
        rows += matchesBefore(s, mergedRow);
    }
    return rows;
}

MergedFilterRows::Row MergedFilterRows::at(std::size_t row) const
{
    assert(row < m_size);
    if (row == m_cachedRow) {
        return m_cached;
    }
    std::size_t merged = 0;
    if (m_cachedRow != ~std::size_t(0) && row == m_cachedRow + 1) {
        // The next row: the earliest next match of any file after the last row found.
        merged = m_order.rowCount();
        for (std::size_t s = 0; s < m_spans.size(); ++s) {
            const std::size_t next = m_spans[s].first + matchesBefore(s, m_cached.merged + 1);
            if (next < m_spans[s].end) {
                merged = std::min(merged, mergedRowOf(s, next));
            }
        }
    } else {
        // The last merged row with at most `row` filter rows before it.
        std::size_t low = 0;
        std::size_t high = m_order.rowCount();
        while (high - low > 1) {
            const std::size_t middle = low + (high - low) / 2;
            if (lowerBound(middle) <= row) {
                low = middle;
            } else {
                high = middle;
            }
        }
        merged = low;
    }
    const MergedRows::Place place = m_order.placeOfRow(merged);
    m_cached = {place.source, place.line + m_bases[place.source], merged};
    m_cachedRow = row;
    return m_cached;
}
