#include "app/Application.h"

#include "app/CommandLine.h"
#include "app/InstanceServer.h"
#include "diagnostics/EnvironmentReport.h"
#include "diagnostics/TraceLog.h"
#include "dialogs/AboutDialog.h"
#include "engine/Decompressor.h"
#include "engine/LineTime.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/RemoteAddress.h"
#include "frame/LogTab.h"
#include "frame/RotatedOffer.h"
#include "frame/SourceControl.h"
#include "frame/TimeCommands.h"
#include "platform/FileName.h"
#include "platform/InstanceChannel.h"
#include "platform/SpoolFolder.h"
#include "platform/TempFolder.h"
#include "resources/LanguageResources.h"
#include "resources/ProductInfo.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "resources/QtTranslations.h"
#include "resources/ResourceHandler.h"
#include "settings/RecentFileList.h"
#include "settings/SettingsStore.h"
#include "settings/TabSession.h"
#include "view/CanberraSound.h"
#include "view/LogView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using quill::toQString;
using quill::toU16;

namespace {

// On standard output as well, so that a terminal shows the usage also where a display
// exists and the box may open elsewhere.
void showUsageBox(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    QMessageBox box(QMessageBox::Information, toQString(Product::Name), text, QMessageBox::Ok);
    box.exec();
}

// Each choice as a text that keeps a name's bytes: the escaped form where the dialog still
// has them (the URL a desktop portal answers with), else Qt's text, which the open finds
// again on disk. Qt's own dialog (without a desktop's) does not list a name that is not
// UTF-8 at all: its model drops what it cannot stat by the decoded text.
QStringList runOpenDialog(const QString& title, const QStringList& filters, const QString& folder)
{
    QFileDialog dialog(nullptr, title, folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    const QList<QUrl> urls = dialog.selectedUrls();
    QStringList chosen;
    for (qsizetype i = 0; i < files.size(); ++i) {
        // The two lists match one to one, but trust that only when they are as long.
        const std::u16string fromUrl =
            urls.size() == files.size() ? quill::fileNameFromUrl(urls[i]) : std::u16string();
        chosen.append(fromUrl.empty() ? files[i] : quill::toQString(fromUrl));
    }
    return chosen;
}

// Standard input that brings a log: a pipe, a socket or a redirected file. A terminal is
// not read without "-", and neither is what a desktop starts programs with (/dev/null).
bool standardInputBringsLog()
{
    struct stat st {};
    return ::fstat(0, &st) == 0 &&
           (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISREG(st.st_mode));
}

// Ends a modal window as a cancel would.
void endModal(QWidget* modal)
{
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->done(QDialog::Rejected);
    } else {
        modal->close();
    }
}

} // namespace

Application::Application()
    : m_resourceHandler(std::make_unique<ResourceHandler>()), m_usagePresenter(showUsageBox),
      m_openDialog(runOpenDialog)
{
}

Application::~Application()
{
    // The frame and its tabs' documents before the package their texts came from; the
    // resource handler unloads the package last.
    m_instanceServer.reset();
    m_mainFrame.reset();
    // The tabs' commands were told to end with their tabs; their graces run side by side,
    // so this waits one grace at most.
    LogSource::waitForEndings();
}

void Application::setUsagePresenter(std::function<void(const QString&)> presenter)
{
    m_usagePresenter = std::move(presenter);
}

void Application::setOpenDialog(
    std::function<QStringList(const QString&, const QStringList&, const QString&)> dialog)
{
    m_openDialog = std::move(dialog);
}

void Application::writeStartLines()
{
    TraceLog& log = TraceLog::instance();
    log.setMessageLevel(TraceLog::LevelInfo);
    log << std::string(77, '-');
    log.endLine();
    log.line(TraceLog::LevelInfo, "Quillstream was started");
}

