#pragma once

// MainFrame: the program's one top-level window. It holds the tabs (one LogTab per followed
// log, frame/LogTab.h), the toolbar (resource 128) and the status bar with the front tab's
// path, size and line count; it restores and stores its own position, keeps itself above
// other windows when asked, opens dropped files, shows the context menu (resource 132) and
// carries the commands, which act on the tab in front. The tab bar hides while only one
// tab is open, so one file looks as it did before there were tabs. There is always at
// least one tab: closing the last one leaves an empty one.
//
// Commands are QActions named "cmd_<id>" (the command ids keep their numbers); their enable
// and check states are refreshed whenever the front document changes and before a menu
// opens. The owner is not owned. User-interface thread only.
//
// The members are defined by job: the tabs and the window's events in MainFrame.cpp, the
// commands in MainFrameCommands.cpp, the status bar in MainFrameStatus.cpp, the window's
// place in MainFramePlacement.cpp, Copy in MainFrameCopy.cpp, Find in MainFrameFind.cpp
// and RegexSearch.cpp.

#include "dialogs/FindDialog.h"
#include "engine/DocumentHost.h"
#include "engine/DocumentTypes.h"
#include "platform/TextEncoding.h"
#include "resources/ResourceIds.h"

#include <QEvent>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class LogDocument;
class LogView;
class SoundService;
class CommandActions;
class FilterPane;
class FindAllPane;
class LogTab;
class QLabel;
class QTabWidget;
class QProgressDialog;
class QSplitter;
class QTimer;
class SaveLinesCommand;
class SelectionCopyJob;
class SourceControl;
struct TabSessionState;
class LineDetailsPane;
class TextArea;
class TimeCommands;
struct CopyResult;
class QMenu;
class QToolBar;

// What the frame asks of the application (implemented by Application; tests record).
class FrameOwner {
  public:
    virtual ~FrameOwner() = default;
    // The framework's open: opens path in the tab the frame's prepareOpen names, puts it at
    // the top of the recent file list on success.
    virtual bool openDocumentFile(const std::u16string& path) = 0;
    // The framework's new-document operation, on the frame's targetTab().
    virtual void onFileNew() = 0;
    virtual void onFileOpen() = 0;
    virtual void onAppAbout() = 0;
    // File > Open Merged...: asks for files and opens them merged (MainFrame::openMerged).
    virtual void onFileOpenMerged() {}
    // Opens recent entry index (0 = most recent); a failed entry leaves the list.
    virtual void onOpenRecentFile(int index) = 0;
    virtual std::vector<std::u16string> recentFiles() const = 0;
    // Keeps the encoding chosen for a file with it in the recent-file list, for its next
    // open (a reload included).
    virtual void setFileEncoding(const std::u16string& path, quill::TextEncoding encoding)
    {
        (void)path;
        (void)encoding;
    }
};

class MainFrame : public QMainWindow {
    Q_OBJECT
  public:
    // Runs the creation steps (bars, panes, stay-on-top, stored position, drop target) and
    // opens one empty tab. owner may be null (then Open, New, About and recent files do
    // nothing).
    MainFrame(FrameOwner* owner, SoundService* sound, QWidget* parent = nullptr);
    ~MainFrame() override;

    // The front tab's parts.
    LogTab* currentTab() const;
    LogView* activeView() const;
    // The filter bar and the pane of matching lines below the log view.
    FilterPane* filterPane() const;
    QSplitter* splitter() const;
    LogDocument* activeDocument() const;

    // Tabs, in the order the tab bar shows them.
    QTabWidget* tabWidget() const { return m_tabs; }
    int tabCount() const;
    LogTab* tab(int index) const;
    int indexOf(const LogTab* tab) const;
    // A new empty tab after the others (not brought to the front).
    LogTab* addTab();
    void activateTab(LogTab* tab);
    // Closes the tab, its watcher and filter; the last tab is replaced by an empty one.
    void closeTab(LogTab* tab);
    // Runs on every tab's document now and on each one created later (the application's
    // stop for indexing, a test's watch timing).
    void setDocumentSetup(std::function<void(LogDocument&)> setup);
    const std::function<void(LogDocument&)>& documentSetup() const { return m_documentSetup; }

