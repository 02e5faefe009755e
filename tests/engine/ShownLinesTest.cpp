// Lines as terminal colours show them, taken out of their sequences a whole run at once,
// and Find and the filter that search them: against random lines whose shown form is built
// along with them (sequences, broken sequences, characters a sequence breaks, texts that a
// sequence splits, ESC at a line's end), and a naive search of that form.

#include "EngineTestSupport.h"
#include "support/PlacesModel.h"
#include "support/Sanitizers.h"

#include "engine/LineFilter.h"
#include "engine/ShownLines.h"
#include "engine/ShownLiteral.h"

#include <gtest/gtest.h>

#include <random>

using namespace quilltest;

namespace {

struct ModelLine {
    std::string bytes;                   // as written, terminator included
    std::string shownBytes;              // without the complete sequences, terminator included
    std::u16string shown;                // as the window shows it, without terminator
    bool changed = false;                // a sequence was taken out
    bool joined = false;                 // ... between two bytes beyond ASCII
    std::vector<std::size_t> splits;     // places in shown where a sequence was taken out
    std::vector<std::size_t> byteSplits; // the same in shownBytes
};

class LineMaker {
  public:
    explicit LineMaker(std::uint32_t seed) : m_random(seed) {}

    unsigned pick(unsigned n) { return unsigned(m_random() % n); }

    // A line of text pieces, sequences and broken sequences; plain: no ESC at all.
    ModelLine line(bool plain, bool last)
    {
        ModelLine l;
        const unsigned pieces = pick(9);
        for (unsigned p = 0; p < pieces; ++p) {
            switch (plain ? 0 : pick(8)) {
            case 0:
            case 1:
            case 2:
                text(l);
                break;
            case 3:
            case 4:
                hidden(l);
                break;
            case 5: { // an ESC that starts no sequence: shown as it is
                static const char* const broken[] = {
                    "\x1b\x01",  "\x1b(\t",        "\x1b[3\t", "\x1b[1;\x7f",
                    "\x1b[\x01", "\x1b[1\xC3\xA9", "\x1b\x7f", "\x1bPq\x07\x1b\x01"};
                const unsigned k = pick(8);
                shownPiece(l, broken[k], k == 5 ? u"\x1b[1\u00E9" : latin(broken[k]));
                break;
            }
            case 6: { // a sequence or string cut off by the ESC of the next one
                static const char* const cut[] = {"\x1b[12", "\x1b]0;t", "\x1b_x", "\x1b(("};
                const char* piece = cut[pick(4)];
                shownPiece(l, piece, latin(piece));
                hidden(l, false);
                break;
            }
            default: { // a character a sequence breaks: two characters that cannot decode
                shownPiece(l, "caf\xC3", u"caf\uFFFD");
                hidden(l);
                shownPiece(l, "\xA9", u"\uFFFD");
                break;
            }
            }
        }
        if (!plain && pick(4) == 0) {
            static const char* const ends[] = {"\x1b",      "\x1b[",      "\x1b[3", "\x1b[38;5",
                                               "\x1b]0;ti", "\x1bPx\x1b", "\x1b(",  "\x1b]\x1b"};
            const char* end = ends[pick(8)];
            shownPiece(l, end, latin(end)); // cut off by the line's end
        }
        if (!last || pick(2) == 0) {
            const std::string terminator = pick(4) == 0 ? "\r\n" : "\n";
            l.bytes += terminator;
            l.shownBytes += terminator;
        }
        // Joined: a sequence was taken out between two bytes beyond ASCII.
        for (std::size_t at : l.byteSplits) {
            l.joined = l.joined || (at > 0 && at < l.shownBytes.size() &&
                                    static_cast<unsigned char>(l.shownBytes[at - 1]) >= 0x80 &&
                                    static_cast<unsigned char>(l.shownBytes[at]) >= 0x80);
        }
        return l;
    }

  private:
    static std::u16string latin(const std::string& s)
    {
        std::u16string out;
        for (char c : s) {
            out += char16_t(static_cast<unsigned char>(c));
        }
        return out;
    }

    void shownPiece(ModelLine& l, const std::string& bytes, const std::u16string& shown)
    {
        l.bytes += bytes;
        l.shownBytes += bytes;
        l.shown += shown;
    }

