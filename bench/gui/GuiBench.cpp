// User-interface benchmarks.
//
//   StartToFirstLines/1GiB  the real executable on a 1 GiB log, from the start of the process
//                           to the trace line "First lines painted" (needs a display: run
//                           under xvfb-run). The log is generated once in the temporary
//                           folder and kept for later runs.
//   FullRepaint60Rows       one repaint of a 60-row view with ten keywords, two matching.
//   PageDown                Page Down through 10,000 pages of a 600,000-line file, so the
//                           document's decoded window moves every few pages; each step is
//                           the key and the repaint it causes; scrollbar:0 hides the
//                           vertical scroll bar, whose repaint is the style's cost.
//   PageDownDocumentWork    the document's part of the same: each page's lines fetched and
//                           matched, without painting.
//
//   DragRepaint60Rows       a drag across the 60 rows of a view and back, one row per mouse
//                           move; each step is the move and the repaint it causes.
//   SelectAllCopy/MiB       Select All and Copy of a 100 MB and a 1 GiB log, built beside
//                           the user-interface thread as the main window does: seconds, the
//                           peak resident memory the copy added (VmHWM, reset before), and
//                           the longest pause of the user-interface thread meanwhile.
//   FindLastLine/encoding   Find of the text on the last line of a 1 GiB log from the top,
//                           once by the engine's own Find and once through the command path
//                           (Enter in the find dialog to the selection painted); encoding 0
//                           UTF-8, 1 the same file read in the locale's narrow set (run with
//                           LC_ALL set to an ISO-8859-15 locale), 2 the text as UTF-16.
//   FollowWithFilter/filter  the main window following a file that a writer thread appends
//                           to at 50 MB/s for 5 s in 4 KiB writes, without a filter (0) and
//                           with one set in the bar that keeps a tenth of the lines (1; 2
//                           with Match case):
//                           the CPU seconds of every thread but the writer (the views'
//                           updates and paints, the watcher, the filter's worker), whether
//                           the log view and the pane hold every line they should, and the
//                           pane's rows.
//   FollowWithStrip/strip   the same following with three keywords, the overview strip
//                           hidden (0) and shown (1): its CPU, and the lines the strip saw.
//   FollowLatency           a line written to its paint at the window's bottom (median, 95th
//                           percentile, largest) and the process's CPU meanwhile; heard_*:
//                           the part up to the watcher's message reaching the window.
//   FollowLatencyWithStrip/strip  the same with three keywords, the strip hidden and shown.
//   FollowWithTimeline/timeline, FollowLatencyWithTimeline/timeline  the same two cases with
//                           three keywords, the timeline hidden (0) and shown (1); with it
//                           shown, the lines its steps count after the last refresh.
//   MergedFollowLatency/remote  a merged tab following two files written at 1,000 lines a
//                           second each for 5 s: a line's write to the first paint that holds
//                           it at the bottom (median, 95th percentile, largest), the lines
//                           never painted and the process's CPU; remote=1 follows them by ssh
//                           to 127.0.0.1 (QUILL_BENCH_SSH_CONFIG: the ssh configuration).
//
// Per-step medians are reported as the counters median_ms / median_us.
//
//   xvfb-run -a build/bin/quill_gui_bench

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
#include "settings/SettingsStore.h"
#include "view/FilterView.h"
#include "view/LineGutter.h"
#include "view/LogView.h"

#include "bench/gui/FrameBenchSupport.h"
#include "bench/gui/GuiBenchSupport.h"

#include <QApplication>
#include <QCheckBox>
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
using quillbench::processCpuSeconds;
using quillbench::tempFolder;
using quillbench::threadCpuSeconds;

// Realistic lines of about 100 bytes, one in 50 an ERROR.
void writeLog(const std::string& path, std::uint64_t bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string line;
    char buffer[160];
    for (std::uint64_t written = 0, i = 0; written < bytes; ++i) {
        const int n =
            std::snprintf(buffer, sizeof buffer,
                          "2026-12-07 10:%02u:%02u.%03u %s [worker-%u] request %llu "
                          "served in %u ms from cache shard %u\n",
                          unsigned(i / 60000 % 60), unsigned(i / 1000 % 60), unsigned(i % 1000),
                          i % 50 == 0 ? "ERROR" : "INFO ", unsigned(i % 16),
                          static_cast<unsigned long long>(i), unsigned(i % 977), unsigned(i % 7));
        out.write(buffer, n);
        written += static_cast<std::uint64_t>(n);
    }
}

