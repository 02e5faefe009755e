// The keyword lines of a whole file found off the main thread: next and previous against a
// line-by-line model on random files (the model is a plain substring test of each line,
// written here), through appends (which read only the new lines), an open last line, a
// reload and another keyword list; the strip's buckets when the file outgrows them; and the
// keyword of every line against KeywordMatcher on the text the view shows.

#include "EngineTestSupport.h"

#include "engine/KeywordLines.h"
#include "engine/KeywordMatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <thread>

#include <unistd.h>

using namespace quilltest;

namespace {

class KeywordLinesTest : public ::testing::Test {
  protected:
    void open(const std::string& bytes)
    {
        path = settings.dir.file("k.log");
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
    }

    void append(const std::string& bytes)
    {
        appendFile(path, bytes);
        std::lock_guard lock(doc.docAccess());
        doc.appendText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), false);
    }

    void sync(KeywordLines& lines)
    {
        lines.sync();
        ASSERT_TRUE(lines.waitIdle(std::chrono::seconds(30)));
    }

    // The model: which complete lines hold one of the texts (case kept).
    static std::vector<LineNumber> model(const std::string& bytes,
                                         const std::vector<std::string>& texts)
    {
        std::vector<LineNumber> out;
        LineNumber line = 0;
        std::size_t at = 0;
        for (std::size_t nl; (nl = bytes.find('\n', at)) != std::string::npos; at = nl + 1) {
            const std::string text = bytes.substr(at, nl - at);
            for (const std::string& t : texts) {
                if (text.find(t) != std::string::npos) {
                    out.push_back(line);
                    break;
                }
            }
            ++line;
        }
        return out;
    }

    void checkAgainst(const KeywordLines& lines, const std::vector<LineNumber>& expected,
                      LineNumber count, const std::string& where)
    {
        for (LineNumber from = 0; from <= count; ++from) {
            LineNumber got = 0;
            const auto after = std::upper_bound(expected.begin(), expected.end(), from);
            const KeywordLines::Outcome down = lines.neighbour(from, true, got);
            if (after == expected.end()) {
                ASSERT_EQ(down, KeywordLines::Outcome::None) << where << " from " << from;
            } else {
                ASSERT_EQ(down, KeywordLines::Outcome::Found) << where << " from " << from;
                ASSERT_EQ(got, *after) << where << " from " << from;
            }
            const auto before = std::lower_bound(expected.begin(), expected.end(), from);
            const KeywordLines::Outcome up = lines.neighbour(from, false, got);
            if (before == expected.begin()) {
                ASSERT_EQ(up, KeywordLines::Outcome::None) << where << " from " << from;
            } else {
                ASSERT_EQ(up, KeywordLines::Outcome::Found) << where << " from " << from;
                ASSERT_EQ(got, *(before - 1)) << where << " from " << from;
            }
        }
    }

    // Every keyword line found, walked by Neighbour.
    static std::vector<LineNumber> found(const KeywordLines& lines)
    {
        std::vector<LineNumber> out;
        LineNumber got = 0;
        if (lines.neighbour(1, false, got) == KeywordLines::Outcome::Found) {
            out.push_back(got);
        }
        for (LineNumber from = 0; lines.neighbour(from, true, got) == KeywordLines::Outcome::Found;
             from = got) {
            out.push_back(got);
        }
        return out;
    }

    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
};

std::string randomLines(std::mt19937& random, int count)
{
    static const char* words[] = {"alpha", "ERROR", "warn", "beta", "error", "x", "WARNING", ""};
    std::string out;
    for (int i = 0; i < count; ++i) {
        const int n = int(random() % 4);
        for (int w = 0; w < n; ++w) {
            out += words[random() % 8];
            out += random() % 5 == 0 ? "\t" : " ";
        }
        out += "\n";
    }
    return out;
}

} // namespace

