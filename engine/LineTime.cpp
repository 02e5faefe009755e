#include "engine/LineTime.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr std::int64_t SecondsPerHour = 3600;
constexpr std::int64_t SecondsPerDay = 86400;

// A time of day or a month and day without a year is placed in the window around the file's
// time that lines are most likely written in: mostly before it, a little after it for lines
// that came in while the file was followed.
constexpr std::int64_t YearAfterFile = 31 * SecondsPerDay;
constexpr std::int64_t YearBeforeFile = 334 * SecondsPerDay;
constexpr std::int64_t DayAfterFile = 6 * SecondsPerHour;

// Epoch times from 2000 to 2099: a ten- or thirteen-digit number outside them is a number.
constexpr std::int64_t EpochFirst = 946684800;
constexpr std::int64_t EpochEnd = 4102444800;

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back (the
// well-known era arithmetic: 400 years are always 146097 days).
std::int64_t daysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2;
    const std::int64_t era = floorDiv(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int yearOfDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = floorDiv(days, 146097);
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    return static_cast<int>(yearOfEra + era * 400 + (shiftedMonth >= 10 ? 1 : 0));
}

bool leapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int daysInMonth(int year, int month)
{
    static constexpr int MonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : MonthDays[month - 1];
}

long offsetAt(std::int64_t utcSeconds)
{
    const auto seconds = static_cast<std::time_t>(utcSeconds);
    std::tm parts{};
    if (!localtime_r(&seconds, &parts))
        return 0;
    return parts.tm_gmtoff;
}

// The slow way, through the C library: a day before and a day after, the offsets on both
// sides of any clock change are in force (no zone changes its clock twice in two days).
std::int64_t localToUtcSlow(std::int64_t local)
{
    const long early = offsetAt(local - SecondsPerDay);
    const long late = offsetAt(local + SecondsPerDay);
    const std::int64_t first = local - early;
    const std::int64_t second = local - late;
    const bool firstHolds = offsetAt(first) == early;
    const bool secondHolds = early != late && offsetAt(second) == late;
    if (firstHolds && secondHolds)
        return std::min(first, second);
    if (secondHolds)
        return second;
    return first;
}

bool isDigit(char c)
{
    return static_cast<unsigned>(static_cast<unsigned char>(c) - '0') < 10;
}

bool isAlpha(char c)
{
    return static_cast<unsigned>((static_cast<unsigned char>(c) | 0x20) - 'a') < 26;
}

// The parts of a time as written, before they are checked.
struct Fields {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millis = 0;
    bool zoned = false;
    int offset = 0; // seconds east of UTC
};

struct Cursor {
    std::string_view text;
    std::size_t at = 0;

    char peek(std::size_t ahead = 0) const
    {
        return at + ahead < text.size() ? text[at + ahead] : '\0';
    }
    bool take(char c)
    {
        if (at >= text.size() || text[at] != c)
            return false;
        ++at;
        return true;
    }
    bool number(std::size_t count, int& value)
    {
        if (text.size() - at < count)
            return false;
        int v = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (!isDigit(text[i]))
                return false;
            v = v * 10 + (text[i] - '0');
        }
        value = v;
        at += count;
        return true;
    }
};

// .123 or ,123456789: milliseconds, the digits after them dropped. A separator without a
// digit after it is not a fraction and is left for the text.
void fraction(Cursor& c, Fields& f, bool commaToo)
{
    if (!(c.peek() == '.' || (commaToo && c.peek() == ',')) || !isDigit(c.peek(1)))
        return;
    const char* const text = c.text.data();
    std::size_t at = c.at + 1;
    const std::size_t end = c.text.size();
    int millis = 0;
    int digits = 0;
    for (; at < end && isDigit(text[at]); ++at, ++digits)
        if (digits < 3)
            millis = millis * 10 + (text[at] - '0');
    for (; digits < 3; ++digits)
        millis *= 10;
    f.millis = millis;
    c.at = at;
}

