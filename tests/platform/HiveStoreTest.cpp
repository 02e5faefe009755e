#include "platform/HiveStore.h"
#include "platform/NarrowCodec.h"
#include "support/ProcessIo.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace quill;
using quilltest::folderEntries;
using quilltest::readFile;
using quilltest::TempDir;
using quilltest::writeFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes dword(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

bool setDword(HiveStore& hive, std::u16string_view path, std::u16string_view name, std::uint32_t v)
{
    const Bytes b = dword(v);
    return hive.setValue(path, name, RegType::Dword, b.data(), b.size());
}

std::optional<std::uint32_t> getDword(const HiveStore& hive, std::u16string_view path,
                                      std::u16string_view name)
{
    const auto key = hive.openKey(path);
    if (!key) {
        return std::nullopt;
    }
    std::uint8_t buf[4];
    std::uint32_t size = 4;
    std::uint32_t type = 0;
    if (key->queryValue(name, &type, buf, &size) != HiveQueryStatus::Success || size != 4 ||
        type != RegType::Dword) {
        return std::nullopt;
    }
    return buf[0] | (buf[1] << 8) | (buf[2] << 16) | (std::uint32_t(buf[3]) << 24);
}

unsigned modeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class HiveStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string folder = dir.file("config/deeper/quillstream");
    std::string path = folder + "/user.reg";
    HiveStore hive{path, HiveRoot::CurrentUser};
};

TEST_F(HiveStoreTest, missingHiveReadsEmpty)
{
    EXPECT_FALSE(hive.openKey(u"Software").has_value());
    ASSERT_TRUE(hive.openKey(u"").has_value()); // the root always exists
    EXPECT_TRUE(hive.openKey(u"")->subkeyNames().empty());
    EXPECT_FALSE(std::filesystem::exists(folder)); // reading creates nothing
}

TEST_F(HiveStoreTest, writesAReadableHiveWithPrivateModes)
{
    const mode_t old = ::umask(0);
    ASSERT_TRUE(setDword(hive, u"Software\\Orix\\Quillstream\\GUI", u"TextColor", 0xff00));
    ::umask(old);

    EXPECT_EQ(modeOf(dir.file("config")), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(path + ".lock"), 0600u);
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"user.reg", "user.reg.lock"}));
    EXPECT_EQ(readFile(path), "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_CURRENT_USER\\Software]\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Orix]\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream]\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\GUI]\n"
                              "\"TextColor\"=dword:0000ff00\n\n");
    EXPECT_EQ(getDword(hive, u"software\\ORIX\\quillstream\\gui", u"textcolor"), 0xff00u);

    HiveStore machine(dir.file("machine.reg"), HiveRoot::LocalMachine);
    ASSERT_TRUE(machine.createKey(u"Software"));
    EXPECT_NE(readFile(dir.file("machine.reg")).find("[HKEY_LOCAL_MACHINE\\Software]"),
              std::string::npos);
}

TEST_F(HiveStoreTest, queryAnswersMoreDataForAShortBuffer)
{
    const Bytes data{1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(hive.setValue(u"K", u"v", RegType::Binary, data.data(), data.size()));
    const auto key = hive.openKey(u"k");
    ASSERT_TRUE(key);
    std::uint8_t buf[8] = {};
    std::uint32_t type = 0;
    std::uint32_t size = 5;
    EXPECT_EQ(key->queryValue(u"v", &type, buf, &size), HiveQueryStatus::MoreData);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, RegType::Binary);
    size = 0;
    EXPECT_EQ(key->queryValue(u"v", nullptr, nullptr, &size), HiveQueryStatus::Success);
    EXPECT_EQ(size, 6u);
    size = sizeof buf;
    EXPECT_EQ(key->queryValue(u"v", nullptr, buf, &size), HiveQueryStatus::Success);
    EXPECT_EQ(Bytes(buf, buf + size), data);
    EXPECT_EQ(key->queryValue(u"w", &type, buf, &size), HiveQueryStatus::NotFound);
}

