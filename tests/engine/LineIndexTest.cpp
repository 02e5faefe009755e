// The index of a file fed in any split equals the byte-by-byte index of the whole file,
// and so do the lines the document decodes from it.

#include "EngineTestSupport.h"
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
struct LengthFile {
    std::string bytes;
    ReferenceIndex index;
};

LengthFile fileOfLengths(const std::vector<std::size_t>& lengths, bool lastOpen)
{
    LengthFile file;
    file.index.starts.push_back(0);
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const bool open = lastOpen && i + 1 == lengths.size();
        file.bytes.append(lengths[i] - (open ? 0 : 1), 'x');
        if (!open) {
            file.bytes += '\n';
        }
        file.index.starts.push_back(std::int64_t(file.bytes.size()));
    }
    file.index.lastLineOpen = lastOpen;
    return file;
}

// Every line's start and the line of its first and last byte, against the model.
void expectLengths(const LineIndex& index, const ReferenceIndex& reference, const char* what)
{
    expectIndex(index, reference, what);
    for (LineNumber i = 0; i + 1 < reference.starts.size(); ++i) {
        ASSERT_EQ(index.lineAt(reference.starts[i]), i) << what << " line " << i;
        ASSERT_EQ(index.lineAt(reference.starts[i + 1] - 1), i) << what << " line " << i;
    }
}

TEST(LineIndex, ShortAndWideGroupsHoldEveryLengthAtTheirEdges)
{
    // Lengths that sit on the edges of the one-byte form and of the higher bytes of a wide
    // group, placed at random lines so that they fall first, last and inside groups and
    // blocks.
    const std::size_t edges[] = {1, 2, 120, 254, 255, 256, 257, 511, 65535, 65536, 65537};
    std::mt19937 rng(2605);
    for (int round = 0; round < rounds(60); ++round) {
        std::vector<std::size_t> lengths(1 + rng() % 2600, 0);
        const unsigned longShare = round % 3 == 0 ? 2 : round % 3 == 1 ? 20 : 200;
        for (std::size_t& length : lengths) {
            length = rng() % longShare == 0 ? edges[rng() % std::size(edges)] : 1 + rng() % 200;
        }
        const LengthFile file = fileOfLengths(lengths, rng() % 2 == 0);
        LineIndex whole;
        feed(whole, file.bytes);
        expectLengths(whole, file.index, "whole");
        // Runs of starts copied at once, cut at a byte limit, from every kind of line.
        const std::vector<std::int64_t>& starts = file.index.starts;
        for (int run = 0; run < 40; ++run) {
            const auto first = LineNumber(rng() % starts.size());
            const auto count = LineNumber(rng() % 100);
            const std::int64_t limit = starts[first] + std::int64_t(rng() % 30000);
            std::vector<std::int64_t> expected;
            for (std::size_t i = first;
                 i < starts.size() && i < first + count && starts[i] <= limit; ++i) {
                expected.push_back(starts[i]);
            }
            std::vector<FileOffset> copied{-1};
            ASSERT_EQ(whole.copyStarts(first, count, limit, copied), expected.size());
            copied.erase(copied.begin());
            ASSERT_EQ(copied, expected) << "first " << first << " count " << count;
        }
        LineIndex pieces;
        for (const std::string& piece : randomSplit(rng, file.bytes)) {
            feed(pieces, piece);
        }
        expectLengths(pieces, file.index, "pieces");
        if (HasFatalFailure()) {
            return;
        }
    }
}

