#include "engine/MergedRowMap.h"

#include <algorithm>
#include <limits>
#include <map>

std::size_t MergedRowMap::rowOf(std::size_t source, LineNumber line) const
{
    if (!holds(source, line)) {
        return rowCount();
    }
    return m_rows.rowOfLine(source, line - m_bases[source]);
}

MergedRowMap::Outcome MergedRowMap::neighbourRow(std::size_t row, bool down,
                                                 const Neighbour& neighbour,
                                                 std::size_t& found) const
{
    bool pending = false;
    bool any = false;
    for (std::size_t s = 0; s < m_rows.sourceCount(); ++s) {
        // Down: the source's first line after the row; up: its first line at the row.
        const LineNumber from = lineAt(s, down ? row + 1 : row);
        LineNumber line = 0;
        Outcome outcome = Outcome::None;
        if (down) {
            if (!holds(s, from)) {
                continue;
            }
            // The nearest at or after from: from itself is the nearest before from + 1.
            outcome = neighbour(s, from + 1, false, line);
            if (outcome != Outcome::Pending && !(outcome == Outcome::Found && line == from)) {
                outcome = neighbour(s, from, true, line);
            }
        } else {
            if (from <= m_bases[s]) {
                continue;
            }
            outcome = neighbour(s, from, false, line);
        }
        if (outcome == Outcome::Pending) {
            pending = true;
            continue;
        }
        if (outcome != Outcome::Found || !holds(s, line)) {
            continue;
        }
        const std::size_t at = m_rows.rowOfLine(s, line - m_bases[s]);
        if (!any || (down ? at < found : at > found)) {
            found = at;
            any = true;
        }
    }
    // A document still searching may hold a nearer one.
    if (pending) {
        return Outcome::Pending;
    }
    return any ? Outcome::Found : Outcome::None;
}

std::uint8_t MergedRowMap::keywordIn(std::size_t first, std::size_t end,
                                     std::span<const Buckets> buckets) const
{
    for (std::size_t s = 0; s < m_rows.sourceCount() && s < buckets.size(); ++s) {
        const LineNumber from = lineAt(s, first);
        const LineNumber to = lineAt(s, end);
        if (from >= to) {
            continue;
        }
        const std::span<const std::uint8_t> of = buckets[s].buckets;
        const std::size_t last = std::size_t((to - 1) >> buckets[s].shift);
        for (std::size_t b = std::size_t(from >> buckets[s].shift); b <= last && b < of.size();
             ++b) {
            if (of[b] != 0) {
                return of[b];
            }
        }
    }
    return 0;
}

std::vector<TimelineCounts::Step>
MergedRowMap::timeline(std::span<const TimelineCounts::Input> inputs, TimeMs step) const
{
    std::size_t keywords = 0;
    for (const TimelineCounts::Input& input : inputs) {
        keywords = std::max(keywords, input.keywords);
    }
    const std::size_t none = rowCount();
    const auto asLine = [](std::size_t row) {
        return LineNumber(std::min<std::size_t>(row, std::numeric_limits<LineNumber>::max()));
    };
    std::map<TimeMs, TimelineCounts::Step> byTime;
    for (std::size_t s = 0; s < inputs.size() && s < m_rows.sourceCount(); ++s) {
        for (const TimelineCounts::Step& own : TimelineCounts::build(inputs[s], step)) {
            auto [at, added] = byTime.try_emplace(own.start);
            TimelineCounts::Step& sum = at->second;
            if (added) {
                sum.start = own.start;
                sum.firstLine = asLine(none);
                sum.endLine = 0;
                sum.keywordLines.assign(keywords, 0);
            }
            sum.lines += own.lines;
            for (std::size_t k = 0; k < own.keywordLines.size() && k < keywords; ++k) {
                sum.keywordLines[k] += own.keywordLines[k];
            }
            // The step's lines the order holds, as rows: a source's rows keep its order.
            const LineNumber first = std::max(own.firstLine, m_bases[s]);
            const LineNumber end =
                std::min<LineNumber>(own.endLine, m_bases[s] + m_rows.sourceLines(s));
            if (first < end) {
                sum.firstLine = std::min(sum.firstLine, asLine(rowOf(s, first)));
                sum.endLine = std::max(sum.endLine, asLine(rowOf(s, end - 1) + 1));
            }
        }
    }
    std::vector<TimelineCounts::Step> steps;
    steps.reserve(byTime.size());
    for (auto& [start, sum] : byTime) {
        if (sum.endLine == 0) {
            sum.endLine = asLine(none);
        }
        steps.push_back(std::move(sum));
    }
    return steps;
}
