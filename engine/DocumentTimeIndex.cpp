#include "engine/DocumentTimeIndex.h"

#include "engine/TwoLanes.h"
#include "platform/Contract.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

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

// The keyword search a pass runs on the bytes it reads, and the keyword lines it finds (rows
// of the pass's run).
struct KeywordPass {
    KeywordScan* scan = nullptr;
    std::vector<KeywordScan::Line>* found = nullptr;
};

// Every line's prefix is wanted.
struct EveryLine {
    bool operator()(std::size_t) const { return true; }
};

// Gives take(i, prefix) the prefix of each line [0, count) of starts (count + 1 offsets) that
// want(i) asks for, as narrowPrefix sees it, in order; the view lasts until the next call. With
// a keyword pass, the lines are read whole (up to CountedLineBytes) and searched as well, and
// only when times is set are their prefixes taken. False when the file cannot be read as far.
template <typename Take, typename Want = EveryLine>
bool forEachPrefix(const quill::ReadOnlyFile& file, quill::TextEncoding encoding,
                   const FileOffset* starts, std::size_t count, PrefixBuffer& buffer, Take take,
                   const KeywordPass& keywords = {}, bool times = true, Want want = {})
{
    const bool wide = quill::isUtf16(encoding);
    for (std::size_t done = 0; done < count;) {
        std::size_t end = done + 1;
        while (end < count && starts[end + 1] - starts[done] <= ReadBytes) {
            ++end;
        }
        const FileOffset from = starts[done];
        // Only a line read alone can be longer than CountedLineBytes.
        const FileOffset to =
            keywords.scan != nullptr
                ? std::min(starts[end], from + FileOffset(DocumentTimeIndex::CountedLineBytes))
                : std::min(starts[end], starts[end - 1] + FileOffset(PrefixSlot));
        const auto size = std::size_t(to - from);
        buffer.bytes.resize(size);
        if (file.readAt(buffer.bytes.data(), size, from) != std::int64_t(size)) {
            return false; // the file shrank: a reload follows
        }
        if (keywords.scan != nullptr) {
            const FileOffset cut[2] = {from, to};
            const std::size_t before = keywords.found->size();
            keywords.scan->scan(buffer.bytes.data(), to < starts[end] ? cut : starts + done,
                                end - done, *keywords.found);
            for (std::size_t k = before; k < keywords.found->size(); ++k) {
                (*keywords.found)[k].row += std::uint32_t(done);
            }
        }
        if (!times) {
            done = end;
            continue;
        }
        const std::uint8_t* const bytes = buffer.bytes.data();
        if constexpr (!std::is_same_v<Want, EveryLine>) {
            // The few lines wanted are narrowed each, without a look ahead for escapes.
            for (std::size_t i = done; i < end; ++i) {
                if (want(i)) {
                    const std::size_t n =
                        std::min(std::size_t(starts[i + 1] - starts[i]), PrefixSlot);
                    take(i, narrowPrefix(bytes + (starts[i] - from), n, encoding, starts[i] == 0,
                                         buffer.scratch));
                }
            }
            done = end;
            continue;
        }
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
            m_thread = std::thread([this] {
                quill::nameThisThread("quill-times");
                workerLoop();
            });
        }
    }
    m_wake.notify_all();
}