// A walk over line lengths that stays a while in one kind and then jumps: lengths on the
// edges of the one-byte form, of the carry bit and of the higher bytes, lengths spread over
// the carry's range, runs of one length (a block with no groups), and now and then a line
// of more than 16 MiB. The model is the running sum of the lengths.
TEST(LineIndex, ARandomWalkOverLineLengthsKeepsEveryStart)
{
    const std::size_t edges[] = {1, 2, 254, 255, 256, 257, 510, 511, 512, 513, 65535, 65536, 65537};
    std::mt19937 rng(3917);
    for (int round = 0; round < 24; ++round) {
        std::vector<std::size_t> lengths;
        const std::size_t count = 500 + rng() % 5000;
        unsigned kind = 0;
        std::size_t runLength = 1;
        bool hugeTaken = false;
        while (lengths.size() < count) {
            if (rng() % 40 == 0) {
                kind = rng() % 5;
                runLength = rng() % 2 == 0 ? 1 + rng() % 255 : edges[rng() % std::size(edges)];
            }
            switch (kind) {
            case 0:
                lengths.push_back(1 + rng() % 255);
                break;
            case 1:
                lengths.push_back(edges[rng() % std::size(edges)]);
                break;
            case 2:
                lengths.push_back(rng() % 6 == 0 ? 255 + rng() % 257 : 1 + rng() % 254);
                break;
            case 3:
                lengths.push_back(runLength);
                break;
            default:
                if (!hugeTaken && round % 6 == 5) {
                    lengths.push_back((std::size_t(1) << 24) + 1 + rng() % 3);
                    hugeTaken = true;
                } else {
                    lengths.push_back(256 + rng() % 256);
                }
            }
        }
        const LengthFile file = fileOfLengths(lengths, rng() % 2 == 0);
        const std::string what = "round " + std::to_string(round);
        LineIndex whole;
        feed(whole, file.bytes);
        expectLengths(whole, file.index, what.c_str());
        const std::vector<std::int64_t>& starts = file.index.starts;
        for (int run = 0; run < 60; ++run) {
            const auto first = LineNumber(rng() % starts.size());
            const auto n = LineNumber(rng() % 300);
            const std::int64_t limit = starts[first] + std::int64_t(rng() % 100000);
            std::vector<std::int64_t> expected;
            for (std::size_t i = first; i < starts.size() && i < first + n && starts[i] <= limit;
                 ++i) {
                expected.push_back(starts[i]);
            }
            std::vector<FileOffset> copied;
            ASSERT_EQ(whole.copyStarts(first, n, limit, copied), expected.size()) << what;
            ASSERT_EQ(copied, expected) << what << " first " << first << " count " << n;
        }
        // The same bytes in random pieces, half of them as starts scanned apart.
        LineIndex pieces;
        for (const std::string& piece : randomSplit(rng, file.bytes)) {
            if (pieces.acceptsLineStarts() && rng() % 2 == 0) {
                std::vector<std::uint32_t> found(piece.size() + 4);
                found.resize(
                    LineIndex::findLineStarts(reinterpret_cast<const std::uint8_t*>(piece.data()),
                                              piece.size(), false, 0, found.data()));
                pieces.appendLineStarts(pieces.end() + FileOffset(piece.size()), found.data(),
                                        found.size());
            } else {
                feed(pieces, piece);
            }
        }
        expectLengths(pieces, file.index, (what + " in pieces").c_str());
        if (HasFatalFailure()) {
            return;
        }
    }
}

// What the index holds a line, where a sixth of the lines are of 255-300 bytes and where
// every line is short: a line under 512 bytes costs one byte and a bit, never a wide group.
TEST(LineIndex, LinesUnder512BytesCostLittleMoreThanAByteEach)
{
    std::mt19937 rng(40300);
    std::vector<std::size_t> mixed(200000);
    std::size_t longOnes = 0;
    for (std::size_t& length : mixed) {
        length = 40 + rng() % 261;
        longOnes += length >= 255;
    }
    ASSERT_GT(longOnes * 6, mixed.size() * 9 / 10); // about a sixth, as the shape says
    LineIndex index;
    feed(index, fileOfLengths(mixed, false).bytes);
    EXPECT_LT(double(index.memoryBytes()) / index.lineCount(), 1.2);

    std::vector<std::size_t> carries(200000);
    for (std::size_t& length : carries) {
        length = 1 + rng() % 511;
    }
    LineIndex upTo511;
    feed(upTo511, fileOfLengths(carries, false).bytes);
    EXPECT_LT(double(upTo511.memoryBytes()) / upTo511.lineCount(), 1.2);

    // The carry bits are counted too (the memory limit is checked against the count): a
    // block with one line of 300 bytes holds a bit for each of its lines more than one
    // with a line of 200 bytes.
    std::vector<std::size_t> lengths(LineIndex::BlockLines, 7);
    lengths[500] = 200;
    LineIndex without;
    feed(without, fileOfLengths(lengths, false).bytes);
    lengths[500] = 300;
    LineIndex with;
    feed(with, fileOfLengths(lengths, false).bytes);
    EXPECT_GE(with.memoryBytes(), without.memoryBytes() + LineIndex::BlockLines / 8);
}

