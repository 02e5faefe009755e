#include "engine/ShownLines.h"

#include "engine/SgrParser.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr std::uint8_t Esc = 0x1B;

// Copies in[i, ...) to out[w, ...) up to the next ESC or n; returns how many were copied.
// Sixteen bytes a step: a coloured log has a sequence every twenty bytes or so, and a call
// of memchr and one of memmove for each would cost more than the search itself. A step
// stores all sixteen bytes, those past the ESC too; they are overwritten by what follows
// (out never runs ahead of in, so the store stays inside a buffer of n bytes).
[[gnu::always_inline]] inline std::size_t
copyToEscape(const std::uint8_t* in, std::size_t i, std::size_t n, std::uint8_t* out, std::size_t w)
{
    const std::size_t from = i;
#if defined(__SSE2__)
    const __m128i esc = _mm_set1_epi8(char(Esc));
    while (n - i >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w + (i - from)), v);
        const unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, esc)));
        if (mask != 0) {
            return i + unsigned(__builtin_ctz(mask)) - from;
        }
        i += 16;
    }
#endif
    const void* found = std::memchr(in + i, Esc, n - i);
    const std::size_t to = found ? std::size_t(static_cast<const std::uint8_t*>(found) - in) : n;
    std::memcpy(out + w + (i - from), in + i, to - i);
    return to - from;
}

#if defined(__x86_64__)
// The classes of sixty-four bytes that make up a control sequence, a bit a byte.
struct ByteClasses {
    std::uint64_t escapes;       // ESC
    std::uint64_t brackets;      // '['
    std::uint64_t parameters;    // 0x30-0x3F
    std::uint64_t intermediates; // 0x20-0x2F
    std::uint64_t finals;        // 0x40-0x7E
    std::uint64_t high;          // 0x80-0xFF
};

__attribute__((target("avx2"))) inline std::uint64_t maskAvx2(__m256i low, __m256i high)
{
    return std::uint64_t(std::uint32_t(_mm256_movemask_epi8(low))) |
           std::uint64_t(std::uint32_t(_mm256_movemask_epi8(high))) << 32;
}

__attribute__((target("avx2"))) inline ByteClasses classifyAvx2(const std::uint8_t* p)
{
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const __m256i nibbles = _mm256_set1_epi8(char(0xF0));
    const __m256i loTop = _mm256_and_si256(lo, nibbles);
    const __m256i hiTop = _mm256_and_si256(hi, nibbles);
    const __m256i esc = _mm256_set1_epi8(char(Esc));
    const __m256i bracket = _mm256_set1_epi8('[');
    const __m256i parameter = _mm256_set1_epi8(0x30);
    const __m256i intermediate = _mm256_set1_epi8(0x20);
    // Signed: the bytes beyond ASCII are below both bounds.
    const __m256i belowFinals = _mm256_set1_epi8(0x3F);
    const __m256i aboveFinals = _mm256_set1_epi8(0x7F);
    const auto finals = [&](__m256i v) __attribute__((target("avx2")))
    {
        return _mm256_and_si256(_mm256_cmpgt_epi8(v, belowFinals),
                                _mm256_cmpgt_epi8(aboveFinals, v));
    };
    ByteClasses c;
    c.escapes = maskAvx2(_mm256_cmpeq_epi8(lo, esc), _mm256_cmpeq_epi8(hi, esc));
    c.brackets = maskAvx2(_mm256_cmpeq_epi8(lo, bracket), _mm256_cmpeq_epi8(hi, bracket));
    c.parameters =
        maskAvx2(_mm256_cmpeq_epi8(loTop, parameter), _mm256_cmpeq_epi8(hiTop, parameter));
    c.intermediates =
        maskAvx2(_mm256_cmpeq_epi8(loTop, intermediate), _mm256_cmpeq_epi8(hiTop, intermediate));
    c.finals = maskAvx2(finals(lo), finals(hi));
    c.high = maskAvx2(lo, hi);
    return c;
}

// For each byte of eight, the shuffle that packs the bytes its set bits name to the front.
struct PackTable {
    alignas(16) std::uint8_t order[256][8];
    constexpr PackTable() : order{}
    {
        for (unsigned mask = 0; mask < 256; ++mask) {
            unsigned k = 0;
            for (unsigned bit = 0; bit < 8; ++bit) {
                if (mask & (1u << bit)) {
                    order[mask][k++] = std::uint8_t(bit);
                }
            }
            for (; k < 8; ++k) {
                order[mask][k] = 0x80;
            }
        }
    }
};
constexpr PackTable Pack;

// Writes the bytes of in[0, 64) whose bits are set in keep to out, in order; returns how
// many. Each group of eight stores eight bytes, so up to 64 bytes from out are written.
__attribute__((target("avx2,popcnt"))) inline std::size_t
packAvx2(const std::uint8_t* in, std::uint64_t keep, std::uint8_t* out)
{
    std::size_t w = 0;
    for (std::size_t g = 0; g < 8; ++g) {
        const unsigned bits = unsigned(keep >> (8 * g)) & 0xFF;
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + 8 * g));
        const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(Pack.order[bits]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + w), _mm_shuffle_epi8(v, order));
        w += unsigned(__builtin_popcount(bits));
    }
    return w;
}

