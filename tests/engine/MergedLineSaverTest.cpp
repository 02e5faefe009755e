// Saving merged rows: the file holds each row's line, its own bytes, in the merged order,
// for any order of the files' lines, any stretch of rows and an order that starts at each
// file's base line; a file that starts over or cannot be read ends the save and leaves an
// old file of that name as it was.

#include "engine/MergedLineSaver.h"
#include "platform/ReadOnlyFile.h"

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <random>

using namespace quilltest;

namespace {

std::atomic<bool> s_failReads{false};

std::int64_t failablePread(int fd, void* buffer, std::size_t n, std::int64_t offset)
{
    if (s_failReads.load()) {
        errno = EIO;
        return -1;
    }
    return ::pread(fd, buffer, n, off_t(offset));
}

int plainOpen(const char* path, int flags)
{
    return ::open(path, flags);
}

const quill::FileCalls s_fileCalls{plainOpen, failablePread};

struct Source {
    FakeHost host;
    LogDocument doc;
    std::vector<std::string> lines; // each with its end
    Source(SettingsStore& store) : doc(&host, store) {}
    ~Source() { doc.closeDocument(); }
};

class MergedLineSaverTest : public ::testing::Test {
  protected:
    void SetUp() override { s_failReads = false; }

    Source& add(const std::vector<std::string>& lines)
    {
        sources.push_back(std::make_unique<Source>(settings.store));
        Source& source = *sources.back();
        source.lines = lines;
        std::string bytes;
        for (const std::string& line : lines) {
            bytes += line;
        }
        const std::string path = settings.dir.file("log" + std::to_string(sources.size()));
        writeFile(path, bytes);
        EXPECT_TRUE(source.doc.openDocument(u16(path)));
        source.doc.stopWatching();
        return source;
    }
    std::vector<LogDocument*> documents() const
    {
        std::vector<LogDocument*> all;
        for (const auto& source : sources) {
            all.push_back(&source->doc);
        }
        return all;
    }

    TestSettings settings;
    TempDir out;
    std::vector<std::unique_ptr<Source>> sources;
    std::string target = out.file("saved.log");
};

TEST_F(MergedLineSaverTest, RandomOrdersAndStretchesHoldEachRowsOwnBytesInOrder)
{
    for (unsigned seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        sources.clear();
        const std::size_t count = 1 + random() % 4;
        std::vector<LineNumber> bases(count);
        std::vector<LineNumber> taken(count);
        for (std::size_t s = 0; s < count; ++s) {
            std::vector<std::string> lines(random() % 25);
            for (std::string& line : lines) {
                line = std::string(random() % 9, char('a' + s)) + std::to_string(random() % 100);
                line += random() % 4 == 0 ? "\r\n" : "\n";
            }
            add(lines);
            bases[s] = lines.empty() ? 0 : LineNumber(random() % 3 % (lines.size() + 1));
            taken[s] = bases[s];
        }
        // The order: each file's lines from its base on, taking turns at random.
        MergedRows rows(count);
        std::vector<std::string> model;
        for (;;) {
            std::vector<std::size_t> open;
            for (std::size_t s = 0; s < count; ++s) {
                if (taken[s] < sources[s]->lines.size()) {
                    open.push_back(s);
                }
            }
            if (open.empty()) {
                break;
            }
            const std::size_t s = open[random() % open.size()];
            for (std::size_t burst = 1 + random() % 3;
                 burst > 0 && taken[s] < sources[s]->lines.size(); --burst) {
                rows.push(s);
                model.push_back(sources[s]->lines[taken[s]++]);
            }
        }
        const std::size_t first = model.empty() ? 0 : random() % (model.size() + 1);
        const std::size_t end = first + random() % (model.size() - first + 1);
        MergedLineSaver saver(documents(), rows, bases, first, end, target);
        saver.setBlockBytes(1 + random() % 40);
        saver.setBatchRows(1 + random() % 7);
        const SaveResult result = saver.run();
        ASSERT_EQ(result.outcome, SaveOutcome::Saved);
        std::string expected;
        for (std::size_t row = first; row < end; ++row) {
            expected += model[row];
        }
        EXPECT_EQ(readFile(target), expected);
        EXPECT_EQ(result.bytes, expected.size());
        EXPECT_EQ(saver.permille(), end > first ? 1000 : 0);

        // Rows apart, as a filter gives them.
        std::vector<std::size_t> chosen;
        expected.clear();
        for (std::size_t row = 0; row < model.size(); ++row) {
            if (random() % 3 == 0) {
                chosen.push_back(row);
                expected += model[row];
            }
        }
        MergedLineSaver some(documents(), rows, bases, chosen, target);
        some.setBlockBytes(1 + random() % 40);
        some.setBatchRows(1 + random() % 7);
        ASSERT_EQ(some.run().outcome, SaveOutcome::Saved);
        EXPECT_EQ(readFile(target), expected);
    }
}

TEST_F(MergedLineSaverTest, AFileThatStartsOverOrCannotBeReadLeavesTheOldFile)
{
    add({"a1\n", "a2\n"});
    add({"b1\n"});
    MergedRows rows(2);
    for (const std::size_t s : {0, 1, 0}) {
        rows.push(s);
    }
    writeFile(target, "old\n");
    {
        // The second file reloaded after the save was asked for.
        MergedLineSaver saver(documents(), rows, {0, 0}, 0, 3, target);
        sources[1]->doc.newDocument();
        ASSERT_TRUE(sources[1]->doc.openDocument(u16(settings.dir.file("log2"))));
        EXPECT_EQ(saver.run().outcome, SaveOutcome::LinesChanged);
        EXPECT_EQ(readFile(target), "old\n");
    }
    s_failReads = true;
    MergedLineSaver saver(documents(), rows, {0, 0}, 0, 3, target);
    saver.setFileCalls(s_fileCalls);
    const SaveResult result = saver.run();
    EXPECT_EQ(result.outcome, SaveOutcome::Unreadable);
    EXPECT_EQ(result.error, EIO);
    EXPECT_EQ(readFile(target), "old\n");
    EXPECT_EQ(folderEntries(out.path()), std::vector<std::string>{"saved.log"});
}

} // namespace
