#pragma once

// The commands of a merged tab (frame/MergedPart.h) that act on its files rather than on its
// rows alone: Pause and Resume, Reload and Clear (frame/MergedCommands.cpp), and what Save
// Lines As offers and writes there (the merged rows in their order, frame/MergedSave.cpp),
// and the notes of its marks and the marks list.
// User-interface thread only.

class LogTab;
class MergedPart;
class QWidget;

namespace MergedCommands {

// Runs Pause, Resume, Reload, Clear, Mark Note or View > Marks on the tab's part (window:
// the marks list's parent); false for any other command.
bool run(LogTab& tab, int id, QWidget* window);
// Whether the command can act on the part now (the commands above only).
bool enabled(const MergedPart& part, int id);
// The current row was just marked: its note is typed at once, as in a log view.
void markedNow(MergedPart& part);
// The marks changed: an open marks list shows them.
void marksChanged(QWidget* window);

} // namespace MergedCommands
