#include "engine/ShownLines.h"

#include "engine/SgrParser.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::uint8_t Esc = 0x1B;

// Copies in[i, ...) to out[w, ...) up to the next ESC or n; returns how many were copied.
// Sixteen bytes a step: a coloured log has a sequence every twenty bytes or so, and a call
// of memchr and one of memmove for each would cost more than the search itself. A step
// stores all sixteen bytes, those past the ESC too; they are overwritten by what follows
// (out never runs ahead of in, so the store stays inside a buffer of n bytes).
[[gnu::always_inline]] inline std::size_t copyToEscape(const std::uint8_t* in, std::size_t i,
                                                      std::size_t n, std::uint8_t* out,
                                                      std::size_t w)
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

// The length of the complete control sequence at in[i] (an ESC) of a line that ends at
// end, as SgrSequenceLength says; the sixteen bytes from the ESC classified at once where
// they lie inside the line, which is nearly always.
[[gnu::always_inline]] inline std::size_t sequenceLength(const std::uint8_t* in, std::size_t i,
                                                        std::size_t end)
{
#if defined(__SSE2__)
    if (end - i >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i high = _mm_and_si128(v, _mm_set1_epi8(char(0xF0)));
        // Bytes below 0x80 only: the others are negative as signed bytes.
        const auto bits = [](__m128i m) { return unsigned(_mm_movemask_epi8(m)); };
        const unsigned params = bits(_mm_cmpeq_epi8(high, _mm_set1_epi8(0x30)));
        const unsigned intermediates = bits(_mm_cmpeq_epi8(high, _mm_set1_epi8(0x20)));
        const unsigned finals = bits(_mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x3F)),
                                                   _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F))));
        if (in[i + 1] != '[') {
            return 0;
        }
        // Past "ESC [": the parameters, then the intermediates, then one final.
        const unsigned afterParams = 2 + unsigned(__builtin_ctz(~(params >> 2)));
        const unsigned at = afterParams + unsigned(__builtin_ctz(~(intermediates >> afterParams)));
        if (at < 16) {
            return (finals >> at) & 1 ? at + 1 : 0;
        }
    }
#endif
    return SgrSequenceLength(in, end, i);
}

} // namespace

bool ShownLines::StripBlock(const std::uint8_t* bytes, std::size_t n)
{
    const FileOffset whole[2] = {0, FileOffset(n)};
    return Strip(bytes, whole, 1);
}

bool ShownLines::Strip(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count)
{
    const FileOffset base = starts[0];
    const std::size_t n = std::size_t(starts[count] - base);
    const void* first = std::memchr(bytes, Esc, n);
    if (first == nullptr) {
        return false;
    }
    m_bytes.resize(n);
    m_starts.resize(count + 1);
    m_joined.clear();
    // Locals only in the loop: a store of a byte may alias any member.
    std::uint8_t* const out = m_bytes.data();
    FileOffset* const shownStarts = m_starts.data();
    std::size_t i = std::size_t(static_cast<const std::uint8_t*>(first) - bytes);
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
        const std::size_t length = sequenceLength(bytes, at, lineEnd);
        if (length == 0) {
            out[w++] = Esc;
            return at + 1;
        }
        if (at + length < lineEnd && bytes[at + length] >= 0x80 && w > shownLineStart &&
            out[w - 1] >= 0x80 && (m_joined.empty() || m_joined.back() != line - 1)) {
            m_joined.push_back(line - 1);
        }
        removed += FileOffset(length);
        return at + length;
    };
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
        std::uint64_t escapes = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16 * k));
            escapes |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, esc)))) << (16 * k);
        }
        // A complete sequence holds no ESC: each ESC of the step starts at or after the end
        // of the sequence before it, so the next is known before this one is measured.
        std::size_t done = 0; // of the step's bytes
        for (; escapes != 0; escapes &= escapes - 1) {
            const std::size_t at = std::size_t(__builtin_ctzll(escapes));
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
    return true;
}

bool ShownLines::Joined(std::size_t line) const
{
    return std::binary_search(m_joined.begin(), m_joined.end(), line);
}

void ShownLines::Trim(std::size_t keepBytes)
{
    if (m_bytes.size() > keepBytes) {
        m_bytes = std::vector<std::uint8_t>();
    }
    if (m_starts.size() > keepBytes / 16) {
        m_starts = std::vector<FileOffset>();
    }
}
