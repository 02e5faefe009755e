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
// Per-step medians are reported as the counters median_ms / median_us.
//
//   xvfb-run -a build/bin/quill_gui_bench

#include "engine/AlertRule.h"
#include "engine/DocumentHost.h"
#include "engine/LogDocument.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string tempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
}

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

double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

class BenchHost : public DocumentHost {
  public:
    void PostToMainWindow(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    void UpdateAllViews() override { view->OnUpdate(); }
    void ScrollViewsToEnd() override { view->ScrollToEnd(); }
    void ResetViewsScroll() override { view->ResetScroll(); }
    void EnsureSelectionVisibleInViews() override {}
    void SetFilePathText(const std::u16string&) override {}
    void TitleChanged(const std::u16string&) override {}
    MissingFileAnswer AskMissingFile(const std::u16string&) override { return {}; }
    void ShowOpenError(const std::u16string&, const std::u16string&, int) override {}
    std::u16string LoadResourceString(std::uint32_t) override { return {}; }
    std::u16string GetFileVersionText() override { return u"1.0.0.0001"; }
    CBrackenlyView* view = nullptr;
};

class SilentSound : public SoundService {
  public:
    void PlayFileSync(const std::u16string&) override {}
    void Beep() override {}
};

// A document over a generated file in a view showing `rows` rows, settings in a private
// folder.
struct ViewBench {
    ViewBench(std::uint64_t fileBytes, int rows, int keywords)
        : folder(tempFolder() + "/quillstream-bench-view-" + std::to_string(::getpid())),
          store((fs::create_directories(folder), folder + "/user.reg"), folder + "/machine.reg")
    {
        SettingsStore::overrideInstance(&store);
        std::vector<CKeyword> list;
        for (int i = 0; i < keywords; ++i) {
            const std::u16string text =
                i == keywords - 1 ? u"ERROR" : u"never-" + std::u16string(1, char16_t(u'a' + i));
            list.emplace_back(text, 0x00FFFFFF, 0x000000C0, false, i % 2 == 0, true);
        }
        store.SaveKeywords(list);
        store.SetBool(Setting::Beep, true);
        path = folder + "/bench.log";
        writeLog(path, fileBytes);
        document = std::make_unique<CBrackenlyDoc>(&host, store);
        view = std::make_unique<CBrackenlyView>();
        view->setSoundService(&sound);
        view->setDocument(document.get());
        host.view = view.get();
        view->resize(800, 200);
        view->show();
        view->OnInitialUpdate();
        view->resize(800, rows * static_cast<int>(view->lineHeight()));
        document->OnOpenDocument(std::u16string(path.begin(), path.end()));
        document->StopWatching();
        view->OnInitialUpdate();
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
    static void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }

    std::string folder;
    SettingsStore store;
    std::string path;
    BenchHost host;
    SilentSound sound;
    std::unique_ptr<CBrackenlyDoc> document;
    std::unique_ptr<CBrackenlyView> view;
};

void FullRepaint60Rows(benchmark::State& state)
{
    ViewBench bench(20'000'000, 60, 10);
    bench.view->verticalScrollBar()->setValue(bench.view->verticalScrollBar()->maximum() / 2);
    ViewBench::settle();
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

void PageDown(benchmark::State& state)
{
    const int rows = 60;
    // 10,000 pages of 59 new lines each, with room to spare.
    ViewBench bench(std::uint64_t(10'000) * (rows - 1) * 105 + 10'000'000, rows, 10);
    CBrackenlyView* view = bench.view.get();
    if (state.range(0) == 0) {
        // The style's scroll bar repaint separated from the view's own work.
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    view->OnScroll(CBrackenlyView::ScrollCode::None, CBrackenlyView::ScrollCode::Top);
    ViewBench::settle();
    std::vector<double> times;
    times.reserve(10'000);
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
        view->OnScroll(CBrackenlyView::ScrollCode::None, CBrackenlyView::ScrollCode::Top);
        ViewBench::settle();
        state.ResumeTiming();
    }
    state.counters["median_us"] = median(times);
    state.counters["first_line_reached"] = view->firstVisibleLine();
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
    CBrackenlyDoc& document = *bench.document;
    std::vector<double> times;
    times.reserve(10'000);
    for (auto _ : state) {
        times.clear();
        for (LineNumber first = 0, page = 0; page < 10'000; ++page, first += rows - 1) {
            const auto start = Clock::now();
            std::lock_guard lock(document.docAccess());
            for (LineNumber line = first; line < first + rows + 1; ++line) {
                const std::u16string text = document.GetLine(line);
                ColorRef fg = 0;
                ColorRef bg = 0;
                bool matched = false;
                document.GetKeywordColors(text, fg, bg, matched);
                benchmark::DoNotOptimize(matched);
            }
            times.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    state.counters["median_us"] = median(times);
}
BENCHMARK(PageDownDocumentWork)->Unit(benchmark::kMillisecond)->Iterations(1);

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
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
