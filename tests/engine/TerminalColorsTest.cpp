// The document with terminal colours on: the window, Find, copy and the filter all work
// on the text as shown, checked against lines whose shown text is built along with them.

#include "EngineTestSupport.h"

#include "engine/LineFilter.h"

#include <gtest/gtest.h>

#include <random>

using namespace quilltest;

namespace {

struct ColouredFile {
    std::string bytes;
    std::vector<std::u16string> shown; // per line, without terminator
};

// Lines of words with SGR and other sequences between and inside them, a few broken.
ColouredFile randomFile(std::mt19937& random, int lines)
{
    auto pick = [&](unsigned n) { return unsigned(random() % n); };
    static const char* const words[] = {"error", "ok", "Warn", "disk", "31m", "[0m", " "};
    static const char* const hidden[] = {"\x1b[31m", "\x1b[0m", "\x1b[1;38;5;200m",
                                         "\x1b[K",   "\x1b[m",  "\x1b[38;2;1;2;3m"};
    static const char* const broken[] = {"\x1b(\x01", "\x1b\x7f"};
    ColouredFile file;
    for (int l = 0; l < lines; ++l) {
        std::u16string shown;
        for (unsigned k = pick(7); k > 0; --k) {
            const unsigned kind = pick(6);
            if (kind == 5) {
                // A character beyond ASCII, whole or broken by a sequence between its bytes
                // (each half is then a character of its own that cannot be decoded).
                if (pick(2) == 0) {
                    file.bytes += "caf\xC3\xA9";
                    shown += u"caf\u00E9";
                } else {
                    file.bytes += std::string("caf\xC3") + hidden[pick(6)] + "\xA9";
                    shown += u"caf\uFFFD\uFFFD";
                }
            } else if (kind < 2) {
                std::string word = words[pick(7)];
                // A sequence inside a word: shown, the word is whole again.
                if (word.size() > 2 && pick(3) == 0) {
                    const std::size_t at = 1 + pick(unsigned(word.size() - 1));
                    file.bytes += word.substr(0, at) + hidden[pick(6)] + word.substr(at);
                } else {
                    file.bytes += word;
                }
                shown += std::u16string(word.begin(), word.end());
            } else if (kind < 4) {
                file.bytes += hidden[pick(6)];
            } else {
                const std::string b = broken[pick(2)];
                file.bytes += b;
                shown += std::u16string(b.begin(), b.end());
            }
        }
        file.bytes += pick(4) == 0 ? "\r\n" : "\n";
        file.shown.push_back(shown);
    }
    return file;
}

std::u16string folded(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c + 32);
        }
    }
    return text;
}

class TerminalColorsTest : public ::testing::Test {
  protected:
    void open(const std::string& bytes)
    {
        settings.store.setBool(Setting::TerminalColors, true);
        path = settings.dir.file("colours.log");
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
};

} // namespace

TEST_F(TerminalColorsTest, TheOpenFileIsShownAsTheSettingSays)
{
    open("a\x1b[31mb\x1b[0mc\n");
    ASSERT_TRUE(doc.terminalColors());
    EXPECT_EQ(doc.line(0), u"abc");
    {
        std::lock_guard lock(doc.docAccess());
        (void)doc.lineView(0);
        const StyleRuns& runs = doc.lineRuns(0);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].start, 1u);
        EXPECT_EQ(runs[0].end, 2u);
        EXPECT_EQ(runs[0].text, 0x0000CDu);
    }
    doc.setSelection(0, 0, 1, 1);
    const std::uint64_t generation = doc.contentGeneration();
    doc.setTerminalColors(false);
    EXPECT_FALSE(doc.selection().valid); // columns of the old text name other characters
    EXPECT_NE(doc.contentGeneration(), generation);
    EXPECT_EQ(doc.line(0), u"a\x1b[31mb\x1b[0mc");
    std::lock_guard lock(doc.docAccess());
    (void)doc.lineView(0);
    EXPECT_TRUE(doc.lineRuns(0).empty());
}

