// The read-ahead reader hands out a file's bytes from an offset exactly once and in order,
// whoever read each piece: the helper thread, or the caller when the helper was behind.

#include "engine/SequentialReader.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

using namespace quilltest;

TEST(SequentialReader, HandsOutEveryByteFromTheStartOffsetOnceAndInOrder)
{
    TempDir dir;
    const std::string path = dir.file("pieces.bin");
    std::mt19937 rng(7);
    std::string bytes(SequentialReader::PieceSize * 21 + 12345, '\0');
    for (char& c : bytes) {
        c = char(rng());
    }
    writeFile(path, bytes);
    const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(path);
    ASSERT_TRUE(file.isOpen());
    // From 0, from inside the first piece, and with a slow caller, so that the helper
    // both runs ahead and falls behind; the last start leaves exactly one byte.
    for (const FileOffset start : {FileOffset(0), FileOffset(1001), FileOffset(bytes.size() - 1)}) {
        for (const bool slowCaller : {false, true}) {
            SCOPED_TRACE(std::to_string(start) + (slowCaller ? " slow" : " fast"));
            SequentialReader reader(file, start);
            ASSERT_TRUE(reader.valid());
            std::string seen;
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            while (reader.next(data, size)) {
                seen.append(reinterpret_cast<const char*>(data), size);
                if (slowCaller && rng() % 4 == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
            EXPECT_FALSE(reader.failed());
            ASSERT_EQ(seen.size(), bytes.size() - std::size_t(start));
            EXPECT_TRUE(seen == bytes.substr(std::size_t(start)));
        }
    }
}

TEST(SequentialReader, StopsCleanlyWhenTheCallerGivesUpEarly)
{
    TempDir dir;
    const std::string path = dir.file("early.bin");
    writeFile(path, std::string(SequentialReader::PieceSize * 30, 'x'));
    const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(path);
    SequentialReader reader(file, 0);
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    ASSERT_TRUE(reader.next(data, size));
    EXPECT_EQ(size, SequentialReader::PieceSize);
    // The destructor must stop a helper that waits for a free slot.
}
