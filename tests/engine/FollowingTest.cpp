// Following a real file on a real watcher thread: growth, truncation, rotation, deletion,
// a file that appears, time-only changes, pause and resume, clear. The test plays the
// main frame: it handles the posted messages as the frame does (new-text flag, re-open).
// Every case runs twice with the same expectations: woken by change events with a poll
// timer so long that only the events can make it pass, and on a short poll timer alone.

#include "EngineTestSupport.h"

#include "diagnostics/TraceLog.h"
#include "engine/FileWatcher.h"
#include "engine/SafetyPoller.h"
#include "platform/FileChangeNotifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

using namespace quilltest;
using namespace std::chrono_literals;

namespace {

// The threads of this process: the watcher is one while it runs.
int threadCount()
{
    // ThreadSanitizer starts a thread of its own at the first thread a process creates;
    // one started and joined here makes that happen before anything is counted.
    // The shared safety poller's thread, started by the first watcher, stays for good: it is
    // started here too, so that the count is of the watchers' threads alone.
    static const bool s_warm = [] {
        std::thread([] {}).join();
        SafetyPoller& poller = SafetyPoller::shared();
        poller.remove(poller.add("/", std::chrono::hours(1), true, NameState{}, [] {}));
        return true;
    }();
    (void)s_warm;
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

// The thread count once it is `expected`, or after a second what it is then: a thread that
// was joined may still be listed for a moment while the kernel finishes its exit, and a
// busy machine makes that moment longer.
int threadCountOnceItIs(int expected)
{
    int count = threadCount();
    for (int wait = 0; wait < 200 && count != expected; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        count = threadCount();
    }
    return count;
}

// Events on: timers of an hour, so that only change events move the watcher.
WatchTiming testTiming(bool changeEvents)
{
    WatchTiming timing;
    timing.changeEvents = changeEvents;
    timing.poll = changeEvents ? 3600s : 10ms;
    timing.missingRetry = changeEvents ? 3600s : 5ms;
    timing.sizeRetry = 5ms;
    return timing;
}

class FollowingTest : public ::testing::TestWithParam<bool> {
  protected:
    FollowingTest()
    {
        settings.store.setBool(Setting::ShowEmptyFileWarning, true);
        host.missingAnswer = {true, false};
        doc.setWatchTiming(testTiming(GetParam()));
        path = settings.dir.file("follow.log");
    }
    ~FollowingTest() override { doc.closeDocument(); }

    void open(const std::string& bytes)
    {
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        ASSERT_TRUE(doc.isWatching());
        ASSERT_EQ(doc.hasChangeEvents(), GetParam());
    }

    // Handles posted messages as the main frame does until the condition holds.
    bool pumpUntil(const std::function<bool()>& condition)
    {
        while (!condition()) {
            FakeHost::Message message{};
            if (!host.nextMessage(message)) {
                return false;
            }
            if (message.id == FileMessage::Appended) {
                doc.setNewTextArrived(true);
            } else if (message.id == FileMessage::Reload) {
                ++reloads;
                doc.newDocument();
                doc.openDocument(u16(path));
            }
        }
        return true;
    }

    std::vector<std::u16string> lines()
    {
        std::vector<std::u16string> out;
        for (LineNumber i = 0; i < doc.lineCount(); ++i) {
            out.push_back(doc.line(i));
        }
        return out;
    }
    using Lines = std::vector<std::u16string>;

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
    int reloads = 0;
};

} // namespace

TEST_P(FollowingTest, AppendedLinesArriveAndRaiseTheNewTextFlag)
{
    open("one\n");
    appendFile(path, "two\nthree\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 3; }));
    EXPECT_EQ(lines(), (Lines{u"one", u"two", u"three"}));
    EXPECT_TRUE(doc.newTextArrived());
    EXPECT_EQ(doc.fileSizeBytes(), 14);
    EXPECT_EQ(reloads, 0);
}

TEST_P(FollowingTest, ALineWithoutLineFeedGrowsWhenItIsCompleted)
{
    open("one\n");
    appendFile(path, "par");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 2; }));
    EXPECT_TRUE(doc.lastLineOpen());
    EXPECT_EQ(doc.line(1), u"par");
    appendFile(path, "tial\r\nnext");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 3; }));
    EXPECT_EQ(lines(), (Lines{u"one", u"partial", u"next"}));
}

TEST_P(FollowingTest, CopyTruncateReopensFromTheStart)
{
    open("one\ntwo\nthree\n");
    writeFile(path, "new\n"); // truncated and rewritten shorter
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1 && doc.lineCount() == 1; }));
    EXPECT_EQ(lines(), Lines{u"new"});
    appendFile(path, "more\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"new", u"more"}));
}