void DocumentTimeIndex::setSampleFromBytes(FileOffset bytes)
{
    std::lock_guard lock(m_mutex);
    m_sampleFromBytes = bytes;
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
        m_counts.clear();
        m_countedLines = 0;
        ++m_countGeneration;
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
        PassPlan plan;
        LineNumber from = 0;
        FileOffset sampleFromBytes = 0;
        {
            std::lock_guard lock(m_mutex);
            sampleFromBytes = m_sampleFromBytes;
            if (m_quit || job.path != m_job.path) {
                return false;
            }
            next = m_index.lineCount();
            haveReader = m_reader.has_value();
            if (haveReader) {
                plan = planPass(next);
            }
            // The lines indexed before the counting began are counted first.
            from = plan.times ? next : m_countedLines;
        }
        // With a layout, only the first line to read: the pieces copy their own lines.
        const LineNumber most = haveReader ? 1 : LineNumber(DetectLines);
        m_doc.copyLineRun(haveReader ? from : 0, AllLines, most, PieceBytes, run);
        {
            std::lock_guard lock(m_mutex);
            if (run.epoch != m_indexEpoch) {
                // A new index (or the first look): start over from its first line.
                m_index.clear();
                m_reader.reset();
                m_indexEpoch = run.epoch;
                m_state = State::Building;
                m_noTimesFinal = false;
                m_counts.clear();
                m_countedLines = 0;
                ++m_countGeneration;
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
            // A long stretch is sampled from its second group on: by a small read a group, or
            // from the bytes the keywords are counted in.
            if (plan.times && !quill::isUtf16(job.encoding) &&
                m_doc.indexedEnd() - run.starts[0] >= sampleFromBytes) {
                if (from % TimeIndex::GroupLines != 0 || from == 0) {
                    plan.limit = (from / TimeIndex::GroupLines + 1) * TimeIndex::GroupLines;
                } else if (plan.count) {
                    // Whole groups only: the rest, and the open last line, are read whole.
                    const LineNumber groupsEnd =
                        (run.lineCount - 1) / TimeIndex::GroupLines * TimeIndex::GroupLines;
                    plan.sample = groupsEnd > from;
                    plan.limit = plan.sample ? groupsEnd : plan.limit;
                } else if (sampleFrom(file, job.encoding, run.epoch, from, reader) > 0) {
                    continue;
                }
                // Else less than a group of complete lines: read whole.
            }
            if (indexFrom(file, job.encoding, run.epoch, from, run.starts[0], reader, plan) == 0) {
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
    KeywordScan* scan = nullptr; // while counting: this lane's own
    std::vector<KeywordScan::Line> found;
    PrefixBuffer buffer;
    LineTimeReader::Recent recent;
    bool readable = true;
};

} // namespace

namespace {

// One lane's batch of groups to sample.
struct SampleLane {
    LineNumber first = 0;           // the first group's first line
    std::vector<FileOffset> starts; // each group's start, and the next group's
    std::vector<TimeMs> samples;
    PrefixBuffer buffer;
    LineTimeReader::Recent recent;
    bool readable = true;
};

// The first time among the lines that start in the first PrefixSlot bytes of each group of the
// lane (NoTime: none there); false when the file cannot be read as far.
bool sampleGroups(const quill::ReadOnlyFile& file, quill::TextEncoding encoding,
                  const LineTimeReader& reader, SampleLane& lane)
{
    lane.samples.resize(lane.starts.size() - 1);
    for (std::size_t g = 0; g < lane.samples.size(); ++g) {
        // A few lines at the group's start, none past its end.
        const FileOffset groupBytes = lane.starts[g + 1] - lane.starts[g];
        const auto size = std::size_t(std::min(groupBytes, FileOffset(PrefixSlot)));
        lane.buffer.bytes.resize(size);
        const std::uint8_t* const bytes = lane.buffer.bytes.data();
        if (file.readAt(lane.buffer.bytes.data(), size, lane.starts[g]) != std::int64_t(size)) {
            return false; // the file shrank: a reload follows
        }
        const bool wholeGroup = FileOffset(size) == groupBytes;
        lane.samples[g] = TimeIndex::NoTime;
        for (std::size_t at = 0; at < size;) {
            const auto* feed =
                static_cast<const std::uint8_t*>(std::memchr(bytes + at, '\n', size - at));
            const std::size_t end = feed ? std::size_t(feed - bytes) + 1 : size;
            // A line cut by the read before its prefix ends is not read.
            if (!feed && !wholeGroup && end - at < DocumentTimeIndex::PrefixBytes) {
                break;
            }
            const std::string_view text =
                narrowPrefix(bytes + at, end - at, encoding, lane.starts[g] + FileOffset(at) == 0,
                             lane.buffer.scratch);
            if (const auto time = reader.timeOf(text, lane.recent)) {
                lane.samples[g] = *time;
                break;
            }
            at = end;
        }
    }
    return true;
}

} // namespace

LineNumber DocumentTimeIndex::sampleFrom(const quill::ReadOnlyFile& file,
                                         quill::TextEncoding encoding, std::uint64_t epoch,
                                         LineNumber next, const LineTimeReader& reader)
{
    // Groups to a batch: their starts are copied under docAccess at once, and the two lanes
    // take batches by turns.
    constexpr LineNumber BatchGroups = 1024;
    constexpr std::uint64_t Group = TimeIndex::GroupLines;
    const auto work = [&](SampleLane& lane, std::size_t k) {
        if (m_stopping.load(std::memory_order_relaxed)) {
            return false;
        }
        const std::uint64_t first = next + std::uint64_t(k) * BatchGroups * Group;
        lane.starts.clear();
        {
            std::lock_guard lock(m_doc.docAccess());
            if (m_doc.indexEpoch() != epoch) {
                return false;
            }
            LineNumber complete = m_doc.lineCount();
            if (complete > 0 && m_doc.lastLineOpen()) {
                --complete;
            }
            const std::uint64_t groups =
                complete > first ? std::min<std::uint64_t>((complete - first) / Group, BatchGroups)
                                 : 0;
            // Each group's start, and the next group's as the last one's end.
            for (std::uint64_t g = 0; groups > 0 && g <= groups; ++g) {
                lane.starts.push_back(m_doc.lineStart(LineNumber(first + g * Group)));
            }
        }
        if (lane.starts.size() < 2) {
            return false;
        }
        lane.first = LineNumber(first);
        lane.readable = sampleGroups(file, encoding, reader, lane);
        return true;
    };
    LineNumber added = 0;
    TwoLanes<SampleLane> lanes(work);
    while (const SampleLane* lane = lanes.next()) {
        if (!lane->readable) {
            break;
        }
        std::lock_guard lock(m_mutex);
        if (m_quit || epoch != m_indexEpoch || m_index.lineCount() != lane->first) {
            break;
        }
        for (const TimeMs sample : lane->samples) {
            m_index.addSampledGroup(sample);
        }
        added += LineNumber(lane->samples.size());
        if (lane->samples.size() < BatchGroups) {
            break; // the last batch, or the log grew since: a later batch may not go on from it
        }
    }
    return added;
}

DocumentTimeIndex::PassPlan DocumentTimeIndex::planPass(LineNumber next)
{
    PassPlan plan;
    plan.limit = AllLines;
    if (m_countKeywords.empty()) {
        return plan;
    }
    if (m_scanGeneration != m_countGeneration) {
        for (std::unique_ptr<KeywordScan>& scan : m_scans) {
            scan = std::make_unique<KeywordScan>(m_countKeywords, m_countForm, m_countShowing);
        }
        m_scanGeneration = m_countGeneration;
    }
    plan.count = true;
    plan.countGeneration = m_countGeneration;
    if (m_countedLines < next) {
        plan.times = false;
        plan.limit = next;
    }
    return plan;
}

void DocumentTimeIndex::addCounts(LineNumber first, std::size_t count,
                                  const std::vector<KeywordScan::Line>& found)
{
    const std::size_t keywords = m_countKeywords.size();
    const LineNumber end = first + LineNumber(count);
    m_counts.resize(
        std::size_t((std::uint64_t(end) + TimeIndex::GroupLines - 1) / TimeIndex::GroupLines) *
            keywords,
        0);
    for (const KeywordScan::Line& line : found) {
        ++m_counts[std::size_t((first + line.row) / TimeIndex::GroupLines) * keywords +
                   line.keyword];
    }
    m_countedLines = end;
}

LineNumber DocumentTimeIndex::indexFrom(const quill::ReadOnlyFile& file,
                                        quill::TextEncoding encoding, std::uint64_t epoch,
                                        LineNumber next, FileOffset base,
                                        const LineTimeReader& reader, const PassPlan& plan)
{
    std::atomic<std::size_t> scansGiven{0};
    // Piece k: the lines that start in the k-th PieceBytes from the first line's start.
    const auto work = [&](TimeLane& lane, std::size_t k) {
        if (m_stopping.load(std::memory_order_relaxed)) {
            return false;
        }
        const FileOffset from = base + FileOffset(k) * PieceBytes;
        m_doc.copyLinesStartingIn(next, plan.limit, from, from + PieceBytes, lane.run);
        if (lane.run.epoch != epoch || lane.run.first >= std::min(plan.limit, lane.run.lineCount)) {
            return false; // past the last line, or the index started over
        }
        lane.count = lane.run.starts.empty() ? 0 : lane.run.starts.size() - 1;
        if (lane.count > 0 && lane.run.lastOpen) {
            --lane.count;
        }
        lane.times.assign(plan.times ? lane.count : 0,
                          plan.sample ? TimeIndex::Unread : TimeIndex::NoTime);
        lane.found.clear();
        if (plan.count && lane.scan == nullptr) {
            const std::size_t given = scansGiven++;
            QUILL_ASSERT(given < m_scans.size());
            lane.scan = m_scans[given].get();
        }
        const KeywordPass keywords{lane.scan, &lane.found};
        if (!plan.sample) {
            lane.readable = forEachPrefix(
                file, encoding, lane.run.starts.data(), lane.count, lane.buffer,
                [&](std::size_t i, std::string_view text) {
                    const auto time = reader.timeOf(text, lane.recent);
                    lane.times[i] = time ? *time : TimeIndex::NoTime;
                },
                keywords, plan.times);
            return true;
        }
        // As sampleFrom: the lines that start in a group's first PrefixSlot bytes, up to the
        // first with a time; a group begun before the piece is not sampled here.
        constexpr LineNumber Group = TimeIndex::GroupLines;
        const LineNumber first = lane.run.first;
        const FileOffset* const starts = lane.run.starts.data();
        LineNumber sampled = ~LineNumber(0); // the group whose time is found
        lane.readable = forEachPrefix(
            file, encoding, starts, lane.count, lane.buffer,
            [&](std::size_t i, std::string_view text) {
                const auto time = reader.timeOf(text, lane.recent);
                lane.times[i] = time ? *time : TimeIndex::NoTime;
                if (time) {
                    sampled = (first + LineNumber(i)) / Group;
                }
            },
            keywords, true,
            [&](std::size_t i) {
                const LineNumber group = (first + LineNumber(i)) / Group;
                return group * Group >= first && group != sampled &&
                       starts[i] - starts[group * Group - first] < FileOffset(PrefixSlot);
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
        if (m_quit || lane.run.epoch != m_indexEpoch ||
            (plan.times && m_index.lineCount() != lane.run.first)) {
            return false;
        }
        // Counts only where they go on from the last ones, for the keywords of the plan.
        const bool counting = plan.count && plan.countGeneration == m_countGeneration &&
                              m_countedLines == lane.run.first;
        if (!plan.times && !counting) {
            return false;
        }
        if (plan.times) {
            m_index.addLines(lane.times);
        }
        if (counting) {
            addCounts(lane.run.first, lane.count, lane.found);
        }
        added += LineNumber(lane.count);
        // An open last line ends the pass: it is read once it is complete.
        return lane.run.starts.empty() || lane.count + 1 == lane.run.starts.size();
    };
    // A followed log's few new lines are the first piece, read without the second lane.
    TimeLane first;
    if (!work(first, 0) || !take(first) ||
        first.run.first + LineNumber(first.count) >= std::min(plan.limit, first.run.lineCount)) {
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

void DocumentTimeIndex::setCountedKeywords(const std::vector<Keyword>& keywords)
{
    const bool any =
        std::any_of(keywords.begin(), keywords.end(), [](const Keyword& k) { return k.enabled; });
    const quill::TextEncoding form = m_doc.encodingForm();
    const TextShowing showing = m_doc.textShowing();
    {
        std::lock_guard lock(m_mutex);
        if (any ? keywords == m_countKeywords && form == m_countForm && showing == m_countShowing
                : m_countKeywords.empty()) {
            return;
        }
        m_countKeywords = any ? keywords : std::vector<Keyword>();
        m_countForm = form;
        m_countShowing = showing;
        ++m_countGeneration;
        m_counts.clear();
        m_countedLines = 0;
        if (m_state == State::Idle) {
            return; // start() looks
        }
        ++m_request;
    }
    m_wake.notify_all();
}

DocumentTimeIndex::GroupCounts DocumentTimeIndex::groupCounts() const
{
    GroupCounts counts;
    std::lock_guard lock(m_mutex);
    counts.counts = m_counts;
    counts.keywords = m_countKeywords;
    counts.lines = m_countedLines;
    return counts;
}

bool DocumentTimeIndex::waitCaughtUp(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t wanted = ++m_request;
    m_wake.notify_all();
    return m_idle.wait_for(lock, timeout, [&] { return m_served >= wanted || m_quit; });
}
