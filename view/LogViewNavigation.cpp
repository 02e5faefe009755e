// The log view's navigation: marks, lines a keyword colours, the find highlight and the
// overview strip.

#include "view/LogView.h"

#include "platform/Contract.h"
#include "view/EndFollower.h"
#include "view/LineGutter.h"
#include "view/MarkNotes.h"
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

void LogView::showLineInUpperThird(LineNumber line)
{
    if (m_document == nullptr || m_document->lineCount() == 0) {
        return;
    }
    line = std::min(line, m_document->lineCount() - 1);
    setSelectionAndCaret(line, line, 0, -1);
    m_document->setFindPosition(line, 0);
    scrollLineTo(line, visibleRowCount() / 3);
    viewport()->update();
}

void LogView::toggleMark(LineNumber line)
{
    if (m_document == nullptr || line >= m_document->lineCount()) {
        return;
    }
    m_markNotes->cancel();
    m_document->marks().toggle(line);
    invalidateLines(line, line);
    m_gutter->update();
    if (m_overviewShown) {
        m_overview->update();
    }
    emit marksChanged();
}

bool LogView::toggleMarkAtCaret()
{
    const auto line = static_cast<LineNumber>(std::max(0, m_caretLine));
    toggleMark(line);
    return m_document != nullptr && m_document->marks().isMarked(line);
}

void LogView::setMarkNote(LineNumber line, std::u16string note)
{
    if (m_document == nullptr || line >= m_document->lineCount()) {
        return;
    }
    m_document->marks().mark(line, std::move(note));
    refreshMarks();
}

void LogView::editMarkNote(LineNumber line)
{
    m_markNotes->edit(line);
}

void LogView::refreshMarks()
{
    viewport()->update();
    m_gutter->update();
    if (m_overviewShown) {
        m_overview->update();
    }
    emit marksChanged();
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
    if (m_document == nullptr || m_document->marks().isEmpty()) {
        return;
    }
    m_markNotes->cancel();
    m_document->marks().clear();
    emit marksCleared();
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
    const unsigned kept = flags & (SearchMatchCase | SearchWholeWord);
    if (text == m_highlightText && kept == m_highlightFlags) {
        return;
    }
    m_highlightText = text;
    m_highlightFlags = kept;
    m_highlightPattern = text;
    if (!(kept & SearchMatchCase)) {
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

void LogView::wantKeywordLines()
{
    if (m_document != nullptr) {
        ensureKeywordLines().sync();
    }
}

void LogView::keywordLinesProgressed()
{
    emit keywordLinesChanged();
    if (m_overviewShown) {
        m_overview->update();
    }
    if (m_pendingKeywordJump) {
        const bool down = *m_pendingKeywordJump;
        m_pendingKeywordJump.reset();
        jumpToKeywordLine(down);
    }
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
        const Keyword text(m_highlightText, 0, 0, (m_highlightFlags & SearchMatchCase) != 0, false,
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
