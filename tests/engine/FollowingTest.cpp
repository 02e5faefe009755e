// Following a real file on a real watcher thread: growth, truncation, rotation, deletion,
// a file that appears, time-only changes, pause and resume, clear. The test plays the
// main frame: it handles the posted messages as the frame does (new-text flag, re-open).

#include "EngineTestSupport.h"

#include "engine/FileWatcher.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace quilltest;
using namespace std::chrono_literals;

namespace {

class FollowingTest : public ::testing::Test {
  protected:
    FollowingTest()
    {
        settings.store.SetBool(Setting::ShowEmptyFileWarning, true);
        host.missingAnswer = {true, false};
        doc.SetWatchTiming(WatchTiming{10ms, 5ms, 5ms});
        path = settings.dir.file("follow.log");
    }
    ~FollowingTest() override { doc.OnCloseDocument(); }

    void open(const std::string& bytes)
    {
        writeFile(path, bytes);
        ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
        ASSERT_TRUE(doc.IsWatching());
    }

    // Handles posted messages as the main frame does until the condition holds.
    bool pumpUntil(const std::function<bool()>& condition)
    {
        while (!condition()) {
            FakeHost::Message message{};
            if (!host.nextMessage(message)) {
                return false;
            }
            if (message.id == WM_FILE_APPENDED) {
                doc.SetNewTextArrived(message.wParam != 0);
            } else if (message.id == WM_FILE_RELOAD) {
                ++reloads;
                doc.OnNewDocument();
                doc.OnOpenDocument(u16(path));
            }
        }
        return true;
    }

    std::vector<std::u16string> lines()
    {
        std::vector<std::u16string> out;
        for (LineNumber i = 0; i < doc.GetLineCount(); ++i) {
            out.push_back(doc.GetLine(i));
        }
        return out;
    }
    using Lines = std::vector<std::u16string>;

    TestSettings settings;
    FakeHost host;
    CBrackenlyDoc doc{&host, settings.store};
    std::string path;
    int reloads = 0;
};

} // namespace

TEST_F(FollowingTest, AppendedLinesArriveAndRaiseTheNewTextFlag)
{
    open("one\n");
    appendFile(path, "two\nthree\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 3; }));
    EXPECT_EQ(lines(), (Lines{u"one", u"two", u"three"}));
    EXPECT_TRUE(doc.GetNewTextArrived());
    EXPECT_EQ(doc.GetFileSizeBytes(), 14);
    EXPECT_EQ(reloads, 0);
}

TEST_F(FollowingTest, ALineWithoutLineFeedGrowsWhenItIsCompleted)
{
    open("one\n");
    appendFile(path, "par");
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 2; }));
    EXPECT_TRUE(doc.LastLineOpen());
    EXPECT_EQ(doc.GetLine(1), u"par");
    appendFile(path, "tial\r\nnext");
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 3; }));
    EXPECT_EQ(lines(), (Lines{u"one", u"partial", u"next"}));
}

TEST_F(FollowingTest, CopyTruncateReopensFromTheStart)
{
    open("one\ntwo\nthree\n");
    writeFile(path, "new\n"); // truncated and rewritten shorter
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1 && doc.GetLineCount() == 1; }));
    EXPECT_EQ(lines(), Lines{u"new"});
    appendFile(path, "more\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"new", u"more"}));
}

TEST_F(FollowingTest, RotationByRenameReopensTheNewFileWhenItAppears)
{
    open("old 1\nold 2\n");
    ASSERT_EQ(::rename(path.c_str(), (path + ".1").c_str()), 0);
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1; }));
    EXPECT_EQ(host.questions, 1); // the re-open found it missing and asked
    EXPECT_EQ(doc.GetLineCount(), 0u);
    EXPECT_TRUE(doc.IsWatching());
    writeFile(path, "fresh 1\nfresh 2\nfresh 3\n");
    ASSERT_TRUE(pumpUntil([&] { return reloads == 2 && doc.GetLineCount() == 3; }));
    EXPECT_EQ(lines(), (Lines{u"fresh 1", u"fresh 2", u"fresh 3"}));
}

TEST_F(FollowingTest, DeletedAndRecreatedShorterIsReopened)
{
    open("a long first line\nand another\n");
    ASSERT_EQ(::unlink(path.c_str()), 0);
    writeFile(path, "short\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 1 && doc.GetLine(0) == u"short"; }));
    EXPECT_GE(reloads, 1);
}

TEST_F(FollowingTest, AFileReplacedByALongerOneIsReopenedNotContinued)
{
    open("old line\n");
    writeFile(path + ".new", "new first line, longer than the old file\nnew second\n");
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1 && doc.GetLineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"new first line, longer than the old file", u"new second"}));
}

TEST_F(FollowingTest, AMissingFileIsIndexedFromItsStartOnceItAppears)
{
    ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
    EXPECT_EQ(host.questions, 1);
    EXPECT_TRUE(doc.IsWatching());
    writeFile(path, "first\nsecond\n");
    ASSERT_TRUE(pumpUntil([&] { return reloads == 1 && doc.GetLineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"first", u"second"}));
}