using quillbench::BenchHost;

using quillbench::settle;
using quillbench::SilentSound;

// A document over a generated file in a view showing `rows` rows, settings in a private
// folder.
struct ViewBench {
    ViewBench(std::uint64_t fileBytes, int rows, int keywords, std::string existing = {})
        : folder(tempFolder() + "/quillstream-bench-view-" + std::to_string(::getpid())),
          store((fs::create_directories(folder), folder + "/user.reg"), folder + "/machine.reg")
    {
        SettingsStore::overrideInstance(&store);
        std::vector<Keyword> list;
        for (int i = 0; i < keywords; ++i) {
            const std::u16string text =
                i == keywords - 1 ? u"ERROR" : u"never-" + std::u16string(1, char16_t(u'a' + i));
            list.emplace_back(text, 0x00FFFFFF, 0x000000C0, false, i % 2 == 0, true);
        }
        store.saveKeywords(list);
        store.setBool(Setting::Beep, true);
        path = existing;
        if (path.empty()) {
            path = folder + "/bench.log";
            writeLog(path, fileBytes);
        }
        document = std::make_unique<LogDocument>(&host, store);
        view = std::make_unique<LogView>();
        view->setSoundService(&sound);
        view->setDocument(document.get());
        host.view = view.get();
        view->resize(800, 200);
        view->show();
        view->initialUpdate();
        view->resize(800, rows * static_cast<int>(view->lineHeight()));
        document->openDocument(std::u16string(path.begin(), path.end()));
        document->stopWatching();
        view->initialUpdate();
        settle();
    }
    ~ViewBench()
    {
        view.reset();
        document.reset();
        SettingsStore::overrideInstance(nullptr);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::string folder;
    SettingsStore store;
    std::string path;
    BenchHost host;
    SilentSound sound;
    std::unique_ptr<LogDocument> document;
    std::unique_ptr<LogView> view;
};

void FullRepaint60Rows(benchmark::State& state)
{
    ViewBench bench(20'000'000, 60, 10);
    bench.view->verticalScrollBar()->setValue(bench.view->verticalScrollBar()->maximum() / 2);
    settle();
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        bench.view->viewport()->repaint();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    state.counters["median_us"] = median(times);
    state.counters["rows"] = bench.view->visibleRowCount();
}
BENCHMARK(FullRepaint60Rows)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// The same repaint with the line-number gutter, a mark on every third row and the find
// highlight on every blank (about fourteen places a row); with argument 1 the overview strip
// is shown as well.
void FullRepaint60RowsNavigation(benchmark::State& state)
{
    ViewBench bench(20'000'000, 60, 10);
    bench.store.setBool(Setting::LineNumbers, true);
    bench.store.setBool(Setting::OverviewStrip, state.range(0) != 0);
    bench.view->updateFromDocument();
    bench.view->verticalScrollBar()->setValue(bench.view->verticalScrollBar()->maximum() / 2);
    settle();
    const LineNumber first = bench.view->firstVisibleLine();
    for (LineNumber line = first; line < first + 61; line += 3) {
        bench.view->toggleMark(line);
    }
    bench.view->setFindHighlight(u" ", 0);
    std::size_t matches = 0;
    for (LineNumber line = first; line < first + 60; ++line) {
        const std::u16string text = bench.document->line(line);
        for (char16_t c : text) {
            matches += c == u' ';
        }
    }
    settle();
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        bench.view->viewport()->repaint();
        bench.view->gutter()->repaint();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    state.counters["median_us"] = median(times);
    state.counters["rows"] = bench.view->visibleRowCount();
    state.counters["highlights_per_row"] = double(matches) / 60.0;
}
BENCHMARK(FullRepaint60RowsNavigation)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000);