    // Where an open of fullPath goes: the tab that holds that file already (existing), the
    // tab being reloaded, the front tab when it has no file, else a new tab (created), which
    // is brought to the front at once so that the open shows in it.
    struct OpenTarget {
        LogTab* tab = nullptr;
        bool existing = false;
        bool created = false;
        // The front tab before a created one took its place.
        LogTab* previous = nullptr;
    };
    OpenTarget prepareOpen(const std::u16string& fullPath);
    // The tab that File New and an open act on: the one being reloaded, else the front one.
    LogTab* targetTab() const;
    // The open files in tab order and the index of the front one among them (the session).
    std::vector<std::u16string> openPaths(std::size_t* front = nullptr) const;
    // The tabs to open at the next start: the open files, merged tabs and rotated sets, in
    // tab order, with the front one (frame/MainFrameSession.cpp).
    TabSessionState sessionState() const;
    // Standard input, commands, the journal and compressed files (frame/SourceControl.h).
    SourceControl* sources() const { return m_sources; }
    // Go to Time and the caret time pane.
    TimeCommands* timeCommands() const { return m_time; }
    // View > Line Details, docked beside the tabs.
    LineDetailsPane* lineDetails() const { return m_details; }
    // File > Save Lines As.
    SaveLinesCommand* saveLines() const { return m_saveLines; }
    QAction* action(int id) const;
    // False when a part that the window cannot do without (the toolbar) failed to load.
    bool isCreated() const { return m_created; }
    QLabel* pane(int index) const; // 1..3
    // The pane that says following is paused; shown only while it is.
    QLabel* pausePane() const { return m_pausePane; }
    QLabel* encodingPane() const { return m_encodingPane; }
    // The pane that says why the front tab's file cannot be read; shown only while so.
    QLabel* readPane() const { return m_readPane; }

    // Status panes 1 to 3.
    void setFilePathText(const std::u16string& path);
    void setFileSizeText(qint64 size);
    void setLineCountText(qint64 count);
    void setPaneText(int index, const QString& text);
    int statusTextWidth(const QString& text) const;

    void applyTopMost();
    // cascade: stored 30 pixels further right and down, for the new window of New Window.
    void saveWindowPosition(bool cascade = false);
    // rect unchanged when enough of it to take hold of lies on one of the screens
    // (available areas), else moved wholly onto the nearest one.
    static QRect placeOnScreen(const QRect& rect, const QList<QRect>& screens);
    // Refreshes enable and check states of every command.
    void updateCommandStates();
    // The recent files in the File menu changed.
    void updateRecentFileMenu();

    // Commands.
    void onFileReload();
    // Reopens the tab's file in that tab (the watcher saw it replaced, or Reload). A file
    // that exists but cannot be read is not reopened: the tab keeps its lines and follows
    // on, so the file is continued or reloaded once it can be read; byUser also says why.
    void reloadTab(LogTab* tab, bool byUser = false);
    void onNewWindow();
    // View > Terminal Colours: stored, and applied to the document shown.
    void onViewTerminalColors();
    void onViewShowControlCharacters();
    // View > Wrap Long Lines: stored, and applied to the log view and the filter pane of
    // every tab (those behind the front one when they come to the front).
    void onViewWrapLines();
    // View > Encoding: the shown file is read again in the chosen encoding, which the
    // recent-file list keeps for it.
    void onViewEncoding(quill::TextEncoding encoding);
    // The status bar's encoding pane: the encoding the document is read in.
    void updateEncodingPane();
    void onClearWindow();
    // Runs the settings sheet; after OK the new settings take effect at once.
    void onSettings();
    // The watcher's append message for a tab.
    void tabAppended(LogTab* tab);
    // paths: file names in their escaped form (platform/FileName.h), as QString.
    void onDropFiles(const QStringList& paths);
    void toggleBar(int id);

    // The front tab's views brought up to date (after an open, New, new settings).
    void updateAllViews();

    // Find: the dialog (57636), find next down/up (32774/32775), and the search the dialog's
    // notification runs. The dialog exists from its first opening until the user closes it.
    void onEditFind();
    void findAgain(bool down);
    void onFindNext(const QString& text, bool down, bool matchCase, bool wholeWord,
                    bool regularExpression = false);
    FindDialog* findDialog() const { return m_findDialog; }
    unsigned searchFlags() const { return m_searchFlags; }
    // The filter pane's Copy is built at once (its rows are bounded); the log view's runs
    // on a thread of its own (see startCopyJob). Either puts the text on the clipboard.
    void onEditCopy();
    // The log view's Copy in progress, if any (tests).
    QProgressDialog* copyProgress() const { return m_copyProgress; }
    bool isCopying() const { return m_copyJob != nullptr; }
    void onEditSelectAll();
    // Ctrl+Shift+F: the filter field takes the keyboard.
    void onFilter();
    // Edit > Find in All Tabs: the pane, created on first use (frame/FindAllPane.h).
    void onFindAll();
    FindAllPane* findAllPane() const { return m_findAll; }
    // The filter bar's switch: the filter's lines in the main view in place of all lines.
    // Turned on without a filter, the filter field takes the keyboard for one.
    void onFilterAsView();
    // The front tab shows the filter's lines as its main view: Find, Copy, Select All and
    // the marks act on them (frame/MainFrameFilterView.cpp).
    bool filterShownAsView() const;
    // Opens the files (full paths, or remote files written ssh://..., engine/RemoteAddress.h)
    // in one tab, their lines merged by time: the empty front tab or a new one. Files that
    // cannot be read are named in a message and left out; false when none can be read
    // (frame/MainFrameMerged.cpp).
    bool openMerged(const std::vector<std::u16string>& paths);
    // File > Follow Remote Files Merged...: asks for the files, one a line, remote or
    // local, and opens them merged; lines that name no file are told and left out
    // (frame/MainFrameMergedRemote.cpp).
    void onFollowRemoteMerged();
    // Selects document line `line` in the log view and scrolls it into view with a line
    // above it, as a match of Find is shown.
    void showLine(LineNumber line);

