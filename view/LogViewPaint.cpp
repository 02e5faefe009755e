// The log view's painting: the rows on screen, unwrapped (by pixels, long lines from the
// part around the left edge) and wrapped (by screen rows), taken under the document lock
// and drawn after it.

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

namespace {

// Stands in while no sound service is attached (a view without a main window).
SoundService& silentSound()
{
    class Silent : public SoundService {
      public:
        void playSoundFile(const std::u16string&) override {}
        void beep() override {}
    };
    static Silent silent;
    return silent;
}

// Erased in strips: Qt hands a fill of a large area to its thread pool, and waking the
// workers costs more than the fill itself at this size.
void eraseStrips(QPainter& painter, const QRect& area, int top, int bottom, const QColor& color)
{
    const int strip = 16;
    for (; top < bottom; top += strip) {
        painter.fillRect(QRect(area.left(), top, area.width(), std::min(strip, bottom - top)),
                         color);
    }
}

// The runs that reach into characters [start, end), cut to them.
StyleRuns runsWithin(const StyleRuns& runs, std::size_t start, std::size_t end)
{
    StyleRuns within;
    auto run = std::partition_point(runs.begin(), runs.end(),
                                    [start](const StyleRun& r) { return r.end <= start; });
    for (; run != runs.end() && run->start < end; ++run) {
        StyleRun cut = *run;
        cut.start = std::max(cut.start, start);
        cut.end = std::min(cut.end, end);
        if (cut.start < cut.end) {
            within.push_back(cut);
        }
    }
    return within;
}

} // namespace

bool LogView::lineRuns(std::u16string_view line, LineNumber index, bool matched, qint64 left,
                       qint64 right, LogRenderer::RowStyle& style)
{
    // A whole-line keyword's colours win over the line's own terminal colours; the
    // keywords that colour their matches lie over both.
    const StyleRuns& terminal =
        matched || !m_document->terminalColors() ? m_noRuns : m_document->lineRuns(index);
    m_matchRuns.clear();
    const std::vector<Keyword>& keywords = m_document->keywords();
    if (std::any_of(keywords.begin(), keywords.end(),
                    [](const Keyword& k) { return k.enabled && k.matchOnly; })) {
        qsizetype from = 0;
        qsizetype to = 0;
        m_renderer.visibleRange(toQStringView(line), left, right, from, to);
        m_document->matchRuns(line, std::size_t(from), std::size_t(to), m_matchRuns);
    }
    LogRenderer::setLayeredRuns(style, terminal, m_matchRuns);
    return !m_matchRuns.empty();
}

