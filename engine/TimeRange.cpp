#include "engine/TimeRange.h"

#include <algorithm>
#include <limits>

LineWindow lineWindow(const TimeRange& range, LineNumber knownLines,
                      const std::function<std::optional<LineNumber>(TimeMs)>& firstReaching)
{
    // Without a start, the range starts at the first line with a time at all.
    const TimeMs start = range.from.value_or(std::numeric_limits<TimeMs>::min() + 1);
    const std::optional<LineNumber> first = firstReaching(start);
    LineWindow window;
    // No known line reaches the start yet: the lines to come may.
    window.first = first.value_or(knownLines);
    if (range.to && *range.to < std::numeric_limits<TimeMs>::max()) {
        // Not reached yet: every known line is before the end, the lines to come may not be.
        window.end = firstReaching(*range.to + 1).value_or(knownLines);
    } else if (!first) {
        window.end = knownLines;
    }
    window.end = std::max(window.end, window.first);
    return window;
}
