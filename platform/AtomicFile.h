#pragma once

// Writing a small file of the user's own (the hive, the kept marks) so that a crash, a full
// disk or a second running copy never leaves half of it: the new bytes go to a temporary
// file beside it, reach the disk, and only then take its name.

#include <string>
#include <string_view>

namespace quill {

// mkdir -p with mode 0700 for the folders it creates; folders that exist keep their mode.
// True when the folder is there afterwards.
bool ensurePrivateFolder(const std::string& folder);

// Replaces the file at path with bytes: a temporary file made beside it with O_EXCL and
// mode 0600 (never an existing file or a planted link), written, fsync'd, renamed over
// path, and the rename made durable by an fsync of the folder. On failure the old file is
// as it was, the temporary file is gone and errno tells why. Thread-safe.
bool replaceFileAtomically(const std::string& path, std::string_view bytes);

} // namespace quill
