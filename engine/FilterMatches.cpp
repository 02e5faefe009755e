#include "engine/FilterMatches.h"
#include "platform/Contract.h"

#include <cstring>

LineNumber FilterMatches::at(std::size_t row) const
{
    QUILL_ASSERT(row < m_count);
    const Block& block = m_blocks[row >> BlockShift];
    const std::size_t i = row & (BlockRows - 1);
    if (block.wide) {
        std::uint32_t d;
        std::memcpy(&d, block.offsets.get() + i * 4, 4);
        return block.base + d;
    }
    std::uint16_t d;
    std::memcpy(&d, block.offsets.get() + i * 2, 2);
    return block.base + d;
}

std::size_t FilterMatches::lowerBound(LineNumber line) const
{
    // The last block whose first line is <= line, then a search inside it.
    std::size_t lo = 0;
    std::size_t hi = m_blocks.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (m_blocks[mid].base <= line) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo == 0) {
        return 0;
    }
    std::size_t first = (lo - 1) << BlockShift;
    std::size_t last = std::min(m_count, lo << BlockShift);
    while (first < last) {
        const std::size_t mid = (first + last) / 2;
        if (at(mid) < line) {
            first = mid + 1;
        } else {
            last = mid;
        }
    }
    return first;
}

void FilterMatches::push_back(LineNumber line)
{
    QUILL_ASSERT(m_count == 0 || line > back());
    const std::size_t i = m_count & (BlockRows - 1);
    if (i == 0) {
        Block block;
        block.base = line;
        block.offsets = std::make_unique<std::uint8_t[]>(BlockRows * 2);
        m_blocks.push_back(std::move(block));
    }
    Block& block = m_blocks.back();
    const std::uint32_t d = line - block.base;
    if (!block.wide && d > 0xFFFF) {
        auto wide = std::make_unique<std::uint8_t[]>(BlockRows * 4);
        for (std::size_t k = 0; k < i; ++k) {
            std::uint16_t narrow;
            std::memcpy(&narrow, block.offsets.get() + k * 2, 2);
            const std::uint32_t value = narrow;
            std::memcpy(wide.get() + k * 4, &value, 4);
        }
        block.offsets = std::move(wide);
        block.wide = true;
    }
    if (block.wide) {
        std::memcpy(block.offsets.get() + i * 4, &d, 4);
    } else {
        const auto narrow = std::uint16_t(d);
        std::memcpy(block.offsets.get() + i * 2, &narrow, 2);
    }
    ++m_count;
}

void FilterMatches::pop_back()
{
    QUILL_ASSERT(m_count > 0);
    --m_count;
    if ((m_count & (BlockRows - 1)) == 0) {
        m_blocks.pop_back();
    }
}

void FilterMatches::clear()
{
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_count = 0;
}

std::size_t FilterMatches::memoryBytes() const
{
    std::size_t bytes = m_blocks.capacity() * sizeof(Block);
    for (const Block& block : m_blocks) {
        bytes += BlockRows * (block.wide ? 4 : 2);
    }
    return bytes;
}