TEST_F(KeywordLinesTest, NextAndPreviousAgreeWithALineModelThroughAppendsAndAReload)
{
    settings.store.saveKeywords({Keyword(u"ERROR", 0x0000FF, 0x0000FF, true, false, true),
                                 Keyword(u"warn", 0x00FF00, 0x00FF00, true, false, true),
                                 Keyword(u"beta", 0, 0, true, false, false)}); // disabled
    const std::vector<std::string> texts{"ERROR", "warn"};
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        std::string bytes = randomLines(random, 200 + int(random() % 300));
        open(bytes);
        KeywordLines lines(doc, nullptr);
        sync(lines);
        const std::string where = "seed " + std::to_string(seed);
        checkAgainst(lines, model(bytes, texts), doc.lineCount(), where);
        for (int round = 0; round < 4; ++round) {
            const std::uint64_t readBefore = lines.linesRead();
            const LineNumber countBefore = doc.lineCount();
            // Ends on an open line half the time: it is checked once it is ended.
            std::string more = randomLines(random, 1 + int(random() % 50));
            if (random() % 2) {
                more += "half ERR";
            }
            append(more);
            bytes += more;
            sync(lines);
            ASSERT_LE(lines.linesRead() - readBefore, doc.lineCount() - countBefore + 1u)
                << "an append reads only the new lines";
            checkAgainst(lines, model(bytes, texts), doc.lineCount(), where);
            if (bytes.back() != '\n') {
                append("OR\n"); // completes "half ERROR"
                bytes += "OR\n";
                sync(lines);
                checkAgainst(lines, model(bytes, texts), doc.lineCount(), where + " ended");
            }
        }
        // A reload with other lines starts over.
        bytes = randomLines(random, 100);
        writeFile(path, bytes);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
        sync(lines);
        checkAgainst(lines, model(bytes, texts), doc.lineCount(), where + " reloaded");
    }
}

TEST_F(KeywordLinesTest, AnotherKeywordListStartsOverAndNoKeywordsFindNothing)
{
    open("one error\ntwo\nthree warn\n");
    KeywordLines lines(doc, nullptr);
    sync(lines);
    LineNumber got = 0;
    EXPECT_EQ(lines.neighbour(0, true, got), KeywordLines::Outcome::None) << "no keywords";
    settings.store.saveKeywords({Keyword(u"WARN", 0, 0x123456, false, false, true)});
    doc.reloadKeywords();
    sync(lines);
    ASSERT_EQ(lines.neighbour(0, true, got), KeywordLines::Outcome::Found);
    EXPECT_EQ(got, 2u) << "case ignored as the keyword asks";
    EXPECT_EQ(lines.neighbour(2, true, got), KeywordLines::Outcome::None);
    ASSERT_EQ(lines.neighbour(2, false, got), KeywordLines::Outcome::None) << "strictly before";
    const KeywordLines::Overview overview = lines.overview();
    ASSERT_EQ(overview.backgrounds, std::vector<ColorRef>{0x123456});
    EXPECT_EQ(overview.checked, 3u);
}

TEST_F(KeywordLinesTest, BucketsMergeWhenTheFileOutgrowsThemAndKeepTheFirstKeyword)
{
    // Keyword b on line 1, a on line 2: bucket 0 keeps b (the first line's keyword) at every
    // merge. Keyword a alone on the last line of the file.
    const LineNumber count = LineNumber(KeywordLines::MaxBuckets) * 4 + 3;
    std::string bytes = "x\nbbb\naaa\n";
    for (LineNumber i = 3; i + 1 < count; ++i) {
        bytes += "x\n";
    }
    bytes += "aaa\n";
    settings.store.saveKeywords({Keyword(u"aaa", 0, 0x0000AA, true, false, true),
                                 Keyword(u"bbb", 0, 0x0000BB, true, false, true)});
    open(bytes);
    KeywordLines lines(doc, nullptr);
    sync(lines);
    const KeywordLines::Overview overview = lines.overview();
    EXPECT_EQ(overview.checked, count);
    EXPECT_EQ(overview.shift, 3u) << "lines 0 .. 4 * MaxBuckets + 2 need 8 lines a bucket";
    ASSERT_LE(overview.buckets.size(), KeywordLines::MaxBuckets);
    EXPECT_EQ(overview.buckets.front(), 2) << "bbb, the first keyword line of bucket 0";
    EXPECT_EQ(overview.buckets.back(), 1) << "aaa on the last line";
    EXPECT_EQ(overview.buckets.size(), std::size_t((count - 1) >> 3) + 1);
    for (std::size_t b = 1; b + 1 < overview.buckets.size(); ++b) {
        ASSERT_EQ(overview.buckets[b], 0) << b;
    }
    EXPECT_LE(lines.memoryBytes(), 64u + KeywordLines::MaxBuckets) << "a few bytes a bucket";
}

