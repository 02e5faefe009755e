// The JSON reader and printer: hand-written documents and faults with their offsets, the
// depth and size bounds at and past their limits, surrogates escaped and raw, and a random
// walk: trees built by a model, written with random spacing and escapes, must read back as
// the model's nodes, every proper prefix must stop at its end, and printing must read back
// as the same document.

#include "engine/JsonText.h"
#include "engine/LineText.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::u16string pretty(std::u16string_view text)
{
    const JsonRead read = readJsonObject(text);
    EXPECT_TRUE(read.ok()) << int(read.error.fault) << " at " << read.error.offset;
    std::vector<PrintedLine> lines;
    printJson(read.document, JsonStyle::Json, lines);
    return joinPrintedLines(lines, 2);
}

std::string narrow(const std::u16string& text)
{
    std::string out;
    for (const char16_t c : text) {
        out += c < 0x80 ? char(c) : '?';
    }
    return out;
}

TEST(JsonTextTest, PrintsMembersOneALineIndentedByDepth)
{
    EXPECT_EQ(narrow(pretty(u"{\"a\":1,\"b\":[true,false,null],\"c\":{},\"d\":[],"
                            u"\"e\":{\"f\":\"x\\\"y\\\\\"},\"g\":[[1],[]]}")),
              "{\n"
              "  \"a\": 1,\n"
              "  \"b\": [\n"
              "    true,\n"
              "    false,\n"
              "    null\n"
              "  ],\n"
              "  \"c\": {},\n"
              "  \"d\": [],\n"
              "  \"e\": {\n"
              "    \"f\": \"x\\\"y\\\\\"\n"
              "  },\n"
              "  \"g\": [\n"
              "    [\n"
              "      1\n"
              "    ],\n"
              "    []\n"
              "  ]\n"
              "}\n");
    EXPECT_EQ(narrow(pretty(u" {} ")), "{}\n");
    EXPECT_EQ(narrow(pretty(u"{\"s\":\"\\u0001\\t\\/\"}")), "{\n  \"s\": \"\\u0001\\t/\"\n}\n");
}

TEST(JsonTextTest, NumbersOfAnySizeKeepTheirText)
{
    const std::u16string big = u"-123456789012345678901234567890.000000000000000000001e-999999";
    const JsonRead read = readJsonObject(u"{\"n\":" + big + u"}");
    ASSERT_TRUE(read.ok());
    ASSERT_EQ(read.document.nodes.size(), 2u);
    EXPECT_EQ(read.document.nodes[1].text, big);
    EXPECT_EQ(readJsonObject(u"{\"n\":0}").document.nodes[1].text, u"0");
    EXPECT_EQ(readJsonObject(u"{\"n\":-0.5E+3}").document.nodes[1].text, u"-0.5E+3");
}

struct Fault {
    const char16_t* text;
    JsonFault fault;
    std::size_t offset;
};

TEST(JsonTextTest, FaultsSayWhereReadingStopped)
{
    const Fault faults[] = {
        {u"{\"a\":1,}", JsonFault::ExpectedKey, 7},
        {u"{\"a\" 1}", JsonFault::ExpectedColon, 5},
        {u"{\"a\":1 \"b\":2}", JsonFault::ExpectedCommaOrEnd, 7},
        {u"{\"a\":[1 2]}", JsonFault::ExpectedCommaOrEnd, 8},
        {u"{\"a\":[1,]}", JsonFault::ExpectedValue, 8},
        {u"{\"a\":[1}", JsonFault::ExpectedCommaOrEnd, 7},
        {u"{'a':1}", JsonFault::ExpectedKey, 1},
        {u"{a:1}", JsonFault::ExpectedKey, 1},
        {u"{\"a\":01}", JsonFault::ExpectedCommaOrEnd, 6},
        {u"{\"a\":-}", JsonFault::BadNumber, 6},
        {u"{\"a\":1.}", JsonFault::BadNumber, 7},
        {u"{\"a\":1e+}", JsonFault::BadNumber, 8},
        {u"{\"a\":.5}", JsonFault::ExpectedValue, 5},
        {u"{\"a\":tru}", JsonFault::ExpectedValue, 8},
        {u"{\"a\":nul", JsonFault::UnexpectedEnd, 8},
        {u"{\"a\":NaN}", JsonFault::ExpectedValue, 5},
        {u"{\"a\":\"x\\q\"}", JsonFault::BadEscape, 7},
        {u"{\"a\":\"\\u12G4\"}", JsonFault::BadEscape, 6},
        {u"{\"a\":\"\\u12", JsonFault::UnexpectedEnd, 10},
        {u"{\"a\":\"x\ty\"}", JsonFault::ControlCharacter, 7},
        {u"{\"a\":\"\x1f\"}", JsonFault::ControlCharacter, 6},
        {u"{\"a\":\"x", JsonFault::UnexpectedEnd, 7},
        {u"{\"a\":", JsonFault::UnexpectedEnd, 5},
        {u"{", JsonFault::UnexpectedEnd, 1},
        {u"[1]", JsonFault::ExpectedValue, 0},
        {u"", JsonFault::UnexpectedEnd, 0},
        {u"{\"a\":1}}", JsonFault::None, 0}, // what follows the object is the caller's
    };
    for (const Fault& f : faults) {
        const JsonRead read = readJsonObject(f.text);
        EXPECT_EQ(read.error, (JsonError{f.fault, f.fault == JsonFault::None ? 0 : f.offset}))
            << narrow(f.text) << ": fault " << int(read.error.fault) << " at " << read.error.offset;
    }
    // A start inside the text: offsets stay the text's.
    const JsonRead inside = readJsonObject(u"INFO x {\"a\":}", 7);
    EXPECT_EQ(inside.error, (JsonError{JsonFault::ExpectedValue, 12}));
}

