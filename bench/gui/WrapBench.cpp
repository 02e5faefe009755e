// Wrapped lines (View > Wrap Long Lines) in the log view.
//
//   WrappedRepaint60Rows     one full repaint of a 60-row view of a log of 10 KB lines (words
//                            and blanks, one in fifty with a keyword), wrapped at 800 pixels,
//                            the view in the middle of the file; median_us per repaint.
//   WrappedPageDown          Page Down through 2,000 pages of the same log, each step the key
//                            and the repaint it causes (new lines laid out as they come).
//   LongLine/MiB/wrap        a single line of that many MiB (words and blanks) opened in a
//                            view that follows it, so its end is shown, then Ctrl+Home, Ctrl+End,
//                            20 Page Ups and the thumb to the middle, each with its repaint:
//                            seconds to the first paint of the end, the peak resident memory the
//                            whole run added over the line's size (VmHWM, reset before, after a
//                            screen of ordinary text was painted so the fonts' glyphs count in
//                            neither mode), and the slowest step; wrap 0 is the same without
//                            wrapping.
//
// Run the two LongLine cases in processes of their own (--benchmark_filter=.../wrap:1):
// the first allocations of a process grow its heap, and the second case would not pay them.
//
//   xvfb-run -a build/bin/quill_wrap_bench   (or QT_QPA_PLATFORM=offscreen)

#include "engine/DocumentHost.h"
#include "engine/LogDocument.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"

#include "bench/gui/GuiBenchSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using quillbench::median;
using quillbench::tempFolder;

std::uint64_t statusBytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string name = field;
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0) {
            return std::stoull(line.substr(name.size())) * 1024;
        }
    }
    return 0;
}

void resetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Words of 3 to 11 letters and a number, with blanks between: where rows break.
std::string words(std::size_t bytes, unsigned salt)
{
    std::string text;
    text.reserve(bytes + 16);
    for (unsigned k = 0; text.size() < bytes; ++k) {
        const unsigned length = 3 + (k * 7 + salt) % 9;
        text.append(length, char('a' + (k + salt) % 26));
        text += std::to_string(k % 1000);
        text += ' ';
    }
    text.resize(bytes);
    return text;
}

using quillbench::BenchHost;

using quillbench::settle;

// A view of `rows` rows, 800 pixels wide, over the file written by `write`, wrapping or not.
struct WrapFixture {
    template <typename Write>
    WrapFixture(int rows, bool wrap, Write write)
        : folder(tempFolder() + "/quillstream-bench-wrap-" + std::to_string(::getpid())),
          store((fs::create_directories(folder), folder + "/user.reg"), folder + "/machine.reg")
    {
        SettingsStore::overrideInstance(&store);
        store.saveKeywords({Keyword(u"ERROR", 0x00FFFFFF, 0x000000C0, false, false, true)});
        store.setBool(Setting::WrapLongLines, wrap);
        path = folder + "/bench.log";
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            write(out);
        }
        warmUp(rows);
        resetPeakRss();
        rssBefore = statusBytes("VmRSS:");
        const auto start = Clock::now();
        document = std::make_unique<LogDocument>(&host, store);
        view = std::make_unique<LogView>();
        view->setDocument(document.get());
        host.view = view.get();
        view->resize(800, 200);
        view->show();
        view->initialUpdate();
        view->resize(800, rows * static_cast<int>(view->lineHeight()));
        document->openDocument(std::u16string(path.begin(), path.end()));
        document->stopWatching();
        view->initialUpdate();
        indexSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        // The window is shown (exposed) once its events have run; then it paints.
        settle();
        view->viewport()->repaint();
        openSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    // A screen of ordinary text and its scroll bar painted once before the measurement
    // starts: the fonts' glyphs and the style's caches are then counted in neither mode,
    // whatever their share of a screen.
    void warmUp(int rows)
    {
        const std::string warm = folder + "/warm.log";
        {
            std::ofstream out(warm, std::ios::binary | std::ios::trunc);
            // Taller than the view, so its scroll bar is drawn too.
            for (int line = 0; line < 2 * rows; ++line) {
                out << words(200, unsigned(line)) << '\n';
            }
        }
        BenchHost warmHost;
        LogDocument warmDocument(&warmHost, store);
        LogView warmView;
        warmView.setDocument(&warmDocument);
        warmHost.view = &warmView;
        warmView.resize(800, 200);
        warmView.show();
        warmView.initialUpdate();
        warmView.resize(800, rows * static_cast<int>(warmView.lineHeight()));
        warmDocument.openDocument(std::u16string(warm.begin(), warm.end()));
        warmDocument.stopWatching();
        warmView.initialUpdate();
        settle();
        warmView.viewport()->repaint();
        warmView.setDocument(nullptr);
    }