    // Letters, blanks and the characters of sequences, long enough now and then to fill a
    // sixteen-byte step; a few characters beyond ASCII.
    void text(ModelLine& l)
    {
        static const char alphabet[] = "abcAB m[;0:x";
        const unsigned length = 1 + (pick(4) == 0 ? pick(30) : pick(5));
        for (unsigned k = 0; k < length; ++k) {
            if (pick(20) == 0) {
                shownPiece(l, "\xC3\xA9", u"\u00E9");
            } else if (pick(40) == 0) {
                shownPiece(l, "caf\xC3\xA9", u"caf\u00E9");
            } else {
                const char c = alphabet[pick(sizeof alphabet - 1)];
                shownPiece(l, std::string(1, c), std::u16string(1, char16_t(c)));
            }
        }
    }

    // A complete sequence: SGR and others, short and longer than sixteen bytes, strings
    // (with text beyond ASCII, and longer than a step of sixty-four), designations and
    // single-character escapes. any: also those that start "ESC \\", which would end a
    // string cut off just before.
    void hidden(ModelLine& l, bool any = true)
    {
        // One of sixteen bytes and one of seventeen: the longest that a step of sixteen
        // holds whole, and the shortest it does not.
        static const char* const sequences[] = {
            "\x1b[31m",
            "\x1b[m",
            "\x1b[0;1;4m",
            "\x1b[38;2;100;200;250m",
            "\x1b[38;5;100;20;3m",
            "\x1b[K",
            "\x1b[?25h",
            "\x1b[1 q",
            "\x1b[!p",
            "\x1b[38;5;100;200;3m",
            "\x1b(B",
            "\x1b\x37", // ESC 7
            "\x1b=",
            "\x1b]0;t\xC3\xA9tre\x07",
            "\x1b]2;m\x1b\\",
            "\x1bP1$r0m\x1b\\",
            "\x1b]0;a long window title, longer than a step of sixty-four bytes . . .\x07",
            "\x1b\\"};
        l.bytes += sequences[pick(any ? 18 : 17)];
        l.changed = true;
        l.splits.push_back(l.shown.size());
        l.byteSplits.push_back(l.shownBytes.size());
    }

    std::mt19937 m_random;
};

std::u16string folded(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c + 32);
        }
    }
    return text;
}

std::string utf8(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

// The processor's vector steps and the steps of every processor, each on runs of its own.
class ShownLinesSteps : public ::testing::TestWithParam<ShownLines::Steps> {};
INSTANTIATE_TEST_SUITE_P(Steps, ShownLinesSteps,
                         ::testing::Values(ShownLines::Steps::Fastest,
                                           ShownLines::Steps::Portable));

TEST_P(ShownLinesSteps, RandomRunsAgainstTheirShownBytes)
{
    LineMaker maker(GetParam() == ShownLines::Steps::Fastest ? 2512 : 2514);
    ShownLines shown(GetParam());
    for (int round = 0; round < 4000; ++round) {
        const bool plain = maker.pick(8) == 0;
        const unsigned count = 1 + maker.pick(12);
        std::vector<ModelLine> lines;
        std::string bytes;
        // The run starts inside a file, as a chunk does.
        std::vector<FileOffset> starts{FileOffset(maker.pick(1000))};
        for (unsigned i = 0; i < count; ++i) {
            lines.push_back(maker.line(plain, i + 1 == count));
            bytes += lines.back().bytes;
            starts.push_back(starts.back() + FileOffset(lines.back().bytes.size()));
        }
        SCOPED_TRACE(bytes);
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        const bool escapes = bytes.find('\x1b') != std::string::npos;
        ASSERT_EQ(shown.strip(data, starts.data(), count), escapes);
        if (!escapes) {
            continue;
        }
        EXPECT_EQ(shown.starts()[0], starts[0]);
        std::vector<std::size_t> joined;
        for (unsigned i = 0; i < count; ++i) {
            const FileOffset from = shown.starts()[i] - starts[0];
            const FileOffset to = shown.starts()[i + 1] - starts[0];
            ASSERT_LE(from, to);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(shown.bytes()) + from,
                                  std::size_t(to - from)),
                      lines[i].shownBytes)
                << "line " << i;
            EXPECT_EQ(shown.changed(i, starts.data()), lines[i].changed) << "line " << i;
            EXPECT_EQ(shown.joined(i), lines[i].joined) << "line " << i;
            if (lines[i].joined) {
                joined.push_back(i);
            }
        }
        EXPECT_EQ(shown.joinedLines(), joined);
    }
}

