// Feeds arbitrary bytes to the line index in arbitrary pieces and checks, after every
// piece, that the index equals the model of everything fed so far (the text decoded in
// the encoding, then split at its line feeds): line starts, the open last line, the end,
// and the line that holds each start. The encoding is the index's own answer, held to the
// consequences that need no detector: a UTF-16 byte-order mark means UTF-16 of its order,
// a skipped mark is the one the bytes begin with, and bytes without a zero byte are narrow. The whole file and its pieces must give the same answer.

#include "engine/LineIndex.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Reference {
    std::vector<FileOffset> starts;
    bool open = false;
    FileOffset end = 0;
};

Reference modelIndex(const std::uint8_t* b, std::size_t n, bool utf16, bool bigEndian,
                     std::size_t markBytes)
{
    Reference ref;
    const std::size_t unit = utf16 ? 2 : 1;
    // The line feed's unit: 0A 00 little-endian, 00 0A big-endian.
    const std::size_t low = bigEndian ? 1 : 0;
    std::size_t i = markBytes;
    bool open = false;
    for (; i < n; i += unit) {
        if (!open) {
            ref.starts.push_back(FileOffset(i));
            open = true;
        }
        const bool lineFeed =
            utf16 ? (i + 1 < n && b[i + low] == 0x0A && b[i + 1 - low] == 0) : b[i] == 0x0A;
        if (lineFeed) {
            open = false;
        }
    }
    ref.open = open;
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
    const bool littleMark = n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    const bool bigMark = n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
    if (littleMark || bigMark) {
        check(index.isUtf16() && index.isBigEndian() == bigMark && index.markBytes() == 2);
    }
    if (std::memchr(bytes, 0, n) == nullptr && !littleMark && !bigMark) {
        check(!index.isUtf16());
    }
    // A mark the index skips is the one the bytes begin with.
    const std::size_t mark = index.markBytes();
    check(mark == 0 || (mark == 2 && (littleMark || bigMark)) ||
          (mark == 3 && n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF));
    const Reference ref =
        modelIndex(bytes, n, index.isUtf16(), index.isBigEndian(), std::min(mark, n));
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
    whole.append(bytes, n);
    compare(whole, bytes, n);

    LineIndex pieces;
    for (std::size_t fed = 0; fed < n;) {
        seed = seed * 1664525u + 1013904223u;
        const std::size_t piece = std::min<std::size_t>(n - fed, 1 + (seed >> 24) % 17);
        pieces.append(bytes + fed, piece);
        fed += piece;
        compare(pieces, bytes, fed);
    }
    check(pieces.isUtf16() == whole.isUtf16());
    return 0;
}
