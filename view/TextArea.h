#pragma once

// TextArea: a scrolled area of rows of text, each row what a RowSource gives. It paints
// the rows with the gutter (the row's line number counted from 1, a sign before it where
// the source sets one, the current row marked), the keyword and terminal colours, the
// selection and the find highlight; it wraps rows wider than the view when asked to
// (setWrapLines), scrolls, and stays at the end while the user is there (EndFollower).
//
// Scrolling counts rows, not pixels, so millions of rows stay scrollable. Rows are selected
// with the mouse (MouseSelection, one selection of rows of its own) and copied joined by
// line feeds; a click on a row that is not the end of a drag, or Enter, activates the row
// (rowActivated). Up, Down, Page Up, Page Down, Ctrl+Home and Ctrl+End move the current
// row, Left, Right, Home and End scroll sideways.
//
// A new kind of list of rows (the filter's matches, a merged view, a results list) is a
// new RowSource, not a new widget. The log view is an area too: it keeps the plumbing
// (construction, the follower and the wrap scroller, the mouse drag and its scrolling, the
// find highlight, the source's notifications) and paints its document by pixels itself.
//
// The source is not owned; it must outlive the area or be detached with
// setRowSource(nullptr). User-interface thread only.

#include "engine/DocumentTypes.h"
#include "view/FindHighlight.h"
#include "view/LogRenderer.h"
#include "view/MouseSelection.h"
#include "view/RowSource.h"
#include "view/SelectionClipboard.h"
#include "view/WrapScroller.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class EndFollower;
class FilterPattern;
class QScrollBar;

class TextArea : public QAbstractScrollArea, public SelectionTarget {
    Q_OBJECT
  public:
    explicit TextArea(QWidget* parent = nullptr);
    ~TextArea() override;

    void setRowSource(RowSource* source);
    RowSource* rowSource() const { return m_source; }

    void setTextFont(const QFont& font);
    const LogRenderer& renderer() const { return m_renderer; }

    std::size_t rowCount() const { return m_source != nullptr ? m_source->rowCount() : 0; }
    LineNumber lineOfRow(std::size_t row) const { return m_source->lineOfRow(row); }
    std::size_t currentRow() const { return m_currentRow; }
    std::size_t firstVisibleRow() const;
    int rowHeight() const { return m_renderer.lineHeight(); }
    int gutterWidth() const { return m_gutterWidth; }
    bool isFollowing() const;

    // Rows came or went anywhere (rows of a filter shown or hidden): the area goes on from
    // topRow with currentRow current, or stays at the end while it follows; a selection
    // of rows goes, as a drag in progress does.
    void rearrangeRows(std::size_t topRow, std::size_t currentRow);

    // Selects characters [startCol, endCol] of the row (endCol -1: to its end), makes it the
    // current row and brings it into view: a match of Find, a jump to a mark.
    void selectInRow(std::size_t row, std::int32_t startCol, std::int32_t endCol);

    // Find among the rows as the source reads them, from the selection (past it going down,
    // before it going up) or the current row: the match is selected and brought into view.
    // flags: SearchMatchCase, SearchWholeWord. False when nothing is found that way.
    bool findText(const std::u16string& text, bool down, unsigned flags);
    // The same with a compiled pattern; rows the pattern could not decide are passed over
    // and counted in undecided.
    bool findPattern(const FilterPattern& pattern, bool down, std::uint64_t& undecided);
    // Selects the next (or previous) row that a keyword colours whole, from the current row,
    // as Alt+Down and Alt+Up do in the whole log, and shows it; false when there is none that
    // way. Rows are only ever what the area lists, so a keyword line it leaves out is passed
    // over.
    bool jumpToKeywordRow(bool down);
    // Selects the first of rows (ascending) after the current row (next) or before it, around
    // the end, and shows it; false when rows is empty. The marks' jumps.
    bool jumpAround(const std::vector<std::size_t>& rows, bool next);

    virtual void onEditSelectAll();
    virtual CopyResult onEditCopy();
    virtual bool canCopy() const { return m_selection.valid; }
    DocSelection selection() const { return m_selection; }

    // The occurrences of Find's text are shown tinted (view/FindHighlight.h); flags
    // SearchMatchCase, SearchWholeWord; an empty text shows none.
    virtual void setFindHighlight(const std::u16string& text, unsigned flags);
    // Rows wider than the view go on in screen rows below, the number on the first of
    // them, and scrolling moves by screen rows (view/WrapScroller.h); the keys still move
    // the current row.
    void setWrapLines(bool wrap);
    bool wrapsLines() const { return m_wrap; }
    // The screen rows shown while rows wrap (items are row numbers).
    const std::vector<WrapScroller::Row>& screenRows();

    // SelectionTarget (points are viewport coordinates).
    LineNumber selectableLineCount() const override;
    std::u16string selectableLine(LineNumber row) override;
    // The row under viewport y (past the last below it).
    virtual LineNumber lineFromPoint(int y) const;
    TextPoint pointToText(QPoint point) override;
    void placeCaret(LineNumber row, std::int32_t character) override;

  signals:
    // The user chose the row (a click that is not the end of a drag, or Enter).
    void rowActivated(std::size_t row);
    void selectionPresenceChanged(bool present);

  protected:
    // Rows read at once while a search goes through them: the row cache keeps only what is
    // on screen, so a search reads its own batches.
    static constexpr std::size_t FindBatchRows = 512;

    // For an area that scrolls by other units (the log view): a custom pair of scroll
    // bars, set before the follower and the wrap scroller take the vertical one, and the
    // pixels a scroll that ends this close to the end still counts as at the end.
    struct Frame {
        QScrollBar* horizontal = nullptr;
        QScrollBar* vertical = nullptr;
        int followSlack = 0;
    };
    TextArea(QWidget* parent, const Frame& frame);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