TEST_F(KeywordLinesTest, KeywordsThatIgnoreCaseAreFoundInNarrowAndUtf16Files)
{
    settings.store.saveKeywords({Keyword(u"Fail", 0, 0x0000FF, false, false, true),
                                 Keyword(u"ZZ", 0, 0x00FF00, true, false, true)});
    for (const bool utf16 : {false, true}) {
        std::mt19937 random(utf16 ? 7 : 3);
        static const char* words[] = {"FAIL", "fail", "fAiL", "fa il", "zz", "ZZ", "x", "F"};
        std::string text;
        std::vector<LineNumber> expected;
        for (LineNumber line = 0; line < 400; ++line) {
            std::string row;
            for (int w = int(random() % 4); w > 0; --w) {
                row += words[random() % 8];
                row += ' ';
            }
            std::string lower = row;
            for (char& c : lower) {
                c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
            }
            if (lower.find("fail") != std::string::npos || row.find("ZZ") != std::string::npos) {
                expected.push_back(line);
            }
            text += row + "\n";
        }
        std::string bytes;
        if (utf16) {
            bytes = "\xFF\xFE";
            for (char c : text) {
                bytes += c;
                bytes += '\0';
            }
        } else {
            bytes = text;
        }
        open(bytes);
        ASSERT_EQ(doc.isUtf16(), utf16);
        KeywordLines lines(doc, nullptr);
        sync(lines);
        checkAgainst(lines, expected, doc.lineCount(), utf16 ? "UTF-16" : "narrow");
    }
}

TEST_F(KeywordLinesTest, TheFirstKeywordOfTheListThatMatchesALineIsItsColour)
{
    // "err" needs a whole word, so its byte hits prove nothing; "fail" and "warn" do.
    settings.store.saveKeywords({Keyword(u"err", 0, 0x0000AA, true, true, true),
                                 Keyword(u"fail", 0, 0x0000BB, true, false, true),
                                 Keyword(u"warn", 0, 0x0000CC, true, false, true)});
    open("fail err\nfail errx\nwarn fail\nerrx\nwarn\nnone\n");
    KeywordLines lines(doc, nullptr);
    sync(lines);
    const KeywordLines::Overview overview = lines.overview();
    ASSERT_EQ(overview.shift, 0u);
    EXPECT_EQ(overview.buckets, (std::vector<std::uint8_t>{1, 2, 2, 0, 3}))
        << "err as a word first; errx is none; fail before warn in the list";
}

