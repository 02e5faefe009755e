#pragma once

// OverviewStrip: a narrow strip between the log view's text and its vertical scroll bar
// that shows the whole file over the height of the scroll bar's track: where the lines a
// keyword colours lie (in the keyword's background colour), the lines that hold the find
// text (in the right third) and where the marks are. A click scrolls the view there.
//
// The keyword lines come from the view's KeywordLines, found off the user-interface thread
// and as the file grows; until they are all found the strip shows what is known. Painting
// copies the buckets (at most KeywordLines::MaxBuckets bytes) and reads the marks; it
// never touches the file. User-interface thread only; owned by its LogView.

#include <QWidget>

#include <cstdint>
#include <utility>

class LogView;
class QAbstractScrollArea;

class OverviewStrip : public QWidget {
    Q_OBJECT
  public:
    static constexpr int StripWidth = 10;

    explicit OverviewStrip(LogView* view);

    // The strip's rows that stand for the file's lines: the scroll bar's track, in the
    // strip's coordinates (the whole strip when the style draws no track).
    QRect track() const;
    // The first strip row (in the strip's coordinates) that stands for `line` of `count`.
    int rowOf(std::uint64_t line, std::uint64_t count) const;
    // The line a strip row stands for.
    std::uint64_t lineAt(int y, std::uint64_t count) const;
    // The lines [first, end) that row `row` of a track `height` rows high paints: those that
    // start on it as rowOf places them, or (fewer lines than rows) the one whose rows reach
    // over it. A click on the row goes to `first`, so it lands on what the row shows.
    static std::pair<std::uint64_t, std::uint64_t>
    linesOfRow(std::uint64_t row, std::uint64_t count, std::uint64_t height);

  protected:
    // A strip beside another area's scroll bar, which paints and answers clicks itself.
    explicit OverviewStrip(QAbstractScrollArea* area);
    // The find text's lines are painted in the right third, in the current match's colour.
    int findWidth() const;
    static QColor findColor();

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QAbstractScrollArea* m_area;
    LogView* m_view = nullptr;
};
