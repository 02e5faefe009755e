// A tab of several files merged by time in the main frame: opening it, the Source Names
// switch, and the commands a merged tab answers itself (Copy, Select All, Go to Line over
// its rows, the marks, the overview strip and the keyword-line jumps; Find is in
// MainFrameFind.cpp, the timeline is the tab's, Pause, Reload, Clear, notes and the marks list
// are in MergedCommands.cpp); the commands that do not act on merged rows
// yet are turned off while it is in front, so none of them acts on the tab's hidden empty document.

#include "frame/FindAllPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedCommands.h"
#include "frame/MergedFilterPane.h"
#include "frame/MergedNavigation.h"
#include "frame/MergedPart.h"
#include "frame/NavigationCommands.h"

#include "dialogs/GoToLineDialog.h"
#include "dialogs/GoToTimeDialog.h"
#include "resources/CommandActions.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"
#include "view/MergedArea.h"
#include "view/MergedFilterView.h"
#include "view/MergedRowSource.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>

bool MainFrame::openMerged(const std::vector<std::u16string>& paths)
{
    if (paths.empty()) {
        return false;
    }
    const bool reuse = m_front->path().empty() && m_front->document()->source() == nullptr &&
                       m_front->merged() == nullptr && m_front->document()->lineCount() == 0;
    LogTab* previous = m_front;
    LogTab* target = reuse ? m_front : addTab();
    QStringList unreadable;
    const bool opened = target->openMerged(paths, unreadable, m_sources);
    if (!opened && !reuse) {
        closeTab(target);
        activateTab(previous);
    } else if (opened) {
        activateTab(target);
        updateTabLabel(target);
        if (m_findAll != nullptr) {
            // It joined the search with its own empty document: its files take its place.
            m_findAll->tabClosing(target);
            m_findAll->tabAdded(target);
        }
    }
    if (!unreadable.isEmpty()) {
        showMessage(LanguageResources::current().format(StringId::MergedUnreadable,
                                                        unreadable.join(QChar(u'\n'))));
    }
    updateCommandStates();
    return opened;
}

bool MainFrame::runMergedCommand(int id)
{
    if (id == CommandId::OpenMerged) {
        if (m_owner != nullptr) {
            m_owner->onFileOpenMerged();
        }
        return true;
    }
    if (id == CommandId::MergedNames) {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::MergedNames);
        settings.setBool(Setting::MergedNames, shown);
        for (int i = 0; i < tabCount(); ++i) {
            if (tab(i)->merged() != nullptr) {
                tab(i)->merged()->setNameColumn(shown);
                if (tab(i)->mergedFilter() != nullptr) {
                    tab(i)->mergedFilter()->view()->rows().retexted(); // they show the names too
                }
            }
        }
        return true;
    }
    MergedPart* merged = m_front != nullptr ? m_front->merged() : nullptr;
    if (merged == nullptr) {
        return false;
    }
    if (runMergedFilterCommand(id)) {
        return true;
    }
    MergedArea* area = merged->area();
    switch (id) {
    case CommandId::OverviewStrip: {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::OverviewStrip);
        settings.setBool(Setting::OverviewStrip, shown);
        // The log views take it up at their next update.
        for (int i = 0; i < tabCount(); ++i) {
            if (tab(i)->merged() != nullptr) {
                tab(i)->merged()->navigation()->setOverviewShown(shown);
            }
        }
        updateCommandStates();
        return true;
    }
    case CommandId::NextKeywordLine:
    case CommandId::PreviousKeywordLine:
        // Among the filter's rows while they stand in for all rows.
        if (MergedFilterPane* pane = m_front->mergedFilter();
            pane != nullptr && pane->showsAsView()) {
            pane->view()->jumpToKeywordRow(id == CommandId::NextKeywordLine);
        } else {
            merged->navigation()->jumpToKeywordLine(id == CommandId::NextKeywordLine);
        }
        return true;
    case CommandId::ToggleMark:
        area->toggleMarkAtCurrentRow();
        MergedCommands::marksChanged(this);
        MergedCommands::markedNow(*merged);
        return true;
    case CommandId::NextMark:
    case CommandId::PreviousMark:
        area->jumpToMark(id == CommandId::NextMark);
        return true;
    case CommandId::ClearMarks:
        area->clearMarks();
        MergedCommands::marksChanged(this);
        return true;
    case CommandId::GoToTime: {
        auto* dialog = new GoToTimeDialog(this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<MergedPart> target(merged);
        connect(dialog, &QDialog::accepted, this, [this, dialog, target] {
            const std::optional<TimeQuery> query = dialog->chosenQuery();
            if (target && query) {
                const QString note = target->goToTime(*query);
                if (note.isEmpty()) {
                    statusBar()->clearMessage();
                } else {
                    statusBar()->showMessage(note);
                }
                target->area()->setFocus();
            }
        });
        dialog->open();
        return true;
    }
    case CommandId::Copy:
        if (area->canCopy()) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            const CopyResult result = area->onEditCopy();
            QGuiApplication::restoreOverrideCursor();
            reportCopy(result);
        }
        return true;
    case CommandId::SelectAll:
        area->onEditSelectAll();
        return true;
    case CommandId::GoToLine: {
        // The merged row of that number.
        auto* dialog = new GoToLineDialog(
            std::uint32_t(std::min<std::size_t>(area->rowCount(), UINT32_MAX)), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<TextArea> target(area);
        connect(dialog, &QDialog::accepted, this, [dialog, target] {
            const std::optional<std::uint32_t> row = dialog->chosenLine();
            if (target && row) {
                target->selectInRow(*row, 0, -1);
                target->setFocus();
            }
        });
        dialog->open();
        return true;
    }
    default:
        return MergedCommands::run(*m_front, id, this);
    }
}

