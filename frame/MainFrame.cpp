#include "frame/MainFrame.h"
#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/NavigationCommands.h"
#include "frame/PathPane.h"
#include "frame/SourceControl.h"
#include "frame/TabNames.h"

#include "diagnostics/TraceLog.h"
#include "dialogs/FindDialog.h"
#include "dialogs/MessageDialog.h"
#include "dialogs/SettingsSheet.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "resources/CommandActions.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "resources/VersionInfo.h"
#include "settings/RecentFileList.h"
#include "settings/SettingsStore.h"
#include "view/FilterView.h"
#include "view/LogView.h"
#include "view/SelectionClipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressDialog>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <cerrno>
#include <cstring>

using quill::toQString;
using quill::toU16;

namespace {

// Status pane ids (the indicators of panes 1 to 3) and their initial texts' string ids.
constexpr int PaneIds[3] = {2, 3, 4};
constexpr int StringSizeLabel = 130;
constexpr int StringLineLabel = 131;
constexpr int StringPaused = 210;
constexpr int StringPausedTip = 211;
constexpr int StringEncodingTip = 450;
constexpr int StringEncodingAutomatic = 451;
constexpr int StringSettingsCaption = 9;
constexpr int ResourceMain = 128;
constexpr int ResourceContextMenu = 132;
// The widest name a tab shows, in average characters of its font.
constexpr int TabNameChars = 26;
// Offset of a window opened from the stored position against the one that stored it.
constexpr int CascadeOffset = 30;
constexpr int StringNotFound = 134;
constexpr int StringCopyTooLarge = 179;
constexpr int StringCopying = 181;
constexpr int StringCopyCancel = 151;
// A copy that takes longer than this shows its progress; shorter ones finish unseen.
constexpr int CopyProgressAfterMs = 400;
constexpr int CopyPollMs = 100;
constexpr int StringCopyUnreadable = 180;
// Why a followed file cannot be read: the pane's text and tip, the reasons that have words
// of their own, and what Reload says instead of emptying the tab.
constexpr int StringCannotRead = 215;
constexpr int StringCannotReadTip = 216;
constexpr int StringNoPermission = 217;
constexpr int StringNowAFolder = 218;
constexpr int StringNowNotAFile = 219;
constexpr int StringReloadUnreadable = 220;

QString readProblemText(int error)
{
    const LanguageResources& resources = LanguageResources::current();
    switch (error) {
    case EACCES:
    case EPERM:
        return resources.string(StringNoPermission);
    case EISDIR:
        return resources.string(StringNowAFolder);
    case ENOTSUP:
        return resources.string(StringNowNotAFile);
    default:
        break;
    }
    char buffer[256] = {};
    // The GNU variant returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(text)).arg(error);
}

} // namespace

MainFrame::MainFrame(FrameOwner* owner, SoundService* sound, QWidget* parent)
    : QMainWindow(parent), m_owner(owner),
      m_newWindowProgram(QCoreApplication::applicationFilePath())
{
    setObjectName(QStringLiteral("mainFrame"));
    m_sound = sound;
    buildTabs();

    const LanguageResources& resources = LanguageResources::current();
    const QIcon icon = resources.icon(ResourceMain);
    if (!icon.isNull()) {
        setWindowIcon(icon);
    }
    createActions();
    buildMenus();
    loadAccelerators();
    m_created = buildToolBar();
    buildStatusBar();
    buildSources();
    SetPaneText(1, QString());
    ApplyTopMost();

    SettingsStore& settings = SettingsStore::instance();
    statusBar()->setVisible(settings.GetBool(Setting::StatusBar));
    m_wndToolBar->setVisible(settings.GetBool(Setting::Toolbar));
    restoreWindowPosition();
    setAcceptDrops(true);
    frontChanged();
}

MainFrame::~MainFrame()
{
    // Its thread reads a tab's document.
    m_copyJob.reset();
    // The window's own destruction moves the focus; the bars are gone by then.
    disconnect(m_focusConnection);
    // The tabs go before the bars and panes they report to.
    disconnect(m_tabs, nullptr, this, nullptr);
    while (m_tabs->count() > 0) {
        QWidget* page = m_tabs->widget(0);
        m_tabs->removeTab(0);
        disconnect(page, nullptr, this, nullptr);
        delete page;
    }
    m_front = nullptr;
}

void MainFrame::buildTabs()
{
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->setDocumentMode(true);
    m_tabs->setMovable(true);
    // One tab looks as the window did before there were tabs.
    m_tabs->setTabBarAutoHide(true);
    m_tabs->setUsesScrollButtons(true);
    // Names are shortened to a tab's width by their own rule (TabNames.h), which keeps the
    // part that tells them apart; the bar scrolls rather than squeeze them further.
    m_tabs->setElideMode(Qt::ElideNone);
    m_tabs->setTabsClosable(true);
    m_tabs->tabBar()->setObjectName(QStringLiteral("tabBar"));
    // Keys are the frame's (Ctrl+Tab and friends as commands); the bar never takes focus.
    m_tabs->setFocusPolicy(Qt::NoFocus);
    m_tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
    m_tabs->tabBar()->installEventFilter(this);
    setCentralWidget(m_tabs);
    activateTab(addTab());
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { frontChanged(); });
    connect(m_tabs, &QTabWidget::tabCloseRequested, this,
            [this](int index) { closeTab(tab(index)); });
    // Copy and Select All act on whichever of the two panes has the keyboard.
    m_focusConnection =
        connect(qApp, &QApplication::focusChanged, this, [this] { updateCommandStates(); });
}

LogTab* MainFrame::currentTab() const
{
    return m_front;
}

LogView* MainFrame::GetView() const
{
    return m_front->view();
}

FilterPane* MainFrame::filterPane() const
{
    return m_front->filterPane();
}

QSplitter* MainFrame::splitter() const
{
    return m_front->splitter();
}

LogDocument* MainFrame::GetActiveDocument() const
{
    return m_front->document();
}

