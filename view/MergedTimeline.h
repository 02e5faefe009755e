#pragma once

// MergedTimeline: the timeline of a merged tab: each file's lines and keyword lines per step
// of time (from its own time index and keyword counts, a few bytes per 128 lines, copied on
// refresh()) added up step by step, since every file's steps lie on the same grid of times.
// A step's lines are the merged rows (engine/MergedRowMap.h): the steps with rows on screen
// are marked, and a click gives the step's first row through lineChosen. User-interface
// thread only.

#include "engine/TimelineCounts.h"
#include "settings/Keyword.h"
#include "view/TimelineView.h"

#include <functional>
#include <vector>

class MergedArea;
class MergedRowSource;

class MergedTimeline : public TimelineView {
    Q_OBJECT
  public:
    struct Counts {
        std::vector<TimelineCounts::Input> inputs; // one per file
        std::vector<Keyword> keywords;             // those the inputs count
    };
    // counts: the files' counts as they are now.
    MergedTimeline(MergedArea* area, MergedRowSource* rows, std::function<Counts()> counts,
                   QWidget* parent);

    void refresh() override;

  protected:
    bool timeSpan(TimeMs& first, TimeMs& last) const override;
    std::vector<TimelineCounts::Step> buildSteps(TimeMs step) const override;
    bool shownLines(LineNumber& top, LineNumber& bottom) const override;

  private:
    MergedArea* m_area;
    MergedRowSource* m_rows;
    std::function<Counts()> m_counts;
    std::vector<TimelineCounts::Input> m_inputs;
};
