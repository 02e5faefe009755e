#pragma once

// Lines too long to decode whole. A line whose bytes pass LongLineBytes is never decoded in
// one piece: the view shows a part of it around its horizontal position, Find scans it in
// pieces that overlap, and a copy streams it in pieces, so memory stays bounded for a line
// of any length (a 4 GiB file without a line feed is one such line).
//
// Columns of a long line are counted from its bytes, so that any column is found without
// decoding what lies before it: one column per byte in a narrow encoding, one per two bytes
// in UTF-16. A character of several bytes (UTF-8) is shown in the column of its first byte,
// followed by LongLinePad in the columns of its other bytes; in a single-byte set and in
// UTF-16 every column holds its own character, as in a short line. In a narrow set of
// several bytes per character other than UTF-8 (rare as a locale today), the part shown is
// cut or padded to its columns and may shift by a few columns. A line takes no column beyond
// LongLineMaxColumns (selections and find positions count columns in 32 bits).
//
// With terminal colours on, the control sequences of a long line are hidden as in a short
// one (engine/SgrParser.h), each keeping its columns: shown, they hold LongLinePad; copied
// or searched, they give no text. The columns of everything else stay where the bytes put
// them. A sequence is hidden only when it takes at most LongSequenceUnits units (bytes, or
// code units in UTF-16): whether a column lies inside one is then known from that much of
// the line around it, wherever a piece starts or ends. A longer one (a window title of
// kilobytes, or a string that is never terminated) is shown as it is, as a broken one is.
//
// Pure functions; thread-safe.

#include "platform/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A line longer than this, terminator included, is a long line.
constexpr std::uint64_t LongLineBytes = std::uint64_t{2} << 20;
// What fills the columns of a character's later bytes in a long line's shown text: it
// takes no room on screen and is never part of a copy or a match.
constexpr char16_t LongLinePad = 0x200B;
constexpr std::int64_t LongLineMaxColumns = std::int64_t{0x7FFFFFFF} - 1;
// The longest control sequence a long line hides, in units.
constexpr std::int64_t LongSequenceUnits = 4096;

// Bytes of the encoding per column of a long line: 2 in UTF-16, else 1.
inline int longLineUnitBytes(quill::TextEncoding form)
{
    return quill::isUtf16(form) ? 2 : 1;
}

// The bytes a reader of a long line's part takes before and after it, beyond the few a
// character cut by its edges needs, so that the sequences cut by its edges are known.
inline std::int64_t longSequenceMargin(quill::TextEncoding form, bool hideSequences)
{
    return hideSequences ? LongSequenceUnits * longLineUnitBytes(form) : 0;
}

// The columns of a long line of `bytes` bytes (terminator excluded).
std::int64_t longLineColumns(std::uint64_t bytes, quill::TextEncoding form);

// The text of a long line's columns [first, first + count): bytes holds the line's bytes
// from `base` on (base <= the byte of column first), as far as the file had them, and at
// least a few bytes past the part when there are (a character cut by the part's end and a
// carriage return before a line feed are then decoded as in the whole line). The
// terminator is not text: `lineBytes` is where the line's text ends (its bytes without the
// terminator).
// Shown: exactly one unit per column (a character in the column of its first byte, the
// second half of a surrogate pair in the next, LongLinePad in the rest; columns beyond the
// text missing). Not shown: the characters whose first byte lies in the part, each
// once, and in columns the column of each unit.
// hideSequences: the line's control sequences are hidden (see above); bytes then holds
// longSequenceMargin more on either side of the part, as far as the line has them.
void decodeLongLinePart(const std::uint8_t* bytes, std::size_t size, std::uint64_t base,
                        std::uint64_t lineBytes, std::int64_t first, std::int64_t count,
                        quill::TextEncoding form, bool shown, std::u16string& out,
                        std::vector<std::int64_t>* columns = nullptr, bool hideSequences = false);

// The columns in [first, end) that lie inside a control sequence of a long line hidden as
// above, as ascending, disjoint [begin, end) spans; bytes, base and lineBytes as for
// decodeLongLinePart.
std::vector<std::pair<std::int64_t, std::int64_t>>
longLineSequenceColumns(const std::uint8_t* bytes, std::size_t size, std::uint64_t base,
                        std::uint64_t lineBytes, std::int64_t first, std::int64_t end,
                        quill::TextEncoding form);
