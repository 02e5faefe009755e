#include "view/FilterView.h"

#include "view/EndFollower.h"

#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
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
#include <vector>

using quill::toQStringView;

namespace {

// A drag held beyond the top or bottom edge scrolls one row this often.
constexpr int AutoScrollIntervalMs = 40;
// Space left and right of the line numbers.
constexpr int GutterPadding = 6;
// Before the number of a line no term could decide.
constexpr char16_t UndecidedMark = u'?';
// Rows kept read beyond those on screen before the cache starts over.
constexpr std::size_t CachedRowsLimit = 4096;
// A selection whose text would be larger than this is not offered as the PRIMARY
// selection: building it on every finished drag would stall the window.
constexpr std::uint64_t PrimaryTextLimit = 16u << 20;
// Rows read from the document in one call while a copy builds its text.
constexpr std::size_t CopyBatchRows = 4096;

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

FilterView::FilterView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("filterView"));
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    // Before the follower: the bar's own row steps are decided before it judges them.
    m_wrapScroller = new WrapScroller(verticalScrollBar(), 0, this);
    // Rows, not pixels: only the last row counts as the end.
    m_follower = new EndFollower(verticalScrollBar(), 0, this);
    m_wrapScroller->setFollower(m_follower);
    m_wrapScroller->setSource(&m_rowTexts);
    connect(m_wrapScroller, &WrapScroller::placeChanged, this, [this] { viewport()->update(); });
    updateGutter();
}

FilterView::~FilterView() = default;

void FilterView::setDocument(LogDocument* document)
{
    m_document = document;
    m_seenGeneration = document != nullptr ? document->indexEpoch() : 0;
    m_seenLineCount = document != nullptr ? document->lineCount() : 0;
    forgetRows();
    updateGutter();
}

void FilterView::setMatches(const FilterRows* rows)
{
    m_matches = rows;
    rowsChanged(FilterChange{true, false, 0, rowCount()});
}

void FilterView::setTextFont(const QFont& font)
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

bool FilterView::isFollowing() const
{
    return m_follower->following();
}

std::size_t FilterView::firstVisibleRow() const
{
    if (m_wrap) {
        int pixel = 0;
        return m_wrapScroller->shownTop(pixel).item;
    }
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

int FilterView::fullRows() const
{
    const int height = m_renderer.lineHeight();
    return height > 0 ? std::max(1, viewport()->height() / height) : 1;
}

void FilterView::rowsChanged(const FilterChange& change)
{
    if (change.reset) {
        forgetRows();
        m_wrapScroller->reset();
        m_widestRow = 0;
        m_currentRow = 0;
        m_mouse.Reset();
        m_autoScrollTimer.stop();
        storeSelection(DocSelection());
        m_findPosition = FindPosition();
    }
    const std::size_t count = rowCount();
    if (m_currentRow >= count) {
        m_currentRow = count > 0 ? count - 1 : 0;
    }
    updateGutter();
    updateScrollRange();
    if (change.reset) {
        // A new filter's rows are read from their end, as a new file is.
        m_follower->arrive();
    }
    keepPlace();
    viewport()->update();
}

void FilterView::rowsRearranged(std::size_t topRow, std::size_t currentRow)
{
    // Rows of a selection may now show other lines: it goes, as a drag in progress does.
    m_mouse.Reset();
    m_autoScrollTimer.stop();
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

void FilterView::documentChanged()
{
    if (m_document == nullptr) {
        return;
    }
    const std::uint64_t epoch = m_document->indexEpoch();
    const LineNumber lines = m_document->lineCount();
    if (epoch != m_seenGeneration) {
        forgetRows();
        m_wrapScroller->wrap().forget();
    } else {
        // Only the last line can have changed its text since it was read: it may have had
        // no line feed yet.
        const LineNumber firstChanged = std::min(m_seenLineCount, lines);
        const LineNumber from = firstChanged > 0 ? firstChanged - 1 : 0;
        std::erase_if(m_texts, [from](const auto& entry) { return entry.first >= from; });
    }
    m_seenGeneration = epoch;
    m_seenLineCount = lines;
    updateGutter();
    viewport()->update();
}

void FilterView::forgetRows()
{
    m_texts.clear();
}

bool FilterView::isUndecided(std::size_t row) const
{
    if (m_undecided == nullptr || m_matches == nullptr || row >= rowCount()) {
        return false;
    }
    return std::binary_search(m_undecided->begin(), m_undecided->end(), m_matches->at(row));
}

void FilterView::updateGutter()
{
    // Wide enough for the largest line number the document has, so the text does not
    // move sideways while rows of higher numbers scroll in, and for the mark before it.
    std::uint64_t largest = m_document != nullptr ? std::uint64_t(m_document->lineCount()) : 0;
    if (m_matches != nullptr && !m_matches->empty()) {
        largest = std::max<std::uint64_t>(largest, std::uint64_t(m_matches->back()) + 1);
    }
    int digits = 1;
    for (std::uint64_t n = largest; n >= 10; n /= 10) {
        ++digits;
    }
    digits = std::max(digits, 4);
    const QFontMetrics metrics(m_renderer.font());
    const int width = digits * metrics.horizontalAdvance(QLatin1Char('8')) +
                      metrics.horizontalAdvance(QChar(UndecidedMark)) + 2 * GutterPadding;
    if (digits == m_gutterDigits && width == m_gutterWidth) {
        return;
    }
    m_gutterDigits = digits;
    m_gutterWidth = width;
    updateScrollRange();
    viewport()->update();
}

void FilterView::updateScrollRange()
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

void FilterView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    keepPlace();
}

void FilterView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void FilterView::fetchRows(std::size_t first, std::size_t end)
{
    if (m_document == nullptr || m_matches == nullptr) {
        return;
    }
    end = std::min(end, rowCount());
    std::vector<LineNumber> wanted;
    for (std::size_t row = first; row < end; ++row) {
        const LineNumber line = m_matches->at(row);
        if (!m_texts.contains(line)) {
            wanted.push_back(line);
        }
    }
    if (wanted.empty()) {
        return;
    }
    if (m_texts.size() + wanted.size() > CachedRowsLimit) {
        m_texts.clear();
    }
    std::vector<std::u16string> texts;
    std::vector<StyleRuns> runs;
    m_document->lines(wanted, texts, &runs);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        m_texts[wanted[i]] = Row{std::move(texts[i]), std::move(runs[i])};
    }
}

