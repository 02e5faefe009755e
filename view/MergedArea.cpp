#include "view/MergedArea.h"

#include "engine/LogDocument.h"
#include "view/LogView.h"
#include "view/MergedRowSource.h"

#include <QResizeEvent>

#include <vector>

MergedArea::MergedArea(MergedRowSource* rows, QWidget* parent) : TextArea(parent), m_rows(rows)
{
    setRowSource(rows);
}

void MergedArea::toggleMarkAtCurrentRow()
{
    if (currentRow() >= rowCount()) {
        return;
    }
    const MergedRows::Place place = m_rows->placeOfRow(currentRow());
    m_rows->document(place.source).marks().toggle(place.line);
    viewport()->update();
}

bool MergedArea::jumpToMark(bool next)
{
    return jumpAround(m_rows->markedRows(), next);
}

void MergedArea::clearMarks()
{
    for (std::size_t s = 0; s < m_rows->sourceCount(); ++s) {
        m_rows->document(s).marks().clear();
    }
    viewport()->update();
}

void MergedArea::styleRow(std::size_t row, LogRenderer::RowStyle& style)
{
    if (row >= rowCount()) {
        return;
    }
    const MergedRows::Place place = m_rows->placeOfRow(row);
    const LineMarks& marks = m_rows->document(place.source).marks();
    if (marks.isEmpty() || !marks.isMarked(place.line)) {
        return;
    }
    style.background = LogView::markedBackground(style.background);
    style.rest = LogView::markedBackground(style.rest);
    style.fillBackground = true;
}

void MergedArea::setSideStrip(QWidget* strip, bool shown)
{
    m_strip = strip;
    m_stripShown = strip != nullptr && shown;
    placeSideStrip();
}

void MergedArea::resizeEvent(QResizeEvent* event)
{
    TextArea::resizeEvent(event);
    placeSideStrip();
}

void MergedArea::placeSideStrip()
{
    const int room = m_stripShown ? m_strip->sizeHint().width() : 0;
    if (viewportMargins().right() != room) {
        setViewportMargins(0, 0, room, 0);
    }
    if (m_strip == nullptr) {
        return;
    }
    if (!m_stripShown) {
        m_strip->hide();
        return;
    }
    const QRect port = viewport()->geometry();
    const QRect place(port.right() + 1, port.top(), room, port.height());
    if (m_strip->geometry() != place) {
        m_strip->setGeometry(place);
    }
    m_strip->show();
}