bool Application::initInstance(const std::vector<std::string>& args)
{
    SettingsStore& settings = SettingsStore::instance();
    TraceLog& log = TraceLog::instance();
    QCoreApplication::instance()->installEventFilter(this);

    m_modulePrefix = m_resourceHandler->modulePrefix();
    log.openLog(TraceLog::buildPath(settings.string(Setting::LogFileName)),
                settings.dword(Setting::LogLevel),
                static_cast<std::int32_t>(settings.dword(Setting::MaxLogFileSize)));
    writeStartLines();
    EnvironmentReport report(log, settings);
    report.reportEnvironment();
    if (log.configuredLevel() == TraceLog::LevelInfo) {
        report.reportLoadedModules();
    }

    if (!m_resourceHandler->loadLanguageResources()) {
        m_initFailed = true;
        return false;
    }
    m_language = m_resourceHandler->language();
    m_helpPath = m_resourceHandler->helpPath();
    // Qt's standard dialogs and key names speak the package's language too.
    const QString qtTexts = installQtTranslations(m_language);
    log.line(TraceLog::LevelInfo,
             "Qt translations: ", qtTexts.isEmpty() ? std::u16string(u"none") : toU16(qtTexts));

    // The recent-file list is kept under the executable's base name, as the framework
    // names the application.
    const QString appName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    m_recentFiles = std::make_unique<RecentFileList>(settings, toU16(appName));
    m_recentFiles->readList();
    m_session = std::make_unique<TabSession>(settings, toU16(appName));

    const CommandLineInfo commandLine = parseCommandLine(args);
    if (commandLine.showHelp) {
        m_usagePresenter(usageText());
        return false;
    }
    if (!commandLine.badOption.empty()) {
        m_usagePresenter(LanguageResources::current().format(
                             commandLine.badOption == "--at" ? StringId::OptionNeedsTime
                             : commandLine.badOption == "--with-rotated"
                                 ? StringId::OptionNeedsFile
                                 : StringId::OptionNeedsLine,
                             QString::fromStdString(commandLine.badOption)) +
                         QStringLiteral("\n\n") + usageText());
        m_initFailed = true;
        return false;
    }
    // Spools of copies that ended without removing theirs (a crash, SIGKILL).
    if (const int stale = quill::removeStaleSpools(quill::spoolFolderPath())) {
        log.line(TraceLog::LevelInfo, "Stale spools removed: ", std::uint32_t(stale));
    }

    if (m_soundOverride == nullptr) {
        m_sound = std::make_unique<CanberraSound>();
    }
    m_mainFrame = std::make_unique<MainFrame>(
        this,
        m_soundOverride != nullptr ? m_soundOverride : static_cast<SoundService*>(m_sound.get()));
    if (!m_mainFrame->isCreated()) {
        m_mainFrame.reset();
        QMessageBox::critical(nullptr, toQString(Product::Name),
                              QStringLiteral("Failed to create empty document."));
        m_initFailed = true;
        return false;
    }
    const bool followsStandardInput =
        !commandLine.command &&
        (commandLine.standardInput || (commandLine.fileNames.empty() && standardInputBringsLog()));
    std::vector<quill::InstanceFile> files;
    for (std::size_t i = 0; i < commandLine.fileNames.size(); ++i) {
        files.push_back(
            {commandLine.fileNames[i], commandLine.lines[i], commandLine.withRotated[i]});
    }
    if (!m_instanceSocket.empty() && !commandLine.newWindow) {
        quill::InstanceRequest request;
        for (const quill::InstanceFile& file : files) {
            // Absolute here: the running window has another working folder. A remote file is
            // named as written.
            request.files.push_back(
                {isRemoteAddress(file.path) ? file.path : quill::absoluteFileName(file.path),
                 file.line, file.withRotated});
        }
        request.standardInput = followsStandardInput;
        request.command = commandLine.command;
        if (commandLine.at && !files.empty()) {
            request.at = commandLine.atText;
        }
        request.folder = quill::absoluteFileName(".");
        request.merge = commandLine.merge && !files.empty();
        m_instanceServer = std::make_unique<InstanceServer>(
            [this](const quill::InstanceRequest& taken, int fd) { takeRequest(taken, fd); });
        switch (m_instanceServer->claim(m_instanceSocket, quill::encodeRequest(request),
                                        followsStandardInput ? 0 : -1)) {
        case InstanceServer::Claim::HandedOver:
            m_instanceServer.reset();
            m_handedOver = true;
            return false;
        case InstanceServer::Claim::Listening:
            break;
        case InstanceServer::Claim::Alone:
            m_instanceServer.reset();
            break;
        }
    }

    m_mainFrame->setDocumentSetup([this](LogDocument& document) {
        document.setIndexingStop([this] { return terminationRequested(); });
    });
    connect(m_mainFrame.get(), &MainFrame::aboutToClose, this, &Application::saveSession);
    onFileNew();

    if (commandLine.command) {
        m_mainFrame->sources()->followCommandLine(QString::fromLocal8Bit(*commandLine.command));
    } else if (followsStandardInput) {
        m_mainFrame->sources()->followStandardInput();
    }
    std::vector<std::pair<LogTab*, std::uint32_t>> lines;
    if (!files.empty() && commandLine.merge) {
        std::vector<std::u16string> paths;
        for (const quill::InstanceFile& file : files) {
            // A remote file is named as written; only local ones are relative to here.
            paths.push_back(isRemoteAddress(file.path)
                                ? quill::fileNameToUtf16(file.path)
                                : absolutePath(quill::fileNameToUtf16(file.path)));
        }
        m_mainFrame->openMerged(paths);
    } else if (!files.empty()) {
        lines = openFiles(files);
        // The first file named is the one in front, as with one file.
        if (m_mainFrame->tabCount() > 1) {
            m_mainFrame->activateTab(m_mainFrame->tab(0));
        }
    } else if (!commandLine.command && !followsStandardInput &&
               settings.boolValue(Setting::ShowLastViewedFile)) {
        if (!restoreSession() && m_recentFiles->size() > 0) {
            onOpenRecentFile(0);
        }
    }
    if (terminationRequested()) {
        // A signal while a box was shown or a file was indexed: the window never appears.
        m_terminating = true;
        log.line(TraceLog::LevelInfo, "Start-up ended by a signal");
        return false;
    }

    m_mainFrame->show();
    // After show: the line is placed with the window's real height.
    showLines(lines);
    if (commandLine.at && !files.empty()) {
        m_mainFrame->timeCommands()->goWhenReady(m_mainFrame->currentTab(), *commandLine.at);
    }
    m_mainFrame->repaint();
    m_started = true;
    return true;
}

