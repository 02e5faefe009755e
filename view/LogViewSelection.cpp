// The log view's selection: points to text, the document's selection and find position,
// copy, the caret and showing the selection.

#include "view/LogView.h"

#include "platform/Contract.h"
#include "view/EndFollower.h"
#include "view/LineGutter.h"
#include "view/LogScrollBar.h"
#include "view/OverviewStrip.h"

#include "diagnostics/TraceLog.h"
#include "engine/AlertRule.h"
#include "engine/KeywordLines.h"
#include "engine/LineText.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

using quill::toQStringView;

LineNumber LogView::lineFromPoint(int y) const
{
    if (m_wrap) {
        return wrappedRowFromPoint(y, int(m_lineHeight));
    }
    const std::int64_t h = m_lineHeight;
    if (h == 0) {
        return 0;
    }
    // Points above the client area count as its top (a drag held there scrolls instead).
    const std::int64_t py = std::max(0, y);
    const std::int64_t p = verticalScrollBar()->value();
    const std::int64_t first = p / h;
    const std::int64_t r = p - first * h;
    std::int64_t line = 0;
    if (r == 0) {
        line = first + py / h;
    } else if (py < h - r) {
        line = first + 1;
    } else {
        line = first + 1 + (py - h + r) / h;
    }
    return static_cast<LineNumber>(std::min<std::int64_t>(line, UINT32_MAX));
}

TextPoint LogView::pointToText(QPoint point)
{
    TextPoint hit;
    hit.line = lineFromPoint(point.y());
    if (m_document == nullptr) {
        return hit;
    }
    std::lock_guard lock(m_document->docAccess());
    if (hit.line >= m_document->lineCount()) {
        return hit;
    }
    focusLongLines();
    std::optional<WrapScroller::Row> row;
    if (m_wrap) {
        row = m_wrapScroller->rowAt(std::max(0, point.y()));
    }
    const LogDocument::LinePart part =
        row && row->item == hit.line
            ? m_document->longLineColumnsPart(hit.line, row->start, row->end - row->start)
            : m_document->linePart(hit.line);
    const std::u16string_view line = part.text;
    if (line.empty()) {
        return hit;
    }
    hit.onText = true;
    const QStringView text(line.data(), qsizetype(line.size()));
    qsizetype c = 0;
    if (m_wrap) {
        if (!row || row->item != hit.line) {
            return hit;
        }
        // A long line's row counts columns, its part's text starts at its first.
        const qsizetype origin = qsizetype(part.first);
        const qsizetype length = part.isLong() ? qsizetype(part.columns) : text.size();
        c = wrappedCharAt(*row, text, origin, length, point.x());
    } else {
        c = qsizetype(part.first) +
            m_renderer.charAt(text, point.x() + scrollX() - longX(part.isLong() ? part.first : 0));
    }
    hit.character = static_cast<std::int32_t>(std::min<qsizetype>(c, INT32_MAX));
    return hit;
}

void LogView::setSelectionAndCaret(LineNumber startLine, LineNumber endLine, std::int32_t startCol,
                                   std::int32_t endCol)
{
    const DocSelection selection{true, startLine, endLine, startCol, endCol};
    storeSelection(selection);
    m_mouse.placeCaretAfterSelection(selection);
}

LineNumber LogView::selectableLineCount() const
{
    return m_document != nullptr ? m_document->lineCount() : 0;
}

std::u16string LogView::selectableLine(LineNumber line)
{
    // A long line's text is a part of it whose indexes are not its columns: a double-click
    // there selects no word rather than another one.
    if (m_document == nullptr || m_document->isLongLine(line)) {
        return std::u16string();
    }
    return m_document->line(line);
}

DocSelection LogView::currentSelection() const
{
    return m_document != nullptr ? m_document->selection() : DocSelection();
}

void LogView::storeSelection(const DocSelection& selection)
{
    if (m_document == nullptr) {
        return;
    }
    const DocSelection before = m_document->selection();
    // What the user selects runs forwards and ends at the latest at the start of the line
    // after the last (Select All); later shrinking of the text is the document's to handle.
    QUILL_ASSERT(!selection.valid || (selection.startLine <= selection.endLine &&
                                      selection.endLine <= m_document->lineCount()));
    if (selection.valid) {
        m_document->setSelection(selection.startLine, selection.endLine, selection.startCol,
                                 selection.endCol);
    } else {
        m_document->clearSelection();
    }
    const DocSelection after = m_document->selection();
    invalidateSelectionChange(before, after);
    if (before.valid != after.valid) {
        emit selectionPresenceChanged(after.valid);
    }
}