TEST_F(HiveStoreTest, createEnumerateAndDeleteTrees)
{
    for (const char16_t* p :
         {u"S\\Keywords\\2", u"S\\Keywords\\10\\deep", u"S\\keywords\\1", u"S\\Other"}) {
        ASSERT_TRUE(hive.createKey(p));
    }
    ASSERT_TRUE(setDword(hive, u"S\\Keywords", u"Beep", 1));
    EXPECT_EQ(hive.openKey(u"S\\KEYWORDS")->subkeyNames(),
              (std::vector<std::u16string>{u"1", u"10", u"2"}));

    EXPECT_TRUE(hive.deleteTree(u"s\\keywords"));
    EXPECT_FALSE(hive.openKey(u"S\\Keywords").has_value());
    EXPECT_TRUE(hive.openKey(u"S\\Other").has_value());
    EXPECT_FALSE(hive.deleteTree(u"S\\Keywords"));
    EXPECT_FALSE(hive.deleteTree(u""));
}

TEST_F(HiveStoreTest, readsSeeEveryChangeOnDisk)
{
    ASSERT_TRUE(setDword(hive, u"K", u"v", 1));
    EXPECT_EQ(getDword(hive, u"K", u"v"), 1u);
    // Same size, same second: only the content tells the two apart.
    std::string text = readFile(path);
    text.replace(text.find("00000001"), 8, "00000002");
    writeFile(path, text);
    EXPECT_EQ(getDword(hive, u"K", u"v"), 2u);

    HiveStore other(path, HiveRoot::CurrentUser);
    ASSERT_TRUE(setDword(other, u"K", u"w", 3));
    EXPECT_EQ(getDword(hive, u"K", u"w"), 3u);
    EXPECT_EQ(getDword(hive, u"K", u"v"), 2u);

    // A key handle is a snapshot, as an open registry key reads one consistent state.
    const auto snapshot = hive.openKey(u"K");
    ASSERT_TRUE(std::filesystem::remove(path));
    EXPECT_FALSE(hive.openKey(u"K").has_value());
    EXPECT_NE(snapshot->value(u"w"), nullptr);
}

// Read system calls of this process so far, less those of asking.
std::uint64_t readCalls()
{
    const auto ask = quilltest::readCalls;
    static const std::uint64_t askingCosts = [&] {
        const std::uint64_t first = ask();
        return ask() - first;
    }();
    static std::uint64_t asked = 0;
    return ask() - askingCosts * ++asked;
}

void writeInPlace(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, text.data(), text.size(), 0), ssize_t(text.size()));
    ::close(fd);
}

