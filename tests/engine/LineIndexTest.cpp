// The index of a file fed in any split equals the byte-by-byte index of the whole file,
// and so do the lines the document decodes from it.

#include "LineIndexTestSupport.h"
#include "support/Sanitizers.h"

#include "engine/LineIndex.h"

#include <gtest/gtest.h>

#include <random>

using namespace quilltest;

namespace {

// Generated files whose encoding is known by construction, not by asking the code: narrow
// text holds no zero byte outside a leading run (so no code unit can look like UTF-16),
// and UTF-16 text has a byte-order mark or begins with a line of Latin letters.
struct Sample {
    std::string bytes;
    bool utf16 = false;
    bool bigEndian = false;
};

std::string randomNarrow(std::mt19937& rng, std::size_t maxLength)
{
    static const char alphabet[] = {'a',    'b',    'c',    ' ',    '\n', '\n',   '\r',
                                    '\xFF', '\xFE', '\xC3', '\xA9', '\t', '\x0A', '\x4E'};
    std::string bytes(rng() % (maxLength + 1), 'a');
    for (char& c : bytes) {
        c = alphabet[rng() % sizeof alphabet];
    }
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                              (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        bytes[0] = 'a'; // no byte-order mark
    }
    return bytes;
}

// UTF-16 text with the units whose bytes hold 0x0A (U+4E0A, U+010A, U+0A00, U+0A0A).
std::u16string randomUtf16Text(std::mt19937& rng, std::size_t maxUnits)
{
    static const char16_t alphabet[] = {u'a',      u'Z',      u'\u00E9', u'\u4E2D', u'\r',
                                        u'\n',     u'\n',     u'\t',     u' ',      u'\u0A00',
                                        u'\u4E0A', u'\u010A', u'\u0A0A', u'\0'};
    std::u16string text(rng() % (maxUnits + 1), u'a');
    for (char16_t& c : text) {
        c = alphabet[rng() % (sizeof alphabet / sizeof alphabet[0])];
    }
    if (!text.empty()) {
        text[rng() % std::min<std::size_t>(text.size(), 100)] = u'\n';
    }
    return text;
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

Sample randomFile(std::mt19937& rng, int kind)
{
    switch (kind % 9) {
    case 0:
        return {randomNarrow(rng, 4000), false};
    case 1: // any units after a byte-order mark, zero units too
        return {"\xFF\xFE" + utf16le(randomUtf16Text(rng, 3000)), true};
    case 2:
        return {utf16le(u"UTF-16 log\n" + randomUtf16Text(rng, 3000)), true};
    case 3:
        return {randomLog(rng, 2500 + rng() % 1000), false};
    case 4: // what a copytruncate rotation leaves: zero bytes, then the writer's lines
        return {std::string(rng() % 10000, '\0') + randomLog(rng, 50), false};
    case 5:
        return {std::string(2 * (rng() % 5000), '\0') +
                    utf16le(u"UTF-16 log\n" + randomUtf16Text(rng, 300)),
                true};
    case 6: // the big-endian mark, then any units
        return {"\xFE\xFF" + utf16be(randomUtf16Text(rng, 3000)), true, true};
    case 7: // the UTF-8 mark before narrow text
        return {"\xEF\xBB\xBF" + (rng() % 2 ? randomLog(rng, 40) : randomNarrow(rng, 30)), false};
    default: // tiny files: the byte-order mark and code units arriving in pieces
        return rng() % 2 ? Sample{randomNarrow(rng, 6), false}
                         : Sample{"\xFF\xFE" + utf16le(randomUtf16Text(rng, 2)) + "\n", true};
    }
}

} // namespace

TEST(LineIndex, AnySplitEqualsTheWholeFileDecodedThenSplit)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < rounds(400); ++round) {
        const Sample sample = randomFile(rng, round);
        const ModelFile model = modelFile(sample.bytes, sample.utf16, sample.bigEndian);
        LineIndex whole;
        feed(whole, sample.bytes);
        EXPECT_EQ(whole.isUtf16(), sample.utf16) << "round " << round;
        EXPECT_EQ(whole.isBigEndian(), sample.bigEndian) << "round " << round;
        expectIndex(whole, model.index, "whole");
        LineIndex pieces;
        for (const std::string& piece : randomSplit(rng, sample.bytes)) {
            feed(pieces, piece);
        }
        EXPECT_EQ(pieces.isUtf16(), sample.utf16) << "round " << round;
        EXPECT_EQ(pieces.isBigEndian(), sample.bigEndian) << "round " << round;
        expectIndex(pieces, model.index, "pieces");
        if (HasFatalFailure()) {
            return;
        }
    }
}

