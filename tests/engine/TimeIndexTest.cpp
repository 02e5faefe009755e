// The time index against a plain model: every line's own time in a vector, the running
// latest and a line's time found by scanning it. Random walks of lines whose times go back
// now and then, lines without a time, appends and restarts; then the same through a real
// document whose file is appended to by another program, cleared and replaced.

#include "EngineTestSupport.h"

#include "engine/DocumentTimeIndex.h"
#include "engine/KeywordLines.h"
#include "engine/TimeIndex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <random>
#include <thread>

using namespace quilltest;
using namespace std::chrono_literals;

namespace {

using Times = std::vector<std::optional<TimeMs>>;

// --- the model ---

std::optional<LineNumber> modelFirstAtOrAfter(const Times& own, TimeMs t)
{
    std::optional<TimeMs> latest;
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (own[i] && (!latest || *own[i] > *latest)) {
            latest = own[i];
        }
        if (latest && *latest >= t) {
            return LineNumber(i);
        }
    }
    return std::nullopt;
}

std::optional<TimeMs> modelTimeOf(const Times& own, LineNumber line)
{
    for (std::size_t i = line + 1; i-- > 0;) {
        if (own[i]) {
            return own[i];
        }
    }
    return std::nullopt;
}

// Lines whose times mostly climb, sometimes jump back (another writer), sometimes carry
// none (a stack trace), and sometimes start without any.
class Walk {
  public:
    explicit Walk(std::uint32_t seed) : m_rng(seed) {}
    std::optional<TimeMs> next()
    {
        const int roll = int(m_rng() % 100);
        if (roll < 25 || (m_leadingBlank && roll < 90)) {
            return std::nullopt;
        }
        m_leadingBlank = false;
        if (roll < 35) {
            m_now -= TimeMs(m_rng() % 5000); // an earlier writer
        } else if (roll < 40) {
            return m_now; // the same time again
        } else {
            m_now += TimeMs(m_rng() % 3);
        }
        return m_now;
    }
    void restart(bool leadingBlank) { m_leadingBlank = leadingBlank; }
    std::mt19937& rng() { return m_rng; }

  private:
    std::mt19937 m_rng;
    TimeMs m_now = 1'765'000'000'000;
    bool m_leadingBlank = false;
};

void checkAgainstModel(const TimeIndex& index, const Times& own, std::mt19937& rng)
{
    std::size_t widest = 0;
    const TimeIndex::Reader read = [&](LineNumber first, LineNumber end, Times& times) {
        EXPECT_LE(first, end);
        EXPECT_LE(end, own.size());
        widest = std::max<std::size_t>(widest, end - first);
        times.assign(own.begin() + first, own.begin() + end);
        return true;
    };
    ASSERT_EQ(index.lineCount(), own.size());
    std::vector<TimeMs> probes;
    TimeMs lowest = std::numeric_limits<TimeMs>::max();
    TimeMs highest = std::numeric_limits<TimeMs>::min();
    for (const auto& time : own) {
        if (time) {
            lowest = std::min(lowest, *time);
            highest = std::max(highest, *time);
        }
    }
    if (lowest <= highest) {
        probes = {lowest - 1, lowest, highest, highest + 1};
    }
    // The running latest at group edges (the last line of a group and the first of the
    // next), and just around it.
    std::vector<std::optional<TimeMs>> running(own.size());
    for (std::size_t i = 0; i < own.size(); ++i) {
        running[i] = i > 0 ? running[i - 1] : std::nullopt;
        if (own[i] && (!running[i] || *own[i] > *running[i])) {
            running[i] = own[i];
        }
    }
    for (int i = 0; i < 30 && own.size() > TimeIndex::GroupLines; ++i) {
        const std::size_t edge =
            (1 + rng() % (own.size() / TimeIndex::GroupLines)) * TimeIndex::GroupLines;
        for (const std::size_t line : {edge - 1, edge}) {
            if (line < own.size() && running[line]) {
                probes.insert(probes.end(),
                              {*running[line] - 1, *running[line], *running[line] + 1});
            }
        }
    }
    for (int i = 0; i < 60 && !own.empty(); ++i) {
        const auto& time = own[rng() % own.size()];
        if (time) {
            probes.push_back(*time + TimeMs(rng() % 3) - 1);
        }
    }
    for (const TimeMs t : probes) {
        std::optional<LineNumber> expected;
        for (std::size_t i = 0; i < running.size() && !expected; ++i) {
            if (running[i] && *running[i] >= t) {
                expected = LineNumber(i);
            }
        }
        EXPECT_EQ(index.firstLineAtOrAfter(t, read), expected) << "t " << t;
    }
    for (int i = 0; i < 60 && !own.empty(); ++i) {
        const auto line =
            LineNumber(i < 3 ? (own.size() - 1) * std::size_t(i) / 2 : rng() % own.size());
        EXPECT_EQ(index.timeOfLine(line, read), modelTimeOf(own, line)) << "line " << line;
    }
    EXPECT_EQ(index.timeOfLine(LineNumber(own.size()), read), std::nullopt);
    EXPECT_LE(widest, TimeIndex::GroupLines);

    const std::vector<TimeIndex::Block> blocks = index.blocks();
    ASSERT_EQ(blocks.size(), (own.size() + TimeIndex::BlockLines - 1) / TimeIndex::BlockLines);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        TimeIndex::Block expected;
        for (std::size_t i = b * TimeIndex::BlockLines;
             i < std::min(own.size(), (b + 1) * TimeIndex::BlockLines); ++i) {
            if (own[i]) {
                expected.earliest = expected.earliest == TimeIndex::NoTime
                                        ? *own[i]
                                        : std::min(expected.earliest, *own[i]);
                expected.latest = std::max(expected.latest, *own[i]);
            }
        }
        EXPECT_EQ(blocks[b].earliest, expected.earliest) << "block " << b;
        EXPECT_EQ(blocks[b].latest, expected.latest) << "block " << b;
    }
}

} // namespace

