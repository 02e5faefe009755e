#include "engine/ShownLiteral.h"

#include "engine/BytePattern.h"
#include "engine/SgrParser.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr std::uint8_t Esc = 0x1B;

// The group of the start of j bytes: the one-byte start alone in group 0 (any byte may lie
// before it), the others shared out over the seven left.
unsigned groupOf(std::size_t j)
{
    return j == 1 ? 0u : 1u + unsigned((j - 2) % 7);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) inline __m256i broadcastTable(const std::array<std::uint8_t, 64>& t)
{
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(t.data()));
}

// Per byte of v: the groups both of its nibbles' table entries name.
__attribute__((target("avx2"))) inline __m256i groupsOf(__m256i v, __m256i low, __m256i high)
{
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(
        _mm256_shuffle_epi8(low, _mm256_and_si256(v, nibble)),
        _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)));
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i load512(const std::uint8_t* p)
{
    return _mm512_loadu_si512(p);
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i
broadcastTable512(const std::array<std::uint8_t, 64>& t)
{
    return _mm512_load_si512(t.data());
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i groupsOf512(__m512i v, __m512i low,
                                                                       __m512i high)
{
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    return _mm512_and_si512(
        _mm512_shuffle_epi8(low, _mm512_and_si512(v, nibble)),
        _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble)));
}

const bool HaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}();
const bool HaveAvx512 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}();
#endif

std::vector<std::string> placesOf(std::string_view literal)
{
    std::vector<std::string> places;
    for (const char c : literal) {
        places.emplace_back(1, c);
    }
    return places;
}

} // namespace

ShownLiteral::ShownLiteral(std::string_view literal, std::size_t rare)
    : ShownLiteral(placesOf(literal), rare)
{
}

ShownLiteral::ShownLiteral(const std::vector<std::string>& places, std::size_t rare)
{
    const std::size_t length = places.size();
    m_usable = length > 0 && length <= MaxLength && rare < length;
    for (std::size_t k = 0; m_usable && k < length; ++k) {
        const std::string& place = places[k];
        m_usable = !place.empty() && place.find(char(Esc)) == std::string::npos &&
                   place.find('\n') == std::string::npos;
        if (place.size() > 1) {
            m_classes |= std::uint64_t{1} << k;
        }
    }
    if (!m_usable) {
        return;
    }
    for (const std::string& place : places) {
        m_literal += place[0];
    }
    // The probes of a whole occurrence are taken in its longest stretch of plain places.
    for (std::size_t k = 0; k < length;) {
        std::size_t end = k;
        while (end < length && ((m_classes >> end) & 1) == 0) {
            ++end;
        }
        if (end - k > m_plainLength) {
            m_plainFrom = k;
            m_plainLength = end - k;
        }
        k = end + 1;
    }
    if (m_plainLength == 0) {
        m_usable = false;
        return;
    }
    m_rare = rare;
    if (rare < m_plainFrom || rare >= m_plainFrom + m_plainLength) {
        m_rare = m_plainFrom;
        for (std::size_t k = m_plainFrom; k < m_plainFrom + m_plainLength; ++k) {
            if (byteRarity(std::uint8_t(m_literal[k])) >
                byteRarity(std::uint8_t(m_literal[m_rare]))) {
                m_rare = k;
            }
        }
    }
    const auto* l = reinterpret_cast<const std::uint8_t*>(m_literal.data());
    m_probes = probesOf(l + m_plainFrom, m_plainLength, m_rare - m_plainFrom);
    m_probes.first += m_plainFrom;
    m_probes.second += m_plainFrom;
    m_probes.third += m_plainFrom;
    if (m_classes != 0) {
        m_sets.resize(length);
        for (std::size_t k = 0; k < length; ++k) {
            for (const char c : places[k]) {
                const auto b = std::uint8_t(c);
                m_sets[k][b >> 6] |= std::uint64_t{1} << (b & 63);
            }
        }
    }
    for (std::size_t j = 1; j < length; ++j) {
        const unsigned bit = 1u << groupOf(j);
        for (const char c : places[j - 1]) {
            m_ends[std::uint8_t(c)] |= std::uint64_t{1} << (j - 1);
        }
        for (const char c : places[j]) {
            m_nexts[std::uint8_t(c)] |= std::uint64_t{1} << (j - 1);
        }
        // Each table four times over: a 128-bit lane of a vector looks up its own copy.
        for (unsigned nibble = 0; nibble < 64; ++nibble) {
            for (const char c : places[j - 1]) {
                if ((std::uint8_t(c) & 15) == nibble % 16) {
                    m_low[0][nibble] |= std::uint8_t(bit);
                }
                if ((std::uint8_t(c) >> 4) == nibble % 16) {
                    m_high[0][nibble] |= std::uint8_t(bit);
                }
            }
            if (j == 1) {
                m_low[1][nibble] |= std::uint8_t(bit);
                m_high[1][nibble] |= std::uint8_t(bit);
                continue;
            }
            for (const char c : places[j - 2]) {
                if ((std::uint8_t(c) & 15) == nibble % 16) {
                    m_low[1][nibble] |= std::uint8_t(bit);
                }
                if ((std::uint8_t(c) >> 4) == nibble % 16) {
                    m_high[1][nibble] |= std::uint8_t(bit);
                }
            }
        }
    }
}

