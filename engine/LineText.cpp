#include "engine/LineText.h"

#include "engine/KeywordMatcher.h"
#include "platform/NarrowCodec.h"

void decodeLineBytes(const std::uint8_t* bytes, std::size_t n, bool utf16, std::u16string& out)
{
    decodeLineBytes(bytes, n, formOf(utf16), out);
}

void decodeLineBytes(const std::uint8_t* bytes, std::size_t n, quill::TextEncoding form,
                     std::u16string& out)
{
    const std::size_t from = out.size();
    if (quill::isUtf16(form)) {
        const std::size_t units = n / 2;
        out.resize(from + units);
        // Which byte of a unit is the high one.
        const int high = form == quill::TextEncoding::Utf16Be ? 0 : 1;
        for (std::size_t i = 0; i < units; ++i) {
            out[from + i] = char16_t(bytes[2 * i + (1 - high)] | (bytes[2 * i + high] << 8));
        }
    } else {
        quill::appendBytesAsUtf16(std::string_view(reinterpret_cast<const char*>(bytes), n), form,
                                  out);
    }
}

void decodeLineBytesResumable(const std::uint8_t* bytes, std::size_t n, bool utf16,
                              std::u16string& out, std::size_t& safeBytes, std::size_t& safeLength)
{
    decodeLineBytesResumable(bytes, n, formOf(utf16), out, safeBytes, safeLength);
}

void decodeLineBytesResumable(const std::uint8_t* bytes, std::size_t n, quill::TextEncoding form,
                              std::u16string& out, std::size_t& safeBytes, std::size_t& safeLength)
{
    using quill::TextEncoding;
    std::size_t k = 0;
    if (quill::isUtf16(form)) {
        const bool big = form == TextEncoding::Utf16Be;
        k = n & ~std::size_t(1);
        while (k >= 2 && bytes[k - (big ? 1 : 2)] == '\r' && bytes[k - (big ? 2 : 1)] == 0) {
            k -= 2;
        }
    } else if (form == TextEncoding::Utf8 ||
               (form == TextEncoding::Locale && quill::narrowCharset().isUtf8)) {
        // An ASCII byte ends every UTF-8 sequence before it, complete or not.
        k = n;
        while (k > 0 && (bytes[k - 1] >= 0x80 || bytes[k - 1] == '\r')) {
            --k;
        }
    } else if (quill::singleByteTable(form) != nullptr) {
        k = n;
        while (k > 0 && bytes[k - 1] == '\r') {
            --k;
        }
    }
    const std::size_t from = out.size();
    decodeLineBytes(bytes, k, form, out);
    safeBytes = k;
    safeLength = out.size() - from;
    decodeLineBytes(bytes + k, n - k, form, out);
}

std::u16string_view stripTerminator(std::u16string_view decoded)
{
    // A line feed ends the index line, so only the end is looked at: a line of many
    // megabytes is not searched twice on every paint. A carriage return inside the line is
    // its text's (engine/ShownText.h).
    std::size_t size = decoded.size();
    if (size > 0 && decoded[size - 1] == u'\n') {
        --size;
    }
    if (size > 0 && decoded[size - 1] == u'\r') {
        --size;
    }
    return decoded.substr(0, size);
}

void foldAsciiCase(std::u16string& text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c + (u'a' - u'A'));
        }
    }
}

std::int64_t findInLineForward(std::u16string_view line, std::u16string_view pattern,
                               std::int64_t startCol, bool wholeWord)
{
    if (pattern.empty() || startCol < 0 || std::size_t(startCol) > line.size()) {
        return -1;
    }
    std::size_t pos = std::size_t(startCol);
    for (;;) {
        const std::size_t c = line.find(pattern, pos);
        if (c == std::u16string_view::npos) {
            return -1;
        }
        if (!wholeWord || wholeWordAt(line, pattern.size(), c)) {
            return std::int64_t(c);
        }
        pos = c + pattern.size();
    }
}

std::int64_t findInLineBackward(std::u16string_view line, std::u16string_view pattern,
                                std::int64_t startCol, bool wholeWord)
{
    const std::int64_t len = std::int64_t(line.size());
    const std::int64_t plen = std::int64_t(pattern.size());
    if (plen == 0 || len - startCol < 0) {
        return -1;
    }
    // In the reversed line the search starts at len - startCol; an occurrence there starts
    // at column len - e - plen of the line, so the latest allowed start is startCol - plen.
    std::int64_t latest = startCol - plen;
    while (latest >= 0) {
        const std::size_t c = line.rfind(pattern, std::size_t(latest));
        if (c == std::u16string_view::npos) {
            return -1;
        }
        if (!wholeWord || wholeWordAt(line, pattern.size(), c)) {
            return std::int64_t(c);
        }
        latest = std::int64_t(c) - plen;
    }
    return -1;
}