void MainFrame::buildSources()
{
    m_sources = new SourceControl(this, statusBar(), [this] { return GetActiveDocument(); });
    m_sources->setMessageHandler([this](const QString& text) { showMessage(text); });
    // A new source opens as a file does: in the empty front tab, else in a tab of its own.
    m_sources->setTargetDocument([this] { return PrepareOpen(std::u16string()).tab->document(); });
    m_sources->setAllDocuments([this] {
        std::vector<LogDocument*> documents;
        for (int i = 0; i < tabCount(); ++i) {
            documents.push_back(tab(i)->document());
        }
        return documents;
    });
    m_sources->setAfterOpen([this](LogDocument* document) {
        for (int i = 0; i < tabCount(); ++i) {
            if (tab(i)->document() == document) {
                tab(i)->view()->OnInitialUpdate();
            }
        }
        updateCommandStates();
    });
    // A complete decompressed copy can be neither paused nor resumed any more.
    m_sources->setAfterComplete([this](LogDocument*) { updateCommandStates(); });
}

int MainFrame::tabCount() const
{
    return m_tabs->count();
}

LogTab* MainFrame::tab(int index) const
{
    return qobject_cast<LogTab*>(m_tabs->widget(index));
}

int MainFrame::indexOf(const LogTab* tab) const
{
    return m_tabs->indexOf(const_cast<LogTab*>(tab));
}

LogTab* MainFrame::addTab()
{
    auto* tab = new LogTab(this, m_sound, m_tabs);
    if (m_documentSetup) {
        m_documentSetup(*tab->document());
    }
    connect(tab, &LogTab::statusChanged, this, [this, tab](qint64 size, qint64 lines) {
        if (tab == m_front) {
            SetFileSizeText(size);
            SetLineCountText(lines);
            updateCommandStates();
        }
    });
    connect(tab, &LogTab::commandStatesChanged, this, [this, tab] {
        if (tab == m_front) {
            updateCommandStates();
        }
    });
    connect(tab, &LogTab::labelChanged, this, [this, tab] { updateTabLabel(tab); });
    connect(tab, &LogTab::reloadRequested, this, [this, tab] { reloadTab(tab); });
    m_tabs->addTab(tab, tab->label());
    updateTabLabel(tab);
    return tab;
}

void MainFrame::setDocumentSetup(std::function<void(LogDocument&)> setup)
{
    m_documentSetup = std::move(setup);
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (m_documentSetup) {
            m_documentSetup(*tab(i)->document());
        }
    }
}

void MainFrame::activateTab(LogTab* tab)
{
    if (tab == nullptr || indexOf(tab) < 0) {
        return;
    }
    m_tabs->setCurrentWidget(tab);
    // The first tab is current as soon as it is added, without a change to report.
    if (m_front != tab) {
        frontChanged();
    }
}

void MainFrame::selectTabAt(int index)
{
    if (index >= 0 && index < m_tabs->count()) {
        m_tabs->setCurrentIndex(index);
    }
}

void MainFrame::closeTab(LogTab* tab)
{
    const int index = indexOf(tab);
    if (index < 0) {
        return;
    }
    if (m_copyTab == tab) {
        // Its thread reads the document that goes with the tab.
        m_copyJob.reset();
        m_copyTab = nullptr;
        if (m_copyPoll != nullptr) {
            m_copyPoll->stop();
        }
        if (m_copyProgress != nullptr) {
            m_copyProgress->disconnect(this);
            m_copyProgress->hide();
            m_copyProgress->deleteLater();
            m_copyProgress = nullptr;
        }
    }
    if (m_tabs->count() == 1) {
        // The last tab stays, empty, as after File New: one file behaves as it always did.
        if (m_owner != nullptr) {
            m_owner->OnFileNew();
        }
        return;
    }
    disconnect(tab, nullptr, this, nullptr);
    if (m_front == tab) {
        m_front = nullptr;
    }
    m_tabs->removeTab(m_tabs->indexOf(tab));
    delete tab;
    frontChanged();
}

void MainFrame::frontChanged()
{
    auto* front = qobject_cast<LogTab*>(m_tabs->currentWidget());
    if (front == nullptr) {
        return;
    }
    if (m_front != nullptr && m_front != front) {
        m_front->setFront(false);
    }
    m_front = front;
    front->setFront(true);
    if (m_panes[0] == nullptr) {
        return; // still building the bars
    }
    LogDocument* document = front->document();
    setWindowTitle(quill::literalTitle(front->title()));
    SetFilePathText(document->GetPathName());
    if (document->GetPathName().empty() && document->GetLineCount() == 0) {
        SetPaneText(1, QString());
    }
    SetFileSizeText(document->GetFileSizeBytes());
    SetLineCountText(document->GetLineCount());
    updateTabLabel(front);
    if (!front->isAncestorOf(QApplication::focusWidget())) {
        front->view()->setFocus();
    }
    updateCommandStates();
}

void MainFrame::updateTabLabel(LogTab* tab)
{
    const int index = indexOf(tab);
    if (index < 0) {
        return;
    }
    // One name changed can change what the names share, so every tab is shown afresh.
    QStringList names;
    for (int i = 0; i < m_tabs->count(); ++i) {
        names.append(this->tab(i)->label());
    }
    const quill::SharedParts shared = quill::sharedParts(names);
    const QFontMetrics metrics(m_tabs->tabBar()->font());
    const int maxWidth = TabNameChars * metrics.averageCharWidth();
    const auto width = [&metrics](const QString& text) { return metrics.horizontalAdvance(text); };
    for (int i = 0; i < m_tabs->count(); ++i) {
        const LogTab* shown = this->tab(i);
        // New lines behind another tab: a dot before the name; a keyword alert: the name red.
        const bool marked = shown->hasNewLines() || shown->hasAlert();
        const QString text =
            (marked ? QStringLiteral("\u25CF ") : QString()) +
            quill::literalLabel(quill::shortTabName(names.at(i), shared, maxWidth, width));
        if (m_tabs->tabText(i) != text) {
            m_tabs->setTabText(i, text);
        }
    }
    m_tabs->setTabToolTip(index, quill::fileNameToDisplay(tab->path()));
    m_tabs->tabBar()->setTabTextColor(index, tab->hasAlert() ? QColor(Qt::red) : QColor());
    if (tab == m_front && windowTitle() != quill::literalTitle(tab->title())) {
        setWindowTitle(quill::literalTitle(tab->title()));
    }
}

