#pragma once

// Selecting text with the mouse in a pane of log lines: drag, release, Shift+click and
// double-click on words, in a model of character cells (a selection names its first and its
// last character, both included). The pane supplies its lines, its point-to-text geometry and
// where the selection is stored through SelectionTarget, so one pane (the log view) or
// several (a filtered pane beside it) each own a MouseSelection of their own.
//
// A drag selects from the character where the left button went down (so the first
// characters are not lost to the distance the mouse travels before its first move report);
// the moving end follows the point and the two ends swap when it passes the other.
// User-interface thread only.

#include "engine/DocumentTypes.h"

#include <QPoint>

#include <cstdint>
#include <string>

// A character of a pane's text under a point: the line (at or past the line count below
// the last line) and the character (the line's length right of its end, 0 on an empty line
// or past the last line).
struct TextPoint {
    LineNumber line = 0;
    std::int32_t character = 0;
    bool onText = false; // the line has characters
};

// What a text pane offers to mouse selection. Points are the pane's client coordinates.
class SelectionTarget {
  public:
    virtual ~SelectionTarget() = default;

    virtual LineNumber selectableLineCount() const = 0;
    // The line's text; empty for a line at or beyond the count.
    virtual std::u16string selectableLine(LineNumber line) = 0;
    // The character under the point. Points above the client area count as its top row;
    // the partly hidden top row counts as the first fully shown one.
    virtual TextPoint pointToText(QPoint point) = 0;
    // The caret before character `character` of the line (-1: after its last).
    virtual void placeCaret(LineNumber line, std::int32_t character) = 0;

    virtual DocSelection currentSelection() const = 0;
    // Stores the selection (valid false clears it) and repaints what changed.
    virtual void storeSelection(const DocSelection& selection) = 0;
    virtual FindPosition currentFindPosition() const = 0;
    virtual void storeFindPosition(const FindPosition& position) = 0;
    // A finished selection (a drag released, a double-click, Shift+click, Select All).
    virtual void selectionFinished() {}
};

// True for the characters that end a word: TAB, space , . / : ; and backslash.
bool isWordSeparator(char16_t c);

// The word around character c of text: the separator alone when c is one, otherwise the
// run between the nearest separators. first/last are inclusive; c must be < text's length.
void wordAround(const std::u16string& text, std::int32_t c, std::int32_t& first,
                std::int32_t& last);

class MouseSelection {
  public:
    explicit MouseSelection(SelectionTarget& target) : m_target(target) {}

    // The left button went down: where a drag that follows begins.
    void press(QPoint point);
    // A move with the left button down.
    void move(QPoint point);
    // The left button released. A release that ends a drag ends it wherever the point is
    // (the pane sees the release outside it too, through the implicit grab).
    void release(QPoint point, bool shift);
    void doubleClick(QPoint point);
    // Selects every line and the empty line after the last; the caret stays where it is.
    void selectAll();
    // The lines were replaced (reload, Clear): a drag in progress ends.
    void reset();

    bool isDragging() const { return m_dragging; }

    // Places the caret just right of the selection's end.
    void placeCaretAfterSelection(const DocSelection& selection);

  private:
    SelectionTarget& m_target;
    bool m_dragging = false;
    bool m_anchorIsStart = true;
    bool m_doubleClickPending = false;
    bool m_haveDoubleClickPoint = false;
    QPoint m_lastDoubleClick;
    bool m_havePress = false;
    TextPoint m_press;
};