void LogView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    SettingsStore& settings = SettingsStore::instance();
    const ColorRef backgroundColor = settings.dword(Setting::BackgroundColor);
    const QColor background = quill::colorFromRef(backgroundColor);
    const QRect area = event->rect();
    // Erased in strips: Qt hands a fill of a large area to its thread pool, and waking
    // the workers costs more than the fill itself at this size.
    auto erase = [&](int top, int bottom) {
        const int strip = 16;
        for (; top < bottom; top += strip) {
            painter.fillRect(QRect(area.left(), top, area.width(), std::min(strip, bottom - top)),
                             background);
        }
    };
    if (m_document == nullptr) {
        erase(area.top(), area.bottom() + 1);
        return;
    }
    if (m_wrap) {
        paintWrapped(painter, area);
        return;
    }

    // What the rows need is taken under the lock; they are drawn without it, so the
    // watcher never waits for glyphs to be drawn. The texts are views into the document's
    // decoded window: the watcher only narrows that window and never touches a decoded
    // row, and nothing on this thread calls the document until the rows are drawn.
    std::vector<PaintRow>& rows = m_paintRows;
    rows.clear();
    const qint64 shownX = scrollX();
    const int height = static_cast<int>(m_lineHeight);
    AlertRule alert(m_sound != nullptr ? *m_sound : silentSound());
    DocSelection selection;
    {
        std::lock_guard lock(m_document->docAccess());
        const std::uint32_t lines = m_document->lineCount();
        if (lines > 0) {
            const ColorRef textColor = settings.dword(Setting::TextColor);
            const int scrollY = verticalScrollBar()->value();
            std::uint32_t first = firstVisibleLine();
            const std::uint32_t visible = visibleRowCount();
            // When the text shrank under the view, the last rows are shown from the top until
            // the scroll range catches up.
            bool shrunk = false;
            if (first == lines && visible > 1) {
                first = first >= visible - 1 ? first - visible + 1 : 0;
                shrunk = true;
            }
            // Rows outside the exposed rectangle are neither fetched nor matched, so a scroll
            // by a few rows repaints only the rows it uncovered.
            std::uint32_t from = first;
            std::uint32_t to = std::min<std::uint64_t>(lines, std::uint64_t(first) + visible + 1);
            if (height > 0 && !shrunk) {
                const int top = (area.top() + scrollY) / height;
                const int bottom = (area.bottom() + scrollY) / height + 1;
                from = std::max<std::uint32_t>(from, static_cast<std::uint32_t>(std::max(0, top)));
                to = std::min<std::uint32_t>(to, static_cast<std::uint32_t>(std::max(0, bottom)));
            }

            selection = m_document->selection();
            const LineMarks& marks = m_document->marks();
            alert.beginPaint(m_document->newTextArrived());
            focusLongLines();
            // Every row is fetched before any view of one is kept, since a fetch may move
            // the window; a window narrower than the rows (a very tall view in a tiny font)
            // moves again, and then each row's text is copied instead.
            for (std::uint32_t i = from; i < to; ++i) {
                (void)m_document->lineView(i);
            }
            const LineNumber windowFirst = m_document->windowFirst();
            const LineNumber windowEnd = m_document->windowEnd();
            bool copied = false;
            for (std::uint32_t i = from; i < to; ++i) {
                const LogDocument::LinePart part = m_document->linePart(i);
                std::u16string_view line = part.text;
                if (copied || m_document->windowFirst() != windowFirst ||
                    m_document->windowEnd() != windowEnd) {
                    if (!copied) {
                        for (PaintRow& row : rows) {
                            row.copy.assign(m_document->lineView(LineNumber(row.line)));
                            row.text = row.copy;
                        }
                        copied = true;
                        line = m_document->lineView(i);
                    }
                }
                ColorRef textRef = textColor;
                ColorRef backRef = backgroundColor;
                bool matched = false;
                m_document->keywordColors(line, textRef, backRef, matched);
                const int y = shrunk ? static_cast<int>(i - first) * height
                                     : static_cast<int>(static_cast<qint64>(i) * height - scrollY);
                rows.push_back({line,
                                {},
                                LogRenderer::rowStyle(textColor, backgroundColor, matched, textRef,
                                                      backRef, selection, i),
                                y,
                                i});
                PaintRow& added = rows.back();
                if (part.isLong()) {
                    // A part of a long line: drawn from the x of its first column.
                    added.originX = longX(part.first);
                    added.firstColumn = qsizetype(part.first);
                    shiftSelection(added.style, part);
                }
                const bool marked =
                    lineRuns(line, i, matched, shownX - added.originX + area.left(),
                             shownX - added.originX + area.right() + 1, added.style);
                alert.lineDrawn(matched || marked);
                if (!marks.isEmpty() && marks.isMarked(i)) {
                    LogRenderer::RowStyle& style = rows.back().style;
                    style.background = markedBackground(style.background);
                    style.rest = markedBackground(style.rest);
                    style.fillBackground = true;
                }
                if (!m_findHighlight.isEmpty()) {
                    qsizetype seenFrom = 0;
                    qsizetype seenTo = 0;
                    m_renderer.visibleRange(
                        toQStringView(line), shownX - added.originX + area.left(),
                        shownX - added.originX + area.right() + 1, seenFrom, seenTo);
                    m_findHighlight.apply(line, seenFrom, seenTo, rows.back().style);
                }
                if (copied) {
                    rows.back().copy.assign(line);
                    rows.back().text = rows.back().copy;
                }
            }
            if (alert.newTextWasArrived()) {
                m_document->setNewTextArrived(false);
            }
        }
    }
    // The rows painted fill their own background across the exposed width, so only the
    // band above and below them is erased: every pixel is written once.
    for (const PaintRow& row : rows) {
        m_renderer.paintRow(painter, row.y, shownX - row.originX, area.left(), area.right() + 1,
                            toQStringView(row.text), row.style);
    }
    const bool drewLines = !rows.empty();
    const int rowsTop = drewLines ? rows.front().y : area.top();
    const int rowsBottom = drewLines ? rows.back().y + height : area.top();
    rows.clear();
    // Outside the lock: starting a sound may take the sound server's time.
    alert.soundDue();
    erase(area.top(), std::min(rowsTop, area.bottom() + 1));
    erase(std::max(rowsBottom, area.top()), area.bottom() + 1);

    if (drewLines && !m_firstLinesTraced) {
        // Start-up time as the user sees it, for diagnosis and the start-up benchmark.
        m_firstLinesTraced = true;
        TraceLog::instance().line(TraceLog::LevelInfo, "First lines painted");
    }
    if (m_caretShown && m_caretOn && hasFocus()) {
        painter.fillRect(caretRect(), quill::colorFromRef(settings.dword(Setting::TextColor)));
    }
    painter.end();

    // The paint may have moved the document's decoded window and with it the longest line;
    // the new scroll sizes are applied after this paint, not inside it.
    if (drewLines && !m_measureQueued) {
        m_measureQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_measureQueued = false;
                const QSize before = m_contentSize;
                const QSize stepBefore = m_lineStep;
                measure();
                if (before != m_contentSize || stepBefore != m_lineStep) {
                    viewport()->update();
                }
            },
            Qt::QueuedConnection);
    }
}