// The vector steps against the portable ones on bytes drawn from what sequences are made
// of, cut into lines anywhere (inside a sequence too, as a line without a line feed would
// be), so that sequences, cuts and bytes beyond ASCII fall on every place of a step.
TEST(ShownLines, VectorStepsGiveWhatPortableStepsGive)
{
    std::mt19937 random(4411);
    static const char* const pieces[] = {"\x1b[31m", "\x1b[0m", "\x1b[38;5;208m",
                                         "\x1b[1 q", "\x1b[",   "\x1b",
                                         "[",        "0;1",     "m",
                                         "\n",       "\xC3",    "\xA9",
                                         "abc d",    "\x7f",    "\x1b[?25h",
                                         "\x1b[12\t"};
    ShownLines fast(ShownLines::Steps::Fastest);
    ShownLines portable(ShownLines::Steps::Portable);
    for (int round = 0; round < quilltest::rounds(3000); ++round) {
        std::string bytes;
        const std::size_t size = 100 + random() % 400;
        while (bytes.size() < size) {
            bytes += pieces[random() % 16];
        }
        std::vector<FileOffset> starts{FileOffset(random() % 50)};
        for (std::size_t at = 0; at < bytes.size();) {
            const bool byLine = random() % 2 == 0;
            const std::size_t feed = bytes.find('\n', at);
            const std::size_t next =
                byLine && feed != std::string::npos ? feed + 1 : at + 1 + random() % 90;
            at = std::min(next, bytes.size());
            starts.push_back(starts.front() + FileOffset(at));
        }
        const std::size_t count = starts.size() - 1;
        SCOPED_TRACE(::testing::Message() << "round " << round);
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        const bool stripped = portable.strip(data, starts.data(), count);
        ASSERT_EQ(fast.strip(data, starts.data(), count), stripped);
        if (!stripped) {
            continue;
        }
        const std::size_t shown = std::size_t(portable.starts()[count] - starts[0]);
        ASSERT_EQ(std::vector<FileOffset>(fast.starts(), fast.starts() + count + 1),
                  std::vector<FileOffset>(portable.starts(), portable.starts() + count + 1));
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(fast.bytes()), shown),
                  std::string(reinterpret_cast<const char*>(portable.bytes()), shown));
        ASSERT_EQ(fast.joinedLines(), portable.joinedLines());
    }
}