void PageDown(benchmark::State& state)
{
    const int rows = 60;
    // 10,000 pages of 59 new lines each, with room to spare.
    ViewBench bench(std::uint64_t(10'000) * (rows - 1) * 105 + 10'000'000, rows, 10);
    LogView* view = bench.view.get();
    if (state.range(0) == 0) {
        // The style's scroll bar repaint separated from the view's own work.
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    view->onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderToMinimum);
    settle();
    std::vector<double> times;
    times.reserve(10'000);
    LineNumber reached = 0;
    for (auto _ : state) {
        times.clear();
        for (int page = 0; page < 10'000; ++page) {
            const auto start = Clock::now();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QApplication::sendEvent(view, &key);
            view->viewport()->repaint();
            times.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        state.PauseTiming();
        // Where the pages led, read before the view goes back to the top for the next run.
        reached = view->firstVisibleLine();
        view->onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderToMinimum);
        settle();
        state.ResumeTiming();
    }
    state.counters["median_us"] = median(times);
    state.counters["first_line_reached"] = reached;
}
BENCHMARK(PageDown)
    ->ArgName("scrollbar")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The document's share of a Page Down: the 60 lines of each new page fetched (moving the
// decoded window as needed) and matched against the keywords, as the paint does.
void PageDownDocumentWork(benchmark::State& state)
{
    const int rows = 60;
    ViewBench bench(std::uint64_t(10'000) * (rows - 1) * 105 + 10'000'000, rows, 10);
    LogDocument& document = *bench.document;
    std::vector<double> times;
    times.reserve(10'000);
    for (auto _ : state) {
        times.clear();
        for (LineNumber first = 0, page = 0; page < 10'000; ++page, first += rows - 1) {
            const auto start = Clock::now();
            std::lock_guard lock(document.docAccess());
            for (LineNumber line = first; line < first + rows + 1; ++line) {
                const std::u16string text = document.line(line);
                ColorRef fg = 0;
                ColorRef bg = 0;
                bool matched = false;
                document.keywordColors(text, fg, bg, matched);
                benchmark::DoNotOptimize(matched);
            }
            times.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    state.counters["median_us"] = median(times);
}
BENCHMARK(PageDownDocumentWork)->Unit(benchmark::kMillisecond)->Iterations(1);

void DragRepaint60Rows(benchmark::State& state)
{
    ViewBench bench(20'000'000, 60, 10);
    LogView* view = bench.view.get();
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    settle();
    QWidget* port = view->viewport();
    const int h = static_cast<int>(view->lineHeight());
    auto send = [&](QEvent::Type type, QPoint p, Qt::MouseButtons buttons) {
        QMouseEvent event(type, p, port->mapToGlobal(p), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(port, &event);
    };
    std::vector<double> times;
    for (auto _ : state) {
        send(QEvent::MouseButtonPress, QPoint(40, h / 2), Qt::LeftButton);
        for (int step = 0; step < 120; ++step) {
            const int row = step < 60 ? step : 119 - step;
            const QPoint p(40 + (step % 7) * 9, row * h + h / 2);
            const auto start = Clock::now();
            send(QEvent::MouseMove, p, Qt::LeftButton);
            QApplication::processEvents();
            times.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        send(QEvent::MouseButtonRelease, QPoint(40, h / 2), Qt::NoButton);
        QApplication::processEvents();
    }
    state.counters["median_us"] = median(times);
    std::sort(times.begin(), times.end());
    state.counters["p99_us"] = times.empty() ? 0 : times[times.size() * 99 / 100];
    state.counters["max_us"] = times.empty() ? 0 : times.back();
}
BENCHMARK(DragRepaint60Rows)->Unit(benchmark::kMillisecond)->Iterations(20);

// A log of at least mib MiB in the temporary folder, kept for later runs, whose last line
// is a unique marker.
const char* const LastLineMarker = "QUILL-LAST-LINE-MARKER zebra";

std::string cachedLog(std::uint64_t mib)
{
    const std::string logPath =
        tempFolder() + "/quillstream-bench-marked-" + std::to_string(mib) + "m.log";
    std::error_code error;
    if (fs::file_size(logPath, error) < (mib << 20) || error) {
        writeLog(logPath, mib << 20);
        std::ofstream(logPath, std::ios::binary | std::ios::app) << LastLineMarker << "\n";
    }
    return logPath;
}

std::string cachedUtf16Log(std::uint64_t mib)
{
    const std::string source = cachedLog(mib);
    const std::string logPath = source.substr(0, source.size() - 4) + "-utf16.log";
    std::error_code error;
    if (fs::file_size(logPath, error) < 2 * (mib << 20) || error) {
        std::ifstream in(source, std::ios::binary);
        std::ofstream out(logPath, std::ios::binary | std::ios::trunc);
        out.write("\xFF\xFE", 2);
        std::vector<char> block(1 << 20);
        std::vector<char> wide(2 << 20);
        while (in) {
            in.read(block.data(), std::streamsize(block.size()));
            const std::size_t n = std::size_t(in.gcount());
            for (std::size_t i = 0; i < n; ++i) {
                wide[2 * i] = block[i];
                wide[2 * i + 1] = 0;
            }
            out.write(wide.data(), std::streamsize(2 * n));
        }
    }
    return logPath;
}

std::uint64_t peakRssBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

std::uint64_t currentRssBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

void resetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void SelectAllCopy(benchmark::State& state)
{
    const std::uint64_t mib = std::uint64_t(state.range(0));
    ViewBench bench(0, 40, 0, cachedLog(mib));
    LogView* view = bench.view.get();
    double seconds = 0;
    double addedMb = 0;
    double longestStallMs = 0;
    std::size_t copied = 0;
    for (auto _ : state) {
        QGuiApplication::clipboard()->clear();
        settle();
        const std::uint64_t before = currentRssBytes();
        resetPeakRss();
        const auto start = Clock::now();
        view->onEditSelectAll();
        // As the main window copies: the text is built beside the user-interface thread,
        // which goes on handling events (its longest pause is what the user would feel).
        SelectionCopyJob job(*bench.document, bench.document->selection());
        auto lastTurn = Clock::now();
        longestStallMs = 0;
        while (!job.isFinished()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            const auto now = Clock::now();
            longestStallMs = std::max(
                longestStallMs, std::chrono::duration<double, std::milli>(now - lastTurn).count());
            lastTurn = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const CopyResult result = job.result();
        if (result.outcome == CopyOutcome::Copied) {
            QGuiApplication::clipboard()->setMimeData(new SelectionMimeData(job.takeText()));
        }
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        addedMb = double(peakRssBytes() - before) / 1e6;
        copied = result.outcome == CopyOutcome::Copied
                     ? std::size_t(QGuiApplication::clipboard()->text().size())
                     : 0;
        state.SetIterationTime(seconds);
    }
    QGuiApplication::clipboard()->clear();
    state.counters["seconds"] = seconds;
    state.counters["peak_added_MB"] = addedMb;
    state.counters["longest_ui_stall_ms"] = longestStallMs;
    state.counters["copied_units"] = double(copied);
}
BENCHMARK(SelectAllCopy)
    ->Arg(100)
    ->Arg(1024)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

using quillbench::NoOwner;

void FindLastLine(benchmark::State& state)
{
    const int encoding = int(state.range(0));
    if (encoding == 1 && quill::narrowCharset().isUtf8) {
        state.SkipWithError("run with LC_ALL set to a locale whose set is not UTF-8");
        return;
    }
    if (encoding != 1 && !quill::narrowCharset().isUtf8) {
        state.SkipWithError("runs in a UTF-8 locale only");
        return;
    }
    const std::string logPath = encoding == 2 ? cachedUtf16Log(1024) : cachedLog(1024);
    const std::string folder =
        tempFolder() + "/quillstream-bench-find-" + std::to_string(::getpid());
    fs::create_directories(folder);
    SettingsStore store(folder + "/user.reg", folder + "/machine.reg");
    SettingsStore::overrideInstance(&store);
    SilentSound sound;
    NoOwner owner;
    {
        MainFrame frame(&owner, &sound);
        LogDocument& document = *frame.activeDocument();
        frame.setMessageHandler([](const QString&) {});
        frame.resize(900, 700);
        frame.show();
        frame.activeView()->initialUpdate();
        document.openDocument(std::u16string(logPath.begin(), logPath.end()));
        document.stopWatching();
        frame.activeView()->initialUpdate();
        settle();
        const std::u16string marker(LastLineMarker, LastLineMarker + std::strlen(LastLineMarker));
        const LineNumber last = document.lineCount() - 1;

        double engineBest = 1e9;
        double commandBest = 1e9;
        bool shown = false;
        for (auto _ : state) {
            for (int run = 0; run < 3; ++run) {
                document.setFindPosition(0, 0);
                document.clearSelection();
                auto start = Clock::now();
                document.find(marker, true, SearchMatchCase);
                engineBest = std::min(engineBest,
                                      std::chrono::duration<double>(Clock::now() - start).count());

                document.setFindPosition(0, 0);
                document.clearSelection();
                frame.onEditFind();
                FindDialog* dialog = frame.findDialog();
                dialog->setOptions(true, false, true);
                dialog->setSearchText(QString::fromUtf16(marker.data(), qsizetype(marker.size())));
                QLineEdit* field = dialog->findChild<QComboBox*>()->lineEdit();
                settle();
                start = Clock::now();
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QApplication::sendEvent(field, &enter);
                frame.activeView()->viewport()->repaint();
                commandBest = std::min(commandBest,
                                       std::chrono::duration<double>(Clock::now() - start).count());
                shown = document.selection().valid && document.selection().startLine == last &&
                        frame.activeView()->firstVisibleLine() <= last;
            }
            state.SetIterationTime(commandBest);
        }
        state.counters["engine_s"] = engineBest;
        state.counters["command_s"] = commandBest;
        state.counters["command_over_engine"] = commandBest / engineBest;
        state.counters["found_on_last_line"] = shown ? 1 : 0;
        state.counters["GBps"] = double(document.indexedEnd()) / engineBest / 1e9;
        document.closeDocument();
    }
    SettingsStore::overrideInstance(nullptr);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
BENCHMARK(FindLastLine)
    ->ArgName("encoding")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Runs the real program and waits for its trace line; returns the seconds it took.
double runToFirstLines(const std::string& logPath, const std::string& home)
{
    const std::string trace = home + "/tmp/Quillstream.log";
    fs::remove(trace);
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("TMPDIR", (home + "/tmp").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (home + "/xdg").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (home + "/tmp").c_str(), 1);
        ::execl(QUILL_EXECUTABLE, QUILL_EXECUTABLE, "--", logPath.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    double seconds = -1;
    for (;;) {
        std::ifstream in(trace);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (text.find("First lines painted") != std::string::npos) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            break;
        }
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            return -1;
        }
        if (Clock::now() - start > std::chrono::seconds(60)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    return seconds;
}

void StartToFirstLines(benchmark::State& state)
{
    if (std::getenv("DISPLAY") == nullptr) {
        state.SkipWithError("needs a display: run under xvfb-run");
        return;
    }
    const std::uint64_t size = std::uint64_t(state.range(0)) << 20;
    const std::string logPath =
        tempFolder() + "/quillstream-bench-" + std::to_string(state.range(0)) + "m.log";
    std::error_code error;
    if (fs::file_size(logPath, error) < size || error) {
        writeLog(logPath, size);
    }
    const std::string home =
        tempFolder() + "/quillstream-bench-start-" + std::to_string(::getpid());
    fs::create_directories(home + "/tmp");
    fs::create_directories(home + "/config");
    fs::create_directories(home + "/xdg/quillstream");
    {
        std::ofstream machine(home + "/xdg/quillstream/machine.reg", std::ios::binary);
        machine << "Windows Registry Editor Version 5.00\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Orix\\Quillstream\\Logging]\r\n"
                   "\"LogLevel\"=dword:00000003\r\n";
    }
    // One run to warm the page cache: the figure is the program's, not the disk's.
    runToFirstLines(logPath, home);
    std::vector<double> times;
    for (auto _ : state) {
        const double seconds = runToFirstLines(logPath, home);
        if (seconds < 0) {
            state.SkipWithError("the program ended or never painted");
            break;
        }
        times.push_back(seconds * 1000);
        state.SetIterationTime(seconds);
    }
    fs::remove_all(home, error);
    state.counters["median_ms"] = median(times);
}
BENCHMARK(StartToFirstLines)
    ->Arg(1024)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    return quillbench::runBenchmarks(argc, argv);
}
