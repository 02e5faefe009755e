// The main frame's commands: the actions, menus, toolbar and accelerators built from the
// resources, their enable and check states, and what each command does.

#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/FindAllPane.h"
#include "frame/LineDetailsPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/NavigationCommands.h"
#include "frame/RotatedOffer.h"
#include "frame/SaveLinesCommand.h"
#include "frame/SourceControl.h"
#include "frame/TimeCommands.h"

#include "diagnostics/TraceLog.h"
#include "dialogs/SettingsSheet.h"
#include "engine/LogDocument.h"
#include "resources/CommandActions.h"
#include "resources/QtFileName.h"
#include "settings/RecentFileList.h"
#include "settings/SettingsStore.h"
#include "view/FilterView.h"
#include "view/LogView.h"

#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

QAction* MainFrame::commandAction(int id)
{
    return m_commands->action(id);
}

void MainFrame::createActions()
{
    m_commands = new CommandActions(this);
    for (int id : {CommandId::FileNew,       CommandId::FileOpen,
                   CommandId::NewWindow,     CommandId::Exit,
                   CommandId::Copy,          CommandId::SelectAll,
                   CommandId::Find,          CommandId::FindNextDown,
                   CommandId::FindNextUp,    CommandId::ViewToolbar,
                   CommandId::ViewStatusBar, CommandId::Pause,
                   CommandId::Resume,        CommandId::Reload,
                   CommandId::Clear,         CommandId::Settings,
                   CommandId::About,         CommandId::Filter,
                   CommandId::CloseTab,      CommandId::NextTab,
                   CommandId::PreviousTab,   CommandId::ViewTerminalColors,
                   CommandId::ViewWrapLines, CommandId::ViewShowControlCharacters,
                   CommandId::FollowCommand, CommandId::FollowJournal,
                   CommandId::GoToTime,      CommandId::Timeline,
                   CommandId::LineDetails,   CommandId::SaveLinesAs,
                   CommandId::FindAll,       CommandId::FilterAsView,
                   CommandId::FollowRemote,  CommandId::AddRotated,
                   CommandId::OpenMerged,    CommandId::MergedNames}) {
        m_commands->action(id);
    }
    m_commands->action(CommandId::FollowRemoteMerged);
    for (int id = CommandId::SelectTab1; id <= CommandId::SelectTab9; ++id) {
        m_commands->action(id);
    }
    for (int id : NavigationCommands::Ids) {
        m_commands->action(id);
    }
    NavigationCommands::prepare(*m_commands);
    m_commands->action(CommandId::ViewTerminalColors)->setCheckable(true);
    m_commands->action(CommandId::ViewShowControlCharacters)->setCheckable(true);
    m_commands->action(CommandId::Timeline)->setCheckable(true);
    m_commands->action(CommandId::LineDetails)->setCheckable(true);
    m_commands->action(CommandId::ViewWrapLines)->setCheckable(true);
    m_commands->action(CommandId::MergedNames)->setCheckable(true);
    m_commands->action(CommandId::FilterAsView)->setCheckable(true);
    for (int id = CommandId::ViewEncodingFirst; id <= CommandId::ViewEncodingLast; ++id) {
        m_commands->action(id)->setCheckable(true);
    }
    m_commands->action(CommandId::ViewToolbar)->setCheckable(true);
    m_commands->action(CommandId::ViewStatusBar)->setCheckable(true);
    connect(m_commands, &CommandActions::triggered, this, &MainFrame::runCommand);
}

void MainFrame::buildMenus()
{
    m_commands->buildMenuBar(menuBar(), ResourceId::MainFrame);
    for (QAction* popup : menuBar()->actions()) {
        if (QMenu* menu = popup->menu()) {
            connect(menu, &QMenu::aboutToShow, this, &MainFrame::updateCommandStates);
        }
    }
    // The framework's place holder for the recent files: the entries are listed above it.
    if (QAction* placeholder = m_commands->find(CommandId::RecentFile1)) {
        for (QObject* owner : placeholder->associatedObjects()) {
            if (auto* menu = qobject_cast<QMenu*>(owner)) {
                m_recentMenu = menu;
                m_recentPlaceholder = placeholder;
                placeholder->setEnabled(false);
                break;
            }
        }
    }
    updateRecentFileMenu();
}

