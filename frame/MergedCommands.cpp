// Pause, Resume, Reload and Clear on a merged tab: each acts on every file of the tab as
// the command acts on a tab's one file, so the merge sees what it would see there (no new
// lines while paused, each file starting over on Reload and Clear) and keeps its order.

#include "frame/MergedCommands.h"
#include "frame/MergedPart.h"

#include "engine/LogDocument.h"
#include "engine/MergedLogs.h"
#include "resources/ResourceIds.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QTimer>

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

bool run(MergedPart& part, int id)
{
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
    default:
        return false;
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
        return part.rows()->rowCount() > 0;
    default:
        return false;
    }
}

} // namespace MergedCommands