std::vector<std::pair<LogTab*, std::uint32_t>>
Application::openFiles(const std::vector<quill::InstanceFile>& files, LogTab** first)
{
    std::vector<std::pair<LogTab*, std::uint32_t>> lines;
    for (const quill::InstanceFile& file : files) {
        if (terminationRequested()) {
            break;
        }
        const std::u16string path = quill::fileNameToUtf16(file.path);
        const bool opened = isRemoteAddress(file.path)
                                ? m_mainFrame->sources()->followRemoteAddress(file.path)
                            : file.withRotated ? openWithRotated(path)
                                               : openDocumentFile(path);
        if (!opened) {
            continue;
        }
        if (first != nullptr && *first == nullptr) {
            *first = m_mainFrame->currentTab();
        }
        if (file.line) {
            lines.emplace_back(m_mainFrame->currentTab(), *file.line);
        }
    }
    return lines;
}

void Application::showLines(const std::vector<std::pair<LogTab*, std::uint32_t>>& lines)
{
    for (const auto& [tab, line] : lines) {
        // A tab closed since (an open that failed later) is not asked.
        for (int i = 0; i < m_mainFrame->tabCount(); ++i) {
            if (m_mainFrame->tab(i) == tab) {
                tab->view()->showLine(line == 0 ? 0 : line - 1);
            }
        }
    }
}

void Application::takeRequest(const quill::InstanceRequest& request, int fd)
{
    if (!m_mainFrame || m_terminating) {
        return;
    }
    if (!m_started) {
        // Start-up let the event loop run (a box, a long index): after it, in order.
        const int copy = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
        QTimer::singleShot(50, this, [this, request, copy] {
            takeRequest(request, copy);
            if (copy >= 0) {
                ::close(copy);
            }
        });
        return;
    }
    if (request.command) {
        m_mainFrame->sources()->followCommandLine(QString::fromLocal8Bit(*request.command),
                                                  request.folder);
    } else if (request.standardInput && fd >= 0) {
        m_mainFrame->sources()->followStandardInput(fd);
    }
    LogTab* first = nullptr;
    std::vector<std::pair<LogTab*, std::uint32_t>> lines;
    if (request.merge && !request.files.empty()) {
        std::vector<std::u16string> paths;
        for (const quill::InstanceFile& file : request.files) {
            paths.push_back(quill::fileNameToUtf16(file.path));
        }
        if (m_mainFrame->openMerged(paths)) {
            first = m_mainFrame->currentTab();
        }
    } else if (!request.files.empty()) {
        lines = openFiles(request.files, &first);
    }
    if (first != nullptr) {
        m_mainFrame->activateTab(first);
    }
    m_mainFrame->setWindowState(m_mainFrame->windowState() & ~Qt::WindowMinimized);
    m_mainFrame->show();
    m_mainFrame->raise();
    m_mainFrame->activateWindow();
    showLines(lines);
    if (request.at && first != nullptr) {
        // Read again here: the text came from another process.
        if (const auto query = parseTimeQuery(*request.at)) {
            m_mainFrame->timeCommands()->goWhenReady(first, *query);
        }
    }
}

