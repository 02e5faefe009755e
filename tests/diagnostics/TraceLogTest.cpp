#include "diagnostics/TraceLog.h"
#include "platform/NarrowCodec.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono;
using quilltest::readFile;
using quilltest::writeFile;

namespace {

// 2024-03-05 18:07:51.007 UTC; with TZ=UTC and the C locale the prefix is fixed.
system_clock::time_point fixedTime(int millis = 7)
{
    return system_clock::time_point(seconds(1709662071) + milliseconds(millis));
}
constexpr std::string_view Prefix = "03/05/24 18:07:51 007 : ";

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

class TraceLogTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ::tzset();
        std::setlocale(LC_TIME, "C");
        log.setTimeSource([] { return fixedTime(); });
    }
    void TearDown() override { ::tzset(); }

    quilltest::ScopedEnv tz{"TZ", "UTC"};
    quilltest::TempDir dir;
    std::string path = dir.file("Quillstream.log");
    TraceLog log;
};

TEST_F(TraceLogTest, PrefixHasDateTimeAndThreeDigitMilliseconds)
{
    log.openLog(path, 3, 500000);
    log.line(3, "Quillstream", " was started");
    log.setTimeSource([] { return fixedTime(0); });
    log.line(3, "zero");
    log.setTimeSource([] { return fixedTime(999); });
    log.line(3, "most");
    EXPECT_EQ(readFile(path),
              std::string(Prefix) + "Quillstream was started\r\n" +
                  "03/05/24 18:07:51 000 : zero\r\n03/05/24 18:07:51 999 : most\r\n");
}

TEST_F(TraceLogTest, PiecesAndLineEnds)
{
    quill::setNarrowCharsetForTesting("UTF-8");
    log.openLog(path, 3, 500000);
    log.setMessageLevel(3);
    log << std::string(77, '-'); // the start-up separator has no prefix
    log.endLine();
    log.line(3, u"Gr\u00fc\u00dfe ", std::uint32_t(4294967295u), " ", std::int64_t(-5), " ", 42,
             " ", std::size_t(7));
    log.line(3, "load resource DLL:\n", "path: x\r\ny");
    log.line(3, "split\r", "\nend");
    EXPECT_EQ(readFile(path), std::string(77, '-') + "\r\n" + std::string(Prefix) +
                                  "Gr\xc3\xbc\xc3\x9f"
                                  "e 4294967295 -5 42 7\r\n" +
                                  std::string(Prefix) + "load resource DLL:\r\npath: x\r\ny\r\n" +
                                  std::string(Prefix) + "split\r\nend\r\n");
}

struct LevelRow {
    std::uint32_t configured;
    std::string_view expected;
};

class TraceLogLevelTest : public TraceLogTest, public ::testing::WithParamInterface<LevelRow> {};

