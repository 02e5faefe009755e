#pragma once

// File > Save Lines As: asks in a save dialog which lines (the filter's result, the
// selected lines, the marked lines, or all lines shown) and where, then writes them as the
// log holds them (engine/LineSaver.h) on a thread of its own. A save that takes a while
// shows its progress with Cancel; the outcome goes to the status bar, a failure to a
// message that says why. The frame creates this once and routes the command here.
// User-interface thread only.

#include "engine/DocumentTypes.h"
#include "engine/LineSaver.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class LogTab;
class MainFrame;
class MergedPart;
class QProgressDialog;
class QTimer;

class SaveLinesCommand : public QObject {
    Q_OBJECT
  public:
    enum class Choice { FilterResult, Selected, Marked, AllShown };
    // One entry of the dialog's list: what it saves and how many lines that is.
    struct Offer {
        Choice choice = Choice::AllShown;
        std::uint64_t lines = 0;
    };

    explicit SaveLinesCommand(MainFrame* frame);
    // Cancels a running save and waits for its thread.
    ~SaveLinesCommand() override;

    // What the tab offers now, in the dialog's order; all lines shown always come last.
    static std::vector<Offer> offers(LogTab* tab);
    // The filter's result when a filter is set, else the selection when there is one, else
    // all lines shown.
    static Choice defaultChoice(LogTab* tab);
    // The lines a choice names in the tab's document now.
    static LinesToSave linesFor(LogTab* tab, Choice choice);

    // Whether the command can run for the tab: it shows lines and no save runs.
    bool canSave(LogTab* tab) const;
    // Asks over the frame (a window-modal dialog), then starts the save.
    void saveLinesAs(LogTab* tab);
    // Starts saving without asking; target is an escaped file name (platform/FileName.h).
    void save(LogTab* tab, Choice choice, const std::u16string& target);

    bool isSaving() const { return m_job != nullptr; }
    QProgressDialog* progress() const { return m_progress; }
    // The outcome of the last save that ended (tests).
    const SaveResult& lastResult() const { return m_lastResult; }

    // The tab is going (or the window): a save from it is cancelled and waited for; null
    // stands for any tab.
    void tabClosing(LogTab* tab);

    // Runs on the save's thread before it reads anything (tests hold a save there).
    static void setStartHookForTesting(std::function<void()> hook);

  signals:
    // A save ended, whatever its outcome.
    void finished();

  private:
    struct Job;
    // A merged tab: its filter's rows, its selected rows or all of them, in the merged order
    // (MergedSave.cpp).
    static std::vector<Offer> mergedOffers(LogTab* tab);
    static std::unique_ptr<LinesWriter> mergedSaver(LogTab* tab, Choice choice, std::string target,
                                                    std::uint64_t& lines);
    static std::function<void()> s_startHook;
    void poll();
    void finish(int serial);
    void closeProgress();
    void report(const SaveResult& result, std::uint64_t lines, const QString& shownTarget);

    MainFrame* m_frame;
    std::unique_ptr<Job> m_job;
    int m_serial = 0;
    QTimer* m_poll = nullptr;
    int m_polls = 0;
    QProgressDialog* m_progress = nullptr;
    SaveResult m_lastResult;
    // Where the last save went, for the next dialog.
    QString m_folder;
};
