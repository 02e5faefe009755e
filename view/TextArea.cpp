#include "view/TextArea.h"

#include "view/EndFollower.h"

#include "resources/QtText.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

using quill::toQStringView;

namespace {

// A drag held beyond the top or bottom edge scrolls one row this often.
constexpr int AutoScrollIntervalMs = 40;

} // namespace

std::uint64_t RowSource::largestLineNumber() const
{
    const std::size_t count = rowCount();
    return count > 0 ? std::uint64_t(lineOfRow(count - 1)) + 1 : 0;
}

TextArea::TextArea(QWidget* parent) : TextArea(parent, Frame{}) {}

TextArea::TextArea(QWidget* parent, const Frame& frame) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    if (frame.horizontal != nullptr) {
        setHorizontalScrollBar(frame.horizontal);
    }
    if (frame.vertical != nullptr) {
        setVerticalScrollBar(frame.vertical);
    }
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    // Before the follower: the bar's own row steps are decided before it judges them.
    m_wrapScroller = new WrapScroller(verticalScrollBar(), frame.followSlack, this);
    m_follower = new EndFollower(verticalScrollBar(), frame.followSlack, this);
    m_wrapScroller->setFollower(m_follower);
    m_wrapScroller->setSource(&m_rowWrap);
    connect(m_wrapScroller, &WrapScroller::placeChanged, this, [this] { viewport()->update(); });
}

TextArea::~TextArea()
{
    if (m_source != nullptr) {
        m_source->setListener({});
    }
}

void TextArea::setRowSource(RowSource* source)
{
    if (m_source != nullptr) {
        m_source->setListener({});
    }
    m_source = source;
    if (m_source != nullptr) {
        m_source->setListener([this](const RowChange& change) { rowsChanged(change); });
        updateGutter();
    }
}

void TextArea::setTextFont(const QFont& font)
{
    if (font == m_renderer.font()) {
        return;
    }
    m_renderer.setFont(font);
    m_widestRow = 0;
    updateGutter();
    updateScrollRange();
    keepPlace();
    viewport()->update();
}

bool TextArea::isFollowing() const
{
    return m_follower->following();
}

std::size_t TextArea::firstVisibleRow() const
{
    if (m_wrap) {
        int pixel = 0;
        return m_wrapScroller->shownTop(pixel).item;
    }
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

int TextArea::fullRows() const
{
    const int height = m_renderer.lineHeight();
    return height > 0 ? std::max(1, viewport()->height() / height) : 1;
}

void TextArea::rowsChanged(const RowChange& change)
{
    if (change.kind == RowChange::Kind::Retexted) {
        if (change.allTexts) {
            m_wrapScroller->wrap().forget();
        }
        updateGutter();
        viewport()->update();
        return;
    }
    const bool reset = change.kind == RowChange::Kind::Reset;
    if (reset) {
        m_wrapScroller->reset();
        m_widestRow = 0;
        m_currentRow = 0;
        stopDrag();
        storeSelection(DocSelection());
        m_findPosition = FindPosition();
    }
    const std::size_t count = rowCount();
    if (m_currentRow >= count) {
        m_currentRow = count > 0 ? count - 1 : 0;
    }
    updateGutter();
    updateScrollRange();
    if (reset) {
        // New rows are read from their end, as a new file is.
        arriveAtEnd();
    } else {
        keepPlace();
    }
    viewport()->update();
}

void TextArea::rearrangeRows(std::size_t topRow, std::size_t currentRow)
{
    stopDrag();
    storeSelection(DocSelection());
    const std::size_t count = rowCount();
    m_currentRow = count > 0 ? std::min(currentRow, count - 1) : 0;
    updateGutter();
    updateScrollRange();
    if (!m_follower->following()) {
        m_follower->anchor(static_cast<int>(std::min<std::size_t>(topRow, INT_MAX)));
    }
    m_follower->keep();
    viewport()->update();
}

void TextArea::stopDrag()
{
    m_mouse.reset();
    m_autoScrollTimer.stop();
}

void TextArea::updateGutter()
{
    const std::uint64_t largest = m_source != nullptr ? m_source->largestLineNumber() : 0;
    const char16_t sign = m_source != nullptr ? m_source->signRoom() : 0;
    int digits = 1;
    for (std::uint64_t n = largest; n >= 10; n /= 10) {
        ++digits;
    }
    digits = std::max(digits, 4);
    const QFontMetrics metrics(m_renderer.font());
    const int width = digits * metrics.horizontalAdvance(QLatin1Char('8')) +
                      (sign != 0 ? metrics.horizontalAdvance(QChar(sign)) : 0) + 2 * GutterPadding;
    if (digits == m_gutterDigits && width == m_gutterWidth && sign == m_gutterSign) {
        return;
    }
    m_gutterDigits = digits;
    m_gutterWidth = width;
    m_gutterSign = sign;
    updateScrollRange();
    viewport()->update();
}

void TextArea::updateScrollRange()
{
    if (m_wrap) {
        horizontalScrollBar()->setRange(0, 0);
        syncWrapGeometry();
        m_wrapScroller->sync();
        return;
    }
    const std::size_t count = rowCount();
    const int rows = fullRows();
    QScrollBar* vbar = verticalScrollBar();
    const std::size_t largest = count > std::size_t(rows) ? count - std::size_t(rows) : 0;
    vbar->setRange(0, static_cast<int>(std::min<std::size_t>(largest, INT_MAX)));
    vbar->setSingleStep(1);
    vbar->setPageStep(std::max(1, rows - 1));
    QScrollBar* hbar = horizontalScrollBar();
    const qint64 textArea = std::max(0, viewport()->width() - m_gutterWidth);
    hbar->setRange(0, static_cast<int>(std::clamp<qint64>(m_widestRow - textArea, 0, INT_MAX)));
    hbar->setSingleStep(std::max(1, m_renderer.averageCharWidth()));
    hbar->setPageStep(static_cast<int>(std::max<qint64>(1, textArea)));
}

void TextArea::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    keepPlace();
}