std::u16string nested(std::uint32_t depth)
{
    std::u16string text = u"{\"k\":";
    for (std::uint32_t i = 1; i < depth; ++i) {
        text += i % 2 == 0 ? u"{\"k\":" : u"[";
    }
    text += u"0";
    for (std::uint32_t i = depth - 1; i >= 1; --i) {
        text += i % 2 == 0 ? u"}" : u"]";
    }
    return text + u"}";
}

TEST(JsonTextTest, NestingReadsToItsLimitAndStopsAtTheNextBracket)
{
    const JsonRead atLimit = readJsonObject(nested(JsonMaxDepth));
    ASSERT_TRUE(atLimit.ok()) << int(atLimit.error.fault) << " at " << atLimit.error.offset;
    EXPECT_EQ(atLimit.document.nodes.back().depth, JsonMaxDepth);
    std::vector<PrintedLine> lines;
    printJson(atLimit.document, JsonStyle::Json, lines);
    EXPECT_EQ(readJsonObject(joinPrintedLines(lines, 1)).document, atLimit.document);

    const std::u16string past = nested(JsonMaxDepth + 1);
    const JsonRead tooDeep = readJsonObject(past);
    // The bracket that opens the 65th container: 5 units of {"k": then alternating.
    std::size_t offset = 5;
    for (std::uint32_t i = 1; i < JsonMaxDepth; ++i) {
        offset += i % 2 == 0 ? 5 : 1;
    }
    EXPECT_EQ(tooDeep.error, (JsonError{JsonFault::TooDeep, offset}));
    EXPECT_EQ(past[offset], JsonMaxDepth % 2 == 0 ? u'{' : u'[');
    // A hostile line of nothing but brackets costs no more than its length.
    const std::u16string brackets(std::size_t{1} << 20, u'[');
    EXPECT_EQ(readJsonObject(u"{\"a\":" + brackets).error.fault, JsonFault::TooDeep);
}

TEST(JsonTextTest, ObjectsReadUpToTheirSizeLimit)
{
    const std::u16string filler = u"{\"a\":\"";
    const std::size_t fits = JsonMaxChars - filler.size() - 2;
    const std::u16string exact = filler + std::u16string(fits, u'x') + u"\"}";
    ASSERT_EQ(exact.size(), JsonMaxChars);
    const JsonRead read = readJsonObject(u"pre " + exact + u" post", 4);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.end, 4 + JsonMaxChars);

    const std::u16string over = filler + std::u16string(fits + 1, u'x') + u"\"}";
    EXPECT_EQ(readJsonObject(u"pre " + over, 4).error,
              (JsonError{JsonFault::TooLong, 4 + JsonMaxChars}));
    // The same object ending with the line is cut short, not too long, also when the line
    // ends exactly at the limit.
    std::u16string open = exact;
    open.back() = u' ';
    EXPECT_EQ(readJsonObject(open).error, (JsonError{JsonFault::UnexpectedEnd, JsonMaxChars}));
    EXPECT_EQ(readJsonObject(exact.substr(0, exact.size() - 1)).error,
              (JsonError{JsonFault::UnexpectedEnd, JsonMaxChars - 1}));
}

