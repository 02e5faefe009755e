// Tabs under load: the real main window with N tabs, each following a file of its own that
// one writer thread appends to at 1 MB/s per file, in 4 KiB writes, for 5 s; the first tab
// is in front, the others behind it.
//
//   TabsFollow/tabs:N   cpu_pct        CPU of the program (every thread but the writer), in
//                                      percent of one core, over the run;
//                       tab_kib        resident memory each tab beyond the first adds when it
//                                      is opened, less its line index;
//                       tab_kib_after  the same after the run (the index grown meanwhile
//                                      taken off again);
//                       p95_ms, median_ms  from a write to the front file to the paint that
//                                      shows its last line as the lowest row;
//                       no_loss        every tab's document holds every line written.
//
//   xvfb-run -a build/bin/quill_tabs_bench   (or QT_QPA_PLATFORM=offscreen)

#include "engine/AlertRule.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "platform/TempFolder.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"

#include "bench/gui/FrameBenchSupport.h"
#include "bench/gui/GuiBenchSupport.h"

#include <QApplication>
#include <QScrollBar>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using quillbench::processCpuSeconds;
using quillbench::threadCpuSeconds;

using quillbench::NoOwner;
using quillbench::SilentSound;

double residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// Paints of the front view that show the document's last line as the lowest row.
class PaintClock : public QObject {
  public:
    PaintClock(LogDocument& document, LogView& view) : m_document(document), m_view(view)
    {
        view.viewport()->installEventFilter(this);
    }
    std::vector<std::pair<LineNumber, Clock::time_point>> shown;

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            const LineNumber lines = m_document.lineCount();
            const qint64 h = m_view.lineHeight();
            const qint64 bottom =
                h > 0 ? (m_view.verticalScrollBar()->value() + m_view.viewport()->height()) / h : 0;
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

void TabsFollow(benchmark::State& state)
{
    const int tabs = int(state.range(0));
    constexpr double Seconds = 5;
    constexpr double BytesPerSecond = 1e6;
    constexpr std::size_t Chunk = 4096;
    constexpr int HistoryLines = 20000;
    const std::string folder =
        quill::tempFolder() + "/quillstream-bench-tabs-" + std::to_string(::getpid());
    fs::create_directories(folder);
    std::string history;
    for (int i = 0; i < HistoryLines; ++i) {
        history += "2026-12-07 12:00:00.000 INFO history line " + std::to_string(i) + "\n";
    }
    std::vector<std::string> paths;
    for (int i = 0; i < tabs; ++i) {
        paths.push_back(folder + "/tab" + std::to_string(i) + ".log");
        std::ofstream(paths.back(), std::ios::binary | std::ios::trunc) << history;
    }
    {
        SettingsStore store(folder + "/user.reg", folder + "/machine.reg");
        SettingsStore::overrideInstance(&store);
        SilentSound sound;
        NoOwner owner;
        MainFrame frame(&owner, &sound);
        frame.setMessageHandler([](const QString&) {});
        frame.resize(900, 700);
        frame.show();
        const auto open = [&](LogTab* tab, const std::string& path) {
            tab->document()->openDocument(std::u16string(path.begin(), path.end()));
            tab->view()->initialUpdate();
        };
        open(frame.currentTab(), paths[0]);
        settle();
        const double rssOne = residentKiB();
        for (int i = 1; i < tabs; ++i) {
            open(frame.addTab(), paths[std::size_t(i)]);
        }
        settle();
        const auto indexBytes = [&] {
            double bytes = 0;
            for (int i = 1; i < frame.tabCount(); ++i) {
                bytes += double(frame.tab(i)->document()->indexMemoryBytes());
            }
            return bytes;
        };
        const double others = std::max(1, tabs - 1);
        const double tabKiB = (residentKiB() - rssOne - indexBytes() / 1024) / others;

        LogDocument& front = *frame.currentTab()->document();
        PaintClock clock(front, *frame.currentTab()->view());
        std::vector<std::pair<LineNumber, Clock::time_point>> frontWrites;
        std::mutex frontWritesLock;
        std::vector<long> linesWritten(std::size_t(tabs), HistoryLines);
        std::atomic<bool> done{false};
        std::atomic<double> writerCpu{0};
        double cpu = 0;
        for (auto _ : state) {
            const double cpuStart = processCpuSeconds();
            std::thread writer([&] {
                const double threadStart = threadCpuSeconds();
                std::vector<int> fds;
                std::vector<std::string> pending(static_cast<std::size_t>(tabs));
                for (const std::string& path : paths) {
                    fds.push_back(::open(path.c_str(), O_WRONLY | O_APPEND));
                }
                std::size_t written = 0;
                const auto start = Clock::now();
                while (std::chrono::duration<double>(Clock::now() - start).count() < Seconds) {
                    for (std::size_t t = 0; t < std::size_t(tabs); ++t) {
                        std::string& bytes = pending[t];
                        long lines = 0;
                        // Whole lines only, so the front's line count after a write is known.
                        while (bytes.size() < Chunk) {
                            bytes += "2026-12-07 12:00:01.000 INFO follow line " +
                                     std::to_string(linesWritten[t] + lines) +
                                     " with some payload text to make it realistic\n";
                            ++lines;
                        }
                        const auto now = Clock::now();
                        if (::write(fds[t], bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
                            continue;
                        }
                        linesWritten[t] += lines;
                        if (t == 0) {
                            std::lock_guard lock(frontWritesLock);
                            frontWrites.emplace_back(LineNumber(linesWritten[0]), now);
                        }
                        bytes.clear();
                    }
                    written += Chunk;
                    const double due = double(written) / BytesPerSecond;
                    const double now = std::chrono::duration<double>(Clock::now() - start).count();
                    if (due > now) {
                        std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
                    }
                }
                for (int fd : fds) {
                    ::close(fd);
                }
                writerCpu = threadCpuSeconds() - threadStart;
                done = true;
            });
            QTimer tick;
            tick.start(20);
            const auto caughtUp = [&] {
                if (!done) {
                    return false;
                }
                for (int i = 0; i < tabs; ++i) {
                    if (long(frame.tab(i)->document()->lineCount()) <
                        linesWritten[std::size_t(i)]) {
                        return false;
                    }
                }
                return true;
            };
            const auto limit = Clock::now() + std::chrono::duration<double>(Seconds + 60);
            while (!caughtUp() && Clock::now() < limit) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            writer.join();
            settle();
            cpu = processCpuSeconds() - cpuStart - writerCpu;
        }
        const double tabKiBAfter = (residentKiB() - rssOne - indexBytes() / 1024) / others;
        std::vector<double> delays;
        std::size_t next = 0;
        for (const auto& [line, at] : frontWrites) {
            while (next < clock.shown.size() && clock.shown[next].first < line) {
                ++next;
            }
            if (next < clock.shown.size()) {
                delays.push_back(
                    std::chrono::duration<double, std::milli>(clock.shown[next].second - at)
                        .count());
            }
        }
        std::sort(delays.begin(), delays.end());
        const auto quantile = [&](double q) {
            return delays.empty() ? -1.0 : delays[std::size_t(q * double(delays.size() - 1))];
        };
        bool complete = true;
        for (int i = 0; i < tabs; ++i) {
            complete = complete &&
                       long(frame.tab(i)->document()->lineCount()) == linesWritten[std::size_t(i)];
        }
        state.counters["cpu_pct"] = 100 * cpu / Seconds;
        if (tabs > 1) {
            state.counters["tab_kib"] = tabKiB;
            state.counters["tab_kib_after"] = tabKiBAfter;
            state.counters["index_kib_per_tab"] = indexBytes() / 1024 / others;
        }
        state.counters["median_ms"] = quantile(0.5);
        state.counters["p95_ms"] = quantile(0.95);
        state.counters["no_loss"] = complete ? 1 : 0;
        frame.close();
        SettingsStore::overrideInstance(nullptr);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
BENCHMARK(TabsFollow)
    ->ArgName("tabs")
    ->Arg(1)
    ->Arg(20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    return quillbench::runBenchmarks(argc, argv);
}
