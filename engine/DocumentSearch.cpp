// LogDocument::find: the line-by-line rule of the find dialog, made fast by a byte-level
// pre-search over the file. A line can only hold the text when its bytes hold the text's
// bytes (UTF-16 LE or UTF-8, ASCII letters folded when case is ignored), so the file is
// scanned in large reads (memchr for the pattern's rarest-looking byte, memmem where that
// byte turns out common), and only the lines with a byte hit are decoded and
// checked with the exact rule. A single-byte narrow set (ISO-8859-15, CP1252, KOI8-R, ...)
// maps each character to one byte, so it gets the same pre-search. Where the bytes of a
// match cannot be predicted (a multi-byte narrow set other than UTF-8, or a text with U+FFFD
// or the lone-CR symbol, which decoding produces from other bytes) every line is checked,
// decoded from large reads of whole lines. With terminal colours on, the reads are of whole
// lines, searched as shown: a read that holds an ESC loses its control sequences first, so
// a text that a sequence splits in the bytes is found where it is whole on the screen.

#include "engine/BytePattern.h"
#include "engine/DocumentHost.h"
#include "engine/LineText.h"
#include "engine/LogDocument.h"
#include "engine/LongLine.h"
#include "engine/RegexFind.h"
#include "engine/SgrParser.h"
#include "engine/ShownLines.h"
#include "engine/ShownText.h"
#include "engine/TwoLanes.h"
#include "platform/Contract.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t SearchReadSize = std::size_t{256} << 10;
// Lines decoded one by one are read in blocks of whole lines of about this size.
constexpr FileOffset LinesReadSize = 1 << 20;

// The line feeds in [p, p + n), sixteen bytes a step.
std::size_t countLineFeeds(const std::uint8_t* p, std::size_t n)
{
    std::size_t count = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    for (; n - i >= 16; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        count +=
            std::size_t(__builtin_popcount(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, feed)))));
    }
#endif
    for (; i < n; ++i) {
        count += p[i] == '\n' ? 1 : 0;
    }
    return count;
}

// A long line is searched in pieces of this many columns, each decoded with enough of the
// next one for any occurrence that starts in it.
constexpr std::int64_t LongSearchColumns = std::int64_t{1} << 18;
// Columns decoded before a piece, for the character that decides a whole word.
constexpr std::int64_t LongSearchContext = 4;

struct SearchHit {
    LineNumber line = 0;
    std::int64_t col = 0;
    std::int64_t endCol = -1; // the column of its last character; -1: col + length - 1
};

} // namespace

// Holds docAccess through the document's Find for its whole life.
class DocumentSearch {
  public:
    DocumentSearch(LogDocument& doc, const quill::ReadOnlyFile& file, std::u16string pattern,
                   bool matchCase, bool wholeWord)
        : m_doc(doc), m_index(doc.m_index), m_file(file), m_pattern(std::move(pattern)),
          m_matchCase(matchCase), m_wholeWord(wholeWord)
    {
        m_form = doc.encodingForm();
        BytePattern bytes = makeBytePattern(m_pattern, m_form, m_matchCase);
        // As shown with terminal colours, a line may hold the text across a control
        // sequence that its bytes hold in between: every line is checked as shown.
        m_terminal = doc.terminalColors();
        m_showing = doc.textShowing();
        m_byteMode = bytes.usable && !(m_terminal && quill::isUtf16(m_form));
        m_impossible = bytes.impossible;
        m_rare = bytes.rare;
        m_bytes = std::move(bytes.bytes);
    }

    // A regular expression instead of a text: lines are decoded one by one and matched by
    // the pattern; matchCase stays true, as the pattern itself ignores case or not.
    DocumentSearch(LogDocument& doc, const quill::ReadOnlyFile& file, const FilterPattern& regex,
                   FilterScratch& scratch, RegexFindReport& report)
        : m_doc(doc), m_index(doc.m_index), m_file(file), m_matchCase(true), m_wholeWord(false),
          m_regex(&regex), m_scratch(&scratch), m_report(&report)
    {
        m_form = doc.encodingForm();
        m_terminal = doc.terminalColors();
        m_showing = doc.textShowing();
    }

