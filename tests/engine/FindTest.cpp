// Find: the cases of the find dialog, and the fast byte-level search against the plain
// line-by-line rule on random files.

#include "EngineTestSupport.h"
#include "support/Sanitizers.h"

#include "engine/KeywordMatcher.h"
#include "engine/LineText.h"
#include "platform/NarrowCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace quilltest;

namespace {

struct Outcome {
    bool found = false;
    LineNumber line = 0;
    std::int32_t col = 0;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o)
{
    return out << (o.found ? "found " : "none ") << o.line << ":" << o.col;
}

std::u16string lower(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c + 32);
        }
    }
    return text;
}

// The rule as the find dialog describes it, with reversed strings for the way up.
Outcome referenceFind(LogDocument& doc, std::u16string pattern, bool down, unsigned flags,
                      FindPosition from)
{
    const bool matchCase = flags & SearchMatchCase;
    const bool wholeWord = flags & SearchWholeWord;
    if (!matchCase) {
        pattern = lower(pattern);
    }
    const std::int64_t plen = std::int64_t(pattern.size());
    const LineNumber count = doc.lineCount();
    if (down) {
        for (LineNumber line = from.line; line < count; ++line) {
            std::u16string text = doc.line(line);
            if (!matchCase) {
                text = lower(text);
            }
            std::int64_t pos = line == from.line ? from.col : 0;
            if (pos > std::int64_t(text.size())) {
                continue;
            }
            for (;;) {
                const std::size_t c = text.find(pattern, std::size_t(pos));
                if (c == std::u16string::npos) {
                    break;
                }
                if (!wholeWord || wholeWordAt(text, pattern.size(), c)) {
                    return {true, line, std::int32_t(c)};
                }
                pos = std::int64_t(c) + plen;
            }
        }
        return {};
    }
    std::u16string reversed(pattern.rbegin(), pattern.rend());
    for (std::int64_t line = std::min<std::int64_t>(from.line, std::int64_t(count) - 1); line >= 0;
         --line) {
        std::u16string text = doc.line(LineNumber(line));
        if (!matchCase) {
            text = lower(text);
        }
        const std::int64_t len = std::int64_t(text.size());
        const std::u16string rev(text.rbegin(), text.rend());
        std::int64_t pos = LineNumber(line) == from.line ? len - from.col : 0;
        if (pos < 0) {
            continue;
        }
        for (;;) {
            const std::size_t e = rev.find(reversed, std::size_t(pos));
            if (e == std::u16string::npos) {
                break;
            }
            if (!wholeWord || wholeWordAt(rev, reversed.size(), e)) {
                return {true, LineNumber(line), std::int32_t(len - std::int64_t(e) - plen)};
            }
            pos = std::int64_t(e) + plen;
        }
    }
    return {};
}

class FindTest : public ::testing::Test {
  protected:
    void open(const std::string& bytes)
    {
        path = settings.dir.file("find.log");
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
    }
    Outcome find(const std::u16string& text, bool down, unsigned flags, FindPosition from)
    {
        doc.setFindPosition(from.line, from.col);
        doc.clearSelection();
        Outcome o;
        o.found = doc.find(text, down, flags);
        const DocSelection s = doc.selection();
        if (o.found && s.valid) {
            o.line = s.startLine;
            o.col = s.startCol;
            EXPECT_EQ(s.endLine, s.startLine);
            EXPECT_EQ(s.endCol, s.startCol + std::int32_t(text.size()) - 1);
            EXPECT_EQ(doc.findPosition().line, s.startLine);
            EXPECT_EQ(doc.findPosition().col,
                      down ? s.startCol + std::int32_t(text.size()) : s.startCol);
        } else if (o.found) {
            o.found = false; // "found" without a selection: the empty document
        }
        return o;
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
};

} // namespace

