// The index of a file fed in any split equals the byte-by-byte index of the whole file,
// and so do the lines the document decodes from it.

#include "EngineTestSupport.h"

#include "engine/LineIndex.h"

#include <gtest/gtest.h>

#include <random>

using namespace quilltest;

namespace {

std::string randomBytes(std::mt19937& rng, std::size_t maxLength)
{
    static const char alphabet[] = {'a',  'b',    'c',    ' ',    '\n',   '\n', '\r',
                                    '\0', '\xFF', '\xFE', '\xC3', '\xA9', '\t'};
    std::string bytes(rng() % (maxLength + 1), 'a');
    for (char& c : bytes) {
        c = alphabet[rng() % sizeof alphabet];
    }
    return bytes;
}

std::string randomUtf16(std::mt19937& rng, std::size_t maxUnits, bool bom)
{
    static const char16_t alphabet[] = {u'a',  u'Z',  u'\u00E9', u'\u4E2D', u'\r',
                                        u'\n', u'\n', u'\t',     u' ',      u'\u0A00'};
    std::u16string text(rng() % (maxUnits + 1), u'a');
    for (char16_t& c : text) {
        c = alphabet[rng() % (sizeof alphabet / sizeof alphabet[0])];
    }
    return (bom ? std::string("\xFF\xFE", 2) : std::string()) + utf16le(text);
}

std::string randomLog(std::mt19937& rng, std::size_t lines)
{
    std::string out;
    for (std::size_t i = 0; i < lines; ++i) {
        out += "2026-12-07 line " + std::to_string(i) + std::string(rng() % 30, 'x');
        out += (rng() % 3 == 0) ? "\r\n" : "\n";
    }
    return out;
}

std::string randomFile(std::mt19937& rng, int kind)
{
    switch (kind % 5) {
    case 0:
        return randomBytes(rng, 4000);
    case 1:
        return randomUtf16(rng, 3000, true);
    case 2:
        return randomUtf16(rng, 3000, false);
    case 3:
        return randomLog(rng, 2500 + rng() % 1000);
    default:
        return randomBytes(rng, 6); // tiny files: the byte-order mark arriving in pieces
    }
}

std::vector<std::string> randomSplit(std::mt19937& rng, const std::string& bytes)
{
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t n = (rng() % 4 == 0) ? 1 : 1 + rng() % 700;
        pieces.push_back(bytes.substr(pos, n));
        pos += pieces.back().size();
    }
    if (rng() % 4 == 0) {
        pieces.insert(pieces.begin() + std::ptrdiff_t(rng() % (pieces.size() + 1)), std::string());
    }
    return pieces;
}

void expectIndex(const LineIndex& index, const ReferenceIndex& reference, const char* what)
{
    ASSERT_EQ(index.lineCount() + 1, reference.starts.size()) << what;
    for (std::size_t i = 0; i < reference.starts.size(); ++i) {
        ASSERT_EQ(index.lineStart(LineNumber(i)), reference.starts[i]) << what << " line " << i;
    }
    EXPECT_EQ(index.end(), reference.starts.back()) << what;
    EXPECT_EQ(index.lastLineOpen(), reference.lastLineOpen) << what;
}

