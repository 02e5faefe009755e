#include "engine/DocumentTimeIndex.h"

#include "engine/TwoLanes.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The worker's piece of the file: the starts of the lines that start in it are copied under
// docAccess, and its bytes read without any lock; when there is more than one piece to read,
// two lanes share them (engine/TwoLanes.h).
constexpr FileOffset PieceBytes = FileOffset{1} << 20;
// Bytes read at once: the lines' first bytes are still in the processor's cache when they are
// parsed. A longer line is read only as far as its prefix.
constexpr FileOffset ReadBytes = FileOffset{128} << 10;
// A line's prefix in bytes (a UTF-16 line's units are two bytes each).
constexpr std::size_t PrefixSlot = DocumentTimeIndex::PrefixBytes * 2;
// The index is the least urgent reader of the file: below the window, watcher and filter.
constexpr int WorkerNiceness = 7;
constexpr LineNumber AllLines = std::numeric_limits<LineNumber>::max();

TimeMs fileTimeMs(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return 0;
    }
    return TimeMs(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
}

// Terminal control sequences (ESC [ parameters and a final byte) taken out: a coloured log
// often writes one just before the time. Only a line that holds one is copied.
std::string_view withoutSequences(std::string_view text, std::string& scratch)
{
    if (text.find('\x1b') == std::string_view::npos) {
        return text;
    }
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && (text[i] < 0x40 || text[i] > 0x7E)) {
                ++i;
            }
            continue; // past the final byte
        }
        plain.push_back(text[i]);
    }
    scratch = std::move(plain);
    return scratch;
}

// A line's first bytes as the layouts read them: its terminator off, a UTF-16 line's ASCII
// units narrowed and every other unit '?', a byte-order mark off the file's first line,
// terminal sequences out. A narrow line is seen where it lies; only what is narrowed is
// copied, into scratch.
std::string_view narrowPrefix(const std::uint8_t* bytes, std::size_t n,
                              quill::TextEncoding encoding, bool fileStart, std::string& scratch)
{
    std::string_view text;
    if (quill::isUtf16(encoding)) {
        const bool little = encoding == quill::TextEncoding::Utf16Le;
        std::size_t i = 0;
        if (fileStart && n >= 2 &&
            (little ? bytes[0] == 0xFF && bytes[1] == 0xFE
                    : bytes[0] == 0xFE && bytes[1] == 0xFF)) {
            i = 2;
        }
        scratch.clear();
        for (; i + 1 < n && scratch.size() < DocumentTimeIndex::PrefixBytes; i += 2) {
            const std::uint8_t low = little ? bytes[i] : bytes[i + 1];
            const std::uint8_t high = little ? bytes[i + 1] : bytes[i];
            scratch.push_back(high == 0 && low < 0x80 ? char(low) : '?');
        }
        text = scratch;
    } else {
        std::size_t i = 0;
        if (fileStart && n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
            i = 3;
        }
        const std::size_t end = std::min(n, i + DocumentTimeIndex::PrefixBytes);
        text = std::string_view(reinterpret_cast<const char*>(bytes + i), end - i);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return withoutSequences(text, scratch);
}

// Where a run's lines are read into, and a narrowed line's copy.
struct PrefixBuffer {
    std::vector<std::uint8_t> bytes;
    std::string scratch;
};

// Gives take(i, prefix) the prefix of each line [0, count) of starts (count + 1 offsets), as
// narrowPrefix sees it, in order; the view lasts until the next call. False when the file
// cannot be read as far.
template <typename Take>
bool forEachPrefix(const quill::ReadOnlyFile& file, quill::TextEncoding encoding,
                   const FileOffset* starts, std::size_t count, PrefixBuffer& buffer, Take take)
{
    const bool wide = quill::isUtf16(encoding);
    for (std::size_t done = 0; done < count;) {
        std::size_t end = done + 1;
        while (end < count && starts[end + 1] - starts[done] <= ReadBytes) {
            ++end;
        }
        const FileOffset from = starts[done];
        const FileOffset to = std::min(starts[end], starts[end - 1] + FileOffset(PrefixSlot));
        const auto size = std::size_t(to - from);
        buffer.bytes.resize(size);
        if (file.readAt(buffer.bytes.data(), size, from) != std::int64_t(size)) {
            return false; // the file shrank: a reload follows
        }
        const std::uint8_t* const bytes = buffer.bytes.data();
        const std::uint8_t* const last = bytes + size;
        const auto nextEscape = [last](const std::uint8_t* at) {
            const void* hit = std::memchr(at, '\x1b', std::size_t(last - at));
            return hit ? static_cast<const std::uint8_t*>(hit) : last;
        };
        // The first escape byte at or after the line's start: a line that ends before it is
        // seen where it lies, without a look for terminal sequences of its own.
        const std::uint8_t* escape = nextEscape(bytes);
        for (std::size_t i = done; i < end; ++i) {
            const std::uint8_t* line = bytes + (starts[i] - from);
            const std::size_t n = std::min(std::size_t(starts[i + 1] - starts[i]), PrefixSlot);
            if (wide || escape < line + n || starts[i] == 0) {
                take(i, narrowPrefix(line, n, encoding, starts[i] == 0, buffer.scratch));
            } else {
                std::string_view text(reinterpret_cast<const char*>(line),
                                      std::min(n, DocumentTimeIndex::PrefixBytes));
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
                    text.remove_suffix(1);
                }
                take(i, text);
            }
            if (i + 1 < end) {
                const std::uint8_t* following = bytes + (starts[i + 1] - from);
                if (escape < following) {
                    escape = nextEscape(following);
                }
            }
        }
        done = end;
    }
    return true;
}

} // namespace

