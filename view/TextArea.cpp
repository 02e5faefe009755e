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
// Space left and right of the line numbers.
constexpr int GutterPadding = 6;
// A selection whose text would be larger than this is not offered as the PRIMARY
// selection: building it on every finished drag would stall the window.
constexpr std::uint64_t PrimaryTextLimit = 16u << 20;
// Rows read from the source in one call while a copy builds its text.
constexpr std::size_t CopyBatchRows = 4096;

const StyleRuns NoRuns;

// The part of a row's text a selection covers: characters first..last (last < 0: to the
// end), clamped to the text.
std::u16string_view selectedPart(const std::u16string& text, std::int32_t first, std::int32_t last)
{
    const std::size_t size = text.size();
    const std::size_t from = std::min<std::size_t>(std::size_t(std::max(0, first)), size);
    const std::size_t to = last < 0 ? size : std::min<std::size_t>(std::size_t(last) + 1, size);
    return to > from ? std::u16string_view(text).substr(from, to - from) : std::u16string_view();
}

} // namespace

void RowSource::copyRows(std::size_t first, std::size_t end, std::vector<std::u16string>& texts)
{
    texts.clear();
    for (std::size_t row = first; row < end; ++row) {
        texts.emplace_back(rowText(row));
    }
}

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
        StoreSelection(DocSelection());
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
    StoreSelection(DocSelection());
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
    m_mouse.Reset();
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

std::u16string_view TextArea::rowText(std::size_t row)
{
    return m_source != nullptr && row < m_source->rowCount() ? m_source->rowText(row)
                                                             : std::u16string_view();
}

LogRenderer::RowStyle TextArea::rowStyle(std::size_t row, std::u16string_view text, qsizetype start,
                                         qsizetype end, ColorRef textColor,
                                         ColorRef backgroundColor)
{
    ColorRef textRef = textColor;
    ColorRef backRef = backgroundColor;
    bool matched = false;
    m_source->keywordColors(text, textRef, backRef, matched);
    LogRenderer::RowStyle style =
        LogRenderer::rowStyle(textColor, backgroundColor, matched, textRef, backRef, m_selection,
                              static_cast<LineNumber>(row));
    // A whole-line keyword's colours win over the row's terminal colours, and the keywords
    // that colour their matches lie over both, in the part shown.
    const StyleRuns& terminal = matched ? NoRuns : m_source->rowRuns(row);
    StyleRuns matchRuns;
    if (m_source->colorsMatches()) {
        m_source->matchRuns(text, std::size_t(start), std::size_t(end), matchRuns);
    }
    if (!terminal.empty() || !matchRuns.empty()) {
        LogRenderer::setRuns(style,
                             matchRuns.empty() ? terminal : OverlayRuns(terminal, matchRuns));
    }
    if (!m_findHighlight.Empty()) {
        m_findHighlight.Apply(text, start, end, style);
    }
    return style;
}

