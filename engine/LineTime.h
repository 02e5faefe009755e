#pragma once

// The time a log line was written, read from the line itself. A log's first lines choose
// its layout (LineTimeReader::detect); every later line is read in that layout only, so a
// number in a message is not taken for a time. Times are milliseconds since 1970-01-01 UTC;
// a time written without a zone is local time.

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

class LineTimeReader {
public:
    // The layout most of `lines` (a log's first lines, as bytes of an ASCII-compatible
    // encoding) hold; none when too few hold any. fileTime is the file's modification time,
    // which gives the year (or the date) to layouts that lack it.
    static std::optional<LineTimeReader> detect(std::span<const std::string_view> lines,
                                                TimeMs fileTime);

    LineTimeReader(TimeLayout layout, TimeMs fileTime);

    TimeLayout layout() const { return m_layout; }

    // The time of one line in this reader's layout; none when the line holds none (a stack
    // trace, a continuation) or only something that looks like one (month 13, hour 25).
    std::optional<TimeMs> timeOf(std::string_view line) const;

private:
    TimeLayout m_layout;
    TimeMs m_fileTime;
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

std::optional<TimeQuery> parseTimeQuery(std::string_view text);

// Local midnight at the start of the day that holds `moment`.
TimeMs localDayStart(TimeMs moment);