TEST_F(FollowingTest, PausedWhileWaitingForAMissingFileStillWaitsAfterResume)
{
    // A watcher stopped before it ever saw the file has no size to hand over; the next
    // one must wait for the file again instead of ending at once.
    ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
    doc.StopWatching();
    doc.StartWatching();
    writeFile(path, "arrived\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 1; }));
    EXPECT_EQ(lines(), Lines{u"arrived"});
}

TEST_F(FollowingTest, AWriteThatChangesOnlyTheTimeIsAnnounced)
{
    open("same\n");
    const int before = host.appendedCount();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const struct timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 10, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_TRUE(pumpUntil([&] { return host.appendedCount() > before; }));
    EXPECT_EQ(lines(), Lines{u"same"});
    EXPECT_TRUE(doc.GetNewTextArrived());
    EXPECT_EQ(reloads, 0);
}

TEST_F(FollowingTest, TextAppendedWhilePausedArrivesAtResume)
{
    open("one\n");
    doc.StopWatching();
    EXPECT_FALSE(doc.IsWatching());
    appendFile(path, "two\n");
    EXPECT_EQ(doc.GetLineCount(), 1u); // no watcher runs
    doc.StartWatching();
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 2; }));
    EXPECT_EQ(lines(), (Lines{u"one", u"two"}));
    EXPECT_EQ(reloads, 0);
}

TEST_F(FollowingTest, ClearWhileRunningShowsOnlyLaterText)
{
    open("old 1\nold 2\n");
    doc.ClearText();
    EXPECT_EQ(doc.GetLineCount(), 0u);
    EXPECT_TRUE(doc.IsWatching());
    EXPECT_EQ(host.resets, 1);
    appendFile(path, "new\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == 1; }));
    EXPECT_EQ(lines(), Lines{u"new"});
}

TEST_F(FollowingTest, ClearWhilePausedHoldsAcrossLaterPauseResumeCycles)
{
    open("old 1\nold 2\n");
    doc.StopWatching();
    appendFile(path, "while paused\n");
    doc.ClearText();
    EXPECT_EQ(doc.GetLineCount(), 0u);
    EXPECT_FALSE(doc.IsWatching());
    appendFile(path, "after clear\n");
    doc.StartWatching();
    EXPECT_EQ(lines(), (Lines{u"while paused", u"after clear"})); // re-indexed at resume
    for (int cycle = 0; cycle < 3; ++cycle) {
        doc.StopWatching();
        appendFile(path, "cycle " + std::to_string(cycle) + "\n");
        doc.StartWatching();
        ASSERT_TRUE(pumpUntil([&] { return doc.GetLineCount() == LineNumber(3 + cycle); }));
    }
    EXPECT_EQ(lines(),
              (Lines{u"while paused", u"after clear", u"cycle 0", u"cycle 1", u"cycle 2"}));
    EXPECT_EQ(reloads, 0);
}

TEST_F(FollowingTest, StopReturnsPromptlyAndAStoppedWatcherStaysQuiet)
{
    open("x\n");
    doc.StopWatching();
    host.drain();
    appendFile(path, "y\n");
    EXPECT_EQ(host.appendedCount(), 0);
    EXPECT_EQ(doc.GetLineCount(), 1u);
}

// With the program's own intervals (500 ms polls, 250 ms waits for a missing file).
TEST(FollowingRealTime, DefaultIntervalsFollowAnAppendAndAFileThatAppears)
{
    TestSettings settings;
    FakeHost host;
    host.missingAnswer = {true, false};
    const std::string path = settings.dir.file("real.log");
    CBrackenlyDoc doc(&host, settings.store);
    ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
    const auto start = std::chrono::steady_clock::now();
    writeFile(path, "appeared\n");
    FakeHost::Message message{};
    ASSERT_TRUE(host.nextMessage(message));
    EXPECT_EQ(message.id, WM_FILE_RELOAD);
    EXPECT_EQ(message.wParam, 0u);
    // Found within one missing-file wait, then reported after the next poll.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
    EXPECT_EQ(doc.GetLineCount(), 1u);

    appendFile(path, "more\n");
    ASSERT_TRUE(host.nextMessage(message));
    EXPECT_EQ(message.id, WM_FILE_APPENDED);
    EXPECT_EQ(message.wParam, 1u);
    EXPECT_EQ(message.lParam, 0);
    EXPECT_EQ(doc.GetLine(1), u"more");
    doc.OnCloseDocument();
}

TEST(QueryFileSize, SizesOfRegularFilesOnly)
{
    TempDir dir;
    writeFile(dir.file("f"), "12345");
    EXPECT_EQ(QueryFileSize(dir.file("f")), 5);
    EXPECT_EQ(QueryFileSize(dir.file("missing")), -1);
    EXPECT_EQ(QueryFileSize(dir.path()), -1);
    EXPECT_EQ(QueryFileSize("/dev/zero"), -1);
}