// hh:mm:ss[.frac], the seconds optional where the layout allows.
bool clock(Cursor& c, Fields& f, bool secondsOptional)
{
    if (!c.number(2, f.hour) || !c.take(':') || !c.number(2, f.minute))
        return false;
    f.second = 0;
    f.millis = 0;
    if (c.peek() == ':' && isDigit(c.peek(1))) {
        ++c.at;
        if (!c.number(2, f.second))
            return false;
        fraction(c, f, true);
    } else if (!secondsOptional) {
        return false;
    }
    return true;
}

bool offsetDigits(Cursor& c, Fields& f, bool hoursAlone)
{
    const char sign = c.peek();
    if (sign != '+' && sign != '-')
        return false;
    Cursor d = c;
    ++d.at;
    int hours = 0, minutes = 0;
    if (!d.number(2, hours))
        return false;
    const bool colon = d.take(':');
    if (!d.number(2, minutes)) {
        if (!hoursAlone || colon)
            return false;
        minutes = 0;
    }
    if (hours > 18 || minutes > 59)
        return false;
    f.zoned = true;
    f.offset = (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    c = d;
    return true;
}

// Z, +01:00, +0100, +01 right after the time; " +0100", " UTC" after a space. False for an
// offset no zone has (+25:00): the text is then no time.
bool zone(Cursor& c, Fields& f)
{
    // Most lines: a space and then text.
    const char next = c.peek();
    if (next == ' ') {
        const char after = c.peek(1);
        if (after != '+' && after != '-' && after != 'U' && after != 'G')
            return true;
    } else if (next != 'Z' && next != 'z' && next != '+' && next != '-') {
        return true;
    }
    if (c.peek() == 'Z' || c.peek() == 'z') {
        ++c.at;
        f.zoned = true;
        f.offset = 0;
        return true;
    }
    if (offsetDigits(c, f, true))
        return true;
    if ((c.peek() == '+' || c.peek() == '-') && isDigit(c.peek(1)) && isDigit(c.peek(2)))
        return false;
    if (c.peek() != ' ')
        return true;
    Cursor spaced = c;
    ++spaced.at;
    const std::string_view rest = spaced.text.substr(spaced.at);
    if ((rest.starts_with("UTC") || rest.starts_with("GMT")) && !isAlpha(spaced.peek(3))) {
        f.zoned = true;
        f.offset = 0;
        c.at = spaced.at + 3;
        return true;
    }
    if (offsetDigits(spaced, f, false))
        c = spaced;
    return true;
}

bool valid(const Fields& f)
{
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= daysInMonth(f.year, f.month) &&
           f.hour <= 23 && f.minute <= 59 && (f.second <= 59 || (f.second == 60 && f.minute == 59));
}

std::int64_t localSeconds(const Fields& f)
{
    return daysFromCivil(f.year, f.month, f.day) * SecondsPerDay + f.hour * SecondsPerHour +
           std::int64_t{f.minute} * 60 + f.second;
}

// Two digits at p (both in bounds) as a number, or -1.
int twoDigits(const char* p)
{
    const unsigned high = static_cast<unsigned char>(p[0]) - unsigned{'0'};
    const unsigned low = static_cast<unsigned char>(p[1]) - unsigned{'0'};
    return high < 10 && low < 10 ? static_cast<int>(high * 10 + low) : -1;
}

// The 16 bytes yyyy-mm-dd[T ]hh:mm of an ISO time, whose fields one minute's lines share.
constexpr std::size_t IsoHeadBytes = 16;

// Whether a time may start at p: not inside a word or a longer number.
bool isoStartsAt(std::string_view s, std::size_t p)
{
    return s.size() - p >= IsoHeadBytes && (p == 0 || (!isDigit(s[p - 1]) && !isAlpha(s[p - 1])));
}

// yyyy-mm-dd[T ]hh:mm at p, read at fixed places, since it runs on every line of a large log.
bool isoHead(std::string_view s, std::size_t p, Fields& f)
{
    if (!isoStartsAt(s, p))
        return false;
    const char* d = s.data() + p;
    const int century = twoDigits(d);
    const int year = twoDigits(d + 2);
    f.month = twoDigits(d + 5);
    f.day = twoDigits(d + 8);
    f.hour = twoDigits(d + 11);
    f.minute = twoDigits(d + 14);
    if ((century | year | f.month | f.day | f.hour | f.minute) < 0 || d[4] != '-' || d[7] != '-' ||
        (d[10] != 'T' && d[10] != ' ') || d[13] != ':')
        return false;
    f.year = century * 100 + year;
    return true;
}

// [:ss[.frac]][zone] after the minutes of an ISO time at p; end is where it stops.
bool isoTail(std::string_view s, std::size_t p, Fields& f, std::size_t& end)
{
    f.second = 0;
    f.millis = 0;
    f.zoned = false;
    f.offset = 0;
    // Most lines: ":ss.fff" and a space before text that is no zone, read at once (what the
    // steps below would make of it, at a sixth of the work).
    const std::size_t at = p + IsoHeadBytes;
    if (s.size() - at >= 9) {
        const char* const d = s.data() + at;
        const int second = d[0] == ':' && (d[3] == '.' || d[3] == ',') ? twoDigits(d + 1) : -1;
        const int high = twoDigits(d + 4);
        const int low = d[6] - '0';
        if (second >= 0 && high >= 0 && low >= 0 && low <= 9 && d[7] == ' ' && d[8] != '+' &&
            d[8] != '-' && d[8] != 'U' && d[8] != 'G') {
            f.second = second;
            f.millis = high * 10 + low;
            end = at + 7;
            return true;
        }
    }
    Cursor c{s, at};
    if (c.peek() == ':') {
        if (s.size() - c.at < 3 || (f.second = twoDigits(s.data() + c.at + 1)) < 0)
            return false;
        c.at += 3;
        fraction(c, f, true);
    }
    if (!zone(c, f))
        return false;
    end = c.at;
    return !isDigit(c.peek());
}

// yyyy-mm-dd[T ]hh:mm[:ss[.frac]][zone]; end is where it stops.
bool isoAt(std::string_view s, std::size_t p, Fields& f, std::size_t& end)
{
    return isoHead(s, p, f) && isoTail(s, p, f, end);
}

int monthOfName(std::string_view name)
{
    static constexpr char MonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (name.size() < 3 || static_cast<unsigned>(name[0] - 'A') >= 26)
        return 0;
    for (std::size_t m = 0; m < 12; ++m)
        if (MonthNames[m * 3] == name[0] && MonthNames[m * 3 + 1] == name[1] &&
            MonthNames[m * 3 + 2] == name[2])
            return static_cast<int>(m) + 1;
    return 0;
}

// Dec  9 22:01:10, Dec 09 22:01:10, Dec 9 22:01:10; no year.
bool syslogAt(std::string_view s, std::size_t p, Fields& f)
{
    if ((p > 0 && isAlpha(s[p - 1])) || s.size() - p < 14 || s[p + 3] != ' ')
        return false;
    f.month = monthOfName(s.substr(p, 3));
    Cursor c{s, p + 3};
    if (f.month == 0 || !c.take(' '))
        return false;
    if (c.take(' ')) {
        if (!c.number(1, f.day))
            return false;
    } else if (!c.number(2, f.day) && !c.number(1, f.day)) {
        return false;
    }
    return c.take(' ') && clock(c, f, false) && !isDigit(c.peek());
}

// [09/Dec/2026:22:01:10 +0000]
bool commonLogAt(std::string_view s, std::size_t p, Fields& f)
{
    Cursor c{s, p};
    if (!c.take('[') || !c.number(2, f.day) || !c.take('/') || s.size() - c.at < 4)
        return false;
    f.month = monthOfName(s.substr(c.at, 3));
    c.at += 3;
    if (f.month == 0 || !c.take('/') || !c.number(4, f.year) || !c.take(':') || !clock(c, f, false))
        return false;
    if (c.take(' ') && !offsetDigits(c, f, false))
        return false;
    return c.take(']');
}

// I1209 22:01:10.123456, and with the year: I20261209 22:01:10.123456.
bool glogAt(std::string_view s, Fields& f, bool& hasYear)
{
    if (s.empty() || std::string_view("IWEF").find(s[0]) == std::string_view::npos)
        return false;
    Cursor c{s, 1};
    hasYear = isDigit(c.peek(4)) && isDigit(c.peek(7));
    if (hasYear && !c.number(4, f.year))
        return false;
    return c.number(2, f.month) && c.number(2, f.day) && c.take(' ') && clock(c, f, false) &&
           !isDigit(c.peek());
}

// Seconds (ten digits, a fraction after a point) or milliseconds (thirteen digits).
std::optional<TimeMs> epochAt(std::string_view s, bool millis)
{
    const std::size_t width = millis ? 13 : 10;
    if (s.size() < width)
        return std::nullopt;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        if (!isDigit(s[i]))
            return std::nullopt;
        value = value * 10 + (s[i] - '0');
    }
    Cursor c{s, width};
    Fields f;
    if (!millis)
        fraction(c, f, false);
    if (isDigit(c.peek()))
        return std::nullopt;
    const std::int64_t seconds = millis ? value / 1000 : value;
    if (seconds < EpochFirst || seconds >= EpochEnd)
        return std::nullopt;
    return millis ? value : value * 1000 + f.millis;
}