void MainFrame::updateRecentFileMenu()
{
    if (!m_recentMenu || m_recentPlaceholder == nullptr) {
        return;
    }
    for (QAction* old : std::as_const(m_recentActions)) {
        m_recentMenu->removeAction(old);
        old->deleteLater();
    }
    m_recentActions.clear();
    const std::vector<std::u16string> files =
        m_owner != nullptr ? m_owner->recentFiles() : std::vector<std::u16string>();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const int index = static_cast<int>(i);
        QString shown = quill::fileNameToDisplay(RecentFileList::abbreviate(files[i]));
        shown.replace(u'&', QStringLiteral("&&"));
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(index + 1).arg(shown), this);
        action->setObjectName(QStringLiteral("recentFile%1").arg(index + 1));
        action->setStatusTip(quill::fileNameToDisplay(files[i]));
        connect(action, &QAction::triggered, this, [this, index] {
            if (m_owner != nullptr) {
                m_owner->onOpenRecentFile(index);
            }
        });
        m_recentMenu->insertAction(m_recentPlaceholder, action);
        m_recentActions.append(action);
    }
    // As the framework does: the place holder shows only while the list is empty.
    m_recentPlaceholder->setVisible(files.empty());
}

void MainFrame::loadAccelerators()
{
    m_commands->applyAccelerators(ResourceId::MainFrame);
    // Accelerators work with the menu bar and the toolbar hidden too.
    for (QAction* action : m_commands->all()) {
        if (!action->shortcuts().isEmpty()) {
            action->setShortcutContext(Qt::WindowShortcut);
            addAction(action);
        }
    }
}

bool MainFrame::buildToolBar()
{
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("toolBar"));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(false);
    const bool loaded = m_commands->buildToolBar(m_wndToolBar, ResourceId::MainFrame);
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    return loaded;
}

void MainFrame::updateCommandStates()
{
    if (m_front == nullptr) {
        return;
    }
    if (m_sources != nullptr) {
        m_sources->wake(); // the status bar follows the front document and its source
    }
    LogView* view = activeView();
    const bool hasLines = activeDocument()->lineCount() > 0;
    commandAction(CommandId::Reload)->setEnabled(hasLines);
    commandAction(CommandId::Clear)->setEnabled(hasLines);
    commandAction(CommandId::Pause)->setEnabled(view->canPause());
    commandAction(CommandId::Resume)->setEnabled(view->canResume());
    commandAction(CommandId::Copy)
        ->setEnabled(filterPaneHasFocus() ? filterPane()->view()->canCopy() : view->canCopy());
    const int tabs = m_tabs->count();
    commandAction(CommandId::CloseTab)->setEnabled(tabs > 1 || !m_front->path().empty());
    commandAction(CommandId::NextTab)->setEnabled(tabs > 1);
    commandAction(CommandId::PreviousTab)->setEnabled(tabs > 1);
    for (int id = CommandId::SelectTab1; id <= CommandId::SelectTab9; ++id) {
        commandAction(id)->setEnabled(id - CommandId::SelectTab1 < tabs);
    }
    commandAction(CommandId::Filter)->setEnabled(true);
    commandAction(CommandId::FilterAsView)->setEnabled(true);
    commandAction(CommandId::FilterAsView)
        ->setChecked(filterPane()->bar()->asViewSwitch()->isChecked());
    commandAction(CommandId::SelectAll)->setEnabled(true);
    commandAction(CommandId::Find)->setEnabled(hasLines);
    commandAction(CommandId::GoToTime)->setEnabled(hasLines);
    commandAction(CommandId::SaveLinesAs)->setEnabled(m_saveLines->canSave(m_front));
    commandAction(CommandId::Timeline)->setEnabled(true);
    commandAction(CommandId::FindAll)->setEnabled(true);
    commandAction(CommandId::Timeline)
        ->setChecked(SettingsStore::instance().boolValue(Setting::Timeline));
    commandAction(CommandId::LineDetails)->setEnabled(true);
    commandAction(CommandId::LineDetails)
        ->setChecked(SettingsStore::instance().boolValue(Setting::LineDetails));
    commandAction(CommandId::FindNextDown)->setEnabled(true);
    commandAction(CommandId::FindNextUp)->setEnabled(true);
    commandAction(CommandId::Settings)->setEnabled(true);
    commandAction(CommandId::FollowCommand)->setEnabled(true);
    commandAction(CommandId::FollowJournal)->setEnabled(true);
    commandAction(CommandId::FollowRemote)->setEnabled(true);
    commandAction(CommandId::FollowRemoteMerged)->setEnabled(true);
    commandAction(CommandId::AddRotated)
        ->setEnabled(m_front->document()->source() == nullptr && !m_front->path().empty());
    SettingsStore& settings = SettingsStore::instance();
    commandAction(CommandId::ViewToolbar)->setChecked(settings.boolValue(Setting::Toolbar));
    commandAction(CommandId::ViewStatusBar)->setChecked(settings.boolValue(Setting::StatusBar));
    NavigationCommands::updateStates(*m_commands, activeView());
    commandAction(CommandId::ViewWrapLines)->setEnabled(true);
    commandAction(CommandId::ViewShowControlCharacters)->setEnabled(true);
    commandAction(CommandId::ViewWrapLines)->setChecked(settings.boolValue(Setting::WrapLongLines));
    const LogDocument* front = activeDocument();
    commandAction(CommandId::ViewTerminalColors)
        ->setChecked(front != nullptr ? front->terminalColors()
                                      : settings.boolValue(Setting::TerminalColors));
    commandAction(CommandId::ViewShowControlCharacters)
        ->setChecked(front != nullptr ? front->showControlCharacters()
                                      : settings.boolValue(Setting::ShowControlCharacters));
    const int chosen = front != nullptr ? int(front->chosenEncoding()) : 0;
    for (int id = CommandId::ViewEncodingFirst; id <= CommandId::ViewEncodingLast; ++id) {
        commandAction(id)->setEnabled(front != nullptr);
        commandAction(id)->setChecked(id - CommandId::ViewEncodingFirst == chosen);
    }
    updateEncodingPane();
    updatePausePane();
    updateReadPane();
    updateMergedCommandStates();
}

