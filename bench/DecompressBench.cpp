// Decompression speed of the engine's readers, and how soon a compressed log shows.
// bench/decompress.sh runs it beside the formats' own tools.
//
//   quill_decompress_bench FILE [RUNS [FOLDER [WRITE_BYTES]]]
//        decompresses FILE (format told by its content) as the spool writer writes it, to
//        /dev/null or to a new file in FOLDER (removed after each run), and prints the best
//        of RUNS (default 3): seconds and MB/s by the wall clock and by the process's
//        processor time (which a busy shared machine disturbs far less); WRITE_BYTES: the
//        size of the writes (default DecompressWriteBytes)
//   quill_decompress_bench open FILE FOLDER [RUNS]
//        what the window does with a compressed log: a document opens its decompressed copy
//        (spooled in FOLDER) and follows it; prints, per run, the seconds until the index
//        holds the first screen (50 lines), until the copy is complete, and until the
//        document holds all of it and stops following it, polled as the window polls, and
//        the processor time of all the process's threads

#include "bench/QuietHost.h"
#include "engine/Decompressor.h"
#include "engine/DocumentHost.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "settings/SettingsStore.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpuNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

using quillbench::QuietHost;

int decompress(const char* path, int runs, const char* folder, std::size_t writeBytes)
{
    const CompressionFormat format = detectCompressionOfFile(path);
    if (format == CompressionFormat::None) {
        std::fprintf(stderr, "%s: not compressed\n", path);
        return 1;
    }
    double best = 1e30;
    double bestCpu = 1e30;
    std::uint64_t produced = 0;
    const std::string target =
        folder != nullptr ? std::string(folder) + "/quill-decompress-bench.out" : "/dev/null";
    for (int run = 0; run < runs; ++run) {
        const int in = ::open(path, O_RDONLY | O_CLOEXEC);
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (in < 0 || out < 0) {
            std::fprintf(stderr, "cannot open: %s\n", std::strerror(errno));
            return 1;
        }
        std::atomic<bool> cancel{false};
        std::atomic<std::uint64_t> consumed{0};
        const auto start = Clock::now();
        const double cpuStart = cpuNow();
        const DecompressResult result =
            decompressStream(format, in, out, cancel, consumed, 0, writeBytes);
        const double seconds = since(start);
        const double cpuSeconds = cpuNow() - cpuStart;
        ::close(in);
        ::close(out);
        if (folder != nullptr) {
            ::unlink(target.c_str());
        }
        if (result.outcome != DecompressResult::Outcome::Complete) {
            std::fprintf(stderr, "%s: did not decompress completely (%s)\n", path,
                         result.detail.c_str());
            return 1;
        }
        produced = result.produced;
        best = seconds < best ? seconds : best;
        bestCpu = cpuSeconds < bestCpu ? cpuSeconds : bestCpu;
    }
    std::printf("%s %.3f s %.1f MB/s cpu %.3f s %.1f MB/s\n", compressionName(format), best,
                static_cast<double>(produced) / best / 1e6, bestCpu,
                static_cast<double>(produced) / bestCpu / 1e6);
    return 0;
}

int open(const char* path, const char* folder, int runs)
{
    const CompressionFormat format = detectCompressionOfFile(path);
    if (format == CompressionFormat::None) {
        std::fprintf(stderr, "%s: not compressed\n", path);
        return 1;
    }
    char pattern[] = "/tmp/quilldecompress-XXXXXX";
    const std::string settingsDir = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    SettingsStore store(settingsDir + "/user.reg", settingsDir + "/machine.reg");
    for (int run = 0; run < runs; ++run) {
        QuietHost host;
        LogDocument document(&host, store);
        SourceOptions options;
        options.folder = folder;
        options.reserveBytes = 0;
        int error = 0;
        const auto start = Clock::now();
        const double cpuStart = cpuNow();
        std::unique_ptr<LogSource> source =
            LogSource::decompress(path, format, u"bench", options, error);
        if (!source) {
            std::fprintf(stderr, "%s: %s\n", path, std::strerror(error));
            return 1;
        }
        document.openSource(std::move(source));
        double firstScreen = -1;
        double complete = -1;
        // The window looks at its sources every 100 ms; a finer poll here measures the
        // engine, not the timer.
        for (;;) {
            if (firstScreen < 0 && document.lineCount() >= 50) {
                firstScreen = since(start);
            }
            if (complete < 0 && document.source()->status().phase != SourceStatus::Phase::Running) {
                complete = since(start);
            }
            if (document.pollSource()) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const double shown = since(start);
        const double cpu = cpuNow() - cpuStart;
        if (firstScreen < 0) {
            firstScreen = shown;
        }
        const SourceStatus status = document.source()->status();
        std::printf("%s first_screen_s %.3f complete_s %.3f shown_s %.3f cpu_s %.3f lines %llu "
                    "bytes %llu%s\n",
                    compressionName(format), firstScreen, complete, shown, cpu,
                    static_cast<unsigned long long>(document.lineCount()),
                    static_cast<unsigned long long>(status.spooled),
                    status.phase == SourceStatus::Phase::Ended ? "" : " (not complete)");
        std::fflush(stdout);
        document.closeDocument();
    }
    for (const char* name : {"/user.reg", "/user.reg.lock", "/machine.reg"}) {
        std::remove((settingsDir + name).c_str());
    }
    ::rmdir(settingsDir.c_str());
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 4 && std::strcmp(argv[1], "open") == 0) {
        return open(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 1);
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS [FOLDER]] | open FILE FOLDER [RUNS]\n", argv[0]);
        return 2;
    }
    const bool toFile = argc > 3 && std::strcmp(argv[3], "-") != 0;
    return decompress(argv[1], argc > 2 ? std::atoi(argv[2]) : 3, toFile ? argv[3] : nullptr,
                      argc > 4 ? std::strtoul(argv[4], nullptr, 10) : DecompressWriteBytes);
}
