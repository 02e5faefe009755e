#pragma once

// TimelineCounts: how many lines, and how many of each keyword's lines, fall in each step of
// time over the whole log, for the timeline above the log. It is built from what the time
// index and the keyword search keep already (no line is read): a group of GroupLines lines
// counts in the step of its running latest time, so the steps follow the file's order and
// each covers a run of whole groups; a line before the first time counts nowhere. Pure
// arithmetic on copies: any thread.

#include "engine/DocumentTypes.h"
#include "engine/LineTime.h"

#include <array>
#include <cstdint>
#include <vector>

class TimelineCounts {
  public:
    // The steps the timeline offers, finest first: one second to one day.
    static constexpr std::array<TimeMs, 9> Ladder{1000,   5000,    15000,    60000,   300000,
                                                  900000, 3600000, 21600000, 86400000};

    struct Input {
        LineNumber groupLines = 128;
        // Per group, its running latest time (TimeIndex::groupLatest; NoTime: none yet).
        std::vector<TimeMs> groupLatest;
        // The lines the groups cover (the last group may be short).
        LineNumber lines = 0;
        // Per group, `keywords` counts of its lines each keyword colours; groups past its
        // end have none found yet.
        std::vector<std::uint8_t> keywordCounts;
        std::size_t keywords = 0;
    };

    struct Step {
        TimeMs start = 0; // the step covers [start, start + step)
        LineNumber firstLine = 0;
        LineNumber endLine = 0; // one past its last line
        std::uint64_t lines = 0;
        std::vector<std::uint32_t> keywordLines; // by keyword
    };

    // The steps that hold lines, in order (empty steps are left out).
    static std::vector<Step> build(const Input& input, TimeMs step);
    // The finest step of the ladder whose steps from first to last number at most columns
    // (the coarsest when none does).
    static TimeMs fitStep(TimeMs first, TimeMs last, std::int64_t columns);
    // The start of the step that holds t (steps start at multiples of step from the epoch).
    static TimeMs stepStart(TimeMs t, TimeMs step);
};
