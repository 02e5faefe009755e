#include "engine/MultiPattern.h"

#include "engine/BytePattern.h"
#include "platform/Contract.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILL_MULTI_AVX2 1
#endif

namespace {

inline std::uint8_t foldByte(std::uint8_t b)
{
    return std::uint8_t(b + ((std::uint8_t(b - 'A') < 26) ? 32 : 0));
}

// The bytes from `from` on, compared one by one.
bool sameTail(const std::uint8_t* at, const char* pattern, std::size_t length, bool caseless,
              std::size_t from)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(pattern);
    if (!caseless) {
        return std::memcmp(at + from, p + from, length - from) == 0;
    }
    for (std::size_t i = from; i < length; ++i) {
        if (foldByte(at[i]) != p[i]) {
            return false;
        }
    }
    return true;
}

// How often the bytes occur in the sample, counting no further than `enough`.
std::size_t occurrences(const std::uint8_t* sample, std::size_t n, const std::uint8_t* bytes,
                        std::size_t length, std::size_t enough)
{
    std::size_t count = 0;
    const std::uint8_t* end = sample + n;
    for (const std::uint8_t* at = sample; count < enough;) {
        at = findPatternBytes(at, end, bytes, length, 0);
        if (at == nullptr) {
            break;
        }
        ++count;
        ++at;
    }
    return count;
}

// How often `first` and, gap bytes after it, `second` occur in the sample, counting no
// further than `enough`.
std::size_t occurrencesApart(const std::uint8_t* sample, std::size_t n, std::uint8_t first,
                             std::uint8_t second, std::size_t gap, std::size_t enough)
{
    std::size_t count = 0;
    const std::uint8_t* const end = sample + n;
    for (const std::uint8_t* at = sample; count < enough && end - at > std::ptrdiff_t(gap);) {
        at = static_cast<const std::uint8_t*>(std::memchr(at, first, std::size_t(end - at) - gap));
        if (at == nullptr) {
            break;
        }
        count += at[gap] == second;
        ++at;
    }
    return count;
}

#if defined(QUILL_MULTI_AVX2)
bool hasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

bool hasAvx512()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
}
#endif

} // namespace

std::uint64_t MultiPattern::foldBits(const Pattern& pattern, std::size_t from)
{
    // A caseless pattern holds its letters in lower case, which have the case bit set: a
    // byte of the buffer with that bit set compares equal exactly when it is the letter in
    // either case.
    std::uint64_t bits = 0;
    if (!pattern.caseless) {
        return bits;
    }
    for (std::size_t i = 0; i < 8 && from + i < pattern.bytes.size(); ++i) {
        const auto b = std::uint8_t(pattern.bytes[from + i]);
        if (b >= 'a' && b <= 'z') {
            bits |= std::uint64_t(0x20) << (8 * i);
        }
    }
    return bits;
}

std::vector<std::uint8_t> MultiPattern::acceptedAt(const Pattern& pattern, std::size_t j) const
{
    std::vector<std::uint8_t> accepted;
    if (pattern.anchor + m_at[j] >= pattern.bytes.size()) {
        // Past a short pattern's end any byte may follow.
        accepted.resize(256);
        for (int c = 0; c < 256; ++c) {
            accepted[std::size_t(c)] = std::uint8_t(c);
        }
        return accepted;
    }
    const auto b = std::uint8_t(pattern.bytes[pattern.anchor + m_at[j]]);
    accepted.push_back(b);
    if (pattern.caseless && b >= 'a' && b <= 'z') {
        accepted.push_back(std::uint8_t(b - 32));
    }
    return accepted;
}

