#include "engine/LineTime.h"

#include <ctime>

namespace {

bool digits(std::string_view s, std::size_t at, std::size_t count, int& value)
{
    if (at + count > s.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

TimeMs localToUtc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return static_cast<TimeMs>(std::mktime(&parts)) * 1000;
}

// yyyy-mm-dd[T ]hh:mm:ss at the line's start, local time.
std::optional<TimeMs> readIso(std::string_view line)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(line, 0, 4, year) || line.size() < 19 || line[4] != '-' ||
        !digits(line, 5, 2, month) || line[7] != '-' || !digits(line, 8, 2, day) ||
        (line[10] != 'T' && line[10] != ' ') || !digits(line, 11, 2, hour) || line[13] != ':' ||
        !digits(line, 14, 2, minute) || line[16] != ':' || !digits(line, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    return localToUtc(year, month, day, hour, minute, second);
}

} // namespace

// A first cut: ISO dates at a line's start only; the other layouts come with their tests.
std::optional<LineTimeReader> LineTimeReader::detect(std::span<const std::string_view> lines,
                                                     TimeMs fileTime)
{
    for (std::string_view line : lines)
        if (readIso(line))
            return LineTimeReader(TimeLayout::Iso8601, fileTime);
    return std::nullopt;
}

LineTimeReader::LineTimeReader(TimeLayout layout, TimeMs fileTime)
    : m_layout(layout), m_fileTime(fileTime)
{
}

std::optional<TimeMs> LineTimeReader::timeOf(std::string_view line) const
{
    return m_layout == TimeLayout::Iso8601 ? readIso(line) : std::nullopt;
}

std::optional<TimeQuery> parseTimeQuery(std::string_view text)
{
    if (auto moment = readIso(text))
        return TimeQuery{TimeQuery::Kind::Moment, *moment};
    return std::nullopt;
}

TimeMs localDayStart(TimeMs moment)
{
    std::time_t seconds = static_cast<std::time_t>(moment / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return localToUtc(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, 0, 0, 0);
}
