#pragma once

// Times of lines in the window: Go to Time (its box, and --at on the command line) and the
// status bar's pane with the caret line's time and the time since the mark above it. Each
// tab's DocumentTimeIndex answers; the frame creates this once, hands it every new tab and
// routes the command here. Notes (a time before the first line or after the last, a log
// without times, times still being read) go to the status bar's message area.
// User-interface thread only.

#include "engine/LineTime.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

class LogTab;
class MainFrame;
class QLabel;
class QStatusBar;

class TimeCommands : public QObject {
    Q_OBJECT
  public:
    explicit TimeCommands(MainFrame* frame);

    // The caret time pane, added to the bar.
    QLabel* buildPane(QStatusBar* bar);
    QLabel* pane() const { return m_pane; }
    // Every new tab: its caret moves, marks and index progress update the pane.
    void watch(LogTab* tab);
    // The front tab changed (or its caret, marks or lines did): the pane follows.
    void refreshPane();

    // Go to Time: asks for a time over the frame and goes there in the tab.
    void goToTime(LogTab* tab);
    // Goes to the first line at or after the time asked for; false when there is no
    // answer yet (the times are still being read) or none at all (a note says which).
    bool goTo(LogTab* tab, const TimeQuery& query);
    // --at: goes as soon as the tab's times are read (at once when they are).
    void goWhenReady(LogTab* tab, const TimeQuery& query);

    // A time as the pane shows it: local, "2026-12-09 22:01:10.123".
    static QString timeText(TimeMs time);
    // A span as the pane shows it: "+1h 02m 03.5s", "+4.250s", "-2d 03h 00m 00.0s".
    static QString spanText(TimeMs span);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void note(const QString& text);
    // The pane's text on a merged tab: the current row's time in its own file, and the time
    // since the nearest marked row above it, of any file; reading: some file's times are
    // still being read.
    static QString mergedCaretText(LogTab& tab, bool& reading);
    void tabTimesChanged(LogTab* tab);

    MainFrame* m_frame;
    QLabel* m_pane = nullptr;
    QTimer m_refresh;
    QPointer<LogTab> m_pendingTab;
    std::optional<TimeQuery> m_pending;
};
