// Find with a regular expression: the rule on a line and through a document against
// std::regex (ECMAScript agrees with PCRE2 on the small patterns drawn here), both ways,
// and the filter's bounds: a line too complex is counted, never silently passed, and Stop
// ends the search inside a line.

#include "EngineTestSupport.h"

#include "engine/RegexFind.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <random>
#include <regex>
#include <thread>

using namespace quilltest;

namespace {

struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool operator==(const Span&) const = default;
};

std::ostream& operator<<(std::ostream& out, const std::optional<Span>& s)
{
    return s ? out << "[" << s->begin << "," << s->end << ")" : out << "none";
}

// The model: the first non-empty match starting at or after pos, text before pos seen.
std::optional<Span> modelAt(const std::regex& re, const std::string& line, std::size_t pos)
{
    if (pos > line.size()) {
        return std::nullopt;
    }
    std::smatch m;
    auto flags = std::regex_constants::match_not_null;
    if (pos > 0) {
        flags |= std::regex_constants::match_prev_avail;
    }
    if (!std::regex_search(line.begin() + std::ptrdiff_t(pos), line.end(), m, re, flags)) {
        return std::nullopt;
    }
    const std::size_t b = pos + std::size_t(m.position(0));
    return Span{b, b + std::size_t(m.length(0))};
}

std::optional<Span> modelForward(const std::regex& re, const std::string& line, std::size_t col)
{
    return modelAt(re, line, col);
}

std::optional<Span> modelBackward(const std::regex& re, const std::string& line, std::size_t col)
{
    std::optional<Span> best;
    for (std::size_t pos = 0;;) {
        const std::optional<Span> s = modelAt(re, line, pos);
        if (!s || s->end > col) {
            return best;
        }
        best = s;
        pos = s->end;
    }
}

std::unique_ptr<FilterPattern> compile(const std::u16string& text, bool matchCase)
{
    std::u16string message;
    std::size_t offset = 0;
    auto pattern =
        FilterPattern::compile(FilterTerm{text, matchCase, false, true}, message, offset);
    EXPECT_TRUE(pattern) << "does not compile, at " << offset;
    return pattern;
}

const char* const Patterns[] = {"a",    "ab",    "a+b",  "b*",     "a?c",      "[ab]c", "a|bc",
                                "^a",   "c$",    "^$",   ".b",     "a.*c",     "(ab)+", "x*",
                                "c\\b", "^b|a$", "a{2}", "[^a]+c", "(?:b|ab)c"};

std::string randomLine(std::mt19937& rng, std::size_t maxLength)
{
    static const char alphabet[] = "aabbc xA";
    std::string line(rng() % (maxLength + 1), ' ');
    for (char& c : line) {
        c = alphabet[rng() % (sizeof alphabet - 1)];
    }
    return line;
}

std::optional<Span> spanOf(const RegexHit& hit)
{
    EXPECT_NE(hit.verdict, FilterPattern::Undecided);
    if (hit.verdict != FilterPattern::Match) {
        return std::nullopt;
    }
    return Span{hit.begin, hit.end};
}

// A 10 kB line with 19 a's: `(.*a){20}` backtracks on it for far longer than a line's time.
std::string hardLine(std::mt19937& rng)
{
    std::string line(10'000, 'z');
    for (int k = 0; k < 19; ++k) {
        line[rng() % line.size()] = 'a';
    }
    return line;
}

} // namespace

TEST(RegexFind, OneLineBothWaysEqualsTheModel)
{
    std::mt19937 rng(4242);
    FilterScratch scratch;
    for (const char* text : Patterns) {
        for (const bool matchCase : {true, false}) {
            SCOPED_TRACE(std::string(text) + (matchCase ? " case" : " nocase"));
            const auto pattern = compile(u16(text), matchCase);
            ASSERT_TRUE(pattern);
            const std::regex re(text, matchCase ? std::regex::ECMAScript
                                                : std::regex::ECMAScript | std::regex::icase);
            for (int round = 0; round < 150; ++round) {
                const std::string line = randomLine(rng, 14);
                const std::size_t col = rng() % (line.size() + 3);
                SCOPED_TRACE("line '" + line + "' col " + std::to_string(col));
                EXPECT_EQ(spanOf(regexFindForward(*pattern, u16(line), col, scratch)),
                          modelForward(re, line, col));
                EXPECT_EQ(spanOf(regexFindBackward(*pattern, u16(line), col, scratch)),
                          modelBackward(re, line, col));
            }
        }
    }
}

TEST(RegexFind, EdgesOfALine)
{
    FilterScratch scratch;
    const auto end = compile(u"c$", true);
    const auto start = compile(u"^a", true);
    const auto empty = compile(u"^|x*$", true);
    ASSERT_TRUE(end && start && empty);
    // At the line's last unit, from the end itself backward, and not from past it forward.
    EXPECT_EQ(spanOf(regexFindForward(*end, u"abc", 2, scratch)), (Span{2, 3}));
    EXPECT_EQ(spanOf(regexFindForward(*end, u"abc", 3, scratch)), std::nullopt);
    EXPECT_EQ(spanOf(regexFindBackward(*end, u"abc", 3, scratch)), (Span{2, 3}));
    EXPECT_EQ(spanOf(regexFindBackward(*end, u"abc", 2, scratch)), std::nullopt);
    // The line's start is not the search's start.
    EXPECT_EQ(spanOf(regexFindForward(*start, u"aa", 0, scratch)), (Span{0, 1}));
    EXPECT_EQ(spanOf(regexFindForward(*start, u"aa", 1, scratch)), std::nullopt);
    // Matches of nothing are never found, and never stop the way up.
    EXPECT_EQ(spanOf(regexFindForward(*empty, u"abc", 0, scratch)), std::nullopt);
    EXPECT_EQ(spanOf(regexFindBackward(*empty, u"abc", 3, scratch)), std::nullopt);
    EXPECT_EQ(spanOf(regexFindBackward(*empty, u"abxx", 4, scratch)), (Span{2, 4}));
}