// The lines the search of the raw bytes names against the lines whose shown bytes hold the
// literal: texts a sequence splits (the commonest), texts inside the shown bytes anywhere,
// one byte, and bytes of a sequence. Every line that holds one is named; a line without
// an ESC is named only when it holds one; lines named besides are few; the vector steps
// name what the portable ones name. Some literals have classes of bytes at some places.
TEST(ShownLiteral, NamesEveryLineThatShowsTheLiteral)
{
    LineMaker maker(2515);
    std::size_t named = 0;
    std::size_t besides = 0;
    for (int round = 0; round < quilltest::rounds(3000); ++round) {
        const unsigned count = 1 + maker.pick(30);
        std::vector<ModelLine> lines;
        std::string bytes;
        std::vector<FileOffset> starts{FileOffset(maker.pick(1000))};
        for (unsigned i = 0; i < count; ++i) {
            lines.push_back(maker.line(maker.pick(6) == 0, i + 1 == count));
            bytes += lines.back().bytes;
            starts.push_back(starts.back() + FileOffset(lines.back().bytes.size()));
        }
        const ModelLine& from = lines[maker.pick(count)];
        const std::string& shown = from.shownBytes;
        std::string literal;
        const unsigned kind = maker.pick(8);
        if (kind < 4 && !from.byteSplits.empty()) {
            const std::size_t split = from.byteSplits[maker.pick(unsigned(from.byteSplits.size()))];
            const std::size_t before = std::min<std::size_t>(split, 1 + maker.pick(4));
            literal = shown.substr(split - before, before + 1 + maker.pick(6));
        } else if (kind < 6 && !shown.empty()) {
            const std::size_t at = maker.pick(unsigned(shown.size()));
            literal = shown.substr(at, 1 + maker.pick(kind == 4 ? 1 : 9));
        } else {
            static const char* const fixed[] = {"31m", "[0", "m ", "a", "caf\xC3\xA9", "b\r"};
            literal = fixed[maker.pick(6)];
        }
        literal = literal.substr(0, literal.find_first_of("\n\x1b"));
        if (literal.empty()) {
            continue;
        }
        // Some places a class of bytes (an expression's), one place at least a single byte.
        std::vector<std::string> places;
        const bool classes = literal.size() > 1 && maker.pick(3) == 0;
        for (std::size_t k = 0; k < literal.size(); ++k) {
            places.emplace_back(1, literal[k]);
            if (classes && k != literal.size() / 2 && maker.pick(3) == 0) {
                static const char others[] = "a[m0;\r\xA9"
                                             "e ";
                for (unsigned extra = 1 + maker.pick(3); extra > 0; --extra) {
                    places.back() += others[maker.pick(sizeof others - 1)];
                }
            }
        }
        SCOPED_TRACE(::testing::Message()
                     << "round " << round << ", literal " << writtenPlaces(places));
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        std::size_t rare = maker.pick(unsigned(literal.size()));
        ShownLiteral search(places, rare);
        ASSERT_TRUE(search.usable());
        std::vector<std::uint32_t> portable;
        search.setSteps(ShownLiteral::Steps::Portable);
        search.lines(data, starts.data(), count, portable);
        for (const ShownLiteral::Steps steps :
             {ShownLiteral::Steps::Avx2, ShownLiteral::Steps::Fastest}) {
            std::vector<std::uint32_t> vector{7}; // appended to what is there
            search.setSteps(steps);
            search.lines(data, starts.data(), count, vector);
            ASSERT_EQ(std::vector<std::uint32_t>(vector.begin() + 1, vector.end()), portable);
        }
        ASSERT_TRUE(std::is_sorted(portable.begin(), portable.end()));
        ASSERT_EQ(std::adjacent_find(portable.begin(), portable.end()), portable.end());
        for (std::uint32_t i = 0; i < count; ++i) {
            const bool holds = holdsPlaces(lines[i].shownBytes, places);
            const bool isNamed = std::binary_search(portable.begin(), portable.end(), i);
            if (holds) {
                EXPECT_TRUE(isNamed) << "line " << i << ": " << lines[i].bytes;
            } else if (isNamed) {
                EXPECT_NE(lines[i].bytes.find('\x1b'), std::string::npos)
                    << "line " << i << ": " << lines[i].bytes;
                besides += holdsPlaces(lines[i].bytes, places) ? 0 : 1;
            }
            named += isNamed ? 1 : 0;
        }
    }
    // Besides those whose bytes hold the literal inside a sequence, a line is named only
    // where a start of the literal lies in a sequence's bytes just before another one that
    // the literal goes on after: rare.
    EXPECT_LT(besides * 100, named);
}

// A rare place given at a class: the probes are taken from the single bytes, so an
// occurrence with the class's other byte there is found too, in the vector steps and after.
TEST(ShownLiteral, TheProbesStayOffTheClasses)
{
    const std::string bytes =
        std::string(150, 'x') + "abd\nzz abc\n" + std::string(150, 'y') + "\nabd\n";
    const std::vector<FileOffset> starts{0, 154, 161, 312, 316};
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    ShownLiteral search(std::vector<std::string>{"a", "b", "cd"}, 2);
    ASSERT_TRUE(search.usable());
    for (const ShownLiteral::Steps steps :
         {ShownLiteral::Steps::Portable, ShownLiteral::Steps::Avx2, ShownLiteral::Steps::Fastest}) {
        std::vector<std::uint32_t> lines;
        search.setSteps(steps);
        search.lines(data, starts.data(), 4, lines);
        EXPECT_EQ(lines, (std::vector<std::uint32_t>{0, 1, 3}));
    }
}

