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
#include "engine/FilterHost.h"
#include "engine/LineTime.h"
#include "engine/TimeRange.h"

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

class MergedFilterPane : public QWidget, public FilterHost {
    Q_OBJECT
  public:
    explicit MergedFilterPane(MergedPart* part, QWidget* parent = nullptr);
    ~MergedFilterPane() override;

    FilterBar* bar() const { return m_bar; }
    MergedFilterView* view() const { return m_view; }
    QLabel* progressLabel() const { return m_progress; }
    QPushButton* stopButton() const { return m_stop; }
    const MergedFilterRows* rows() const { return m_rows.get(); }
    LineFilter* filter(std::size_t source) const { return m_filters[source].get(); }
    bool isActive() const { return m_active; }
    bool showsAsView() const { return m_asView; }
    void setAsViewSwitch(bool on);

    // The part's rows are about to change, and did (appended: only at their end).
    void rowsChanging();
    void rowsChanged(bool appended);
    void applyFilter();
    void clearFilter();

    // FilterHost: any thread.
    void postFilterProgress() override;

  signals:
    void activeChanged(bool active);
    void asViewChanged(bool shown);
    // The user chose a row: show this merged row.
    void mergedRowActivated(std::size_t mergedRow);
    void clearedByUser();

  protected:
    bool event(QEvent* event) override;

  private:
    // Takes what the filters found (and each file's restarts) and updates the rows.
    void collect();
    // The rows were counted again: the area follows.
    void refreshRows(bool orderAppended, bool matchesGrown);
    void setActive(bool active);
    void updateAsView();
    void fitToBar();
    void updateHeader();
    void placeWindows();

    std::unique_ptr<FilterHistory> m_history;
    MergedPart* m_part;
    FilterBar* m_bar = nullptr;
    QWidget* m_body = nullptr;
    QLabel* m_progress = nullptr;
    QPushButton* m_stop = nullptr;
    MergedFilterView* m_view = nullptr;
    QTimer* m_times = nullptr;
    std::vector<std::unique_ptr<LineFilter>> m_filters;
    std::unique_ptr<MergedFilterRows> m_rows;
    bool m_active = false;
    bool m_asView = false;
    // The files' lines of the top and current rows while the order changes (none: no row).
    std::optional<std::pair<std::size_t, LineNumber>> m_topPlace;
    std::optional<std::pair<std::size_t, LineNumber>> m_currentPlace;
    bool m_placed = false;

    std::optional<TimeQuery> m_fromQuery;
    std::optional<TimeQuery> m_toQuery;
    QString m_rangeTexts;
    std::optional<TimeRange> m_range;
    std::vector<LineWindow> m_windows;
};