int Application::exitInstance()
{
    if (m_exited) {
        return m_initFailed ? 1 : 0;
    }
    m_exited = true;
    TraceLog& log = TraceLog::instance();
    log.line(TraceLog::LevelInfo, "ExitInstance");
    log.closeLog();
    // A start that handed its files over leaves the list to the running window.
    if (m_recentFiles && !m_handedOver) {
        m_recentFiles->writeList();
    }
    return m_initFailed ? 1 : 0;
}

QString Application::usageText()
{
    const LanguageResources& resources = LanguageResources::current();
    return resources.format(StringId::UsageHeading, toQString(Product::Name),
                            toQString(Product::LegalNotice)) +
           resources.format(StringId::UsageSyntax, QStringLiteral("quillstream")) +
           resources.string(StringId::UsageText) + resources.string(StringId::UsageOptions) +
           resources.string(StringId::UsageWithRotated) +
           resources.string(StringId::UsageRemoteAddress);
}

std::u16string Application::absolutePath(const std::u16string& path)
{
    // Relative to the folder the program was started in, without resolving links: a log
    // reached through a link is followed through that link when it is rotated. In bytes:
    // Qt would turn a name or a folder that is not UTF-8 into another name.
    return quill::fileNameToUtf16(quill::absoluteFileName(quill::fileNameToBytes(path)));
}

LogDocument* Application::document() const
{
    return m_mainFrame ? m_mainFrame->activeDocument() : nullptr;
}

bool Application::openDocumentFile(const std::u16string& path)
{
    m_openStopped = false;
    if (!m_mainFrame || path.empty()) {
        return false;
    }
    const std::u16string fullPath = absolutePath(path);
    TraceLog::instance().line(TraceLog::LevelInfo, "Opening ", std::u16string_view(fullPath));
    const std::string native = quill::fileNameToBytes(fullPath);
    const bool spool = isSpool(native);
    if (!spool) {
        const CompressionFormat format = detectCompressionOfFile(native);
        if (format != CompressionFormat::None) {
            // Decompressed beside the window; its lines show as they are decompressed.
            if (!m_mainFrame->sources()->openCompressed(native, format,
                                                        quill::fileNameToDisplay(fullPath))) {
                return false;
            }
            if (m_recentFiles) {
                m_recentFiles->add(fullPath);
            }
            m_mainFrame->updateRecentFileMenu();
            m_mainFrame->updateCommandStates();
            return true;
        }
    }
    const MainFrame::OpenTarget target = m_mainFrame->prepareOpen(fullPath);
    if (target.existing) {
        // Already followed in a tab: that tab comes to the front instead of a second copy.
        m_mainFrame->activateTab(target.tab);
        TraceLog::instance().line(TraceLog::LevelInfo,
                                  "Already open: ", std::u16string_view(fullPath));
    } else {
        LogDocument* document = target.tab->document();
        // Reading a source's spool again keeps the source; any other file ends it.
        if (document->source() != nullptr && document->source()->spoolPath() != native) {
            document->dropSource();
        }
        // The encoding chosen for this file before (a reload too); any other opens automatic.
        document->setEncoding(
            quill::encodingFromNumber(m_recentFiles ? m_recentFiles->encodingOf(fullPath) : 0)
                .value_or(quill::TextEncoding::Automatic));
        if (!document->openDocument(fullPath)) {
            m_openStopped = document->openWasStopped();
            TraceLog::instance().line(
                TraceLog::LevelInfo,
                m_openStopped ? "Open stopped: " : "Not opened: ", std::u16string_view(fullPath));
            if (target.created) {
                m_mainFrame->closeTab(target.tab);
                m_mainFrame->activateTab(target.previous);
            }
            return false;
        }
        TraceLog::instance().line(TraceLog::LevelInfo, "Opened ", std::u16string_view(fullPath),
                                  ": ", std::uint32_t(document->lineCount()), " lines");
        document->setTitle();
        // The framework's initial update of the tab's views after every open.
        target.tab->view()->initialUpdate();
        if (!spool) {
            RotatedOffer::offer(*m_mainFrame, target.tab, native,
                                quill::fileNameToDisplay(fullPath));
        }
    }
    // A spool read again is no file the user chose.
    if (m_recentFiles && !spool) {
        m_recentFiles->add(fullPath);
    }
    m_mainFrame->updateRecentFileMenu();
    m_mainFrame->updateCommandStates();
    return true;
}

