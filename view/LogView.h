#pragma once

// LogView: the one view of the main window. It paints the visible lines of the
// document with their keyword colours, scrolls by rows (vertically) and by the average
// character width (horizontally) or, while lines wrap, by rows of wrapped text alone (see
// setWrapLines), keeps itself at the end of the file while the user is
// there, and sounds a pending keyword alert while it paints, because it is the part that
// knows which lines are shown. It also carries the Pause and Resume commands.
// Following is state, not a reading of pixels: see EndFollower.
//
// All positions are pixels; document coordinates are viewport coordinates plus the scroll
// positions. The document is not owned; it must outlive the view or be detached with
// setDocument(nullptr). The sound service is not owned either. User-interface thread only.

#include "engine/LogDocument.h"
#include "view/DocumentRowSource.h"
#include "view/FindHighlight.h"
#include "view/LogRenderer.h"
#include "view/MouseSelection.h"
#include "view/SelectionClipboard.h"
#include "view/TextArea.h"
#include "view/WrapScroller.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QBasicTimer>
#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>

class EndFollower;
class KeywordLines;
class LineGutter;
class MarkNotes;
class OverviewStrip;
class SoundService;

class LogView : public TextArea {
    Q_OBJECT
  public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    void setDocument(LogDocument* document);
    LogDocument* document() const { return m_document; }
    void setSoundService(SoundService* sound) { m_sound = sound; }

    // The framework's entry points.
    void initialUpdate();
    void updateFromDocument();
    // Applies one scroll request per direction; trackPos is the thumb's position for
    // SliderMove. SliderToMinimum vertically also puts the caret and the find position at
    // the start.
    void onScroll(QAbstractSlider::SliderAction horizontal, QAbstractSlider::SliderAction vertical,
                  int trackPos = 0);

    // Called by the document on each of its views.
    // The user is at the end from now on (an open, a reload): the view goes there and
    // follows the end until the user scrolls away.
    void scrollToEnd();
    void resetScroll(); // empties the content size, both ranges 0..0
    // Shows the selection's first line (with a line above it) unless it is fully on
    // screen, and its start horizontally unless the selected text is fully in view.
    void ensureSelectionVisible();

    // Commands routed to the view.
    void onResume();
    void onPause();
    bool canResume() const;
    bool canPause() const;

    // Geometry, as the algorithms define it.
    std::uint32_t lineHeight() const { return m_lineHeight; }
    std::uint32_t visibleRowCount() const;
    std::uint32_t firstVisibleLine() const;
    // The content's width is 64-bit (contentSize() holds it clamped to an int). When it
    // exceeds what the horizontal bar counts in pixels, one step of the bar is
    // horizontalScale() pixels, so every line stays scrollable to its last character.
    QSize contentSize() const { return m_contentSize; }
    qint64 contentWidth() const { return m_contentWidth; }
    qint64 horizontalScale() const { return m_horizontalScale; }
    // The document x shown at the left edge.
    qint64 scrollX() const;
    // The x of a long line's column: columns past what is decoded are all as wide as the
    // font's average character (engine/LongLine.h).
    qint64 longX(std::int64_t column) const;
    // Beyond this many pixels the horizontal bar counts in steps of several.
    static constexpr qint64 MaxBarRange = qint64(1) << 24;
    QSize lineStep() const { return m_lineStep; }
    QSize pageStep() const { return m_pageStep; }

    // Caret in document coordinates (line, x; x within its row while lines wrap); the view
    // draws it.
    int caretLine() const { return m_caretLine; }
    int caretX() const { return m_caretDocX; }
    std::int32_t caretCharacter() const { return m_caretChar; }
    void placeCaret(LineNumber line, std::int32_t character) override;

    // Point-to-text geometry (client coordinates; widths are the renderer's, tabs and the
    // lone-CR symbol included, so what is hit is what is painted there). The partly hidden
    // top row is never hit: a point in it counts as the first fully shown line (row).
    LineNumber lineFromPoint(int y) const override;
    TextPoint pointToText(QPoint point) override;
    // Stores the selection, puts the caret after its end and repaints the changed rows.
    void setSelectionAndCaret(LineNumber startLine, LineNumber endLine, std::int32_t startCol,
                              std::int32_t endCol);

    // Select All and Copy. Copy puts the selected text on the clipboard (see
    // SelectionClipboard.h) and reports what happened; TooLarge leaves the clipboard as it was.
    void onEditSelectAll() override;
    CopyResult onEditCopy() override;
    bool canCopy() const override;
    const MouseSelection& mouseSelection() const { return m_mouse; }

    // View > Wrap Long Lines: a line wider than the view goes on in the rows below it
    // (view/LineWrap.h for where it breaks), and there is no horizontal scrolling. Rows,
    // not lines, are then what scrolling, paging, the wheel and the keys move by
    // (view/WrapScroller.h); the top line stays the top line when it is switched.
    // The width a wrapped row may take, in pixels.
    int wrapWidth() const;

