// The log view's scrolling: scroll requests, the keys, the wheel and the mouse buttons.

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

void LogView::onScroll(QAbstractSlider::SliderAction horizontal,
                       QAbstractSlider::SliderAction vertical, int trackPos)
{
    auto target = [&](QAbstractSlider::SliderAction code, int current, int line, int page,
                      int track) -> int {
        switch (code) {
        case QAbstractSlider::SliderSingleStepSub:
            return current - line;
        case QAbstractSlider::SliderSingleStepAdd:
            return current + line;
        case QAbstractSlider::SliderPageStepSub:
            return current - page;
        case QAbstractSlider::SliderPageStepAdd:
            return current + page;
        case QAbstractSlider::SliderToMinimum:
            return 0;
        case QAbstractSlider::SliderToMaximum:
            return INT_MAX;
        case QAbstractSlider::SliderMove:
            return track;
        case QAbstractSlider::SliderNoAction:
            break;
        }
        return current;
    };
    if (vertical == QAbstractSlider::SliderMove && trackPos == 0) {
        vertical = QAbstractSlider::SliderToMinimum;
    }
    if (vertical == QAbstractSlider::SliderToMinimum) {
        m_caretLine = 0;
        m_caretChar = 0;
        m_caretDocX = 0;
        if (m_document != nullptr) {
            m_document->setFindPosition(0, 0);
        }
        viewport()->update(caretRect());
    }
    if (m_wrap && vertical != QAbstractSlider::SliderMove) {
        // Rows, not pixels; nothing to scroll sideways.
        const qint64 page = std::max<qint64>(1, qint64(visibleRowCount()) - 1);
        switch (vertical) {
        case QAbstractSlider::SliderSingleStepSub:
            m_wrapScroller->scrollRows(-1);
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            m_wrapScroller->scrollRows(1);
            break;
        case QAbstractSlider::SliderPageStepSub:
            m_wrapScroller->scrollRows(-page);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            m_wrapScroller->scrollRows(page);
            break;
        case QAbstractSlider::SliderToMinimum:
            m_wrapScroller->scrollToTop();
            break;
        case QAbstractSlider::SliderToMaximum:
            m_wrapScroller->scrollToEnd();
            break;
        case QAbstractSlider::SliderMove:
        case QAbstractSlider::SliderNoAction:
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
    if (vertical != QAbstractSlider::SliderNoAction) {
        m_follower->userScrolled();
    }
}

int LogView::horizontalTarget(QAbstractSlider::SliderAction code, int track) const
{
    // Steps are pixels of the document; the bar counts in units of horizontalScale().
    const int value = horizontalScrollBar()->value();
    qint64 delta = 0;
    switch (code) {
    case QAbstractSlider::SliderSingleStepSub:
        delta = -m_lineStep.width();
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        delta = m_lineStep.width();
        break;
    case QAbstractSlider::SliderPageStepSub:
        delta = -qint64(m_pageStep.width());
        break;
    case QAbstractSlider::SliderPageStepAdd:
        delta = m_pageStep.width();
        break;
    case QAbstractSlider::SliderToMinimum:
        return 0;
    case QAbstractSlider::SliderToMaximum:
        return INT_MAX;
    case QAbstractSlider::SliderMove:
        return track;
    case QAbstractSlider::SliderNoAction:
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
        onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderToMinimum);
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
        onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_Home:
    case Qt::Key_End: {
        // Home and End go sideways; with Ctrl, to the first or last line.
        const QAbstractSlider::SliderAction edge = event->key() == Qt::Key_Home
                                                       ? QAbstractSlider::SliderToMinimum
                                                       : QAbstractSlider::SliderToMaximum;
        if (m_ctrlHeld) {
            onScroll(QAbstractSlider::SliderNoAction, edge);
        } else {
            onScroll(edge, QAbstractSlider::SliderNoAction);
        }
        break;
    }
    case Qt::Key_Left:
        onScroll(QAbstractSlider::SliderSingleStepSub, QAbstractSlider::SliderNoAction);
        break;
    case Qt::Key_Right:
        onScroll(QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderNoAction);
        break;
    case Qt::Key_Up:
        onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Down:
        onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderSingleStepAdd);
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

bool LogView::viewportEvent(QEvent* event)
{
    // Qt would otherwise scroll horizontally on Shift+wheel; the view ignores such wheels.
    if (event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void LogView::scrollDragStep(int step)
{
    onScroll(QAbstractSlider::SliderNoAction, step < 0 ? QAbstractSlider::SliderSingleStepSub
                                                       : QAbstractSlider::SliderSingleStepAdd);
}

bool LogView::selects() const
{
    return m_document != nullptr;
}

void LogView::scrollToLine(LineNumber line)
{
    scrollLineTo(line, visibleRowCount() / 2);
}

void LogView::scrollLineTo(LineNumber line, qint64 rowsAbove)
{
    QScrollBar* vbar = verticalScrollBar();
    if (m_wrap) {
        if (m_document != nullptr && line < m_document->lineCount()) {
            m_wrapScroller->scrollToPlace({line, 0}, int(rowsAbove));
        }
        return;
    }
    const qint64 y = (qint64(line) - rowsAbove) * qint64(m_lineHeight);
    vbar->setValue(static_cast<int>(std::clamp<qint64>(y, 0, vbar->maximum())));
    m_follower->userScrolled();
}