    std::optional<SearchHit> regexForward(FindPosition from)
    {
        const LineNumber count = m_index.lineCount();
        for (LineNumber first = from.line; first < count;) {
            LineNumber end = first + 1;
            while (end < count &&
                   m_index.lineStart(end + 1) - m_index.lineStart(first) <= LinesReadSize) {
                ++end;
            }
            if (!readLines(first, end)) {
                return std::nullopt;
            }
            for (LineNumber line = first; line < end; ++line) {
                const std::size_t startCol =
                    line == from.line ? std::size_t(std::max<std::int32_t>(0, from.col)) : 0;
                if (auto hit = regexLine(line, m_lines[line - first], startCol, true)) {
                    return hit;
                }
                if (m_report->abandoned) {
                    return std::nullopt;
                }
            }
            first = end;
        }
        return std::nullopt;
    }

    std::optional<SearchHit> regexBackward(FindPosition from)
    {
        const LineNumber count = m_index.lineCount();
        const LineNumber below = std::min<LineNumber>(count, from.line + 1);
        for (LineNumber end = below; end > 0;) {
            LineNumber first = end - 1;
            while (first > 0 &&
                   m_index.lineStart(end) - m_index.lineStart(first - 1) <= LinesReadSize) {
                --first;
            }
            if (!readLines(first, end)) {
                return std::nullopt;
            }
            for (LineNumber line = end; line-- > first;) {
                const std::u16string& text = m_lines[line - first];
                const std::size_t startCol = line == from.line
                                                 ? std::size_t(std::max<std::int32_t>(0, from.col))
                                                 : text.size();
                if (auto hit = regexLine(line, text, startCol, false)) {
                    return hit;
                }
                if (m_report->abandoned) {
                    return std::nullopt;
                }
            }
            end = first;
        }
        return std::nullopt;
    }

    std::optional<SearchHit> forward(FindPosition from)
    {
        const LineNumber count = m_index.lineCount();
        if (from.line >= count || m_impossible) {
            return std::nullopt;
        }
        if (isLong(from.line)) {
            if (auto hit = longForward(from.line, from.col)) {
                return hit;
            }
        } else if (lineText(from.line)) {
            const std::int64_t c = findInLineForward(m_text, m_pattern, from.col, m_wholeWord);
            if (c >= 0) {
                return SearchHit{from.line, c};
            }
        }
        if (m_byteMode && m_terminal) {
            return shownForward(from.line + 1);
        }
        return m_byteMode ? scanForward(from.line + 1) : linesForward(from.line + 1);
    }

    std::optional<SearchHit> backward(FindPosition from)
    {
        const LineNumber count = m_index.lineCount();
        if (m_impossible) {
            return std::nullopt;
        }
        LineNumber below = count;
        if (from.line < count) {
            if (isLong(from.line)) {
                if (auto hit = longBackward(from.line, from.col)) {
                    return hit;
                }
            } else if (lineText(from.line)) {
                const std::int64_t c = findInLineBackward(m_text, m_pattern, from.col, m_wholeWord);
                if (c >= 0) {
                    return SearchHit{from.line, c};
                }
            }
            below = from.line;
        }
        if (m_byteMode && m_terminal) {
            return shownBackward(below);
        }
        return m_byteMode ? scanBackward(below) : linesBackward(below);
    }

  private:
    std::optional<SearchHit> regexLine(LineNumber line, const std::u16string& text,
                                       std::size_t startCol, bool down)
    {
        if (m_scratch->abandoned()) {
            m_report->abandoned = true;
            return std::nullopt;
        }
        if (isLong(line)) {
            ++m_report->undecided; // too long to match a pattern against whole
            return std::nullopt;
        }
        const RegexHit hit = down ? regexFindForward(*m_regex, text, startCol, *m_scratch)
                                  : regexFindBackward(*m_regex, text, startCol, *m_scratch);
        switch (hit.verdict) {
        case FilterPattern::Match:
            return SearchHit{line, std::int64_t(hit.begin), std::int64_t(hit.end) - 1};
        case FilterPattern::Undecided:
            ++m_report->undecided;
            break;
        case FilterPattern::Abandoned:
            m_report->abandoned = true;
            break;
        case FilterPattern::NoMatch:
            break;
        }
        return std::nullopt;
    }