TEST_P(FollowingTest, RotationByRenameReopensTheNewFileWhenItAppears)
{
    open("old 1\nold 2\n");
    ASSERT_EQ(::rename(path.c_str(), (path + ".1").c_str()), 0);
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1; }));
    EXPECT_EQ(host.questions, 1); // the re-open found it missing and asked
    EXPECT_EQ(doc.lineCount(), 0u);
    EXPECT_TRUE(doc.isWatching());
    writeFile(path, "fresh 1\nfresh 2\nfresh 3\n");
    ASSERT_TRUE(pumpUntil([&] { return reloads == 2 && doc.lineCount() == 3; }));
    EXPECT_EQ(lines(), (Lines{u"fresh 1", u"fresh 2", u"fresh 3"}));
}

TEST_P(FollowingTest, DeletedAndRecreatedShorterIsReopened)
{
    open("a long first line\nand another\n");
    ASSERT_EQ(::unlink(path.c_str()), 0);
    writeFile(path, "short\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 1 && doc.line(0) == u"short"; }));
    EXPECT_GE(reloads, 1);
}

TEST_P(FollowingTest, AFileReplacedByALongerOneIsReopenedNotContinued)
{
    open("old line\n");
    writeFile(path + ".new", "new first line, longer than the old file\nnew second\n");
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1 && doc.lineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"new first line, longer than the old file", u"new second"}));
}

TEST_P(FollowingTest, AMissingFileIsIndexedFromItsStartOnceItAppears)
{
    ASSERT_TRUE(doc.openDocument(u16(path)));
    EXPECT_EQ(host.questions, 1);
    EXPECT_TRUE(doc.isWatching());
    writeFile(path, "first\nsecond\n");
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1 && doc.lineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"first", u"second"}));
}

TEST_P(FollowingTest, PausedWhileWaitingForAMissingFileStillWaitsAfterResume)
{
    // A watcher stopped before it ever saw the file has no size to hand over; the next
    // one must wait for the file again instead of ending at once.
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    doc.startWatching();
    writeFile(path, "arrived\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 1; }));
    EXPECT_EQ(lines(), Lines{u"arrived"});
}

TEST_P(FollowingTest, AWriteThatChangesOnlyTheTimeIsAnnounced)
{
    for (const char* text : {"same\n", ""}) {
        SCOPED_TRACE(*text == '\0' ? "empty file" : text);
        open(text);
        const int before = host.appendedCount();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        const struct timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 10, st.st_mtim.tv_nsec}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        ASSERT_TRUE(pumpUntil([&] { return host.appendedCount() > before; }));
        EXPECT_EQ(lines(), *text == '\0' ? Lines{} : Lines{u"same"});
        EXPECT_TRUE(doc.newTextArrived());
        EXPECT_EQ(reloads, 0);
        doc.closeDocument();
        host.drain();
    }
}

TEST_P(FollowingTest, TextAppendedWhilePausedArrivesAtResume)
{
    open("one\n");
    doc.stopWatching();
    EXPECT_FALSE(doc.isWatching());
    appendFile(path, "two\n");
    EXPECT_EQ(doc.lineCount(), 1u); // no watcher runs
    doc.startWatching();
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"one", u"two"}));
    EXPECT_EQ(reloads, 0);
}

TEST_P(FollowingTest, ClearWhileRunningShowsOnlyLaterText)
{
    open("old 1\nold 2\n");
    doc.clearText();
    EXPECT_EQ(doc.lineCount(), 0u);
    EXPECT_TRUE(doc.isWatching());
    EXPECT_EQ(host.resets, 1);
    appendFile(path, "new\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 1; }));
    EXPECT_EQ(lines(), Lines{u"new"});
}

TEST_P(FollowingTest, ClearWhilePausedHoldsAcrossLaterPauseResumeCycles)
{
    open("old 1\nold 2\n");
    doc.stopWatching();
    appendFile(path, "while paused\n");
    doc.clearText();
    EXPECT_EQ(doc.lineCount(), 0u);
    EXPECT_FALSE(doc.isWatching());
    appendFile(path, "after clear\n");
    doc.startWatching();
    EXPECT_EQ(lines(), (Lines{u"while paused", u"after clear"})); // re-indexed at resume
    for (int cycle = 0; cycle < 3; ++cycle) {
        doc.stopWatching();
        appendFile(path, "cycle " + std::to_string(cycle) + "\n");
        doc.startWatching();
        ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == LineNumber(3 + cycle); }));
    }
    EXPECT_EQ(lines(),
              (Lines{u"while paused", u"after clear", u"cycle 0", u"cycle 1", u"cycle 2"}));
    EXPECT_EQ(reloads, 0);
}

