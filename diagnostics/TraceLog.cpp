#include "diagnostics/TraceLog.h"

#include "platform/NarrowCodec.h"
#include "platform/TempFolder.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

TraceLog::~TraceLog()
{
    closeLog();
}

TraceLog& TraceLog::instance()
{
    static TraceLog log;
    return log;
}

std::string TraceLog::buildPath(const std::u16string& logFileName)
{
    return quill::tempFolder() + quill::utf16ToNarrow(logFileName.empty()
                                                          ? std::u16string_view(u"Tail.log")
                                                          : std::u16string_view(logFileName));
}

void TraceLog::openLog(const std::string& path, std::uint32_t level, std::int32_t sizeLimit)
{
    m_path = path;
    m_configuredLevel = static_cast<std::uint16_t>(level & 0xFFFFu);
    m_sizeLimit = sizeLimit;
    closeFile();
    checkSize();
    if (!m_file) {
        openFile();
    }
}

void TraceLog::closeLog()
{
    closeFile();
}

void TraceLog::checkSize()
{
    if (m_path.empty() || m_sizeLimit < 0) {
        return;
    }
    // lstat: a symbolic link at the log's place is judged (and moved away) as itself.
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) != 0) {
        return;
    }
    if (static_cast<std::int64_t>(st.st_size) <= static_cast<std::int64_t>(m_sizeLimit)) {
        return;
    }
    closeFile();
    const std::string backup = m_path + "_1";
    // Both may fail (e.g. another user's backup in a sticky folder); the log then simply
    // keeps growing in the old file, which is better than losing it.
    ::unlink(backup.c_str());
    ::rename(m_path.c_str(), backup.c_str());
    openFile();
}

void TraceLog::finishError()
{
    if (!m_file) {
        return;
    }
    std::fflush(m_file);
    checkSize();
}

void TraceLog::stamp()
{
    if (!admits()) {
        return;
    }
    m_lastWasCr = false;
    using namespace std::chrono;
    const system_clock::time_point now = m_timeSource ? m_timeSource() : system_clock::now();
    const auto sinceEpoch = now.time_since_epoch();
    const auto wholeSeconds = floor<seconds>(sinceEpoch);
    const auto millis =
        static_cast<unsigned>(duration_cast<milliseconds>(sinceEpoch - wholeSeconds).count());
    const std::time_t seconds = static_cast<std::time_t>(wholeSeconds.count());
    std::tm local{};
    localtime_r(&seconds, &local);

    // Roomier than a short date and time strictly need: a locale with long names must not
    // lose its time of day to a full buffer.
    char date[128];
    char time[128];
    if (std::strftime(date, sizeof date, "%x", &local) == 0) {
        date[0] = '\0';
    }
    if (std::strftime(time, sizeof time, "%X", &local) == 0) {
        time[0] = '\0';
    }
    char prefix[300];
    const int length = std::snprintf(prefix, sizeof prefix, "%s %s %.3u : ", date, time, millis);
    if (length > 0) {
        writeRaw(std::string_view(prefix, std::min<std::size_t>(length, sizeof prefix - 1)));
    }
}

TraceLog& TraceLog::operator<<(std::u16string_view text)
{
    if (admits() && m_file) {
        writeText(quill::utf16ToNarrow(text));
    }
    return *this;
}

TraceLog& TraceLog::operator<<(std::string_view text)
{
    if (admits()) {
        writeText(text);
    }
    return *this;
}

namespace {

template <typename Number> std::string_view toDecimal(Number number, char (&buffer)[24])
{
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

} // namespace

TraceLog& TraceLog::operator<<(std::uint32_t number)
{
    char buffer[24];
    return *this << toDecimal(number, buffer);
}

TraceLog& TraceLog::operator<<(std::int64_t number)
{
    char buffer[24];
    return *this << toDecimal(number, buffer);
}

TraceLog& TraceLog::operator<<(std::uint64_t number)
{
    char buffer[24];
    return *this << toDecimal(number, buffer);
}

void TraceLog::endLine()
{
    if (!admits()) {
        return;
    }
    writeRaw("\r\n");
    m_lastWasCr = false;
    if (m_file) {
        std::fflush(m_file);
    }
}

void TraceLog::writeText(std::string_view text)
{
    // The file has CR LF line ends throughout; a piece that already carries CR LF keeps it
    // instead of gaining a second CR.
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            continue;
        }
        const bool hasCr = i > 0 ? text[i - 1] == '\r' : m_lastWasCr;
        writeRaw(text.substr(start, i - start));
        writeRaw(hasCr ? "\n" : "\r\n");
        start = i + 1;
    }
    writeRaw(text.substr(start));
    if (!text.empty()) {
        m_lastWasCr = text.back() == '\r';
    }
}

void TraceLog::writeRaw(std::string_view bytes)
{
    if (m_file && !bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), m_file);
    }
}

void TraceLog::openFile()
{
    if (m_file || m_path.empty()) {
        return;
    }
    m_file = quill::fopenForWritingSafely(m_path, quill::SafeOpenMode::Append, m_requiredOwner);
}

void TraceLog::closeFile()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}
