#pragma once

// The UTF-16 test for a file's first bytes, modelled on the platform test IsTextUnicode
// with the tests of IS_TEXT_UNICODE_UNICODE_MASK. Thread-safe, no state.

#include <cstddef>
#include <cstdint>

namespace quill {

constexpr std::uint32_t IS_TEXT_UNICODE_ASCII16 = 0x0001;
constexpr std::uint32_t IS_TEXT_UNICODE_STATISTICS = 0x0002;
constexpr std::uint32_t IS_TEXT_UNICODE_CONTROLS = 0x0004;
constexpr std::uint32_t IS_TEXT_UNICODE_SIGNATURE = 0x0008;
constexpr std::uint32_t IS_TEXT_UNICODE_UNICODE_MASK = 0x000F;

// Applies the requested tests (*tests; all four when tests is null) to the first code
// units of the bytes read as UTF-16 little-endian and returns 1 when one of them passed,
// else 0. *tests receives the tests that passed.
//   ASCII16:    every unit other than zero is a 7-bit character (0x01-0x7F), and there is one;
//   STATISTICS: more than half of the units other than zero lie below 0x100 (Latin letters);
//   CONTROLS:   a unit is CR, LF, TAB, blank or the ideographic space U+3000;
//   SIGNATURE:  the bytes begin with FF FE.
// Fewer than two bytes give 0. A trailing odd byte (a writer in the middle of a character)
// is ignored instead of failing the test. Zero units count neither way: a run of zero bytes
// (what a copytruncate rotation leaves before the writer's next line) is as likely in a
// narrow file as in a wide one.
int IsTextUnicode(const void* bytes, std::size_t size, std::uint32_t* tests);

} // namespace quill
