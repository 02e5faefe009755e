#include "engine/LineIndex.h"

#include <algorithm>
#include <cstring>

void LineIndex::reset(FileOffset start, bool keepLineFeedState)
{
    const bool afterLineFeed = keepLineFeedState && m_afterLineFeed;
    m_blocks.clear();
    m_count = 0;
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
    const unsigned r = i & (BlockLines - 1);
    return block.base + (block.wide ? FileOffset(block.wide[r]) : FileOffset(block.narrow[r]));
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
        bytes += block.wide ? BlockLines * sizeof(std::uint32_t) : BlockLines * sizeof(std::uint16_t);
    }
    return bytes;
}

void LineIndex::pushLineStart(FileOffset offset)
{
    if (m_count >= MaxLines) {
        m_overflow = true;
        return;
    }
    const unsigned r = m_count & (BlockLines - 1);
    if (r == 0) {
        Block block;
        block.base = offset;
        block.narrow.reset(new std::uint16_t[BlockLines]);
        m_blocks.push_back(std::move(block));
    }
    Block& block = m_blocks.back();
    const FileOffset rel = offset - block.base;
    if (!block.wide && rel > 0xFFFF) {
        // Only the block being filled ever widens, so its narrow entries are all known.
        block.wide.reset(new std::uint32_t[BlockLines]);
        for (unsigned k = 0; k < r; ++k) {
            block.wide[k] = block.narrow[k];
        }
        block.narrow.reset();
    }
    if (block.wide) {
        if (rel > 0xFFFFFFFF) {
            // A block spanning 4 GiB needs lines of gigabytes; such a line start cannot be
            // stored, and dropping it would misalign every later line, so stop here.
            m_overflow = true;
            return;
        }
        block.wide[r] = std::uint32_t(rel);
    } else {
        block.narrow[r] = std::uint16_t(rel);
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
            m_blocks.clear();
            m_count = 0;
            m_end = 2;
            m_open = false;
            m_afterLineFeed = false;
            bytes += need;
            n -= need;
        }
    }
    scan(bytes, bytes + n);
}

void LineIndex::scan(const std::uint8_t* p, const std::uint8_t* e)
{
    const std::uint8_t* const origin = p;
    const FileOffset base = m_end;
    if (p == e) {
        return;
    }
    if (m_afterLineFeed) {
        m_afterLineFeed = false;
        if (*p == 0) {
            ++p; // the zero byte of a UTF-16 line feed: still the line before
        }
    }
    while (p < e) {
        if (!m_open) {
            pushLineStart(base + (p - origin));
            if (m_overflow) {
                m_end = base + (p - origin);
                return;
            }
            m_open = true;
        }
        const void* hit = std::memchr(p, '\n', std::size_t(e - p));
        if (!hit) {
            p = e;
            break;
        }
        const std::uint8_t* q = static_cast<const std::uint8_t*>(hit) + 1;
        m_open = false;
        if (q == e) {
            m_afterLineFeed = true;
        } else if (*q == 0) {
            ++q;
        }
        p = q;
    }
    m_end = base + (p - origin);
}