    // Says something to the user: a message box, or the handler when one is set.
    void showMessage(const QString& text);
    // Where the frame's informational messages go (a message box unless tests divert them).
    void setMessageHandler(std::function<void(const QString&)> handler)
    {
        m_messageHandler = std::move(handler);
    }

    // The program started for New Window (tests replace it).
    void setNewWindowProgram(const QString& program) { m_newWindowProgram = program; }

  signals:
    // The window is closing; the tabs are still open (the session is taken here).
    void aboutToClose();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    friend class SaveLinesCommand; // its failures are told as the frame tells others

    void createActions();
    // Standard input, commands, the journal and compressed files, for every tab.
    void buildSources();
    QAction* commandAction(int id);
    void buildMenus();
    bool buildToolBar();
    void buildStatusBar();
    void updatePausePane();
    void updateReadPane();
    // Why a followed file cannot be read, in words (the read pane, Reload's message).
    static QString readProblemText(int error);
    void loadAccelerators();
    void restoreWindowPosition();
    void runCommand(int id);
    // The commands that act on the filter's lines while they are the main view; false when
    // id is not handled here.
    bool runFilterViewCommand(int id);
    // Open Merged, Source Names, and the commands a merged tab answers itself; false when id
    // is not handled here.
    bool runMergedCommand(int id);
    // What a merged tab in front can and cannot do; the status bar's note on it.
    void updateMergedCommandStates();
    // The filter of a merged tab in front: Filter, Filter as View, and Copy and Select All
    // on its rows (frame/MergedFilter.cpp).
    bool runMergedFilterCommand(int id);
    // Where Find searches on a merged tab: the filter's rows while they stand for the area.
    TextArea* mergedRowsInFront() const;
    void setMergedFilterFindHighlight(const std::u16string& text, unsigned flags);
    void updateMergedFilterCommandStates();
    void search(const std::u16string& text, bool down);
    // The search with the text as a regular expression (frame/RegexSearch.cpp): false when
    // nothing was found, whatever was said about it already.
    bool searchRegex(const std::u16string& text, bool down, bool& reported);
    // The view highlights the text's occurrences; a regular expression's matches are not.
    void setFindHighlight(const std::u16string& text, unsigned flags, bool regularExpression);
    // The text a search starts from: the selection when it lies on one line, else the last
    // text searched for.
    std::u16string initialSearchText() const;
    void buildTabs();
    void buildLineDetails();
    // The front tab changed: the title, the panes and the command states follow it.
    void frontChanged();
    void updateTabLabel(LogTab* tab);
    void selectTabAt(int index);
    // Whether Copy and Select All act on the filter pane (it has the keyboard).
    bool filterPaneHasFocus() const;
    // The log view's Copy runs on a thread of its own; a progress window with Cancel
    // (Escape) appears when it takes a while.
    void startCopyJob();
    void updateCopyProgress();
    void finishCopyJob();
    void reportCopy(const CopyResult& result);

    FrameOwner* m_owner;
    QTabWidget* m_tabs = nullptr;
    LogTab* m_front = nullptr;
    LogTab* m_reloading = nullptr;
    std::function<void(LogDocument&)> m_documentSetup;
    QMetaObject::Connection m_focusConnection;
    QToolBar* m_wndToolBar = nullptr;
    QLabel* m_panes[3] = {};
    QLabel* m_pausePane = nullptr;
    QLabel* m_encodingPane = nullptr;
    QLabel* m_readPane = nullptr;
    CommandActions* m_commands = nullptr;
    bool m_created = false;
    QPointer<QMenu> m_recentMenu;
    QAction* m_recentPlaceholder = nullptr;
    QList<QAction*> m_recentActions;
    unsigned m_searchFlags = 0;
    bool m_findRegularExpression = false;
    QPointer<FindDialog> m_findDialog;
    // The texts searched for in this run, most recent first; outlives each dialog.
    QStringList m_findHistory;
    std::function<void(const QString&)> m_messageHandler;
    QString m_newWindowProgram;
    SoundService* m_sound = nullptr;
    std::unique_ptr<SelectionCopyJob> m_copyJob;
    LogTab* m_copyTab = nullptr;
    QProgressDialog* m_copyProgress = nullptr;
    QTimer* m_copyPoll = nullptr;
    int m_copyPolls = 0;
    SourceControl* m_sources = nullptr;
    TimeCommands* m_time = nullptr;
    LineDetailsPane* m_details = nullptr;
    SaveLinesCommand* m_saveLines = nullptr;
    FindAllPane* m_findAll = nullptr;
};
