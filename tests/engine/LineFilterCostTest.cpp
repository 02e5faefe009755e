// The filter with patterns that are slow to evaluate: Stop, a new filter, the watcher's
// hand-over (which matches its piece itself when the worker is idle) and the filter's
// destruction return within a bound while a line is slow, whatever happens in between, and
// the rows still come out as a small model says. The matchers here take a time per line
// the test chooses; the real PCRE2 limits are checked with a pattern that backtracks
// without end.

#include "EngineTestSupport.h"

#include "engine/FilterHost.h"
#include "engine/FilterPattern.h"
#include "engine/LineFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>

using namespace quilltest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// A line costs `slow` when it holds 's' (work nothing interrupts, as one PCRE2 call), unless
// the scratch is quick: then it gives up at once, undecided, as PCRE2 does at its lower
// step limit. It matches when it holds `key`, and is undecided when it holds `unsure`.
class CostlyMatcher : public LineMatcher {
  public:
    CostlyMatcher(char key, char unsure, milliseconds slow)
        : m_key(key), m_unsure(unsure), m_slow(slow)
    {
    }
    bool matchLines(const LineChunk& chunk, FilterScratch& scratch,
                    std::vector<std::uint32_t>& rows,
                    std::vector<std::uint32_t>& undecided) const override
    {
        for (std::size_t i = 0; i < chunk.count; ++i) {
            if (scratch.abortRequested()) {
                return false;
            }
            const auto* p = chunk.bytes + (chunk.starts[i] - chunk.starts[0]);
            const std::string line(reinterpret_cast<const char*>(p),
                                   std::size_t(chunk.starts[i + 1] - chunk.starts[i]));
            const bool slow = line.find('s') != std::string::npos;
            if (slow && scratch.quick()) {
                undecided.push_back(std::uint32_t(i));
                continue;
            }
            if (slow) {
                std::this_thread::sleep_for(m_slow);
            }
            if (line.find(m_unsure) != std::string::npos) {
                undecided.push_back(std::uint32_t(i));
            } else if (line.find(m_key) != std::string::npos) {
                rows.push_back(std::uint32_t(i));
            }
        }
        return true;
    }

  private:
    char m_key;
    char m_unsure;
    milliseconds m_slow;
};

struct Verdicts {
    std::vector<LineNumber> shown;
    std::vector<LineNumber> undecided;
    bool operator==(const Verdicts&) const = default;
};

// GoogleTest looks for a printer by this name.
void PrintTo(const Verdicts& v, std::ostream* out) // NOLINT(readability-identifier-naming)
{
    *out << "shown {";
    for (LineNumber line : v.shown) {
        *out << ' ' << line;
    }
    *out << " } undecided {";
    for (LineNumber line : v.undecided) {
        *out << ' ' << line;
    }
    *out << " }";
}

// The model: an include shows its matches and its undecided lines (marked); an exclude
// hides its matches and keeps, marked, the lines it could not decide.
Verdicts model(const std::string& bytes, bool include, char key, char unsure, bool exclude)
{
    Verdicts v;
    LineNumber line = 0;
    std::size_t from = 0;
    while (from < bytes.size()) {
        std::size_t end = bytes.find('\n', from);
        end = end == std::string::npos ? bytes.size() : end;
        const std::string text = bytes.substr(from, end - from);
        const bool incUnsure = include && text.find(unsure) != std::string::npos;
        const bool incMatch = !include || incUnsure || text.find(key) != std::string::npos;
        const bool exUnsure = exclude && text.find('!') != std::string::npos;
        const bool exMatch = exclude && !exUnsure && text.find('x') != std::string::npos;
        if (incMatch && !exMatch) {
            v.shown.push_back(line);
            if (incUnsure || exUnsure) {
                v.undecided.push_back(line);
            }
        }
        ++line;
        from = end + 1;
    }
    return v;
}

Verdicts verdicts(const LineFilter& filter)
{
    Verdicts v;
    for (std::size_t i = 0; i < filter.matches().size(); ++i) {
        v.shown.push_back(filter.matches().at(i));
    }
    v.undecided = filter.undecided();
    return v;
}