    bool lineText(LineNumber line)
    {
        if (!m_doc.readLineText(m_file, line, m_text)) {
            return false;
        }
        if (!m_matchCase) {
            foldAsciiCase(m_text);
        }
        return true;
    }

    std::optional<SearchHit> verifyForward(LineNumber line)
    {
        if (isLong(line)) {
            return longForward(line, 0);
        }
        if (lineText(line)) {
            const std::int64_t c = findInLineForward(m_text, m_pattern, 0, m_wholeWord);
            if (c >= 0) {
                return SearchHit{line, c};
            }
        }
        return std::nullopt;
    }

    std::optional<SearchHit> verifyBackward(LineNumber line)
    {
        if (isLong(line)) {
            return longBackward(line, LongLineMaxColumns);
        }
        if (lineText(line)) {
            const std::int64_t c =
                findInLineBackward(m_text, m_pattern, std::int64_t(m_text.size()), m_wholeWord);
            if (c >= 0) {
                return SearchHit{line, c};
            }
        }
        return std::nullopt;
    }

    bool isLong(LineNumber line) const
    {
        return std::uint64_t(m_index.lineStart(line + 1) - m_index.lineStart(line)) > LongLineBytes;
    }

    // The text of a long line's columns [first, first + count) with each unit's column,
    // folded as the pattern is; false when unreadable.
    bool longPiece(LineNumber line, std::int64_t textBytes, std::int64_t first, std::int64_t count)
    {
        const std::int64_t unit = longLineUnitBytes(m_form);
        const FileOffset margin = 4 + longSequenceMargin(m_form, m_terminal);
        const FileOffset a = std::max<FileOffset>(0, first * unit - margin);
        const FileOffset b = (first + count) * unit + margin;
        m_raw.resize(std::size_t(b - a));
        const std::int64_t got =
            m_file.readAt(m_raw.data(), m_raw.size(), m_index.lineStart(line) + a);
        if (got < 0) {
            return false;
        }
        m_text.clear();
        m_columns.clear();
        if (m_byteMode && !m_bytes.empty()) {
            // Bytes without the pattern's rarest byte (in either case) hold no occurrence.
            const auto rare = std::uint8_t(m_bytes[m_rare]);
            const bool letter = !m_matchCase && rare >= 'a' && rare <= 'z';
            if (std::memchr(m_raw.data(), rare, std::size_t(got)) == nullptr &&
                (!letter ||
                 std::memchr(m_raw.data(), rare - 'a' + 'A', std::size_t(got)) == nullptr)) {
                return true;
            }
        }
        decodeLongLinePart(m_raw.data(), std::size_t(got), std::uint64_t(a),
                           std::uint64_t(textBytes), first, count, m_form, false, m_text,
                           &m_columns, m_terminal);
        if (!m_matchCase) {
            foldAsciiCase(m_text);
        }
        return true;
    }

    SearchHit longHit(LineNumber line, std::size_t at) const
    {
        return SearchHit{line, m_columns[at], m_columns[at + m_pattern.size() - 1]};
    }