// The faults users met, each fed whole and one byte at a time.
TEST(LineIndex, TheFirstBytesDecideTheEncodingBeforeAnyLineIsSplit)
{
    std::u16string cjk(5000, u'\u4E2D');
    cjk[17] = u'\u4E0A';
    std::string lines;
    for (int i = 0; i < 40; ++i) {
        lines += "narrow line " + std::to_string(i) + "\n";
    }
    struct Row {
        const char* name;
        std::string bytes;
        bool utf16;
        std::size_t lines;
        bool bigEndian = false;
    };
    const Row rows[] = {
        {"U+4E0A, U+010A and Gurmukhi end no line",
         utf16le(u"\u4E0A \u010A \u0A05\u0A3E\r\nnext\n"), true, 2},
        {"a byte-order mark decides even without blanks", "\xFF\xFE" + utf16le(cjk + u"\n"), true,
         1},
        {"4 KiB of zero bytes before narrow lines", std::string(4096, '\0') + lines, false, 40},
        {"an odd run of zero bytes longer than the window", std::string(9001, '\0') + lines, false,
         40},
        {"zero bytes before UTF-16 lines", std::string(9000, '\0') + utf16le(u"a line\nnext one\n"),
         true, 2},
        {"an odd zero run ended by the next piece",
         std::string("\0\0\0", 3) + "\x4E" + utf16le(u"abcdef\nb"), true, 2},
        {"a narrow log with crash padding at an even offset",
         lines.substr(0, 48) + std::string("\n\0", 2) + lines.substr(48), false, 41},
        {"the big-endian mark, with units that hold 0A",
         "\xFE\xFF" + utf16be(u"\u4E0A \u010A \u0A05\n\u0A0A\n"), true, 2, true},
        {"the UTF-8 mark", "\xEF\xBB\xBF" + lines, false, 40},
    };
    for (const Row& row : rows) {
        const ModelFile model = modelFile(row.bytes, row.utf16, row.bigEndian);
        ASSERT_EQ(model.index.starts.size(), row.lines + 1) << row.name;
        LineIndex whole;
        feed(whole, row.bytes);
        EXPECT_EQ(whole.isUtf16(), row.utf16) << row.name;
        EXPECT_EQ(whole.isBigEndian(), row.bigEndian) << row.name;
        expectIndex(whole, model.index, row.name);
        LineIndex bytewise;
        for (char c : row.bytes) {
            feed(bytewise, std::string(1, c));
        }
        EXPECT_EQ(bytewise.isUtf16(), row.utf16) << row.name;
        expectIndex(bytewise, model.index, row.name);
        // Split where the zero run ends, and one byte later.
        const std::size_t zeros = row.bytes.find_first_not_of('\0');
        for (const std::size_t cut : {zeros, zeros + 1}) {
            if (cut == 0 || cut >= row.bytes.size()) {
                continue;
            }
            LineIndex split;
            feed(split, row.bytes.substr(0, cut));
            feed(split, row.bytes.substr(cut, 1));
            feed(split, row.bytes.substr(cut + 1));
            EXPECT_EQ(split.isUtf16(), row.utf16) << row.name << " cut " << cut;
            expectIndex(split, model.index, row.name);
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
        {"UTF-16 line feed completed by the next append",
         utf16le(u"abcdef") + "\n",
         std::string("\0b\0", 3),
         {0, 14, 16},
         true},
        {"65,535-byte first line: the next starts at 65,536",
         std::string(65535, 'x'),
         "\nnext",
         {0, 65536, 65540},
         true},
        {"byte-order mark in two pieces",
         "\xFF",
         "\xFE"
         "a",
         {2, 3},
         true},
        {"byte-order mark alone", "\xFF", "\xFE", {2}, false},
        {"not a byte-order mark", "\xFF", "\xFD\n", {0, 3}, false},
        // FF FE after a zero unit is no mark: the zero unit stays the first line's start.
        {"FF FE after a zero unit, in one append",
         "",
         std::string("\0\0\xFF\xFE", 4) + utf16le(u"abcdef\nx"),
         {0, 18, 20},
         true},
        {"big-endian mark in two pieces", "\xFE", "\xFF" + utf16be(u"a"), {2, 4}, true},
        {"UTF-8 mark in three pieces, then a line",
         "\xEF\xBB",
         "\xBF"
         "a\n",
         {3, 5},
         false},
        {"EF BB BF after a zero unit is no mark",
         "",
         std::string("\0\0\xEF\xBB\xBF"
                     "a\n",
                     7),
         {0, 7},
         false},
        {"not a UTF-8 mark",
         "\xEF\xBB",
         "\xBE"
         "a\n",
         {0, 5},
         false},
    };
    for (const Row& row : rows) {
        LineIndex index;
        feed(index, row.before);
        feed(index, row.appended);
        ReferenceIndex expected{row.starts, row.open};
        expectIndex(index, expected, row.name);
    }
}

// Lines of chosen lengths, each ended by a line feed (the last maybe not); the model's
// starts are the running sum of the lengths.
TEST(LineIndex, ClearingAtTheEndKeepsTheEncodingAndTheHalfOfAPendingUnit)
{
    LineIndex index;
    feed(index, utf16le(u"abcdef\n") + std::string("a\0\n", 3));
    index.restartAtEnd();
    feed(index, std::string("\0b\0\n\0", 5));
    EXPECT_TRUE(index.isUtf16());
    ASSERT_EQ(index.lineCount(), 1u);
    EXPECT_EQ(index.lineStart(0), 18);
    EXPECT_EQ(index.end(), 22);
}

// Through the document: one open of the whole file, and an open of an empty file that
// then receives the same bytes in random pieces, show the model's lines in the encoding the
// sample was made in.
TEST(LineIndex, DocumentLinesFromAppendsEqualAnOpenOfTheWholeFile)
{
    TestSettings settings;
    FakeHost host;
    std::mt19937 rng(99);
    // UTF-8, so that a growing open line is decoded on from its resume point.
    const std::string codeset = quill::narrowCharset().codeset;
    quill::setNarrowCharsetForTesting("UTF-8");
    for (int round = 0; round < 35; ++round) {
        const Sample sample = randomFile(rng, round);
        const std::string& bytes = sample.bytes;
        const std::string wholePath = settings.dir.file("whole.log");
        const std::string grownPath = settings.dir.file("grown.log");
        writeFile(wholePath, bytes);
        writeFile(grownPath, "");

        LogDocument whole(&host, settings.store);
        ASSERT_TRUE(whole.openDocument(u16(wholePath)));
        whole.stopWatching();
        LogDocument grown(&host, settings.store);
        ASSERT_TRUE(grown.openDocument(u16(grownPath)));
        grown.stopWatching();
        for (const std::string& piece : randomSplit(rng, bytes)) {
            appendFile(grownPath, piece);
            grown.appendText(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size());
            if (grown.lineCount() > 0 && rng() % 3 == 0) {
                grown.line(LineNumber(rng() % grown.lineCount())); // moves the window
                grown.line(grown.lineCount() - 1);                 // caches the open line
            }
        }

        const ModelFile model = modelFile(bytes, sample.utf16, sample.bigEndian);
        const LineNumber count = LineNumber(model.lines.size());
        ASSERT_EQ(whole.lineCount(), count) << "round " << round;
        ASSERT_EQ(grown.lineCount(), count) << "round " << round;
        EXPECT_EQ(grown.lastLineOpen(), model.index.lastLineOpen);
        for (LineNumber i = 0; i <= count; ++i) {
            ASSERT_EQ(whole.lineStart(i), model.index.starts[i]) << i;
            ASSERT_EQ(grown.lineStart(i), model.index.starts[i]) << i;
        }
        for (LineNumber i = 0; i < count; ++i) {
            ASSERT_EQ(whole.line(i), model.lines[i]) << "round " << round << " line " << i;
            ASSERT_EQ(grown.line(i), model.lines[i]) << "round " << round << " line " << i;
        }
        // Backwards too, so the window moves towards the start.
        for (LineNumber i = count; i-- > 0;) {
            ASSERT_EQ(grown.line(i), model.lines[i]) << i;
        }
    }
    quill::setNarrowCharsetForTesting(codeset.c_str());
}

// Files of more than a few pieces are read ahead on a helper thread while indexing.
TEST(LineIndex, ALargeFileReadAheadIndexesLikeTheModel)
{
    TestSettings settings;
    FakeHost host;
    std::mt19937 rng(31);
    std::string bytes;
    while (bytes.size() < 3 * 1024 * 1024 + 777) {
        bytes += randomNarrow(rng, 300);
    }
    const std::string path = settings.dir.file("large.log");
    writeFile(path, bytes);
    LogDocument doc(&host, settings.store);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    const ReferenceIndex reference = modelFile(bytes, false).index;
    ASSERT_EQ(doc.lineCount() + 1, reference.starts.size());
    for (std::size_t i = 0; i < reference.starts.size(); ++i) {
        ASSERT_EQ(doc.lineStart(LineNumber(i)), reference.starts[i]) << i;
    }
}

// Pieces scanned apart and added as line starts give the index of appending the same bytes:
// for every boundary of small files (each kind of byte on either side of it: line feeds,
// carriage returns, zero bytes, the halves of U+4E0A and U+0A00), and for random boundaries
// in larger ones, the pieces scanned in random chunks.
TEST(LineIndex, PiecesScannedApartEqualTheSequentialIndex)
{
    std::mt19937 rng(26);
    auto scanInPieces = [&](const std::string& bytes, bool utf16,
                            const std::vector<std::size_t>& cuts) {
        LineIndex index;
        std::size_t at = 0;
        // The encoding first, sequentially.
        while (at < bytes.size() && !index.acceptsLineStarts()) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + rng() % 9000);
            feed(index, bytes.substr(at, n));
            at += n;
        }
        EXPECT_EQ(index.isUtf16(), utf16);
        for (std::size_t c = 0; c <= cuts.size(); ++c) {
            std::size_t to = c < cuts.size() ? cuts[c] : bytes.size();
            if (utf16 && to < bytes.size()) {
                to -= to % 2;
            }
            if (to <= at) {
                continue;
            }
            if (utf16 && (to - at) % 2 != 0) {
                feed(index, bytes.substr(at, to - at)); // the file's odd last byte
                at = to;
                continue;
            }
            std::vector<std::uint32_t> starts;
            for (std::size_t from = at; from < to;) {
                std::size_t n = std::min<std::size_t>(to - from, 1 + rng() % 3000);
                if (utf16 && n % 2 != 0 && from + n < to) {
                    n = n == 1 ? 2 : n - 1;
                }
                const std::size_t had = starts.size();
                starts.resize(had + n + 4);
                starts.resize(had + LineIndex::findLineStarts(
                                        reinterpret_cast<const std::uint8_t*>(bytes.data()) + from,
                                        n, utf16, std::uint32_t(from - at), starts.data() + had,
                                        index.isBigEndian()));
                from += n;
            }
            index.appendLineStarts(FileOffset(to), starts.data(), starts.size());
            at = to;
        }
        return index;
    };
    for (int round = 0; round < rounds(200); ++round) {
        const Sample sample = randomFile(rng, round);
        const ModelFile model = modelFile(sample.bytes, sample.utf16, sample.bigEndian);
        if (sample.bytes.size() < 9000 && round % 4 == 0) {
            for (std::size_t cut = 0; cut <= sample.bytes.size(); ++cut) {
                const LineIndex index = scanInPieces(sample.bytes, sample.utf16, {cut});
                expectIndex(index, model.index, "one cut");
                if (HasFatalFailure()) {
                    FAIL() << "round " << round << " cut " << cut;
                }
            }
        }
        std::vector<std::size_t> cuts;
        for (std::size_t at = 0; at < sample.bytes.size(); at += 1 + rng() % 400) {
            cuts.push_back(at);
        }
        expectIndex(scanInPieces(sample.bytes, sample.utf16, cuts), model.index, "cuts");
        if (HasFatalFailure()) {
            FAIL() << "round " << round;
        }
    }
}