void TextArea::scrollContentsBy(int, int)
{
    viewport()->update();
}

void TextArea::setFindHighlight(const std::u16string& text, unsigned flags)
{
    if (m_findHighlight.set(text, flags)) {
        viewport()->update();
    }
}

void TextArea::setCurrentRow(std::size_t row)
{
    const std::size_t count = rowCount();
    if (count == 0) {
        return;
    }
    m_currentRow = std::min(row, count - 1);
    viewport()->update(QRect(0, 0, m_gutterWidth, viewport()->height()));
}

void TextArea::scrollToRow(std::size_t row)
{
    if (m_wrap) {
        m_wrapScroller->revealItem(row);
        return;
    }
    QScrollBar* vbar = verticalScrollBar();
    const std::size_t first = firstVisibleRow();
    const std::size_t rows = std::size_t(fullRows());
    if (row < first) {
        vbar->setValue(static_cast<int>(std::min<std::size_t>(row, INT_MAX)));
    } else if (row >= first + rows) {
        vbar->setValue(static_cast<int>(std::min<std::size_t>(row + 1 - rows, INT_MAX)));
    } else {
        return;
    }
    m_follower->userScrolled();
}

void TextArea::selectInRow(std::size_t row, std::int32_t startCol, std::int32_t endCol)
{
    if (row >= rowCount()) {
        return;
    }
    stopDrag();
    storeSelection(DocSelection{true, LineNumber(row), LineNumber(row), startCol, endCol});
    setCurrentRow(row);
    scrollToRow(row);
    viewport()->update();
}

void TextArea::keyPressEvent(QKeyEvent* event)
{
    const std::size_t count = rowCount();
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const std::size_t page = m_wrap ? wrappedPage() : std::size_t(std::max(1, fullRows() - 1));
    std::size_t row = m_currentRow;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_currentRow < count) {
            emit rowActivated(m_currentRow);
        }
        event->accept();
        return;
    case Qt::Key_Up:
        row = row > 0 ? row - 1 : 0;
        break;
    case Qt::Key_Down:
        row = row + 1;
        break;
    case Qt::Key_PageUp:
        row = row > page ? row - page : 0;
        break;
    case Qt::Key_PageDown:
        row = row + page;
        break;
    case Qt::Key_Home:
        if (!ctrl) {
            horizontalScrollBar()->setValue(0);
            event->accept();
            return;
        }
        row = 0;
        break;
    case Qt::Key_End:
        if (!ctrl) {
            horizontalScrollBar()->setValue(horizontalScrollBar()->maximum());
            event->accept();
            return;
        }
        row = count > 0 ? count - 1 : 0;
        break;
    case Qt::Key_Left:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        event->accept();
        return;
    case Qt::Key_Right:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        event->accept();
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    if (count == 0) {
        return;
    }
    setCurrentRow(row);
    scrollToRow(m_currentRow);
}

void TextArea::mousePressEvent(QMouseEvent* event)
{
    // No panning mode; a drag selects from here.
    event->accept();
    m_pressedWhileDragging = activatesRows() && m_mouse.isDragging();
    if (selects() && event->button() == Qt::LeftButton && !m_pressedWhileDragging) {
        m_mouse.press(event->position().toPoint());
    }
}

void TextArea::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!selects() || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_dragPoint = event->position().toPoint();
    const int height = viewport()->height();
    if (m_dragPoint.y() < 0 || m_dragPoint.y() >= height) {
        if (!m_autoScrollTimer.isActive()) {
            m_autoScrollTimer.start(AutoScrollIntervalMs, this);
        }
    } else {
        m_autoScrollTimer.stop();
    }
    // Outside the rows, the selection follows to the edge row at once; the timer scrolls on.
    m_mouse.move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