    // The first occurrence that starts at or after column startCol, piece by piece; each
    // piece takes the occurrences that start in it.
    std::optional<SearchHit> longForward(LineNumber line, std::int64_t startCol)
    {
        const std::int64_t textBytes = m_doc.lineTextBytes(m_file, line);
        if (textBytes < 0) {
            return std::nullopt;
        }
        const std::int64_t columns = longLineColumns(std::uint64_t(textBytes), m_form);
        const std::int64_t overlap = 4 * std::int64_t(m_pattern.size()) + LongSearchContext;
        for (std::int64_t piece = std::max<std::int64_t>(0, startCol); piece < columns;
             piece += LongSearchColumns) {
            const std::int64_t first = std::max<std::int64_t>(0, piece - LongSearchContext);
            if (!longPiece(line, textBytes, first, piece + LongSearchColumns + overlap - first)) {
                return std::nullopt;
            }
            const auto from = std::size_t(
                std::lower_bound(m_columns.begin(), m_columns.end(), piece) - m_columns.begin());
            const std::int64_t c =
                findInLineForward(m_text, m_pattern, std::int64_t(from), m_wholeWord);
            if (c >= 0 && m_columns[std::size_t(c)] < piece + LongSearchColumns) {
                return longHit(line, std::size_t(c));
            }
        }
        return std::nullopt;
    }

    // The last occurrence whose last character lies before column startCol, piece by
    // piece from there down; each piece takes the occurrences that start in it.
    std::optional<SearchHit> longBackward(LineNumber line, std::int64_t startCol)
    {
        const std::int64_t textBytes = m_doc.lineTextBytes(m_file, line);
        if (textBytes < 0) {
            return std::nullopt;
        }
        const std::int64_t columns = longLineColumns(std::uint64_t(textBytes), m_form);
        const std::int64_t limit = std::min(startCol, columns);
        const std::int64_t overlap = 4 * std::int64_t(m_pattern.size()) + LongSearchContext;
        for (std::int64_t end = limit; end > 0; end -= LongSearchColumns) {
            const std::int64_t piece = std::max<std::int64_t>(0, end - LongSearchColumns);
            const std::int64_t first = std::max<std::int64_t>(0, piece - LongSearchContext);
            if (!longPiece(line, textBytes, first, std::min(limit, end + overlap) - first)) {
                return std::nullopt;
            }
            const auto stop = std::size_t(
                std::lower_bound(m_columns.begin(), m_columns.end(), limit) - m_columns.begin());
            std::int64_t c = findInLineBackward(m_text, m_pattern, std::int64_t(stop), m_wholeWord);
            while (c >= 0 && m_columns[std::size_t(c)] >= end) {
                // Taken by the piece above, which would have found it had it been allowed.
                c = findInLineBackward(m_text, m_pattern, c + std::int64_t(m_pattern.size()) - 1,
                                       m_wholeWord);
            }
            if (c >= 0 && m_columns[std::size_t(c)] >= piece) {
                return longHit(line, std::size_t(c));
            }
        }
        return std::nullopt;
    }

    // Whole lines from first up to about LinesReadSize bytes (at least one line), decoded
    // into m_lines; the text of line first + i is m_lines[i].
    bool readLines(LineNumber first, LineNumber end)
    {
        const FileOffset base = m_index.lineStart(first);
        if (end == first + 1 && isLong(first)) {
            m_lines.assign(1, std::u16string());
            return true;
        }
        m_raw.resize(std::size_t(m_index.lineStart(end) - base));
        const std::int64_t got = m_file.readAt(m_raw.data(), m_raw.size(), base);
        if (got < 0) {
            return false;
        }
        m_lines.resize(std::size_t(end - first));
        std::u16string decoded;
        for (LineNumber line = first; line < end; ++line) {
            const std::int64_t from = m_index.lineStart(line) - base;
            const std::int64_t to = std::min<std::int64_t>(got, m_index.lineStart(line + 1) - base);
            decoded.clear();
            if (isLong(line)) {
                m_lines[line - first].clear(); // searched in pieces by the caller
                continue;
            }
            if (to > from) {
                decodeLineBytes(m_raw.data() + from, std::size_t(to - from), m_form, decoded);
                showLineText(decoded, nullptr, m_showing);
            }
            std::u16string& text = m_lines[line - first];
            text.assign(stripTerminator(decoded));
            if (!m_matchCase) {
                foldAsciiCase(text);
            }
        }
        return true;
    }