std::uint8_t MultiPattern::chooseGroup(const Pattern& pattern, std::size_t index) const
{
    if (index < GroupCount) {
        return std::uint8_t(index);
    }
    // The group that lets the fewest more positions through: what the nibble tables take at
    // each anchor position, multiplied, is what a group lets through of random bytes.
    std::uint64_t bestCost = ~std::uint64_t(0);
    std::uint8_t best = 0;
    for (std::size_t g = 0; g < GroupCount; ++g) {
        const std::uint8_t bit = std::uint8_t(1u << g);
        std::uint64_t cost = 1;
        for (std::size_t j = 0; j < m_anchorBytes; ++j) {
            std::array<bool, 16> low{};
            std::array<bool, 16> high{};
            for (std::size_t v = 0; v < 16; ++v) {
                low[v] = (m_low[j][v] & bit) != 0;
                high[v] = (m_high[j][v] & bit) != 0;
            }
            for (std::uint8_t c : acceptedAt(pattern, j)) {
                low[c & 15] = true;
                high[c >> 4] = true;
            }
            cost *= std::uint64_t(std::count(low.begin(), low.end(), true)) *
                    std::uint64_t(std::count(high.begin(), high.end(), true));
        }
        if (cost < bestCost || (cost == bestCost && m_members[g].size() < m_members[best].size())) {
            bestCost = cost;
            best = std::uint8_t(g);
        }
    }
    return best;
}

void MultiPattern::anchorByLooks(Pattern& pattern) const
{
    pattern.anchor = 0;
    int best = -1;
    for (std::size_t at = 0; at + anchorSpan() <= pattern.bytes.size(); ++at) {
        int rarity = 0;
        for (std::size_t j = 0; j < m_anchorBytes; ++j) {
            rarity += byteRarity(std::uint8_t(pattern.bytes[at + m_at[j]]));
        }
        if (rarity > best) {
            best = rarity;
            pattern.anchor = at;
        }
    }
}

void MultiPattern::setAnchorLayout(std::size_t bytes, std::size_t gap)
{
    QUILL_ASSERT((bytes == 2 && gap >= 1 && gap <= MaxAnchorGap) || (bytes == 3 && gap == 1));
    m_anchorBytes = bytes;
    m_at = bytes == 3 ? std::array<std::size_t, MaxAnchorBytes>{0, 1, 2}
                      : std::array<std::size_t, MaxAnchorBytes>{0, gap, gap};
    for (Pattern& pattern : m_patterns) {
        anchorByLooks(pattern);
    }
    placeAll();
}

std::size_t MultiPattern::add(std::string_view bytes, bool caseless)
{
    QUILL_ASSERT(!bytes.empty());
    Pattern pattern;
    pattern.bytes.assign(bytes);
    pattern.caseless = caseless;
    anchorByLooks(pattern);
    const std::size_t length = std::min<std::size_t>(pattern.bytes.size(), 8);
    std::memcpy(&pattern.head, pattern.bytes.data(), length);
    std::uint8_t mask[8] = {};
    std::memset(mask, 0xFF, length);
    std::memcpy(&pattern.headMask, mask, 8);
    const std::size_t index = m_patterns.size();
    if (index == 0) {
        placeAll(); // the tables past the anchor's bytes take every byte
    }
    place(pattern, index);
    m_patterns.push_back(std::move(pattern));
    buildProbes();
    return index;
}

void MultiPattern::buildProbes()
{
    m_probes.clear();
    for (std::size_t g = 0; g < GroupCount; ++g) {
        m_groupBegin[g] = std::uint32_t(m_probes.size());
        for (std::uint32_t index : m_members[g]) {
            const Pattern& pattern = m_patterns[index];
            Probe probe;
            probe.bytes = pattern.bytes.data();
            probe.length = std::uint32_t(pattern.bytes.size());
            probe.anchor = std::uint32_t(pattern.anchor);
            probe.index = index;
            probe.caseless = pattern.caseless;
            probe.head = pattern.head;
            probe.headMask = pattern.headMask;
            probe.headFold = foldBits(pattern, 0) & pattern.headMask;
            if (probe.length > 8) {
                std::memcpy(&probe.tail, probe.bytes + probe.length - 8, 8);
                probe.tailFold = foldBits(pattern, probe.length - 8);
            }
            m_probes.push_back(probe);
        }
    }
    m_groupBegin[GroupCount] = std::uint32_t(m_probes.size());
}

