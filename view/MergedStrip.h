#pragma once

// MergedStrip: the overview strip of a merged tab (view/MergedArea.h), beside its scroll
// bar: over the height of the scroll bar's track, where the rows lie whose lines a keyword
// colours (in the keyword's background colour), the rows that hold the find text (in the
// right third), the marked rows, and the rows on screen. A click shows the row there. Each
// document's keyword lines (and find text lines) are its own KeywordLines', found
// off the user-interface thread; the strip maps their buckets onto the rows
// (engine/MergedRowMap.h) and never reads a line. User-interface thread only; a child of
// its area, which places it (MergedArea::setSideStrip).

#include "engine/KeywordLines.h"
#include "view/OverviewStrip.h"

#include <functional>
#include <vector>

class MergedArea;
class MergedRowSource;

class MergedStrip : public OverviewStrip {
    Q_OBJECT
  public:
    // The documents' keyword buckets as they are now, one per document (empty for one that
    // is not searched).
    using Overviews = std::function<std::vector<KeywordLines::Overview>()>;
    // The bar that marks the rows on screen.
    static constexpr int ShownWidth = 2;

    // found: the documents' find text buckets, the same way.
    MergedStrip(MergedArea* area, MergedRowSource* rows, Overviews overviews, Overviews found);

    QSize sizeHint() const override { return {StripWidth, 0}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    MergedArea* m_area;
    MergedRowSource* m_rows;
    Overviews m_overviews;
    Overviews m_found;
};