    std::optional<SearchHit> linesForward(LineNumber from)
    {
        const LineNumber count = m_index.lineCount();
        for (LineNumber first = from; first < count;) {
            LineNumber end = first + 1;
            while (end < count &&
                   m_index.lineStart(end + 1) - m_index.lineStart(first) <= LinesReadSize) {
                ++end;
            }
            if (!readLines(first, end)) {
                return std::nullopt;
            }
            for (LineNumber line = first; line < end; ++line) {
                if (isLong(line)) {
                    if (auto hit = longForward(line, 0)) {
                        return hit;
                    }
                    continue;
                }
                const std::int64_t c =
                    findInLineForward(m_lines[line - first], m_pattern, 0, m_wholeWord);
                if (c >= 0) {
                    return SearchHit{line, c};
                }
            }
            first = end;
        }
        return std::nullopt;
    }

    std::optional<SearchHit> linesBackward(LineNumber below)
    {
        for (LineNumber end = below; end > 0;) {
            LineNumber first = end - 1;
            while (first > 0 &&
                   m_index.lineStart(end) - m_index.lineStart(first - 1) <= LinesReadSize) {
                --first;
            }
            if (!readLines(first, end)) {
                return std::nullopt;
            }
            for (LineNumber line = end; line-- > first;) {
                if (isLong(line)) {
                    if (auto hit = longBackward(line, LongLineMaxColumns)) {
                        return hit;
                    }
                    continue;
                }
                const std::u16string& text = m_lines[line - first];
                const std::int64_t c =
                    findInLineBackward(text, m_pattern, std::int64_t(text.size()), m_wholeWord);
                if (c >= 0) {
                    return SearchHit{line, c};
                }
            }
            end = first;
        }
        return std::nullopt;
    }

    // Terminal colours on, in a byte-oriented encoding: a piece of whole lines, read and
    // searched as shown (engine/ShownLines.h), on one of two threads.
    struct ShownPiece {
        LineNumber first = 0;
        std::vector<LineNumber> hits; // the lines with a hit, from first, ascending
        std::vector<std::uint8_t> raw;
        ShownLines shown;
    };

    // The lines [first, end) into piece: the lines with a hit, each to be checked by the
    // exact rule. False when the file cannot be read. Reads only what the search shares.
    bool shownHits(LineNumber first, LineNumber end, ShownPiece& piece) const
    {
        piece.first = first;
        piece.hits.clear();
        if (first >= end) {
            return true;
        }
        const FileOffset base = m_index.lineStart(first);
        std::vector<std::uint8_t>& raw = piece.raw;
        raw.resize(std::size_t(m_index.lineStart(end) - base));
        const std::int64_t got = m_file.readAt(raw.data(), raw.size(), base);
        if (got < 0 || std::size_t(got) != raw.size()) {
            return false; // the file shrank under the search: nothing more to find here
        }
        if (!m_matchCase) {
            foldAsciiBytes(raw.data(), raw.size());
        }
        // The block loses its sequences as one piece: none holds a line feed, so each line
        // loses its own. Without an ESC the bytes are the text shown.
        const bool stripped = piece.shown.stripBlock(raw.data(), raw.size());
        const std::uint8_t* hay = stripped ? piece.shown.bytes() : raw.data();
        const std::size_t length =
            stripped ? std::size_t(piece.shown.starts()[1] - piece.shown.starts()[0]) : raw.size();
        // A hit's line: the line feeds before it, counted on from the last hit's line.
        std::size_t pos = 0;
        LineNumber line = 0;
        while (pos < length) {
            const auto* found = candidate(hay + pos, hay + length, 0);
            if (!found) {
                break;
            }
            const std::size_t at = std::size_t(found - hay);
            line += LineNumber(countLineFeeds(hay + pos, at - pos));
            piece.hits.push_back(line);
            // On from the next line, which starts after the line feed that ends this one.
            const void* feed = std::memchr(found, '\n', length - at);
            if (feed == nullptr) {
                break;
            }
            pos = std::size_t(static_cast<const std::uint8_t*>(feed) - hay) + 1;
            ++line;
        }
        return true;
    }

