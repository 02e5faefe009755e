#pragma once

// File names are bytes: the kernel takes any byte but '/' and NUL in a name, valid UTF-8 or
// not. Where a name has to be UTF-16 (the document's path, the hive, the user interface),
// it travels in an escaped form that gives back the same bytes:
//
//   - each complete, shortest-form UTF-8 sequence becomes its character (a pair of
//     surrogates above U+FFFF);
//   - every other byte b (a stray continuation byte, an overlong or truncated sequence, an
//     encoded surrogate, a code point above U+10FFFF, 0xF5..0xFF) becomes the lone low
//     surrogate U+DC00 + b, that is U+DC80..U+DCFF.
//
// Valid UTF-8 never yields a lone surrogate, so the escapes cannot be confused with text,
// and a name that is valid UTF-8 reads exactly as Qt and the rest of the desktop read it.
// The escapes are never shown: the screen gets the display form, with U+FFFD in their place.
//
// The same rule holds whatever the locale's character set, as it does for Qt 6, whose file
// names are UTF-8 on this platform. All functions are pure (or read only the file system)
// and may be called from any thread.

#include <string>
#include <string_view>
#include <vector>

namespace quill {

// The escaped UTF-16 form of a name's bytes.
std::u16string fileNameToUtf16(std::string_view bytes);

// The bytes an escaped name stands for: fileNameToBytes(fileNameToUtf16(b)) == b for every
// byte string b. A lone surrogate that is not an escape (it cannot come from
// fileNameToUtf16) is written in the three-byte form UTF-8 would give it.
std::string fileNameToBytes(std::u16string_view name);

// The name as the screen shows it: every lone surrogate becomes U+FFFD.
std::u16string fileNameForDisplay(std::u16string_view name);

// The absolute form of a name: a relative name is taken from the current folder; "."
// parts, repeated and trailing slashes go, and ".." removes the part before it (without
// resolving links, so a log reached through a link is followed through that link). Works
// on the bytes, so neither the name nor the current folder needs to be valid UTF-8. An
// empty name stays empty; when the current folder cannot be read the name stays relative.
std::string absoluteFileName(std::string_view name);

// The names in a folder, without "." and "..", as bytes; empty when it cannot be read.
std::vector<std::string> folderEntryNames(const std::string& folder);

} // namespace quill