__attribute__((target("avx2"))) inline void copyAvx2(const std::uint8_t* in, std::uint8_t* out)
{
    for (int k = 0; k < 64; k += 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k)));
    }
}

const bool HaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
           __builtin_cpu_supports("bmi");
}();
#endif

// The run's bytes without their complete sequences into shownBytes, its lines' shown starts
// into shownStarts, the lines a sequence's removal joins into joined. Avx2: sixty-four bytes
// a step are classified at once and every sequence they hold whole is found by carries
// across bit masks, without a branch per sequence; a step that holds something else (a
// sequence cut off or broken, a byte beyond ASCII right after one) goes the scalar way.
template <bool Avx2>
[[gnu::always_inline]] inline void
stripRun(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count, std::size_t i,
         std::vector<std::uint8_t>& shownBytes, std::vector<FileOffset>& shownStartsOut,
         std::vector<std::size_t>& joined)
{
    const FileOffset base = starts[0];
    const std::size_t n = std::size_t(starts[count] - base);
    shownBytes.resize(n);
    shownStartsOut.resize(count + 1);
    joined.clear();
    // Locals only in the loop: a store of a byte may alias any member.
    std::uint8_t* const out = shownBytes.data();
    FileOffset* const shownStarts = shownStartsOut.data();
    std::memcpy(out, bytes, i);
    std::size_t w = i;
    FileOffset removed = 0;
    std::size_t line = 0;    // the first line whose shown start is not written yet
    std::size_t lineEnd = 0; // the end of the line before it, which holds what is looked at
    std::size_t shownLineStart = 0;
    // Takes the ESC at bytes[at]: a complete sequence goes, anything else stays as text.
    // Returns where the bytes go on.
    auto escape = [&](std::size_t at) {
        // The lines that start at or before it keep what was removed before them.
        if (at >= lineEnd) {
            while (std::size_t(starts[line] - base) <= at) {
                shownStarts[line] = starts[line] - removed;
                ++line;
            }
            lineEnd = std::size_t(starts[line] - base);
            shownLineStart = std::size_t(shownStarts[line - 1] - base);
        }
        const std::size_t length = sgrSequenceLengthInLine(bytes, at, lineEnd);
        if (length == 0) {
            out[w++] = Esc;
            return at + 1;
        }
        if (at + length < lineEnd && bytes[at + length] >= 0x80 && w > shownLineStart &&
            out[w - 1] >= 0x80 && (joined.empty() || joined.back() != line - 1)) {
            joined.push_back(line - 1);
        }
        removed += FileOffset(length);
        return at + length;
    };
#if defined(__x86_64__)
    // The bytes of bytes[i, i + 64) up to where every sequence that starts before is whole,
    // taken out at once; 0 when the scalar way is to take them. No byte of a sequence is a
    // line feed, so a sequence ends inside its line.
    auto vectorStep = [&]() __attribute__((always_inline))->std::size_t
    {
        if constexpr (Avx2) {
            const ByteClasses c = classifyAvx2(bytes + i);
            if (c.escapes == 0) {
                copyAvx2(bytes + i, out + w);
                w += 64;
                return 64;
            }
            const std::uint64_t seqStarts = c.escapes & (c.brackets >> 1);
            // Strings, designations and single-character escapes are rare: the scalar way
            // (an ESC in the last byte may still start a control sequence, see below).
            if ((c.escapes & ~seqStarts & ~(1ull << 63)) != 0) {
                return 0;
            }
            // From the byte after "ESC [" over the parameters, then over the intermediates:
            // a carry runs through each run of them and stops on the byte after it.
            const std::uint64_t afterParameters = (c.parameters + (seqStarts << 2)) & ~c.parameters;
            const std::uint64_t afterIntermediates =
                (c.intermediates + afterParameters) & ~c.intermediates;
            std::size_t cut = 64;
            if (seqStarts != 0) {
                // The last sequence may go on past the step: its carry left the mask.
                const unsigned last = 63u - unsigned(__builtin_clzll(seqStarts));
                if ((afterIntermediates >> (last + 1)) == 0) {
                    cut = last;
                }
            }
            if (c.escapes >> 63) {
                cut = std::min<std::size_t>(cut, 63); // its '[' is in the next step
            }
            if (cut == 0) {
                return 0;
            }
            const std::uint64_t below = cut == 64 ? ~0ull : (1ull << cut) - 1;
            const std::uint64_t taken = seqStarts & below;
            const std::uint64_t ends = afterIntermediates & c.finals & below;
            // Every sequence that starts before the cut is complete, and none leaves two
            // bytes beyond ASCII side by side (the scalar step tells whether it joins).
            const bool highAfter =
                ((ends << 1) & c.high) != 0 || ((ends >> 63) != 0 && bytes[i + 64] >= 0x80);
            if (std::popcount(ends) != std::popcount(taken) || highAfter) {
                return 0;
            }
            // Each sequence [s, f] is 2^(f+1) - 2^s; summed modulo 2^64 they set exactly
            // the bytes to take out, a final at bit 63 included.
            const std::uint64_t gone = (ends << 1) - taken;
            // The lines that start before the cut; a line that starts inside a sequence
            // (one that does not end with a line feed) goes the scalar way. The end of the
            // run lies at least 80 bytes past the cut, so the walk stops before starts[count]
            // by itself; the bound says so where the starts' order cannot be seen.
            std::size_t next = line;
            for (; next < count && std::size_t(starts[next] - base) < i + cut; ++next) {
                const std::size_t at = std::size_t(starts[next] - base);
                if (at > i && bytes[at - 1] != '\n' && ((gone >> (at - i - 1)) & 1) != 0) {
                    return 0;
                }
            }
            for (; line < next; ++line) {
                const std::size_t at = std::size_t(starts[line] - base);
                const std::uint64_t before = at > i ? (1ull << (at - i)) - 1 : 0;
                shownStarts[line] =
                    starts[line] - removed - FileOffset(std::popcount(gone & before));
            }
            lineEnd = std::size_t(starts[line] - base);
            shownLineStart = std::size_t(shownStarts[line - 1] - base);
            w += packAvx2(bytes + i, ~gone & below, out + w);
            removed += FileOffset(std::popcount(gone));
            return cut;
        } else {
            return 0;
        }
    };
#endif
#if defined(__SSE2__)
    // Sixty-four bytes a step, their ESCs found at once and the text between two of them
    // (never more than the step) copied in four stores of sixteen, without a branch on its
    // length: a coloured log has a sequence every twenty bytes or so, and a loop that stops
    // at each would cost more than the search. A copy reads and writes up to 64 bytes past
    // where it starts (what it writes too much is overwritten later; out never runs ahead of
    // bytes), so the steps stop 144 bytes before the end.
    auto copy = [&](std::size_t from, std::size_t length) {
        for (std::size_t k = 0; k < 64; k += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w + k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + from + k)));
        }
        w += length;
    };
    const __m128i esc = _mm_set1_epi8(char(Esc));
    while (n - i >= 144) {
#if defined(__x86_64__)
        if constexpr (Avx2) {
            if (const std::size_t done = vectorStep(); done != 0) {
                i += done;
                continue;
            }
        }
#endif
        std::uint64_t escapes = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16 * k));
            escapes |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, esc))))
                       << (16 * k);
        }
        // The ESCs of the step are known before the first is measured: one that a string
        // before it holds (its terminator's) is passed over with that string.
        std::size_t done = 0; // of the step's bytes
        for (; escapes != 0; escapes &= escapes - 1) {
            const std::size_t at = std::size_t(__builtin_ctzll(escapes));
            if (at < done) {
                continue;
            }
            copy(i + done, at - done);
            done = escape(i + at) - i;
        }
        if (done < 64) {
            copy(i + done, 64 - done);
            done = 64;
        }
        i += done;
    }