    // The first line that starts at or after offset (lineCount() past the last).
    LineNumber firstStartingAt(FileOffset offset) const
    {
        const LineNumber count = m_index.lineCount();
        if (offset <= m_index.lineStart(0)) {
            return 0;
        }
        if (offset >= m_index.lineStart(count)) {
            return count;
        }
        const LineNumber line = m_index.lineAt(offset);
        return m_index.lineStart(line) < offset ? line + 1 : line;
    }

    // Piece k of the search: the lines that start in the k-th stretch of ShownPieceBytes
    // from the search's start, forward or backward. A piece is known from k alone, so
    // that either thread can take any. Pieces inside a line longer than a stretch are
    // empty; the line comes whole with the piece where it starts.
    static constexpr FileOffset ShownPieceBytes = FileOffset(SearchReadSize);

    std::optional<SearchHit> shownForward(LineNumber from)
    {
        const LineNumber count = m_index.lineCount();
        if (from >= count) {
            return std::nullopt;
        }
        const FileOffset origin = m_index.lineStart(from);
        TwoLanes<ShownPiece> lanes([&](ShownPiece& piece, std::size_t k) {
            const FileOffset low = origin + FileOffset(k) * ShownPieceBytes;
            if (low >= m_index.lineStart(count)) {
                return false;
            }
            const LineNumber first = k == 0 ? from : firstStartingAt(low);
            return shownHits(first, firstStartingAt(low + ShownPieceBytes), piece);
        });
        while (const ShownPiece* piece = lanes.next()) {
            for (LineNumber k : piece->hits) {
                if (auto hit = verifyForward(piece->first + k)) {
                    return hit;
                }
            }
        }
        return std::nullopt;
    }

    std::optional<SearchHit> shownBackward(LineNumber below)
    {
        if (below == 0) {
            return std::nullopt;
        }
        const FileOffset origin = m_index.lineStart(below);
        TwoLanes<ShownPiece> lanes([&](ShownPiece& piece, std::size_t k) {
            const FileOffset high = origin - FileOffset(k) * ShownPieceBytes;
            if (high <= m_index.lineStart(0)) {
                return false;
            }
            const LineNumber end = k == 0 ? below : firstStartingAt(high);
            return shownHits(firstStartingAt(high - ShownPieceBytes), end, piece);
        });
        while (const ShownPiece* piece = lanes.next()) {
            for (auto it = piece->hits.rbegin(); it != piece->hits.rend(); ++it) {
                if (auto hit = verifyBackward(piece->first + *it)) {
                    return hit;
                }
            }
        }
        return std::nullopt;
    }

    // The first place in [s, end) where a line may hold the text: the text's bytes, or a
    // carriage return inside a line (what follows it writes over the line's start, so the
    // line as shown may hold the text where its bytes do not). offset: the file offset of
    // s, which tells where UTF-16 units start.
    const std::uint8_t* candidate(const std::uint8_t* s, const std::uint8_t* end,
                                  FileOffset offset) const
    {
        const auto* pat = reinterpret_cast<const std::uint8_t*>(m_bytes.data());
        const std::size_t plen = m_bytes.size();
        const std::uint8_t* found =
            end - s >= std::ptrdiff_t(plen) ? findPatternBytes(s, end, pat, plen, m_rare) : nullptr;
        const std::uint8_t* from = s + (quill::isUtf16(m_form) ? offset % 2 : 0);
        const std::uint8_t* cr =
            findInnerCarriageReturn(from, found != nullptr ? found : end, m_form);
        return cr != nullptr ? cr : found;
    }

    bool allocate()
    {
        m_pad = (m_bytes.size() + 63) / 64 * 64;
        m_buffer = std::make_unique<quill::AlignedBuffer>(m_pad + SearchReadSize + m_pad);
        return m_buffer->valid();
    }

