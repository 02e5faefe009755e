#pragma once

// Names the calling thread, so that top -H, perf and a debugger tell the program's workers
// apart ("quill-watch", "quill-times", ...).

namespace quill {

// Linux keeps at most 15 bytes of a name; a longer one is cut.
void nameThisThread(const char* name);

} // namespace quill