void MultiPattern::place(Pattern& pattern, std::size_t index)
{
    pattern.group = chooseGroup(pattern, index);
    const std::uint8_t bit = std::uint8_t(1u << pattern.group);
    for (std::size_t j = 0; j < m_anchorBytes; ++j) {
        for (std::uint8_t c : acceptedAt(pattern, j)) {
            m_bytes[j][c] |= bit;
            m_low[j][c & 15] |= bit;
            m_high[j][c >> 4] |= bit;
        }
    }
    m_members[pattern.group].push_back(std::uint32_t(index));
}

void MultiPattern::tune(const std::uint8_t* sample, std::size_t n)
{
    if (m_patterns.size() > MaxTunedPatterns || n == 0) {
        return;
    }
    m_anchorBytes = 2;
    m_at = {0, 1, 1};
    bool sparse = anchorOnSample(sample, n, false) * DenseAnchorBytes <= n;
    // Each later try starts from the pairs in a row that were found.
    std::vector<std::size_t> inRow;
    for (const Pattern& pattern : m_patterns) {
        inRow.push_back(pattern.anchor);
    }
    const auto startAgain = [&] {
        for (std::size_t i = 0; i < m_patterns.size(); ++i) {
            m_patterns[i].anchor = inRow[i];
        }
    };
    for (std::size_t gap = 2; gap <= MaxAnchorGap && !sparse; ++gap) {
        m_at = {0, gap, gap};
        startAgain();
        // A try is given up as soon as it is as common as the pairs in a row.
        sparse = anchorOnSample(sample, n, true, n / DenseAnchorBytes) * DenseAnchorBytes <= n;
    }
    if (!sparse) {
        m_anchorBytes = 3;
        m_at = {0, 1, 2};
        startAgain();
        anchorOnSample(sample, n, false);
    }
    placeAll();
}

std::size_t MultiPattern::anchorOnSample(const std::uint8_t* sample, std::size_t n, bool countShort,
                                         std::size_t enough)
{
    std::vector<std::uint8_t> folded;
    std::size_t total = 0;
    const auto text = [&](const Pattern& pattern) -> const std::uint8_t* {
        if (pattern.caseless && folded.empty()) {
            folded.resize(n);
            foldAsciiBytes(sample, folded.data(), n);
        }
        return pattern.caseless ? folded.data() : sample;
    };
    const std::size_t span = anchorSpan();
    // Occurrences past the first one beyond enough need no counting.
    const auto countLimit = [&](std::size_t counted) {
        return enough - counted >= n ? n : enough - counted + 1;
    };
    for (Pattern& pattern : m_patterns) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(pattern.bytes.data());
        if (pattern.bytes.size() <= span) {
            pattern.anchor = 0;
            // A pair that does not fit into the pattern is its first byte alone.
            if (countShort && pattern.bytes.size() > 1 && pattern.bytes.size() < span) {
                total += occurrences(text(pattern), n, bytes, 1, countLimit(total));
                if (total > enough) {
                    return total;
                }
            }
            if (pattern.bytes.size() < span || m_anchorBytes == span) {
                continue; // the anchor cannot move
            }
        }
        const std::uint8_t* const searched = text(pattern);
        // The anchor's bytes at `at`, counted no further than `most`.
        const auto countAt = [&](std::size_t at, std::size_t most) {
            return m_anchorBytes == span ? occurrences(searched, n, bytes + at, span, most)
                                         : occurrencesApart(searched, n, bytes[at],
                                                            bytes[at + m_at[1]], m_at[1], most);
        };
        auto rarity = [&](std::size_t at) {
            int sum = 0;
            for (std::size_t j = 0; j < m_anchorBytes; ++j) {
                sum += byteRarity(bytes[at + m_at[j]]);
            }
            return sum;
        };
        std::size_t best = std::min(pattern.anchor, pattern.bytes.size() - span);
        std::size_t fewest = countAt(best, countLimit(total));
        for (std::size_t at = 0; at + span <= pattern.bytes.size() && fewest > 0; ++at) {
            if (at == best) {
                continue;
            }
            const std::size_t count = countAt(at, fewest + 1);
            if (count < fewest || (count == fewest && rarity(at) > rarity(best))) {
                fewest = count;
                best = at;
            }
        }
        pattern.anchor = best;
        total += fewest;
        if (total > enough) {
            return total;
        }
    }
    return total;
}

