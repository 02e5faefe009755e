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
    // Rows, not pixels: only the last row counts as the end.
    m_follower = new EndFollower(verticalScrollBar(), 0, this);
    updateGutter();
}

FilterView::~FilterView() = default;

void FilterView::setDocument(LogDocument* document)
{
    m_document = document;
    m_seenGeneration = document != nullptr ? document->IndexEpoch() : 0;
    m_seenLineCount = document != nullptr ? document->GetLineCount() : 0;
    forgetRows();
    updateGutter();
}

void FilterView::setMatches(const FilterMatches* matches)
{
    m_matches = matches;
    RowsChanged(FilterChange{true, false, 0, rowCount()});
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
    viewport()->update();
}

bool FilterView::isFollowing() const
{
    return m_follower->following();
}

std::size_t FilterView::firstVisibleRow() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

int FilterView::fullRows() const
{
    const int height = m_renderer.lineHeight();
    return height > 0 ? std::max(1, viewport()->height() / height) : 1;
}

void FilterView::RowsChanged(const FilterChange& change)
{
    if (change.reset) {
        forgetRows();
        m_widestRow = 0;
        m_currentRow = 0;
        m_mouse.Reset();
        m_autoScrollTimer.stop();
        StoreSelection(DocSelection());
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
    m_follower->keep();
    viewport()->update();
}

void FilterView::DocumentChanged()
{
    if (m_document == nullptr) {
        return;
    }
    const std::uint64_t epoch = m_document->IndexEpoch();
    const LineNumber lines = m_document->GetLineCount();
    if (epoch != m_seenGeneration) {
        forgetRows();
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
    std::uint64_t largest =
        m_document != nullptr ? std::uint64_t(m_document->GetLineCount()) : 0;
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
    m_follower->keep();
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
    m_document->GetLines(wanted, texts);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        m_texts[wanted[i]] = std::move(texts[i]);
    }
}

const std::u16string& FilterView::rowText(std::size_t row)
{
    static const std::u16string empty;
    if (m_matches == nullptr || row >= rowCount()) {
        return empty;
    }
    const LineNumber line = m_matches->at(row);
    auto found = m_texts.find(line);
    if (found == m_texts.end()) {
        fetchRows(row, row + 1);
        found = m_texts.find(line);
    }
    return found != m_texts.end() ? found->second : empty;
}

void FilterView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    SettingsStore& settings = SettingsStore::instance();
    const ColorRef backgroundColor = settings.GetDword(Setting::BackgroundColor);
    const ColorRef textColor = settings.GetDword(Setting::TextColor);
    const QColor background = quill::colorFromRef(backgroundColor);
    const QRect area = event->rect();
    const int height = m_renderer.lineHeight();
    const std::size_t count = rowCount();
    const std::size_t first = firstVisibleRow();
    const std::size_t end =
        height > 0 ? std::min(count, first + std::size_t(viewport()->height() / height) + 2) : first;
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
        const std::u16string& line = rowText(row);
        ColorRef textRef = textColor;
        ColorRef backRef = backgroundColor;
        bool matched = false;
        if (m_document != nullptr) {
            m_document->GetKeywordColors(line, textRef, backRef, matched);
        }
        LogRenderer::RowStyle style =
            LogRenderer::rowStyle(textColor, backgroundColor, matched, textRef, backRef,
                                  m_selection, static_cast<LineNumber>(row));
        if (m_document != nullptr && textLeft <= area.right() &&
            std::any_of(m_document->GetKeywords().begin(), m_document->GetKeywords().end(),
                        [](const Keyword& k) { return k.m_enabled && k.m_matchOnly; })) {
            // Keywords that colour their matches do so here too, in the part shown.
            qsizetype from = 0;
            qsizetype to = 0;
            m_renderer.visibleRange(toQStringView(line), shownX + textLeft,
                                    shownX + area.right() + 1, from, to);
            StyleRuns runs;
            m_document->GetMatchRuns(line, std::size_t(from), std::size_t(to), runs);
            LogRenderer::setRuns(style, runs);
        }
        if (textLeft <= area.right()) {
            m_renderer.paintRow(painter, y, shownX, textLeft, area.right() + 1, toQStringView(line), style);
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
        painter.fillRect(QRect(area.left(), rowsBottom, area.width(), area.bottom() + 1 - rowsBottom),
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
                painter.setPen(colours.color(hasFocus() ? QPalette::HighlightedText
                                                        : QPalette::Text));
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
        QMetaObject::invokeMethod(this, [this] { updateScrollRange(); }, Qt::QueuedConnection);
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
    const std::size_t page = std::size_t(std::max(1, fullRows() - 1));
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
    // Selection starts at the first move, as in the log view.
    event->accept();
    m_pressedWhileDragging = m_mouse.IsDragging();
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
    m_mouse.Move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

void FilterView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    m_autoScrollTimer.stop();
    const bool endsDrag = m_mouse.IsDragging() || m_pressedWhileDragging;
    const QPoint point = event->position().toPoint();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    m_mouse.Release(point, shift);
    // A plain click on a row shows its line in the log view; the end of a drag or a
    // Shift+click only selects.
    if (endsDrag || shift || point.y() < 0 || point.y() >= viewport()->height()) {
        return;
    }
    const LineNumber row = LineFromPoint(point.y());
    if (row < rowCount()) {
        setCurrentRow(row);
        emit lineActivated(m_matches->at(row));
    }
}

void FilterView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton) {
        m_mouse.DoubleClick(event->position().toPoint());
    }
}

