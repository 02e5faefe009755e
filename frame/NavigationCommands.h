#pragma once

// The commands that find a way through a long log: the line-number gutter, the overview
// strip, Go to line, marks (toggle, next, previous, clear) and the jumps between keyword
// lines. They act on the view given (the front view), whose
// document keeps the marks; the frame only creates the actions and hands their ids here.
// User-interface thread only.

#include <array>

class CommandActions;
class LogView;
class QWidget;

namespace NavigationCommand {
constexpr int LineNumbers = 33050;
constexpr int GoToLine = 33051;
constexpr int ToggleMark = 33052;
constexpr int NextMark = 33053;
constexpr int PreviousMark = 33054;
constexpr int ClearMarks = 33055;
constexpr int NextKeywordLine = 33056;
constexpr int PreviousKeywordLine = 33057;
constexpr int OverviewStrip = 33058;
} // namespace NavigationCommand

class NavigationCommands {
  public:
    static constexpr std::array<int, 9> Ids{
        NavigationCommand::LineNumbers,     NavigationCommand::GoToLine,
        NavigationCommand::ToggleMark,      NavigationCommand::NextMark,
        NavigationCommand::PreviousMark,    NavigationCommand::ClearMarks,
        NavigationCommand::NextKeywordLine, NavigationCommand::PreviousKeywordLine,
        NavigationCommand::OverviewStrip};

    // Runs command id on view; false when id is not one of these. Go to line opens its box
    // over parent and goes when it is accepted (if the view is still there).
    static bool Run(int id, LogView* view, QWidget* parent);
    // Enable and check states of these commands for view (which may be null).
    static void updateStates(CommandActions& actions, const LogView* view);
    // Marks the actions that carry a check.
    static void prepare(CommandActions& actions);
};
