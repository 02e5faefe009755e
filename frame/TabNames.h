#pragma once

// The names shown on the tabs of one window. Twenty open logs often differ only in a date
// or a number in the middle of a long shared name ("service-frontend-2026-12-01.log"); an
// ellipsis in the middle of each name would hide just that part. So a name too wide for a
// tab loses characters first from the start the open names share, then from the end they
// share (keeping its last characters, the extension), and only then from its middle.

#include <QString>
#include <QStringList>

#include <functional>

namespace quill {

// The width of a text in the tab bar's font, in pixels.
using TextWidth = std::function<int(const QString&)>;

// How many characters all the names have in common at their start, and then at their end
// (counted in what remains of each name after the shared start). Both 0 for fewer than two
// names.
struct SharedParts {
    qsizetype start = 0;
    qsizetype end = 0;
};
SharedParts sharedParts(const QStringList& names);

// name, shortened as described above until it is at most maxWidth wide. A surrogate pair
// is never split.
QString shortTabName(const QString& name, SharedParts shared, int maxWidth, const TextWidth& width);

// The text a tab shows for its name: '&' doubled, so a name never turns into a keyboard
// accelerator of the tab bar or a menu.
QString literalLabel(QString text);

// A window title showing text as it is: Qt reads "[*]" in a title as the place of the
// modified mark and drops it.
QString literalTitle(QString text);

} // namespace quill