const FilterView::Row* FilterView::row(std::size_t row)
{
    if (m_matches == nullptr || row >= rowCount()) {
        return nullptr;
    }
    const LineNumber line = m_matches->at(row);
    auto found = m_texts.find(line);
    if (found == m_texts.end()) {
        fetchRows(row, row + 1);
        found = m_texts.find(line);
    }
    return found != m_texts.end() ? &found->second : nullptr;
}

const std::u16string& FilterView::rowText(std::size_t row)
{
    static const std::u16string empty;
    const Row* entry = this->row(row);
    return entry != nullptr ? entry->text : empty;
}

void FilterView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    if (m_wrap) {
        paintWrapped(painter, event->rect());
        return;
    }
    SettingsStore& settings = SettingsStore::instance();
    const ColorRef backgroundColor = settings.dword(Setting::BackgroundColor);
    const ColorRef textColor = settings.dword(Setting::TextColor);
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

    fetchRows(first, end);
    int rowsBottom = 0;
    bool widened = false;
    for (std::size_t row = first; row < end; ++row) {
        const int y = static_cast<int>(row - first) * height;
        rowsBottom = y + height;
        if (y + height <= area.top() || y > area.bottom()) {
            continue;
        }
        static const Row none;
        const Row* entry = this->row(row);
        const Row& shown = entry != nullptr ? *entry : none;
        const std::u16string& line = shown.text;
        ColorRef textRef = textColor;
        ColorRef backRef = backgroundColor;
        bool matched = false;
        if (m_document != nullptr) {
            m_document->keywordColors(line, textRef, backRef, matched);
        }
        LogRenderer::RowStyle style =
            LogRenderer::rowStyle(textColor, backgroundColor, matched, textRef, backRef,
                                  m_selection, static_cast<LineNumber>(row));
        // As in the log view: a whole-line keyword's colours win over the line's terminal
        // colours, and the keywords that colour their matches lie over both, in the part
        // shown.
        const StyleRuns& terminal = matched ? none.runs : shown.runs;
        StyleRuns matchRuns;
        if (m_document != nullptr && textLeft <= area.right() &&
            std::any_of(m_document->keywords().begin(), m_document->keywords().end(),
                        [](const Keyword& k) { return k.m_enabled && k.m_matchOnly; })) {
            qsizetype from = 0;
            qsizetype to = 0;
            m_renderer.visibleRange(toQStringView(line), shownX + textLeft,
                                    shownX + area.right() + 1, from, to);
            m_document->matchRuns(line, std::size_t(from), std::size_t(to), matchRuns);
        }
        if (!terminal.empty() || !matchRuns.empty()) {
            LogRenderer::setRuns(style,
                                 matchRuns.empty() ? terminal : overlayRuns(terminal, matchRuns));
        }
        if (textLeft <= area.right()) {
            if (!m_findHighlight.Empty()) {
                qsizetype from = 0;
                qsizetype to = 0;
                m_renderer.visibleRange(toQStringView(line), shownX + textLeft,
                                        shownX + area.right() + 1, from, to);
                m_findHighlight.apply(line, from, to, style);
            }
            m_renderer.paintRow(painter, y, shownX, textLeft, area.right() + 1, toQStringView(line),
                                style);
        }
        // Measuring a line of megabytes on every paint would cost more than the paint;
        // such a line counts as average characters.
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
        const QPalette& colours = palette();
        painter.fillRect(QRect(0, area.top(), m_gutterWidth, area.height()),
                         colours.color(QPalette::AlternateBase));
        painter.setFont(m_renderer.font());
        for (std::size_t row = first; row < end; ++row) {
            const int y = static_cast<int>(row - first) * height;
            const QRect cell(0, y, m_gutterWidth - GutterPadding, height);
            if (row == m_currentRow) {
                painter.fillRect(QRect(0, y, m_gutterWidth, height),
                                 colours.color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
                painter.setPen(
                    colours.color(hasFocus() ? QPalette::HighlightedText : QPalette::Text));
            } else {
                painter.setPen(colours.color(QPalette::PlaceholderText));
            }
            QString number = QString::number(qulonglong(m_matches->at(row)) + 1);
            if (isUndecided(row)) {
                number.prepend(QChar(UndecidedMark));
            }
            painter.drawText(cell, Qt::AlignRight | Qt::AlignVCenter, number);
        }
    }
    painter.end();
    if (widened) {
        QMetaObject::invokeMethod(
            this, [this] { updateScrollRange(); }, Qt::QueuedConnection);
    }
}

