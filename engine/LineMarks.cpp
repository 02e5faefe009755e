#include "engine/LineMarks.h"

#include <algorithm>

bool LineMarks::toggle(LineNumber line)
{
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), line);
    if (at != m_lines.end() && *at == line) {
        m_lines.erase(at);
        return false;
    }
    m_lines.insert(at, line);
    return true;
}

bool LineMarks::isMarked(LineNumber line) const
{
    return std::binary_search(m_lines.begin(), m_lines.end(), line);
}

std::optional<LineNumber> LineMarks::next(LineNumber line) const
{
    if (m_lines.empty()) {
        return std::nullopt;
    }
    const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), line);
    return after != m_lines.end() ? *after : m_lines.front();
}

std::optional<LineNumber> LineMarks::previous(LineNumber line) const
{
    if (m_lines.empty()) {
        return std::nullopt;
    }
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), line);
    return at != m_lines.begin() ? *(at - 1) : m_lines.back();
}

std::pair<std::vector<LineNumber>::const_iterator, std::vector<LineNumber>::const_iterator>
LineMarks::inRange(LineNumber first, LineNumber end) const
{
    const auto from = std::lower_bound(m_lines.begin(), m_lines.end(), first);
    const auto to = std::lower_bound(from, m_lines.end(), std::max(first, end));
    return {from, to};
}
