// Decompression speed of the engine's readers: decompresses a file (format told by its
// content) to /dev/null as the spool writer would write it, and prints the seconds taken
// and the output's MB/s, by the wall clock and by the process's processor time (which a
// busy shared machine disturbs far less). bench/decompress.sh runs it beside zcat, bzcat,
// xzcat and zstdcat.
//   quill_decompress_bench FILE [RUNS]    best of RUNS (default 3)

#include "engine/Decompressor.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const CompressionFormat format = DetectCompressionOfFile(argv[1]);
    if (format == CompressionFormat::None) {
        std::fprintf(stderr, "%s: not compressed\n", argv[1]);
        return 1;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    double best = 1e30;
    double bestCpu = 1e30;
    const auto cpuNow = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
    };
    std::uint64_t produced = 0;
    for (int run = 0; run < runs; ++run) {
        const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
        const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        std::atomic<bool> cancel{false};
        std::atomic<std::uint64_t> consumed{0};
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuNow();
        const DecompressResult result = DecompressStream(format, in, out, cancel, consumed, 0);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpuSeconds = cpuNow() - cpuStart;
        ::close(in);
        ::close(out);
        if (result.outcome != DecompressResult::Outcome::Complete) {
            std::fprintf(stderr, "%s: did not decompress completely (%s)\n", argv[1],
                         result.detail.c_str());
            return 1;
        }
        produced = result.produced;
        best = seconds < best ? seconds : best;
        bestCpu = cpuSeconds < bestCpu ? cpuSeconds : bestCpu;
    }
    std::printf("%s %.3f s %.1f MB/s cpu %.3f s %.1f MB/s\n", CompressionName(format), best,
                static_cast<double>(produced) / best / 1e6, bestCpu,
                static_cast<double>(produced) / bestCpu / 1e6);
    return 0;
}
