// The tabs the window keeps for the next start: plain files, merged tabs and rotated sets.

#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"

#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "platform/FileName.h"
#include "settings/TabSession.h"

#include <QTabWidget>

TabSessionState MainFrame::sessionState() const
{
    TabSessionState state;
    for (int i = 0; i < m_tabs->count(); ++i) {
        const LogTab* entry = tab(i);
        const LogSource* source = entry->document()->source();
        std::u16string path = entry->path();
        TabSessionExtra extra;
        if (const MergedPart* merged = entry->merged()) {
            const std::vector<std::u16string>& files = merged->paths();
            path = files.front();
            extra.mergedWith.assign(files.begin() + 1, files.end());
        } else if (source != nullptr && source->kind() == SourceKind::Rotated &&
                   !source->livePath().empty()) {
            // The set is found again beside its live file, as it stands then.
            path = quill::fileNameToUtf16(source->livePath());
            extra.rotated = true;
        } else if (source != nullptr) {
            // Any other source's spool ends with its tab; nothing of it can be opened again.
            continue;
        }
        if (path.empty()) {
            continue;
        }
        if (entry == m_front) {
            state.front = state.paths.size();
        }
        state.paths.push_back(std::move(path));
        state.extras.push_back(std::move(extra));
    }
    return state;
}
