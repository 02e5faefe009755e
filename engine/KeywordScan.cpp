#include "engine/KeywordScan.h"

#include "engine/BytePattern.h"
#include "engine/KeywordMatcher.h"
#include "engine/LineText.h"
#include "engine/SgrParser.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// What the search is tuned on: enough lines to tell a common word from a rare one.
constexpr std::size_t TuneSampleBytes = 256 << 10;

// The delimiters of KeywordMatcher's whole-word rule, as the ASCII bytes they are in UTF-8:
// asked on every keyword line, so looked up in a table made from the rule itself, once, before
// any scan (a table made on first use would be guarded on every call).
const std::array<bool, 256> DelimiterBytes = [] {
    std::array<bool, 256> delimiters{};
    for (int c = 0; c < 0x80; ++c) {
        delimiters[std::size_t(c)] = isWordDelimiter(char16_t(c));
    }
    return delimiters;
}();

inline bool isDelimiterByte(std::uint8_t b)
{
    return DelimiterBytes[b];
}

// The end of a line's text among its bytes: without a final LF, a CR before it, or a final
// CR (stripTerminator's rule).
std::size_t contentEnd(const std::uint8_t* bytes, std::size_t from, std::size_t to)
{
    if (to > from && bytes[to - 1] == '\n') {
        --to;
    }
    if (to > from && bytes[to - 1] == '\r') {
        --to;
    }
    return to;
}

} // namespace

KeywordScan::KeywordScan(std::vector<Keyword> keywords, quill::TextEncoding form,
                         const TextShowing& showing)
    : m_keywords(std::move(keywords)), m_form(form), m_terminal(showing.terminal),
      m_showing(showing)
{
    for (std::size_t index = 0; index < m_keywords.size() && m_presearch; ++index) {
        const Keyword& keyword = m_keywords[index];
        if (!keyword.enabled || keyword.matchOnly) {
            continue; // colours no line
        }
        std::u16string text = keyword.text;
        if (!keyword.matchCase) {
            foldAsciiCase(text);
        }
        const BytePattern pattern = makeBytePattern(text, m_form, keyword.matchCase);
        if (pattern.impossible) {
            continue; // no line can hold it
        }
        if (!pattern.usable || pattern.bytes.empty()) {
            m_presearch = false;
            break;
        }
        m_patterns.add(pattern.bytes, !keyword.matchCase);
        m_needles.push_back(
            {std::uint32_t(index), pattern.bytes.size(), pattern.exact, keyword.matchWord});
    }
    m_seen.assign(m_needles.size(), 0);
    m_first.assign(m_needles.size(), 0);
}

void KeywordScan::decodeLine(const std::uint8_t* bytes, const FileOffset* starts, std::size_t row,
                             std::vector<Line>& lines)
{
    const std::size_t from = std::size_t(starts[row] - starts[0]);
    const std::size_t to = std::size_t(starts[row + 1] - starts[0]);
    m_text.clear();
    decodeLineBytes(bytes + from, to - from, m_form, m_text);
    showLineText(m_text, nullptr, m_showing);
    if (const Keyword* keyword = findKeyword(m_keywords, stripTerminator(m_text))) {
        lines.push_back({std::uint32_t(row), std::uint32_t(keyword - m_keywords.data())});
    }
}

bool KeywordScan::standsAsWord(const std::uint8_t* bytes, std::size_t lineStart,
                               std::size_t lineEnd, std::size_t at, std::size_t length)
{
    const std::size_t after = at + length;
    const bool wordStart = at == lineStart || isDelimiterByte(bytes[at - 1]);
    // The line's end (before its terminator) counts as a delimiter.
    const bool wordEnd = (after < lineEnd && isDelimiterByte(bytes[after])) ||
                         after >= contentEnd(bytes, lineStart, lineEnd);
    return wordStart && wordEnd;
}

void KeywordScan::settle(const std::uint8_t* bytes, const FileOffset* starts, std::size_t row,
                         std::vector<Line>& lines)
{
    // Needles are in list order: the first that holds is the line's keyword. A line has
    // one or two, seldom more.
    for (std::size_t i = 1; i < m_lineNeedles.size(); ++i) {
        for (std::size_t k = i; k > 0 && m_lineNeedles[k - 1] > m_lineNeedles[k]; --k) {
            std::swap(m_lineNeedles[k - 1], m_lineNeedles[k]);
        }
    }
    for (std::uint32_t index : m_lineNeedles) {
        const Needle& needle = m_needles[index];
        if (!needle.exact) {
            decodeLine(bytes, starts, row, lines);
            return;
        }
        // Only the first occurrence counts, as in findKeyword.
        if (needle.wholeWord && !standsAsWord(bytes, std::size_t(starts[row] - starts[0]),
                                              std::size_t(starts[row + 1] - starts[0]),
                                              m_first[index], needle.length)) {
            continue;
        }
        lines.push_back({std::uint32_t(row), needle.keyword});
        return;
    }
}