TEST_F(KeywordLinesTest, EveryLinesKeywordIsWhatTheViewColoursItWithOnRandomFiles)
{
    // The reference: findKeyword on the text the view shows (line: the chosen encoding,
    // sequences hidden while terminal colours are on), line by line. Bytes no encoding
    // takes cleanly, a byte-order mark, CR LF and match-only keywords are among them.
    static const char* pieces[] = {
        "ERROR", "error:", "Err",         " ",        "\t",
        ".",     "/",      "warn",        "x",        "\xC3\xA9t\xC3\xA9",
        "\xE9",  "\x80",   "\r",          "\x1B[31m", "\x1B[0m",
        "ab",    "fail",   "\xEF\xBB\xBF"};
    const quill::TextEncoding encodings[] = {
        quill::TextEncoding::Automatic, quill::TextEncoding::Utf8, quill::TextEncoding::Latin1};
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        std::vector<Keyword> keywords;
        static const char16_t* texts[] = {u"ERROR", u"err",  u"warn", u"\u00E9t\u00E9",
                                          u"x.x",   u"fail", u"ab",   u"\u00E9"};
        for (int k = 0; k < 5; ++k) {
            Keyword keyword(texts[random() % 8], 0, 0x010000u * unsigned(k + 1), random() % 2 == 0,
                            random() % 2 == 0, random() % 5 != 0);
            keyword.matchOnly = random() % 5 == 0;
            keywords.push_back(keyword);
        }
        settings.store.saveKeywords(keywords);
        std::string bytes;
        for (int line = 0; line < 300; ++line) {
            for (int p = int(random() % 6); p > 0; --p) {
                bytes += pieces[random() % std::size(pieces)];
            }
            bytes += random() % 4 == 0 ? "\r\n" : "\n";
        }
        doc.setEncoding(encodings[seed % 3]);
        doc.setTerminalColors(seed % 2 == 0);
        open(bytes);
        std::vector<Keyword> loaded;
        settings.store.loadKeywords(loaded);
        KeywordLines lines(doc, nullptr);
        sync(lines);
        const KeywordLines::Overview overview = lines.overview();
        ASSERT_EQ(overview.shift, 0u);
        ASSERT_EQ(overview.checked, doc.lineCount());
        int coloured = 0;
        for (LineNumber line = 0; line < doc.lineCount(); ++line) {
            const Keyword* keyword = findKeyword(loaded, doc.line(line));
            const int expected = keyword != nullptr ? int(keyword - loaded.data()) + 1 : 0;
            const int got = line < overview.buckets.size() ? overview.buckets[line] : 0;
            ASSERT_EQ(got, expected) << "seed " << seed << " line " << line;
            coloured += expected != 0;
        }
        EXPECT_GT(coloured, 0) << "seed " << seed;
    }
}

TEST_F(KeywordLinesTest, PiecesTheWatcherAppendsAreSearchedWhereItHoldsThem)
{
    // As the watcher hands them over: pieces cut anywhere, lines split between two of them,
    // now and then an update of the views between two pieces.
    settings.store.saveKeywords({Keyword(u"ERROR", 0x0000FF, 0x0000FF, true, true, true),
                                 Keyword(u"warn", 0x00FF00, 0x00FF00, false, false, true)});
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 random(seed);
        std::string bytes = randomLines(random, 100);
        open(bytes);
        KeywordLines lines(doc, nullptr);
        sync(lines);
        const std::uint64_t readBefore = lines.bytesRead();
        std::vector<std::size_t> cuts; // where a piece ended inside a line
        for (int round = 0; round < 30; ++round) {
            const std::string more = randomLines(random, 1 + int(random() % 40));
            for (std::size_t at = 0; at < more.size();) {
                const std::size_t size =
                    std::min(more.size() - at, 1 + std::size_t(random() % 300));
                const std::string piece = more.substr(at, size);
                const FileOffset offset = FileOffset(bytes.size());
                append(piece);
                doc.tellAppendListener(offset, reinterpret_cast<const std::uint8_t*>(piece.data()),
                                       piece.size());
                bytes += piece;
                at += size;
                if (bytes.back() != '\n') {
                    cuts.push_back(bytes.size());
                }
                if (random() % 4 == 0) {
                    sync(lines);
                }
            }
        }
        // A line a cut split is read back whole from the file once it has ended.
        std::set<std::size_t> splitStarts;
        std::uint64_t splitBytes = 0;
        for (std::size_t cut : cuts) {
            const std::size_t start = bytes.rfind('\n', cut - 1) + 1;
            if (splitStarts.insert(start).second) {
                splitBytes += bytes.find('\n', cut) - start + 1;
            }
        }
        sync(lines);
        const std::string where = "seed " + std::to_string(seed);
        checkAgainst(lines, model(bytes, {"ERROR", "warn", "WARN"}), doc.lineCount(), where);
        EXPECT_LE(lines.bytesRead() - readBefore, splitBytes)
            << where << ": only lines split between pieces are read from the file";
    }
}

