// The spool folder's safety: private folder and files, never through a link, and the
// stale spools of ended processes removed while those of running ones stay.

#include "platform/SpoolFolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using quilltest::TempDir;

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The start time field of /proc/<pid>/stat, read here independently: the 20th field after
// the command name's closing parenthesis.
std::string startTime(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    std::size_t pos = text.rfind(')') + 2;
    for (int field = 3; field < 22; ++field) {
        pos = text.find(' ', pos) + 1;
    }
    return text.substr(pos, text.find(' ', pos) - pos);
}

pid_t deadProcess()
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    int status;
    ::waitpid(pid, &status, 0);
    return pid;
}

TEST(SpoolFolder, DefaultFolderLiesInTheCacheDirectory)
{
    {
        quilltest::ScopedEnv cache("XDG_CACHE_HOME", "/somewhere/cache/");
        EXPECT_EQ(quill::spoolFolderPath(), "/somewhere/cache/quillstream/spool");
    }
    quilltest::ScopedEnv cache("XDG_CACHE_HOME", "relative");
    quilltest::ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(quill::spoolFolderPath(), "/home/u/.cache/quillstream/spool");
}

TEST(SpoolFolder, CreatesPrivateFolderAndFiles)
{
    TempDir dir;
    const std::string folder = dir.file("cache/quillstream/spool");
    ASSERT_EQ(quill::prepareSpoolFolder(folder), 0);
    EXPECT_EQ(modeOf(folder) & 07777, 0700u);
    EXPECT_TRUE(S_ISDIR(modeOf(folder)));

    quill::SpoolFile first = quill::createSpool(folder);
    quill::SpoolFile second = quill::createSpool(folder);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first.path, second.path);
    EXPECT_EQ(first.path.rfind(folder + "/", 0), 0u);
    EXPECT_EQ(modeOf(first.path) & 07777, 0600u);
    // Read-write and close-on-exec.
    EXPECT_EQ(::write(first.fd, "x", 1), 1);
    EXPECT_NE(::fcntl(first.fd, F_GETFD) & FD_CLOEXEC, 0);
    // The name carries this process and its start time, so it is not stale.
    const std::string name = first.path.substr(folder.size() + 1);
    EXPECT_EQ(name.rfind(std::to_string(::getpid()) + "-" + startTime(::getpid()) + "-", 0), 0u)
        << name;
    EXPECT_FALSE(quill::isStaleSpoolName(name));
    ::close(first.fd);
    ::close(second.fd);
}

TEST(SpoolFolder, RefusesAFolderOthersCanReachOrALink)
{
    TempDir dir;
    const std::string open = dir.file("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    EXPECT_EQ(quill::prepareSpoolFolder(open), EPERM);
    EXPECT_FALSE(quill::createSpool(open));
    EXPECT_EQ(quill::createSpool(open).error, EPERM);

    const std::string real = dir.file("real");
    ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
    const std::string link = dir.file("link");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    EXPECT_EQ(quill::prepareSpoolFolder(link), EPERM);
    EXPECT_FALSE(quill::createSpool(link));

    const std::string file = dir.file("file");
    quilltest::writeFile(file, "x");
    EXPECT_NE(quill::prepareSpoolFolder(file), 0);
}

TEST(SpoolFolder, TellsStaleNamesFromLiveOnes)
{
    const std::string self = std::to_string(::getpid());
    const std::string start = startTime(::getpid());
    EXPECT_FALSE(quill::isStaleSpoolName(self + "-" + start + "-0.spool"));
    EXPECT_FALSE(quill::isStaleSpoolName(self + "-" + start + "-17.spool"));
    // The same process id with another start time: an earlier process that had this id.
    EXPECT_TRUE(quill::isStaleSpoolName(self + "-1" + start + "-0.spool"));
    const std::string dead = std::to_string(deadProcess());
    EXPECT_TRUE(quill::isStaleSpoolName(dead + "-5-0.spool"));
    // Only spool names count.
    for (const std::string& name :
         {dead + "-5-0.spoo", dead + "-5.spool", dead + "-5-0", dead + "-x-0.spool",
          std::string("-5-0.spool"), dead + "-5-.spool", std::string(".spool"),
          std::string("notes.txt"), std::string("1234567890-5-0.spool")}) {
        EXPECT_FALSE(quill::isStaleSpoolName(name)) << name;
    }
}

TEST(SpoolFolder, RemovesOnlyStaleSpoolFiles)
{
    TempDir dir;
    const std::string folder = dir.file("spool");
    ASSERT_EQ(quill::prepareSpoolFolder(folder), 0);
    quill::SpoolFile live = quill::createSpool(folder);
    ASSERT_TRUE(live);
    const std::string dead = std::to_string(deadProcess());
    const std::string stale1 = folder + "/" + dead + "-5-0.spool";
    const std::string stale2 = folder + "/" + dead + "-5-1.spool";
    quilltest::writeFile(stale1, "old");
    quilltest::writeFile(stale2, "old");
    // A link and a folder under stale names are not spools; the link's target stays.
    const std::string target = dir.file("target");
    quilltest::writeFile(target, "keep");
    const std::string staleLink = folder + "/" + dead + "-5-2.spool";
    ASSERT_EQ(::symlink(target.c_str(), staleLink.c_str()), 0);
    const std::string staleDir = folder + "/" + dead + "-5-3.spool";
    ASSERT_EQ(::mkdir(staleDir.c_str(), 0700), 0);
    const std::string other = folder + "/notes.txt";
    quilltest::writeFile(other, "x");

    EXPECT_EQ(quill::removeStaleSpools(folder), 2);
    EXPECT_FALSE(exists(stale1));
    EXPECT_FALSE(exists(stale2));
    EXPECT_TRUE(exists(live.path));
    EXPECT_TRUE(exists(staleLink));
    EXPECT_EQ(quilltest::readFile(target), "keep");
    EXPECT_TRUE(exists(staleDir));
    EXPECT_TRUE(exists(other));
    ::close(live.fd);

    // A folder that is not private is not touched at all.
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    quilltest::writeFile(stale1, "old");
    EXPECT_EQ(quill::removeStaleSpools(folder), 0);
    EXPECT_TRUE(exists(stale1));
}

TEST(SpoolFolder, ReserveLiesBetweenItsBounds)
{
    TempDir dir;
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    const std::int64_t reserve = quill::spoolReserveBytes(fd);
    EXPECT_GE(reserve, std::int64_t(64) << 20);
    EXPECT_LE(reserve, std::int64_t(1) << 30);
    EXPECT_GT(quill::freeBytesOf(fd), 0);
    ::close(fd);
}

} // namespace