void FilterView::setFindHighlight(const std::u16string& text, unsigned flags)
{
    if (m_findHighlight.set(text, flags)) {
        viewport()->update();
    }
}

void FilterView::setCurrentRow(std::size_t row)
{
    const std::size_t count = rowCount();
    if (count == 0) {
        return;
    }
    m_currentRow = std::min(row, count - 1);
    viewport()->update(QRect(0, 0, m_gutterWidth, viewport()->height()));
}

void FilterView::scrollToRow(std::size_t row)
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

void FilterView::keyPressEvent(QKeyEvent* event)
{
    const std::size_t count = rowCount();
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const std::size_t page = m_wrap ? wrappedPage() : std::size_t(std::max(1, fullRows() - 1));
    std::size_t row = m_currentRow;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_currentRow < count) {
            emit lineActivated(m_matches->at(m_currentRow));
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

void FilterView::mousePressEvent(QMouseEvent* event)
{
    // A drag selects from here, as in the log view.
    event->accept();
    m_pressedWhileDragging = m_mouse.isDragging();
    if (event->button() == Qt::LeftButton && !m_pressedWhileDragging) {
        m_mouse.press(event->position().toPoint());
    }
}

void FilterView::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton)) {
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
    m_mouse.move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

void FilterView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    m_autoScrollTimer.stop();
    const bool endsDrag = m_mouse.isDragging() || m_pressedWhileDragging;
    const QPoint point = event->position().toPoint();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    m_mouse.release(point, shift);
    // A plain click on a row shows its line in the log view; the end of a drag or a
    // Shift+click only selects.
    if (endsDrag || shift || point.y() < 0 || point.y() >= viewport()->height()) {
        return;
    }
    const LineNumber row = lineFromPoint(point.y());
    if (row < rowCount()) {
        setCurrentRow(row);
        emit lineActivated(m_matches->at(row));
    }
}

void FilterView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton) {
        m_mouse.doubleClick(event->position().toPoint());
    }
}

void FilterView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_autoScrollTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    if (!m_mouse.isDragging() || !(QApplication::mouseButtons() & Qt::LeftButton)) {
        m_autoScrollTimer.stop();
        return;
    }
    const int height = viewport()->height();
    QScrollBar* vbar = verticalScrollBar();
    if (m_dragPoint.y() < 0 || m_dragPoint.y() >= height) {
        const int step = m_dragPoint.y() < 0 ? -1 : 1;
        if (m_wrap) {
            m_wrapScroller->scrollRows(step);
        } else {
            vbar->setValue(vbar->value() + step);
            m_follower->userScrolled();
        }
    } else {
        m_autoScrollTimer.stop();
        return;
    }
    m_mouse.move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