// The byte every time of a layout found by searching has at a fixed place, found with
// memchr; the place's distance from the time's start. None for the layouts read at the
// line's start only.
struct SearchKey {
    char byte;
    std::size_t distance;
};

std::optional<SearchKey> searchKey(TimeLayout layout)
{
    switch (layout) {
    case TimeLayout::Iso8601:
        return SearchKey{'-', 4};
    case TimeLayout::Syslog:
        return SearchKey{' ', 3};
    case TimeLayout::CommonLog:
        return SearchKey{'[', 0};
    default:
        return std::nullopt;
    }
}

} // namespace

LocalHourOffsets::LocalHourOffsets()
{
    clear();
}

LocalHourOffsets::LocalHourOffsets(const LocalHourOffsets&)
{
    clear();
}

LocalHourOffsets& LocalHourOffsets::operator=(const LocalHourOffsets&)
{
    clear();
    return *this;
}

namespace {
// An hour no time can be in: the mark of an empty slot.
constexpr std::uint64_t EmptyHour = std::uint64_t{0x80000000u} << 32;
} // namespace

void LocalHourOffsets::clear()
{
    for (auto& slot : m_hours)
        slot.store(EmptyHour, std::memory_order_relaxed);
}

std::int64_t LocalHourOffsets::toUtc(std::int64_t local) const
{
    if (const auto offset = hourOffset(local))
        return local - *offset;
    return localToUtcSlow(local);
}

