#include "view/FilterView.h"

#include "engine/LineFilter.h"

FilterView::FilterView(QWidget* parent) : TextArea(parent)
{
    setObjectName(QStringLiteral("filterView"));
    setRowSource(&m_rows);
    connect(this, &TextArea::rowActivated, this,
            [this](std::size_t row) { emit lineActivated(lineOfRow(row)); });
}

FilterView::~FilterView()
{
    setRowSource(nullptr);
}

void FilterView::setDocument(LogDocument* document)
{
    m_rows.setDocument(document);
}

void FilterView::setMatches(const FilterRows* rows)
{
    m_rows.setMatches(rows);
    matchesChanged(FilterChange{true, false, 0, rowCount()});
}

void FilterView::matchesChanged(const FilterChange& change)
{
    m_rows.matchesChanged(change);
}

void FilterView::rowsRearranged(std::size_t topRow, std::size_t currentRow)
{
    rearrangeRows(topRow, currentRow);
}

void FilterView::documentChanged()
{
    m_rows.documentChanged();
}
