#pragma once

// MergedMarkNotes: the notes on a merged tab's marks (view/MergedArea.h), as MarkNotes gives
// them in a log view: a field over the marked row takes the note (Enter keeps it, Escape
// leaves it as it was, leaving the field keeps what was typed), and hovering a row whose
// mark has a note shows it as the row's tooltip. A note lives with its own file's mark, so
// it stays with its line wherever the merge places the row. Made on first use as a child of
// the area. User-interface thread only.

#include "engine/MergedOrder.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class MarkNoteEditor;
class MergedArea;
class MergedRowSource;

class MergedMarkNotes : public QObject {
    Q_OBJECT
  public:
    // The area's notes, made when first asked for.
    static MergedMarkNotes* of(MergedArea* area);

    // Opens the field over the row with its note in it, all of it selected.
    void edit(std::size_t row);
    MarkNoteEditor* editor() const { return m_editor; }
    // The note of the row's mark; nothing without one.
    std::optional<QString> tipFor(std::size_t row) const;

  signals:
    // A note was kept.
    void notesChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit MergedMarkNotes(MergedArea* area);
    MergedRowSource* rows() const;
    void keep(bool refocus);

    MergedArea* m_area;
    MarkNoteEditor* m_editor = nullptr;
    std::size_t m_source = 0;
};