LogTab* MainFrame::targetTab() const
{
    return m_reloading != nullptr ? m_reloading : m_front;
}

MainFrame::OpenTarget MainFrame::PrepareOpen(const std::u16string& fullPath)
{
    if (m_reloading != nullptr) {
        return {m_reloading, false, false};
    }
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (!fullPath.empty() && tab(i)->path() == fullPath) {
            return {tab(i), true, false};
        }
    }
    // A tab waiting for its decompressed copy holds no path yet but is not empty.
    if (m_front->path().empty() && m_front->document()->Source() == nullptr) {
        return {m_front, false, false};
    }
    LogTab* previous = m_front;
    LogTab* created = addTab();
    activateTab(created);
    return {created, false, true, previous};
}

std::vector<std::u16string> MainFrame::openPaths(std::size_t* front) const
{
    std::vector<std::u16string> paths;
    std::size_t frontIndex = 0;
    for (int i = 0; i < m_tabs->count(); ++i) {
        const std::u16string& path = tab(i)->path();
        // A source's spool ends with its tab; nothing of it can be opened again.
        if (path.empty() || tab(i)->document()->Source() != nullptr) {
            continue;
        }
        if (tab(i) == m_front) {
            frontIndex = paths.size();
        }
        paths.push_back(path);
    }
    if (front != nullptr) {
        *front = frontIndex;
    }
    return paths;
}

QLabel* MainFrame::pane(int index) const
{
    return index >= 1 && index <= 3 ? m_panes[index - 1] : nullptr;
}

QAction* MainFrame::commandAction(int id)
{
    return m_commands->action(id);
}

void MainFrame::createActions()
{
    m_commands = new CommandActions(this);
    for (int id : {Command::FileNew,       Command::FileOpen,
                   Command::NewWindow,     Command::Exit,
                   Command::Copy,          Command::SelectAll,
                   Command::Find,          Command::FindNextDown,
                   Command::FindNextUp,    Command::ViewToolbar,
                   Command::ViewStatusBar, Command::Pause,
                   Command::Resume,        Command::Reload,
                   Command::Clear,         Command::Settings,
                   Command::About,         Command::Filter,
                   Command::CloseTab,      Command::NextTab,
                   Command::PreviousTab,   Command::ViewTerminalColors,
                   Command::ViewWrapLines, Command::ViewShowControlCharacters,
                   Command::FollowCommand, Command::FollowJournal}) {
        m_commands->action(id);
    }
    for (int id = Command::SelectTab1; id <= Command::SelectTab9; ++id) {
        m_commands->action(id);
    }
    for (int id : NavigationCommands::Ids) {
        m_commands->action(id);
    }
    NavigationCommands::Prepare(*m_commands);
    m_commands->action(Command::ViewTerminalColors)->setCheckable(true);
    m_commands->action(Command::ViewShowControlCharacters)->setCheckable(true);
    m_commands->action(Command::ViewWrapLines)->setCheckable(true);
    for (int id = Command::ViewEncodingFirst; id <= Command::ViewEncodingLast; ++id) {
        m_commands->action(id)->setCheckable(true);
    }
    m_commands->action(Command::ViewToolbar)->setCheckable(true);
    m_commands->action(Command::ViewStatusBar)->setCheckable(true);
    connect(m_commands, &CommandActions::triggered, this, &MainFrame::runCommand);
}