DocumentTimeIndex::DocumentTimeIndex(LogDocument& document) : m_doc(document)
{
    m_doc.addAppendListener(this);
}

DocumentTimeIndex::~DocumentTimeIndex()
{
    // Returns once a call in progress on the watcher's thread has ended.
    m_doc.removeAppendListener(this);
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_stopping.store(true, std::memory_order_relaxed);
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void DocumentTimeIndex::start()
{
    {
        std::lock_guard lock(m_mutex);
        m_job.path = m_doc.nativePath();
        if (m_state == State::Idle) {
            m_state = State::Building;
        }
        ++m_request;
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] { workerLoop(); });
        }
    }
    m_wake.notify_all();
}

void DocumentTimeIndex::textAppended(FileOffset, const std::uint8_t*, std::size_t)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Idle) {
            return; // not started: the first look reads everything anyway
        }
        ++m_request;
    }
    m_wake.notify_all();
}

void DocumentTimeIndex::indexRestarted()
{
    {
        std::lock_guard lock(m_mutex);
        m_job.path = m_doc.nativePath();
        if (m_state == State::Idle) {
            return;
        }
        // Nothing indexed before names the same lines any more: no answer until rebuilt.
        m_index.clear();
        m_reader.reset();
        m_noTimesFinal = false;
        m_indexEpoch = ~std::uint64_t(0);
        m_state = State::Building;
        ++m_request;
    }
    m_wake.notify_all();
}

void DocumentTimeIndex::workerLoop()
{
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, ::gettid());
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, ::gettid(), std::min(nice + WorkerNiceness, 19));
    }
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || m_served != m_request; });
        if (m_quit) {
            return;
        }
        const std::uint64_t request = m_request;
        const Job job = m_job;
        lock.unlock();
        const bool caughtUp = catchUp(job);
        lock.lock();
        if (!caughtUp) {
            continue; // the document started over meanwhile: look again
        }
        if (m_state == State::Building && m_indexEpoch != ~std::uint64_t(0)) {
            m_state = State::Ready;
        }
        m_served = request;
        m_idle.notify_all();
        if (m_caughtUp && m_served == m_request) {
            lock.unlock();
            m_caughtUp();
            lock.lock();
        }
    }
}

