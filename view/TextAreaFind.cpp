// Find among a text area's rows: a plain text or a regular expression, both ways, read in
// batches from the row source.

#include "view/TextArea.h"

#include "engine/FilterPattern.h"
#include "engine/LineText.h"
#include "engine/RegexFind.h"

#include <algorithm>

bool TextArea::findRows(bool down, const RowMatch& match)
{
    const std::size_t count = rowCount();
    if (count == 0) {
        return false;
    }
    // From the selection (past it going down, before it going up), else from the current
    // row's start or end.
    const DocSelection chosen = selection();
    std::size_t row = std::min(currentRow(), count - 1);
    std::int64_t from = down ? 0 : -1; // -1: the row's end
    if (chosen.valid && chosen.startLine < count) {
        row = down ? std::min<std::size_t>(chosen.endLine, count - 1) : chosen.startLine;
        from = down ? (chosen.endCol < 0 ? std::int64_t(1) << 40 : std::int64_t(chosen.endCol) + 1)
                    : std::int64_t(chosen.startCol);
    }
    std::vector<std::u16string> texts;
    std::size_t at = row;
    while (true) {
        const std::size_t first =
            down ? at : (at + 1 >= FindBatchRows ? at + 1 - FindBatchRows : 0);
        const std::size_t end = down ? std::min(count, at + FindBatchRows) : at + 1;
        texts.clear();
        m_source->copyRows(first, end, texts);
        for (std::size_t i = 0; i < end - first; ++i) {
            const std::size_t r = down ? first + i : end - 1 - i;
            std::u16string_view text;
            if (r - first < texts.size()) {
                text = texts[r - first];
            }
            std::int64_t start = down ? 0 : std::int64_t(text.size());
            if (r == row) {
                start = from < 0 ? std::int64_t(text.size()) : from;
            }
            if (const auto hit = match(text, start, down)) {
                selectInRow(r, std::int32_t(hit->first), std::int32_t(hit->second));
                return true;
            }
        }
        if (down ? end >= count : first == 0) {
            return false;
        }
        at = down ? end : first - 1;
    }
}

bool TextArea::findText(const std::u16string& text, bool down, unsigned flags)
{
    if (text.empty()) {
        return false;
    }
    const bool matchCase = (flags & SearchMatchCase) != 0;
    const bool wholeWord = (flags & SearchWholeWord) != 0;
    std::u16string pattern = text;
    if (!matchCase) {
        foldAsciiCase(pattern);
    }
    std::u16string folded;
    return findRows(down,
                    [&](std::u16string_view line, std::int64_t start,
                        bool forward) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
                        if (!matchCase) {
                            folded.assign(line);
                            foldAsciiCase(folded);
                            line = folded;
                        }
                        const std::int64_t column =
                            forward ? findInLineForward(line, pattern, start, wholeWord)
                                    : findInLineBackward(line, pattern, start, wholeWord);
                        if (column < 0) {
                            return std::nullopt;
                        }
                        return std::pair{column, column + std::int64_t(pattern.size()) - 1};
                    });
}

bool TextArea::findPattern(const FilterPattern& pattern, bool down, std::uint64_t& undecided)
{
    undecided = 0;
    FilterScratch scratch;
    return findRows(down,
                    [&](std::u16string_view line, std::int64_t start,
                        bool forward) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
                        const auto from = std::size_t(
                            std::clamp<std::int64_t>(start, 0, std::int64_t(line.size())));
                        const RegexHit hit = forward
                                                 ? regexFindForward(pattern, line, from, scratch)
                                                 : regexFindBackward(pattern, line, from, scratch);
                        if (hit.verdict == FilterPattern::Undecided) {
                            ++undecided;
                        }
                        if (hit.verdict != FilterPattern::Match) {
                            return std::nullopt;
                        }
                        return std::pair{std::int64_t(hit.begin), std::int64_t(hit.end) - 1};
                    });
}

bool TextArea::jumpToKeywordRow(bool down)
{
    const std::size_t count = rowCount();
    if (m_source == nullptr || count == 0) {
        return false;
    }
    // Batches of rows past the current one, as Find reads them; rows are only ever the lines
    // the filter kept, so a keyword line it hid is passed over.
    std::vector<std::u16string> texts;
    std::size_t at = std::min(currentRow(), count - 1) + (down ? 1 : 0); // down: first; up: end
    while (down ? at < count : at > 0) {
        const std::size_t first = down ? at : at - std::min(at, FindBatchRows);
        const std::size_t end = down ? std::min(count, at + FindBatchRows) : at;
        texts.clear();
        m_source->copyRows(first, end, texts);
        for (std::size_t i = 0; i < end - first; ++i) {
            const std::size_t r = down ? first + i : end - 1 - i;
            if (r - first >= texts.size()) {
                continue;
            }
            ColorRef fore = 0;
            ColorRef back = 0;
            bool matched = false;
            m_source->keywordColors(texts[r - first], fore, back, matched);
            if (matched) {
                selectInRow(r, 0, -1);
                return true;
            }
        }
        at = down ? end : first;
    }
    return false;
}

bool TextArea::jumpAround(const std::vector<std::size_t>& rows, bool next)
{
    const std::size_t count = rowCount();
    if (rows.empty() || count == 0) {
        return false;
    }
    const std::size_t current = std::min(currentRow(), count - 1);
    std::size_t row = 0;
    if (next) {
        const auto after = std::upper_bound(rows.begin(), rows.end(), current);
        row = after != rows.end() ? *after : rows.front();
    } else {
        const auto at = std::lower_bound(rows.begin(), rows.end(), current);
        row = at != rows.begin() ? *(at - 1) : rows.back();
    }
    selectInRow(row, 0, -1);
    return true;
}