    // The line-number gutter left of the text (see LineGutter); hidden by default.
    void setLineNumbersShown(bool shown);
    bool lineNumbersShown() const { return m_lineNumbers; }
    LineGutter* gutter() const { return m_gutter; }

    // Selects the whole line, makes it the find position and shows it as a match of Find is
    // shown (with a line of context above it unless it is already fully on screen). A line
    // past the end is the last line; nothing happens without lines.
    void showLine(LineNumber line);
    // Selects the whole line as showLine does and scrolls it to the upper third of the view
    // (as far as the lines allow): a jump to a time, where what follows the line matters.
    void showLineInUpperThird(LineNumber line);
    // marks (the document's, see LineMarks): toggled on a line or on the caret's line,
    // jumped to (wrapping around, shown as showLine shows a line), all removed.
    void toggleMark(LineNumber line);
    // Whether the caret's line is marked now.
    bool toggleMarkAtCaret();
    // False when there is no mark to go to.
    bool jumpToMark(bool next);
    void clearMarks();
    // A mark's note (view/MarkNotes.h): set, marking the line when it is not marked; or
    // written by the user in a field over the line.
    void setMarkNote(LineNumber line, std::u16string note);
    void editMarkNote(LineNumber line);
    MarkNotes* markNotes() const { return m_markNotes; }
    // The marks were put back on the lines from where they are kept: they are repainted.
    void refreshMarks();
    // What a marked row's background is blended with, and how strongly (of 255).
    static QColor markColor() { return QColor(64, 128, 255); }
    static constexpr int MarkTintAlpha = 96;
    static constexpr int CaretBlinkMs = 10000;
    // The platform's default caret width (the window border width).
    static constexpr int CaretWidth = 1;
    // The background of a marked row whose unmarked background is `background`.
    static QColor markedBackground(const QColor& background);

    // Every occurrence of the text in the rows on screen is drawn tinted, except the one the
    // selection covers, which shows as the selection (view/FindHighlight.h). flags:
    // SearchMatchCase, SearchWholeWord, as Find takes them. An empty text shows none.
    void setFindHighlight(const std::u16string& text, unsigned flags) override;
    void clearFindHighlight() { setFindHighlight({}, 0); }
    const std::u16string& findHighlightText() const { return m_highlightText; }

    // The overview strip beside the vertical scroll bar (see OverviewStrip); hidden by
    // default.
    void setOverviewShown(bool shown);
    // Starts the keyword search though the strip is hidden (the timeline counts on it).
    void wantKeywordLines();
    bool overviewShown() const { return m_overviewShown; }
    OverviewStrip* overview() const { return m_overview; }
    // Shows the line near the middle of the view (the strip's click); the user has scrolled.
    void scrollToLine(LineNumber line);
    // Scrolls so that `rowsAbove` rows are above the line; the user has scrolled.
    void scrollLineTo(LineNumber line, qint64 rowsAbove);
    // Goes to the next (down) or previous line a keyword colours, from the caret's line, as
    // showLine shows a line. Lines in the decoded window are looked at here; the rest of the
    // file is searched by the view's KeywordLines, and a jump waits for it where it has not
    // got that far yet. False when it is known that there is none.
    bool jumpToKeywordLine(bool down);
    // Whether a jump waits for the search.
    bool keywordJumpPending() const { return m_pendingKeywordJump.has_value(); }
    // The keyword lines of the whole file, once the strip or a jump asked for them.
    KeywordLines* keywordLines() const { return m_keywordLines.get(); }
    // The lines that hold the find text, in the whole file, while the strip is shown and
    // there is a find text (the strip marks them; whole word is not applied there).
    KeywordLines* findLines() const { return m_findLines.get(); }
    static QColor currentMatchHighlightColor() { return QColor(255, 120, 0, 170); }

  signals:
    // After every update: the document's file size and line count, for the status bar.
    void statusChanged(qint64 fileSize, qint64 lineCount);
    // A mark was toggled or given a note, or the marks were cleared (marksCleared first).
    void marksChanged();
    void marksCleared();
    // The keyword search found more lines.
    void keywordLinesChanged();
    // The find highlight's text or options changed (setFindHighlight).
    void findHighlightChanged(const std::u16string& text, unsigned flags);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool viewportEvent(QEvent* event) override;

  private:
    // SelectionTarget.
    LineNumber selectableLineCount() const override;
    std::u16string selectableLine(LineNumber line) override;
    DocSelection currentSelection() const override;
    void storeSelection(const DocSelection& selection) override;
    FindPosition currentFindPosition() const override;
    void storeFindPosition(const FindPosition& position) override;
    void selectionFinished() override;

