#pragma once

// MainFrame: the program's one top-level window. It holds the log view, the toolbar
// (resource 128) and the status bar with the watched file's path, size and line count; it
// restores and stores its own position, keeps itself above other windows when asked, opens
// dropped files, shows the context menu (resource 132), carries the document-level commands
// and receives the watcher's two messages. It is also the document's host: the document
// reaches the user interface only through the DocumentHost members below.
//
// Commands are QActions named "cmd_<id>" (the command ids keep their numbers); their enable
// and check states are refreshed whenever the document changes and before a menu opens.
// The document and the owner are not owned. User-interface thread only, except
// PostToMainWindow (any thread).

#include "dialogs/FindDialog.h"
#include "engine/DocumentHost.h"
#include "engine/DocumentTypes.h"
#include "platform/TextEncoding.h"

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
class QLabel;
class QProgressDialog;
class QSplitter;
class QTimer;
class SelectionCopyJob;
struct CopyResult;
class QMenu;
class QToolBar;

// Command ids of the menus, toolbar and accelerators.
namespace Command {
constexpr int Settings = 32772;
constexpr int FindNextDown = 32774;
constexpr int FindNextUp = 32775;
constexpr int Resume = 32782;
constexpr int Pause = 32783;
constexpr int Reload = 32791;
constexpr int NewWindow = 32793;
constexpr int SelectAll = 32795;
constexpr int Clear = 32801;
constexpr int Filter = 32803;
constexpr int FileNew = 57600;
constexpr int FileOpen = 57601;
constexpr int RecentFile1 = 57616;
constexpr int RecentFileLast = 57631;
constexpr int Copy = 57634;
constexpr int Find = 57636;
constexpr int About = 57664;
constexpr int Exit = 57665;
constexpr int ViewToolbar = 59392;
constexpr int ViewStatusBar = 59393;
constexpr int ViewTerminalColors = 33150;
// View > Encoding: 33151 + the number of a quill::TextEncoding (Automatic first).
constexpr int ViewEncodingFirst = 33151;
constexpr int ViewEncodingLast = ViewEncodingFirst + quill::TextEncodingCount - 1;
} // namespace Command

// A watcher message as it travels to the main window: the event type is the message
// number (0x0401, 0x0402), which lies in Qt's user event range.
class FileMessageEvent : public QEvent {
  public:
    FileMessageEvent(std::uint32_t message, std::uintptr_t value, std::intptr_t detail)
        : QEvent(static_cast<QEvent::Type>(message)), m_value(value), m_detail(detail)
    {
    }
    std::uintptr_t value() const { return m_value; }
    std::intptr_t detail() const { return m_detail; }

  private:
    std::uintptr_t m_value;
    std::intptr_t m_detail;
};

// What the frame asks of the application (implemented by Application; tests record).
class FrameOwner {
  public:
    virtual ~FrameOwner() = default;
    // The framework's open: opens path in the document, puts it at the top of the recent
    // file list on success.
    virtual bool OpenDocumentFile(const std::u16string& path) = 0;
    // The framework's new-document operation.
    virtual void OnFileNew() = 0;
    virtual void OnFileOpen() = 0;
    virtual void OnAppAbout() = 0;
    // Opens recent entry index (0 = most recent); a failed entry leaves the list.
    virtual void OnOpenRecentFile(int index) = 0;
    virtual std::vector<std::u16string> RecentFiles() const = 0;
    // Keeps the encoding chosen for a file with it in the recent-file list, for its next
    // open (a reload included).
    virtual void SetFileEncoding(const std::u16string& path, quill::TextEncoding encoding)
    {
        (void)path;
        (void)encoding;
    }
};

class MainFrame : public QMainWindow, public DocumentHost {
    Q_OBJECT
  public:
    // Runs the creation steps (bars, panes, stay-on-top, stored position, drop target).
    // owner may be null (then Open, New, About and recent files do nothing).
    MainFrame(LogDocument* document, FrameOwner* owner, SoundService* sound,
               QWidget* parent = nullptr);
    ~MainFrame() override;

    LogView* GetView() const { return m_view; }
    // The filter bar and the pane of matching lines below the log view.
    FilterPane* filterPane() const { return m_filterPane; }
    QSplitter* splitter() const { return m_splitter; }
    LogDocument* GetActiveDocument() const { return m_document; }
    QAction* action(int id) const;
    // False when a part that the window cannot do without (the toolbar) failed to load.
    bool isCreated() const { return m_created; }
    QLabel* pane(int index) const; // 1..3
    // The pane that says following is paused; shown only while it is.
    QLabel* pausePane() const { return m_pausePane; }
    QLabel* encodingPane() const { return m_encodingPane; }

    // Status panes 1 to 3.
    void SetFilePathText(const std::u16string& path) override;
    void SetFileSizeText(qint64 size);
    void SetLineCountText(qint64 count);
    void SetPaneText(int index, const QString& text);
    int GetStatusTextWidth(const QString& text) const;

