#pragma once

// FilterView: the filter pane's list. Row r shows document line rows.at(r): its number
// (counted from 1) in a gutter at the left, wide enough for the document's largest line
// number, with a mark before it when a term could not decide the line; then its text
// painted by the log view's renderer in the log view's font, with the same keyword
// colours and, while they are on, the same terminal colours (a whole-line keyword's colours
// win over them). It follows its end while the user is there, as the log view does.
//
// Rows are selected and copied like the log view's lines (MouseSelection, one selection of
// its own over rows); a copy gives the shown lines joined by line feeds. A click on a row that
// is not the end of a drag, or Enter on the current row, asks for the line to be shown in
// the log view (lineActivated). Up, Down, Page Up, Page Down, Ctrl+Home and Ctrl+End move
// the current row.
//
// While lines wrap (setWrapLines) a row's text goes on in screen rows below it, its number
// on the first of them, and scrolling moves by screen rows (view/WrapScroller.h); the keys
// still move the current row.
//
// Scrolling counts rows, not pixels, so millions of matching rows stay scrollable. Only
// the rows on screen are read, in one call of the document, and kept until the lines may
// have changed. Neither the document nor the matches are owned; both must outlive the
// pane or be detached. User-interface thread only.

#include "engine/DocumentTypes.h"
#include "engine/FilterRows.h"
#include "view/FindHighlight.h"
#include "view/LogRenderer.h"
#include "view/MouseSelection.h"
#include "view/SelectionClipboard.h"
#include "view/WrapScroller.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class LogDocument;
class EndFollower;
struct FilterChange;

class FilterView : public QAbstractScrollArea, public SelectionTarget {
    Q_OBJECT
  public:
    explicit FilterView(QWidget* parent = nullptr);
    ~FilterView() override;

    void setDocument(LogDocument* document);
    void setMatches(const FilterRows* rows);
    // The lines among the matches that are shown undecided, ascending; not owned.
    void setUndecided(const std::vector<LineNumber>* lines) { m_undecided = lines; }
    bool isUndecided(std::size_t row) const;
    void setTextFont(const QFont& font);
    const LogRenderer& renderer() const { return m_renderer; }

    // The rows changed (what LineFilter::collect or Sync reported).
    void rowsChanged(const FilterChange& change);
    // Rows came or went anywhere (a mark shown among the matches): the view goes on from
    // topRow with currentRow current, or stays at the end while it follows; a selection of
    // rows goes.
    void rowsRearranged(std::size_t topRow, std::size_t currentRow);
    // The document changed (an append, new keywords): repaint, read changed lines again.
    void documentChanged();

    std::size_t rowCount() const { return m_matches != nullptr ? m_matches->size() : 0; }
    LineNumber lineOfRow(std::size_t row) const { return m_matches->at(row); }
    std::size_t currentRow() const { return m_currentRow; }
    std::size_t firstVisibleRow() const;
    int rowHeight() const { return m_renderer.lineHeight(); }
    int gutterWidth() const { return m_gutterWidth; }
    bool isFollowing() const;

    void onEditSelectAll();
    CopyResult onEditCopy();
    bool canCopy() const { return m_selection.valid; }
    DocSelection selection() const { return m_selection; }

    // Rows wrapped as the log view wraps its lines; the screen rows shown then (items are
    // row numbers).
    // The occurrences of Find's text are shown as the log view shows them
    // (view/FindHighlight.h); flags FR_MATCHCASE, FR_WHOLEWORD; an empty text shows none.
    void setFindHighlight(const std::u16string& text, unsigned flags);
    void setWrapLines(bool wrap);
    bool wrapsLines() const { return m_wrap; }
    const std::vector<WrapScroller::Row>& screenRows();

    // SelectionTarget (points are viewport coordinates).
    LineNumber selectableLineCount() const override;
    std::u16string selectableLine(LineNumber row) override;
    // The row under viewport y (past the last below it).
    LineNumber lineFromPoint(int y) const;
    TextPoint pointToText(QPoint point) override;
    void placeCaret(LineNumber row, std::int32_t character) override;

  signals:
    // The user chose the row showing document line `line`.
    void lineActivated(LineNumber line);
    void selectionPresenceChanged(bool present);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    DocSelection currentSelection() const override { return m_selection; }
    void storeSelection(const DocSelection& selection) override;
    FindPosition currentFindPosition() const override { return m_findPosition; }
    void storeFindPosition(const FindPosition& position) override { m_findPosition = position; }
    void selectionFinished() override;

    int fullRows() const;
    void updateScrollRange();
    void updateGutter();
    void setCurrentRow(std::size_t row);
    void scrollToRow(std::size_t row);
    // The texts of rows [first, end) read into the cache in one call.
    void fetchRows(std::size_t first, std::size_t end);
    const std::u16string& rowText(std::size_t row);
    void forgetRows();
    // The text a selection of rows gives, when its peak stays within limitBytes (0: half
    // the memory the machine has available).
    CopyResult buildText(const DocSelection& selection, QString& text, std::uint64_t limitBytes);

    LogDocument* m_document = nullptr;
    const FilterRows* m_matches = nullptr;
    EndFollower* m_follower = nullptr;
    const std::vector<LineNumber>* m_undecided = nullptr;
    LogRenderer m_renderer;
    int m_gutterWidth = 0;
    int m_gutterDigits = 0;
    qint64 m_widestRow = 0; // widest text painted since the rows were reset
    std::size_t m_currentRow = 0;
    DocSelection m_selection;
    FindPosition m_findPosition;
    MouseSelection m_mouse{*this};
    bool m_pressedWhileDragging = false;
    QBasicTimer m_autoScrollTimer;
    QPoint m_dragPoint;
    // Row texts and their terminal colours by document line; the open last line is read
    // again on every change.
    struct Row {
        std::u16string text;
        StyleRuns runs;
    };
    std::unordered_map<LineNumber, Row> m_texts;
    // The row's entry, read when it is not yet; null for a row beyond the matches.
    const Row* row(std::size_t row);
    std::uint64_t m_seenGeneration = 0;
    LineNumber m_seenLineCount = 0;

    // Wrapped rows (see setWrapLines).
    class RowTexts : public WrapSource {
      public:
        explicit RowTexts(FilterView& view) : m_view(view) {}
        std::size_t itemCount() override { return m_view.rowCount(); }
        QStringView itemText(std::size_t item) override;
        std::uint64_t itemKey(std::size_t item) override { return m_view.lineOfRow(item); }
        std::optional<std::uint64_t> itemSizeHint(std::size_t item) override;

      private:
        FilterView& m_view;
    };
    bool m_wrap = false;
    FindHighlight m_findHighlight;
    RowTexts m_rowTexts{*this};
    WrapScroller* m_wrapScroller = nullptr;
    Qt::ScrollBarPolicy m_horizontalPolicy = Qt::ScrollBarAsNeeded;
    void syncWrapGeometry();
    void keepPlace();
    void paintWrapped(QPainter& painter, const QRect& area);
    // Rows whose first screen row is wholly shown, less one (at least one): a page.
    std::size_t wrappedPage();
};
