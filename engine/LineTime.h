#pragma once

// The time a log line was written, read from the line itself. A log's first lines choose
// its layout (LineTimeReader::detect); every later line is read in that layout only, so a
// number in a message is not taken for a time. Times are milliseconds since 1970-01-01 UTC;
// a time written without a zone is local time.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

using TimeMs = std::int64_t;

// The layouts a log's times are recognised in.
enum class TimeLayout : std::uint8_t {
    Iso8601,      // 2026-12-09T22:01:10.123Z, 2026-12-09 22:01:10,123, offsets, journal short-iso
    Syslog,       // Dec  9 22:01:10 (the year from the file's time)
    Rfc5424,      // <34>1 2026-12-09T22:01:10.003Z host app ...
    CommonLog,    // [09/Dec/2026:22:01:10 +0000] (web servers)
    Glog,         // I1209 22:01:10.123456
    EpochSeconds, // 1765317670 or 1765317670.123 at the line's start
    EpochMillis,  // 1765317670123 at the line's start
    TimeOfDay,    // 22:01:10 (the date from the file's time)
};

// Local time to UTC by hand: the offset of each local hour is looked up once (through
// localtime_r, so TZ is honoured) and kept, so that reading a line's time costs no call into
// the C library. An hour a clock change falls into is never kept and is looked up each time.
// Safe to use from several threads at once; a copy starts empty. It keeps the time zone that
// was in force when an hour was first looked up.
class LocalHourOffsets {
public:
    LocalHourOffsets();
    LocalHourOffsets(const LocalHourOffsets&);
    LocalHourOffsets& operator=(const LocalHourOffsets&);

    // Seconds since 1970 UTC for local seconds since 1970 (the local wall clock read as if it
    // were UTC). A time the clock skips (spring forward) is read as if it had not yet been
    // put forward; a time it shows twice (fall back) is the earlier of the two.
    std::int64_t toUtc(std::int64_t localSeconds) const;
    // The offset (local less UTC, in seconds) of the local hour that holds localSeconds, when
    // one offset holds through all of it; none for the hour of a clock change.
    std::optional<std::int64_t> hourOffset(std::int64_t localSeconds) const;

private:
    void clear();
    // A local hour and its offset in one word, so that a reader on another thread never sees
    // an hour with another hour's offset.
    mutable std::array<std::atomic<std::uint64_t>, 32> m_hours;
};

class LineTimeReader {
public:
    // The layout most of `lines` (a log's first lines, as bytes of an ASCII-compatible
    // encoding) hold; none when too few hold any. fileTime is the file's modification time,
    // which gives the year (or the date) to layouts that lack it.
    static std::optional<LineTimeReader> detect(std::span<const std::string_view> lines,
                                                TimeMs fileTime);

    LineTimeReader(TimeLayout layout, TimeMs fileTime);

    TimeLayout layout() const { return m_layout; }
    TimeMs fileTime() const { return m_fileTime; }

    // The time of one line in this reader's layout; none when the line holds none (a stack
    // trace, a continuation) or only something that looks like one (month 13, hour 25).
    // Looks for the time within the first SearchWindow bytes of the line (a level, a host or
    // a bracket may come before it); epoch times, glog and times of day only at its start.
    // Thread-safe.
    std::optional<TimeMs> timeOf(std::string_view line) const;

    // What the last line read through it held up to its minutes, so that the next lines of
    // that minute (most lines of a busy log) are read from their seconds on. One per thread
    // that reads a run of lines; a new one holds nothing.
    class Recent {
    private:
        friend class LineTimeReader;
        std::array<char, 16> m_head{};
        bool m_held = false;
        int m_minute = 0;
        std::int64_t m_minuteLocal = 0;       // the minute's start on the local wall clock
        std::optional<std::int64_t> m_offset; // the minute's hour's, when it holds through it
    };
    // timeOf(line), the same for every line, cheaper for a run of lines in file order.
    std::optional<TimeMs> timeOf(std::string_view line, Recent& recent) const;

    static constexpr std::size_t SearchWindow = 96;

private:
    TimeLayout m_layout;
    TimeMs m_fileTime;
    // Where the sampled lines held their time: tried first, before the search.
    std::uint32_t m_column = 0;
    // The file's time on the local wall clock, and its year and day, for the layouts that
    // lack them.
    std::int64_t m_fileLocalSeconds = 0;
    int m_fileYear = 1970;
    LocalHourOffsets m_offsets;

    std::optional<TimeMs> readAt(std::string_view line, std::size_t at) const;
    std::optional<TimeMs> find(std::string_view line, std::size_t& column) const;
    // An ISO time at m_column, its minutes taken from recent where they are the same.
    std::optional<TimeMs> isoAtColumn(std::string_view line, Recent& recent) const;
};

// What the user typed into Go to Time.
struct TimeQuery {
    enum class Kind : std::uint8_t {
        Moment,    // "2026-12-09 22:01": that moment (local time unless a zone is given)
        TimeOfDay, // "22:01:30": that time on the caret line's day; value is ms after midnight
        BeforeLast // "-15m", "-2h": value ms before the last line's time
    };
    Kind kind = Kind::Moment;
    TimeMs value = 0;
};

// Also takes "2026-12-09" (local midnight) and "-30s", "-1d"; a bare "-90" is seconds.
// Spaces around the text are ignored; anything else is none.
std::optional<TimeQuery> parseTimeQuery(std::string_view text);

// Local midnight at the start of the day that holds `moment`.
TimeMs localDayStart(TimeMs moment);
