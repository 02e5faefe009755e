// The line index bounded by memory, on a real file and a real pipe followed by a real
// watcher: a small memory figure given to the document stands for the machine's. Appends in
// random pieces run past the bound; the index stops before it with every line before as
// written, says why, takes nothing more however much arrives, and a reload measures again.

#include "EngineTestSupport.h"

#include "engine/LogSource.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

using namespace quilltest;
using namespace std::chrono_literals;

namespace {

using Stop = LogDocument::IndexStop;

WatchTiming quickTiming()
{
    WatchTiming timing;
    timing.changeEvents = false;
    timing.poll = 2ms;
    timing.missingRetry = 2ms;
    timing.sizeRetry = 2ms;
    return timing;
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = 20s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// What the watcher hands to readers of new lines (the filter): all must lie within the
// indexed lines.
class Recorder : public LogDocument::AppendListener {
  public:
    void textAppended(FileOffset offset, const std::uint8_t* bytes, std::size_t n) override
    {
        std::lock_guard lock(mutex);
        if (first < 0) {
            first = offset;
        }
        if (offset != first + FileOffset(told.size())) {
            gaps = true;
        }
        told.append(reinterpret_cast<const char*>(bytes), n);
    }
    void indexRestarted() override
    {
        std::lock_guard lock(mutex);
        told.clear();
        first = -1;
    }
    std::mutex mutex;
    FileOffset first = -1; // the offset of the first byte told
    std::string told;
    bool gaps = false;
};

// Random lines of the given kind, each without its line feed.
std::string randomLine(std::mt19937& rng, int kind, std::size_t number)
{
    switch (kind) {
    case 0:
        return "y";
    case 1:
        return std::string(rng() % 30, char('a' + number % 26));
    default:
        return std::to_string(number) + std::string(rng() % 200 == 0 ? 400 : rng() % 20, '.');
    }
}

class IndexBoundTest : public ::testing::Test {
  protected:
    IndexBoundTest()
    {
        doc.setWatchTiming(quickTiming());
        doc.setAvailableMemory([this] { return figure.load(); });
        doc.addAppendListener(&recorder);
        path = settings.dir.file("grows.log");
    }
    ~IndexBoundTest() override
    {
        doc.closeDocument();
        doc.removeAppendListener(&recorder);
    }

    // Handles what the watcher posts as the frame does, until the condition holds.
    bool pumpUntil(const std::function<bool()>& condition)
    {
        while (!condition()) {
            FakeHost::Message message{};
            if (!host.nextMessage(message, 20s)) {
                return false;
            }
            if (message.id == FileMessage::Reload) {
                doc.openDocument(u16(path));
            }
        }
        return true;
    }

    // The document's lines are the model's first lines, each as written.
    void expectModelPrefix(const std::vector<std::string>& model, LineNumber count)
    {
        ASSERT_EQ(doc.lineCount(), count);
        ASSERT_LE(count, model.size());
        for (LineNumber i = 0; i < count; ++i) {
            ASSERT_EQ(doc.line(i), u16(model[i])) << "line " << i;
        }
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    Recorder recorder;
    std::atomic<std::uint64_t> figure{200000};
    std::string path;
};

} // namespace

TEST_F(IndexBoundTest, AGrowingFileStopsBeforeTheBoundKeepsItsLinesAndReloadMeasuresAgain)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const int kind = int(seed % 3);
        // A third of the lines at the open, the rest appended in pieces of any size, cut
        // anywhere, until well past the bound.
        figure = kind == 0 ? 30000 : 200000;
        const std::uint64_t bound = figure / 2;
        std::vector<std::string> model;
        std::string bytes;
        const std::size_t total = kind == 0 ? 1000000 : 200000;
        for (std::size_t i = 0; i < total; ++i) {
            model.push_back(randomLine(rng, kind, i));
            bytes += model.back() + '\n';
        }
        std::size_t written = std::size_t(rng() % (bytes.size() / 3));
        writeFile(path, bytes.substr(0, written));
        host.drain();
        ASSERT_TRUE(doc.openDocument(u16(path)));
        while (written < bytes.size()) {
            const std::size_t n = std::min(bytes.size() - written,
                                           std::size_t(1 + rng() % (rng() % 4 == 0 ? 7 : 90000)));
            appendFile(path, bytes.substr(written, n));
            written += n;
            if (rng() % 8 == 0) {
                ASSERT_TRUE(pumpUntil([&] {
                    return doc.indexedEnd() == FileOffset(written) ||
                           doc.indexStopped().limit != Stop::Limit::None;
                }));
            }
        }
        ASSERT_TRUE(pumpUntil([&] { return doc.indexStopped().limit != Stop::Limit::None; }));
        const Stop stop = doc.indexStopped();
        EXPECT_EQ(stop.limit, Stop::Limit::Memory);
        EXPECT_EQ(stop.bound, bound);
        EXPECT_LE(doc.indexMemoryBytes(), bound);
        // Not far below it either: the next block's room would not have fitted.
        EXPECT_GT(doc.indexMemoryBytes() + 1300, bound);
        EXPECT_EQ(stop.lines, doc.lineCount());
        EXPECT_LT(stop.lines, model.size());
        expectModelPrefix(model, stop.lines);
        std::size_t keptBytes = 0;
        for (LineNumber i = 0; i < stop.lines; ++i) {
            keptBytes += model[i].size() + 1;
        }
        EXPECT_EQ(doc.indexedEnd(), FileOffset(keptBytes));
        {
            // Readers of new lines were told of the kept lines' bytes, none beyond.
            std::lock_guard lock(recorder.mutex);
            EXPECT_FALSE(recorder.gaps);
            if (recorder.first >= 0) { // (else it stopped at the open)
                EXPECT_EQ(recorder.first + FileOffset(recorder.told.size()), doc.indexedEnd());
                EXPECT_TRUE(recorder.told ==
                            bytes.substr(std::size_t(recorder.first), recorder.told.size()));
            }
        }
        // More arrives: nothing changes, nothing breaks.
        for (int more = 0; more < 5; ++more) {
            appendFile(path, "after the stop\n");
            host.drain();
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(doc.lineCount(), stop.lines);
        EXPECT_EQ(doc.indexStopped().serial, stop.serial);
        EXPECT_EQ(doc.line(stop.lines - 1), u16(model[stop.lines - 1]));
        // A reload with the same figure stops at the same line, as a new stop.
        ASSERT_TRUE(doc.openDocument(u16(path)));
        EXPECT_EQ(doc.indexStopped().lines, stop.lines);
        EXPECT_NE(doc.indexStopped().serial, stop.serial);
        // With room, a reload indexes it all.
        figure = 1ull << 30;
        ASSERT_TRUE(doc.openDocument(u16(path)));
        EXPECT_EQ(doc.indexStopped().limit, Stop::Limit::None);
        model.insert(model.end(), 5, "after the stop");
        ASSERT_EQ(doc.lineCount(), model.size());
        for (LineNumber i = stop.lines - 1000; i < model.size(); ++i) {
            ASSERT_EQ(doc.line(i), u16(model[i])) << "line " << i;
        }
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST_F(IndexBoundTest, APipeStopsBeingReadWhenTheIndexIsFull)
{
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    SourceOptions options;
    options.folder = settings.dir.file("spool");
    options.reserveBytes = 0;
    int error = 0;
    auto made = LogSource::followStream(fds[0], u"standard input", options, error);
    ASSERT_TRUE(made) << error;
    LogSource* source = made.get();
    ASSERT_TRUE(doc.openSource(std::move(made)));
    // Numbered lines as fast as the pipe takes them, until it takes no more for a while.
    std::vector<std::string> model;
    std::string pending;
    std::mt19937 rng(37);
    auto stalled = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - stalled < 1s) {
        while (pending.size() < 65536) {
            model.push_back(randomLine(rng, 2, model.size()));
            pending += model.back() + '\n';
        }
        const ssize_t put = ::write(fds[1], pending.data(), 1 + rng() % pending.size());
        if (put > 0) {
            pending.erase(0, std::size_t(put));
            stalled = std::chrono::steady_clock::now();
        } else {
            ASSERT_EQ(errno, EAGAIN);
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_LT(model.size(), 5000000u) << "the pipe was read on and on";
    }
    ASSERT_TRUE(waitFor([&] { return doc.indexStopped().limit != Stop::Limit::None; }));
    const SourceStatus status = source->status();
    EXPECT_EQ(status.phase, SourceStatus::Phase::Failed);
    EXPECT_EQ(status.problem, SourceStatus::Problem::IndexFull);
    const Stop stop = doc.indexStopped();
    EXPECT_EQ(stop.limit, Stop::Limit::Memory);
    EXPECT_LE(doc.indexMemoryBytes(), figure / 2);
    expectModelPrefix(model, stop.lines);
    // The spool does not grow any more.
    const std::uint64_t spooled = status.spooled;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(source->status().spooled, spooled);
    // The program's own standard input stays open, as here: the writer waits, unharmed.
    ::close(fds[1]);
    ::close(fds[0]);
}
