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
#include <sys/statvfs.h>
#include <algorithm>
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

    // Access for others alone is enough to refuse it.
    const std::string others = dir.file("others");
    ASSERT_EQ(::mkdir(others.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(others.c_str(), 0701), 0);
    EXPECT_EQ(quill::prepareSpoolFolder(others), EPERM);
    EXPECT_FALSE(quill::createSpool(others));

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

TEST(SpoolFolder, NeverOpensAFileThatIsAlreadyThere)
{
    TempDir dir;
    const std::string folder = dir.file("spool");
    ASSERT_EQ(quill::prepareSpoolFolder(folder), 0);
    quill::SpoolFile first = quill::createSpool(folder);
    ASSERT_TRUE(first);
    // Files and a link planted under the next names the folder would hand out.
    const std::string prefix = first.path.substr(0, first.path.rfind('-') + 1);
    const long serial = std::stol(first.path.substr(prefix.size()));
    const std::string target = dir.file("target");
    quilltest::writeFile(target, "keep");
    for (long next = serial + 1; next <= serial + 3; ++next) {
        quilltest::writeFile(prefix + std::to_string(next) + ".spool", "planted");
    }
    const std::string link = prefix + std::to_string(serial + 4) + ".spool";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    quill::SpoolFile next = quill::createSpool(folder);
    ASSERT_TRUE(next);
    EXPECT_EQ(next.path, prefix + std::to_string(serial + 5) + ".spool");
    for (long planted = serial + 1; planted <= serial + 3; ++planted) {
        EXPECT_EQ(quilltest::readFile(prefix + std::to_string(planted) + ".spool"), "planted");
    }
    EXPECT_EQ(quilltest::readFile(target), "keep");
    ::close(first.fd);
    ::close(next.fd);
}

// The reserve from its stated rule, worked out here from statvfs: 2% of the file system,
// at least 64 MiB, at most 1 GiB.
TEST(SpoolFolder, ReserveFollowsItsRule)
{
    TempDir dir;
    for (const std::string& folder : {dir.path(), std::string("/dev/shm"), std::string("/")}) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            continue;
        }
        struct statvfs fs {};
        ASSERT_EQ(::fstatvfs(fd, &fs), 0);
        const double size = double(fs.f_blocks) * double(fs.f_frsize);
        const double expected = std::min(std::max(size * 0.02, 64.0 * 1048576), 1073741824.0);
        EXPECT_NEAR(double(quill::spoolReserveBytes(fd)), expected, 1.0) << folder;
        EXPECT_EQ(quill::freeBytesOf(fd), std::int64_t(fs.f_bavail) * std::int64_t(fs.f_frsize));
        ::close(fd);
    }
}

} // namespace
