#pragma once

// WrapScroller: scrolling a list of texts (the log's lines, the filter pane's rows) in rows
// of wrapped text (view/LineWrap.h), with a vertical scroll bar and an EndFollower.
//
// Where the view stands is a place, not a pixel count: the text (item) and the character
// that starts its top row, and how many pixels of that row are hidden above the top edge.
// Only the rows on screen and the few around them are ever laid out, so neither the rows of
// the whole list nor those of a whole huge line are counted. The scroll bar therefore
// counts items, not rows: each item spans units() values, its rows share them by their
// share of its row count (estimated for huge lines), and a scroll bar position is turned
// into a place the same way. Overview marks placed by line number stay level with the thumb.
//
// Following works as without wrapping, through the same EndFollower: the end place (the
// last row of the last item at the bottom edge, the top row partly hidden as it comes) is
// always the bar's maximum, and every other place lies more than the follower's slack
// below it, so "at the end" stays a matter of the user's own scrolls. Texts far from the
// screen are never read: away from the end, the maximum is estimated from the last items'
// sizes (itemSizeHint), and found exactly once the end is on screen. A user away from the
// end keeps their place (its character, so a re-wrap keeps the same text at the top) while
// items arrive, the view is resized or the font changes; a place below the end shows the
// end until the list has grown past it.
//
// Scrolls the view does itself (keys, wheel, a shown match) go through scrollRows and
// friends, which count as the user's own; the bar's own arrows and trough step by rows, and
// its thumb goes to the place its value names. The bar is driven under a guard: values it
// is given are never read back as a move. User-interface thread only; the bar and the
// follower must outlive the scroller (siblings in one scroll area).

#include "view/ColumnRows.h"
#include "view/LineWrap.h"

#include <QObject>

#include <compare>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class EndFollower;
class QScrollBar;

// The texts a WrapScroller scrolls through.
class WrapSource {
  public:
    virtual ~WrapSource() = default;
    virtual std::size_t itemCount() = 0;
    // The item's text, valid until the next call of this source.
    virtual QStringView itemText(std::size_t item) = 0;
    // Names the item's text among the kept layouts (the document line it shows).
    virtual std::uint64_t itemKey(std::size_t item) { return item; }
    // The item's length in characters or a close bound of it, known without reading its
    // text (a line's bytes); none: the text is read when its rows must be estimated.
    virtual std::optional<std::uint64_t> itemSizeHint(std::size_t) { return std::nullopt; }
    // Held around every use of the texts (the document's lock), if any.
    virtual std::recursive_mutex* textLock() { return nullptr; }
    // For an item too long to lay out, its columns: it is wrapped in rows of a fixed number
    // of columns (view/ColumnRows.h), its places count columns and its text is never read
    // here. None: wrapped by LineWrap from its text.
    virtual std::optional<std::int64_t> itemColumns(std::size_t) { return std::nullopt; }
};

class WrapScroller : public QObject {
    Q_OBJECT
  public:
    struct Place {
        std::size_t item = 0;
        qsizetype start = 0;
        auto operator<=>(const Place&) const = default;
    };
    // A row on screen: characters [start, end) of the item, its top at viewport y.
    struct Row {
        std::size_t item = 0;
        qsizetype start = 0;
        qsizetype end = 0;
        int y = 0;
    };

    // Connects to the bar: call before an EndFollower is made for the same bar, so the
    // bar's own row steps are decided before the follower judges where they ended.
    WrapScroller(QScrollBar* bar, int slack, QObject* parent);