    void ApplyTopMost();
    void SaveWindowPosition();
    // rect unchanged when enough of it to take hold of lies on one of the screens
    // (available areas), else moved wholly onto the nearest one.
    static QRect placeOnScreen(const QRect& rect, const QList<QRect>& screens);
    // Refreshes enable and check states of every command.
    void updateCommandStates();
    // The recent files in the File menu changed.
    void updateRecentFileMenu();

    // Commands.
    void OnFileReload();
    void OnNewWindow();
    // View > Terminal Colours: stored, and applied to the document shown.
    void OnViewTerminalColors();
    // View > Encoding: the shown file is read again in the chosen encoding, which the
    // recent-file list keeps for it.
    void OnViewEncoding(quill::TextEncoding encoding);
    // The status bar's encoding pane: the encoding the document is read in.
    void updateEncodingPane();
    void OnClearWindow();
    // Runs the settings sheet; after OK the new settings take effect at once.
    void OnSettings();
    void OnFileAppended(std::uintptr_t value);
    // paths: file names in their escaped form (platform/FileName.h), as QString.
    void OnDropFiles(const QStringList& paths);
    void toggleBar(int id);

    // DocumentHost.
    void PostToMainWindow(std::uint32_t message, std::uintptr_t value,
                          std::intptr_t detail) override;
    void UpdateAllViews() override;
    void ScrollViewsToEnd() override;
    void ResetViewsScroll() override;
    void EnsureSelectionVisibleInViews() override;
    void TitleChanged(const std::u16string& title) override;
    MissingFileAnswer AskMissingFile(const std::u16string& path) override;
    void ShowOpenError(const std::u16string& path, const std::u16string& description,
                       int errorNumber) override;
    std::u16string LoadResourceString(std::uint32_t id) override;
    std::u16string GetFileVersionText() override;

    // Find: the dialog (57636), find next down/up (32774/32775), and the search the dialog's
    // notification runs. The dialog exists from its first opening until the user closes it.
    void OnEditFind();
    void FindAgain(bool down);
    void OnFindNext(const QString& text, bool down, bool matchCase, bool wholeWord);
    FindDialog* findDialog() const { return m_findDialog; }
    unsigned searchFlags() const { return m_searchFlags; }
    // The filter pane's Copy is built at once (its rows are bounded); the log view's runs
    // on a thread of its own (see startCopyJob). Either puts the text on the clipboard.
    void OnEditCopy();
    // The log view's Copy in progress, if any (tests).
    QProgressDialog* copyProgress() const { return m_copyProgress; }
    bool isCopying() const { return m_copyJob != nullptr; }
    void OnEditSelectAll();
    // Ctrl+Shift+F: the filter field takes the keyboard.
    void OnFilter();
    // Selects document line `line` in the log view and scrolls it into view with a line
    // above it, as a match of Find is shown.
    void ShowLine(LineNumber line);

    // Where the frame's informational messages go (a message box unless tests divert them).
    void setMessageHandler(std::function<void(const QString&)> handler)
    {
        m_messageHandler = std::move(handler);
    }

    // The program started for New Window (tests replace it).
    void setNewWindowProgram(const QString& program) { m_newWindowProgram = program; }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void createActions();
    QAction* commandAction(int id);
    void buildMenus();
    bool buildToolBar();
    void buildStatusBar();
    void updatePausePane();
    void loadAccelerators();
    void restoreWindowPosition();
    void runCommand(int id);
    void search(const std::u16string& text, bool down);
    // The text a search starts from: the selection when it lies on one line, else the last
    // text searched for.
    std::u16string initialSearchText() const;
    void showMessage(const QString& text);
    void buildFilterPane();
    // The pane of matching lines appeared or went: the splitter gives it its stored height.
    void placeFilterPane(bool active);
    // Whether Copy and Select All act on the filter pane (it has the keyboard).
    bool filterPaneHasFocus() const;
    // The log view's Copy runs on a thread of its own; a progress window with Cancel
    // (Escape) appears when it takes a while.
    void startCopyJob();
    void updateCopyProgress();
    void finishCopyJob();
    void reportCopy(const CopyResult& result);

    LogDocument* m_document;
    FrameOwner* m_owner;
    LogView* m_view = nullptr;
    QSplitter* m_splitter = nullptr;
    FilterPane* m_filterPane = nullptr;
    QMetaObject::Connection m_focusConnection;
    QToolBar* m_wndToolBar = nullptr;
    QLabel* m_panes[3] = {};
    QLabel* m_pausePane = nullptr;
    QLabel* m_encodingPane = nullptr;
    CommandActions* m_commands = nullptr;
    bool m_created = false;
    QPointer<QMenu> m_recentMenu;
    QAction* m_recentPlaceholder = nullptr;
    QList<QAction*> m_recentActions;
    unsigned m_searchFlags = 0;
    QPointer<FindDialog> m_findDialog;
    // The texts searched for in this run, most recent first; outlives each dialog.
    QStringList m_findHistory;
    std::function<void(const QString&)> m_messageHandler;
    QString m_newWindowProgram;
    SoundService* m_sound = nullptr;
    std::unique_ptr<SelectionCopyJob> m_copyJob;
    QProgressDialog* m_copyProgress = nullptr;
    QTimer* m_copyPoll = nullptr;
    int m_copyPolls = 0;
};