LineNumber FilterView::selectableLineCount() const
{
    return static_cast<LineNumber>(std::min<std::size_t>(rowCount(), UINT32_MAX));
}

std::u16string FilterView::selectableLine(LineNumber row)
{
    return rowText(row);
}

LineNumber FilterView::lineFromPoint(int y) const
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
            row->end >= qsizetype(m_texts.contains(lineOfRow(row->item))
                                      ? m_texts.at(lineOfRow(row->item)).text.size()
                                      : 0)) {
            return static_cast<LineNumber>(
                std::min<std::size_t>(row->item + std::size_t(below / height), UINT32_MAX));
        }
        return static_cast<LineNumber>(std::min<std::size_t>(row->item, UINT32_MAX));
    }
    const std::size_t row = firstVisibleRow() + std::size_t(std::max(0, y) / height);
    return static_cast<LineNumber>(std::min<std::size_t>(row, UINT32_MAX));
}

TextPoint FilterView::pointToText(QPoint point)
{
    TextPoint hit;
    hit.line = lineFromPoint(point.y());
    if (hit.line >= rowCount()) {
        return hit;
    }
    const std::u16string& line = rowText(hit.line);
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

void FilterView::placeCaret(LineNumber row, std::int32_t)
{
    if (row < rowCount()) {
        setCurrentRow(row);
    }
}

void FilterView::storeSelection(const DocSelection& selection)
{
    const bool before = m_selection.valid;
    m_selection = selection;
    viewport()->update();
    if (before != m_selection.valid) {
        emit selectionPresenceChanged(m_selection.valid);
    }
}

void FilterView::selectionFinished()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr || !clipboard->supportsSelection() || !m_selection.valid) {
        return;
    }
    // The rows are a view of the document that changes under them; their text is taken
    // now, while it is what the user sees, when it is small enough to take at once.
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

void FilterView::onEditSelectAll()
{
    if (rowCount() > 0) {
        m_mouse.selectAll();
    }
}

CopyResult FilterView::onEditCopy()
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

