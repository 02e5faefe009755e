#pragma once

// Chooses the user-interface language, loads that language's package and derives the help
// file path.
//
// A package is a shared module named folder + prefix + code + ".dll" (quillstream_EN.dll
// beside the executable quillstream). It is mapped with dlopen and holds a Qt resource
// bundle that registers itself on load; on success the handler points
// LanguageResources::current() at it, and every later lookup of strings, menus, dialogs,
// toolbars, accelerators, icons and cursors goes there. The language is chosen once per run:
// the setting "GUILanguage", else the user's locale, else "EN". Without any package the
// program cannot build its windows, so loadLanguageResources reports it and start-up ends.
//
// Owned by the application object; unloads the package it holds when destroyed. Main
// (user-interface) thread only.

#include <QString>

#include <functional>

class SettingsStore;
class TraceLog;

class ResourceHandler {
  public:
    // Outcome of loading one module; callers only tell Loaded from the rest.
    enum ResultCode : int {
        Loaded = 0,
        NotFound = 2, // the module file does not exist
        Failed = 3,   // any other reason (not a package, unreadable, wrong architecture, ...)
    };

    // Shows the failure text to the user. The default is a warning message box captioned
    // with the application's name; tests install their own.
    using FailureReporter = std::function<void(const QString& text)>;

    // store and log default to the program's instances; they must outlive the handler.
    explicit ResourceHandler(SettingsStore* store = nullptr, TraceLog* log = nullptr);
    ~ResourceHandler();
    ResourceHandler(const ResourceHandler&) = delete;
    ResourceHandler& operator=(const ResourceHandler&) = delete;

    // Chooses the language and loads its package, falling back to "EN"; on failure shows
    // "Failed to load resource DLL for language: EN" through the reporter. True when a
    // package is loaded; language() then names it.
    bool loadLanguageResources();
    // Loads the package of one code and, when that worked, sets the help path for it.
    bool loadLanguage(const QString& code);
    // The code from the locale variables LANGUAGE, LC_ALL, LC_MESSAGES, LANG (the first one
    // set): its letters before '_', '.', '@' or ':', upper-cased; "C", "POSIX" or anything
    // that is not plain letters gives an empty code.
    static QString defaultLanguage();
    // Builds, normalises to an absolute path, traces and keeps the help file path.
    void setHelpPath(const QString& code);

    // "ResorceDLLPath" (empty: the loader's own search; ".": the executable's folder) +
    // "ResouceDLLPrefix" (empty: the module prefix) + code + ".dll".
    QString buildResourceDllPath(const QString& code) const;
    // "HelpFilePath" + "/" + "HelpFilePrefix" (empty: the module prefix) + code + ".chm".
    QString buildHelpFilePath(const QString& code) const;
    int loadResourceDll(const QString& code);
    int loadResourceDllFromPath(const QString& path);
    // Unloads the held package; LanguageResources::current() then has none.
    void freeResourceDll();

    // The executable's file name up to the first ".exe" (or, failing that, ".EXE"), then
    // "_". Pure; exposed for tests.
    static QString modulePrefix(const QString& executablePath);
    const QString& modulePrefix() const { return m_modulePrefix; }

    const QString& language() const { return m_language; }
    const QString& helpPath() const { return m_helpPath; }
    bool isLoaded() const { return m_loaded; }
    void* moduleHandle() const { return m_module; }
    const QString& executablePath() const { return m_executablePath; }

    // Seams. The executable path defaults to /proc/self/exe and also resets the module
    // prefix; the reporter is called on the main thread from loadLanguageResources.
    void setExecutablePath(const QString& path);
    void setFailureReporter(FailureReporter reporter);
    // The default reporter's message box.
    static void showFailureMessage(const QString& text);

  private:
    SettingsStore& store() const;
    TraceLog& log() const;
    QString settingText(unsigned id) const;

    bool m_loaded = false;
    void* m_module = nullptr;
    QString m_packageRoot;
    QString m_language;
    QString m_modulePrefix;
    QString m_helpPath;
    QString m_executablePath;
    SettingsStore* m_store;
    TraceLog* m_log;
    FailureReporter m_reportFailure;
};