TEST(JsonTextTest, SurrogatesPairUpOrBecomeReplacementCharacters)
{
    struct Case {
        std::u16string text; // a string's content as written
        std::u16string decoded;
    };
    const std::u16string smile = u"\U0001F600";
    const Case cases[] = {
        {u"\\ud83d\\ude00", smile},
        {u"\\uD83D\\uDE00", smile},
        {smile, smile},
        {u"\\ud83d", u"\uFFFD"},
        {u"\\ude00", u"\uFFFD"},
        {u"\\ude00\\ud83d", u"\uFFFD\uFFFD"},
        {u"\\ud83dx", u"\uFFFDx"},
        {u"\\ud83d\\u0041", u"\uFFFDA"},
        {u"\\ud83d\\ud83d\\ude00", u"\uFFFD" + smile},
        {std::u16string(1, char16_t(0xD83D)) + u"x", u"\uFFFDx"},
        {std::u16string(1, char16_t(0xDE00)), u"\uFFFD"},
        {u"\\u00e9\\u4E2D", u"\u00e9\u4e2d"},
    };
    for (const Case& c : cases) {
        const JsonRead read = readJsonObject(u"{\"s\":\"" + c.text + u"\"}");
        ASSERT_TRUE(read.ok()) << narrow(c.text);
        EXPECT_EQ(read.document.nodes[1].text, c.decoded) << narrow(c.text);
        std::vector<PrintedLine> lines;
        printJson(read.document, JsonStyle::Json, lines);
        EXPECT_EQ(readJsonObject(joinPrintedLines(lines, 2)).document, read.document);
    }
    // A key is a string like any other.
    EXPECT_EQ(readJsonObject(u"{\"\\ud83d\":1}").document.nodes[1].key, u"\uFFFD");
}

TEST(JsonTextTest, InvalidUtf8InAStringReadsAsReplacementCharacters)
{
    const std::string bytes = "{\"m\":\"a\xff\xc3(b\xed\xa0\x80\"}";
    std::u16string text;
    decodeLineBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                    quill::TextEncoding::Utf8, text);
    const JsonRead read = readJsonObject(text);
    ASSERT_TRUE(read.ok());
    const std::u16string& m = read.document.nodes[1].text;
    EXPECT_EQ(m.front(), u'a');
    EXPECT_EQ(m.substr(m.size() - 1), u"\uFFFD");
    EXPECT_NE(m.find(u"\uFFFD(b"), std::u16string::npos);
}

TEST(JsonTextTest, DisplayShowsQuotesAsTheyAreAndBreaksLinesAtLineFeeds)
{
    const JsonRead read =
        readJsonObject(u"{\"msg\":\"say \\\"hi\\\"\\nat x\\\\y\",\"n\":{\"t\":\"\\t\"}}");
    ASSERT_TRUE(read.ok());
    std::vector<PrintedLine> lines;
    printJson(read.document, JsonStyle::Display, lines);
    const std::vector<PrintedLine> expected{
        {0, u"{"},        {1, u"\"msg\": \"say \"hi\""}, {2, u"at x\\y\","},
        {1, u"\"n\": {"}, {2, u"\"t\": \"\\t\""},        {1, u"}"},
        {0, u"}"},
    };
    EXPECT_EQ(lines, expected);
}

// The random walk's model: a tree, the text it writes, and the nodes it expects.
class Model {
  public:
    explicit Model(std::uint32_t seed) : m_random(seed) {}

    // Writes a random object; `expected` gets its nodes in document order.
    std::u16string object(JsonDocument& expected)
    {
        std::u16string text;
        writeValue(text, expected, 0, true, nullptr);
        return text;
    }

  private:
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    void space(std::u16string& text)
    {
        static constexpr char16_t Blanks[] = u" \t\r\n";
        while (below(4) == 0) {
            text += Blanks[below(4)];
        }
    }