void MultiPattern::placeAll()
{
    m_bytes = {};
    m_low = {};
    m_high = {};
    for (std::size_t j = m_anchorBytes; j < MaxAnchorBytes; ++j) {
        m_bytes[j].fill(0xFF);
        m_low[j].fill(0xFF);
        m_high[j].fill(0xFF);
    }
    for (auto& members : m_members) {
        members.clear();
    }
    for (std::size_t index = 0; index < m_patterns.size(); ++index) {
        place(m_patterns[index], index);
    }
    buildProbes();
}

// Inlined where candidates are compared: most are not occurrences and cost little more
// than the call would.
// Inlined where candidates are compared: most are not occurrences and cost little more
// than the call would.
__attribute__((always_inline)) inline void MultiPattern::compare(const std::uint8_t* data,
                                                                 std::size_t n, std::size_t anchor,
                                                                 const Probe& probe,
                                                                 std::vector<Hit>& hits) const
{
    if (anchor < probe.anchor) {
        return;
    }
    const std::size_t start = anchor - probe.anchor;
    if (probe.length > n - start) {
        return;
    }
    if (n - start < 8) {
        // Near the end a word would read past it.
        if (sameTail(data + start, probe.bytes, probe.length, probe.caseless, 0)) {
            hits.push_back({start, anchor, probe.index});
        }
        return;
    }
    std::uint64_t word;
    std::memcpy(&word, data + start, 8);
    if (((word | probe.headFold) & probe.headMask) != probe.head) {
        return;
    }
    if (probe.length > 8) {
        // The last eight bytes (overlapping the first where shorter than sixteen).
        std::memcpy(&word, data + start + probe.length - 8, 8);
        if ((word | probe.tailFold) != probe.tail) {
            return;
        }
        if (probe.length > 16 &&
            !sameTail(data + start, probe.bytes, probe.length - 8, probe.caseless, 8)) {
            return;
        }
    }
    hits.push_back({start, anchor, probe.index});
}

__attribute__((always_inline)) inline void MultiPattern::verify(const std::uint8_t* data,
                                                                std::size_t n, std::size_t anchor,
                                                                unsigned groups,
                                                                std::vector<Hit>& hits) const
{
    while (groups != 0) {
        const unsigned g = unsigned(__builtin_ctz(groups));
        groups &= groups - 1;
        const Probe* const end = m_probes.data() + m_groupBegin[g + 1];
        for (const Probe* probe = m_probes.data() + m_groupBegin[g]; probe != end; ++probe) {
            compare(data, n, anchor, *probe, hits);
        }
    }
}

void MultiPattern::findPlain(const std::uint8_t* data, std::size_t n, std::size_t from,
                             std::vector<Hit>& hits) const
{
    const auto& t0 = m_bytes[0];
    const auto& t1 = m_bytes[1];
    const auto& t2 = m_bytes[2];
    const std::size_t second = m_at[1];
    const std::size_t third = m_at[2]; // the farthest
    std::size_t at = from;
    for (; at + third < n; ++at) {
        const unsigned groups = t0[data[at]] & t1[data[at + second]] & t2[data[at + third]];
        if (groups != 0) {
            verify(data, n, at, groups, hits);
        }
    }
    // The last anchors reach past the end: a zero byte stands in for what is not there (a
    // pattern that ends before takes any byte there, a longer one fails its whole
    // comparison).
    for (; at < n; ++at) {
        const unsigned groups = t0[data[at]] & t1[at + second < n ? data[at + second] : 0] &
                                t2[at + third < n ? data[at + third] : 0];
        if (groups != 0) {
            verify(data, n, at, groups, hits);
        }
    }
}

