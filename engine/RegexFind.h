#pragma once

// Find with a regular expression (the Find box's option): the rule on one decoded line,
// matched by the filter's compiled pattern (engine/FilterPattern.h) and so bounded as the
// filter is: each line has its time, and Stop is seen inside a line.
//
// Forward: the first match that starts at or after startCol. Backward: the last match that
// ends at or before startCol among the matches a sweep from the line's start finds, each
// searched for from the end of the one before (so the way down and the way up find the same
// matches). A match of nothing is never a find: it could not be selected.

#include "engine/FilterPattern.h"

#include <cstddef>
#include <string_view>

struct RegexHit {
    FilterPattern::Verdict verdict = FilterPattern::NoMatch;
    std::size_t begin = 0;
    std::size_t end = 0; // one past the match's last unit
};

RegexHit regexFindForward(const FilterPattern& pattern, std::u16string_view line,
                          std::size_t startCol, FilterScratch& scratch);
RegexHit regexFindBackward(const FilterPattern& pattern, std::u16string_view line,
                           std::size_t startCol, FilterScratch& scratch);

// What a regular-expression Find met besides its answer.
struct RegexFindReport {
    std::uint64_t undecided = 0; // lines passed over as too complex for the pattern
    bool abandoned = false;      // Stop ended the search before it was done
};
