#include "view/WrapScroller.h"

#include "view/EndFollower.h"

#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// The bar's values stay well inside an int however many items there are.
constexpr qint64 AllUnits = qint64(1) << 30;
constexpr qint64 MostUnitsPerItem = qint64(1) << 24;

qint64 unitsFor(std::size_t items)
{
    qint64 units = MostUnitsPerItem;
    while (units > 1 && qint64(std::max<std::size_t>(1, items)) * units > AllUnits) {
        units /= 2;
    }
    return units;
}

} // namespace

WrapScroller::WrapScroller(QScrollBar* bar, int slack, QObject* parent)
    : QObject(parent), m_bar(bar), m_slack(slack)
{
    connect(m_bar, &QAbstractSlider::actionTriggered, this, &WrapScroller::onAction);
    connect(m_bar, &QAbstractSlider::valueChanged, this, &WrapScroller::onValueChanged);
}

void WrapScroller::setEnabled(bool enabled)
{
    m_enabled = enabled;
    m_expected.reset();
    m_rows.clear();
}

std::unique_lock<std::recursive_mutex> WrapScroller::holdTexts()
{
    std::recursive_mutex* lock = m_source != nullptr ? m_source->textLock() : nullptr;
    return lock != nullptr ? std::unique_lock(*lock) : std::unique_lock<std::recursive_mutex>();
}

void WrapScroller::setGeometry(const LogRenderer* renderer, int wrapWidth, int viewHeight)
{
    const int height = renderer != nullptr ? renderer->lineHeight() : 0;
    if (height != m_rowHeight) {
        m_pixel = 0;
    }
    m_rowHeight = height;
    m_viewHeight = viewHeight;
    m_cellWidth = renderer != nullptr ? renderer->averageCharWidth() : 1;
    m_wrap.setGeometry(renderer, std::max(1, wrapWidth));
}

int WrapScroller::visibleRows() const
{
    if (m_viewHeight <= 0 || m_rowHeight <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<double>(m_viewHeight) / m_rowHeight + 0.5);
}

void WrapScroller::reset()
{
    m_wrap.forget();
    m_top = {};
    m_pixel = 0;
    m_rows.clear();
}

std::optional<WrapScroller::Place> WrapScroller::nextPlace(Place place)
{
    const std::size_t count = m_source->itemCount();
    if (place.item < count) {
        const std::optional<qsizetype> next = nextRowOf(place.item, place.start);
        if (next) {
            return Place{place.item, *next};
        }
    }
    if (place.item + 1 < count) {
        return Place{place.item + 1, 0};
    }
    return std::nullopt;
}

std::optional<WrapScroller::Place> WrapScroller::previousPlace(Place place)
{
    const std::optional<qsizetype> previous = previousRowOf(place.item, place.start);
    if (previous) {
        return Place{place.item, *previous};
    }
    if (place.item == 0) {
        return std::nullopt;
    }
    const std::size_t item = place.item - 1;
    return Place{item, lastRowStartOf(item)};
}

WrapScroller::Place WrapScroller::normalized(Place place)
{
    // After a re-wrap the place's character may lie inside a row: that row is the top.
    return {place.item, rowStartAt(place.item, place.start)};
}

WrapScroller::Place WrapScroller::endPlace(int& pixel, bool* fits)
{
    pixel = 0;
    if (fits != nullptr) {
        *fits = true;
    }
    const std::size_t count = m_source->itemCount();
    if (count == 0) {
        return {};
    }
    const std::size_t last = count - 1;
    Place place{last, lastRowStartOf(last)};
    if (m_viewHeight <= 0 || m_rowHeight <= 0) {
        if (fits != nullptr) {
            *fits = false;
        }
        return place;
    }
    // The bottom edge on the last row's bottom: the rows that reach into the view, the
    // top one cut by what the height leaves over.
    const int rows = (m_viewHeight + m_rowHeight - 1) / m_rowHeight;
    for (int k = 1; k < rows; ++k) {
        const std::optional<Place> previous = previousPlace(place);
        if (!previous) {
            return {};
        }
        place = *previous;
    }
    pixel = rows * m_rowHeight - m_viewHeight;
    if (fits != nullptr) {
        *fits = place == Place{} && pixel == 0;
    }
    return place;
}

