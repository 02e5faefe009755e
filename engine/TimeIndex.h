#pragma once

// TimeIndex: where a log's lines lie in time, in a fraction of a byte a line. Lines are
// taken in groups of GroupLines; each group keeps the running latest time at its last line
// (the latest time of any line up to there, which never decreases, so a binary search finds
// a time even where several writers' lines go back and forth) and the time its last line
// carries (that of the nearest line at or before it with a time of its own). Larger blocks
// keep the earliest and latest time any of their lines holds, for a view of the whole log.
//
// A long stretch of a large log is taken from samples instead (addSampledGroup): of each
// group only the first time at its start, which costs a small read a group instead of reading
// every line. Such a group's running latest counts its sample alone, and the time its last
// line carries is not known. Go to Time then looks in the group before the one the samples
// point to as well, so its answer is exact as long as no line is later than the first time of
// the group after its own (writers out of step by less than a group's lines); the blocks'
// earliest and latest are those of the samples.
//
// The index holds no line text: what needs a single line's time reads that line through a
// TimeIndex::Reader, a group's lines at a time. A line without a time has the time of the
// line before it; lines before the first time have none. Not thread-safe: its owner
// (DocumentTimeIndex) guards it.

#include "engine/DocumentTypes.h"
#include "engine/LineTime.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <vector>

class TimeIndex {
  public:
    static constexpr LineNumber GroupLines = 128;
    static constexpr std::size_t BlockGroups = 64; // 8192 lines a block
    // No line so far holds a time.
    static constexpr TimeMs NoTime = std::numeric_limits<TimeMs>::min();
    // A line not read: its time, and so the time lines after it carry, is not known.
    static constexpr TimeMs Unread = NoTime + 1;

    // The own times (none: the line holds no time) of lines [first, end), into times
    // (resized to end - first); false when they cannot be read.
    using Reader = std::function<bool(LineNumber first, LineNumber end,
                                      std::vector<std::optional<TimeMs>>& times)>;

    struct Block {
        TimeMs earliest = NoTime; // NoTime: no line of the block holds a time
        TimeMs latest = NoTime;
    };

    void clear();
    // The next line's own time.
    void addLine(std::optional<TimeMs> time);
    // The next lines' own times, NoTime for a line without one, Unread for a line not read
    // (the lines a sample passed over).
    void addLines(std::span<const TimeMs> times);
    // The next GroupLines lines, known by their first time at the group's start alone
    // (NoTime: none there). Only where a group starts (lineCount() a multiple of GroupLines).
    void addSampledGroup(TimeMs sample);
    // Lines taken so far.
    LineNumber lineCount() const { return m_lines; }
    // The latest time of any line so far (NoTime: none).
    TimeMs latest() const { return m_latest; }
    // The first time any line holds (NoTime: none).
    TimeMs first() const { return m_first; }

    // Blocks of BlockLines lines, the last one as far as it goes (empty without lines).
    static constexpr LineNumber BlockLines = GroupLines * LineNumber(BlockGroups);
    std::vector<Block> blocks() const;
    // The running latest time at the last line of each group of GroupLines lines, the last
    // group as far as it goes (NoTime: no line up to there holds a time). Never decreases.
    std::vector<TimeMs> groupLatest() const;

    // The time of line `line` (< lineCount()): its own, else the nearest earlier line's; none
    // before the first time, or when the lines cannot be read. Reads one group, and after
    // sampled groups the groups before it back to a line with a time (at most
    // MostGroupsBack of them).
    std::optional<TimeMs> timeOfLine(LineNumber line, const Reader& read) const;

    static constexpr LineNumber MostGroupsBack = 64;

    // The first line in file order whose running latest time is at or after t; none when
    // no line reaches t (or the lines cannot be read). Reads one group, or two after a
    // sampled one.
    std::optional<LineNumber> firstLineAtOrAfter(TimeMs t, const Reader& read) const;

    // Memory held, in bytes.
    std::size_t memoryBytes() const;

  private:
    // A line's own time into the running latest, the carried time and the open block.
    void noteTime(TimeMs time);
    // After the last line of a group (and maybe of a block).
    void closeGroup();

    struct Group {
        TimeMs latest = NoTime;  // running latest at the group's last line
        TimeMs carried = NoTime; // the time the group's last line has, or Unread
    };
    // Complete groups only. A deque grows a node at a time: a vector's doubling would hold
    // up to twice the room the groups need.
    std::deque<Group> m_groups;
    std::vector<Block> m_blocks; // complete blocks only
    LineNumber m_lines = 0;
    TimeMs m_latest = NoTime;
    TimeMs m_carried = NoTime;
    TimeMs m_first = NoTime;
    Block m_openBlock;
};
