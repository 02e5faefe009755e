// The line index's compact forms: lines of every length at the edges of its groups, blocks
// and widths keep their starts, and memory stays within its bounds.

#include "LineIndexTestSupport.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <random>

using namespace quilltest;

namespace {

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

} // namespace

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
