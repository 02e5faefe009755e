#include "engine/KeywordMatcher.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline char16_t upperAscii(char16_t c)
{
    return char16_t(c - ((c >= u'a' && c <= u'z') ? (u'a' - u'A') : 0));
}

// The first index at or after i whose character is a or b. Eight characters a step: a
// keyword is looked for in every line shown, and a line may be many megabytes long.
std::size_t findEither(std::u16string_view line, std::size_t i, char16_t a, char16_t b)
{
    const char16_t* p = line.data();
    const std::size_t n = line.size();
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)));
        if (mask != 0) {
            return i + std::size_t(__builtin_ctz(unsigned(mask))) / 2;
        }
    }
#endif
    for (; i < n; ++i) {
        if (p[i] == a || p[i] == b) {
            return i;
        }
    }
    return std::u16string_view::npos;
}

// The first occurrence of text in line, with a-z and A-Z compared alike unless matchCase.
// Neither is copied: a line of many megabytes costs no second copy, and ten thousand
// keywords no allocations.
std::size_t findText(std::u16string_view line, std::u16string_view text, bool matchCase,
                     std::size_t from = 0)
{
    if (text.empty()) {
        return from <= line.size() ? from : std::u16string_view::npos;
    }
    if (text.size() > line.size()) {
        return std::u16string_view::npos;
    }
    const char16_t upper = upperAscii(text[0]);
    const char16_t first = matchCase ? text[0] : upper;
    const char16_t other =
        matchCase ? text[0]
                  : char16_t(upper + ((upper >= u'A' && upper <= u'Z') ? (u'a' - u'A') : 0));
    const std::size_t last = line.size() - text.size();
    for (std::size_t i = findEither(line, from, first, other);
         i != std::u16string_view::npos && i <= last; i = findEither(line, i + 1, first, other)) {
        std::size_t k = 1;
        if (matchCase) {
            while (k < text.size() && line[i + k] == text[k]) {
                ++k;
            }
        } else {
            while (k < text.size() && upperAscii(line[i + k]) == upperAscii(text[k])) {
                ++k;
            }
        }
        if (k == text.size()) {
            return i;
        }
    }
    return std::u16string_view::npos;
}

} // namespace

bool isWordDelimiter(char16_t character)
{
    switch (character) {
    case u'\t':
    case u' ':
    case u',':
    case u';':
    case u':':
    case u'\\':
    case u'/':
    case u'.':
        return true;
    default:
        return false;
    }
}

bool wholeWordAt(std::u16string_view line, std::size_t length, std::size_t position)
{
    const std::size_t end = position + length;
    if (end < line.size() && !isWordDelimiter(line[end])) {
        return false;
    }
    return position == 0 || isWordDelimiter(line[position - 1]);
}

const Keyword* findKeyword(const std::vector<Keyword>& keywords, std::u16string_view line)
{
    for (const Keyword& keyword : keywords) {
        if (!keyword.enabled || keyword.matchOnly) {
            continue;
        }
        const std::size_t position = findText(line, keyword.text, keyword.matchCase);
        if (position == std::u16string_view::npos) {
            continue;
        }
        if (keyword.matchWord && !wholeWordAt(line, keyword.text.size(), position)) {
            continue;
        }
        return &keyword;
    }
    return nullptr;
}

void keywordColors(const std::vector<Keyword>& keywords, std::u16string_view line,
                   ColorRef& textColor, ColorRef& bkColor, bool& matched)
{
    if (const Keyword* keyword = findKeyword(keywords, line)) {
        textColor = keyword->textColor;
        bkColor = keyword->backgroundColor;
        matched = true;
    }
}

void matchRuns(const std::vector<Keyword>& keywords, std::u16string_view line, std::size_t from,
               std::size_t to, StyleRuns& runs)
{
    runs.clear();
    to = std::min(to, line.size());
    if (from >= to) {
        return;
    }
    StyleRuns mine;
    for (const Keyword& keyword : keywords) {
        if (!keyword.enabled || !keyword.matchOnly || keyword.text.empty()) {
            continue;
        }
        const std::size_t length = keyword.text.size();
        mine.clear();
        // Every occurrence that reaches into [from, to), overlapping ones too: which
        // characters are coloured does not depend on where the look started.
        std::size_t i = from >= length ? from - length + 1 : 0;
        for (std::size_t at = findText(line, keyword.text, keyword.matchCase, i);
             at != std::u16string_view::npos && at < to;
             at = findText(line, keyword.text, keyword.matchCase, at + 1)) {
            if (keyword.matchWord && !wholeWordAt(line, length, at)) {
                continue;
            }
            const std::size_t start = std::max(at, from);
            const std::size_t end = std::min(at + length, to);
            if (!mine.empty() && mine.back().end >= start) {
                mine.back().end = std::max(mine.back().end, end);
                continue;
            }
            StyleRun run;
            run.start = start;
            run.end = end;
            run.hasText = true;
            run.hasBackground = true;
            run.text = keyword.textColor;
            run.background = keyword.backgroundColor;
            mine.push_back(run);
        }
        // A keyword earlier in the list wins where two colour the same characters.
        runs = overlayRuns(mine, runs);
    }
}
