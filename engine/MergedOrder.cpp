#include "engine/MergedOrder.h"

#include <algorithm>
#include <bit>
#include <cassert>

namespace {

unsigned widthFor(std::size_t sources)
{
    unsigned width = 1;
    while ((std::size_t{1} << width) < sources) {
        width *= 2;
    }
    return width;
}

// The lowest bit of each field set when any bit of that field is.
std::uint64_t anyBitOfField(std::uint64_t x, unsigned width)
{
    for (unsigned shift = 1; shift < width; shift *= 2) {
        x |= x >> shift;
    }
    return x;
}

// Lines read at once when everything is merged again.
constexpr LineNumber ReadLines = LineNumber{1} << 16;

} // namespace

MergedRows::MergedRows(std::size_t sources)
    : m_sources(std::clamp<std::size_t>(sources, 1, MaxSources)), m_width(widthFor(m_sources)),
      m_perWord(64 / m_width), m_lines(m_sources, 0)
{
    assert(sources >= 1 && sources <= MaxSources);
    m_low = 0;
    for (unsigned i = 0; i < m_perWord; ++i) {
        m_low |= std::uint64_t{1} << (i * m_width);
    }
}

std::uint64_t MergedRows::field(std::size_t row) const
{
    const std::uint64_t mask = (std::uint64_t{1} << m_width) - 1;
    return (m_words[row / m_perWord] >> ((row % m_perWord) * m_width)) & mask;
}

void MergedRows::push(std::size_t source)
{
    assert(source < m_sources);
    if (m_rows % CheckpointRows == 0) {
        m_counts.insert(m_counts.end(), m_lines.begin(), m_lines.end());
    }
    if (m_rows % m_perWord == 0) {
        m_words.push_back(0);
    }
    m_words.back() |= std::uint64_t(source) << ((m_rows % m_perWord) * m_width);
    ++m_lines[source];
    ++m_rows;
}

LineNumber MergedRows::countIn(std::size_t source, std::size_t from, std::size_t to) const
{
    const std::uint64_t pattern = m_low * std::uint64_t(source);
    LineNumber count = 0;
    for (std::size_t row = from; row < to;) {
        const std::size_t first = row % m_perWord;
        const std::size_t last = std::min<std::size_t>(m_perWord, first + (to - row));
        const std::uint64_t differs =
            anyBitOfField(m_words[row / m_perWord] ^ pattern, m_width) & m_low;
        const std::uint64_t upTo =
            last * m_width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (last * m_width)) - 1;
        const std::uint64_t before = (std::uint64_t{1} << (first * m_width)) - 1;
        const std::uint64_t inside = m_low & upTo & ~before;
        count += LineNumber(last - first) - LineNumber(std::popcount(differs & inside));
        row += last - first;
    }
    return count;
}

void MergedRows::truncate(std::size_t rows)
{
    if (rows >= m_rows) {
        return;
    }
    const std::size_t checkpoint = rows / CheckpointRows;
    for (std::size_t s = 0; s < m_sources; ++s) {
        m_lines[s] =
            m_counts[checkpoint * m_sources + s] + countIn(s, checkpoint * CheckpointRows, rows);
    }
    m_words.resize((rows + m_perWord - 1) / m_perWord);
    if (rows % m_perWord != 0) {
        m_words.back() &= (std::uint64_t{1} << ((rows % m_perWord) * m_width)) - 1;
    }
    m_counts.resize((rows + CheckpointRows - 1) / CheckpointRows * m_sources);
    m_rows = rows;
}

void MergedRows::removeSource(std::size_t source)
{
    MergedRows kept(m_sources);
    kept.m_words.reserve(m_words.size());
    for (std::size_t row = 0; row < m_rows; ++row) {
        const auto s = std::size_t(field(row));
        if (s != source) {
            kept.push(s);
        }
    }
    *this = std::move(kept);
}

void MergedRows::insert(std::size_t row, std::size_t source, std::size_t count)
{
    if (row == m_rows) {
        for (std::size_t i = 0; i < count; ++i) {
            push(source);
        }
        return;
    }
    MergedRows moved(m_sources);
    moved.m_words.reserve(m_words.size() + count / m_perWord + 1);
    for (std::size_t r = 0; r < row; ++r) {
        moved.push(std::size_t(field(r)));
    }
    for (std::size_t i = 0; i < count; ++i) {
        moved.push(source);
    }
    for (std::size_t r = row; r < m_rows; ++r) {
        moved.push(std::size_t(field(r)));
    }
    *this = std::move(moved);
}

std::size_t MergedRows::sourceOfRow(std::size_t row) const
{
    assert(row < m_rows);
    return std::size_t(field(row));
}