void MainFrame::runCommand(int id)
{
    if (runMergedCommand(id) || runFilterViewCommand(id)) {
        updateCommandStates();
        return;
    }
    switch (id) {
    case CommandId::FileNew:
        if (m_owner != nullptr) {
            m_owner->onFileNew();
        }
        break;
    case CommandId::FileOpen:
        if (m_owner != nullptr) {
            m_owner->onFileOpen();
        }
        break;
    case CommandId::About:
        if (m_owner != nullptr) {
            m_owner->onAppAbout();
        }
        break;
    case CommandId::Exit:
        close();
        break;
    case CommandId::FollowCommand:
        m_sources->onFollowCommand();
        break;
    case CommandId::FollowJournal:
        m_sources->followSystemJournal();
        break;
    case CommandId::FollowRemote:
        m_sources->onFollowRemote();
        break;
    case CommandId::FollowRemoteMerged:
        onFollowRemoteMerged();
        break;
    case CommandId::AddRotated:
        RotatedOffer::dismiss(m_front);
        m_sources->addRotated(m_front->document());
        break;
    case CommandId::NewWindow:
        onNewWindow();
        break;
    case CommandId::Reload:
        onFileReload();
        break;
    case CommandId::Clear:
        onClearWindow();
        break;
    case CommandId::Settings:
        onSettings();
        break;
    case CommandId::Pause:
        activeView()->onPause();
        break;
    case CommandId::Resume:
        activeView()->onResume();
        break;
    case CommandId::CloseTab:
        closeTab(m_front);
        break;
    case CommandId::NextTab:
        selectTabAt((m_tabs->currentIndex() + 1) % m_tabs->count());
        break;
    case CommandId::PreviousTab:
        selectTabAt((m_tabs->currentIndex() + m_tabs->count() - 1) % m_tabs->count());
        break;
    case CommandId::ViewToolbar:
    case CommandId::ViewStatusBar:
        toggleBar(id);
        break;
    case CommandId::ViewTerminalColors:
        onViewTerminalColors();
        break;
    case CommandId::ViewShowControlCharacters:
        onViewShowControlCharacters();
        break;
    case CommandId::ViewWrapLines:
        onViewWrapLines();
        break;

    case CommandId::Copy:
        onEditCopy();
        break;
    case CommandId::SelectAll:
        onEditSelectAll();
        break;
    case CommandId::Filter:
        onFilter();
        break;
    case CommandId::Find:
        onEditFind();
        break;
    case CommandId::FindNextDown:
        findAgain(true);
        break;
    case CommandId::FindNextUp:
        findAgain(false);
        break;
    case CommandId::FindAll:
        onFindAll();
        break;
    case CommandId::GoToTime:
        m_time->goToTime(currentTab());
        break;
    case CommandId::SaveLinesAs:
        m_saveLines->saveLinesAs(currentTab());
        break;
    case CommandId::Timeline: {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::Timeline);
        settings.setBool(Setting::Timeline, shown);
        // The other tabs take it up when they come to the front.
        if (LogTab* tab = currentTab()) {
            tab->setTimelineShown(shown);
        }
        updateCommandStates();
        break;
    }
    case CommandId::LineDetails: {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::LineDetails);
        settings.setBool(Setting::LineDetails, shown);
        m_details->setVisible(shown);
        updateCommandStates();
        break;
    }
    default:
        if (id >= CommandId::SelectTab1 && id <= CommandId::SelectTab9) {
            selectTabAt(id - CommandId::SelectTab1);
        } else if (id >= CommandId::ViewEncodingFirst && id <= CommandId::ViewEncodingLast) {
            onViewEncoding(quill::TextEncoding(id - CommandId::ViewEncodingFirst));
        } else {
            NavigationCommands::run(id, activeView(), this);
        }
        break;
    }
    updateCommandStates();
}

