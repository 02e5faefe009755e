// A merged tab's files on other machines: each followed by its own ssh into a spool that
// its document follows, and ssh's failure told once, naming the file, while the others merge.

#include "frame/MergedPart.h"

#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/MergedLogs.h"
#include "engine/RemoteAddress.h"
#include "frame/SourceControl.h"
#include "resources/LanguageResources.h"

#include <QTimer>

bool MergedPart::openRemote(const std::string& entry, LogDocument& document,
                            QStringList& unreadable)
{
    const QString shown = QString::fromStdString(entry);
    RemoteFile file;
    const RemoteFileError error = parseRemoteAddress(entry, file);
    if (error != RemoteFileError::None) {
        unreadable.append(shown + QStringLiteral(": ") + SourceControl::remoteFileErrorText(error));
        return false;
    }
    if (m_sources == nullptr) {
        unreadable.append(shown + QStringLiteral(": ") +
                          LanguageResources::current().string(StringId::RemoteCannotRead));
        return false;
    }
    QString problem;
    std::unique_ptr<LogSource> source = m_sources->startRemote(file, problem);
    if (!source) {
        unreadable.append(shown + QStringLiteral(": ") + problem);
        return false;
    }
    if (!document.openSource(std::move(source))) {
        unreadable.append(shown);
        return false;
    }
    if (m_remoteWatch == nullptr) {
        m_remoteWatch = new QTimer(this);
        m_remoteWatch->setInterval(SourceControl::PollMs);
        connect(m_remoteWatch, &QTimer::timeout, this, &MergedPart::watchRemotes);
        m_remoteWatch->start();
    }
    return true;
}

void MergedPart::watchRemotes()
{
    bool running = false;
    for (std::size_t s = 0; s < m_documents.size(); ++s) {
        const LogSource* source = m_remote[s] ? m_documents[s]->source() : nullptr;
        if (source == nullptr) {
            continue;
        }
        m_sources->tellRemoteProblem(*source);
        running = running || !source->status().exited;
    }
    // An ssh that ended says nothing more.
    if (!running) {
        m_remoteWatch->stop();
    }
}
