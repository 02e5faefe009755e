#pragma once

// UTF-8 written by the tests themselves, a model independent of the code under test: one
// code point, a string of code points, or UTF-16 (a surrogate pair is one code point).

#include <string>

inline std::string utf8Of(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
    return out;
}

inline std::string utf8Of(const std::u32string& text)
{
    std::string out;
    for (const char32_t c : text) {
        out += utf8Of(c);
    }
    return out;
}

inline std::string utf8Of(const std::u16string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        out += utf8Of(c);
    }
    return out;
}
