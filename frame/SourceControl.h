#pragma once

// SourceControl: the logs that arrive as no file of their own, as the window offers them:
// standard input, File > Follow Command..., File > Follow System Journal, File > Follow
// Remote File... (frame/SourceControlRemote.cpp) and compressed files. It makes the source
// (engine/LogSource.h), hands it to the front document, tells the user in plain words what went
// wrong, and shows the source's state in the status bar: "End of input", a command's exit status
// (with Cancel while it runs), a decompression's progress with Cancel.
//
// Everything per source lives in the document (LogDocument::source()); this object only
// looks at whichever document the window shows, so it serves any number of documents.
// Main thread only.

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/Decompressor.h"
#include "engine/LogSource.h"
#include "engine/RemoteFile.h"

class LogDocument;
class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QWidget;

class SourceControl : public QObject {
    Q_OBJECT
  public:
    static constexpr int PollMs = 100;
    // Once commands have run, orphans they left may end at any time: looked for this often
    // while no source needs the fast timer.
    static constexpr int OrphanPollMs = 5000;
    // A rotated set whose older files are read only follows its live file: its state changes
    // only with a rotation or a problem, looked for this often.
    static constexpr int FollowPollMs = 1000;
    static constexpr std::size_t HistorySize = 10;

    // document: gives the document the window shows now (may give nullptr). The widgets
    // are added to bar; dialogs are parented to window.
    SourceControl(QWidget* window, QStatusBar* bar, std::function<LogDocument*()> document);
    ~SourceControl() override;

    // Where messages go (a message box unless tests divert them), and what runs after a
    // source's spool was opened in a document (the views' first update).
    void setMessageHandler(std::function<void(const QString&)> handler)
    {
        m_message = std::move(handler);
    }
    void setAfterOpen(std::function<void(LogDocument*)> afterOpen)
    {
        m_afterOpen = std::move(afterOpen);
    }
    // What runs once a decompressed copy is complete and no longer followed.
    void setAfterComplete(std::function<void(LogDocument*)> afterComplete)
    {
        m_afterComplete = std::move(afterComplete);
    }
    // The document a new source goes to, asked once the source has started (so a source
    // that cannot start costs no document); default: the one the window shows.
    void setTargetDocument(std::function<LogDocument*()> target) { m_target = std::move(target); }
    // Every document whose source is looked after (a decompression finishing behind the
    // front); default: the one the window shows.
    void setAllDocuments(std::function<std::vector<LogDocument*>()> all) { m_all = std::move(all); }
    // What asks for a command line (tests answer it); empty text: cancelled.
    void setCommandPrompt(std::function<QString(const QStringList& history)> prompt)
    {
        m_prompt = std::move(prompt);
    }
    // Where sources put their spools (tests); empty: the user's cache folder.
    void setSpoolFolder(const std::string& folder) { m_folder = folder; }
    // What the spools keep free on their disk (tests); -1: the share of their file system.
    void setSpoolReserve(std::int64_t bytes) { m_reserveBytes = bytes; }
    // Options ssh is given before the host for every remote file (tests: their own
    // configuration, keys and known hosts); users never give any.
    void setRemoteOptions(std::vector<std::string> options)
    {
        m_remoteOptions = std::move(options);
    }

    // Standard input (file descriptor fd, 0 but for tests): refused with a message when it
    // is a terminal.
    bool followStandardInput(int fd = 0);
    // Splits the line into words and runs them (in folder; empty: this process's working
    // folder); a line that cannot be split, or a program that cannot be started, is refused
    // with a message that says why.
    bool followCommandLine(const QString& line, const std::string& folder = {});
    bool followCommand(const std::vector<std::string>& words, const QString& name,
                       const std::string& folder = {});
    // journalctl -f -n 1000 -o short-iso; a message when journalctl is missing, and a note
    // naming the groups that give access when the user is in none of them.
    bool followSystemJournal();
    // path: native bytes of a file whose content is compressed; name: its shown path.
    bool openCompressed(const std::string& path, CompressionFormat format, const QString& name);
    // The live file at path (native bytes) with the rotated files beside it, oldest first,
    // as one log in into (nullptr: the target document), shown as name; the live file is
    // followed by its name (frame/SourceControlRotated.cpp). False, and nothing done, when
    // there is no rotated file beside it or the spool cannot be made (then with a message).
    bool openRotated(const std::string& path, const QString& name, LogDocument* into = nullptr);
    // File > Add Rotated Files: document's file (no source) with the rotated files beside it,
    // in document; a message when there are none.
    bool addRotated(LogDocument* document);
    // File > Follow Command...: asks for the line, runs it and keeps it in the history.
    void onFollowCommand();
    // File > Follow Remote File...: asks for the host (host or user@host), the port (empty:
    // ssh's choice) and the path, and follows the file through ssh in a tab of its own
    // named host:path. What cannot be a host, port or path is refused with a message.
    void onFollowRemote();
    bool followRemote(const QString& host, const QString& port, const QString& path);
    // A remote file named on the command line, ssh://[user@]host[:port]/path
    // (engine/RemoteAddress.h), followed as the box follows one.
    bool followRemoteAddress(const std::string& address);
    // A remote file's ssh for a merged tab's document: nullptr, with problem (naming the
    // file) set, when the spool cannot be made or ssh cannot start.
    std::unique_ptr<LogSource> startRemote(const RemoteFile& file, QString& problem);
    // Starts the file's ssh and opens it in a tab; a failure is told.
    bool followRemoteFile(const RemoteFile& file);
    // Why a remote file was refused before ssh ran, in plain words.
    static QString remoteFileErrorText(RemoteFileError error);
    // A remote source's failure, told once for each reason (also for a merged tab's).
    void tellRemoteProblem(const LogSource& source);
    // Why a remote source failed, as its ssh's standard error tells (empty: it did not, or
    // not yet): the reason in plain words and ssh's own line.
    QString remoteProblemText(const LogSource& source) const;

