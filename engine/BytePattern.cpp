#include "engine/BytePattern.h"

#include "engine/LineText.h"
#include "platform/NarrowCodec.h"

#include <algorithm>
#include <array>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <mutex>
#include <unordered_map>

namespace {

// How rare a byte is likely to be in a log, higher is rarer: the zero high bytes of UTF-16
// text, blanks, digits and frequent lower-case letters are everywhere; capitals and bytes
// of other scripts are not.
int rarityOf(std::uint8_t b)
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

} // namespace

// Asked for every byte of the pattern on each search call; a table keeps that cheap.
int byteRarity(std::uint8_t b)
{
    static const std::array<std::uint8_t, 256> table = [] {
        std::array<std::uint8_t, 256> rarity{};
        for (int i = 0; i < 256; ++i) {
            rarity[std::size_t(i)] = std::uint8_t(rarityOf(std::uint8_t(i)));
        }
        return rarity;
    }();
    return table[b];
}

namespace {

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

namespace {

// The byte of the pattern to test beside the rare one: the rarest-looking of the others,
// the farther from it of two alike (bytes far apart are less often both right by chance).
std::size_t pairIndex(const std::uint8_t* pat, std::size_t plen, std::size_t rareIndex)
{
    std::size_t best = rareIndex == 0 ? 1 : 0;
    auto distance = [rareIndex](std::size_t i) {
        return i > rareIndex ? i - rareIndex : rareIndex - i;
    };
    for (std::size_t i = 0; i < plen; ++i) {
        if (i == rareIndex) {
            continue;
        }
        const int rarity = byteRarity(pat[i]);
        const int bestRarity = byteRarity(pat[best]);
        if (rarity > bestRarity || (rarity == bestRarity && distance(i) > distance(best))) {
            best = i;
        }
    }
    return best;
}

} // namespace

PatternProbes probesOf(const std::uint8_t* pat, std::size_t plen, std::size_t rareIndex)
{
    PatternProbes probes{rareIndex, plen > 1 ? pairIndex(pat, plen, rareIndex) : rareIndex, 0};
    // And an end of the pattern, when it has a third byte: a common word inside the text
    // ("with" in "7 with") agrees at the first two on every line of some logs.
    probes.third = probes.second;
    for (std::size_t edge : {std::size_t(0), plen - 1}) {
        if (edge != probes.first && edge != probes.second) {
            probes.third = edge;
            break;
        }
    }
    return probes;
}

namespace {

std::uint8_t foldedByte(std::uint8_t b)
{
    return std::uint8_t(b + ((std::uint8_t(b - 'A') < 26) ? 32 : 0));
}

// What a probe's text byte is ORed with before it is compared: 0x20 makes A-Z equal a-z.
std::uint8_t caseBit(std::uint8_t folded)
{
    return std::uint8_t(folded - 'a') < 26 ? 0x20 : 0;
}

bool samePattern(const std::uint8_t* text, const std::uint8_t* pat, std::size_t n, bool ignoreCase)
{
    if (!ignoreCase) {
        return std::memcmp(text, pat, n) == 0;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (foldedByte(text[i]) != pat[i]) {
            return false;
        }
    }
    return true;
}

#if defined(__x86_64__)
const bool HaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

// Thirty-two starts a step from p while p <= last - 31; p is left at the first start not
// tested.
__attribute__((target("avx2"))) const std::uint8_t*
findAvx2(const std::uint8_t*& p, const std::uint8_t* last, const std::uint8_t* pat,
         std::size_t plen, PatternProbes probes, bool ignoreCase)
{
    const auto [first, second, third] = probes;
    const __m256i want1 = _mm256_set1_epi8(char(pat[first]));
    const __m256i want2 = _mm256_set1_epi8(char(pat[second]));
    const __m256i want3 = _mm256_set1_epi8(char(pat[third]));
    const __m256i case1 = _mm256_set1_epi8(char(ignoreCase ? caseBit(pat[first]) : 0));
    const __m256i case2 = _mm256_set1_epi8(char(ignoreCase ? caseBit(pat[second]) : 0));
    const __m256i case3 = _mm256_set1_epi8(char(ignoreCase ? caseBit(pat[third]) : 0));
    while (last - p >= 31) {
        const __m256i at1 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + first)), case1);
        const __m256i at2 = _mm256_or_si256(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + second)), case2);
        const __m256i at3 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + third)), case3);
        auto mask = unsigned(_mm256_movemask_epi8(_mm256_and_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(at1, want1), _mm256_cmpeq_epi8(at2, want2)),
            _mm256_cmpeq_epi8(at3, want3))));
        while (mask != 0) {
            const std::uint8_t* candidate = p + __builtin_ctz(mask);
            if (samePattern(candidate, pat, plen, ignoreCase)) {
                return candidate;
            }
            mask &= mask - 1;
        }
        p += 32;
    }
    return nullptr;
}
#endif

} // namespace

