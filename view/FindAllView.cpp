#include "view/FindAllView.h"

#include <QMouseEvent>

FindAllView::FindAllView(QWidget* parent) : TextArea(parent)
{
    setObjectName(QStringLiteral("findAllView"));
    setRowSource(&m_rows);
    connect(this, &TextArea::rowActivated, this, [this](std::size_t row) {
        if (!m_clicking) {
            emit itemChosen(m_rows.itemOfRow(row));
        }
    });
}

FindAllView::~FindAllView()
{
    setRowSource(nullptr);
}

void FindAllView::searchChanged()
{
    const std::size_t before = m_rows.rowCount();
    const FindAllRowSource::Item top = m_rows.itemOfRow(firstVisibleRow());
    const FindAllRowSource::Item current = m_rows.itemOfRow(currentRow());
    const std::size_t kept = m_rows.layOut();
    if (kept == before) {
        if (m_rows.rowCount() > before) {
            m_rows.announceAppended(before);
        }
        // The headings' counts read differently.
        viewport()->update();
        return;
    }
    rearrangeRows(m_rows.rowOfItem(top), m_rows.rowOfItem(current));
    m_rows.announceRetexted();
}

void FindAllView::searchReset()
{
    m_rows.layOut();
    m_rows.announceReset();
}

void FindAllView::documentChanged(const LogDocument& document)
{
    m_rows.documentChanged(document);
    m_rows.announceRetexted();
}

void FindAllView::mouseReleaseEvent(QMouseEvent* event)
{
    // A plain click makes the row current and no more.
    m_clicking = true;
    TextArea::mouseReleaseEvent(event);
    m_clicking = false;
}

void FindAllView::mouseDoubleClickEvent(QMouseEvent* event)
{
    TextArea::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const int y = event->position().toPoint().y();
    if (y < 0 || y >= viewport()->height()) {
        return;
    }
    const LineNumber row = lineFromPoint(y);
    if (row < rowCount()) {
        emit itemChosen(m_rows.itemOfRow(row));
    }
}