namespace {

// A file of plain stretches, without any ESC, around stretches of coloured lines, large
// enough that Find's reads and the filter's runs end both inside and between them.
class ShownSearchTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        LineMaker maker(2513);
        std::string bytes;
        for (int stretch = 0; stretch < 4; ++stretch) {
            const bool plain = stretch % 2 == 0;
            const std::size_t target = bytes.size() + (plain ? 300'000 : 220'000);
            while (bytes.size() < target) {
                lines.push_back(maker.line(plain, false));
                bytes += lines.back().bytes;
            }
        }
        lines.push_back(maker.line(false, true));
        bytes += lines.back().bytes;
        // A line whose last bytes end the file: its last characters are matched too.
        settings.store.setBool(Setting::TerminalColors, true);
        path = settings.dir.file("shown.log");
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
        ASSERT_EQ(doc.lineCount(), lines.size());
        for (const ModelLine& line : lines) {
            foldedLines.push_back(folded(line.shown));
        }

        // Texts the sequences split, texts at a line's start and end, texts with an ESC
        // that shows, with a broken character, and texts in the plain stretches.
        for (std::size_t i = 0; patterns.size() < 14 && i < 200000; ++i) {
            const ModelLine& l = lines[maker.pick(unsigned(lines.size()))];
            const std::size_t size = l.shown.size();
            if (size < 3) {
                continue;
            }
            const std::size_t length = std::min<std::size_t>(size, 4 + maker.pick(5));
            std::size_t at = 0;
            const unsigned kind = unsigned(patterns.size() % 6);
            if (kind == 0 || kind == 1) {
                if (l.splits.empty()) {
                    continue;
                }
                const std::size_t split = l.splits[maker.pick(unsigned(l.splits.size()))];
                if (split == 0 || split >= size) {
                    continue;
                }
                at = split - std::min<std::size_t>(split, 1 + maker.pick(unsigned(length - 1)));
            } else if (kind == 2) {
                at = size - length;
            } else if (kind == 3) {
                const std::size_t esc = l.shown.find(u'\x1b');
                if (esc == std::u16string::npos) {
                    continue;
                }
                at = esc - std::min<std::size_t>(esc, maker.pick(2));
            } else if (kind == 4) {
                if (l.changed) {
                    continue;
                }
                at = maker.pick(unsigned(size));
            }
            at = std::min(at, size - length);
            const std::u16string pattern = l.shown.substr(at, length);
            // Rare enough that Find visits each occurrence in a moment.
            if (pattern.find_first_of(u"\r\n") != std::u16string::npos ||
                linesWith(pattern, false).size() > 40) {
                continue;
            }
            patterns.push_back(pattern);
        }
        patterns.push_back(u"caf\u00E9");     // never where a sequence broke the character
        patterns.push_back(u"f\uFFFD\uFFFD"); // only there
        ASSERT_EQ(patterns.size(), 16u);
    }

    // Under a sanitizer, one pattern of each kind and the two fixed ones.
    static bool sampled(std::size_t k) { return !UnderSanitizer || k < 6 || k >= 14; }

    // Lines whose shown text holds the pattern, case ignored or not.
    std::vector<LineNumber> linesWith(const std::u16string& pattern, bool matchCase) const
    {
        std::vector<LineNumber> out;
        const std::u16string p = matchCase ? pattern : folded(pattern);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::u16string& text = matchCase ? lines[i].shown : foldedLines[i];
            if (text.find(p) != std::u16string::npos) {
                out.push_back(LineNumber(i));
            }
        }
        return out;
    }

    std::vector<LineNumber> filterRows(LineFilter& filter, const FilterTerm& term,
                                       std::vector<FilterTerm> excludes = {})
    {
        return filteredRows(filter, term, std::move(excludes));
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
    std::vector<ModelLine> lines;
    std::vector<std::u16string> foldedLines; // each line's shown text, case folded
    std::vector<std::u16string> patterns;
};