TEST(TimeIndex, RandomWalksOfAppendsAndRestartsAnswerAsTheModelScans)
{
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        Walk walk(seed);
        TimeIndex index;
        Times own;
        for (int step = 0; step < 12; ++step) {
            const std::uint32_t roll = walk.rng()() % 10;
            if (roll == 0) {
                index.clear();
                own.clear();
                walk.restart(walk.rng()() % 2 == 0);
            }
            // Appends that end on, just before and just after group edges, and large ones.
            const std::size_t sizes[] = {1, TimeIndex::GroupLines - 1, TimeIndex::GroupLines + 1,
                                         walk.rng()() % 700, TimeIndex::BlockLines};
            const std::size_t n = sizes[walk.rng()() % std::size(sizes)];
            for (std::size_t i = 0; i < n; ++i) {
                own.push_back(walk.next());
                index.addLine(own.back());
            }
            checkAgainstModel(index, own, walk.rng());
        }
    }
}

TEST(TimeIndex, ExactGroupEdgesAndALogWithoutTimes)
{
    TimeIndex index;
    Times own;
    std::mt19937 rng(7);
    // Every line one millisecond later: the running latest at a group edge is the first
    // line of the next group minus one.
    for (LineNumber i = 0; i < 3 * TimeIndex::GroupLines; ++i) {
        own.push_back(TimeMs(1000 + i));
        index.addLine(own.back());
    }
    checkAgainstModel(index, own, rng);
    const TimeIndex::Reader read = [&](LineNumber first, LineNumber end, Times& times) {
        times.assign(own.begin() + first, own.begin() + end);
        return true;
    };
    EXPECT_EQ(index.firstLineAtOrAfter(1000 + TimeIndex::GroupLines, read), TimeIndex::GroupLines);
    EXPECT_EQ(index.firstLineAtOrAfter(999 + TimeIndex::GroupLines, read),
              TimeIndex::GroupLines - 1);

    // A first group known by its sample alone, a later line of it the first to reach the time.
    TimeIndex sampled;
    Times inGroups(2 * TimeIndex::GroupLines, TimeMs(1000));
    inGroups[5] = 1100;
    inGroups[TimeIndex::GroupLines] = 1200;
    sampled.addSampledGroup(1000);
    sampled.addSampledGroup(1200);
    const TimeIndex::Reader readGroups = [&](LineNumber first, LineNumber end, Times& times) {
        times.assign(inGroups.begin() + first, inGroups.begin() + end);
        return true;
    };
    EXPECT_EQ(sampled.firstLineAtOrAfter(1050, readGroups), 5u);

    TimeIndex none;
    Times blank(300);
    for (const auto& time : blank) {
        none.addLine(time);
    }
    checkAgainstModel(none, blank, rng);
    EXPECT_EQ(none.latest(), TimeIndex::NoTime);
}

