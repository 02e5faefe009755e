#pragma once

// Shared by the engine tests: a recording DocumentHost, a recording SoundService, a
// settings store in a temporary folder, and the model of a file's lines that the fast code
// must equal.

#include "engine/AlertRule.h"
#include "engine/DocumentHost.h"
#include "engine/LineFilter.h"
#include "engine/LineText.h"
#include "engine/LogDocument.h"
#include "platform/NarrowCodec.h"
#include "settings/SettingsStore.h"
#include "support/ProcessIo.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace quilltest {

class FakeHost : public DocumentHost {
  public:
    struct Message {
        FileMessage id;
        int error; // Unreadable only
    };

    void postFileAppended() override { post({FileMessage::Appended, 0}); }
    void postFileReload() override { post({FileMessage::Reload, 0}); }
    void postFileUnreadable(int error) override { post({FileMessage::Unreadable, error}); }

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
    int appendedCount() const { return postedCount(FileMessage::Appended); }
    int reloadCount() const { return postedCount(FileMessage::Reload); }
    int unreadableCount() const { return postedCount(FileMessage::Unreadable); }

    void updateAllViews() override { ++updates; }
    void scrollViewsToEnd() override { ++scrollsToEnd; }
    void resetViewsScroll() override { ++resets; }
    void ensureSelectionVisibleInViews() override { ++ensures; }
    void setFilePathText(const std::u16string& path) override { filePathText = path; }
    void titleChanged(const std::u16string& title) override { shownTitle = title; }
    MissingFileAnswer askMissingFile(const std::u16string& path) override
    {
        ++questions;
        askedPath = path;
        return missingAnswer;
    }
    void showOpenError(const std::u16string& path, const std::u16string& description,
                       int errorNumber) override
    {
        ++openErrors;
        errorPath = path;
        errorDescription = description;
        lastError = errorNumber;
    }
    std::u16string loadResourceString(std::uint32_t id) override
    {
        return id == 133 ? u"Log Viewer " : id == 190 ? u"not a regular file" : u"?";
    }
    std::u16string fileVersionText() override { return u"1.0.0.0001"; }

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
    void post(Message message)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(message);
            ++m_posted[static_cast<std::size_t>(message.id)];
        }
        m_cond.notify_all();
    }
    int postedCount(FileMessage id) const
    {
        std::lock_guard lock(m_mutex);
        return m_posted[static_cast<std::size_t>(id)];
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<Message> m_queue;
    int m_posted[3] = {0, 0, 0};
};

class FakeSound : public SoundService {
  public:
    void playSoundFile(const std::u16string& path) override { events.push_back(u"play:" + path); }
    void beep() override { events.push_back(u"beep"); }
    std::vector<std::u16string> events;
};

// A settings store whose hives live in a temporary folder.
struct TestSettings {
    TempDir dir;
    SettingsStore store{dir.file("user.reg"), dir.file("machine.reg")};
};

// The model the index and the document must equal, built the other way round from them:
// decode the whole file first, then split the text at its line feeds. In UTF-16 the text
// is the file's code units (after a byte-order mark); a last odd byte is a line of its own
// when it follows a line feed (it opens a line, as any byte does) and holds no text. Narrow
// text is split at its 0x0A bytes, which in every ASCII-compatible set are exactly the
// decoded line feeds.
struct ReferenceIndex {
    std::vector<std::int64_t> starts; // lineCount + 1 entries
    bool lastLineOpen = false;
};

struct ModelFile {
    ReferenceIndex index;
    std::vector<std::u16string> lines; // as line shows them
};

// What a terminal shows of text written at the start of a line: a cursor that a carriage
// return puts back at the first column, each character (a surrogate pair one) replacing
// the one under the cursor or, past the end, added.
inline std::u16string terminalWriting(const std::u16string& text)
{
    std::vector<std::u16string> cells;
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            cursor = 0;
            continue;
        }
        std::u16string cell(1, text[i]);
        if (text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cell += text[++i];
        }
        if (cursor == cells.size()) {
            cells.push_back(cell);
        } else {
            cells[cursor] = cell;
        }
        ++cursor;
    }
    std::u16string out;
    for (const std::u16string& cell : cells) {
        out += cell;
    }
    return out;
}