std::optional<std::int64_t> LocalHourOffsets::hourOffset(std::int64_t local) const
{
    const std::int64_t hour = floorDiv(local, SecondsPerHour);
    if (hour <= INT32_MIN || hour > INT32_MAX)
        return std::nullopt;
    auto& slot = m_hours[static_cast<std::size_t>(hour) % m_hours.size()];
    const std::uint64_t word = slot.load(std::memory_order_relaxed);
    if (static_cast<std::int32_t>(word >> 32) == hour)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(word));
    // An hour is kept only when one offset holds through all of it; the hours of a clock
    // change are looked up line by line.
    const std::int64_t start = hour * SecondsPerHour;
    const std::int64_t startUtc = localToUtcSlow(start);
    const std::int64_t offset = start - startUtc;
    if (offsetAt(startUtc) != offset || offsetAt(startUtc + SecondsPerHour - 1) != offset)
        return std::nullopt;
    slot.store((static_cast<std::uint64_t>(static_cast<std::uint32_t>(hour)) << 32) |
                   static_cast<std::uint32_t>(static_cast<std::int32_t>(offset)),
               std::memory_order_relaxed);
    return offset;
}

std::optional<LineTimeReader> LineTimeReader::detect(std::span<const std::string_view> lines,
                                                     TimeMs fileTime)
{
    // When several layouts hold as many lines, the one whose lines say more about themselves.
    static constexpr TimeLayout Preference[] = {
        TimeLayout::Rfc5424,      TimeLayout::CommonLog, TimeLayout::Iso8601,
        TimeLayout::Syslog,       TimeLayout::Glog,      TimeLayout::EpochMillis,
        TimeLayout::EpochSeconds, TimeLayout::TimeOfDay,
    };
    constexpr std::size_t LayoutCount = std::size(Preference);
    constexpr std::size_t SampleLimit = 1000;

    std::vector<LineTimeReader> readers;
    readers.reserve(LayoutCount);
    for (TimeLayout layout : Preference)
        readers.emplace_back(layout, fileTime);
    std::array<std::size_t, LayoutCount> held{};
    std::array<std::array<std::uint16_t, SearchWindow + 1>, LayoutCount> columns{};
    std::array<std::vector<TimeMs>, LayoutCount> epochTimes;
    std::size_t nonEmpty = 0;
    std::size_t timed = 0;
    for (std::string_view line : lines.first(std::min(lines.size(), SampleLimit))) {
        if (line.find_first_not_of(" \t\r\n") == std::string_view::npos)
            continue;
        ++nonEmpty;
        bool any = false;
        for (std::size_t k = 0; k < LayoutCount; ++k) {
            std::size_t column = 0;
            const auto time = readers[k].find(line, column);
            if (!time)
                continue;
            any = true;
            ++held[k];
            ++columns[k][std::min<std::size_t>(column, SearchWindow)];
            epochTimes[k].push_back(*time);
        }
        timed += any;
    }
    // Numbers of the right length in a text that is no epoch log are spread over decades;
    // an epoch log's times lie together.
    for (std::size_t k = 0; k < LayoutCount; ++k) {
        if (Preference[k] != TimeLayout::EpochSeconds && Preference[k] != TimeLayout::EpochMillis)
            continue;
        auto& times = epochTimes[k];
        if (times.empty())
            continue;
        std::nth_element(times.begin(), times.begin() + std::ptrdiff_t(times.size() / 2),
                         times.end());
        const TimeMs median = times[times.size() / 2];
        constexpr TimeMs OneYear = 366 * SecondsPerDay * 1000;
        held[k] = std::size_t(std::count_if(times.begin(), times.end(), [&](TimeMs t) {
            return t >= median - OneYear && t <= median + OneYear;
        }));
    }
    std::size_t best = 0;
    for (std::size_t k = 1; k < LayoutCount; ++k)
        if (held[k] > held[best])
            best = k;
    // The layout must hold most of the lines with a time, and enough of all lines that a
    // Java log with long stack traces still counts while a text that mentions a date does not.
    if (held[best] == 0 || held[best] * 2 <= timed || held[best] * 5 < nonEmpty)
        return std::nullopt;
    LineTimeReader reader(Preference[best], fileTime);
    const auto& counts = columns[best];
    reader.m_column =
        std::uint32_t(std::max_element(counts.begin(), counts.end()) - counts.begin());
    return reader;
}