// A text the regular expression matches literally: everything but letters and digits
// escaped (as \x{..} where it is not ASCII).
std::u16string literalExpression(const std::u16string& text)
{
    std::u16string out;
    for (char16_t c : text) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
            out += c;
        } else {
            char code[16];
            std::snprintf(code, sizeof code, "\\x{%x}", unsigned(c));
            out += std::u16string(code, code + std::strlen(code));
        }
    }
    return out;
}

// The same with ASCII signs escaped by a backslash and other characters as they are, so
// that the expression's runs of plain characters are a text every match holds.
std::u16string plainExpression(const std::u16string& text)
{
    std::u16string out;
    for (char16_t c : text) {
        const bool sign =
            c >= 0x20 && c < 0x7F &&
            !((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'));
        if (sign) {
            out += u'\\';
        }
        out += c;
    }
    return out;
}

} // namespace

TEST_F(ShownSearchTest, TheFilterFindsWhatTheLinesShow)
{
    for (const bool small : {false, true}) {
        SCOPED_TRACE(small ? "small chunks" : "whole file at once");
        LineFilter filter(doc, nullptr);
        if (small) {
            filter.setChunkLimits(97, 7000); // chunk ends everywhere
        }
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            if (!sampled(k)) {
                continue;
            }
            const std::u16string& pattern = patterns[k];
            SCOPED_TRACE(utf8(pattern));
            for (const bool matchCase : {true, false}) {
                const FilterTerm literal{matchCase ? pattern : folded(pattern), matchCase, false,
                                         false};
                EXPECT_EQ(filterRows(filter, literal), linesWith(pattern, matchCase))
                    << "literal, case " << matchCase;
                if (!matchCase) {
                    // An exclude that heeds case: the bytes are not folded in place, and
                    // the literal is searched in a folded copy.
                    EXPECT_EQ(filterRows(filter, literal, {FilterTerm{u"qqq", true, false, false}}),
                              linesWith(pattern, false))
                        << "literal beside an exclude";
                }
            }
            const FilterTerm regex{literalExpression(pattern), true, false, true};
            EXPECT_EQ(filterRows(filter, regex), linesWith(pattern, true)) << "expression";
            // With a text it requires: only the lines that show it are matched.
            for (const bool matchCase : {true, false}) {
                const FilterTerm plain{plainExpression(matchCase ? pattern : folded(pattern)),
                                       matchCase, false, true};
                EXPECT_EQ(filterRows(filter, plain), linesWith(pattern, matchCase))
                    << "expression with its text, case " << matchCase;
                // A class in that text: the lines that show either of its two texts.
                const std::u16string text = matchCase ? pattern : folded(pattern);
                const std::size_t at = text.size() / 2;
                const char16_t other = text[(at + 1) % text.size()];
                std::u16string variant = text;
                variant[at] = other;
                const std::u16string withClass = plainExpression(text.substr(0, at)) + u"[" +
                                                 plainExpression(text.substr(at, 1)) +
                                                 plainExpression(std::u16string(1, other)) + u"]" +
                                                 plainExpression(text.substr(at + 1));
                std::vector<LineNumber> either;
                const std::vector<LineNumber> one = linesWith(text, matchCase);
                const std::vector<LineNumber> two = linesWith(variant, matchCase);
                std::set_union(one.begin(), one.end(), two.begin(), two.end(),
                               std::back_inserter(either));
                EXPECT_EQ(filterRows(filter, FilterTerm{withClass, matchCase, false, true}), either)
                    << "expression with a class, case " << matchCase;
            }
        }
    }
    {
        // A required text before a character a sequence breaks: those lines are judged on
        // what they show, two replacement characters.
        LineFilter filter(doc, nullptr);
        const std::u16string broken = u"caf\uFFFD\uFFFD";
        ASSERT_FALSE(linesWith(broken, true).empty());
        EXPECT_EQ(filterRows(filter, FilterTerm{plainExpression(broken), true, false, true}),
                  linesWith(broken, true));
    }
    // Anchored at the shown line's ends.
    LineFilter filter(doc, nullptr);
    const std::u16string first = patterns[2];
    std::vector<LineNumber> ending;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::u16string& shown = lines[i].shown;
        if (shown.size() >= first.size() &&
            shown.compare(shown.size() - first.size(), first.size(), first) == 0) {
            ending.push_back(LineNumber(i));
        }
    }
    ASSERT_FALSE(ending.empty());
    EXPECT_EQ(filterRows(filter, FilterTerm{literalExpression(first) + u"$", true, false, true}),
              ending);
}

