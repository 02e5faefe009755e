// A line's time in each layout, the dates and clocks that only look like times, the choice
// of a layout from a log's first lines, local time across clock changes against the C
// library, and what the user types into Go to Time. Expected times are epoch values worked
// out beforehand (date -u -d ... +%s), not by the code under test.

#include "engine/LineTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

class LocalZone {
public:
    explicit LocalZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone()
    {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

constexpr TimeMs s(std::int64_t seconds, int millis = 0)
{
    return seconds * 1000 + millis;
}

struct Row {
    const char* line;
    std::optional<TimeMs> expected;
};

// Every row's line is read by the layout the whole table is detected as.
void expectTable(TimeLayout layout, TimeMs fileTime, const std::vector<Row>& rows)
{
    std::vector<std::string_view> lines;
    for (const Row& row : rows)
        lines.emplace_back(row.line);
    const auto reader = LineTimeReader::detect(lines, fileTime);
    ASSERT_TRUE(reader.has_value());
    EXPECT_EQ(int(reader->layout()), int(layout));
    for (const Row& row : rows)
        EXPECT_EQ(reader->timeOf(row.line), row.expected) << row.line;
}

constexpr TimeMs December10Noon = s(1796904000); // 2026-12-10T12:00:00Z

TEST(LineTimeTest, eachLayoutReadsRealLines)
{
    LocalZone berlin("Europe/Berlin");
    expectTable(TimeLayout::Iso8601, December10Noon,
                {
                    {"2026-12-09T22:01:10.123Z INFO started", s(1796853670, 123)},
                    {"2026-12-09 22:01:10,123 INFO [main] c.f.App - local", s(1796850070, 123)},
                    {"2026-12-09 22:01:10.123456789+01:00 nanos", s(1796850070, 123)},
                    {"2026-12-09T22:01:10+0100 host unit[12]: journal", s(1796850070)},
                    {"[2026-12-09 22:01:10] bracketed", s(1796850070)},
                    {"ERROR 2026-12-09 22:01:10.5 -0500 spaced offset", s(1796871670, 500)},
                    {"INFO 2026-12-09 22:01 no seconds", s(1796850060)},
                    {"2026-07-01 12:00:00 status installed summer time", s(1782900000)},
                    {"2026-12-09 22:01:10 UTC postgres", s(1796853670)},
                    {"2026-12-31T23:59:60Z leap second", s(1798761600)},
                    {"\tat com.example.App.main(App.java:12)", std::nullopt},
                });
    expectTable(TimeLayout::Syslog, December10Noon,
                {
                    {"Dec  9 22:01:10 host sshd[12]: accepted", s(1796850070)},
                    {"Dec 09 22:01:10 host cron[3]: ran", s(1796850070)},
                    {"<13>Dec 9 22:01:10 host app: with priority", s(1796850070)},
                    {"Dec  9 22:01 no seconds", std::nullopt},
                });
    expectTable(TimeLayout::Rfc5424, December10Noon,
                {
                    {"<34>1 2026-12-09T22:01:10.003Z host app - - - msg", s(1796853670, 3)},
                    {"<165>1 2026-12-09T22:01:10+01:00 host app 1 ID47 - msg", s(1796850070)},
                    {"<34>1 - host app - - - no time", std::nullopt},
                });
    expectTable(
        TimeLayout::CommonLog, December10Noon,
        {
            {R"(1.2.3.4 - - [09/Dec/2026:22:01:10 +0000] "GET / HTTP/1.1" 200 5)", s(1796853670)},
            {R"(2001:db8::1 - frank [09/Dec/2026:22:01:10 -0700] "GET /a" 404 0)", s(1796878870)},
        });
    expectTable(TimeLayout::Glog, December10Noon,
                {
                    {"I1209 22:01:10.123456  1234 main.cc:12] started", s(1796850070, 123)},
                    {"E20261209 22:01:10.123456  1234 main.cc:40] with year", s(1796850070, 123)},
                    {"*** Check failure stack trace: ***", std::nullopt},
                });
    expectTable(TimeLayout::EpochSeconds, December10Noon,
                {
                    {"1796853670 started", s(1796853670)},
                    {"1796853670.5 fraction", s(1796853670, 500)},
                    {"17968536701 eleven digits", std::nullopt},
                });
    expectTable(TimeLayout::EpochMillis, December10Noon,
                {
                    {"1796853670123 started", s(1796853670, 123)},
                    {"1796853670124,next", s(1796853670, 124)},
                });
    // A time of day later than the file's own (13:00 local) plus a few hours is yesterday's.
    expectTable(TimeLayout::TimeOfDay, December10Noon,
                {
                    {"22:01:10.123 late last night", s(1796850070, 123)},
                    {"[08:15:00] this morning", s(1796886900)},
                    {"12:00:00 an hour ago", s(1796900400)},
                });
}

TEST(LineTimeTest, onlyRealDatesAndClocksAreTimes)
{
    LocalZone utc("UTC");
    const LineTimeReader iso(TimeLayout::Iso8601, December10Noon);
    for (const char* line :
         {"2026-13-09 22:01:10 month 13", "2026-00-09 22:01:10 month 0", "2026-12-32 22:01:10",
          "2026-12-00 22:01:10", "2026-12-09 24:00:00 hour 24", "2026-12-09 25:00:00",
          "2026-12-09 22:60:00", "2026-12-09 22:01:61", "2026-12-09 22:01:60 not at :59",
          "2026-02-30 10:00:00", "2028-02-30 10:00:00", "2026-02-29 10:00:00 common year",
          "2100-02-29 10:00:00", "99999-12-09 22:01:10", "2026-12-09 22:01:105",
          "id=12026-12-09 22:01:10", "2026-12-09 22:01:10+25:00", "2026-04-31 10:00:00"})
        EXPECT_FALSE(iso.timeOf(line).has_value()) << line;
    EXPECT_EQ(iso.timeOf("2028-02-29 10:00:00 leap year"), s(1835431200));
    EXPECT_EQ(iso.timeOf("2000-02-29 00:00:00 leap century"), s(951782400));

    const LineTimeReader clock(TimeLayout::TimeOfDay, December10Noon);
    for (const char* line : {"24:00:00", "23:60:00", "12:00", "12:00:00:00", "12:00:001"})
        EXPECT_FALSE(clock.timeOf(line).has_value()) << line;
    const LineTimeReader epoch(TimeLayout::EpochSeconds, December10Noon);
    EXPECT_FALSE(epoch.timeOf("0000000001 before 2000").has_value());
    EXPECT_FALSE(epoch.timeOf("9999999999 after 2099").has_value());
    EXPECT_EQ(epoch.timeOf("1796853670,5,csv"), s(1796853670));

    // A time is looked for where it starts within the window, however long the line.
    const std::string time = "2026-12-09 22:01:10 x";
    const std::string inside(LineTimeReader::SearchWindow - 1, '.');
    EXPECT_EQ(iso.timeOf(inside + time), s(1796853670));
    EXPECT_FALSE(iso.timeOf(inside + '.' + time).has_value());
}

// The year of a month and day lies in a window around the file's time: a December line in a
// file written in January is last year's, a January line that came in while a file written
// on New Year's Eve was followed is next year's, and Feb 29 is a date only in a leap year.
TEST(LineTimeTest, yearlessDatesTakeTheYearAroundTheFileTime)
{
    LocalZone berlin("Europe/Berlin");
    const LineTimeReader january(TimeLayout::Syslog, s(1798884000)); // 2027-01-02T10:00Z
    EXPECT_EQ(january.timeOf("Dec 31 23:59:59 host x"), s(1798757999));
    EXPECT_EQ(january.timeOf("Jan  2 09:00:00 host x"), s(1798876800));
    const LineTimeReader newYearsEve(TimeLayout::Syslog, s(1798754400)); // 2026-12-31T22:00Z
    EXPECT_EQ(newYearsEve.timeOf("Jan  1 00:30:00 host x"), s(1798759800));
    const LineTimeReader followed(TimeLayout::Syslog, December10Noon);
    EXPECT_EQ(followed.timeOf("Dec 10 13:30:00 host after the file's time"), s(1796905800));
    const LineTimeReader leap(TimeLayout::Syslog, s(1835870400)); // 2028-03-05T12:00Z
    EXPECT_EQ(leap.timeOf("Feb 29 12:00:00 host x"), s(1835434800));
    const LineTimeReader common(TimeLayout::Syslog, s(1804248000)); // 2027-03-05T12:00Z
    EXPECT_FALSE(common.timeOf("Feb 29 12:00:00 host x").has_value());
    const LineTimeReader glog(TimeLayout::Glog, s(1798884000));
    EXPECT_EQ(glog.timeOf("W1231 23:59:59.000000 1 a.cc:1] x"), s(1798757999));
}

// A time the clock skips is read as before the change; one it shows twice as the earlier.
TEST(LineTimeTest, localTimesAcrossClockChanges)
{
    {
        LocalZone berlin("Europe/Berlin");
        const LineTimeReader iso(TimeLayout::Iso8601, December10Noon);
        EXPECT_EQ(iso.timeOf("2026-03-29 01:59:59 last of winter"), s(1774745999));
        EXPECT_EQ(iso.timeOf("2026-03-29 02:30:00 skipped"), s(1774747800));
        EXPECT_EQ(iso.timeOf("2026-03-29 03:00:00 first of summer"), s(1774746000));
        EXPECT_EQ(iso.timeOf("2026-10-25 02:30:00 twice"), s(1792888200));
        EXPECT_EQ(iso.timeOf("2026-10-25 03:30:00 after"), s(1792895400));
        // 00:30 local is still the day before in UTC.
        EXPECT_EQ(localDayStart(s(1774740600)), s(1774738800)); // 2026-03-29 local midnight
    }
    {
        LocalZone newYork("America/New_York");
        const LineTimeReader iso(TimeLayout::Iso8601, December10Noon);
        EXPECT_EQ(iso.timeOf("2026-03-08 02:30:00 skipped"), s(1772955000));
    }
    {
        // Havana puts its clocks forward at midnight and back to midnight: the day starts at
        // 01:00 in March and at the first of two midnights in November.
        LocalZone havana("America/Havana");
        EXPECT_EQ(localDayStart(s(1772989200)), s(1772946000));
        EXPECT_EQ(localDayStart(s(1793552400)), s(1793505600));
    }
}

struct Sample {
    std::vector<std::string> lines;
    std::optional<TimeLayout> expected;
};

TEST(LineTimeTest, detectionNeedsAClearShare)
{
    LocalZone utc("UTC");
    const std::vector<Sample> samples = {
        // A Java log whose stack trace outnumbers its timed lines, with levels of any width.
        {{"2026-12-09 22:01:10,123 INFO  started", "2026-12-09 22:01:11,000 ERROR failed",
          "java.lang.IllegalStateException: boom", "\tat a.B.c(B.java:1)", "\tat a.B.d(B.java:2)",
          "\tat a.B.e(B.java:3)", "Caused by: java.io.IOException", "\tat a.C.f(C.java:4)", "",
          "WARNING 2026-12-09 22:01:12.000 retry"},
         TimeLayout::Iso8601},
        // Ten-digit numbers that are no epoch log: spread over decades.
        {{"1000000001", "3999999999", "2500000000", "1200000000", "42", "3300000000", "1900000000",
          "2800000000"},
         std::nullopt},
        // Two layouts with as many lines each: neither is the log's.
        {{"2026-12-09 22:01:10 a", "Dec  9 22:01:11 host b", "2026-12-09 22:01:12 c",
          "Dec  9 22:01:13 host d"},
         std::nullopt},
        // A text that mentions a date once.
        {{"Release notes", "Fixed the parser.", "Released 2026-12-09 10:00:00.", "Thanks to all.",
          "More fixes.", "And more."},
         std::nullopt},
        // Syslog lines outnumber a few lines with ISO times inside their messages.
        {{"Dec  9 22:01:10 host a: ok", "Dec  9 22:01:11 host a: at 2026-12-09T22:01:11Z",
          "Dec  9 22:01:12 host a: ok"},
         TimeLayout::Syslog},
        {{"", "   "}, std::nullopt},
    };
    for (const Sample& sample : samples) {
        std::vector<std::string_view> lines(sample.lines.begin(), sample.lines.end());
        const auto reader = LineTimeReader::detect(lines, December10Noon);
        ASSERT_EQ(reader.has_value(), sample.expected.has_value()) << sample.lines[0];
        if (reader) {
            EXPECT_EQ(int(reader->layout()), int(*sample.expected)) << sample.lines[0];
        }
    }
}

long offsetAt(std::int64_t moment)
{
    const std::time_t seconds = moment;
    std::tm wall{};
    localtime_r(&seconds, &wall);
    return wall.tm_gmtoff;
}

// Within two hours of the next change of the local clock in the coming year (found by
// bisection), or the moment itself where there is none.
std::int64_t nearNextClockChange(std::int64_t moment, std::mt19937_64& random)
{
    std::int64_t low = moment;
    std::int64_t high = moment;
    while (offsetAt(high) == offsetAt(low) && high - moment < 366 * 86400)
        high += 86400;
    if (offsetAt(high) == offsetAt(low))
        return moment;
    while (high - low > 1) {
        const std::int64_t middle = low + (high - low) / 2;
        (offsetAt(middle) == offsetAt(low) ? low : high) = middle;
    }
    return high + std::int64_t(random() % 14400) - 7200;
}

// Random walks through local time in zones with summer time (north and south, a half-hour
// change, a negative one) against the C library: the time read back must show the written
// wall clock, and be the earliest moment that does (found with mktime's two guesses).
TEST(LineTimeTest, localTimeMatchesTheCLibraryOnRandomWalks)
{
    for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe",
                             "Europe/Dublin", "Pacific/Chatham", "Asia/Kolkata", "UTC"}) {
        LocalZone local(zone);
        const LineTimeReader iso(TimeLayout::Iso8601, December10Noon);
        std::mt19937_64 random(20261209);
        std::int64_t moment = 946684800 + std::int64_t(random() % 1200000000);
        for (int step = 0; step < 1500; ++step) {
            switch (random() % 5) {
            case 0:
                moment += std::int64_t(random() % 7200) - 3600;
                break;
            case 1:
                moment += std::int64_t(random() % 120) - 60;
                break;
            case 2:
                moment += std::int64_t(random() % (40 * 86400)) - 20 * 86400;
                break;
            case 3:
                moment = nearNextClockChange(moment, random);
                break;
            default:
                moment = 946684800 + std::int64_t(random() % 1200000000);
                break;
            }
            const int millis = int(random() % 1000);
            const std::time_t seconds = moment;
            std::tm wall{};
            localtime_r(&seconds, &wall);
            char line[64];
            std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d.%03d x",
                          wall.tm_year + 1900, wall.tm_mon + 1, wall.tm_mday, wall.tm_hour,
                          wall.tm_min, wall.tm_sec, millis);
            std::int64_t earliest = moment;
            for (int dst : {0, 1}) {
                std::tm guess = wall;
                guess.tm_isdst = dst;
                const std::time_t t = std::mktime(&guess);
                std::tm back{};
                localtime_r(&t, &back);
                if (back.tm_hour == wall.tm_hour && back.tm_min == wall.tm_min &&
                    back.tm_mday == wall.tm_mday && back.tm_sec == wall.tm_sec)
                    earliest = std::min<std::int64_t>(earliest, t);
            }
            ASSERT_EQ(iso.timeOf(line), s(earliest, millis)) << zone << " " << line;
        }
    }
}

