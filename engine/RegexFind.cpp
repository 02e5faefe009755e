#include "engine/RegexFind.h"

RegexHit regexFindForward(const FilterPattern& pattern, std::u16string_view line,
                          std::size_t startCol, FilterScratch& scratch)
{
    RegexHit hit;
    if (startCol > line.size()) {
        return hit;
    }
    hit.verdict = pattern.findIn(line, startCol, scratch, hit.begin, hit.end);
    return hit;
}

RegexHit regexFindBackward(const FilterPattern& pattern, std::u16string_view line,
                           std::size_t startCol, FilterScratch& scratch)
{
    RegexHit best;
    std::size_t pos = 0;
    while (pos <= line.size()) {
        RegexHit next;
        next.verdict = pattern.findIn(line, pos, scratch, next.begin, next.end);
        if (next.verdict != FilterPattern::Match) {
            // Undecided past the best so far: a nearer match may hide there.
            return next.verdict == FilterPattern::NoMatch ? best : next;
        }
        if (next.end > startCol) {
            break; // every later match ends later still
        }
        best = next;
        pos = next.end;
    }
    return best;
}
