#include "engine/DocumentTimeIndex.h"

#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string_view>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One chunk of the worker's: its line starts are copied under docAccess, its bytes read in
// one pread without any lock (a chunk of long lines is read a prefix a line instead).
constexpr LineNumber ChunkLines = LineNumber{64} << 10;
constexpr FileOffset ChunkBytes = FileOffset{4} << 20;
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
    Prefixes prefixes;
    std::vector<std::optional<TimeMs>> times;
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
        const LineNumber most = haveReader ? ChunkLines : LineNumber(DetectLines);
        m_doc.copyLineRun(haveReader ? next : 0, AllLines, most, ChunkBytes, run);
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
        if (!haveReader) {
            if (count == 0) {
                return true;
            }
            if (!readPrefixes(job, run, count, prefixes)) {
                return true; // unreadable now: the next append or restart looks again
            }
            auto reader = LineTimeReader::detect(prefixes.lines, fileTimeMs(job.path));
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
            continue;
        }
        if (count == 0) {
            return true;
        }
        if (!readPrefixes(job, run, count, prefixes)) {
            return true;
        }
        times.resize(count);
        LineTimeReader reader = [&] {
            std::lock_guard lock(m_mutex);
            return *m_reader;
        }();
        for (std::size_t i = 0; i < count; ++i) {
            times[i] = reader.timeOf(prefixes.lines[i]);
        }
        std::lock_guard lock(m_mutex);
        if (run.epoch != m_indexEpoch || m_index.lineCount() != run.first) {
            continue;
        }
        for (std::size_t i = 0; i < count; ++i) {
            m_index.addLine(times[i]);
        }
    }
}

bool DocumentTimeIndex::readPrefixes(const Job& job, const LogDocument::LineRun& run,
                                     std::size_t count, Prefixes& prefixes) const
{
    quill::ReadOnlyFile file = quill::ReadOnlyFile::open(job.path);
    if (!file.isOpen()) {
        return false;
    }
    if (prefixes.scratch.size() < count) {
        prefixes.scratch.resize(count);
    }
    prefixes.lines.resize(count);
    const FileOffset span = run.starts[count] - run.starts[0];
    // A chunk of long lines is read a prefix a line, each into a slot of its own.
    const bool whole = span <= ChunkBytes;
    const std::size_t slot = PrefixBytes * 2;
    prefixes.buffer.resize(whole ? std::size_t(span) : slot * count);
    if (whole &&
        file.readAt(prefixes.buffer.data(), prefixes.buffer.size(), run.starts[0]) != span) {
        return false; // the file shrank: a reload follows
    }
    for (std::size_t i = 0; i < count; ++i) {
        const FileOffset from = run.starts[i];
        const auto size = std::size_t(run.starts[i + 1] - from);
        std::uint8_t* bytes = prefixes.buffer.data() + (whole ? from - run.starts[0] : slot * i);
        const std::size_t n = whole ? size : std::min(size, slot);
        if (!whole && file.readAt(bytes, n, from) != std::int64_t(n)) {
            return false;
        }
        prefixes.lines[i] = narrowPrefix(bytes, n, job.encoding, from == 0, prefixes.scratch[i]);
    }
    return true;
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
    Prefixes prefixes;
    if (!readPrefixes(m_job, run, end - first, prefixes)) {
        return false;
    }
    times.resize(end - first);
    for (std::size_t i = 0; i < times.size(); ++i) {
        times[i] = m_reader->timeOf(prefixes.lines[i]);
    }
    return true;
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