// Lines read in file order through one Recent, whose next lines mostly share the minute of
// the one before: the minute's fields are taken from it only where they truly are the same
// (the bytes before the time, the seconds, the zone and the clock change are each line's
// own), and a head that was no time is never kept. Read forwards and backwards.
TEST(LineTimeTest, linesInFileOrderShareOnlyWhatIsTheSame)
{
    LocalZone berlin("Europe/Berlin");
    const std::vector<std::string_view> sample(8, "host 2026-12-09 22:01:10.123 sample");
    const auto reader = LineTimeReader::detect(sample, December10Noon);
    ASSERT_TRUE(reader.has_value());
    const std::vector<Row> rows = {
        {"host 2026-12-09 22:01:10.123 a", s(1796850070, 123)},
        {"host 2026-12-09 22:01:11 no fraction", s(1796850071)},
        {"hostX2026-12-09 22:01:12 inside a word", std::nullopt},
        {"4444 2026-12-09 22:01:12 after a number", s(1796850072)},
        {"host 2026-12-09 22:01:60 not the minute's last", std::nullopt},
        {"host 2026-12-09 22:01:10+0200 zoned", s(1796846470)},
        {"host 2026-12-09 22:01:13 local again", s(1796850073)},
        {"host 2026-12-09 22:01:14,5 comma", s(1796850074, 500)},
        {"host 2026-12-09 22:01:1", std::nullopt},
        {"host 2026-12-09 22:01:10123 longer number", std::nullopt},
        {"host 2026-12-09 22:0", std::nullopt},
        {"host 2026-12-09 22:59:60 leap second", s(1796853600)},
        {"host 2026-12-09 22:59:59Z utc", s(1796857199)},
        {"host 2026-02-29 10:00:00 no such day", std::nullopt},
        {"host 2026-02-29 10:00:01 still none", std::nullopt},
        {"host 2026-12-31 23:59:59.999 year's end", s(1798757999, 999)},
        {"host 2027-01-01 00:00:00 new year", s(1798758000)},
        {"host 2026-03-29 02:30:00 skipped", s(1774747800)},
        {"host 2026-03-29 02:30:07 skipped too", s(1774747807)},
        {"host 2026-03-29 03:00:00 first of summer", s(1774746000)},
        {"host 2026-10-25 02:30:00 twice", s(1792888200)},
        {"host 2026-10-25 02:30:05 twice too", s(1792888205)},
        {"host 2026-10-25 03:30:00 after", s(1792895400)},
        {"host 2026-12-09 22:01:15 back", s(1796850075)},
        {"  at a frame, time later: 2026-12-09 22:01:16", s(1796850076)},
    };
    LineTimeReader::Recent forwards;
    for (const Row& row : rows)
        EXPECT_EQ(reader->timeOf(row.line, forwards), row.expected) << row.line;
    LineTimeReader::Recent backwards;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        EXPECT_EQ(reader->timeOf(row->line, backwards), row->expected) << row->line;
}