WrapScroller::Fill WrapScroller::fill(Place place, int pixel)
{
    if (m_viewHeight <= 0 || m_rowHeight <= 0) {
        return nextPlace(place) ? Fill::Over : Fill::Exact;
    }
    for (int bottom = m_rowHeight - pixel;; bottom += m_rowHeight) {
        if (bottom > m_viewHeight) {
            return Fill::Over;
        }
        const std::optional<Place> next = nextPlace(place);
        if (!next) {
            return bottom == m_viewHeight ? Fill::Exact : Fill::Short;
        }
        if (bottom == m_viewHeight) {
            return Fill::Over;
        }
        place = *next;
    }
}

WrapScroller::Place WrapScroller::shownTop(int& pixel)
{
    if (m_source == nullptr || m_rowHeight <= 0) {
        pixel = 0; // nothing laid out before the font is known
        return m_top;
    }
    auto hold = holdTexts();
    const std::size_t count = m_source->itemCount();
    if ((m_follower != nullptr && m_follower->following()) || count == 0 || m_top.item >= count) {
        return endPlace(pixel);
    }
    const Place top = normalized(m_top);
    const int topPixel = std::clamp(m_pixel, 0, std::max(0, m_rowHeight - 1));
    // A place below the end shows the end, as the range would clamp a pixel position.
    if (fill(top, topPixel) == Fill::Short) {
        return endPlace(pixel);
    }
    pixel = topPixel;
    return top;
}

const std::vector<WrapScroller::Row>& WrapScroller::rows()
{
    m_rows.clear();
    if (m_source == nullptr || m_rowHeight <= 0) {
        return m_rows;
    }
    auto hold = holdTexts();
    if (m_source->itemCount() == 0) {
        return m_rows;
    }
    int pixel = 0;
    Place place = shownTop(pixel);
    for (int y = -pixel; y < m_viewHeight;) {
        const qsizetype end = rowEndOf(place.item, place.start);
        m_rows.push_back({place.item, place.start, end, y});
        y += m_rowHeight;
        const std::optional<Place> next = nextPlace(place);
        if (!next) {
            break;
        }
        place = *next;
    }
    return m_rows;
}

std::optional<WrapScroller::Row> WrapScroller::rowAt(int y)
{
    const std::vector<Row>& shown = rows();
    if (shown.empty()) {
        return std::nullopt;
    }
    std::size_t k = 0;
    while (k + 1 < shown.size() && y >= shown[k].y + m_rowHeight) {
        ++k;
    }
    if (k == 0 && shown[0].y < 0 && shown.size() > 1) {
        k = 1;
    }
    return shown[k];
}

WrapScroller::Place WrapScroller::moved(Place from, int& pixel, qint64 delta)
{
    Place place = from;
    for (; delta < 0; ++delta) {
        const std::optional<Place> previous = previousPlace(place);
        if (!previous) {
            pixel = 0;
            break;
        }
        place = *previous;
    }
    for (; delta > 0; --delta) {
        const std::optional<Place> next = nextPlace(place);
        if (!next) {
            break;
        }
        place = *next;
    }
    if (fill(place, pixel) == Fill::Short) {
        return endPlace(pixel);
    }
    return place;
}

void WrapScroller::scrollRows(qint64 delta)
{
    if (!m_enabled || m_source == nullptr || m_rowHeight <= 0) {
        return;
    }
    auto hold = holdTexts();
    int pixel = 0;
    const Place from = shownTop(pixel);
    m_top = moved(from, pixel, delta);
    m_pixel = pixel;
    apply(true);
}

void WrapScroller::scrollToTop()
{
    setTop({}, 0);
    apply(true);
}

void WrapScroller::scrollToEnd()
{
    if (!m_enabled || m_source == nullptr || m_rowHeight <= 0) {
        return;
    }
    auto hold = holdTexts();
    m_top = endPlace(m_pixel);
    apply(true);
}

void WrapScroller::scrollToPlace(Place place, int above)
{
    if (!m_enabled || m_source == nullptr || m_rowHeight <= 0) {
        return;
    }
    auto hold = holdTexts();
    if (place.item >= m_source->itemCount()) {
        return;
    }
    int pixel = 0;
    m_top = moved(normalized(place), pixel, -qint64(std::max(0, above)));
    m_pixel = pixel;
    apply(true);
}