FindPosition LogView::currentFindPosition() const
{
    return m_document != nullptr ? m_document->findPosition() : FindPosition();
}

void LogView::storeFindPosition(const FindPosition& position)
{
    if (m_document != nullptr) {
        m_document->setFindPosition(position.line, position.col);
    }
}

void LogView::selectionFinished()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (m_document == nullptr || clipboard == nullptr || !clipboard->supportsSelection()) {
        return;
    }
    const DocSelection selection = m_document->selection();
    if (!selection.valid) {
        return;
    }
    // Offered, not built: the text is read only when another program pastes it.
    clipboard->setMimeData(
        new SelectionMimeData(m_textSource, selection, m_document->contentGeneration()),
        QClipboard::Selection);
}

void LogView::invalidateLines(LineNumber first, LineNumber last)
{
    const std::int64_t h = m_lineHeight;
    if (h == 0 || m_wrap) {
        viewport()->update();
        return;
    }
    const std::int64_t scrollY = verticalScrollBar()->value();
    const std::int64_t top = std::max<std::int64_t>(-h, std::int64_t(first) * h - scrollY);
    const std::int64_t bottom =
        std::min<std::int64_t>(viewport()->height() + h, (std::int64_t(last) + 1) * h - scrollY);
    if (bottom <= top) {
        return;
    }
    viewport()->update(QRect(0, int(top), viewport()->width(), int(bottom - top)));
}

void LogView::invalidateSelectionChange(const DocSelection& before, const DocSelection& after)
{
    // The rows strictly between both records' ends are selected whole in both; only the rows
    // between the two starts and between the two ends can differ.
    if (!before.valid && !after.valid) {
        return;
    }
    if (!before.valid || !after.valid) {
        const DocSelection& one = before.valid ? before : after;
        invalidateLines(one.startLine, one.endLine);
        return;
    }
    invalidateLines(std::min(before.startLine, after.startLine),
                    std::max(before.startLine, after.startLine));
    invalidateLines(std::min(before.endLine, after.endLine),
                    std::max(before.endLine, after.endLine));
}

void LogView::onEditSelectAll()
{
    if (m_document != nullptr) {
        m_mouse.selectAll();
        viewport()->update();
    }
}

bool LogView::canCopy() const
{
    return m_document != nullptr && m_document->selection().valid;
}

CopyResult LogView::onEditCopy()
{
    CopyResult result;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (m_document == nullptr || clipboard == nullptr) {
        return result;
    }
    const DocSelection selection = m_document->selection();
    QString text;
    result = buildSelectionText(*m_document, selection, text);
    if (result.outcome == CopyOutcome::Copied) {
        clipboard->setMimeData(new SelectionMimeData(std::move(text)), QClipboard::Clipboard);
    }
    return result;
}

void LogView::createCaret()
{
    m_caretShown = true;
    m_caretOn = true;
    m_caretBlinks = 0;
    const int interval = QApplication::cursorFlashTime() / 2;
    if (interval > 0 && hasFocus()) {
        m_caretTimer.start(interval, this);
    }
    viewport()->update(caretRect());
}

QRect LogView::caretRect() const
{
    if (m_wrap) {
        return m_wrapCaret;
    }
    const int y = m_caretLine * static_cast<int>(m_lineHeight) - verticalScrollBar()->value();
    return QRect(
        static_cast<int>(std::clamp<qint64>(m_caretDocX - scrollX(), INT_MIN / 2, INT_MAX / 2)), y,
        CaretWidth, static_cast<int>(m_lineHeight));
}

