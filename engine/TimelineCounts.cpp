#include "engine/TimelineCounts.h"

#include "engine/TimeIndex.h"

#include <algorithm>

TimeMs TimelineCounts::stepStart(TimeMs t, TimeMs step)
{
    // Floor, not truncation: times before the epoch still start their step below them.
    TimeMs q = t / step;
    if (t % step != 0 && t < 0) {
        --q;
    }
    return q * step;
}

TimeMs TimelineCounts::fitStep(TimeMs first, TimeMs last, std::int64_t columns)
{
    for (const TimeMs step : Ladder) {
        const std::int64_t count = (stepStart(last, step) - stepStart(first, step)) / step + 1;
        if (count <= columns) {
            return step;
        }
    }
    return Ladder.back();
}

std::vector<TimelineCounts::Step> TimelineCounts::build(const Input& input, TimeMs step)
{
    std::vector<Step> steps;
    const std::size_t keywords = input.keywords;
    const std::size_t counted = keywords == 0 ? 0 : input.keywordCounts.size() / keywords;
    for (std::size_t g = 0; g < input.groupLatest.size(); ++g) {
        const LineNumber first = LineNumber(g) * input.groupLines;
        if (first >= input.lines) {
            break;
        }
        const TimeMs latest = input.groupLatest[g];
        if (latest == TimeIndex::NoTime) {
            continue;
        }
        const LineNumber end = std::min<LineNumber>(first + input.groupLines, input.lines);
        const TimeMs start = stepStart(latest, step);
        if (steps.empty() || steps.back().start != start) {
            Step next;
            next.start = start;
            next.firstLine = first;
            next.keywordLines.assign(keywords, 0);
            steps.push_back(std::move(next));
        }
        Step& current = steps.back();
        current.endLine = end;
        current.lines += end - first;
        if (g < counted) {
            for (std::size_t k = 0; k < keywords; ++k) {
                current.keywordLines[k] += input.keywordCounts[g * keywords + k];
            }
        }
    }
    return steps;
}
