// Find in All Tabs' model against a model of its own: a random walk of appends to several
// documents, documents closed and opened, Stop, Continue and new searches, after which each
// document's list must equal a plain scan of its file's lines; and the documents searched one
// after another.

#include "EngineTestSupport.h"

#include "engine/FindAllSearch.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <regex>
#include <thread>

using namespace quilltest;

namespace {

// A document the test feeds itself, as the watcher would.
struct Fed {
    TestSettings settings;
    FakeHost host;
    std::string path;
    std::string bytes;
    std::size_t clearLine = 0; // lines before it were cleared away
    std::unique_ptr<LogDocument> doc;
    int pieces = 0;

    explicit Fed(const std::string& content)
    {
        path = settings.dir.file("log.txt");
        doc = std::make_unique<LogDocument>(&host, settings.store);
        bytes = content;
        writeFile(path, bytes);
        EXPECT_TRUE(doc->openDocument(quill::utf8ToUtf16(path)));
        doc->stopWatching();
    }
    void append(const std::string& piece)
    {
        appendFile(path, piece);
        bytes += piece;
        const auto* data = reinterpret_cast<const std::uint8_t*>(piece.data());
        const FileOffset offset = doc->indexedEnd();
        {
            std::lock_guard lock(doc->docAccess());
            doc->appendText(data, piece.size(), false);
        }
        // Every other piece reaches the filter on the watcher's way too.
        if (++pieces % 2 == 0) {
            doc->tellAppendListener(offset, data, piece.size());
        }
    }
};

// The model's reading of a file: lines split at line feeds, the last one open.
std::vector<std::string> splitLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool delimiter(char c)
{
    return std::string_view("\t ,;:\\/.").find(c) != std::string_view::npos;
}

// Find's rule for a literal, and std::regex for the few patterns the walk uses (they mean
// the same in PCRE2).
bool modelMatches(const std::string& line, const std::string& text, bool matchCase, bool wholeWord,
                  bool regularExpression)
{
    if (regularExpression) {
        const auto flags =
            matchCase ? std::regex::ECMAScript : std::regex::ECMAScript | std::regex::icase;
        return std::regex_search(line, std::regex(text, flags));
    }
    for (std::size_t at = 0; at + text.size() <= line.size(); ++at) {
        bool equal = true;
        for (std::size_t i = 0; i < text.size() && equal; ++i) {
            equal = matchCase ? line[at + i] == text[i] : lower(line[at + i]) == lower(text[i]);
        }
        if (!equal) {
            continue;
        }
        if (!wholeWord ||
            ((at == 0 || delimiter(line[at - 1])) &&
             (at + text.size() == line.size() || delimiter(line[at + text.size()])))) {
            return true;
        }
    }
    return false;
}

std::vector<LineNumber> modelList(const Fed& fed, const FilterTerm& term)
{
    const std::vector<std::string> lines = splitLines(fed.bytes);
    std::string text(term.text.begin(), term.text.end()); // the walk's terms are ASCII
    std::vector<LineNumber> out;
    for (std::size_t i = fed.clearLine; i < lines.size(); ++i) {
        if (modelMatches(lines[i], text, term.matchCase, term.wholeWord, term.regularExpression)) {
            out.push_back(LineNumber(i - fed.clearLine)); // counted from the clear point
        }
    }
    return out;
}

std::vector<LineNumber> listOf(const FindAllSearch& search, std::size_t group)
{
    std::vector<LineNumber> out;
    const FilterMatches& matches = search.matches(group);
    for (std::size_t i = 0; i < matches.size(); ++i) {
        out.push_back(matches.at(i));
    }
    return out;
}

const char* const s_words[] = {"alpha", "Beta", "gamma", "ERROR", "id=42", "req-7", "x.y"};

std::string randomLines(std::mt19937& rng, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        const int words = int(rng() % 5);
        for (int w = 0; w < words; ++w) {
            out += s_words[rng() % std::size(s_words)];
            out += " ,:/."[rng() % 5];
        }
        out += '\n';
    }
    return out;
}

FilterTerm randomTerm(std::mt19937& rng)
{
    static const char* const texts[] = {"alpha", "beta", "ERROR", "id=42", "a", "req", "x.y"};
    static const char* const patterns[] = {"ga+m", "^alpha", "[0-9]{2}", "ERROR|Beta", "q-7$"};
    FilterTerm term;
    term.regularExpression = rng() % 3 == 0;
    const char* text = term.regularExpression ? patterns[rng() % std::size(patterns)]
                                              : texts[rng() % std::size(texts)];
    term.text = std::u16string(text, text + std::strlen(text));
    term.matchCase = rng() % 2 == 0;
    term.wholeWord = !term.regularExpression && rng() % 3 == 0;
    return term;
}

