#pragma once

// LogTab: one followed log in the main window's tab widget. It owns its document (and with
// it the document's watcher), the log view, the filter bar and pane and the splitter
// between them, and is the document's host: the watcher's messages come to the tab, so
// each tab follows on its own. Selection, find position and pause state live in the
// document and the view, so they are the tab's too.
//
// A tab that is not in front neither paints nor decodes: the view's and the pane's
// updates wait until the tab comes to the front (setFront). New lines meanwhile mark the
// tab; when keyword alerts are on, the rows the view would show are matched once per
// append so that an alert sounds (and marks the tab) as it would in front.
//
// The frame is not owned and outlives the tab; the sound service likewise. User-interface
// thread only, except the post* members of DocumentHost (any thread).

#include "engine/DocumentHost.h"
#include "engine/DocumentTypes.h"

#include <QEvent>
#include <QWidget>

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class DocumentTimeIndex;
class FilterPane;
class LogDocument;
class LogView;
class MainFrame;
class MarkKeeper;
class MergedFilterPane;
class MergedPart;
class QSplitter;
class SoundService;
class SourceControl;
class TimelineView;

// A watcher message on its way to the tab, through the tab's event queue: the watcher's
// thread never waits, and Qt drops the event when the tab is gone before it is delivered.
class FileMessageEvent : public QEvent {
  public:
    explicit FileMessageEvent(FileMessage message, int error = 0)
        : QEvent(eventType()), m_message(message), m_error(error)
    {
    }
    // The one event type of every watcher message, registered with Qt on first use.
    static QEvent::Type eventType();
    FileMessage message() const { return m_message; }
    // Unreadable: the errno why the file cannot be read, 0 when it can again.
    int error() const { return m_error; }

  private:
    FileMessage m_message;
    int m_error;
};

class LogTab : public QWidget, public DocumentHost {
    Q_OBJECT
  public:
    LogTab(MainFrame* frame, SoundService* sound, QWidget* parent = nullptr);
    // Stops the watcher and the filter before the view and the document go.
    ~LogTab() override;

    LogDocument* document() const { return m_document.get(); }
    // The times of the document's lines, read once the tab has shown its first lines.
    DocumentTimeIndex* timeIndex() const { return m_times.get(); }
    MarkKeeper* markKeeper() const { return m_markKeeper.get(); }
    LogView* view() const { return m_view; }
    FilterPane* filterPane() const { return m_filterPane; }
    QSplitter* splitter() const { return m_splitter; }
    // The document's path (escaped form), empty while no file is open.
    const std::u16string& path() const;
    // The window title the document asked for last.
    const QString& title() const { return m_title; }
    // The text of the tab: the file's name, or string 300 when no file is open.
    QString label() const;

    // New lines arrived while the tab was not in front; cleared when it comes to the front.
    bool hasNewLines() const { return m_newLines; }
    // A keyword alert came due while the tab was not in front.
    bool hasAlert() const { return m_alert; }

    // The frame tells the tab whether it is in front; coming to the front brings the view
    // and the pane up to date with what arrived meanwhile and clears the marks.
    void setFront(bool front);
    bool isFront() const { return m_front; }

    // The watcher's append message, through the frame (MainFrame::tabAppended).
    void onFileAppended();
    // Selects document line `line` and scrolls it into view with a line above it.
    void showLine(LineNumber line);
    // Several files merged by time, shown in place of the log view (frame/MergedPart.h); the
    // tab's own document stays empty. False when none of them can be read; unreadable names
    // those left out.
    // sources: what follows remote entries (may be null: none is read).
    bool openMerged(const std::vector<std::u16string>& paths, QStringList& unreadable,
                    SourceControl* sources = nullptr);
    MergedPart* merged() const { return m_merged.get(); }
    // Shows a merged row: among the filter's rows when they stand in for all rows (the first
    // at or after it), else in the merged area. Merged tabs only.
    void showMergedRow(std::size_t row);
    // The filter bar and pane of a merged tab (null on a tab of one log); see
    // frame/MergedFilter.cpp.
    MergedFilterPane* mergedFilter() const { return m_mergedFilter; }
    // The timeline above the log; it follows the index and the keyword search while shown.
    void setTimelineShown(bool shown);
    TimelineView* timeline() const { return m_timeline; }
    // The filter pane appeared or went: the splitter gives it its stored height.
    void placeFilterPane(bool active);
    // The filter's rows became the main view or stopped being it: the log view hides or
    // shows, and the view shown next starts at the line the user was at in the other (the
    // caret's line when it is on screen, else the top line; the end while the log view
    // follows it). See frame/LogTabFilterView.cpp.
    void showFilterAsView(bool shown);

    // DocumentHost.
    void postFileAppended() override;
    void postFileReload() override;
    void postFileUnreadable(int error) override;
    void updateAllViews() override;
    void scrollViewsToEnd() override;
    void resetViewsScroll() override;
    void ensureSelectionVisibleInViews() override;
    void setFilePathText(const std::u16string& path) override;
    void titleChanged(const std::u16string& title) override;
    MissingFileAnswer askMissingFile(const std::u16string& path) override;
    void showOpenError(const std::u16string& path, const std::u16string& description,
                       int errorNumber) override;
    std::u16string loadResourceString(std::uint32_t id) override;
    std::u16string fileVersionText() override;

  signals:
    // The file size and line count shown in the status bar changed.
    void statusChanged(qint64 size, qint64 lines);
    // Something the enable states of the commands depend on changed.
    void commandStatesChanged();
    // The title, the label or a mark changed.
    void labelChanged();
    // The watcher found the file replaced or gone: the frame reopens it in this tab.
    void reloadRequested();
    // The time index has caught up with the document.
    void timesChanged();

  protected:
    bool event(QEvent* event) override;

  private:
    // A merged tab's area and its filter pane, in a splitter of their own.
    void attachMergedFilter();
    void placeMergedFilter(bool active);
    void showMergedFilterAsView(bool shown);
    // The log view's font and wrap for the merged filter's rows.
    void mergedFilterSettingsChanged();
    // Turns the time index's keyword counting on or off for the timeline (see LogTab.cpp).
    void countTimelineKeywords(bool shown);
    // Matches the rows the view would show against the keywords, as a paint would, and
    // sounds the alert that comes due. Only while keyword alerts are armed.
    void alertInBackground();

    MainFrame* m_frame;
    SoundService* m_sound;
    std::unique_ptr<LogDocument> m_document;
    std::unique_ptr<DocumentTimeIndex> m_times;
    // Keeps the marks and their notes across restarts.
    std::unique_ptr<MarkKeeper> m_markKeeper;
    std::unique_ptr<MergedPart> m_merged;
    QSplitter* m_mergedSplitter = nullptr;
    MergedFilterPane* m_mergedFilter = nullptr;
    bool m_timesStarted = false;
    QSplitter* m_splitter = nullptr;
    LogView* m_view = nullptr;
    FilterPane* m_filterPane = nullptr;
    TimelineView* m_timeline = nullptr;
    QTimer* m_timelineRefresh = nullptr;
    QString m_title;
    bool m_front = false;
    bool m_stale = false;
    bool m_newLines = false;
    bool m_alert = false;
};
