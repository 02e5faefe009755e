// The filter against a plain line-by-line model: every line of the file decoded on its own
// and tested with the literal rule of Find or a per-line PCRE2 match, for random files,
// random filters, appends in random pieces, clears and reloads, in UTF-8 and UTF-16.

#include "EngineTestSupport.h"

#include "engine/FilterHost.h"
#include "engine/FilterMatches.h"
#include "engine/FilterPattern.h"
#include "engine/KeywordMatcher.h"
#include "engine/LineFilter.h"
#include "platform/NarrowCodec.h"
#include "support/Sanitizers.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <random>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace quilltest;

namespace {

// --- the model ---

// A-Z to a-z and nothing else, as Find compares without Match case.
void foldAscii(std::u16string& text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c - u'A' + u'a');
        }
    }
}

bool modelLiteral(std::u16string line, std::u16string text, const FilterTerm& term)
{
    if (!term.matchCase) {
        foldAscii(line);
        foldAscii(text);
    }
    for (std::size_t pos = 0;;) {
        const std::size_t c = line.find(text, pos);
        if (c == std::u16string::npos) {
            return false;
        }
        const bool before = c == 0 || isWordDelimiter(line[c - 1]);
        const bool after = c + text.size() == line.size() || isWordDelimiter(line[c + text.size()]);
        if (!term.wholeWord || (before && after)) {
            return true;
        }
        pos = c + text.size();
    }
}

bool modelRegex(const std::u16string& line, const FilterTerm& term)
{
    std::u16string source = term.text;
    if (term.wholeWord) {
        source = u"(?<![^\\t ,;:\\\\/.\\r\\n])(?:" + source + u")(?![^\\t ,;:\\\\/.\\r\\n])";
    }
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(),
                      PCRE2_UTF | PCRE2_MULTILINE | (term.matchCase ? 0u : PCRE2_CASELESS), &error,
                      &offset, context);
    pcre2_compile_context_free(context);
    EXPECT_NE(code, nullptr);
    pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, 0,
                               data, nullptr);
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    return rc >= 0;
}

// The lines of the file from `first` on (the clear point) that the filter shows.
std::vector<LineNumber> modelResult(const std::string& bytes, std::size_t first,
                                    const FilterSet& filterSet, bool utf16)
{
    const ModelFile model = modelFile(bytes, utf16);
    const ReferenceIndex& index = model.index;
    std::vector<LineNumber> rows;
    auto matches = [&](const FilterTerm& term, std::size_t i) {
        // Both on the line as shown: a lone CR writes over the line's start.
        return term.regularExpression ? modelRegex(model.lines[i], term)
                                      : modelLiteral(model.lines[i], term.text, term);
    };
    for (std::size_t i = first; i + 1 < index.starts.size(); ++i) {
        bool shown = filterSet.include.text.empty() || matches(filterSet.include, i);
        for (const FilterTerm& exclude : filterSet.excludes) {
            shown = shown && !matches(exclude, i);
        }
        if (shown) {
            rows.push_back(LineNumber(i - first));
        }
    }
    return rows;
}

std::vector<LineNumber> rowsOf(const LineFilter& filter)
{
    std::vector<LineNumber> rows;
    for (std::size_t i = 0; i < filter.matches().size(); ++i) {
        rows.push_back(filter.matches().at(i));
    }
    return rows;
}

// --- random material ---

const char* const Words[] = {"ERROR", "error", "Err", "err:", "disk/err", "errno", "kerr",
                             "warn",  "é",     "É",   "€",    "x",        "a.b",   "12",
                             "7",     " ",     ",",   "\t",   ":",        "\\"};
const char* const Literals[] = {"err", "ERROR", "é", "rr", "a.b", "€", "x", "12", ":", "err:"};
const char* const Regexes[] = {"^err",      "err$",   "e.r", "[0-9]+$",   "^$",
                               "\\berr\\b", "r\\s",   "É",   "(?<=a)\\.", "x*",
                               "\\d{2}",    "^\\s*$", "é$",  "(?<!k)err", "rr|€"};

