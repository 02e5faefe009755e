// Lines as a terminal shows them, under hostile input: random lines of escape sequences,
// complete, cut off and broken, carriage returns anywhere (first, last, before the line
// feed), against a model of a few lines of its own: the ECMA-48 rule for what a sequence
// is, and a cursor that a carriage return puts back at the first column. The window, copy,
// Find and the filter must all give the model's text; with control characters shown, each
// carriage return inside a line is one column, its symbol, and a copy carries it as it is.

#include "EngineTestSupport.h"
#include "support/Utf8Model.h"

#include "engine/LineFilter.h"
#include "engine/ShownText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace quilltest;

namespace {

constexpr char16_t Esc = 0x1B;

bool within(char16_t c, char16_t low, char16_t high)
{
    return c >= low && c <= high;
}

// Where the sequence that starts with the ESC at text[i] ends (one past it); i when it is
// no sequence.
std::size_t modelSequenceEnd(const std::u16string& text, std::size_t i)
{
    const std::size_t n = text.size();
    if (i + 1 >= n) {
        return i;
    }
    const char16_t kind = text[i + 1];
    std::size_t j = i + 2;
    if (kind == u'[') {
        for (; j < n && within(text[j], 0x30, 0x3F); ++j) {
        }
        for (; j < n && within(text[j], 0x20, 0x2F); ++j) {
        }
        return j < n && within(text[j], 0x40, 0x7E) ? j + 1 : i;
    }
    if (std::u16string_view(u"]PX^_px").find(kind) != std::u16string_view::npos) {
        for (; j < n && text[j] != u'\n'; ++j) {
            if (kind == u']' && text[j] == 0x07) {
                return j + 1;
            }
            if (text[j] == Esc) {
                return j + 1 < n && text[j + 1] == u'\\' ? j + 2 : i;
            }
        }
        return i;
    }
    if (within(kind, 0x20, 0x2F)) {
        for (j = i + 1; j < n && within(text[j], 0x20, 0x2F); ++j) {
        }
        return j < n && within(text[j], 0x30, 0x7E) ? j + 1 : i;
    }
    return within(kind, 0x30, 0x7E) ? i + 2 : i;
}

std::u16string modelStrip(const std::u16string& text)
{
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t end = text[i] == Esc ? modelSequenceEnd(text, i) : i;
        if (end > i) {
            i = end;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// A line (its text without terminator) as shown.
std::u16string modelShown(const std::u16string& text, bool terminal, bool controls, char16_t symbol)
{
    std::u16string shown = terminal ? modelStrip(text) : text;
    if (!controls) {
        return terminalWriting(shown);
    }
    for (char16_t& c : shown) {
        c = c == u'\r' && symbol != 0 ? symbol : c;
    }
    return shown;
}

// Pieces that make sequences, complete or not, by chance and on purpose.
const std::u16string Pieces[] = {u"a",
                                 u"b",
                                 u"x",
                                 u"m",
                                 u" ",
                                 u"\u00E9",
                                 u"[",
                                 u"]",
                                 u"(",
                                 u"P",
                                 u"_",
                                 u"\\",
                                 u"\x07",
                                 u";",
                                 u"1",
                                 u"\x1b",
                                 u"\x1b",
                                 u"\r",
                                 u"\r",
                                 u"\r",
                                 u"\x1b[31m",
                                 u"\x1b[0m",
                                 u"\x1b]0;t\x07",
                                 u"\x1b(B",
                                 u"\x1b"
                                 u"7",
                                 u"\x1b=",
                                 u"\x1bP1$r\x1b\\",
                                 u"\x1b]2;ab",
                                 u"\x1b[3",
                                 u"\x1b\x01",
                                 u"\x1b(\t",
                                 u"progress",
                                 u"\U0001D11E",
                                 u"\t"};

struct RandomFile {
    std::string bytes;
    std::vector<std::u16string> lines; // as written, without terminator
    std::vector<bool> crlf;            // ended by CR LF (the last: by a CR, its LF to come)
};

std::string utf8(const std::u16string& text)
{
    return utf8Of(text);
}

RandomFile randomFile(std::mt19937& random, int count)
{
    auto pick = [&](std::size_t n) { return std::size_t(random() % n); };
    RandomFile file;
    for (int l = 0; l < count; ++l) {
        std::u16string text;
        for (std::size_t k = pick(12); k > 0; --k) {
            text += Pieces[pick(std::size(Pieces))];
        }
        file.lines.push_back(text);
        file.crlf.push_back(pick(3) == 0);
        file.bytes += utf8(text) + (file.crlf.back() ? "\r\n" : "\n");
    }
    // The last line without a line feed now and then: a CR at its very end is still half
    // of a CR LF being written.
    if (pick(2) == 0 && (!file.lines.back().empty() || file.crlf.back())) {
        file.bytes.pop_back();
    }
    return file;
}

class ShownTextTest : public ::testing::Test {
  protected:
    void open(const std::string& bytes, bool terminal, bool controls)
    {
        settings.store.setBool(Setting::TerminalColors, terminal);
        settings.store.setBool(Setting::ShowControlCharacters, controls);
        path = settings.dir.file("shown.log");
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
    }

    std::vector<LineNumber> filterRows(LineFilter& filter, const FilterTerm& term)
    {
        return filteredRows(filter, term);
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
};

// The text matched literally by an expression; empty for one with half a surrogate pair.
std::u16string escapedExpression(const std::u16string& text)
{
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xE000) {
            if (c >= 0xDC00 || i + 1 >= text.size() || text[i + 1] < 0xDC00 ||
                text[i + 1] >= 0xE000) {
                return {};
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        char code[16];
        std::snprintf(code, sizeof code, "\\x{%x}", unsigned(c));
        out += std::u16string(code, code + std::strlen(code));
    }
    return out;
}

} // namespace

TEST_F(ShownTextTest, RandomLinesShowCopyFindAndFilterAsTheModelSays)
{
    for (std::uint32_t seed = 1; seed <= 24; ++seed) {
        std::mt19937 random(seed);
        const RandomFile file = randomFile(random, 60);
        const bool terminal = seed % 2 == 0;
        const bool controls = seed % 3 == 0;
        SCOPED_TRACE(::testing::Message()
                     << "seed " << seed << ", terminal " << terminal << ", controls " << controls);
        open(file.bytes, terminal, controls);
        ASSERT_EQ(doc.lineCount(), file.lines.size());
        std::vector<std::u16string> shown;
        std::u16string copied;
        for (std::size_t i = 0; i < file.lines.size(); ++i) {
            // A CR just before the line's end (its LF, or the end of the bytes) is its
            // terminator's; one before a CR LF is the text's.
            std::u16string text = file.lines[i];
            if (!file.crlf[i] && !text.empty() && text.back() == u'\r') {
                text.pop_back();
            }
            shown.push_back(modelShown(text, terminal, controls, LoneCrSymbol));
            copied += (i > 0 ? u"\n" : u"") + modelShown(text, terminal, controls, 0);
            ASSERT_EQ(doc.line(LineNumber(i)), shown.back()) << "line " << i;
        }
        doc.setSelection(0, LineNumber(file.lines.size() - 1), 0, -1);
        EXPECT_EQ(doc.selectedText(), copied);
        EXPECT_EQ(copied.find(LoneCrSymbol), std::u16string::npos);

        // Texts of two to four characters from the lines as shown, and a few that only a
        // line's bytes hold, found where the model finds them and nowhere else.
        std::vector<std::u16string> patterns = {u"[31m", u"(B", u"progress", u"\r"};
        for (int k = 0; k < 6; ++k) {
            const std::u16string& line = shown[random() % shown.size()];
            if (line.size() >= 2) {
                const std::size_t length = 2 + random() % std::min<std::size_t>(3, line.size() - 1);
                patterns.push_back(line.substr(random() % (line.size() - length + 1), length));
            }
        }
        LineFilter filter(doc, nullptr);
        for (const std::u16string& pattern : patterns) {
            SCOPED_TRACE(::testing::Message() << "pattern " << utf8(pattern));
            std::vector<std::pair<LineNumber, std::int32_t>> want;
            std::vector<LineNumber> wantLines;
            for (std::size_t i = 0; i < shown.size(); ++i) {
                for (std::size_t at = shown[i].find(pattern); at != std::u16string::npos;
                     at = shown[i].find(pattern, at + pattern.size())) {
                    want.emplace_back(LineNumber(i), std::int32_t(at));
                    if (wantLines.empty() || wantLines.back() != i) {
                        wantLines.push_back(LineNumber(i));
                    }
                }
            }
            std::vector<std::pair<LineNumber, std::int32_t>> got;
            doc.setFindPosition(0, 0);
            while (got.size() <= want.size() && doc.find(pattern, true, SearchMatchCase)) {
                const DocSelection found = doc.selection();
                got.emplace_back(found.startLine, found.startCol);
            }
            EXPECT_EQ(got, want) << "Find";
            EXPECT_EQ(filterRows(filter, FilterTerm{pattern, true, false, false}), wantLines)
                << "filter, literal";
            if (const std::u16string expression = escapedExpression(pattern); !expression.empty()) {
                EXPECT_EQ(filterRows(filter, FilterTerm{expression, true, false, true}), wantLines)
                    << "filter, expression";
            }
        }
    }
}

// The edges, one row each: what the window shows with control characters applied and
// shown, and what a copy of the line gives then.
TEST_F(ShownTextTest, EdgesOfSequencesAndCarriageReturns)
{
    struct Row {
        const char* bytes;
        const char16_t* applied; // terminal colours on, carriage returns applied
        const char16_t* shown;   // terminal colours on, control characters shown
    };
    const Row rows[] = {
        {"\x1b[31mred\x1b[0m\n", u"red", u"red"},                // at the line's start
        {"red\x1b[0m\n", u"red", u"red"},                        // at its end
        {"red\x1b[0\n", u"red\x1b[0", u"red\x1b[0"},             // cut by the line's end
        {"t\x1b]0;title\n", u"t\x1b]0;title", u"t\x1b]0;title"}, // a title cut off
        {"\x1b(B\x1b[mok\n", u"ok", u"ok"},                      // tput sgr0
        {"\x1b]0;a\x1b\\b\x1b]2;c\x07"
         "d\n",
         u"bd", u"bd"}, // ST and BEL
        {"\rabc\n", u"abc",
         u"\u240D"
         "abc"},                                        // CR first
        {"abc\r\n", u"abc", u"abc"},                    // CR LF: nothing changes
        {"abc\r\r\n", u"abc", u"abc\u240D"},            // a CR before the CR LF
        {"abcdef\rXY\n", u"XYcdef", u"abcdef\u240DXY"}, // the longer tail stays
        {"10%\r20%\r100%\n", u"100%",
         u"10%\u240D"
         "20%\u240D"
         "100%"},
        {"ab\x1b[1m\rc\n", u"cb",
         u"ab\u240D"
         "c"}, // sequences take no column
        {"a\x1b]0;x\ry\x07"
         "b\n",
         u"ab", u"ab"},                                     // a CR inside a title
        {"\U0001D11Ex\r-\n", u"-x", u"\U0001D11Ex\u240D-"}, // a pair is one column
    };
    std::string bytes;
    for (const Row& row : rows) {
        bytes += row.bytes;
    }
    for (const bool controls : {false, true}) {
        open(bytes, true, controls);
        ASSERT_EQ(doc.lineCount(), std::size(rows));
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(rows[i].bytes);
            const std::u16string want = controls ? rows[i].shown : rows[i].applied;
            EXPECT_EQ(doc.line(LineNumber(i)), want);
            doc.setSelection(LineNumber(i), LineNumber(i), 0, -1);
            std::u16string copy = want;
            std::replace(copy.begin(), copy.end(), LoneCrSymbol, u'\r');
            EXPECT_EQ(doc.selectedText(), copy);
        }
    }
}

// A progress line followed while it is written: each state written over the one before,
// the line decoded whole again once a CR lies inside it.
TEST_F(ShownTextTest, AFollowedProgressLineShowsItsLatestState)
{
    open("head\n", false, false);
    std::string written = "head\n";
    const std::vector<std::pair<std::string, std::u16string>> steps = {
        {"get 10%", u"get 10%"}, {"\r", u"get 10%"},   {"get 50%", u"get 50%"},
        {"\rdone", u"done50%"},  {"\r\n", u"done50%"},
    };
    for (const auto& [bytes, want] : steps) {
        written += bytes;
        appendFile(path, bytes);
        {
            std::lock_guard lock(doc.docAccess());
            doc.appendText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                           false);
        }
        EXPECT_EQ(doc.line(1), want) << "after " << written.size() << " bytes";
    }
}

// UTF-16: a carriage return before U+0A0A (whose bytes are two line feeds) lies inside the
// line, and Find and the filter see what follows it written over the line's start.
TEST_F(ShownTextTest, AUtf16CarriageReturnBeforeAnyOtherUnitWritesOver)
{
    std::string bytes = "\xFF\xFE";
    for (const std::u16string& line :
         {std::u16string(u"plain\r\n"), std::u16string(u"abcd\r\u0A0AX\n"),
          std::u16string(u"end\n")}) {
        bytes += utf16le(line);
    }
    open(bytes, false, false);
    ASSERT_TRUE(doc.isUtf16());
    EXPECT_EQ(doc.line(1), u"\u0A0AXcd");
    doc.setFindPosition(0, 0);
    ASSERT_TRUE(doc.find(u"Xc", true, SearchMatchCase));
    EXPECT_EQ(doc.selection().startLine, 1u);
    LineFilter filter(doc, nullptr);
    EXPECT_EQ(filterRows(filter, FilterTerm{u"Xc", true, false, false}),
              (std::vector<LineNumber>{1}));
}
