#include "platform/SafeFile.h"
#include "platform/TempFolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using quill::SafeOpenMode;
using quill::SafeOpenStatus;
using quilltest::readFile;
using quilltest::writeFile;

namespace {

class SafeFileTest : public ::testing::Test {
protected:
    quilltest::TempDir dir;
    std::string path = dir.file("shared.txt");

    void writeThrough(SafeOpenMode mode, std::string_view text)
    {
        std::FILE* file = quill::fopenForWritingSafely(path, mode);
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
};

TEST_F(SafeFileTest, AppendKeepsAndTruncateEmpties)
{
    writeFile(path, "one\n");
    writeThrough(SafeOpenMode::Append, "two\n");
    EXPECT_EQ(readFile(path), "one\ntwo\n");
    writeThrough(SafeOpenMode::Truncate, "three\n");
    EXPECT_EQ(readFile(path), "three\n");
}

TEST_F(SafeFileTest, RefusesEverythingButAPlainFileOfOurOwn)
{
    const std::string target = dir.file("target");
    writeFile(target, "precious");

    const std::string symlinkPath = dir.file("link");
    ASSERT_EQ(::symlink(target.c_str(), symlinkPath.c_str()), 0);
    const std::string hardLinkPath = dir.file("hard");
    ASSERT_EQ(::link(target.c_str(), hardLinkPath.c_str()), 0);
    const std::string fifoPath = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifoPath.c_str(), 0600), 0);
    // With a reader present the open itself succeeds, so the type check must catch it.
    const int reader = ::open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string lonelyFifoPath = dir.file("lonely-fifo");
    ASSERT_EQ(::mkfifo(lonelyFifoPath.c_str(), 0600), 0);

    struct Row {
        std::string path;
        uid_t owner;
        SafeOpenStatus expected;
    };
    const Row rows[] = {
        {symlinkPath, quill::CurrentUser, SafeOpenStatus::OpenFailed},
        {hardLinkPath, quill::CurrentUser, SafeOpenStatus::MultipleLinks},
        {fifoPath, quill::CurrentUser, SafeOpenStatus::NotRegularFile},
        {lonelyFifoPath, quill::CurrentUser, SafeOpenStatus::OpenFailed}, // must not hang
        {dir.path(), quill::CurrentUser, SafeOpenStatus::OpenFailed},   // a directory
        {dir.file("missing/x"), quill::CurrentUser, SafeOpenStatus::OpenFailed},
        {target, ::geteuid() + 1, SafeOpenStatus::OwnedByOtherUser},
    };
    for (const Row& row : rows) {
        for (SafeOpenMode mode : {SafeOpenMode::Append, SafeOpenMode::Truncate}) {
            quill::SafeOpenResult result = quill::openForWritingSafely(row.path, mode, row.owner);
            EXPECT_FALSE(result) << row.path;
            EXPECT_EQ(result.fd, -1);
            EXPECT_EQ(result.status, row.expected) << row.path;
        }
    }
    ::close(reader);
    EXPECT_EQ(readFile(target), "precious");
}

TEST_F(SafeFileTest, CreatesWithModeSixHundred)
{
    const mode_t oldMask = ::umask(0);
    quill::SafeOpenResult result = quill::openForWritingSafely(path, SafeOpenMode::Truncate);
    ::umask(oldMask);
    ASSERT_TRUE(result);
    ::close(result.fd);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TempFolderTest, TmpdirWithOneTrailingSlashElseTmp)
{
    {
        quilltest::ScopedEnv tmp("TMPDIR", "/var/tmp");
        EXPECT_EQ(quill::tempFolder(), "/var/tmp/");
    }
    {
        quilltest::ScopedEnv tmp("TMPDIR", "/var/tmp/");
        EXPECT_EQ(quill::tempFolder(), "/var/tmp/");
    }
    quilltest::ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(quill::tempFolder(), "/tmp/");
}

} // namespace
