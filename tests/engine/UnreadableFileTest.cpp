// Following a file that cannot be read for a while: no permission (simulated through the
// file calls, so the cases hold when the tests run as root, and for real when they do not),
// its name taken by a folder or a FIFO, read errors. The lines read stay, the document says
// why, and once the file can be read it shows the file's lines, all of them. The test plays
// the main frame, Reload included (an unreadable file is not reopened: it is watched on).

#include "EngineTestSupport.h"

#include "engine/FileWatcher.h"
#include "platform/ReadOnlyFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace quilltest;
using namespace std::chrono_literals;

namespace {

std::atomic<bool> s_denyOpen{false};
std::atomic<bool> s_failReads{false};

int deniableOpen(const char* path, int flags)
{
    if (s_denyOpen.load()) {
        errno = EACCES;
        return -1;
    }
    return ::open(path, flags);
}

std::int64_t failablePread(int fd, void* buffer, std::size_t n, std::int64_t offset)
{
    if (s_failReads.load()) {
        errno = EIO;
        return -1;
    }
    return ::pread(fd, buffer, n, off_t(offset));
}

const quill::FileCalls s_testCalls{deniableOpen, failablePread};

bool swapNames(const std::string& a, const std::string& b)
{
    return ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

std::string numberedLines(int from, int count, const std::string& tag)
{
    std::string text;
    for (int i = from; i < from + count; ++i) {
        text += tag + " line " + std::to_string(i) + "\n";
    }
    return text;
}

class UnreadableFileTest : public ::testing::TestWithParam<bool> {
  public:
    UnreadableFileTest()
    {
        s_denyOpen = false;
        s_failReads = false;
        WatchTiming timing;
        timing.changeEvents = GetParam();
        timing.poll = 10ms;
        timing.missingRetry = 5ms;
        timing.sizeRetry = 1ms;
        timing.fileCalls = &s_testCalls;
        doc.setWatchTiming(timing);
        path = settings.dir.file("follow.log");
        aside = settings.dir.file("aside");
    }
    ~UnreadableFileTest() override
    {
        doc.closeDocument();
        s_denyOpen = false;
        s_failReads = false;
    }

    // Handles posted messages as the main frame does until the condition holds.
    bool pumpUntil(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!condition()) {
            FakeHost::Message message{};
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            if (!host.nextMessage(message, 20ms)) {
                continue;
            }
            if (message.id == FileMessage::Reload) {
                reload();
            } else if (message.id == FileMessage::Unreadable) {
                told.push_back(message.error);
            }
        }
        return true;
    }

    // Reload as the frame does it.
    void reload()
    {
        const int error = doc.fileOpenError();
        if (error != 0 && error != ENOENT) {
            doc.startWatching(error);
            return;
        }
        doc.newDocument();
        doc.openDocument(u16(path));
    }

    std::vector<std::u16string> lines()
    {
        std::vector<std::u16string> out;
        for (LineNumber i = 0; i < doc.lineCount(); ++i) {
            out.push_back(doc.line(i));
        }
        return out;
    }

    static std::vector<std::u16string> split(const std::string& bytes)
    {
        return modelFile(bytes, false).lines;
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
    std::string aside;
    // The reasons the unreadable messages carried, in order.
    std::vector<int> told;
};

TEST_P(UnreadableFileTest, PermissionDeniedKeepsTheLinesSaysWhyAndContinuesWithEveryLine)
{
    std::string bytes = numberedLines(0, 60, "old");
    writeFile(path, bytes);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    const std::vector<std::u16string> before = lines();
    s_denyOpen = true;
    ::chmod(path.c_str(), 0); // the event a real chmod sends
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == EACCES; }));
    reload(); // F5 must not empty the tab
    appendFile(path, "appended 1\nappended 2\n");
    bytes += "appended 1\nappended 2\n";
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == EACCES && doc.isWatching(); }));
    EXPECT_EQ(lines(), before);
    EXPECT_EQ(doc.pathName(), u16(path));
    s_denyOpen = false;
    ::chmod(path.c_str(), 0644);
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == 0 && doc.lineCount() == 62; }));
    EXPECT_EQ(lines(), split(bytes));
    EXPECT_EQ(host.reloadCount(), 0) << "the same file with its bytes in place is continued";
    // The window hears why the file cannot be read, and then that it can again.
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.front(), EACCES);
    EXPECT_EQ(told.back(), 0);
    for (const int error : told) {
        EXPECT_TRUE(error == EACCES || error == 0) << error;
    }
}

