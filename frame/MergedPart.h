#pragma once

// MergedPart: a tab's lines of several files merged by time (File > Open Merged..., --merge).
// It owns one document per file, each followed by its own watcher as a tab's document is
// (a file replaced or truncated is read again, one that vanished is waited for and read
// again when it returns), the merge (engine/MergedLogs.h) and the text area over its rows
// (view/MergedRowSource.h), which stands in the tab in place of the log view. A file on
// another machine (an entry written ssh://..., engine/RemoteAddress.h) is followed by its own
// ssh into a spool, as a remote tab's is, and its document follows that spool
// (frame/MergedPartRemote.cpp); ssh's failure is told once, naming the file, and the other
// files merge on; closing the tab ends every ssh.
//
// The tab owns the part; the frame outlives it. User-interface thread only, except that the
// documents' hosts post from their watchers.

#include "engine/DocumentTypes.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class DocumentTimeIndex;
class FilterPattern;
struct TimeQuery;
class LogDocument;
class MergedLogs;
class MergedNavigation;
class MergedRowSource;
class QTimer;
class SoundService;
class SourceControl;
class QWidget;
class MergedArea;

class MergedPart : public QObject {
    Q_OBJECT
  public:
    // sound: the keyword alert's (may be null: no alert); not owned.
    MergedPart(QWidget* parent, SoundService* sound);
    ~MergedPart() override;

    // What starts a remote file's ssh and tells its failures (not owned; without it a
    // remote entry cannot be read). Before open.
    void setSources(SourceControl* sources) { m_sources = sources; }
    // What the window does to every document it makes (the stop of a long index on a
    // termination signal); set before open.
    void setDocumentSetup(std::function<void(LogDocument&)> setup) { m_setup = std::move(setup); }
    // Opens the files (full paths, escaped form, or remote files written ssh://...); those
    // that cannot be read are left out and named in unreadable. False when none can be read.
    bool open(const std::vector<std::u16string>& paths, QStringList& unreadable);
    // Starts the merge (after the first paint).
    void start();

    MergedArea* area() const { return m_area; }
    MergedRowSource* rows() const { return m_rows.get(); }
    MergedLogs* merge() const { return m_merge.get(); }
    // The strip, the keyword-line jumps and the timeline (frame/MergedNavigation.h).
    MergedNavigation* navigation() const { return m_navigation.get(); }
    std::size_t fileCount() const { return m_documents.size(); }
    // The files merged (full paths, escaped form), in the order of their sources.
    const std::vector<std::u16string>& paths() const { return m_paths; }
    // A file's time index (its filter's time range reads it; started on its first use).
    DocumentTimeIndex* timeIndex(std::size_t source) const { return m_times[source].get(); }

    // The tab's text: the short names joined.
    QString label() const;
    // Every file with its colour, for the tab's tooltip (rich text).
    QString toolTip() const;
    // What the status bar notes: files without times, the merge still building.
    QString note() const;
    qint64 totalBytes() const;

    void setNameColumn(bool shown);
    // The settings may have changed: the files' keywords are read again, the rows redrawn.
    void settingsChanged();

    // Go to Time: the first row whose file's latest time so far reaches the time asked for
    // (a time of day on the current row's day; "-15m" before the latest time of all files)
    // is selected and shown. The files' time indexes start on the first use; empty when
    // the row was found, else what to tell (the times are still being read, none at all).
    QString goToTime(const TimeQuery& query);

    // Pause and Resume, Reload and Clear over every file (frame/MergedCommands.cpp). Paused,
    // no file is watched, so no row comes; Resume reads on from where each file was, and
    // what was written meanwhile joins by time.
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Every file read again from its start (following again, as a tab's Reload does).
    void reloadAll();
    // Only lines written from now on are shown, in every file.
    void clearRows();

  signals:
    // Rows came or changed; the row count and sizes to show.
    void statusChanged(qint64 size, qint64 rows);
    // The rows are about to change, and they changed (appended: only at the end).
    void rowsChanging();
    void rowsChanged(bool appended);

  private:
    class Host;
    void takeChanges();
    void reloadSource(std::size_t source);
    // A remote entry into document, its ssh started; false with the reason in unreadable.
    bool openRemote(const std::string& entry, LogDocument& document, QStringList& unreadable);
    // Each remote file's ssh, looked at while any runs: a failure is told.
    void watchRemotes();
    // The keyword alert for rows [first, end) that came with new lines.
    void alertFor(std::size_t first, std::size_t end);

    QWidget* m_parent;
    SoundService* m_sound;
    std::vector<std::unique_ptr<Host>> m_hosts;
    std::vector<std::unique_ptr<LogDocument>> m_documents;
    std::vector<std::u16string> m_paths;
    std::unique_ptr<MergedRowSource> m_rows;
    std::unique_ptr<MergedLogs> m_merge;
    MergedArea* m_area = nullptr;
    QTimer* m_retry = nullptr;
    std::vector<bool> m_missing;
    SourceControl* m_sources = nullptr;
    std::function<void(LogDocument&)> m_setup;
    // Which documents follow a remote file's spool.
    std::vector<bool> m_remote;
    QTimer* m_remoteWatch = nullptr;
    // Each document's time index, for Go to Time and the timeline (started on first use).
    std::vector<std::unique_ptr<DocumentTimeIndex>> m_times;
    bool m_paused = false;
    std::unique_ptr<MergedNavigation> m_navigation;
    bool m_paintTraced = false;
    bool m_completeTraced = false;
};
