#pragma once

// The index of line starts of the watched file, built from its bytes in any split.
//
// The encoding is decided first, from the file's first bytes (engine/EncodingProbe.h), and
// the lines follow it:
//  - narrow text: a line is a run of bytes ending with a line feed byte (0x0A);
//  - UTF-16 little-endian: a line is a run of code units ending with the unit 0x000A, units
//    counted from offset 0 (a byte-order mark FF FE is one unit, and the first line starts
//    after it). A 0x0A byte anywhere else (U+4E0A is the bytes 0A 4E) ends nothing.
// While the decision is provisional (fewer than a window's bytes seen) every append may
// change it; the lines seen so far are then indexed again in the new encoding, and append
// says so. So feeding a file's bytes in any split gives exactly the index of reading it
// whole, also per code unit when a unit's two bytes arrive apart.
//
// Storage: lines are kept in blocks of 256; each block has a 64-bit base (the start of its
// first line) and offsets from it of 2 bytes, or 3 when the block spans more than 64 KiB,
// or 4 beyond 16 MiB (lines of 64 KiB on average, so few lines per gigabyte). About 2.2
// bytes per line on ordinary logs, 3.2 on logs of long lines, never more than 4.2. Any
// line's start is found in constant time; the line holding an offset in logarithmic time.
//
// Not thread-safe: the document guards it with its lock "docAccess".

#include "engine/DocumentTypes.h"
#include "engine/EncodingProbe.h"

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

    // What an append did to the lines indexed before it.
    enum class AppendOutcome {
        Extended, // they stay as they were; lines may have grown or been added
        Reindexed // the encoding decision changed: every line may differ
    };

    // No lines, nothing decided: the next bytes are the file's from offset 0.
    void reset();
    // No lines; the next bytes are the file's from end() on (a clear at the old end). The
    // encoding stays as it is now, from then on final, and so does a code unit whose first
    // byte came before: its rest does not open a line.
    void restartAtEnd();

    // Extends the index with the bytes that follow end().
    AppendOutcome append(const std::uint8_t* bytes, std::size_t n);

    // The encoding the lines follow (narrow until the first bytes say otherwise).
    bool isUtf16() const { return m_utf16; }
    // The encoding can no longer change.
    bool encodingFinal() const { return m_decided; }

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
    void scanNarrow(const std::uint8_t* p, const std::uint8_t* e);
    void scanUtf16(const std::uint8_t* p, const std::uint8_t* e);
    // Indexes again, in the encoding now decided, the bytes the probe kept of the first
    // zeroRun + windowBytes bytes of the file.
    void reindexProbed(std::uint64_t zeroRun, std::size_t windowBytes);
    void clearBlocks();

    std::deque<Block> m_blocks;
    LineNumber m_count = 0;
    FileOffset m_end = 0;
    bool m_open = false;
    bool m_overflow = false;
    EncodingProbe m_probe;
    bool m_decided = false;     // the encoding is final
    bool m_utf16 = false;
    bool m_skipBom = false;     // the first two bytes are the byte-order mark
    bool m_halfUnit = false;    // UTF-16: end() is odd, m_lowByte is the unit's first byte
    std::uint8_t m_lowByte = 0;
    // The block being filled, cached for the fast path.
    FileOffset m_lastBase = 0;
    std::uint8_t* m_lastOffsets = nullptr;
    unsigned m_lastWidth = 0;
};
