#include "engine/BytePattern.h"

#include "engine/LineText.h"
#include "platform/NarrowCodec.h"

void FoldAsciiBytes(std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        // Branch-free so that the compiler vectorises it.
        p[i] = std::uint8_t(p[i] + ((std::uint8_t(p[i] - 'A') < 26) ? 32 : 0));
    }
}

void FoldAsciiBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = std::uint8_t(in[i] + ((std::uint8_t(in[i] - 'A') < 26) ? 32 : 0));
    }
}

bool EncodeUtf8Exact(std::u16string_view text, std::string& out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
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
    }
    return true;
}

BytePattern MakeBytePattern(std::u16string_view text, bool utf16, bool matchCase)
{
    BytePattern pattern;
    const bool special = text.find(LoneCrSymbol) != std::u16string_view::npos ||
                         (!utf16 && text.find(u'\uFFFD') != std::u16string_view::npos);
    if (special) {
        return pattern;
    }
    if (utf16) {
        for (char16_t unit : text) {
            pattern.bytes += char(unit & 0xFF);
            pattern.bytes += char(unit >> 8);
        }
        pattern.usable = true;
    } else if (quill::narrowCharset().isUtf8) {
        pattern.usable = EncodeUtf8Exact(text, pattern.bytes);
        pattern.exact = pattern.usable && !text.empty() &&
                        text.find_first_of(u"\r\n") == std::u16string_view::npos;
    }
    if (pattern.usable && !matchCase) {
        FoldAsciiBytes(reinterpret_cast<std::uint8_t*>(pattern.bytes.data()), pattern.bytes.size());
    }
    return pattern;
}
