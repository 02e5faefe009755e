#pragma once

// The rows of a line too long to lay out (engine/LongLine.h) when lines are wrapped: each
// row holds the same number of columns, as many average characters as the wrap width
// takes, so the rows of any part of the line, and their count, follow from its columns
// alone: nothing before the part on screen is ever decoded or measured, and scrolling to
// any row of a line of gigabytes costs what one screen costs. The font's characters are
// one average wide in the fixed-pitch fonts a log is read in; a character of several
// bytes takes as many columns, so a row of them is shorter, never wider. A row is known by
// its first column. Pure arithmetic; any thread.

#include <algorithm>
#include <cstdint>

struct ColumnRows {
    std::int64_t columns = 0; // of the line's text
    std::int64_t perRow = 1;

    ColumnRows(std::int64_t lineColumns, std::int64_t rowColumns)
        : columns(std::max<std::int64_t>(0, lineColumns)),
          perRow(std::max<std::int64_t>(1, rowColumns))
    {
    }
    std::int64_t count() const
    {
        return std::max<std::int64_t>(1, (columns + perRow - 1) / perRow);
    }
    // The row holding column c (the last one for c at or past the end).
    std::int64_t rowOf(std::int64_t c) const
    {
        return std::min(std::max<std::int64_t>(0, c) / perRow, count() - 1);
    }
    std::int64_t start(std::int64_t row) const
    {
        return std::clamp<std::int64_t>(row, 0, count() - 1) * perRow;
    }
    std::int64_t rowStart(std::int64_t c) const { return start(rowOf(c)); }
    std::int64_t rowEnd(std::int64_t c) const { return std::min(rowStart(c) + perRow, columns); }
    std::int64_t lastStart() const { return start(count() - 1); }
};
