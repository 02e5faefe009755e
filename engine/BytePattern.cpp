#include "engine/BytePattern.h"

#include "engine/LineText.h"
#include "platform/NarrowCodec.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

// How rare a byte is likely to be in a log, higher is rarer: the zero high bytes of UTF-16
// text, blanks, digits and frequent lower-case letters are everywhere; capitals and bytes
// of other scripts are not.
int byteRarity(std::uint8_t b)
{
    if (b == 0 || b == ' ') {
        return 0;
    }
    if (b >= '0' && b <= '9') {
        return 1;
    }
    if (b >= 'a' && b <= 'z') {
        return std::strchr("etaoinsrhldcu", b) != nullptr ? 2 : 3;
    }
    if (std::strchr(".:-/[]_=,;()", b) != nullptr) {
        return 2;
    }
    return 4;
}

// The locale's narrow set when it is a single-byte set that keeps ASCII as it is: each
// byte decodes alone to one character, a run of bytes decodes to the run of those
// characters (no byte starts a sequence), and no two bytes give the same character.
struct SingleByteSet {
    bool usable = false;
    std::unordered_map<char16_t, char> encode;
};

// Worked out again whenever the set has changed (tests switch it); callers hold the mutex.
const SingleByteSet& singleByteSet(std::unique_lock<std::mutex>& lock)
{
    static std::mutex s_mutex;
    static std::string s_codeset;
    static SingleByteSet s_set;
    static bool s_known = false;
    lock = std::unique_lock(s_mutex);
    const quill::NarrowCharset& charset = quill::narrowCharset();
    if (s_known && s_codeset == charset.codeset) {
        return s_set;
    }
    s_known = true;
    s_codeset = charset.codeset;
    s_set = SingleByteSet();
    if (charset.isUtf8) {
        return s_set;
    }
    std::string all(256, '\0');
    std::u16string each;
    for (int b = 0; b < 256; ++b) {
        all[std::size_t(b)] = char(b);
        const std::u16string one = quill::narrowToUtf16(std::string_view(&all[std::size_t(b)], 1));
        if (one.size() != 1 || (b < 0x80 && one[0] != char16_t(b))) {
            return s_set;
        }
        each += one[0];
        if (one[0] != u'\uFFFD' && !s_set.encode.emplace(one[0], char(b)).second) {
            s_set.encode.clear();
            return s_set;
        }
    }
    if (quill::narrowToUtf16(all) != each) {
        s_set.encode.clear();
        return s_set;
    }
    s_set.usable = true;
    return s_set;
}

} // namespace

const std::uint8_t* FindPatternBytes(const std::uint8_t* s, const std::uint8_t* end,
                                     const std::uint8_t* pat, std::size_t plen,
                                     std::size_t rareIndex)
{
    if (plen == 0) {
        return s;
    }
    // Once the rare byte has proved common in this region, the rest is left to memmem,
    // whose cost does not depend on it.
    constexpr int MissesBeforeMemmem = 32;
    int misses = 0;
    while (std::size_t(end - s) >= plen) {
        if (misses > MissesBeforeMemmem) {
            return static_cast<const std::uint8_t*>(memmem(s, std::size_t(end - s), pat, plen));
        }
        // The rare byte of a whole occurrence lies at or before end - plen + rareIndex.
        const auto* hit = static_cast<const std::uint8_t*>(
            std::memchr(s + rareIndex, pat[rareIndex], std::size_t(end - s) - plen + 1));
        if (hit == nullptr) {
            return nullptr;
        }
        const std::uint8_t* candidate = hit - rareIndex;
        if (std::memcmp(candidate, pat, plen) == 0) {
            return candidate;
        }
        ++misses;
        s = candidate + 1;
    }
    return nullptr;
}

const std::uint8_t* FindPatternBytes(const std::uint8_t* s, const std::uint8_t* end,
                                     const BytePattern& pattern)
{
    return FindPatternBytes(s, end, reinterpret_cast<const std::uint8_t*>(pattern.bytes.data()),
                            pattern.bytes.size(), pattern.rare);
}

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
    } else {
        std::unique_lock<std::mutex> lock;
        const SingleByteSet& set = singleByteSet(lock);
        if (set.usable) {
            pattern.usable = true;
            pattern.singleByte = true;
            for (char16_t c : text) {
                const auto it = set.encode.find(c);
                if (it == set.encode.end()) {
                    // No byte decodes to it, so no line holds it.
                    pattern.impossible = true;
                    break;
                }
                pattern.bytes += it->second;
            }
        }
    }
    if (pattern.usable && !matchCase) {
        FoldAsciiBytes(reinterpret_cast<std::uint8_t*>(pattern.bytes.data()), pattern.bytes.size());
    }
    for (std::size_t i = 0; i < pattern.bytes.size(); ++i) {
        if (byteRarity(std::uint8_t(pattern.bytes[i])) >
            byteRarity(std::uint8_t(pattern.bytes[pattern.rare]))) {
            pattern.rare = i;
        }
    }
    return pattern;
}
