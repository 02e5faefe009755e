#include "frame/SourceControl.h"

#include "diagnostics/TraceLog.h"
#include "engine/CommandWords.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/RemoteFile.h"
#include "platform/FileName.h"
#include "platform/SpoolFolder.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

using quill::toQString;
using quill::toU16;

namespace {

// The Follow Command box's width; its label wraps to it.
constexpr int CommandPromptWidth = 560;

const std::u16string HistoryKey = u"\\Commands";
const std::u16string HistoryValue = u"CommandLine";

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString spoolFolderShown(const std::string& folder)
{
    return QString::fromLocal8Bit(folder.empty() ? quill::spoolFolderPath() : folder);
}

// Why the spool folder was refused: what is wrong with it where it is not private enough,
// else the system's text for the error.
QString spoolProblemText(const std::string& folder, int error)
{
    const quill::SpoolFolderFault fault =
        error == EPERM ? quill::spoolFolderFault(folder.empty() ? quill::spoolFolderPath() : folder)
                       : quill::SpoolFolderFault();
    const LanguageResources& resources = LanguageResources::current();
    using Kind = quill::SpoolFolderFault::Kind;
    switch (fault.kind) {
    case Kind::Link:
        return resources.string(StringId::SpoolFolderLink);
    case Kind::OtherOwner:
        return resources.string(StringId::SpoolFolderOwner);
    case Kind::OpenToOthers:
        return resources.format(StringId::SpoolFolderOpen,
                                QStringLiteral("%1").arg(fault.mode, 3, 8, QLatin1Char('0')));
    case Kind::None:
        break;
    }
    return errorText(error);
}

} // namespace