#if defined(QUILL_MULTI_AVX2)
namespace {

// Bit g of each byte: group g's anchor takes the byte at p as its j-th byte, by its nibbles.
__attribute__((target("avx2"))) inline __m256i fitsAt(const std::uint8_t* p, __m256i low,
                                                      __m256i high, __m256i nibble)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i lo = _mm256_and_si256(v, nibble);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    return _mm256_and_si256(_mm256_shuffle_epi8(low, lo), _mm256_shuffle_epi8(high, hi));
}

// A nibble table in both halves of a register, as the shuffles look up per half.
__attribute__((target("avx2"))) inline __m256i table(const std::array<std::uint8_t, 16>& nibbles)
{
    return _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(nibbles.data())));
}

} // namespace

template <bool Three>
__attribute__((target("avx2"))) std::size_t
MultiPattern::findAvx2(const std::uint8_t* data, std::size_t n, std::vector<Hit>& hits) const
{
    const __m256i low0 = table(m_low[0]);
    const __m256i low1 = table(m_low[1]);
    const __m256i low2 = table(m_low[2]);
    const __m256i high0 = table(m_high[0]);
    const __m256i high1 = table(m_high[1]);
    const __m256i high2 = table(m_high[2]);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    const std::size_t second = m_at[1];
    const std::size_t third = m_at[2]; // the farthest
    alignas(32) std::uint8_t groups[32];
    Pending pending;
    std::size_t at = 0;
    // A step reads up to data[at + 31 + third]; where the steps end is counted once.
    const std::size_t stepBytes = 32 + third;
    const std::size_t stepsEnd = n >= stepBytes ? n - stepBytes + 1 : 0;
    for (; at < stepsEnd; at += 32) {
        const std::uint8_t* p = data + at;
        __m256i fit = _mm256_and_si256(fitsAt(p, low0, high0, nibble),
                                       fitsAt(p + second, low1, high1, nibble));
        if constexpr (Three) {
            fit = _mm256_and_si256(fit, fitsAt(p + third, low2, high2, nibble));
        }
        if (_mm256_testz_si256(fit, fit)) {
            continue;
        }
        const unsigned mask = ~unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(fit, zero)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(groups), fit);
        if (pending.size() > Pending::Capacity - 32) {
            verifyPending(data, n, pending, hits);
        }
        stepCandidates(data, at, mask, groups, Three, pending);
    }
    verifyPending(data, n, pending, hits);
    return at;
}

namespace {

__attribute__((target("avx512f,avx512bw"))) inline __m512i
fitsAt512(const std::uint8_t* p, __m512i low, __m512i high, __m512i nibble)
{
    const __m512i v = _mm512_loadu_si512(p);
    const __m512i lo = _mm512_and_si512(v, nibble);
    const __m512i hi = _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble);
    return _mm512_and_si512(_mm512_shuffle_epi8(low, lo), _mm512_shuffle_epi8(high, hi));
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i
table512(const std::array<std::uint8_t, 16>& nibbles)
{
    // Four copies, one per 128-bit lane (a broadcast from 128 bits reads as uninitialized to
    // GCC 12).
    alignas(64) std::array<std::uint8_t, 64> copies;
    for (std::size_t k = 0; k < copies.size(); ++k) {
        copies[k] = nibbles[k % 16];
    }
    return _mm512_load_si512(copies.data());
}

} // namespace