bool ShownLiteral::matchesAt(const std::uint8_t* p) const
{
    if (m_classes == 0) {
        return std::memcmp(p, m_literal.data(), m_literal.size()) == 0;
    }
    for (std::size_t k = 0; k < m_literal.size(); ++k) {
        if (!holds(k, p[k])) {
            return false;
        }
    }
    return true;
}

std::size_t ShownLiteral::findWhole(const std::uint8_t* bytes, std::size_t at, std::size_t n) const
{
    // The plain stretch first, then the whole text around it.
    const auto* l = reinterpret_cast<const std::uint8_t*>(m_literal.data());
    const std::size_t length = m_literal.size();
    const std::size_t after = length - m_plainFrom - m_plainLength;
    while (n - std::min(at, n) >= length) {
        const std::uint8_t* found =
            findPatternBytes(bytes + at + m_plainFrom, bytes + n - after, l + m_plainFrom,
                             m_plainLength, m_rare - m_plainFrom);
        if (found == nullptr) {
            break;
        }
        const std::size_t start = std::size_t(found - bytes) - m_plainFrom;
        if (matchesAt(bytes + start)) {
            return start;
        }
        at = start + 1;
    }
    return n;
}

bool ShownLiteral::splitAt(const std::uint8_t* bytes, std::size_t n, std::size_t at) const
{
    // Past the sequences from here: an ESC that starts none is text, which the literal
    // does not hold.
    std::size_t q = at;
    while (q < n && bytes[q] == Esc) {
        const std::size_t sequence = sgrSequenceLengthInLine(bytes, q, n);
        if (sequence == 0) {
            return false;
        }
        q += sequence;
    }
    if (q >= n) {
        return false;
    }
    // The starts of j bytes that end just before and whose next byte is the one after.
    std::uint64_t ends = m_ends[bytes[at - 1]] & m_nexts[bytes[q]];
    if (at < 64) {
        ends &= (std::uint64_t{1} << at) - 1; // starts that begin inside the bytes
    }
    const std::size_t length = m_literal.size();
    for (; ends != 0; ends &= ends - 1) {
        const std::size_t j = std::size_t(__builtin_ctzll(ends)) + 1;
        // Short starts are the common ones: compared here rather than by a call.
        std::size_t same = 0;
        while (same < j && holds(same, bytes[at - j + same])) {
            ++same;
        }
        if (same != j) {
            continue;
        }
        // The rest of the literal, past any further sequences.
        std::size_t k = j + 1;
        std::size_t r = q + 1;
        while (k < length && r < n) {
            if (bytes[r] == Esc) {
                const std::size_t sequence = sgrSequenceLengthInLine(bytes, r, n);
                if (sequence == 0) {
                    break;
                }
                r += sequence;
            } else if (holds(k, bytes[r])) {
                ++k;
                ++r;
            } else {
                break;
            }
        }
        if (k == length) {
            return true;
        }
    }
    return false;
}

