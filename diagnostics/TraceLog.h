#pragma once

// The program's own diagnostic log in the temporary folder. Every message has a level
// (0 always, 1 errors, 3 information); the configured level admits a message when the
// message's level is not above it. Main (user-interface) thread only; no locking.
//
// A writer sets the level, stamps, writes pieces and ends the line:
//     TraceLog& log = TraceLog::instance();
//     log.setMessageLevel(3); log.stamp(); log << u"Help-path: " << path; log.endLine();
// or, equivalently, log.line(3, u"Help-path: ", path);

#include "platform/SafeFile.h"

#include <chrono>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <type_traits>
#include <utility>

class TraceLog {
  public:
    static constexpr std::uint16_t LevelAlways = 0;
    static constexpr std::uint16_t LevelError = 1;
    static constexpr std::uint16_t LevelInfo = 3;

    TraceLog() = default;
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // The program's one trace log.
    static TraceLog& instance();

    // The log's full path: the temporary folder (with its trailing '/') and the file
    // name in the narrow set, "Tail.log" when the name is empty.
    static std::string buildPath(const std::u16string& logFileName);

    // Stores path, low 16 bits of level and limit, runs checkSize, opens the file for
    // appending. The file is created 0600, never through a symbolic link, and not used at
    // all when another user owns it; any open failure leaves the log silent.
    void openLog(const std::string& path, std::uint32_t level, std::int32_t sizeLimit);
    void closeLog();
    bool isOpen() const { return m_file != nullptr; }

    // Renames a file above the size limit to path + "_1" and starts a new one. A negative
    // limit never rotates; 0 rotates any non-empty file.
    void checkSize();
    // After a written error-level message: flush and checkSize. Does nothing while the log
    // is not open, so a closed log is never re-created.
    void finishError();

    void setMessageLevel(std::uint16_t level) { m_messageLevel = level; }
    bool admits() const { return m_configuredLevel >= m_messageLevel; }
    std::uint16_t configuredLevel() const { return m_configuredLevel; }
    // A new "LogLevel" taking effect in a running program (low 16 bits, as openLog keeps).
    void setConfiguredLevel(std::uint32_t level)
    {
        m_configuredLevel = static_cast<std::uint16_t>(level);
    }

    // The prefix: short date (%x), time (%X), three-digit milliseconds, " : ".
    void stamp();
    // Pieces: UTF-16 text converted to the narrow set, narrow text as it is, numbers in
    // decimal. A line feed inside a piece becomes CR LF and the text continues on the next
    // line without a prefix.
    TraceLog& operator<<(std::u16string_view text);
    TraceLog& operator<<(std::string_view text);
    TraceLog& operator<<(const char* text) { return *this << std::string_view(text); }
    TraceLog& operator<<(const char16_t* text) { return *this << std::u16string_view(text); }
    TraceLog& operator<<(std::uint32_t number);
    TraceLog& operator<<(std::int64_t number);
    TraceLog& operator<<(std::uint64_t number);
    // Any other integer: signed ones as 64-bit, unsigned ones as 64-bit (no ambiguity for
    // int, long long, size_t ...). Characters and bool are not numbers here.
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, char8_t> &&
             !std::same_as<T, char16_t> && !std::same_as<T, char32_t> &&
             !std::same_as<T, wchar_t>) TraceLog&
    operator<<(T number)
    {
        if constexpr (std::is_signed_v<T>) {
            return *this << static_cast<std::int64_t>(number);
        } else {
            return *this << static_cast<std::uint64_t>(number);
        }
    }
    // CR LF and a flush.
    void endLine();

    // setMessageLevel, Stamp, the pieces, endLine.
    template <typename... Pieces> void line(std::uint16_t level, const Pieces&... pieces)
    {
        setMessageLevel(level);
        stamp();
        (void)(*this << ... << pieces);
        endLine();
    }

    const std::string& path() const { return m_path; }
    std::int32_t sizeLimit() const { return m_sizeLimit; }

    // Test seams. The time source replaces the system clock for the prefix (an empty
    // function restores it). The owner is the user a log file must belong to before it is
    // appended to (CurrentUser: the effective user). Take effect at the next stamp / open.
    using TimeSource = std::function<std::chrono::system_clock::time_point()>;
    void setTimeSource(TimeSource source) { m_timeSource = std::move(source); }
    void setRequiredOwner(uid_t owner) { m_requiredOwner = owner; }

  private:
    void writeRaw(std::string_view bytes);
    void writeText(std::string_view text);
    void openFile();
    void closeFile();

    std::uint16_t m_configuredLevel = 0;
    std::uint16_t m_messageLevel = 1;
    std::int32_t m_sizeLimit = 500000;
    std::string m_path;
    std::FILE* m_file = nullptr;
    bool m_lastWasCr = false;
    TimeSource m_timeSource;
    uid_t m_requiredOwner = quill::CurrentUser;
};