void LogView::placeCaret(LineNumber line, std::int32_t character)
{
    if (m_document == nullptr || line >= m_document->lineCount()) {
        return;
    }
    viewport()->update(caretRect());
    m_caretLine = static_cast<int>(line);
    m_caretBlinks = 0;
    if (m_caretShown && !m_caretTimer.isActive() && hasFocus()) {
        createCaret(); // it rested: it blinks again where the user works
    }
    {
        std::lock_guard lock(m_document->docAccess());
        if (!m_wrap) {
            focusLongLines();
        }
        const LogDocument::LinePart part = m_document->linePart(line);
        const qsizetype length =
            part.isLong() ? qsizetype(part.columns) : qsizetype(part.text.size());
        m_caretChar = static_cast<std::int32_t>(std::min<qsizetype>(
            character < 0 ? length : std::min<qsizetype>(character, length), INT32_MAX));
        if (!m_wrap) {
            m_caretDocX = static_cast<int>(std::min<qint64>(columnX(part, m_caretChar), INT_MAX));
        }
    }
    if (m_wrap) {
        // Its row is found by the paint.
        viewport()->update();
        return;
    }
    viewport()->update(caretRect());
}

void LogView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    if (m_caretShown) {
        createCaret();
    }
}

void LogView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_caretTimer.stop();
    viewport()->update(caretRect());
}

void LogView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_autoScrollTimer.timerId()) {
        dragAutoScroll();
        return;
    }
    if (event->timerId() == m_caretTimer.timerId()) {
        m_caretOn = !m_caretOn;
        const int interval = QApplication::cursorFlashTime() / 2;
        if (++m_caretBlinks * interval >= CaretBlinkMs && m_caretOn) {
            m_caretTimer.stop(); // resting, shown
        }
        viewport()->update(caretRect());
        return;
    }
    QAbstractScrollArea::timerEvent(event);
}

void LogView::ensureSelectionVisible()
{
    if (m_document == nullptr) {
        return;
    }
    DocSelection selection;
    if (!m_document->selection(selection)) {
        return;
    }
    // A line already fully on screen stays where it is: moving the view under the user's
    // eyes would lose the place they are reading, and a user at the end stays there.
    const std::uint32_t start = selection.startLine;
    if (m_wrap) {
        // The rows that hold the selection's first and (on the same line) last character;
        // a whole line is shown from its first row.
        if (start >= m_document->lineCount()) {
            return;
        }
        qsizetype length = 0;
        {
            std::lock_guard lock(m_document->docAccess());
            length = m_document->isLongLine(start)
                         ? qsizetype(m_document->longLineTextColumns(start))
                         : qsizetype(m_document->lineView(start).size());
        }
        const std::vector<WrapScroller::Row> rows = m_wrapScroller->rows();
        auto shown = [&](qsizetype c) {
            for (const WrapScroller::Row& row : rows) {
                if (row.item == start && row.start <= c && (c < row.end || row.end >= length)) {
                    return row.y >= 0 && row.y + int(m_lineHeight) <= viewport()->height();
                }
            }
            return false;
        };
        const qsizetype first = std::max(0, selection.startCol);
        const bool lastToo = selection.endLine == start && selection.endCol >= 0;
        if (!shown(first) || (lastToo && !shown(selection.endCol))) {
            m_wrapScroller->scrollToPlace({start, first}, 1);
        }
        return;
    }
    QScrollBar* vbar = verticalScrollBar();
    const qint64 height = m_lineHeight;
    const qint64 rowTop = qint64(start) * height - vbar->value();
    if (rowTop < 0 || rowTop + height > viewport()->height()) {
        // Shown with one line of context above it.
        const qint64 y = (qint64(start) - 1) * height;
        vbar->setValue(static_cast<int>(std::clamp<qint64>(y, 0, vbar->maximum())));
        m_follower->userScrolled();
    }
    qint64 a = 0;
    qint64 b = 0;
    {
        std::lock_guard lock(m_document->docAccess());
        focusLongLines();
        const LogDocument::LinePart part =
            start < m_document->lineCount() ? m_document->linePart(start) : LogDocument::LinePart{};
        const qsizetype length =
            part.isLong() ? qsizetype(part.columns) : qsizetype(part.text.size());
        a = columnX(part, selection.startCol);
        // endCol is the last selected character, included.
        b = columnX(part, selection.endCol < 0 ? length : qsizetype(selection.endCol) + 1);
    }
    QScrollBar* hbar = horizontalScrollBar();
    const qint64 client = viewport()->width();
    const qint64 shownX = scrollX();
    if (a >= shownX && b <= shownX + client) {
        return;
    }
    // Scrolled only as far as it takes: from the left edge when the match fits there,
    // else with the match's start at the left edge.
    const qint64 x = b <= client ? 0 : a;
    hbar->setValue(static_cast<int>(std::min<qint64>(x / m_horizontalScale, hbar->maximum())));
}
