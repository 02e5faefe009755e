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

// A scroll of the user's own that ends this close to the end counts as ending there.
constexpr int FollowSlack = 5;
// Horizontal page = this many horizontal line steps.
constexpr int HorizontalPageSteps = 50;
// The platform's default caret width (the window border width).
constexpr int CaretWidth = 1;
// A drag held beyond the top or bottom edge scrolls one line this often.
constexpr int AutoScrollIntervalMs = 40;

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

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("logView"));
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBar(new LogScrollBar(Qt::Horizontal, this));
    setVerticalScrollBar(new LogScrollBar(Qt::Vertical, this));
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    connect(verticalScrollBar(), &QScrollBar::sliderMoved, this, &LogView::onVerticalSliderMoved);
    // Before the follower: the bar's own row steps are decided before it judges them.
    m_wrapScroller = new WrapScroller(verticalScrollBar(), FollowSlack, this);
    m_follower = new EndFollower(verticalScrollBar(), FollowSlack, this);
    m_wrapScroller->setFollower(m_follower);
    m_wrapScroller->setSource(&m_rows);
    connect(m_wrapScroller, &WrapScroller::placeChanged, this, [this] {
        viewport()->update();
        if (m_gutter->isVisible()) {
            m_gutter->update();
        }
    });
    m_gutter = new LineGutter(this);
    m_gutter->hide();
    m_overview = new OverviewStrip(this);
    m_overview->hide();
}

LogView::~LogView()
{
    // Their workers post to this view: they end before the view does.
    m_keywordLines.reset();
    m_findLines.reset();
    // PRIMARY data offered earlier may be asked for after the view has gone.
    if (m_textSource) {
        m_textSource->detach();
    }
}

void LogView::setDocument(LogDocument* document)
{
    if (m_textSource) {
        m_textSource->detach();
    }
    m_keywordLines.reset();
    m_findLines.reset();
    m_pendingKeywordJump.reset();
    m_document = document;
    m_textSource = std::make_shared<SelectionTextSource>(document);
    m_seenGeneration = document != nullptr ? document->contentGeneration() : 0;
    m_wrapGeneration = m_seenGeneration;
    m_wrapScroller->reset();
    m_mouse.Reset();
}

bool LogView::isFollowing() const
{
    return m_follower->following();
}