// A file that a policy allows again, with no change of its own to tell of it (no event, the
// same times and size), is read on the next round of the safety poll all the same.
TEST_P(UnreadableFileTest, AFileAllowedAgainWithoutAChangeOfItsOwnIsReadSoon)
{
    writeFile(path, "one\n");
    ASSERT_TRUE(doc.openDocument(u16(path)));
    s_denyOpen = true;
    appendFile(path, "two\n");
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == EACCES; }));
    std::this_thread::sleep_for(50ms); // the growth is long seen, and told unreadable
    s_denyOpen = false;
    ASSERT_TRUE(pumpUntil([&] { return doc.lineCount() == 2; }));
    EXPECT_EQ(lines(), split("one\ntwo\n"));
    EXPECT_EQ(doc.readError(), 0);
}

TEST_P(UnreadableFileTest, RealPermissionBitsWhenNotRoot)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads a file of mode 000";
    }
    std::string bytes = numberedLines(0, 60, "old");
    writeFile(path, bytes);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == EACCES; }));
    reload();
    EXPECT_EQ(doc.lineCount(), 60u);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    appendFile(path, "a\nb\n");
    bytes += "a\nb\n";
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == 0 && doc.lineCount() == 62; }));
    EXPECT_EQ(lines(), split(bytes));
}

TEST_P(UnreadableFileTest, AFolderOrAFifoUnderTheNameKeepsTheLinesUntilAFileIsBack)
{
    const std::string bytes = numberedLines(0, 20, "old");
    writeFile(path, bytes);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    const std::vector<std::u16string> before = lines();

    ASSERT_EQ(::mkdir(aside.c_str(), 0700), 0);
    ASSERT_TRUE(swapNames(path, aside)) << std::strerror(errno);
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == EISDIR; }));
    reload();
    EXPECT_EQ(lines(), before);
    // The same file back, grown meanwhile: continued.
    appendFile(aside, "grown\n");
    ASSERT_TRUE(swapNames(path, aside));
    ASSERT_EQ(::rmdir(aside.c_str()), 0);
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == 0 && doc.lineCount() == 21; }));
    EXPECT_EQ(lines(), split(bytes + "grown\n"));

    ASSERT_EQ(::mkfifo(aside.c_str(), 0600), 0);
    ASSERT_EQ(::rename(aside.c_str(), path.c_str()), 0);
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == ENOTSUP; }));
    EXPECT_EQ(doc.lineCount(), 21u);
    // Another file: reloaded.
    writeFile(aside, "new\nfile\n");
    ASSERT_EQ(::rename(aside.c_str(), path.c_str()), 0);
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == 0 && lines() == split("new\nfile\n"); }));
}

TEST_P(UnreadableFileTest, AReadErrorIsToldAndNothingIsLostOrReadTwice)
{
    std::string bytes = numberedLines(0, 5, "old");
    writeFile(path, bytes);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    s_failReads = true;
    appendFile(path, "during\n");
    bytes += "during\n";
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == EIO; }));
    EXPECT_EQ(doc.lineCount(), 5u);
    s_failReads = false;
    appendFile(path, "after\n");
    bytes += "after\n";
    ASSERT_TRUE(pumpUntil([&] { return doc.readError() == 0 && doc.lineCount() == 7; }));
    EXPECT_EQ(lines(), split(bytes));
}

TEST_P(UnreadableFileTest, AFailedOpenLeavesNoPathToResumeFrom)
{
    writeFile(path, "one\n");
    s_denyOpen = true;
    EXPECT_FALSE(doc.openDocument(u16(path)));
    EXPECT_EQ(host.lastError, EACCES);
    EXPECT_EQ(doc.pathName(), u"") << "Resume would follow from wherever the file stands";
    s_denyOpen = false;
    ASSERT_TRUE(doc.openDocument(u16(path)));
    EXPECT_EQ(lines(), split("one\n"));
}

