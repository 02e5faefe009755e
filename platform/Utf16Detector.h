#pragma once

// Whether a file's first bytes, which carry no byte-order mark, are UTF-16 text, and in which
// byte order. Thread-safe, no state.
//
// Narrow text is the answer unless the bytes read as UTF-16 show real evidence of it, all of:
//  - a line feed as a code unit (0A 00 little-endian, 00 0A big-endian, at an even offset);
//  - hardly any unit that no text holds: lone surrogates, C0 and C1 controls other than the
//    blanks, BEL, BS and ESC, private-use units, noncharacters (at most one unit in 64);
//  - at least MinTextUnits units that are neither blank nor zero;
//  - and one of two signatures that narrow text with zero bytes in it cannot give:
//      Latin: at least a quarter of those units are ASCII or Latin-1 letters, digits or
//        signs with a zero high byte;
//      another script: read as narrow text, the bytes break UTF-8 (or hold controls) at
//        least once per eight units whose high byte is not zero, and at most three in four
//        of those units are two ASCII characters side by side;
//      a script of one block below U+1000 other than U+0A00 and U+0D00: at least three in
//        four of at least 16 units whose high byte is not zero share one high byte.
//
// Zero bytes themselves are no evidence either way: a writer that died leaves a run of
// them, a crash pads with "\n\0", a command writes "\0" between names. read as narrow text,
// the bytes are judged with every zero byte and a blank directly before one left out, so
// such padding anywhere, at odd or even offsets, never breaks narrow text. Zero units count
// for neither reading. A trailing odd byte and a high surrogate cut at the end are ignored
// (a writer in the middle of a character).

#include <cstddef>
#include <cstdint>

namespace quill {

enum class Utf16Guess : std::uint8_t {
    Narrow,
    LittleEndian,
    BigEndian,
};

// Only the first units are looked at; a window of a few thousand tells text from text.
constexpr std::size_t Utf16GuessMaxUnits = 4096;
constexpr std::size_t MinTextUnits = 6;

Utf16Guess guessUtf16(const void* bytes, std::size_t size);

} // namespace quill