// Groups taken from a sample (the first time among their first few lines) between groups read
// whole, against the model of every line: a line's time is always exact; Go to Time is exact
// where no line is later than what the samples show up to the next group, and otherwise never
// earlier than the exact line, on a line that reaches the time; groups and blocks hold what was
// seen. Writers out of step by a little or by far, timeless stretches over many groups.
TEST(TimeIndex, SampledGroupsAnswerAsTheModelOfEveryLine)
{
    constexpr LineNumber G = TimeIndex::GroupLines;
    int exactWalks = 0;
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const TimeMs skew = seed % 4 == 0 ? 5000 : TimeMs(seed % 3) * 40;
        TimeMs clock = 1'765'000'000'000;
        TimeIndex index;
        Times own;
        std::vector<std::optional<TimeMs>> seen; // what the index was given, line by line
        std::vector<bool> sampledGroup;
        const auto nextTime = [&]() -> std::optional<TimeMs> {
            if (rng() % 4 == 0) {
                return std::nullopt;
            }
            clock += TimeMs(rng() % 3);
            return clock - (skew > 0 ? TimeMs(rng() % std::uint32_t(skew)) : 0);
        };
        for (int step = 0; step < 10; ++step) {
            const std::uint32_t roll = rng() % 6;
            const std::size_t groups = 1 + rng() % 40;
            if (roll < 3 && index.lineCount() % G == 0) {
                for (std::size_t g = 0; g < groups; ++g) {
                    // A stack trace over the whole group now and then.
                    const bool blank = rng() % 8 == 0;
                    const std::size_t window = 1 + rng() % 4;
                    std::optional<TimeMs> sample;
                    for (LineNumber i = 0; i < G; ++i) {
                        own.push_back(blank ? std::nullopt : nextTime());
                        if (!sample && i < window && own.back()) {
                            sample = own.back();
                        }
                        seen.push_back(i < window && own.back() == sample ? sample : std::nullopt);
                    }
                    index.addSampledGroup(sample.value_or(TimeIndex::NoTime));
                    sampledGroup.push_back(true);
                }
            } else {
                const std::size_t n = roll == 3 ? 1 + rng() % 5 : groups * 37;
                for (std::size_t i = 0; i < n; ++i) {
                    own.push_back(nextTime());
                    seen.push_back(own.back());
                    index.addLine(own.back());
                    if (own.size() % G == 1) {
                        sampledGroup.push_back(false);
                    }
                }
            }
        }
        const TimeIndex::Reader read = [&](LineNumber first, LineNumber end, Times& times) {
            EXPECT_LE(end - first, G);
            times.assign(own.begin() + first, own.begin() + end);
            return true;
        };
        // The running latest of what was seen, at each group's end.
        const std::size_t groupCount = (own.size() + G - 1) / G;
        std::vector<TimeMs> seenLatest(groupCount, TimeIndex::NoTime);
        TimeMs latest = TimeIndex::NoTime;
        for (std::size_t i = 0; i < own.size(); ++i) {
            if (seen[i]) {
                latest = std::max(latest, *seen[i]);
            }
            seenLatest[i / G] = latest;
        }
        EXPECT_EQ(index.groupLatest(), seenLatest);
        EXPECT_EQ(index.latest(), latest);
        // Exact where every line of a sampled group is reached by what was seen up to the
        // next group.
        bool exact = true;
        for (std::size_t i = 0; i < own.size(); ++i) {
            const std::size_t next = std::min(i / G + 1, groupCount - 1);
            exact = exact && (!own[i] || *own[i] <= seenLatest[next]);
        }
        exactWalks += exact ? 1 : 0;
        for (int q = 0; q < 200; ++q) {
            const auto& at = own[rng() % own.size()];
            if (!at) {
                continue;
            }
            const TimeMs t = *at + TimeMs(rng() % 3) - 1;
            const auto expected = modelFirstAtOrAfter(own, t);
            const auto found = index.firstLineAtOrAfter(t, read);
            if (exact) {
                EXPECT_EQ(found, expected) << "t " << t;
            } else if (found) {
                ASSERT_TRUE(own[*found]);
                EXPECT_GE(*own[*found], t);
                EXPECT_GE(*found, *expected);
            }
        }
        for (int q = 0; q < 200; ++q) {
            const auto line = LineNumber(rng() % own.size());
            // Past as many timeless sampled groups as are read back, the time is not looked for.
            const auto model = modelTimeOf(own, line);
            const auto got = index.timeOfLine(line, read);
            if (got || line < (TimeIndex::MostGroupsBack + 1) * G) {
                EXPECT_EQ(got, model) << "line " << line;
            }
        }
        const std::vector<TimeIndex::Block> blocks = index.blocks();
        ASSERT_EQ(blocks.size(), (own.size() + TimeIndex::BlockLines - 1) / TimeIndex::BlockLines);
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            TimeIndex::Block expected;
            for (std::size_t i = b * TimeIndex::BlockLines;
                 i < std::min(own.size(), (b + 1) * TimeIndex::BlockLines); ++i) {
                if (seen[i]) {
                    expected.earliest = expected.earliest == TimeIndex::NoTime
                                            ? *seen[i]
                                            : std::min(expected.earliest, *seen[i]);
                    expected.latest = std::max(expected.latest, *seen[i]);
                }
            }
            EXPECT_EQ(blocks[b].earliest, expected.earliest) << "block " << b;
            EXPECT_EQ(blocks[b].latest, expected.latest) << "block " << b;
        }
    }
    // Writers a little out of step leave most walks exact; far out of step, few.
    EXPECT_GE(exactWalks, 10);
    EXPECT_LT(exactWalks, 40);
}

