#pragma once

// The commands of a merged tab (frame/MergedPart.h) that act on its files rather than on its
// rows alone: Pause and Resume, Reload and Clear (frame/MergedCommands.cpp), and what Save
// Lines As offers and writes there (the merged rows in their order, frame/MergedSave.cpp).
// User-interface thread only.

class MergedPart;

namespace MergedCommands {

// Runs Pause, Resume, Reload or Clear on the part; false for any other command.
bool run(MergedPart& part, int id);
// Whether the command can act on the part now (the four above only).
bool enabled(const MergedPart& part, int id);

} // namespace MergedCommands
