// Find in All Tabs over five large logs, against five filter passes one after the other.
//
// The real main window opens five generated logs (200 MiB each unless told otherwise) in
// five tabs. Then, in turns that alternate so that a drift of the machine touches both alike:
//   passes    five LineFilter passes over the tabs' documents, one after the other;
//   findall   Edit > Find in All Tabs: the text typed into the pane's field and Enter, the
//             event loop run until every tab's list is complete.
// Each turn reads the files through first (the page cache), and prints its wall time, the
// lines found, and for findall the longest the window's thread was away from its event loop
// (a 1 ms timer's longest late tick) and the longest answer to a worker's notice.
//
//   build-bench/bin/quill_findall_bench [folder] [mib] [turns] [text]
//   (no display: QT_QPA_PLATFORM=offscreen is set; the logs are kept in folder for the
//   next run)

#include "engine/DocumentTimeIndex.h"
#include "engine/FilterPattern.h"
#include "engine/FindAllSearch.h"
#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "frame/FindAllPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsStore.h"
#include "view/FindAllView.h"
#include "view/LogView.h"

#include "bench/gui/FrameBenchSupport.h"
#include "bench/gui/GuiBenchSupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A log of timestamped lines of 40-200 bytes; "id=42" on about one line in sixty.
void generate(const std::string& path, long mib, unsigned seed)
{
    if (fs::exists(path) && long(fs::file_size(path)) >= mib * 1024 * 1024) {
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937 rng(seed);
    const char* words[] = {"connection", "request", "user",          "session",
                           "timeout",    "handler", "database",      "cache",
                           "worker",     "queue",   "retry",         "payload",
                           "GET",        "POST",    "/api/v1/items", "status=200"};
    const long target = mib * 1024 * 1024;
    long written = 0;
    std::string line;
    for (long n = 0; written < target; ++n) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "2026-12-07 12:%02ld:%02ld.%03ld INFO [t%02u] ",
                      (n / 60000) % 60, (n / 1000) % 60, n % 1000, unsigned(rng() % 16));
        line = stamp;
        if (rng() % 60 == 0) {
            line += "id=42 ";
        }
        const std::size_t length = 40 + rng() % 160;
        while (line.size() < length) {
            line += words[rng() % std::size(words)];
            line += ' ';
        }
        line.resize(length);
        line += '\n';
        out << line;
        written += long(line.size());
    }
}

void warm(const std::vector<std::string>& paths)
{
    std::vector<char> buffer(1 << 20);
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
        }
    }
}

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

struct Turn {
    double seconds = 0;
    std::size_t found = 0;
    double longestStallMs = 0;
};

Turn passes(MainFrame& frame, const std::u16string& text)
{
    Turn turn;
    const auto start = Clock::now();
    for (int i = 0; i < frame.tabCount(); ++i) {
        LineFilter filter(*frame.tab(i)->document(), nullptr);
        filter.setFilter(FilterSet{FilterTerm{text, false, false, false}, {}});
        filter.waitIdle(std::chrono::minutes(10));
        filter.collect();
        turn.found += filter.matches().size();
    }
    turn.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return turn;
}

// Times every event the window's thread handles (the outermost only): how long the thread
// is kept from its loop by its own work.
class TimedApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!timing || depth > 0) {
            ++depth;
            const bool result = QApplication::notify(receiver, event);
            --depth;
            return result;
        }
        ++depth;
        const auto start = Clock::now();
        const double cpuStart = quillbench::threadCpuSeconds();
        const bool result = QApplication::notify(receiver, event);
        longestEventMs = std::max(longestEventMs, ms(Clock::now() - start));
        longestEventCpuMs =
            std::max(longestEventCpuMs, (quillbench::threadCpuSeconds() - cpuStart) * 1000);
        --depth;
        return result;
    }
    bool timing = false;
    int depth = 0;
    double longestEventMs = 0;
    double longestEventCpuMs = 0;
};

