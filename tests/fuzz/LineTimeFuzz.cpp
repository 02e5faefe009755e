// Feeds arbitrary bytes, split at line feeds, to the choice of a time layout and to a reader
// of every layout, and the lines to Go to Time's parser. Each time found must lie in years
// four digits can write, and a reader that has seen many lines (its offsets of local hours
// kept) must read each line as a reader that has seen none.

#include "engine/LineTime.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <time.h>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

constexpr TimeMs yearMinus1 = -62198755200000;
constexpr TimeMs year10001 = 253433923200000;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    const TimeMs fileTime = TimeMs(1796904000) * 1000; // 2026-12-10T12:00:00Z
    (void)LineTimeReader::detect(lines, fileTime);
    for (int layout = 0; layout <= int(TimeLayout::TimeOfDay); ++layout) {
        const LineTimeReader seasoned(TimeLayout(layout), fileTime);
        for (std::string_view line : lines) {
            const auto time = seasoned.timeOf(line);
            check(time == LineTimeReader(TimeLayout(layout), fileTime).timeOf(line));
            check(!time || (*time >= yearMinus1 && *time < year10001));
        }
    }
    for (std::string_view line : lines) {
        const auto query = parseTimeQuery(line);
        check(!query || query->kind != TimeQuery::Kind::TimeOfDay ||
              (query->value >= 0 && query->value < 86400000));
        check(!query || query->kind != TimeQuery::Kind::BeforeLast || query->value >= 0);
    }
    return 0;
}
