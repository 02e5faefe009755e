// Save Lines As on a merged tab: its selected rows, or all of them, written in the merged
// order with each line's own bytes (engine/MergedLineSaver.h). The marks and a filter of
// the merged rows are not offered here.

#include "frame/MergedPart.h"
#include "frame/SaveLinesCommand.h"

#include "engine/MergedLineSaver.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

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

} // namespace

std::vector<SaveLinesCommand::Offer> SaveLinesCommand::mergedOffers(const MergedPart& part)
{
    std::vector<Offer> offers;
    const std::size_t count = part.rows()->rowCount();
    if (count == 0) {
        return offers;
    }
    const auto [first, end] = selectedRows(part);
    if (end > first) {
        offers.push_back({Choice::Selected, end - first});
    }
    offers.push_back({Choice::AllShown, count});
    return offers;
}

std::unique_ptr<LinesWriter> SaveLinesCommand::mergedSaver(const MergedPart& part, Choice choice,
                                                           std::string target, std::uint64_t& lines)
{
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
    return std::make_unique<MergedLineSaver>(std::move(documents), rows.order(), rows.bases(),
                                             first, end, std::move(target));
}
