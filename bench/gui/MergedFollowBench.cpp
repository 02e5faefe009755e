// MergedFollowLatency: a merged tab of the real main window following two files that two
// writers append to at 1,000 lines a second each (a line every millisecond, each with the
// time it is written, so the two interleave by time), for five seconds. A line's way from
// its write to the first paint of the tab's rows that holds it at the bottom of the view:
// median, 95th percentile and largest, the lines never painted, and the process's CPU.
// remote=1: the same two files followed as remote files by ssh to 127.0.0.1, when
// QUILL_BENCH_SSH_CONFIG names an ssh configuration that reaches this machine (skipped
// otherwise).

#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"
#include "frame/SourceControl.h"
#include "settings/SettingsStore.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include "bench/gui/FrameBenchSupport.h"
#include "bench/gui/GuiBenchSupport.h"

#include <QApplication>
#include <QScrollBar>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Writers = 2;

// The lines of each file the rows hold at the bottom of each paint, with its time.
class MergedPaintClock : public QObject {
  public:
    MergedPaintClock(MergedPart& part) : m_part(part)
    {
        part.area()->viewport()->installEventFilter(this);
    }
    struct Paint {
        Clock::time_point at;
        std::array<LineNumber, Writers> lines{};
    };
    std::vector<Paint> paints;

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint) {
            return false;
        }
        MergedArea& area = *m_part.area();
        MergedRowSource& rows = *m_part.rows();
        const std::size_t count = rows.rowCount();
        const auto shownRows =
            std::size_t(area.viewport()->height() / std::max(1, area.rowHeight()));
        // The last row is in view: each file's last line among the rows is painted.
        if (count == 0 || area.firstVisibleRow() + shownRows < count) {
            return false;
        }
        Paint paint{Clock::now(), {}};
        std::size_t found = 0;
        for (std::size_t row = count; row-- > 0 && found < Writers && count - row < 2000;) {
            const MergedRows::Place place = rows.placeOfRow(row);
            if (place.source < Writers && paint.lines[place.source] == 0) {
                paint.lines[place.source] = place.line + 1;
                ++found;
            }
        }
        if (paints.empty() || paints.back().lines != paint.lines) {
            paints.push_back(paint);
        }
        return false;
    }

  private:
    MergedPart& m_part;
};

