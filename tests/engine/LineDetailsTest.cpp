// What Line Details finds in a line: objects after a time and level, several objects, the
// members of a broken object never shown as objects of their own, the first failure meant as
// JSON, key=value pairs with quotes, escapes and empty values (and a random walk of pairs and
// other words against a model), and the excerpt around where reading stopped.

#include "engine/LineDetails.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Kind = LineDetails::Kind;

std::string narrow(std::u16string_view text)
{
    std::string out;
    for (const char16_t c : text) {
        out += c < 0x80 ? char(c) : '?';
    }
    return out;
}

struct Found {
    const char16_t* line;
    Kind kind;
    std::size_t objects;
    JsonError error;
};

TEST(LineDetailsTest, ObjectsAreFoundAnywhereAndBrokenOnesStopOnce)
{
    const Found rows[] = {
        {u"2026-12-10 10:00:00.123 INFO [main] {\"user\":\"bob\",\"id\":7}", Kind::Json, 1, {}},
        {u"{\"a\":1} {\"b\":2}", Kind::Json, 2, {}},
        {u"{\"a\":1}{\"b\":{\"c\":[]}}", Kind::Json, 2, {}},
        {u"{\"a\":1}}} ]] trailing words", Kind::Json, 1, {}},
        {u"WARN {not json} then {\"a\":1}", Kind::Json, 1, {}},
        {u"[main] {worker-1} started", Kind::Nothing, 0, {}},
        {u"{}", Kind::Json, 1, {}},
        {u"INFO {\"user\": \"bob\", \"id\": 12,}",
         Kind::AlmostJson,
         0,
         {JsonFault::ExpectedKey, 30}},
        // The inner object is a member of the broken one, not an object of the line.
        {u"{\"a\": {\"b\": 1}, oops}", Kind::AlmostJson, 0, {JsonFault::ExpectedKey, 16}},
        {u"x {  \"a\" 1} {\"b\": 2}", Kind::Json, 1, {JsonFault::ExpectedColon, 9}},
        {u"{\"a\":1} {\"b\"", Kind::Json, 1, {JsonFault::UnexpectedEnd, 12}},
        // Of two failures the first is shown.
        {u"{\"a\" 1} {\"b\":}", Kind::AlmostJson, 0, {JsonFault::ExpectedColon, 5}},
        // A brace before the first failure meant as JSON does not count as one.
        {u"{x} {\"a\":}", Kind::AlmostJson, 0, {JsonFault::ExpectedValue, 9}},
        {u"", Kind::Nothing, 0, {}},
    };
    for (const Found& row : rows) {
        const LineDetails details = analyzeLine(row.line);
        EXPECT_EQ(details.kind, row.kind) << narrow(row.line);
        EXPECT_EQ(details.objects.size(), row.objects) << narrow(row.line);
        EXPECT_EQ(details.error, row.error) << narrow(row.line) << ": " << int(details.error.fault)
                                            << " at " << details.error.offset;
    }
    const LineDetails two = analyzeLine(u"{\"a\":1} {\"b\":2}");
    ASSERT_EQ(two.objects.size(), 2u);
    EXPECT_EQ(two.objects[1].nodes[1].key, u"b");

    std::u16string many;
    for (int i = 0; i < 100; ++i) {
        many += u"{}";
    }
    EXPECT_EQ(analyzeLine(many).objects.size(), LineDetails::MaxObjects);
}

TEST(LineDetailsTest, PairsTakeQuotesEscapesAndEmptyValues)
{
    const std::u16string line =
        u"ts=2026-12-10T10:00:00Z level=info msg=\"said \\\"hi\\\"\\n\\tthen \\\\ left\" "
        u"empty= blank=\"\" path=/a?b=c x = 5 =5 1a=2 a.b-c_d=ü tail=\"x\"y ok=1 "
        u"odd=\"a\\qb\"";
    const std::vector<KeyValue> pairs = splitKeyValues(line);
    const std::vector<std::pair<std::u16string, std::u16string>> expected{
        {u"ts", u"2026-12-10T10:00:00Z"},
        {u"level", u"info"},
        {u"msg", u"said \"hi\"\n\tthen \\ left"},
        {u"empty", u""},
        {u"blank", u""},
        {u"path", u"/a?b=c"},
        {u"a.b-c_d", u"ü"},
        {u"ok", u"1"},
        {u"odd", u"a\\qb"},
    };
    ASSERT_EQ(pairs.size(), expected.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ(pairs[i].key, expected[i].first) << i;
        EXPECT_EQ(pairs[i].value, expected[i].second) << i << ": " << narrow(pairs[i].value);
        EXPECT_EQ(line.substr(pairs[i].offset, pairs[i].key.size() + 1), pairs[i].key + u"=");
    }
    // An unterminated quote holds the rest of the line.
    const std::vector<KeyValue> cut = splitKeyValues(u"a=1 b=\"open c=3 d=4");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].key, u"a");
    // A key inside a word is not a key.
    EXPECT_TRUE(splitKeyValues(u"GET /index?page=2 HTTP/1.1").empty());
    EXPECT_EQ(analyzeLine(u"INFO done status=200 dur=1.5ms").kind, Kind::KeyValues);
    // An object wins over pairs; a failure meant as JSON too.
    EXPECT_EQ(analyzeLine(u"a=1 {\"b\":2}").kind, Kind::Json);
    EXPECT_EQ(analyzeLine(u"a=1 {\"b\":}").kind, Kind::AlmostJson);
}