SourceControl::SourceControl(QWidget* window, QStatusBar* bar,
                             std::function<LogDocument*()> document)
    : QObject(window), m_window(window), m_document(std::move(document)), m_bar(bar)
{
    setObjectName(QStringLiteral("sourceControl"));
    const LanguageResources& resources = LanguageResources::current();
    m_label = new QLabel(bar);
    m_label->setObjectName(QStringLiteral("sourcePane"));
    m_progress = new QProgressBar(bar);
    m_progress->setObjectName(QStringLiteral("sourceProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setMaximumWidth(160);
    m_progress->setTextVisible(false);
    m_cancel = new QPushButton(resources.string(StringId::DecompressCancel), bar);
    m_cancel->setObjectName(QStringLiteral("sourceCancel"));
    m_cancel->setFocusPolicy(Qt::NoFocus);
    bar->addWidget(m_label);
    bar->addWidget(m_progress);
    bar->addWidget(m_cancel);
    m_label->setVisible(false);
    m_progress->setVisible(false);
    m_cancel->setVisible(false);
    connect(m_cancel, &QPushButton::clicked, this, &SourceControl::cancel);
    connect(bar, &QStatusBar::messageChanged, this, &SourceControl::showState);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &SourceControl::refresh);
    readHistory();
}

SourceControl::~SourceControl() = default;

void SourceControl::showMessage(const QString& text)
{
    TraceLog::instance().line(TraceLog::LevelInfo, "Source: ", std::u16string_view(toU16(text)));
    if (m_message) {
        m_message(text);
        return;
    }
    QMessageBox::information(m_window, QStringLiteral("Quillstream"), text);
}

bool SourceControl::followStandardInput(int fd)
{
    const LanguageResources& resources = LanguageResources::current();
    if (::isatty(fd)) {
        // A terminal would wait for the user to type the log.
        showMessage(resources.string(StringId::StandardInputIsTerminal));
        return false;
    }
    SourceOptions options;
    options.folder = m_folder;
    options.reserveBytes = m_reserveBytes;
    int error = 0;
    const QString name = resources.string(StringId::StandardInput);
    std::unique_ptr<LogSource> source = LogSource::followStream(fd, toU16(name), options, error);
    if (!source) {
        showMessage(resources.format(StringId::NoSpool, name, spoolFolderShown(m_folder),
                                     spoolProblemText(m_folder, error)));
        return false;
    }
    TraceLog::instance().line(TraceLog::LevelInfo, "Following standard input, spool ",
                              std::string_view(source->spoolPath()));
    return openInTarget(std::move(source), name);
}

bool SourceControl::openInTarget(std::unique_ptr<LogSource> source, const QString& name,
                                 LogDocument* into)
{
    LogDocument* document = into != nullptr ? into : m_target ? m_target() : m_document();
    if (document == nullptr) {
        return false;
    }
    const bool opened = document->openSource(std::move(source));
    TraceLog::instance().line(TraceLog::LevelInfo, "Opened ", std::u16string_view(toU16(name)),
                              ": ", std::uint32_t(document->lineCount()), " lines");
    if (m_afterOpen) {
        m_afterOpen(document);
    }
    refresh();
    return opened;
}

bool SourceControl::followCommandLine(const QString& line, const std::string& folder)
{
    const LanguageResources& resources = LanguageResources::current();
    const CommandWords split = splitCommandWords(line.toLocal8Bit().toStdString());
    if (!split.ok()) {
        StringId reason = StringId::EmptyCommand;
        if (split.error == CommandWordsError::UnclosedSingle ||
            split.error == CommandWordsError::UnclosedDouble) {
            reason = StringId::UnclosedQuote;
        } else if (split.error == CommandWordsError::TrailingBackslash) {
            reason = StringId::TrailingBackslash;
        }
        showMessage(resources.format(StringId::BadCommandLine, resources.string(reason)));
        return false;
    }
    if (!followCommand(split.words, line.trimmed(), folder)) {
        return false;
    }
    addToHistory(line.trimmed());
    return true;
}

bool SourceControl::followCommand(const std::vector<std::string>& words, const QString& name,
                                  const std::string& folder)
{
    if (words.empty()) {
        return false;
    }
    const LanguageResources& resources = LanguageResources::current();
    SourceOptions options;
    options.folder = m_folder;
    options.reserveBytes = m_reserveBytes;
    options.workingFolder = folder;
    int error = 0;
    std::unique_ptr<LogSource> source =
        LogSource::followCommand(words, toU16(name), options, error);
    if (!source) {
        showMessage(resources.format(StringId::NoSpool, name, spoolFolderShown(m_folder),
                                     spoolProblemText(m_folder, error)));
        return false;
    }
    const SourceStatus status = source->status();
    if (status.problem == SourceStatus::Problem::StartFailed) {
        // The document keeps what it shows; the source and its empty spool go.
        showMessage(resources.format(StringId::CommandStartFailed,
                                     QString::fromLocal8Bit(words.front().c_str()),
                                     errorText(status.error), QString::number(status.error)));
        return false;
    }
    TraceLog::instance().line(TraceLog::LevelInfo, "Following command ",
                              std::u16string_view(toU16(name)), ", process ",
                              std::int64_t(source->processId()));
    return openInTarget(std::move(source), name);
}

bool SourceControl::followSystemJournal()
{
    const LanguageResources& resources = LanguageResources::current();
    if (findProgram("journalctl").empty()) {
        showMessage(resources.string(StringId::NoJournalctl));
        return false;
    }
    if (!canReadSystemJournal()) {
        // journalctl still shows the user's own messages; the note says how to see all.
        const passwd* user = ::getpwuid(::geteuid());
        showMessage(resources.format(StringId::JournalGroups,
                                     user != nullptr ? QString::fromLocal8Bit(user->pw_name)
                                                     : QStringLiteral("$USER")));
    }
    return followCommand({"journalctl", "-f", "-n", "1000", "-o", "short-iso"},
                         resources.string(StringId::SystemJournal));
}

bool SourceControl::openCompressed(const std::string& path, CompressionFormat format,
                                   const QString& name)
{
    SourceOptions options;
    options.folder = m_folder;
    options.reserveBytes = m_reserveBytes;
    int error = 0;
    std::unique_ptr<LogSource> source =
        LogSource::decompress(path, format, toU16(name), options, error);
    if (!source) {
        const QString folderProblem = spoolProblemText(m_folder, error);
        if (folderProblem != errorText(error)) {
            // The archive is fine; the folder its copy would go to is not.
            showMessage(LanguageResources::current().format(
                StringId::NoSpool, name, spoolFolderShown(m_folder), folderProblem));
        } else if (LogDocument* document = m_document()) {
            document->reportOpenError(error, quill::fileNameToUtf16(path));
        }
        return false;
    }
    TraceLog::instance().line(TraceLog::LevelInfo, "Decompressing ", compressionName(format), " ",
                              std::u16string_view(toU16(name)));
    // Shown at once and followed while it is decompressed.
    return openInTarget(std::move(source), name);
}

void SourceControl::onFollowCommand()
{
    const QString line = runCommandPrompt();
    if (!line.trimmed().isEmpty()) {
        followCommandLine(line);
    }
}

QString SourceControl::runCommandPrompt()
{
    if (m_prompt) {
        return m_prompt(m_history);
    }
    const LanguageResources& resources = LanguageResources::current();
    QInputDialog dialog(m_window);
    dialog.setObjectName(QStringLiteral("followCommandDialog"));
    dialog.setWindowTitle(resources.string(StringId::FollowCommandCaption));
    dialog.setLabelText(resources.string(StringId::FollowCommandLabel));
    dialog.setComboBoxEditable(true);
    dialog.setComboBoxItems(m_history);
    dialog.setTextValue(m_history.isEmpty() ? QString() : m_history.front());
    // The explanation is long: it wraps, or the box would be as wide as the screen.
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        label->setWordWrap(true);
    }
    dialog.resize(CommandPromptWidth, std::max(dialog.heightForWidth(CommandPromptWidth),
                                               dialog.minimumSizeHint().height()));
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.textValue();
}