// Opening a file indexed in small pieces on two threads, narrow and UTF-16, with pieces of
// an odd size asked for: the lines are the model's.
TEST(LineIndex, AFileIndexedOnTwoThreadsIndexesLikeTheModel)
{
    TestSettings settings;
    FakeHost host;
    std::mt19937 rng(2626);
    for (int round = 0; round < 12; ++round) {
        std::string bytes;
        bool utf16 = round % 3 == 2;
        if (utf16) {
            bytes = "\xFF\xFE";
            while (bytes.size() < 300000) {
                bytes += utf16le(randomUtf16Text(rng, 3000));
            }
            bytes += std::string(round % 2, 'a');
        } else {
            while (bytes.size() < 300000) {
                bytes += round % 3 == 0 ? randomNarrow(rng, 3000) : randomLog(rng, 100);
            }
        }
        const std::string path = settings.dir.file("pieces.log");
        writeFile(path, bytes);
        LogDocument doc(&host, settings.store);
        doc.setIndexPieces(1001 + rng() % 20000, 2);
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
        const ReferenceIndex reference = modelFile(bytes, utf16).index;
        ASSERT_EQ(doc.lineCount() + 1, reference.starts.size()) << "round " << round;
        for (std::size_t i = 0; i < reference.starts.size(); ++i) {
            ASSERT_EQ(doc.lineStart(LineNumber(i)), reference.starts[i]) << round << " " << i;
        }
        EXPECT_EQ(doc.lastLineOpen(), reference.lastLineOpen);
    }
}
