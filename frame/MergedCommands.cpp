// Pause, Resume, Reload and Clear on a merged tab: each acts on every file of the tab as
// the command acts on a tab's one file, so the merge sees what it would see there (no new
// lines while paused, each file starting over on Reload and Clear) and keeps its order.

#include "frame/MergedCommands.h"
#include "frame/LogTab.h"
#include "frame/MarksList.h"
#include "frame/MergedPart.h"

#include "engine/LogDocument.h"
#include "engine/MergedLogs.h"
#include "resources/ResourceIds.h"
#include "view/MarkNotes.h"
#include "view/MergedArea.h"
#include "view/MergedMarkNotes.h"
#include "view/MergedRowSource.h"

#include <QTimer>
#include <QTreeWidget>

void MergedPart::setPaused(bool paused)
{
    if (paused == m_paused) {
        return;
    }
    m_paused = paused;
    for (std::size_t s = 0; s < m_documents.size(); ++s) {
        LogDocument& document = *m_documents[s];
        if (paused && document.isWatching()) {
            document.stopWatching();
        } else if (!paused && !m_missing[s] && !document.isWatching() && document.canFollow()) {
            // Reads on from where it stopped: the lines written meanwhile come now.
            document.startWatching();
        }
    }
    if (!paused && m_merge) {
        m_merge->recheck();
    }
}

void MergedPart::reloadAll()
{
    m_paused = false;
    for (std::size_t s = 0; s < m_documents.size(); ++s) {
        reloadSource(s);
    }
}

void MergedPart::clearRows()
{
    for (const auto& document : m_documents) {
        document->clearText();
    }
}

namespace MergedCommands {

bool run(LogTab& tab, int id, QWidget* window)
{
    MergedPart& part = *tab.merged();
    switch (id) {
    case CommandId::Pause:
        part.setPaused(true);
        return true;
    case CommandId::Resume:
        part.setPaused(false);
        return true;
    case CommandId::Reload:
        part.reloadAll();
        return true;
    case CommandId::Clear:
        part.clearRows();
        return true;
    case CommandId::MarkNote:
        MergedMarkNotes::of(part.area())->edit(part.area()->currentRow());
        return true;
    case CommandId::ViewMarks: {
        // One list at a time, of the tab in front now.
        if (auto* open = window->findChild<MarksList*>(QString(), Qt::FindDirectChildrenOnly)) {
            open->close();
        }
        auto* list = new MarksList(&tab, window);
        list->setAttribute(Qt::WA_DeleteOnClose);
        list->show();
        list->activateWindow();
        list->list()->setFocus();
        return true;
    }
    default:
        return false;
    }
}

void markedNow(MergedPart& part)
{
    MergedArea* area = part.area();
    if (area->currentRow() >= area->rowCount()) {
        return;
    }
    const MergedRows::Place at = part.rows()->placeOfRow(area->currentRow());
    if (part.rows()->document(at.source).marks().isMarked(at.line)) {
        MergedMarkNotes::of(area)->edit(area->currentRow());
    }
}

void marksChanged(QWidget* window)
{
    if (auto* open = window->findChild<MarksList*>(QString(), Qt::FindDirectChildrenOnly)) {
        open->refresh();
    }
}

bool enabled(const MergedPart& part, int id)
{
    switch (id) {
    case CommandId::Pause:
        return !part.paused();
    case CommandId::Resume:
        return part.paused();
    case CommandId::Reload:
        return true;
    case CommandId::Clear:
    case CommandId::MarkNote:
        return part.rows()->rowCount() > 0;
    case CommandId::ViewMarks:
        return true;
    default:
        return false;
    }
}

} // namespace MergedCommands