ByteFinder::ByteFinder(const std::uint8_t* pat, std::size_t plen, std::size_t rareIndex,
                       bool ignoreCase)
    : m_pat(pat), m_plen(plen), m_ignoreCase(ignoreCase),
      m_probes(plen > 0 ? probesOf(pat, plen, rareIndex) : PatternProbes{})
{
}

const std::uint8_t* ByteFinder::find(const std::uint8_t* s, const std::uint8_t* end) const
{
    const std::uint8_t* const pat = m_pat;
    const std::size_t plen = m_plen;
    if (plen == 0) {
        return s;
    }
    if (end - s < std::ptrdiff_t(plen)) {
        return nullptr;
    }
    if (plen == 1 && !m_ignoreCase) {
        return static_cast<const std::uint8_t*>(std::memchr(s, pat[0], std::size_t(end - s)));
    }
    // Each candidate start is tested at three of the pattern's bytes at once, sixteen or
    // thirty-two starts a step, and compared whole only when all agree: a byte that is
    // common in the text (a letter of a word on every line) costs no call per occurrence,
    // as memchr would. Ignoring case, a probe's text byte gets the bit that turns A-Z into
    // a-z where the pattern has a letter, so the text needs no folded copy.
    const auto [first, second, third] = m_probes;
    const bool ignoreCase = m_ignoreCase;
    const std::uint8_t* const last = end - plen; // the last possible start
    const std::uint8_t* p = s;
#if defined(__x86_64__)
    if (HaveAvx2 && last - p >= 31) {
        if (const std::uint8_t* found = findAvx2(p, last, pat, plen, m_probes, ignoreCase)) {
            return found;
        }
    }
#endif
#if defined(__SSE2__)
    const __m128i want1 = _mm_set1_epi8(char(pat[first]));
    const __m128i want2 = _mm_set1_epi8(char(pat[second]));
    const __m128i want3 = _mm_set1_epi8(char(pat[third]));
    const __m128i case1 = _mm_set1_epi8(char(ignoreCase ? caseBit(pat[first]) : 0));
    const __m128i case2 = _mm_set1_epi8(char(ignoreCase ? caseBit(pat[second]) : 0));
    const __m128i case3 = _mm_set1_epi8(char(ignoreCase ? caseBit(pat[third]) : 0));
    // A step reads p + i + 15 for i < plen, which stays below end while p <= last - 15.
    while (last - p >= 15) {
        const __m128i at1 =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + first)), case1);
        const __m128i at2 =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + second)), case2);
        const __m128i at3 =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + third)), case3);
        unsigned mask = unsigned(_mm_movemask_epi8(
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(at1, want1), _mm_cmpeq_epi8(at2, want2)),
                          _mm_cmpeq_epi8(at3, want3))));
        while (mask != 0) {
            const std::uint8_t* candidate = p + __builtin_ctz(mask);
            if (samePattern(candidate, pat, plen, ignoreCase)) {
                return candidate;
            }
            mask &= mask - 1;
        }
        p += 16;
    }