TEST_P(TraceLogLevelTest, MessagesUpToTheConfiguredLevelReachTheFile)
{
    log.openLog(path, GetParam().configured, 500000);
    log.line(0, "always");
    log.line(1, "error");
    log.line(3, "info");
    std::string text = readFile(path);
    for (std::size_t pos = 0; (pos = text.find(Prefix, pos)) != std::string::npos;) {
        text.erase(pos, Prefix.size());
    }
    EXPECT_EQ(text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Levels, TraceLogLevelTest,
                         ::testing::Values(LevelRow{0, "always\r\n"},
                                           LevelRow{1, "always\r\nerror\r\n"},
                                           LevelRow{3, "always\r\nerror\r\ninfo\r\n"},
                                           LevelRow{4, "always\r\nerror\r\ninfo\r\n"},
                                           // only the low 16 bits of the stored number count
                                           LevelRow{0x10000, "always\r\n"}));

TEST_F(TraceLogTest, DefaultLevelStartsAnEmptyFile)
{
    log.openLog(path, 1, 500000);
    log.line(3, "Quillstream was started");
    log.line(3, "ExitInstance");
    log.closeLog();
    EXPECT_TRUE(exists(path));
    EXPECT_EQ(readFile(path), "");
}

TEST_F(TraceLogTest, NothingIsWrittenBeforeOpenOrAfterClose)
{
    log.line(0, "too early");
    log.openLog(path, 3, 500000);
    log.line(0, "kept");
    log.closeLog();
    log.line(0, "too late");
    log.finishError();
    EXPECT_EQ(readFile(path), std::string(Prefix) + "kept\r\n");
}

struct RotationRow {
    std::int32_t limit;
    std::size_t size;
    bool rotates;
};

class TraceLogRotationTest : public TraceLogTest,
                             public ::testing::WithParamInterface<RotationRow> {};

TEST_P(TraceLogRotationTest, OpenRotatesOnlyAboveTheLimit)
{
    const std::string old(GetParam().size, 'x');
    writeFile(path, old);
    writeFile(path + "_1", "older backup");
    log.openLog(path, 3, GetParam().limit);
    ASSERT_TRUE(log.isOpen());
    log.line(3, "new");
    const std::string line = std::string(Prefix) + "new\r\n";
    if (GetParam().rotates) {
        EXPECT_EQ(readFile(path + "_1"), old);
        EXPECT_EQ(readFile(path), line);
    } else {
        EXPECT_EQ(readFile(path + "_1"), "older backup");
        EXPECT_EQ(readFile(path), old + line);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, TraceLogRotationTest,
                         ::testing::Values(RotationRow{100, 100, false},
                                           RotationRow{100, 101, true},
                                           RotationRow{-1, 100000, false}, RotationRow{0, 0, false},
                                           RotationRow{0, 1, true}));

TEST_F(TraceLogTest, OnlyFinishErrorChecksTheSizeDuringARun)
{
    log.openLog(path, 3, 40);
    log.line(3, "information past the limit");
    log.line(3, "more information");
    EXPECT_FALSE(exists(path + "_1")); // ordinary messages never rotate
    log.line(1, "Failed to convert ANSI text to UTF-16: ", std::uint32_t(84));
    log.finishError();
    EXPECT_NE(readFile(path + "_1").find("UTF-16: 84\r\n"), std::string::npos);
    log.line(1, "after");
    EXPECT_EQ(readFile(path), std::string(Prefix) + "after\r\n");
}

TEST_F(TraceLogTest, EmptyFileNameGivesTailLogInTheTemporaryFolder)
{
    {
        quilltest::ScopedEnv tmp("TMPDIR", dir.path());
        EXPECT_EQ(TraceLog::buildPath(u""), dir.path() + "/Tail.log");
        EXPECT_EQ(TraceLog::buildPath(u"Quillstream.log"), dir.path() + "/Quillstream.log");
    }
    {
        quilltest::ScopedEnv tmp("TMPDIR", dir.path() + "/");
        EXPECT_EQ(TraceLog::buildPath(u""), dir.path() + "/Tail.log");
    }
    quilltest::ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(TraceLog::buildPath(u""), "/tmp/Tail.log");
}

TEST_F(TraceLogTest, NewFileIsPrivateEvenUnderAPermissiveUmask)
{
    const mode_t oldMask = ::umask(0);
    log.openLog(path, 3, 500000);
    ::umask(oldMask);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TraceLogTest, SymbolicLinkAtTheLogPathIsNotFollowed)
{
    const std::string target = dir.file("victim");
    writeFile(target, "precious");
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    log.openLog(path, 3, 500000);
    EXPECT_FALSE(log.isOpen());
    log.line(0, "must go nowhere");
    EXPECT_EQ(readFile(target), "precious");
}

TEST_F(TraceLogTest, FileOfAnotherUserIsNotAppendedTo)
{
    writeFile(path, "theirs");
    log.setRequiredOwner(::geteuid() + 1); // the file now belongs to "someone else"
    log.openLog(path, 3, 500000);
    EXPECT_FALSE(log.isOpen());
    log.line(0, "must go nowhere");
    EXPECT_EQ(readFile(path), "theirs");
}

TEST_F(TraceLogTest, FileReallyOwnedByAnotherUserIsNotAppendedTo)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a file away";
    }
    writeFile(path, "theirs");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    log.openLog(path, 3, 500000);
    EXPECT_FALSE(log.isOpen());
    log.line(0, "must go nowhere");
    EXPECT_EQ(readFile(path), "theirs");
}

} // namespace