void SourceControl::cancel()
{
    LogDocument* document = m_document();
    if (document != nullptr && document->source() != nullptr) {
        document->source()->cancel();
    }
    refresh();
}

void SourceControl::refresh()
{
    // Orphans that commands left behind are this program's children now (LogSource.h).
    LogSource::reapAdoptedOrphans();
    std::vector<LogDocument*> documents = m_all ? m_all() : std::vector<LogDocument*>{m_document()};
    for (LogDocument* document : documents) {
        if (document != nullptr && document->source() != nullptr) {
            lookAfter(document);
        }
        if (document != nullptr) {
            tellIndexStop(*document);
        }
    }
    showState();
    paceTimer(documents);
}

void SourceControl::showState()
{
    LogDocument* front = m_document();
    const LogSource* source = front != nullptr ? front->source() : nullptr;
    QString text = source != nullptr ? statusText(source->status()) : QString();
    const QString stop = front != nullptr ? indexStopText(*front, false) : QString();
    if (!stop.isEmpty()) {
        text = text.isEmpty() ? stop : text + QStringLiteral(" - ") + stop;
    }
    const bool decompressing = source != nullptr && source->kind() == SourceKind::Decompressed &&
                               source->status().phase == SourceStatus::Phase::Running;
    if (decompressing) {
        const SourceStatus status = source->status();
        m_progress->setValue(status.inputSize == 0
                                 ? 0
                                 : static_cast<int>(std::min<std::uint64_t>(
                                       1000, status.inputDone * 1000 / status.inputSize)));
    }
    m_label->setText(text);
    m_label->setToolTip(text);
    // The bar hides these while it shows a message; shown again by the timer, they would
    // draw over it.
    const bool message = !m_bar->currentMessage().isEmpty();
    m_label->setVisible(!text.isEmpty() && !message);
    // A command can be ended while its lines stay; once told to end, it is waited for.
    const SourceStatus status = source != nullptr ? source->status() : SourceStatus();
    const bool commandRuns =
        source != nullptr && source->runsProcess() && !status.exited && !status.ending;
    m_progress->setVisible(decompressing && !message);
    m_cancel->setVisible((decompressing || commandRuns) && !message);
}

void SourceControl::wake()
{
    if (!m_timer->isActive() || m_timer->interval() != 0) {
        m_timer->start(0);
    }
}

int SourceControl::timerInterval() const
{
    return m_timer->isActive() ? m_timer->interval() : -1;
}

