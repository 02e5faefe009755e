// The text area's painting: the rows on screen with their colours, unwrapped or wrapped,
// and the gutter.

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

const StyleRuns NoRuns;

} // namespace

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
    LogRenderer::setLayeredRuns(style, terminal, matchRuns);
    if (!m_findHighlight.isEmpty()) {
        m_findHighlight.apply(text, start, end, style);
    }
    styleRow(row, style);
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
    if (const std::optional<ColorRef> stripe = m_source->rowStripe(row)) {
        painter.fillRect(QRect(0, y, StripeWidth, height), quill::colorFromRef(*stripe));
    }
    if (!numbered || !m_source->rowNumbered(row)) {
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

bool TextArea::paintMargins(QPainter& painter, const QRect& area, int rowsTop, int rowsBottom,
                            const QColor& background)
{
    if (rowsTop > area.top()) {
        painter.fillRect(QRect(area.left(), area.top(), area.width(), rowsTop - area.top()),
                         background);
    }
    if (rowsBottom <= area.bottom()) {
        painter.fillRect(
            QRect(area.left(), rowsBottom, area.width(), area.bottom() + 1 - rowsBottom),
            background);
    }
    // The gutter goes over whatever a glyph at the text's left edge overhung.
    if (area.left() >= m_gutterWidth) {
        return false;
    }
    painter.fillRect(QRect(0, area.top(), m_gutterWidth, area.height()),
                     palette().color(QPalette::AlternateBase));
    painter.setFont(m_renderer.font());
    return true;
}

void TextArea::paintEvent(QPaintEvent* event)
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
    if (paintMargins(painter, area, area.top(), rowsBottom, background)) {
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
    const ColorRef backgroundColor = settings.dword(Setting::BackgroundColor);
    const ColorRef textColor = settings.dword(Setting::TextColor);
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
    // The gutter: the number on a row's first screen row, the current row marked on all.
    if (paintMargins(painter, area, rowsTop, rowsBottom, background)) {
        for (const WrapScroller::Row& row : rows) {
            paintGutter(painter, area, row.y, row.item, row.start == 0);
        }
    }
}