    void setFollower(EndFollower* follower) { m_follower = follower; }
    void setSource(WrapSource* source) { m_source = source; }
    // Off: the scroller leaves the bar alone.
    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }
    LineWrap& wrap() { return m_wrap; }

    // Row width in pixels, the viewport's height, the font (its row height). A new row
    // height keeps the top row and shows it whole.
    void setGeometry(const LogRenderer* renderer, int wrapWidth, int viewHeight);
    int rowHeight() const { return m_rowHeight; }
    // Rows wholly or partly on screen, as the viewport height rounds them.
    int visibleRows() const;
    // The texts were replaced (a reload, a new filter): the layouts go and the place is
    // the top, for the follower to take to the end.
    void reset();

    // What is on screen: the top place and its hidden pixels, and the rows from there
    // down to the bottom edge.
    Place shownTop(int& pixel);
    const std::vector<Row>& rows();
    // The row holding viewport point y: a point in the partly hidden top row counts as the
    // next one; none without rows.
    std::optional<Row> rowAt(int y);
    // The end place (see above) and whether everything fits on screen.
    Place endPlace(int& pixel, bool* fits = nullptr);

    // The user's scrolls: by rows (negative: up), to the first row, to the end, to the row
    // holding character `start` of `item` with `above` rows above it.
    void scrollRows(qint64 delta);
    void scrollToTop();
    void scrollToEnd();
    void scrollToPlace(Place place, int above);
    // Brings the item's first row fully on screen, scrolling as little as it takes: an
    // item below the screen is shown with its last row at the bottom when it fits. False
    // when it was on screen already.
    bool revealItem(std::size_t item);
    // A place the view keeps for the user (the top line when wrapping is switched on);
    // following is left as it is.
    void setTop(Place place, int pixel);
    Place userTop() const { return m_top; }

    // Brings the bar's range and value up to date with the list and the place (after new
    // items, a resize, a new font).
    void sync();
    // Values per item on the bar.
    qint64 units() const { return m_units; }
    // Columns per row of an item wrapped by columns (WrapSource::itemColumns).
    std::int64_t rowColumns() const;

  signals:
    // The place changed without the bar's value changing: repaint.
    void placeChanged();

  private:
    std::unique_lock<std::recursive_mutex> holdTexts();
    QStringView textOf(std::size_t item) { return m_source->itemText(item); }
    // The rows of an item, by LineWrap or by columns as the source says.
    std::optional<qsizetype> nextRowOf(std::size_t item, qsizetype start);
    std::optional<qsizetype> previousRowOf(std::size_t item, qsizetype start);
    qsizetype lastRowStartOf(std::size_t item);
    qsizetype rowStartAt(std::size_t item, qsizetype position);
    qsizetype rowEndOf(std::size_t item, qsizetype start);
    std::uint64_t rowCountOf(std::size_t item);
    std::uint64_t rowNumberOf(std::size_t item, qsizetype start);
    qsizetype rowStartByNumber(std::size_t item, std::uint64_t number);
    std::optional<Place> nextPlace(Place place);
    std::optional<Place> previousPlace(Place place);
    Place normalized(Place place);
    // How the rows from a place (its top `pixel` hidden) meet the bottom edge: they go on
    // below it, the list's last row ends on it, or the list ends above it. Reads only the
    // rows on screen.
    enum class Fill { Over, Exact, Short };
    Fill fill(Place place, int pixel);
    // The bar's maximum while the end is off screen, from the last items' sizes.
    qint64 estimatedMaximum();
    // Whether the list holds only a few screens of rows, by the estimate.
    bool fewRows();
    std::uint64_t estimatedRows(std::size_t item);
    // The top a move starts from, and where it may go.
    Place moved(Place from, int& pixel, qint64 delta);
    qint64 valueOf(Place place, int pixel);
    Place placeAt(qint64 value, int& pixel);
    // The bar's value for the user's place while not following.
    int userValue(int maximum);
    void apply(bool userScroll);
    // A place the user has just been given never lies below the end: what they see is
    // where they are.
    void keepAboveEnd();
    void onAction(int action);
    void onValueChanged(int value);

    QScrollBar* m_bar;
    EndFollower* m_follower = nullptr;
    WrapSource* m_source = nullptr;
    int m_slack;
    bool m_enabled = false;
    LineWrap m_wrap;
    int m_rowHeight = 0;
    int m_viewHeight = 0;
    int m_cellWidth = 1;
    Place m_top;
    int m_pixel = 0;
    qint64 m_units = 1;
    bool m_setting = false;
    std::optional<int> m_expected; // a value the bar takes from a row step of its own
    std::vector<Row> m_rows;
};
