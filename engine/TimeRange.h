#pragma once

// A range of time for the filter, and the lines it covers. A line's time for this purpose is
// the running latest time at that line: the latest time any line up to it holds (a line
// without a time of its own, or one that goes back in time because another writer's line
// came late, counts as the latest time before it). That time never decreases in file order,
// so the lines in a range are one unbroken run [first, end), found by two binary searches,
// and the same rule Go to Time uses. Lines before the log's first time have no time and lie
// outside every range.

#include "engine/DocumentTypes.h"
#include "engine/LineTime.h"

#include <functional>
#include <optional>

struct TimeRange {
    std::optional<TimeMs> from; // none: from the log's first time on
    std::optional<TimeMs> to;   // none: no end; inclusive
    bool isEmpty() const { return !from && !to; }
    bool operator==(const TimeRange&) const = default;
};

// The lines of a range among the lines whose times are known so far.
struct LineWindow {
    static constexpr LineNumber NoEnd = ~LineNumber(0);
    LineNumber first = 0;
    LineNumber end = NoEnd; // NoEnd: every later line too, as the log grows
    bool operator==(const LineWindow&) const = default;
};

// firstReaching(t): the first of the known lines whose running latest time is at or after t,
// none when no known line reaches t. knownLines: how many lines the index has read. As more
// lines become known the window only grows: lines once inside stay inside.
LineWindow lineWindow(const TimeRange& range, LineNumber knownLines,
                      const std::function<std::optional<LineNumber>(TimeMs)>& firstReaching);
