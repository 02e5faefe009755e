#include "engine/LineMarks.h"

#include <algorithm>

bool LineMarks::toggle(LineNumber line)
{
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), line);
    if (at != m_lines.end() && *at == line) {
        m_notes.erase(m_notes.begin() + (at - m_lines.begin()));
        m_lines.erase(at);
        return false;
    }
    m_notes.insert(m_notes.begin() + (at - m_lines.begin()), std::u16string());
    m_lines.insert(at, line);
    return true;
}

void LineMarks::mark(LineNumber line, std::u16string note)
{
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), line);
    const auto slot = m_notes.begin() + (at - m_lines.begin());
    if (at != m_lines.end() && *at == line) {
        *slot = std::move(note);
        return;
    }
    m_notes.insert(slot, std::move(note));
    m_lines.insert(at, line);
}

bool LineMarks::setNote(LineNumber line, std::u16string note)
{
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), line);
    if (at == m_lines.end() || *at != line) {
        return false;
    }
    m_notes[std::size_t(at - m_lines.begin())] = std::move(note);
    return true;
}

const std::u16string& LineMarks::note(LineNumber line) const
{
    static const std::u16string none;
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), line);
    return at != m_lines.end() && *at == line ? m_notes[std::size_t(at - m_lines.begin())] : none;
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
