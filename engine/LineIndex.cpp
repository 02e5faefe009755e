#include "engine/LineIndex.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void LineIndex::reset()
{
    clearBlocks();
    m_end = 0;
    m_open = false;
    m_overflow = false;
    m_probe.reset();
    m_decided = false;
    m_utf16 = false;
    m_skipBom = false;
    m_halfUnit = false;
    m_lowByte = 0;
}

void LineIndex::restartAtEnd()
{
    clearBlocks();
    m_open = false;
    m_overflow = false;
    m_decided = true;
    m_probe.release();
}

FileOffset LineIndex::lineStart(LineNumber i) const
{
    if (i >= m_count) {
        return m_end;
    }
    const Block& block = m_blocks[i >> BlockShift];
    const std::uint8_t* p = block.offsets.get() + (i & (BlockLines - 1)) * block.width;
    std::uint32_t rel = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
    if (block.width > 2) {
        rel |= std::uint32_t(p[2]) << 16;
        if (block.width > 3) {
            rel |= std::uint32_t(p[3]) << 24;
        }
    }
    return block.base + FileOffset(rel);
}

LineNumber LineIndex::lineAt(FileOffset offset) const
{
    if (m_count == 0) {
        return 0;
    }
    // Last block whose base is at or before the offset.
    std::size_t lo = 0;
    std::size_t hi = m_blocks.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (m_blocks[mid].base <= offset) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const LineNumber first = LineNumber(lo << BlockShift);
    const LineNumber lines = std::min<LineNumber>(BlockLines, m_count - first);
    LineNumber a = 0;
    LineNumber b = lines;
    while (b - a > 1) {
        const LineNumber mid = (a + b) / 2;
        if (lineStart(first + mid) <= offset) {
            a = mid;
        } else {
            b = mid;
        }
    }
    return first + a;
}

std::size_t LineIndex::memoryBytes() const
{
    std::size_t bytes = m_blocks.size() * sizeof(Block);
    for (const Block& block : m_blocks) {
        bytes += BlockLines * block.width;
    }
    return bytes;
}

void LineIndex::clearBlocks()
{
    m_blocks.clear();
    m_count = 0;
    m_lastBase = 0;
    m_lastOffsets = nullptr;
    m_lastWidth = 0;
}

void LineIndex::pushLineStart(FileOffset offset)
{
    if (m_overflow) {
        return;
    }
    if (m_count >= MaxLines) {
        m_overflow = true;
        m_end = offset;
        return;
    }
    const unsigned r = m_count & (BlockLines - 1);
    if (r == 0) {
        Block block;
        block.base = offset;
        block.offsets.reset(new std::uint8_t[BlockLines * 2]);
        m_blocks.push_back(std::move(block));
    }
    Block& block = m_blocks.back();
    const FileOffset rel = offset - block.base;
    const unsigned width = rel <= 0xFFFF ? 2u : rel <= 0xFFFFFF ? 3u : rel <= 0xFFFFFFFF ? 4u : 5u;
    if (width == 5) {
        // A block spanning 4 GiB needs lines of gigabytes; such a line start cannot be
        // stored, and dropping it would misalign every later line, so stop here.
        m_overflow = true;
        m_end = offset;
        return;
    }
    if (width > block.width) {
        // Only the block being filled ever widens, so its entries so far are all known.
        std::unique_ptr<std::uint8_t[]> wider(new std::uint8_t[BlockLines * width]);
        for (unsigned k = 0; k < r; ++k) {
            std::memset(wider.get() + k * width, 0, width);
            std::memcpy(wider.get() + k * width, block.offsets.get() + k * block.width,
                        block.width);
        }
        block.offsets = std::move(wider);
        block.width = width;
    }
    m_lastBase = block.base;
    m_lastOffsets = block.offsets.get();
    m_lastWidth = block.width;
    std::uint8_t* p = block.offsets.get() + r * block.width;
    const auto value = std::uint32_t(rel);
    for (unsigned k = 0; k < block.width; ++k) {
        p[k] = std::uint8_t(value >> (8 * k));
    }
    ++m_count;
}

LineIndex::AppendOutcome LineIndex::append(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0 || m_overflow) {
        return AppendOutcome::Extended;
    }
    AppendOutcome outcome = AppendOutcome::Extended;
    if (!m_decided) {
        const std::uint64_t zeroRun = m_probe.zeroRun();
        const std::size_t windowBytes = m_probe.window().size();
        m_probe.feed(bytes, n);
        if (m_probe.utf16() != m_utf16 || m_probe.byteOrderMark() != m_skipBom) {
            m_utf16 = m_probe.utf16();
            m_skipBom = m_probe.byteOrderMark();
            if (m_end > 0) {
                reindexProbed(zeroRun, windowBytes);
                outcome = AppendOutcome::Reindexed;
            }
        }
        if (m_probe.final()) {
            m_decided = true;
            m_probe.release();
        }
    }
    scan(bytes, bytes + n);
    return outcome;
}

