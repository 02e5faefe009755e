// The main window following a file a writer appends to: the CPU with the filter, the
// overview strip or the timeline shown, and a line's way from the write to its paint
// (FollowWithFilter, FollowWithStrip, FollowWithTimeline, FollowLatency,
// FollowLatencyWithStrip, FollowLatencyWithTimeline; GuiBench.cpp tells each case).

#include "dialogs/FindDialog.h"
#include "engine/AlertRule.h"
#include "engine/DocumentHost.h"
#include "engine/KeywordLines.h"
#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/SourceControl.h"
#include "platform/NarrowCodec.h"
#include "platform/ThreadName.h"
#include "settings/SettingsStore.h"
#include "view/FilterView.h"
#include "view/LineGutter.h"
#include "view/LogView.h"
#include "view/TimelineView.h"

#include "bench/gui/FrameBenchSupport.h"
#include "bench/gui/GuiBenchSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using quillbench::median;
using quillbench::NoOwner;
using quillbench::processCpuSeconds;
using quillbench::settle;
using quillbench::SilentSound;
using quillbench::tempFolder;
using quillbench::threadCpuSeconds;

// The real main window following a file of its own in a private folder, for the
// benchmarks that write while the window follows. The folder goes with it.
struct FollowedWindow {
    FollowedWindow(const std::string& name, const std::string& history)
        : folder(tempFolder() + "/quillstream-bench-" + name + "-" + std::to_string(::getpid())),
          path(folder + "/follow.log"), store(prepare(folder, path, history))
    {
        SettingsStore::overrideInstance(&store);
        frame = std::make_unique<MainFrame>(&owner, &sound);
        document = frame->activeDocument();
        frame->setMessageHandler([](const QString&) {});
        frame->resize(900, 700);
        frame->show();
        frame->activeView()->initialUpdate();
        document->openDocument(std::u16string(path.begin(), path.end()));
        frame->activeView()->initialUpdate();
    }
    ~FollowedWindow()
    {
        document->closeDocument();
        frame.reset();
        SettingsStore::overrideInstance(nullptr);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    FollowedWindow(const FollowedWindow&) = delete;
    FollowedWindow& operator=(const FollowedWindow&) = delete;

    std::string folder;
    std::string path;
    SettingsStore store;
    SilentSound sound;
    NoOwner owner;
    LogDocument* document = nullptr; // the frame's first tab's
    std::unique_ptr<MainFrame> frame;

  private:
    static SettingsStore prepare(const std::string& folder, const std::string& path,
                                 const std::string& history)
    {
        fs::create_directories(folder);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << history;
        return SettingsStore(folder + "/user.reg", folder + "/machine.reg");
    }
};

// Keywords for the overview strip's cases (set with the strip shown and hidden alike, so
// that the two differ by the strip alone): one on a tenth of the lines, one on a
// hundredth, one on none.
void setStripKeywords(FollowedWindow& window)
{
    window.store.saveKeywords({Keyword(u"7 with", 0x000000, 0x00A0FF, true, false, true),
                               Keyword(u"line 12", 0x000000, 0x0000FF, true, false, true),
                               Keyword(u"ERROR", 0x000000, 0x0000FF, true, true, true)});
    window.document->reloadKeywords();
    window.frame->activeView()->updateFromDocument();
}

// What a following case shows beside the log: with Keywords, the three keywords are set
// (the same with the part hidden and shown, so that the two differ by the part alone).
enum class Shown { Nothing, Keywords, Strip, Timeline };

void showBesideTheLog(FollowedWindow& window, Shown shown)
{
    if (shown == Shown::Nothing) {
        return;
    }
    setStripKeywords(window);
    window.frame->activeView()->setOverviewShown(shown == Shown::Strip);
    window.frame->currentTab()->setTimelineShown(shown == Shown::Timeline);
}

void followAtFiftyMegabytes(benchmark::State& state, int filter, Shown shown)
{
    const bool filtered = filter != 0;
    constexpr double Seconds = 5;
    constexpr double BytesPerSecond = 50e6;
    const char* const FilterText = "7 with";
    {
        FollowedWindow window("follow", "");
        const std::string& path = window.path;
        LogDocument& document = *window.document;
        MainFrame& frame = *window.frame;
        FilterPane* pane = frame.filterPane();
        showBesideTheLog(window, shown);
        if (filtered) {
            pane->bar()->option(0, 0)->setChecked(filter == 2);
            pane->bar()->field()->setText(QString::fromLatin1(FilterText));
            pane->applyFilter();
        }
        settle();
        // The loop wakes at least this often, with a filter or without.
        QTimer tick;
        tick.start(20);

        std::atomic<long> linesWritten{0};
        std::atomic<long> written{0};
        double cpu = 0;
        double mainCpu = 0;
        for (auto _ : state) {
            std::atomic<bool> done{false};
            std::atomic<double> writerCpu{0};
            const double cpuStart = processCpuSeconds();
            const double mainStart = threadCpuSeconds();
            std::thread writer([&] {
                quill::nameThisThread("bench-writer");
                const double threadStart = threadCpuSeconds();
                const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
                std::string pending;
                const auto start = Clock::now();
                while (std::chrono::duration<double>(Clock::now() - start).count() < Seconds) {
                    while (pending.size() < 4096) {
                        pending += "2026-12-07 12:00:00.000 INFO follow line " +
                                   std::to_string(linesWritten++) +
                                   " with some payload text to make it realistic\n";
                    }
                    if (::write(fd, pending.data(), 4096) != 4096) {
                        break;
                    }
                    pending.erase(0, 4096);
                    written += 4096;
                    const double due = double(written.load()) / BytesPerSecond;
                    const double now = std::chrono::duration<double>(Clock::now() - start).count();
                    if (due > now) {
                        std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
                    }
                }
                if (::write(fd, pending.data(), pending.size()) == ssize_t(pending.size())) {
                    written += long(pending.size());
                }
                ::close(fd);
                writerCpu = threadCpuSeconds() - threadStart;
                done = true;
            });
            const auto caughtUp = [&] {
                if (!done || document.indexedEnd() < written) {
                    return false;
                }
                // Done with the lines of the last update the window has seen, and that update
                // was the last: the pane is as complete as the log view.
                const FilterProgress progress = pane->filter()->progress();
                return !filtered || (progress.state == FilterState::Done &&
                                     progress.total == document.lineCount());
            };
            const auto limit = Clock::now() + std::chrono::duration<double>(Seconds + 30);
            while (!caughtUp() && Clock::now() < limit) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            writer.join();
            settle();
            cpu = processCpuSeconds() - cpuStart - writerCpu;
            mainCpu = threadCpuSeconds() - mainStart;
            state.SetIterationTime(cpu);
        }
        bool complete = document.indexedEnd() == written &&
                        document.lineCount() == LineNumber(linesWritten.load());
        std::size_t rows = 0;
        if (filtered) {
            // Line i holds serial i; the filter's text picks the serials it names.
            const FilterMatches& matches = pane->filter()->matches();
            rows = matches.size();
            std::size_t expected = 0;
            for (long i = 0; i < linesWritten && complete; ++i) {
                const std::string line = "line " + std::to_string(i) + " with";
                if (line.find(FilterText) != std::string::npos) {
                    complete = expected < rows && matches.at(expected) == LineNumber(i);
                    ++expected;
                }
            }
            complete = complete && expected == rows && pane->view()->rowCount() == rows;
        }
        state.counters["cpu_s"] = cpu;
        state.counters["main_cpu_s"] = mainCpu;
        state.counters["lines"] = double(linesWritten.load());
        state.counters["rows"] = double(rows);
        state.counters["no_loss"] = complete ? 1 : 0;
        if (shown == Shown::Timeline) {
            // The timeline has counted every complete line (its last refresh came after the
            // last append), and the steps it drew.
            // Waits in the event loop (processEvents with a time limit does not wait).
            QEventLoop wait;
            QTimer::singleShot(400, &wait, &QEventLoop::quit);
            wait.exec();
            const TimelineView* timeline = frame.currentTab()->timeline();
            std::uint64_t counted = 0;
            for (const auto& step : timeline->steps()) {
                counted += step.lines;
            }
            state.counters["timeline_lines"] = double(counted);
            state.counters["timeline_steps"] = double(timeline->steps().size());
        }
        if (shown == Shown::Strip) {
            // The strip has looked at every complete line.
            const KeywordLines* lines = frame.activeView()->keywordLines();
            state.counters["strip_lines"] =
                lines != nullptr && lines->waitIdle(std::chrono::seconds(10))
                    ? double(lines->checkedLines())
                    : -1.0;
            // What it read from the file: the watcher hands it the rest.
            state.counters["strip_read_mb"] =
                lines != nullptr ? double(lines->bytesRead()) / 1e6 : -1.0;
        }
    }
}

void FollowWithFilter(benchmark::State& state)
{
    followAtFiftyMegabytes(state, int(state.range(0)), Shown::Nothing);
}
BENCHMARK(FollowWithFilter)
    ->ArgName("filter")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same following, with three keywords, the overview strip hidden (0) and shown (1).
void FollowWithStrip(benchmark::State& state)
{
    followAtFiftyMegabytes(state, 0, state.range(0) != 0 ? Shown::Strip : Shown::Keywords);
}
BENCHMARK(FollowWithStrip)
    ->ArgName("strip")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same following, with three keywords, the timeline hidden (0) and shown (1).
void FollowWithTimeline(benchmark::State& state)
{
    followAtFiftyMegabytes(state, 0, state.range(0) != 0 ? Shown::Timeline : Shown::Keywords);
}
BENCHMARK(FollowWithTimeline)
    ->ArgName("timeline")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// From a line written to the paint that shows it as the window's lowest row: the real
// window following a real file, lines written one at a time 20-200 ms apart, every
// 17th wider than the window (the case that once stopped following), with or without a
// filter whose pattern backtracks on every fifth line. Reports the median,
// 95th percentile and largest delay, and how many lines were never shown at the bottom.
// pipe=1: the same lines written into a pipe that the window follows as standard input
// (through its spool), instead of into the file.
class PaintClock : public QObject {
  public:
    PaintClock(LogDocument& document, LogView& view) : m_document(document), m_view(view)
    {
        view.viewport()->installEventFilter(this);
    }
    // Lines the document shows at the bottom of a paint, with the time of the first paint.
    std::vector<std::pair<LineNumber, Clock::time_point>> shown;

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            const QScrollBar* bar = m_view.verticalScrollBar();
            const LineNumber lines = m_document.lineCount();
            const qint64 h = m_view.lineHeight();
            const qint64 bottom = h > 0 ? (bar->value() + m_view.viewport()->height()) / h : 0;
            // The lowest fully shown row is the document's last line.
            if (lines > 0 && bottom == qint64(lines) &&
                (shown.empty() || shown.back().first < lines)) {
                shown.emplace_back(lines, Clock::now());
            }
        }
        return false;
    }

  private:
    LogDocument& m_document;
    LogView& m_view;
};