// --- through a real document ---

namespace {

// A line "yyyy-mm-dd hh:mm:ss.000 ..." at `seconds`, local time, or a line without a time;
// every third line with a time is coloured as a program writes it for a terminal.
std::string logLine(std::optional<std::int64_t> seconds, int n)
{
    if (!seconds) {
        return "    at frame " + std::to_string(n) + "\n";
    }
    const std::time_t t = *seconds;
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    const std::string time = std::string(text) + ".000";
    return (n % 3 == 0 ? "\x1b[2m" + time + "\x1b[0m \x1b[32m" : time + " ") + "INFO line " +
           std::to_string(n) + "\n";
}

class DocumentTimes : public ::testing::Test {
  protected:
    DocumentTimes()
    {
        WatchTiming timing;
        timing.poll = 10ms;
        timing.missingRetry = 5ms;
        timing.sizeRetry = 5ms;
        doc.setWatchTiming(timing);
        path = settings.dir.file("times.log");
    }
    ~DocumentTimes() override { doc.closeDocument(); }

    // Lines to write, their own times noted in the model.
    std::string lines(std::size_t n, std::int64_t& seconds)
    {
        std::string bytes;
        for (std::size_t i = 0; i < n; ++i) {
            const int roll = int(rng() % 10);
            std::optional<std::int64_t> at;
            if (roll >= 3) {
                seconds += roll == 3 ? -std::int64_t(rng() % 100) : std::int64_t(rng() % 4);
                at = seconds;
            }
            bytes += logLine(at, int(own.size()));
            own.push_back(at ? std::optional<TimeMs>(*at * 1000) : std::nullopt);
        }
        return bytes;
    }

    // Handles the watcher's messages as the window does until the document holds `count`
    // lines (the last one complete, when asked).
    bool pumpUntil(LineNumber count, bool complete = false)
    {
        while (doc.lineCount() != count || (complete && doc.lastLineOpen())) {
            FakeHost::Message message{};
            if (!host.nextMessage(message)) {
                return false;
            }
            if (message.id == FileMessage::Reload) {
                doc.newDocument();
                doc.openDocument(u16(path));
            }
        }
        return true;
    }

