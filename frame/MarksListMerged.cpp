// View > Marks on a merged tab: the marks of every file, in the order of their rows.

#include "frame/LogTab.h"
#include "frame/MarksList.h"
#include "frame/MergedPart.h"
#include "frame/TimeCommands.h"

#include "engine/DocumentTimeIndex.h"
#include "engine/LogDocument.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QTreeWidget>

#include <algorithm>
#include <tuple>

namespace {

constexpr int SourceRole = Qt::UserRole + 1;
constexpr int LineRole = Qt::UserRole + 2;

} // namespace

void MarksList::refreshMerged()
{
    const MergedPart& part = *m_tab->merged();
    const MergedRowSource& rows = *part.rows();
    const QTreeWidgetItem* current = m_list->currentItem();
    const auto keep = current != nullptr ? std::make_pair(current->data(LineColumn, SourceRole),
                                                          current->data(LineColumn, LineRole))
                                         : std::make_pair(QVariant(), QVariant());
    m_list->clear();
    // A mark on a line that is not a row (its file's lines before the order's base) is
    // left out: there is nowhere to go.
    std::vector<std::tuple<std::size_t, std::size_t, LineNumber>> marked;
    for (std::size_t s = 0; s < rows.sourceCount(); ++s) {
        for (const LineNumber line : rows.document(s).marks().lines()) {
            const std::size_t row = rows.rowOfPlace({s, line});
            if (row < rows.rowCount() && rows.placeOfRow(row) == MergedRows::Place{s, line}) {
                marked.emplace_back(row, s, line);
            }
        }
    }
    if (marked.empty()) {
        auto* none = new QTreeWidgetItem(m_list);
        none->setText(NoteColumn, LanguageResources::current().string(StringId::NoMarks));
        none->setFlags(Qt::NoItemFlags);
        return;
    }
    std::sort(marked.begin(), marked.end());
    QTreeWidgetItem* chosen = nullptr;
    for (const auto& [row, source, line] : marked) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setData(LineColumn, Qt::UserRole, qlonglong(row));
        item->setData(LineColumn, SourceRole, qulonglong(source));
        item->setData(LineColumn, LineRole, qulonglong(line));
        // As the gutter counts it: the line in its own file, from 1, after the file's name.
        item->setText(LineColumn,
                      QStringLiteral("%1:%2").arg(quill::fileNameToDisplay(rows.name(source)),
                                                  QString::number(qulonglong(line) + 1)));
        if (const std::optional<TimeMs> time = part.timeIndex(source)->timeOfLine(line)) {
            item->setText(TimeColumn, TimeCommands::timeText(*time));
        }
        item->setText(NoteColumn, quill::toQString(rows.document(source).marks().note(line)));
        if ((keep.first == qulonglong(source) && keep.second == qulonglong(line)) ||
            chosen == nullptr) {
            chosen = item;
        }
    }
    m_list->setCurrentItem(chosen);
    m_list->resizeColumnToContents(LineColumn);
    m_list->resizeColumnToContents(TimeColumn);
}

void MarksList::goToMerged(std::size_t row)
{
    close();
    m_tab->showMergedRow(row);
}