void SourceControl::paceTimer(const std::vector<LogDocument*>& documents)
{
    bool busy = false;
    bool following = false;
    for (const LogDocument* document : documents) {
        const LogSource* source = document != nullptr ? document->source() : nullptr;
        if (source == nullptr) {
            continue;
        }
        const SourceStatus status = source->status();
        if (status.following && status.phase == SourceStatus::Phase::Running &&
            m_rotatedTold.count(source->serial()) != 0) {
            following = true;
            continue;
        }
        // Running: its progress and its end are shown as they come; ended: once told, it
        // changes no more. A command told to end is waited for until it has.
        busy = busy || status.phase == SourceStatus::Phase::Running ||
               (source->runsProcess() && !status.exited) || m_ended.count(source->serial()) == 0;
    }
    const int interval = busy                          ? PollMs
                         : following                   ? FollowPollMs
                         : LogSource::mayHaveOrphans() ? OrphanPollMs
                                                       : -1;
    if (interval < 0) {
        m_timer->stop();
    } else if (!m_timer->isActive() || m_timer->interval() != interval) {
        m_timer->start(interval);
    }
}

void SourceControl::lookAfter(LogDocument* document)
{
    if (document->pollSource()) {
        TraceLog::instance().line(TraceLog::LevelInfo, "Decompressed copy complete: ",
                                  std::uint32_t(document->lineCount()), " lines");
        if (m_afterComplete) {
            m_afterComplete(document);
        }
    }
    const LogSource* source = document->source();
    if (source->kind() == SourceKind::Rotated) {
        tellRotatedSkipped(*source);
    }
    if (source->kind() == SourceKind::Remote) {
        // Some reasons come while ssh still runs: a file not there yet is waited for.
        tellRemoteProblem(*source);
    }
    const SourceStatus status = source->status();
    if (status.phase == SourceStatus::Phase::Running) {
        return;
    }
    // A decompression's end is told once the document shows all of the copy, as it says.
    if (source->kind() == SourceKind::Decompressed && document->canFollow()) {
        return;
    }
    if (m_ended.insert(source->serial()).second) {
        TraceLog::instance().line(TraceLog::LevelInfo,
                                  "Source ended: ", std::u16string_view(toU16(statusText(status))));
    }
    // A problem is told once in a box too: the status bar may be hidden.
    const QString problem = problemText(status);
    if (!problem.isEmpty() && m_reported.insert(source->serial()).second) {
        // The box waits for the user: the bar behind it says the source ended, not that
        // it still runs with a Cancel to press.
        showState();
        showMessage(problem);
    }
}

void SourceControl::tellIndexStop(const LogDocument& document)
{
    const LogDocument::IndexStop stop = document.indexStopped();
    if (stop.limit != LogDocument::IndexStop::Limit::None &&
        m_stopsTold.insert(stop.serial).second) {
        showMessage(indexStopText(document, true));
    }
}

QString SourceControl::indexStopText(const LogDocument& document, bool message) const
{
    const LogDocument::IndexStop stop = document.indexStopped();
    using Limit = LogDocument::IndexStop::Limit;
    if (stop.limit == Limit::None) {
        return {};
    }
    const LanguageResources& resources = LanguageResources::current();
    const QString lines = QString::number(stop.lines);
    QString text = stop.limit == Limit::Memory ? resources.format(StringId::IndexFullMemory, lines,
                                                                  QString::number(stop.bound >> 20))
                                               : resources.format(StringId::IndexFullLines, lines);
    if (!message) {
        return text;
    }
    text += QStringLiteral(". ") + resources.string(StringId::IndexLinesKept);
    if (document.source() != nullptr && document.source()->follows()) {
        text += QStringLiteral(" ") + resources.string(StringId::InputNotRead);
    }
    if (stop.limit == Limit::Memory) {
        text += QStringLiteral(" ") + resources.string(StringId::ReloadRetries);
    }
    return text;
}

