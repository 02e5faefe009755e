#pragma once

// The locale's narrow character set and conversions between it and UTF-16.
// The program's text is UTF-16; files, hive text and the trace log are narrow.

#include <cstdint>
#include <string>
#include <string_view>

namespace quill {

struct NarrowCharset {
    std::string codeset;        // as nl_langinfo(CODESET) names it, e.g. "UTF-8", "ISO-8859-1"
    std::uint32_t codePage = 0; // its Windows code page number (65001 for UTF-8; 0 when unknown)
    bool isUtf8 = true;
};

// The narrow set of the current LC_CTYPE locale, resolved on first use. A plain "C"/POSIX
// locale reports ASCII; that is treated as UTF-8, its superset, so that a program started
// without a locale still shows non-ASCII text instead of replacement characters.
// Thread-safe.
const NarrowCharset& narrowCharset();

// Replaces the narrow set (tests only; not thread-safe against concurrent conversions).
void setNarrowCharsetForTesting(const char* codeset);

// Decodes narrow bytes. Invalid or incomplete sequences become U+FFFD, one per bad byte;
// the conversion as a whole never fails. Thread-safe.
std::u16string narrowToUtf16(std::string_view bytes);
void appendNarrowAsUtf16(std::string_view bytes, std::u16string& out);

// Encodes UTF-16 in the narrow set. What the set cannot represent (and lone surrogates)
// becomes '?', the set's default character. Thread-safe.
std::string utf16ToNarrow(std::u16string_view text);

// Strict UTF-8 helpers used at boundaries that are always UTF-8 (Qt, command line tests).
void appendUtf8AsUtf16(std::string_view bytes, std::u16string& out);
std::u16string utf8ToUtf16(std::string_view bytes);
std::string utf16ToUtf8(std::u16string_view text);

// Windows code page number for an iconv/glibc codeset name; 0 when there is none.
std::uint32_t windowsCodePageFor(std::string_view codeset);

} // namespace quill