bool DocumentTimeIndex::catchUp(const Job& jobAsked)
{
    Job job = jobAsked;
    LogDocument::LineRun run;
    quill::ReadOnlyFile file;
    for (;;) {
        LineNumber next = 0;
        bool haveReader = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_quit || job.path != m_job.path) {
                return false;
            }
            next = m_index.lineCount();
            haveReader = m_reader.has_value();
        }
        // With a layout, only the first line to read: the pieces copy their own lines.
        const LineNumber most = haveReader ? 1 : LineNumber(DetectLines);
        m_doc.copyLineRun(haveReader ? next : 0, AllLines, most, PieceBytes, run);
        {
            std::lock_guard lock(m_mutex);
            if (run.epoch != m_indexEpoch) {
                // A new index (or the first look): start over from its first line.
                m_index.clear();
                m_reader.reset();
                m_indexEpoch = run.epoch;
                m_state = State::Building;
                m_noTimesFinal = false;
                job.encoding = m_doc.encodingForm();
                m_job.encoding = job.encoding;
                continue;
            }
            job.encoding = m_job.encoding;
            if (!haveReader && m_noTimesFinal) {
                return true;
            }
        }
        std::size_t count = run.starts.empty() ? 0 : run.starts.size() - 1;
        if (count > 0 && run.lastOpen) {
            --count; // the open last line may still grow: read once it is complete
        }
        if (count == 0) {
            return true;
        }
        if (!file.isOpen()) {
            file = quill::ReadOnlyFile::open(job.path);
            if (!file.isOpen()) {
                return true; // unreadable now: the next append or restart looks again
            }
        }
        if (haveReader) {
            const LineTimeReader reader = [&] {
                std::lock_guard lock(m_mutex);
                return *m_reader;
            }();
            if (indexFrom(file, job.encoding, run.epoch, next, run.starts[0], reader) == 0) {
                return true; // unreadable, or started over: the next look goes on
            }
            continue;
        }
        std::vector<std::string> prefixes;
        PrefixBuffer buffer;
        if (!forEachPrefix(
                file, job.encoding, run.starts.data(), count, buffer,
                [&](std::size_t, std::string_view text) { prefixes.emplace_back(text); })) {
            return true;
        }
        const std::vector<std::string_view> lines(prefixes.begin(), prefixes.end());
        auto reader = LineTimeReader::detect(lines, fileTimeMs(job.path));
        std::lock_guard lock(m_mutex);
        if (run.epoch != m_indexEpoch) {
            continue;
        }
        if (!reader) {
            m_state = State::NoTimes;
            // Enough lines to tell: no layout of times in this log, until it starts over.
            m_noTimesFinal = count >= DetectLines;
            return true;
        }
        m_reader = reader;
        m_state = State::Building;
    }
}

namespace {

// One lane's piece of the lines to index.
struct TimeLane {
    LogDocument::LineRun run;
    std::size_t count = 0; // complete lines of the run
    std::vector<TimeMs> times;
    PrefixBuffer buffer;
    LineTimeReader::Recent recent;
    bool readable = true;
};

} // namespace

LineNumber DocumentTimeIndex::indexFrom(const quill::ReadOnlyFile& file,
                                        quill::TextEncoding encoding, std::uint64_t epoch,
                                        LineNumber next, FileOffset base,
                                        const LineTimeReader& reader)
{
    // Piece k: the lines that start in the k-th PieceBytes from the first line's start.
    const auto work = [&](TimeLane& lane, std::size_t k) {
        if (m_stopping.load(std::memory_order_relaxed)) {
            return false;
        }
        const FileOffset from = base + FileOffset(k) * PieceBytes;
        m_doc.copyLinesStartingIn(next, AllLines, from, from + PieceBytes, lane.run);
        if (lane.run.epoch != epoch || lane.run.first >= lane.run.lineCount) {
            return false; // past the last line, or the index started over
        }
        lane.count = lane.run.starts.empty() ? 0 : lane.run.starts.size() - 1;
        if (lane.count > 0 && lane.run.lastOpen) {
            --lane.count;
        }
        lane.times.resize(lane.count);
        lane.readable = forEachPrefix(file, encoding, lane.run.starts.data(), lane.count,
                                      lane.buffer, [&](std::size_t i, std::string_view text) {
                                          const auto time = reader.timeOf(text, lane.recent);
                                          lane.times[i] = time ? *time : TimeIndex::NoTime;
                                      });
        return true;
    };
    LineNumber added = 0;
    // Adds a piece in order; false when the pass is to stop here.
    const auto take = [&](const TimeLane& lane) {
        if (!lane.readable) {
            return false;
        }
        std::lock_guard lock(m_mutex);
        if (m_quit || lane.run.epoch != m_indexEpoch || m_index.lineCount() != lane.run.first) {
            return false;
        }
        m_index.addLines(lane.times);
        added += LineNumber(lane.count);
        // An open last line ends the pass: it is read once it is complete.
        return lane.run.starts.empty() || lane.count + 1 == lane.run.starts.size();
    };
    // A followed log's few new lines are the first piece, read without the second lane.
    TimeLane first;
    if (!work(first, 0) || !take(first) ||
        first.run.first + LineNumber(first.count) >= first.run.lineCount) {
        return added;
    }
    TwoLanes<TimeLane> lanes([&](TimeLane& lane, std::size_t k) { return work(lane, k + 1); });
    while (const TimeLane* lane = lanes.next()) {
        if (!take(*lane)) {
            break;
        }
    }
    return added;
}