CopyResult FilterView::buildText(const DocSelection& selection, QString& text,
                                 std::uint64_t limitBytes)
{
    CopyResult result;
    const std::size_t count = rowCount();
    if (!selection.valid || m_document == nullptr || count == 0 || selection.startLine >= count) {
        return result;
    }
    const std::size_t first = selection.startLine;
    const std::size_t last = std::min<std::size_t>(selection.endLine, count - 1);
    const bool throughEnd = selection.endLine >= count; // Select All: the line after the last
    // The bound before anything is read: each line's bytes give at most as many UTF-16
    // units, and a line feed joins them.
    std::uint64_t bound = 0;
    for (std::size_t row = first; row <= last; ++row) {
        const LineNumber line = m_matches->at(row);
        bound += std::uint64_t(m_document->lineStart(line + 1) - m_document->lineStart(line)) + 2;
    }
    result.neededBytes = clipboardPeakBytes(bound);
    result.availableBytes = availableMemoryBytes();
    const std::uint64_t limit = limitBytes != 0 ? limitBytes : result.availableBytes / 2;
    if (result.neededBytes > limit) {
        result.outcome = CopyOutcome::TooLarge;
        return result;
    }
    text.clear();
    text.reserve(static_cast<qsizetype>(std::min<std::uint64_t>(bound, INT32_MAX)));
    std::vector<LineNumber> lines;
    std::vector<std::u16string> texts;
    for (std::size_t batch = first; batch <= last; batch += CopyBatchRows) {
        const std::size_t batchEnd = std::min(last + 1, batch + CopyBatchRows);
        lines.clear();
        for (std::size_t row = batch; row < batchEnd; ++row) {
            lines.push_back(m_matches->at(row));
        }
        m_document->lines(lines, texts);
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

std::optional<std::uint64_t> FilterView::RowTexts::itemSizeHint(std::size_t item)
{
    if (m_view.m_document == nullptr) {
        return std::nullopt;
    }
    const LogDocument& document = *m_view.m_document;
    const LineNumber line = m_view.lineOfRow(item);
    if (line >= document.lineCount()) {
        return 0;
    }
    const FileOffset bytes = document.lineStart(line + 1) - document.lineStart(line);
    return std::uint64_t(std::max<FileOffset>(0, bytes)) / (document.isUtf16() ? 2 : 1);
}

QStringView FilterView::RowTexts::itemText(std::size_t item)
{
    return toQStringView(m_view.rowText(item));
}

const std::vector<WrapScroller::Row>& FilterView::screenRows()
{
    static const std::vector<WrapScroller::Row> none;
    return m_wrap ? m_wrapScroller->rows() : none;
}

void FilterView::syncWrapGeometry()
{
    if (m_wrap) {
        m_wrapScroller->setGeometry(&m_renderer,
                                    std::max(1, viewport()->width() - m_gutterWidth - 1),
                                    viewport()->height());
    }
}

void FilterView::keepPlace()
{
    if (m_wrap) {
        syncWrapGeometry();
        m_wrapScroller->sync();
    } else {
        m_follower->keep();
    }
}

void FilterView::setWrapLines(bool wrap)
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

std::size_t FilterView::wrappedPage()
{
    const int height = rowHeight();
    std::size_t starts = 0;
    for (const WrapScroller::Row& row : screenRows()) {
        starts += row.start == 0 && row.y >= 0 && row.y + height <= viewport()->height() ? 1 : 0;
    }
    return std::max<std::size_t>(1, starts > 0 ? starts - 1 : 0);
}

void FilterView::paintWrapped(QPainter& painter, const QRect& area)
{
    SettingsStore& settings = SettingsStore::instance();
    const ColorRef backgroundColor = settings.dword(Setting::BackgroundColor);
    const ColorRef textColor = settings.dword(Setting::TextColor);
    const QColor background = quill::colorFromRef(backgroundColor);
    const int height = m_renderer.lineHeight();
    syncWrapGeometry();
    const std::vector<WrapScroller::Row> rows = m_wrapScroller->rows();
    if (!rows.empty()) {
        fetchRows(rows.front().item, rows.back().item + 1);
    }
    const int textLeft = std::max(area.left(), m_gutterWidth);
    const qint64 shownX = -qint64(m_gutterWidth);
    const bool matchOnly =
        m_document != nullptr &&
        std::any_of(m_document->keywords().begin(), m_document->keywords().end(),
                    [](const Keyword& k) { return k.m_enabled && k.m_matchOnly; });
    std::size_t colouredRow = SIZE_MAX;
    ColorRef textRef = textColor;
    ColorRef backRef = backgroundColor;
    bool matched = false;
    for (const WrapScroller::Row& row : rows) {
        if (row.y + height <= area.top() || row.y > area.bottom() || textLeft > area.right()) {
            continue;
        }
        static const Row none;
        const Row* entry = this->row(row.item);
        const Row& shown = entry != nullptr ? *entry : none;
        const std::u16string& line = shown.text;
        if (colouredRow != row.item) {
            colouredRow = row.item;
            textRef = textColor;
            backRef = backgroundColor;
            matched = false;
            if (m_document != nullptr) {
                m_document->keywordColors(line, textRef, backRef, matched);
            }
        }
        LogRenderer::RowStyle style =
            LogRenderer::rowStyle(textColor, backgroundColor, matched, textRef, backRef,
                                  m_selection, static_cast<LineNumber>(row.item));
        // As on a row of its own: a whole-line keyword wins over the terminal's colours,
        // and the keywords that colour their matches lie over both.
        const StyleRuns& terminal = matched ? none.runs : shown.runs;
        StyleRuns matchRuns;
        if (matchOnly) {
            m_document->matchRuns(line, std::size_t(row.start), std::size_t(row.end), matchRuns);
        }
        if (!terminal.empty() || !matchRuns.empty()) {
            LogRenderer::setRuns(style,
                                 matchRuns.empty() ? terminal : overlayRuns(terminal, matchRuns));
        }
        if (!m_findHighlight.Empty()) {
            m_findHighlight.apply(line, row.start, row.end, style);
        }
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
        const QPalette& colours = palette();
        painter.fillRect(QRect(0, area.top(), m_gutterWidth, area.height()),
                         colours.color(QPalette::AlternateBase));
        painter.setFont(m_renderer.font());
        for (const WrapScroller::Row& row : rows) {
            const bool current = row.item == m_currentRow;
            if (current) {
                painter.fillRect(QRect(0, row.y, m_gutterWidth, height),
                                 colours.color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
            }
            if (row.start != 0) {
                continue;
            }
            painter.setPen(
                current ? colours.color(hasFocus() ? QPalette::HighlightedText : QPalette::Text)
                        : colours.color(QPalette::PlaceholderText));
            QString number = QString::number(qulonglong(lineOfRow(row.item)) + 1);
            if (isUndecided(row.item)) {
                number.prepend(QChar(UndecidedMark));
            }
            painter.drawText(QRect(0, row.y, m_gutterWidth - GutterPadding, height),
                             Qt::AlignRight | Qt::AlignVCenter, number);
        }
    }
}