TEST(LineDetailsTest, RandomPairsAmongOtherWordsAreFoundAsWritten)
{
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        const auto below = [&](int n) {
            return std::uniform_int_distribution<int>(0, n - 1)(random);
        };
        std::u16string line;
        std::vector<KeyValue> expected;
        const auto blanks = [&] {
            for (int n = 1 + below(3); n > 0; --n) {
                line += below(4) == 0 ? u'\t' : u' ';
            }
        };
        if (below(2) == 0) {
            line += u"2026-12-10 10:00:00,001 INFO";
        }
        for (int w = below(8); w > 0; --w) {
            if (!line.empty()) {
                blanks();
            }
            if (below(3) == 0) { // a word that is no pair: no '=', or one after a non-key
                static constexpr const char16_t* Words[] = {u"done", u"[main]",  u"/a?b=c", u"9x=1",
                                                            u"=",    u"\"q=1\"", u"-v=2"};
                line += Words[below(7)];
                continue;
            }
            KeyValue pair;
            static constexpr char16_t First[] = u"abcXYZ_";
            static constexpr char16_t Rest[] = u"az09_.-";
            pair.key += First[below(7)];
            for (int n = below(5); n > 0; --n) {
                pair.key += Rest[below(7)];
            }
            pair.offset = line.size();
            line += pair.key + u"=";
            if (below(2) == 0) {
                line += u'"';
                for (int n = below(6); n > 0; --n) {
                    switch (below(6)) {
                    case 0:
                        line += u"\\\"";
                        pair.value += u'"';
                        break;
                    case 1:
                        line += u"\\n";
                        pair.value += u'\n';
                        break;
                    case 2:
                        line += u"\\\\";
                        pair.value += u'\\';
                        break;
                    case 3:
                        line += u" = ";
                        pair.value += u" = ";
                        break;
                    default:
                        line += u"é";
                        pair.value += u"é";
                        break;
                    }
                }
                line += u'"';
            } else {
                for (int n = below(4); n > 0; --n) {
                    const char16_t c = u"x=/:1"[below(5)];
                    line += c;
                    pair.value += c;
                }
            }
            expected.push_back(pair);
        }
        EXPECT_EQ(splitKeyValues(line), expected) << "seed " << seed << ": " << narrow(line);
    }
}

TEST(LineDetailsTest, DetailLinesIndentObjectsAndBreakValuesAtLineFeeds)
{
    const LineDetails json = analyzeLine(u"INFO {\"a\":{\"b\":\"x\\ny\"}} {\"c\":[]}");
    const std::vector<PrintedLine> expected{
        {0, u"{"}, {1, u"\"a\": {"}, {2, u"\"b\": \"x"}, {3, u"y\""},       {1, u"}"},
        {0, u"}"}, {0, u""},         {0, u"{"},          {1, u"\"c\": []"}, {0, u"}"},
    };
    EXPECT_EQ(detailLines(json), expected);

    const LineDetails pairs = analyzeLine(u"a=1 msg=\"two\\nlines\" e=");
    const std::vector<PrintedLine> shown{
        {0, u"a: 1"}, {0, u"msg: two"}, {1, u"lines"}, {0, u"e: "}};
    EXPECT_EQ(detailLines(pairs), shown);
    EXPECT_TRUE(detailLines(analyzeLine(u"{\"a\" 1}")).empty());
}

TEST(LineDetailsTest, ExcerptKeepsTheCaretUnderTheOffset)
{
    const std::u16string line = u"0123456789abcdefghij";
    Excerpt e = excerptAt(line, 10, 4);
    EXPECT_EQ(e.text, u"6789abcd");
    EXPECT_EQ(e.caret, 4u);
    EXPECT_TRUE(e.cutBefore);
    EXPECT_TRUE(e.cutAfter);
    e = excerptAt(line, 2, 4);
    EXPECT_EQ(e.text, u"012345");
    EXPECT_EQ(e.caret, 2u);
    EXPECT_FALSE(e.cutBefore);
    e = excerptAt(line, line.size(), 4);
    EXPECT_EQ(e.text, u"ghij");
    EXPECT_EQ(e.caret, 4u);
    EXPECT_FALSE(e.cutAfter);
    e = excerptAt(line, 500, 4);
    EXPECT_EQ(e.caret, 4u);

    e = excerptAt(u"a\tb\x01"
                  u"c",
                  4, 10);
    EXPECT_EQ(e.text, u"a b c");
    // A character of two code units takes one column; no edge splits one.
    const std::u16string wide = u"\U0001F600\U0001F600x\U0001F600";
    e = excerptAt(wide, 4, 10);
    EXPECT_EQ(e.caret, 4u);
    EXPECT_EQ(e.caretColumn, 2u);
    e = excerptAt(wide, 4, 2);
    EXPECT_EQ(e.text, u"\U0001F600x");
    EXPECT_EQ(e.caretColumn, 1u);
    e = excerptAt(wide, 4, 3);
    EXPECT_EQ(e.text, u"\U0001F600x\U0001F600");
    EXPECT_EQ(e.caretColumn, 1u);
    e = excerptAt(wide, 0, 6);
    EXPECT_EQ(e.text, u"\U0001F600\U0001F600x");
}

} // namespace