void LineIndex::reindexProbed(std::uint64_t zeroRun, std::size_t windowBytes)
{
    clearBlocks();
    m_end = 0;
    m_open = false;
    m_halfUnit = false;
    if (zeroRun > 0) {
        // Zero bytes hold no line feed in either encoding: one open line.
        pushLineStart(0);
        m_open = true;
        m_end = FileOffset(zeroRun);
        m_halfUnit = m_utf16 && zeroRun % 2 != 0;
        m_lowByte = 0;
    }
    const std::uint8_t* kept = m_probe.window().data();
    scan(kept, kept + windowBytes);
}

void LineIndex::scan(const std::uint8_t* p, const std::uint8_t* e)
{
    if (m_skipBom && m_end < 2) {
        const auto skip = std::min<std::ptrdiff_t>(e - p, std::ptrdiff_t(2 - m_end));
        m_end += skip;
        p += skip;
    }
    if (p == e) {
        return;
    }
    if (m_utf16) {
        scanUtf16(p, e);
    } else {
        scanNarrow(p, e);
    }
    if (m_overflow) {
        m_open = false; // the index ends where the first unstored line starts
    }
}

namespace {

// The positions of the line feeds in 64 bytes, as a bit mask.
inline std::uint64_t lineFeedMask(const std::uint8_t* q)
{
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    auto part = [&](int k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * k));
        return std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf))));
    };
    return part(0) | (part(1) << 16) | (part(2) << 32) | (part(3) << 48);
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
        mask |= std::uint64_t(q[k] == '\n') << k;
    }
    return mask;
#endif
}

// Line feeds in 64 bytes that start at an even offset of the file, as a bit mask of the
// bytes that begin a unit 0x000A.
inline std::uint64_t lineFeedUnitMask(const std::uint8_t* q)
{
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi16(0x000A);
    auto part = [&](int k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * k));
        return std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi16(v, lf))));
    };
    const std::uint64_t both = part(0) | (part(1) << 16) | (part(2) << 32) | (part(3) << 48);
    return both & 0x5555555555555555ull;
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; k += 2) {
        mask |= std::uint64_t(q[k] == 0x0A && q[k + 1] == 0) << k;
    }
    return mask;
#endif
}

} // namespace

void LineIndex::scanNarrow(const std::uint8_t* p, const std::uint8_t* e)
{
    const std::uint8_t* const origin = p;
    const FileOffset base = m_end;
    m_end = base + (e - origin);
    if (!m_open) {
        pushLineStartFast(base);
        m_open = true;
    }
    // Each line feed closes the open line; the next line opens with the byte after it.
    auto lineFeed = [&](const std::uint8_t* q) {
        const std::uint8_t* next = q + 1;
        if (next == e) {
            m_open = false;
            return;
        }
        pushLineStartFast(base + (next - origin));
    };
    const std::uint8_t* q = p;
    for (; e - q >= 64 && !m_overflow; q += 64) {
        std::uint64_t mask = lineFeedMask(q);
        while (mask) {
            lineFeed(q + __builtin_ctzll(mask));
            mask &= mask - 1;
        }
    }
    for (; q < e && !m_overflow; ++q) {
        if (*q == '\n') {
            lineFeed(q);
        }
    }
}

void LineIndex::scanUtf16(const std::uint8_t* p, const std::uint8_t* e)
{
    const std::uint8_t* const origin = p;
    const FileOffset base = m_end;
    m_end = base + (e - origin);
    if (m_halfUnit) {
        // The second byte of a unit whose first byte came with the last append. Without an
        // open line the unit began before a clear: it is not indexed.
        m_halfUnit = false;
        const bool isLineFeed = m_lowByte == 0x0A && *p == 0;
        ++p;
        if (isLineFeed || !m_open) {
            m_open = false;
        }
        if (p == e) {
            return;
        }
    }
    if (!m_open) {
        pushLineStartFast(base + (p - origin));
        m_open = true;
    }
    // From here p is at an even offset of the file. Each unit 0x000A closes the open line;
    // the next line opens with the byte after it.
    auto lineFeed = [&](const std::uint8_t* q) {
        const std::uint8_t* next = q + 2;
        if (next == e) {
            m_open = false;
            return;
        }
        pushLineStartFast(base + (next - origin));
    };
    const std::uint8_t* q = p;
    for (; e - q >= 64 && !m_overflow; q += 64) {
        std::uint64_t mask = lineFeedUnitMask(q);
        while (mask) {
            lineFeed(q + __builtin_ctzll(mask));
            mask &= mask - 1;
        }
    }
    for (; e - q >= 2 && !m_overflow; q += 2) {
        if (q[0] == 0x0A && q[1] == 0) {
            lineFeed(q);
        }
    }
    if (q < e && !m_overflow) {
        m_halfUnit = true;
        m_lowByte = *q;
    }
}