void TextArea::paintGutter(QPainter& painter, const QRect& area, int y, std::size_t row,
                           bool numbered)
{
    (void)area;
    const QPalette& colours = palette();
    const int height = m_renderer.lineHeight();
    const bool current = row == m_currentRow;
    if (current) {
        painter.fillRect(QRect(0, y, m_gutterWidth, height),
                         colours.color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
    }
    if (!numbered) {
        return;
    }
    painter.setPen(current ? colours.color(hasFocus() ? QPalette::HighlightedText : QPalette::Text)
                           : colours.color(QPalette::PlaceholderText));
    QString number = QString::number(qulonglong(m_source->lineOfRow(row)) + 1);
    if (const char16_t sign = m_source->rowSign(row); sign != 0) {
        number.prepend(QChar(sign));
    }
    painter.drawText(QRect(0, y, m_gutterWidth - GutterPadding, height),
                     Qt::AlignRight | Qt::AlignVCenter, number);
}

void TextArea::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    if (m_wrap) {
        paintWrapped(painter, event->rect());
        return;
    }
    SettingsStore& settings = SettingsStore::instance();
    const ColorRef backgroundColor = settings.GetDword(Setting::BackgroundColor);
    const ColorRef textColor = settings.GetDword(Setting::TextColor);
    const QColor background = quill::colorFromRef(backgroundColor);
    const QRect area = event->rect();
    const int height = m_renderer.lineHeight();
    const std::size_t count = rowCount();
    const std::size_t first = firstVisibleRow();
    const std::size_t end =
        height > 0 ? std::min(count, first + std::size_t(viewport()->height() / height) + 2)
                   : first;
    const int textLeft = std::max(area.left(), m_gutterWidth);
    const qint64 shownX = qint64(horizontalScrollBar()->value()) - m_gutterWidth;

    if (m_source != nullptr && first < end) {
        m_source->prepareRows(first, end);
    }
    int rowsBottom = 0;
    bool widened = false;
    for (std::size_t row = first; row < end; ++row) {
        const int y = static_cast<int>(row - first) * height;
        rowsBottom = y + height;
        if (y + height <= area.top() || y > area.bottom()) {
            continue;
        }
        const std::u16string_view line = m_source->rowText(row);
        if (textLeft <= area.right()) {
            qsizetype from = 0;
            qsizetype to = 0;
            m_renderer.visibleRange(toQStringView(line), shownX + textLeft,
                                    shownX + area.right() + 1, from, to);
            const LogRenderer::RowStyle style =
                rowStyle(row, line, from, to, textColor, backgroundColor);
            m_renderer.paintRow(painter, y, shownX, textLeft, area.right() + 1, toQStringView(line),
                                style);
        }
        // Measuring a row of megabytes on every paint would cost more than the paint; such
        // a row counts as average characters.
        const qint64 width = line.size() < (std::size_t(1) << 16)
                                 ? m_renderer.textWidth(toQStringView(line))
                                 : qint64(line.size()) * m_renderer.averageCharWidth();
        if (width > m_widestRow) {
            m_widestRow = width;
            widened = true;
        }
    }
    if (rowsBottom <= area.bottom()) {
        painter.fillRect(
            QRect(area.left(), rowsBottom, area.width(), area.bottom() + 1 - rowsBottom),
            background);
    }

    // The gutter, over whatever a glyph at the text's left edge overhung.
    if (area.left() < m_gutterWidth) {
        painter.fillRect(QRect(0, area.top(), m_gutterWidth, area.height()),
                         palette().color(QPalette::AlternateBase));
        painter.setFont(m_renderer.font());
        for (std::size_t row = first; row < end; ++row) {
            paintGutter(painter, area, static_cast<int>(row - first) * height, row, true);
        }
    }
    painter.end();
    if (widened) {
        QMetaObject::invokeMethod(
            this, [this] { updateScrollRange(); }, Qt::QueuedConnection);
    }
}

void TextArea::paintWrapped(QPainter& painter, const QRect& area)
{
    SettingsStore& settings = SettingsStore::instance();
    const ColorRef backgroundColor = settings.GetDword(Setting::BackgroundColor);
    const ColorRef textColor = settings.GetDword(Setting::TextColor);
    const QColor background = quill::colorFromRef(backgroundColor);
    const int height = m_renderer.lineHeight();
    syncWrapGeometry();
    const std::vector<WrapScroller::Row> rows = m_wrapScroller->rows();
    if (!rows.empty()) {
        m_source->prepareRows(rows.front().item, rows.back().item + 1);
    }
    const int textLeft = std::max(area.left(), m_gutterWidth);
    const qint64 shownX = -qint64(m_gutterWidth);
    for (const WrapScroller::Row& row : rows) {
        if (row.y + height <= area.top() || row.y > area.bottom() || textLeft > area.right()) {
            continue;
        }
        const std::u16string_view line = rowText(row.item);
        LogRenderer::RowStyle style =
            rowStyle(row.item, line, row.start, row.end, textColor, backgroundColor);
        LogRenderer::clipToPart(style, row.start, row.end);
        m_renderer.paintRow(painter, row.y, shownX, textLeft, area.right() + 1,
                            toQStringView(line).sliced(row.start, row.end - row.start), style);
    }
    const int rowsTop = rows.empty() ? area.top() : rows.front().y;
    const int rowsBottom = rows.empty() ? area.top() : rows.back().y + height;
    if (rowsTop > area.top()) {
        painter.fillRect(QRect(area.left(), area.top(), area.width(), rowsTop - area.top()),
                         background);
    }
    if (rowsBottom <= area.bottom()) {
        painter.fillRect(
            QRect(area.left(), rowsBottom, area.width(), area.bottom() + 1 - rowsBottom),
            background);
    }
    // The gutter: the number on a row's first screen row, the current row marked on all.
    if (area.left() < m_gutterWidth) {
        painter.fillRect(QRect(0, area.top(), m_gutterWidth, area.height()),
                         palette().color(QPalette::AlternateBase));
        painter.setFont(m_renderer.font());
        for (const WrapScroller::Row& row : rows) {
            paintGutter(painter, area, row.y, row.item, row.start == 0);
        }
    }
}