TEST_P(FollowingTest, AStoppedWatcherIsGoneAndStaysQuiet)
{
    const int before = threadCount();
    open("x\n");
    EXPECT_EQ(threadCountOnceItIs(before + 1), before + 1);
    doc.stopWatching();
    EXPECT_EQ(threadCountOnceItIs(before), before);
    host.drain();
    appendFile(path, "y\n");
    // A second document follows the same file: once it has seen the line, a watcher of
    // the first one that still ran would have seen it too.
    FakeHost otherHost;
    LogDocument other(&otherHost, settings.store);
    other.setWatchTiming(testTiming(GetParam()));
    ASSERT_TRUE(other.openDocument(u16(path)));
    appendFile(path, "z\n");
    FakeHost::Message message{};
    while (other.lineCount() < 3 && otherHost.nextMessage(message)) {
    }
    ASSERT_EQ(other.lineCount(), 3u);
    other.closeDocument();
    EXPECT_EQ(host.appendedCount(), 0);
    EXPECT_EQ(host.reloadCount(), 0);
    EXPECT_EQ(doc.lineCount(), 1u);
}

TEST_P(FollowingTest, StartWhileWatchingContinuesFromTheRunningWatcher)
{
    const int before = threadCount();
    open("a\n");
    appendFile(path, "b\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 2; }));
    doc.startWatching(); // the document's own hand-over still says 2 bytes
    EXPECT_TRUE(doc.isWatching());
    EXPECT_EQ(threadCount(), before + 1);
    appendFile(path, "c\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.indexedEnd() >= 6; }));
    EXPECT_EQ(lines(), (Lines{u"a", u"b", u"c"}));
    EXPECT_EQ(doc.indexedEnd(), 6);
}

TEST_P(FollowingTest, AFileRewrittenInPlaceWithOtherBytesIsReopenedNotContinued)
{
    // Same inode, as long or longer, written between two polls: what a file truncated and
    // written again, or deleted and re-created at once with the inode number of the old
    // one, looks like. Log lines often end alike, so the bytes just before the old end can
    // be the same in both; so can a header at the start.
    const auto log = [](const char* stamp, int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += std::string(stamp) + " job " + std::to_string(100 + i) +
                    " finished without any error, the queue is empty again\n";
        }
        return text;
    };
    const std::string header = "# " + std::string(140, '=') + "\n";
    struct Row {
        const char* name;
        std::string before;
        std::string after;
    };
    for (const Row& row :
         {Row{"other bytes before the old end", "first version\n", "second version, longer\n"},
          Row{"lines that end alike, longer", log("12:00:01", 3), log("12:00:02", 5)},
          Row{"lines that end alike, same size", log("12:00:01", 3), log("12:00:02", 3)},
          Row{"same header, lines that end alike", header + log("12:00:01", 3),
              header + log("12:00:02", 4)},
          Row{"same header, same size", header + log("12:00:01", 3), header + log("12:00:02", 3)},
          Row{"same size, only the first byte differs", "a" + log("12:00:01", 3),
              "b" + log("12:00:01", 3)}}) {
        SCOPED_TRACE(row.name);
        reloads = 0;
        open(row.before);
        doc.stopWatching();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        writeFile(path, row.after);
        // Later by a second: two writes within one clock tick of the file system would
        // leave the same times, and a file of the same size would then look unchanged.
        const struct timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 1, st.st_mtim.tv_nsec}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        struct stat now {};
        ASSERT_EQ(::stat(path.c_str(), &now), 0);
        ASSERT_EQ(now.st_ino, st.st_ino);
        doc.startWatching();
        ASSERT_TRUE(pumpUntil([&] { return reloads == 1; }));
        Lines expected;
        for (std::size_t at = 0; at < row.after.size();) {
            const std::size_t lf = row.after.find('\n', at);
            expected.push_back(u16(row.after.substr(at, lf - at)));
            at = lf + 1;
        }
        EXPECT_EQ(lines(), expected);
        doc.closeDocument();
        host.drain();
    }

    // The file was short when it was opened: what the watcher read later counts as its
    // start too. Only the first line after the header differs.
    reloads = 0;
    open("# log\n");
    const std::string lines3 = log("12:00:01", 3);
    appendFile(path, lines3);
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 4; }));
    appendFile(path, "12:00:01 one more\n"); // a continuation all the same
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 5; }));
    EXPECT_EQ(reloads, 0);
    doc.stopWatching();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    writeFile(path, "# log\n" + log("12:00:02", 1) + lines3.substr(lines3.find('\n') + 1) +
                        "12:00:01 one more\n");
    const struct timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 1, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    doc.startWatching();
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1; }));
    EXPECT_EQ(doc.line(1).substr(0, 8), u"12:00:02");
}

