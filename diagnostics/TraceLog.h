#pragma once

// The program's own diagnostic log in the temporary folder. Every message has a level
// (0 always, 1 errors, 3 information); the configured level admits a message when the
// message's level is not above it. Main (user-interface) thread only; no locking.
//
// A writer sets the level, stamps, writes pieces and ends the line:
//     TraceLog& log = TraceLog::instance();
//     log.SetMessageLevel(3); log.Stamp(); log << u"Help-path: " << path; log.EndLine();
// or, equivalently, log.Line(3, u"Help-path: ", path);

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

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
    // name, "Tail.log" when the name is empty.
    static std::string BuildPath(const std::u16string& logFileName);

    // Stores path, low 16 bits of level and limit, runs CheckSize, opens the file for
    // appending. The file is created 0600, never through a symbolic link, and not used at
    // all when another user owns it; any open failure leaves the log silent.
    void OpenLog(const std::string& path, std::uint32_t level, std::int32_t sizeLimit);
    void CloseLog();
    bool IsOpen() const { return m_file != nullptr; }

    // Renames a file above the size limit to path + "_1" and starts a new one.
    void CheckSize();
    // After a written error-level message: flush and CheckSize.
    void FinishError();

    void SetMessageLevel(std::uint16_t level) { m_messageLevel = level; }
    bool Admits() const { return m_configuredLevel >= m_messageLevel; }
    std::uint16_t ConfiguredLevel() const { return m_configuredLevel; }

    // The prefix: short date (%x), time (%X), three-digit milliseconds, " : ".
    void Stamp();
    // Pieces: UTF-16 text converted to the narrow set, narrow text as it is, numbers.
    TraceLog& operator<<(std::u16string_view text);
    TraceLog& operator<<(std::string_view text);
    TraceLog& operator<<(const char* text) { return *this << std::string_view(text); }
    TraceLog& operator<<(const char16_t* text) { return *this << std::u16string_view(text); }
    TraceLog& operator<<(std::uint32_t number);
    TraceLog& operator<<(std::int64_t number);
    // CR LF and a flush.
    void EndLine();

    // SetMessageLevel, Stamp, the pieces, EndLine.
    template <typename... Pieces>
    void Line(std::uint16_t level, const Pieces&... pieces)
    {
        SetMessageLevel(level);
        Stamp();
        (void)(*this << ... << pieces);
        EndLine();
    }

    const std::string& Path() const { return m_path; }

private:
    void writeRaw(std::string_view bytes);
    void openFile();

    std::uint16_t m_configuredLevel = 0;
    std::uint16_t m_messageLevel = 1;
    std::int32_t m_sizeLimit = 500000;
    std::string m_path;
    std::FILE* m_file = nullptr;
};