void LogView::paintWrapped(QPainter& painter, const QRect& area)
{
    SettingsStore& settings = SettingsStore::instance();
    const ColorRef backgroundColor = settings.dword(Setting::BackgroundColor);
    const ColorRef textColor = settings.dword(Setting::TextColor);
    const QColor background = quill::colorFromRef(backgroundColor);
    const int height = static_cast<int>(m_lineHeight);
    std::vector<PaintRow>& rows = m_paintRows;
    rows.clear();
    AlertRule alert(m_sound != nullptr ? *m_sound : silentSound());
    DocSelection selection;
    m_wrapCaret = QRect();
    // Room around a row for a find-text occurrence that reaches into it, and the character
    // before that which decides a whole word.
    const qsizetype context = qsizetype(m_highlightPattern.size()) + 1;
    {
        // As the unwrapped paint: what the rows need is taken under the lock, as views into
        // the decoded window (a huge line is never copied), and drawn after it.
        std::lock_guard lock(m_document->docAccess());
        if (m_document->lineCount() > 0) {
            focusLongLines();
            syncWrapGeometry();
            const std::vector<WrapScroller::Row> screen = m_wrapScroller->rows();
            selection = m_document->selection();
            const LineMarks& marks = m_document->marks();
            alert.beginPaint(m_document->newTextArrived());
            // A long line's rows are columns of it: only the columns of its rows on screen
            // are decoded, with the context around them.
            std::vector<std::pair<std::size_t, std::pair<qsizetype, qsizetype>>> longRows;
            for (const WrapScroller::Row& row : screen) {
                if (!m_lines.rowColumns(row.item)) {
                    continue;
                }
                if (longRows.empty() || longRows.back().first != row.item) {
                    longRows.push_back({row.item, {row.start, row.end}});
                }
                longRows.back().second.second = row.end;
            }
            auto shownLine = [&](LineNumber index) {
                for (const auto& [item, columns] : longRows) {
                    if (item == index) {
                        const qsizetype first = std::max<qsizetype>(0, columns.first - context);
                        const LogDocument::LinePart part = m_document->longLineColumnsPart(
                            index, first, columns.second + context - first);
                        if (part.isLong()) {
                            return part;
                        }
                    }
                }
                return LogDocument::LinePart{m_document->lineView(index), 0, -1};
            };
            for (const WrapScroller::Row& row : screen) {
                if (row.item != std::size_t(m_caretLine)) {
                    continue;
                }
                const LogDocument::LinePart shownPart = shownLine(LineNumber(row.item));
                const std::u16string_view line = shownPart.text;
                const qsizetype origin = qsizetype(shownPart.first);
                const qsizetype length =
                    shownPart.isLong() ? qsizetype(shownPart.columns) : qsizetype(line.size());
                const qsizetype c = m_caretChar;
                if (row.start <= c && (c < row.end || row.end >= length)) {
                    auto local = [&](qsizetype column) {
                        return std::clamp<qsizetype>(column - origin, 0, qsizetype(line.size()));
                    };
                    const QStringView part(line.data() + local(row.start),
                                           local(row.end) - local(row.start));
                    m_caretDocX = static_cast<int>(std::min<qint64>(
                        m_renderer.prefixWidth(part, local(c) - local(row.start)), INT_MAX / 2));
                    m_wrapCaret = QRect(m_caretDocX, row.y, CaretWidth, height);
                }
            }
            std::size_t from = 0;
            while (from < screen.size() && screen[from].y + height <= area.top()) {
                ++from;
            }
            std::size_t to = from;
            while (to < screen.size() && screen[to].y <= area.bottom()) {
                ++to;
            }
            for (std::size_t k = from; k < to; ++k) {
                (void)shownLine(LineNumber(screen[k].item));
            }
            const LineNumber windowFirst = m_document->windowFirst();
            const LineNumber windowEnd = m_document->windowEnd();
            const bool matchOnly =
                std::any_of(m_document->keywords().begin(), m_document->keywords().end(),
                            [](const Keyword& k) { return k.enabled && k.matchOnly; });
            bool copied = false;
            std::size_t colouredLine = SIZE_MAX;
            ColorRef textRef = textColor;
            ColorRef backRef = backgroundColor;
            bool matched = false;
            LogDocument::LinePart linePart;
            auto keep = [&](PaintRow& row, std::u16string_view line) {
                const qsizetype begin = std::max<qsizetype>(0, row.start - context);
                const qsizetype stop =
                    std::min<qsizetype>(qsizetype(line.size()), row.end + context);
                row.copy.assign(line.substr(std::size_t(begin), std::size_t(stop - begin)));
                row.text = row.copy;
                row.from = begin;
            };
            for (std::size_t k = from; k < to; ++k) {
                WrapScroller::Row shown = screen[k];
                const LineNumber index = LineNumber(shown.item);
                linePart = shownLine(index);
                if (!copied && (m_document->windowFirst() != windowFirst ||
                                m_document->windowEnd() != windowEnd)) {
                    for (PaintRow& row : rows) {
                        keep(row, shownLine(row.line).text);
                    }
                    copied = true;
                    linePart = shownLine(index);
                }
                const std::u16string_view line = linePart.text;
                // From here on the row counts in the text it has: a long line's part.
                const qsizetype origin = qsizetype(linePart.first);
                shown.start =
                    std::clamp<qsizetype>(shown.start - origin, 0, qsizetype(line.size()));
                shown.end =
                    std::clamp<qsizetype>(shown.end - origin, shown.start, qsizetype(line.size()));
                if (colouredLine != shown.item) {
                    colouredLine = shown.item;
                    textRef = textColor;
                    backRef = backgroundColor;
                    matched = false;
                    m_document->keywordColors(line, textRef, backRef, matched);
                }
                rows.push_back({line,
                                {},
                                LogRenderer::rowStyle(textColor, backgroundColor, matched, textRef,
                                                      backRef, selection, index),
                                shown.y,
                                index,
                                0,
                                shown.start,
                                shown.end});
                PaintRow& row = rows.back();
                if (linePart.isLong()) {
                    row.firstColumn = origin;
                    shiftSelection(row.style, linePart);
                }
                // A whole-line keyword wins over the terminal's colours; keywords that colour
                // their matches lie over both.
                const std::size_t start = std::size_t(shown.start);
                const std::size_t end = std::size_t(shown.end);
                m_matchRuns.clear();
                if (matchOnly) {
                    m_document->matchRuns(line, start, end, m_matchRuns);
                }
                LogRenderer::setLayeredRuns(
                    row.style,
                    matched || !m_document->terminalColors()
                        ? m_noRuns
                        : runsWithin(m_document->lineRuns(index), start, end),
                    runsWithin(m_matchRuns, start, end));
                if (!m_findHighlight.isEmpty()) {
                    m_findHighlight.apply(line, shown.start, shown.end, row.style);
                }
                LogRenderer::clipToPart(row.style, shown.start, shown.end);
                alert.lineDrawn(matched || !m_matchRuns.empty());
                if (!marks.isEmpty() && marks.isMarked(index)) {
                    row.style.background = markedBackground(row.style.background);
                    row.style.rest = markedBackground(row.style.rest);
                    row.style.fillBackground = true;
                }
                if (copied) {
                    keep(row, line);
                }
            }
            if (alert.newTextWasArrived()) {
                m_document->setNewTextArrived(false);
            }
        }
    }
    for (const PaintRow& row : rows) {
        const std::u16string_view part =
            row.text.substr(std::size_t(row.start - row.from), std::size_t(row.end - row.start));
        m_renderer.paintRow(painter, row.y, 0, area.left(), area.right() + 1, toQStringView(part),
                            row.style);
    }
    const bool drewLines = !rows.empty();
    const int rowsTop = drewLines ? rows.front().y : area.top();
    const int rowsBottom = drewLines ? rows.back().y + height : area.top();
    rows.clear();
    alert.soundDue();
    eraseStrips(painter, area, area.top(), std::min(rowsTop, area.bottom() + 1), background);
    eraseStrips(painter, area, std::max(rowsBottom, area.top()), area.bottom() + 1, background);
    if (drewLines && !m_firstLinesTraced) {
        m_firstLinesTraced = true;
        TraceLog::instance().line(TraceLog::LevelInfo, "First lines painted");
    }
    if (m_caretShown && m_caretOn && hasFocus() && m_wrapCaret.isValid()) {
        painter.fillRect(m_wrapCaret, quill::colorFromRef(textColor));
    }
}
