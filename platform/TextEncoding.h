#pragma once

// The encodings a file may be read in, and the decoding of the single-byte ones. UTF-8 and
// the locale's narrow set decode as platform/NarrowCodec.h does; UTF-16 is decoded by the
// engine unit by unit. Thread-safe (pure functions and constant tables).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quill {

// Automatic: decided from the file's first bytes: a byte-order mark (UTF-16 LE or BE,
// UTF-8), else UTF-16 where the bytes show it (either order), else the locale's set.
// The values are stored (the recent-file list): append only, never renumber.
enum class TextEncoding : std::uint8_t {
    Automatic = 0,
    Utf8 = 1,
    Utf16Le = 2,
    Utf16Be = 3,
    Latin1 = 4,      // ISO-8859-1
    Latin9 = 5,      // ISO-8859-15
    Windows1252 = 6,
    Locale = 7,      // the locale's narrow set (nl_langinfo(CODESET))
};
constexpr int TextEncodingCount = 8;

inline bool isUtf16(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be;
}

// The 256 characters of a single-byte set (Latin1, Latin9, Windows1252), U+FFFD for a
// byte the set leaves undefined; null for every other encoding.
const char16_t* singleByteTable(TextEncoding encoding);

// Appends the decoded bytes of a byte-oriented encoding (UTF-8, the single-byte sets, the
// locale's set): invalid bytes become U+FFFD. Not for UTF-16 or Automatic (nothing is
// appended).
void appendBytesAsUtf16(std::string_view bytes, TextEncoding encoding, std::u16string& out);

// The name shown for an encoding: "UTF-8", "UTF-16 LE", "UTF-16 BE", "ISO-8859-1",
// "ISO-8859-15", "Windows-1252"; the locale's set by its own name; Automatic as "".
std::string encodingName(TextEncoding encoding);

// The encoding of a stored number; nullopt for one this version does not know.
std::optional<TextEncoding> encodingFromNumber(std::uint32_t number);

} // namespace quill