std::string randomLines(std::mt19937& rng, int lines, bool utf16)
{
    std::string text;
    for (int i = 0; i < lines; ++i) {
        const int words = int(rng() % 6);
        for (int w = 0; w < words; ++w) {
            text += Words[rng() % (sizeof Words / sizeof Words[0])];
        }
        if (rng() % 40 == 0) {
            text += "\r"; // a lone CR inside a line
            text += Words[rng() % 4];
        }
        if (!utf16 && rng() % 50 == 0) {
            text += "\xC3"; // broken UTF-8
        }
        text += rng() % 4 == 0 ? "\r\n" : "\n";
    }
    if (!utf16) {
        return text;
    }
    return utf16le(quill::utf8ToUtf16(text));
}

FilterTerm randomTerm(std::mt19937& rng, bool utf16)
{
    FilterTerm term;
    term.regularExpression = rng() % 2 == 0;
    if (term.regularExpression) {
        term.text = quill::utf8ToUtf16(Regexes[rng() % (sizeof Regexes / sizeof Regexes[0])]);
    } else {
        term.text = quill::utf8ToUtf16(Literals[rng() % (sizeof Literals / sizeof Literals[0])]);
    }
    term.matchCase = rng() % 2 == 0;
    term.wholeWord = rng() % 3 == 0;
    (void)utf16;
    return term;
}

FilterSet randomSpec(std::mt19937& rng, bool utf16)
{
    FilterSet filterSet;
    if (rng() % 4 != 0) {
        filterSet.include = randomTerm(rng, utf16);
    }
    const int excludes = int(rng() % 3);
    for (int i = 0; i < excludes; ++i) {
        filterSet.excludes.push_back(randomTerm(rng, utf16));
    }
    if (filterSet.isEmpty()) {
        filterSet.include = randomTerm(rng, utf16);
    }
    return filterSet;
}

std::string describe(const FilterSet& filterSet)
{
    auto term = [](const FilterTerm& t) {
        return quill::utf16ToUtf8(t.text) + (t.regularExpression ? " /re" : "") +
               (t.matchCase ? " /case" : "") + (t.wholeWord ? " /word" : "");
    };
    std::string out = "include '" + term(filterSet.include) + "'";
    for (const FilterTerm& t : filterSet.excludes) {
        out += ", exclude '" + term(t) + "'";
    }
    return out;
}

// A document that the test feeds itself, as the watcher would.
struct FedDocument {
    TestSettings settings;
    FakeHost host;
    std::string path = settings.dir.file("filter.log");
    std::string bytes;
    LogDocument doc{&host, settings.store};

    void open(const std::string& content)
    {
        bytes = content;
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(quill::utf8ToUtf16(path)));
        doc.stopWatching();
    }
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
        // As the watcher does; by default every other piece, so both ways of taking new
        // lines meet.
        if (++pieces % tellEvery == 0) {
            doc.tellAppendListener(offset, data, piece.size());
        }
    }
    int pieces = 0;
    int tellEvery = 2;
};

void expectModel(LineFilter& filter, const FedDocument& fed, std::size_t clearLine,
                 const FilterSet& filterSet, bool utf16, const std::string& context)
{
    filter.sync();
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(filter.progress().state, FilterState::Done);
    EXPECT_EQ(rowsOf(filter), modelResult(fed.bytes, clearLine, filterSet, utf16))
        << context << ": " << describe(filterSet);
}

} // namespace

class LineFilterModel : public ::testing::TestWithParam<bool> {};

