#include "resources/QtFileName.h"

#include "platform/FileName.h"
#include "resources/QtText.h"

#include <QFile>

#include <sys/stat.h>

namespace quill {

namespace {

bool exists(const std::string& bytes)
{
    struct stat info;
    return ::lstat(bytes.c_str(), &info) == 0;
}

// The one entry of the folder that Qt decodes to the shown text; empty when there is no
// such entry or more than one (bytes that differ only where Qt shows U+FFFD).
std::string entryShownAs(const std::string& folder, const QString& shown)
{
    std::string found;
    int matches = 0;
    for (const std::string& entry : folderEntryNames(folder.empty() ? std::string("/") : folder)) {
        if (QFile::decodeName(QByteArray::fromStdString(entry)) == shown) {
            found = entry;
            ++matches;
        }
    }
    return matches == 1 ? found : std::string();
}

} // namespace

std::u16string fileNameFromUrl(const QUrl& url)
{
    if (!url.isLocalFile()) {
        return {};
    }
    // The fully encoded path is ASCII; its escapes are the name's own bytes.
    QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0) {
        bytes.prepend(QByteArray("//") + host.toUtf8());
    }
    return fileNameToUtf16(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

std::u16string fileNameFromQt(const QString& path)
{
    const std::u16string text = toU16(path);
    if (!path.contains(QChar::ReplacementCharacter) || exists(fileNameToBytes(text))) {
        return text;
    }
    // Rebuilt part by part from the bytes on disk. A part without U+FFFD is taken as
    // written, so only the folders on the way are read.
    const bool absolute = path.startsWith(u'/');
    std::string resolved = absolute ? std::string() : std::string(".");
    for (const QString& part : path.split(u'/', Qt::SkipEmptyParts)) {
        std::string bytes;
        if (part.contains(QChar::ReplacementCharacter)) {
            bytes = entryShownAs(resolved, part);
        }
        if (bytes.empty()) {
            bytes = fileNameToBytes(toU16(part));
        }
        resolved += '/';
        resolved += bytes;
    }
    if (!absolute) {
        resolved.erase(0, 2);
    }
    return fileNameToUtf16(resolved);
}

QString fileNameToDisplay(std::u16string_view name)
{
    return toQString(fileNameForDisplay(name));
}

} // namespace quill