LineTimeReader::LineTimeReader(TimeLayout layout, TimeMs fileTime)
    : m_layout(layout), m_fileTime(fileTime)
{
    const std::int64_t fileSeconds = floorDiv(fileTime, 1000);
    m_fileLocalSeconds = fileSeconds + offsetAt(fileSeconds);
    m_fileYear = yearOfDays(floorDiv(m_fileLocalSeconds, SecondsPerDay));
}

std::optional<TimeMs> LineTimeReader::timeOf(std::string_view line) const
{
    std::size_t column = 0;
    return find(line, column);
}

std::optional<TimeMs> LineTimeReader::timeOf(std::string_view line, Recent& recent) const
{
    if (m_layout == TimeLayout::Iso8601) {
        if (auto time = isoAtColumn(line, recent))
            return time;
    }
    return timeOf(line);
}

std::optional<TimeMs> LineTimeReader::isoAtColumn(std::string_view line, Recent& recent) const
{
    const std::size_t p = m_column;
    if (p >= line.size() || !isoStartsAt(line, p))
        return std::nullopt;
    Fields f;
    if (!recent.m_held || std::memcmp(recent.m_head.data(), line.data() + p, IsoHeadBytes) != 0) {
        if (!isoHead(line, p, f))
            return std::nullopt;
        f.second = 0;
        if (!valid(f))
            return std::nullopt;
        std::memcpy(recent.m_head.data(), line.data() + p, IsoHeadBytes);
        recent.m_held = true;
        recent.m_minute = f.minute;
        recent.m_minuteLocal = localSeconds(f);
        // A minute lies in one hour: its lines share the hour's offset where one holds.
        recent.m_offset = m_offsets.hourOffset(recent.m_minuteLocal);
    }
    f.minute = recent.m_minute;
    std::size_t end = 0;
    if (!isoTail(line, p, f, end) || (f.second > 59 && !(f.second == 60 && f.minute == 59)))
        return std::nullopt;
    const std::int64_t local = recent.m_minuteLocal + f.second;
    const std::int64_t utc = f.zoned           ? local - f.offset
                             : recent.m_offset ? local - *recent.m_offset
                                               : m_offsets.toUtc(local);
    return utc * 1000 + f.millis;
}