bool WrapScroller::revealItem(std::size_t item)
{
    if (!m_enabled || m_source == nullptr || m_rowHeight <= 0) {
        return false;
    }
    auto hold = holdTexts();
    if (item >= m_source->itemCount()) {
        return false;
    }
    const std::vector<Row>& shown = rows();
    for (const Row& row : shown) {
        if (row.item == item && row.start == 0 && row.y >= 0 &&
            row.y + m_rowHeight <= m_viewHeight) {
            return false;
        }
    }
    int pixel = 0;
    const Place first{item, 0};
    const Place top = shownTop(pixel);
    if (first <= top) {
        m_top = first;
        m_pixel = 0;
    } else {
        const int full = std::max(1, m_viewHeight / m_rowHeight);
        pixel = 0;
        const Place last{item, lastRowStartOf(item)};
        m_top = std::min(moved(last, pixel, -qint64(full - 1)), first);
        m_pixel = 0;
    }
    apply(true);
    return true;
}

void WrapScroller::setTop(Place place, int pixel)
{
    m_top = place;
    m_pixel = std::clamp(pixel, 0, std::max(0, m_rowHeight - 1));
    keepAboveEnd();
}

void WrapScroller::keepAboveEnd()
{
    if (!m_enabled || m_source == nullptr || m_rowHeight <= 0 ||
        (m_follower != nullptr && m_follower->following())) {
        return;
    }
    auto hold = holdTexts();
    const std::size_t count = m_source->itemCount();
    if (count == 0) {
        return;
    }
    if (m_top.item >= count || fill(normalized(m_top), m_pixel) == Fill::Short) {
        m_top = endPlace(m_pixel);
    }
}

qint64 WrapScroller::valueOf(Place place, int pixel)
{
    const double rows = double(rowCountOf(place.item));
    const double row = double(rowNumberOf(place.item, place.start));
    const double height = std::max(1, m_rowHeight);
    const double share = std::min(1.0, (row * height + pixel) / (rows * height));
    const qint64 within = std::min<qint64>(m_units - 1, qint64(std::floor(share * double(m_units))));
    return std::min<qint64>(INT_MAX, qint64(place.item) * m_units + within);
}

WrapScroller::Place WrapScroller::placeAt(qint64 value, int& pixel)
{
    const std::size_t count = m_source->itemCount();
    pixel = 0;
    if (count == 0) {
        return {};
    }
    const std::size_t item = std::min<std::size_t>(count - 1, std::size_t(std::max<qint64>(0, value) / m_units));
    const qint64 within = std::clamp<qint64>(value - qint64(item) * m_units, 0, m_units - 1);
    const std::uint64_t rows = rowCountOf(item);
    const double height = std::max(1, m_rowHeight);
    const double position = double(within) / double(m_units) * double(rows) * height;
    std::uint64_t row = std::uint64_t(position / height);
    if (row >= rows) {
        row = rows - 1;
    } else {
        pixel = std::clamp(int(position - double(row) * height), 0, std::max(0, m_rowHeight - 1));
    }
    return {item, rowStartByNumber(item, row)};
}

std::uint64_t WrapScroller::estimatedRows(std::size_t item)
{
    const std::optional<std::uint64_t> size = m_source->itemSizeHint(item);
    if (!size) {
        return rowCountOf(item);
    }
    const std::uint64_t cell = std::uint64_t(std::max(1, m_cellWidth));
    const std::uint64_t width = std::uint64_t(std::max(1, m_wrap.width()));
    return std::max<std::uint64_t>(1, (*size * cell + width - 1) / width);
}

bool WrapScroller::fewRows()
{
    // Twice the rows on screen: a list this short is laid out whole in no time, and whether
    // it fits the view must be known, not estimated (the bar shows or hides by it).
    const std::uint64_t limit = 2 * std::uint64_t(std::max(1, visibleRows()));
    std::uint64_t rows = 0;
    for (std::size_t item = m_source->itemCount(); item-- > 0;) {
        rows += estimatedRows(item);
        if (rows > limit) {
            return false;
        }
    }
    return true;
}

