// How soon a rotated set shows against the same bytes as one file.
//
//   quill_rotated_bench one FILE [RUNS]
//        a document opens FILE and indexes it: seconds until openDocument returns
//   quill_rotated_bench set FOLDER LIVE [RUNS]
//        what the window does with LIVE and the rotated files beside it (spooled in FOLDER):
//        seconds until the index holds the first screen (50 lines), until the older files
//        are written, and until the document holds everything the set spooled (the end,
//        which a followed log shows first)
// Each prints wall seconds and the processor time of all the process's threads.

#include "bench/QuietHost.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/RotatedSiblings.h"
#include "platform/FileName.h"
#include "settings/SettingsStore.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using quillbench::QuietHost;

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

struct Settings {
    Settings()
    {
        char pattern[] = "/tmp/quillrotated-XXXXXX";
        folder = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        store = std::make_unique<SettingsStore>(folder + "/user.reg", folder + "/machine.reg");
    }
    ~Settings()
    {
        store.reset();
        for (const char* name : {"/user.reg", "/user.reg.lock", "/machine.reg"}) {
            std::remove((folder + name).c_str());
        }
        ::rmdir(folder.c_str());
    }
    std::string folder;
    std::unique_ptr<SettingsStore> store;
};

int openOne(const char* path, int runs)
{
    Settings settings;
    for (int run = 0; run < runs; ++run) {
        QuietHost host;
        LogDocument document(&host, *settings.store);
        const auto start = Clock::now();
        const double cpuStart = cpuNow();
        if (!document.openDocument(quill::fileNameToUtf16(path))) {
            return 1;
        }
        std::printf("one shown_s %.3f cpu_s %.3f lines %llu\n", since(start), cpuNow() - cpuStart,
                    static_cast<unsigned long long>(document.lineCount()));
        std::fflush(stdout);
        document.closeDocument();
    }
    return 0;
}

int openSet(const char* folder, const char* live, int runs)
{
    Settings settings;
    for (int run = 0; run < runs; ++run) {
        QuietHost host;
        LogDocument document(&host, *settings.store);
        SourceOptions options;
        options.folder = folder;
        options.reserveBytes = 0;
        int error = 0;
        const auto start = Clock::now();
        const double cpuStart = cpuNow();
        const RotatedSiblings siblings = findRotatedSiblings(live);
        std::unique_ptr<LogSource> source =
            LogSource::followRotated(siblings.members, live, u"bench", options, error);
        if (!source) {
            std::fprintf(stderr, "%s: %s\n", live, std::strerror(error));
            return 1;
        }
        document.openSource(std::move(source));
        double firstScreen = -1;
        double written = -1;
        for (;;) {
            if (firstScreen < 0 && document.lineCount() >= 50) {
                firstScreen = since(start);
            }
            const SourceStatus status = document.source()->status();
            if (written < 0 && status.following) {
                written = since(start);
            }
            if (status.following && status.spooled > 0 &&
                document.indexedEnd() >= FileOffset(status.spooled)) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::printf("set members %zu first_screen_s %.3f written_s %.3f shown_s %.3f cpu_s %.3f "
                    "lines %llu\n",
                    siblings.members.size(), firstScreen, written, since(start),
                    cpuNow() - cpuStart, static_cast<unsigned long long>(document.lineCount()));
        std::fflush(stdout);
        document.closeDocument();
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 3 && std::strcmp(argv[1], "one") == 0) {
        return openOne(argv[2], argc > 3 ? std::atoi(argv[3]) : 1);
    }
    if (argc >= 4 && std::strcmp(argv[1], "set") == 0) {
        return openSet(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 1);
    }
    std::fprintf(stderr, "usage: %s one FILE [RUNS] | set FOLDER LIVE [RUNS]\n", argv[0]);
    return 2;
}