TEST_F(ShownSearchTest, FindVisitsWhatTheLinesShowBothWays)
{
    for (std::size_t k = 0; k < patterns.size(); ++k) {
        if (!sampled(k)) {
            continue;
        }
        const std::u16string& pattern = patterns[k];
        const bool matchCase = k % 2 == 0;
        SCOPED_TRACE(utf8(pattern) + (matchCase ? " (case)" : ""));
        const std::u16string p = matchCase ? pattern : folded(pattern);
        std::vector<std::pair<LineNumber, std::int32_t>> down;
        std::vector<std::pair<LineNumber, std::int32_t>> up;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::u16string& text = matchCase ? lines[i].shown : foldedLines[i];
            for (std::size_t at = text.find(p); at != std::u16string::npos;
                 at = text.find(p, at + p.size())) {
                down.emplace_back(LineNumber(i), std::int32_t(at));
            }
        }
        for (std::size_t i = lines.size(); i-- > 0;) {
            const std::u16string& text = matchCase ? lines[i].shown : foldedLines[i];
            // Backwards, an occurrence ends at or before where the last one started.
            for (std::size_t end = text.size(); end >= p.size();) {
                const std::size_t at = text.rfind(p, end - p.size());
                if (at == std::u16string::npos) {
                    break;
                }
                up.emplace_back(LineNumber(i), std::int32_t(at));
                end = at;
            }
        }
        ASSERT_FALSE(down.empty());
        const unsigned flags = matchCase ? SearchMatchCase : 0;
        for (const bool forward : {true, false}) {
            // Every occurrence, or the first twelve of a common text (four under a sanitizer)
            // and then one more: each Find reads and strips a block again, which the
            // sanitizer trees pay dearly for.
            const std::size_t most = UnderSanitizer ? 5 : 13;
            auto want = forward ? down : up;
            const bool all = want.size() < most;
            want.resize(std::min(want.size(), most));
            std::vector<std::pair<LineNumber, std::int32_t>> got;
            doc.setFindPosition(forward ? 0 : doc.lineCount(), 0);
            while ((!all || got.size() <= want.size()) && got.size() < most &&
                   doc.find(pattern, forward, flags)) {
                const DocSelection s = doc.selection();
                got.emplace_back(s.startLine, s.startCol);
            }
            EXPECT_EQ(got, want) << (forward ? "down" : "up");
        }
    }
}

namespace {

// A document with terminal colours on, for the tests of one file each.
struct ColouredDocument {
    ColouredDocument() { settings.store.setBool(Setting::TerminalColors, true); }
    void open(const std::string& name, const std::string& bytes)
    {
        const std::string path = settings.dir.file(name);
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
    }
    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
};

} // namespace

// A line longer than a read of the search is read whole, and found forwards and backwards.
TEST(ShownSearch, FindReadsALineLongerThanARead)
{
    ColouredDocument coloured;
    LogDocument& doc = coloured.doc;
    std::string bytes = "short one\n";
    for (int i = 0; i < 40000; ++i) {
        bytes += "\x1b[32mgreen\x1b[0m ";
    }
    bytes += "ne\x1b[1medle\nshort two\n";
    coloured.open("long.log", bytes);
    ASSERT_EQ(doc.lineCount(), 3u);
    for (const bool forward : {true, false}) {
        doc.setFindPosition(forward ? 0 : 3, 0);
        ASSERT_TRUE(doc.find(u"needle", forward, SearchMatchCase)) << forward;
        EXPECT_EQ(doc.selection().startLine, 1u);
        EXPECT_EQ(doc.selection().startCol, 40000 * 6);
        EXPECT_FALSE(doc.find(u"needle", forward, SearchMatchCase)) << "once only";
    }
}