qint64 WrapScroller::estimatedMaximum()
{
    const std::size_t count = m_source->itemCount();
    if (count == 0 || m_rowHeight <= 0) {
        return 0;
    }
    const int rows = std::max(1, (m_viewHeight + m_rowHeight - 1) / m_rowHeight);
    const int pixel = std::max(0, rows * m_rowHeight - m_viewHeight);
    std::uint64_t remaining = std::uint64_t(rows);
    for (std::size_t item = count; item-- > 0;) {
        const std::uint64_t itemRows = estimatedRows(item);
        if (itemRows >= remaining) {
            const double row = double(itemRows - remaining);
            const double share =
                (row * m_rowHeight + pixel) / (double(itemRows) * double(m_rowHeight));
            return qint64(item) * m_units + qint64(std::floor(share * double(m_units)));
        }
        remaining -= itemRows;
    }
    return 0;
}

int WrapScroller::userValue(int maximum)
{
    const std::size_t count = m_source->itemCount();
    if (count == 0 || m_top.item >= count) {
        return maximum;
    }
    const Place top = normalized(m_top);
    if (fill(top, m_pixel) != Fill::Over) {
        return maximum; // at the end, or below it
    }
    // Every place but the end lies beyond the follower's slack, or a step up from the end
    // of a huge line, smaller than one value, would count as staying there.
    return int(std::clamp<qint64>(valueOf(top, m_pixel), 0,
                                  std::max(0, maximum - m_slack - 1)));
}

void WrapScroller::apply(bool userScroll)
{
    if (!m_enabled || m_source == nullptr || m_follower == nullptr || m_rowHeight <= 0) {
        return;
    }
    auto hold = holdTexts();
    m_expected.reset();
    const std::size_t count = m_source->itemCount();
    m_units = unitsFor(count);
    // While following, the end is the maximum whatever its value: it is estimated, so an
    // update reads no text (the paint lays out the end it shows). Away from the end the
    // user's place must lie below the maximum, and at the end the two must meet exactly.
    const bool estimated = m_follower->following() && !userScroll && !fewRows();
    const bool following = m_follower->following() && !userScroll;
    bool nearEnd = count == 0 || m_top.item >= count || following;
    qint64 topValue = 0;
    if (!nearEnd) {
        const Place top = normalized(m_top);
        nearEnd = fill(top, m_pixel) != Fill::Over;
        topValue = valueOf(top, m_pixel);
    }
    int maximum = 0;
    if (estimated) {
        maximum = int(std::clamp<qint64>(estimatedMaximum(), 0, INT_MAX));
    } else if (nearEnd) {
        // The end is on screen: its rows are read anyway.
        int endPixel = 0;
        bool fits = true;
        const Place end = endPlace(endPixel, &fits);
        maximum = fits ? 0 : int(std::clamp<qint64>(valueOf(end, endPixel), 1, INT_MAX));
    } else {
        maximum = int(std::clamp<qint64>(
            std::max(estimatedMaximum(), topValue + m_slack + 1), 1, INT_MAX));
    }
    const int value = estimated ? maximum : userValue(maximum);
    // A page's worth of values at the top item's share per row: only the thumb's size.
    qint64 perRow = m_units;
    if (count > 0 && m_top.item < count) {
        perRow = std::max<qint64>(1, m_units / qint64(std::max<std::uint64_t>(
                                                    1, estimatedRows(m_top.item))));
    }
    const int page = int(std::clamp<qint64>(perRow * std::max(1, visibleRows()), 1,
                                            std::max(1, maximum)));
    m_setting = true;
    m_bar->setRange(0, maximum);
    m_bar->setPageStep(page);
    m_bar->setSingleStep(int(std::clamp<qint64>(perRow, 1, INT_MAX)));
    if (userScroll) {
        m_bar->setValue(value);
        m_follower->userScrolled();
    }
    if (m_follower->following()) {
        m_follower->keep();
    } else {
        m_follower->anchor(value);
    }
    m_setting = false;
    m_rows.clear();
    emit placeChanged();
}

void WrapScroller::sync()
{
    apply(false);
}

