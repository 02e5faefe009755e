#include "frame/MainFrame.h"
#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/FindAllPane.h"
#include "frame/LineDetailsPane.h"
#include "frame/LogTab.h"
#include "frame/MergedPart.h"
#include "frame/SaveLinesCommand.h"
#include "frame/SourceControl.h"
#include "frame/TabNames.h"
#include "frame/TimeCommands.h"

#include "diagnostics/TraceLog.h"
#include "dialogs/FindDialog.h"
#include "dialogs/MessageDialog.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "resources/CommandActions.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "resources/VersionInfo.h"
#include "settings/SettingsStore.h"
#include "view/FilterView.h"
#include "view/LogView.h"
#include "view/SelectionClipboard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressDialog>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <cerrno>

using quill::toQString;
using quill::toU16;

namespace {

// The widest name a tab shows, in average characters of its font.
constexpr int TabNameChars = 26;

} // namespace

MainFrame::MainFrame(FrameOwner* owner, SoundService* sound, QWidget* parent)
    : QMainWindow(parent), m_owner(owner),
      m_newWindowProgram(QCoreApplication::applicationFilePath())
{
    setObjectName(QStringLiteral("mainFrame"));
    m_sound = sound;
    m_time = new TimeCommands(this);
    buildLineDetails();
    m_saveLines = new SaveLinesCommand(this);
    buildTabs();

    const LanguageResources& resources = LanguageResources::current();
    const QIcon icon = resources.icon(ResourceId::MainFrame);
    if (!icon.isNull()) {
        setWindowIcon(icon);
    }
    createActions();
    buildMenus();
    loadAccelerators();
    m_created = buildToolBar();
    buildStatusBar();
    buildSources();
    setPaneText(1, QString());
    applyTopMost();

    SettingsStore& settings = SettingsStore::instance();
    statusBar()->setVisible(settings.boolValue(Setting::StatusBar));
    m_wndToolBar->setVisible(settings.boolValue(Setting::Toolbar));
    restoreWindowPosition();
    setAcceptDrops(true);
    frontChanged();
}

