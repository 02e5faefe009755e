// The text an expression requires: what the reading gives for the forms it knows, and,
// against PCRE2 itself (the filter's own matcher on plain lines), that every line a random
// expression matches holds it.

#include "engine/RegexLiteral.h"
#include "engine/FilterPattern.h"
#include "support/PlacesModel.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::u16string u16(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

} // namespace

TEST(RegexLiteral, TheWeightiestRunOutsideGroupsAndRepeats)
{
    struct Case {
        const char* pattern;
        bool caseless;
        const char* required;
    };
    const Case cases[] = {
        {R"(ERROR \[t0[34]\].*timeout)", false, "ERROR [t0[34]]"},
        {"v[1-3]x[-a][b-]", false, "v[123]x[-a][b-]"}, // ranges; a '-' at an end is itself
        {R"(a[\]\-.]bc)", false, "a[]-.]bc"},          // escaped members
        {"id=[0-9]{3}", false, "id="},                 // a class with a repeat is not required
        {"[a-z]xy", false, "xy"},                      // nor one of too many bytes
        {"[a-c-e]xy", false, "xy"},                    // nor one read otherwise
        {R"([\d.]xy)", false, "xy"},
        {"[ab]c", false, "[ab]c"},
        {"[0-9a-f]x[a-q]", false, "[0123456789abcdef]x"}, // sixteen bytes at most
        {"[ab][cd][ef].yz", false, "yz"},                 // a class narrows less than a plain byte
        {"ab[xk]cd", true, "ab"},                         // caseless: k ends a run in a class too
        {"AB[XY]cd", true, "ab[xy]cd"},
        {R"(status=5\d\d)", false, "status=5"},
        {"colou?r", false, "colo"},         // the character before ? is not required
        {"ab*cd", false, "cd"},             // nor before *
        {"ab+cd", false, "ab"},             // + keeps it; the run ends there
        {"xa{2,3}bc", false, "bc"},         // nor before a counted repeat
        {"xa{2}bcdefg}", false, "bcdefg}"}, // the repeat's text is not a run
        {"ab{*(?:x)", false, ""},           // a brace as itself: what follows is read
        {"(foo|bar)bazz", false, "bazz"},   // a group is skipped
        {"(quux)?ab", false, "ab"},
        {"[]ab]xyz[^]]", false, "[]ab]xyz"}, // ']' first in a class is a member
        {R"(a\.bcd\bword)", false, "a.bcd"}, // ties: the first
        {"foo|bar", false, ""},              // alternatives at the top: nothing is required
        {"(?i)abc", false, ""},              // options are not read
        {R"(\x41BCD)", false, ""},           // nor letter escapes that take more after them
        {"[[:alpha:]]abc", false, ""},
        {"abc(", false, ""},
        {"ERROR Disk full", false, "ERROR Disk full"},
        {"ERROR Disk full", true, "error di"}, // caseless: k and s match beyond ASCII
        {"caf\xC3\xA9s", false, "caf"},
    };
    for (const Case& c : cases) {
        std::u16string pattern;
        const std::string text = c.pattern;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            if (b == 0xC3) {
                pattern += char16_t(0xC0 | (static_cast<unsigned char>(text[++i]) & 0x3F));
            } else {
                pattern += char16_t(b);
            }
        }
        EXPECT_EQ(quilltest::writtenPlaces(requiredLiteral(pattern, c.caseless)), c.required)
            << c.pattern;
    }
}

// Random expressions over a few characters, every construct the reading knows and some
// it does not, against random lines: each line PCRE2 matches holds the required text
// (folded when case is ignored), the Kelvin sign and the long s among the lines' characters.
TEST(RegexLiteral, EveryMatchHoldsTheRequiredText)
{
    std::mt19937 random(2516);
    auto pick = [&](std::size_t n) { return std::size_t(random() % n); };
    static const char* const atoms[] = {"a",     "b",    "k",    "s",      "K",      "S",     ".",
                                        "\\.",   "\\d",  "[ab]", "[^a]",   "(ab|b)", "(?:a)", "\\b",
                                        "^",     "$",    "x",    "\\[",    "{",      "}",     "]",
                                        "[a-c]", "[ks]", "[.x]", "[\\]a]", "[]b]",   "[a-]"};
    static const char* const repeats[] = {"",  "",    "",      "",     "*",  "+",
                                          "?", "{2}", "{0,1}", "{1,}", "*?", "++"};
    static const char16_t* const pieces[] = {u"a", u"b", u"c", u"-", u"k",      u"s",     u"x",
                                             u"A", u"B", u"K", u"S", u".",      u"[",     u"{",
                                             u"}", u"]", u"1", u" ", u"\u212A", u"\u017F"};
    std::size_t required = 0;
    for (int round = 0; round < quilltest::rounds(3000); ++round) {
        std::string text;
        const std::size_t atomCount = 1 + pick(7);
        for (std::size_t k = 0; k < atomCount; ++k) {
            text += atoms[pick(std::size(atoms))];
            text += repeats[pick(std::size(repeats))];
            if (pick(12) == 0) {
                text += "|";
            }
        }
        const bool matchCase = pick(2) == 0;
        const FilterTerm term{u16(text), matchCase, false, true};
        std::u16string message;
        std::size_t offset = 0;
        const std::unique_ptr<FilterPattern> compiled =
            FilterPattern::compile(term, message, offset);
        if (!compiled) {
            continue; // "{" and the like where PCRE2 takes no repeat
        }
        const RequiredText literal = requiredLiteral(term.text, !matchCase);
        required += literal.empty() ? 0 : 1;
        SCOPED_TRACE(text + (matchCase ? "" : " (caseless)") + " requires " +
                     quilltest::writtenPlaces(literal));

        std::vector<std::u16string> lines;
        std::string bytes;
        std::vector<FileOffset> starts{0};
        for (int i = 0; i < 60; ++i) {
            std::u16string line;
            const std::size_t length = pick(12);
            for (std::size_t c = 0; c < length; ++c) {
                line += pieces[pick(std::size(pieces))];
            }
            lines.push_back(line);
            for (char16_t c : line) {
                if (c < 0x80) {
                    bytes += char(c);
                } else { // U+212A and U+017F
                    bytes += c == 0x212A ? "\xE2\x84\xAA" : "\xC5\xBF";
                }
            }
            bytes += '\n';
            starts.push_back(FileOffset(bytes.size()));
        }
        const LineChunk chunk{reinterpret_cast<const std::uint8_t*>(bytes.data()),
                              starts.data(),
                              lines.size(),
                              FilterTextForm::Utf8,
                              false,
                              quill::TextEncoding::Utf8};
        FilterScratch scratch;
        std::vector<std::uint32_t> rows;
        std::vector<std::uint32_t> undecided;
        ASSERT_TRUE(compiled->matchLines(chunk, scratch, rows, undecided));
        for (const std::uint32_t row : rows) {
            std::string shown;
            for (char16_t c : lines[row]) {
                shown += c < 0x80 ? char(matchCase || c < u'A' || c > u'Z' ? c : c + 32) : '?';
            }
            EXPECT_TRUE(quilltest::holdsPlaces(shown, literal)) << "line " << row;
        }
    }
    // Many expressions require something: the test is not passed by giving nothing.
    EXPECT_GT(required * 6, std::size_t(quilltest::rounds(3000)));
}