    void expectModel(DocumentTimeIndex& times)
    {
        ASSERT_TRUE(times.waitCaughtUp());
        ASSERT_EQ(times.state(), DocumentTimeIndex::State::Ready);
        ASSERT_EQ(times.indexedLines(), own.size());
        const auto firstTime = *std::find_if(own.begin(), own.end(), [](auto& t) { return t; });
        for (int i = 0; i < 40; ++i) {
            const auto line = LineNumber(rng() % own.size());
            EXPECT_EQ(times.timeOfLine(line), modelTimeOf(own, line)) << line;
            const auto& at = own[rng() % own.size()];
            if (!at) {
                continue;
            }
            const TimeMs t = *at + TimeMs(rng() % 3) * 500 - 500;
            const auto found = times.firstLineAtOrAfter(t);
            const auto expected = modelFirstAtOrAfter(own, t);
            ASSERT_TRUE(found.has_value());
            if (t < *firstTime) {
                // Before the log's first time is its first line, whether it has a time or not.
                EXPECT_EQ(found->line, 0u);
                EXPECT_EQ(found->where, DocumentTimeIndex::Found::Where::BeforeFirst);
            } else if (expected) {
                EXPECT_EQ(found->line, *expected) << t;
            } else {
                EXPECT_EQ(found->where, DocumentTimeIndex::Found::Where::AfterLast) << t;
                EXPECT_EQ(found->line, own.size() - 1);
            }
        }
        // The first time itself is in the log, on its first line with a time.
        const auto atFirst = times.firstLineAtOrAfter(*firstTime);
        ASSERT_TRUE(atFirst.has_value());
        EXPECT_EQ(atFirst->where, DocumentTimeIndex::Found::Where::Inside);
        EXPECT_EQ(atFirst->line, modelFirstAtOrAfter(own, *firstTime));
        const auto before = times.firstLineAtOrAfter(*firstTime - 1);
        ASSERT_TRUE(before.has_value());
        EXPECT_EQ(before->line, 0u);
        EXPECT_EQ(before->where, DocumentTimeIndex::Found::Where::BeforeFirst);
        // Every group's running latest and every block's earliest and latest, as the worker
        // built them from all the lines.
        std::vector<TimeMs> groups;
        std::vector<TimeIndex::Block> blocks;
        TimeMs latest = TimeIndex::NoTime;
        for (std::size_t i = 0; i < own.size(); ++i) {
            if (i % TimeIndex::BlockLines == 0) {
                blocks.emplace_back();
            }
            if (own[i]) {
                latest = std::max(latest, *own[i]);
                TimeIndex::Block& block = blocks.back();
                block.earliest = block.earliest == TimeIndex::NoTime
                                     ? *own[i]
                                     : std::min(block.earliest, *own[i]);
                block.latest = std::max(block.latest, *own[i]);
            }
            if ((i + 1) % TimeIndex::GroupLines == 0 || i + 1 == own.size()) {
                groups.push_back(latest);
            }
        }
        EXPECT_EQ(times.groupLatest(), groups);
        const auto built = times.blocks();
        ASSERT_EQ(built.size(), blocks.size());
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            EXPECT_EQ(built[b].earliest, blocks[b].earliest) << "block " << b;
            EXPECT_EQ(built[b].latest, blocks[b].latest) << "block " << b;
        }
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
    std::mt19937 rng{11};
    Times own;
};

} // namespace

TEST_F(DocumentTimes, FollowsAppendsOfAnotherWriterAndStartsOverOnClearAndReplace)
{
    std::int64_t seconds = 1'796'000'000; // December 2026
    writeFile(path, lines(3000, seconds));
    ASSERT_TRUE(doc.openDocument(u16(path)));
    DocumentTimeIndex times(doc);
    EXPECT_EQ(times.state(), DocumentTimeIndex::State::Idle);
    EXPECT_FALSE(times.firstLineAtOrAfter(0).has_value());
    times.start();
    expectModel(times);

    // Another program appends, its last line the latest of all and written in two halves,
    // cut inside its time: the index never takes a line half written.
    for (int round = 0; round < 4; ++round) {
        std::string more = lines(1 + rng() % 400, seconds);
        for (const auto& time : own) {
            seconds = std::max(seconds, time.value_or(0) / 1000);
        }
        seconds += 5;
        const std::string last = logLine(seconds, int(own.size()));
        own.push_back(seconds * 1000);
        const std::size_t cut = more.size() + 1 + rng() % 18;
        more += last;
        appendFile(path, more.substr(0, cut));
        ASSERT_TRUE(pumpUntil(LineNumber(own.size())));
        ASSERT_TRUE(times.waitCaughtUp());
        appendFile(path, more.substr(cut));
        ASSERT_TRUE(pumpUntil(LineNumber(own.size()), true));
        ASSERT_TRUE(times.waitCaughtUp());
        const auto atLast = times.firstLineAtOrAfter(seconds * 1000);
        ASSERT_TRUE(atLast.has_value());
        EXPECT_EQ(atLast->where, DocumentTimeIndex::Found::Where::Inside);
        ASSERT_TRUE(pumpUntil(LineNumber(own.size())));
        expectModel(times);
    }

    // Clear: only lines written afterwards count, from line 0 of the new index.
    doc.clearText();
    own.clear();
    appendFile(path, lines(500, seconds));
    ASSERT_TRUE(pumpUntil(500));
    expectModel(times);

    // Replaced by another file with other times: the index is that file's.
    own.clear();
    seconds = 1'797'000'000;
    const std::string replaced = lines(2000, seconds);
    const std::string moved = path + ".new";
    writeFile(moved, replaced);
    ASSERT_EQ(std::rename(moved.c_str(), path.c_str()), 0);
    ASSERT_TRUE(pumpUntil(2000));
    expectModel(times);
}

