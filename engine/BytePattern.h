#pragma once

// A literal text as the bytes it has in the watched file, for the byte-level pre-search
// that Find and the filter run over the file before they decode the lines it points at.
// A line can only hold the text when its bytes hold the text's bytes (UTF-16 LE, UTF-8
// when that is the locale's set, or the locale's single-byte set that keeps ASCII as it is;
// ASCII letters folded on both sides when case is ignored). Where the bytes of a match
// cannot be predicted (a multi-byte narrow set other than UTF-8, or a text with U+FFFD or
// the lone-CR symbol, which decoding produces from other bytes) the pattern is not usable
// and every line must be decoded and checked. Thread-safe.

#include "platform/TextEncoding.h"

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
    // The bytes are in the locale's single-byte narrow set (not UTF-8).
    bool singleByte = false;
    // Some character of the text has no byte in that set: no line can hold the text.
    bool impossible = false;
    std::size_t rare = 0; // index of the byte that looks rarest in a log, searched for first
};

// text: already folded when case is ignored.
BytePattern makeBytePattern(std::u16string_view text, bool utf16, bool matchCase);
// The same for a file read in the given encoding (not Automatic): UTF-16 in either byte
// order, UTF-8, a chosen single-byte set (singleByte then holds too), or the locale's set.
BytePattern makeBytePattern(std::u16string_view text, quill::TextEncoding form, bool matchCase);

// The first occurrence of the pattern's bytes in [s, end), or null: every start tested at
// the byte at pattern.rare, the next rarest and an end of the pattern, sixteen at a time,
// and compared whole where all agree.
const std::uint8_t* findPatternBytes(const std::uint8_t* s, const std::uint8_t* end,
                                     const BytePattern& pattern);
// The same for any bytes, with rareIndex < plen the byte to search for first.
const std::uint8_t* findPatternBytes(const std::uint8_t* s, const std::uint8_t* end,
                                     const std::uint8_t* pat, std::size_t plen,
                                     std::size_t rareIndex);

// The three bytes of the pattern findPatternBytes tests each start at before it compares
// the whole: the rare one, the one beside it (pairIndex) and an end.
struct PatternProbes {
    std::size_t first = 0;
    std::size_t second = 0;
    std::size_t third = 0;
};
PatternProbes probesOf(const std::uint8_t* pat, std::size_t plen, std::size_t rareIndex);

// A pattern prepared for many searches: its probes are worked out once. With ignoreCase the
// pattern must be folded, and the text's A-Z count as a-z (as if the text were folded too).
// Holds pat; the bytes must outlive it.
class ByteFinder {
  public:
    ByteFinder(const std::uint8_t* pat, std::size_t plen, std::size_t rareIndex, bool ignoreCase);
    // The first start in [s, end) where the whole pattern lies before end, or null.
    const std::uint8_t* find(const std::uint8_t* s, const std::uint8_t* end) const;

  private:
    const std::uint8_t* m_pat;
    std::size_t m_plen;
    bool m_ignoreCase;
    PatternProbes m_probes;
};

// How rare the byte is likely to be in a log, 0 (blanks, zero bytes) to 4 (capitals, bytes
// of other scripts): where a search looks first.
int byteRarity(std::uint8_t b);

// Lower-cases the bytes A-Z in place, everything else as it is.
void foldAsciiBytes(std::uint8_t* p, std::size_t n);
// The same into another buffer.
void foldAsciiBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

// UTF-16 to UTF-8; false for an unpaired surrogate (out then holds a part).
bool encodeUtf8Exact(std::u16string_view text, std::string& out);
