// The filter's rows as the tab's main view: switching between them and all lines at the
// same place.

#include "frame/FilterPane.h"
#include "frame/LogTab.h"

#include "engine/FilterRows.h"
#include "engine/LogDocument.h"
#include "view/FilterView.h"
#include "view/LogView.h"

#include <QScrollBar>
#include <QSplitter>

#include <algorithm>

void LogTab::showFilterAsView(bool shown)
{
    FilterView* rows = m_filterPane->view();
    const bool focused = rows->hasFocus() || m_view->hasFocus();
    if (shown) {
        if (m_view->isFollowing()) {
            rows->followEnd();
        } else {
            // The caret's line while it is on screen, else the top line.
            const LineNumber top = m_view->firstVisibleLine();
            const auto caret = LineNumber(std::max(0, m_view->caretLine()));
            const bool caretShown = caret >= top && caret < top + m_view->visibleRowCount();
            rows->showLineAtTop(caretShown ? caret : top);
        }
        m_view->hide();
        setFocusProxy(rows);
        if (focused) {
            rows->setFocus();
        }
    } else {
        const std::optional<LineNumber> line = rows->placeLine();
        // Rows above the line in the filtered view stay above it in the whole log.
        std::size_t above = 0;
        if (line && !rows->wrapsLines() && m_filterPane->rows() != nullptr) {
            const std::size_t row = m_filterPane->rows()->lowerBound(*line);
            above = row - std::min(row, rows->firstVisibleRow());
        }
        m_view->show();
        setFocusProxy(m_view);
        if (focused) {
            m_view->setFocus();
        }
        placeFilterPane(m_filterPane->isActive());
        if (line && *line < m_document->lineCount()) {
            // The log view is shorter than the whole tab was: the line stays on screen.
            const int height = std::max(1, int(m_view->lineHeight()));
            const auto fit = std::size_t(std::max(1, m_view->viewport()->height() / height) - 1);
            m_view->placeCaret(*line, 0);
            m_document->setFindPosition(*line, 0);
            m_view->scrollLineTo(*line, qint64(std::min(above, fit)));
        }
    }
    emit commandStatesChanged();
}