std::optional<TimeMs> LineTimeReader::find(std::string_view line, std::size_t& column) const
{
    if (m_column < line.size()) {
        if (auto time = readAt(line, m_column)) {
            column = m_column;
            return time;
        }
    }
    if (const auto key = searchKey(m_layout)) {
        // Times starting in the window: their key bytes lie up to key->distance further on.
        const std::size_t end = std::min(line.size(), SearchWindow + key->distance);
        for (std::size_t at = key->distance; at < end;) {
            const void* hit = std::memchr(line.data() + at, key->byte, end - at);
            if (!hit)
                break;
            at = static_cast<std::size_t>(static_cast<const char*>(hit) - line.data());
            const std::size_t p = at - key->distance;
            ++at;
            if (p == m_column)
                continue;
            if (auto time = readAt(line, p)) {
                column = p;
                return time;
            }
        }
    } else if (m_column != 0 && !line.empty()) {
        if (auto time = readAt(line, 0)) {
            column = 0;
            return time;
        }
    }
    return std::nullopt;
}

std::optional<TimeMs> LineTimeReader::readAt(std::string_view line, std::size_t at) const
{
    Fields f;
    std::size_t end = 0;
    bool hasYear = true;
    switch (m_layout) {
    case TimeLayout::Iso8601:
        if (!isoAt(line, at, f, end))
            return std::nullopt;
        break;
    case TimeLayout::Rfc5424: {
        // <34>1 2026-12-09T22:01:10.003Z: a priority, a version, then the time.
        Cursor c{line, at};
        if (!c.take('<'))
            return std::nullopt;
        const std::size_t priority = c.at;
        while (isDigit(c.peek()) && c.at - priority < 3)
            ++c.at;
        if (c.at == priority || !c.take('>') || !isDigit(c.peek()))
            return std::nullopt;
        ++c.at;
        if (isDigit(c.peek()))
            ++c.at;
        if (!c.take(' ') || !isoAt(line, c.at, f, end))
            return std::nullopt;
        break;
    }
    case TimeLayout::Syslog:
        hasYear = false;
        if (!syslogAt(line, at, f))
            return std::nullopt;
        break;
    case TimeLayout::CommonLog:
        if (!commonLogAt(line, at, f))
            return std::nullopt;
        break;
    case TimeLayout::Glog:
        if (at != 0 || !glogAt(line, f, hasYear))
            return std::nullopt;
        break;
    case TimeLayout::EpochSeconds:
    case TimeLayout::EpochMillis:
        if (at != 0)
            return std::nullopt;
        return epochAt(line, m_layout == TimeLayout::EpochMillis);
    case TimeLayout::TimeOfDay: {
        Cursor c{line, at};
        if (at == 0 && c.peek() == '[')
            c.at = 1;
        else if (at != 0)
            return std::nullopt;
        if (!clock(c, f, false) || isDigit(c.peek()) || c.peek() == ':')
            return std::nullopt;
        const std::int64_t fileDay = floorDiv(m_fileLocalSeconds, SecondsPerDay);
        f.year = 2000; // a valid date, for the check of the clock's fields
        if (!valid(f))
            return std::nullopt;
        std::int64_t local = fileDay * SecondsPerDay + f.hour * SecondsPerHour +
                             std::int64_t{f.minute} * 60 + f.second;
        if (local > m_fileLocalSeconds + DayAfterFile)
            local -= SecondsPerDay;
        return m_offsets.toUtc(local) * 1000 + f.millis;
    }
    }
    if (!hasYear) {
        if (f.month < 1 || f.month > 12)
            return std::nullopt;
        f.year = m_fileYear;
        // Feb 29 would spill into March in a common year; the window is judged on the spill,
        // the date itself in the year chosen.
        const int day = f.day;
        f.day = std::min(day, 28);
        const std::int64_t local = localSeconds(f) + (day - f.day) * SecondsPerDay;
        f.day = day;
        if (local > m_fileLocalSeconds + YearAfterFile)
            --f.year;
        else if (local < m_fileLocalSeconds - YearBeforeFile)
            ++f.year;
    }
    if (!valid(f))
        return std::nullopt;
    const std::int64_t local = localSeconds(f);
    const std::int64_t utc = f.zoned ? local - f.offset : m_offsets.toUtc(local);
    return utc * 1000 + f.millis;
}

