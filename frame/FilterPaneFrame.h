#pragma once

// FilterPaneFrame: what every filter pane is made of, whatever rows it lists: the filter bar,
// and below it the body of a header (how far filtering has got, Stop) over the rows' view,
// hidden while no filter is set; and the two states the tab places the pane by: active (a
// filter is set: the body shows) and shown as the view (the bar's switch is on while
// active: the rows stand in for the main view). A log tab's pane (frame/FilterPane.h) and a
// merged tab's (frame/MergedFilterPane.h) derive from it. User-interface thread only.

#include "engine/FilterHost.h"
#include "engine/LineTime.h"
#include "engine/TimeRange.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class FilterBar;
class FilterHistory;
class QLabel;
class QLineEdit;
class QPushButton;

class FilterPaneFrame : public QWidget, public FilterHost {
    Q_OBJECT

  public:
    ~FilterPaneFrame() override;

    FilterBar* bar() const { return m_bar; }
    QLabel* progressLabel() const { return m_progress; }
    QPushButton* stopButton() const { return m_stop; }
    // A filter is set (or, on a log tab, Marks is ticked): the pane of rows shows.
    bool isActive() const { return m_active; }
    // The switch is on and there is a result to show: the rows stand for the main view.
    bool showsAsView() const { return m_asView; }
    // Turns the switch on or off, as a click on it does.
    void setAsViewSwitch(bool on);
    // Applies what the bar holds now.
    virtual void applyFilter() = 0;
    // No filter: the bar empties and the pane hides.
    virtual void clearFilter() = 0;

    // FilterHost, any thread: the pane's collect() follows on its own thread.
    void postFilterProgress() final;

  signals:
    void activeChanged(bool active);
    // The rows became the main view, or stopped being it (see showsAsView).
    void asViewChanged(bool shown);
    // The user asked for no filter from the field (Escape).
    void clearedByUser();

  protected:
    explicit FilterPaneFrame(QWidget* parent);
    bool event(QEvent* event) override;
    // Takes what the filters found meanwhile into the rows.
    virtual void collect() = 0;
    // Puts the rows' view under the header; once, from the pane's constructor.
    void setRowsView(QWidget* view);
    void setActive(bool active);
    // The rows are the main view exactly while the switch is on and the pane is active.
    void updateAsView();
    void fitToBar();
    // Fixes the range's times once (m_range), by the log's first and last times: a time of
    // day on the first time's day ("22:00" to "02:00" runs over midnight), "-15m" before
    // the last time.
    void fixRange(TimeMs firstTime, std::optional<TimeMs> lastTime);
    // The time typed in a field of the range (none when empty); a text that is no time gives
    // none too, and the first such sets error.
    static std::optional<TimeQuery> readRangeField(const QLineEdit* field, QString& error);

    std::unique_ptr<FilterHistory> m_history;
    FilterBar* m_bar = nullptr;
    QWidget* m_body = nullptr;
    QLabel* m_progress = nullptr;
    QPushButton* m_stop = nullptr;
    bool m_active = false;
    bool m_asView = false;
    // The range as typed (both none: no range), and its times once fixed.
    std::optional<TimeQuery> m_fromQuery;
    std::optional<TimeQuery> m_toQuery;
    QString m_rangeTexts;
    std::optional<TimeRange> m_range;
};
