#pragma once

// CheckListControl: a list of rows with columns whose widths persist in settings, a check
// box per row in column 0, full-row single selection, and rows that carry a keyword: the
// keyword's column 1 is painted in its own text and background colours, and the check box
// is its enabled switch.
//
//     list->setColumns(4);                    // default width := width() / 4
//     list->addColumn(0, 143, Setting::ColumnWidthEnable);
//     ...
//     list->addKeywordRow(0, &keyword);           // keyword is not owned
//
// A stored width of -1 (0xFFFFFFFF) means the default width, 3 pixels less for the last
// column; 0 and widths past 0x7FFF are damaged and give the default width. A width nobody
// chose (-1, damaged, or the setting's own default) is widened to its header's text. When
// the control is destroyed, each column's current width is stored in its setting, whether
// the dialog around it was confirmed or cancelled. A keyword's text shows its first 512
// units at most; Del asks to delete the selected row. The keywords of the rows must outlive
// the rows (clearRows before they go). Main (user-interface) thread only.

#include "settings/SettingsTable.h"

#include <QTreeWidget>

#include <vector>

class Keyword;
class SettingsStore;

class CheckListControl : public QTreeWidget {
    Q_OBJECT
  public:
    // settings defaults to the program's store; it must outlive the control.
    explicit CheckListControl(QWidget* parent = nullptr, SettingsStore* settings = nullptr);
    ~CheckListControl() override;

    void setColumns(int count);
    int defaultColumnWidth() const { return m_defaultColumnWidth; }
    // Header: string headerId of the language package; width from the setting widthId.
    void addColumn(int index, int headerId, SettingId widthId);
    // Inserts a row at index for the keyword: check box from its enabled flag, its text,
    // match case and whole word (strings 146 / 147) in columns 1 to 3, and, when the list
    // has a fifth column, a check box there for "colour only the match" that the user
    // ticks in place.
    static constexpr int MatchOnlyColumn = 4;
    QTreeWidgetItem* addKeywordRow(int index, Keyword* keyword);
    void clearRows() { clear(); }

    int rowCount() const { return topLevelItemCount(); }
    Keyword* keywordAt(int row) const;
    // The selected row, -1 when none.
    int selectedRow() const;
    void selectRow(int row);
    // Stores every column's width in its setting now.
    void storeColumnWidths();

  signals:
    // A row's check box changed its keyword's enabled flag.
    void keywordEnabledChanged(int row, bool enabled);
    // Del with a row selected.
    void deleteRequested();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void onItemChanged(QTreeWidgetItem* item, int column);
    SettingsStore& settings() const;

    SettingsStore* m_settings;
    int m_columnCount = 0;
    int m_defaultColumnWidth = 0;
    std::vector<SettingId> m_columnWidthIds;
};