TEST(LineIndex, EdgesOfGroupsBlocksAndWidths)
{
    struct Row {
        const char* name;
        std::vector<std::size_t> lengths;
    };
    auto lines = [](std::size_t count, std::size_t length) {
        return std::vector<std::size_t>(count, length);
    };
    auto join = [](std::vector<std::vector<std::size_t>> parts) {
        std::vector<std::size_t> all;
        for (const auto& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    const Row rows[] = {
        {"255 bytes as the 31st line of a group", join({lines(30, 10), {255}, lines(40, 10)})},
        {"256 bytes as the 32nd line of a group, the next group short",
         join({lines(31, 10), {256}, lines(40, 10)})},
        {"256 bytes first in a group", join({lines(32, 10), {256}, lines(40, 10)})},
        {"the last line of a block long", join({lines(1023, 7), {70000}, lines(40, 7)})},
        {"a group ending 65,536 bytes after its first line",
         join({{65536 - 30 * 9}, lines(30, 9), {1}, lines(40, 3)})},
        {"a start 65,536 bytes after the block's base", join({{65536}, lines(1100, 5)})},
        {"a group widened to two then three higher bytes",
         join({lines(3, 4), {300}, {70000}, {17 << 20}, lines(40, 4)})},
        {"one wide group, the block's later groups short, then wide again",
         join({lines(5, 4), {1000}, lines(200, 4), {300}, lines(900, 4)})},
        {"lines of 254 and 255 bytes alternating",
         [] {
             std::vector<std::size_t> v;
             for (int i = 0; i < 3000; ++i) {
                 v.push_back(254 + std::size_t(i % 2));
             }
             return v;
         }()},
    };
    for (const Row& row : rows) {
        for (bool lastOpen : {false, true}) {
            const LengthFile file = fileOfLengths(row.lengths, lastOpen);
            LineIndex index;
            feed(index, file.bytes);
            expectLengths(index, file.index, row.name);
            LineIndex bytewise;
            for (std::size_t at = 0; at < file.bytes.size(); at += 97) {
                feed(bytewise, file.bytes.substr(at, 97));
            }
            expectLengths(bytewise, file.index, row.name);
        }
    }
}

// Checkpoints beyond 4 GiB from their block's base and wide groups with four higher bytes:
// a few lines of 1.5 GiB among short ones, fed from one buffer again and again.
TEST(LineIndex, LinesOfGigabytesKeepTheirStarts)
{
    const std::size_t chunk = 64 << 20;
    const std::string filler(chunk, 'x');
    const std::int64_t huge = std::int64_t(3) << 29; // 1.5 GiB
    LineIndex index;
    ReferenceIndex reference;
    std::int64_t at = 0;
    auto shortLines = [&](int count) {
        for (int i = 0; i < count; ++i) {
            reference.starts.push_back(at);
            feed(index, "short\n");
            at += 6;
        }
    };
    auto hugeLine = [&] {
        reference.starts.push_back(at);
        for (std::int64_t left = huge - 1; left > 0; left -= std::int64_t(chunk)) {
            index.append(reinterpret_cast<const std::uint8_t*>(filler.data()),
                         std::size_t(std::min<std::int64_t>(left, std::int64_t(chunk))));
        }
        feed(index, "\n");
        at += huge;
    };
    shortLines(40);
    hugeLine();
    shortLines(3);
    hugeLine();
    hugeLine();
    // The third of the row ends past 4 GiB already; a fourth costs a sanitizer tree seconds.
    if (!quilltest::UnderSanitizer) {
        hugeLine();
    }
    shortLines(60);
    reference.starts.push_back(at);
    expectLengths(index, reference, "huge lines");
}

TEST(LineIndex, WideBlocksKeepLongLinesAndMemoryStaysBounded)
{
    // Blocks of 2-, 3- and 4-byte offsets side by side. Only the line feeds matter here, so
    // the model is the lengths' own (decoding 17 MiB into the full model's lines took most of
    // this test's time, seven times more under the sanitizers).
    LineIndex index;
    std::vector<std::size_t> wideLengths;
    for (int i = 0; i < 1200; ++i) {
        wideLengths.push_back(i % 300 == 5 ? 70001 : (i == 900 ? 17 * 1024 * 1024 + 1 : 11));
    }
    const LengthFile wide = fileOfLengths(wideLengths, false);
    feed(index, wide.bytes);
    expectIndex(index, wide.index, "long lines");
    EXPECT_LE(index.memoryBytes(), std::size_t(index.lineCount()) * 4 + 5 * 64);

    LineIndex small;
    std::string log;
    for (int i = 0; i < 100000; ++i) {
        log += "2026-12-07 12:00:00 INFO something happened\n";
    }
    feed(small, log);
    EXPECT_LT(double(small.memoryBytes()) / small.lineCount(), 1.1);
    // What `yes` writes: lines of one length keep no groups.
    LineIndex yes;
    std::string y;
    for (int i = 0; i < (1 << 20); ++i) {
        y += "y\n";
    }
    feed(yes, y);
    EXPECT_EQ(yes.lineCount(), 1u << 20);
    EXPECT_LT(double(yes.memoryBytes()) / yes.lineCount(), 0.05);

    // Lines of 0.3-3 KB, then lines of 64 KB and more: the wide form's bounds.
    std::mt19937 rng(5);
    std::vector<std::size_t> lengths(20000);
    for (std::size_t& length : lengths) {
        length = 300 + rng() % 2700;
    }
    LineIndex kilobytes;
    feed(kilobytes, fileOfLengths(lengths, false).bytes);
    EXPECT_LT(double(kilobytes.memoryBytes()) / kilobytes.lineCount(), 3.2);
    // Groups of 31 such lines span more than 16 MiB: three higher bytes a line.
    LineIndex worst;
    const std::string line = std::string(560000, 'x') + "\n";
    for (LineNumber i = 0; i < LineIndex::BlockLines; ++i) {
        feed(worst, line);
    }
    EXPECT_LT(double(worst.memoryBytes()) / worst.lineCount(), 4.2);
}

// Runs of lines of one length, cut anywhere: a block of one length keeps no groups until
// its first line of another length, which may come at any line of a group or a block.
TEST(LineIndex, RunsOfOneLengthKeepTheirStartsWhereverTheLengthChanges)
{
    const std::size_t lengths[] = {1, 2, 3, 9, 254, 255, 256, 300, 70000};
    const std::size_t runs[] = {1, 2, 3, 31, 32, 33, 1022, 1023, 1024, 1025, 2049};
    std::mt19937 rng(3712);
    for (int round = 0; round < rounds(40); ++round) {
        std::vector<std::size_t> file;
        while (file.size() < 6000) {
            std::size_t run = rng() % 3 == 0 ? 1 + rng() % 3000 : runs[rng() % std::size(runs)];
            const std::size_t length = lengths[rng() % (round % 2 == 0 ? 6 : std::size(lengths))];
            if (length > 1000) {
                run = 1 + run % 3; // a long line breaks a run; many would make a huge file
            }
            file.insert(file.end(), run, length);
        }
        const LengthFile lines = fileOfLengths(file, rng() % 2 == 0);
        LineIndex whole;
        feed(whole, lines.bytes);
        expectLengths(whole, lines.index, "whole");
        LineIndex pieces;
        for (const std::string& piece : randomSplit(rng, lines.bytes)) {
            feed(pieces, piece);
        }
        expectLengths(pieces, lines.index, "pieces");
        const std::vector<std::int64_t>& starts = lines.index.starts;
        for (int run = 0; run < 40; ++run) {
            const auto first = LineNumber(rng() % starts.size());
            const auto count = LineNumber(rng() % 2100);
            const std::int64_t limit = starts[first] + std::int64_t(rng() % 100000);
            std::vector<std::int64_t> expected;
            for (std::size_t i = first;
                 i < starts.size() && i < first + count && starts[i] <= limit; ++i) {
                expected.push_back(starts[i]);
            }
            std::vector<FileOffset> copied;
            ASSERT_EQ(pieces.copyStarts(first, count, limit, copied), expected.size());
            ASSERT_EQ(copied, expected) << "first " << first << " count " << count;
        }
        if (HasFatalFailure()) {
            return;
        }
    }
}

// A limit anywhere, bytes in any split, through append and through line starts found
// apart: the index stops before the limit, at a line start, with every line before it as
// the model has it, and nothing appended later changes it.
TEST(LineIndex, TheMemoryLimitStopsTheIndexAtALineAndKeepsEveryLineBefore)
{
    // The most one step of the index allocates: the wide store of a block whose every group
    // is wide with four higher bytes (more than a block's room for groups or its carry bits).
    constexpr std::size_t OneStep = LineIndex::BlockGroups * (LineIndex::GroupLines - 1) * 4 + 64;
    std::mt19937 rng(4141);
    for (int round = 0; round < rounds(60); ++round) {
        std::vector<std::size_t> lengths(20000 + rng() % 20000);
        const int kind = round % 5;
        for (std::size_t& length : lengths) {
            length = kind == 0   ? 2                                   // `yes`
                     : kind == 1 ? 1 + rng() % 4                       // short, unequal
                     : kind == 4 ? (rng() % 6 == 0 ? 256 + rng() % 256 // carry bits
                                                   : 2 + rng() % 60)
                     : kind == 2 ? (rng() % 50 == 0 ? 300 + rng() % 70000 // wide groups
                                                    : 2 + rng() % 60)
                                 : (rng() % 700 == 0 ? 5 : 2); // mostly one length
        }
        const LengthFile file = fileOfLengths(lengths, rng() % 2 == 0);
        LineIndex unbounded;
        feed(unbounded, file.bytes);
        const std::size_t all = unbounded.memoryBytes();
        const std::size_t limit = round < 4 ? all : round < 8 ? all - 1 : rng() % (all + 1);

        LineIndex index;
        index.setMemoryLimit(limit);
        std::size_t at = 0;
        while (at < file.bytes.size()) {
            const std::size_t n = std::min<std::size_t>(file.bytes.size() - at, 1 + rng() % 5000);
            if (index.acceptsLineStarts() && rng() % 2 == 0) {
                std::vector<std::uint32_t> starts(n + 4);
                starts.resize(LineIndex::findLineStarts(
                    reinterpret_cast<const std::uint8_t*>(file.bytes.data()) + at, n, false, 0,
                    starts.data()));
                index.appendLineStarts(index.end() + FileOffset(n), starts.data(), starts.size());
            } else {
                feed(index, file.bytes.substr(at, n));
            }
            ASSERT_LE(index.memoryBytes(), limit) << "round " << round;
            at += n;
        }
        const std::vector<std::int64_t>& starts = file.index.starts;
        if (limit >= all) {
            EXPECT_FALSE(index.overflowed()) << "round " << round;
            expectLengths(index, file.index, "under the limit");
            continue;
        }
        ASSERT_TRUE(index.memoryFull()) << "round " << round;
        ASSERT_TRUE(index.overflowed());
        // Stopped for want of room, not early: the next step would not have fitted.
        EXPECT_GT(index.memoryBytes() + OneStep, limit) << "round " << round;
        const LineNumber kept = index.lineCount();
        ASSERT_LT(kept, starts.size() - 1);
        ReferenceIndex before;
        before.starts.assign(starts.begin(), starts.begin() + std::ptrdiff_t(kept) + 1);
        expectLengths(index, before, "before the limit");
        EXPECT_FALSE(index.lastLineOpen());
        feed(index, "more\nlines\n");
        EXPECT_EQ(index.lineCount(), kept);
        EXPECT_EQ(index.end(), starts[kept]);
        // Starting over at the end lifts the stop, not the limit.
        index.restartAtEnd();
        EXPECT_FALSE(index.memoryFull());
        EXPECT_EQ(index.memoryLimit(), limit);
        if (HasFatalFailure()) {
            return;
        }
    }
}

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