TEST_F(DocumentTimes, ALogOfManyPiecesWithLongLinesIsReadWholeOnTwoLanes)
{
    // Megabytes of lines, read in pieces on two lanes and in reads shorter than a piece:
    // lines and coloured times cut by both edges, a line longer than a read, one longer than a
    // piece (whose next piece holds no line start), a time at a long line's start and an
    // escape byte just past a line's prefix.
    std::int64_t seconds = 1'796'000'000;
    std::string bytes;
    for (int part = 0; part < 6; ++part) {
        bytes += lines(9000 + rng() % 9000, seconds);
        const std::size_t width = part == 2 ? (std::size_t{3} << 19) : 150'000 + rng() % 200'000;
        const bool timed = part % 2 == 0;
        seconds += 1;
        std::string longLine =
            logLine(timed ? std::optional<std::int64_t>(seconds) : std::nullopt, int(own.size()));
        longLine.pop_back();
        longLine += std::string(width, part == 4 ? '\x1b' : 'x') + "\n";
        own.push_back(timed ? std::optional<TimeMs>(seconds * 1000) : std::nullopt);
        bytes += longLine;
        std::string late = logLine(seconds, int(own.size()));
        late.pop_back();
        bytes +=
            late + std::string(DocumentTimeIndex::PrefixBytes - late.size() + 1, ' ') + "\x1b[0m\n";
        own.push_back(seconds * 1000);
    }
    // The last line is still being written: it counts once it is complete.
    bytes += lines(2000, seconds);
    const std::string open = logLine(seconds + 9, int(own.size()));
    writeFile(path, bytes + open.substr(0, 10));
    ASSERT_GT(bytes.size(), std::size_t{5} << 20);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    DocumentTimeIndex times(doc);
    times.start();
    expectModel(times);
    own.push_back((seconds + 9) * 1000);
    appendFile(path, open.substr(10));
    ASSERT_TRUE(pumpUntil(LineNumber(own.size()), true));
    expectModel(times);
}

TEST_F(DocumentTimes, ALogWithoutTimesSaysSoAndAUtf16LogIsRead)
{
    std::string plain;
    for (int i = 0; i < 400; ++i) {
        plain += "no time here " + std::to_string(i) + "\n";
    }
    writeFile(path, plain);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    {
        DocumentTimeIndex times(doc);
        times.start();
        ASSERT_TRUE(times.waitCaughtUp());
        EXPECT_EQ(times.state(), DocumentTimeIndex::State::NoTimes);
        EXPECT_FALSE(times.firstLineAtOrAfter(0).has_value());
    }
    doc.closeDocument();

    std::int64_t seconds = 1'796'000'000;
    const std::string narrow = lines(700, seconds);
    // A line without a time is written in CJK units whose low bytes spell one: narrowed
    // carelessly, it would read as a time.
    std::string wide = "\xFF\xFE";
    std::size_t line = 0;
    for (std::size_t at = 0; at < narrow.size(); ++line) {
        const std::size_t end = narrow.find('\n', at);
        const std::string text =
            own[line] ? narrow.substr(at, end - at) : logLine(seconds, 1).substr(0, 23);
        for (const char c : text) {
            wide += c;
            wide += own[line] ? '\0' : '\x30';
        }
        wide += std::string("\n\0", 2);
        at = end + 1;
    }
    writeFile(path, wide);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    ASSERT_TRUE(doc.isUtf16());
    DocumentTimeIndex times(doc);
    times.start();
    expectModel(times);
}

