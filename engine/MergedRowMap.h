#pragma once

// MergedRowMap: what each document knows of its own lines (which lines a keyword colours,
// how many lines fall in each step of time) told over the rows of several documents merged
// by time (engine/MergedOrder.h), without reading a line. A document's lines keep their order
// among the rows, so any stretch of rows holds one stretch of each document's lines, found
// from the order's checkpoints; the keyword lines and the timeline's counts stay each
// document's own, found by its own workers, and only their places are mapped.
//
// The order may begin at a later line of a document than its first (a provisional order of
// the last lines): bases gives each source's first document line in it.
//
// Reads the caller's order and bases, which must outlive the map and stay unchanged while it
// is used. Pure arithmetic: any thread that owns them.

#include "engine/DocumentTypes.h"
#include "engine/MergedOrder.h"
#include "engine/TimelineCounts.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

class MergedRowMap {
  public:
    MergedRowMap(const MergedRows& rows, std::span<const LineNumber> bases)
        : m_rows(rows), m_bases(bases)
    {
    }

    std::size_t rowCount() const { return m_rows.rowCount(); }
    // The document line of the source's first line at or after row (one past its last line
    // in the order when none is).
    LineNumber lineAt(std::size_t source, std::size_t row) const
    {
        return m_bases[source] + m_rows.linesBefore(source, row);
    }
    // The row of the source's document line; rowCount() when the order does not hold it.
    std::size_t rowOf(std::size_t source, LineNumber line) const;

    enum class Outcome {
        Found,
        Pending, // some document has not searched the lines in between yet
        None,
    };
    // The nearest keyword line of the source's document after from (down) or before it (up),
    // as KeywordLines::neighbour answers.
    using Neighbour =
        std::function<Outcome(std::size_t source, LineNumber from, bool down, LineNumber& line)>;
    // The nearest row after row (down) or before it (up) whose line its document's keywords
    // colour.
    Outcome neighbourRow(std::size_t row, bool down, const Neighbour& neighbour,
                         std::size_t& found) const;

    // A document's overview buckets (KeywordLines::Overview): bucket b covers lines
    // [b << shift, (b + 1) << shift), 1 + a keyword's index or 0.
    struct Buckets {
        std::span<const std::uint8_t> buckets;
        unsigned shift = 0;
    };
    // A keyword (1 + its index) of the buckets of the lines rows [first, end) hold, 0 for
    // none; buckets: one per source.
    std::uint8_t keywordIn(std::size_t first, std::size_t end,
                           std::span<const Buckets> buckets) const;

    // The timeline of all sources together: each source's steps (from its own counts, the
    // same grid of steps for all) added up by time. A step's firstLine and endLine are rows:
    // the first row of its lines in the order and one past the last (both rowCount() while
    // the order holds none of them). inputs: one per source, counting the same keywords (an
    // input with none counts its lines only).
    std::vector<TimelineCounts::Step> timeline(std::span<const TimelineCounts::Input> inputs,
                                               TimeMs step) const;

  private:
    // Whether the order holds the source's document line.
    bool holds(std::size_t source, LineNumber line) const
    {
        return line >= m_bases[source] && line - m_bases[source] < m_rows.sourceLines(source);
    }

    const MergedRows& m_rows;
    std::span<const LineNumber> m_bases;
};