void MainFrame::updateMergedCommandStates()
{
    commandAction(CommandId::OpenMerged)->setEnabled(m_owner != nullptr);
    commandAction(CommandId::MergedNames)->setEnabled(true);
    commandAction(CommandId::MergedNames)
        ->setChecked(SettingsStore::instance().boolValue(Setting::MergedNames));
    MergedPart* merged = m_front != nullptr ? m_front->merged() : nullptr;
    if (merged == nullptr) {
        return;
    }
    for (const int id : {CommandId::Filter, CommandId::FilterAsView}) {
        commandAction(id)->setEnabled(false);
    }
    commandAction(CommandId::OverviewStrip)->setEnabled(true);
    commandAction(CommandId::Timeline)->setEnabled(true);
    for (const int id : {CommandId::NextKeywordLine, CommandId::PreviousKeywordLine}) {
        commandAction(id)->setEnabled(merged->area()->rowCount() > 0 &&
                                      !NavigationCommands::fieldHasKeys());
    }
    for (const int id : {CommandId::Pause, CommandId::Resume, CommandId::Reload, CommandId::Clear,
                         CommandId::MarkNote, CommandId::ViewMarks}) {
        commandAction(id)->setEnabled(MergedCommands::enabled(*merged, id));
    }
    if (m_pausePane != nullptr && m_pausePane->isVisibleTo(statusBar()) != merged->paused()) {
        m_pausePane->setVisible(merged->paused());
    }
    commandAction(CommandId::Copy)->setEnabled(merged->area()->canCopy());
    commandAction(CommandId::SelectAll)->setEnabled(true);
    for (const int id : {CommandId::Find, CommandId::FindNextDown, CommandId::FindNextUp,
                         CommandId::ToggleMark, CommandId::NextMark, CommandId::PreviousMark,
                         CommandId::ClearMarks, CommandId::GoToTime}) {
        commandAction(id)->setEnabled(merged->area()->rowCount() > 0);
    }
    commandAction(CommandId::GoToLine)->setEnabled(merged->area()->rowCount() > 0);
    commandAction(CommandId::CloseTab)->setEnabled(true);
    setFileSizeText(merged->totalBytes());
    setLineCountText(qint64(merged->area()->rowCount()));
    const QString note = merged->note();
    setFilePathText(quill::toU16(note.isEmpty() ? merged->label() : note));
    // The filter's commands act on the merged rows: on again (frame/MergedFilter.cpp).
    updateMergedFilterCommandStates();
}
