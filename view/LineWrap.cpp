#include "view/LineWrap.h"

#include "platform/Contract.h"

#include <algorithm>

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

// Enough of a segment to tell it from the text that held its place before: its length,
// its first and last characters and a spread between them.
std::uint64_t sampleOf(QStringView text, qsizetype begin, qsizetype end)
{
    std::uint64_t sample = std::uint64_t(end - begin) * 1099511628211ull;
    const qsizetype length = end - begin;
    if (length == 0) {
        return sample;
    }
    auto mix = [&](qsizetype at) {
        sample = (sample ^ text[at].unicode()) * 1099511628211ull;
    };
    for (qsizetype k = 0; k < 16; ++k) {
        mix(begin + k * (length - 1) / 15);
    }
    for (qsizetype at = std::max(begin, end - 8); at < end; ++at) {
        mix(at);
    }
    return sample;
}

} // namespace

LineWrap::LineWrap(qsizetype segmentChars) : m_segmentChars(std::max<qsizetype>(2, segmentChars))
{
}

void LineWrap::setGeometry(const LogRenderer* renderer, int width)
{
    const QFont font = renderer != nullptr ? renderer->font() : QFont();
    if (renderer == m_renderer && width == m_width && font == m_font) {
        return;
    }
    m_renderer = renderer;
    m_width = width;
    m_font = font;
    forget();
}

void LineWrap::forget()
{
    m_kept.clear();
    m_order.clear();
}

qsizetype LineWrap::breakRow(QStringView text, qsizetype start, qsizetype limit) const
{
    QUILL_ASSERT(m_renderer != nullptr && start < limit && limit <= text.size());
    qint64 x = 0;
    qsizetype afterBlank = -1;
    qsizetype i = start;
    while (i < limit) {
        const char16_t c = text[i].unicode();
        qint64 right = x;
        const qsizetype next = m_renderer->step(text, i, right);
        if (right > m_width && i > start) {
            if (isBlank(c)) {
                // The blanks that reach over stay at the row's end, all of them: the next
                // row starts with the text after them.
                qsizetype end = next;
                while (end < limit && isBlank(text[end].unicode()) && end - start < MaxRowChars) {
                    ++end;
                }
                return end;
            }
            return afterBlank >= 0 ? afterBlank : i;
        }
        if (isBlank(c)) {
            afterBlank = next;
        }
        x = right;
        i = next;
        if (i - start >= MaxRowChars) {
            break;
        }
    }
    return std::min(i, limit);
}

qsizetype LineWrap::boundary(QStringView text, qsizetype position)
{
    if (position > 0 && position < text.size() && text[position].isLowSurrogate() &&
        text[position - 1].isHighSurrogate()) {
        return position + 1;
    }
    return std::min(position, text.size());
}

qsizetype LineWrap::segmentCount(QStringView text) const
{
    const qsizetype n = text.size();
    if (n == 0) {
        return 1;
    }
    qsizetype count = (n + m_segmentChars - 1) / m_segmentChars;
    // The last nominal start may have moved onto the text's end past a pair.
    if (count > 1 && boundary(text, (count - 1) * m_segmentChars) >= n) {
        --count;
    }
    return count;
}

LineWrap::Segment LineWrap::segmentAt(QStringView text, qsizetype index) const
{
    const qsizetype begin = index == 0 ? 0 : boundary(text, index * m_segmentChars);
    const qsizetype end =
        index + 1 >= segmentCount(text) ? text.size() : boundary(text, (index + 1) * m_segmentChars);
    return {begin, end};
}

qsizetype LineWrap::segmentOf(QStringView text, qsizetype position) const
{
    const qsizetype count = segmentCount(text);
    qsizetype index = std::min(position / m_segmentChars, count - 1);
    if (index > 0 && position < segmentAt(text, index).begin) {
        --index;
    }
    return index;
}

