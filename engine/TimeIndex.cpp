#include "engine/TimeIndex.h"

#include <algorithm>

void TimeIndex::clear()
{
    *this = TimeIndex();
}

void TimeIndex::addLine(std::optional<TimeMs> time)
{
    if (time) {
        noteTime(*time);
    }
    ++m_lines;
    if (m_lines % GroupLines == 0) {
        closeGroup();
    }
}

void TimeIndex::addLines(std::span<const TimeMs> times)
{
    // A run up to the end of the open group at a time: the edges are looked at once a run.
    for (std::size_t i = 0; i < times.size();) {
        const std::size_t run =
            std::min(times.size() - i, std::size_t(GroupLines - m_lines % GroupLines));
        for (const TimeMs time : times.subspan(i, run)) {
            if (time != NoTime) {
                noteTime(time);
            }
        }
        i += run;
        m_lines += LineNumber(run);
        if (m_lines % GroupLines == 0) {
            closeGroup();
        }
    }
}

void TimeIndex::noteTime(TimeMs time)
{
    m_carried = time;
    m_latest = std::max(m_latest, time);
    if (m_first == NoTime) {
        m_first = time;
    }
    m_openBlock.earliest =
        m_openBlock.earliest == NoTime ? time : std::min(m_openBlock.earliest, time);
    m_openBlock.latest = std::max(m_openBlock.latest, time);
}

void TimeIndex::closeGroup()
{
    m_groups.push_back(Group{m_latest, m_carried});
    if (m_lines % BlockLines == 0) {
        m_blocks.push_back(m_openBlock);
        m_openBlock = Block{};
    }
}

std::vector<TimeIndex::Block> TimeIndex::blocks() const
{
    std::vector<Block> all = m_blocks;
    if (m_lines % BlockLines != 0) {
        all.push_back(m_openBlock);
    }
    return all;
}

std::vector<TimeMs> TimeIndex::groupLatest() const
{
    std::vector<TimeMs> all;
    all.reserve(m_groups.size() + 1);
    for (const Group& group : m_groups) {
        all.push_back(group.latest);
    }
    if (m_lines % GroupLines != 0) {
        all.push_back(m_latest);
    }
    return all;
}

std::optional<TimeMs> TimeIndex::timeOfLine(LineNumber line, const Reader& read) const
{
    if (line >= m_lines) {
        return std::nullopt;
    }
    const LineNumber group = line / GroupLines;
    std::vector<std::optional<TimeMs>> times;
    if (!read(group * GroupLines, line + 1, times)) {
        return std::nullopt;
    }
    for (auto it = times.rbegin(); it != times.rend(); ++it) {
        if (*it) {
            return **it;
        }
    }
    if (group == 0 || m_groups[group - 1].carried == NoTime) {
        return std::nullopt;
    }
    return m_groups[group - 1].carried;
}

std::optional<LineNumber> TimeIndex::firstLineAtOrAfter(TimeMs t, const Reader& read) const
{
    if (m_latest == NoTime || m_latest < t) {
        return std::nullopt;
    }
    // The first group whose running latest reaches t holds the line; a partial last group
    // counts as one when no complete group does.
    const auto it = std::partition_point(m_groups.begin(), m_groups.end(),
                                         [t](const Group& g) { return g.latest < t; });
    const auto group = LineNumber(it - m_groups.begin());
    const LineNumber first = group * GroupLines;
    const LineNumber end = std::min(m_lines, first + GroupLines);
    std::vector<std::optional<TimeMs>> times;
    if (!read(first, end, times)) {
        return std::nullopt;
    }
    TimeMs latest = group == 0 ? NoTime : m_groups[group - 1].latest;
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (times[i]) {
            latest = std::max(latest, *times[i]);
        }
        if (latest != NoTime && latest >= t) {
            return first + LineNumber(i);
        }
    }
    return std::nullopt; // the lines read are not those indexed (the file changed)
}

std::size_t TimeIndex::memoryBytes() const
{
    // libstdc++'s deque: nodes of 512 bytes, and a map of node pointers that doubles.
    constexpr std::size_t NodeBytes = 512;
    const std::size_t nodes = m_groups.size() * sizeof(Group) / NodeBytes + 1;
    return sizeof(*this) + nodes * (NodeBytes + 2 * sizeof(void*)) +
           m_blocks.capacity() * sizeof(Block);
}
