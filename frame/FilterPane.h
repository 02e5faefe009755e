#pragma once

// FilterPane: the filter bar, and below it the pane of matching lines with its header (how
// far filtering has got, how many lines match, and Stop). The pane part is hidden while no
// filter is set and Marks is not ticked; the bar stays. With Marks ticked the pane lists
// the document's marked lines among the matching ones (FilterRows), and follows the marks
// as they are toggled and cleared. It owns the LineFilter and is its host: the filter's
// worker posts a notice, and the notice is answered on the user-interface thread.
//
// With a time range in the bar the pane lists only the lines written in it, as the tab's
// time index tells (engine/TimeRange.h has the rule): the range's times are fixed when the
// filter is applied (a time of day on the day of the log's first time, "-15m" before the
// last line's time), and the lines in it are asked for once the index has read the log; the
// header says the pane is waiting until then. Lines appended while following join as the
// index reads their times.
//
// With the bar's switch on, the pane's rows are the main view: the tab hides the log view
// while a filter (or Marks) is set, and shows it again once the switch is off or the filter
// is cleared (asViewChanged). The switch stays on while the filter's text is edited, even
// through a moment without text; clearing the filter turns it off.
//
// The frame calls documentChanged() after every change of the document (an append, open,
// reload, New, Clear, new keywords), and the pane hears of every new index itself; the rows
// then follow the document by the same rules as the log view. The document is not owned and must
// outlive the pane.

#include "engine/DocumentTypes.h"
#include "engine/LineTime.h"
#include "engine/LogDocument.h"
#include "engine/TimeRange.h"
#include "frame/FilterPaneFrame.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <utility>

class DocumentTimeIndex;
class FilterBar;
class FilterHistory;
class FilterRows;
struct FilterChange;
class FilterView;
class LineFilter;
class QLabel;
class QPushButton;

class FilterPane : public FilterPaneFrame {
    Q_OBJECT
  public:
    explicit FilterPane(LogDocument* document, QWidget* parent = nullptr);
    // Stops the filter's worker before anything it reports to is gone.
    ~FilterPane() override;

    FilterView* view() const { return m_view; }
    LineFilter* filter() const { return m_filter.get(); }
    const FilterRows* rows() const { return m_rows.get(); }

    void documentChanged();
    // The tab's time index, which a time range is read from; not owned, outlives the pane.
    void setTimeIndex(DocumentTimeIndex* times) { m_times = times; }
    // The time index has read more lines, or its state changed.
    void timesChanged();
    // A mark was toggled or the marks were cleared (the log view tells).
    void marksChanged();
    void applyFilter() override;
    void clearFilter() override;

  signals:
    // The user chose a row: show document line `line` in the log view.
    void lineActivated(LineNumber line);

  protected:
    bool event(QEvent* event) override;

  private:
    void updateHeader();
    // Fixes the range's times and hands its lines to the filter, as far as the time index
    // knows them now.
    void placeWindow();
    // A reset of the rows: the window is that of lines gone.
    void windowReset();
    void collect() override;
    // The rows with the marks placed again after the matches changed: the change in rows;
    // moved tells whether the marks listed beside the matches changed.
    FilterChange placeMarks(const FilterChange& change, bool* moved = nullptr);
    // The lines of the first row on screen and of the current row (~0 for none).
    std::pair<LineNumber, LineNumber> shownLines() const;

    // Hears of a reload, Clear or New even while no filter is set: the marks listed go
    // with the lines.
    class RestartListener : public LogDocument::AppendListener {
      public:
        explicit RestartListener(FilterPane& pane) : m_pane(pane) {}
        void textAppended(FileOffset, const std::uint8_t*, std::size_t) override {}
        void indexRestarted() override;

      private:
        FilterPane& m_pane;
    };

    FilterView* m_view = nullptr;
    LogDocument* m_document = nullptr;
    std::unique_ptr<LineFilter> m_filter;
    std::unique_ptr<FilterRows> m_rows;
    RestartListener m_restarts{*this};
    DocumentTimeIndex* m_times = nullptr;
    LineWindow m_window;
};
