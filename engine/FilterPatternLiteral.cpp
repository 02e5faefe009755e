// The filter's literal search over a chunk's bytes (folded when case is ignored) or over its
// lines as terminal colours show them, and the judgments of the lines whose shown text is
// not what their bytes say (sequences joined, carriage returns), which the regular
// expression's search shares.

#include "engine/FilterPattern.h"

#include "engine/LineText.h"
#include "engine/SgrParser.h"
#include "engine/ShownRuns.h"

#include <algorithm>

bool FilterPattern::judgeCarriageReturns(const LineChunk& chunk, FilterScratch& scratch,
                                         std::vector<std::uint32_t>& rows, std::size_t rowsBefore,
                                         std::vector<std::uint32_t>& undecided,
                                         std::size_t undecidedBefore) const
{
    const FileOffset base = chunk.starts[0];
    const std::uint8_t* const end = chunk.bytes + (chunk.starts[chunk.count] - base);
    std::vector<std::uint32_t> lines;
    for (std::size_t line = 0; line < chunk.count;) {
        const std::uint8_t* from = chunk.bytes + (chunk.starts[line] - base);
        const std::uint8_t* cr = findInnerCarriageReturn(from, end, chunk.encoding);
        if (cr == nullptr) {
            break;
        }
        const FileOffset at = base + (cr - chunk.bytes);
        line = std::size_t(
                   std::upper_bound(chunk.starts + line + 1, chunk.starts + chunk.count + 1, at) -
                   chunk.starts) -
               1;
        if (line >= chunk.count) {
            break;
        }
        lines.push_back(std::uint32_t(line));
        ++line;
    }
    if (lines.empty()) {
        return true;
    }
    auto listed = [&](std::uint32_t line) {
        return std::binary_search(lines.begin(), lines.end(), line);
    };
    rows.erase(std::remove_if(rows.begin() + std::ptrdiff_t(rowsBefore), rows.end(), listed),
               rows.end());
    undecided.erase(std::remove_if(undecided.begin() + std::ptrdiff_t(undecidedBefore),
                                   undecided.end(), listed),
                    undecided.end());
    for (const std::uint32_t line : lines) {
        if (scratch.abortRequested()) {
            return false;
        }
        if (!m_codes) {
            if (literalLine(chunk, line, scratch)) {
                rows.push_back(line);
            }
            continue;
        }
        const Verdict verdict = regexLine(chunk, line, scratch);
        if (verdict == Abandoned) {
            return false;
        }
        if (verdict != NoMatch) {
            (verdict == Match ? rows : undecided).push_back(line);
        }
    }
    std::sort(rows.begin() + std::ptrdiff_t(rowsBefore), rows.end());
    std::sort(undecided.begin() + std::ptrdiff_t(undecidedBefore), undecided.end());
    return true;
}

bool FilterPattern::literalLine(const LineChunk& chunk, std::size_t i, FilterScratch& scratch) const
{
    const std::size_t from = std::size_t(chunk.starts[i] - chunk.starts[0]);
    const std::size_t to = std::size_t(chunk.starts[i + 1] - chunk.starts[0]);
    std::u16string& text = scratch.m_text;
    text.clear();
    decodeLineBytes(chunk.bytes + from, to - from, chunk.encoding, text);
    showLineText(text, nullptr, showingOf(chunk));
    text.resize(stripTerminator(text).size());
    if (!m_term.matchCase) {
        foldAsciiCase(text);
    }
    return findInLineForward(text, m_foldedText, 0, m_term.wholeWord) >= 0;
}

