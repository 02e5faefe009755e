// File > Follow Remote File...: the box that asks for the file, and what ssh says when
// following it fails (engine/RemoteFile.h).

#include "frame/SourceControl.h"

#include "diagnostics/TraceLog.h"
#include "engine/LogDocument.h"
#include "engine/RemoteAddress.h"
#include "engine/RemoteFile.h"
#include "platform/SpoolFolder.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cstring>

using quill::toU16;

namespace {

constexpr int RemotePromptWidth = 520;

StringId failureReason(SshFailure::Kind kind)
{
    using Kind = SshFailure::Kind;
    switch (kind) {
    case Kind::UnknownHost:
        return StringId::RemoteUnknownHost;
    case Kind::ConnectionRefused:
        return StringId::RemoteRefused;
    case Kind::ConnectionFailed:
        return StringId::RemoteConnectFailed;
    case Kind::HostKeyChanged:
        return StringId::RemoteHostKeyChanged;
    case Kind::HostKeyUnknown:
        return StringId::RemoteHostKeyUnknown;
    case Kind::PermissionDenied:
        return StringId::RemotePermissionDenied;
    case Kind::NoSuchFile:
        return StringId::RemoteNoSuchFile;
    case Kind::ConnectionLost:
        return StringId::RemoteConnectionLost;
    case Kind::None:
    case Kind::Unreadable:
    case Kind::RemoteError:
        break;
    }
    return StringId::RemoteCannotRead;
}

// The last line ssh wrote, for a failure no line of it explains.
std::string lastLine(const std::string& errors)
{
    std::size_t end = errors.size();
    while (end > 0 && (errors[end - 1] == '\n' || errors[end - 1] == '\r')) {
        --end;
    }
    const std::size_t start = errors.rfind('\n', end == 0 ? 0 : end - 1);
    return errors.substr(start == std::string::npos ? 0 : start + 1,
                         end - (start == std::string::npos ? 0 : start + 1));
}

// Whether ssh ended on its own with a failure: an end the source made is a signal.
bool endedFailing(const SourceStatus& status)
{
    return status.exited && status.exitSignal == 0 && status.exitCode > 0;
}

} // namespace

