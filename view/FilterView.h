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
// Shown as the main view (the filter pane's switch), it is where Find and the marks work
// too: findText and findPattern search its rows only, a marked row is tinted as the log view
// tints it, and the marks are the document's, so a mark set here is the log view's as well.
//
// Neither the document nor the matches are owned; both must outlive the pane or be
// detached. User-interface thread only.

#include "view/FilterRowSource.h"
#include "view/TextArea.h"

#include <functional>
#include <optional>
#include <utility>

class FilterPattern;
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

    // The text of the selection when it lies within one row, else empty.
    std::u16string selectedRowText();

    // Marks the current row's line or takes its mark away.
    void toggleMarkAtCurrentRow();
    // Selects the next (or previous) row whose line is marked, from the current row, and
    // shows it; false when there is none that way.
    bool jumpToMark(bool next);
    // The line the user looks at: the current row's when it is on screen, else the top
    // row's; none without rows.
    std::optional<LineNumber> placeLine();
    // Makes the row of the line, or the first after it, current and scrolls it to the top
    // (the last row when the line is past every row).
    void showLineAtTop(LineNumber line);
    // Selects the row of the line (or the first after it) whole and shows it.
    void selectLine(LineNumber line);
    // The view goes to its end and follows it.
    void followEnd() { arriveAtEnd(); }

  signals:
    // The user chose the row showing document line `line`.
    void lineActivated(LineNumber line);
    // A mark was toggled here.
    void marksChanged();

  protected:
    void styleRow(std::size_t row, LogRenderer::RowStyle& style) override;

  private:
    FilterRowSource m_rows;
};
