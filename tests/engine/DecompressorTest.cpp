// Each decompressor on real archives made here by the system's own tools (gzip, bzip2, xz,
// zstd): whole, concatenated, truncated, damaged, empty; formats told by content, not name.

#include "engine/Decompressor.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using quilltest::TempDir;

namespace {

struct Tool {
    CompressionFormat format;
    const char* program; // compresses standard input to standard output with -c
    const char* suffix;
};

const Tool Tools[] = {
    {CompressionFormat::Gzip, "gzip", ".gz"},
    {CompressionFormat::Bzip2, "bzip2", ".bz2"},
    {CompressionFormat::Xz, "xz", ".xz"},
    {CompressionFormat::Zstd, "zstd -q", ".zst"},
};

// About 2.5 MB of log lines, more than several of the decompressor's blocks, not too
// regular so the archives are not tiny.
std::string logText(unsigned seed, int lines = 20000)
{
    std::mt19937 random(seed);
    std::string text;
    static const char* levels[] = {"INFO", "WARN", "ERROR", "DEBUG"};
    for (int i = 0; i < lines; ++i) {
        text += "2026-12-08T23:" + std::to_string(10 + i % 50) + " " + levels[random() % 4] +
                " worker-" + std::to_string(random() % 97) + " request " +
                std::to_string(random()) + " took " + std::to_string(random() % 5000) + " ms\n";
    }
    return text;
}

std::string compress(const TempDir& dir, const Tool& tool, const std::string& text,
                     const std::string& name)
{
    const std::string plain = dir.file(name + ".plain");
    const std::string packed = dir.file(name);
    quilltest::writeFile(plain, text);
    const std::string command =
        std::string(tool.program) + " -c < '" + plain + "' > '" + packed + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return packed;
}

struct Outcome {
    DecompressResult result;
    std::string output;
};

Outcome decompress(const TempDir& dir, CompressionFormat format, const std::string& path,
                   std::int64_t reserve = 0, bool cancelled = false)
{
    const std::string outPath = dir.file("out");
    const int in = ::open(path.c_str(), O_RDONLY);
    const int out = ::open(outPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    std::atomic<bool> cancel{cancelled};
    std::atomic<std::uint64_t> consumed{0};
    Outcome run;
    run.result = decompressStream(format, in, out, cancel, consumed, reserve);
    ::close(in);
    ::close(out);
    run.output = quilltest::readFile(outPath);
    EXPECT_EQ(consumed.load(), run.result.consumed);
    return run;
}

class EachFormat : public ::testing::TestWithParam<Tool> {};

TEST_P(EachFormat, DecompressesWhatTheToolMade)
{
    TempDir dir;
    const std::string text = logText(1);
    const std::string packed = compress(dir, GetParam(), text, "a.log");
    // By content: the name has no suffix.
    EXPECT_EQ(detectCompressionOfFile(packed), GetParam().format);
    const Outcome run = decompress(dir, GetParam().format, packed);
    EXPECT_EQ(run.result.outcome, DecompressResult::Outcome::Complete) << run.result.detail;
    EXPECT_EQ(run.output.size(), text.size());
    EXPECT_TRUE(run.output == text);
    EXPECT_EQ(run.result.produced, text.size());
    EXPECT_EQ(run.result.consumed, quilltest::readFile(packed).size());
}

TEST_P(EachFormat, ConcatenatedArchivesReadAsOne)
{
    TempDir dir;
    const std::string first = logText(2, 3000);
    const std::string second = logText(3, 10);
    const std::string both = dir.file("both");
    quilltest::writeFile(both, quilltest::readFile(compress(dir, GetParam(), first, "1")) +
                                   quilltest::readFile(compress(dir, GetParam(), second, "2")));
    const Outcome run = decompress(dir, GetParam().format, both);
    EXPECT_EQ(run.result.outcome, DecompressResult::Outcome::Complete) << run.result.detail;
    EXPECT_TRUE(run.output == first + second);
}

TEST_P(EachFormat, TruncatedArchiveKeepsWhatCameBeforeTheCut)
{
    TempDir dir;
    const std::string text = logText(4);
    const std::string archive = quilltest::readFile(compress(dir, GetParam(), text, "t"));
    for (std::size_t keep : {archive.size() / 2, archive.size() - 1}) {
        const std::string cut = dir.file("cut");
        quilltest::writeFile(cut, archive.substr(0, keep));
        const Outcome run = decompress(dir, GetParam().format, cut);
        EXPECT_EQ(run.result.outcome, DecompressResult::Outcome::Truncated)
            << keep << " of " << archive.size() << ": " << run.result.detail;
        EXPECT_LE(run.output.size(), text.size());
        EXPECT_EQ(text.compare(0, run.output.size(), run.output), 0) << "not a prefix";
        // bzip2 gives nothing of a block (900 kB of text) before its end.
        if (keep == archive.size() / 2 && GetParam().format != CompressionFormat::Bzip2) {
            EXPECT_GT(run.output.size(), text.size() / 4) << "half the archive gave too little";
        }
    }
}

TEST_P(EachFormat, DamagedArchiveSaysSoAndKeepsTheGoodStart)
{
    TempDir dir;
    const std::string text = logText(5);
    std::string archive = quilltest::readFile(compress(dir, GetParam(), text, "d"));
    // Bytes flipped in the middle: every format checks its data (CRC, checksums).
    for (std::size_t i = archive.size() / 2; i < archive.size() / 2 + 64; ++i) {
        archive[i] = static_cast<char>(archive[i] ^ 0x5A);
    }
    const std::string damaged = dir.file("damaged");
    quilltest::writeFile(damaged, archive);
    const Outcome run = decompress(dir, GetParam().format, damaged);
    EXPECT_EQ(run.result.outcome, DecompressResult::Outcome::Damaged);
    EXPECT_FALSE(run.result.detail.empty());
    EXPECT_LT(run.output.size(), text.size());
    // What was written before the damage is the text's start. bzip2 sorts a whole block
    // (900 kB) at once, so damage anywhere in a block garbles all of it, and its checksum is
    // checked only after it was handed out; the others stop at or near the damage.
    if (GetParam().format == CompressionFormat::Bzip2) {
        return;
    }
    EXPECT_GT(run.output.size(), 0u);
    const std::size_t firstDifference =
        std::mismatch(run.output.begin(), run.output.end(), text.begin()).first -
        run.output.begin();
    EXPECT_GT(firstDifference, text.size() / 8);
}

TEST_P(EachFormat, TrailingGarbageIsDamage)
{
    TempDir dir;
    const std::string text = logText(6, 100);
    const std::string path = dir.file("garbage");
    quilltest::writeFile(path, quilltest::readFile(compress(dir, GetParam(), text, "g")) +
                                   "this is not compressed\n");
    const Outcome run = decompress(dir, GetParam().format, path);
    EXPECT_EQ(run.result.outcome, DecompressResult::Outcome::Damaged);
    EXPECT_TRUE(run.output == text);
}

TEST_P(EachFormat, CancelledBeforeTheFirstBlock)
{
    TempDir dir;
    const std::string packed = compress(dir, GetParam(), logText(7), "c");
    const Outcome run = decompress(dir, GetParam().format, packed, 0, true);
    EXPECT_EQ(run.result.outcome, DecompressResult::Outcome::Cancelled);
    EXPECT_TRUE(run.output.empty());
}

TEST_P(EachFormat, StopsAtTheDiskReserve)
{
    TempDir dir;
    const std::string packed = compress(dir, GetParam(), logText(8), "r");
    // A reserve beyond any disk: the first write is refused.
    const Outcome run = decompress(dir, GetParam().format, packed, std::int64_t(1) << 60);
    EXPECT_EQ(run.result.outcome, DecompressResult::Outcome::DiskFull);
    EXPECT_TRUE(run.output.empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, EachFormat, ::testing::ValuesIn(Tools),
                         [](const ::testing::TestParamInfo<Tool>& row) {
                             return std::string(compressionName(row.param.format));
                         });

TEST(Decompressor, DetectsByContentNotByName)
{
    TempDir dir;
    // A .gz that is really plain text, and an empty one, are plain files.
    const std::string fake = dir.file("rotated.log.1.gz");
    quilltest::writeFile(fake, "2026-12-08 INFO plain text after all\n");
    EXPECT_EQ(detectCompressionOfFile(fake), CompressionFormat::None);
    const std::string empty = dir.file("empty.gz");
    quilltest::writeFile(empty, "");
    EXPECT_EQ(detectCompressionOfFile(empty), CompressionFormat::None);
    EXPECT_EQ(detectCompressionOfFile(dir.file("missing.gz")), CompressionFormat::None);
    EXPECT_EQ(detectCompressionOfFile(dir.path()), CompressionFormat::None);

    // Magic numbers at their shortest, and one byte short of them.
    struct Row {
        std::string bytes;
        CompressionFormat format;
    };
    const Row rows[] = {
        {std::string("\x1f\x8b\x08", 3), CompressionFormat::Gzip},
        {std::string("\x1f\x8b", 2), CompressionFormat::None},
        {std::string("\x1f\x8b\x07", 3), CompressionFormat::None},
        {std::string("\x1f\x8b\x09", 3), CompressionFormat::None},
        {"BZh9", CompressionFormat::Bzip2},
        {"BZh1", CompressionFormat::Bzip2},
        {"BZh0", CompressionFormat::None},
        {"BZh", CompressionFormat::None},
        {std::string("\xfd"
                     "7zXZ\0",
                     6),
         CompressionFormat::Xz},
        {std::string("\xfd"
                     "7zXZ",
                     5),
         CompressionFormat::None},
        {std::string("\x28\xb5\x2f\xfd", 4), CompressionFormat::Zstd},
        {std::string("\x28\xb5\x2f", 3), CompressionFormat::None},
        {"", CompressionFormat::None},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(detectCompression(reinterpret_cast<const std::uint8_t*>(row.bytes.data()),
                                    row.bytes.size()),
                  row.format)
            << row.bytes.size();
    }
}

// Where a write of the decoded text ends, on the edges a reader following the copy could
// meet: a line end (CR LF kept whole), the rest of a UTF-16 little-endian line feed, and in
// a line longer than the buffer a UTF-8 character of each length cut at every byte.
TEST(DecompressWriteCut, EndsAfterTheLastLineEndOrBeforeACutCharacter)
{
    const auto cut = [](const std::string& bytes) {
        return decompressWriteCut(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                  bytes.size());
    };
    EXPECT_EQ(cut("ab\ncd"), 3u);
    EXPECT_EQ(cut("ab\ncd\n"), 6u);
    EXPECT_EQ(cut("ab\r\ncd\r"), 4u);
    EXPECT_EQ(cut("\n"), 1u);
    EXPECT_EQ(cut(std::string("a\0\n\0b\0", 6)), 4u);
    EXPECT_EQ(cut(std::string("a\0\n\0", 4)), 4u);
    EXPECT_EQ(cut("x\n\xC3\xBC"), 2u);
    for (const std::string character : {"\xC3\xBC", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (std::size_t k = 1; k <= character.size(); ++k) {
            const std::string line = "abc" + character.substr(0, k);
            EXPECT_EQ(cut(line), k < character.size() ? 3u : line.size()) << k;
        }
    }
    // Not UTF-8 (continuation bytes without a lead): written as they are.
    EXPECT_EQ(cut("ab\x80\x80\x80\x80"), 6u);
    EXPECT_EQ(cut("\x80\x80"), 2u);
}

// Random lines of one to four byte characters, some longer than a write.
std::string randomLines(std::mt19937& random, std::size_t bytes, std::size_t longLine)
{
    static const char* pieces[] = {
        "a", "b", "7", " ", "=", "\xC3\xBC", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    std::string text;
    while (text.size() < bytes) {
        const std::size_t length =
            random() % 40 == 0 ? longLine + random() % longLine : random() % 120;
        std::string line;
        while (line.size() < length) {
            line += pieces[random() % 8];
        }
        text += line + (random() % 5 == 0 ? "\r\n" : "\n");
    }
    return text;
}

// The decoded text goes out in writes that end at line ends, whatever the write size and
// wherever the format's own blocks end: a reader following the copy meets neither half a
// line nor half a character, but in a line longer than a write, which is parted between
// characters. Each write is read as it was made (a datagram socket keeps the edges).
TEST(DecompressWrites, EndAtLineEndsAndAddUpToTheText)
{
    TempDir dir;
    std::mt19937 random(505);
    for (int round = 0; round < 16; ++round) {
        const Tool& tool = Tools[round % 4];
        const std::size_t writeBytes = 16 + random() % 5000;
        SCOPED_TRACE(std::string(tool.program) + " writes of " + std::to_string(writeBytes));
        const std::string text = randomLines(random, 60000 + random() % 200000, writeBytes);
        const std::string packed = compress(dir, tool, text, "w");
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        std::vector<std::string> writes;
        std::thread reader([&] {
            // One byte more than a write may hold, to see one that is too large.
            std::string buffer(writeBytes + 1, '\0');
            for (;;) {
                const ssize_t n = ::read(pair[1], buffer.data(), buffer.size());
                if (n <= 0) {
                    break;
                }
                writes.emplace_back(buffer.data(), static_cast<std::size_t>(n));
            }
        });
        const int in = ::open(packed.c_str(), O_RDONLY);
        std::atomic<bool> cancel{false};
        std::atomic<std::uint64_t> consumed{0};
        const DecompressResult result =
            decompressStream(tool.format, in, pair[0], cancel, consumed, 0, writeBytes);
        ::shutdown(pair[0], SHUT_WR);
        reader.join();
        ::close(in);
        ::close(pair[0]);
        ::close(pair[1]);
        EXPECT_EQ(result.outcome, DecompressResult::Outcome::Complete);
        EXPECT_EQ(result.produced, text.size());
        std::size_t at = 0;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            const std::string& write = writes[i];
            ASSERT_LE(write.size(), writeBytes) << "write " << i;
            ASSERT_EQ(text.compare(at, write.size(), write), 0) << "write " << i;
            at += write.size();
            if (i + 1 == writes.size()) {
                break;
            }
            // Each write but the last left the buffer full: what stayed behind is the
            // start of the next line, without a line feed.
            const std::size_t feed = text.find('\n', at);
            const std::size_t nextLine = (feed == std::string::npos ? text.size() : feed) - at;
            if (write.back() == '\n') {
                ASSERT_GE(write.size() + nextLine, writeBytes) << "small write " << i;
            } else {
                ASSERT_EQ(write.find('\n'), std::string::npos) << "half a line, write " << i;
                ASSERT_GE(write.size() + 3, writeBytes) << "small write " << i;
                ASSERT_NE(static_cast<unsigned char>(text[at]) & 0xC0, 0x80)
                    << "half a character, write " << i;
            }
        }
        EXPECT_EQ(at, text.size());
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
}

} // namespace