// Seconds and a fraction followed by a space and text are read at once; the same line with a
// tab there goes the long way and must give the same. Random tails near that shape, most of
// them one byte off it.
TEST(LineTimeTest, secondsReadAtOnceAsTheLongWayReadsThem)
{
    LocalZone berlin("Europe/Berlin");
    const LineTimeReader iso(TimeLayout::Iso8601, December10Noon);
    std::mt19937 rng(41);
    const std::string alphabet = "0123456789:.,+-UGZz x";
    int compared = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string tail = ":" + std::to_string(10 + rng() % 60) + (rng() % 2 ? "." : ",") +
                           std::to_string(100 + rng() % 900) + " " +
                           alphabet[rng() % alphabet.size()] + "TC text";
        for (int k = int(rng() % 3); k > 0; --k) {
            tail[rng() % 10] = alphabet[rng() % alphabet.size()];
        }
        const std::string line =
            "2026-12-09 22:01" + tail.substr(0, rng() % 4 == 0 ? rng() % 12 : tail.size());
        LineTimeReader::Recent recent;
        const auto once = iso.timeOf(line);
        EXPECT_EQ(iso.timeOf(line, recent), once) << line;
        if (line.size() < 25 || line[23] != ' ') {
            continue;
        }
        std::string tabbed = line;
        tabbed[23] = '\t';
        if (std::string_view("+-UG").find(line[24]) == std::string_view::npos) {
            ++compared;
            EXPECT_EQ(once, iso.timeOf(tabbed)) << line;
        }
    }
    EXPECT_GT(compared, 5000);
    // A zone after the space is still the time's.
    EXPECT_EQ(iso.timeOf("2026-12-09 22:01:10.123 UTC x"), s(1796853670, 123));
    EXPECT_EQ(iso.timeOf("2026-12-09 22:01:10,123 GMT x"), s(1796853670, 123));
    EXPECT_EQ(iso.timeOf("2026-12-09 22:01:10.123 +0200 x"), s(1796846470, 123));
    EXPECT_EQ(iso.timeOf("2026-12-09 22:01:10.123 -0100 x"), s(1796857270, 123));
}

