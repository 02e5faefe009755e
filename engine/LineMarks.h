#pragma once

// LineMarks: the lines the user has marked in one document, by line number, each with a
// note that may be empty. They belong to the document's current lines: whoever starts the
// lines over (open, reload, Clear, New) drops them, and appends leave them where they are,
// a mark on the open last line included. What outlives the lines is kept apart, by the
// marked lines' bytes (engine/MarkKeeper.h), and put back here.
//
// Kept as a sorted vector: a user marks a handful of lines, and a jump or a paint asks only
// for neighbours of one line, found by binary search. Main thread only (the document keeps
// it beside the selection and the find position).

#include "engine/DocumentTypes.h"

#include <optional>
#include <string>
#include <vector>

class LineMarks {
  public:
    // Marks the line, or unmarks it when it was marked; returns whether it is marked now.
    bool toggle(LineNumber line);
    bool isMarked(LineNumber line) const;
    // Marks the line if it is not, and gives it the note (empty: no note).
    void mark(LineNumber line, std::u16string note);
    // The note of a marked line; false (nothing changed) when the line is not marked.
    bool setNote(LineNumber line, std::u16string note);
    // The note of a marked line; empty for a line without one and for an unmarked line.
    const std::u16string& note(LineNumber line) const;
    void clear()
    {
        m_lines.clear();
        m_notes.clear();
    }
    bool isEmpty() const { return m_lines.empty(); }
    std::size_t count() const { return m_lines.size(); }
    // The first mark after `line` (strictly), wrapping to the first mark when none follows;
    // nothing when there are no marks.
    std::optional<LineNumber> next(LineNumber line) const;
    // The last mark before `line` (strictly), wrapping to the last mark when none precedes.
    std::optional<LineNumber> previous(LineNumber line) const;
    // Ascending.
    const std::vector<LineNumber>& lines() const { return m_lines; }
    // The marks in [first, end), ascending: a range of lines().
    std::pair<std::vector<LineNumber>::const_iterator, std::vector<LineNumber>::const_iterator>
    inRange(LineNumber first, LineNumber end) const;

  private:
    std::vector<LineNumber> m_lines;
    std::vector<std::u16string> m_notes; // beside m_lines, one per mark
};
