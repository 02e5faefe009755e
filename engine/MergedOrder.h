#pragma once

// The rows of several logs merged by time. Each line of a source gets a key, the running
// latest time of its source up to it (the latest own time of that line and every line before
// it; none before the source's first time), and the rows are the lines of all sources in the
// order of (key, source, line). So each source keeps its own order (its keys never
// decrease), a line without a time stays right after the line before it in its file, equal
// times keep the order of the sources, and lines before a source's first time (a whole
// source, when it holds no time) come first, as a block in file order, before the first line
// with a time.
//
// MergedRows holds the order itself: one packed source number a row, of 1, 2, 4 or 8 bits by
// the number of sources (two sources: 1 bit a row), and every CheckpointRows rows each
// source's line count so far (two sources: 8 bytes a checkpoint, 1/64 byte a row). A row's
// line is the checkpoint's count and the rows of its source since it, counted a word at a
// time; a line's row is a binary search over the checkpoints and the same count. So two
// logs cost under 0.15 bytes a line however their lines interleave (strictly in turn or in
// long bursts): runs of one source would grow with every turn of the sources.
//
// MergedOrder adds the keys: the keys of the last KeptKeys rows are held, so a line that
// comes later than lines of other sources already placed (two machines' clocks apart)
// takes its place by time and only the rows after that place are merged again. A place
// before the kept rows merges everything again from the sources' own times, read through
// the caller's TimeReader. Lines before their source's first time join the block of such
// lines at the start without any key read: the rows after the block only move down. A
// source that starts over (truncated, replaced) leaves the order
// and joins again as its lines come.
//
// Neither class is thread-safe; the owner guards or mirrors them.

#include "engine/DocumentTypes.h"
#include "engine/LineTime.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <span>
#include <vector>

class MergedRows {
  public:
    static constexpr std::size_t MaxSources = 256;
    static constexpr std::size_t CheckpointRows = 512;

    struct Place {
        std::size_t source = 0;
        LineNumber line = 0;
        bool operator==(const Place&) const = default;
    };

    // sources: 1 to MaxSources.
    explicit MergedRows(std::size_t sources);

    std::size_t sourceCount() const { return m_sources; }
    std::size_t rowCount() const { return m_rows; }
    // Lines of the source in the order.
    LineNumber sourceLines(std::size_t source) const { return m_lines[source]; }

    // The next row is the source's next line.
    void push(std::size_t source);
    // Keeps the first `rows` rows (rows <= rowCount()).
    void truncate(std::size_t rows);
    // count rows of the source at `row` (<= rowCount()), before the row that was there; they
    // are the source's lines from the one that row would hold on.
    void insert(std::size_t row, std::size_t source, std::size_t count);
    // Every row of the source leaves; the others keep their order.
    void removeSource(std::size_t source);
    void clear() { truncate(0); }

    std::size_t sourceOfRow(std::size_t row) const; // row < rowCount()
    Place placeOfRow(std::size_t row) const;        // row < rowCount()
    // The row of the source's line (line < sourceLines(source)).
    std::size_t rowOfLine(std::size_t source, LineNumber line) const;
    // The source's lines among rows [0, row) (row <= rowCount()).
    LineNumber linesBefore(std::size_t source, std::size_t row) const;
    // The source numbers of rows [first, rowCount()), one a byte.
    std::vector<std::uint8_t> sourcesFrom(std::size_t first) const;

    std::size_t memoryBytes() const;

  private:
    std::uint64_t field(std::size_t row) const;
    // Rows of the source among rows [from, to) (both in one checkpoint's stretch or less).
    LineNumber countIn(std::size_t source, std::size_t from, std::size_t to) const;

    std::size_t m_sources;
    unsigned m_width;    // bits a row
    unsigned m_perWord;  // rows a word
    std::uint64_t m_low; // the lowest bit of every field of a word
    std::vector<std::uint64_t> m_words;
    std::size_t m_rows = 0;
    // Checkpoint c: each source's lines in rows [0, c * CheckpointRows), sources in a row.
    std::vector<LineNumber> m_counts;
    std::vector<LineNumber> m_lines;
};

class MergedOrder {
  public:
    static constexpr TimeMs NoTime = std::numeric_limits<TimeMs>::min();
    static constexpr std::size_t DefaultKeptKeys = std::size_t{1} << 16;
    // The own times (NoTime: none) of a source's lines [first, end), into own (resized to
    // end - first); false when they cannot be read.
    using TimeReader = std::function<bool(std::size_t source, LineNumber first, LineNumber end,
                                          std::vector<TimeMs>& own)>;

    explicit MergedOrder(std::size_t sources, std::size_t keptKeys = DefaultKeptKeys);

    const MergedRows& rows() const { return m_rows; }
    std::size_t rowCount() const { return m_rows.rowCount(); }
    std::size_t sourceCount() const { return m_rows.sourceCount(); }
    LineNumber sourceLines(std::size_t source) const { return m_rows.sourceLines(source); }
    // The running latest time of the source's last line (NoTime: none yet).
    TimeMs sourceKey(std::size_t source) const { return m_lastKey[source]; }

    // The source's next lines came, with their own times. Returns the first row that may read
    // otherwise than before (the old rowCount() when the lines only joined at the end). read
    // is asked only when the place lies before the kept keys; when it cannot read, the lines
    // join at the end.
    std::size_t add(std::size_t source, std::span<const TimeMs> own, const TimeReader& read);
    // The source starts over with no lines. Returns the first row that may read otherwise.
    std::size_t restart(std::size_t source);

    std::size_t memoryBytes() const;

  private:
    struct Key {
        TimeMs time;
        std::size_t source;
        auto operator<=>(const Key&) const = default;
    };
    void pushRow(std::size_t source, TimeMs key);
    // Merges lines [from[s], end) of each source, whose keys are in keys[s], after the rows.
    void mergeAfter(std::vector<std::deque<TimeMs>>& keys);
    bool mergeAll(std::size_t source, std::span<const TimeMs> own, const TimeReader& read);

    MergedRows m_rows;
    std::size_t m_keptKeys;
    std::deque<TimeMs> m_tailKeys; // keys of the last rows
    std::vector<TimeMs> m_lastKey;
    // Each source's lines without a key (before its first time): the rows of the block at
    // the start, in the order of the sources.
    std::vector<std::size_t> m_keyless;
};