void MainFrame::buildMenus()
{
    m_commands->buildMenuBar(menuBar(), ResourceMain);
    for (QAction* popup : menuBar()->actions()) {
        if (QMenu* menu = popup->menu()) {
            connect(menu, &QMenu::aboutToShow, this, &MainFrame::updateCommandStates);
        }
    }
    // The framework's place holder for the recent files: the entries are listed above it.
    if (QAction* placeholder = m_commands->find(Command::RecentFile1)) {
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
        m_owner != nullptr ? m_owner->RecentFiles() : std::vector<std::u16string>();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const int index = static_cast<int>(i);
        QString shown = quill::fileNameToDisplay(RecentFileList::abbreviate(files[i]));
        shown.replace(u'&', QStringLiteral("&&"));
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(index + 1).arg(shown), this);
        action->setObjectName(QStringLiteral("recentFile%1").arg(index + 1));
        action->setStatusTip(quill::fileNameToDisplay(files[i]));
        connect(action, &QAction::triggered, this, [this, index] {
            if (m_owner != nullptr) {
                m_owner->OnOpenRecentFile(index);
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
    m_commands->applyAccelerators(ResourceMain);
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
    const bool loaded = m_commands->buildToolBar(m_wndToolBar, ResourceMain);
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    return loaded;
}

void MainFrame::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    const LanguageResources& resources = LanguageResources::current();
    for (int i = 0; i < 3; ++i) {
        QLabel* label = i == 0 ? new PathPane(bar) : new QLabel(bar);
        label->setObjectName(QStringLiteral("pane%1").arg(i + 1));
        label->setText(resources.string(PaneIds[i]));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addPermanentWidget(label);
        m_panes[i] = label;
    }
    m_pausePane = new QLabel(resources.string(StringPaused), bar);
    m_pausePane->setObjectName(QStringLiteral("pausePane"));
    m_pausePane->setToolTip(resources.string(StringPausedTip));
    m_pausePane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pausePane->setVisible(false);
    bar->addPermanentWidget(m_pausePane);
    m_readPane = new QLabel(bar);
    m_readPane->setObjectName(QStringLiteral("readPane"));
    m_readPane->setToolTip(resources.string(StringCannotReadTip));
    m_readPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_readPane->setVisible(false);
    bar->addPermanentWidget(m_readPane);
    m_encodingPane = new QLabel(bar);
    m_encodingPane->setObjectName(QStringLiteral("encodingPane"));
    m_encodingPane->setToolTip(resources.string(StringEncodingTip));
    m_encodingPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(m_encodingPane);
}

void MainFrame::updateEncodingPane()
{
    if (m_encodingPane == nullptr) {
        return;
    }
    QString text;
    const LogDocument* document = GetActiveDocument();
    if (document != nullptr && !document->GetPathName().empty()) {
        text = QString::fromStdString(quill::encodingName(document->Form()));
        if (document->ChosenEncoding() == quill::TextEncoding::Automatic) {
            // A package without the text (or one that drops the name) still shows the name.
            const QString automatic =
                LanguageResources::current().format(StringEncodingAutomatic, text);
            if (automatic.contains(text)) {
                text = automatic;
            }
        }
    }
    if (m_encodingPane->text() != text) {
        m_encodingPane->setText(text);
    }
}

void MainFrame::updatePausePane()
{
    // Paused: a file is open and nobody watches it. A document without a file has nothing
    // to follow, so there is nothing to call paused.
    // A complete decompressed copy is not followed any more, so it is not paused either.
    const LogDocument* document = GetActiveDocument();
    const bool paused = !document->IsWatching() && document->CanFollow();
    if (m_pausePane != nullptr && m_pausePane->isVisibleTo(statusBar()) != paused) {
        m_pausePane->setVisible(paused);
    }
}

void MainFrame::updateReadPane()
{
    const LogDocument* document = GetActiveDocument();
    const int error = document != nullptr ? document->ReadError() : 0;
    if (m_readPane == nullptr) {
        return;
    }
    if (error != 0) {
        m_readPane->setText(LanguageResources::current().format(StringCannotRead,
                                                                 readProblemText(error)));
    }
    if (m_readPane->isVisibleTo(statusBar()) != (error != 0)) {
        m_readPane->setVisible(error != 0);
    }
}

int MainFrame::GetStatusTextWidth(const QString& text) const
{
    return statusBar()->fontMetrics().horizontalAdvance(text);
}

void MainFrame::SetPaneText(int index, const QString& text)
{
    QLabel* label = pane(index);
    if (label == nullptr) {
        return;
    }
    label->setText(text);
    label->setFrameStyle(text.isEmpty() ? QFrame::NoFrame : (QFrame::Panel | QFrame::Sunken));
    const int frame = text.isEmpty() ? 0 : 2 * label->frameWidth() + 2 * label->margin() + 4;
    const int width = text.isEmpty() ? 0 : GetStatusTextWidth(text) + frame;
    if (index == 1) {
        // The path gives way to the other panes when the bar is short of room.
        label->setMinimumWidth(0);
        label->setMaximumWidth(width);
        label->setToolTip(text);
    } else {
        label->setFixedWidth(width);
    }
}

void MainFrame::SetFilePathText(const std::u16string& path)
{
    SetPaneText(1, quill::fileNameToDisplay(path));
}

void MainFrame::SetFileSizeText(qint64 size)
{
    SetPaneText(2, QStringLiteral("%1 %2 Bytes")
                       .arg(LanguageResources::current().string(StringSizeLabel))
                       .arg(size));
}

void MainFrame::SetLineCountText(qint64 count)
{
    SetPaneText(3, QStringLiteral("%1 %2")
                       .arg(LanguageResources::current().string(StringLineLabel))
                       .arg(count));
}

void MainFrame::ApplyTopMost()
{
    const bool topMost = SettingsStore::instance().GetBool(Setting::TopMost);
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topMost) {
        return;
    }
    // Changing a window flag hides a shown window; show it again where it was. The window
    // is not activated: doing that after every appended text would take the keyboard away
    // from whatever the user is typing into.
    const bool wasVisible = isVisible();
    const QRect geometryBefore = geometry();
    setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (wasVisible) {
        setGeometry(geometryBefore);
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

void MainFrame::SaveWindowPosition(bool cascade)
{
    if (isMinimized()) {
        return;
    }
    // The window's own rectangle, without the frame the window manager draws: the one that
    // setGeometry() takes back. Storing the frame and restoring it as the inside grew the
    // window by its title bar at every start.
    QRect rect = geometry();
    if ((isMaximized() || isFullScreen()) && normalGeometry().isValid()) {
        rect = normalGeometry();
    }
    // Only a new window opened beside this one steps aside; the next start comes back
    // where the window was left.
    rect.translate(cascade ? CascadeOffset : 0, cascade ? CascadeOffset : 0);
    SettingsStore& settings = SettingsStore::instance();
    settings.SetDword(Setting::WindowPosLeft, static_cast<std::uint32_t>(rect.left()));
    settings.SetDword(Setting::WindowPosTop, static_cast<std::uint32_t>(rect.top()));
    settings.SetDword(Setting::WindowPosRight,
                      static_cast<std::uint32_t>(rect.left() + rect.width()));
    settings.SetDword(Setting::WindowPosBottom,
                      static_cast<std::uint32_t>(rect.top() + rect.height()));
}

QRect MainFrame::placeOnScreen(const QRect& rect, const QList<QRect>& screens)
{
    // Enough of the window to take hold of it: this much of it on some screen.
    constexpr int GripWidth = 64;
    constexpr int GripHeight = 32;
    const QRect* nearest = nullptr;
    qint64 nearestDistance = 0;
    for (const QRect& area : screens) {
        const QRect visible = rect.intersected(area);
        if (visible.width() >= std::min(GripWidth, rect.width()) &&
            visible.height() >= std::min(GripHeight, rect.height())) {
            return rect;
        }
        const qint64 dx = std::max({0, area.left() - rect.right(), rect.left() - area.right()});
        const qint64 dy = std::max({0, area.top() - rect.bottom(), rect.top() - area.bottom()});
        if (nearest == nullptr || dx * dx + dy * dy < nearestDistance) {
            nearest = &area;
            nearestDistance = dx * dx + dy * dy;
        }
    }
    if (nearest == nullptr) {
        return rect;
    }
    // Off every screen (a screen unplugged since, or many cascading steps): brought wholly
    // onto the nearest one, shrunk to it when larger.
    const QSize size = rect.size().boundedTo(nearest->size());
    const int x = std::clamp(rect.left(), nearest->left(), nearest->right() + 1 - size.width());
    const int y = std::clamp(rect.top(), nearest->top(), nearest->bottom() + 1 - size.height());
    return QRect(QPoint(x, y), size);
}

void MainFrame::restoreWindowPosition()
{
    SettingsStore& settings = SettingsStore::instance();
    // Stored as unsigned numbers; a window left of or above the primary screen has
    // negative edges.
    const auto left = static_cast<std::int32_t>(settings.GetDword(Setting::WindowPosLeft));
    const auto top = static_cast<std::int32_t>(settings.GetDword(Setting::WindowPosTop));
    const auto right = static_cast<std::int32_t>(settings.GetDword(Setting::WindowPosRight));
    const auto bottom = static_cast<std::int32_t>(settings.GetDword(Setting::WindowPosBottom));
    if (left == 0 && top == 0 && right == 0 && bottom == 0) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            resize(screen->availableSize() * 2 / 3);
        }
        return;
    }
    // 64-bit: damaged edges may lie anywhere in the 32-bit range.
    const auto width = static_cast<int>(
        std::clamp<std::int64_t>(std::int64_t(right) - left, 1, QWIDGETSIZE_MAX));
    const auto height = static_cast<int>(
        std::clamp<std::int64_t>(std::int64_t(bottom) - top, 1, QWIDGETSIZE_MAX));
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    setGeometry(placeOnScreen(QRect(left, top, width, height), screens));
}

void MainFrame::updateCommandStates()
{
    if (m_front == nullptr) {
        return;
    }
    if (m_sources != nullptr) {
        m_sources->wake(); // the status bar follows the front document and its source
    }
    LogView* view = GetView();
    const bool hasLines = GetActiveDocument()->GetLineCount() > 0;
    commandAction(Command::Reload)->setEnabled(hasLines);
    commandAction(Command::Clear)->setEnabled(hasLines);
    commandAction(Command::Pause)->setEnabled(view->canPause());
    commandAction(Command::Resume)->setEnabled(view->canResume());
    commandAction(Command::Copy)->setEnabled(
        filterPaneHasFocus() ? filterPane()->view()->canCopy() : view->canCopy());
    const int tabs = m_tabs->count();
    commandAction(Command::CloseTab)->setEnabled(tabs > 1 || !m_front->path().empty());
    commandAction(Command::NextTab)->setEnabled(tabs > 1);
    commandAction(Command::PreviousTab)->setEnabled(tabs > 1);
    for (int id = Command::SelectTab1; id <= Command::SelectTab9; ++id) {
        commandAction(id)->setEnabled(id - Command::SelectTab1 < tabs);
    }
    commandAction(Command::Filter)->setEnabled(true);
    commandAction(Command::SelectAll)->setEnabled(true);
    commandAction(Command::Find)->setEnabled(hasLines);
    commandAction(Command::FindNextDown)->setEnabled(true);
    commandAction(Command::FindNextUp)->setEnabled(true);
    commandAction(Command::Settings)->setEnabled(true);
    commandAction(Command::FollowCommand)->setEnabled(true);
    commandAction(Command::FollowJournal)->setEnabled(true);
    SettingsStore& settings = SettingsStore::instance();
    commandAction(Command::ViewToolbar)->setChecked(settings.GetBool(Setting::Toolbar));
    commandAction(Command::ViewStatusBar)->setChecked(settings.GetBool(Setting::StatusBar));
    NavigationCommands::UpdateStates(*m_commands, GetView());
    commandAction(Command::ViewWrapLines)->setEnabled(true);
    commandAction(Command::ViewShowControlCharacters)->setEnabled(true);
    commandAction(Command::ViewWrapLines)->setChecked(settings.GetBool(Setting::WrapLongLines));
    const LogDocument* front = GetActiveDocument();
    commandAction(Command::ViewTerminalColors)
        ->setChecked(front != nullptr ? front->TerminalColors()
                                      : settings.GetBool(Setting::TerminalColors));
    commandAction(Command::ViewShowControlCharacters)
        ->setChecked(front != nullptr ? front->ShowControlCharacters()
                                      : settings.GetBool(Setting::ShowControlCharacters));
    const int chosen = front != nullptr ? int(front->ChosenEncoding()) : 0;
    for (int id = Command::ViewEncodingFirst; id <= Command::ViewEncodingLast; ++id) {
        commandAction(id)->setEnabled(front != nullptr);
        commandAction(id)->setChecked(id - Command::ViewEncodingFirst == chosen);
    }
    updateEncodingPane();
    updatePausePane();
    updateReadPane();
}

void MainFrame::runCommand(int id)
{
    switch (id) {
    case Command::FileNew:
        if (m_owner != nullptr) {
            m_owner->OnFileNew();
        }
        break;
    case Command::FileOpen:
        if (m_owner != nullptr) {
            m_owner->OnFileOpen();
        }
        break;
    case Command::About:
        if (m_owner != nullptr) {
            m_owner->OnAppAbout();
        }
        break;
    case Command::Exit:
        close();
        break;
    case Command::FollowCommand:
        m_sources->onFollowCommand();
        break;
    case Command::FollowJournal:
        m_sources->followSystemJournal();
        break;
    case Command::NewWindow:
        OnNewWindow();
        break;
    case Command::Reload:
        OnFileReload();
        break;
    case Command::Clear:
        OnClearWindow();
        break;
    case Command::Settings:
        OnSettings();
        break;
    case Command::Pause:
        GetView()->OnPause();
        break;
    case Command::Resume:
        GetView()->OnResume();
        break;
    case Command::CloseTab:
        closeTab(m_front);
        break;
    case Command::NextTab:
        selectTabAt((m_tabs->currentIndex() + 1) % m_tabs->count());
        break;
    case Command::PreviousTab:
        selectTabAt((m_tabs->currentIndex() + m_tabs->count() - 1) % m_tabs->count());
        break;
    case Command::ViewToolbar:
    case Command::ViewStatusBar:
        toggleBar(id);
        break;
    case Command::ViewTerminalColors:
        OnViewTerminalColors();
        break;
    case Command::ViewShowControlCharacters:
        OnViewShowControlCharacters();
        break;
    case Command::ViewWrapLines:
        OnViewWrapLines();
        break;

    case Command::Copy:
        OnEditCopy();
        break;
    case Command::SelectAll:
        OnEditSelectAll();
        break;
    case Command::Filter:
        OnFilter();
        break;
    case Command::Find:
        OnEditFind();
        break;
    case Command::FindNextDown:
        FindAgain(true);
        break;
    case Command::FindNextUp:
        FindAgain(false);
        break;
    default:
        if (id >= Command::SelectTab1 && id <= Command::SelectTab9) {
            selectTabAt(id - Command::SelectTab1);
        } else if (id >= Command::ViewEncodingFirst && id <= Command::ViewEncodingLast) {
            OnViewEncoding(quill::TextEncoding(id - Command::ViewEncodingFirst));
        } else {
            NavigationCommands::Run(id, GetView(), this);
        }
        break;
    }
    updateCommandStates();
}

void MainFrame::OnSettings()
{
    SettingsSheet sheet(StringSettingsCaption, this);
    sheet.setSoundService(m_sound);
    if (sheet.DoModal() != SettingsSheet::IDOK) {
        return;
    }
    sheet.SaveAll();
    // Settings apply to every tab; those behind the front one catch up when shown.
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->ReloadKeywords();
        tab(i)->document()->SetNewTextArrived(false);
        tab(i)->UpdateAllViews();
    }
    ApplyTopMost();
    TraceLog::instance().SetConfiguredLevel(
        SettingsStore::instance().GetDword(Setting::LogLevel));
    if (m_findDialog && m_findDialog->isVisible()) {
        m_findDialog->activateWindow();
        m_findDialog->setFocus();
    }
}