void setModified(const std::string& path, const timespec& modified)
{
    const timespec times[2] = {modified, modified};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Settings are read on every paint and command update. A hive that changed seconds before
// it was read is then trusted while stat shows it unchanged; one that changed just before
// is read each time, since a change within the clock's tick would leave stat alike. Either
// way every change is seen, also one of the same size with the old time put back, in place
// or renamed over the file.
TEST_F(HiveStoreTest, aSettledHiveIsTrustedUntilStatShowsAnyChange)
{
    using namespace std::chrono_literals;
    const auto readsOfLoads = [&](int loads, std::uint32_t expected) {
        const std::uint64_t before = readCalls();
        for (int i = 0; i < loads; ++i) {
            EXPECT_EQ(getDword(hive, u"K", u"v"), expected);
        }
        return readCalls() - before;
    };
    ASSERT_TRUE(setDword(hive, u"K", u"v", 1));
    EXPECT_GE(readsOfLoads(3, 1), 3u);
    std::this_thread::sleep_for(3100ms);
    EXPECT_GE(readsOfLoads(1, 1), 1u); // read once more, now settled
    EXPECT_EQ(readsOfLoads(5, 1), 0u);

    struct stat old {};
    ASSERT_EQ(::stat(path.c_str(), &old), 0);
    std::string text = readFile(path);
    text.replace(text.find("00000001"), 8, "00000002");
    writeInPlace(path, text);
    setModified(path, old.st_mtim);
    EXPECT_EQ(getDword(hive, u"K", u"v"), 2u);

    std::this_thread::sleep_for(3100ms);
    EXPECT_GE(readsOfLoads(1, 2), 1u);
    EXPECT_EQ(readsOfLoads(2, 2), 0u);
    ASSERT_EQ(::stat(path.c_str(), &old), 0);
    text.replace(text.find("00000002"), 8, "00000003");
    writeFile(path + ".new", text);
    setModified(path + ".new", old.st_mtim);
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    EXPECT_EQ(getDword(hive, u"K", u"v"), 3u);
}

TEST_F(HiveStoreTest, handEditedHiveKeepsWhatItCannotUse)
{
    std::filesystem::create_directories(folder);
    writeFile(path, "Windows Registry Editor Version 5.00\r\n"
                    "; my settings\r\n"
                    "[HKEY_CURRENT_USER\\K]\r\n"
                    "\"typo\"=dwrod:5\r\n"
                    "\"v\"=dword:00000007\r\n"
                    "\x01\x02\xff binary junk\r\n");
    EXPECT_EQ(getDword(hive, u"K", u"v"), 7u);
    ASSERT_TRUE(setDword(hive, u"K", u"w", 8));
    const std::string text = readFile(path);
    EXPECT_NE(text.find("; my settings\n"), std::string::npos);
    EXPECT_NE(text.find(";\"typo\"=dwrod:5\n"), std::string::npos);
    EXPECT_NE(text.find(";\x01\x02\xff binary junk\n"), std::string::npos);
    EXPECT_EQ(getDword(hive, u"K", u"v"), 7u);
    EXPECT_EQ(getDword(hive, u"K", u"w"), 8u);
}

TEST_F(HiveStoreTest, unusableLocationsFailQuietly)
{
    // Works the same for root, whom permission bits do not stop.
    TempDir other;
    writeFile(other.file("file"), "not a folder");
    HiveStore underFile(other.file("file") + "/quillstream/user.reg", HiveRoot::CurrentUser);
    EXPECT_FALSE(setDword(underFile, u"K", u"v", 1));
    EXPECT_FALSE(underFile.openKey(u"K").has_value());

    std::filesystem::create_directories(other.file("dir.reg"));
    HiveStore isFolder(other.file("dir.reg"), HiveRoot::CurrentUser);
    EXPECT_FALSE(setDword(isFolder, u"K", u"v", 1));
    EXPECT_TRUE(std::filesystem::is_directory(other.file("dir.reg")));

    ASSERT_EQ(::mkfifo(other.file("fifo.reg").c_str(), 0600), 0);
    HiveStore isFifo(other.file("fifo.reg"), HiveRoot::CurrentUser);
    EXPECT_FALSE(isFifo.openKey(u"K").has_value()); // no hang waiting for a writer
    EXPECT_FALSE(setDword(isFifo, u"K", u"v", 1));

    EXPECT_FALSE(hive.setValue(u"K", u"bad\nname", RegType::Dword, nullptr, 0));
    EXPECT_FALSE(hive.createKey(u"K\\bad\rkey"));
}

TEST_F(HiveStoreTest, aFailedCommitLeavesNoTemporaryFileAndTheOldHive)
{
    ASSERT_TRUE(setDword(hive, u"K", u"v", 1));
    const std::string before = readFile(path);
    const std::vector<std::string> entries = folderEntries(folder);
    // The temporary file is created, then its write fails: the file-size limit stops it.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::vector<std::uint8_t> big(64 * 1024, 0x41);
    const bool written = hive.setValue(u"K", u"big", RegType::Binary, big.data(), big.size());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(folderEntries(folder), entries);
    EXPECT_EQ(readFile(path), before);
}

TEST_F(HiveStoreTest, readOnlyFolderKeepsTheHiveReadable)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    ASSERT_TRUE(setDword(hive, u"K", u"v", 1));
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    EXPECT_FALSE(setDword(hive, u"K", u"v", 2));
    EXPECT_EQ(getDword(hive, u"K", u"v"), 1u);
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    EXPECT_FALSE(hive.openKey(u"K").has_value()); // unreadable: as if absent
    EXPECT_FALSE(setDword(hive, u"K", u"w", 2));  // and never replaced by a new hive
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(getDword(hive, u"K", u"v"), 1u);
}

