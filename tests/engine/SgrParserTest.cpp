// Terminal colours: the text shown and its styles, against a table of hand-decoded lines
// (broken and unknown sequences among them) and against random lines whose expected
// decoding is built along with them.

#include "engine/SgrParser.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

// The look of one shown character, as the test itself works it out.
struct Look {
    std::optional<ColorRef> text;
    std::optional<ColorRef> background;
    bool bold = false;
    bool underline = false;
    bool operator==(const Look&) const = default;
};

constexpr ColorRef rgb(unsigned r, unsigned g, unsigned b)
{
    return ColorRef(r) | (ColorRef(g) << 8) | (ColorRef(b) << 16);
}

// xterm's palette, written out independently of the parser's.
ColorRef palette(unsigned n)
{
    static const unsigned basic[16][3] = {
        {0, 0, 0},     {205, 0, 0},     {0, 205, 0},     {205, 205, 0},  {0, 0, 238}, {205, 0, 205},
        {0, 205, 205}, {229, 229, 229}, {127, 127, 127}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
        {92, 92, 255}, {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    if (n < 16) {
        return rgb(basic[n][0], basic[n][1], basic[n][2]);
    }
    if (n >= 232) {
        const unsigned v = 8 + (n - 232) * 10;
        return rgb(v, v, v);
    }
    auto level = [](unsigned k) { return k == 0 ? 0u : 55u + 40u * k; };
    const unsigned c = n - 16;
    return rgb(level(c / 36), level(c / 6 % 6), level(c % 6));
}

std::vector<Look> looksOf(std::size_t length, const StyleRuns& runs)
{
    std::vector<Look> looks(length);
    std::size_t last = 0;
    for (const StyleRun& run : runs) {
        EXPECT_LT(run.start, run.end);
        EXPECT_LE(last, run.start);
        EXPECT_LE(run.end, length);
        last = run.end;
        for (std::size_t k = run.start; k < run.end && k < length; ++k) {
            looks[k].text = run.hasText ? std::optional(run.text) : std::nullopt;
            looks[k].background = run.hasBackground ? std::optional(run.background) : std::nullopt;
            looks[k].bold = run.bold;
            looks[k].underline = run.underline;
        }
    }
    return looks;
}

std::u16string u16(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

} // namespace

TEST(SgrParser, TableOfLines)
{
    const Look red{rgb(205, 0, 0), {}, false, false};
    const Look plain{};
    struct Row {
        const char* line;
        const char* shown;
        // One look per shown character, by letter: '.' plain, 'r' red text, 'b' bold only,
        // 'u' underline only, 'R' red text and bold, 'g' green background, 'x' 256-colour
        // 196 text, 't' 24-bit (1,2,3) text.
        const char* looks;
    };
    const Row rows[] = {
        {"plain", "plain", "....."},
        {"\x1b[31mab\x1b[0mc", "abc", "rr."},
        {"\x1b[31mab\x1b[mc", "abc", "rr."}, // empty code: reset
        {"\x1b[1;31mab\x1b[22mc", "abc", "RRr"},
        {"\x1b[1mab\x1b[39mc", "abc", "bbb"},
        {"\x1b[4ma\x1b[24mb", "ab", "u."},
        {"\x1b[42ma\x1b[49mb", "ab", "g."},
        {"\x1b[38;5;196ma", "a", "x"},
        {"\x1b[38:5:196ma", "a", "x"},
        {"\x1b[38;2;1;2;3ma", "a", "t"},
        {"\x1b[38:2::1:2:3ma", "a", "t"},
        {"\x1b[38:2:1:2:3ma", "a", "t"},
        // Malformed extended colours end their sequence's codes; what came before stands.
        {"\x1b[1;38;5ma", "a", "b"},
        {"\x1b[1;38;5;256;31ma", "a", "b"},
        {"\x1b[1;38;2;1;2ma", "a", "b"},
        {"\x1b[1;38;7;31ma", "a", "b"},
        // Unknown codes are skipped.
        {"\x1b[3;31ma", "a", "r"},
        {"\x1b[999999999999;31ma", "a", "r"},
        // Other complete sequences are hidden without effect.
        {"\x1b[2Ka\x1b[1;1Hb", "ab", ".."},
        {"\x1b[31m\x1b[Ka", "a", "r"},
        {"\x1b[?25la\x1b[2~b", "ab", ".."}, // '?' a parameter, '~' a final
        // Broken: shown as they are, and never more than themselves.
        {"\x1b[31", "\x1b[31", "...."},
        {"a\x1b", "a\x1b", ".."},
        {"\x1b\x01"
         "ab",
         "\x1b\x01"
         "ab",
         "...."},
        {"\x1b[3\x1b[31ma", "\x1b[3a", "...r"},
        {"\x1b[3\tab", "\x1b[3\tab", "......"},
        {"\x1b\x1b[31ma",
         "\x1b"
         "a",
         ".r"},
        // The other kinds of ECMA-48: hidden whole, the style untouched.
        {"\x1b[31m\x1b(Bab", "ab", "rr"},
        {"\x1b(B\x1b[ma", "a", "."}, // tput sgr0
        {"a\x1b]0;title\x07"
         "b",
         "ab", ".."},
        {"a\x1b]2;t\xC3\xA9tre\x1b\\b", "ab", ".."},
        {"a\x1bP1$r0m\x1b\\b\x1bX\x07\x1b\\c\x1b^p\x1b\\\x1b_a\x1b\\", "abc", "..."},
        {"\x1b"
         "7a\x1b"
         "8\x1b=b\x1b>\x1b"
         "c\x1bM\x1b\\",
         "ab", ".."},
        {"\x1b#8a\x1b%G\x1b)0b\x1b$(Bc", "abc", "..."},
        {"\x1bm\x1b[31ma", "a", "r"}, // "ESC m" is no SGR
        // Cut off: shown.
        {"a\x1b]0;ti", "a\x1b]0;ti", "......."},
        {"\x1b]0;t\x1b[31ma", "\x1b]0;ta", ".....r"}, // the string's end must be ST or BEL
        {"\x1bPq\x07", "\x1bPq\x07", "...."},         // BEL ends only an OSC
        {"\x1b(", "\x1b(", ".."},
        {"\x1b(\x01", "\x1b(\x01", "..."},
        {"\x1b\x7f", "\x1b\x7f", ".."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::u16string shown;
        StyleRuns runs;
        stripSgr(u16(row.line), shown, &runs);
        EXPECT_EQ(shown, u16(row.shown));
        const std::vector<Look> looks = looksOf(shown.size(), runs);
        ASSERT_EQ(std::string(row.looks).size(), looks.size());
        for (std::size_t k = 0; k < looks.size(); ++k) {
            Look want = plain;
            switch (row.looks[k]) {
            case 'r':
                want = red;
                break;
            case 'R':
                want = red;
                want.bold = true;
                break;
            case 'b':
                want.bold = true;
                break;
            case 'u':
                want.underline = true;
                break;
            case 'g':
                want.background = rgb(0, 205, 0);
                break;
            case 'x':
                want.text = rgb(255, 0, 0);
                break;
            case 't':
                want.text = rgb(1, 2, 3);
                break;
            default:
                break;
            }
            EXPECT_EQ(looks[k], want) << "character " << k;
        }
    }
}

TEST(SgrParser, AppendsAfterWhatTheTextHeld)
{
    std::u16string shown = u"before|";
    StyleRuns runs;
    stripSgr(u"\x1b[31mab", shown, &runs);
    EXPECT_EQ(shown, u"before|ab");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].start, 0u); // counted from where the line began
    EXPECT_EQ(runs[0].end, 2u);
}

TEST(SgrParser, RandomLinesAgainstTheirOwnDecoding)
{
    std::mt19937 random(20261208);
    auto pick = [&](unsigned n) { return unsigned(random() % n); };
    for (int round = 0; round < 3000; ++round) {
        std::string line;
        std::u16string shown;
        std::vector<Look> looks;
        Look look;
        auto show = [&](const std::string& text) {
            line += text;
            for (char c : text) {
                shown.push_back(char16_t(static_cast<unsigned char>(c)));
                looks.push_back(look);
            }
        };
        const int pieces = 1 + int(pick(8));
        for (int p = 0; p < pieces; ++p) {
            switch (pick(6)) {
            case 0:
            case 1: {
                static const char alphabet[] = "ab m;[1:0";
                std::string text;
                for (unsigned k = 1 + pick(4); k > 0; --k) {
                    text += alphabet[pick(sizeof alphabet - 1)];
                }
                // A '[' right after a broken escape would join it; plain text never follows
                // an ESC here, since a broken piece ends with its own character.
                show(text);
                break;
            }
            case 2: { // a sequence of SGR codes, applied to the model as generated
                std::string codes;
                for (unsigned k = 1 + pick(4); k > 0; --k) {
                    if (!codes.empty()) {
                        codes += ';';
                    }
                    const unsigned kind = pick(9);
                    if (kind == 0) {
                        codes += "0";
                        look = Look();
                    } else if (kind == 1) {
                        codes += pick(2) ? "1" : "22";
                        look.bold = codes.back() == '1';
                    } else if (kind == 2) {
                        const bool on = pick(2) != 0;
                        codes += on ? "4" : "24";
                        look.underline = on;
                    } else if (kind == 3) {
                        const unsigned n = pick(8);
                        const bool bright = pick(2) != 0;
                        codes += std::to_string((bright ? 90 : 30) + n);
                        look.text = palette(n + (bright ? 8 : 0));
                    } else if (kind == 4) {
                        const unsigned n = pick(8);
                        const bool bright = pick(2) != 0;
                        codes += std::to_string((bright ? 100 : 40) + n);
                        look.background = palette(n + (bright ? 8 : 0));
                    } else if (kind == 5) {
                        const bool fore = pick(2) != 0;
                        codes += fore ? "39" : "49";
                        (fore ? look.text : look.background).reset();
                    } else if (kind == 6) {
                        const unsigned n = pick(256);
                        const bool fore = pick(2) != 0;
                        codes += (fore ? "38;5;" : "48;5;") + std::to_string(n);
                        (fore ? look.text : look.background) = palette(n);
                    } else if (kind == 7) {
                        const unsigned r = pick(256), g = pick(256), b = pick(256);
                        const bool fore = pick(2) != 0;
                        codes += (fore ? "38;2;" : "48;2;") + std::to_string(r) + ";" +
                                 std::to_string(g) + ";" + std::to_string(b);
                        (fore ? look.text : look.background) = rgb(r, g, b);
                    } else {
                        codes += "5"; // blinking: not understood, skipped
                    }
                }
                line += "\x1b[" + codes + "m";
                break;
            }
            case 3: { // another complete sequence: hidden, no effect
                static const char finals[] = "KHJAG";
                static const char* const others[] = {"\x1b(B",
                                                     "\x1b]0;a b\x07",
                                                     "\x1b]2;m\x1b\\",
                                                     "\x1bP0;1|x\x1b\\",
                                                     "\x1b\x37", // ESC 7
                                                     "\x1b="};
                if (pick(2) == 0) {
                    line += others[pick(6)];
                } else {
                    line += "\x1b[" + std::to_string(pick(40)) + finals[pick(5)];
                }
                break;
            }
            case 4: { // ESC before a control character, or a string or designation cut off
                static const char* const broken[] = {"\x1b\x01", "\x1b(\x7f", "\x1b]x\x1b\x02",
                                                     "\x1b \t"};
                show(broken[pick(4)]);
                break;
            }
            default: { // a CSI cut off by a character that cannot continue it: shown
                static const char* const cut[] = {"\x1b[3\t", "\x1b[1;\x7f", "\x1b[\x01"};
                show(cut[pick(3)]);
                break;
            }
            }
        }
        if (pick(4) == 0) {
            show("\x1b[3"); // cut off by the line's end
        }
        SCOPED_TRACE(line);
        std::u16string got;
        StyleRuns runs;
        stripSgr(u16(line), got, &runs);
        ASSERT_EQ(got, shown);
        ASSERT_EQ(looksOf(got.size(), runs), looks);
        // Neighbouring runs of one look are one run.
        for (std::size_t k = 1; k < runs.size(); ++k) {
            EXPECT_FALSE(runs[k - 1].end == runs[k].start && runs[k - 1].sameStyle(runs[k]));
        }
    }
}

TEST(SgrParser, InPlaceReplacesTheRuns)
{
    std::u16string text = u"x\x1b[1my";
    StyleRuns runs(3);
    stripSgrInPlace(text, &runs);
    EXPECT_EQ(text, u"xy");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].start, 1u);
    text = u"no escapes";
    stripSgrInPlace(text, &runs);
    EXPECT_EQ(text, u"no escapes");
    EXPECT_TRUE(runs.empty());
}