void MainFrame::toggleBar(int id)
{
    SettingsStore& settings = SettingsStore::instance();
    const SettingId setting = id == Command::ViewToolbar ? Setting::Toolbar : Setting::StatusBar;
    const bool show = !settings.GetBool(setting);
    settings.SetBool(setting, show);
    QWidget* bar = id == Command::ViewToolbar ? static_cast<QWidget*>(m_wndToolBar) : statusBar();
    if (bar != nullptr) {
        bar->setVisible(show);
    }
}

void MainFrame::tabAppended(LogTab* tab)
{
    tab->OnFileAppended();
    const LogDocument* document = tab->document();
    if (m_sources != nullptr &&
        document->IndexStopped().limit != LogDocument::IndexStop::Limit::None) {
        m_sources->wake(); // told once, in a box and in the status bar
    }
    TraceLog::instance().Line(TraceLog::LevelInfo, "File appended: ",
                              std::uint32_t(document->GetLineCount()), " lines, ",
                              std::int64_t(document->GetFileSizeBytes()), " bytes");
    ApplyTopMost();
}

void MainFrame::OnFileReload()
{
    reloadTab(m_front, true);
}

void MainFrame::reloadTab(LogTab* tab, bool byUser)
{
    if (tab == nullptr || m_owner == nullptr || m_reloading != nullptr) {
        return;
    }
    const std::u16string path = tab->path();
    LogDocument* document = tab->document();
    const int error = document->Source() == nullptr ? document->FileOpenError() : 0;
    if (error != 0 && error != ENOENT) {
        // New would empty the tab and the open would fail: the lines stay, and a watcher
        // tries again, continuing the file or reloading it as soon as it can be read.
        TraceLog::instance().Line(TraceLog::LevelInfo, "Not reloaded, cannot read ",
                                  std::u16string_view(path), ": ", std::int64_t(error));
        document->StartWatching(error);
        tab->UpdateAllViews();
        if (byUser) {
            showMessage(LanguageResources::current().format(
                StringReloadUnreadable, quill::fileNameToDisplay(path), readProblemText(error)));
        }
        updateCommandStates();
        return;
    }
    TraceLog::instance().Line(TraceLog::LevelInfo, "Reloading ", std::u16string_view(path));
    // New and the open act on this tab, wherever it stands. A source's spool is read
    // again; New would end the source.
    m_reloading = tab;
    if (tab->document()->Source() == nullptr) {
        m_owner->OnFileNew();
    }
    if (!path.empty()) {
        m_owner->OpenDocumentFile(path);
    }
    m_reloading = nullptr;
}