MainFrame::~MainFrame()
{
    // Its thread reads a tab's document.
    m_copyJob.reset();
    m_saveLines->tabClosing(nullptr);
    // The window's own destruction moves the focus; the bars are gone by then.
    disconnect(m_focusConnection);
    // The results of Find in All Tabs point into the tabs' documents.
    if (m_findAll != nullptr) {
        m_findAll->detach();
    }
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

void MainFrame::buildLineDetails()
{
    m_details = new LineDetailsPane(this);
    addDockWidget(Qt::RightDockWidgetArea, m_details);
    m_details->setVisible(SettingsStore::instance().boolValue(Setting::LineDetails));
    connect(m_details, &LineDetailsPane::closedByUser, this, [this] { updateCommandStates(); });
}

LogTab* MainFrame::currentTab() const
{
    return m_front;
}

LogView* MainFrame::activeView() const
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

LogDocument* MainFrame::activeDocument() const
{
    return m_front->document();
}

void MainFrame::buildSources()
{
    m_sources = new SourceControl(this, statusBar(), [this] { return activeDocument(); });
    m_sources->setMessageHandler([this](const QString& text) { showMessage(text); });
    // A new source opens as a file does: in the empty front tab, else in a tab of its own.
    m_sources->setTargetDocument([this] { return prepareOpen(std::u16string()).tab->document(); });
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
                tab(i)->view()->initialUpdate();
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
            setFileSizeText(size);
            setLineCountText(lines);
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
    m_time->watch(tab);
    m_details->watch(tab);
    m_tabs->addTab(tab, tab->label());
    updateTabLabel(tab);
    if (m_findAll != nullptr) {
        m_findAll->tabAdded(tab);
    }
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
    m_saveLines->tabClosing(tab);
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
    if (m_tabs->count() == 1 && tab->merged() == nullptr) {
        // The last tab stays, empty, as after File New: one file behaves as it always did.
        if (m_owner != nullptr) {
            m_owner->onFileNew();
        }
        return;
    }
    if (m_tabs->count() == 1) {
        activateTab(addTab()); // a merged tab gives its place to an empty one
    }
    disconnect(tab, nullptr, this, nullptr);
    if (m_findAll != nullptr) {
        m_findAll->tabClosing(tab);
    }
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
    setFilePathText(document->pathName());
    if (document->pathName().empty() && document->lineCount() == 0) {
        setPaneText(1, QString());
    }
    setFileSizeText(document->fileSizeBytes());
    setLineCountText(document->lineCount());
    updateTabLabel(front);
    if (!front->isAncestorOf(QApplication::focusWidget())) {
        front->view()->setFocus();
    }
    updateCommandStates();
    m_time->refreshPane();
    m_details->refreshSoon();
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
    m_tabs->setTabToolTip(index, tab->merged() != nullptr ? tab->merged()->toolTip()
                                                          : quill::fileNameToDisplay(tab->path()));
    m_tabs->tabBar()->setTabTextColor(index, tab->hasAlert() ? QColor(Qt::red) : QColor());
    if (tab == m_front && windowTitle() != quill::literalTitle(tab->title())) {
        setWindowTitle(quill::literalTitle(tab->title()));
    }
}

LogTab* MainFrame::targetTab() const
{
    return m_reloading != nullptr ? m_reloading : m_front;
}

MainFrame::OpenTarget MainFrame::prepareOpen(const std::u16string& fullPath)
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
    if (m_front->path().empty() && m_front->document()->source() == nullptr &&
        m_front->merged() == nullptr) {
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
        if (path.empty() || tab(i)->document()->source() != nullptr) {
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

void MainFrame::tabAppended(LogTab* tab)
{
    tab->onFileAppended();
    if (m_findAll != nullptr) {
        m_findAll->tabAppended(tab);
    }
    const LogDocument* document = tab->document();
    if (m_sources != nullptr &&
        document->indexStopped().limit != LogDocument::IndexStop::Limit::None) {
        m_sources->wake(); // told once, in a box and in the status bar
    }
    TraceLog::instance().line(TraceLog::LevelInfo,
                              "File appended: ", std::uint32_t(document->lineCount()), " lines, ",
                              std::int64_t(document->fileSizeBytes()), " bytes");
    applyTopMost();
}

void MainFrame::onFileReload()
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
    const int error = document->source() == nullptr ? document->fileOpenError() : 0;
    if (error != 0 && error != ENOENT) {
        // New would empty the tab and the open would fail: the lines stay, and a watcher
        // tries again, continuing the file or reloading it as soon as it can be read.
        TraceLog::instance().line(TraceLog::LevelInfo, "Not reloaded, cannot read ",
                                  std::u16string_view(path), ": ", std::int64_t(error));
        document->startWatching(error);
        tab->updateAllViews();
        if (byUser) {
            showMessage(LanguageResources::current().format(StringId::ReloadUnreadable,
                                                            quill::fileNameToDisplay(path),
                                                            readProblemText(error)));
        }
        updateCommandStates();
        return;
    }
    TraceLog::instance().line(TraceLog::LevelInfo, "Reloading ", std::u16string_view(path));
    // New and the open act on this tab, wherever it stands. A source's spool is read
    // again; New would end the source.
    m_reloading = tab;
    if (tab->document()->source() == nullptr) {
        m_owner->onFileNew();
    }
    if (!path.empty()) {
        m_owner->openDocumentFile(path);
    }
    m_reloading = nullptr;
}

void MainFrame::onNewWindow()
{
    saveWindowPosition(true);
    if (m_newWindowProgram.isEmpty()) {
        return;
    }
    // Started directly, never through a shell, and without a file: the new copy goes
    // through the whole start-up on its own.
    QProcess::startDetached(m_newWindowProgram, {});
}

void MainFrame::onDropFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (m_owner != nullptr) {
            m_owner->openDocumentFile(toU16(path));
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
    saveWindowPosition();
    emit aboutToClose();
    for (int i = 0; i < m_tabs->count(); ++i) {
        tab(i)->document()->closeDocument();
    }
    event->accept();
}

void MainFrame::contextMenuEvent(QContextMenuEvent* event)
{
    updateCommandStates();
    std::unique_ptr<QMenu> menu(m_commands->createPopupMenu(ResourceId::ContextMenu, this));
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
    QTimer::singleShot(0, this, [this, paths] { onDropFiles(paths); });
}

void MainFrame::updateAllViews()
{
    m_front->updateAllViews();
}

void MainFrame::showMessage(const QString& text)
{
    if (m_messageHandler) {
        m_messageHandler(text);
        return;
    }
    QMessageBox::information(this, QStringLiteral("Quillstream"), text);
}

void MainFrame::showLine(LineNumber line)
{
    m_front->showLine(line);
}