namespace {

class RegexFindDocument : public ::testing::Test {
  protected:
    void open(const std::string& bytes)
    {
        path = settings.dir.file("regex.log");
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
};

struct DocHit {
    LineNumber line = 0;
    Span span;
    bool operator==(const DocHit&) const = default;
};

std::ostream& operator<<(std::ostream& out, const std::optional<DocHit>& h)
{
    return h ? out << h->line << ":[" << h->span.begin << "," << h->span.end << ")" : out << "none";
}

} // namespace

// Walks of Find Next down and up through random files: each step from where the last left
// off, the document against the model run over the same lines.
TEST_F(RegexFindDocument, WalksDownAndUpEqualTheModel)
{
    std::mt19937 rng(977);
    FilterScratch scratch;
    for (int file = 0; file < 12; ++file) {
        std::vector<std::string> lines(1 + rng() % 25);
        std::string bytes;
        for (std::string& line : lines) {
            line = randomLine(rng, 10);
            bytes += line + (rng() % 4 == 0 ? "\r\n" : "\n");
        }
        open(bytes);
        const char* text = Patterns[rng() % std::size(Patterns)];
        const auto pattern = compile(u16(text), true);
        ASSERT_TRUE(pattern);
        const std::regex re(text);
        LineNumber line = LineNumber(rng() % (lines.size() + 1));
        std::size_t col = rng() % 12;
        doc.setFindPosition(line, std::int32_t(col));
        for (int step = 0; step < 20; ++step) {
            const bool down = rng() % 3 != 0;
            SCOPED_TRACE(std::string(text) + " step " + std::to_string(step) +
                         (down ? " down" : " up"));
            std::optional<DocHit> want;
            if (down) {
                for (LineNumber l = line; l < lines.size() && !want; ++l) {
                    if (auto s = modelForward(re, lines[l], l == line ? col : 0)) {
                        want = DocHit{l, *s};
                    }
                }
            } else {
                for (LineNumber l = std::min<LineNumber>(line + 1, lines.size());
                     l-- > 0 && !want;) {
                    if (auto s = modelBackward(re, lines[l], l == line ? col : lines[l].size())) {
                        want = DocHit{l, *s};
                    }
                }
            }
            RegexFindReport report;
            doc.clearSelection();
            const bool found = doc.findRegex(*pattern, down, scratch, report);
            std::optional<DocHit> got;
            const DocSelection sel = doc.selection();
            if (found && sel.valid) {
                ASSERT_EQ(sel.startLine, sel.endLine);
                got = DocHit{sel.startLine,
                             Span{std::size_t(sel.startCol), std::size_t(sel.endCol) + 1}};
            }
            EXPECT_EQ(report.undecided, 0u);
            EXPECT_FALSE(report.abandoned);
            ASSERT_EQ(got, want);
            if (want) {
                line = want->line;
                col = down ? want->span.end : want->span.begin;
            }
            EXPECT_EQ(doc.findPosition().line, line);
            EXPECT_EQ(doc.findPosition().col, std::int32_t(col));
        }
    }
}

// A hard line costs its own time and is counted, both ways; the match beyond it is found.
// Stop set before, or from another thread while the only line is being matched with a
// budget of an hour, ends the search: counted by the lines watched, never by a clock.
TEST_F(RegexFindDocument, AHardLineIsUndecidedAndStopEndsTheSearchInsideIt)
{
    std::mt19937 rng(5);
    const std::string hard = hardLine(rng);
    open("first\n" + hard + "\n" + hard + "\nnothing\nok\n");
    const auto pattern = compile(u"^ok|(.*a){20}", true);
    ASSERT_TRUE(pattern);
    FilterScratch scratch;
    scratch.setLineBudget(std::chrono::milliseconds(5));
    RegexFindReport report;
    doc.setFindPosition(0, 0);
    ASSERT_TRUE(doc.findRegex(*pattern, true, scratch, report));
    EXPECT_EQ(doc.selection().startLine, 4u);
    EXPECT_EQ(report.undecided, 2u);
    EXPECT_EQ(scratch.watchedLines(), 2u);
    doc.setFindPosition(3, 0);
    EXPECT_FALSE(doc.findRegex(*pattern, false, scratch, report));
    EXPECT_EQ(report.undecided, 2u);
    EXPECT_FALSE(report.abandoned);

    std::atomic<bool> stopped{true};
    scratch.setAbort(FilterAbort{nullptr, 0, &stopped, {}});
    doc.setFindPosition(0, 0);
    EXPECT_FALSE(doc.findRegex(*pattern, true, scratch, report));
    EXPECT_TRUE(report.abandoned);
    EXPECT_EQ(report.undecided, 0u);

    // Only the hard line, an hour to decide it: Stop comes in while it is being matched.
    open(hard + "\n");
    stopped = false;
    scratch.setLineBudget(std::chrono::hours(1));
    const std::uint64_t watchedBefore = scratch.watchedLines();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stopped = true;
    });
    doc.setFindPosition(0, 0);
    const bool found = doc.findRegex(*pattern, true, scratch, report);
    stopper.join();
    EXPECT_FALSE(found);
    EXPECT_TRUE(report.abandoned);
    EXPECT_EQ(report.undecided, 0u);
    EXPECT_EQ(scratch.watchedLines(), watchedBefore + 1);
}