    // Repaints the rows whose selected part differs between the two records.
    void invalidateSelectionChange(const DocSelection& before, const DocSelection& after);
    void invalidateLines(LineNumber first, LineNumber last);
    // A drag outside the top or bottom edge scrolls a line (a row while lines wrap) at a
    // time; there is nothing to select without a document.
    void scrollDragStep(int step) override;
    bool selects() const override;
    bool activatesRows() const override { return false; }
    void setupFont(bool allowDefault);
    void measure();
    void updateScrollRange() override;
    void onVerticalSliderMoved(int value);
    void createCaret();
    QRect caretRect() const;
    // Width of the longest line: measured again only when another line became the
    // longest, and only from where it was measured when the same line grew.
    qint64 longestLineWidth(std::u16string_view line, const LogDocument::LongestLineKey& key);
    int horizontalTarget(QAbstractSlider::SliderAction code, int track) const;
    // Sizes the left margin to the gutter (none while it is hidden) and places the gutter.
    void updateGutter() override;
    KeywordLines& ensureKeywordLines();
    // The search found more: a waiting jump goes on, the strip repaints.
    void keywordLinesProgressed();
    // Long lines are shown from the part around the left edge of the view; under docAccess.
    void focusLongLines();
    // The x of a column of the line whose part this is; under docAccess.
    qint64 columnX(const LogDocument::LinePart& part, qsizetype column) const;
    // A row's selection as the columns of the part it shows see it.
    static void shiftSelection(LogRenderer::RowStyle& style, const LogDocument::LinePart& part);

    LogDocument* m_document = nullptr;
    SoundService* m_sound = nullptr;
    std::uint32_t m_lineHeight = 0;
    bool m_ctrlHeld = false;
    QSize m_contentSize;
    QSize m_lineStep;
    QSize m_pageStep;

    qint64 m_contentWidth = 0;
    qint64 m_horizontalScale = 1;
    bool m_haveMeasured = false;
    LogDocument::LongestLineKey m_measuredKey;
    qint64 m_measuredWidth = 0;
    qsizetype m_resumeIndex = 0; // where a grown longest line is measured on from
    qint64 m_resumeX = 0;
    bool m_measureQueued = false;
    bool m_firstLinesTraced = false;
    // One paint's rows, taken under the document lock and drawn after it; kept between
    // paints only for its capacity.
    struct PaintRow {
        std::u16string_view text;
        std::u16string copy; // holds the text only when the window moved while rows were taken
        LogRenderer::RowStyle style;
        int y = 0;
        std::uint32_t line = 0;
        // A row of a wrapped line: characters [start, end) of the line, whose character
        // `from` is text's first (text is the whole line, or the part a copy took).
        qsizetype from = 0;
        qsizetype start = 0;
        qsizetype end = 0;
        // A part of a long line: the x and the column of text's first character.
        qint64 originX = 0;
        qsizetype firstColumn = 0;
    };
    std::vector<PaintRow> m_paintRows;
    // The runs of one row (terminal colours, keyword matches) into its style, for the
    // characters within document x [left, right); true when a keyword colours a match in
    // that part. Caller holds docAccess.
    bool lineRuns(std::u16string_view line, LineNumber index, bool matched, qint64 left,
                  qint64 right, LogRenderer::RowStyle& style);
    StyleRuns m_matchRuns;
    const StyleRuns m_noRuns;

    int m_caretLine = 0;
    int m_caretDocX = 0;
    bool m_caretShown = false;
    bool m_caretOn = false;
    QBasicTimer m_caretTimer;
    // Blinks since the caret last moved or the view took the focus: after CaretBlinkMs the
    // caret rests shown, as GTK's does, so that an unattended window wakes no one.
    int m_caretBlinks = 0;

    std::shared_ptr<SelectionTextSource> m_textSource;
    std::uint64_t m_seenGeneration = 0;

    LineGutter* m_gutter = nullptr;
    MarkNotes* m_markNotes = nullptr;
    bool m_lineNumbers = false;
    std::u16string m_highlightText;
    std::u16string m_highlightPattern; // folded when the case is ignored
    unsigned m_highlightFlags = 0;
    OverviewStrip* m_overview = nullptr;
    bool m_overviewShown = false;
    std::unique_ptr<KeywordLines> m_keywordLines;
    std::unique_ptr<KeywordLines> m_findLines;
    // Starts, follows or ends the search for the find text's lines.
    void syncFindLines();
    std::optional<bool> m_pendingKeywordJump; // down?

    // The document's lines as the area's rows (wrapped lines are laid out from them).
    DocumentRowSource m_lines;
    std::int32_t m_caretChar = 0;
    std::uint64_t m_wrapGeneration = 0;
    // The geometry the rows wrap in, brought up to date (width, height, font).
    void syncWrapGeometry() override;
    // The bar counts pixels; a switch lays the lines out again from their widths and puts
    // the caret back.
    int rowScrollUnit() const override { return int(m_lineHeight); }
    void layOutRows() override { measure(); }
    void wrapSwitching(bool wrap) override;
    void wrapSwitched() override;
    // Where the caret is drawn while lines wrap, found among the rows painted last.
    QRect m_wrapCaret;
    void paintWrapped(QPainter& painter, const QRect& area);
};
