// Feeds arbitrary bytes to the line index in arbitrary pieces and checks, after every
// piece, that the index equals the byte-by-byte index of everything fed so far: line
// starts, the open last line, the end, and the line that holds each start.

#include "engine/LineIndex.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Reference {
    std::vector<FileOffset> starts;
    bool open = false;
    FileOffset end = 0;
};

// The rule the index must reproduce, one byte at a time.
Reference referenceIndex(const std::uint8_t* b, std::size_t n)
{
    Reference ref;
    std::size_t i = (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) ? 2 : 0;
    std::size_t lineStart = i;
    for (; i < n; ++i) {
        if (b[i] == 0x0A) {
            if (i + 1 < n && b[i + 1] == 0) {
                ++i;
            }
            ref.starts.push_back(FileOffset(lineStart));
            lineStart = i + 1;
        }
    }
    if (lineStart < n) {
        ref.starts.push_back(FileOffset(lineStart));
        ref.open = true;
    }
    ref.end = FileOffset(n);
    return ref;
}

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void compare(const LineIndex& index, const std::uint8_t* bytes, std::size_t n)
{
    const Reference ref = referenceIndex(bytes, n);
    check(index.lineCount() == ref.starts.size());
    check(index.lastLineOpen() == ref.open);
    check(index.end() == ref.end);
    for (LineNumber line = 0; line < index.lineCount(); ++line) {
        check(index.lineStart(line) == ref.starts[line]);
        check(index.lineAt(ref.starts[line]) == line);
    }
    check(index.lineStart(index.lineCount()) == ref.end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The first byte seeds the piece sizes; the rest is the file.
    std::uint32_t seed = data[0] * 2654435761u + 1;
    const std::uint8_t* bytes = data + 1;
    const std::size_t n = size - 1;

    LineIndex whole;
    whole.reset(0);
    whole.append(bytes, n);
    compare(whole, bytes, n);

    LineIndex pieces;
    pieces.reset(0);
    for (std::size_t fed = 0; fed < n;) {
        seed = seed * 1664525u + 1013904223u;
        const std::size_t piece = std::min<std::size_t>(n - fed, 1 + (seed >> 24) % 17);
        pieces.append(bytes + fed, piece);
        fed += piece;
        compare(pieces, bytes, fed);
    }
    return 0;
}
