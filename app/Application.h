#pragma once

// Application: start-up and shutdown in their fixed order, the command line, the Open
// dialog and the recent-file list.
//
// Start-up (initInstance): trace log opened in the temporary folder with its start lines,
// environment report (and the loaded-module report at trace level 3), language package
// (failure ends the program), recent-file list, help switch (usage box, end), command line,
// main frame with its first (empty) tab, then the files from the command line, each in a tab,
// or else the tabs of the last session (or the last viewed file), and the window is shown.
// Before the main frame, unless --new-window: the request goes to the window already running
// for this display, if one answers (start-up ends there), else this one listens for later
// starts (app/InstanceServer.h). Shutdown (exitInstance): "ExitInstance" traced, trace log
// closed, recent-file list saved; the package is unloaded when the object is destroyed.
//
// One object per process, created after QApplication and destroyed before it. Owns the
// resource handler, the main frame (whose tabs own the documents) and the sound service.
// Main thread only.

#include "frame/MainFrame.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CanberraSound;
class InstanceServer;
class LogTab;
namespace quill {
struct InstanceFile;
struct InstanceRequest;
} // namespace quill
class LogDocument;
class ResourceHandler;
class RecentFileList;
class TabSession;
struct TabSessionState;
class SoundService;

class Application : public QObject, public FrameOwner {
    Q_OBJECT
  public:
    Application();
    ~Application() override;

    // args: the arguments after the program name. True: run the event loop.
    bool initInstance(const std::vector<std::string>& args);
    // Returns the exit code to end the process with.
    int exitInstance();

    // FrameOwner.
    bool openDocumentFile(const std::u16string& path) override;
    // path with the rotated files beside it as one log (--with-rotated); a path without any
    // opens as openDocumentFile does.
    bool openWithRotated(const std::u16string& path);
    void onFileNew() override;
    void onFileOpen() override;
    void onFileOpenMerged() override;
    void onAppAbout() override;
    void onOpenRecentFile(int index) override;
    std::vector<std::u16string> recentFiles() const override;
    void setFileEncoding(const std::u16string& path, quill::TextEncoding encoding) override;

    // What SIGTERM and SIGINT do, at any moment: every modal box or dialog open ends at
    // once, innermost first, as if cancelled, and so does any shown later; then the main
    // window closes as the user would close it (stored position, document closed), or,
    // during start-up, start-up ends where it is and the event loop is never entered.
    void requestClose();
    bool isTerminating() const { return m_terminating; }
    // Tells of a request to end that has arrived but not yet reached requestClose (a
    // signal while the event loop cannot run): indexing a file stops on it, and start-up
    // ends as it would after requestClose.
    void setTerminationPending(std::function<bool()> pending)
    {
        m_terminationPending = std::move(pending);
    }

    // The usage text: string 8 with the product name and the legal notice, the syntax
    // line and string 7.
    static QString usageText();

    MainFrame* mainFrame() const { return m_mainFrame.get(); }
    // The front tab's document.
    LogDocument* document() const;
    const QString& language() const { return m_language; }
    const QString& modulePrefix() const { return m_modulePrefix; }
    const QString& helpPath() const { return m_helpPath; }
    bool initFailed() const { return m_initFailed; }

    // Seams for tests: what shows the usage text and what runs the Open dialog (returns the
    // chosen path or an empty text; a path Qt decoded, with U+FFFD for bytes it could not,
    // or the escaped form of platform/FileName.h), and a sound service in place of
    // libcanberra.
    void setUsagePresenter(std::function<void(const QString&)> presenter);
    // The Open dialog answers with every name chosen, in the order shown.
    void setOpenDialog(std::function<QStringList(const QString& title, const QStringList& filters,
                                                 const QString& folder)>
                           dialog);
    // The socket of the window for this user and display (platform/InstanceChannel.h);
    // empty, as in tests unless they set one: every start runs alone.
    void setInstanceSocket(std::string path) { m_instanceSocket = std::move(path); }
    // This start handed its files to the window already running and has nothing to show.
    bool handedOver() const { return m_handedOver; }
    InstanceServer* instanceServer() const { return m_instanceServer.get(); }
    void setSoundService(SoundService* sound) { m_soundOverride = sound; }
    ResourceHandler& resourceHandler() { return *m_resourceHandler; }

    // Open dialog pieces: the two filters and the folder it starts in (the followed file's
    // folder; with no file the temporary folder on a first run, else the dialog's choice).
    QStringList openDialogFilters() const;
    QString openDialogFolder() const;

  protected:
    // Notices every modal window shown: traced, and ended at once while terminating.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void writeStartLines();
    // Reopens the tabs of the last session; false when it held none.
    bool restoreSession();
    // Opens entry `entry` of the session as it was kept: a file, a merged tab or a rotated set.
    bool restoreTab(const TabSessionState& state, std::size_t entry);
    // Opens each file in its tab; the tabs to move to a line, with that line. *first: the
    // tab of the first file opened.
    std::vector<std::pair<LogTab*, std::uint32_t>>
    openFiles(const std::vector<quill::InstanceFile>& files, LogTab** first = nullptr);
    void showLines(const std::vector<std::pair<LogTab*, std::uint32_t>>& lines);
    // A request from a later start (fd: its standard input, or -1): its files, standard
    // input or command as tabs, and the window in front.
    void takeRequest(const quill::InstanceRequest& request, int fd);
    // Whether path is the spool of a source some tab follows.
    bool isSpool(const std::string& path) const;
    void saveSession();
    static std::u16string absolutePath(const std::u16string& path);
    bool terminationRequested() const
    {
        return m_terminating || (m_terminationPending && m_terminationPending());
    }

    std::unique_ptr<ResourceHandler> m_resourceHandler;
    QString m_language;
    QString m_modulePrefix;
    QString m_helpPath;
    std::unique_ptr<RecentFileList> m_recentFiles;
    std::unique_ptr<CanberraSound> m_sound;
    SoundService* m_soundOverride = nullptr;
    std::unique_ptr<TabSession> m_session;
    std::unique_ptr<MainFrame> m_mainFrame;
    // The last open was stopped by a request to end (its tab may be gone by now).
    bool m_openStopped = false;
    bool m_initFailed = false;
    bool m_exited = false;
    bool m_terminating = false;
    std::function<bool()> m_terminationPending;
    std::function<void(const QString&)> m_usagePresenter;
    std::function<QStringList(const QString&, const QStringList&, const QString&)> m_openDialog;
    std::string m_instanceSocket;
    std::unique_ptr<InstanceServer> m_instanceServer;
    bool m_handedOver = false;
    // Start-up is over: requests from later starts open at once, not after it.
    bool m_started = false;
};