std::size_t ShownLiteral::lineHit(std::size_t at, const FileOffset* starts, std::size_t count,
                                  std::size_t& line, std::vector<std::uint32_t>& lines)
{
    const FileOffset base = starts[0];
    line =
        std::size_t(std::upper_bound(starts + line + 1, starts + count + 1, base + FileOffset(at)) -
                    starts) -
        1;
    lines.push_back(std::uint32_t(line));
    return ++line < count ? std::size_t(starts[line] - base) : std::size_t(starts[count] - base);
}

std::size_t ShownLiteral::stepHits(const std::uint8_t* bytes, std::size_t n, std::size_t i,
                                   std::uint64_t whole, std::uint64_t split,
                                   const FileOffset* starts, std::size_t count, std::size_t& line,
                                   std::vector<std::uint32_t>& lines) const
{
    for (std::uint64_t candidates = whole | split; candidates != 0; candidates &= candidates - 1) {
        const unsigned bit = unsigned(__builtin_ctzll(candidates));
        const std::size_t at = i + bit;
        if ((((whole >> bit) & 1) != 0 && matchesAt(bytes + at)) ||
            (((split >> bit) & 1) != 0 && splitAt(bytes, n, at))) {
            return lineHit(at, starts, count, line, lines);
        }
    }
    return i + 64;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) std::size_t
ShownLiteral::scanAvx2(const std::uint8_t* bytes, std::size_t from, std::size_t n,
                       std::size_t& line, const FileOffset* starts, std::size_t count,
                       std::vector<std::uint32_t>& lines) const
{
    const auto* l = reinterpret_cast<const std::uint8_t*>(m_literal.data());
    const std::size_t length = m_literal.size();
    const __m256i esc = _mm256_set1_epi8(char(Esc));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low0 = broadcastTable(m_low[0]);
    const __m256i high0 = broadcastTable(m_high[0]);
    const __m256i low1 = broadcastTable(m_low[1]);
    const __m256i high1 = broadcastTable(m_high[1]);
    const __m256i want1 = _mm256_set1_epi8(char(l[m_probes.first]));
    const __m256i want2 = _mm256_set1_epi8(char(l[m_probes.second]));
    const __m256i want3 = _mm256_set1_epi8(char(l[m_probes.third]));
    const bool split = length > 1;
    auto load = [bytes](std::size_t at) __attribute__((target("avx2")))
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at));
    };
    // Of thirty-two positions: the ESCs whose two bytes before fit (an occurrence with a
    // sequence inside may start before them), and the starts where the probes of the
    // whole literal fit.
    auto splits = [&](std::size_t at) __attribute__((target("avx2")))
    {
        const __m256i fit = _mm256_and_si256(groupsOf(load(at - 1), low0, high0),
                                             groupsOf(load(at - 2), low1, high1));
        return std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load(at), esc))) &
               ~std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(fit, zero)));
    };
    auto wholes = [&](std::size_t at) __attribute__((target("avx2")))
    {
        const __m256i fit =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(load(at + m_probes.first), want1),
                                              _mm256_cmpeq_epi8(load(at + m_probes.second), want2)),
                             _mm256_cmpeq_epi8(load(at + m_probes.third), want3));
        return std::uint32_t(_mm256_movemask_epi8(fit));
    };
    // Sixty-four positions a step, every step alike: in a coloured log nearly every one
    // holds an ESC, and a branch on it would be mispredicted half the time. A step reads up
    // to i + 63 + length - 1.
    std::size_t i = from;
    while (n - i >= 64 + length) {
        const std::uint64_t whole = std::uint64_t(wholes(i)) | std::uint64_t(wholes(i + 32)) << 32;
        const std::uint64_t esc64 =
            split ? std::uint64_t(splits(i)) | std::uint64_t(splits(i + 32)) << 32 : 0;
        if ((whole | esc64) == 0) {
            i += 64;
            continue;
        }
        const std::size_t next = stepHits(bytes, n, i, whole, esc64, starts, count, line, lines);
        if (next >= n) {
            return n;
        }
        i = std::max(next, i + 1);
    }
    return i;
}