struct FedDocument {
    TestSettings settings;
    FakeHost host;
    std::string path = settings.dir.file("cost.log");
    std::string bytes;
    LogDocument doc{&host, settings.store};

    void open(const std::string& content)
    {
        bytes = content;
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(quill::utf8ToUtf16(path)));
        doc.stopWatching();
    }
    // As the watcher does: index the piece, then tell the listener.
    void append(const std::string& piece)
    {
        appendFile(path, piece);
        bytes += piece;
        const auto* data = reinterpret_cast<const std::uint8_t*>(piece.data());
        const FileOffset offset = doc.indexedEnd();
        {
            std::lock_guard lock(doc.docAccess());
            doc.appendText(data, piece.size(), false);
        }
        doc.tellAppendListener(offset, data, piece.size());
    }
};

template <typename F> milliseconds timed(F&& f)
{
    const auto start = Clock::now();
    f();
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// Calls that never wait for the worker; a slow line costs several times as much.
constexpr milliseconds Slow{600};
constexpr milliseconds Prompt{300};

std::string randomLines(std::mt19937& rng, int count, int slowPercent)
{
    const char* const words[] = {"m", "x", "?", "!", "a", "b", "mx", "m!", "?x"};
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += words[rng() % 9];
        text += words[rng() % 9];
        if (int(rng() % 100) < slowPercent) {
            text += " s";
        }
        text += '\n';
    }
    return text;
}

void runModel(unsigned seed)
{
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    FedDocument fed;
    fed.open(randomLines(rng, 20, 0));
    auto include = std::make_shared<CostlyMatcher>('m', '?', Slow);
    auto exclude = std::make_shared<CostlyMatcher>('x', '!', Slow);
    auto filter = std::make_unique<LineFilter>(fed.doc, nullptr);
    filter->setChunkLimits(1 + rng() % 8, 1 << 20);
    bool withInclude = true;
    bool withExclude = false;
    auto apply = [&] {
        std::vector<std::shared_ptr<const LineMatcher>> excludes;
        if (withExclude) {
            excludes.push_back(exclude);
        }
        filter->setMatchers(withInclude ? include : nullptr, excludes);
    };
    apply();
    for (int step = 0; step < 30; ++step) {
        milliseconds took{};
        const char* what = "";
        switch (rng() % 6) {
        case 0:
        case 1:
            what = "the watcher's hand-over";
            took = timed([&] { fed.append(randomLines(rng, 1 + int(rng() % 5), 6)); });
            break;
        case 2:
            what = "Stop";
            took = timed([&] { filter->stop(); });
            break;
        case 3:
            what = "Resume";
            took = timed([&] { filter->resume(); });
            break;
        case 4:
            what = "a new filter";
            withInclude = rng() % 3 != 0;
            withExclude = !withInclude || rng() % 2 == 0;
            took = timed(apply);
            break;
        case 5:
            what = "Sync and Collect";
            took = timed([&] {
                filter->sync();
                filter->collect();
            });
            break;
        }
        EXPECT_LT(took, Prompt) << what << " waited at step " << step;
    }
    filter->resume();
    filter->sync();
    ASSERT_TRUE(filter->waitIdle(std::chrono::minutes(2)));
    filter->collect();
    EXPECT_EQ(verdicts(*filter), model(fed.bytes, withInclude, 'm', '?', withExclude));

    // Torn down in the middle of a pass of slow lines: one line's work at most.
    fed.append(randomLines(rng, 6, 100));
    filter->sync();
    EXPECT_LT(timed([&] { filter.reset(); }), Slow + Prompt + Prompt);
}

} // namespace

TEST(LineFilterCost, RandomStopsFiltersAndAppendsNeverWaitForASlowLine)
{
    for (unsigned seed : {1u, 2u}) {
        runModel(seed);
    }
}