DocumentTimeIndex::State DocumentTimeIndex::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

LineNumber DocumentTimeIndex::indexedLines() const
{
    std::lock_guard lock(m_mutex);
    return m_index.lineCount();
}

bool DocumentTimeIndex::readTimes(LineNumber first, LineNumber end,
                                  std::vector<std::optional<TimeMs>>& times) const
{
    if (!m_reader || end <= first) {
        return false;
    }
    LogDocument::LineRun run;
    m_doc.copyLineRun(first, end, end - first, std::numeric_limits<FileOffset>::max(), run);
    if (run.epoch != m_indexEpoch || run.starts.size() != std::size_t(end - first) + 1) {
        return false;
    }
    const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_job.path);
    if (!file.isOpen()) {
        return false;
    }
    times.resize(end - first);
    PrefixBuffer buffer;
    LineTimeReader::Recent recent;
    return forEachPrefix(
        file, m_job.encoding, run.starts.data(), times.size(), buffer,
        [&](std::size_t i, std::string_view text) { times[i] = m_reader->timeOf(text, recent); });
}

std::optional<TimeMs> DocumentTimeIndex::timeOfLine(LineNumber line) const
{
    std::lock_guard lock(m_mutex);
    return m_index.timeOfLine(line, [this](LineNumber first, LineNumber end, auto& times) {
        return readTimes(first, end, times);
    });
}

std::optional<TimeMs> DocumentTimeIndex::lastLineTime() const
{
    std::lock_guard lock(m_mutex);
    if (m_index.lineCount() == 0) {
        return std::nullopt;
    }
    return m_index.timeOfLine(m_index.lineCount() - 1,
                              [this](LineNumber first, LineNumber end, auto& times) {
                                  return readTimes(first, end, times);
                              });
}

std::optional<TimeMs> DocumentTimeIndex::firstTime() const
{
    std::lock_guard lock(m_mutex);
    if (m_index.first() == TimeIndex::NoTime) {
        return std::nullopt;
    }
    return m_index.first();
}

std::optional<DocumentTimeIndex::Found> DocumentTimeIndex::firstLineAtOrAfter(TimeMs t) const
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Ready || m_index.first() == TimeIndex::NoTime) {
        return std::nullopt;
    }
    if (t < m_index.first()) {
        return Found{0, Found::Where::BeforeFirst};
    }
    if (t > m_index.latest()) {
        return Found{m_index.lineCount() - 1, Found::Where::AfterLast};
    }
    const auto line =
        m_index.firstLineAtOrAfter(t, [this](LineNumber first, LineNumber end, auto& times) {
            return readTimes(first, end, times);
        });
    if (!line) {
        return std::nullopt;
    }
    return Found{*line, Found::Where::Inside};
}

std::vector<TimeIndex::Block> DocumentTimeIndex::blocks() const
{
    std::lock_guard lock(m_mutex);
    return m_index.blocks();
}

std::vector<TimeMs> DocumentTimeIndex::groupLatest() const
{
    std::lock_guard lock(m_mutex);
    return m_index.groupLatest();
}

std::size_t DocumentTimeIndex::memoryBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_index.memoryBytes();
}

bool DocumentTimeIndex::waitCaughtUp(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t wanted = ++m_request;
    m_wake.notify_all();
    return m_idle.wait_for(lock, timeout, [&] { return m_served >= wanted || m_quit; });
}