const std::vector<qsizetype>& LineWrap::layout(std::uint64_t key, QStringView text,
                                               qsizetype index)
{
    const Segment segment = segmentAt(text, index);
    const std::uint64_t sample = sampleOf(text, segment.begin, segment.end);
    const SegmentKey id{key, index};
    auto found = m_kept.find(id);
    if (found != m_kept.end()) {
        m_order.splice(m_order.end(), m_order, found->second.place);
        Layout& kept = found->second.layout;
        if (kept.length == segment.end - segment.begin && kept.sample == sample) {
            return kept.starts;
        }
    } else {
        if (m_kept.size() >= KeptSegments) {
            m_kept.erase(m_order.front());
            m_order.pop_front();
        }
        m_order.push_back(id);
        found = m_kept.emplace(id, Kept{{}, std::prev(m_order.end())}).first;
    }
    Layout& fresh = found->second.layout;
    fresh.length = segment.end - segment.begin;
    fresh.sample = sample;
    fresh.starts.clear();
    fresh.starts.push_back(segment.begin);
    for (qsizetype at = segment.begin; at < segment.end;) {
        at = breakRow(text, at, segment.end);
        if (at < segment.end) {
            fresh.starts.push_back(at);
        }
    }
    return fresh.starts;
}

std::uint64_t LineWrap::segmentRows(std::uint64_t key, QStringView text, qsizetype index) const
{
    const Segment segment = segmentAt(text, index);
    auto found = m_kept.find(SegmentKey{key, index});
    if (found != m_kept.end() && found->second.layout.length == segment.end - segment.begin) {
        return found->second.layout.starts.size();
    }
    const qint64 average = m_renderer != nullptr ? m_renderer->averageCharWidth() : 1;
    const qint64 wide = qint64(segment.end - segment.begin) * std::max<qint64>(1, average);
    const qint64 width = std::max(1, m_width);
    return std::uint64_t(std::max<qint64>(1, (wide + width - 1) / width));
}

qsizetype LineWrap::rowStart(std::uint64_t key, QStringView text, qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    const std::vector<qsizetype>& starts = layout(key, text, segmentOf(text, position));
    const auto after = std::upper_bound(starts.begin(), starts.end(), position);
    return *std::prev(after);
}

qsizetype LineWrap::rowEnd(std::uint64_t key, QStringView text, qsizetype start)
{
    const qsizetype index = segmentOf(text, start);
    const std::vector<qsizetype>& starts = layout(key, text, index);
    const auto after = std::upper_bound(starts.begin(), starts.end(), start);
    return after != starts.end() ? *after : segmentAt(text, index).end;
}

std::optional<qsizetype> LineWrap::nextRow(std::uint64_t key, QStringView text, qsizetype start)
{
    const qsizetype end = rowEnd(key, text, start);
    if (end >= text.size()) {
        return std::nullopt;
    }
    return end;
}

std::optional<qsizetype> LineWrap::previousRow(std::uint64_t key, QStringView text,
                                               qsizetype start)
{
    if (start <= 0) {
        return std::nullopt;
    }
    return rowStart(key, text, start - 1);
}

qsizetype LineWrap::lastRowStart(std::uint64_t key, QStringView text)
{
    return layout(key, text, segmentCount(text) - 1).back();
}

std::uint64_t LineWrap::rowNumber(std::uint64_t key, QStringView text, qsizetype start)
{
    const qsizetype index = segmentOf(text, start);
    std::uint64_t before = 0;
    for (qsizetype k = 0; k < index; ++k) {
        before += segmentRows(key, text, k);
    }
    const std::vector<qsizetype>& starts = layout(key, text, index);
    const auto after = std::upper_bound(starts.begin(), starts.end(), start);
    return before + std::uint64_t(std::prev(after) - starts.begin());
}

std::uint64_t LineWrap::rowCount(std::uint64_t key, QStringView text)
{
    const qsizetype count = segmentCount(text);
    if (count == 1) {
        return layout(key, text, 0).size();
    }
    std::uint64_t rows = 0;
    for (qsizetype k = 0; k < count; ++k) {
        rows += segmentRows(key, text, k);
    }
    return rows;
}

qsizetype LineWrap::rowStartOf(std::uint64_t key, QStringView text, std::uint64_t number)
{
    const qsizetype count = segmentCount(text);
    qsizetype index = 0;
    for (; index + 1 < count; ++index) {
        const std::uint64_t rows = segmentRows(key, text, index);
        if (number < rows) {
            break;
        }
        number -= rows;
    }
    const std::vector<qsizetype>& starts = layout(key, text, index);
    return starts[std::size_t(std::min<std::uint64_t>(number, starts.size() - 1))];
}
