#pragma once

// MergedNavigation: the ways through a merged tab's rows that each file's own workers feed:
// the overview strip beside the scroll bar (view/MergedStrip.h), the jumps to the next and
// previous keyword line, and the timeline of all files together (view/MergedTimeline.h).
// Each file's keyword lines are found by a KeywordLines of its own, made when the strip or a
// jump first wants them and kept up with the file as it grows; the timeline adds up the
// files' time indexes (counting their keyword lines in the same read, or taking the keyword
// search's counts where there is one). Nothing here reads a line on the user-interface
// thread: the workers' results are mapped onto the rows (engine/MergedRowMap.h).
//
// Owned by the merged part, which ends the time indexes before it (they post to it) and the
// documents after it (its searches read them). User-interface thread only, except that the
// workers post to it.

#include "view/MergedStrip.h"
#include "view/MergedTimeline.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class DocumentTimeIndex;
class KeywordLines;
class MergedArea;
class MergedRowSource;
class QTimer;
class QWidget;

class MergedNavigation : public QObject {
    Q_OBJECT
  public:
    // times: each file's time index (not started yet: their word reaches this object).
    MergedNavigation(MergedRowSource* rows, MergedArea* area, std::vector<DocumentTimeIndex*> times,
                     QWidget* timelineParent);
    ~MergedNavigation() override;

    // The timeline, for the tab to place above the rows (hidden until shown).
    MergedTimeline* timeline() const { return m_timeline; }
    MergedStrip* strip() const { return m_strip; }

    void setOverviewShown(bool shown);
    void setTimelineShown(bool shown);
    // To the nearest row after (or before) the current one whose line a keyword colours;
    // where a file is still being searched, the jump waits for it. False when there is none.
    bool jumpToKeywordLine(bool down);
    // Rows came, a file started over or the keywords changed: the searches look again.
    void sync();
    // Find's text (flags: SearchMatchCase, SearchWholeWord), whose rows the strip shows
    // while it is shown; empty: none.
    void setFindText(const std::u16string& text, unsigned flags);

  signals:
    // A click on the timeline chose the first row of a step (the tab shows it where the
    // user reads the rows: the merged area or the filter's rows in its place).
    void rowChosen(std::size_t row);

  private:
    void ensureKeywordLines();
    void keywordLinesProgressed();
    void scheduleRefresh();
    void startTimes();
    // Whose keywords the time indexes count: those of files without a keyword search.
    void countKeywords(bool shown);
    // The nearest row after (or before) from that holds a document's open last line which a
    // keyword colours.
    std::optional<std::size_t> openKeywordRow(std::size_t from, bool down) const;
    // The find text's searches while the strip shows and there is a text; none otherwise.
    void syncFindLines();

    MergedRowSource* m_rows;
    MergedArea* m_area;
    std::vector<DocumentTimeIndex*> m_times;
    std::vector<std::unique_ptr<KeywordLines>> m_keywordLines; // empty until wanted
    std::u16string m_findText;
    unsigned m_findFlags = 0;
    std::vector<std::unique_ptr<KeywordLines>> m_findLines; // empty while not shown
    // The tab may delete them first, as its children.
    QPointer<MergedStrip> m_strip;
    QPointer<MergedTimeline> m_timeline;
    QTimer* m_refresh = nullptr;
    bool m_overviewShown = false;
    bool m_timelineShown = false;
    std::optional<bool> m_pendingJump;
};