    std::optional<SearchHit> scanForward(LineNumber fromLine)
    {
        const LineNumber count = m_index.lineCount();
        if (fromLine >= count || !allocate()) {
            return fromLine >= count ? std::nullopt : linesForward(fromLine);
        }
        const FileOffset end = m_index.end();
        const std::size_t plen = m_bytes.size();
        std::uint8_t* const chunk = m_buffer->data() + m_pad;
        LineNumber nextLine = fromLine;
        FileOffset pos = m_index.lineStart(fromLine);
        std::size_t keep = 0;
        while (pos < end) {
            const std::size_t want = std::size_t(std::min<FileOffset>(end - pos, SearchReadSize));
            const std::int64_t got = m_file.readAt(chunk, want, pos);
            if (got <= 0) {
                break;
            }
            if (!m_matchCase) {
                foldAsciiBytes(chunk, std::size_t(got));
            }
            const std::uint8_t* regionStart = chunk - keep;
            const std::uint8_t* regionEnd = chunk + got;
            const FileOffset regionOffset = pos - FileOffset(keep);
            auto at = [&](FileOffset offset) {
                return regionStart +
                       std::clamp<FileOffset>(offset - regionOffset, 0, regionEnd - regionStart);
            };
            const std::uint8_t* s = at(m_index.lineStart(nextLine));
            while (s < regionEnd) {
                const void* found = candidate(s, regionEnd, regionOffset + (s - regionStart));
                if (!found) {
                    break;
                }
                const FileOffset hitOffset =
                    regionOffset + (static_cast<const std::uint8_t*>(found) - regionStart);
                const LineNumber line = m_index.lineAt(hitOffset);
                if (auto hit = verifyForward(line)) {
                    return hit;
                }
                nextLine = line + 1;
                if (nextLine >= count) {
                    return std::nullopt;
                }
                s = at(m_index.lineStart(nextLine));
            }
            pos += got;
            const FileOffset nextStart = m_index.lineStart(nextLine);
            if (nextStart >= pos) {
                pos = nextStart;
                keep = 0;
            } else {
                // An occurrence may straddle the two reads: carry the tail over.
                const std::uint8_t* tail = std::max(at(nextStart), regionEnd - (plen - 1));
                keep = std::size_t(regionEnd - tail);
                std::memmove(chunk - keep, tail, keep);
            }
            if (std::size_t(got) < want) {
                break;
            }
        }
        return std::nullopt;
    }

    std::optional<SearchHit> scanBackward(LineNumber below)
    {
        if (below == 0 || !allocate()) {
            return below == 0 ? std::nullopt : linesBackward(below);
        }
        const std::size_t plen = m_bytes.size();
        std::uint8_t* const chunk = m_buffer->data() + m_pad;
        const FileOffset low = m_index.lineStart(0);
        const FileOffset high = m_index.lineStart(below);
        LineNumber done = below; // lines at or above this one have been checked
        std::vector<LineNumber> candidates;
        for (FileOffset chunkHigh = high; chunkHigh > low;) {
            const FileOffset chunkLow = std::max(low, chunkHigh - FileOffset(SearchReadSize));
            const FileOffset readEnd = std::min(high, chunkHigh + FileOffset(plen) - 1);
            const std::int64_t got =
                m_file.readAt(chunk, std::size_t(readEnd - chunkLow), chunkLow);
            if (got <= 0) {
                return std::nullopt;
            }
            if (!m_matchCase) {
                foldAsciiBytes(chunk, std::size_t(got));
            }
            const std::uint8_t* const regionEnd = chunk + got;
            candidates.clear();
            const std::uint8_t* s = chunk;
            while (s < regionEnd) {
                const void* found = candidate(s, regionEnd, chunkLow + (s - chunk));
                if (!found) {
                    break;
                }
                const FileOffset hitOffset =
                    chunkLow + (static_cast<const std::uint8_t*>(found) - chunk);
                if (hitOffset >= chunkHigh) {
                    break; // starts in the chunk above, which was searched already
                }
                const LineNumber line = m_index.lineAt(hitOffset);
                if (line >= done) {
                    break;
                }
                candidates.push_back(line);
                const FileOffset next = m_index.lineStart(line + 1);
                if (next - chunkLow >= got) {
                    break;
                }
                s = chunk + (next - chunkLow);
            }
            for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
                if (auto hit = verifyBackward(*it)) {
                    return hit;
                }
                done = *it;
            }
            chunkHigh = chunkLow;
        }
        return std::nullopt;
    }

    LogDocument& m_doc;
    const LineIndex& m_index;
    const quill::ReadOnlyFile& m_file;
    std::u16string m_pattern;
    bool m_matchCase;
    bool m_wholeWord;
    bool m_byteMode = false;
    bool m_terminal = false;
    TextShowing m_showing;
    quill::TextEncoding m_form = quill::TextEncoding::Locale;
    bool m_impossible = false;
    std::size_t m_rare = 0; // index of the pattern byte searched for first
    std::string m_bytes;
    std::vector<std::uint8_t> m_raw;
    std::vector<std::u16string> m_lines;
    std::unique_ptr<quill::AlignedBuffer> m_buffer;
    std::size_t m_pad = 0;
    std::u16string m_text;
    std::vector<std::int64_t> m_columns; // of m_text's units, in a long line
    const FilterPattern* m_regex = nullptr;
    FilterScratch* m_scratch = nullptr;
    RegexFindReport* m_report = nullptr;
};