#endif
    for (; p <= last; ++p) {
        if (samePattern(p, pat, plen, ignoreCase)) {
            return p;
        }
    }
    return nullptr;
}

const std::uint8_t* findPatternBytes(const std::uint8_t* s, const std::uint8_t* end,
                                     const std::uint8_t* pat, std::size_t plen,
                                     std::size_t rareIndex)
{
    return ByteFinder(pat, plen, rareIndex, false).find(s, end);
}

const std::uint8_t* findPatternBytes(const std::uint8_t* s, const std::uint8_t* end,
                                     const BytePattern& pattern)
{
    return findPatternBytes(s, end, reinterpret_cast<const std::uint8_t*>(pattern.bytes.data()),
                            pattern.bytes.size(), pattern.rare);
}

void foldAsciiBytes(std::uint8_t* p, std::size_t n)
{
    foldAsciiBytes(p, p, n);
}

void foldAsciiBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes a step (the compiler does not vectorise the plain loop at -O2): a byte
    // minus 'A' that is at most 25 as an unsigned byte is a capital, and gets 32 added.
    const __m128i capitalA = _mm_set1_epi8('A');
    const __m128i last = _mm_set1_epi8(25);
    const __m128i lower = _mm_set1_epi8(32);
    for (; n - i >= 16; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i offset = _mm_sub_epi8(bytes, capitalA);
        const __m128i capital = _mm_cmpeq_epi8(_mm_min_epu8(offset, last), offset);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_add_epi8(bytes, _mm_and_si128(capital, lower)));
    }
#endif
    for (; i < n; ++i) {
        out[i] = std::uint8_t(in[i] + ((std::uint8_t(in[i] - 'A') < 26) ? 32 : 0));
    }
}

bool encodeUtf8Exact(std::u16string_view text, std::string& out)
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

BytePattern makeBytePattern(std::u16string_view text, bool utf16, bool matchCase)
{
    return makeBytePattern(text, utf16 ? quill::TextEncoding::Utf16Le : quill::TextEncoding::Locale,
                           matchCase);
}

BytePattern makeBytePattern(std::u16string_view text, quill::TextEncoding form, bool matchCase)
{
    using quill::TextEncoding;
    BytePattern pattern;
    const bool utf16 = quill::isUtf16(form);
    const bool special = text.find(LoneCrSymbol) != std::u16string_view::npos ||
                         (!utf16 && text.find(u'\uFFFD') != std::u16string_view::npos);
    if (special) {
        return pattern;
    }
    const char16_t* table = quill::singleByteTable(form);
    if (utf16) {
        const bool big = form == TextEncoding::Utf16Be;
        for (char16_t unit : text) {
            pattern.bytes += char(big ? unit >> 8 : unit & 0xFF);
            pattern.bytes += char(big ? unit & 0xFF : unit >> 8);
        }
        pattern.usable = true;
    } else if (form == TextEncoding::Utf8 ||
               (form == TextEncoding::Locale && quill::narrowCharset().isUtf8)) {
        pattern.usable = encodeUtf8Exact(text, pattern.bytes);
        pattern.exact = pattern.usable && !text.empty() &&
                        text.find_first_of(u"\r\n") == std::u16string_view::npos;
    } else if (table != nullptr) {
        pattern.usable = true;
        pattern.singleByte = true;
        for (char16_t c : text) {
            const char16_t* at = std::find(table, table + 256, c);
            if (at == table + 256) {
                pattern.impossible = true; // no byte decodes to it, so no line holds it
                break;
            }
            pattern.bytes += char(at - table);
        }
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
        foldAsciiBytes(reinterpret_cast<std::uint8_t*>(pattern.bytes.data()), pattern.bytes.size());
    }
    for (std::size_t i = 0; i < pattern.bytes.size(); ++i) {
        if (byteRarity(std::uint8_t(pattern.bytes[i])) >
            byteRarity(std::uint8_t(pattern.bytes[pattern.rare]))) {
            pattern.rare = i;
        }
    }
    return pattern;
}