void WrapScroller::onAction(int action)
{
    m_expected.reset();
    if (!m_enabled || m_source == nullptr || m_setting || m_rowHeight <= 0) {
        return;
    }
    qint64 delta = 0;
    const qint64 page = std::max(1, visibleRows() - 1);
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        delta = 1;
        break;
    case QAbstractSlider::SliderSingleStepSub:
        delta = -1;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        delta = page;
        break;
    case QAbstractSlider::SliderPageStepSub:
        delta = -page;
        break;
    default:
        return; // the thumb and the ends: the value names the place
    }
    auto hold = holdTexts();
    int pixel = 0;
    const Place from = shownTop(pixel);
    m_top = moved(from, pixel, delta);
    m_pixel = pixel;
    const int value = userValue(m_bar->maximum());
    // Qt sets the value from the slider position after this signal; the follower, told of
    // the same action next, judges from it.
    m_expected = value;
    m_bar->setSliderPosition(value);
    m_rows.clear();
    emit placeChanged();
    // The range follows once the bar has taken the step (the end may have come on screen).
    QMetaObject::invokeMethod(this, [this] { apply(false); }, Qt::QueuedConnection);
}

void WrapScroller::onValueChanged(int value)
{
    if (!m_enabled || m_source == nullptr || m_setting || m_rowHeight <= 0) {
        return;
    }
    if (m_expected && *m_expected == value) {
        m_expected.reset();
        return;
    }
    m_expected.reset();
    auto hold = holdTexts();
    if (value >= m_bar->maximum()) {
        m_top = endPlace(m_pixel);
    } else {
        m_top = placeAt(value, m_pixel);
        keepAboveEnd();
    }
    m_rows.clear();
    emit placeChanged();
}

std::int64_t WrapScroller::rowColumns() const
{
    return std::max(1, m_wrap.width()) / std::max(1, m_cellWidth);
}

std::optional<qsizetype> WrapScroller::nextRowOf(std::size_t item, qsizetype start)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        const ColumnRows rows(*columns, rowColumns());
        const std::int64_t next = rows.rowStart(start) + rows.perRow;
        return next < rows.columns ? std::optional<qsizetype>(qsizetype(next)) : std::nullopt;
    }
    return m_wrap.nextRow(m_source->itemKey(item), textOf(item), start);
}

std::optional<qsizetype> WrapScroller::previousRowOf(std::size_t item, qsizetype start)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        if (start <= 0) {
            return std::nullopt;
        }
        return qsizetype(ColumnRows(*columns, rowColumns()).rowStart(start - 1));
    }
    return m_wrap.previousRow(m_source->itemKey(item), textOf(item), start);
}

qsizetype WrapScroller::lastRowStartOf(std::size_t item)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        return qsizetype(ColumnRows(*columns, rowColumns()).lastStart());
    }
    return m_wrap.lastRowStart(m_source->itemKey(item), textOf(item));
}

qsizetype WrapScroller::rowStartAt(std::size_t item, qsizetype position)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        return qsizetype(ColumnRows(*columns, rowColumns()).rowStart(position));
    }
    return m_wrap.rowStart(m_source->itemKey(item), textOf(item), position);
}

qsizetype WrapScroller::rowEndOf(std::size_t item, qsizetype start)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        return qsizetype(ColumnRows(*columns, rowColumns()).rowEnd(start));
    }
    return m_wrap.rowEnd(m_source->itemKey(item), textOf(item), start);
}

std::uint64_t WrapScroller::rowCountOf(std::size_t item)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        return std::uint64_t(ColumnRows(*columns, rowColumns()).count());
    }
    return m_wrap.rowCount(m_source->itemKey(item), textOf(item));
}

std::uint64_t WrapScroller::rowNumberOf(std::size_t item, qsizetype start)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        return std::uint64_t(ColumnRows(*columns, rowColumns()).rowOf(start));
    }
    return m_wrap.rowNumber(m_source->itemKey(item), textOf(item), start);
}

qsizetype WrapScroller::rowStartByNumber(std::size_t item, std::uint64_t number)
{
    if (const std::optional<std::int64_t> columns = m_source->itemColumns(item)) {
        const ColumnRows rows(*columns, rowColumns());
        return qsizetype(
            rows.start(std::int64_t(std::min<std::uint64_t>(number, std::uint64_t(rows.count())))));
    }
    return m_wrap.rowStartOf(m_source->itemKey(item), textOf(item), number);
}