// When the window heard of new lines: the watcher's message arriving on the window's thread,
// with the line count then. The delay splits into the watcher's part (to this) and the
// window's (from this to the paint).
class AppendClock : public QObject {
  public:
    explicit AppendClock(LogDocument& document) : m_document(document)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~AppendClock() override { QCoreApplication::instance()->removeEventFilter(this); }
    AppendClock(const AppendClock&) = delete;
    AppendClock& operator=(const AppendClock&) = delete;
    std::vector<std::pair<LineNumber, Clock::time_point>> heard;

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == FileMessageEvent::eventType() &&
            static_cast<FileMessageEvent*>(event)->message() == FileMessage::Appended) {
            const LineNumber lines = m_document.lineCount();
            if (heard.empty() || heard.back().first < lines) {
                heard.emplace_back(lines, Clock::now());
            }
        }
        return false;
    }

  private:
    LogDocument& m_document;
};

void followLatency(benchmark::State& state, bool backtracking, bool piped, Shown shown)
{
    constexpr int Samples = 200;
    std::string history;
    for (int i = 0; i < 200; ++i) {
        history += "2026-12-07 12:00:00.000 INFO history line " + std::to_string(i) + "\n";
    }
    {
        FollowedWindow window("latency", history);
        const std::string& path = window.path;
        MainFrame& frame = *window.frame;
        LogDocument* followed = window.document;
        int pipeFds[2] = {-1, -1};
        if (piped) {
            if (::pipe(pipeFds) != 0 ||
                ::write(pipeFds[1], history.data(), history.size()) != ssize_t(history.size())) {
                state.SkipWithError("no pipe");
                return;
            }
            frame.sources()->setSpoolFolder(window.folder + "/spool");
            frame.sources()->followStandardInput(pipeFds[0]);
            ::close(pipeFds[0]);
            // Standard input opens in a tab of its own beside the file's.
            followed = frame.activeDocument();
            const auto until = Clock::now() + std::chrono::seconds(10);
            while (followed->lineCount() < 200 && Clock::now() < until) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            }
        }
        showBesideTheLog(window, shown);
        if (backtracking) {
            // A pattern that backtracks for a long time on lines of a's: the watcher must
            // not be held up by it.
            FilterPane* pane = frame.filterPane();
            pane->bar()->option(0, 2)->setChecked(true);
            pane->bar()->field()->setText(QStringLiteral("(a+)+$"));
            pane->applyFilter();
        }
        settle();
        PaintClock clock(*followed, *frame.activeView());
        AppendClock appended(*followed);
        std::vector<double> delays;
        std::vector<double> heardDelays;
        long missed = 0;
        double cpu = 0;
        for (auto _ : state) {
            const double cpuStart = processCpuSeconds();
            std::vector<Clock::time_point> writes(Samples);
            std::atomic<bool> done{false};
            const LineNumber before = followed->lineCount();
            std::thread writer([&] {
                std::mt19937 rng(7);
                const int fd = piped ? pipeFds[1] : ::open(path.c_str(), O_WRONLY | O_APPEND);
                for (int i = 0; i < Samples; ++i) {
                    std::string line = "2026-12-07 12:00:01.000 INFO new line " + std::to_string(i);
                    if (i % 17 == 0) {
                        line += ' ' + std::string(3000, 'w');
                    } else if (i % 5 == 0) {
                        line += ' ' + std::string(28, 'a') + 'b';
                    }
                    line += '\n';
                    writes[std::size_t(i)] = Clock::now();
                    if (::write(fd, line.data(), line.size()) != ssize_t(line.size())) {
                        break;
                    }
                    // Paced as the engine's latency benchmark paces its lines.
                    std::this_thread::sleep_for(std::chrono::microseconds(20000 + rng() % 180000));
                }
                ::close(fd);
                done = true;
            });
            // The window's own event loop: asleep until the watcher posts (or the tick).
            QTimer tick;
            tick.start(20);
            const auto limit = Clock::now() + std::chrono::seconds(60);
            while ((!done || followed->lineCount() < before + Samples) && Clock::now() < limit) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            writer.join();
            settle();
            cpu += processCpuSeconds() - cpuStart;
            std::size_t next = 0;
            for (int i = 0; i < Samples; ++i) {
                const LineNumber line = before + LineNumber(i) + 1;
                while (next < clock.shown.size() && clock.shown[next].first < line) {
                    ++next;
                }
                if (next == clock.shown.size()) {
                    ++missed;
                    continue;
                }
                delays.push_back(std::chrono::duration<double, std::milli>(
                                     clock.shown[next].second - writes[std::size_t(i)])
                                     .count());
                const auto heard =
                    std::find_if(appended.heard.begin(), appended.heard.end(),
                                 [&](const auto& entry) { return entry.first >= line; });
                if (heard != appended.heard.end()) {
                    heardDelays.push_back(std::chrono::duration<double, std::milli>(
                                              heard->second - writes[std::size_t(i)])
                                              .count());
                }
            }
        }
        std::sort(delays.begin(), delays.end());
        std::sort(heardDelays.begin(), heardDelays.end());
        const auto at = [&](double q) {
            return delays.empty() ? -1.0 : delays[std::size_t(q * double(delays.size() - 1))];
        };
        const auto heardAt = [&](double q) {
            return heardDelays.empty()
                       ? -1.0
                       : heardDelays[std::size_t(q * double(heardDelays.size() - 1))];
        };
        // The watcher's part: from the write to its message on the window's thread.
        state.counters["heard_median_ms"] = heardAt(0.5);
        state.counters["heard_p95_ms"] = heardAt(0.95);
        state.counters["median_ms"] = at(0.5);
        state.counters["p95_ms"] = at(0.95);
        state.counters["max_ms"] = delays.empty() ? -1.0 : delays.back();
        state.counters["never_at_bottom"] = double(missed);
        // Of the whole process over the 200 lines (the writer mostly sleeps).
        state.counters["cpu_s"] = cpu;
    }
}

void FollowLatency(benchmark::State& state)
{
    followLatency(state, state.range(0) != 0, state.range(1) != 0, Shown::Nothing);
}
BENCHMARK(FollowLatency)
    ->ArgNames({"backtracking_filter", "pipe"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same with three keywords, the overview strip hidden (0) and shown (1).
void FollowLatencyWithStrip(benchmark::State& state)
{
    followLatency(state, false, false, state.range(0) != 0 ? Shown::Strip : Shown::Keywords);
}
BENCHMARK(FollowLatencyWithStrip)
    ->ArgName("strip")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same with three keywords, the timeline hidden (0) and shown (1).
void FollowLatencyWithTimeline(benchmark::State& state)
{
    followLatency(state, false, false, state.range(0) != 0 ? Shown::Timeline : Shown::Keywords);
}
BENCHMARK(FollowLatencyWithTimeline)
    ->ArgName("timeline")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