void FilterView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_autoScrollTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    if (!m_mouse.IsDragging() || !(QApplication::mouseButtons() & Qt::LeftButton)) {
        m_autoScrollTimer.stop();
        return;
    }
    const int height = viewport()->height();
    QScrollBar* vbar = verticalScrollBar();
    if (m_dragPoint.y() < 0) {
        vbar->setValue(vbar->value() - 1);
    } else if (m_dragPoint.y() >= height) {
        vbar->setValue(vbar->value() + 1);
    } else {
        m_autoScrollTimer.stop();
        return;
    }
    m_follower->userScrolled();
    m_mouse.Move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

LineNumber FilterView::SelectableLineCount() const
{
    return static_cast<LineNumber>(std::min<std::size_t>(rowCount(), UINT32_MAX));
}

std::u16string FilterView::SelectableLine(LineNumber row)
{
    return rowText(row);
}

LineNumber FilterView::LineFromPoint(int y) const
{
    const int height = m_renderer.lineHeight();
    if (height <= 0) {
        return 0;
    }
    const std::size_t row = firstVisibleRow() + std::size_t(std::max(0, y) / height);
    return static_cast<LineNumber>(std::min<std::size_t>(row, UINT32_MAX));
}

std::int32_t FilterView::CharFromPoint(const std::u16string& text, int x) const
{
    const qint64 docX = qint64(x) - m_gutterWidth + horizontalScrollBar()->value();
    const qsizetype c = m_renderer.charAt(toQStringView(text), std::max<qint64>(0, docX));
    return static_cast<std::int32_t>(std::min<qsizetype>(c, INT32_MAX));
}

int FilterView::CaretXFromPoint(LineNumber row, int x)
{
    const std::u16string& text = rowText(row);
    const qint64 docX =
        text.empty() ? 0 : m_renderer.prefixWidth(toQStringView(text), CharFromPoint(text, x));
    return static_cast<int>(std::clamp<qint64>(docX - horizontalScrollBar()->value() + m_gutterWidth,
                                               INT_MIN / 2, INT_MAX / 2));
}

int FilterView::CaretXAfter(LineNumber row, std::int32_t character)
{
    const std::u16string& text = rowText(row);
    const qsizetype count = character < 0 ? qsizetype(text.size()) : qsizetype(character) + 1;
    const qint64 docX = text.empty() ? 0 : m_renderer.prefixWidth(toQStringView(text), count);
    return static_cast<int>(std::clamp<qint64>(docX - horizontalScrollBar()->value() + m_gutterWidth,
                                               INT_MIN / 2, INT_MAX / 2));
}

void FilterView::PlaceCaret(LineNumber row, int)
{
    if (row < rowCount()) {
        setCurrentRow(row);
    }
}

void FilterView::StoreSelection(const DocSelection& selection)
{
    const bool before = m_selection.valid;
    m_selection = selection;
    viewport()->update();
    if (before != m_selection.valid) {
        emit selectionPresenceChanged(m_selection.valid);
    }
}

void FilterView::SelectionFinished()
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

void FilterView::OnEditSelectAll()
{
    if (rowCount() > 0) {
        m_mouse.SelectAll();
    }
}

CopyResult FilterView::OnEditCopy()
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
    // units, and CR LF joins them.
    std::uint64_t bound = 0;
    for (std::size_t row = first; row <= last; ++row) {
        const LineNumber line = m_matches->at(row);
        bound += std::uint64_t(m_document->LineStart(line + 1) - m_document->LineStart(line)) + 2;
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
    std::vector<LineNumber> lines;
    std::vector<std::u16string> texts;
    for (std::size_t batch = first; batch <= last; batch += CopyBatchRows) {
        const std::size_t batchEnd = std::min(last + 1, batch + CopyBatchRows);
        lines.clear();
        for (std::size_t row = batch; row < batchEnd; ++row) {
            lines.push_back(m_matches->at(row));
        }
        m_document->GetLines(lines, texts);
        for (std::size_t row = batch; row < batchEnd; ++row) {
            const std::u16string& line = texts[row - batch];
            const std::int32_t from = row == first ? selection.startCol : 0;
            const std::int32_t to = row == last && !throughEnd && selection.endLine == row
                                        ? selection.endCol
                                        : -1;
            const std::u16string_view part = selectedPart(line, from, to);
            text.append(QStringView(part.data(), static_cast<qsizetype>(part.size())));
            if (row < last || throughEnd) {
                text.append(QStringLiteral("\r\n"));
            }
        }
    }
    result.outcome = CopyOutcome::Copied;
    return result;
}