std::optional<TimeQuery> parseTimeQuery(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);

    if (text[0] == '-') {
        std::size_t i = 1;
        std::int64_t amount = 0;
        while (i < text.size() && isDigit(text[i]) && i <= 9)
            amount = amount * 10 + (text[i++] - '0');
        if (i == 1)
            return std::nullopt;
        std::string_view unit = text.substr(i);
        unit.remove_prefix(std::min(unit.size(), unit.find_first_not_of(' ')));
        std::int64_t scale = 0;
        if (unit.empty() || unit == "s" || unit == "sec")
            scale = 1000;
        else if (unit == "m" || unit == "min")
            scale = std::int64_t{60} * 1000;
        else if (unit == "h")
            scale = SecondsPerHour * 1000;
        else if (unit == "d")
            scale = SecondsPerDay * 1000;
        else
            return std::nullopt;
        return TimeQuery{TimeQuery::Kind::BeforeLast, amount * scale};
    }

    Fields f;
    // 22:01, 22:01:30.5, and 9:05 for 09:05.
    std::string padded;
    if (text.size() > 1 && text[1] == ':') {
        // Appended, not "0" + text: GCC 12 at -O3 takes that for an overlapping copy.
        padded.reserve(text.size() + 1);
        padded.push_back('0');
        padded.append(text);
        text = padded;
    }
    Cursor c{text, 0};
    if (clock(c, f, true) && c.at == text.size()) {
        f.year = 2000;
        if (!valid(f) || f.second == 60)
            return std::nullopt;
        return TimeQuery{TimeQuery::Kind::TimeOfDay,
                         (f.hour * SecondsPerHour + std::int64_t{f.minute} * 60 + f.second) * 1000 +
                             f.millis};
    }

    f = Fields{};
    c = Cursor{text, 0};
    if (text.size() == 10 && c.number(4, f.year) && c.take('-') && c.number(2, f.month) &&
        c.take('-') && c.number(2, f.day)) {
        if (!valid(f))
            return std::nullopt;
        return TimeQuery{TimeQuery::Kind::Moment, localToUtcSlow(localSeconds(f)) * 1000};
    }

    f = Fields{};
    std::size_t end = 0;
    if (!isoAt(text, 0, f, end) || end != text.size() || !valid(f))
        return std::nullopt;
    const std::int64_t local = localSeconds(f);
    const std::int64_t utc = f.zoned ? local - f.offset : localToUtcSlow(local);
    return TimeQuery{TimeQuery::Kind::Moment, utc * 1000 + f.millis};
}

TimeMs localDayStart(TimeMs moment)
{
    const std::int64_t seconds = floorDiv(moment, 1000);
    const std::int64_t local = seconds + offsetAt(seconds);
    return localToUtcSlow(floorDiv(local, SecondsPerDay) * SecondsPerDay) * 1000;
}
