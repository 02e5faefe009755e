#pragma once

// What the user interface's benchmarks share: a view's host, no sound, a settling of the
// event loop, the temporary folder, a
// median, the processor time of the process and of the calling thread, and the main
// function.

#include "engine/AlertRule.h"
#include "engine/DocumentHost.h"
#include "view/LogView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace quillbench {

// No sound at all: the benchmarks time the view, not the sound service.
class SilentSound : public SoundService {
  public:
    void playSoundFile(const std::u16string&) override {}
    void beep() override {}
};

// Lets posted events and queued calls run, as a window's loop would between frames.
inline void settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// The host of one document shown in one view, with no window around them.
class BenchHost : public DocumentHost {
  public:
    void postFileAppended() override {}
    void postFileReload() override {}
    void postFileUnreadable(int) override {}
    void updateAllViews() override { view->updateFromDocument(); }
    void scrollViewsToEnd() override { view->scrollToEnd(); }
    void resetViewsScroll() override { view->resetScroll(); }
    void ensureSelectionVisibleInViews() override {}
    void setFilePathText(const std::u16string&) override {}
    void titleChanged(const std::u16string&) override {}
    MissingFileAnswer askMissingFile(const std::u16string&) override { return {}; }
    void showOpenError(const std::u16string&, const std::u16string&, int) override {}
    std::u16string loadResourceString(std::uint32_t) override { return {}; }
    std::u16string fileVersionText() override { return u"1.0.0.0001"; }
    LogView* view = nullptr;
};

inline std::string tempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
}

inline double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// One QApplication for every benchmark, on the offscreen platform where there is no display.
inline int runBenchmarks(int argc, char** argv)
{
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace quillbench