void TextArea::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!selects() || event->button() != Qt::LeftButton) {
        return;
    }
    m_autoScrollTimer.stop();
    const bool endsDrag = m_mouse.isDragging() || m_pressedWhileDragging;
    const QPoint point = event->position().toPoint();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    m_mouse.release(point, shift);
    // A plain click on a row activates it; the end of a drag or a Shift+click only selects.
    if (!activatesRows() || endsDrag || shift || point.y() < 0 ||
        point.y() >= viewport()->height()) {
        return;
    }
    const LineNumber row = lineFromPoint(point.y());
    if (row < rowCount()) {
        setCurrentRow(row);
        emit rowActivated(row);
    }
}

void TextArea::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (selects() && event->button() == Qt::LeftButton) {
        m_mouse.doubleClick(event->position().toPoint());
    }
}

void TextArea::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_autoScrollTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    dragAutoScroll();
}

void TextArea::dragAutoScroll()
{
    if (!m_mouse.isDragging() || !(QApplication::mouseButtons() & Qt::LeftButton)) {
        m_autoScrollTimer.stop();
        return;
    }
    const int height = viewport()->height();
    if (m_dragPoint.y() < 0 || m_dragPoint.y() >= height) {
        scrollDragStep(m_dragPoint.y() < 0 ? -1 : 1);
    } else {
        m_autoScrollTimer.stop();
        return;
    }
    m_mouse.move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

void TextArea::scrollDragStep(int step)
{
    if (m_wrap) {
        m_wrapScroller->scrollRows(step);
        return;
    }
    QScrollBar* vbar = verticalScrollBar();
    vbar->setValue(vbar->value() + step);
    m_follower->userScrolled();
}

QStringView TextArea::RowWrap::itemText(std::size_t item)
{
    return toQStringView(m_area.rowText(item));
}

std::optional<std::uint64_t> TextArea::RowWrap::itemSizeHint(std::size_t item)
{
    return m_area.m_source != nullptr ? m_area.m_source->rowSizeHint(item) : std::nullopt;
}

std::recursive_mutex* TextArea::RowWrap::textLock()
{
    return m_area.m_source != nullptr ? m_area.m_source->textLock() : nullptr;
}

std::optional<std::int64_t> TextArea::RowWrap::itemColumns(std::size_t item)
{
    return m_area.m_source != nullptr ? m_area.m_source->rowColumns(item) : std::nullopt;
}

const std::vector<WrapScroller::Row>& TextArea::screenRows()
{
    static const std::vector<WrapScroller::Row> none;
    return m_wrap ? m_wrapScroller->rows() : none;
}

void TextArea::syncWrapGeometry()
{
    if (m_wrap) {
        m_wrapScroller->setGeometry(&m_renderer,
                                    std::max(1, viewport()->width() - m_gutterWidth - 1),
                                    viewport()->height());
    }
}

void TextArea::arriveAtEnd()
{
    m_follower->arrive();
    keepPlace();
}

void TextArea::keepPlace()
{
    if (m_wrap) {
        syncWrapGeometry();
        m_wrapScroller->sync();
    } else {
        m_follower->keep();
    }
}

void TextArea::setWrapLines(bool wrap)
{
    if (wrap == m_wrap) {
        return;
    }
    const bool following = m_follower->following();
    // The vertical bar counts rows, or pixels in an area that scrolls by pixels: a row
    // scrolled part way out at the top keeps that offset across the switch.
    const int unit = std::max(1, rowScrollUnit());
    if (wrap) {
        const int value = verticalScrollBar()->value();
        const std::size_t top = std::size_t(value / unit);
        const int pixel = value % unit;
        m_horizontalPolicy = horizontalScrollBarPolicy();
        wrapSwitching(true);
        m_wrap = true;
        m_wrapScroller->setEnabled(true);
        syncWrapGeometry();
        m_wrapScroller->setTop({top, 0}, pixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        horizontalScrollBar()->setRange(0, 0);
        layOutRows();
    } else {
        int pixel = 0;
        const WrapScroller::Place top = m_wrapScroller->shownTop(pixel);
        wrapSwitching(false);
        m_wrap = false;
        m_wrapScroller->setEnabled(false);
        setHorizontalScrollBarPolicy(m_horizontalPolicy);
        layOutRows();
        if (!following) {
            const qint64 y = qint64(top.item) * unit + (unit > 1 && top.start == 0 ? pixel : 0);
            m_follower->anchor(static_cast<int>(std::min<qint64>(y, INT_MAX)));
        }
    }
    wrapSwitched();
    viewport()->update();
}

void TextArea::layOutRows()
{
    updateScrollRange();
    keepPlace();
}

std::size_t TextArea::wrappedPage()
{
    const int height = rowHeight();
    std::size_t starts = 0;
    for (const WrapScroller::Row& row : screenRows()) {
        starts += row.start == 0 && row.y >= 0 && row.y + height <= viewport()->height() ? 1 : 0;
    }
    return std::max<std::size_t>(1, starts > 0 ? starts - 1 : 0);
}
