// Feeds arbitrary bytes to the line index in arbitrary pieces and checks, after every
// piece, that the index equals the model of everything fed so far (the text decoded in
// the encoding, then split at its line feeds): line starts, the open last line, the end,
// and the line that holds each start. The encoding is the index's own answer, held to two
// consequences that need no detector: a byte-order mark means UTF-16, and bytes without a
// zero byte are narrow. The whole file and its pieces must give the same answer.

#include "engine/LineIndex.h"

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

Reference modelIndex(const std::uint8_t* b, std::size_t n, bool utf16)
{
    Reference ref;
    const std::size_t unit = utf16 ? 2 : 1;
    std::size_t i = (utf16 && n >= 2 && b[0] == 0xFF && b[1] == 0xFE) ? 2 : 0;
    bool open = false;
    for (; i < n; i += unit) {
        if (!open) {
            ref.starts.push_back(FileOffset(i));
            open = true;
        }
        const bool lineFeed = utf16 ? (i + 1 < n && b[i] == 0x0A && b[i + 1] == 0) : b[i] == 0x0A;
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
    if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        check(index.isUtf16());
    }
    if (std::memchr(bytes, 0, n) == nullptr && !(n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)) {
        check(!index.isUtf16());
    }
    const Reference ref = modelIndex(bytes, n, index.isUtf16());
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
