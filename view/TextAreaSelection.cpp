// The text area's selection of rows: points to rows and characters, the selection, copy.

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
#include <mutex>

using quill::toQStringView;

namespace {

// A selection whose text would be larger than this is not offered as the PRIMARY
// selection: building it on every finished drag would stall the window.
constexpr std::uint64_t PrimaryTextLimit = 16u << 20;
// Rows read from the source in one call while a copy builds its text.
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

void RowSource::copyRows(std::size_t first, std::size_t end, std::vector<std::u16string>& texts)
{
    texts.clear();
    for (std::size_t row = first; row < end; ++row) {
        texts.emplace_back(rowText(row));
    }
}

LineNumber TextArea::selectableLineCount() const
{
    return static_cast<LineNumber>(std::min<std::size_t>(rowCount(), UINT32_MAX));
}

std::u16string TextArea::selectableLine(LineNumber row)
{
    return std::u16string(rowText(row));
}

LineNumber TextArea::lineFromPoint(int y) const
{
    const int height = m_renderer.lineHeight();
    if (height <= 0) {
        return 0;
    }
    if (m_wrap) {
        return wrappedRowFromPoint(y, height);
    }
    const std::size_t row = firstVisibleRow() + std::size_t(std::max(0, y) / height);
    return static_cast<LineNumber>(std::min<std::size_t>(row, UINT32_MAX));
}

LineNumber TextArea::wrappedRowFromPoint(int y, int height) const
{
    const std::optional<WrapScroller::Row> row = m_wrapScroller->rowAt(std::max(0, y));
    if (!row) {
        return 0;
    }
    // Below the last screen row of the last row: the rows after it, as without wrapping.
    const int below = std::max(0, y) - row->y;
    if (height > 0 && below >= height && row->item + 1 == rowCount()) {
        std::unique_lock<std::recursive_mutex> lock;
        if (std::recursive_mutex* textLock = m_source->textLock()) {
            lock = std::unique_lock(*textLock);
        }
        if (row->end >= qsizetype(m_source->rowText(row->item).size())) {
            return static_cast<LineNumber>(
                std::min<std::size_t>(row->item + std::size_t(below / height), UINT32_MAX));
        }
    }
    return static_cast<LineNumber>(std::min<std::size_t>(row->item, UINT32_MAX));
}

qsizetype TextArea::wrappedCharAt(const WrapScroller::Row& row, QStringView text, qsizetype origin,
                                  qsizetype length, qint64 x) const
{
    const qsizetype start = std::clamp<qsizetype>(row.start - origin, 0, text.size());
    const qsizetype end = std::clamp<qsizetype>(row.end - origin, start, text.size());
    const qsizetype c = row.start + m_renderer.charAt(text.sliced(start, end - start), x);
    // Right of a row that the row goes on after: that screen row's last character (the
    // blank it broke at), not the next one's first.
    return c >= row.end && row.end < length ? row.end - 1 : c;
}

TextPoint TextArea::pointToText(QPoint point)
{
    TextPoint hit;
    hit.line = lineFromPoint(point.y());
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
        c = wrappedCharAt(*row, text, 0, text.size(), x);
    } else {
        const qint64 docX = qint64(point.x()) - m_gutterWidth + horizontalScrollBar()->value();
        c = m_renderer.charAt(text, std::max<qint64>(0, docX));
    }
    hit.character = static_cast<std::int32_t>(std::min<qsizetype>(c, INT32_MAX));
    return hit;
}

void TextArea::placeCaret(LineNumber row, std::int32_t)
{
    if (row < rowCount()) {
        setCurrentRow(row);
    }
}

void TextArea::storeSelection(const DocSelection& selection)
{
    const bool before = m_selection.valid;
    m_selection = selection;
    viewport()->update();
    if (before != m_selection.valid) {
        emit selectionPresenceChanged(m_selection.valid);
    }
}

void TextArea::selectionFinished()
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

void TextArea::onEditSelectAll()
{
    if (rowCount() > 0) {
        m_mouse.selectAll();
    }
}

CopyResult TextArea::onEditCopy()
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
    result.neededBytes = clipboardPeakBytes(bound);
    result.availableBytes = availableMemoryBytes();
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
