#pragma once

// The text of one index line and the line-by-line search rule. Pure functions, used by
// the decoded window, by Find and by the tests that compare Find with the plain rule.
// Thread-safe.

#include "platform/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What a lone carriage return (one not directly followed by the line feed) is shown as
// with control characters shown, where the view's font has it: U+240D SYMBOL FOR CARRIAGE
// RETURN, so it takes one column and never breaks the line (engine/ShownText.h).
constexpr char16_t LoneCrSymbol = 0x240D;

// Appends the decoded text of one index line's bytes, terminator included: UTF-16
// little-endian (an odd last byte is dropped) or the locale's narrow set (invalid bytes
// become U+FFFD). Carriage returns stay as they are: how they are shown is
// engine/ShownText.h's to say.
void decodeLineBytes(const std::uint8_t* bytes, std::size_t n, bool utf16, std::u16string& out);
// The same in any encoding the file is read in (not Automatic): UTF-16 of either byte
// order, UTF-8, a single-byte set, or the locale's set.
void decodeLineBytes(const std::uint8_t* bytes, std::size_t n, quill::TextEncoding form,
                     std::u16string& out);

// decodeLineBytes that also reports a point to resume from when bytes are appended to the
// line later: the first safeBytes bytes decode to the first safeLength characters appended
// whatever follows them, so the rest can be decoded on its own and appended after them.
// A resume point never follows a carriage return (whether it ends the line depends on the
// next character) or an incomplete character. In a narrow set other than UTF-8 no point is known:
// 0, 0.
void decodeLineBytesResumable(const std::uint8_t* bytes, std::size_t n, bool utf16,
                              std::u16string& out, std::size_t& safeBytes, std::size_t& safeLength);
// The same in any encoding (not Automatic). In a single-byte set each byte is a resume
// point; in UTF-8 (chosen, or the locale's) the last ASCII byte.
void decodeLineBytesResumable(const std::uint8_t* bytes, std::size_t n, quill::TextEncoding form,
                              std::u16string& out, std::size_t& safeBytes, std::size_t& safeLength);

// The encoding of the bool forms: UTF-16 LE, or the locale's set.
inline quill::TextEncoding formOf(bool utf16)
{
    return utf16 ? quill::TextEncoding::Utf16Le : quill::TextEncoding::Locale;
}

// The text of a line decoded by decodeLineBytes without its terminator: LF, CR LF or a CR
// at the end (where lone CRs are left as they are), cut off.
std::u16string_view stripTerminator(std::u16string_view decoded);

// Lower-cases A-Z, leaves everything else as it is.
void foldAsciiCase(std::u16string& text);

// The find dialog's rule on one line. pattern and line are both already folded when the
// search ignores case; pattern is not empty. Forward: the first occurrence at or after
// startCol (none when startCol is beyond the line's end). Backward: the last occurrence
// that ends at or before startCol, i.e. the first one of the reversed line at or after
// length - startCol (none when that is negative). With wholeWord an occurrence counts only
// between delimiters; one that does not count is skipped and the search goes on past it.
// Result: the column of the occurrence, or -1.
std::int64_t findInLineForward(std::u16string_view line, std::u16string_view pattern,
                               std::int64_t startCol, bool wholeWord);
std::int64_t findInLineBackward(std::u16string_view line, std::u16string_view pattern,
                                std::int64_t startCol, bool wholeWord);