// One reader shared by two threads (the time index's worker and the main thread) that keep
// and replace the same hours' offsets at once; the sanitizer build looks for races.
TEST(LineTimeTest, oneReaderServesTwoThreads)
{
    LocalZone berlin("Europe/Berlin");
    const LineTimeReader iso(TimeLayout::Iso8601, December10Noon);
    // From 2026-11-01T12:00Z on, every 1789 seconds, for 80 days of winter time (+01:00).
    std::vector<std::string> lines;
    std::vector<TimeMs> expected;
    for (std::int64_t i = 0; i < 4000; ++i) {
        const std::int64_t moment = 1793534400 + i * 1789;
        const std::time_t local = moment + 3600;
        std::tm wall{};
        gmtime_r(&local, &wall);
        char line[40];
        std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S x", &wall);
        lines.emplace_back(line);
        expected.push_back(s(moment));
    }
    std::atomic<int> wrong{0};
    auto readAll = [&](bool backwards) {
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const std::size_t i = backwards ? lines.size() - 1 - k : k;
            wrong += iso.timeOf(lines[i]) != expected[i];
        }
    };
    std::thread other(readAll, true);
    readAll(false);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Hostile bytes, and valid lines with bytes changed, read in every layout: no crash, no
// undefined behaviour (the sanitizer builds run this), and every time found lies in years
// four digits can write.
TEST(LineTimeTest, hostileBytesInEveryLayout)
{
    LocalZone berlin("Europe/Berlin");
    const std::vector<std::string> seeds = {
        "2026-12-09T22:01:10.123456+01:00 x",
        "Dec  9 22:01:10 h",
        "<34>1 2026-12-09T22:01:10Z",
        "1.2.3.4 - - [09/Dec/2026:22:01:10 +0000] \"GET\"",
        "I20261209 22:01:10.1 1 a] x",
        "1796853670.5",
        "1796853670123",
        "[22:01:10.123] x",
        "-15m",
        "22:01",
        "2026-12-09",
    };
    std::mt19937 random(41);
    const TimeMs files[] = {0, December10Noon, -s(62167219200), s(253402300799)};
    for (int round = 0; round < 20000; ++round) {
        std::string line = seeds[random() % seeds.size()];
        const int edits = int(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const char bytes[] = "0123456789:-+.,TZ []<>/ \t\xff\x80";
            const char byte =
                random() % 3 == 0 ? char(random() % 256) : bytes[random() % (sizeof bytes - 1)];
            const std::size_t at = random() % (line.size() + 1);
            const unsigned kind = random() % 3;
            if (kind == 0)
                line.insert(at, 1, byte);
            else if (at < line.size() && kind == 1)
                line.erase(at, 1);
            else if (at < line.size())
                line[at] = byte;
        }
        if (random() % 50 == 0)
            line.resize(random() % 200, '9');
        const TimeMs fileTime = files[random() % std::size(files)];
        for (int layout = 0; layout <= int(TimeLayout::TimeOfDay); ++layout) {
            const LineTimeReader reader(TimeLayout(layout), fileTime);
            if (const auto t = reader.timeOf(line)) {
                EXPECT_GE(*t, -s(62167219200) - s(400 * 86400)) << line; // year -1
                EXPECT_LT(*t, s(253402300800) + s(400 * 86400)) << line; // year 10001
            }
        }
        const std::string_view one[] = {line};
        (void)LineTimeReader::detect(one, fileTime);
        (void)parseTimeQuery(line);
    }
}

