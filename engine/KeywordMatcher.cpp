#include "engine/KeywordMatcher.h"

namespace {

inline char16_t upperAscii(char16_t c)
{
    return char16_t(c - ((c >= u'a' && c <= u'z') ? (u'a' - u'A') : 0));
}

// The first occurrence of text in line with a-z and A-Z compared alike. Neither is copied:
// a line of many megabytes costs no second copy, and ten thousand keywords no allocations.
std::size_t findIgnoringCase(std::u16string_view line, std::u16string_view text)
{
    if (text.empty()) {
        return 0;
    }
    if (text.size() > line.size()) {
        return std::u16string_view::npos;
    }
    const char16_t first = upperAscii(text[0]);
    const std::size_t last = line.size() - text.size();
    for (std::size_t i = 0; i <= last; ++i) {
        if (upperAscii(line[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < text.size() && upperAscii(line[i + k]) == upperAscii(text[k])) {
            ++k;
        }
        if (k == text.size()) {
            return i;
        }
    }
    return std::u16string_view::npos;
}

} // namespace

bool IsWordDelimiter(char16_t character)
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

bool WholeWordAt(std::u16string_view line, std::size_t length, std::size_t position)
{
    const std::size_t end = position + length;
    if (end < line.size() && !IsWordDelimiter(line[end])) {
        return false;
    }
    return position == 0 || IsWordDelimiter(line[position - 1]);
}

const CKeyword* FindKeyword(const std::vector<CKeyword>& keywords, std::u16string_view line)
{
    for (const CKeyword& keyword : keywords) {
        if (!keyword.m_bEnabled) {
            continue;
        }
        const std::size_t position = keyword.m_bMatchCase
                                         ? line.find(keyword.m_strText)
                                         : findIgnoringCase(line, keyword.m_strText);
        if (position == std::u16string_view::npos) {
            continue;
        }
        if (keyword.m_bMatchWord && !WholeWordAt(line, keyword.m_strText.size(), position)) {
            continue;
        }
        return &keyword;
    }
    return nullptr;
}

void GetKeywordColors(const std::vector<CKeyword>& keywords, std::u16string_view line,
                      ColorRef& textColor, ColorRef& bkColor, bool& matched)
{
    if (const CKeyword* keyword = FindKeyword(keywords, line)) {
        textColor = keyword->m_crTextColor;
        bkColor = keyword->m_crBkColor;
        matched = true;
    }
}
