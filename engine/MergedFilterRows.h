#pragma once

// MergedFilterRows: the rows of a merged tab that its filter lets through, in merged order.
// Each file is filtered by its own LineFilter (FilterMatches: its matching lines, ascending),
// and the merged order (MergedRows, with each file's first line in it) places the files'
// lines; a row of the filter is a merged row whose file's line is one of that file's matches.
//
// Nothing is copied: the rows are counted from the two where they are. A file's lines keep
// their order in the merged rows, so the matches shown of file s are one run of its matches,
// and the filter rows before merged row R are, summed over the files, the matches among the
// lines each file has before R (a count of the merged rows at a checkpoint and a binary
// search in the matches). Row r's merged row is found by a binary search over R; reading
// rows one after another steps from the last one found. So late lines, a file that starts
// over or a filter pass still going cost nothing here: the rows are whatever the order and
// the matches say now, and update() says only whether rows merely came at the end.
//
// Neither the order, the bases nor the matches are owned; they must outlive this object.
// Not thread-safe (the user interface's mirrors).

#include "engine/DocumentTypes.h"
#include "engine/FilterMatches.h"
#include "engine/MergedOrder.h"

#include <cstddef>
#include <vector>

class MergedFilterRows {
  public:
    struct Row {
        std::size_t source = 0;
        LineNumber line = 0;    // the line in its file
        std::size_t merged = 0; // the merged row
        bool operator==(const Row&) const = default;
    };
    // How the rows changed in the last update().
    struct Update {
        bool appended = true; // rows before oldSize are as they were
        std::size_t oldSize = 0;
    };

    // bases[s]: the file line of source s's first merged row. matches[s] null: no rows of s.
    MergedFilterRows(const MergedRows& order, const std::vector<LineNumber>& bases,
                     std::vector<const FilterMatches*> matches);

    // The order or the matches changed. orderAppended: merged rows only came at the end since
    // the last update; matchesGrown: every file's matches only grew at their end.
    Update update(bool orderAppended, bool matchesGrown);

    std::size_t size() const { return m_size; }
    // Row r (< size()).
    Row at(std::size_t row) const;
    // The first filter row whose merged row is at or after mergedRow (size() when none).
    std::size_t lowerBound(std::size_t mergedRow) const;

  private:
    struct Span {
        std::size_t first = 0; // index of the first match shown
        std::size_t end = 0;
        bool operator==(const Span&) const = default;
    };
    void count();
    // The merged row of match `index` of the source (within its span).
    std::size_t mergedRowOf(std::size_t source, std::size_t index) const;
    // Matches of the source among its lines in merged rows [0, mergedRow).
    std::size_t matchesBefore(std::size_t source, std::size_t mergedRow) const;

    const MergedRows& m_order;
    const std::vector<LineNumber>& m_bases;
    std::vector<const FilterMatches*> m_matches;
    std::vector<Span> m_spans;
    std::size_t m_size = 0;
    std::size_t m_lastMerged = 0; // the merged row of the last row at the last update
    // The last row found, for reading rows in turn.
    mutable std::size_t m_cachedRow = ~std::size_t(0);
    mutable Row m_cached;
};