#endif
    while (i < n) {
        const std::size_t copied = copyToEscape(bytes, i, n, out, w);
        i += copied;
        w += copied;
        if (i < n) {
            i = escape(i);
        }
    }
    for (; line <= count; ++line) {
        shownStarts[line] = starts[line] - removed;
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2,popcnt,bmi"))) void
stripRunAvx2(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count, std::size_t i,
             std::vector<std::uint8_t>& shownBytes, std::vector<FileOffset>& shownStarts,
             std::vector<std::size_t>& joined)
{
    stripRun<true>(bytes, starts, count, i, shownBytes, shownStarts, joined);
}
#endif

} // namespace

ShownLines::ShownLines(Steps steps) : m_steps(steps) {}

bool ShownLines::stripBlock(const std::uint8_t* bytes, std::size_t n)
{
    const FileOffset whole[2] = {0, FileOffset(n)};
    return strip(bytes, whole, 1);
}

bool ShownLines::strip(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count)
{
    const std::size_t n = std::size_t(starts[count] - starts[0]);
    const void* first = std::memchr(bytes, Esc, n);
    if (first == nullptr) {
        return false;
    }
    const std::size_t at = std::size_t(static_cast<const std::uint8_t*>(first) - bytes);
#if defined(__x86_64__)
    if (HaveAvx2 && m_steps == Steps::Fastest) {
        stripRunAvx2(bytes, starts, count, at, m_bytes, m_starts, m_joined);
        return true;
    }
#endif
    stripRun<false>(bytes, starts, count, at, m_bytes, m_starts, m_joined);
    return true;
}

bool ShownLines::joined(std::size_t line) const
{
    return std::binary_search(m_joined.begin(), m_joined.end(), line);
}

void ShownLines::trim(std::size_t keepBytes)
{
    if (m_bytes.size() > keepBytes) {
        m_bytes = std::vector<std::uint8_t>();
    }
    if (m_starts.size() > keepBytes / 16) {
        m_starts = std::vector<FileOffset>();
    }
}
