#include "engine/MergedLogs.h"

#include "platform/ReadOnlyFile.h"
#include "platform/TextEncoding.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include <sys/stat.h>

namespace {

constexpr LineNumber AllLines = std::numeric_limits<LineNumber>::max();
// Lines merged at once while catching up: small enough that the sources take turns often,
// so that lines nearly always join at the end.
constexpr LineNumber ChunkLines = 16'384;
constexpr FileOffset ChunkBytes = FileOffset{4} << 20;
// Bytes read at once; a longer line is read only as far as its prefix.
constexpr FileOffset ReadBytes = FileOffset{256} << 10;
constexpr std::size_t PrefixSlot = MergedLogs::PrefixBytes * 2;

TimeMs fileTimeMs(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return 0;
    }
    return TimeMs(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
}

// A line's first bytes as the layouts read them: the terminator off, a UTF-16 line's ASCII
// units narrowed (any other unit '?'), a byte-order mark off the file's first line and
// terminal sequences out (a coloured log often writes one just before the time).
std::string_view linePrefix(const std::uint8_t* bytes, std::size_t n, quill::TextEncoding encoding,
                            bool fileStart, std::string& scratch)
{
    std::string_view text;
    if (quill::isUtf16(encoding)) {
        const bool little = encoding == quill::TextEncoding::Utf16Le;
        std::size_t i = fileStart && n >= 2 && (bytes[0] == 0xFF || bytes[0] == 0xFE) ? 2 : 0;
        scratch.clear();
        for (; i + 1 < n && scratch.size() < MergedLogs::PrefixBytes; i += 2) {
            const std::uint8_t low = little ? bytes[i] : bytes[i + 1];
            const std::uint8_t high = little ? bytes[i + 1] : bytes[i];
            scratch.push_back(high == 0 && low < 0x80 ? char(low) : '?');
        }
        text = scratch;
    } else {
        const std::size_t skip =
            fileStart && n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
        text = std::string_view(reinterpret_cast<const char*>(bytes + skip),
                                std::min(n - skip, MergedLogs::PrefixBytes));
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    if (text.find('\x1b') == std::string_view::npos) {
        return text;
    }
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && (text[i] < 0x40 || text[i] > 0x7E)) {
                ++i;
            }
            continue;
        }
        plain.push_back(text[i]);
    }
    scratch = std::move(plain);
    return scratch;
}

// Gives take(prefix) the prefix of each of the count lines of starts (count + 1 offsets).
template <typename Take>
bool forEachPrefix(const quill::ReadOnlyFile& file, quill::TextEncoding encoding,
                   const FileOffset* starts, std::size_t count, Take take)
{
    std::vector<std::uint8_t> buffer;
    std::string scratch;
    for (std::size_t done = 0; done < count;) {
        std::size_t end = done + 1;
        while (end < count && starts[end + 1] - starts[done] <= ReadBytes) {
            ++end;
        }
        const FileOffset from = starts[done];
        const FileOffset to = std::min(starts[end], starts[end - 1] + FileOffset(PrefixSlot));
        buffer.resize(std::size_t(to - from));
        if (file.readAt(buffer.data(), buffer.size(), from) != std::int64_t(buffer.size())) {
            return false; // the file shrank: the document starts over next
        }
        for (std::size_t i = done; i < end; ++i) {
            const std::size_t at = std::size_t(starts[i] - from);
            const std::size_t n =
                std::min({std::size_t(starts[i + 1] - starts[i]), PrefixSlot, buffer.size() - at});
            take(linePrefix(buffer.data() + at, n, encoding, starts[i] == 0, scratch));
        }
        done = end;
    }
    return true;
}

} // namespace

MergedLogs::MergedLogs(std::vector<LogDocument*> documents)
    : m_documents(std::move(documents)), m_sources(m_documents.size()), m_order(m_documents.size()),
      m_timeless(m_documents.size(), false)
{
    for (LogDocument* document : m_documents) {
        auto listener = std::make_unique<Listener>();
        listener->owner = this;
        document->addAppendListener(listener.get());
        m_listeners.push_back(std::move(listener));
    }
}