// A line too complex for an expression is shown undecided where it is, also past the first
// run of lines a chunk is taken out of its sequences in.
TEST(ShownSearch, AnUndecidedLineKeepsItsPlaceInALongChunk)
{
    ColouredDocument coloured;
    LogDocument& doc = coloured.doc;
    std::string bytes;
    LineNumber lines = 0;
    for (; bytes.size() < 300'000; ++lines) {
        bytes += "\x1b[32mok\x1b[0m plain ac\n";
    }
    const LineNumber hard = lines++;
    bytes += "\x1b[31m" + std::string(28, 'a') + "b ac\x1b[0m\n";
    bytes += "last ac\n";
    ++lines;
    coloured.open("hard.log", bytes);
    LineFilter filter(doc, nullptr);
    ASSERT_TRUE(filter.setFilter(FilterSet{FilterTerm{u"(a+)+c", true, false, true}, {}}).empty());
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    EXPECT_EQ(filter.matches().size(), std::size_t(lines));
    EXPECT_EQ(filter.undecided(), std::vector<LineNumber>{hard});
}

// The same where the expression requires a text: only the lines that show it are matched,
// and those a sequence splits it in, and the undecided one, keep their numbers.
TEST(ShownSearch, AnUndecidedLineWithTheRequiredTextKeepsItsPlace)
{
    ColouredDocument coloured;
    LogDocument& doc = coloured.doc;
    std::string bytes;
    std::vector<LineNumber> matching;
    LineNumber lines = 0;
    for (; bytes.size() < 600'000; ++lines) {
        if (lines % 997 == 5) {
            bytes += "\x1b[1mx\x1b[0myaac\n"; // shows "xyaac"
            matching.push_back(lines);
        } else {
            bytes += "\x1b[32mok\x1b[0m plain xaac\n";
        }
    }
    const LineNumber hard = lines++;
    bytes += "\x1b[31mxy" + std::string(28, 'a') + "b ac\x1b[0m\n";
    bytes += "last xy ac\n";
    ++lines;
    coloured.open("hard.log", bytes);
    LineFilter filter(doc, nullptr);
    ASSERT_TRUE(
        filter.setFilter(FilterSet{FilterTerm{u"xy(a+)+c", true, false, true}, {}}).empty());
    ASSERT_TRUE(filter.waitIdle());
    filter.collect();
    matching.push_back(hard);
    std::vector<LineNumber> rows;
    for (std::size_t i = 0; i < filter.matches().size(); ++i) {
        rows.push_back(filter.matches().at(i));
    }
    EXPECT_EQ(rows, matching);
    EXPECT_EQ(filter.undecided(), std::vector<LineNumber>{hard});
}

// Wherever the pieces Find shares out between its threads begin and end, inside the first
// or the last line too, both ways find the text in the file's first and last lines.
TEST(ShownSearch, FindReachesTheFirstAndLastLinesWhereverPiecesEnd)
{
    ColouredDocument coloured;
    LogDocument& doc = coloured.doc;
    const std::string filler = "\x1b[2mDEBUG\x1b[0m a line of filler text\n"; // 37 bytes
    for (const std::size_t size : {std::size_t(1) << 18, (std::size_t(1) << 19) + 700}) {
        for (const std::size_t first : {std::size_t(20), std::size_t(1000), std::size_t(3000)}) {
            const std::string head = "ne\x1b[1medle" + std::string(first, 'x') + "\n";
            const std::string tail = "needle at the end\n";
            std::string bytes = head;
            while (bytes.size() + filler.size() + tail.size() <= size) {
                bytes += filler;
            }
            bytes += std::string(size - bytes.size() - tail.size() - 1, 'y') + "\n" + tail;
            coloured.open("edges.log", bytes);
            const LineNumber count = doc.lineCount();
            SCOPED_TRACE(::testing::Message() << size << " bytes, first line " << first);
            doc.setFindPosition(count, 0);
            ASSERT_TRUE(doc.find(u"needle", false, SearchMatchCase));
            EXPECT_EQ(doc.selection().startLine, count - 1);
            ASSERT_TRUE(doc.find(u"needle", false, SearchMatchCase));
            EXPECT_EQ(doc.selection().startLine, 0u);
            doc.setFindPosition(0, 1);
            ASSERT_TRUE(doc.find(u"needle", true, SearchMatchCase));
            EXPECT_EQ(doc.selection().startLine, count - 1);
        }
    }
}
