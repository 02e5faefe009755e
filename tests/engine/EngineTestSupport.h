#pragma once

// Shared by the engine tests: a recording DocumentHost, a recording SoundService, a
// settings store in a temporary folder, and the plain byte-by-byte reference rules that
// the fast code must equal.

#include "engine/AlertRule.h"
#include "engine/DocumentHost.h"
#include "engine/LineText.h"
#include "engine/LogDocument.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quilltest {

class FakeHost : public DocumentHost {
  public:
    struct Message {
        std::uint32_t id;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };

    void PostToMainWindow(std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back({message, wParam, lParam});
            ++m_posted[message == WM_FILE_RELOAD ? 1 : 0];
        }
        m_cond.notify_all();
    }

    // Waits for the next posted message; false after the timeout (a generous safety net,
    // not a timing assertion).
    bool nextMessage(Message& message, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        if (!m_cond.wait_for(lock, timeout, [this] { return !m_queue.empty(); })) {
            return false;
        }
        message = m_queue.front();
        m_queue.pop_front();
        return true;
    }
    // Drops every queued message.
    void drain()
    {
        std::lock_guard lock(m_mutex);
        m_queue.clear();
    }
    int appendedCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_posted[0];
    }
    int reloadCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_posted[1];
    }

    void UpdateAllViews() override { ++updates; }
    void ScrollViewsToEnd() override { ++scrollsToEnd; }
    void ResetViewsScroll() override { ++resets; }
    void EnsureSelectionVisibleInViews() override { ++ensures; }
    void SetFilePathText(const std::u16string& path) override { filePathText = path; }
    void TitleChanged(const std::u16string& title) override { shownTitle = title; }
    MissingFileAnswer AskMissingFile(const std::u16string& path) override
    {
        ++questions;
        askedPath = path;
        return missingAnswer;
    }
    void ShowOpenError(const std::u16string& path, const std::u16string& description,
                       int errorNumber) override
    {
        ++openErrors;
        errorPath = path;
        errorDescription = description;
        lastError = errorNumber;
    }
    std::u16string LoadResourceString(std::uint32_t id) override
    {
        return id == 133 ? u"Log Viewer " : id == 190 ? u"not a regular file" : u"?";
    }
    std::u16string GetFileVersionText() override { return u"1.0.0.0001"; }

    int updates = 0;
    int scrollsToEnd = 0;
    int resets = 0;
    int ensures = 0;
    int questions = 0;
    int openErrors = 0;
    int lastError = 0;
    std::u16string filePathText;
    std::u16string shownTitle;
    std::u16string askedPath;
    std::u16string errorPath;
    std::u16string errorDescription;
    MissingFileAnswer missingAnswer;

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<Message> m_queue;
    int m_posted[2] = {0, 0};
};

class FakeSound : public SoundService {
  public:
    void PlayFileSync(const std::u16string& path) override { events.push_back(u"play:" + path); }
    void Beep() override { events.push_back(u"beep"); }
    std::vector<std::u16string> events;
};

// A settings store whose hives live in a temporary folder.
struct TestSettings {
    TempDir dir;
    SettingsStore store{dir.file("user.reg"), dir.file("machine.reg")};
};

// The byte-by-byte index of a whole file: the start of every line and the end entry.
struct ReferenceIndex {
    std::vector<std::int64_t> starts; // lineCount + 1 entries
    bool lastLineOpen = false;
};

inline ReferenceIndex referenceIndex(const std::string& bytes)
{
    ReferenceIndex index;
    std::size_t pos = 0;
    if (bytes.size() >= 2 && std::uint8_t(bytes[0]) == 0xFF && std::uint8_t(bytes[1]) == 0xFE) {
        pos = 2;
    }
    std::size_t lineStart = pos;
    for (; pos < bytes.size(); ++pos) {
        if (bytes[pos] == '\n') {
            if (pos + 1 < bytes.size() && bytes[pos + 1] == '\0') {
                ++pos;
            }
            index.starts.push_back(std::int64_t(lineStart));
            lineStart = pos + 1;
        }
    }
    if (lineStart < pos) {
        index.starts.push_back(std::int64_t(lineStart));
        index.lastLineOpen = true;
    }
    index.starts.push_back(std::int64_t(pos));
    return index;
}

// GetLine of line i by the reference rule.
inline std::u16string referenceLine(const std::string& bytes, const ReferenceIndex& index,
                                    std::size_t i, bool utf16)
{
    std::u16string decoded;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    DecodeLineBytes(p + index.starts[i], std::size_t(index.starts[i + 1] - index.starts[i]), utf16,
                    decoded);
    return std::u16string(StripTerminator(decoded));
}

inline std::string utf16le(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

} // namespace quilltest