// bigEndian: UTF-16 with the high byte first. A byte-order mark of the encoding (FF FE,
// FE FF, or EF BB BF in narrow text) is no text: the first line starts after it.
inline ModelFile modelFile(const std::string& bytes, bool utf16, bool bigEndian = false)
{
    ModelFile model;
    std::u16string text;
    std::vector<std::int64_t> offsets; // byte offset of each character of text
    std::size_t pos = 0;
    if (utf16) {
        const std::uint8_t first = bigEndian ? 0xFE : 0xFF;
        if (bytes.size() >= 2 && std::uint8_t(bytes[0]) == first &&
            std::uint8_t(bytes[1]) == (first ^ 1)) {
            pos = 2;
        }
        const std::size_t high = bigEndian ? 0 : 1;
        for (; pos + 1 < bytes.size(); pos += 2) {
            text += char16_t(std::uint8_t(bytes[pos + 1 - high]) |
                             (std::uint8_t(bytes[pos + high]) << 8));
            offsets.push_back(std::int64_t(pos));
        }
    } else {
        if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            pos = 3;
        }
        for (; pos < bytes.size(); ++pos) {
            text += bytes[pos] == '\n' ? u'\n' : u'x'; // line feeds only; texts come below
            offsets.push_back(std::int64_t(pos));
        }
    }
    std::vector<std::u16string> raw;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find(u'\n', start);
        const std::size_t end = lf == std::u16string::npos ? text.size() : lf;
        model.index.starts.push_back(offsets[start]);
        raw.push_back(text.substr(start, end - start));
        if (lf == std::u16string::npos) {
            model.index.lastLineOpen = true;
            break;
        }
        start = lf + 1;
    }
    if (utf16 && pos < bytes.size() && !model.index.lastLineOpen) {
        model.index.starts.push_back(std::int64_t(pos)); // the odd byte opens a line
        model.index.lastLineOpen = true;
        raw.emplace_back();
    }
    model.index.starts.push_back(std::int64_t(bytes.size()));
    if (!utf16) {
        // The narrow texts: the whole file decoded, then cut at its line feeds.
        const std::u16string decoded =
            quill::narrowToUtf16(bytes.substr(bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0));
        raw.clear();
        std::size_t from = 0;
        while (from < decoded.size()) {
            const std::size_t lf = decoded.find(u'\n', from);
            raw.push_back(decoded.substr(from, lf == std::u16string::npos ? lf : lf - from));
            from = lf == std::u16string::npos ? decoded.size() : lf + 1;
        }
    }
    for (std::u16string& line : raw) {
        // A CR before the line's end is its terminator; any other moves back to the first
        // column, as on a terminal.
        if (!line.empty() && line.back() == u'\r') {
            line.pop_back();
        }
        model.lines.push_back(terminalWriting(line));
    }
    return model;
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

inline std::string utf16be(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        out += char(c >> 8);
        out += char(c & 0xFF);
    }
    return out;
}

// The rows a filter gives for a term (and excludes) once its pass is done.
inline std::vector<LineNumber> filteredRows(LineFilter& filter, const FilterTerm& term,
                                            std::vector<FilterTerm> excludes = {})
{
    EXPECT_TRUE(filter.setFilter(FilterSet{term, std::move(excludes)}).empty());
    EXPECT_TRUE(filter.waitIdle());
    filter.collect();
    std::vector<LineNumber> rows;
    for (std::size_t i = 0; i < filter.matches().size(); ++i) {
        rows.push_back(filter.matches().at(i));
    }
    return rows;
}

} // namespace quilltest