TEST_F(DocumentTimes, ALargeLogIsSampledAndAnsweredAsTheModelOfEveryLine)
{
    // Every group from the second on sampled (as a log of many megabytes is): each group's first
    // line carries the writers' clock, the lines after it up to a few seconds less (an earlier
    // writer), a stack trace spans whole groups, and the last line of the file is cut inside its
    // time. Lines appended while following are read whole. Sampled by their own reads, and from
    // the bytes a keyword count reads (whose pieces cut groups).
    constexpr LineNumber G = TimeIndex::GroupLines;
    for (const bool counted : {false, true}) {
        SCOPED_TRACE(counted);
        own.clear();
        std::int64_t clock = 1'796'000'000;
        const auto write = [&](std::size_t n) {
            std::string bytes;
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t line = own.size();
                const bool trace = line >= 1020 * G + 5 && line < 1023 * G + 40;
                std::optional<std::int64_t> at;
                if (!trace && (line % G == 0 || rng() % 4 != 0)) {
                    clock += std::int64_t(rng() % 2);
                    at = clock - (line % G == 0 ? 0 : std::int64_t(rng() % 3));
                }
                bytes += logLine(at, int(line));
                own.push_back(at ? std::optional<TimeMs>(*at * 1000) : std::nullopt);
            }
            return bytes;
        };
        // More groups than are sampled at once; the open last line would end a group.
        const std::string first = write(1025 * G - 1);
        const std::string open = logLine(clock + 1, int(own.size()));
        writeFile(path, first + open.substr(0, 12));
        ASSERT_TRUE(doc.openDocument(u16(path)));
        DocumentTimeIndex times(doc);
        times.setSampleFromBytes(1);
        if (counted) {
            times.setCountedKeywords({Keyword(u"INFO", 0x000000u, 0x0000FFu, true, false, true)});
        }
        times.start();
        const auto check = [&] {
            ASSERT_TRUE(times.waitCaughtUp());
            ASSERT_EQ(times.state(), DocumentTimeIndex::State::Ready);
            ASSERT_EQ(times.indexedLines(), own.size());
            for (LineNumber line = 0; line < own.size(); line += 1 + rng() % 300) {
                EXPECT_EQ(times.timeOfLine(line), modelTimeOf(own, line)) << line;
            }
            EXPECT_EQ(times.lastLineTime(), modelTimeOf(own, LineNumber(own.size() - 1)));
            EXPECT_EQ(times.firstTime(), own[0]);
            for (int q = 0; q < 300; ++q) {
                const auto& at = own[rng() % own.size()];
                if (at) {
                    const TimeMs t = *at + TimeMs(rng() % 3) * 500 - 500;
                    const auto found = times.firstLineAtOrAfter(t);
                    ASSERT_TRUE(found.has_value());
                    EXPECT_EQ(found->line, modelFirstAtOrAfter(own, t).value_or(own.size() - 1))
                        << t;
                }
            }
            // The sampled groups' running latest counts their first lines only.
            std::vector<TimeMs> every;
            TimeMs latest = TimeIndex::NoTime;
            TimeMs earliest = std::numeric_limits<TimeMs>::max();
            for (const auto& time : own) {
                earliest = std::min(earliest, time.value_or(earliest));
            }
            for (std::size_t i = 0; i < own.size(); ++i) {
                latest = std::max(latest, own[i].value_or(TimeIndex::NoTime));
                if ((i + 1) % G == 0 || i + 1 == own.size()) {
                    every.push_back(latest);
                }
            }
            const std::vector<TimeMs> groups = times.groupLatest();
            ASSERT_EQ(groups.size(), every.size());
            EXPECT_EQ(groups[0], every[0]);
            EXPECT_LT(groups[1], every[1]);
            EXPECT_EQ(groups[2], *own[2 * G]);
            // The last group, read whole, counts every line of its own.
            TimeMs lastGroup = groups[groups.size() - 2];
            for (std::size_t i = (own.size() - 1) / G * G; i < own.size(); ++i) {
                lastGroup = std::max(lastGroup, own[i].value_or(TimeIndex::NoTime));
            }
            EXPECT_EQ(groups.back(), lastGroup);
            // The blocks hold times of the log's lines.
            for (const TimeIndex::Block& block : times.blocks()) {
                EXPECT_GE(block.earliest, earliest);
                EXPECT_LE(block.latest, every.back());
            }
        };
        check();
        // A followed log's appends, under the size that is sampled.
        times.setSampleFromBytes(DocumentTimeIndex::SampleFromBytes);
        own.push_back((clock + 1) * 1000);
        ++clock;
        appendFile(path, open.substr(12) + write(3 * G));
        ASSERT_TRUE(pumpUntil(LineNumber(own.size()), true));
        check();
        if (counted) {
            EXPECT_EQ(times.groupCounts().lines, own.size());
        }
        doc.closeDocument();
    }
}