bool Application::openWithRotated(const std::u16string& path)
{
    if (!m_mainFrame || path.empty()) {
        return false;
    }
    const std::u16string fullPath = absolutePath(path);
    TraceLog::instance().line(TraceLog::LevelInfo, "Opening with rotated files ",
                              std::u16string_view(fullPath));
    // Without rotated files beside it, the file opens as any other.
    if (!m_mainFrame->sources()->openRotated(quill::fileNameToBytes(fullPath),
                                             quill::fileNameToDisplay(fullPath))) {
        return openDocumentFile(path);
    }
    if (m_recentFiles) {
        m_recentFiles->add(fullPath);
    }
    m_mainFrame->updateRecentFileMenu();
    m_mainFrame->updateCommandStates();
    return true;
}

void Application::onFileNew()
{
    if (!m_mainFrame) {
        return;
    }
    LogTab* tab = m_mainFrame->targetTab();
    tab->document()->dropSource();
    tab->document()->newDocument();
    tab->document()->setTitle();
    tab->view()->initialUpdate();
}

bool Application::isSpool(const std::string& path) const
{
    for (int i = 0; m_mainFrame && i < m_mainFrame->tabCount(); ++i) {
        const LogSource* source = m_mainFrame->tab(i)->document()->source();
        if (source != nullptr && source->spoolPath() == path) {
            return true;
        }
    }
    return false;
}

bool Application::restoreSession()
{
    const TabSessionState state = m_session->read();
    if (state.paths.empty()) {
        return false;
    }
    LogTab* front = nullptr;
    for (std::size_t i = 0; i < state.paths.size() && !terminationRequested(); ++i) {
        // A file that cannot be opened again is skipped; the others keep their order.
        if (restoreTab(state, i) && i == state.front) {
            front = m_mainFrame->currentTab();
        }
    }
    // The front one gone since: the first comes to the front.
    m_mainFrame->activateTab(front != nullptr ? front : m_mainFrame->tab(0));
    return true;
}

bool Application::restoreTab(const TabSessionState& state, std::size_t entry)
{
    const std::u16string& path = state.paths[entry];
    const TabSessionExtra extra =
        entry < state.extras.size() ? state.extras[entry] : TabSessionExtra();
    if (!extra.mergedWith.empty()) {
        std::vector<std::u16string> files{path};
        files.insert(files.end(), extra.mergedWith.begin(), extra.mergedWith.end());
        return m_mainFrame->openMerged(files);
    }
    return extra.rotated ? openWithRotated(path) : openDocumentFile(path);
}

void Application::saveSession()
{
    if (!m_session || !m_mainFrame) {
        return;
    }
    m_session->write(m_mainFrame->sessionState());
}

QStringList Application::openDialogFilters() const
{
    const LanguageResources& resources = LanguageResources::current();
    const QString patterns = toQString(SettingsStore::instance().string(Setting::LogFileExt));
    // The dialog reads the patterns between the parentheses separated by blanks.
    QString logPatterns = patterns;
    logPatterns.replace(u';', u' ');
    QString allFiles = resources.string(StringId::AllFilesFilter);
    // "*.*" would hide every file without a dot in its name (syslog, messages).
    allFiles.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    return {resources.string(StringId::LogFilesFilter) + QStringLiteral(" (") + logPatterns + u')',
            allFiles};
}