MergedLogs::~MergedLogs()
{
    for (std::size_t i = 0; i < m_documents.size(); ++i) {
        m_documents[i]->removeAppendListener(m_listeners[i].get());
    }
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_stopping.store(true);
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void MergedLogs::start()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_request;
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] {
                quill::nameThisThread("quill-merge");
                workerLoop();
            });
        }
    }
    m_wake.notify_all();
}

void MergedLogs::applyChange(const Change& change, MergedRows& rows, std::vector<LineNumber>& bases)
{
    std::vector<LineNumber> wanted =
        change.bases.empty() ? std::vector<LineNumber>(rows.sourceCount(), 0) : change.bases;
    if (wanted != bases) {
        rows.clear(); // other lines under the same numbers
        bases = std::move(wanted);
    }
    rows.truncate(std::min(change.keep, rows.rowCount()));
    for (const std::uint8_t source : change.sources) {
        rows.push(source);
    }
}

std::vector<std::string> MergedLogs::shortNames(const std::vector<std::string>& paths,
                                                const std::vector<std::string>& prefixes)
{
    // The suffix of a path from its k-th last component on.
    const auto suffix = [](const std::string& path, std::size_t components) {
        std::size_t at = path.size();
        for (std::size_t k = 0; k < components; ++k) {
            const std::size_t slash = at == 0 ? std::string::npos : path.rfind('/', at - 1);
            if (slash == std::string::npos) {
                return path;
            }
            at = slash;
        }
        return path.substr(at + 1);
    };
    std::vector<std::size_t> depth(paths.size(), 1);
    std::vector<std::string> names(paths.size());
    for (bool clash = true; clash;) {
        clash = false;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            names[i] =
                (i < prefixes.size() ? prefixes[i] : std::string()) + suffix(paths[i], depth[i]);
        }
        for (std::size_t i = 0; i < paths.size(); ++i) {
            for (std::size_t j = 0; j < paths.size(); ++j) {
                if (i != j && names[i] == names[j] && suffix(paths[i], depth[i]) != paths[i]) {
                    ++depth[i];
                    clash = true;
                    break;
                }
            }
        }
    }
    return names;
}

void MergedLogs::wake()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_request;
    }
    m_wake.notify_all();
}

std::vector<MergedLogs::Change> MergedLogs::takeChanges()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_changes, {});
}

std::vector<bool> MergedLogs::timeless() const
{
    std::lock_guard lock(m_mutex);
    return m_timeless;
}

bool MergedLogs::complete() const
{
    std::lock_guard lock(m_mutex);
    return m_complete;
}

std::size_t MergedLogs::memoryBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_memory;
}

bool MergedLogs::waitCaughtUp(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t wanted = ++m_request;
    m_wake.notify_all();
    return m_idle.wait_for(lock, timeout, [&] { return m_served >= wanted || m_quit; });
}

void MergedLogs::publish(Change change)
{
    {
        std::lock_guard lock(m_mutex);
        // A change from an earlier row covers every queued one after it.
        while (!m_changes.empty() && !change.provisional && !m_changes.back().provisional &&
               m_changes.back().keep >= change.keep) {
            m_changes.pop_back();
        }
        m_changes.push_back(std::move(change));
        m_memory = m_order.memoryBytes();
    }
    if (m_changed) {
        m_changed();
    }
}

void MergedLogs::workerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto wanted = [this] { return m_quit || m_served != m_request; };
        if (m_openDue) {
            // Woken or not, an open last line may have stayed long enough by then.
            m_wake.wait_until(lock, *m_openDue, wanted);
        } else {
            m_wake.wait(lock, wanted);
        }
        if (m_quit) {
            return;
        }
        const std::uint64_t request = m_request;
        lock.unlock();
        if (!m_built) {
            buildTail();
        }
        const bool going = catchUp();
        lock.lock();
        if (!going) {
            return;
        }
        m_served = request;
        m_idle.notify_all();
    }
}

