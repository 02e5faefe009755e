// Save Lines As on a merged tab: its filter's rows, its selected rows, its marked rows (of
// every file), or all of them, written in the merged order with each line's own bytes
// (engine/MergedLineSaver.h).

#include "frame/LogTab.h"
#include "frame/MergedFilterPane.h"
#include "frame/MergedPart.h"
#include "frame/SaveLinesCommand.h"

#include "engine/LogDocument.h"
#include "engine/MergedFilterRows.h"
#include "engine/MergedLineSaver.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <algorithm>
#include <vector>

namespace {

// Rows [first, end) the selection touches; Select All ends on the row count itself.
std::pair<std::size_t, std::size_t> selectedRows(const MergedPart& part)
{
    const DocSelection selection = part.area()->selection();
    const std::size_t count = part.rows()->rowCount();
    if (!selection.valid || count == 0) {
        return {0, 0};
    }
    const auto first = std::size_t(std::min(selection.startLine, selection.endLine));
    const auto last = std::size_t(std::max(selection.startLine, selection.endLine));
    return {std::min(first, count), std::min(last, count - 1) + 1};
}

// The filter's rows while a filter is set.
const MergedFilterRows* filterRows(const LogTab& tab)
{
    const MergedFilterPane* pane = tab.mergedFilter();
    return pane != nullptr && pane->isActive() ? pane->rows() : nullptr;
}

} // namespace

std::vector<SaveLinesCommand::Offer> SaveLinesCommand::mergedOffers(LogTab* tab)
{
    std::vector<Offer> offers;
    const MergedPart& part = *tab->merged();
    const std::size_t count = part.rows()->rowCount();
    if (count == 0) {
        return offers;
    }
    if (const MergedFilterRows* rows = filterRows(*tab)) {
        offers.push_back({Choice::FilterResult, rows->size()});
    }
    const auto [first, end] = selectedRows(part);
    if (end > first) {
        offers.push_back({Choice::Selected, end - first});
    }
    if (const std::size_t marked = part.rows()->markedRows().size(); marked > 0) {
        offers.push_back({Choice::Marked, marked});
    }
    offers.push_back({Choice::AllShown, count});
    return offers;
}

std::unique_ptr<LinesWriter> SaveLinesCommand::mergedSaver(LogTab* tab, Choice choice,
                                                           std::string target, std::uint64_t& lines)
{
    const MergedPart& part = *tab->merged();
    const MergedRowSource& rows = *part.rows();
    std::size_t first = 0;
    std::size_t end = rows.rowCount();
    if (choice == Choice::Selected) {
        std::tie(first, end) = selectedRows(part);
    }
    lines = end - first;
    std::vector<LogDocument*> documents;
    for (std::size_t s = 0; s < rows.sourceCount(); ++s) {
        documents.push_back(&rows.document(s));
    }
    if (choice == Choice::Marked) {
        std::vector<std::size_t> chosen = part.rows()->markedRows();
        lines = chosen.size();
        return std::make_unique<MergedLineSaver>(std::move(documents), rows.order(), rows.bases(),
                                                 std::move(chosen), std::move(target));
    }
    const MergedFilterRows* filtered = filterRows(*tab);
    if (choice == Choice::FilterResult && filtered != nullptr) {
        std::vector<std::size_t> chosen(filtered->size());
        for (std::size_t row = 0; row < chosen.size(); ++row) {
            chosen[row] = filtered->at(row).merged;
        }
        lines = chosen.size();
        return std::make_unique<MergedLineSaver>(std::move(documents), rows.order(), rows.bases(),
                                                 std::move(chosen), std::move(target));
    }
    return std::make_unique<MergedLineSaver>(std::move(documents), rows.order(), rows.bases(),
                                             first, end, std::move(target));
}
