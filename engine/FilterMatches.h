#pragma once

// The filter's result: the numbers of the matching lines, ascending, in compact blocks.
// Each block of 256 numbers keeps its first number whole and the others as 16-bit
// distances from it (32-bit when the block spans 65,536 lines or more), so a filter that
// matches 1% of a file's lines costs about 2 bytes per match and never more than about 4;
// row i's line is found in constant time, the row of a line in logarithmic time.
//
// Not thread-safe: LineFilter keeps it on the main thread.

#include "engine/DocumentTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class FilterMatches {
  public:
    static constexpr unsigned BlockShift = 8;
    static constexpr std::size_t BlockRows = std::size_t(1) << BlockShift;

    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    // Line of row i, i < size().
    LineNumber at(std::size_t row) const;
    LineNumber back() const { return at(m_count - 1); }
    // The first row whose line is >= line (size() when none).
    std::size_t lowerBound(LineNumber line) const;

    // line must be greater than back().
    void push_back(LineNumber line);
    void pop_back();
    void clear();

    // Bytes held, all blocks and their table included.
    std::size_t memoryBytes() const;

  private:
    struct Block {
        LineNumber base = 0;
        bool wide = false;                       // 32-bit distances
        std::unique_ptr<std::uint8_t[]> offsets; // BlockRows distances
    };
    std::vector<Block> m_blocks;
    std::size_t m_count = 0;
};