bool FilterPattern::matchLiteral(const LineChunk& chunk, FilterScratch& scratch,
                                 std::vector<std::uint32_t>& rows) const
{
    const BytePattern& bytes = m_bytes[std::size_t(chunk.encoding)];
    // The locale's pattern bytes hold for the set the chunk was read in.
    const bool formFits = chunk.encoding != quill::TextEncoding::Locale ||
                          (chunk.form == FilterTextForm::Narrow) == bytes.singleByte;
    if (formFits && bytes.usable && bytes.impossible) {
        return true;
    }
    const bool byteSearch = formFits && bytes.usable && !bytes.bytes.empty();
    if (!byteSearch) {
        for (std::size_t i = 0; i < chunk.count; ++i) {
            if (scratch.abortRequested()) {
                return false;
            }
            if (literalLine(chunk, i, scratch)) {
                rows.push_back(std::uint32_t(i));
            }
        }
        return true;
    }
    if (!chunk.terminal) {
        // Case is ignored by the search itself: the chunk needs no folded copy.
        return searchLiteral(chunk, chunk.bytes, chunk.starts, nullptr, scratch, rows,
                             !m_term.matchCase);
    }
    const std::uint8_t* hay = m_term.matchCase ? chunk.bytes : scratch.folded(chunk);
    if (chunk.terminal &&
        (chunk.form == FilterTextForm::Utf8 || chunk.form == FilterTextForm::Narrow)) {
        // Searched as shown, without the sequences (engine/ShownLines.h); a run without
        // any is searched as it is.
        const ShownLiteral& literal = m_shownBytes[std::size_t(chunk.encoding)];
        return forShownRuns(
            chunk, hay, scratch, rows, nullptr,
            [&](const LineChunk& run, const std::uint8_t* runHay, FilterScratch& runScratch,
                std::vector<std::uint32_t>& runRows, std::vector<std::uint32_t>&) {
                if (!literal.usable()) {
                    return shownLiteral(run, runHay, runScratch, runRows);
                }
                // Only the lines that may hold the literal are taken out of their sequences.
                LineChunk gathered;
                const std::uint8_t* gatheredHay = nullptr;
                if (!gatherShown(literal, run, runHay, runScratch, gathered, gatheredHay)) {
                    return !runScratch.abortRequested();
                }
                std::vector<std::uint32_t>& found = runScratch.m_gatheredRows;
                found.clear();
                if (!shownLiteral(gathered, gatheredHay, runScratch, found)) {
                    return false;
                }
                for (const std::uint32_t row : found) {
                    runRows.push_back(runScratch.m_gatheredLines[row]);
                }
                return true;
            });
    }
    // UTF-16 lines with an escape are checked besides the hits (terminalLines).
    const std::size_t firstRow = rows.size();
    if (!searchLiteral(chunk, hay, chunk.starts, nullptr, scratch, rows)) {
        return false;
    }
    return terminalLines(chunk, scratch, rows, firstRow);
}

bool FilterPattern::shownLiteral(const LineChunk& run, const std::uint8_t* hay,
                                 FilterScratch& scratch, std::vector<std::uint32_t>& rows) const
{
    if (scratch.m_shown.strip(hay, run.starts, run.count)) {
        return searchLiteral(run, scratch.m_shown.bytes(), scratch.m_shown.starts(),
                             &scratch.m_shown, scratch, rows);
    }
    return searchLiteral(run, hay, run.starts, nullptr, scratch, rows);
}

bool FilterPattern::gatherShown(const ShownLiteral& literal, const LineChunk& run,
                                const std::uint8_t* hay, FilterScratch& scratch,
                                LineChunk& gathered, const std::uint8_t*& gatheredHay)
{
    std::vector<std::uint32_t>& lines = scratch.m_gatheredLines;
    lines.clear();
    literal.lines(hay, run.starts, run.count, lines);
    if (lines.empty()) {
        return false;
    }
    const bool folded = hay != run.bytes;
    const FileOffset base = run.starts[0];
    std::vector<FileOffset>& starts = scratch.m_gatheredStarts;
    starts.resize(lines.size() + 1);
    std::size_t size = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        starts[k] = base + FileOffset(size);
        size += std::size_t(run.starts[lines[k] + 1] - run.starts[lines[k]]);
    }
    starts[lines.size()] = base + FileOffset(size);
    scratch.m_gatheredBytes.resize(size);
    if (folded) {
        scratch.m_gatheredHay.resize(size);
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::size_t from = std::size_t(run.starts[lines[k]] - base);
        const std::size_t length = std::size_t(starts[k + 1] - starts[k]);
        const std::size_t to = std::size_t(starts[k] - base);
        std::memcpy(scratch.m_gatheredBytes.data() + to, run.bytes + from, length);
        if (folded) {
            std::memcpy(scratch.m_gatheredHay.data() + to, hay + from, length);
        }
    }
    gathered = run;
    gathered.bytes = scratch.m_gatheredBytes.data();
    gathered.starts = starts.data();
    gathered.count = lines.size();
    gatheredHay = folded ? scratch.m_gatheredHay.data() : gathered.bytes;
    return true;
}

