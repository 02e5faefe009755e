#pragma once

// MergedFilterPane: the filter bar and the pane of matching rows of a merged tab, as
// FilterPane is a log tab's: the same bar (terms, options, the time range, the switch that
// shows the rows in place of the merged area), the same header and Stop.
//
// Each file is filtered by a LineFilter of its own, on its own worker, as a single file's
// tab filters it (the watcher's runs for appended lines, restarts when the file starts
// over), and the rows are the merged rows whose lines those filters found
// (engine/MergedFilterRows.h), counted from the merged order and the matches where they
// are. So no pass over the files is made twice, nothing waits for a whole file, and a late
// line or a file that starts over takes its place in the rows as soon as the order and
// its file's filter know it.
//
// A time range holds each file's lines written in it by that file's own running latest time
// (the time the merged order goes by), as each file's time index reads it. Its times are
// fixed once every file's index has read its file: a time of day on the day of the earliest
// first time of the files, "-15m" before the latest last time of them all.
//
// The tab hands the part's row changes in (rowsChanging, rowsChanged); the pane keeps the
// rows on screen and the current one at their lines. User-interface thread only; the part
// must outlive the pane.

#include "engine/DocumentTypes.h"
#include "engine/LineTime.h"
#include "engine/TimeRange.h"
#include "frame/FilterPaneFrame.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class FilterBar;
class FilterHistory;
class LineFilter;
class MergedFilterRows;
class MergedFilterView;
class MergedPart;
class QLabel;
class QPushButton;
class QTimer;

class MergedFilterPane : public FilterPaneFrame {
    Q_OBJECT
  public:
    explicit MergedFilterPane(MergedPart* part, QWidget* parent = nullptr);
    ~MergedFilterPane() override;

    MergedFilterView* view() const { return m_view; }
    const MergedFilterRows* rows() const { return m_rows.get(); }
    LineFilter* filter(std::size_t source) const { return m_filters[source].get(); }

    // The part's rows are about to change, and did (appended: only at their end).
    void rowsChanging();
    void rowsChanged(bool appended);
    void applyFilter() override;
    void clearFilter() override;

  signals:
    // The user chose a row: show this merged row.
    void mergedRowActivated(std::size_t mergedRow);

  private:
    // Takes what the filters found (and each file's restarts) and updates the rows.
    void collect() override;
    // The rows were counted again: the area follows.
    void refreshRows(bool orderAppended, bool matchesGrown);
    void updateHeader();
    void placeWindows();

    MergedPart* m_part;
    MergedFilterView* m_view = nullptr;
    QTimer* m_times = nullptr;
    std::vector<std::unique_ptr<LineFilter>> m_filters;
    std::unique_ptr<MergedFilterRows> m_rows;
    // The files' lines of the top and current rows while the order changes (none: no row).
    std::optional<std::pair<std::size_t, LineNumber>> m_topPlace;
    std::optional<std::pair<std::size_t, LineNumber>> m_currentPlace;
    bool m_placed = false;

    std::vector<LineWindow> m_windows;
};