std::uint32_t LogView::visibleRowCount() const
{
    const int height = viewport()->height();
    if (height <= 0 || m_lineHeight == 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(static_cast<double>(height) / m_lineHeight + 0.5);
}

std::uint32_t LogView::firstVisibleLine() const
{
    if (m_wrap) {
        int pixel = 0;
        return m_document != nullptr
                   ? static_cast<std::uint32_t>(m_wrapScroller->shownTop(pixel).item)
                   : 0;
    }
    return m_lineHeight == 0
               ? 0
               : static_cast<std::uint32_t>(verticalScrollBar()->value()) / m_lineHeight;
}

void LogView::initialUpdate()
{
    updateFromDocument();
    setupFont(true);
    horizontalScrollBar()->setValue(0);
    measure();
    // Opening a file (a reload too) puts the user at its end.
    m_follower->arrive();
    keepPlace();
    createCaret();
}

void LogView::updateFromDocument()
{
    if (m_document == nullptr) {
        return;
    }
    const std::uint32_t lines = m_document->lineCount();
    if (m_document->contentGeneration() != m_seenGeneration) {
        // The lines were replaced: a drag over the old ones must not go on over the new.
        m_seenGeneration = m_document->contentGeneration();
        m_mouse.Reset();
        m_autoScrollTimer.stop();
        releasePrimaryOf(m_textSource.get());
    }
    setupFont(false);
    // Another window or tab may have switched the gutter since this view last looked.
    m_lineNumbers = SettingsStore::instance().boolValue(Setting::LineNumbers);
    m_overviewShown = SettingsStore::instance().boolValue(Setting::OverviewStrip);
    setWrapLines(SettingsStore::instance().boolValue(Setting::WrapLongLines));
    if (m_overviewShown || m_keywordLines) {
        ensureKeywordLines().sync();
        m_overview->update();
    }
    syncFindLines();
    measure();
    keepPlace();
    createCaret();
    emit statusChanged(m_document->fileSizeBytes(), lines);
    viewport()->update();
}

void LogView::setupFont(bool allowDefault)
{
    SettingsStore& settings = SettingsStore::instance();
    if (!settings.boolValue(Setting::IsTextFontSet) && allowDefault) {
        const LogFontRecord record = LogRenderer::defaultFontRecord(logicalDpiY());
        settings.setFont(Setting::TextFont, record);
        settings.setBool(Setting::IsTextFontSet, true);
    }
    if (settings.boolValue(Setting::IsTextFontSet)) {
        const std::optional<ByteBlock> bytes = settings.font(Setting::TextFont);
        if (bytes && bytes->size() == sizeof(LogFontRecord)) {
            LogFontRecord record;
            std::memcpy(&record, bytes->data(), sizeof record);
            const QFont font = LogRenderer::fontFromRecord(record);
            if (font != m_renderer.font()) {
                m_renderer.setFont(font);
                m_haveMeasured = false;
            }
        }
    }
}

qint64 LogView::longestLineWidth(std::u16string_view line, const LogDocument::LongestLineKey& key)
{
    // Measuring walks the whole line; a line of hundreds of megabytes would cost a second
    // on every paint, and one that grows by small appends a walk per append.
    if (m_haveMeasured && key == m_measuredKey) {
        return m_measuredWidth;
    }
    const QStringView text(line.data(), static_cast<qsizetype>(line.size()));
    qsizetype from = 0;
    qint64 x = 0;
    if (m_haveMeasured && key.generation == m_measuredKey.generation &&
        key.line == m_measuredKey.line && key.length > m_measuredKey.length) {
        from = m_resumeIndex;
        x = m_resumeX;
    }
    qsizetype resume = std::max<qsizetype>(from, static_cast<qsizetype>(key.stable));
    resume = std::min(resume, text.size());
    if (resume > 0 && resume < text.size() && QChar::isLowSurrogate(text[resume].unicode()) &&
        QChar::isHighSurrogate(text[resume - 1].unicode())) {
        --resume;
    }
    m_resumeX = m_renderer.continueWidth(text, from, x, resume);
    m_resumeIndex = resume;
    m_measuredWidth = m_renderer.continueWidth(text, resume, m_resumeX, text.size());
    m_measuredKey = key;
    m_haveMeasured = true;
    return m_measuredWidth;
}

qint64 LogView::scrollX() const
{
    return qint64(horizontalScrollBar()->value()) * m_horizontalScale;
}

qint64 LogView::longX(std::int64_t column) const
{
    return qint64(column) * m_renderer.averageCharWidth();
}

void LogView::focusLongLines()
{
    // Wrapped, a long line shows the part at its start: its rows are laid out from there.
    const int average = std::max(1, m_renderer.averageCharWidth());
    m_document->setLongLineFocus(m_wrap ? 0 : scrollX() / average);
}

qint64 LogView::columnX(const LogDocument::LinePart& part, qsizetype column) const
{
    if (!part.isLong()) {
        return m_renderer.prefixWidth(toQStringView(part.text), column);
    }
    const qsizetype inPart = column - qsizetype(part.first);
    if (inPart < 0 || inPart > qsizetype(part.text.size())) {
        return longX(column); // outside the part decoded: where the columns put it
    }
    return longX(part.first) + m_renderer.prefixWidth(toQStringView(part.text), inPart);
}

void LogView::shiftSelection(LogRenderer::RowStyle& style, const LogDocument::LinePart& part)
{
    if (!style.hasSelection) {
        return;
    }
    const qsizetype first = qsizetype(part.first);
    const qsizetype size = qsizetype(part.text.size());
    ColumnSpan& span = style.selection;
    const bool toEnd = span.last < 0;
    if ((!toEnd && span.last < first) ||
        (span.first >= first + size && (!toEnd || first + size < qsizetype(part.columns)))) {
        style.hasSelection = false; // entirely outside the part
        return;
    }
    span.first = std::max<qsizetype>(0, span.first - first);
    if (!toEnd) {
        span.last -= first;
    }
}

void LogView::measure()
{
    if (m_document == nullptr) {
        return;
    }
    // A new font changes the row height: a user who is not at the end keeps the line
    // that was at the top, not the pixel offset.
    const std::uint32_t topLine = m_wrap ? 0 : firstVisibleLine();
    const std::uint32_t heightBefore = m_lineHeight;
    placeGutter();

    qint64 width = 0;
    std::size_t longestLength = 0;
    if (!m_wrap) {
        // The longest line is measured where the document holds it, not copied.
        std::lock_guard lock(m_document->docAccess());
        LogDocument::LongestLineKey key;
        const std::u16string_view longest = m_document->longestLineView(key);
        width = longestLineWidth(longest, key);
        longestLength = longest.size();
        // A long line's width is counted from its columns, never measured.
        const std::int64_t longColumns = m_document->longestLongLineColumns();
        const qint64 longWidth = qint64(longColumns) * m_renderer.averageCharWidth();
        if (longWidth > width) {
            width = longWidth;
            longestLength = std::size_t(longColumns);
        }
    }
    const int height = m_renderer.lineHeight();
    m_lineHeight = static_cast<std::uint32_t>(height);
    const qint64 lines = m_document->lineCount();
    const qint64 contentHeight = std::min<qint64>(INT_MAX, lines * height);
    m_contentWidth = width;
    m_contentSize =
        QSize(static_cast<int>(std::min<qint64>(INT_MAX, width)), static_cast<int>(contentHeight));
    if (m_wrap) {
        m_lineStep = QSize(0, height);
    } else if (longestLength == 0) {
        m_lineStep = QSize(0, 0);
    } else {
        m_lineStep = QSize(static_cast<int>(width / static_cast<qint64>(longestLength)), height);
    }
    const int rows = static_cast<int>(visibleRowCount());
    m_pageStep = QSize(HorizontalPageSteps * m_lineStep.width(),
                       std::max(0, rows - 1) * m_lineStep.height());
    applyScrollSizes();
    if (!m_wrap && heightBefore != 0 && heightBefore != m_lineHeight && !m_follower->following()) {
        m_follower->anchor(
            static_cast<int>(std::min<qint64>(qint64(topLine) * m_lineHeight, INT_MAX)));
    }
    keepPlace();
}

void LogView::applyScrollSizes()
{
    const QSize client = viewport()->size();
    QScrollBar* horizontal = horizontalScrollBar();
    QScrollBar* vertical = verticalScrollBar();
    if (m_wrap) {
        m_horizontalScale = 1;
        horizontal->setRange(0, 0);
        syncWrapGeometry();
        m_wrapScroller->sync();
        return;
    }
    const qint64 range = std::max<qint64>(0, m_contentWidth - client.width());
    const qint64 scale = range > MaxBarRange ? (range + MaxBarRange - 1) / MaxBarRange : 1;
    const qint64 shownX = scrollX();
    m_horizontalScale = scale;
    horizontal->setRange(0, static_cast<int>((range + scale - 1) / scale));
    horizontal->setSingleStep(static_cast<int>(std::max<qint64>(1, m_lineStep.width() / scale)));
    horizontal->setPageStep(static_cast<int>(std::max<qint64>(1, client.width() / scale)));
    if (scrollX() != shownX) {
        horizontal->setValue(static_cast<int>(std::min<qint64>(shownX / scale, INT_MAX)));
    }
    vertical->setRange(0, std::max(0, m_contentSize.height() - client.height()));
    vertical->setSingleStep(std::max(1, m_lineStep.height()));
    vertical->setPageStep(
        std::max(1, m_pageStep.height() > 0 ? m_pageStep.height() : client.height()));
}

void LogView::scrollToEnd()
{
    m_follower->arrive();
    keepPlace();
}

void LogView::resetScroll()
{
    m_contentSize = QSize(0, 0);
    m_pageStep = QSize(0, 0);
    m_lineStep = QSize(0, 0);
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    m_wrapScroller->reset();
    // Clear: what is shown from now on is new text, and the user sees it arrive.
    m_follower->arrive();
    keepPlace();
}

void LogView::onScroll(ScrollCode horizontal, ScrollCode vertical, int trackPos)
{
    auto target = [&](ScrollCode code, int current, int line, int page, int track) -> int {
        switch (code) {
        case ScrollCode::LineUp:
            return current - line;
        case ScrollCode::LineDown:
            return current + line;
        case ScrollCode::PageUp:
            return current - page;
        case ScrollCode::PageDown:
            return current + page;
        case ScrollCode::Top:
            return 0;
        case ScrollCode::Bottom:
            return INT_MAX;
        case ScrollCode::ThumbTrack:
            return track;
        case ScrollCode::None:
        case ScrollCode::EndScroll:
            break;
        }
        return current;
    };
    if (vertical == ScrollCode::ThumbTrack && trackPos == 0) {
        vertical = ScrollCode::Top;
    }
    if (vertical == ScrollCode::Top) {
        m_caretLine = 0;
        m_caretChar = 0;
        m_caretDocX = 0;
        if (m_document != nullptr) {
            m_document->setFindPosition(0, 0);
        }
        viewport()->update(caretRect());
    }
    if (m_wrap && vertical != ScrollCode::ThumbTrack) {
        // Rows, not pixels; nothing to scroll sideways.
        const qint64 page = std::max<qint64>(1, qint64(visibleRowCount()) - 1);
        switch (vertical) {
        case ScrollCode::LineUp:
            m_wrapScroller->scrollRows(-1);
            break;
        case ScrollCode::LineDown:
            m_wrapScroller->scrollRows(1);
            break;
        case ScrollCode::PageUp:
            m_wrapScroller->scrollRows(-page);
            break;
        case ScrollCode::PageDown:
            m_wrapScroller->scrollRows(page);
            break;
        case ScrollCode::Top:
            m_wrapScroller->scrollToTop();
            break;
        case ScrollCode::Bottom:
            m_wrapScroller->scrollToEnd();
            break;
        case ScrollCode::ThumbTrack:
        case ScrollCode::None:
        case ScrollCode::EndScroll:
            break;
        }
        return;
    }
    QScrollBar* hbar = horizontalScrollBar();
    QScrollBar* vbar = verticalScrollBar();
    const int x = horizontalTarget(horizontal, trackPos);
    const int y =
        target(vertical, vbar->value(), m_lineStep.height(), m_pageStep.height(), trackPos);
    hbar->setValue(std::clamp(x, hbar->minimum(), hbar->maximum()));
    vbar->setValue(std::clamp(y, vbar->minimum(), vbar->maximum()));
    if (vertical != ScrollCode::None && vertical != ScrollCode::EndScroll) {
        m_follower->userScrolled();
    }
}

int LogView::horizontalTarget(ScrollCode code, int track) const
{
    // Steps are pixels of the document; the bar counts in units of horizontalScale().
    const int value = horizontalScrollBar()->value();
    qint64 delta = 0;
    switch (code) {
    case ScrollCode::LineUp:
        delta = -m_lineStep.width();
        break;
    case ScrollCode::LineDown:
        delta = m_lineStep.width();
        break;
    case ScrollCode::PageUp:
        delta = -qint64(m_pageStep.width());
        break;
    case ScrollCode::PageDown:
        delta = m_pageStep.width();
        break;
    case ScrollCode::Top:
        return 0;
    case ScrollCode::Bottom:
        return INT_MAX;
    case ScrollCode::ThumbTrack:
        return track;
    case ScrollCode::None:
    case ScrollCode::EndScroll:
        return value;
    }
    qint64 units = delta / m_horizontalScale;
    if (units == 0 && delta != 0) {
        units = delta < 0 ? -1 : 1;
    }
    return static_cast<int>(std::clamp<qint64>(value + units, INT_MIN, INT_MAX));
}

void LogView::onVerticalSliderMoved(int value)
{
    // Dragging the thumb to the very top is the "top" request, caret and find position
    // included.
    if (value == 0) {
        onScroll(ScrollCode::None, ScrollCode::Top);
    }
}

void LogView::scrollContentsBy(int dx, int dy)
{
    if (m_wrap) {
        // The bar's value names a place, not a distance in pixels.
        viewport()->update();
        if (m_gutter->isVisible()) {
            m_gutter->update();
        }
        return;
    }
    viewport()->scroll(dx, dy);
    if (dy != 0 && m_gutter->isVisible()) {
        m_gutter->scroll(0, dy);
    }
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    placeGutter();
    applyScrollSizes();
    keepPlace();
}

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
                    [](const Keyword& k) { return k.m_enabled && k.m_matchOnly; })) {
        qsizetype from = 0;
        qsizetype to = 0;
        m_renderer.visibleRange(toQStringView(line), left, right, from, to);
        m_document->matchRuns(line, std::size_t(from), std::size_t(to), m_matchRuns);
    }
    if (!terminal.empty() || !m_matchRuns.empty()) {
        LogRenderer::setRuns(style,
                             m_matchRuns.empty() ? terminal : overlayRuns(terminal, m_matchRuns));
    }
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
                if (!marks.Empty() && marks.isMarked(i)) {
                    LogRenderer::RowStyle& style = rows.back().style;
                    style.background = markedBackground(style.background);
                    style.rest = markedBackground(style.rest);
                    style.fillBackground = true;
                }
                if (!m_findHighlight.Empty()) {
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
        TraceLog::instance().Line(TraceLog::LevelInfo, "First lines painted");
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

void LogView::keyPressEvent(QKeyEvent* event)
{
    // The Ctrl state is taken from the event itself: a Ctrl released while another window
    // had the focus would otherwise leave the view believing it is still held.
    m_ctrlHeld = event->modifiers().testFlag(Qt::ControlModifier);
    switch (event->key()) {
    case Qt::Key_Control:
        m_ctrlHeld = true;
        break;
    case Qt::Key_Escape:
        // Escape ends the find highlight; without one it means nothing to the view.
        if (m_highlightText.empty()) {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        clearFindHighlight();
        break;
    case Qt::Key_PageUp:
        onScroll(ScrollCode::None, ScrollCode::PageUp);
        break;
    case Qt::Key_PageDown:
        onScroll(ScrollCode::None, ScrollCode::PageDown);
        break;
    case Qt::Key_Home:
        if (m_ctrlHeld) {
            onScroll(ScrollCode::None, ScrollCode::Top);
        } else {
            onScroll(ScrollCode::Top, ScrollCode::None);
        }
        break;
    case Qt::Key_End:
        if (m_ctrlHeld) {
            onScroll(ScrollCode::None, ScrollCode::Bottom);
        } else {
            onScroll(ScrollCode::Bottom, ScrollCode::None);
        }
        break;
    case Qt::Key_Left:
        onScroll(ScrollCode::LineUp, ScrollCode::None);
        break;
    case Qt::Key_Right:
        onScroll(ScrollCode::LineDown, ScrollCode::None);
        break;
    case Qt::Key_Up:
        onScroll(ScrollCode::None, ScrollCode::LineUp);
        break;
    case Qt::Key_Down:
        onScroll(ScrollCode::None, ScrollCode::LineDown);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void LogView::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Control) {
        m_ctrlHeld = false;
    }
    QAbstractScrollArea::keyReleaseEvent(event);
}

void LogView::wheelEvent(QWheelEvent* event)
{
    event->accept();
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) {
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        return;
    }
    const bool hasVertical = verticalScrollBar()->maximum() > 0;
    const bool hasHorizontal = horizontalScrollBar()->maximum() > 0;
    if (!hasVertical && !hasHorizontal) {
        return;
    }
    if (m_wrap) {
        const qint64 page = std::max<qint64>(1, qint64(visibleRowCount()) - 1);
        const int wheelRows = QApplication::wheelScrollLines();
        qint64 rows = 0;
        if (wheelRows <= 0 || wheelRows >= INT_MAX / 120) {
            rows = delta > 0 ? -page : page;
        } else {
            rows = std::min<qint64>(std::lround(-static_cast<double>(delta) * wheelRows / 120.0),
                                    page);
        }
        m_wrapScroller->scrollRows(rows);
        viewport()->repaint();
        return;
    }
    QScrollBar* bar = hasVertical ? verticalScrollBar() : horizontalScrollBar();
    const int line = hasVertical ? m_lineStep.height() : m_lineStep.width();
    const int page = hasVertical ? m_pageStep.height() : m_pageStep.width();
    const int wheelLines = QApplication::wheelScrollLines();
    int displacement = 0;
    if (wheelLines <= 0 || wheelLines >= INT_MAX / 120) {
        // "One page per notch".
        displacement = delta > 0 ? -page : page;
    } else {
        const int toScroll =
            static_cast<int>(std::lround(-static_cast<double>(delta) * wheelLines / 120.0));
        displacement = std::min(toScroll * line, page);
    }
    if (!hasVertical && m_horizontalScale > 1) {
        displacement =
            static_cast<int>(displacement / m_horizontalScale) + (displacement < 0 ? -1 : 1);
    }
    bar->setValue(std::clamp(bar->value() + displacement, bar->minimum(), bar->maximum()));
    if (hasVertical) {
        m_follower->userScrolled();
    }
    viewport()->repaint();
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    // No panning mode; a drag selects from here.
    event->accept();
    if (m_document != nullptr && event->button() == Qt::LeftButton) {
        m_mouse.press(event->position().toPoint());
    }
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (m_document == nullptr || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_dragPoint = event->position().toPoint();
    const int height = viewport()->height();
    if (m_dragPoint.y() < 0 || m_dragPoint.y() >= height) {
        if (!m_autoScrollTimer.isActive()) {
            m_autoScrollTimer.start(AutoScrollIntervalMs, this);
        }
        // The selection follows to the edge row at once; the timer scrolls on.
        m_mouse.move(
            QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
        return;
    }
    m_autoScrollTimer.stop();
    m_mouse.move(m_dragPoint);
}

void LogView::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (m_document == nullptr || event->button() != Qt::LeftButton) {
        return;
    }
    m_autoScrollTimer.stop();
    m_mouse.release(event->position().toPoint(), event->modifiers().testFlag(Qt::ShiftModifier));
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (m_document == nullptr || event->button() != Qt::LeftButton) {
        return;
    }
    m_mouse.doubleClick(event->position().toPoint());
}

void LogView::dragAutoScroll()
{
    if (!m_mouse.isDragging() || !(QApplication::mouseButtons() & Qt::LeftButton)) {
        m_autoScrollTimer.stop();
        return;
    }
    const int height = viewport()->height();
    if (m_dragPoint.y() < 0) {
        onScroll(ScrollCode::None, ScrollCode::LineUp);
    } else if (m_dragPoint.y() >= height) {
        onScroll(ScrollCode::None, ScrollCode::LineDown);
    } else {
        m_autoScrollTimer.stop();
        return;
    }
    m_mouse.move(QPoint(m_dragPoint.x(), std::clamp(m_dragPoint.y(), 0, std::max(0, height - 1))));
}

LineNumber LogView::lineFromPoint(int y) const
{
    if (m_wrap) {
        const std::optional<WrapScroller::Row> row = m_wrapScroller->rowAt(std::max(0, y));
        if (!row) {
            return 0;
        }
        // Below the last row of the last line: the lines after it, as without wrapping.
        const LineNumber count = m_document != nullptr ? m_document->lineCount() : 0;
        const int below = std::max(0, y) - row->y;
        if (below >= int(m_lineHeight) && m_lineHeight > 0 && row->item + 1 == count) {
            std::lock_guard lock(m_document->docAccess());
            if (std::size_t(row->end) >= m_document->lineView(LineNumber(row->item)).size()) {
                return static_cast<LineNumber>(std::min<std::int64_t>(
                    std::int64_t(row->item) + below / m_lineHeight, UINT32_MAX));
            }
        }
        return static_cast<LineNumber>(row->item);
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
        const qsizetype start = std::clamp<qsizetype>(row->start - origin, 0, text.size());
        const qsizetype end = std::clamp<qsizetype>(row->end - origin, start, text.size());
        c = row->start + m_renderer.charAt(text.sliced(start, end - start), point.x());
        // Right of a row that the line goes on after: that row's last character (the blank
        // it broke at), not the next row's first.
        if (c >= row->end && row->end < length) {
            c = row->end - 1;
        }
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

bool LogView::viewportEvent(QEvent* event)
{
    // Qt would otherwise scroll horizontally on Shift+wheel; the view ignores such wheels.
    if (event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
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

void LogView::onResume()
{
    if (!canResume()) {
        return;
    }
    m_document->startWatching();
    m_follower->arrive();
    keepPlace();
}

void LogView::onPause()
{
    if (m_document != nullptr && m_document->isWatching()) {
        m_document->stopWatching();
    }
}

bool LogView::canResume() const
{
    // Without a path there is nothing to follow: resuming would start a watcher on nothing;
    // nor is there in a complete decompressed copy.
    return m_document != nullptr && !m_document->isWatching() && m_document->canFollow();
}

bool LogView::canPause() const
{
    return m_document != nullptr && m_document->isWatching();
}

void LogView::setLineNumbersShown(bool shown)
{
    if (shown == m_lineNumbers) {
        return;
    }
    m_lineNumbers = shown;
    measure();
    viewport()->update();
}

void LogView::placeGutter()
{
    const int width =
        m_lineNumbers && m_document != nullptr ? m_gutter->widthFor(m_document->lineCount()) : 0;
    const int strip = m_overviewShown && m_document != nullptr ? OverviewStrip::StripWidth : 0;
    if (viewportMargins().left() != width || viewportMargins().right() != strip) {
        setViewportMargins(width, 0, strip, 0);
    }
    const QRect port = viewport()->geometry();
    if (strip == 0) {
        m_overview->hide();
    } else {
        const QRect place(port.right() + 1, port.top(), strip, port.height());
        if (m_overview->geometry() != place) {
            m_overview->setGeometry(place);
        }
        m_overview->show();
    }
    if (width == 0) {
        m_gutter->hide();
        return;
    }
    const QRect place(port.left() - width, port.top(), width, port.height());
    if (m_gutter->geometry() != place) {
        m_gutter->setGeometry(place);
    }
    m_gutter->show();
    m_gutter->update();
}

void LogView::showLine(LineNumber line)
{
    if (m_document == nullptr) {
        return;
    }
    const LineNumber count = m_document->lineCount();
    if (count == 0) {
        return;
    }
    line = std::min(line, count - 1);
    setSelectionAndCaret(line, line, 0, -1);
    m_document->setFindPosition(line, 0);
    ensureSelectionVisible();
    viewport()->update();
}

void LogView::toggleMark(LineNumber line)
{
    if (m_document == nullptr || line >= m_document->lineCount()) {
        return;
    }
    m_document->marks().toggle(line);
    invalidateLines(line, line);
    m_gutter->update();
    if (m_overviewShown) {
        m_overview->update();
    }
    emit marksChanged();
}

void LogView::toggleMarkAtCaret()
{
    toggleMark(static_cast<LineNumber>(std::max(0, m_caretLine)));
}

bool LogView::jumpToMark(bool next)
{
    if (m_document == nullptr) {
        return false;
    }
    const LineMarks& marks = m_document->marks();
    // From the caret's line, so a jump after a click or a Find goes on from there.
    const LineNumber from = static_cast<LineNumber>(std::max(0, m_caretLine));
    const std::optional<LineNumber> target = next ? marks.next(from) : marks.previous(from);
    if (!target) {
        return false;
    }
    showLine(*target);
    return true;
}

void LogView::clearMarks()
{
    if (m_document == nullptr || m_document->marks().Empty()) {
        return;
    }
    m_document->marks().clear();
    viewport()->update();
    m_gutter->update();
    if (m_overviewShown) {
        m_overview->update();
    }
    emit marksChanged();
}

QColor LogView::markedBackground(const QColor& background)
{
    const QColor mark = markColor();
    auto mix = [](int under, int over) {
        return (under * (255 - MarkTintAlpha) + over * MarkTintAlpha + 127) / 255;
    };
    return QColor(mix(background.red(), mark.red()), mix(background.green(), mark.green()),
                  mix(background.blue(), mark.blue()));
}

void LogView::setFindHighlight(const std::u16string& text, unsigned flags)
{
    const unsigned kept = flags & (FR_MATCHCASE | FR_WHOLEWORD);
    if (text == m_highlightText && kept == m_highlightFlags) {
        return;
    }
    m_highlightText = text;
    m_highlightFlags = kept;
    m_highlightPattern = text;
    if (!(kept & FR_MATCHCASE)) {
        foldAsciiCase(m_highlightPattern);
    }
    m_findHighlight.set(text, kept);
    emit findHighlightChanged(text, kept);
    // Another text is another search: the lines of the old one go.
    m_findLines.reset();
    syncFindLines();
    viewport()->update();
}

void LogView::setOverviewShown(bool shown)
{
    if (shown == m_overviewShown) {
        return;
    }
    m_overviewShown = shown;
    if (shown && m_document != nullptr) {
        ensureKeywordLines().sync();
    }
    syncFindLines();
    measure();
    viewport()->update();
}

KeywordLines& LogView::ensureKeywordLines()
{
    if (!m_keywordLines) {
        // The worker only posts; the view is still there when the post arrives, because the
        // worker is joined before the view goes (and posts to a gone object are dropped).
        m_keywordLines = std::make_unique<KeywordLines>(*m_document, [this] {
            QMetaObject::invokeMethod(
                this, [this] { keywordLinesProgressed(); }, Qt::QueuedConnection);
        });
    }
    return *m_keywordLines;
}

void LogView::keywordLinesProgressed()
{
    if (m_overviewShown) {
        m_overview->update();
    }
    if (m_pendingKeywordJump) {
        const bool down = *m_pendingKeywordJump;
        m_pendingKeywordJump.reset();
        jumpToKeywordLine(down);
    }
}

void LogView::scrollToLine(LineNumber line)
{
    QScrollBar* vbar = verticalScrollBar();
    const qint64 rows = visibleRowCount();
    if (m_wrap) {
        if (m_document != nullptr && line < m_document->lineCount()) {
            m_wrapScroller->scrollToPlace({line, 0}, int(rows / 2));
        }
        return;
    }
    const qint64 y = (qint64(line) - rows / 2) * qint64(m_lineHeight);
    vbar->setValue(static_cast<int>(std::clamp<qint64>(y, 0, vbar->maximum())));
    m_follower->userScrolled();
}

bool LogView::jumpToKeywordLine(bool down)
{
    m_pendingKeywordJump.reset();
    if (m_document == nullptr) {
        return false;
    }
    const LineNumber count = m_document->lineCount();
    if (count == 0) {
        return false;
    }
    const LineNumber from =
        std::min<LineNumber>(static_cast<LineNumber>(std::max(0, m_caretLine)), count - 1);
    // The decoded window first: its lines cost nothing to look at, the open last line among
    // them, which the search leaves for later.
    std::optional<LineNumber> found;
    bool windowCoversRest = false;
    {
        std::lock_guard lock(m_document->docAccess());
        const LineNumber first = m_document->windowFirst();
        const LineNumber end = std::min(m_document->windowEnd(), count);
        auto coloured = [&](LineNumber line) {
            ColorRef text = 0;
            ColorRef back = 0;
            bool matched = false;
            m_document->keywordColors(m_document->lineView(line), text, back, matched);
            return matched;
        };
        if (down && from + 1 >= first && from < end) {
            for (LineNumber line = from + 1; line < end && !found; ++line) {
                found = coloured(line) ? std::optional(line) : std::nullopt;
            }
            windowCoversRest = end == count;
        } else if (!down && from >= first && from <= end && from > 0) {
            for (LineNumber line = from; line-- > first && !found;) {
                found = coloured(line) ? std::optional(line) : std::nullopt;
            }
            windowCoversRest = first == 0;
        }
    }
    if (!found && !windowCoversRest) {
        KeywordLines& lines = ensureKeywordLines();
        lines.sync();
        LineNumber line = 0;
        switch (lines.neighbour(from, down, line)) {
        case KeywordLines::Outcome::Found:
            found = line;
            break;
        case KeywordLines::Outcome::Pending:
            m_pendingKeywordJump = down;
            return true;
        case KeywordLines::Outcome::None:
            break;
        }
    }
    if (!found) {
        return false;
    }
    showLine(*found);
    return true;
}

void LogView::syncFindLines()
{
    if (m_document == nullptr || !m_overviewShown || m_highlightText.empty()) {
        m_findLines.reset();
        return;
    }
    if (!m_findLines) {
        const Keyword text(m_highlightText, 0, 0, (m_highlightFlags & FR_MATCHCASE) != 0, false,
                           true);
        m_findLines = std::make_unique<KeywordLines>(
            *m_document,
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { m_overview->update(); }, Qt::QueuedConnection);
            },
            [text] { return std::vector<Keyword>{text}; });
    }
    m_findLines->sync();
    m_overview->update();
}

std::size_t LogView::DocumentRows::itemCount()
{
    return m_view.m_document != nullptr ? m_view.m_document->lineCount() : 0;
}

QStringView LogView::DocumentRows::itemText(std::size_t item)
{
    const std::u16string_view text = m_view.m_document->lineView(LineNumber(item));
    return QStringView(text.data(), qsizetype(text.size()));
}

std::optional<std::int64_t> LogView::DocumentRows::itemColumns(std::size_t item)
{
    LogDocument& document = *m_view.m_document;
    if (!document.isLongLine(LineNumber(item))) {
        return std::nullopt;
    }
    return document.longLineTextColumns(LineNumber(item));
}

std::optional<std::uint64_t> LogView::DocumentRows::itemSizeHint(std::size_t item)
{
    if (m_view.m_document->isLongLine(LineNumber(item))) {
        return std::nullopt; // its rows are counted from its columns
    }
    // The line's bytes in the index: at least as many as its characters in UTF-8 and the
    // narrow sets, twice as many in UTF-16.
    const LogDocument& document = *m_view.m_document;
    const FileOffset bytes =
        document.lineStart(LineNumber(item) + 1) - document.lineStart(LineNumber(item));
    return std::uint64_t(std::max<FileOffset>(0, bytes)) / (document.isUtf16() ? 2 : 1);
}

std::recursive_mutex* LogView::DocumentRows::textLock()
{
    return m_view.m_document != nullptr ? &m_view.m_document->docAccess() : nullptr;
}

int LogView::wrapWidth() const
{
    // Room for the caret after a row's last character.
    return std::max(1, viewport()->width() - CaretWidth);
}

void LogView::syncWrapGeometry()
{
    if (!m_wrap) {
        return;
    }
    m_wrapScroller->setGeometry(&m_renderer, wrapWidth(), viewport()->height());
    if (m_document != nullptr && m_document->contentGeneration() != m_wrapGeneration) {
        // Other text under the same line numbers: its rows are laid out afresh, and a user
        // away from the end keeps the line.
        m_wrapGeneration = m_document->contentGeneration();
        m_wrapScroller->wrap().forget();
        m_wrapScroller->setTop({m_wrapScroller->userTop().item, 0}, 0);
    }
}

void LogView::keepPlace()
{
    if (m_wrap) {
        syncWrapGeometry();
        m_wrapScroller->sync();
    } else {
        m_follower->keep();
    }
}

const std::vector<WrapScroller::Row>& LogView::screenRows()
{
    static const std::vector<WrapScroller::Row> none;
    if (!m_wrap || m_document == nullptr) {
        return none;
    }
    return m_wrapScroller->rows();
}

void LogView::setWrapLines(bool wrap)
{
    if (wrap == m_wrap) {
        return;
    }
    QScrollBar* vbar = verticalScrollBar();
    const bool following = m_follower->following();
    if (wrap) {
        // The line at the top stays there, as far down as it was.
        const LineNumber top = firstVisibleLine();
        const int pixel = m_lineHeight > 0 ? vbar->value() % int(m_lineHeight) : 0;
        m_horizontalPolicy = horizontalScrollBarPolicy();
        m_wrapGeneration = m_document != nullptr ? m_document->contentGeneration() : 0;
        m_wrap = true;
        m_wrapScroller->setEnabled(true);
        syncWrapGeometry();
        m_wrapScroller->setTop({top, 0}, pixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        horizontalScrollBar()->setRange(0, 0);
        measure();
    } else {
        int pixel = 0;
        const WrapScroller::Place top = m_wrapScroller->shownTop(pixel);
        m_wrap = false;
        m_wrapScroller->setEnabled(false);
        setHorizontalScrollBarPolicy(m_horizontalPolicy);
        measure();
        if (!following) {
            const qint64 y = qint64(top.item) * m_lineHeight + (top.start == 0 ? pixel : 0);
            m_follower->anchor(static_cast<int>(std::min<qint64>(y, INT_MAX)));
        }
    }
    if (m_document != nullptr && m_caretLine < int(m_document->lineCount())) {
        placeCaret(LineNumber(m_caretLine), m_caretChar);
    }
    viewport()->update();
    m_gutter->update();
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
                if (!m_rows.itemColumns(row.item)) {
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
                            [](const Keyword& k) { return k.m_enabled && k.m_matchOnly; });
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
                StyleRuns runs = matched || !m_document->terminalColors()
                                     ? StyleRuns()
                                     : runsWithin(m_document->lineRuns(index),
                                                  std::size_t(shown.start), std::size_t(shown.end));
                m_matchRuns.clear();
                if (matchOnly) {
                    m_document->matchRuns(line, std::size_t(shown.start), std::size_t(shown.end),
                                          m_matchRuns);
                }
                if (!m_matchRuns.empty()) {
                    runs = overlayRuns(runs, runsWithin(m_matchRuns, std::size_t(shown.start),
                                                        std::size_t(shown.end)));
                }
                if (!runs.empty()) {
                    LogRenderer::setRuns(row.style, runs);
                }
                if (!m_findHighlight.Empty()) {
                    m_findHighlight.apply(line, shown.start, shown.end, row.style);
                }
                LogRenderer::clipToPart(row.style, shown.start, shown.end);
                alert.lineDrawn(matched || !m_matchRuns.empty());
                if (!marks.Empty() && marks.isMarked(index)) {
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
        TraceLog::instance().Line(TraceLog::LevelInfo, "First lines painted");
    }
    if (m_caretShown && m_caretOn && hasFocus() && m_wrapCaret.isValid()) {
        painter.fillRect(m_wrapCaret, quill::colorFromRef(textColor));
    }
}