void MergedLogs::refresh(std::size_t s)
{
    Source& source = m_sources[s];
    LogDocument& document = *m_documents[s];
    LogDocument::LineRun run;
    document.copyLineRun(0, AllLines, LineNumber(DetectLines), ChunkBytes, run);
    if (run.epoch != source.epoch) {
        if (source.epoch != ~std::uint64_t(0) && m_order.sourceLines(s) > 0) {
            const std::size_t first = m_order.restart(s);
            if (m_built) {
                publish({false, {}, first, m_order.rows().sourcesFrom(first)});
            }
        }
        source.epoch = run.epoch;
        source.reader.reset();
        source.detected = false;
        source.run = {};
        source.openEnd = -1;
    }
    if (source.detected) {
        return;
    }
    std::size_t count = run.starts.empty() ? 0 : run.starts.size() - 1;
    // The open last line tells the layout only when it is all there is and has settled.
    if (count > 0 && run.lastOpen && (count > 1 || !openLineSettled(source, run.starts.back()))) {
        --count;
    }
    if (count == 0) {
        return;
    }
    const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(document.nativePath());
    std::vector<std::string> prefixes;
    if (!file.isOpen() ||
        !forEachPrefix(file, document.encodingForm(), run.starts.data(), count,
                       [&](std::string_view text) { prefixes.emplace_back(text); })) {
        return;
    }
    const std::vector<std::string_view> lines(prefixes.begin(), prefixes.end());
    source.reader = LineTimeReader::detect(lines, fileTimeMs(document.nativePath()));
    source.detected = true;
    std::lock_guard lock(m_mutex);
    m_timeless[s] = !source.reader.has_value();
}

bool MergedLogs::readRun(std::size_t s, const LogDocument::LineRun& run, std::size_t count,
                         std::vector<TimeMs>& times) const
{
    times.clear();
    const Source& source = m_sources[s];
    if (!source.reader) {
        times.assign(count, MergedOrder::NoTime);
        return true;
    }
    const LogDocument& document = *m_documents[s];
    const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(document.nativePath());
    if (!file.isOpen()) {
        return false;
    }
    LineTimeReader::Recent recent;
    times.reserve(count);
    return forEachPrefix(
        file, document.encodingForm(), run.starts.data(), count, [&](std::string_view text) {
            times.push_back(source.reader->timeOf(text, recent).value_or(MergedOrder::NoTime));
        });
}

bool MergedLogs::readTimes(std::size_t s, LineNumber first, LineNumber end,
                           std::vector<TimeMs>& times) const
{
    if (m_stopping.load()) {
        return false; // closing: a merge of everything again is given up
    }
    LogDocument::LineRun run;
    m_documents[s]->copyLineRun(first, end, end - first, std::numeric_limits<FileOffset>::max(),
                                run);
    if (run.epoch != m_sources[s].epoch || run.first != first ||
        run.starts.size() != std::size_t(end - first) + 1) {
        return false;
    }
    return readRun(s, run, end - first, times);
}

void MergedLogs::buildTail()
{
    LineNumber total = 0;
    for (std::size_t s = 0; s < m_sources.size(); ++s) {
        refresh(s);
        LogDocument::LineRun run;
        m_documents[s]->copyLineRun(0, AllLines, 1, 1, run);
        total += run.lineCount;
    }
    if (total < TailFirstAbove) {
        return;
    }
    MergedOrder tail(m_sources.size());
    Change change;
    change.provisional = true;
    change.bases.assign(m_sources.size(), 0);
    std::vector<TimeMs> times;
    for (std::size_t s = 0; s < m_sources.size(); ++s) {
        if (m_stopping.load()) {
            return;
        }
        LogDocument::LineRun run;
        m_documents[s]->copyLineRun(0, AllLines, 1, 1, run);
        const LineNumber lines = run.lineCount;
        const LineNumber first = lines > TailLines ? lines - TailLines : 0;
        m_documents[s]->copyLineRun(first, AllLines, TailLines,
                                    std::numeric_limits<FileOffset>::max(), run);
        std::size_t count = run.starts.empty() ? 0 : run.starts.size() - 1;
        if (count > 0 && run.lastOpen) {
            --count;
        }
        if (run.epoch != m_sources[s].epoch || !readRun(s, run, count, times)) {
            continue;
        }
        change.bases[s] = run.first;
        tail.add(s, times, {});
    }
    change.sources = tail.rows().sourcesFrom(0);
    publish(std::move(change));
}

