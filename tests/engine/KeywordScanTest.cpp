// The one-pass keyword scan against KeywordMatcher, line by line, on random files: random
// keyword lists (case, whole word, disabled, match-only, texts beyond ASCII, texts no byte
// search can take) over random lines (delimiters, CR LF, lone CRs, terminal sequences), in
// UTF-8, UTF-16 of both byte orders and ISO-8859-1, through runs that start anywhere. The
// lines are written as text here and encoded here; the text each line shows is worked out
// here too, and findKeyword on it is the reference.

#include "engine/KeywordScan.h"
#include "engine/KeywordMatcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using quill::TextEncoding;

// Pieces of text that keywords and lines share, so that hits, near misses and words that
// are not whole turn up often.
const std::u16string Words[] = {u"err",  u"ERROR", u"Err",        u"error:",        u"fail",
                                u"a",    u"ab",    u"x.y",        u"\u00E9t\u00E9", u"\u20ACuro",
                                u"warn", u"W",     u"\U0001D11E", u"n\u00E4h"};
const std::u16string Gaps[] = {u" ", u"\t", u",", u";", u":", u"\\",
                               u"/", u".",  u"-", u"",  u"_", u"\r"};

struct Shown {
    std::u16string bytesText; // what is written to the file
    std::u16string shown;     // what the line shows
};

// A random line as written and as shown (its carriage returns still to be applied); with terminal
// colours a complete sequence shows as nothing, an ESC not followed by '[' as itself.
Shown randomLine(std::mt19937& random, bool terminal)
{
    Shown line;
    const int pieces = int(random() % 7);
    for (int i = 0; i < pieces; ++i) {
        std::u16string piece;
        switch (random() % 5) {
        case 0:
            piece = Gaps[random() % std::size(Gaps)];
            break;
        case 1:
            if (random() % 3 == 0) {
                const std::u16string sequence = random() % 2 ? u"\x1B[31m" : u"\x1B[0;1m";
                line.bytesText += sequence;
                line.shown += terminal ? u"" : sequence;
                continue;
            }
            piece = random() % 4 == 0 ? u"\x1Bx" : u"q";
            break;
        default: {
            piece = Words[random() % std::size(Words)];
            if (random() % 3 == 0) {
                for (char16_t& c : piece) {
                    c = c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
                }
            }
            break;
        }
        }
        line.bytesText += piece;
        line.shown += piece;
    }
    return line;
}

// A terminal's writing of a line: a carriage return puts the cursor back at the first
// column, each character (a surrogate pair one) replaces the one under it.
std::u16string written(const std::u16string& text)
{
    std::vector<std::u16string> screen;
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            cursor = 0;
            continue;
        }
        const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] < 0xDC00;
        const std::u16string cell = text.substr(i, pair ? 2 : 1);
        i += pair ? 1 : 0;
        if (cursor < screen.size()) {
            screen[cursor] = cell;
        } else {
            screen.push_back(cell);
        }
        ++cursor;
    }
    std::u16string out;
    for (const std::u16string& cell : screen) {
        out += cell;
    }
    return out;
}

bool encodable(const std::u16string& text, TextEncoding form)
{
    if (form != TextEncoding::Latin1) {
        return true;
    }
    for (char16_t c : text) {
        if (c > 0xFF) {
            return false;
        }
    }
    return true;
}

std::string encode(const std::u16string& text, TextEncoding form)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (form == TextEncoding::Utf16Le) {
            out += char(c & 0xFF);
            out += char(c >> 8);
        } else if (form == TextEncoding::Utf16Be) {
            out += char(c >> 8);
            out += char(c & 0xFF);
        } else if (form == TextEncoding::Latin1) {
            out += char(c);
        } else if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c < 0xDC00) {
            const char32_t full = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[++i] - 0xDC00);
            out += char(0xF0 | (full >> 18));
            out += char(0x80 | ((full >> 12) & 0x3F));
            out += char(0x80 | ((full >> 6) & 0x3F));
            out += char(0x80 | (full & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<Keyword> randomKeywords(std::mt19937& random)
{
    std::vector<Keyword> keywords;
    const int count = 1 + int(random() % 8);
    for (int i = 0; i < count; ++i) {
        std::u16string text = Words[random() % std::size(Words)];
        if (random() % 4 == 0) {
            text += Gaps[random() % 9] + Words[random() % std::size(Words)];
        }
        if (random() % 25 == 0) {
            // Texts whose bytes cannot be told in advance, or no text at all.
            text = random() % 2 ? u"" : u"\uFFFD";
        }
        Keyword keyword(text, 0, 0x000001u + unsigned(i), random() % 2 == 0, random() % 2 == 0,
                        random() % 6 != 0);
        keyword.matchOnly = random() % 6 == 0;
        keywords.push_back(keyword);
    }
    return keywords;
}

} // namespace

TEST(KeywordScan, EveryLinesKeywordIsKeywordMatchersOnRandomFiles)
{
    const TextEncoding forms[] = {TextEncoding::Utf8, TextEncoding::Utf16Le, TextEncoding::Utf16Be,
                                  TextEncoding::Latin1};
    int decided = 0;
    int bytesOnly = 0;
    for (unsigned seed = 1; seed <= 600; ++seed) {
        std::mt19937 random(seed);
        const TextEncoding form = forms[seed % 4];
        const bool terminal = random() % 3 == 0;
        const std::vector<Keyword> keywords = randomKeywords(random);
        std::string bytes;
        std::vector<FileOffset> starts{0};
        std::vector<std::u16string> shown;
        const int lines = 1 + int(random() % 60);
        for (int i = 0; i < lines; ++i) {
            Shown line = randomLine(random, terminal);
            if (!encodable(line.bytesText, form)) {
                --i;
                continue;
            }
            const bool last = i + 1 == lines;
            const std::u16string end = last && random() % 2 ? u"" : random() % 3 ? u"\n" : u"\r\n";
            bytes += encode(line.bytesText + end, form);
            starts.push_back(FileOffset(bytes.size()));
            // A CR the bytes end with, or that comes before the LF, ends the line.
            if ((end.empty() || end == u"\n") && !line.bytesText.empty() &&
                line.bytesText.back() == u'\r') {
                line.shown.pop_back();
            }
            shown.push_back(written(line.shown));
        }
        // A run of the lines from anywhere to anywhere after it.
        const std::size_t first = random() % shown.size();
        const std::size_t count = 1 + random() % (shown.size() - first);
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data()) + starts[first];
        for (const bool vectors : {true, false}) {
            KeywordScan scan(keywords, form, terminal);
            scan.setVectorAllowed(vectors);
            bytesOnly += scan.presearch() ? 1 : 0;
            std::vector<KeywordScan::Line> found;
            scan.scan(data, starts.data() + first, count, found);
            std::vector<KeywordScan::Line> expected;
            for (std::size_t row = 0; row < count; ++row) {
                if (const Keyword* keyword = findKeyword(keywords, shown[first + row])) {
                    expected.push_back(
                        {std::uint32_t(row), std::uint32_t(keyword - keywords.data())});
                }
            }
            decided += int(expected.size());
            ASSERT_EQ(found, expected) << "seed " << seed << (vectors ? "" : " plain");
        }
    }
    EXPECT_GT(decided, 2000) << "the files hold keywords";
    EXPECT_GT(bytesOnly, 1000) << "mostly searched by bytes";
}