Turn findAll(MainFrame& frame, const QString& text, TimedApplication& app, double& eventMs,
             double& eventCpuMs)
{
    Turn turn;
    frame.action(CommandId::FindAll)->trigger();
    FindAllPane* pane = frame.findAllPane();
    pane->endSearch();
    settle();
    pane->field()->setText(text);
    // The loop's late ticks: how long the window's thread was away, its own work and the
    // machine's scheduling together.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    Clock::time_point last;
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        longest = std::max(longest, ms(now - last) - 5);
        last = now;
    });
    // The loop sleeps between events, as the program's does.
    QEventLoop loop;
    QTimer done;
    done.setInterval(10);
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (pane->search().isSettled()) {
            loop.quit();
        }
    });
    app.longestEventMs = 0;
    app.longestEventCpuMs = 0;
    app.timing = true;
    const auto start = Clock::now();
    last = start;
    tick.start();
    done.start();
    // Enter in the field, as the user starts it.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(pane->field(), &enter);
    loop.exec();
    turn.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    app.timing = false;
    tick.stop();
    done.stop();
    turn.longestStallMs = std::max(0.0, longest);
    eventMs = app.longestEventMs;
    eventCpuMs = app.longestEventCpuMs;
    for (std::size_t g = 0; g < pane->search().documentCount(); ++g) {
        turn.found += pane->search().matches(g).size();
    }
    return turn;
}

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    TimedApplication app(argc, argv);
    const std::string folder =
        argc > 1 ? argv[1] : quillbench::tempFolder() + "/quillstream-bench-findall";
    const long mib = argc > 2 ? std::atol(argv[2]) : 200;
    const int turns = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string text = argc > 4 ? argv[4] : "id=42";
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i) {
        paths.push_back(folder + "/log" + std::to_string(i) + ".log");
        generate(paths.back(), mib, unsigned(i + 1));
    }
    const std::string settings = folder + "/settings";
    fs::create_directories(settings);
    SettingsStore store(settings + "/user.reg", settings + "/machine.reg");
    SettingsStore::overrideInstance(&store);
    {
        quillbench::SilentSound sound;
        quillbench::NoOwner owner;
        MainFrame frame(&owner, &sound);
        frame.setMessageHandler([](const QString&) {});
        frame.resize(1000, 800);
        frame.show();
        for (int i = 0; i < 5; ++i) {
            LogTab* tab = i == 0 ? frame.currentTab() : frame.addTab();
            tab->document()->openDocument(
                std::u16string(paths[std::size_t(i)].begin(), paths[std::size_t(i)].end()));
            tab->view()->initialUpdate();
            settle();
        }
        // The tabs read their lines' times once opened: the turns begin after that, so that
        // neither side shares the processors with it.
        const auto timesRead = [&] {
            for (int i = 0; i < frame.tabCount(); ++i) {
                const DocumentTimeIndex::State state = frame.tab(i)->timeIndex()->state();
                if (state == DocumentTimeIndex::State::Building) {
                    return false;
                }
            }
            return true;
        };
        const auto readBy = Clock::now() + std::chrono::minutes(2);
        while (!timesRead() && Clock::now() < readBy) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::printf("logs 5 x %ld MiB, text \"%s\", %d alternating turns\n", mib, text.c_str(),
                    turns);
        std::vector<double> passTimes;
        std::vector<double> findTimes;
        std::vector<double> stalls;
        std::vector<double> events;
        const std::u16string text16(text.begin(), text.end());
        for (int t = 0; t < turns; ++t) {
            // Which side goes first alternates too.
            Turn p;
            Turn f;
            double eventMs = 0;
            double eventCpuMs = 0;
            if (t % 2 == 1) {
                warm(paths);
                f = findAll(frame, QString::fromStdString(text), app, eventMs, eventCpuMs);
            }
            warm(paths);
            p = passes(frame, text16);
            std::printf("turn %d passes   %.3f s  found %zu\n", t, p.seconds, p.found);
            if (t % 2 == 0) {
                warm(paths);
                f = findAll(frame, QString::fromStdString(text), app, eventMs, eventCpuMs);
            }
            std::printf("turn %d findall  %.3f s  found %zu  longest_event_ms %.1f (cpu %.1f)  "
                        "longest_late_tick_ms %.1f\n",
                        t, f.seconds, f.found, eventMs, eventCpuMs, f.longestStallMs);
            events.push_back(eventMs);
            std::fflush(stdout);
            passTimes.push_back(p.seconds);
            findTimes.push_back(f.seconds);
            stalls.push_back(f.longestStallMs);
        }
        const auto [pMin, pMax] = std::minmax_element(passTimes.begin(), passTimes.end());
        const auto [fMin, fMax] = std::minmax_element(findTimes.begin(), findTimes.end());
        std::printf("passes_seconds median %.3f (%.3f-%.3f)\n", quillbench::median(passTimes),
                    *pMin, *pMax);
        std::printf("findall_seconds median %.3f (%.3f-%.3f)\n", quillbench::median(findTimes),
                    *fMin, *fMax);
        std::printf("findall_over_passes %.3f\n",
                    quillbench::median(findTimes) / quillbench::median(passTimes));
        std::printf("longest_event_ms %.1f\n", *std::max_element(events.begin(), events.end()));
        std::printf("longest_late_tick_ms %.1f\n", *std::max_element(stalls.begin(), stalls.end()));
    }
    SettingsStore::overrideInstance(nullptr);
    return 0;
}
