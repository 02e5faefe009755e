#include "platform/TextEncoding.h"

#include "platform/NarrowCodec.h"

#include <array>

namespace quill {

namespace {

constexpr char16_t Replacement = 0xFFFD;

using Table = std::array<char16_t, 256>;

constexpr Table latin1()
{
    Table table{};
    for (int b = 0; b < 256; ++b) {
        table[std::size_t(b)] = char16_t(b);
    }
    return table;
}

// ISO-8859-15 differs from ISO-8859-1 in eight places.
constexpr Table latin9()
{
    Table table = latin1();
    table[0xA4] = 0x20AC; // euro sign
    table[0xA6] = 0x0160;
    table[0xA8] = 0x0161;
    table[0xB4] = 0x017D;
    table[0xB8] = 0x017E;
    table[0xBC] = 0x0152;
    table[0xBD] = 0x0153;
    table[0xBE] = 0x0178;
    return table;
}

// Windows-1252: ISO-8859-1 with printable characters in 0x80-0x9F; five bytes there are
// undefined.
constexpr Table windows1252()
{
    Table table = latin1();
    constexpr char16_t R = Replacement;
    constexpr char16_t High[32] = {
        0x20AC, R,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, R,      0x017D, R,
        R,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, R,      0x017E, 0x0178};
    for (int k = 0; k < 32; ++k) {
        table[0x80 + std::size_t(k)] = High[std::size_t(k)];
    }
    return table;
}

constexpr Table Latin1Table = latin1();
constexpr Table Latin9Table = latin9();
constexpr Table Windows1252Table = windows1252();

} // namespace

const char16_t* singleByteTable(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Latin1:
        return Latin1Table.data();
    case TextEncoding::Latin9:
        return Latin9Table.data();
    case TextEncoding::Windows1252:
        return Windows1252Table.data();
    default:
        return nullptr;
    }
}

void appendBytesAsUtf16(std::string_view bytes, TextEncoding encoding, std::u16string& out)
{
    if (const char16_t* table = singleByteTable(encoding)) {
        const std::size_t from = out.size();
        out.resize(from + bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            out[from + i] = table[static_cast<unsigned char>(bytes[i])];
        }
        return;
    }
    if (encoding == TextEncoding::Utf8) {
        appendUtf8AsUtf16(bytes, out);
    } else if (encoding == TextEncoding::Locale) {
        appendNarrowAsUtf16(bytes, out);
    }
}

std::string encodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Automatic:
        return {};
    case TextEncoding::Utf8:
        return "UTF-8";
    case TextEncoding::Utf16Le:
        return "UTF-16 LE";
    case TextEncoding::Utf16Be:
        return "UTF-16 BE";
    case TextEncoding::Latin1:
        return "ISO-8859-1";
    case TextEncoding::Latin9:
        return "ISO-8859-15";
    case TextEncoding::Windows1252:
        return "Windows-1252";
    case TextEncoding::Locale:
        return narrowCharset().codeset;
    }
    return {};
}

std::optional<TextEncoding> encodingFromNumber(std::uint32_t number)
{
    if (number < std::uint32_t(TextEncodingCount)) {
        return TextEncoding(number);
    }
    return std::nullopt;
}

} // namespace quill