    ~WrapFixture()
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
    std::unique_ptr<LogDocument> document;
    std::unique_ptr<LogView> view;
    std::uint64_t rssBefore = 0;
    double indexSeconds = 0; // the open and its update, before the first paint
    double openSeconds = 0;
};

void writeTenKilobyteLines(std::ofstream& out)
{
    for (unsigned line = 0; line < 2000; ++line) {
        out << (line % 50 == 0 ? "ERROR " : "INFO ") << words(10 * 1024, line) << '\n';
    }
}

void WrappedRepaint60Rows(benchmark::State& state)
{
    WrapFixture bench(60, true, writeTenKilobyteLines);
    LogView* view = bench.view.get();
    view->onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderMove,
                   view->verticalScrollBar()->maximum() / 2);
    settle();
    view->viewport()->repaint();
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        view->viewport()->repaint();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    state.counters["median_us"] = median(times);
    state.counters["rows"] = double(view->screenRows().size());
    state.counters["lines_on_screen"] =
        double(view->screenRows().back().item - view->screenRows().front().item + 1);
}
BENCHMARK(WrappedRepaint60Rows)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void WrappedPageDown(benchmark::State& state)
{
    WrapFixture bench(60, true, writeTenKilobyteLines);
    LogView* view = bench.view.get();
    std::vector<double> times;
    for (auto _ : state) {
        state.PauseTiming();
        view->onScroll(QAbstractSlider::SliderNoAction, QAbstractSlider::SliderToMinimum);
        settle();
        times.clear();
        state.ResumeTiming();
        for (int page = 0; page < 2000; ++page) {
            const auto start = Clock::now();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QApplication::sendEvent(view, &key);
            view->viewport()->repaint();
            times.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    state.counters["median_us"] = median(times);
    state.counters["slowest_us"] = *std::max_element(times.begin(), times.end());
    state.counters["line_reached"] = view->firstVisibleLine();
}
BENCHMARK(WrappedPageDown)->Unit(benchmark::kMillisecond)->Iterations(1);

void LongLine(benchmark::State& state)
{
    const std::size_t mib = std::size_t(state.range(0));
    const bool wrap = state.range(1) != 0;
    const std::size_t lineBytes = mib << 20;
    for (auto _ : state) {
        WrapFixture bench(60, wrap, [&](std::ofstream& out) {
            out << "first line\n";
            const std::string piece = words(1 << 20, 7);
            for (std::size_t k = 0; k < mib; ++k) {
                out << piece;
            }
        });
        LogView* view = bench.view.get();
        double slowest = 0;
        auto step = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
            const auto start = Clock::now();
            QKeyEvent event(QEvent::KeyPress, key, modifiers);
            QApplication::sendEvent(view, &event);
            view->viewport()->repaint();
            slowest =
                std::max(slowest, std::chrono::duration<double>(Clock::now() - start).count());
        };
        step(Qt::Key_Home, Qt::ControlModifier);
        step(Qt::Key_End, Qt::ControlModifier);
        for (int k = 0; k < 20; ++k) {
            step(Qt::Key_PageUp, {});
        }
        const auto start = Clock::now();
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
        view->viewport()->repaint();
        slowest = std::max(slowest, std::chrono::duration<double>(Clock::now() - start).count());
        const std::uint64_t peak = statusBytes("VmHWM:");
        state.counters["open_s"] = bench.indexSeconds;
        state.counters["open_to_end_painted_s"] = bench.openSeconds;
        state.counters["peak_over_line"] =
            double(peak - std::min(peak, bench.rssBefore)) / double(lineBytes);
        state.counters["slowest_step_ms"] = slowest * 1000;
        state.counters["rows_on_screen"] = double(view->screenRows().size());
    }
}
BENCHMARK(LongLine)
    ->ArgNames({"MiB", "wrap"})
    ->Args({300, 1})
    ->Args({300, 0})
    ->Args({30, 1})
    ->Args({30, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    return quillbench::runBenchmarks(argc, argv);
}
