#pragma once

// The index of line starts of the watched file, built from its bytes in any split.
//
// The encoding is decided first, from the file's first bytes (engine/EncodingProbe.h), and
// the lines follow it:
//  - narrow text: a line is a run of bytes ending with a line feed byte (0x0A);
//  - UTF-16 little-endian: a line is a run of code units ending with the unit 0x000A, units
//    counted from offset 0 (a byte-order mark FF FE is one unit, and the first line starts
//    after it). A 0x0A byte anywhere else (U+4E0A is the bytes 0A 4E) ends nothing.
//  - UTF-16 big-endian: the same with the unit's bytes the other way round, the line feed
//    being the bytes 00 0A at an even offset, the mark FE FF.
// A UTF-8 byte-order mark (EF BB BF) is no text either: the first line starts at offset 3.
// Offsets stay the file's own in every case.
// An encoding chosen by the user (chooseEncoding) is final from the first byte on.
// While the decision is provisional (fewer than a window's bytes seen) every append may
// change it; the lines seen so far are then indexed again in the new encoding, and append
// says so. So feeding a file's bytes in any split gives exactly the index of reading it
// whole, also per code unit when a unit's two bytes arrive apart.
//
// Storage: lines are kept in groups of 128 and groups in blocks of 1024 lines. A block has a
// 64-bit base (the start of its first line) and each group a 32-bit checkpoint (its first
// line's start from the base). Inside a group each line after the first has one byte:
//  - in a short group (every line before the group's last under 512 bytes) the low byte of
//    the length of the line before it, and a bit in the block's carry plane when that
//    length is 256 or more; a start is the checkpoint plus a sum of at most 127 bytes and
//    256 for each carry bit before it (a population count);
//  - in a wide group the low byte of its start from the group's first line, the higher
//    bytes beside, in the block's wide store (1-4 bytes each, the same for the block).
// The carry plane (16 bytes a group) is only there once a block holds a line of 256-511
// bytes: lines of at most 255 bytes cost about 1.07 bytes each, logs with lines up to 511
// bytes 1.19, logs of lines of 0.3-3 KB 2.1-3.1, never more than 4.1 (5.1 for lines of
// 128 MiB and more, which an index of fixed-width offsets could not hold at all). Any line's
// start is found in constant time; the line holding an offset in logarithmic time.
//
// A block whose lines all have one length of at most MaxStride bytes (`yes`, a program
// repeating itself, records of fixed width) keeps no groups at all, only that length: its
// lines cost 0.03 bytes each instead of 1.07, so the shortest lines no longer cost half of
// what they take on disk. Its first line of another length gives it its groups (at most
// 1.2 KB at once) and it goes on as any block.
//
// Memory: the index takes no more than setMemoryLimit() allows. Before an allocation would
// pass the limit it stops as at MaxLines: the line it could not hold and everything after
// it are not indexed, every line before stays as it was (memoryFull() tells the reason).
//
// Not thread-safe: the document guards it with its lock "docAccess".

