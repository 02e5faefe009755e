#include "engine/LineIndex.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void LineIndex::reset(FileOffset start, bool keepLineFeedState)
{
    const bool afterLineFeed = keepLineFeedState && m_afterLineFeed;
    clearBlocks();
    m_end = start;
    m_open = false;
    m_afterLineFeed = afterLineFeed;
    m_bomCheck = (start == 0);
    m_firstByte = 0;
    m_overflow = false;
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

void LineIndex::append(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0 || m_overflow) {
        return;
    }
    if (m_bomCheck) {
        // The first two bytes of the file decide whether the first line starts at 2.
        if (m_end + FileOffset(n) < 2) {
            m_firstByte = bytes[0];
            scan(bytes, bytes + n);
            return;
        }
        m_bomCheck = false;
        const std::size_t need = std::size_t(2 - m_end);
        const std::uint8_t b0 = m_end == 1 ? m_firstByte : bytes[0];
        const std::uint8_t b1 = bytes[need - 1];
        if (b0 == 0xFF && b1 == 0xFE) {
            clearBlocks();
            m_end = 2;
            m_open = false;
            m_afterLineFeed = false;
            bytes += need;
            n -= need;
        }
    }
    scan(bytes, bytes + n);
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

} // namespace

void LineIndex::scan(const std::uint8_t* p, const std::uint8_t* e)
{
    const std::uint8_t* const origin = p;
    const FileOffset base = m_end;
    m_end = base + (e - origin);
    if (p == e) {
        return;
    }
    if (m_afterLineFeed) {
        m_afterLineFeed = false;
        if (*p == 0) {
            ++p; // the zero byte of a UTF-16 line feed: still the line before
            if (p == e) {
                return;
            }
        }
    }
    if (!m_open) {
        pushLineStartFast(base + (p - origin));
        m_open = true;
    }
    // Each line feed closes the open line; the next line opens with the byte after it
    // (after its zero byte, when one follows).
    auto lineFeed = [&](const std::uint8_t* q) {
        const std::uint8_t* next = q + 1;
        if (next == e) {
            m_open = false;
            m_afterLineFeed = true;
            return;
        }
        if (*next == 0) {
            ++next;
            if (next == e) {
                m_open = false;
                return;
            }
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
    if (m_overflow) {
        m_open = false; // the index ends where the first unstored line starts
    }
}
