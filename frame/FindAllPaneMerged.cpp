// Find in All Tabs over a merged tab: each of its files is searched with a list of its own,
// named by the tab and the file, and a line found opens as the row that shows it.

#include "frame/FindAllPane.h"
#include "frame/LogTab.h"
#include "frame/MergedPart.h"

#include "engine/LogDocument.h"
#include "resources/QtFileName.h"
#include "view/LogView.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

std::vector<LogDocument*> FindAllPane::documentsOf(LogTab* tab)
{
    const MergedPart* merged = tab->merged();
    if (merged == nullptr) {
        return {tab->document()};
    }
    std::vector<LogDocument*> documents;
    for (std::size_t s = 0; s < merged->rows()->sourceCount(); ++s) {
        documents.push_back(&merged->rows()->document(s));
    }
    return documents;
}

QString FindAllPane::nameOf(const LogTab* tab, const LogDocument* document)
{
    if (tab == nullptr) {
        return {};
    }
    const MergedPart* merged = tab->merged();
    if (merged == nullptr) {
        return tab->label();
    }
    for (std::size_t s = 0; s < merged->rows()->sourceCount(); ++s) {
        if (&merged->rows()->document(s) == document) {
            return QStringLiteral("%1: %2").arg(tab->label(),
                                                quill::fileNameToDisplay(merged->rows()->name(s)));
        }
    }
    return tab->label();
}

void FindAllPane::showIn(LogTab* tab, const LogDocument* document, std::optional<LineNumber> line)
{
    MergedPart* merged = tab->merged();
    if (merged == nullptr) {
        if (line) {
            tab->showLine(*line);
        }
        tab->view()->setFocus(Qt::OtherFocusReason);
        return;
    }
    const MergedRowSource& rows = *merged->rows();
    for (std::size_t s = 0; line && s < rows.sourceCount(); ++s) {
        if (&rows.document(s) == document) {
            // A line that is no row (not merged yet) opens the row after it, the nearest
            // there is.
            tab->showMergedRow(rows.rowOfPlace({s, *line}));
            return;
        }
    }
    merged->area()->setFocus(Qt::OtherFocusReason);
}