TEST_F(DocumentTimes, KeywordCountsOfTheSharedReadAreTheKeywordSearchs)
{
    // The counts read with the times, against the keyword search's own pass: counting from
    // the start and switched on after the index was built (the lines before read again for
    // the counts alone), through appends and another keyword list; lines read alone, one
    // cut at the most a line is searched, coloured lines and words that stand alone or not.
    const std::vector<std::string> words = {"ERROR",    "error", "xWARN", "WARN", "dead lock",
                                            "deadlock", "",      "",      "",     ""};
    const auto part = [&](std::size_t n, std::int64_t& seconds, bool longLines) {
        std::string bytes;
        for (std::size_t i = 0; i < n; ++i) {
            std::string line = lines(1, seconds);
            line.pop_back();
            line += " " + words[rng() % words.size()];
            if (longLines && i % 997 == 5) {
                // One line past the most that is searched, its keyword just beyond.
                const std::size_t width = i == 5 ? DocumentTimeIndex::CountedLineBytes - 20
                                                 : (std::size_t{1} << 17) + rng() % 1000;
                line += std::string(width, 'y') + " deadlock " + words[rng() % 4];
            }
            bytes += line + "\n";
        }
        return bytes;
    };
    const auto keywordsOf = [](std::initializer_list<const char16_t*> texts, int variant) {
        std::vector<Keyword> list;
        int k = 0;
        for (const char16_t* text : texts) {
            list.emplace_back(text, 0x000000u, 0x0000FFu + 0x100u * unsigned(k),
                              (k + variant) % 2 == 0, (k + variant) % 3 == 0, k != 2);
            ++k;
        }
        return list;
    };
    const auto expectCounts = [&](DocumentTimeIndex& times, const std::vector<Keyword>& keywords) {
        ASSERT_TRUE(times.waitCaughtUp());
        KeywordLines search(doc, nullptr, [&] { return keywords; });
        search.sync();
        ASSERT_TRUE(search.waitIdle(std::chrono::seconds(60)));
        const DocumentTimeIndex::GroupCounts counts = times.groupCounts();
        EXPECT_EQ(counts.keywords, keywords);
        EXPECT_EQ(counts.lines, search.checkedLines());
        EXPECT_EQ(counts.lines, own.size());
        EXPECT_EQ(times.indexedLines(), own.size());
        const std::vector<std::uint8_t> expected = search.groupCounts().counts;
        ASSERT_EQ(counts.counts.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(counts.counts[i], expected[i]) << "group " << i / keywords.size();
        }
    };
    // Counting from the start, switched on after the build, and from the start of a sampled
    // log (the times from samples, the counts from a pass of their own).
    for (const int variant : {0, 1, 2}) {
        const bool fromStart = variant != 1;
        own.clear();
        rng.seed(std::uint32_t(5 + variant));
        std::int64_t seconds = 1'796'000'000;
        writeFile(path, part(30000, seconds, fromStart));
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.setTerminalColors(!fromStart);
        const std::vector<Keyword> first = keywordsOf({u"error", u"WARN", u"lock", u"deadlock"}, 0);
        DocumentTimeIndex times(doc);
        std::atomic<int> caughtUp{0};
        times.setCaughtUpCallback([&] { ++caughtUp; });
        if (variant == 2) {
            times.setSampleFromBytes(1);
        }
        if (fromStart) {
            times.setCountedKeywords(first);
        }
        times.start();
        ASSERT_TRUE(times.waitCaughtUp());
        if (!fromStart) {
            EXPECT_TRUE(times.groupCounts().counts.empty());
            times.setCountedKeywords(first);
        }
        expectCounts(times, first);
        // Up to a group's last line exactly.
        appendFile(path, part(3024, seconds, !fromStart));
        ASSERT_TRUE(pumpUntil(LineNumber(own.size()), true));
        expectCounts(times, first);
        // Lists changed while a pass is under way: only the last one counts.
        const std::vector<Keyword> second = keywordsOf({u"ERROR", u"dead", u"WARN"}, 1);
        times.setCountedKeywords(second);
        times.setCountedKeywords(first);
        times.setCountedKeywords(second);
        // Counted without being asked to catch up. A pass of an earlier list may still report
        // on its way out, so the wait is for the lines counted, not for one report.
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (times.groupCounts().lines != own.size() &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(times.groupCounts().lines, own.size());
        expectCounts(times, second);
        // Sequences shown or hidden: the counts of the lines as shown now.
        const std::vector<Keyword> sequences = keywordsOf({u"[32m", u"INFO"}, 1);
        times.setCountedKeywords(sequences);
        expectCounts(times, sequences);
        doc.setTerminalColors(fromStart);
        times.setCountedKeywords(sequences);
        expectCounts(times, sequences);
        // None enabled: no counting, nothing kept.
        times.setCountedKeywords({});
        ASSERT_TRUE(times.waitCaughtUp());
        EXPECT_TRUE(times.groupCounts().counts.empty());
        doc.closeDocument();
    }
}
