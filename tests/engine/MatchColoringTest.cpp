// Keywords that colour only their matches: which characters they colour, against a
// character-by-character model, and how runs lie over each other.

#include "engine/KeywordMatcher.h"
#include "engine/StyleRuns.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

Keyword matchOnly(const char16_t* text, ColorRef color, bool matchCase = false,
                  bool matchWord = false, bool enabled = true)
{
    Keyword keyword(text, color, color + 1, matchCase, matchWord, enabled);
    keyword.matchOnly = true;
    return keyword;
}

// The text colour of each character, or 0 where no run lies: runs expanded.
std::vector<ColorRef> colours(std::size_t length, const StyleRuns& runs)
{
    std::vector<ColorRef> out(length, 0);
    std::size_t last = 0;
    for (const StyleRun& run : runs) {
        EXPECT_LT(run.start, run.end);
        EXPECT_LE(last, run.start);
        last = run.end;
        for (std::size_t k = run.start; k < run.end && k < length; ++k) {
            out[k] = run.text;
        }
    }
    return out;
}

bool delimiter(char16_t c)
{
    return std::u16string_view(u"\t ,;:\\/.").find(c) != std::u16string_view::npos;
}

char16_t lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

// Character by character: the first keyword in the list with an occurrence over it.
std::vector<ColorRef> model(const std::vector<Keyword>& keywords, std::u16string_view line)
{
    std::vector<ColorRef> out(line.size(), 0);
    std::vector<bool> taken(line.size(), false);
    for (const Keyword& k : keywords) {
        if (!k.enabled || !k.matchOnly || k.text.empty()) {
            continue;
        }
        const std::size_t n = k.text.size();
        for (std::size_t at = 0; at + n <= line.size(); ++at) {
            bool same = true;
            for (std::size_t j = 0; j < n && same; ++j) {
                same = k.matchCase ? line[at + j] == k.text[j]
                                   : lower(line[at + j]) == lower(k.text[j]);
            }
            if (same && k.matchWord) {
                same = (at == 0 || delimiter(line[at - 1])) &&
                       (at + n == line.size() || delimiter(line[at + n]));
            }
            for (std::size_t j = 0; same && j < n; ++j) {
                if (!taken[at + j]) {
                    taken[at + j] = true;
                    out[at + j] = k.textColor;
                }
            }
        }
    }
    return out;
}

} // namespace

TEST(MatchColoring, Boundaries)
{
    struct Row {
        const char16_t* line;
        std::vector<Keyword> keywords;
        const char* want; // per character: '.' none, else the digit of the colour
    };
    const std::vector<Row> rows = {
        {u"abab", {matchOnly(u"ab", 1)}, "1111"},                    // adjacent matches
        {u"xxab", {matchOnly(u"ab", 1)}, "..11"},                    // at the line's end
        {u"abxx", {matchOnly(u"AB", 1)}, "11.."},                    // case folded
        {u"abxx", {matchOnly(u"AB", 1, true)}, "...."},              // match case
        {u"aaa", {matchOnly(u"aa", 1)}, "111"},                      // overlapping occurrences
        {u"abc", {matchOnly(u"ab", 1), matchOnly(u"bc", 2)}, "112"}, // earlier keyword wins
        {u"abc", {matchOnly(u"bc", 2), matchOnly(u"ab", 1)}, "122"},
        {u"abcd", {matchOnly(u"bc", 2), matchOnly(u"abcd", 1)}, "1221"}, // inside a longer one
        {u"ab ab", {matchOnly(u"ab", 1, false, true)}, "11.11"},
        {u"abab ab", {matchOnly(u"ab", 1, false, true)}, ".....11"}, // later whole word counts
        {u"ab", {matchOnly(u"ab", 1, false, false, false)}, ".."},   // switched off
        {u"ab", {Keyword(u"ab", 7, 8, false, false, true)}, ".."},   // whole-line keyword
        {u"a", {matchOnly(u"ab", 1)}, "."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.want));
        const std::u16string_view line(row.line);
        StyleRuns runs;
        matchRuns(row.keywords, line, 0, line.size(), runs);
        std::string got;
        for (ColorRef c : colours(line.size(), runs)) {
            got += c == 0 ? '.' : char('0' + c);
        }
        EXPECT_EQ(got, row.want);
        for (const StyleRun& run : runs) {
            EXPECT_TRUE(run.hasBackground);
            EXPECT_EQ(run.background, run.text + 1);
        }
    }
}

TEST(MatchColoring, MatchOnlyKeywordsNeverColourTheLine)
{
    std::vector<Keyword> keywords = {matchOnly(u"err", 1),
                                     Keyword(u"warn", 5, 6, false, false, true)};
    EXPECT_EQ(findKeyword(keywords, u"err here"), nullptr);
    EXPECT_EQ(findKeyword(keywords, u"err warn"), &keywords[1]);
}

TEST(MatchColoring, RandomLinesAndRangesAgainstTheModel)
{
    std::mt19937 random(7);
    auto pick = [&](unsigned n) { return unsigned(random() % n); };
    const char16_t alphabet[] = u"abAB .";
    for (int round = 0; round < 2000; ++round) {
        std::u16string line;
        for (unsigned k = pick(24); k > 0; --k) {
            line += alphabet[pick(6)];
        }
        std::vector<Keyword> keywords;
        for (unsigned k = 1 + pick(3); k > 0; --k) {
            std::u16string text;
            for (unsigned j = 1 + pick(3); j > 0; --j) {
                text += alphabet[pick(4)];
            }
            keywords.push_back(matchOnly(text.c_str(), ColorRef(keywords.size() + 1), pick(2) != 0,
                                         pick(3) == 0, pick(6) != 0));
        }
        const std::vector<ColorRef> want = model(keywords, line);
        // Any range gives the model's colours inside it and nothing outside.
        const std::size_t from = pick(unsigned(line.size()) + 1);
        const std::size_t to = from + pick(unsigned(line.size() - from) + 2);
        StyleRuns runs;
        matchRuns(keywords, line, from, to, runs);
        const std::vector<ColorRef> got = colours(line.size(), runs);
        for (std::size_t k = 0; k < line.size(); ++k) {
            const ColorRef expected = k >= from && k < to ? want[k] : 0;
            ASSERT_EQ(got[k], expected) << "character " << k << " range " << from << ".." << to;
        }
    }
}

TEST(StyleRuns, OverlayAgainstACharacterModel)
{
    std::mt19937 random(11);
    auto pick = [&](unsigned n) { return unsigned(random() % n); };
    auto randomRuns = [&](ColorRef base) {
        StyleRuns runs;
        std::size_t at = pick(3);
        while (at < 30) {
            StyleRun run;
            run.start = at;
            run.end = at + 1 + pick(5);
            run.hasText = true;
            run.text = base + ColorRef(runs.size());
            runs.push_back(run);
            at = run.end + pick(4);
        }
        return runs;
    };
    for (int round = 0; round < 2000; ++round) {
        const StyleRuns base = randomRuns(100);
        const StyleRuns top = randomRuns(200);
        std::vector<ColorRef> want = colours(40, base);
        const std::vector<ColorRef> over = colours(40, top);
        for (std::size_t k = 0; k < want.size(); ++k) {
            if (over[k] != 0) {
                want[k] = over[k];
            }
        }
        const StyleRuns got = overlayRuns(base, top);
        ASSERT_EQ(colours(40, got), want) << "round " << round;
    }
}
