#pragma once

// Terminal colours: the text of a line as a terminal would show it, without its control
// sequences, and the styles its SGR sequences ("ESC [ 1 ; 31 m") give the rest.
//
// Every complete sequence of ECMA-48 that starts with ESC is hidden:
//  - a control sequence: ESC '[', parameter characters 0x30-0x3F, intermediate characters
//    0x20-0x2F and one final character 0x40-0x7E; only the final 'm' changes the style,
//    any other (cursor moves, erasing) is hidden without effect;
//  - a control string: ESC and ']' (OSC), 'P' (DCS), 'X' (SOS), '^' (PM) or '_' (APC),
//    up to the string terminator "ESC \", an OSC also up to BEL (a window title); 'p'
//    and 'x' as 'P' and 'X', so that bytes whose letters were folded hold the same ones;
//  - ESC, intermediates 0x20-0x2F and a final 0x30-0x7E (character set designations such
//    as the "ESC ( B" of `tput sgr0`);
//  - ESC and one character 0x30-0x7E ("ESC 7", "ESC =", "ESC c").
// Anything else that starts with ESC is not a sequence: one cut off by the line's end or by
// a character it cannot hold (a control character, a character beyond ASCII, another ESC
// inside a control sequence or a string, a line feed), or ESC before a control character.
// It is shown as it is, so a broken sequence never hides more than itself.
//
// Understood: 0 (reset), 1 and 22 (bold on, off), 4 and 24 (underline on, off), 30-37,
// 90-97, 39 and 40-47, 100-107, 49 (the 16 colours, default), 38/48 with ";5;n" (256
// colours) and ";2;r;g;b" (24-bit), also with ':' between the sub-parameters. Other codes
// are skipped; an extended colour with a missing or out-of-range part ends that sequence's
// codes. An empty code counts as 0. Each line starts in the default style: lines are shown
// independently, so a colour never leaks from one line into the next.
//
// Pure functions; thread-safe.

#include "engine/StyleRuns.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

constexpr char16_t EscapeCharacter = 0x1B;

// Appends the line as shown to `shown`; when runs is not null, appends the styled runs
// (positions counted in `shown` from where it was appended; the default style gives no
// run). A line without ESC is appended unchanged, without runs.
void stripSgr(std::u16string_view line, std::u16string& shown, StyleRuns* runs);

// stripSgr of text onto itself (runs, when not null, replaced by the line's).
void stripSgrInPlace(std::u16string& text, StyleRuns* runs);

// The length of the complete control sequence that starts at bytes[at] (which must be ESC)
// of a line of n bytes; 0 when none starts there (the ESC is then text).
std::size_t sgrSequenceLength(const std::uint8_t* bytes, std::size_t n, std::size_t at);

// The length of the complete control sequence at in[i] (an ESC) of a line that ends at
// end, as sgrSequenceLength says, for the loops that meet one every few bytes: the sixteen
// bytes from the ESC classified at once where they lie inside the line, which is nearly
// always.
[[gnu::always_inline]] inline std::size_t sgrSequenceLengthInLine(const std::uint8_t* in,
                                                                  std::size_t i, std::size_t end)
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
            return sgrSequenceLength(in, end, i); // the other kinds are rare
        }
        // Past "ESC [": the parameters, then the intermediates, then one final.
        const unsigned afterParams = 2 + unsigned(__builtin_ctz(~(params >> 2)));
        const unsigned at = afterParams + unsigned(__builtin_ctz(~(intermediates >> afterParams)));
        if (at < 16) {
            return (finals >> at) & 1 ? at + 1 : 0;
        }
    }
#endif
    return sgrSequenceLength(in, end, i);
}

// The colour of entry n of the 256-colour palette (xterm's), as 0x00BBGGRR.
ColorRef sgrPaletteColor(unsigned n);