bool MergedLogs::openLineSettled(Source& source, FileOffset end)
{
    const auto now = std::chrono::steady_clock::now();
    if (end != source.openEnd) {
        source.openEnd = end;
        source.openSince = now;
    }
    const auto due = source.openSince + m_openQuiet;
    if (now >= due) {
        return true;
    }
    m_openDue = m_openDue ? std::min(*m_openDue, due) : due;
    return false;
}

bool MergedLogs::catchUp()
{
    std::size_t changedFrom = std::numeric_limits<std::size_t>::max();
    const std::size_t rowsBefore = m_order.rowCount();
    std::vector<TimeMs> times;
    const MergedOrder::TimeReader read = [this](std::size_t s, LineNumber first, LineNumber end,
                                                std::vector<TimeMs>& own) {
        return readTimes(s, first, end, own);
    };
    m_openDue.reset();
    for (std::size_t s = 0; s < m_sources.size(); ++s) {
        refresh(s);
    }
    // A file that cannot be read now is left for this pass: its next append or restart wakes
    // the worker again.
    std::vector<bool> stalled(m_sources.size(), false);
    for (;;) {
        if (m_stopping.load()) {
            return false;
        }
        // The source furthest behind in time goes next, so that lines mostly join at the end.
        std::size_t next = m_sources.size();
        for (std::size_t s = 0; s < m_sources.size(); ++s) {
            Source& source = m_sources[s];
            if (stalled[s]) {
                continue;
            }
            if (!source.detected) {
                refresh(s);
                if (!source.detected) {
                    continue;
                }
            }
            if (source.run.starts.size() < 2) {
                m_documents[s]->copyLineRun(m_order.sourceLines(s), AllLines, ChunkLines,
                                            ChunkBytes, source.run);
                if (source.run.epoch != source.epoch) {
                    refresh(s);
                    continue;
                }
                if (source.run.lastOpen && source.run.starts.size() >= 2 &&
                    !openLineSettled(source, source.run.starts.back())) {
                    source.run.starts.pop_back(); // the open last line waits
                }
            }
            if (source.run.starts.size() >= 2 &&
                (next == m_sources.size() || m_order.sourceKey(s) < m_order.sourceKey(next))) {
                next = s;
            }
        }
        if (next == m_sources.size()) {
            break;
        }
        Source& source = m_sources[next];
        const std::size_t count = source.run.starts.size() - 1;
        const bool readable = readRun(next, source.run, count, times);
        const LogDocument::LineRun run = std::exchange(source.run, {});
        if (!readable || run.first != m_order.sourceLines(next)) {
            // The file shrank or went: its document starts over soon and says so.
            stalled[next] = true;
            continue;
        }
        changedFrom = std::min(changedFrom, m_order.add(next, times, read));
    }
    if (!m_built) {
        m_built = true;
        {
            std::lock_guard lock(m_mutex);
            m_complete = true;
        }
        publish({false, {}, 0, m_order.rows().sourcesFrom(0)});
    } else if (changedFrom != std::numeric_limits<std::size_t>::max() ||
               m_order.rowCount() != rowsBefore) {
        const std::size_t keep = std::min(changedFrom, rowsBefore);
        publish({false, {}, keep, m_order.rows().sourcesFrom(keep)});
    }
    return true;
}