TEST_F(FindTest, DialogCases)
{
    open("an Error at 12:00\n" // 0
         "errno err\n"         // 1
         "the err: disk\n"     // 2
         "disk/err\n"          // 3
         "err\n"               // 4
         "kerr error\n"        // 5
         "Zebra crossing\n");  // 6: Z, the last capital, folds too
    struct Row {
        const char16_t* text;
        bool down;
        unsigned flags;
        FindPosition from;
        Outcome expected;
    };
    const Row rows[] = {
        {u"error", true, 0, {0, 0}, {true, 0, 3}},
        {u"error", true, SearchMatchCase, {0, 0}, {true, 5, 5}},
        {u"err", true, SearchWholeWord, {0, 0}, {true, 1, 6}}, // errno is skipped
        {u"err", true, SearchWholeWord, {1, 7}, {true, 2, 4}},
        {u"err", false, SearchWholeWord, {5, 10}, {true, 4, 0}},
        {u"err", false, SearchWholeWord, {3, 0}, {true, 2, 4}}, // column 0: nothing on line 3
        {u"an", false, 0, {0, 10}, {true, 0, 0}},
        {u"Error", false, SearchMatchCase, {0, 10}, {true, 0, 3}},
        {u"Error", false, SearchMatchCase, {0, 7}, {}}, // ends beyond column 7
        {u"12", true, 0, {0, 40}, {}},                  // start beyond the line's end
        {u"disk", true, 0, {0, 40}, {true, 2, 9}},
        {u"missing", true, 0, {0, 0}, {}},
        {u"missing", false, 0, {5, 3}, {}},
        {u"kerr", false, 0, {9, 0}, {true, 5, 0}}, // from beyond the last line
        {u"zebra", true, 0, {0, 0}, {true, 6, 0}},
        {u"ZEBRA", false, 0, {9, 0}, {true, 6, 0}},
        {u"zebra", true, SearchMatchCase, {0, 0}, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(find(row.text, row.down, row.flags, row.from), row.expected)
            << std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text))
            << (row.down ? " down" : " up") << " flags " << row.flags;
    }
}

TEST(FindFold, FoldsExactlyTheCapitalsAToZ)
{
    // The neighbours of the range ('@' before A, '[' after Z) and its ends.
    std::u16string text = u"AZaz@[`{\u00C0";
    foldAsciiCase(text);
    EXPECT_EQ(text, u"azaz@[`{\u00C0");
}

TEST_F(FindTest, BackwardFromColumnTenOfLineZeroFindsColumnTwo)
{
    open("xxabcxxxxxxxxx\n");
    EXPECT_EQ(find(u"abc", false, 0, {0, 10}), (Outcome{true, 0, 2}));
    EXPECT_GE(host.ensures, 1);
}

TEST_F(FindTest, EmptyDocumentReportsSuccessAndSelectsNothing)
{
    open("");
    doc.clearSelection();
    EXPECT_TRUE(doc.find(u"x", true, 0));
    EXPECT_FALSE(doc.selection().valid);
    EXPECT_EQ(host.ensures, 0);
}

TEST_F(FindTest, NoMatchLeavesSelectionAndPosition)
{
    open("one\ntwo\n");
    doc.setSelection(1, 1, 0, 1);
    doc.setFindPosition(1, 1);
    EXPECT_FALSE(doc.find(u"three", true, 0));
    EXPECT_FALSE(doc.find(u"", true, 0));
    EXPECT_TRUE(doc.selection().valid);
    EXPECT_EQ(doc.selection().startLine, 1u);
    EXPECT_EQ(doc.findPosition().col, 1);
}

