#include "view/LogView.h"

#include "platform/Contract.h"
#include "view/EndFollower.h"
#include "view/LineGutter.h"
#include "view/LogScrollBar.h"
#include "view/MarkNotes.h"
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

// A scroll of the user's own that ends this close to the end counts as ending there.
constexpr int FollowSlack = 5;
// Horizontal page = this many horizontal line steps.
constexpr int HorizontalPageSteps = 50;

} // namespace

LogView::LogView(QWidget* parent)
    : TextArea(parent,
               Frame{new LogScrollBar(Qt::Horizontal), new LogScrollBar(Qt::Vertical), FollowSlack})
{
    setObjectName(QStringLiteral("logView"));
    connect(verticalScrollBar(), &QScrollBar::sliderMoved, this, &LogView::onVerticalSliderMoved);
    connect(m_wrapScroller, &WrapScroller::placeChanged, this, [this] {
        if (m_gutter->isVisible()) {
            m_gutter->update();
        }
    });
    m_gutter = new LineGutter(this);
    m_gutter->hide();
    m_markNotes = new MarkNotes(this);
    m_overview = new OverviewStrip(this);
    m_overview->hide();
    setRowSource(&m_lines);
}

LogView::~LogView()
{
    setRowSource(nullptr);
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
    m_lines.setDocument(document);
    m_textSource = std::make_shared<SelectionTextSource>(document);
    m_seenGeneration = document != nullptr ? document->contentGeneration() : 0;
    m_wrapGeneration = m_seenGeneration;
    m_wrapScroller->reset();
    m_mouse.reset();
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
    arriveAtEnd();
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
        m_mouse.reset();
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
    updateGutter();

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
    updateScrollRange();
    if (!m_wrap && heightBefore != 0 && heightBefore != m_lineHeight && !m_follower->following()) {
        m_follower->anchor(
            static_cast<int>(std::min<qint64>(qint64(topLine) * m_lineHeight, INT_MAX)));
    }
    keepPlace();
}

void LogView::updateScrollRange()
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
    arriveAtEnd();
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
    arriveAtEnd();
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateGutter();
    updateScrollRange();
    keepPlace();
}

void LogView::onResume()
{
    if (!canResume()) {
        return;
    }
    m_document->startWatching();
    arriveAtEnd();
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

void LogView::updateGutter()
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

void LogView::wrapSwitching(bool wrap)
{
    if (wrap) {
        m_wrapGeneration = m_document != nullptr ? m_document->contentGeneration() : 0;
    }
}

void LogView::wrapSwitched()
{
    if (m_document != nullptr && m_caretLine < int(m_document->lineCount())) {
        placeCaret(LineNumber(m_caretLine), m_caretChar);
    }
    m_gutter->update();
}
