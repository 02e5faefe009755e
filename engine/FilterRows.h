#pragma once

// FilterRows: the lines the filter pane lists, in file order: the filter's matching lines
// and, while the pane shows marks too, the marked lines (a marked line that also matches
// is listed once). The matches may be millions, the marks a handful: only the marks that
// are not matches are kept here, each with the row it takes, so row r's line is found with
// a search among the marks and one look into the matches.
//
// Neither list is owned; after either changed, update() works out the rows again (it costs
// a search in the matches per mark). Main thread only, as both lists are.

#include "engine/DocumentTypes.h"
#include "engine/FilterMatches.h"

#include <cstddef>
#include <vector>

class FilterRows {
  public:
    // matches must outlive this object; marks (ascending) may be null: no marks listed.
    explicit FilterRows(const FilterMatches& matches) : m_matches(&matches) {}
    void setMarks(const std::vector<LineNumber>* marks) { m_marks = marks; }
    bool showsMarks() const { return m_marks != nullptr; }

    // Places the marks among the matches again; true when the marks listed beside the
    // matches, or their rows, changed.
    bool update();

    std::size_t size() const { return m_matches->size() + m_extra.size(); }
    bool empty() const { return size() == 0; }
    // Line of row r, r < size().
    LineNumber at(std::size_t row) const;
    LineNumber back() const { return at(size() - 1); }
    // The first row whose line is >= line (size() when none).
    std::size_t lowerBound(LineNumber line) const;
    // The row of match `matchRow` among all rows.
    std::size_t rowOfMatch(std::size_t matchRow) const;

  private:
    const FilterMatches* m_matches;
    const std::vector<LineNumber>* m_marks = nullptr;
    std::vector<LineNumber> m_extra;      // marked lines that are no matches, ascending
    std::vector<std::size_t> m_extraRows; // the row each of them takes
};