void MainFrame::OnClearWindow()
{
    LogDocument* document = GetActiveDocument();
    document->ClearText();
    document->SetNewTextArrived(false);
    UpdateAllViews();
    ApplyTopMost();
}

void MainFrame::OnViewTerminalColors()
{
    const bool on = !SettingsStore::instance().GetBool(Setting::TerminalColors);
    SettingsStore::instance().SetBool(Setting::TerminalColors, on);
    // A display setting: every tab shows its text one way.
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->SetTerminalColors(on);
        tab(i)->UpdateAllViews();
        tab(i)->view()->viewport()->update();
    }
}

void MainFrame::OnViewShowControlCharacters()
{
    const bool on = !SettingsStore::instance().GetBool(Setting::ShowControlCharacters);
    SettingsStore::instance().SetBool(Setting::ShowControlCharacters, on);
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->SetShowControlCharacters(on);
        tab(i)->UpdateAllViews();
        tab(i)->view()->viewport()->update();
    }
}

void MainFrame::OnViewWrapLines()
{
    SettingsStore& settings = SettingsStore::instance();
    settings.SetBool(Setting::WrapLongLines, !settings.GetBool(Setting::WrapLongLines));
    // Each tab's views read the setting when they are brought up to date.
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->UpdateAllViews();
    }
}