void feed(LineIndex& index, const std::string& bytes)
{
    index.append(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST(LineIndex, AnySplitEqualsTheByteByByteIndexOfTheWholeFile)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 400; ++round) {
        const std::string bytes = randomFile(rng, round);
        const ReferenceIndex reference = referenceIndex(bytes);
        LineIndex whole;
        whole.reset(0);
        feed(whole, bytes);
        expectIndex(whole, reference, "whole");
        LineIndex pieces;
        pieces.reset(0);
        for (const std::string& piece : randomSplit(rng, bytes)) {
            feed(pieces, piece);
        }
        expectIndex(pieces, reference, "pieces");
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(LineIndex, LineAtFindsTheLineHoldingEveryOffset)
{
    std::mt19937 rng(7);
    const std::string bytes = randomLog(rng, 3000);
    LineIndex index;
    feed(index, bytes);
    for (LineNumber line = 0; line < index.lineCount(); line += 7) {
        const FileOffset start = index.lineStart(line);
        const FileOffset last = index.lineStart(line + 1) - 1;
        EXPECT_EQ(index.lineAt(start), line);
        EXPECT_EQ(index.lineAt(last), line);
    }
}

TEST(LineIndex, AppendExamples)
{
    struct Row {
        const char* name;
        std::string before;
        std::string appended;
        std::vector<std::int64_t> starts; // including the end entry
        bool open;
    };
    const std::vector<Row> rows = {
        {"x LF y LF z", "a\n", "x\ny\nz", {0, 2, 4, 6, 7}, true},
        {"x LF y LF", "a\n", "x\ny\n", {0, 2, 4, 6}, false},
        {"single LF", "a\n", "\n", {0, 2, 3}, false},
        {"open line grows", "ab", "xy\nz", {0, 5, 6}, true},
        {"zero byte one append after its LF",
         std::string("a\0\n", 3),
         std::string("\0b\0", 3),
         {0, 4, 6},
         true},
        {"byte-order mark in two pieces",
         "\xFF",
         "\xFE"
         "a",
         {2, 3},
         true},
        {"byte-order mark alone", "\xFF", "\xFE", {2}, false},
        {"not a byte-order mark", "\xFF", "\xFD\n", {0, 3}, false},
    };
    for (const Row& row : rows) {
        LineIndex index;
        feed(index, row.before);
        feed(index, row.appended);
        ReferenceIndex expected{row.starts, row.open};
        expectIndex(index, expected, row.name);
        expectIndex(index, referenceIndex(row.before + row.appended), row.name);
    }
}

TEST(LineIndex, WideBlocksKeepLongLinesAndMemoryStaysBounded)
{
    // Blocks of 2-, 3- and 4-byte offsets side by side.
    LineIndex index;
    const std::string longLine(70000, 'x');
    const std::string hugeLine(17 * 1024 * 1024, 'y');
    std::string bytes;
    for (int i = 0; i < 1200; ++i) {
        bytes += (i % 300 == 5) ? longLine + "\n" : (i == 900 ? hugeLine + "\n" : "short line\n");
    }
    feed(index, bytes);
    expectIndex(index, referenceIndex(bytes), "long lines");
    EXPECT_LE(index.memoryBytes(), std::size_t(index.lineCount()) * 4 + 5 * 64);

    LineIndex small;
    std::string log;
    for (int i = 0; i < 100000; ++i) {
        log += "2026-12-07 12:00:00 INFO something happened\n";
    }
    feed(small, log);
    EXPECT_LT(double(small.memoryBytes()) / small.lineCount(), 2.2);
}

TEST(LineIndex, ClearingAtTheEndKeepsTheZeroByteOfAPendingLineFeed)
{
    LineIndex index;
    feed(index, std::string("a\0\n", 3));
    index.reset(index.end(), true);
    feed(index, std::string("\0b\0\n\0", 5));
    ASSERT_EQ(index.lineCount(), 1u);
    EXPECT_EQ(index.lineStart(0), 4);
    EXPECT_EQ(index.end(), 8);
}

// Through the document: one open of the whole file, and an open of an empty file that
// then receives the same bytes in random pieces, give the same lines.
TEST(LineIndex, DocumentLinesFromAppendsEqualAnOpenOfTheWholeFile)
{
    TestSettings settings;
    FakeHost host;
    std::mt19937 rng(99);
    for (int round = 0; round < 30; ++round) {
        const std::string bytes = randomFile(rng, round);
        const std::string wholePath = settings.dir.file("whole.log");
        const std::string grownPath = settings.dir.file("grown.log");
        writeFile(wholePath, bytes);
        writeFile(grownPath, "");

        CBrackenlyDoc whole(&host, settings.store);
        ASSERT_TRUE(whole.OnOpenDocument(u16(wholePath)));
        whole.StopWatching();
        CBrackenlyDoc grown(&host, settings.store);
        ASSERT_TRUE(grown.OnOpenDocument(u16(grownPath)));
        grown.StopWatching();
        for (const std::string& piece : randomSplit(rng, bytes)) {
            appendFile(grownPath, piece);
            grown.AppendText(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size());
            if (grown.GetLineCount() > 0 && rng() % 3 == 0) {
                grown.GetLine(LineNumber(rng() % grown.GetLineCount())); // moves the window
                grown.GetLine(grown.GetLineCount() - 1);                 // caches the open line
            }
        }

        const ReferenceIndex reference = referenceIndex(bytes);
        const LineNumber count = LineNumber(reference.starts.size() - 1);
        ASSERT_EQ(whole.GetLineCount(), count);
        ASSERT_EQ(grown.GetLineCount(), count);
        EXPECT_EQ(grown.LastLineOpen(), reference.lastLineOpen);
        for (LineNumber i = 0; i <= count; ++i) {
            ASSERT_EQ(whole.LineStart(i), reference.starts[i]) << i;
            ASSERT_EQ(grown.LineStart(i), reference.starts[i]) << i;
        }
        for (LineNumber i = 0; i < count; ++i) {
            const std::u16string wholeLine = whole.GetLine(i);
            ASSERT_EQ(wholeLine, referenceLine(bytes, reference, i, whole.IsUtf16())) << i;
            ASSERT_EQ(grown.GetLine(i), referenceLine(bytes, reference, i, grown.IsUtf16())) << i;
            if (whole.IsUtf16() == grown.IsUtf16()) {
                ASSERT_EQ(grown.GetLine(i), wholeLine) << i;
            }
        }
        // Backwards too, so the window moves towards the start.
        for (LineNumber i = count; i-- > 0;) {
            ASSERT_EQ(grown.GetLine(i), referenceLine(bytes, reference, i, grown.IsUtf16())) << i;
        }
    }
}

// Files of more than a few pieces are read ahead on a helper thread while indexing.
TEST(LineIndex, ALargeFileReadAheadIndexesLikeTheByteByByteRule)
{
    TestSettings settings;
    FakeHost host;
    std::mt19937 rng(31);
    std::string bytes;
    while (bytes.size() < 3 * 1024 * 1024 + 777) {
        bytes += randomBytes(rng, 300);
    }
    const std::string path = settings.dir.file("large.log");
    writeFile(path, bytes);
    CBrackenlyDoc doc(&host, settings.store);
    ASSERT_TRUE(doc.OnOpenDocument(u16(path)));
    doc.StopWatching();
    const ReferenceIndex reference = referenceIndex(bytes);
    ASSERT_EQ(doc.GetLineCount() + 1, reference.starts.size());
    for (std::size_t i = 0; i < reference.starts.size(); ++i) {
        ASSERT_EQ(doc.LineStart(LineNumber(i)), reference.starts[i]) << i;
    }
}