void SourceControl::onFollowRemote()
{
    const LanguageResources& resources = LanguageResources::current();
    QDialog dialog(m_window);
    dialog.setObjectName(QStringLiteral("followRemoteDialog"));
    dialog.setWindowTitle(resources.string(StringId::FollowRemoteCaption));
    auto* layout = new QVBoxLayout(&dialog);
    auto* intro = new QLabel(resources.string(StringId::RemoteIntro), &dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    auto* host = new QLineEdit(m_remoteHost, &dialog);
    host->setObjectName(QStringLiteral("remoteHost"));
    auto* port = new QLineEdit(m_remotePort, &dialog);
    port->setObjectName(QStringLiteral("remotePort"));
    auto* path = new QLineEdit(m_remotePath, &dialog);
    path->setObjectName(QStringLiteral("remotePath"));
    form->addRow(resources.string(StringId::RemoteHostLabel), host);
    form->addRow(resources.string(StringId::RemotePortLabel), port);
    form->addRow(resources.string(StringId::RemotePathLabel), path);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(RemotePromptWidth, dialog.sizeHint().height());
    (m_remoteHost.isEmpty() ? host : path)->setFocus();
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    m_remoteHost = host->text();
    m_remotePort = port->text();
    m_remotePath = path->text();
    followRemote(m_remoteHost, m_remotePort, m_remotePath);
}

QString SourceControl::remoteFileErrorText(RemoteFileError error)
{
    StringId reason = StringId::RemoteNoPath;
    switch (error) {
    case RemoteFileError::NoHost:
        reason = StringId::RemoteNoHost;
        break;
    case RemoteFileError::BadHost:
    case RemoteFileError::BadUser:
        reason = StringId::RemoteBadName;
        break;
    case RemoteFileError::BadPort:
        reason = StringId::RemoteBadPort;
        break;
    case RemoteFileError::None:
    case RemoteFileError::NoPath:
    case RemoteFileError::BadPath:
        break;
    }
    return LanguageResources::current().string(reason);
}

bool SourceControl::followRemote(const QString& host, const QString& port, const QString& path)
{
    const LanguageResources& resources = LanguageResources::current();
    RemoteFile file;
    // The remote side's bytes: its file names are taken to be UTF-8, as ssh sends them.
    const RemoteFileError error =
        makeRemoteFile(host.toStdString(), {}, port.toStdString(), path.toStdString(), file);
    if (error != RemoteFileError::None) {
        showMessage(resources.format(StringId::BadRemoteFile, remoteFileErrorText(error)));
        return false;
    }
    return followRemoteFile(file);
}

bool SourceControl::followRemoteAddress(const std::string& address)
{
    RemoteFile file;
    const RemoteFileError error = parseRemoteAddress(address, file);
    if (error != RemoteFileError::None) {
        showMessage(LanguageResources::current().format(StringId::BadRemoteFile,
                                                        remoteFileErrorText(error)));
        return false;
    }
    return followRemoteFile(file);
}

bool SourceControl::followRemoteFile(const RemoteFile& file)
{
    QString problem;
    std::unique_ptr<LogSource> source = startRemote(file, problem);
    if (!source) {
        showMessage(problem);
        return false;
    }
    return openInTarget(std::move(source), QString::fromStdString(remoteFileName(file)));
}

std::unique_ptr<LogSource> SourceControl::startRemote(const RemoteFile& file, QString& problem)
{
    const LanguageResources& resources = LanguageResources::current();
    const QString name = QString::fromStdString(remoteFileName(file));
    SourceOptions options;
    options.folder = m_folder;
    options.reserveBytes = m_reserveBytes;
    int spoolError = 0;
    std::unique_ptr<LogSource> source =
        LogSource::followRemote(file, m_remoteOptions, toU16(name), options, spoolError);
    if (!source) {
        problem = resources.format(
            StringId::NoSpool, name,
            QString::fromLocal8Bit(m_folder.empty() ? quill::spoolFolderPath() : m_folder),
            QString::fromLocal8Bit(std::strerror(spoolError)));
        return nullptr;
    }
    const SourceStatus status = source->status();
    if (status.problem == SourceStatus::Problem::StartFailed) {
        problem = resources.format(StringId::CommandStartFailed, QStringLiteral("ssh"),
                                   QString::fromLocal8Bit(std::strerror(status.error)),
                                   QString::number(status.error));
        return nullptr;
    }
    TraceLog::instance().line(TraceLog::LevelInfo, "Following remote file ",
                              std::u16string_view(toU16(name)), ", ssh process ",
                              std::int64_t(source->processId()));
    return source;
}

QString SourceControl::remoteProblemText(const LogSource& source) const
{
    const SourceStatus status = source.status();
    const SshFailure failure = diagnoseSshErrors(status.errors);
    const LanguageResources& resources = LanguageResources::current();
    const QString name = quill::toQString(source.displayName());
    if (failure.kind != SshFailure::Kind::None) {
        return resources.format(StringId::RemoteFailed, name,
                                resources.string(failureReason(failure.kind)),
                                QString::fromStdString(failure.line));
    }
    if (endedFailing(status)) {
        const QString ended =
            resources.format(StringId::RemoteSshEnded, QString::number(status.exitCode));
        const std::string said = lastLine(status.errors);
        if (said.empty()) {
            return resources.format(StringId::RemoteFailedSilent, name, ended);
        }
        return resources.format(StringId::RemoteFailed, name, ended, QString::fromStdString(said));
    }
    return {};
}

void SourceControl::tellRemoteProblem(const LogSource& source)
{
    const SourceStatus status = source.status();
    const SshFailure failure = diagnoseSshErrors(status.errors);
    if (failure.kind == SshFailure::Kind::None && !endedFailing(status)) {
        return;
    }
    if (m_remoteTold.insert({source.serial(), static_cast<int>(failure.kind)}).second) {
        TraceLog::instance().line(TraceLog::LevelInfo, "ssh: ", std::string_view(failure.line));
        showMessage(remoteProblemText(source));
    }
}
