// The logs the benchmarks read: a realistic one, one of chosen line lengths, one coloured
// for a terminal.

#include "bench/EngineBench.h"

namespace quillbench {

int generate(const std::string& path, long mib)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        return 1;
    }
    std::mt19937 rng(1);
    const char* levels[] = {"INFO ", "DEBUG", "WARN ", "ERROR", "TRACE"};
    const char* words[] = {"connection", "request",  "user",  "session", "timeout",
                           "handler",    "database", "cache", "worker",  "queue",
                           "retry",      "payload",  "GET",   "POST",    "/api/v1/items",
                           "status=200", "id=42"};
    const long target = mib * 1024 * 1024 - long(std::strlen(LastLineMarker)) - 1;
    long written = 0;
    std::string line;
    long n = 0;
    while (written < target) {
        char stamp[64];
        const unsigned thread = unsigned(rng() % 16);
        std::snprintf(stamp, sizeof stamp, "2026-12-07 12:%02ld:%02ld.%03ld %s [t%02u] ",
                      (n / 60000) % 60, (n / 1000) % 60, n % 1000, levels[rng() % 5], thread);
        line = stamp;
        // 40-200 bytes, now and then a line of several KB (a stack trace, a dump).
        const std::size_t length = (rng() % 5000 == 0) ? 2000 + rng() % 6000 : 40 + rng() % 160;
        while (line.size() < length) {
            line += words[rng() % (sizeof words / sizeof words[0])];
            line += ' ';
        }
        line.resize(length);
        line += '\n';
        if (written + long(line.size()) > target) {
            line.assign(std::size_t(target - written), 'x');
            if (!line.empty()) {
                line.back() = '\n';
            }
        }
        std::fwrite(line.data(), 1, line.size(), out);
        written += long(line.size());
        ++n;
    }
    std::fprintf(out, "%s\n", LastLineMarker);
    std::fclose(out);
    return 0;
}

int generateColoured(const std::string& path, long mib, long percent)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        return 1;
    }
    std::mt19937 rng(1);
    // Each piece coloured and plain; a line is written in colour with the given chance.
    const char* levels[][2] = {{"\x1b[32mINFO \x1b[0m", "INFO "},
                               {"\x1b[2mDEBUG\x1b[0m", "DEBUG"},
                               {"\x1b[1;33mWARN \x1b[0m", "WARN "},
                               {"\x1b[1;31mERROR\x1b[0m", "ERROR"},
                               {"\x1b[38;5;244mTRACE\x1b[0m", "TRACE"}};
    const char* words[][2] = {{"connection", "connection"},
                              {"request", "request"},
                              {"user", "user"},
                              {"\x1b[36msession\x1b[39m", "session"},
                              {"timeout", "timeout"},
                              {"handler", "handler"},
                              {"database", "database"},
                              {"cache", "cache"},
                              {"worker", "worker"},
                              {"queue", "queue"},
                              {"retry", "retry"},
                              {"payload", "payload"},
                              {"GET", "GET"},
                              {"POST", "POST"},
                              {"/api/v1/items", "/api/v1/items"},
                              {"status=\x1b[38;2;0;200;0m200\x1b[0m", "status=200"},
                              {"id=42", "id=42"}};
    const long target = mib * 1024 * 1024 - long(std::strlen(LastLineMarker)) - 1;
    long written = 0;
    std::string line;
    long n = 0;
    while (written < target) {
        const int plain = long(rng() % 100) < percent ? 0 : 1;
        char stamp[96];
        const unsigned thread = unsigned(rng() % 16);
        std::snprintf(stamp, sizeof stamp, "%s2026-12-07 12:%02ld:%02ld.%03ld%s %s [t%02u] ",
                      plain ? "" : "\x1b[90m", (n / 60000) % 60, (n / 1000) % 60, n % 1000,
                      plain ? "" : "\x1b[0m", levels[rng() % 5][plain], thread);
        line = stamp;
        const std::size_t length = 60 + rng() % 160;
        while (line.size() < length) {
            line += words[rng() % (sizeof words / sizeof words[0])][plain];
            line += ' ';
        }
        line += '\n';
        if (written + long(line.size()) > target) {
            line.assign(std::size_t(std::max(0L, target - written)), 'x');
            if (!line.empty()) {
                line.back() = '\n';
            }
        }
        std::fwrite(line.data(), 1, line.size(), out);
        written += long(line.size());
        ++n;
    }
    std::fprintf(out, "%s\n", LastLineMarker);
    std::fclose(out);
    return 0;
}

int generateLines(const std::string& path, long mib, long minLength, long maxLength)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || minLength < 1 || maxLength < minLength) {
        return 1;
    }
    std::mt19937 rng(2);
    const std::string text(std::size_t(maxLength), 'x');
    for (long written = 0, target = mib * 1024 * 1024; written < target;) {
        const long length = std::min(
            target - written, minLength + long(rng() % std::uint32_t(maxLength - minLength + 1)));
        std::fwrite(text.data(), 1, std::size_t(length - 1), out);
        std::fputc('\n', out);
        written += length;
    }
    std::fclose(out);
    return 0;
}

} // namespace quillbench