    // A random string: its written form goes to text, its decoded form is returned.
    std::u16string writeString(std::u16string& text)
    {
        static constexpr char16_t Hex[] = u"0123456789ABCDEF";
        const auto escaped = [&](char16_t unit) {
            text += u"\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                text += Hex[(unit >> shift) & 15];
            }
        };
        std::u16string decoded;
        text += u'"';
        for (int n = below(6); n > 0; --n) {
            switch (below(8)) {
            case 0: { // a character outside the basic plane, raw or escaped
                const char32_t c = 0x10000 + char32_t(below(0x100000));
                const char16_t high = char16_t(0xD800 + ((c - 0x10000) >> 10));
                const char16_t low = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
                if (below(2) == 0) {
                    escaped(high);
                    escaped(low);
                } else {
                    text += high;
                    text += low;
                }
                decoded += high;
                decoded += low;
                break;
            }
            case 1: { // a character that must be escaped
                const char16_t c = char16_t(below(0x20));
                escaped(c);
                decoded += c;
                break;
            }
            case 2: {
                static constexpr char16_t Short[] = u"\"\\/bfnrt";
                static constexpr char16_t Means[] = u"\"\\/\b\f\n\r\t";
                const int i = below(8);
                text += u'\\';
                text += Short[i];
                decoded += Means[i];
                break;
            }
            case 3: { // any other character of the basic plane, escaped
                char16_t c = char16_t(0x20 + below(0xD800 - 0x20));
                escaped(c);
                decoded += c;
                break;
            }
            default: {
                const char16_t c =
                    char16_t(below(2) == 0 ? 0x20 + below(0x5F) : 0xE000 + below(0x1000));
                if (c == u'"' || c == u'\\') {
                    break;
                }
                text += c;
                decoded += c;
                break;
            }
            }
        }
        text += u'"';
        return decoded;
    }

    std::u16string number()
    {
        std::u16string n = below(2) == 0 ? u"-" : u"";
        if (below(3) == 0) {
            n += u'0'; // a zero stands alone
        } else {
            n += char16_t(u'1' + below(9));
            for (int i = below(25); i > 0; --i) {
                n += char16_t(u'0' + below(10));
            }
        }
        if (below(2) == 0) {
            n += u'.';
            n += char16_t(u'0' + below(10));
        }
        if (below(2) == 0) {
            n += below(2) == 0 ? u"e" : u"E";
            n += std::u16string(below(2) == 0 ? u"" : u"-");
            n += char16_t(u'0' + below(10));
        }
        return n;
    }

    void writeValue(std::u16string& text, JsonDocument& expected, std::uint32_t depth, bool object,
                    const std::u16string* key)
    {
        JsonNode node;
        node.depth = depth;
        node.hasKey = key != nullptr;
        if (key != nullptr) {
            node.key = *key;
        }
        const int kind = object ? 0 : depth + 1 >= JsonMaxDepth ? 2 + below(5) : below(7);
        space(text);
        if (kind <= 1) {
            node.kind = kind == 0 ? JsonKind::Object : JsonKind::Array;
            expected.nodes.push_back(node);
            text += kind == 0 ? u'{' : u'[';
            const int members = depth < 6 ? below(5) : 0;
            for (int i = 0; i < members; ++i) {
                if (i > 0) {
                    text += u',';
                }
                if (kind == 0) {
                    space(text);
                    const std::u16string name = writeString(text);
                    space(text);
                    text += u':';
                    writeValue(text, expected, depth + 1, false, &name);
                } else {
                    writeValue(text, expected, depth + 1, false, nullptr);
                }
            }
            space(text);
            text += kind == 0 ? u'}' : u']';
            return;
        }
        switch (kind) {
        case 2:
            node.kind = JsonKind::String;
            node.text = writeString(text);
            break;
        case 3:
            node.kind = JsonKind::Number;
            node.text = number();
            text += node.text;
            break;
        case 4:
            node.kind = JsonKind::True;
            text += u"true";
            break;
        case 5:
            node.kind = JsonKind::False;
            text += u"false";
            break;
        default:
            node.kind = JsonKind::Null;
            text += u"null";
            break;
        }
        expected.nodes.push_back(node);
        space(text);
    }

    std::mt19937 m_random;
};

TEST(JsonTextTest, RandomObjectsReadAsWrittenAndPrintBackToThemselves)
{
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        Model model(seed);
        JsonDocument expected;
        const std::u16string text = model.object(expected);
        const JsonRead read = readJsonObject(text + u" tail");
        ASSERT_TRUE(read.ok()) << "seed " << seed << ": " << int(read.error.fault) << " at "
                               << read.error.offset << " in " << narrow(text);
        ASSERT_EQ(read.end, text.size()) << "seed " << seed;
        ASSERT_EQ(read.document, expected) << "seed " << seed << ": " << narrow(text);

        for (const JsonStyle style : {JsonStyle::Json, JsonStyle::Display}) {
            std::vector<PrintedLine> lines;
            printJson(read.document, style, lines);
            if (style == JsonStyle::Json) {
                EXPECT_EQ(readJsonObject(joinPrintedLines(lines, 2)).document, expected)
                    << "seed " << seed;
            }
        }
        // Every proper prefix stops at its own end.
        for (std::size_t cut = 0; cut < text.size(); cut += 1 + text.size() / 40) {
            const std::u16string prefix = text.substr(0, cut);
            const std::size_t last = prefix.find_last_not_of(u" \t\r\n");
            if (last == std::u16string::npos) {
                continue;
            }
            EXPECT_EQ(readJsonObject(prefix, prefix.find(u'{')).error,
                      (JsonError{JsonFault::UnexpectedEnd, cut}))
                << "seed " << seed << " cut " << cut << ": " << narrow(prefix);
        }
    }
}

} // namespace
