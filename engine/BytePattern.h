#pragma once

// A literal text as the bytes it has in the watched file, for the byte-level pre-search
// that Find and the filter run over the file before they decode the lines it points at.
// A line can only hold the text when its bytes hold the text's bytes (UTF-16 LE, or UTF-8
// when that is the locale's set; ASCII letters folded on both sides when case is ignored).
// Where the bytes of a match cannot be predicted (another narrow set, or a text with
// U+FFFD or the lone-CR symbol, which decoding produces from other bytes) the pattern is
// not usable and every line must be decoded and checked. Pure functions; thread-safe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct BytePattern {
    std::string bytes;   // folded (A-Z to a-z) when case is ignored
    bool usable = false; // false: no byte pre-search, check every line
    // A byte hit lies inside one line's text and is an occurrence there: UTF-8 (whose
    // multi-byte sequences never hold ASCII bytes, so folding cannot confuse them) and no
    // line-end character in the text. The caller still checks the whole-word rule.
    bool exact = false;
};

// text: already folded when case is ignored.
BytePattern MakeBytePattern(std::u16string_view text, bool utf16, bool matchCase);

// Lower-cases the bytes A-Z in place, everything else as it is.
void FoldAsciiBytes(std::uint8_t* p, std::size_t n);
// The same into another buffer.
void FoldAsciiBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

// UTF-16 to UTF-8; false for an unpaired surrogate (out then holds a part).
bool EncodeUtf8Exact(std::u16string_view text, std::string& out);