TEST(LineTimeTest, whatTheUserTypesIntoGoToTime)
{
    LocalZone berlin("Europe/Berlin");
    using K = TimeQuery::Kind;
    const struct {
        const char* text;
        K kind;
        TimeMs value;
    } good[] = {
        {"2026-12-09 22:01", K::Moment, s(1796850060)},
        {"  2026-12-09 22:01:30  ", K::Moment, s(1796850090)},
        {"2026-12-09T22:01:30.5Z", K::Moment, s(1796853690, 500)},
        {"2026-12-09 22:01:30 +01:00", K::Moment, s(1796850090)},
        {"2026-12-09", K::Moment, s(1796770800)},
        {"22:01", K::TimeOfDay, s(22 * 3600 + 60)},
        {"22:01:30.25", K::TimeOfDay, s(22 * 3600 + 90, 250)},
        {"9:05", K::TimeOfDay, s(9 * 3600 + 300)},
        {"-15m", K::BeforeLast, s(900)},
        {"-2h", K::BeforeLast, s(7200)},
        {"-30s", K::BeforeLast, s(30)},
        {"-1d", K::BeforeLast, s(86400)},
        {"-90", K::BeforeLast, s(90)},
        {"-5 min", K::BeforeLast, s(300)},
    };
    for (const auto& row : good) {
        const auto query = parseTimeQuery(row.text);
        ASSERT_TRUE(query.has_value()) << row.text;
        EXPECT_EQ(int(query->kind), int(row.kind)) << row.text;
        EXPECT_EQ(query->value, row.value) << row.text;
    }
    for (const char* text : {"", "   ", "abc", "25:00", "24:00", "22:60", "22:01:60", "23:59:60",
                             "2026-13-01", "2026-02-30", "2026-12-09 22:01 junk", "-", "-5x",
                             "-15m ago", "-9999999999m", "+15m", "2026-12-9", "12026-12-09"})
        EXPECT_FALSE(parseTimeQuery(text).has_value()) << text;
}

} // namespace