// Random files and filters, the file growing in random pieces (lines arrive cut anywhere,
// the open last line is checked again as it grows), now and then cleared or reloaded.
TEST_P(LineFilterModel, RandomFiltersFollowAppendsClearsAndReloads)
{
    const bool utf16 = GetParam();
    std::mt19937 rng(utf16 ? 77 : 11);
    for (int round = 0; round < 12; ++round) {
        FedDocument fed;
        const std::string start = (utf16 ? std::string("\xFF\xFE") : std::string()) +
                                  randomLines(rng, int(rng() % 200), utf16);
        fed.open(start);
        LineFilter filter(fed.doc, nullptr);
        filter.setChunkLimits(1 + rng() % 40, 1 + rng() % 900);
        const FilterSet filterSet = randomSpec(rng, utf16);
        ASSERT_TRUE(filter.setFilter(filterSet).empty()) << describe(filterSet);
        std::size_t clearLine = 0;
        expectModel(filter, fed, clearLine, filterSet, utf16, "whole file");
        for (int step = 0; step < 8; ++step) {
            const std::string more = randomLines(rng, int(rng() % 60), utf16);
            std::size_t at = 0;
            while (at < more.size()) {
                std::size_t n = 1 + rng() % 97;
                if (utf16 && rng() % 3 != 0) {
                    n += n % 2; // mostly whole code units, sometimes half of one
                }
                fed.append(more.substr(at, n));
                at += n;
                if (rng() % 3 == 0) {
                    expectModel(filter, fed, clearLine, filterSet, utf16, "after a piece");
                }
            }
            if (rng() % 5 == 0) {
                fed.doc.clearText();
                clearLine = modelFile(fed.bytes, utf16).index.starts.size() - 1;
                if (modelFile(fed.bytes, utf16).index.lastLineOpen) {
                    // The clear point is the end of the file: the open line's rest is
                    // a line of its own from there on; the model starts at the next one.
                    const std::string rest = utf16 ? std::string("\n\0", 2) : "\n";
                    fed.append(rest);
                    fed.doc.clearText();
                    clearLine = modelFile(fed.bytes, utf16).index.starts.size() - 1;
                }
                EXPECT_TRUE(filter.sync().reset);
                EXPECT_EQ(filter.matches().size(), 0u);
            } else if (rng() % 7 == 0) {
                // Truncated and re-opened: the rows start over with the new content.
                fed.bytes = (utf16 ? std::string("\xFF\xFE") : std::string()) +
                            randomLines(rng, int(rng() % 30), utf16);
                writeFile(fed.path, fed.bytes);
                ASSERT_TRUE(fed.doc.openDocument(quill::utf8ToUtf16(fed.path)));
                fed.doc.stopWatching();
                clearLine = 0;
            }
            expectModel(filter, fed, clearLine, filterSet, utf16, "step " + std::to_string(step));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, LineFilterModel, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Utf16" : "Utf8"; });

TEST(LineFilter, PatternThatDoesNotCompileFiltersNothingAndSaysWhere)
{
    FedDocument fed;
    fed.open("ERROR one\nINFO two\n");
    LineFilter filter(fed.doc, nullptr);
    ASSERT_TRUE(filter.setFilter(FilterSet{{u"ERROR", true, false, false}, {}}).empty());
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(filter.matches().size(), 1u);

    FilterSet bad;
    bad.include = {u"INFO", false, false, false};
    bad.excludes = {{u"two", false, false, false}, {u"a(b", false, true, true}};
    const std::vector<FilterError> errors = filter.setFilter(bad);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].exclude);
    EXPECT_EQ(errors[0].excludeIndex, 1u);
    EXPECT_EQ(errors[0].offset, 3u); // after "a(b", inside the user's text despite "Whole word"
    EXPECT_NE(errors[0].message.find(u"missing"), std::u16string::npos);
    EXPECT_FALSE(filter.isActive());
    EXPECT_EQ(filter.matches().size(), 0u);
    EXPECT_TRUE(filter.collect().reset);
    EXPECT_EQ(filter.progress().state, FilterState::Off);
}

// In a single-byte narrow set literals are searched as that set's bytes: they fold only
// A-Z, and a character the set has no byte for is on no line (so excluding it hides
// nothing). Regular expressions fold case as Unicode does.
TEST(LineFilter, SingleByteNarrowSetsMatchLikeFind)
{
    quill::setNarrowCharsetForTesting("ISO-8859-1");
    FedDocument fed;
    fed.open("caf\xE9 ok\nCAF\xC9\nother\n");
    LineFilter filter(fed.doc, nullptr);
    const struct {
        FilterTerm term;
        std::vector<LineNumber> rows;
    } cases[] = {
        {{u"caf\u00e9", false, false, false}, {0}}, {{u"caf\u00e9", false, false, true}, {0, 1}},
        {{u"^.{4}$", true, false, true}, {1}},      {{u"CAF\u00c9", true, false, false}, {1}},
        {{u"f\u00e9 ok", true, true, false}, {}},   {{u"\u20ac", false, false, false}, {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(filter.setFilter(FilterSet{c.term, {}}).empty());
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        EXPECT_EQ(rowsOf(filter), c.rows) << quill::utf16ToUtf8(c.term.text);
    }
    ASSERT_TRUE(filter.setFilter(FilterSet{{}, {{u"\u20ac", false, false, false}}}).empty());
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(rowsOf(filter), (std::vector<LineNumber>{0, 1, 2}));
    quill::setNarrowCharsetForTesting("UTF-8");
}

// A line in a run may match where the line alone does not (and the other way round) when
// the pattern looks past the line's ends; such patterns are matched line by line.
TEST(LineFilter, PatternsThatSeePastTheLineAreMatchedLineByLine)
{
    FedDocument fed;
    fed.open("ab\r\ncd\n\nx y\r\nz\n");
    LineFilter filter(fed.doc, nullptr);
    const struct {
        const char16_t* pattern;
        bool runsAtOnce;
        std::vector<LineNumber> rows;
    } cases[] = {
        {u"b$", true, {0}},         // $ before CR LF
        {u"^$", true, {2}},         // only the empty line
        {u"\\Acd", false, {1}},     // \A: the line's own start
        {u"y\\z", false, {3}},      // \z: the line's own end
        {u"(?<!\\s)c", false, {1}}, // nothing before a line's first character
        {u"b(?!\\s)", false, {0}},  // nothing after its last
        {u"(?-m)^cd$", false, {1}}, // multi-line off: still the line's own ends
        {u"\\s\\s", true, {}},      // a CR LF is not in the line
    };
    for (const auto& c : cases) {
        std::u16string message;
        std::size_t offset = 0;
        const FilterTerm term{c.pattern, true, false, true};
        const auto compiled = FilterPattern::compile(term, message, offset);
        ASSERT_TRUE(compiled) << quill::utf16ToUtf8(message);
        EXPECT_EQ(compiled->matchesRunsAtOnce(), c.runsAtOnce) << quill::utf16ToUtf8(c.pattern);
        ASSERT_TRUE(filter.setFilter(FilterSet{term, {}}).empty());
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        EXPECT_EQ(rowsOf(filter), c.rows) << quill::utf16ToUtf8(c.pattern);
    }
}

// Stop ends the pass early and keeps a correct prefix; Resume finishes it.
TEST(LineFilter, StopKeepsWhatWasCheckedAndResumeFinishes)
{
    FedDocument fed;
    std::mt19937 rng(5);
    fed.open(randomLines(rng, 20000, false));
    LineFilter filter(fed.doc, nullptr);
    filter.setChunkLimits(50, 1 << 20);
    const FilterSet filterSet{{u"e.r", false, false, true}, {{u"ERROR", true, true, false}}};
    ASSERT_TRUE(filter.setFilter(filterSet).empty());
    filter.stop();
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    const FilterProgress stopped = filter.progress();
    EXPECT_EQ(stopped.state, FilterState::Stopped);
    EXPECT_EQ(stopped.total, fed.doc.lineCount());
    std::vector<LineNumber> expected = modelResult(fed.bytes, 0, filterSet, false);
    std::vector<LineNumber> prefix;
    for (LineNumber line : expected) {
        if (line < stopped.done) {
            prefix.push_back(line);
        }
    }
    EXPECT_EQ(rowsOf(filter), prefix);

    filter.resume();
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(filter.progress().state, FilterState::Done);
    EXPECT_EQ(filter.progress().done, fed.doc.lineCount());
    EXPECT_EQ(rowsOf(filter), expected);
}

class CountingFilterHost : public FilterHost {
  public:
    void postFilterProgress() override { ++posted; }
    std::atomic<int> posted{0};
};

// The watcher's appends and the filter's pass run at the same time (run under TSan):
// the watcher is never kept waiting long, and no line is lost or doubled.
TEST(LineFilter, AppendsWhileAPassRunsLoseNothing)
{
    FedDocument fed;
    std::mt19937 rng(9);
    fed.open(randomLines(rng, 5000, false));
    CountingFilterHost host;
    LineFilter filter(fed.doc, &host);
    filter.setChunkLimits(64, 4096);
    const FilterSet filterSet{{u"err", false, true, false}, {{u"^x", true, false, true}}};
    ASSERT_TRUE(filter.setFilter(filterSet).empty());
    std::string more = randomLines(rng, 3000, false);
    std::thread watcher([&] {
        std::mt19937 cut(3);
        for (std::size_t at = 0; at < more.size();) {
            const std::size_t n = 1 + cut() % 300;
            fed.append(more.substr(at, n));
            at += n;
        }
    });
    for (int i = 0; i < 50; ++i) {
        filter.sync(); // as the main thread would on each append message
        filter.collect();
        std::this_thread::yield();
    }
    watcher.join();
    expectModel(filter, fed, 0, filterSet, false, "after the appends");
    EXPECT_GT(host.posted.load(), 0);
}

// The watcher's pieces are matched where they are, when the worker is idle: only the lines
// cut between two pieces are read from the file.
TEST(LineFilter, LinesTheWatcherHandsOverAreMatchedWithoutReadingThemAgain)
{
    for (const FilterTerm& term :
         {FilterTerm{u"ERROR", true, false, false}, FilterTerm{u"ERR?OR$", true, false, true}}) {
        SCOPED_TRACE(quill::utf16ToUtf8(term.text));
        FedDocument fed;
        fed.tellEvery = 1;
        fed.open("first ERROR\n");
        LineFilter filter(fed.doc, nullptr);
        // Not the point here, and sanitizer builds are slow.
        filter.setWatcherBudget(std::chrono::seconds(10));
        const FilterSet filterSet{term, {}};
        ASSERT_TRUE(filter.setFilter(filterSet).empty());
        ASSERT_TRUE(filter.waitIdle());
        // 2 MiB, 32 pieces; under a sanitizer, where each line costs ten times more, 8.
        const std::size_t size = UnderSanitizer ? (512u << 10) : (2u << 20);
        std::string more;
        for (int i = 0; more.size() < size; ++i) {
            more += "line " + std::to_string(i) + (i % 10 == 3 ? " ERROR\n" : " fine\n");
        }
        // Pieces of 64 KiB, each cut inside a line, the last line left open.
        more += "open ERR";
        const std::uint64_t before = bytesRead();
        for (std::size_t at = 0; at < more.size(); at += 65536) {
            fed.append(more.substr(at, 65536));
        }
        filter.sync();
        ASSERT_TRUE(filter.waitIdle());
        EXPECT_LT(bytesRead() - before, 16u * 1024) << "only the lines cut between pieces are read";
        filter.collect();
        EXPECT_EQ(rowsOf(filter), modelResult(fed.bytes, 0, filterSet, false));
        fed.append("OR\n");
        expectModel(filter, fed, 0, filterSet, false,
                    "the open line completed in a piece of its own");
    }
}

// Lines the watcher's own runs checked are taken at the window's next sync() as they are:
// the worker is not woken (it would post a notice after each); sync() posts one only for
// new rows. Pieces cut inside lines, an open last line left as it was, then grown, and a
// line window.
TEST(LineFilter, LinesTheWatcherCheckedAreTakenWithoutWakingTheWorker)
{
    FedDocument fed;
    fed.tellEvery = 1;
    fed.open("first ERROR\n");
    CountingFilterHost host;
    LineFilter filter(fed.doc, &host);
    filter.setWatcherBudget(std::chrono::seconds(10));
    const FilterSet filterSet{{u"error", false, false, false}, {}};
    ASSERT_TRUE(filter.setFilter(filterSet).empty());
    ASSERT_TRUE(filter.waitIdle());
    for (int i = 0; i < 1000 && host.posted.load() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(host.posted.load(), 1);
    filter.collect();
    // Each piece with the notices it brings: one where a row is new, or listed again (the
    // open line that matched has grown).
    const std::vector<std::pair<std::string, int>> pieces = {{"a Error\nb fine\nc ER", 1},
                                                             {"ROR\nd\n", 1},
                                                             {"", 0},
                                                             {"e fine", 0},
                                                             {" error", 1},
                                                             {"", 0},
                                                             {" f\ng\n", 1},
                                                             {"h fine\n", 0}};
    for (const auto& [piece, notices] : pieces) {
        const int before = host.posted.load();
        fed.append(piece);
        filter.sync();
        EXPECT_EQ(filter.progress().state, FilterState::Done) << piece;
        EXPECT_EQ(filter.progress().total, fed.doc.lineCount());
        EXPECT_EQ(filter.progress().done, fed.doc.lineCount());
        ASSERT_TRUE(filter.waitIdle());
        EXPECT_EQ(host.posted.load() - before, notices) << piece;
        EXPECT_EQ(filter.isCollected(), notices == 0) << piece;
        filter.collect();
        EXPECT_TRUE(filter.isCollected());
        EXPECT_EQ(rowsOf(filter), modelResult(fed.bytes, 0, filterSet, false)) << piece;
    }
    // Lines past the window's end are not the filter's to check.
    filter.setLineWindow(0, 3);
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    const int posted = host.posted.load();
    fed.tellEvery = 1000;
    fed.append("i error\n");
    filter.sync();
    EXPECT_EQ(filter.progress().state, FilterState::Done);
    ASSERT_TRUE(filter.waitIdle());
    EXPECT_EQ(host.posted.load(), posted);
    // A piece the watcher did not check goes to the worker as before.
    filter.setLineWindow(0, ~LineNumber(0));
    ASSERT_TRUE(filter.waitIdle());
    fed.append("j error\n");
    filter.sync();
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(rowsOf(filter), modelResult(fed.bytes, 0, filterSet, false));
    EXPECT_GT(host.posted.load(), posted);
    // An open line that matched and grows into an excluded one: its row is taken back, which
    // needs a notice of its own.
    fed.tellEvery = 1;
    const FilterSet excluding{{u"error", false, false, false}, {{u"zz", false, false, false}}};
    ASSERT_TRUE(filter.setFilter(excluding).empty());
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    for (const auto& [piece, notices] :
         std::vector<std::pair<std::string, int>>{{"k error", 1}, {" zz\n", 1}}) {
        const int before = host.posted.load();
        fed.append(piece);
        filter.sync();
        ASSERT_TRUE(filter.waitIdle());
        EXPECT_EQ(host.posted.load() - before, notices) << piece;
        filter.collect();
        EXPECT_EQ(rowsOf(filter), modelResult(fed.bytes, 0, excluding, false)) << piece;
    }
}

// The first and the 65,537th line: the second lies exactly 65,536 lines after the first
// row of its block, the first distance that needs more than 16 bits.
TEST(LineFilter, MatchesSixtyFiveThousandFiveHundredThirtySixLinesApartAreBothListed)
{
    FedDocument fed;
    std::string text = "hit\n";
    for (int i = 1; i < 65536; ++i) {
        text += "-\n";
    }
    text += "hit\n-\n";
    fed.open(text);
    LineFilter filter(fed.doc, nullptr);
    ASSERT_TRUE(filter.setFilter(FilterSet{{u"hit", true, false, false}, {}}).empty());
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(rowsOf(filter), (std::vector<LineNumber>{0, 65536}));
}

// A Match case literal in an Exclude row sees the bytes as they are, even where the other
// terms would let the chunk be folded in place.
TEST(LineFilter, MatchCaseExcludeIsNotRunOnFoldedBytes)
{
    FedDocument fed;
    fed.open("ERROR disk\nerror net\n");
    LineFilter filter(fed.doc, nullptr);
    const struct {
        FilterSet set;
        std::vector<LineNumber> rows;
    } cases[] = {
        {{{}, {{u"ERROR", true, false, false}}}, {1}},
        {{{u"r", false, false, false}, {{u"ERROR", true, false, false}}}, {1}},
        {{{u"R", true, false, false}, {{u"error", false, false, false}}}, {}},
        {{{u"error", false, false, false}, {{u"disk", false, false, false}}}, {1}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(filter.setFilter(c.set).empty());
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        EXPECT_EQ(rowsOf(filter), c.rows) << describe(c.set);
    }
}

// The line numbers (from 0) grep prints for the file, run without a shell.
std::vector<LineNumber> grepLines(const std::vector<std::string>& flags, const std::string& pattern,
                                  const std::string& path)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<std::string> args{"grep", "-n"};
        args.insert(args.end(), flags.begin(), flags.end());
        args.insert(args.end(), {"-e", pattern, "--", path});
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execvp("grep", argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, std::size_t(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << "grep failed on " << pattern;
    std::vector<LineNumber> lines;
    for (std::size_t at = 0; at < out.size();) {
        lines.push_back(LineNumber(std::stoul(out.substr(at)) - 1));
        at = out.find('\n', at);
        at = at == std::string::npos ? out.size() : at + 1;
    }
    return lines;
}

// Lines a pattern cannot decide within its limits, and lines too long to hold, are shown
// (an exclude keeps them) and listed as undecided, never judged "no match"; every other
// line is as grep judges it.
TEST(LineFilter, LinesThatCannotBeDecidedAreShownAndListedAgainstGrep)
{
    const std::string hard = std::string(28, 'a') + "b ac\n";
    std::string mixed;
    for (int i = 0; i < 30; ++i) {
        mixed += i % 3 == 0 ? hard : i % 3 == 1 ? "plain ac line\n" : "nothing here\n";
    }
    const std::string longLine = "x" + std::string(3000, 'y') + " ac\n";
    const std::string atLimit = "z" + std::string(995, 'y') + " ac\n"; // 1000 bytes: held
    std::vector<LineNumber> hardLines;
    for (LineNumber line = 0; line < 30; line += 3) {
        hardLines.push_back(line);
    }
    const struct {
        const char* name;
        std::string text;
        FilterTerm term;
        bool exclude;
        std::vector<std::string> grep;
        std::vector<LineNumber> undecided;
        FileOffset longLineLimit;
    } cases[] = {
        {"backtracking include",
         std::string(),
         {u"(a+)+c", true, false, true},
         false,
         {"-E"},
         hardLines,
         0},
        {"backtracking exclude",
         std::string(),
         {u"(a+)+c", true, false, true},
         true,
         {"-E"},
         hardLines,
         0},
        {"perl syntax",
         std::string(),
         {u"\\bac\\b(?=\\s|$)", true, false, true},
         false,
         {"-P"},
         {},
         0},
        {"long line include",
         "a ac\n" + longLine + atLimit + "b\n",
         {u"ac", true, false, false},
         false,
         {"-F"},
         {1},
         1000},
        {"long line exclude",
         "a ac\n" + longLine + atLimit + "b\n",
         {u"a.$", true, false, true},
         true,
         {"-E"},
         {1},
         1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FedDocument fed;
        fed.open(c.text.empty() ? mixed : c.text);
        LineFilter filter(fed.doc, nullptr);
        if (c.longLineLimit > 0) {
            filter.setLongLineLimit(c.longLineLimit);
        }
        FilterSet set;
        (c.exclude ? set.excludes.emplace_back() : set.include) = c.term;
        ASSERT_TRUE(filter.setFilter(set).empty());
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        std::vector<std::string> flags = c.grep;
        if (c.exclude) {
            flags.push_back("-v");
        }
        const std::vector<LineNumber> grep =
            grepLines(flags, quill::utf16ToUtf8(c.term.text), fed.path);
        const std::vector<LineNumber> shown = rowsOf(filter);
        const std::vector<LineNumber>& undecided = filter.undecided();
        EXPECT_EQ(undecided, c.undecided);
        EXPECT_TRUE(std::includes(shown.begin(), shown.end(), undecided.begin(), undecided.end()));
        // Decided lines as grep has them; undecided ones shown whatever grep says.
        std::vector<LineNumber> expected;
        std::set_union(grep.begin(), grep.end(), undecided.begin(), undecided.end(),
                       std::back_inserter(expected));
        EXPECT_EQ(shown, expected);
        if (c.name == std::string("backtracking include")) {
            EXPECT_EQ(grep.size(), 20u) << "the model itself";
        }
    }
}

// The compact list against a plain vector: block boundaries, distances past 16 bits, and
// taking rows back across a block boundary.
TEST(FilterMatches, EqualsAPlainListAcrossBlocksAndWideDistances)
{
    FilterMatches list;
    std::vector<LineNumber> plain;
    std::mt19937 rng(2);
    LineNumber line = 0;
    for (int i = 0; i < 3000; ++i) {
        line += 1 + (rng() % 10 == 0 ? 65536 + rng() % 70000 : rng() % 300);
        list.push_back(line);
        plain.push_back(line);
        if (rng() % 5 == 0) {
            list.pop_back();
            plain.pop_back();
        }
    }
    ASSERT_EQ(list.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        ASSERT_EQ(list.at(i), plain[i]) << i;
    }
    for (int i = 0; i < 2000; ++i) {
        const LineNumber probe = LineNumber(rng() % (line + 2));
        EXPECT_EQ(list.lowerBound(probe),
                  std::size_t(std::lower_bound(plain.begin(), plain.end(), probe) - plain.begin()));
    }
    while (list.size() > 250) {
        list.pop_back();
        plain.pop_back();
    }
    // A distance past 16 bits widens a block that already holds 250 rows.
    list.push_back(plain.back() + 0x10000);
    plain.push_back(plain.back() + 0x10000);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        ASSERT_EQ(list.at(i), plain[i]) << i;
    }
}

TEST(FilterMatches, DenseMatchesCostAboutTwoBytesEach)
{
    FilterMatches list;
    for (LineNumber line = 0; line < 100000; ++line) {
        list.push_back(line * 100);
    }
    EXPECT_LE(list.memoryBytes(), 100000u * 22 / 10);
}