TEST_F(TerminalColorsTest, AGrowingLastLineIsShownWholeEachTime)
{
    open("x\n\x1b[3");
    EXPECT_EQ(doc.line(1), u"\x1b[3"); // cut off: shown as it is, for now
    for (const std::string piece : {"1mre", "d\x1b", "[0m!"}) {
        appendFile(path, piece);
        {
            std::lock_guard lock(doc.docAccess());
            doc.appendText(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size(),
                           false);
        }
    }
    std::lock_guard lock(doc.docAccess());
    EXPECT_EQ(doc.lineView(1), u"red!");
    ASSERT_EQ(doc.lineRuns(1).size(), 1u);
    EXPECT_EQ(doc.lineRuns(1)[0].end, 3u);
}

TEST_F(TerminalColorsTest, FindCopyAndFilterSeeTheShownText)
{
    std::mt19937 random(25);
    const ColouredFile file = randomFile(random, 400);
    open(file.bytes);
    ASSERT_EQ(doc.lineCount(), file.shown.size());
    for (std::size_t i = 0; i < file.shown.size(); i += 37) {
        EXPECT_EQ(doc.line(LineNumber(i)), file.shown[i]) << "line " << i;
    }

    // Find, downwards from the top, visits exactly the model's occurrences.
    for (const std::u16string pattern : {u"error", u"31m", u"k w", u"\x1b(", u"caf\u00E9"}) {
        SCOPED_TRACE(std::string(pattern.begin(), pattern.end()));
        std::vector<std::pair<LineNumber, std::int32_t>> want;
        for (std::size_t i = 0; i < file.shown.size(); ++i) {
            const std::u16string line = folded(file.shown[i]);
            for (std::size_t at = line.find(pattern); at != std::u16string::npos;
                 at = line.find(pattern, at + pattern.size())) {
                want.emplace_back(LineNumber(i), std::int32_t(at));
            }
        }
        std::vector<std::pair<LineNumber, std::int32_t>> got;
        doc.setFindPosition(0, 0);
        while (got.size() <= want.size() && doc.find(pattern, true, 0) && doc.selection().valid) {
            const DocSelection s = doc.selection();
            if (!got.empty() && std::pair(s.startLine, s.startCol) <= got.back()) {
                break; // wrapped around
            }
            got.emplace_back(s.startLine, s.startCol);
        }
        EXPECT_EQ(got, want);
    }

    // Copy of lines 3..9, from column 1 of the first to column 2 of the last.
    doc.setSelection(3, 9, 1, 2);
    std::u16string want = file.shown[3].size() > 1 ? file.shown[3].substr(1) : u"";
    for (std::size_t i = 4; i <= 9; ++i) {
        want += u"\n";
        want += i == 9 ? file.shown[i].substr(0, 3) : file.shown[i];
    }
    EXPECT_EQ(doc.selectedText(), want);

    // The filter, literal and regular expression, in and out of case.
    LineFilter filter(doc, nullptr);
    for (const FilterTerm& term :
         {FilterTerm{u"error", false, false, false}, FilterTerm{u"Warn", true, false, false},
          FilterTerm{u"31m", false, false, false}, FilterTerm{u"caf\u00E9", true, false, false},
          FilterTerm{u"f\uFFFD", true, false, false}, FilterTerm{u"ok\\s*disk", false, false, true},
          FilterTerm{u"^\\[0m", false, false, true}}) {
        SCOPED_TRACE(std::string(term.text.begin(), term.text.end()));
        ASSERT_TRUE(filter.setFilter(FilterSet{term, {}}).empty());
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        std::vector<LineNumber> rows;
        for (std::size_t i = 0; i < filter.matches().size(); ++i) {
            rows.push_back(filter.matches().at(i));
        }
        std::vector<LineNumber> expected;
        for (std::size_t i = 0; i < file.shown.size(); ++i) {
            const std::u16string& line = file.shown[i];
            bool hit = false;
            if (term.text == u"ok\\s*disk") {
                const std::u16string f = folded(line);
                for (std::size_t at = f.find(u"ok"); at != std::u16string::npos && !hit;
                     at = f.find(u"ok", at + 1)) {
                    std::size_t k = at + 2;
                    while (k < f.size() && f[k] == u' ') {
                        ++k;
                    }
                    hit = f.compare(k, 4, u"disk") == 0;
                }
            } else if (term.text == u"^\\[0m") {
                hit = line.rfind(u"[0m", 0) == 0;
            } else {
                hit =
                    (term.matchCase ? line : folded(line)).find(term.text) != std::u16string::npos;
            }
            if (hit) {
                expected.push_back(LineNumber(i));
            }
        }
        EXPECT_EQ(rows, expected);
    }
}