TEST_F(KeywordLinesTest, TerminalColoursOrCarriageReturnsSwitchedStartTheLinesOver)
{
    // Shown without its sequences line 1 holds ERROR as a word; with them it does not. Line 3
    // holds it while its carriage return is shown, not once the return is applied.
    settings.store.saveKeywords({Keyword(u"ERROR", 0, 0x0000FF, true, true, true)});
    open("plain\n\x1B[31mERROR\x1B[0m: disk\nplain\nERROR \rok: disk\n");
    KeywordLines lines(doc, nullptr);
    sync(lines);
    LineNumber got = 0;
    EXPECT_EQ(lines.neighbour(0, true, got), KeywordLines::Outcome::None) << "sequences shown";
    doc.setTerminalColors(true);
    sync(lines);
    ASSERT_EQ(lines.neighbour(0, true, got), KeywordLines::Outcome::Found) << "sequences hidden";
    EXPECT_EQ(got, 1u);
    doc.setTerminalColors(false);
    sync(lines);
    EXPECT_EQ(lines.neighbour(0, true, got), KeywordLines::Outcome::None) << "shown again";
    doc.setShowControlCharacters(true);
    sync(lines);
    ASSERT_EQ(lines.neighbour(0, true, got), KeywordLines::Outcome::Found) << "return shown";
    EXPECT_EQ(got, 3u);
    doc.setShowControlCharacters(false);
    sync(lines);
    EXPECT_EQ(lines.neighbour(0, true, got), KeywordLines::Outcome::None) << "return applied";
}

// With terminal colours on, a line is matched as shown: a keyword a sequence splits is
// found, one that only a sequence holds is not, nor one whose character a sequence broke.
TEST_F(KeywordLinesTest, WithTerminalColoursLinesAreMatchedAsShown)
{
    settings.store.saveKeywords({Keyword(u"ERROR", 0, 0x0000AA, true, false, true),
                                 Keyword(u"31m", 0, 0x0000BB, true, false, true),
                                 Keyword(u"caf\u00E9", 0, 0x0000CC, true, false, true)});
    for (const bool utf16 : {false, true}) {
        SCOPED_TRACE(utf16 ? "UTF-16" : "UTF-8");
        const std::vector<std::u16string> rows = {u"ER\x1b[31mROR here",
                                                  u"plain \x1b[31mred\x1b[0m",
                                                  u"text 31m shown",
                                                  u"caf\u00E9 ok",
                                                  u"nothing",
                                                  u"\x1b[1mERR\x1b[0mOR"};
        std::string bytes = utf16 ? "\xFF\xFE" : "";
        for (const std::u16string& row : rows) {
            for (char16_t c : row + u"\n") {
                if (utf16) {
                    bytes += char(c & 0xFF);
                    bytes += char(c >> 8);
                } else if (c == u'\u00E9') {
                    bytes += "\xC3\xA9";
                } else {
                    bytes += char(c);
                }
            }
        }
        if (!utf16) {
            bytes += "caf\xC3\x1b[1m\xA9\n"; // shows two characters that cannot decode
        }
        open(bytes);
        doc.setTerminalColors(true);
        KeywordLines lines(doc, nullptr);
        sync(lines);
        checkAgainst(lines, {0, 2, 3, 5}, doc.lineCount(), "as shown");
        EXPECT_EQ(lines.overview().buckets, (std::vector<std::uint8_t>{1, 0, 2, 3, 0, 1}));
        doc.setTerminalColors(false);
        sync(lines);
        checkAgainst(lines, {0, 1, 2, 3}, doc.lineCount(), "as written");
    }
}