#include "engine/DocumentTypes.h"
#include "engine/EncodingProbe.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class LineIndex {
  public:
    static constexpr unsigned GroupShift = 7;
    static constexpr LineNumber GroupLines = 1u << GroupShift;
    static constexpr unsigned BlockShift = 10;
    static constexpr LineNumber BlockLines = 1u << BlockShift;
    static constexpr unsigned BlockGroups = BlockLines / GroupLines;
    // Line numbers are 32-bit; an index stops growing at this many lines (overflowed()).
    static constexpr LineNumber MaxLines = 0xFFFFFFF0u;
    // The longest line a block of lines of one length keeps without groups.
    static constexpr FileOffset MaxStride = 0xFF;

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

    // After reset(), before the first append: the lines follow this encoding, final from
    // now on, instead of the one the first bytes would suggest (engine/EncodingProbe.h).
    // utf16: 16-bit units, bigEndian their byte order; markBytes: the file begins with a
    // byte-order mark of this many bytes (2 in UTF-16, 3 in UTF-8, else 0), not text.
    void chooseEncoding(bool utf16, bool bigEndian, std::size_t markBytes);

    // Extends the index with the bytes that follow end().
    AppendOutcome append(const std::uint8_t* bytes, std::size_t n);

    // A stretch of the file scanned apart from the index (on another thread): writes to
    // `out` (room for n + 4 entries) the offsets, from `from` for the stretch's first byte,
    // of the bytes that follow its line feeds, and returns how many. In UTF-16 the stretch
    // must start at an even offset of the file; a unit split at its end is not seen.
    static std::size_t findLineStarts(const std::uint8_t* bytes, std::size_t n, bool utf16,
                                      std::uint32_t from, std::uint32_t* out,
                                      bool bigEndian = false);
    // Extends the index to `to` as append() would with the bytes of [end(), to), given the
    // line starts findLineStarts found in them (offsets from end()). Only once the
    // encoding is final and, in UTF-16, from an even end().
    void appendLineStarts(FileOffset to, const std::uint32_t* starts, std::size_t n);
    // appendLineStarts may be used now.
    bool acceptsLineStarts() const
    {
        return m_decided && !m_overflow && !m_halfUnit && m_end >= FileOffset(m_markBytes) &&
               !(m_utf16 && m_end % 2 != 0);
    }

    // The encoding the lines follow (narrow until the first bytes say otherwise).
    bool isUtf16() const { return m_utf16; }
    // The units are big-endian.
    bool isBigEndian() const { return m_bigEndian; }
    // The byte-order mark before the first line: 0, 2 (UTF-16) or 3 (UTF-8) bytes.
    std::size_t markBytes() const { return m_markBytes; }
    // The encoding can no longer change.
    bool encodingFinal() const { return m_decided; }

    LineNumber lineCount() const { return m_count; }
    // Start of line i, for i <= lineCount(); lineStart(lineCount()) == end().
    FileOffset lineStart(LineNumber i) const;
    // Offset just past the last indexed byte.
    FileOffset end() const { return m_end; }
    // The last line has no line feed yet.
    bool lastLineOpen() const { return m_open; }
    // Appends to `out` the starts of lines first, first + 1, ... (count of them at most,
    // lineStart(lineCount()) == end() the last there is) while they are at or before
    // `limit`; returns how many. A group's lengths are summed once, not once a line.
    LineNumber copyStarts(LineNumber first, LineNumber count, FileOffset limit,
                          std::vector<FileOffset>& out) const;
    // The line holding the offset; offset in [lineStart(0), end()) and lineCount() > 0.
    LineNumber lineAt(FileOffset offset) const;
    // The index stopped: more than MaxLines lines were seen, or the memory limit was
    // reached (memoryFull()); the rest of the file is not indexed, and end() is the start of
    // the first line left out.
    bool overflowed() const { return m_overflow; }
    // The index stopped because holding the next line would have passed its memory limit.
    bool memoryFull() const { return m_memoryFull; }

    // What the blocks hold, in bytes: the limit is checked against this, before every
    // allocation. A limit below what is held already stops the index at its next
    // allocation. Kept across reset().
    std::size_t memoryBytes() const { return m_blocks.size() * sizeof(Block) + m_heapBytes; }
    void setMemoryLimit(std::size_t bytes) { m_memoryLimit = bytes; }
    std::size_t memoryLimit() const { return m_memoryLimit; }

  private:
    // Groups of long lines in a block: which, and the higher bytes of their entries.
    struct Wide {
        std::uint32_t mask = 0; // bit g: group g is wide
        unsigned width = 0;     // higher bytes per entry
        // For each wide group in order, its entries 1..GroupLines-1 of `width` bytes.
        std::vector<std::uint8_t> high;
        // Bits 32-39 of the checkpoints, once the block spans 4 GiB.
        std::unique_ptr<std::uint8_t[]> checkpointHigh;
    };
    // A group's bytes: its 32-bit checkpoint, then its entries.
    static constexpr std::size_t GroupBytes = 4 + GroupLines;
    // A block's groups are allocated this many at a time, so that a file of few (long)
    // lines does not pay for a whole block.
    static constexpr unsigned GrowGroups = 2;
    // The carry plane's 64-bit words a group: bit k of its lines' bits is line k - 1's
    // length bit 8 (short groups only).
    static constexpr unsigned CarryWords = GroupLines / 64;
    struct Block {
        FileOffset base = 0;
        // The groups so far, GroupBytes each; none while the block's lines are of one length.
        std::unique_ptr<std::uint8_t[]> data;
        std::unique_ptr<Wide> wide;
        // CarryWords for each group of the block, once one of its lines needed a carry.
        std::unique_ptr<std::uint64_t[]> carry;
        // Without data: line j of the block starts at base + j * stride.
        std::uint32_t stride = 0;
        std::uint8_t* group(unsigned g) const { return data.get() + g * GroupBytes; }
    };
    // m_stride of a block that has groups (no line start is that far from the one before).
    static constexpr FileOffset NoStride = -1;

    // The common case inline: a short line in a short group being filled.
    void pushLineStartFast(FileOffset offset)
    {
        const FileOffset delta = offset - m_prevStart;
        const unsigned k = m_count & (GroupLines - 1);
        if (k != 0 && delta <= 0xFF && m_groupShort && m_count < MaxLines) {
            m_groupEntries[k] = std::uint8_t(delta);
            m_prevStart = offset;
            ++m_count;
        } else if (delta == m_stride && (m_count & (BlockLines - 1)) != 0 && m_count < MaxLines) {
            // One more line of the block's one length.
            m_prevStart = offset;
            ++m_count;
        } else {
            pushLineStart(offset);
        }
    }
    void pushLineStart(FileOffset offset);
    // Whether `more` bytes may be allocated; if not, the index stops at `offset`.
    bool mayTake(std::size_t more, FileOffset offset);
    // Gives the block being filled, whose lines have one length so far, the groups that
    // hold them; false when the memory limit does not allow it (the index stopped).
    bool spreadEvenBlock(Block& block, FileOffset offset);
    // Turns the group being filled into a wide one, its entries so far kept.
    bool widenGroup(Block& block, unsigned group, FileOffset rel, FileOffset offset);
    FileOffset checkpoint(const Block& block, unsigned group) const;
    FileOffset startInGroup(const Block& block, unsigned group, unsigned k) const;
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
    bool m_memoryFull = false;
    std::size_t m_memoryLimit = ~std::size_t(0);
    std::size_t m_heapBytes = 0; // what the blocks point to: groups and wide stores
    EncodingProbe m_probe;
    bool m_decided = false;     // the encoding is final
    bool m_utf16 = false;
    bool m_bigEndian = false;
    std::size_t m_markBytes = 0; // the byte-order mark's bytes before the first line
    bool m_halfUnit = false;    // UTF-16: end() is odd, m_lowByte is the unit's first byte
                                // (its high byte in big-endian)
    std::uint8_t m_lowByte = 0;
    // The group being filled, cached for the fast path.
    FileOffset m_prevStart = 0;              // start of the last line
    FileOffset m_groupStart = 0;             // start of the group's first line
    std::uint8_t* m_groupEntries = nullptr;  // its entry bytes
    bool m_groupShort = false;
    FileOffset m_stride = NoStride; // the block's one length, while it has one
};
