#pragma once

// File names between Qt and the core. Qt 6 decodes a local file name as UTF-8 and puts
// U+FFFD where a byte is not part of one; the core keeps every name as the bytes it is,
// in the escaped UTF-16 form of platform/FileName.h. These functions take a name from
// Qt's side without losing its bytes where Qt still has them, and give the screen its
// display form. GUI code, main thread (they may read folders).

#include <QString>
#include <QUrl>

#include <string>
#include <string_view>

namespace quill {

// The escaped name of a local-file URL (a drop, a desktop file dialog): the path's percent
// escapes are decoded to bytes, never to text, so a name that is not UTF-8 arrives whole.
// "file://host/path" gives "//host/path", as QUrl::toLocalFile does. Empty for a URL that
// is not a local file.
std::u16string fileNameFromUrl(const QUrl& url);

// The escaped name of a path that Qt gives as text (the Open dialog's choice). A text that
// already holds escapes, or that names an existing file as it stands, is taken as it is.
// Where Qt showed a byte as U+FFFD, each such part of the path is found again in its
// folder: the one entry that Qt shows as that text. With none or several, the part stays
// as written, and the open reports the file as missing.
std::u16string fileNameFromQt(const QString& path);

// The name as the screen shows it, with U+FFFD for every escaped byte.
QString fileNameToDisplay(std::u16string_view name);

} // namespace quill
