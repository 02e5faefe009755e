#include "engine/KeywordMatcher.h"

namespace {

void upperAscii(std::u16string& text)
{
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') {
            c = char16_t(c - (u'a' - u'A'));
        }
    }
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
    std::u16string upperLine;
    bool haveUpperLine = false;
    for (const CKeyword& keyword : keywords) {
        if (!keyword.m_bEnabled) {
            continue;
        }
        std::size_t position;
        if (keyword.m_bMatchCase) {
            position = line.find(keyword.m_strText);
        } else {
            if (!haveUpperLine) {
                upperLine.assign(line);
                upperAscii(upperLine);
                haveUpperLine = true;
            }
            std::u16string upperText = keyword.m_strText;
            upperAscii(upperText);
            position = upperLine.find(upperText);
        }
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
