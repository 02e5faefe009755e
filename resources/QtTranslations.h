#pragma once

// Qt's own texts in the language of the loaded package: the standard dialogs (file, font,
// colour, message boxes) and the names of keys in menus ("Strg+O" in German). Qt ships them
// as qtbase_<language>.qm in its translations folder (Debian: qt6-translations-l10n).
//
// One translator at a time, owned by the application object: installing for another
// language replaces it, and English (or a language Qt has no file for) removes it, so Qt's
// built-in English texts show. Main (user-interface) thread, after QApplication exists.

#include <QString>

// code: a package's language code ("DE", "EN", "pt-BR"). folder: where the .qm files are;
// empty means Qt's own translations folder. Returns the file that is now installed, or an
// empty text when none is.
QString installQtTranslations(const QString& code, const QString& folder = {});
