#pragma once

// MarkNotes: the notes on a log view's marks as the user meets them. A field over the
// marked line takes a note (Enter keeps it, Escape leaves the note as it was, and leaving
// the field keeps what was typed in it); hovering a marked line that has a note, in the
// text or in the gutter, shows the note as its tooltip. The notes themselves live with the
// marks (engine/LineMarks.h). User-interface thread only; owned by its LogView.

#include "engine/DocumentTypes.h"

#include <QLineEdit>
#include <QObject>

#include <cstdint>
#include <optional>

class LogView;

// The field a note is written in, over a view's viewport: a log view's (MarkNotes) or a
// merged tab's (view/MergedMarkNotes.h).
class MarkNoteEditor : public QLineEdit {
    Q_OBJECT
  public:
    // home: the view the keyboard goes back to when the field closes.
    MarkNoteEditor(QWidget* viewport, QWidget* home);
    // Opens the field on the note of a line of the lines as of generation, all of it selected,
    // below the row at top (rowHeight high), or above it near the viewport's bottom.
    void open(LineNumber line, std::uint64_t generation, const QString& note, int top,
              int rowHeight);
    // Hides the field, the keyboard back to the view when refocus.
    void close(bool refocus);
    // The line whose note is being written.
    LineNumber line() const { return m_line; }
    std::uint64_t generation() const { return m_generation; }

  signals:
    // Enter, or the field lost the keyboard with a changed text.
    void accepted(bool keepFocusHere);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    // Escape, or the field lost the keyboard unchanged.
    void cancel();

    QWidget* m_home;
    LineNumber m_line = 0;
    std::uint64_t m_generation = 0;
};

class MarkNotes : public QObject {
    Q_OBJECT
  public:
    explicit MarkNotes(LogView* view);

    // Opens the field over the line with the line's note in it, all of it selected.
    void edit(LineNumber line);
    // Closes the field without keeping what was typed.
    void cancel();
    // The field, once it was opened; null before.
    MarkNoteEditor* editor() const { return m_editor; }
    // The note to show for a line: the note of its mark, nothing without one.
    std::optional<QString> tipFor(LineNumber line) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void keep(bool refocus);

    LogView* m_view;
    MarkNoteEditor* m_editor = nullptr;
};
