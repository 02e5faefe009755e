#pragma once

// View > Marks: every marked line of the front tab's log in one list, with its line number
// (1-based, as the gutter counts), its time when the log's lines have times, and its note.
// Enter or a double click goes to the line in the log view and closes the list; Escape
// closes it. The list follows the marks while it is open (a mark toggled, a note written,
// the lines started over). On a merged tab it lists the marks of every file by their rows,
// each line named by its file's short name and its number in that file, and goes to the row
// (frame/MarksListMerged.cpp). User-interface thread only.

#include "engine/DocumentTypes.h"

#include <QDialog>
#include <QPointer>

class LogTab;
class QTreeWidget;
class QTreeWidgetItem;

class MarksList : public QDialog {
    Q_OBJECT
  public:
    // The columns, left to right.
    enum Column { LineColumn, TimeColumn, NoteColumn };

    MarksList(LogTab* tab, QWidget* parent);
    QTreeWidget* list() const { return m_list; }
    // Fills the list anew from the tab's marks; the current row stays on its line.
    void refresh();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void goTo(QTreeWidgetItem* item);
    void refreshMerged();
    void goToMerged(std::size_t row);

    QPointer<LogTab> m_tab;
    QTreeWidget* m_list = nullptr;
};