void TextArea::SetFindHighlight(const std::u16string& text, unsigned flags)
{
    if (m_findHighlight.Set(text, flags)) {
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
    m_pressedWhileDragging = m_mouse.IsDragging();
    if (selects() && event->button() == Qt::LeftButton && !m_pressedWhileDragging) {
        m_mouse.Press(event->position().toPoint());
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
    m_mouse.Move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

void TextArea::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!selects() || event->button() != Qt::LeftButton) {
        return;
    }
    m_autoScrollTimer.stop();
    const bool endsDrag = m_mouse.IsDragging() || m_pressedWhileDragging;
    const QPoint point = event->position().toPoint();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    m_mouse.Release(point, shift);
    // A plain click on a row activates it; the end of a drag or a Shift+click only selects.
    if (endsDrag || shift || point.y() < 0 || point.y() >= viewport()->height()) {
        return;
    }
    const LineNumber row = LineFromPoint(point.y());
    if (row < rowCount()) {
        setCurrentRow(row);
        emit rowActivated(row);
    }
}

void TextArea::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (selects() && event->button() == Qt::LeftButton) {
        m_mouse.DoubleClick(event->position().toPoint());
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
    if (!m_mouse.IsDragging() || !(QApplication::mouseButtons() & Qt::LeftButton)) {
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
    m_mouse.Move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
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

LineNumber TextArea::SelectableLineCount() const
{
    return static_cast<LineNumber>(std::min<std::size_t>(rowCount(), UINT32_MAX));
}

std::u16string TextArea::SelectableLine(LineNumber row)
{
    return std::u16string(rowText(row));
}

LineNumber TextArea::LineFromPoint(int y) const
{
    const int height = m_renderer.lineHeight();
    if (height <= 0) {
        return 0;
    }
    if (m_wrap) {
        const std::optional<WrapScroller::Row> row = m_wrapScroller->rowAt(std::max(0, y));
        if (!row) {
            return 0;
        }
        // Below the last screen row of the last row: the rows after it, as without wrapping.
        const int below = std::max(0, y) - row->y;
        if (below >= height && row->item + 1 == rowCount() &&
            row->end >= qsizetype(m_source->rowText(row->item).size())) {
            return static_cast<LineNumber>(
                std::min<std::size_t>(row->item + std::size_t(below / height), UINT32_MAX));
        }
        return static_cast<LineNumber>(std::min<std::size_t>(row->item, UINT32_MAX));
    }
    const std::size_t row = firstVisibleRow() + std::size_t(std::max(0, y) / height);
    return static_cast<LineNumber>(std::min<std::size_t>(row, UINT32_MAX));
}

TextPoint TextArea::PointToText(QPoint point)
{
    TextPoint hit;
    hit.line = LineFromPoint(point.y());
    if (hit.line >= rowCount()) {
        return hit;
    }
    const std::u16string_view line = rowText(hit.line);
    if (line.empty()) {
        return hit;
    }
    hit.onText = true;
    const QStringView text = toQStringView(line);
    qsizetype c = 0;
    if (m_wrap) {
        const std::optional<WrapScroller::Row> row = m_wrapScroller->rowAt(std::max(0, point.y()));
        if (!row || row->item != hit.line) {
            return hit;
        }
        const qint64 x = std::max<qint64>(0, qint64(point.x()) - m_gutterWidth);
        c = row->start + m_renderer.charAt(text.sliced(row->start, row->end - row->start), x);
        if (c >= row->end && row->end < text.size()) {
            c = row->end - 1;
        }
    } else {
        const qint64 docX = qint64(point.x()) - m_gutterWidth + horizontalScrollBar()->value();
        c = m_renderer.charAt(text, std::max<qint64>(0, docX));
    }
    hit.character = static_cast<std::int32_t>(std::min<qsizetype>(c, INT32_MAX));
    return hit;
}

void TextArea::PlaceCaret(LineNumber row, std::int32_t)
{
    if (row < rowCount()) {
        setCurrentRow(row);
    }
}

void TextArea::StoreSelection(const DocSelection& selection)
{
    const bool before = m_selection.valid;
    m_selection = selection;
    viewport()->update();
    if (before != m_selection.valid) {
        emit selectionPresenceChanged(m_selection.valid);
    }
}

void TextArea::SelectionFinished()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr || !clipboard->supportsSelection() || !m_selection.valid) {
        return;
    }
    // The rows are a view of text that changes under them; their text is taken now, while
    // it is what the user sees, when it is small enough to take at once.
    const std::size_t last = std::min<std::size_t>(m_selection.endLine, rowCount());
    if (last - std::min<std::size_t>(m_selection.startLine, last) > CopyBatchRows) {
        return;
    }
    QString text;
    const CopyResult result = buildText(m_selection, text, PrimaryTextLimit);
    if (result.outcome == CopyOutcome::Copied) {
        clipboard->setMimeData(new SelectionMimeData(std::move(text)), QClipboard::Selection);
    }
}

void TextArea::OnEditSelectAll()
{
    if (rowCount() > 0) {
        m_mouse.SelectAll();
    }
}

CopyResult TextArea::OnEditCopy()
{
    CopyResult result;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr || !m_selection.valid) {
        return result;
    }
    QString text;
    result = buildText(m_selection, text, 0);
    if (result.outcome == CopyOutcome::Copied) {
        clipboard->setMimeData(new SelectionMimeData(std::move(text)), QClipboard::Clipboard);
    }
    return result;
}

