#pragma once

// The user's temporary folder, where the trace log and its copy live.

#include <string>

namespace quill {

// $TMPDIR when it is set and not empty, else "/tmp", always with one trailing '/'.
// Read from the environment at each call. Thread-safe as long as nobody changes the
// environment concurrently.
std::string tempFolder();

} // namespace quill