bool FilterPattern::searchLiteral(const LineChunk& chunk, const std::uint8_t* hay,
                                  const FileOffset* starts, const ShownLines* shown,
                                  FilterScratch& scratch, std::vector<std::uint32_t>& rows,
                                  bool ignoreCase) const
{
    const BytePattern& bytes = m_bytes[std::size_t(chunk.encoding)];
    // A byte hit is an occurrence (UTF-8, no whole-word rule) unless a removed sequence
    // joined the halves of a broken character in its line.
    const bool exact =
        bytes.exact && !m_term.wholeWord && (!chunk.terminal || chunk.form == FilterTextForm::Utf8);
    const FileOffset base = starts[0];
    const std::size_t length = std::size_t(starts[chunk.count] - base);
    const auto* needle = reinterpret_cast<const std::uint8_t*>(bytes.bytes.data());
    const std::size_t plen = bytes.bytes.size();
    const ByteFinder finder(needle, plen, bytes.rare, ignoreCase);
    const FileOffset* const startsEnd = starts + chunk.count + 1;
    std::size_t line = 0;
    std::size_t pos = 0;
    while (length - pos >= plen) {
        const void* found = finder.find(hay + pos, hay + length);
        if (!found) {
            break;
        }
        if ((!exact || shown != nullptr) && scratch.abortRequested()) {
            return false;
        }
        const FileOffset at = base + (static_cast<const std::uint8_t*>(found) - hay);
        line = std::size_t(std::upper_bound(starts + line + 1, startsEnd, at) - starts) - 1;
        const bool take = exact && (shown == nullptr || !shown->joined(line));
        if (take || literalLine(chunk, line, scratch)) {
            rows.push_back(std::uint32_t(line));
        }
        if (++line >= chunk.count) {
            break;
        }
        pos = std::size_t(starts[line] - base);
    }
    return true;
}

bool FilterPattern::judgeJoined(const LineChunk& run, FilterScratch& scratch,
                                std::vector<std::uint32_t>& rows, std::size_t rowsBefore,
                                std::vector<std::uint32_t>& undecided,
                                std::size_t undecidedBefore) const
{
    // Where a removed sequence joined the halves of a broken character, the bytes say a
    // character the line does not show: such a line is judged again on its decoded text.
    const std::vector<std::size_t>& joined = scratch.m_shown.joinedLines();
    if (joined.empty()) {
        return true;
    }
    auto isJoined = [&](std::uint32_t line) {
        return std::binary_search(joined.begin(), joined.end(), std::size_t(line));
    };
    rows.erase(std::remove_if(rows.begin() + std::ptrdiff_t(rowsBefore), rows.end(), isJoined),
               rows.end());
    undecided.erase(std::remove_if(undecided.begin() + std::ptrdiff_t(undecidedBefore),
                                   undecided.end(), isJoined),
                    undecided.end());
    const std::size_t rowsKept = rows.size();
    const std::size_t undecidedKept = undecided.size();
    for (const std::size_t line : joined) {
        const Verdict verdict = regexLine(run, line, scratch);
        if (verdict == Abandoned) {
            return false;
        }
        if (verdict != NoMatch) {
            (verdict == Match ? rows : undecided).push_back(std::uint32_t(line));
        }
    }
    std::inplace_merge(rows.begin() + std::ptrdiff_t(rowsBefore),
                       rows.begin() + std::ptrdiff_t(rowsKept), rows.end());
    std::inplace_merge(undecided.begin() + std::ptrdiff_t(undecidedBefore),
                       undecided.begin() + std::ptrdiff_t(undecidedKept), undecided.end());
    return true;
}

bool FilterPattern::terminalLines(const LineChunk& chunk, FilterScratch& scratch,
                                  std::vector<std::uint32_t>& rows, std::size_t firstRow) const
{
    // The rows from firstRow on are in ascending order; lines holding an escape byte that
    // are not among them yet are checked and merged in.
    const FileOffset base = chunk.starts[0];
    const std::size_t length = std::size_t(chunk.starts[chunk.count] - base);
    const FileOffset* const startsEnd = chunk.starts + chunk.count + 1;
    const std::size_t hits = rows.size();
    std::size_t known = firstRow;
    std::size_t line = 0;
    std::size_t pos = 0;
    while (pos < length) {
        const void* found = std::memchr(chunk.bytes + pos, 0x1B, length - pos);
        if (!found) {
            break;
        }
        if (scratch.abortRequested()) {
            return false;
        }
        const FileOffset at = base + (static_cast<const std::uint8_t*>(found) - chunk.bytes);
        line =
            std::size_t(std::upper_bound(chunk.starts + line + 1, startsEnd, at) - chunk.starts) -
            1;
        while (known < hits && rows[known] < line) {
            ++known;
        }
        if ((known >= hits || rows[known] != line) && literalLine(chunk, line, scratch)) {
            rows.push_back(std::uint32_t(line));
        }
        if (++line >= chunk.count) {
            break;
        }
        pos = std::size_t(chunk.starts[line] - base);
    }
    std::inplace_merge(rows.begin() + std::ptrdiff_t(firstRow), rows.begin() + std::ptrdiff_t(hits),
                       rows.end());
    return true;
}