std::string describe(const FilterTerm& term)
{
    return std::string(term.text.begin(), term.text.end()) + (term.matchCase ? " /case" : "") +
           (term.wholeWord ? " /word" : "") + (term.regularExpression ? " /regex" : "");
}

// Answers the notices as the window would, until nothing runs and every row is taken over.
bool settle(FindAllSearch& search)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        search.collect();
        if (search.isSettled()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

// A seed that once left a list behind is kept first.
class FindAllSearchWalk : public ::testing::TestWithParam<unsigned> {};

TEST_P(FindAllSearchWalk, ListsEqualAScanOfEachFileAfterAppendsClosesStopsAndNewSearches)
{
    std::mt19937 rng(GetParam());
    std::vector<std::unique_ptr<Fed>> docs;
    FindAllSearch search(nullptr);
    search.setChunkLimits(1 + rng() % 30, 1 + rng() % 700);
    auto open = [&] {
        docs.push_back(std::make_unique<Fed>(randomLines(rng, int(rng() % 150))));
        search.addDocument(*docs.back()->doc);
    };
    for (int i = 0; i < 3; ++i) {
        open();
    }
    FilterTerm term = randomTerm(rng);
    ASSERT_FALSE(search.setTerm(term).has_value());
    auto check = [&](const std::string& when) {
        ASSERT_TRUE(settle(search)) << when;
        ASSERT_EQ(search.documentCount(), docs.size());
        EXPECT_EQ(search.progress().state, FilterState::Done) << when;
        for (std::size_t g = 0; g < docs.size(); ++g) {
            ASSERT_EQ(&search.document(g), docs[g]->doc.get()) << when;
            EXPECT_EQ(listOf(search, g), modelList(*docs[g], term))
                << when << ", document " << g << ", term " << describe(term);
        }
    };
    check("first search");
    for (int step = 0; step < 40; ++step) {
        const std::string when = "step " + std::to_string(step);
        switch (rng() % 8) {
        case 0:
        case 1:
        case 2: { // appends in pieces cut anywhere, to one document or several
            const int targets = 1 + int(rng() % 3);
            for (int t = 0; t < targets && !docs.empty(); ++t) {
                Fed& fed = *docs[rng() % docs.size()];
                const std::string more = randomLines(rng, int(rng() % 40));
                for (std::size_t at = 0; at < more.size();) {
                    const std::size_t n = 1 + rng() % 60;
                    fed.append(more.substr(at, n));
                    at += n;
                    search.sync(*fed.doc);
                    if (rng() % 4 == 0) {
                        search.collect();
                    }
                }
            }
            break;
        }
        case 3: // a document closes, perhaps the one being searched
            if (docs.size() > 1) {
                search.collect();
                const std::size_t gone = rng() % docs.size();
                search.removeDocument(*docs[gone]->doc);
                docs.erase(docs.begin() + std::ptrdiff_t(gone));
            }
            break;
        case 4: // another opens, searched after the others
            open();
            break;
        case 5: { // Stop: what is listed is found, no more; Continue finishes
            search.stop();
            search.collect();
            EXPECT_EQ(search.progress().state, FilterState::Stopped) << when;
            for (std::size_t g = 0; g < docs.size(); ++g) {
                const std::vector<LineNumber> listed = listOf(search, g);
                const std::vector<LineNumber> model = modelList(*docs[g], term);
                EXPECT_TRUE(std::includes(model.begin(), model.end(), listed.begin(), listed.end()))
                    << when << ", document " << g;
            }
            if (rng() % 2 == 0 && !docs.empty()) {
                // Lines that come while stopped are searched after Continue.
                Fed& fed = *docs[rng() % docs.size()];
                fed.append(randomLines(rng, 5));
                search.sync(*fed.doc);
            }
            search.resume();
            break;
        }
        case 6: // a new search, while the last may still run
            term = randomTerm(rng);
            ASSERT_FALSE(search.setTerm(term).has_value()) << describe(term);
            break;
        case 7: // Clear in one document: its list starts again after the clear point
            if (!docs.empty()) {
                Fed& fed = *docs[rng() % docs.size()];
                if (!fed.bytes.empty() && fed.bytes.back() == '\n') {
                    fed.doc->clearText();
                    fed.clearLine = splitLines(fed.bytes).size();
                    search.sync(*fed.doc);
                }
            }
            break;
        }
        if (rng() % 3 == 0) {
            check(when);
        }
    }
    check("the end");
}

INSTANTIATE_TEST_SUITE_P(Seeds, FindAllSearchWalk, ::testing::Values(3u, 17u, 2026u, 77u, 901u));

// Five logs cost five passes one after the other: while one document's first pass runs, the
// later ones wait for their turn, however often the window answers the notices; a new term
// starts the turns over, and the document being searched closing hands the turn on at once.
TEST(FindAllSearch, DocumentsAreSearchedOneAfterAnother)
{
    std::vector<std::unique_ptr<Fed>> docs;
    FindAllSearch search(nullptr);
    // Many small chunks: a pass takes long enough for the window to answer in its midst.
    search.setChunkLimits(64, 4096);
    std::string content;
    for (int i = 0; i < 3000; ++i) {
        content += "line " + std::to_string(i) + (i % 7 == 0 ? " ERROR\n" : " fine\n");
    }
    for (int i = 0; i < 3; ++i) {
        docs.push_back(std::make_unique<Fed>(content));
        search.addDocument(*docs.back()->doc);
    }
    const auto waitDone = [&](std::size_t g, bool collecting) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (search.progress(g).state != FilterState::Done &&
               std::chrono::steady_clock::now() < deadline) {
            if (collecting) {
                search.collect();
                if (search.progress(g).state == FilterState::Done) {
                    break; // it ended just before this collect, which may have passed the turn on
                }
                for (std::size_t later = g + 1; later < search.documentCount(); ++later) {
                    ASSERT_TRUE(search.isWaiting(later)) << g << " runs, " << later << " too";
                    ASSERT_EQ(search.progress(later).state, FilterState::Running) << later;
                    ASSERT_EQ(search.progress(later).done, 0u) << later;
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_EQ(search.progress(g).state, FilterState::Done) << g;
    };
    for (const char16_t* text : {u"error", u"fine"}) {
        FilterTerm term;
        term.text = text;
        ASSERT_FALSE(search.setTerm(term).has_value());
        for (std::size_t g = 0; g < docs.size(); ++g) {
            waitDone(g, true);
            EXPECT_EQ(search.progress().state,
                      g + 1 < docs.size() ? FilterState::Running : FilterState::Done);
            search.collect(); // the last rows, and the next document's turn
            EXPECT_EQ(search.matches(g).size(), text[0] == u'e' ? 429u : 2571u) << g;
        }
        ASSERT_TRUE(settle(search));
        EXPECT_EQ(search.progress().done, 9000u);
        EXPECT_EQ(search.progress().total, 9000u);
    }
    // The first document closes while it is searched: the next one's pass runs without a
    // notice from the gone one's worker (none will come).
    FilterTerm term;
    term.text = u"ERROR";
    ASSERT_FALSE(search.setTerm(term).has_value());
    search.removeDocument(*docs[0]->doc);
    waitDone(0, false);
}

// Stop stops the pass that runs, not only the turns still to come; Continue finishes it, and
// a new search after Stop runs.
TEST(FindAllSearch, StopHoldsThePassThatRuns)
{
    std::string content;
    for (int i = 0; i < 200000; ++i) {
        content += "line " + std::to_string(i) + (i % 3 == 0 ? " ERROR\n" : " fine\n");
    }
    Fed fed(content);
    FindAllSearch search(nullptr);
    search.setChunkLimits(16, 1024);
    search.addDocument(*fed.doc);
    FilterTerm term;
    term.text = u"ERROR";
    ASSERT_FALSE(search.setTerm(term).has_value());
    search.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const LineNumber held = search.progress(0).done;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(search.progress(0).done, held);
    EXPECT_LT(held, 200000u);
    EXPECT_EQ(search.progress().state, FilterState::Stopped);
    search.resume();
    ASSERT_TRUE(settle(search));
    EXPECT_EQ(search.matches(0).size(), 66667u);
    // A new search after Stop runs: the user typed another text instead of Continue.
    search.stop();
    term.text = u"fine";
    ASSERT_FALSE(search.setTerm(term).has_value());
    ASSERT_TRUE(settle(search));
    EXPECT_EQ(search.matches(0).size(), 133333u);
}

// A pattern that does not compile searches nothing and says where; an empty text neither.
TEST(FindAllSearch, PatternThatDoesNotCompileSearchesNothing)
{
    Fed fed("one (\ntwo\n");
    FindAllSearch search(nullptr);
    search.addDocument(*fed.doc);
    FilterTerm term;
    term.text = u"a(b";
    term.regularExpression = true;
    const std::optional<FilterError> error = search.setTerm(term);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->offset, 3u);
    EXPECT_FALSE(search.isActive());
    EXPECT_EQ(search.progress().state, FilterState::Off);
    term.text.clear();
    EXPECT_FALSE(search.setTerm(term).has_value());
    EXPECT_FALSE(search.isActive());
    EXPECT_TRUE(search.matches(0).empty());
}