QString Application::openDialogFolder() const
{
    // The next log is most often beside the one being followed.
    // The document's name is absolute; its folder is cut on the escaped form, so only
    // the screen's text of it can lose bytes.
    // A source's spool folder is nobody's idea of where logs are.
    const LogDocument* current = document();
    if (current != nullptr && !current->pathName().empty() && current->source() == nullptr) {
        const std::u16string& path = current->pathName();
        const std::size_t slash = path.rfind(u'/');
        if (slash != std::u16string::npos) {
            return quill::fileNameToDisplay(
                std::u16string_view(path).substr(0, slash == 0 ? 1 : slash));
        }
    }
    if (m_recentFiles && m_recentFiles->size() > 0) {
        return {};
    }
    return QFile::decodeName(QByteArray::fromStdString(quill::tempFolder()));
}

void Application::onFileOpen()
{
    const QStringList chosen =
        m_openDialog(LanguageResources::current().string(StringId::OpenTitle), openDialogFilters(),
                     openDialogFolder());
    LogTab* first = nullptr;
    for (const QString& name : chosen) {
        if (terminationRequested()) {
            break;
        }
        if (!name.isEmpty() && openDocumentFile(quill::fileNameFromQt(name)) && first == nullptr) {
            first = m_mainFrame->currentTab();
        }
    }
    // The first chosen in front, as with files from the command line.
    if (first != nullptr && chosen.size() > 1) {
        m_mainFrame->activateTab(first);
    }
}

void Application::onFileOpenMerged()
{
    const QStringList chosen =
        m_openDialog(LanguageResources::current().string(StringId::OpenMergedCaption),
                     openDialogFilters(), openDialogFolder());
    std::vector<std::u16string> paths;
    for (const QString& name : chosen) {
        if (!name.isEmpty()) {
            paths.push_back(absolutePath(quill::fileNameFromQt(name)));
        }
    }
    m_mainFrame->openMerged(paths);
}

void Application::onAppAbout()
{
    AboutDialog about(m_mainFrame.get());
    about.doModal();
}

void Application::onOpenRecentFile(int index)
{
    if (!m_recentFiles || index < 0 || static_cast<std::size_t>(index) >= m_recentFiles->size()) {
        return;
    }
    const std::u16string path = (*m_recentFiles)[static_cast<std::size_t>(index)];
    if (!openDocumentFile(path) && !m_openStopped) {
        // Opening may have reordered nothing; find the entry again by its path.
        const auto& entries = m_recentFiles->entries();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i] == path) {
                m_recentFiles->remove(i);
                break;
            }
        }
        if (m_mainFrame) {
            m_mainFrame->updateRecentFileMenu();
        }
    }
}

void Application::setFileEncoding(const std::u16string& path, quill::TextEncoding encoding)
{
    if (m_recentFiles) {
        m_recentFiles->setEncoding(path, std::uint32_t(encoding));
    }
}

std::vector<std::u16string> Application::recentFiles() const
{
    return m_recentFiles ? m_recentFiles->entries() : std::vector<std::u16string>();
}

void Application::requestClose()
{
    m_terminating = true;
    // Each exec() returns as its dialog ends; the code after it then sees a cancelled box
    // and, for start-up, the flag. QCoreApplication::quit() alone would do nothing here: it
    // only ends the main loop, and inside a box that loop is not running yet, or not the
    // innermost one.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QWidget* previous = nullptr;
        while (QWidget* modal = QApplication::activeModalWidget()) {
            if (modal == previous) {
                break; // a window that refuses to close: the main window's close still ends it
            }
            endModal(modal);
            previous = modal;
        }
    }
    if (m_mainFrame && m_mainFrame->isVisible()) {
        m_mainFrame->close();
    } else {
        QCoreApplication::quit();
    }
}

bool Application::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->isModal()) {
            TraceLog::instance().line(TraceLog::LevelInfo, "Modal window shown: ",
                                      std::u16string_view(toU16(widget->windowTitle())));
            if (m_terminating) {
                // Shown after the signal by code that went on after the last box ended; its
                // exec() is entered after this event, so it is ended from within that loop.
                QTimer::singleShot(0, widget, [widget] { endModal(widget); });
            }
        }
    }
    return QObject::eventFilter(watched, event);
}