template <bool Three>
__attribute__((target("avx512f,avx512bw"))) std::size_t
MultiPattern::findAvx512(const std::uint8_t* data, std::size_t n, std::vector<Hit>& hits) const
{
    const __m512i low0 = table512(m_low[0]);
    const __m512i low1 = table512(m_low[1]);
    const __m512i low2 = table512(m_low[2]);
    const __m512i high0 = table512(m_high[0]);
    const __m512i high1 = table512(m_high[1]);
    const __m512i high2 = table512(m_high[2]);
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const std::size_t second = m_at[1];
    const std::size_t third = m_at[2]; // the farthest
    alignas(64) std::uint8_t groups[64];
    Pending pending;
    std::size_t at = 0;
    // A step reads up to data[at + 63 + third]; where the steps end is counted once.
    const std::size_t stepBytes = 64 + third;
    const std::size_t stepsEnd = n >= stepBytes ? n - stepBytes + 1 : 0;
    for (; at < stepsEnd; at += 64) {
        const std::uint8_t* p = data + at;
        __m512i fit = _mm512_and_si512(fitsAt512(p, low0, high0, nibble),
                                       fitsAt512(p + second, low1, high1, nibble));
        if constexpr (Three) {
            fit = _mm512_and_si512(fit, fitsAt512(p + third, low2, high2, nibble));
        }
        const std::uint64_t mask = _mm512_test_epi8_mask(fit, fit);
        if (mask == 0) {
            continue;
        }
        _mm512_store_si512(groups, fit);
        if (pending.size() > Pending::Capacity - 64) {
            verifyPending(data, n, pending, hits);
        }
        stepCandidates(data, at, mask, groups, Three, pending);
    }
    verifyPending(data, n, pending, hits);
    return at;
}
#endif

// Inlined into the vector steps: a call there would save and restore their registers on
// every step with a candidate, which in a log full of keyword lines is most steps.
__attribute__((always_inline)) inline void
MultiPattern::stepCandidates(const std::uint8_t* data, std::size_t at, std::uint64_t mask,
                             const std::uint8_t* groups, bool three, Pending& pending) const
{
    for (; mask != 0; mask &= mask - 1) {
        const unsigned t = unsigned(__builtin_ctzll(mask));
        // The nibbles let through byte pairs no pattern has: the byte tables sort them out.
        const std::size_t anchor = at + t;
        unsigned exact = groups[t] & m_bytes[0][data[anchor]] & m_bytes[1][data[anchor + m_at[1]]];
        if (three) {
            exact &= m_bytes[2][data[anchor + 2]];
        }
        pending.anchors[pending.count] = anchor;
        pending.groups[pending.count] = std::uint8_t(exact);
        pending.count += exact != 0;
    }
}

void MultiPattern::verifyPending(const std::uint8_t* data, std::size_t n, Pending& pending,
                                 std::vector<Hit>& hits) const
{
    for (std::size_t i = 0; i < pending.count; ++i) {
        const std::size_t anchor = pending.anchors[i];
        const unsigned groups = pending.groups[i];
        // A candidate of one group of one pattern (up to eight patterns, each) is compared
        // without the walk through groups and probes: where the anchor is common and the
        // pattern is not ("line 12" in "line 1<n>"), that walk is most of its cost.
        if ((groups & (groups - 1)) == 0) {
            const unsigned g = unsigned(__builtin_ctz(groups));
            if (m_groupBegin[g + 1] - m_groupBegin[g] == 1) {
                compare(data, n, anchor, m_probes[m_groupBegin[g]], hits);
                continue;
            }
        }
        verify(data, n, anchor, groups, hits);
    }
    pending.count = 0;
}

void MultiPattern::find(const std::uint8_t* data, std::size_t n, std::vector<Hit>& hits) const
{
    if (m_patterns.empty() || n == 0) {
        return;
    }
    std::size_t from = 0;
#if defined(QUILL_MULTI_AVX2)
    const bool three = m_anchorBytes == 3;
    if (m_steps == Steps::Fastest && hasAvx512()) {
        from = three ? findAvx512<true>(data, n, hits) : findAvx512<false>(data, n, hits);
    } else if (m_steps != Steps::Portable && hasAvx2()) {
        from = three ? findAvx2<true>(data, n, hits) : findAvx2<false>(data, n, hits);
    }
#endif
    findPlain(data, n, from, hits);
}