TEST_F(HiveStoreTest, neverWritesThroughALinkedLockFile)
{
    std::filesystem::create_directories(folder);
    const std::string victim = dir.file("victim");
    writeFile(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".lock").c_str()), 0);
    EXPECT_FALSE(setDword(hive, u"K", u"v", 1));
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(HiveStoreTest, linkedHiveIsWrittenWhereItPoints)
{
    std::filesystem::create_directories(folder);
    const std::string real = dir.file("dotfiles/user.reg");
    std::filesystem::create_directories(dir.file("dotfiles"));
    writeFile(real,
              "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"v\"=dword:1\n");
    ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
    ASSERT_TRUE(setDword(hive, u"K", u"w", 2));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(getDword(HiveStore(real, HiveRoot::CurrentUser), u"K", u"v"), 1u);
    EXPECT_EQ(getDword(hive, u"K", u"w"), 2u);
}

TEST_F(HiveStoreTest, danglingLinkedHiveCreatesItsTarget)
{
    // A dotfile manager's link made before the file it points to exists, relative and
    // into a folder that does not exist yet either.
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::symlink("../dotfiles/quill/user.reg", path.c_str()), 0);
    const std::string real = dir.file("config/deeper/dotfiles/quill/user.reg");
    ASSERT_TRUE(setDword(hive, u"K", u"w", 2));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(getDword(HiveStore(real, HiveRoot::CurrentUser), u"K", u"w"), 2u);
    EXPECT_EQ(getDword(hive, u"K", u"w"), 2u);
    EXPECT_EQ(modeOf(real), 0600u);
}

TEST_F(HiveStoreTest, updateIsOneWriteOrNone)
{
    ASSERT_TRUE(setDword(hive, u"K", u"v", 1));
    const std::string before = readFile(path);
    EXPECT_FALSE(hive.update([](HiveKey& root) {
        root.removePath(u"K");
        return false; // abandoned
    }));
    EXPECT_EQ(readFile(path), before);
    EXPECT_TRUE(hive.update([](HiveKey& root) {
        root.removePath(u"K");
        return root.createPath(u"L") != nullptr;
    }));
    EXPECT_FALSE(hive.openKey(u"K").has_value());
    EXPECT_TRUE(hive.openKey(u"L").has_value());
}

TEST_F(HiveStoreTest, largeHiveReadsAndWrites)
{
    HiveKey root;
    for (int k = 0; k < 20000; ++k) {
        HiveKey* key = root.createPath(u"Big\\Key" + utf8ToUtf16(std::to_string(k)));
        key->setValue(u"Data", RegType::Binary, Bytes(100, static_cast<std::uint8_t>(k)));
    }
    std::filesystem::create_directories(folder);
    writeFile(path, writeRegFile(root, "HKEY_CURRENT_USER"));
    ASSERT_GT(std::filesystem::file_size(path), 5u << 20);
    ASSERT_TRUE(setDword(hive, u"Big\\Key19999", u"v", 5));
    EXPECT_EQ(getDword(hive, u"Big\\key19999", u"v"), 5u);
    EXPECT_EQ(hive.openKey(u"Big\\Key12345")->value(u"Data")->data, Bytes(100, 12345 & 0xff));
}

TEST_F(HiveStoreTest, concurrentWritersInTwoProcessesLoseNothing)
{
    constexpr int PerProcess = 60;
    ASSERT_TRUE(hive.createKey(u"K"));
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            HiveStore own(path, HiveRoot::CurrentUser);
            bool ok = true;
            for (int i = 0; i < PerProcess; ++i) {
                const std::u16string name =
                    utf8ToUtf16("p" + std::to_string(c) + "_" + std::to_string(i));
                ok = setDword(own, u"K", name, static_cast<std::uint32_t>(c * 1000 + i)) && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < PerProcess; ++i) {
            const std::u16string name =
                utf8ToUtf16("p" + std::to_string(c) + "_" + std::to_string(i));
            EXPECT_EQ(getDword(hive, u"K", name), static_cast<std::uint32_t>(c * 1000 + i));
        }
    }
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"user.reg", "user.reg.lock"}));
}

} // namespace
