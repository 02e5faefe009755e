#include "engine/TimeIndex.h"

#include "platform/Contract.h"

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
            if (time == Unread) {
                m_carried = Unread;
            } else if (time != NoTime) {
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

void TimeIndex::addSampledGroup(TimeMs sample)
{
    QUILL_ASSERT(m_lines % GroupLines == 0);
    if (sample != NoTime) {
        noteTime(sample);
    }
    // The lines after the sample were not read: any of them may hold a later time.
    m_carried = Unread;
    m_lines += GroupLines;
    closeGroup();
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

namespace {

// The last own time of times, if any.
std::optional<TimeMs> lastTime(const std::vector<std::optional<TimeMs>>& times)
{
    for (auto it = times.rbegin(); it != times.rend(); ++it) {
        if (*it) {
            return **it;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<TimeMs> TimeIndex::timeOfLine(LineNumber line, const Reader& read) const
{
    if (line >= m_lines) {
        return std::nullopt;
    }
    LineNumber group = line / GroupLines;
    std::vector<std::optional<TimeMs>> times;
    if (!read(group * GroupLines, line + 1, times)) {
        return std::nullopt;
    }
    if (const auto own = lastTime(times)) {
        return own;
    }
    // Back over groups whose last line's time was not read, as far as one that tells.
    for (LineNumber back = 0; group > 0; ++back, --group) {
        const TimeMs carried = m_groups[group - 1].carried;
        if (carried != Unread) {
            return carried == NoTime ? std::nullopt : std::optional<TimeMs>(carried);
        }
        if (back == MostGroupsBack || !read((group - 1) * GroupLines, group * GroupLines, times)) {
            return std::nullopt;
        }
        if (const auto own = lastTime(times)) {
            return own;
        }
    }
    return std::nullopt;
}

std::optional<LineNumber> TimeIndex::firstLineAtOrAfter(TimeMs t, const Reader& read) const
{
    if (m_latest == NoTime || m_latest < t) {
        return std::nullopt;
    }
    // The first group whose running latest reaches t holds the line; a partial last group
    // counts as one when no complete group does. The running latest before it is below t,
    // so the line is the first whose own time reaches t.
    const auto it = std::partition_point(m_groups.begin(), m_groups.end(),
                                         [t](const Group& g) { return g.latest < t; });
    const auto group = LineNumber(it - m_groups.begin());
    std::vector<std::optional<TimeMs>> times;
    const auto firstReaching = [&](LineNumber first, LineNumber end) -> std::optional<LineNumber> {
        if (!read(first, end, times)) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < times.size(); ++i) {
            if (times[i] && *times[i] >= t) {
                return first + LineNumber(i);
            }
        }
        return std::nullopt;
    };
    // After a sampled group the lines its sample did not show may reach t already.
    if (group > 0 && m_groups[group - 1].carried == Unread) {
        if (const auto line = firstReaching((group - 1) * GroupLines, group * GroupLines)) {
            return line;
        }
    }
    const LineNumber first = group * GroupLines;
    // None: the lines read are not those indexed (the file changed).
    return firstReaching(first, std::min(m_lines, first + GroupLines));
}

std::size_t TimeIndex::memoryBytes() const
{
    // libstdc++'s deque: nodes of 512 bytes, and a map of node pointers that doubles.
    constexpr std::size_t NodeBytes = 512;
    const std::size_t nodes = m_groups.size() * sizeof(Group) / NodeBytes + 1;
    return sizeof(*this) + nodes * (NodeBytes + 2 * sizeof(void*)) +
           m_blocks.capacity() * sizeof(Block);
}