MergedRows::Place MergedRows::placeOfRow(std::size_t row) const
{
    assert(row < m_rows);
    const auto source = std::size_t(field(row));
    const std::size_t checkpoint = row / CheckpointRows;
    return {source, m_counts[checkpoint * m_sources + source] +
                        countIn(source, checkpoint * CheckpointRows, row)};
}

LineNumber MergedRows::linesBefore(std::size_t source, std::size_t row) const
{
    assert(row <= m_rows);
    if (row == m_rows) {
        return m_lines[source];
    }
    const std::size_t checkpoint = row / CheckpointRows;
    return m_counts[checkpoint * m_sources + source] +
           countIn(source, checkpoint * CheckpointRows, row);
}

std::size_t MergedRows::rowOfLine(std::size_t source, LineNumber line) const
{
    assert(line < m_lines[source]);
    // The last checkpoint before the line: the line lies in its stretch of rows.
    std::size_t low = 0;
    std::size_t high = m_counts.size() / m_sources;
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (m_counts[middle * m_sources + source] <= line) {
            low = middle;
        } else {
            high = middle;
        }
    }
    LineNumber wanted = line - m_counts[low * m_sources + source];
    const std::uint64_t pattern = m_low * std::uint64_t(source);
    std::size_t row = low * CheckpointRows;
    // Whole words while the line lies beyond them.
    while (row + m_perWord <= m_rows) {
        const std::uint64_t differs =
            anyBitOfField(m_words[row / m_perWord] ^ pattern, m_width) & m_low;
        const auto same = LineNumber(m_perWord) - LineNumber(std::popcount(differs));
        if (row % m_perWord != 0 || same > wanted) {
            break;
        }
        wanted -= same;
        row += m_perWord;
    }
    for (; row < m_rows; ++row) {
        if (field(row) == source) {
            if (wanted == 0) {
                return row;
            }
            --wanted;
        }
    }
    assert(false);
    return m_rows;
}

std::vector<std::uint8_t> MergedRows::sourcesFrom(std::size_t first) const
{
    std::vector<std::uint8_t> sources;
    sources.reserve(m_rows > first ? m_rows - first : 0);
    for (std::size_t row = first; row < m_rows; ++row) {
        sources.push_back(std::uint8_t(field(row)));
    }
    return sources;
}

std::size_t MergedRows::memoryBytes() const
{
    return m_words.capacity() * sizeof(std::uint64_t) + m_counts.capacity() * sizeof(LineNumber) +
           m_lines.capacity() * sizeof(LineNumber) + sizeof(*this);
}

MergedOrder::MergedOrder(std::size_t sources, std::size_t keptKeys)
    : m_rows(sources), m_keptKeys(std::max<std::size_t>(keptKeys, 1)),
      m_lastKey(m_rows.sourceCount(), NoTime), m_keyless(m_rows.sourceCount(), 0)
{
}

void MergedOrder::pushRow(std::size_t source, TimeMs key)
{
    m_rows.push(source);
    m_tailKeys.push_back(key);
    if (m_tailKeys.size() > m_keptKeys) {
        m_tailKeys.pop_front();
    }
    m_lastKey[source] = key;
    if (key == NoTime) {
        ++m_keyless[source];
    }
}

void MergedOrder::mergeAfter(std::vector<std::deque<TimeMs>>& keys)
{
    for (;;) {
        std::size_t next = keys.size();
        for (std::size_t s = 0; s < keys.size(); ++s) {
            if (!keys[s].empty() &&
                (next == keys.size() || Key{keys[s].front(), s} < Key{keys[next].front(), next})) {
                next = s;
            }
        }
        if (next == keys.size()) {
            return;
        }
        pushRow(next, keys[next].front());
        keys[next].pop_front();
    }
}

