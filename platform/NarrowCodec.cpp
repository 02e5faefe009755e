#include "platform/NarrowCodec.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace quill {

namespace {

constexpr char16_t Replacement = 0xFFFD;

std::string upperAlnum(std::string_view name)
{
    std::string out;
    for (char c : name) {
        if (c >= 'a' && c <= 'z') {
            out += static_cast<char>(c - 'a' + 'A');
        } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += c;
        }
    }
    return out;
}

bool isAsciiName(const std::string& key)
{
    return key == "ANSIX341968" || key == "ASCII" || key == "USASCII" || key.empty();
}

NarrowCharset describe(std::string codeset)
{
    NarrowCharset set;
    const std::string key = upperAlnum(codeset);
    set.isUtf8 = key == "UTF8" || isAsciiName(key);
    set.codeset = set.isUtf8 ? "UTF-8" : std::move(codeset);
    set.codePage = set.isUtf8 ? 65001 : windowsCodePageFor(set.codeset);
    return set;
}

std::mutex s_charsetMutex;
NarrowCharset* s_charset = nullptr;

// Decodes one UTF-8 sequence at p (p < end). Returns the code point, or -1 with length 1
// for a byte that does not start a valid, complete, shortest-form sequence.
inline int decodeUtf8(const unsigned char* p, const unsigned char* end, int& length)
{
    const unsigned c = p[0];
    auto cont = [&](int i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
    length = 1;
    if (c < 0xC2) {
        return -1; // stray continuation byte or overlong two-byte lead
    }
    if (c < 0xE0) {
        if (!cont(1)) {
            return -1;
        }
        length = 2;
        return static_cast<int>(((c & 0x1F) << 6) | (p[1] & 0x3F));
    }
    if (c < 0xF0) {
        if (!cont(1) || !cont(2)) {
            return -1;
        }
        const unsigned cp = ((c & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return -1;
        }
        length = 3;
        return static_cast<int>(cp);
    }
    if (c < 0xF5) {
        if (!cont(1) || !cont(2) || !cont(3)) {
            return -1;
        }
        const unsigned cp = ((c & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) |
                            (p[3] & 0x3Fu);
        if (cp < 0x10000 || cp > 0x10FFFF) {
            return -1;
        }
        length = 4;
        return static_cast<int>(cp);
    }
    return -1;
}

void appendCodePoint(char32_t cp, std::u16string& out)
{
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Converts with iconv; on an invalid or incomplete sequence one byte becomes U+FFFD (decode)
// or one character becomes '?' (encode), and the conversion goes on.
template <typename Out>
bool iconvConvert(const char* to, const char* from, const char* in, std::size_t inBytes,
                  Out& out, std::size_t unitSize, const char* badInputReplacement,
                  std::size_t badInputUnit)
{
    iconv_t cd = iconv_open(to, from);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open fails with (iconv_t)-1
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::vector<char> buffer(4096);
    char* src = const_cast<char*>(in);
    std::size_t left = inBytes;
    while (left > 0) {
        char* dst = buffer.data();
        std::size_t room = buffer.size();
        const std::size_t rc = iconv(cd, &src, &left, &dst, &room);
        const int err = errno;
        const std::size_t produced = static_cast<std::size_t>(dst - buffer.data());
        out.append(reinterpret_cast<const typename Out::value_type*>(buffer.data()),
                   produced / unitSize);
        if (rc != static_cast<std::size_t>(-1)) {
            break;
        }
        if (err == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL: skip the bad unit and put the replacement in its place.
        const std::size_t skip = std::min(left, badInputUnit);
        src += skip;
        left -= skip;
        out.append(reinterpret_cast<const typename Out::value_type*>(badInputReplacement),
                   1);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return true;
}

} // namespace

std::uint32_t windowsCodePageFor(std::string_view codeset)
{
    struct Entry {
        const char* key;
        std::uint32_t page;
    };
    static const Entry table[] = {
        {"UTF8", 65001},      {"ANSIX341968", 20127}, {"ASCII", 20127},
        {"USASCII", 20127},   {"ISO88591", 28591},    {"ISO88592", 28592},
        {"ISO88595", 28595},  {"ISO88597", 28597},    {"ISO88599", 28599},
        {"ISO885915", 28605}, {"CP1250", 1250},       {"CP1251", 1251},
        {"CP1252", 1252},     {"CP1253", 1253},       {"WINDOWS1250", 1250},
        {"WINDOWS1251", 1251}, {"WINDOWS1252", 1252}, {"KOI8R", 20866},
        {"KOI8U", 21866},     {"SHIFTJIS", 932},      {"SJIS", 932},
        {"CP932", 932},       {"EUCJP", 20932},       {"GB2312", 936},
        {"GBK", 936},         {"GB18030", 54936},     {"BIG5", 950},
        {"EUCKR", 51949},     {"CP949", 949},         {"CP850", 850},
        {"CP437", 437},       {"TIS620", 874},        {"UTF16LE", 1200},
    };
    const std::string key = upperAlnum(codeset);
    for (const Entry& e : table) {
        if (key == e.key) {
            return e.page;
        }
    }
    return 0;
}

const NarrowCharset& narrowCharset()
{
    std::lock_guard lock(s_charsetMutex);
    if (!s_charset) {
        s_charset = new NarrowCharset(describe(nl_langinfo(CODESET)));
    }
    return *s_charset;
}

void setNarrowCharsetForTesting(const char* codeset)
{
    std::lock_guard lock(s_charsetMutex);
    delete s_charset;
    s_charset = new NarrowCharset(describe(codeset));
}

void appendUtf8AsUtf16(std::string_view bytes, std::u16string& out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    out.reserve(out.size() + bytes.size());
    while (p < end) {
        // ASCII runs are the common case in logs: copy them eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL) {
                break;
            }
            for (int i = 0; i < 8; ++i) {
                out.push_back(static_cast<char16_t>(p[i]));
            }
            p += 8;
        }
        if (p >= end) {
            break;
        }
        if (*p < 0x80) {
            out.push_back(static_cast<char16_t>(*p++));
            continue;
        }
        int length = 1;
        const int cp = decodeUtf8(p, end, length);
        if (cp < 0) {
            out.push_back(Replacement);
        } else {
            appendCodePoint(static_cast<char32_t>(cp), out);
        }
        p += length;
    }
}

std::u16string utf8ToUtf16(std::string_view bytes)
{
    std::u16string out;
    appendUtf8AsUtf16(bytes, out);
    return out;
}

std::string utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += '?'; // a lone surrogate has no UTF-8 form
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void appendNarrowAsUtf16(std::string_view bytes, std::u16string& out)
{
    const NarrowCharset& set = narrowCharset();
    if (set.isUtf8) {
        appendUtf8AsUtf16(bytes, out);
        return;
    }
    static const char16_t replacement = Replacement;
    if (!iconvConvert("UTF-16LE", set.codeset.c_str(), bytes.data(), bytes.size(), out, 2,
                      reinterpret_cast<const char*>(&replacement), 1)) {
        // An iconv without this set: keep ASCII, mark the rest.
        for (unsigned char c : bytes) {
            out.push_back(c < 0x80 ? static_cast<char16_t>(c) : Replacement);
        }
    }
}

std::u16string narrowToUtf16(std::string_view bytes)
{
    std::u16string out;
    appendNarrowAsUtf16(bytes, out);
    return out;
}

std::string utf16ToNarrow(std::u16string_view text)
{
    const NarrowCharset& set = narrowCharset();
    if (set.isUtf8) {
        return utf16ToUtf8(text);
    }
    std::string out;
    static const char question = '?';
    const std::string target = set.codeset;
    if (!iconvConvert(target.c_str(), "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                      text.size() * 2, out, 1, &question, 2)) {
        for (char16_t c : text) {
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
    }
    return out;
}

} // namespace quill