// The same with sixty-four positions in one vector, their tests ending in mask registers.
__attribute__((target("avx512f,avx512bw"))) std::size_t
ShownLiteral::scanAvx512(const std::uint8_t* bytes, std::size_t from, std::size_t n,
                         std::size_t& line, const FileOffset* starts, std::size_t count,
                         std::vector<std::uint32_t>& lines) const
{
    const auto* l = reinterpret_cast<const std::uint8_t*>(m_literal.data());
    const std::size_t length = m_literal.size();
    const __m512i esc = _mm512_set1_epi8(char(Esc));
    const __m512i low0 = broadcastTable512(m_low[0]);
    const __m512i high0 = broadcastTable512(m_high[0]);
    const __m512i low1 = broadcastTable512(m_low[1]);
    const __m512i high1 = broadcastTable512(m_high[1]);
    const __m512i want1 = _mm512_set1_epi8(char(l[m_probes.first]));
    const __m512i want2 = _mm512_set1_epi8(char(l[m_probes.second]));
    const __m512i want3 = _mm512_set1_epi8(char(l[m_probes.third]));
    const bool split = length > 1;
    std::size_t i = from;
    while (n - i >= 64 + length) {
        const __mmask64 whole = _mm512_mask_cmpeq_epi8_mask(
            _mm512_mask_cmpeq_epi8_mask(
                _mm512_cmpeq_epi8_mask(load512(bytes + i + m_probes.first), want1),
                load512(bytes + i + m_probes.second), want2),
            load512(bytes + i + m_probes.third), want3);
        __mmask64 splits = 0;
        if (split) {
            const __m512i fit = _mm512_and_si512(groupsOf512(load512(bytes + i - 1), low0, high0),
                                                 groupsOf512(load512(bytes + i - 2), low1, high1));
            splits = _mm512_mask_test_epi8_mask(_mm512_cmpeq_epi8_mask(load512(bytes + i), esc),
                                                fit, fit);
        }
        if ((whole | splits) == 0) {
            i += 64;
            continue;
        }
        const std::size_t next = stepHits(bytes, n, i, whole, splits, starts, count, line, lines);
        if (next >= n) {
            return n;
        }
        i = std::max(next, i + 1);
    }
    return i;
}
#endif

void ShownLiteral::lines(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count,
                         std::vector<std::uint32_t>& lines) const
{
    if (!m_usable || count == 0) {
        return;
    }
    const std::size_t before = lines.size();
    const FileOffset base = starts[0];
    const std::size_t n = std::size_t(starts[count] - base);
    const std::size_t length = m_literal.size();
    std::size_t line = 0;
    // The vector steps look two bytes back: the first two positions are taken alone.
    std::size_t pos = 0;
    for (std::size_t at = 0; at < std::min<std::size_t>(n, 2) && pos == 0; ++at) {
        if ((n - at >= length && matchesAt(bytes + at)) ||
            (at > 0 && length > 1 && bytes[at] == Esc && splitAt(bytes, n, at))) {
            pos = lineHit(at, starts, count, line, lines);
        }
    }
    pos = std::max<std::size_t>(pos, std::min<std::size_t>(n, 2));
#if defined(__x86_64__)
    if (HaveAvx512 && m_steps == Steps::Fastest && pos < n) {
        pos = scanAvx512(bytes, pos, n, line, starts, count, lines);
    } else if (HaveAvx2 && m_steps != Steps::Portable && pos < n) {
        pos = scanAvx2(bytes, pos, n, line, starts, count, lines);
    }
#endif
    // The rest one ESC and one occurrence at a time; what both find in a line is merged.
    const std::size_t splitFrom = lines.size();
    const std::size_t lineFrom = line;
    for (std::size_t at = pos; length > 1 && at < n;) {
        const void* found = std::memchr(bytes + at, Esc, n - at);
        if (found == nullptr) {
            break;
        }
        at = std::size_t(static_cast<const std::uint8_t*>(found) - bytes);
        at = splitAt(bytes, n, at) ? lineHit(at, starts, count, line, lines) : at + 1;
    }
    const std::size_t wholeFrom = lines.size();
    line = lineFrom;
    for (std::size_t at = findWhole(bytes, pos, n); at < n; at = findWhole(bytes, at, n)) {
        at = lineHit(at, starts, count, line, lines);
    }
    std::inplace_merge(lines.begin() + std::ptrdiff_t(splitFrom),
                       lines.begin() + std::ptrdiff_t(wholeFrom), lines.end());
    lines.erase(std::unique(lines.begin() + std::ptrdiff_t(before), lines.end()), lines.end());
}
