#pragma once

// The index of line starts of the watched file, built from its bytes in any split.
//
// A line is a run of bytes ending with a line feed (0x0A); a zero byte directly after the
// line feed belongs to the same line (the second byte of a UTF-16 line feed), also when it
// arrives in a later Append than its line feed. An index that began at offset 0 skips a
// leading FF FE (the UTF-16 byte-order mark), also when its two bytes arrive apart. So
// feeding a file's bytes in any split gives exactly the index of reading it whole, byte by
// byte.
//
// Storage: lines are kept in blocks of 256; each block has a 64-bit base (the start of its
// first line) and offsets from it of 2 bytes, or 3 when the block spans more than 64 KiB,
// or 4 beyond 16 MiB (lines of 64 KiB on average, so few lines per gigabyte). About 2.2
// bytes per line on ordinary logs, 3.2 on logs of long lines, never more than 4.2. Any
// line's start is found in constant time; the line holding an offset in logarithmic time.
//
// Not thread-safe: the document guards it with its lock "docAccess".

#include "engine/DocumentTypes.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

class LineIndex {
  public:
    static constexpr unsigned BlockShift = 8;
    static constexpr LineNumber BlockLines = 1u << BlockShift;
    // Line numbers are 32-bit; an index stops growing at this many lines (overflowed()).
    static constexpr LineNumber MaxLines = 0xFFFFFFF0u;

    // No lines; the next bytes are the file's bytes from offset start on. An index that
    // begins at 0 applies the byte-order-mark rule. With keepLineFeedState a zero byte at
    // start still belongs to the line before (after a clear at the old end).
    void reset(FileOffset start = 0, bool keepLineFeedState = false);

    // Extends the index with the bytes that follow end().
    void append(const std::uint8_t* bytes, std::size_t n);

    LineNumber lineCount() const { return m_count; }
    // Start of line i, for i <= lineCount(); lineStart(lineCount()) == end().
    FileOffset lineStart(LineNumber i) const;
    // Offset just past the last indexed byte.
    FileOffset end() const { return m_end; }
    // The last line has no line feed yet.
    bool lastLineOpen() const { return m_open; }
    // The line holding the offset; offset in [lineStart(0), end()) and lineCount() > 0.
    LineNumber lineAt(FileOffset offset) const;
    // More than MaxLines lines were seen; the rest of the file is not indexed.
    bool overflowed() const { return m_overflow; }

    std::size_t memoryBytes() const;

  private:
    struct Block {
        FileOffset base = 0;
        std::unique_ptr<std::uint8_t[]> offsets; // BlockLines entries of `width` bytes
        unsigned width = 2;
    };

    // The common case inline: a 2-byte offset into the block being filled.
    void pushLineStartFast(FileOffset offset)
    {
        const FileOffset rel = offset - m_lastBase;
        if ((m_count & (BlockLines - 1)) != 0 && m_lastWidth == 2 && rel <= 0xFFFF &&
            m_count < MaxLines) {
            std::uint8_t* p = m_lastOffsets + (m_count & (BlockLines - 1)) * 2;
            p[0] = std::uint8_t(rel);
            p[1] = std::uint8_t(rel >> 8);
            ++m_count;
        } else {
            pushLineStart(offset);
        }
    }
    void pushLineStart(FileOffset offset);
    void scan(const std::uint8_t* p, const std::uint8_t* e);
    void clearBlocks();

    std::deque<Block> m_blocks;
    LineNumber m_count = 0;
    FileOffset m_end = 0;
    bool m_open = false;
    bool m_afterLineFeed = false; // the last byte seen is a line feed that ended a line
    bool m_bomCheck = true;       // began at 0 and fewer than two bytes seen
    std::uint8_t m_firstByte = 0;
    bool m_overflow = false;
    // The block being filled, cached for the fast path.
    FileOffset m_lastBase = 0;
    std::uint8_t* m_lastOffsets = nullptr;
    unsigned m_lastWidth = 0;
};
