#pragma once

// The commands that find a way through a long log: the line-number gutter, the overview
// strip, Go to line, marks (toggle, next, previous, clear, a note, the list of them) and
// the jumps between keyword lines. They act on the view given (the front view), whose
// document keeps the marks; the frame only creates the actions and hands their ids here.
// User-interface thread only.

#include "resources/ResourceIds.h"

#include <array>

class CommandActions;
class LogView;
class QWidget;

class NavigationCommands {
  public:
    static constexpr std::array<int, 11> Ids{
        CommandId::LineNumbers,     CommandId::GoToLine,
        CommandId::ToggleMark,      CommandId::NextMark,
        CommandId::PreviousMark,    CommandId::ClearMarks,
        CommandId::NextKeywordLine, CommandId::PreviousKeywordLine,
        CommandId::OverviewStrip,   CommandId::MarkNote,
        CommandId::ViewMarks};

    // Runs command id on view; false when id is not one of these. Go to line opens its box
    // over parent and goes when it is accepted (if the view is still there).
    static bool run(int id, LogView* view, QWidget* parent);
    // Enable and check states of these commands for view (which may be null).
    static void updateStates(CommandActions& actions, const LogView* view);
    // Whether a text field has the keyboard, whose keys the keyword-line jumps' would be.
    static bool fieldHasKeys();
    // Marks the actions that carry a check.
    static void prepare(CommandActions& actions);
};