// A pattern that backtracks without end on every line, as `(a+)+$` on lines of 28 a and a
// b: each line gives up at the match limit and is shown undecided; Stop, a new filter and
// the destructor take effect at once instead of after the whole pass.
TEST(LineFilterCost, BacktrackingWithoutEndIsBoundedPerLine)
{
    FedDocument fed;
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += std::string(28, 'a') + "b\n";
    }
    fed.open(text);
    auto filter = std::make_unique<LineFilter>(fed.doc, nullptr);
    const FilterSet hard{{u"(a+)+$", true, false, true}, {}};
    ASSERT_TRUE(filter->setFilter(hard).empty());
    std::this_thread::sleep_for(milliseconds(50));
    filter->stop();
    EXPECT_TRUE(filter->waitIdle(milliseconds(1000)));
    filter->collect();
    EXPECT_EQ(filter->progress().state, FilterState::Stopped);
    EXPECT_EQ(filter->matches().size(), filter->undecided().size());
    EXPECT_LT(filter->matches().size(), 2000u);

    // A plain filter typed next starts at once and finishes.
    filter->resume();
    const FilterSet plain{{u"b", true, false, false}, {}};
    ASSERT_TRUE(filter->setFilter(plain).empty());
    ASSERT_TRUE(filter->waitIdle(milliseconds(2000)));
    filter->collect();
    EXPECT_EQ(filter->matches().size(), 2000u);
    EXPECT_TRUE(filter->undecided().empty());

    ASSERT_TRUE(filter->setFilter(hard).empty());
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_LT(timed([&] { filter.reset(); }), milliseconds(1000));
}