void MainFrame::onSettings()
{
    SettingsSheet sheet(StringId::SettingsCaption, this);
    sheet.setSoundService(m_sound);
    if (sheet.doModal() != SettingsSheet::IDOK) {
        return;
    }
    sheet.saveAll();
    // Settings apply to every tab; those behind the front one catch up when shown.
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->reloadKeywords();
        tab(i)->document()->setNewTextArrived(false);
        tab(i)->updateAllViews();
    }
    applyTopMost();
    TraceLog::instance().setConfiguredLevel(SettingsStore::instance().dword(Setting::LogLevel));
    if (m_findDialog && m_findDialog->isVisible()) {
        m_findDialog->activateWindow();
        m_findDialog->setFocus();
    }
}

void MainFrame::toggleBar(int id)
{
    SettingsStore& settings = SettingsStore::instance();
    const SettingId setting = id == CommandId::ViewToolbar ? Setting::Toolbar : Setting::StatusBar;
    const bool show = !settings.boolValue(setting);
    settings.setBool(setting, show);
    QWidget* bar = id == CommandId::ViewToolbar ? static_cast<QWidget*>(m_wndToolBar) : statusBar();
    if (bar != nullptr) {
        bar->setVisible(show);
    }
}

void MainFrame::onClearWindow()
{
    LogDocument* document = activeDocument();
    document->clearText();
    document->setNewTextArrived(false);
    updateAllViews();
    applyTopMost();
}

void MainFrame::onViewTerminalColors()
{
    const bool on = !SettingsStore::instance().boolValue(Setting::TerminalColors);
    SettingsStore::instance().setBool(Setting::TerminalColors, on);
    // A display setting: every tab shows its text one way.
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->setTerminalColors(on);
        tab(i)->updateAllViews();
        tab(i)->view()->viewport()->update();
    }
}

void MainFrame::onViewShowControlCharacters()
{
    const bool on = !SettingsStore::instance().boolValue(Setting::ShowControlCharacters);
    SettingsStore::instance().setBool(Setting::ShowControlCharacters, on);
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->setShowControlCharacters(on);
        tab(i)->updateAllViews();
        tab(i)->view()->viewport()->update();
    }
}

void MainFrame::onViewWrapLines()
{
    SettingsStore& settings = SettingsStore::instance();
    settings.setBool(Setting::WrapLongLines, !settings.boolValue(Setting::WrapLongLines));
    // Each tab's views read the setting when they are brought up to date.
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->updateAllViews();
    }
}

void MainFrame::onViewEncoding(quill::TextEncoding encoding)
{
    LogDocument* document = activeDocument();
    if (document == nullptr) {
        return;
    }
    document->setEncoding(encoding);
    const std::u16string path = document->pathName();
    if (path.empty()) {
        return; // the next open in this tab uses it
    }
    if (m_owner != nullptr) {
        m_owner->setFileEncoding(path, encoding);
        onFileReload();
    } else if (document->openDocument(path)) {
        m_front->updateAllViews();
    }
}

QAction* MainFrame::action(int id) const
{
    return m_commands->find(id);
}

void MainFrame::onFilter()
{
    filterPane()->bar()->focusField();
}

void MainFrame::onFindAll()
{
    if (m_findAll == nullptr) {
        m_findAll = new FindAllPane(this);
        addDockWidget(Qt::BottomDockWidgetArea, m_findAll);
    }
    m_findAll->open();
}
