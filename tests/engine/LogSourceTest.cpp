// Sources against real pipes and real processes: what arrives is spooled, the end is seen,
// a command's status is kept, and destroying a source leaves no spool and no process. A
// randomized walk sets a writer against close and cancel at random moments.

#include "engine/LogSource.h"
#include "EngineTestSupport.h"
#include "support/Utf8Model.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using quilltest::TempDir;

namespace {

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A process that runs: it exists and is no zombie (an orphan's zombie waits for a reaper
// that a container may not have).
bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return false;
    }
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// No process at all: ended and reaped (a zombie of this program's would be one left to pile
// up).
bool gone(pid_t pid)
{
    return !exists("/proc/" + std::to_string(pid));
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = 20s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string spoolText(const LogSource& source)
{
    return quilltest::readFile(source.spoolPath());
}

SourceOptions optionsIn(const TempDir& dir)
{
    SourceOptions options;
    options.folder = dir.file("spool");
    options.reserveBytes = 0;
    return options;
}

void writeAll(int fd, const std::string& text)
{
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

TEST(StreamSource, SpoolsWhatArrivesUntilTheEndAndRemovesItsSpool)
{
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int error = 0;
    auto source = LogSource::followStream(fds[0], u"standard input", optionsIn(dir), error);
    ::close(fds[0]); // the source reads its own copy
    ASSERT_TRUE(source) << error;
    const std::string spool = source->spoolPath();
    EXPECT_EQ(source->kind(), SourceKind::StandardInput);
    EXPECT_TRUE(source->follows());

    writeAll(fds[1], "first\n");
    EXPECT_TRUE(waitFor([&] { return spoolText(*source) == "first\n"; }));
    EXPECT_EQ(source->status().phase, SourceStatus::Phase::Running);
    writeAll(fds[1], "second\nthird");
    ::close(fds[1]);
    EXPECT_TRUE(waitFor([&] { return source->status().phase != SourceStatus::Phase::Running; }));
    const SourceStatus status = source->status();
    EXPECT_EQ(status.phase, SourceStatus::Phase::Ended);
    EXPECT_EQ(status.problem, SourceStatus::Problem::None);
    EXPECT_EQ(status.spooled, 18u);
    EXPECT_EQ(spoolText(*source), "first\nsecond\nthird");
    source.reset();
    EXPECT_FALSE(exists(spool));
}

TEST(StreamSource, ClosesWhileTheWriterStillHoldsThePipe)
{
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int error = 0;
    auto source = LogSource::followStream(fds[0], u"in", optionsIn(dir), error);
    ::close(fds[0]);
    ASSERT_TRUE(source);
    const std::string spool = source->spoolPath();
    writeAll(fds[1], "x\n");
    EXPECT_TRUE(waitFor([&] { return source->status().spooled == 2; }));
    source.reset(); // returns although the pipe never ends
    EXPECT_FALSE(exists(spool));
    // The reading end is gone: the writer learns it at once instead of blocking.
    std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(::write(fds[1], "y\n", 2), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(fds[1]);
}

TEST(StreamSource, StopsAtTheDiskReserveWithWhatArrivedKept)
{
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    SourceOptions options = optionsIn(dir);
    options.reserveBytes = std::int64_t(1) << 60; // more than any disk has
    int error = 0;
    auto source = LogSource::followStream(fds[0], u"in", options, error);
    ::close(fds[0]);
    ASSERT_TRUE(source);
    writeAll(fds[1], "too much\n");
    EXPECT_TRUE(waitFor([&] { return source->status().phase != SourceStatus::Phase::Running; }));
    const SourceStatus status = source->status();
    EXPECT_EQ(status.phase, SourceStatus::Phase::Failed);
    EXPECT_EQ(status.problem, SourceStatus::Problem::DiskFull);
    EXPECT_EQ(status.reserveBytes, std::int64_t(1) << 60);
    EXPECT_EQ(spoolText(*source), "");
    ::close(fds[1]);
}

TEST(StreamSource, RefusesASpoolFolderOthersCanReach)
{
    TempDir dir;
    SourceOptions options = optionsIn(dir);
    ASSERT_EQ(::mkdir(options.folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(options.folder.c_str(), 0777), 0);
    int error = 0;
    EXPECT_FALSE(LogSource::followStream(0, u"in", options, error));
    EXPECT_EQ(error, EPERM);
}

TEST(CommandSource, SpoolsBothOutputsAndKeepsTheExitStatus)
{
    TempDir dir;
    int error = 0;
    auto source = LogSource::followCommand(
        {"sh", "-c", "echo out; echo err >&2; read line; echo \"stdin:$line\"; exit 3"}, u"sh",
        optionsIn(dir), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->kind(), SourceKind::Command);
    EXPECT_TRUE(waitFor([&] { return source->status().exited; }));
    const SourceStatus status = source->status();
    EXPECT_EQ(status.phase, SourceStatus::Phase::Ended);
    EXPECT_EQ(status.exitCode, 3);
    EXPECT_EQ(status.exitSignal, 0);
    // Standard input is /dev/null: read gets nothing at once.
    EXPECT_EQ(spoolText(*source), "out\nerr\nstdin:\n");
    EXPECT_EQ(source->processId(), 0);
}

TEST(CommandSource, ArgumentsReachTheProgramAsTheyAre)
{
    TempDir dir;
    int error = 0;
    auto source = LogSource::followCommand({"printf", "%s|", "a b", "$HOME", "*", ""}, u"p",
                                           optionsIn(dir), error);
    ASSERT_TRUE(source);
    EXPECT_TRUE(waitFor([&] { return source->status().exited; }));
    EXPECT_EQ(spoolText(*source), "a b|$HOME|*||");
    EXPECT_EQ(source->status().exitCode, 0);
}

TEST(CommandSource, AProgramThatDoesNotExistFailsToStart)
{
    TempDir dir;
    int error = 0;
    auto source =
        LogSource::followCommand({"quillstream-no-such-program-24"}, u"x", optionsIn(dir), error);
    ASSERT_TRUE(source);
    const SourceStatus status = source->status();
    EXPECT_EQ(status.phase, SourceStatus::Phase::Failed);
    EXPECT_EQ(status.problem, SourceStatus::Problem::StartFailed);
    EXPECT_EQ(status.error, ENOENT);
    EXPECT_TRUE(status.exited);
    const std::string spool = source->spoolPath();
    source.reset();
    EXPECT_FALSE(exists(spool));
}

// The command prints its own id (and that of what it started) first.
std::vector<pid_t> pidsFrom(const LogSource& source, std::size_t count)
{
    std::vector<pid_t> pids;
    EXPECT_TRUE(waitFor([&] {
        const std::string text = spoolText(source);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= count;
    }));
    std::istringstream in(spoolText(source));
    pid_t pid;
    while (pids.size() < count && in >> pid) {
        pids.push_back(pid);
    }
    return pids;
}

TEST(CommandSource, ClosingEndsTheCommandAndWhatItStarted)
{
    TempDir dir;
    int error = 0;
    auto source = LogSource::followCommand({"sh", "-c", "sleep 1000 & echo $$; echo $!; wait"},
                                           u"sh", optionsIn(dir), error);
    ASSERT_TRUE(source);
    const std::vector<pid_t> pids = pidsFrom(*source, 2);
    ASSERT_EQ(pids.size(), 2u);
    EXPECT_EQ(source->processId(), pids[0]);
    EXPECT_TRUE(running(pids[0]));
    EXPECT_TRUE(running(pids[1]));
    const auto start = std::chrono::steady_clock::now();
    source.reset();
    LogSource::waitForEndings();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << "SIGTERM should do";
    EXPECT_TRUE(gone(pids[0]));
    EXPECT_TRUE(gone(pids[1]));
}

// The grace runs elsewhere: the caller (the window) gets control back at once, and the
// command is still killed after it.
TEST(CommandSource, ClosingReturnsAtOnceAndTheGraceRunsElsewhere)
{
    TempDir dir;
    SourceOptions options = optionsIn(dir);
    options.grace = 1500ms;
    int error = 0;
    auto source = LogSource::followCommand({"sh", "-c", "trap '' TERM; echo $$; exec sleep 600"},
                                           u"sh", options, error);
    ASSERT_TRUE(source);
    const std::vector<pid_t> pids = pidsFrom(*source, 1);
    ASSERT_EQ(pids.size(), 1u);
    const std::string spool = source->spoolPath();
    const auto start = std::chrono::steady_clock::now();
    source.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(exists(spool));
    EXPECT_TRUE(running(pids[0])) << "killed before its grace";
    LogSource::waitForEndings();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(gone(pids[0]));
}

// Quitting with several commands that ignore SIGTERM: their graces run side by side.
TEST(CommandSource, SeveralEndingsTakeOneGraceTogether)
{
    TempDir dir;
    SourceOptions options = optionsIn(dir);
    options.grace = 600ms;
    std::vector<std::unique_ptr<LogSource>> sources;
    std::vector<pid_t> pids;
    for (int i = 0; i < 3; ++i) {
        int error = 0;
        sources.push_back(LogSource::followCommand(
            {"sh", "-c", "trap '' TERM; echo $$; exec sleep 600"}, u"sh", options, error));
        ASSERT_TRUE(sources.back());
        const std::vector<pid_t> one = pidsFrom(*sources.back(), 1);
        ASSERT_EQ(one.size(), 1u);
        pids.push_back(one[0]);
    }
    const auto start = std::chrono::steady_clock::now();
    sources.clear();
    LogSource::waitForEndings();
    // One after another would take three graces (1800 ms).
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1300ms);
    for (pid_t pid : pids) {
        EXPECT_TRUE(gone(pid)) << pid;
    }
}

// Ways a command's processes outlived its end. Each prints the ids to check, one a line.
struct LeakWay {
    const char* name;
    const char* script;
    std::size_t ids;
    bool orphaned; // the first id is waited for until this program has adopted it
};

const LeakWay LeakWays[] = {
    {"the leader exits, a member that ignores SIGTERM holds the pipe",
     "trap '' TERM; sleep 600 & echo $!; echo $$", 2, false},
    {"the leader ends on SIGTERM, a member ignores it",
     "(trap '' TERM; exec sleep 600) & echo $!; echo $$; wait", 2, false},
    {"the leader ignores SIGTERM and dies of SIGPIPE once the pipe is closed",
     "trap '' TERM; sleep 600 & echo $!; echo $$; while :; do echo tick; sleep 0.05; done", 2,
     false},
    {"a child left the group (setsid), its parent lives",
     "trap '' TERM; setsid sh -c 'trap \"\" TERM; echo $$; exec sleep 600' & echo $$; wait", 2,
     false},
    {"a child left the group and was orphaned before the close",
     "setsid sh -c 'trap \"\" TERM; echo $$; exec sleep 600' & echo $$", 2, true},
    {"a daemon: setsid, fork, the middle exits, no output",
     "setsid sh -c 'trap \"\" TERM; sleep 600 >/dev/null 2>&1 & echo $!' ; exec sleep 600", 1,
     true},
};

pid_t parentOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    return close == std::string::npos ? 0 : std::atoi(text.c_str() + close + 4);
}

TEST(CommandSource, NothingOfTheCommandOutlivesItsEnd)
{
    TempDir dir;
    SourceOptions options = optionsIn(dir);
    options.grace = 300ms;
    std::vector<std::pair<const LeakWay*, std::vector<pid_t>>> all;
    std::vector<std::unique_ptr<LogSource>> sources;
    for (const LeakWay& way : LeakWays) {
        int error = 0;
        sources.push_back(
            LogSource::followCommand({"sh", "-c", way.script}, u"sh", options, error));
        ASSERT_TRUE(sources.back()) << way.name;
        std::vector<pid_t> pids = pidsFrom(*sources.back(), way.ids);
        ASSERT_EQ(pids.size(), way.ids) << way.name;
        if (way.orphaned) {
            // Either id may come first; the one that is adopted is the one that runs on.
            EXPECT_TRUE(waitFor(
                [&] {
                    return std::any_of(pids.begin(), pids.end(),
                                       [](pid_t pid) { return parentOf(pid) == ::getpid(); });
                },
                5s))
                << way.name;
        }
        for (pid_t pid : pids) {
            EXPECT_FALSE(gone(pid)) << way.name;
        }
        all.emplace_back(&way, std::move(pids));
    }
    sources.clear();
    LogSource::waitForEndings();
    for (const auto& [way, pids] : all) {
        for (pid_t pid : pids) {
            EXPECT_TRUE(gone(pid)) << way->name << ": " << pid << " is left";
        }
    }
}

// Cancel ends a command as closing does, while the tab (the source) stays.
TEST(CommandSource, CancelEndsTheCommandAndWhatIgnoresSigterm)
{
    TempDir dir;
    SourceOptions options = optionsIn(dir);
    options.grace = 300ms;
    int error = 0;
    auto quiet = LogSource::followCommand({"sleep", "600"}, u"sleep", options, error);
    auto stubborn = LogSource::followCommand({"sh", "-c", "trap '' TERM; echo $$; exec sleep 600"},
                                             u"sh", options, error);
    ASSERT_TRUE(quiet && stubborn);
    const std::vector<pid_t> pids = pidsFrom(*stubborn, 1);
    ASSERT_EQ(pids.size(), 1u);
    const pid_t sleeper = quiet->processId();
    const auto start = std::chrono::steady_clock::now();
    quiet->cancel();
    stubborn->cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_TRUE(waitFor([&] { return quiet->status().exited && stubborn->status().exited; }, 5s));
    EXPECT_EQ(quiet->status().exitSignal, SIGTERM);
    EXPECT_EQ(stubborn->status().exitSignal, SIGKILL);
    EXPECT_EQ(stubborn->status().phase, SourceStatus::Phase::Ended);
    EXPECT_TRUE(waitFor([&] { return gone(sleeper) && gone(pids[0]); }, 5s));
}

// An orphan the program adopted that ends by itself is reaped; a command's own leader is
// left to its source.
TEST(CommandSource, AdoptedOrphansThatEndAreReaped)
{
    TempDir dir;
    int error = 0;
    auto source =
        LogSource::followCommand({"sh", "-c", "(sleep 0.2 & echo $!); echo $$; exec sleep 600"},
                                 u"sh", optionsIn(dir), error);
    ASSERT_TRUE(source);
    const std::vector<pid_t> pids = pidsFrom(*source, 2);
    ASSERT_EQ(pids.size(), 2u);
    EXPECT_TRUE(waitFor(
        [&] {
            LogSource::reapAdoptedOrphans();
            return gone(pids[0]);
        },
        10s));
    EXPECT_TRUE(running(pids[1]));
    EXPECT_EQ(source->processId(), pids[1]);
}

TEST(CommandSource, DiskFullEndsTheCommand)
{
    TempDir dir;
    SourceOptions options = optionsIn(dir);
    options.reserveBytes = std::int64_t(1) << 60;
    options.grace = 20s; // the SIGKILL that follows a grace time is not what ends it here
    int error = 0;
    // A command that outlives a closed pipe: only the source's SIGTERM ends it.
    auto source = LogSource::followCommand(
        {"sh", "-c", "trap '' PIPE; while :; do echo x 2>/dev/null; sleep 0.01; done"}, u"sh",
        options, error);
    ASSERT_TRUE(source);
    EXPECT_TRUE(waitFor([&] { return source->status().exited; }, 5s));
    const SourceStatus status = source->status();
    EXPECT_EQ(status.problem, SourceStatus::Problem::DiskFull);
    EXPECT_EQ(status.phase, SourceStatus::Phase::Failed);
}

TEST(DecompressSource, WritesTheCopyAndIsNotFollowed)
{
    TempDir dir;
    const std::string plain = dir.file("a.log");
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    quilltest::writeFile(plain, text);
    ASSERT_EQ(std::system(("gzip -k '" + plain + "'").c_str()), 0);
    int error = 0;
    auto source = LogSource::decompress(plain + ".gz", CompressionFormat::Gzip, u"a.log.gz",
                                        optionsIn(dir), error);
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->follows());
    EXPECT_TRUE(waitFor([&] { return source->status().phase != SourceStatus::Phase::Running; }));
    const SourceStatus status = source->status();
    EXPECT_EQ(status.phase, SourceStatus::Phase::Ended);
    EXPECT_EQ(status.inputDone, status.inputSize);
    EXPECT_EQ(status.spooled, text.size());
    EXPECT_TRUE(spoolText(*source) == text);

    EXPECT_FALSE(LogSource::decompress(dir.file("missing.gz"), CompressionFormat::Gzip, u"m",
                                       optionsIn(dir), error));
    EXPECT_EQ(error, ENOENT);
}

TEST(DocumentSource, TheDocumentFollowsAPipeAndEndsItOnClose)
{
    quilltest::TestSettings settings;
    quilltest::FakeHost host;
    LogDocument doc(&host, settings.store);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int error = 0;
    auto source =
        LogSource::followStream(fds[0], u"standard input", optionsIn(settings.dir), error);
    ::close(fds[0]);
    ASSERT_TRUE(source);
    const std::string spool = source->spoolPath();
    ASSERT_TRUE(doc.openSource(std::move(source)));
    doc.setTitle();
    EXPECT_NE(host.shownTitle.find(u"standard input"), std::u16string::npos);
    EXPECT_EQ(host.shownTitle.find(u".spool"), std::u16string::npos);
    EXPECT_EQ(host.filePathText, u"standard input");
    writeAll(fds[1], "one\ntwo\n");
    EXPECT_TRUE(waitFor([&] { return doc.lineCount() >= 2 && doc.line(1) == u"two"; }));
    EXPECT_EQ(doc.line(0), u"one");
    EXPECT_EQ(doc.line(1), u"two");
    doc.closeDocument();
    EXPECT_EQ(doc.source(), nullptr);
    EXPECT_FALSE(exists(spool));
    ::close(fds[1]);
}

// The randomized walk: a writer appends numbered lines at random moments while the main
// thread cancels or destroys the source, or the writer ends, at random moments. What must
// hold: the spool only ever holds a prefix of what was written, the source ends, the
// writer is never left blocked, and nothing remains afterwards.
void runWriterAgainstClose(unsigned seed)
{
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int error = 0;
    auto source = LogSource::followStream(fds[0], u"in", optionsIn(dir), error);
    ::close(fds[0]);
    ASSERT_TRUE(source);
    const std::string spool = source->spoolPath();

    const int lines = 1 + static_cast<int>(random() % 400);
    std::vector<int> pauses(lines);
    for (int& pause : pauses) {
        pause = random() % 4 == 0 ? static_cast<int>(random() % 300) : 0; // microseconds
    }
    std::string written; // guarded by the join below
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        for (int i = 0; i < lines; ++i) {
            const std::string line = "line " + std::to_string(i) + " " +
                                     std::string(static_cast<std::size_t>(i % 50), 'x') + "\n";
            if (::write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
                break; // the source went: EPIPE
            }
            written += line;
            std::this_thread::sleep_for(std::chrono::microseconds(pauses[i]));
        }
        ::close(fds[1]);
        writerDone = true;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    const int action = static_cast<int>(random() % 3);
    std::string seen;
    if (action == 0) {
        source->cancel();
        EXPECT_TRUE(
            waitFor([&] { return source->status().phase != SourceStatus::Phase::Running; }));
        seen = spoolText(*source);
        EXPECT_EQ(source->status().phase, SourceStatus::Phase::Ended);
        source.reset();
    } else if (action == 1) {
        seen = spoolText(*source);
        source.reset();
    }
    writer.join();
    if (action == 2) {
        // The writer finished: everything arrives and the source sees the end.
        EXPECT_TRUE(waitFor([&] { return source->status().phase == SourceStatus::Phase::Ended; }));
        seen = spoolText(*source);
        EXPECT_EQ(seen, written);
        EXPECT_EQ(source->status().spooled, written.size());
        source.reset();
    }
    EXPECT_TRUE(writerDone);
    EXPECT_LE(seen.size(), written.size());
    EXPECT_EQ(written.compare(0, seen.size(), seen), 0) << "the spool is no prefix";
    EXPECT_FALSE(exists(spool));
}

TEST(SourceWalk, WriterAgainstCloseAndCancel)
{
    std::signal(SIGPIPE, SIG_IGN);
    const unsigned base = std::getenv("QUILL_SEED") ? std::atoi(std::getenv("QUILL_SEED")) : 2400;
    for (unsigned seed = base; seed < base + 40; ++seed) {
        runWriterAgainstClose(seed);
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
}

// Decompression cancelled at random moments: the copy is always a prefix of the text.
TEST(SourceWalk, DecompressionAgainstCancel)
{
    TempDir dir;
    const std::string plain = dir.file("big.log");
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text += "2026-12-08 INFO line " + std::to_string(i * 7919 % 100003) + "\n";
    }
    quilltest::writeFile(plain, text);
    ASSERT_EQ(std::system(("gzip -k '" + plain + "'").c_str()), 0);
    std::mt19937 random(24);
    for (int round = 0; round < 12; ++round) {
        int error = 0;
        auto source = LogSource::decompress(plain + ".gz", CompressionFormat::Gzip, u"g",
                                            optionsIn(dir), error);
        ASSERT_TRUE(source);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        source->cancel();
        EXPECT_TRUE(
            waitFor([&] { return source->status().phase != SourceStatus::Phase::Running; }));
        const SourceStatus status = source->status();
        const std::string copy = spoolText(*source);
        EXPECT_TRUE(status.phase == SourceStatus::Phase::Cancelled ||
                    status.phase == SourceStatus::Phase::Ended);
        if (status.phase == SourceStatus::Phase::Ended) {
            EXPECT_TRUE(copy == text);
        }
        EXPECT_EQ(text.compare(0, copy.size(), copy), 0);
        const std::string spool = source->spoolPath();
        source.reset();
        EXPECT_FALSE(exists(spool));
    }
}

// Lines of one to four byte characters as the model holds them, and their UTF-8.
struct ModelLines {
    std::vector<std::u16string> lines;
    std::string bytes;
};

ModelLines modelLines(std::mt19937& random, std::size_t bytes)
{
    static const std::u16string pieces[] = {u"a",      u"Z",      u"0",         u" ",
                                            u"\u00FC", u"\u20AC", u"\U0001F600"};
    ModelLines text;
    while (text.bytes.size() < bytes) {
        std::u16string line;
        for (std::size_t n = random() % 150; n > 0; --n) {
            line += pieces[random() % 7];
        }
        text.bytes += utf8Of(line) + "\n";
        text.lines.push_back(std::move(line));
    }
    return text;
}

// What a document shows of a copy still being written, against the final lines: a line
// with one after it is one of them; the last one (maybe still open) is the start of its
// line, but for the stand-in of a character whose bytes were not all there yet.
void expectShownIsPrefix(LogDocument& doc, const std::vector<std::u16string>& lines,
                         std::mt19937& random)
{
    const LineNumber count = doc.lineCount();
    ASSERT_LE(count, lines.size());
    if (count == 0) {
        return;
    }
    for (const LineNumber line :
         {count - 1, count > 1 ? count - 2 : 0, static_cast<LineNumber>(random() % count)}) {
        const std::u16string shown = doc.line(line);
        if (line + 1 < count) {
            ASSERT_EQ(shown, lines[line]) << "line " << line << " of " << count;
            continue;
        }
        std::u16string start = shown;
        while (!start.empty() && start.back() == u'\uFFFD') {
            start.pop_back();
        }
        ASSERT_EQ(lines[line].compare(0, start.size(), start), 0)
            << "last line " << line << " is no start of its line";
    }
}

// Follows a decompression until the document is done with it, checking what it shows on
// the way; pause: following is paused once the first lines are there.
struct Followed {
    bool linesWhileRunning = false;
    SourceStatus status;
};

Followed followToTheEnd(LogDocument& doc, const std::vector<std::u16string>& lines, bool pause)
{
    std::mt19937 random(507);
    Followed seen;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!doc.pollSource() && std::chrono::steady_clock::now() < end) {
        expectShownIsPrefix(doc, lines, random);
        if (::testing::Test::HasFatalFailure()) {
            break;
        }
        const bool some = doc.lineCount() > 0;
        const bool running = doc.source()->status().phase == SourceStatus::Phase::Running;
        if (some && running && !seen.linesWhileRunning) {
            seen.linesWhileRunning = true;
            if (pause) {
                doc.stopWatching();
                EXPECT_TRUE(doc.canFollow()) << "Resume is offered while it is written";
            }
        }
        std::this_thread::sleep_for(1ms);
    }
    seen.status = doc.source()->status();
    return seen;
}

// A document opens a decompressed copy at once and follows it as it is written: lines
// show before the copy is complete, every state shown is the start of the final text, and
// once complete the copy is read to its end and not followed any more (nothing to
// resume), also when following was paused on the way.
TEST(DocumentSource, ShowsADecompressionAsItIsWrittenAndStopsFollowingItOnceComplete)
{
    quilltest::TestSettings settings;
    quilltest::FakeHost host;
    std::mt19937 random(506);
    const ModelLines text = modelLines(random, 12 << 20);
    const std::string plain = settings.dir.file("big.log");
    quilltest::writeFile(plain, text.bytes);
    // bzip2 decompresses slowest of the formats: the widest window to look through.
    ASSERT_EQ(std::system(("bzip2 -1 -k '" + plain + "'").c_str()), 0);
    for (const bool pause : {false, true}) {
        SCOPED_TRACE(pause ? "paused on the way" : "followed");
        LogDocument doc(&host, settings.store);
        doc.setEncoding(quill::TextEncoding::Utf8);
        int error = 0;
        auto source = LogSource::decompress(plain + ".bz2", CompressionFormat::Bzip2, u"big",
                                            optionsIn(settings.dir), error);
        ASSERT_TRUE(source);
        ASSERT_TRUE(doc.openSource(std::move(source)));
        const Followed seen = followToTheEnd(doc, text.lines, pause);
        EXPECT_TRUE(seen.linesWhileRunning) << "no line before the copy was complete";
        EXPECT_EQ(seen.status.phase, SourceStatus::Phase::Ended);
        EXPECT_FALSE(doc.isWatching());
        EXPECT_FALSE(doc.canFollow());
        ASSERT_EQ(doc.lineCount(), text.lines.size());
        for (int i = 0; i < 300; ++i) {
            const LineNumber line = i == 0 ? text.lines.size() - 1 : random() % text.lines.size();
            ASSERT_EQ(doc.line(line), text.lines[line]) << line;
        }
        // A complete copy is not followed again, whoever asks.
        doc.startWatching();
        EXPECT_FALSE(doc.isWatching());
        EXPECT_FALSE(doc.pollSource());
    }
}

// Damage in the middle of an archive (a second stream whose start is garbled): the lines
// decompressed before it are all shown, nothing after, and the copy is not followed after.
TEST(DocumentSource, ADamagedArchiveKeepsEveryLineBeforeTheDamage)
{
    quilltest::TestSettings settings;
    quilltest::FakeHost host;
    std::mt19937 random(508);
    const ModelLines first = modelLines(random, 5 << 20);
    const ModelLines second = modelLines(random, 1 << 20);
    for (const char* tool : {"gzip", "zstd -q"}) {
        SCOPED_TRACE(tool);
        const std::string a = settings.dir.file("a.log");
        const std::string b = settings.dir.file("b.log");
        quilltest::writeFile(a, first.bytes);
        quilltest::writeFile(b, second.bytes);
        const std::string packed = settings.dir.file("damaged");
        ASSERT_EQ(std::system((std::string(tool) + " -c '" + a + "' > '" + packed + "'").c_str()),
                  0);
        const std::string firstPart = quilltest::readFile(packed);
        ASSERT_EQ(std::system((std::string(tool) + " -c '" + b + "' > '" + packed + "'").c_str()),
                  0);
        std::string secondPart = quilltest::readFile(packed);
        for (std::size_t i = 0; i < 12; ++i) {
            secondPart[i] = static_cast<char>(secondPart[i] ^ 0x33);
        }
        quilltest::writeFile(packed, firstPart + secondPart);
        LogDocument doc(&host, settings.store);
        doc.setEncoding(quill::TextEncoding::Utf8);
        int error = 0;
        auto source = LogSource::decompress(packed, detectCompressionOfFile(packed), u"damaged",
                                            optionsIn(settings.dir), error);
        ASSERT_TRUE(source);
        ASSERT_TRUE(doc.openSource(std::move(source)));
        const Followed seen = followToTheEnd(doc, first.lines, false);
        EXPECT_EQ(seen.status.phase, SourceStatus::Phase::Failed);
        EXPECT_EQ(seen.status.problem, SourceStatus::Problem::Damaged);
        EXPECT_EQ(seen.status.spooled, first.bytes.size());
        ASSERT_EQ(doc.lineCount(), first.lines.size());
        EXPECT_EQ(doc.line(first.lines.size() - 1), first.lines.back());
        EXPECT_FALSE(doc.isWatching());
        EXPECT_FALSE(doc.canFollow());
    }
}

} // namespace

