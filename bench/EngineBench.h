#pragma once

// What the engine's benchmarks (quill_bench) share: the host whose loop takes the watcher's
// messages, private settings, the clocks and counters read, and each command's entry.

#include "bench/QuietHost.h"
#include "engine/DocumentHost.h"
#include "engine/DocumentTimeIndex.h"
#include "engine/FilterPattern.h"
#include "engine/KeywordLines.h"
#include "engine/KeywordMatcher.h"
#include "engine/KeywordScan.h"
#include "engine/LineFilter.h"
#include "engine/LineTime.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/TimelineCounts.h"
#include "platform/AvailableMemory.h"
#include "platform/NarrowCodec.h"
#include "platform/ReadOnlyFile.h"
#include "settings/SettingsStore.h"
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace quillbench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The main window's stand-in: the watcher's messages queue up and the benchmark's main
// thread takes them one by one, as the frame's event loop does.
class LoopHost : public QuietHost {
  public:
    void postFileAppended() override
    {
        QuietHost::postFileAppended();
        queue(FileMessage::Appended);
    }
    void postFileReload() override
    {
        QuietHost::postFileReload();
        queue(FileMessage::Reload);
    }
    void postFileUnreadable(int error) override
    {
        QuietHost::postFileUnreadable(error);
        queue(FileMessage::Unreadable);
    }
    // The next message, or none when none came within the time.
    std::optional<FileMessage> next(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        if (!m_cond.wait_for(lock, timeout, [this] { return !m_queue.empty(); })) {
            return std::nullopt;
        }
        const FileMessage message = m_queue.front();
        m_queue.pop_front();
        return message;
    }

  private:
    void queue(FileMessage message)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(message);
        }
        m_cond.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<FileMessage> m_queue;
};

// What the view's paint at the end of the file reads: the last screen of lines.
inline std::u16string paintLastScreen(LogDocument& doc)
{
    std::lock_guard lock(doc.docAccess());
    const LineNumber count = doc.lineCount();
    std::u16string last;
    for (LineNumber line = count > 50 ? count - 50 : 0; line < count; ++line) {
        last = doc.line(line);
    }
    return last;
}

inline WatchTiming benchTiming(bool changeEvents)
{
    WatchTiming timing;
    timing.changeEvents = changeEvents;
    return timing;
}

// Settings in a private folder, so that a benchmark never touches the user's.
struct BenchSettings {
    BenchSettings()
    {
        char pattern[] = "/tmp/quillbench-XXXXXX";
        dir = mkdtemp(pattern) ? pattern : "/tmp";
        store = std::make_unique<SettingsStore>(dir + "/user.reg", dir + "/machine.reg");
    }
    ~BenchSettings()
    {
        std::remove((dir + "/user.reg").c_str());
        std::remove((dir + "/user.reg.lock").c_str());
        std::remove((dir + "/machine.reg").c_str());
        ::rmdir(dir.c_str());
    }
    std::string dir;
    std::unique_ptr<SettingsStore> store;
};

inline void warm(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return;
    }
    std::vector<char> buffer(1 << 20);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

inline long statusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field));
        }
    }
    return 0;
}

inline double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline std::u16string u16(const std::string& s)
{
    return quill::narrowToUtf16(s);
}

inline const char* const LastLineMarker = "QUILL-LAST-LINE-MARKER zebra";

int generate(const std::string& path, long mib);
int generateColoured(const std::string& path, long mib, long percent);
int generateLines(const std::string& path, long mib, long minLength, long maxLength);
int indexBench(const std::string& path, unsigned threads);
int timesBench(const std::string& path);
int mergedMemoryBench(long millionLines);
int mergedOpenBench(const std::string& first, const std::string& second);
int mergedSaveBench(const std::string& first, const std::string& second, const std::string& out);
int mergedMapBench(long millionLines);
int mergedFilterBench(long millionLines);
void indexShortLines(bool alternate);
int yesBench(const std::string& dir, double secondsToRun, long figureMib, bool alternate);
int getlineBench(const std::string& path, int count);
int findBench(const std::string& path, const std::string& text, const std::string& flagText);
pid_t startWriter(const std::string& path, double duration, double mbps, int go, int report);
int followBench(const std::string& dir, double duration, double mbps, bool changeEvents);
int latencyBench(const std::string& dir, int samples, bool changeEvents);
int idleBench(const std::string& path, double duration, bool changeEvents);
int followFilterBench(const std::string& dir, double duration, double mbps,
                      const std::string& filterText);
int filterBench(const std::string& path, const std::string& text, const std::string& flagText);
int saveBench(const std::string& path, const std::string& text, const std::string& out);
void printTimes(const char* name, std::vector<double> ms);
int slowPatternBench(const std::string& dir, int lineCount, std::size_t lineBytes);
std::vector<Keyword> overviewKeywords();
int keywordScanBench(const std::string& path);
int overviewBench(const std::string& path);
int jumpBench(const std::string& path);
int keywordsBench(int count);
int longLineBench(const std::string& dir, long mib);
int lineTimeBench(const std::string& path);
int timelineBench(const std::string& path);

} // namespace quillbench