TEST_F(FindTest, TextAcrossTheBoundaryOfTwoReadsIsFound)
{
    // The byte-level search reads 256 KiB at a time: downwards from the start of line 1,
    // upwards from the end of the file. Put one text across each boundary.
    const std::size_t read = 256 * 1024;
    const std::string filler = "filler line with nothing\n"; // line 0 too
    const std::size_t total = 1000000;
    std::string bytes;
    auto fillTo = [&](std::size_t offset) {
        while (bytes.size() + filler.size() < offset) {
            bytes += filler;
        }
        bytes += std::string(offset - 1 - bytes.size(), 'y') + "\n";
    };
    fillTo(filler.size() + read - 5 - 3);
    bytes += "yyyNEEDLE-one\n";
    fillTo(total - read - 5 - 3);
    bytes += "yyyNEEDLE-two\n";
    fillTo(total);
    ASSERT_EQ(bytes.size(), total);
    open(bytes);
    const LineNumber count = doc.lineCount();
    const Outcome one = find(u"needle-one", true, 0, {0, 0});
    ASSERT_TRUE(one.found);
    EXPECT_EQ(one.col, 3);
    EXPECT_EQ(doc.lineStart(one.line) + 3, FileOffset(filler.size() + read - 5));
    const Outcome two = find(u"NEEDLE-TWO", false, 0, {count, 0});
    ASSERT_TRUE(two.found);
    EXPECT_EQ(doc.lineStart(two.line) + 3, FileOffset(total - read - 5));
    EXPECT_EQ(find(u"needle-one", false, SearchMatchCase, {count, 0}), Outcome{});
    EXPECT_EQ(find(u"NEEDLE-one", false, SearchMatchCase, {two.line, 0}), one);
    EXPECT_EQ(find(u"NEEDLE-two", true, SearchMatchCase, {one.line, 4}), two);
}

TEST_F(FindTest, ByteLevelSearchEqualsTheLineRuleOnRandomFiles)
{
    const char16_t* words[] = {u"err",       u"Error", u"errno",  u"disk",
                               u"d\u00EFsk", u"ab",    u"a",      u"\u4E2D\u6587",
                               u"x.y",       u"kERR",  u"\u240D", u"5\u20AC"};
    const char16_t* seps[] = {u" ", u"\t", u",", u".", u"/", u":", u";", u"\\", u"", u"-"};
    std::mt19937 rng(4242);
    // Files 0-3: UTF-8 and UTF-16; 4: a single-byte narrow set; 5: a multi-byte one.
    const char* narrowSets[] = {"UTF-8", "UTF-8", "UTF-8", "UTF-8", "ISO-8859-15", "EUC-JP"};
    for (int file = 0; file < 6; ++file) {
        quill::setNarrowCharsetForTesting(narrowSets[file]);
        const bool utf16 = file < 4 && file % 2 == 1;
        std::u16string text;
        // A quarter of the text under a sanitizer, where every Find is slow.
        while (text.size() < (UnderSanitizer ? 40000u : 160000u)) {
            const int n = int(rng() % 8);
            for (int i = 0; i < n; ++i) {
                text += words[rng() % std::size(words)];
                text += seps[rng() % std::size(seps)];
            }
            text += (rng() % 4 == 0) ? u"\r\n" : (rng() % 9 == 0 ? u"\r" : u"\n");
        }
        std::string bytes;
        if (utf16) {
            bytes = "\xFF\xFE" + utf16le(text);
        } else {
            bytes = quill::utf16ToNarrow(text);
            for (int i = 0; i < 20; ++i) {
                bytes[rng() % bytes.size()] = '\xFF'; // invalid bytes decode as U+FFFD
            }
        }
        open(bytes);
        const LineNumber count = doc.lineCount();
        for (int query = 0; query < quilltest::rounds(60); ++query) {
            std::u16string pattern = words[rng() % std::size(words)];
            if (rng() % 3 == 0) {
                pattern += seps[rng() % std::size(seps)];
            }
            if (rng() % 2) {
                std::transform(pattern.begin(), pattern.end(), pattern.begin(), [](char16_t c) {
                    return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
                });
            }
            const bool down = rng() % 2;
            const unsigned flags =
                (rng() % 2 ? SearchMatchCase : 0) | (rng() % 2 ? SearchWholeWord : 0);
            const FindPosition from{LineNumber(rng() % (count + 2)), std::int32_t(rng() % 30)};
            const Outcome expected = referenceFind(doc, pattern, down, flags, from);
            ASSERT_EQ(find(pattern, down, flags, from), expected)
                << "file " << file << " query " << query << " from " << from.line << ":" << from.col
                << (down ? " down" : " up") << " flags " << flags;
        }
    }
    quill::setNarrowCharsetForTesting("UTF-8");
}