// ssh's standard error is kept apart from the log, and only its last lines, whole: a proxy
// command that never connects stands in for a server, and writes more than is kept.
TEST(RemoteSource, KeepsTheLastWholeLinesOfSshsErrorsOutOfTheLog)
{
    TempDir dir;
    RemoteFile file;
    ASSERT_EQ(makeRemoteFile("nowhere.invalid", "", "", "/var/log/a.log", file),
              RemoteFileError::None);
    int error = 0;
    auto source = LogSource::followRemote(
        file,
        {"-F", "/dev/null", "-o",
         "ProxyCommand=sh -c 'i=0; while [ $i -lt 3000 ]; do echo \"complaint number $i\" >&2; "
         "i=$((i+1)); done'"},
        u"nowhere.invalid:/var/log/a.log", optionsIn(dir), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->kind(), SourceKind::Remote);
    EXPECT_TRUE(waitFor([&] { return source->status().exited; }));
    const SourceStatus status = source->status();
    EXPECT_EQ(status.exitCode, 255);
    EXPECT_EQ(status.spooled, 0u) << "ssh's complaints are no lines of the log";
    EXPECT_LE(status.errors.size(), 16u << 10);
    EXPECT_GE(status.errors.size(), 15u << 10);
    EXPECT_EQ(status.errors.rfind("complaint number ", 0), 0u) << status.errors.substr(0, 40);
    EXPECT_NE(status.errors.find("complaint number 2999\n"), std::string::npos);
    EXPECT_GE(status.errorLines, 3000u);
    EXPECT_EQ(status.errors.back(), '\n');
}