void KeywordScan::scan(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count,
                       std::vector<Line>& lines)
{
    if (count == 0) {
        return;
    }
    if (!m_presearch) {
        for (std::size_t row = 0; row < count; ++row) {
            decodeLine(bytes, starts, row, lines);
        }
        return;
    }
    const FileOffset base = starts[0];
    const std::size_t n = std::size_t(starts[count] - base);
    if (!m_tuned && n > 0) {
        m_patterns.tune(bytes, std::min(n, TuneSampleBytes));
        m_tuned = true;
    }
    m_hits.clear();
    m_patterns.find(bytes, n, m_hits);
    // While sequences are hidden, a line with one shows other text than its bytes.
    m_escapeRows.clear();
    if (m_terminal) {
        std::size_t row = 0;
        for (std::size_t pos = 0; pos < n;) {
            const void* found = std::memchr(bytes + pos, 0x1B, n - pos);
            if (found == nullptr) {
                break;
            }
            const std::size_t at = std::size_t(static_cast<const std::uint8_t*>(found) - bytes);
            while (std::size_t(starts[row + 1] - base) <= at) {
                ++row;
            }
            m_escapeRows.push_back(std::uint32_t(row));
            pos = std::size_t(starts[row + 1] - base);
            ++row;
        }
    }
    // A carriage return inside a line writes over its start: such a line, too, shows
    // other text than its bytes.
    const std::size_t escapes = m_escapeRows.size();
    for (std::size_t pos = 0, row = 0; pos < n;) {
        const std::uint8_t* cr = findInnerCarriageReturn(bytes + pos, bytes + n, m_form);
        if (cr == nullptr) {
            break;
        }
        const std::size_t at = std::size_t(cr - bytes);
        while (std::size_t(starts[row + 1] - base) <= at) {
            ++row;
        }
        m_escapeRows.push_back(std::uint32_t(row));
        pos = std::size_t(starts[row + 1] - base);
        ++row;
    }
    if (escapes != 0 && escapes != m_escapeRows.size()) {
        std::inplace_merge(m_escapeRows.begin(), m_escapeRows.begin() + std::ptrdiff_t(escapes),
                           m_escapeRows.end());
        m_escapeRows.erase(std::unique(m_escapeRows.begin(), m_escapeRows.end()),
                           m_escapeRows.end());
    }
    std::size_t escape = 0;
    auto decodeEscapesBefore = [&](std::size_t row) {
        for (; escape < m_escapeRows.size() && m_escapeRows[escape] < row; ++escape) {
            decodeLine(bytes, starts, m_escapeRows[escape], lines);
        }
    };
    std::size_t row = 0;
    for (std::size_t h = 0; h < m_hits.size();) {
        // Hits come by their anchors, which lie inside the occurrences: a line's hits follow
        // each other. The hit's row is the first whose end is past its anchor (the ends
        // ascend, the last is past every anchor): four rows a step, then the last few counted
        // rather than branched on, since how many rows lie between two hits is anyone's guess
        // and a wrong guess costs more than the loads.
        const FileOffset limit = base + FileOffset(m_hits[h].anchor);
        const FileOffset* const ends = starts + 1;
        while (row + 4 <= count && ends[row + 3] <= limit) {
            row += 4;
        }
        if (row + 3 <= count) {
            row += std::size_t(ends[row] <= limit) + std::size_t(ends[row + 1] <= limit) +
                   std::size_t(ends[row + 2] <= limit);
        } else {
            while (ends[row] <= limit) {
                ++row;
            }
        }
        const std::size_t rowEnd = std::size_t(starts[row + 1] - base);
        const bool single = h + 1 == m_hits.size() || m_hits[h + 1].anchor >= rowEnd;
        const MultiPattern::Hit hit = m_hits[h];
        if (!single) {
            m_lineNeedles.clear();
            ++m_stamp;
            for (; h < m_hits.size() && m_hits[h].anchor < rowEnd; ++h) {
                const std::uint32_t needle = m_hits[h].pattern;
                if (m_seen[needle] != m_stamp) {
                    m_seen[needle] = m_stamp;
                    m_first[needle] = m_hits[h].start;
                    m_lineNeedles.push_back(needle);
                }
            }
        } else {
            ++h;
        }
        decodeEscapesBefore(row);
        const Needle& needle = m_needles[hit.pattern];
        if (escape < m_escapeRows.size() && m_escapeRows[escape] == row) {
            ++escape;
            decodeLine(bytes, starts, row, lines);
        } else if (!single) {
            settle(bytes, starts, row, lines);
        } else if (!needle.exact) {
            decodeLine(bytes, starts, row, lines);
        } else if (!needle.wholeWord || standsAsWord(bytes, std::size_t(starts[row] - base), rowEnd,
                                                     hit.start, needle.length)) {
            // Most keyword lines hold one hit: settled here, as settle() would.
            lines.push_back({std::uint32_t(row), needle.keyword});
        }
        ++row;
    }
    decodeEscapesBefore(count);
}
