#pragma once

// TimelineView: a strip above the log with a bar for each step of time over the whole log,
// as high as the step's share of lines, each bar stacked by keyword (a keyword's lines in
// its background colour, the rest grey). The step is the finest of TimelineCounts::Ladder
// that fits the width until the wheel picks another; the tooltip tells a step's time range
// and counts; the steps whose lines the log view shows are marked; a click asks for the
// step's first line.
//
// It reads the tab's time index, which counts the keyword lines in the same read as the
// times, or where the log view keeps a keyword search of its own (for its strip or jumps),
// that search's counts (copies of their group tables, a few bytes per 128 lines), never the
// file: refresh() after either moved on.
// User-interface thread only.

#include "engine/DocumentTypes.h"
#include "engine/TimelineCounts.h"

#include <QWidget>

#include <vector>

class DocumentTimeIndex;
class LogView;

class TimelineView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int MinBarWidth = 3;

    explicit TimelineView(QWidget* parent = nullptr);

    // The index and the view it shows (both outlive it).
    void setSources(const DocumentTimeIndex* times, LogView* view);
    // Takes the index's times and keyword counts as they are now.
    virtual void refresh();

    TimeMs step() const { return TimelineCounts::Ladder[m_stepIndex]; }
    const std::vector<TimelineCounts::Step>& steps() const { return m_steps; }
    // The bar of steps()[i], in the widget's coordinates.
    QRect barRect(std::size_t i) const;
    // The step whose bar's column holds x; -1 for none.
    int stepAt(int x) const;

    QSize sizeHint() const override;

  signals:
    void lineChosen(LineNumber line);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // A timeline of other lines (several logs merged) counts its own: its refresh() takes
    // them, sets the keywords' colours and texts and rebuilds; its steps' lines are the ones
    // lineChosen gives and the shown ones are compared with.
    // Builds the steps for the step chosen (fitting it to the width unless the wheel chose).
    void rebuild();
    // The first and the last time of the lines counted; false without any.
    virtual bool timeSpan(TimeMs& first, TimeMs& last) const;
    // The steps of the lines counted for a step of time.
    virtual std::vector<TimelineCounts::Step> buildSteps(TimeMs step) const;
    // The lines [top, bottom) on screen; false when none are.
    virtual bool shownLines(LineNumber& top, LineNumber& bottom) const;

    std::vector<QColor> m_colors;    // by keyword
    std::vector<QString> m_keywords; // their texts

  private:
    // Slots (steps from the first to the last time) at ladder step index.
    std::int64_t slotsAt(std::size_t index) const;
    double barWidth() const;
    QString tipAt(int x) const;

    const DocumentTimeIndex* m_times = nullptr;
    LogView* m_view = nullptr;
    TimelineCounts::Input m_input;
    std::vector<TimelineCounts::Step> m_steps;
    std::size_t m_stepIndex = 0;
    bool m_stepChosen = false; // by the wheel
    std::uint64_t m_tallest = 0;
    int m_wheelRest = 0;
};
