// A rotated set: which names are siblings of the live file and in what order they were
// written, and the one spool they make, checked against a small model while the live file
// grows, rotates and is truncated at random.

#include "engine/LogSource.h"
#include "engine/RotatedSiblings.h"
#include "engine/RotatedSpool.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using quilltest::TempDir;

namespace {

std::string keyOf(std::string_view live, std::string_view name)
{
    const std::optional<RotatedName> parsed = rotatedNameOf(live, name);
    if (!parsed) {
        return "-";
    }
    return (parsed->naming == RotationNaming::Numbered ? "n" : "d") + parsed->key;
}

std::vector<std::string> order(std::string_view live, const std::vector<SiblingEntry>& entries)
{
    return orderRotatedSiblings(live, entries).members;
}

std::string gzipped(const TempDir& dir, const std::string& name, const std::string& text)
{
    quilltest::writeFile(dir.file(name + ".src"), text);
    const std::string command = "gzip -c < '" + dir.file(name + ".src") + "' > '" + dir.file(name) +
                                "' && rm '" + dir.file(name + ".src") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return dir.file(name);
}

} // namespace

TEST(RotatedSiblings, NamesAndTheirBoundaries)
{
    const std::string_view live = "app.log";
    // Numbered, either side of the extension, with any compression the program reads.
    EXPECT_EQ(keyOf(live, "app.log.1"), "n1");
    EXPECT_EQ(keyOf(live, "app.log.0"), "n0");
    EXPECT_EQ(keyOf(live, "app.log.007"), "n7");
    EXPECT_EQ(keyOf(live, "app.log.10.gz"), "n10");
    EXPECT_EQ(keyOf(live, "app.log.2.bz2"), "n2");
    EXPECT_EQ(keyOf(live, "app.log.2.xz"), "n2");
    EXPECT_EQ(keyOf(live, "app.log.2.zst"), "n2");
    EXPECT_EQ(keyOf(live, "app.1.log"), "n1");
    EXPECT_EQ(keyOf(live, "app.12.log.gz"), "n12");
    // Dated: eight digits at least, groups joined by '-' or '_'.
    EXPECT_EQ(keyOf(live, "app.log-20261201"), "d20261201");
    EXPECT_EQ(keyOf(live, "app.log-2026-12-01.gz"), "d20261201");
    EXPECT_EQ(keyOf(live, "app.log-20261201_13"), "d2026120113");
    // Only look alike.
    for (const char* name :
         {"app.log",           "app.logger",      "app.log.",          "app.log.bak",
          "app.log.1.tmp",     "app.log.gz",      "app.log.1.gz.1",    "app.log.1a",
          "app.log.-1",        "app.log-2026120", "app.log-20261201-", "app.log-2026--1201",
          "app.log-x20261201", "app.log.1.GZ",    "app..log",          "app.x.log",
          "xapp.log.1",        "app.log1",        "ap.log.1",          "app.1.logx",
          "app.1.log.tmp",     "app.log-",        "app.log_1",         "app.log~1"}) {
        EXPECT_EQ(keyOf(live, name), "-") << name;
    }
    // A live file without an extension has only the numbered and dated forms.
    EXPECT_EQ(keyOf("syslog", "syslog.3.gz"), "n3");
    EXPECT_EQ(keyOf("syslog", "syslog-20261130"), "d20261130");
    EXPECT_EQ(keyOf(".log", ".1.log"), "-");
}

TEST(RotatedSiblings, OldestFirst)
{
    // Numbers as numbers of any length: 10 before 9, and beyond 64 bits.
    EXPECT_EQ(order("app.log", {{"app.log.9", true, true, 0},
                                {"app.log.10.gz", true, true, 0},
                                {"app.log.1", true, true, 0},
                                {"app.log.2.gz", true, true, 0},
                                {"app.log.99999999999999999999", true, true, 0}}),
              (std::vector<std::string>{"app.log.99999999999999999999", "app.log.10.gz",
                                        "app.log.9", "app.log.2.gz", "app.log.1"}));
    // Dates: the earliest first, also with an hour or separators.
    EXPECT_EQ(
        order("app.log", {{"app.log-20261202", true, true, 0},
                          {"app.log-2026120105", true, true, 0},
                          {"app.log-2026-12-01", true, true, 0}}),
        (std::vector<std::string>{"app.log-2026-12-01", "app.log-2026120105", "app.log-20261202"}));
    // Equal numbers: the one modified first, then by name; the live file and anything but
    // a regular file are no member; unreadable ones are named apart.
    const RotatedSiblings set = orderRotatedSiblings("app.log", {{"app.log", true, true, 50},
                                                                 {"app.1.log", true, true, 20},
                                                                 {"app.log.1", true, true, 10},
                                                                 {"app.log.01", true, true, 10},
                                                                 {"app.log.2", false, true, 0},
                                                                 {"app.log.3", true, false, 0},
                                                                 {"app.logger", true, true, 0}});
    EXPECT_EQ(set.members, (std::vector<std::string>{"app.log.01", "app.log.1", "app.1.log"}));
    EXPECT_EQ(set.unreadable, (std::vector<std::string>{"app.log.3"}));
}