CopyResult TextArea::buildText(const DocSelection& selection, QString& text,
                               std::uint64_t limitBytes)
{
    CopyResult result;
    const std::size_t count = rowCount();
    if (!selection.valid || count == 0 || selection.startLine >= count) {
        return result;
    }
    const std::size_t first = selection.startLine;
    const std::size_t last = std::min<std::size_t>(selection.endLine, count - 1);
    const bool throughEnd = selection.endLine >= count; // Select All: the line after the last
    // The bound before anything is read.
    std::uint64_t bound = 0;
    for (std::size_t row = first; row <= last; ++row) {
        bound += m_source->rowCopyBound(row);
    }
    result.neededBytes = ClipboardPeakBytes(bound);
    result.availableBytes = AvailableMemoryBytes();
    const std::uint64_t limit = limitBytes != 0 ? limitBytes : result.availableBytes / 2;
    if (result.neededBytes > limit) {
        result.outcome = CopyOutcome::TooLarge;
        return result;
    }
    text.clear();
    text.reserve(static_cast<qsizetype>(std::min<std::uint64_t>(bound, INT32_MAX)));
    std::vector<std::u16string> texts;
    for (std::size_t batch = first; batch <= last; batch += CopyBatchRows) {
        const std::size_t batchEnd = std::min(last + 1, batch + CopyBatchRows);
        m_source->copyRows(batch, batchEnd, texts);
        for (std::size_t row = batch; row < batchEnd; ++row) {
            const std::u16string& line = texts[row - batch];
            const std::int32_t from = row == first ? selection.startCol : 0;
            const std::int32_t to =
                row == last && !throughEnd && selection.endLine == row ? selection.endCol : -1;
            const std::u16string_view part = selectedPart(line, from, to);
            text.append(QStringView(part.data(), static_cast<qsizetype>(part.size())));
            if (row < last || throughEnd) {
                text.append(QLatin1Char('\n'));
            }
        }
    }
    result.outcome = CopyOutcome::Copied;
    return result;
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
    const std::size_t top = firstVisibleRow();
    m_wrap = wrap;
    m_wrapScroller->setEnabled(wrap);
    if (wrap) {
        m_horizontalPolicy = horizontalScrollBarPolicy();
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        syncWrapGeometry();
        // The row at the top stays there.
        m_wrapScroller->setTop({top, 0}, 0);
    } else {
        setHorizontalScrollBarPolicy(m_horizontalPolicy);
    }
    updateScrollRange();
    if (!wrap && !following) {
        m_follower->anchor(static_cast<int>(std::min<std::size_t>(top, INT_MAX)));
    }
    keepPlace();
    viewport()->update();
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