TEST_F(KeywordLinesTest, AFileOfManyStretchesIsSearchedOnTwoThreadsAsLineByLine)
{
    settings.store.saveKeywords({Keyword(u"ERROR", 0x0000FF, 0x0000FF, true, false, true),
                                 Keyword(u"warn", 0x00FF00, 0x00FF00, true, false, true)});
    std::mt19937 random(9102);
    // Stretches of short lines around lines longer than what one thread takes at a time,
    // one with its keyword at the end: pieces without a line of their own come between.
    std::string bytes;
    for (int stretch = 0; stretch < 4; ++stretch) {
        bytes += randomLines(random, 30000);
        bytes += std::string(700'000 + std::size_t(stretch) * 1000, 'x') +
                 (stretch % 2 == 0 ? " warn\n" : "\n");
    }
    bytes += randomLines(random, 500);
    open(bytes);
    KeywordLines lines(doc, nullptr);
    sync(lines);
    checkAgainst(lines, model(bytes, {"ERROR", "warn"}), doc.lineCount(), "two threads");
}

// A file cut short on disk under the pass (the reload that would follow has not come yet):
// the lines of the stretch that cannot be read, and every later one, stay unchecked rather
// than pass for lines without keywords.
TEST_F(KeywordLinesTest, AFileCutShortUnderThePassLeavesWhatCannotBeReadUnchecked)
{
    settings.store.saveKeywords({Keyword(u"warn", 0x00FF00, 0x00FF00, true, false, true)});
    std::mt19937 random(5150);
    const std::string bytes = randomLines(random, 250000);
    open(bytes);
    const std::size_t kept = bytes.size() / 2;
    ASSERT_EQ(::truncate(path.c_str(), off_t(kept)), 0);
    KeywordLines lines(doc, nullptr);
    sync(lines);
    const LineNumber checked = lines.checkedLines();
    const LineNumber linesKept = LineNumber(std::count(bytes.begin(), bytes.begin() + kept, '\n'));
    EXPECT_LE(checked, linesKept) << "of " << doc.lineCount();
    EXPECT_GT(checked, 0u) << "the stretches before the cut are read";
    // What was checked is what the lines hold.
    std::vector<LineNumber> expected = model(bytes, {"warn"});
    expected.erase(std::lower_bound(expected.begin(), expected.end(), checked), expected.end());
    EXPECT_EQ(found(lines), expected);
}

// Another keyword list given while a pass is under way, at random moments: the lines found
// are the new list's, none of the old pass's stretches are recorded after it started over.
TEST_F(KeywordLinesTest, AListChangedUnderThePassLeavesNothingOfTheOldPass)
{
    std::mt19937 random(6262);
    const std::string bytes = randomLines(random, 150000);
    open(bytes);
    const std::vector<std::vector<Keyword>> lists = {
        {Keyword(u"ERROR", 0x0000FF, 0x0000FF, true, false, true)},
        {Keyword(u"warn", 0x00FF00, 0x00FF00, true, false, true)}};
    const std::vector<LineNumber> expected[] = {model(bytes, {"ERROR"}), model(bytes, {"warn"})};
    std::size_t current = 0;
    KeywordLines lines(doc, nullptr, [&] { return lists[current]; });
    for (int round = 0; round < 30; ++round) {
        current = std::size_t(round % 2);
        lines.sync();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 400));
        current = 1 - current;
        sync(lines);
        ASSERT_EQ(found(lines), expected[current]) << "round " << round;
    }
}

// The views repaint the strip at each notice: a pass over many stretches tells them a few
// times a second, not at every stretch, and the first time before it ends, so that the
// strip of a big file fills in as the pass goes.
TEST_F(KeywordLinesTest, APassOverManyStretchesGivesAFewNoticesNotOneAStretch)
{
    settings.store.saveKeywords({Keyword(u"warn", 0x00FF00, 0x00FF00, true, false, true)});
    std::mt19937 random(8080);
    const std::string bytes = randomLines(random, 600000); // about a dozen stretches
    open(bytes);
    std::atomic<int> notices{0};
    std::atomic<LineNumber> checkedAtFirst{0};
    const KeywordLines* told = nullptr;
    KeywordLines lines(doc, [&] {
        if (notices++ == 0) {
            checkedAtFirst = told->checkedLines();
        }
    });
    told = &lines;
    const auto start = std::chrono::steady_clock::now();
    sync(lines);
    const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count() /
                        100;
    // The last notice may come after waitIdle: wait for it.
    for (int wait = 0; wait < 100 && notices.load() == 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(notices.load(), 1);
    EXPECT_LE(notices.load(), 2 + int(tenths));
    EXPECT_GT(checkedAtFirst.load(), 0u);
    EXPECT_LT(checkedAtFirst.load(), doc.lineCount()) << "the first notice comes during the pass";
}