void MainFrame::OnViewEncoding(quill::TextEncoding encoding)
{
    LogDocument* document = GetActiveDocument();
    if (document == nullptr) {
        return;
    }
    document->SetEncoding(encoding);
    const std::u16string path = document->GetPathName();
    if (path.empty()) {
        return; // the next open in this tab uses it
    }
    if (m_owner != nullptr) {
        m_owner->SetFileEncoding(path, encoding);
        OnFileReload();
    } else if (document->OnOpenDocument(path)) {
        m_front->UpdateAllViews();
    }
}

void MainFrame::OnNewWindow()
{
    SaveWindowPosition(true);
    if (m_newWindowProgram.isEmpty()) {
        return;
    }
    // Started directly, never through a shell, and without a file: the new copy goes
    // through the whole start-up on its own.
    QProcess::startDetached(m_newWindowProgram, {});
}

void MainFrame::OnDropFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (m_owner != nullptr) {
            m_owner->OpenDocumentFile(toU16(path));
        }
    }
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_tabs->tabBar() && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::MiddleButton) {
            const int index = m_tabs->tabBar()->tabAt(mouse->position().toPoint());
            if (index >= 0) {
                closeTab(tab(index));
                updateCommandStates();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainFrame::closeEvent(QCloseEvent* event)
{
    SaveWindowPosition();
    emit aboutToClose();
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->OnCloseDocument();
    }
    event->accept();
}

void MainFrame::contextMenuEvent(QContextMenuEvent* event)
{
    updateCommandStates();
    std::unique_ptr<QMenu> menu(m_commands->createPopupMenu(ResourceContextMenu, this));
    if (menu) {
        menu->setObjectName(QStringLiteral("contextMenu"));
        menu->exec(event->globalPos());
    }
}

void MainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
}

void MainFrame::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            // The URL's bytes, not toLocalFile(): that decodes a name that is not UTF-8
            // into another one.
            paths.append(toQString(quill::fileNameFromUrl(url)));
        }
    }
    event->acceptProposedAction();
    // Opening may show a message box; that must not happen inside the drag and drop loop.
    QTimer::singleShot(0, this, [this, paths] { OnDropFiles(paths); });
}

void MainFrame::UpdateAllViews()
{
    m_front->UpdateAllViews();
}

void MainFrame::showMessage(const QString& text)
{
    if (m_messageHandler) {
        m_messageHandler(text);
        return;
    }
    QMessageBox::information(this, QStringLiteral("Quillstream"), text);
}

bool MainFrame::filterPaneHasFocus() const
{
    return filterPane()->isActive() && filterPane()->view()->hasFocus();
}

void MainFrame::OnEditSelectAll()
{
    if (filterPaneHasFocus()) {
        filterPane()->view()->OnEditSelectAll();
    } else {
        GetView()->OnEditSelectAll();
    }
}

void MainFrame::OnEditCopy()
{
    FilterView* pane = filterPaneHasFocus() ? filterPane()->view() : nullptr;
    if (pane != nullptr ? !pane->canCopy() : !GetView()->canCopy()) {
        return;
    }
    if (pane == nullptr) {
        startCopyJob();
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const CopyResult result = pane->OnEditCopy();
    QGuiApplication::restoreOverrideCursor();
    reportCopy(result);
}

void MainFrame::startCopyJob()
{
    if (m_copyJob != nullptr) {
        return; // one copy at a time; the next Copy waits for this one to end
    }
    LogDocument* document = GetActiveDocument();
    m_copyJob = std::make_unique<SelectionCopyJob>(*document, document->GetSelection());
    m_copyTab = m_front;
    connect(m_copyJob.get(), &SelectionCopyJob::finished, this, &MainFrame::finishCopyJob);
    m_copyPolls = 0;
    if (m_copyPoll == nullptr) {
        m_copyPoll = new QTimer(this);
        m_copyPoll->setInterval(CopyPollMs);
        connect(m_copyPoll, &QTimer::timeout, this, &MainFrame::updateCopyProgress);
    }
    m_copyPoll->start();
}

void MainFrame::updateCopyProgress()
{
    if (m_copyJob == nullptr) {
        return;
    }
    ++m_copyPolls;
    if (m_copyProgress == nullptr && m_copyPolls * CopyPollMs >= CopyProgressAfterMs) {
        const LanguageResources& resources = LanguageResources::current();
        m_copyProgress = new QProgressDialog(this);
        m_copyProgress->setObjectName(QStringLiteral("copyProgress"));
        m_copyProgress->setWindowTitle(QStringLiteral("Quillstream"));
        m_copyProgress->setLabelText(resources.string(StringCopying));
        m_copyProgress->setCancelButtonText(resources.string(StringCopyCancel));
        m_copyProgress->setRange(0, 1000);
        m_copyProgress->setMinimumDuration(0);
        m_copyProgress->setAutoClose(false);
        m_copyProgress->setAutoReset(false);
        // Window-modal: the window goes on painting and following, but no second command
        // acts on a selection that is being read.
        m_copyProgress->setWindowModality(Qt::WindowModal);
        // Cancel, Escape and closing the window all come as canceled.
        connect(m_copyProgress, &QProgressDialog::canceled, this, [this] {
            if (m_copyJob) {
                m_copyJob->cancel();
            }
        });
        m_copyProgress->open();
    }
    if (m_copyProgress != nullptr) {
        m_copyProgress->setValue(m_copyJob->permille());
    }
}

void MainFrame::finishCopyJob()
{
    if (m_copyJob == nullptr) {
        return;
    }
    m_copyPoll->stop();
    const CopyResult result = m_copyJob->result();
    if (result.outcome == CopyOutcome::Copied) {
        if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->setMimeData(new SelectionMimeData(m_copyJob->takeText()),
                                   QClipboard::Clipboard);
        }
    }
    // Not deleted here: this runs inside the job's own signal. Its thread has ended.
    SelectionCopyJob* job = m_copyJob.release();
    m_copyTab = nullptr;
    job->setParent(this);
    job->deleteLater();
    if (m_copyProgress != nullptr) {
        m_copyProgress->disconnect(this);
        m_copyProgress->hide();
        m_copyProgress->deleteLater();
        m_copyProgress = nullptr;
    }
    reportCopy(result);
}