TEST_P(FollowingTest, ARewriteThatRestoresTheModificationTimeIsStillSeen)
{
    struct Row {
        const char* name;
        std::string after;
    };
    for (const Row& row : {Row{"truncated shorter", "x\n"}, Row{"same size", "ONE\nTWO\n"}}) {
        SCOPED_TRACE(row.name);
        reloads = 0;
        open("one\ntwo\n");
        doc.stopWatching();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        writeFile(path, row.after);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        doc.startWatching();
        ASSERT_TRUE(pumpUntil([&] { return reloads == 1; }));
        std::vector<std::u16string> expected;
        for (std::size_t at = 0; at < row.after.size();) {
            const std::size_t lf = row.after.find('\n', at);
            expected.push_back(u16(row.after.substr(at, lf - at)));
            at = lf + 1;
        }
        EXPECT_EQ(lines(), expected);
        doc.closeDocument();
        host.drain();
    }
}

TEST_P(FollowingTest, AFileWithoutSizeIsShownOnceAndNotReloaded)
{
    // /proc files report size 0 and read as text.
    path = "/proc/self/maps";
    ASSERT_TRUE(doc.openDocument(u16(path)));
    const LineNumber count = doc.lineCount();
    EXPECT_GT(count, 0u);
    EXPECT_TRUE(doc.isWatching());
    // The watcher polls at once when it starts; in poll mode it polls many times more.
    FakeHost::Message message{};
    EXPECT_FALSE(host.nextMessage(message, 200ms)) << int(message.id);
    EXPECT_EQ(doc.lineCount(), count);
}

INSTANTIATE_TEST_SUITE_P(Modes, FollowingTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "ChangeEvents" : "PollOnly";
                         });

namespace {

int failingInit(int flags)
{
    return quill::NotifierCalls::system().init(flags);
}

int exhaustedAddWatch(int, const char*, std::uint32_t)
{
    errno = ENOSPC; // what inotify_add_watch says when the user's watch limit is reached
    return -1;
}

} // namespace

TEST(FollowingFallback, AnExhaustedWatchLimitFallsBackToPollingAndIsTraced)
{
    TestSettings settings;
    FakeHost host;
    const std::string path = settings.dir.file("limit.log");
    TraceLog& trace = TraceLog::instance();
    trace.openLog(settings.dir.file("trace.log"), 1, -1);
    const quill::NotifierCalls exhausted{failingInit, exhaustedAddWatch};
    WatchTiming timing = testTiming(false);
    timing.changeEvents = true;
    timing.notifierCalls = &exhausted;
    LogDocument doc(&host, settings.store);
    doc.setWatchTiming(timing);
    writeFile(path, "one\n");
    ASSERT_TRUE(doc.openDocument(u16(path)));
    EXPECT_TRUE(doc.isWatching());
    EXPECT_FALSE(doc.hasChangeEvents());
    trace.closeLog();
    const std::string traced = readFile(settings.dir.file("trace.log"));
    EXPECT_NE(traced.find("No change events for " + path), std::string::npos) << traced;

    appendFile(path, "two\n");
    FakeHost::Message message{};
    while (doc.lineCount() < 2 && host.nextMessage(message)) {
    }
    EXPECT_EQ(doc.line(1), u"two");
    doc.closeDocument();
}

// With the program's own intervals: change events, a 500 ms poll and 250 ms waits.
TEST(FollowingRealTime, DefaultIntervalsFollowAnAppendAndAFileThatAppears)
{
    TestSettings settings;
    FakeHost host;
    host.missingAnswer = {true, false};
    const std::string path = settings.dir.file("real.log");
    LogDocument doc(&host, settings.store);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    writeFile(path, "appeared\n");
    FakeHost::Message message{};
    ASSERT_TRUE(host.nextMessage(message));
    EXPECT_EQ(message.id, FileMessage::Reload);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    EXPECT_EQ(doc.lineCount(), 1u);

    appendFile(path, "more\n");
    ASSERT_TRUE(host.nextMessage(message));
    EXPECT_EQ(message.id, FileMessage::Appended);
    EXPECT_EQ(doc.line(1), u"more");
    doc.closeDocument();
}

TEST(QueryFileSize, SizesOfRegularFilesOnly)
{
    TempDir dir;
    writeFile(dir.file("f"), "12345");
    EXPECT_EQ(queryFileSize(dir.file("f")), 5);
    EXPECT_EQ(queryFileSize(dir.file("missing")), -1);
    EXPECT_EQ(queryFileSize(dir.path()), -1);
    EXPECT_EQ(queryFileSize("/dev/zero"), -1);
}