    // A row's look after the source's colours, the selection and the find highlight: an
    // area that tints some rows (marked ones) changes it here.
    virtual void styleRow(std::size_t row, LogRenderer::RowStyle& style)
    {
        (void)row;
        (void)style;
    }
    // The source said what changed (see RowChange).
    virtual void rowsChanged(const RowChange& change);
    // The texts the wrap layout read may read differently: called before rows are wrapped.
    virtual void syncWrapGeometry();
    // After anything that moves the range: the follower's keep, or the wrapped rows' own.
    void keepPlace();
    // The switch of wrapping calls these: the units of the vertical bar in a row (1: the
    // bar counts rows), the area's sizes measured again (the scroll range and the place),
    // and the area's own state before and after the switch.
    virtual int rowScrollUnit() const { return 1; }
    virtual void layOutRows();
    virtual void wrapSwitching(bool wrap) { (void)wrap; }
    virtual void wrapSwitched() {}
    // The user is at the end from now on (new rows, an open, Resume): the area goes there
    // and follows the end until the user scrolls away.
    void arriveAtEnd();
    // A drag held beyond the top (step < 0) or bottom edge scrolls by one row.
    virtual void scrollDragStep(int step);
    // Whether a drag may start or go on (an area with nothing to select says no).
    virtual bool selects() const { return true; }
    // Whether a plain click activates the row under it (rowActivated) and a press during a
    // drag only ends it; an area that only selects says no.
    virtual bool activatesRows() const { return true; }
    // While rows wrap: the row under viewport y (past the last below it), rows height
    // pixels high.
    LineNumber wrappedRowFromPoint(int y, int height) const;
    // While rows wrap: the character of the screen row at x (pixels from the row's start)
    // whose text from character origin on is text; length is the row's length.
    qsizetype wrappedCharAt(const WrapScroller::Row& row, QStringView text, qsizetype origin,
                            qsizetype length, qint64 x) const;
    // Stops a drag's scrolling: the rows under it changed.
    void stopDrag();
    // The timer of a drag's scrolling went off: scrolls and moves the selection on.
    void dragAutoScroll();

    DocSelection currentSelection() const override { return m_selection; }
    void storeSelection(const DocSelection& selection) override;
    FindPosition currentFindPosition() const override { return m_findPosition; }
    void storeFindPosition(const FindPosition& position) override { m_findPosition = position; }
    void selectionFinished() override;

    RowSource* m_source = nullptr;
    LogRenderer m_renderer;
    EndFollower* m_follower = nullptr;
    WrapScroller* m_wrapScroller = nullptr;
    bool m_wrap = false;
    Qt::ScrollBarPolicy m_horizontalPolicy = Qt::ScrollBarAsNeeded;
    FindHighlight m_findHighlight;
    MouseSelection m_mouse{*this};
    QBasicTimer m_autoScrollTimer;
    QPoint m_dragPoint;

    // The scroll bars' ranges and steps, and the gutter, brought up to date.
    virtual void updateScrollRange();
    virtual void updateGutter();

  private:
    // The search of findText and findPattern: match(text, from, down) gives the first
    // [begin, last] at or after from (down), or the last ending at or before from (up).
    using RowMatch = std::function<std::optional<std::pair<std::int64_t, std::int64_t>>(
        std::u16string_view, std::int64_t, bool)>;
    bool findRows(bool down, const RowMatch& match);

    // Space left and right of the line numbers.
    static constexpr int GutterPadding = 6;
    static constexpr int StripeWidth = 4;

    int fullRows() const;
    void setCurrentRow(std::size_t row);
    void scrollToRow(std::size_t row);
    std::u16string_view rowText(std::size_t row);
    // The text a selection of rows gives, when its peak stays within limitBytes (0: half
    // the memory the machine has available).
    CopyResult buildText(const DocSelection& selection, QString& text, std::uint64_t limitBytes);
    // Keyword, terminal and match colours, selection and find highlight of characters
    // [start, end) of a row, those outside [start, end) possibly left out.
    LogRenderer::RowStyle rowStyle(std::size_t row, std::u16string_view text, qsizetype start,
                                   qsizetype end, ColorRef textColor, ColorRef backgroundColor);
    // The background above and below the rows painted; true when the gutter is in the
    // area (it is then filled and the numbers' font set), for the caller's rows.
    bool paintMargins(QPainter& painter, const QRect& area, int rowsTop, int rowsBottom,
                      const QColor& background);
    void paintGutter(QPainter& painter, const QRect& area, int y, std::size_t row, bool numbered);
    void paintWrapped(QPainter& painter, const QRect& area);
    // Rows whose first screen row is wholly shown, less one (at least one): a page.
    std::size_t wrappedPage();

    // The wrap layout's view of the rows.
    class RowWrap : public WrapSource {
      public:
        explicit RowWrap(TextArea& area) : m_area(area) {}
        std::size_t itemCount() override { return m_area.rowCount(); }
        QStringView itemText(std::size_t item) override;
        std::uint64_t itemKey(std::size_t item) override { return m_area.m_source->rowKey(item); }
        std::optional<std::uint64_t> itemSizeHint(std::size_t item) override;
        std::recursive_mutex* textLock() override;
        std::optional<std::int64_t> itemColumns(std::size_t item) override;

      private:
        TextArea& m_area;
    };
    RowWrap m_rowWrap{*this};

    int m_gutterWidth = 0;
    int m_gutterDigits = 0;
    char16_t m_gutterSign = 0;
    qint64 m_widestRow = 0; // widest text painted since the rows were reset
    std::size_t m_currentRow = 0;
    DocSelection m_selection;
    FindPosition m_findPosition;
    bool m_pressedWhileDragging = false;
};
