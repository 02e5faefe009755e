#pragma once

// FilterPane: the filter bar, and below it the pane of matching lines with its header (how
// far filtering has got, how many lines match, and Stop). The pane part is hidden while no
// filter is set; the bar stays. It owns the LineFilter and is its host: the filter's
// worker posts a notice, and the notice is answered on the user-interface thread.
//
// The frame calls DocumentChanged() after every change of the document (an append, open,
// reload, New, Clear, new keywords); the rows then follow the document by the same rules
// as the log view. The document is not owned and must outlive the pane.

#include "engine/FilterHost.h"
#include "engine/DocumentTypes.h"

#include <QWidget>

#include <memory>

class LogDocument;
class FilterBar;
class FilterHistory;
class FilterView;
class LineFilter;
class QLabel;
class QPushButton;

class FilterPane : public QWidget, public FilterHost {
    Q_OBJECT
  public:
    explicit FilterPane(LogDocument* document, QWidget* parent = nullptr);
    // Stops the filter's worker before anything it reports to is gone.
    ~FilterPane() override;

    FilterBar* bar() const { return m_bar; }
    FilterView* view() const { return m_view; }
    QLabel* progressLabel() const { return m_progress; }
    QPushButton* stopButton() const { return m_stop; }
    LineFilter* filter() const { return m_filter.get(); }
    // A filter is set: the pane of matching lines shows.
    bool isActive() const { return m_active; }

    void DocumentChanged();
    // Applies what the bar holds now.
    void applyFilter();
    // No filter: the bar empties and the pane hides.
    void clearFilter();

    // FilterHost: any thread.
    void PostFilterProgress() override;

  signals:
    void activeChanged(bool active);
    // The user chose a row: show document line `line` in the log view.
    void lineActivated(LineNumber line);
    // The user asked for no filter from the field (Escape).
    void clearedByUser();

  protected:
    bool event(QEvent* event) override;

  private:
    void setActive(bool active);
    void fitToBar();
    void updateHeader();
    void collect();

    std::unique_ptr<FilterHistory> m_history;
    FilterBar* m_bar = nullptr;
    QWidget* m_body = nullptr;
    QLabel* m_progress = nullptr;
    QPushButton* m_stop = nullptr;
    FilterView* m_view = nullptr;
    std::unique_ptr<LineFilter> m_filter;
    bool m_active = false;
};
