#pragma once

// FilterView: the filter pane's list, a TextArea over the filter's rows (FilterRowSource).
// Row r shows document line rows.at(r): its number (counted from 1) in the gutter, wide
// enough for the document's largest line number, with a mark before it when a term could
// not decide the line; then its text in the log view's font, with the same keyword colours
// and, while they are on, the same terminal colours (a whole-line keyword's colours win
// over them). It follows its end while the user is there, as the log view does.
//
// Rows are selected and copied as TextArea selects and copies them; a click on a row that
// is not the end of a drag, or Enter on the current row, asks for the line to be shown in
// the log view (lineActivated).
//
// Neither the document nor the matches are owned; both must outlive the pane or be
// detached. User-interface thread only.

#include "view/FilterRowSource.h"
#include "view/TextArea.h"

class LogDocument;
struct FilterChange;

class FilterView : public TextArea {
    Q_OBJECT
  public:
    explicit FilterView(QWidget* parent = nullptr);
    ~FilterView() override;

    void setDocument(LogDocument* document);
    void setMatches(const FilterRows* rows);
    // The lines among the matches that are shown undecided, ascending; not owned.
    void setUndecided(const std::vector<LineNumber>* lines) { m_rows.setUndecided(lines); }
    bool isUndecided(std::size_t row) const { return m_rows.isUndecided(row); }

    // The matches changed (what LineFilter::collect or Sync reported); the rows follow.
    void matchesChanged(const FilterChange& change);
    // Rows came or went anywhere (a mark shown among the matches): see rearrangeRows.
    void rowsRearranged(std::size_t topRow, std::size_t currentRow);
    // The document changed (an append, new keywords): repaint, read changed lines again.
    void documentChanged();

  signals:
    // The user chose the row showing document line `line`.
    void lineActivated(LineNumber line);

  private:
    FilterRowSource m_rows;
};