// A random walk over what can happen to the file, against a model: while the name names a
// readable file the document shows its lines; while not, the lines last shown and a reason.
void walk(UnreadableFileTest& t, unsigned seed, int steps)
{
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::string file = numberedLines(0, 3, "start"); // the regular file's bytes, wherever it is
    writeFile(t.path, file);
    ASSERT_TRUE(t.doc.openDocument(u16(t.path)));
    enum class Name { File, Folder, Fifo } name = Name::File;
    std::vector<std::u16string> shown = UnreadableFileTest::split(file);
    // Shown once, as the view shows them: only decoded lines can be kept unreadable.
    ASSERT_EQ(t.lines(), shown);
    int serial = 0;
    for (int step = 0; step < steps; ++step) {
        const int event = int(random() % 9);
        std::string trace = "step " + std::to_string(step) + " event " + std::to_string(event);
        SCOPED_TRACE(trace);
        switch (event) {
        case 0: { // append
            const std::string more = numberedLines(serial, 1 + int(random() % 3), "more");
            serial += 3;
            file += more;
            appendFile(name == Name::File ? t.path : t.aside, more);
            break;
        }
        case 1: // chmod away
            s_denyOpen = true;
            ::chmod(t.path.c_str(), 0);
            break;
        case 2: // chmod back
            s_denyOpen = false;
            ::chmod(t.path.c_str(), 0644);
            break;
        case 3: // a folder takes the name; the file waits aside
            if (name == Name::File) {
                ASSERT_EQ(::mkdir(t.aside.c_str(), 0700), 0);
                ASSERT_TRUE(swapNames(t.path, t.aside));
                name = Name::Folder;
            }
            break;
        case 4: // a FIFO takes the name; the file waits aside
            if (name == Name::File) {
                const std::string fifo = t.aside + ".fifo";
                ASSERT_EQ(::rename(t.path.c_str(), t.aside.c_str()), 0);
                ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
                ASSERT_EQ(::rename(fifo.c_str(), t.path.c_str()), 0);
                name = Name::Fifo;
            }
            break;
        case 5: // a file is back: the old one, or one with new content
            if (name != Name::File) {
                const bool fresh = random() % 2 == 0;
                if (fresh) {
                    file = numberedLines(serial++, 1 + int(random() % 4), "fresh");
                    writeFile(t.aside, file);
                }
                if (name == Name::Folder && !fresh) {
                    ASSERT_TRUE(swapNames(t.path, t.aside));
                    ASSERT_EQ(::rmdir(t.aside.c_str()), 0);
                } else {
                    if (name == Name::Folder) {
                        ASSERT_EQ(::rmdir(t.path.c_str()), 0);
                    }
                    ASSERT_EQ(::rename(t.aside.c_str(), t.path.c_str()), 0);
                }
                name = Name::File;
            }
            break;
        case 6: // truncate, sometimes written again
            if (name == Name::File) {
                file = random() % 2 == 0 ? std::string() : numberedLines(serial++, 2, "rewritten");
                writeFile(t.path, file);
            }
            break;
        case 7: // F5
            t.reload();
            break;
        default: // only time passes
            break;
        }
        const bool readable = name == Name::File && !s_denyOpen.load();
        if (readable) {
            const std::vector<std::u16string> expected = UnreadableFileTest::split(file);
            ASSERT_TRUE(t.pumpUntil([&] {
                return t.doc.isWatching() && t.doc.readError() == 0 && t.lines() == expected;
            })) << "shows "
                << t.doc.lineCount() << " lines, the file has " << expected.size() << ", reason "
                << t.doc.readError();
            shown = expected;
        } else {
            const int reason = name == Name::Folder ? EISDIR
                               : name == Name::Fifo ? ENOTSUP
                                                    : EACCES;
            ASSERT_TRUE(t.pumpUntil([&] { return t.doc.readError() == reason; }))
                << "reason " << t.doc.readError() << ", expected " << reason;
            // The decoded window keeps at least the later half of a short file, where a
            // following view stands; lines never decoded cannot be shown from a file that
            // cannot be read.
            ASSERT_EQ(t.doc.lineCount(), shown.size());
            for (std::size_t i = shown.size() / 2; i < shown.size(); ++i) {
                ASSERT_EQ(t.doc.line(LineNumber(i)), shown[i]) << "line " << i;
            }
        }
    }
}

TEST_P(UnreadableFileTest, RandomWalkShowsTheFilesLinesOrTheLastOnesWithAReason)
{
    const char* seeds = std::getenv("QUILL_UNREADABLE_SEEDS");
    const int count = seeds != nullptr && std::atoi(seeds) > 0 ? std::atoi(seeds) : 3;
    for (int seed = 1; seed <= count && !HasFatalFailure(); ++seed) {
        doc.newDocument();
        ::rmdir(aside.c_str());
        std::remove(aside.c_str());
        std::remove(path.c_str());
        ::rmdir(path.c_str());
        s_denyOpen = false;
        walk(*this, unsigned(seed), 60);
    }
}

INSTANTIATE_TEST_SUITE_P(EventsAndTimer, UnreadableFileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row) {
                             return row.param ? "Events" : "Timer";
                         });

} // namespace
