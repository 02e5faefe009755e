#include "engine/FilterRows.h"

#include "platform/Contract.h"

#include <algorithm>

bool FilterRows::update()
{
    std::vector<LineNumber> extra;
    std::vector<std::size_t> rows;
    if (m_marks != nullptr) {
        for (LineNumber line : *m_marks) {
            const std::size_t match = m_matches->lowerBound(line);
            if (match < m_matches->size() && m_matches->at(match) == line) {
                continue;
            }
            rows.push_back(match + extra.size());
            extra.push_back(line);
        }
    }
    const bool changed = extra != m_extra || rows != m_extraRows;
    m_extra = std::move(extra);
    m_extraRows = std::move(rows);
    return changed;
}

LineNumber FilterRows::at(std::size_t row) const
{
    QUILL_ASSERT(row < size());
    // Marks at or before the row: the row is one of them, or a match that many rows on.
    const std::size_t before = std::size_t(
        std::upper_bound(m_extraRows.begin(), m_extraRows.end(), row) - m_extraRows.begin());
    if (before > 0 && m_extraRows[before - 1] == row) {
        return m_extra[before - 1];
    }
    return m_matches->at(row - before);
}

std::size_t FilterRows::lowerBound(LineNumber line) const
{
    return m_matches->lowerBound(line) +
           std::size_t(std::lower_bound(m_extra.begin(), m_extra.end(), line) - m_extra.begin());
}

std::size_t FilterRows::rowOfMatch(std::size_t matchRow) const
{
    if (matchRow >= m_matches->size()) {
        return size();
    }
    const LineNumber line = m_matches->at(matchRow);
    return matchRow +
           std::size_t(std::lower_bound(m_extra.begin(), m_extra.end(), line) - m_extra.begin());
}
