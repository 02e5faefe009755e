// SourceControl's rotated sets: the live file with the rotated files beside it as one log.

#include "frame/SourceControl.h"

#include "diagnostics/TraceLog.h"
#include "engine/Decompressor.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/RotatedSiblings.h"
#include "platform/FileName.h"
#include "platform/SpoolFolder.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"

#include <cstring>

using quill::toU16;

bool SourceControl::openRotated(const std::string& path, const QString& name, LogDocument* into)
{
    // A compressed live file is no log that grows: it opens as a decompressed copy.
    if (detectCompressionOfFile(path) != CompressionFormat::None) {
        return false;
    }
    const RotatedSiblings siblings = findRotatedSiblings(path);
    if (siblings.members.empty() && siblings.unreadable.empty()) {
        return false;
    }
    // Those that cannot be read go in too: the set names them as left out, with the reason.
    std::vector<std::string> older = siblings.unreadable;
    older.insert(older.end(), siblings.members.begin(), siblings.members.end());
    const LanguageResources& resources = LanguageResources::current();
    const QString shown =
        resources.format(StringId::RotatedSetName, name, QString::number(older.size()));
    SourceOptions options;
    options.folder = m_folder;
    options.reserveBytes = m_reserveBytes;
    int error = 0;
    std::unique_ptr<LogSource> source =
        LogSource::followRotated(older, path, toU16(shown), options, error);
    if (!source) {
        showMessage(resources.format(
            StringId::NoSpool, shown,
            QString::fromLocal8Bit(m_folder.empty() ? quill::spoolFolderPath() : m_folder),
            QString::fromLocal8Bit(std::strerror(error))));
        return false;
    }
    TraceLog::instance().line(TraceLog::LevelInfo, "Rotated set of ", std::uint32_t(older.size()),
                              " files, spool ", std::string_view(source->spoolPath()));
    return openInTarget(std::move(source), shown, into);
}

bool SourceControl::addRotated(LogDocument* document)
{
    if (document == nullptr || document->source() != nullptr || document->pathName().empty()) {
        return false;
    }
    const std::u16string& path = document->pathName();
    const QString name = quill::fileNameToDisplay(path);
    if (openRotated(quill::fileNameToBytes(path), name, document)) {
        return true;
    }
    if (document->source() == nullptr) {
        const int slash = static_cast<int>(name.lastIndexOf(QLatin1Char('/')));
        showMessage(
            LanguageResources::current().format(StringId::RotatedNone, name.mid(slash + 1)));
    }
    return false;
}

QString SourceControl::rotatedStatusText(const SourceStatus& status) const
{
    const LanguageResources& resources = LanguageResources::current();
    if (status.phase != SourceStatus::Phase::Running) {
        return {};
    }
    if (!status.following) {
        // The member being read counts: "1 of 5" while the oldest is read.
        return resources.format(StringId::RotatedReading,
                                QString::number(std::min(status.membersDone + 1, status.members)),
                                QString::number(status.members));
    }
    return resources.format(StringId::RotatedFollowing, QString::number(status.members));
}

void SourceControl::tellRotatedSkipped(const LogSource& source)
{
    const SourceStatus status = source.status();
    if (status.following || status.phase != SourceStatus::Phase::Running) {
        // Told once the older files are through, all in one box.
        if (m_rotatedTold.insert(source.serial()).second && !status.skipped.empty()) {
            QStringList lines;
            for (const std::string& line : status.skipped) {
                lines.append(QString::fromLocal8Bit(line));
            }
            showMessage(LanguageResources::current().format(StringId::RotatedSkipped,
                                                            lines.join(QLatin1Char('\n'))));
        }
    }
}