QString SourceControl::problemText(const SourceStatus& status) const
{
    const LanguageResources& resources = LanguageResources::current();
    using Problem = SourceStatus::Problem;
    if (status.phase == SourceStatus::Phase::Cancelled) {
        return resources.string(StringId::DecompressCancelled);
    }
    switch (status.problem) {
    case Problem::None:
    case Problem::StartFailed:
    case Problem::IndexFull: // the document's stop tells why (indexStopText)
        break;
    case Problem::DiskFull:
        return resources.format(StringId::SpoolDiskFull, spoolFolderShown(m_folder),
                                QString::number(status.reserveBytes >> 20));
    case Problem::WriteFailed:
        return resources.format(StringId::SpoolWriteFailed, errorText(status.error),
                                QString::number(status.error));
    case Problem::ReadFailed:
        return resources.format(StringId::InputReadFailed, errorText(status.error),
                                QString::number(status.error));
    case Problem::Damaged:
        return resources.format(StringId::ArchiveDamaged, QString::fromStdString(status.detail));
    case Problem::Truncated:
        return resources.string(StringId::ArchiveTruncated);
    }
    return {};
}

QString SourceControl::statusText(const SourceStatus& status) const
{
    const LanguageResources& resources = LanguageResources::current();
    using Phase = SourceStatus::Phase;
    QString text;
    if (status.kind == SourceKind::Decompressed && status.phase == Phase::Running) {
        const std::uint64_t percent =
            status.inputSize == 0 ? 0 : status.inputDone * 100 / status.inputSize;
        text = resources.format(StringId::Decompressing,
                                QString::number(std::min<std::uint64_t>(percent, 100)));
    } else if (status.kind == SourceKind::StandardInput) {
        // Only an end the writer made is the end of input; a stop of the reading says so,
        // and the problem after it says why.
        text = resources.string(status.phase == Phase::Running ? StringId::ReadingInput
                                : status.phase == Phase::Ended ? StringId::EndOfInput
                                                               : StringId::InputStopped);
    } else if (status.kind == SourceKind::Rotated) {
        text = rotatedStatusText(status);
    } else if (status.kind == SourceKind::Command || status.kind == SourceKind::Remote) {
        if (!status.exited) {
            text = resources.string(StringId::CommandRunning);
        } else if (status.kind == SourceKind::Remote &&
                   diagnoseSshErrors(status.errors).kind == SshFailure::Kind::ConnectionLost) {
            text = resources.string(StringId::RemoteLostStatus);
        } else if (status.exitSignal != 0) {
            text = resources.format(StringId::CommandSignalled, QString::number(status.exitSignal));
        } else {
            text = resources.format(StringId::CommandExited, QString::number(status.exitCode));
        }
    }
    const QString problem = problemText(status);
    if (!problem.isEmpty()) {
        text = text.isEmpty() ? problem : text + QStringLiteral(" - ") + problem;
    }
    return text;
}

void SourceControl::readHistory()
{
    SettingsStore& settings = SettingsStore::instance();
    const std::u16string base = settings.keyPath(Setting::KeyQuillstream) + HistoryKey;
    m_history.clear();
    for (std::size_t i = 1; i <= HistorySize; ++i) {
        const QString line = toQString(
            settings.readStringAt(base + u'\\' + toU16(QString::number(i)), HistoryValue, u""));
        if (!line.isEmpty() && !m_history.contains(line)) {
            m_history.append(line);
        }
    }
}

void SourceControl::writeHistory()
{
    SettingsStore& settings = SettingsStore::instance();
    std::vector<StoredValue> values;
    for (int i = 0; i < m_history.size(); ++i) {
        values.push_back(
            {toU16(QString::number(i + 1)), HistoryValue, true, toU16(m_history[i]), 0});
    }
    settings.replaceUserTree(settings.keyPath(Setting::KeyQuillstream) + HistoryKey, values);
}

void SourceControl::addToHistory(const QString& line)
{
    m_history.removeAll(line);
    m_history.prepend(line);
    while (m_history.size() > static_cast<int>(HistorySize)) {
        m_history.removeLast();
    }
    writeHistory();
}

bool SourceControl::canReadSystemJournal()
{
    if (::geteuid() == 0) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    groups.push_back(::getegid());
    for (const char* name : {"systemd-journal", "adm", "wheel"}) {
        if (const group* entry = ::getgrnam(name)) {
            for (gid_t id : groups) {
                if (id == entry->gr_gid) {
                    return true;
                }
            }
        }
    }
    return false;
}

std::string SourceControl::findProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        const std::string folder = end == start ? "." : folders.substr(start, end - start);
        const std::string candidate = folder + '/' + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}
