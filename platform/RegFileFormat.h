#pragma once

// The text form of a hive, the "Windows Registry Editor Version 5.00" .reg format, so a
// user can read and edit a hive by hand and a hive imports into a Windows registry as it is.
//
// Reading is forgiving: whatever parses is used and everything else reads as absent. Lines
// that do not parse (and comments) are kept with the key they appear under and written
// back as comments, so a hand edit that the program cannot use is never silently lost.
// Free functions without state; thread-safe.

#include "platform/HiveKey.h"

#include <memory>
#include <string>
#include <string_view>

namespace quill {

// The first line of every hive the program writes.
inline constexpr std::string_view RegFileSignature = "Windows Registry Editor Version 5.00";

// Parses the bytes of a .reg file into a new tree whose root stands for the root key
// (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE; either is accepted, and other roots are
// ignored). UTF-8 with or without a byte-order mark, or UTF-16LE with its mark; LF or
// CR LF line ends. Never fails: a damaged or truncated file gives the part that parsed.
std::unique_ptr<HiveKey> parseRegFile(std::string_view bytes);

// The text of a .reg file for the tree, keys under rootName ("HKEY_CURRENT_USER").
// Text values that would not survive the quoted form are written as hex(1). Parsing the
// result gives the same tree, notes included.
std::string writeRegFile(const HiveKey& root, std::string_view rootName);

} // namespace quill