    QStringList history() const { return m_history; }
    QLabel* label() const { return m_label; }
    QProgressBar* progress() const { return m_progress; }
    QPushButton* cancelButton() const { return m_cancel; }

    // Looks after every document's source now and shows the front one's state. The timer
    // does this every PollMs while a source runs or has an end not yet told, and not at
    // all while the documents are plain files.
    void refresh();
    // Something may have changed that the status bar shows (another front, an index that
    // stopped): a refresh soon, from the event loop, not from within the caller.
    void wake();
    // The timer's interval in milliseconds, -1 while it is stopped.
    int timerInterval() const;
    // The status bar's text for a source's state, and the problem alone (empty: none).
    QString statusText(const SourceStatus& status) const;
    QString problemText(const SourceStatus& status) const;
    // Why a document's index took no more lines (empty: it did not stop); the status bar's
    // short form, or the message's, which says what stays and what Reload does.
    QString indexStopText(const LogDocument& document, bool message) const;

    // Whether the user may read the whole system journal: root, or a member of one of the
    // groups systemd-journal, adm, wheel.
    static bool canReadSystemJournal();
    // The program's path found in PATH as execvp would, empty when there is none.
    static std::string findProgram(const std::string& name);

  private:
    // Runs the timer as fast as the documents' sources need it, or stops it.
    void paceTimer(const std::vector<LogDocument*>& documents);
    void showMessage(const QString& text);
    // Hands the started source to the target document and brings the views up.
    bool openInTarget(std::unique_ptr<LogSource> source, const QString& name,
                      LogDocument* into = nullptr);
    // A rotated set's state, and its members that could not be read, told once.
    QString rotatedStatusText(const SourceStatus& status) const;
    void tellRotatedSkipped(const LogSource& source);
    // A document's source: a finished decompression is shown, an end is traced and a
    // problem told once.
    void lookAfter(LogDocument* document);
    // The front document's source state in the status bar: its text, the progress and
    // Cancel, each shown only while the bar shows no message of its own (a status tip).
    void showState();
    // A document whose index stopped, with a source or without: told once in a box.
    void tellIndexStop(const LogDocument& document);
    void readHistory();
    void writeHistory();
    void addToHistory(const QString& line);
    QString runCommandPrompt();
    void cancel();

    QWidget* m_window;
    std::function<LogDocument*()> m_document;
    std::function<void(const QString&)> m_message;
    std::function<void(LogDocument*)> m_afterOpen;
    std::function<void(LogDocument*)> m_afterComplete;
    std::function<LogDocument*()> m_target;
    std::function<std::vector<LogDocument*>()> m_all;
    std::function<QString(const QStringList&)> m_prompt;
    std::string m_folder;
    std::int64_t m_reserveBytes = -1;
    QStringList m_history;
    QStatusBar* m_bar = nullptr;
    QLabel* m_label = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QTimer* m_timer = nullptr;
    // The sources whose end was told already (each end is told once).
    std::set<std::uint64_t> m_reported;
    // The sources whose end was traced already.
    std::set<std::uint64_t> m_ended;
    // The index stops told already (LogDocument::IndexStop::serial).
    std::set<std::uint64_t> m_stopsTold;
    // The remote failures told already: the source's serial and the failure's kind.
    std::set<std::pair<std::uint64_t, int>> m_remoteTold;
    // The rotated sets whose left-out members were told already.
    std::set<std::uint64_t> m_rotatedTold;
    std::vector<std::string> m_remoteOptions;
    // What the Follow Remote File box offers again.
    QString m_remoteHost;
    QString m_remotePort;
    QString m_remotePath;
};