void MainFrame::reportCopy(const CopyResult& result)
{
    const auto megabytes = [](std::uint64_t bytes) {
        return QString::number((bytes + (1 << 20) - 1) >> 20);
    };
    if (result.outcome == CopyOutcome::TooLarge) {
        TraceLog::instance().Line(TraceLog::LevelError, "Copy refused: needs ",
                                  std::uint64_t(result.neededBytes), " bytes, ",
                                  std::uint64_t(result.availableBytes), " available");
        showMessage(LanguageResources::current().format(StringCopyTooLarge,
                                                        megabytes(result.neededBytes),
                                                        megabytes(result.availableBytes)));
    } else if (result.outcome == CopyOutcome::Unreadable) {
        showMessage(LanguageResources::current().string(StringCopyUnreadable));
    }
}

std::u16string MainFrame::initialSearchText() const
{
    LogDocument* document = GetActiveDocument();
    // Text spanning several lines is never found (a match lies on one line), and building
    // it for a selection of the whole file would cost a copy of the file.
    const DocSelection selection = document->GetSelection();
    std::u16string text;
    if (selection.valid && selection.startLine == selection.endLine) {
        text = document->GetSelectedText();
    }
    if (text.empty()) {
        text = SettingsStore::instance().GetString(Setting::LastFindString);
    }
    return text;
}

void MainFrame::OnEditFind()
{
    if (GetActiveDocument()->GetLineCount() == 0) {
        return;
    }
    if (m_findDialog) {
        // At most one: the open dialog comes to the front with the current text.
        const std::u16string text = initialSearchText();
        if (!text.empty()) {
            m_findDialog->setSearchText(toQString(text));
        }
        m_findDialog->show();
        m_findDialog->raise();
        m_findDialog->activateWindow();
        return;
    }
    SettingsStore& settings = SettingsStore::instance();
    auto* dialog = new FindDialog(this);
    dialog->setHistory(m_findHistory);
    dialog->setSearchText(toQString(initialSearchText()));
    dialog->setOptions(settings.GetBool(Setting::FindMatchCase),
                       settings.GetBool(Setting::FindWholeWord), settings.GetBool(Setting::FindDown));
    dialog->setRegularExpression(settings.GetBool(Setting::FindRegularExpression));
    connect(dialog, &FindDialog::findNext, this, &MainFrame::OnFindNext);
    connect(dialog, &FindDialog::searchChanged, this,
            [this](const QString& text, bool matchCase, bool wholeWord, bool regularExpression) {
                if (currentTab() != nullptr) {
                    setFindHighlight(toU16(text),
                                     (matchCase ? FR_MATCHCASE : 0) |
                                         (wholeWord ? FR_WHOLEWORD : 0),
                                     regularExpression);
                }
            });
    connect(dialog, &FindDialog::closing, this, [this, dialog] {
        // The matches stay shown after a Find, until Escape in the view; a box closed
        // without one takes its highlight with it.
        if (!dialog->property("searched").toBool() && currentTab() != nullptr) {
            GetView()->ClearFindHighlight();
        }
        m_findDialog = nullptr;
    });
    setFindHighlight(toU16(dialog->searchText()),
                     (dialog->matchCase() ? FR_MATCHCASE : 0) |
                         (dialog->wholeWord() ? FR_WHOLEWORD : 0),
                     dialog->regularExpression());
    m_findDialog = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void MainFrame::OnFindNext(const QString& text, bool down, bool matchCase, bool wholeWord,
                           bool regularExpression)
{
    m_findRegularExpression = regularExpression;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_searchFlags = (down ? FR_DOWN : 0) | (wholeWord ? FR_WHOLEWORD : 0) |
                     (matchCase ? FR_MATCHCASE : 0);
    SettingsStore& settings = SettingsStore::instance();
    // Shift+Enter searches the other way once; the dialog's own direction is what is kept.
    settings.SetBool(Setting::FindDown, m_findDialog ? m_findDialog->searchDown() : down);
    settings.SetBool(Setting::FindMatchCase, matchCase);
    settings.SetBool(Setting::FindWholeWord, wholeWord);
    settings.SetBool(Setting::FindRegularExpression, regularExpression);
    QGuiApplication::restoreOverrideCursor();
    search(toU16(text), down);
}

void MainFrame::FindAgain(bool down)
{
    m_searchFlags = down ? (m_searchFlags | FR_DOWN) : (m_searchFlags & ~FR_DOWN);
    // A pattern's match is no pattern to search for next: the last pattern is.
    const std::u16string text = m_findRegularExpression
                                    ? SettingsStore::instance().GetString(Setting::LastFindString)
                                    : initialSearchText();
    if (text.empty()) {
        OnEditFind();
        return;
    }
    search(text, down);
}

void MainFrame::search(const std::u16string& text, bool down)
{
    const QString shown = toQString(text);
    m_findHistory.removeAll(shown);
    m_findHistory.prepend(shown);
    if (m_findDialog) {
        m_findDialog->rememberText(shown);
    }
    if (m_findDialog) {
        m_findDialog->setProperty("searched", true);
    }
    setFindHighlight(text, m_searchFlags, m_findRegularExpression);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    bool reported = false;
    const bool found =
        m_findRegularExpression
            ? searchRegex(text, down, reported)
            : GetActiveDocument()->Find(text, down, m_searchFlags & (FR_WHOLEWORD | FR_MATCHCASE));
    QGuiApplication::restoreOverrideCursor();
    SettingsStore::instance().SetString(Setting::LastFindString, text);
    updateCommandStates();
    if (!found && !reported) {
        showMessage(LanguageResources::current().format(StringNotFound, toQString(text)));
        if (m_findDialog) {
            m_findDialog->raise();
            m_findDialog->activateWindow();
            m_findDialog->focusSearchText();
        }
    }
}

QAction* MainFrame::action(int id) const
{
    return m_commands->find(id);
}

void MainFrame::OnFilter()
{
    filterPane()->bar()->focusField();
}

void MainFrame::ShowLine(LineNumber line)
{
    m_front->ShowLine(line);
}
