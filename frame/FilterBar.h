#pragma once

// FilterBar: where the user writes the filter. One row per term: a text field whose
// drop-down offers the recent filters (FilterHistory), and the options Match case, Whole
// word, Regular expression and Exclude. The first row is there always; "+" adds rows (as
// excludes: "lines with ERROR, but not those with healthcheck"), and each added row has a
// button that removes it. Only one row may include lines; the others must exclude. Beside
// the first row's options, Marks lists the marked lines too (with no text, only them).
//
// The filter is applied while the user types (after a short pause), at once when an
// option changes, and at once on Enter, which also keeps the terms in the recent list.
// Escape in a field clears the whole filter. A term that cannot be used shows why under
// its row. User-interface thread only.

#include "engine/FilterSet.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

class FilterHistory;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;
class QVBoxLayout;
struct FilterHistoryEntry;

class FilterBar : public QWidget {
    Q_OBJECT
  public:
    // history is not owned and must outlive the bar.
    FilterBar(FilterHistory& history, QWidget* parent = nullptr);
    ~FilterBar() override;

    // The terms of the rows with text. The include is the first such row that does not
    // exclude; `conflict` is set to the index of a second one (the filter cannot be used),
    // else to -1.
    FilterSet filterSet(int* conflict = nullptr) const;
    // Shows the errors under their rows (and clears the others).
    void showErrors(const std::vector<FilterError>& errors);
    // Explains under the rows of the terms in `terms` (LineFilter::undecidedTerms) that
    // some lines could not be tested; takes the explanation back from the others.
    void showUndecided(std::uint64_t terms);
    // The first row's text field.
    QLineEdit* field(int row = 0) const;
    QComboBox* fieldBox(int row = 0) const;
    QCheckBox* option(int row, int which) const; // 0 case, 1 word, 2 regex, 3 exclude
    QToolButton* addButton() const { return m_add; }
    QCheckBox* marksOption() const { return m_marks; }
    // The pane lists the marked lines besides the matching ones.
    bool showsMarks() const;
    // The switch that shows the filter's lines in the main view in place of all lines.
    QCheckBox* asViewSwitch() const { return m_asView; }
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    QLabel* errorLabel(int row) const;
    // The time range beside the first row: only lines written from the one time to the
    // other (either may be empty). Their texts are read as Go to Time reads its own.
    QLineEdit* fromField() const { return m_from; }
    QLineEdit* toField() const { return m_to; }
    // Names a time that cannot be used, under the first row; empty takes it away.
    void showTimeError(const QString& text);
    QLabel* timeErrorLabel() const { return m_timeError; }

    // Focuses the first field with its text selected.
    void focusField();
    // Empties every field, removes the added rows and takes the ticks off Marks and the
    // switch of the main view.
    void clear();
    // Adds a row for an exclude and focuses it.
    void addExcludeRow();
    // Puts the terms in the recent list (Enter does this).
    void remember();
    // The button keeps Space while it has the keyboard (the window's Pause key otherwise).
    void keepSpace(QAbstractButton* button);

  signals:
    // The terms changed in a way that should be applied now.
    void filterEdited();
    // Escape in a field: the user wants no filter.
    void clearRequested();
    // The switch of the main view was turned on or off.
    void asViewToggled(bool on);
    // A row was added or removed, or a row's message appeared or went (the bar's height
    // changed).
    void rowsChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Row {
        QWidget* widget = nullptr;
        QComboBox* field = nullptr;
        QCheckBox* options[4] = {};
        QToolButton* remove = nullptr;
        QLabel* error = nullptr;
        bool explainsUndecided = false;
    };
    void addRow(bool exclude);
    void removeRow(QWidget* rowWidget);
    void fillHistory(QComboBox* box);
    void refreshHistory();
    void applyEntry(Row& row, const FilterHistoryEntry& entry);
    // The message text in a red that stands out from the bar's background.
    void setErrorColour(QLabel* label);

    FilterHistory& m_history;
    QVBoxLayout* m_layout = nullptr;
    QToolButton* m_add = nullptr;
    QCheckBox* m_marks = nullptr;
    QCheckBox* m_asView = nullptr;
    QLineEdit* m_from = nullptr;
    QLineEdit* m_to = nullptr;
    QLabel* m_timeError = nullptr;
    std::vector<Row> m_rows;
    QTimer m_typingPause;
    bool m_filling = false;
    FilterSet m_remembered;
    QString m_rememberedRange; // From and To as remembered last
    bool m_rememberedOnce = false;
};