// The watcher matches its own piece when the worker is idle, but never for long: within its
// budget, and with a tenth of the steps per line even when the budget is wide, so lines the
// pattern cannot decide quickly are left to the worker, which gives them all its steps.
TEST(LineFilterCost, TheWatchersHandOverIsNotHeldUpByBacktracking)
{
    for (const milliseconds budget : {milliseconds(0), milliseconds(60'000)}) {
        SCOPED_TRACE(budget.count() > 0 ? "a wide budget" : "the usual budget");
        FedDocument fed;
        fed.open("start\n");
        LineFilter filter(fed.doc, nullptr);
        if (budget.count() > 0) {
            filter.setWatcherBudget(budget);
        }
        ASSERT_TRUE(filter.setFilter(FilterSet{{u"(a+)+$", true, false, true}, {}}).empty());
        ASSERT_TRUE(filter.waitIdle());
        std::string hard;
        for (int i = 0; i < 40; ++i) {
            hard += std::string(28, 'a') + "b\n";
        }
        hard += "aaa\n";
        EXPECT_LT(timed([&] { fed.append(hard); }), milliseconds(200));
        // The worker takes the lines over without waiting for the window to announce them.
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        std::vector<LineNumber> undecided;
        for (LineNumber line = 1; line <= 40; ++line) {
            undecided.push_back(line);
        }
        EXPECT_EQ(filter.undecided(), undecided);
        undecided.push_back(41); // "aaa" matches
        EXPECT_EQ(verdicts(filter).shown, undecided);
    }
}

// An open last line is judged again when it grows, its mark with it: undecided while it
// ends in '?', a plain match once more text came, whether or not the window had collected
// the first verdict.
TEST(LineFilterCost, AGrowingOpenLineIsJudgedAgainWithItsMark)
{
    class EndsUnsure : public LineMatcher {
      public:
        bool matchLines(const LineChunk& chunk, FilterScratch&, std::vector<std::uint32_t>& rows,
                        std::vector<std::uint32_t>& undecided) const override
        {
            for (std::size_t i = 0; i < chunk.count; ++i) {
                const auto* p = chunk.bytes + (chunk.starts[i] - chunk.starts[0]);
                std::string line(reinterpret_cast<const char*>(p),
                                 std::size_t(chunk.starts[i + 1] - chunk.starts[i]));
                if (!line.empty() && line.back() == '\n') {
                    line.pop_back();
                }
                if (!line.empty() && line.back() == '?') {
                    undecided.push_back(std::uint32_t(i));
                } else if (line.find('m') != std::string::npos) {
                    rows.push_back(std::uint32_t(i));
                }
            }
            return true;
        }
    };
    for (bool collectBetween : {true, false}) {
        SCOPED_TRACE(collectBetween ? "collected between" : "not collected between");
        FedDocument fed;
        fed.open("m\nm?");
        LineFilter filter(fed.doc, nullptr);
        filter.setMatchers(std::make_shared<EndsUnsure>(), {});
        ASSERT_TRUE(filter.waitIdle());
        if (collectBetween) {
            filter.collect();
            EXPECT_EQ(verdicts(filter), (Verdicts{{0, 1}, {1}}));
        }
        fed.append("x\nnone?\n");
        filter.sync();
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        EXPECT_EQ(verdicts(filter), (Verdicts{{0, 1, 2}, {2}}));
    }
}

// A reload the window did not announce (no Sync) still starts the rows over at the next
// Collect: the document tells the filter, and the filter its host.
TEST(LineFilterCost, CollectStartsOverAfterAnUnannouncedReload)
{
    class CountingHost : public FilterHost {
      public:
        void postFilterProgress() override { ++posted; }
        std::atomic<int> posted{0};
    } host;
    FedDocument fed;
    fed.open("m 1\nm 2\nm 3\n");
    LineFilter filter(fed.doc, &host);
    filter.setMatchers(std::make_shared<CostlyMatcher>('m', '?', Slow), {});
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    ASSERT_EQ(filter.matches().size(), 3u);
    const int before = host.posted.load();
    fed.open("m new\n");
    EXPECT_GT(host.posted.load(), before) << "the host hears of the reload";
    const FilterChange change = filter.collect();
    EXPECT_TRUE(change.reset);
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(verdicts(filter), (Verdicts{{0}, {}}));
    EXPECT_EQ(filter.progress().total, 1u);
}

namespace {

// A line of `length` bytes with `count` a's at distinct random places among b's: `(.*a){N}`
// with N above `count` backtracks through about 2^count ways before it fails, each a scan of
// the line, which PCRE2 counts as a handful of steps.
std::string scatteredLine(std::mt19937& rng, std::size_t length, int count)
{
    std::string line(length, 'b');
    for (int placed = 0; placed < count;) {
        char& c = line[rng() % length];
        if (c != 'a') {
            c = 'a';
            ++placed;
        }
    }
    return line + '\n';
}

struct MixedLines {
    std::string text;
    std::vector<LineNumber> matching; // short lines that start with "ok"
    std::vector<LineNumber> hard;     // long lines, one a short of a match
};

// For `^ok|(.*a){N}`: short lines with a few a's decide at once, a match when they start
// with "ok"; the long lines cannot be decided in any time a line may take.
MixedLines mixedLines(std::mt19937& rng, int count, int needed, std::size_t hardLength)
{
    MixedLines mixed;
    for (int i = 0; i < count; ++i) {
        const LineNumber line = LineNumber(i);
        if (rng() % 3 == 0) {
            mixed.text += scatteredLine(rng, hardLength, needed - 1);
            mixed.hard.push_back(line);
        } else if (rng() % 2 == 0) {
            mixed.text += "ok " + scatteredLine(rng, 20 + rng() % 60, int(rng() % 7));
            mixed.matching.push_back(line);
        } else {
            mixed.text += "no " + scatteredLine(rng, 20 + rng() % 60, int(rng() % 7));
        }
    }
    return mixed;
}

} // namespace

// `(.*a){20}` on lines of 10 kB with 19 a's takes PCRE2 seconds a line within any step limit
// the plain code may use. Each such line ends undecided after its own short time, while the
// short lines around it are judged; the lists keep the two apart. Stop, a new filter and
// the filter's end are seen inside such a line, not after it: the bounds here only catch a
// hang (the benchmark measures the latency).
TEST(LineFilterCost, ACatastrophicPatternOnLongLinesIsUndecidedLineByLineAndStopsInside)
{
    std::mt19937 rng(37);
    const FilterSet hard{{u"(.*a){20}", true, false, true}, {}};
    {
        SCOPED_TRACE("a mix of short lines and hard ones, through to the end");
        const MixedLines mixed = mixedLines(rng, 90, 20, 10'000);
        ASSERT_FALSE(mixed.hard.empty());
        ASSERT_FALSE(mixed.matching.empty());
        FedDocument fed;
        fed.open(mixed.text);
        LineFilter filter(fed.doc, nullptr);
        filter.setChunkLimits(LineNumber(1) + rng() % 40, FileOffset(1) << 20);
        ASSERT_TRUE(filter.setFilter(FilterSet{{u"^ok|(.*a){20}", true, false, true}, {}}).empty());
        ASSERT_TRUE(filter.waitIdle(std::chrono::seconds(30))) << "the pass never ended";
        filter.collect();
        std::vector<LineNumber> shown;
        std::set_union(mixed.matching.begin(), mixed.matching.end(), mixed.hard.begin(),
                       mixed.hard.end(), std::back_inserter(shown));
        EXPECT_EQ(verdicts(filter), (Verdicts{shown, mixed.hard}));
        EXPECT_EQ(filter.undecidedTerms(), 1u);
    }
    for (const std::size_t length : {std::size_t(10'000), std::size_t(3) << 20}) {
        SCOPED_TRACE("only hard lines of " + std::to_string(length) + " bytes");
        FedDocument fed;
        std::string text;
        for (int i = 0; i < (length > 100'000 ? 4 : 600); ++i) {
            text += scatteredLine(rng, length, 19);
        }
        fed.open(text);
        auto filter = std::make_unique<LineFilter>(fed.doc, nullptr);
        ASSERT_TRUE(filter->setFilter(hard).empty());
        std::this_thread::sleep_for(milliseconds(30));
        filter->stop();
        ASSERT_TRUE(filter->waitIdle(milliseconds(3000))) << "Stop was not seen";
        filter->collect();
        EXPECT_EQ(filter->progress().state, FilterState::Stopped);
        EXPECT_EQ(filter->matches().size(), filter->undecided().size());

        // A new filter starts at once, however the old one was stuck.
        filter->resume();
        ASSERT_TRUE(filter->setFilter(hard).empty());
        std::this_thread::sleep_for(milliseconds(30));
        ASSERT_TRUE(filter->setFilter(FilterSet{{u"b", true, false, false}, {}}).empty());
        ASSERT_TRUE(filter->waitIdle(milliseconds(3000))) << "the new filter waited";
        filter->collect();
        EXPECT_TRUE(filter->undecided().empty());

        ASSERT_TRUE(filter->setFilter(hard).empty());
        std::this_thread::sleep_for(milliseconds(30));
        EXPECT_LT(timed([&] { filter.reset(); }), milliseconds(3000)) << "the end waited";
    }
}

namespace {

// A line of 1 MB that `x\d` repeated fifty times matches at its start: more steps than the
// plain code may take on a line that long, and little time.
std::string manyStepsLine()
{
    std::string line;
    for (int i = 0; i < 60; ++i) {
        line += "x" + std::to_string(i % 10);
    }
    return line + std::string(1 << 20, 'b') + '\n';
}

// Four lines as a chunk of the given form: "ok" (a match), the hard line, "no", and the line
// of many steps.
struct HardChunk {
    std::vector<std::uint8_t> bytes;
    std::vector<FileOffset> starts;
    LineChunk chunk;

    HardChunk(const HardChunk&) = delete; // the chunk points into the lists
    HardChunk& operator=(const HardChunk&) = delete;
    HardChunk(const std::string& hard, FilterTextForm form, bool terminal)
    {
        const std::string lines[] = {"ok\n", hard, "no\n", manyStepsLine()};
        starts.push_back(0);
        for (const std::string& line : lines) {
            if (form == FilterTextForm::Utf16) {
                for (const char c : line) {
                    bytes.push_back(std::uint8_t(c));
                    bytes.push_back(0);
                }
            } else {
                bytes.insert(bytes.end(), line.begin(), line.end());
            }
            starts.push_back(FileOffset(bytes.size()));
        }
        chunk = LineChunk{bytes.data(),
                          starts.data(),
                          4,
                          form,
                          terminal,
                          form == FilterTextForm::Utf16 ? quill::TextEncoding::Utf16Le
                                                        : quill::TextEncoding::Utf8};
    }
};

} // namespace

// One hard line, matched by the pattern alone, in each way a line is matched: UTF-8 many lines
// at once, UTF-8 line by line (the lookahead sees past a line), UTF-16, and as terminal
// colours show it (on two lanes: the line is longer than one lane's run). With the usual
// time it comes back undecided while the lines beside it are judged, the long one that
// takes many steps too; with all the time in the world it still ends as soon as Stop is
// pressed or a new filter is set, mid-line. A call that never returns fails after the guard.
TEST(LineFilterCost, AHardLineEndsOnItsTimeOnStopAndOnANewFilter)
{
    std::mt19937 rng(71);
    std::string hard = scatteredLine(rng, 300'000, 19);
    const std::string coloured = "\x1b[31m" + hard.substr(0, 1000) + "\x1b[0m" + hard.substr(1000);
    const struct {
        const char* name;
        const char16_t* pattern;
        FilterTextForm form;
        bool terminal;
        const std::string& line;
    } cases[] = {
        {"UTF-8 at once", u"^ok|^(x\\d){50}|(.*a){20}", FilterTextForm::Utf8, false, hard},
        {"UTF-8 line by line", u"^ok|^(x\\d){50}|(?=b)(.*a){20}", FilterTextForm::Utf8, false,
         hard},
        {"UTF-16", u"^ok|^(x\\d){50}|(.*a){20}", FilterTextForm::Utf16, false, hard},
        {"terminal colours", u"^ok|^(x\\d){50}|(.*a){20}", FilterTextForm::Utf8, true, coloured},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string message;
        std::size_t offset = 0;
        const std::shared_ptr<const FilterPattern> pattern =
            FilterPattern::compile({c.pattern, true, false, true}, message, offset);
        ASSERT_TRUE(pattern);
        {
            const HardChunk lines(c.line, c.form, c.terminal);
            FilterScratch scratch;
            std::vector<std::uint32_t> rows;
            std::vector<std::uint32_t> undecided;
            ASSERT_TRUE(pattern->matchLines(lines.chunk, scratch, rows, undecided));
            EXPECT_EQ(rows, (std::vector<std::uint32_t>{0, 3}));
            EXPECT_EQ(undecided, std::vector<std::uint32_t>{1});
        }
        for (const bool stop : {true, false}) {
            SCOPED_TRACE(stop ? "Stop" : "a new filter");
            // Shared with the matching thread, which a failure leaves behind.
            struct Run {
                Run(const std::string& line, FilterTextForm form, bool terminal,
                    std::shared_ptr<const FilterPattern> p)
                    : lines(line, form, terminal), pattern(std::move(p))
                {
                }
                HardChunk lines;
                FilterScratch scratch;
                std::atomic<std::uint64_t> generation{1};
                std::atomic<bool> stopped{false};
                std::shared_ptr<const FilterPattern> pattern;
                std::promise<bool> matched;
            };
            auto run = std::make_shared<Run>(c.line, c.form, c.terminal, pattern);
            run->scratch.setAbort(FilterAbort{&run->generation, 1, &run->stopped, {}});
            run->scratch.setLineBudget(std::chrono::hours(1));
            std::future<bool> matched = run->matched.get_future();
            std::thread([run] {
                std::vector<std::uint32_t> rows;
                std::vector<std::uint32_t> undecided;
                run->matched.set_value(
                    run->pattern->matchLines(run->lines.chunk, run->scratch, rows, undecided));
            }).detach();
            EXPECT_EQ(matched.wait_for(milliseconds(100)), std::future_status::timeout)
                << "the line was decided";
            if (stop) {
                run->stopped.store(true);
            } else {
                run->generation.store(2);
            }
            ASSERT_EQ(matched.wait_for(std::chrono::seconds(5)), std::future_status::ready)
                << "the match went on";
            EXPECT_FALSE(matched.get());
        }
    }
}