std::size_t MergedOrder::add(std::size_t source, std::span<const TimeMs> own,
                             const TimeReader& read)
{
    std::size_t before = rowCount();
    if (own.empty()) {
        return before;
    }
    std::size_t changed = before;
    if (m_lastKey[source] == NoTime && own.front() == NoTime) {
        // Lines before the source's first time: into the block at the start, after the
        // block's lines of this source and the sources before it.
        const auto leading =
            std::size_t(std::find_if(own.begin(), own.end(), [](TimeMs t) { return t != NoTime; }) -
                        own.begin());
        std::size_t place = 0;
        for (std::size_t s = 0; s <= source; ++s) {
            place += m_keyless[s];
        }
        const std::size_t kept = before - m_tailKeys.size();
        m_rows.insert(place, source, leading);
        if (place >= kept) {
            m_tailKeys.insert(m_tailKeys.begin() + std::ptrdiff_t(place - kept), leading, NoTime);
            while (m_tailKeys.size() > m_keptKeys) {
                m_tailKeys.pop_front();
            }
        }
        m_keyless[source] += leading;
        own = own.subspan(leading);
        changed = place;
        before = rowCount();
        if (own.empty()) {
            return changed;
        }
    }
    std::deque<TimeMs> keys;
    TimeMs running = m_lastKey[source];
    for (const TimeMs time : own) {
        running = std::max(running, time);
        keys.push_back(running);
    }
    const Key first{keys.front(), source};
    const auto keyOfLast = [&] {
        const std::size_t s = m_rows.sourceOfRow(before - 1);
        return Key{m_lastKey[s], s};
    };
    if (before == 0 || keyOfLast() <= first) {
        for (const TimeMs key : keys) {
            pushRow(source, key);
        }
        return changed;
    }
    // The rows are in the order of their keys: the place is the first row whose key is
    // greater, found among the kept keys when it lies there.
    const std::size_t kept = before - m_tailKeys.size();
    if (!m_tailKeys.empty() &&
        (kept == 0 || Key{m_tailKeys.front(), m_rows.sourceOfRow(kept)} <= first)) {
        std::size_t low = kept;
        std::size_t high = before;
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (Key{m_tailKeys[middle - kept], m_rows.sourceOfRow(middle)} <= first) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        const std::size_t place = low;
        std::vector<std::deque<TimeMs>> pending(sourceCount());
        for (std::size_t row = place; row < before; ++row) {
            // Never a row without a key: those lie before any place a key finds.
            pending[m_rows.sourceOfRow(row)].push_back(m_tailKeys[row - kept]);
        }
        pending[source].insert(pending[source].end(), keys.begin(), keys.end());
        m_rows.truncate(place);
        m_tailKeys.resize(place - kept);
        mergeAfter(pending);
        return std::min(changed, place);
    }
    if (mergeAll(source, own, read)) {
        return 0;
    }
    for (const TimeMs key : keys) {
        pushRow(source, key);
    }
    return changed;
}

bool MergedOrder::mergeAll(std::size_t source, std::span<const TimeMs> own, const TimeReader& read)
{
    struct Cursor {
        LineNumber next = 0;
        LineNumber end = 0;
        std::vector<TimeMs> times;
        std::size_t at = 0;
        TimeMs running = NoTime;
        std::span<const TimeMs> extra;
    };
    MergedOrder merged(sourceCount(), m_keptKeys);
    std::vector<Cursor> cursors(sourceCount());
    for (std::size_t s = 0; s < cursors.size(); ++s) {
        cursors[s].end = sourceLines(s);
    }
    cursors[source].extra = own;
    // Fills the cursor's times when they are used up; false when its lines cannot be read.
    const auto fill = [&](Cursor& cursor, std::size_t s) {
        if (cursor.at < cursor.times.size()) {
            return true;
        }
        cursor.times.clear();
        cursor.at = 0;
        if (cursor.next < cursor.end) {
            const LineNumber end = std::min(cursor.end, cursor.next + ReadLines);
            if (!read || !read(s, cursor.next, end, cursor.times) ||
                cursor.times.size() != end - cursor.next) {
                return false;
            }
            cursor.next = end;
        } else if (!cursor.extra.empty()) {
            cursor.times.assign(cursor.extra.begin(), cursor.extra.end());
            cursor.extra = {};
        }
        for (TimeMs& time : cursor.times) {
            cursor.running = std::max(cursor.running, time);
            time = cursor.running;
        }
        return true;
    };
    for (;;) {
        std::size_t next = cursors.size();
        for (std::size_t s = 0; s < cursors.size(); ++s) {
            Cursor& cursor = cursors[s];
            if (!fill(cursor, s)) {
                return false;
            }
            if (cursor.at < cursor.times.size() &&
                (next == cursors.size() || Key{cursor.times[cursor.at], s} <
                                               Key{cursors[next].times[cursors[next].at], next})) {
                next = s;
            }
        }
        if (next == cursors.size()) {
            break;
        }
        merged.pushRow(next, cursors[next].times[cursors[next].at++]);
    }
    *this = std::move(merged);
    return true;
}

std::size_t MergedOrder::restart(std::size_t source)
{
    m_lastKey[source] = NoTime;
    m_keyless[source] = 0;
    if (sourceLines(source) == 0) {
        return rowCount();
    }
    const std::size_t first = m_rows.rowOfLine(source, 0);
    const std::size_t kept = rowCount() - m_tailKeys.size();
    std::deque<TimeMs> tail;
    for (std::size_t row = kept; row < rowCount(); ++row) {
        if (m_rows.sourceOfRow(row) != source) {
            tail.push_back(m_tailKeys[row - kept]);
        }
    }
    m_tailKeys = std::move(tail);
    m_rows.removeSource(source);
    return first;
}

std::size_t MergedOrder::memoryBytes() const
{
    return m_rows.memoryBytes() + m_tailKeys.size() * sizeof(TimeMs) +
           m_lastKey.capacity() * sizeof(TimeMs) + sizeof(*this);
}