TEST(RotatedSiblings, MixedNamingGoesByWhenEachGroupWasWritten)
{
    // Numbered first (switched to dates later): the numbered group's newest is older.
    const std::vector<SiblingEntry> numberedFirst = {{"app.log-20261201", true, true, 300},
                                                     {"app.log-20261130", true, true, 200},
                                                     {"app.log.1", true, true, 100},
                                                     {"app.log.2", true, true, 50}};
    EXPECT_EQ(order("app.log", numberedFirst),
              (std::vector<std::string>{"app.log.2", "app.log.1", "app.log-20261130",
                                        "app.log-20261201"}));
    // Dates first; and on equal times dates first too.
    const std::vector<SiblingEntry> datesFirst = {{"app.log-20261201", true, true, 100},
                                                  {"app.log.1", true, true, 101}};
    EXPECT_EQ(order("app.log", datesFirst),
              (std::vector<std::string>{"app.log-20261201", "app.log.1"}));
    const std::vector<SiblingEntry> tie = {{"app.log.1", true, true, 100},
                                           {"app.log-20261201", true, true, 100}};
    EXPECT_EQ(order("app.log", tie), (std::vector<std::string>{"app.log-20261201", "app.log.1"}));
}

TEST(RotatedSiblings, FoundInTheFolder)
{
    TempDir dir;
    quilltest::writeFile(dir.file("app.log"), "live\n");
    quilltest::writeFile(dir.file("app.log.2"), "two\n");
    quilltest::writeFile(dir.file("app.log.10"), "ten\n");
    quilltest::writeFile(dir.file("app.log.bak"), "no\n");
    ASSERT_EQ(::mkdir(dir.file("app.log.3").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("app.log.2", dir.file("app.log.1").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dir.file("app.log.4").c_str()), 0);
    const RotatedSiblings set = findRotatedSiblings(dir.file("app.log"));
    EXPECT_EQ(set.members, (std::vector<std::string>{dir.file("app.log.10"), dir.file("app.log.2"),
                                                     dir.file("app.log.1")}));
    EXPECT_TRUE(set.unreadable.empty());
    EXPECT_TRUE(findRotatedSiblings(dir.file("none/app.log")).members.empty());
}

// The older members in order, each ending its last line, one that cannot be read skipped
// and named, then the live file as it grows, is renamed away, is truncated.
TEST(RotatedSpool, WritesTheSetAndFollowsTheLiveFileAcrossRotations)
{
    TempDir dir;
    const std::string live = dir.file("app.log");
    const std::string third = gzipped(dir, "app.log.3.gz", "c1\nc2"); // no line end
    quilltest::writeFile(dir.file("app.log.2"), "b1\n");
    quilltest::writeFile(dir.file("app.log.1"), "a1\na2"); // no line end
    quilltest::writeFile(live, "live1\n");
    const int spool = ::open(dir.file("spool").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(spool, 0);
    RotatedSpool set(
        {third, dir.file("app.log.gone"), dir.file("app.log.2"), dir.file("app.log.1")}, live,
        spool, 0);
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> done{0};
    ASSERT_TRUE(set.writeOlder(stop, done));
    EXPECT_EQ(quilltest::readFile(dir.file("spool")), "c1\nc2\nb1\na1\na2\n");
    ASSERT_EQ(set.problems().size(), 1u);
    EXPECT_EQ(set.problems()[0].path, dir.file("app.log.gone"));
    EXPECT_EQ(set.problems()[0].error, ENOENT);
    EXPECT_EQ(set.membersDone(), 4u);
    struct stat packed {};
    ASSERT_EQ(::stat(third.c_str(), &packed), 0);
    EXPECT_EQ(done.load(), std::uint64_t(packed.st_size) + 3 + 5);

    // A random walk of the writer against a model of the spool: what was read stays, a
    // restart ends the last line first.
    const unsigned seed = 20261210;
    std::mt19937 random(seed);
    std::string model = quilltest::readFile(dir.file("spool")) + "live1\n";
    ASSERT_TRUE(set.followLive());
    ASSERT_EQ(quilltest::readFile(dir.file("spool")), model);
    std::string liveText = "live1\n";
    int rotated = 0;
    const auto endLine = [&] {
        if (!model.empty() && model.back() != '\n') {
            model += '\n';
        }
    };
    bool gone = false;
    for (int step = 0; step < 300; ++step) {
        const int what = static_cast<int>(random() % 10);
        std::string text = "s" + std::to_string(step);
        text += random() % 3 == 0 ? "" : "\n";
        if (what < 6 || gone) {
            quilltest::appendFile(live, text);
            if (gone) {
                // Created again under its name: a new file.
                endLine();
                gone = false;
                liveText.clear();
            }
            liveText += text;
            model += text;
        } else if (what < 8) {
            // Renamed away: a late write to the old file is read before the new file.
            const std::string old = dir.file("app.log.r" + std::to_string(++rotated));
            ASSERT_EQ(::rename(live.c_str(), old.c_str()), 0);
            if (random() % 2 == 0) {
                quilltest::appendFile(old, "late\n");
                model += "late\n";
            }
            quilltest::writeFile(live, text);
            endLine();
            model += text;
            liveText = text;
        } else if (what < 9) {
            // Truncated in place and written again, shorter than it was.
            const std::string again = "t\n";
            if (liveText.size() <= again.size()) {
                continue;
            }
            ASSERT_EQ(::truncate(live.c_str(), 0), 0);
            quilltest::appendFile(live, again);
            liveText = again;
            endLine();
            model += again;
        } else {
            // Renamed away with nothing in its place for a while.
            ASSERT_EQ(
                ::rename(live.c_str(), dir.file("app.log.r" + std::to_string(++rotated)).c_str()),
                0);
            gone = true;
        }
        ASSERT_TRUE(set.followLive()) << "seed " << seed << " step " << step;
        ASSERT_EQ(quilltest::readFile(dir.file("spool")), model)
            << "seed " << seed << " step " << step;
    }
    EXPECT_GT(set.restarts(), 10);
    ::close(spool);
}

// The kernel's copy passes no bytes through the spool's writer: a plain member that would
// leave less than the reserve free is refused before it is copied.
TEST(RotatedSpool, APlainMemberThatWouldEatTheReserveIsRefused)
{
    TempDir dir;
    quilltest::writeFile(dir.file("app.log.1"), "x\n");
    const int spool = ::open(dir.file("spool").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(spool, 0);
    RotatedSpool set({dir.file("app.log.1")}, dir.file("app.log"), spool, std::int64_t(1) << 62);
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> done{0};
    EXPECT_FALSE(set.writeOlder(stop, done));
    EXPECT_EQ(set.spoolProblem(), SpoolWriter::Status::DiskFull);
    EXPECT_EQ(set.spoolError(), ENOSPC);
    EXPECT_EQ(quilltest::readFile(dir.file("spool")), "");
    ::close(spool);
}

// The source end to end: the spool holds the set in order, the live file's rotation on
// its own thread keeps the order, and destroying the source removes the spool.
TEST(RotatedSpool, SourceFollowsTheLiveFileAfterItsRotation)
{
    TempDir dir;
    const std::string live = dir.file("app.log");
    const std::string older = gzipped(dir, "app.log.2.gz", "old2\n");
    quilltest::writeFile(dir.file("app.log.1"), "old1\n");
    quilltest::writeFile(live, "new1\n");
    SourceOptions options;
    options.folder = dir.file("spools");
    options.reserveBytes = 0;
    int error = 0;
    std::unique_ptr<LogSource> source =
        LogSource::followRotated({older, dir.file("app.log.1")}, live, u"app.log", options, error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_TRUE(source->follows());
    EXPECT_FALSE(source->runsProcess());
    const auto spoolIs = [&](const std::string& want) {
        for (int i = 0; i < 2000; ++i) {
            if (quilltest::readFile(source->spoolPath()) == want) {
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    };
    ASSERT_TRUE(spoolIs("old2\nold1\nnew1\n")) << quilltest::readFile(source->spoolPath());
    ASSERT_EQ(::rename(live.c_str(), dir.file("app.log.0").c_str()), 0);
    quilltest::appendFile(dir.file("app.log.0"), "new2\n");
    quilltest::writeFile(live, "newer1\n");
    EXPECT_TRUE(spoolIs("old2\nold1\nnew1\nnew2\nnewer1\n"))
        << quilltest::readFile(source->spoolPath());
    const SourceStatus status = source->status();
    EXPECT_EQ(status.phase, SourceStatus::Phase::Running);
    EXPECT_TRUE(status.following);
    EXPECT_EQ(status.membersDone, 2u);
    EXPECT_EQ(status.restarts, 1);
    const std::string spool = source->spoolPath();
    source.reset();
    EXPECT_NE(::access(spool.c_str(), F_OK), 0);
}