bool LogDocument::find(const std::u16string& text, bool down, unsigned flags)
{
    {
        std::lock_guard lock(m_docAccess);
        const LineNumber count = m_index.lineCount();
        if (count == 0) {
            return true;
        }
        if (text.empty()) {
            return false;
        }
        const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_nativePath);
        if (!file.isOpen()) {
            return false;
        }
        const bool matchCase = (flags & SearchMatchCase) != 0;
        std::u16string pattern = text;
        if (!matchCase) {
            foldAsciiCase(pattern);
        }
        DocumentSearch search(*this, file, pattern, matchCase, (flags & SearchWholeWord) != 0);
        const std::optional<SearchHit> hit =
            down ? search.forward(m_findPos) : search.backward(m_findPos);
        if (!hit) {
            return false;
        }
        const auto col = std::int32_t(hit->col);
        const auto length = std::int32_t(pattern.size());
        const auto last = hit->endCol >= 0 ? std::int32_t(hit->endCol) : col + length - 1;
        QUILL_ASSERT(hit->line < m_index.lineCount() && col >= 0 && length > 0 && last >= col);
        m_findPos = FindPosition{hit->line, down ? last + 1 : col};
        m_selection = DocSelection{true, hit->line, hit->line, col, last};
    }
    if (m_host) {
        m_host->ensureSelectionVisibleInViews();
        m_host->updateAllViews();
    }
    return true;
}

bool LogDocument::findRegex(const FilterPattern& pattern, bool down, FilterScratch& scratch,
                            RegexFindReport& report)
{
    report = RegexFindReport{};
    {
        std::lock_guard lock(m_docAccess);
        if (m_index.lineCount() == 0) {
            return true;
        }
        const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_nativePath);
        if (!file.isOpen()) {
            return false;
        }
        DocumentSearch search(*this, file, pattern, scratch, report);
        const std::optional<SearchHit> hit =
            down ? search.regexForward(m_findPos) : search.regexBackward(m_findPos);
        if (!hit) {
            return false;
        }
        const auto col = std::int32_t(hit->col);
        const auto last = std::int32_t(hit->endCol);
        QUILL_ASSERT(hit->line < m_index.lineCount() && col >= 0 && last >= col);
        m_findPos = FindPosition{hit->line, down ? last + 1 : col};
        m_selection = DocSelection{true, hit->line, hit->line, col, last};
    }
    if (m_host) {
        m_host->ensureSelectionVisibleInViews();
        m_host->updateAllViews();
    }
    return true;
}