std::string timeText()
{
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm parts{};
    ::localtime_r(&now.tv_sec, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", int(now.tv_usec / 1000));
    return std::string(text) + millis;
}

void MergedFollowLatency(benchmark::State& state)
{
    const bool remote = state.range(0) != 0;
    const char* sshConfig = std::getenv("QUILL_BENCH_SSH_CONFIG");
    if (remote && (sshConfig == nullptr || *sshConfig == 0)) {
        state.SkipWithError("QUILL_BENCH_SSH_CONFIG names no ssh configuration");
        return;
    }
    constexpr double Seconds = 5;
    constexpr int LinesPerSecond = 1000;
    constexpr int Lines = int(Seconds * LinesPerSecond);
    const std::string folder =
        quillbench::tempFolder() + "/quillstream-bench-merged-" + std::to_string(::getpid());
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (int w = 0; w < Writers; ++w) {
        paths.push_back(folder + "/host" + std::to_string(w) + ".log");
        std::ofstream file(paths.back(), std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 200; ++i) {
            file << "2026-12-07 12:00:00.000 INFO history line " << i << " of " << w << "\n";
        }
    }
    {
        SettingsStore store(folder + "/user.reg", folder + "/machine.reg");
        SettingsStore::overrideInstance(&store);
        quillbench::SilentSound sound;
        quillbench::NoOwner owner;
        auto frame = std::make_unique<MainFrame>(&owner, &sound);
        frame->setMessageHandler([](const QString&) {});
        frame->sources()->setSpoolFolder(folder + "/spool");
        if (remote) {
            frame->sources()->setRemoteOptions({"-F", sshConfig});
        }
        frame->resize(900, 700);
        frame->show();
        std::vector<std::u16string> entries;
        for (const std::string& path : paths) {
            const std::string entry = remote ? "ssh://127.0.0.1" + path : path;
            entries.emplace_back(entry.begin(), entry.end());
        }
        frame->openMerged(entries);
        MergedPart* part = frame->currentTab()->merged();
        const auto ready = Clock::now() + std::chrono::seconds(20);
        while ((part == nullptr || part->rows()->rowCount() < 400) && Clock::now() < ready) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        if (part == nullptr || part->rows()->rowCount() < 400) {
            state.SkipWithError("the merged tab did not show the files");
            return;
        }
        quillbench::settle();
        MergedPaintClock clock(*part);
        std::vector<double> delays;
        long missed = 0;
        double cpu = 0;
        for (auto _ : state) {
            const double cpuStart = quillbench::processCpuSeconds();
            std::vector<std::vector<Clock::time_point>> writes(
                Writers, std::vector<Clock::time_point>(Lines));
            std::atomic<int> done{0};
            std::vector<std::thread> writers;
            for (int w = 0; w < Writers; ++w) {
                writers.emplace_back([&, w] {
                    const int fd = ::open(paths[std::size_t(w)].c_str(), O_WRONLY | O_APPEND);
                    const auto start = Clock::now();
                    for (int i = 0; i < Lines; ++i) {
                        // Line i is due at i milliseconds: late ones go at once.
                        std::this_thread::sleep_until(
                            start + std::chrono::microseconds(i * 1'000'000 / LinesPerSecond));
                        const std::string line = timeText() + " INFO writer " + std::to_string(w) +
                                                 " line " + std::to_string(i) + "\n";
                        writes[std::size_t(w)][std::size_t(i)] = Clock::now();
                        if (::write(fd, line.data(), line.size()) != ssize_t(line.size())) {
                            break;
                        }
                    }
                    ::close(fd);
                    ++done;
                });
            }
            QTimer tick;
            tick.start(20);
            const auto limit = Clock::now() + std::chrono::seconds(60);
            const auto lastPainted = [&] {
                return !clock.paints.empty() &&
                       std::all_of(clock.paints.back().lines.begin(),
                                   clock.paints.back().lines.end(),
                                   [](LineNumber lines) { return lines >= 200 + Lines; });
            };
            while ((done < Writers || !lastPainted()) && Clock::now() < limit) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            for (std::thread& writer : writers) {
                writer.join();
            }
            quillbench::settle();
            cpu += quillbench::processCpuSeconds() - cpuStart;
            for (int w = 0; w < Writers; ++w) {
                std::size_t next = 0;
                for (int i = 0; i < Lines; ++i) {
                    const LineNumber line = 200 + LineNumber(i) + 1;
                    while (next < clock.paints.size() &&
                           clock.paints[next].lines[std::size_t(w)] < line) {
                        ++next;
                    }
                    if (next == clock.paints.size()) {
                        ++missed;
                        continue;
                    }
                    delays.push_back(
                        std::chrono::duration<double, std::milli>(
                            clock.paints[next].at - writes[std::size_t(w)][std::size_t(i)])
                            .count());
                }
            }
        }
        std::sort(delays.begin(), delays.end());
        const auto at = [&](double q) {
            return delays.empty() ? -1.0 : delays[std::size_t(q * double(delays.size() - 1))];
        };
        state.counters["median_ms"] = at(0.5);
        state.counters["p95_ms"] = at(0.95);
        state.counters["max_ms"] = delays.empty() ? -1.0 : delays.back();
        state.counters["never_painted"] = double(missed);
        state.counters["paints"] = double(clock.paints.size());
        state.counters["cpu_s"] = cpu;
        frame.reset();
        SettingsStore::overrideInstance(nullptr);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
BENCHMARK(MergedFollowLatency)
    ->ArgName("remote")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
