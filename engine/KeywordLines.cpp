#include "engine/KeywordLines.h"

#include "engine/KeywordScan.h"
#include "engine/LogDocument.h"
#include "engine/TwoLanes.h"
#include "platform/Contract.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ThreadName.h"

#include <algorithm>

namespace {

// Of a longer line only this much is read: a keyword in the first megabytes of a line of
// hundreds is found, one further in is not.
constexpr FileOffset MaxLineBytes = 4 << 20;
// What is read and searched in one go: lines up to this many bytes, or one longer line.
constexpr FileOffset PieceBytes = 64 << 10;
// What one thread of two takes at a time: several pieces, so that handing over costs little.
// A restart or the destructor waits for no more than a few of them.
constexpr FileOffset LanePieceBytes = 8 * PieceBytes;
// The most of a line begun before a piece the watcher's run reads back from the file.
constexpr FileOffset MaxHeadBytes = 1 << 20;
// Between two notices during a pass, and when the work has caught up.
constexpr auto NoticeInterval = std::chrono::milliseconds(100);
constexpr auto QuickNotice = std::chrono::milliseconds(20);

} // namespace

KeywordLines::KeywordLines(LogDocument& document, std::function<void()> notify,
                           std::function<std::vector<Keyword>()> keywords)
    : m_doc(document), m_notify(std::move(notify)), m_source(std::move(keywords))
{
    m_thread = std::thread([this] {
        quill::nameThisThread("quill-keywords");
        workerLoop();
    });
    m_doc.addAppendListener(this);
}

KeywordLines::~KeywordLines()
{
    // No piece comes after this returns.
    m_doc.removeAppendListener(this);
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        ++m_generation;
    }
    m_wake.notify_all();
    m_thread.join();
}

void KeywordLines::sync()
{
    const LineNumber count = m_doc.lineCount();
    if (count > 0 && !m_doc.isEncodingDecided()) {
        m_doc.line(count - 1); // decides the encoding, as the view's first paint would
    }
    const std::uint64_t epoch = m_doc.indexEpoch();
    const bool open = count > 0 && m_doc.lastLineOpen();
    const quill::TextEncoding form = m_doc.encodingForm();
    const bool terminal = m_doc.terminalColors();
    const std::vector<Keyword> keywords = m_source ? m_source() : m_doc.keywords();
    const bool anyEnabled =
        std::any_of(keywords.begin(), keywords.end(), [](const Keyword& k) { return k.enabled; });
    {
        std::lock_guard lock(m_mutex);
        // A line decoded the other way, or shown with its sequences, may have other keywords:
        // another encoding (the file's first bytes deciding late, or the user's choice) or
        // terminal colours switched start over as a new index does.
        if (epoch != m_epoch || form != m_form || terminal != m_terminal ||
            keywords != m_keywords || m_doc.nativePath() != m_path) {
            ++m_generation;
            m_epoch = epoch;
            m_form = form;
            m_terminal = terminal;
            m_keywords = keywords;
            m_path = m_doc.nativePath();
            m_lines.clear();
            m_buckets.clear();
            m_groupCounts.clear();
            m_shift = 0;
            m_checked = 0;
        }
        m_active = anyEnabled && !m_path.empty();
        m_target = m_active ? count - (open ? 1 : 0) : 0;
        m_target = std::max(m_target, m_checked);
    }
    m_wake.notify_all();
}

void KeywordLines::addLine(LineNumber line, std::size_t keyword)
{
    // Chunks are checked in order and each line once: the list stays ascending.
    m_lines.push_back(line);
    const std::size_t at = std::size_t(line / CountGroupLines) * m_keywords.size() + keyword;
    if (at >= m_groupCounts.size()) {
        m_groupCounts.resize(at + 1, 0);
    }
    ++m_groupCounts[at];
    while ((std::uint64_t(line) >> m_shift) >= MaxBuckets) {
        // Twice the lines a bucket: each keeps the first keyword of its two halves.
        for (std::size_t b = 0; b < m_buckets.size(); b += 2) {
            const std::uint8_t first = m_buckets[b];
            const std::uint8_t second = b + 1 < m_buckets.size() ? m_buckets[b + 1] : 0;
            m_buckets[b / 2] = first != 0 ? first : second;
        }
        m_buckets.resize((m_buckets.size() + 1) / 2);
        ++m_shift;
    }
    const std::size_t bucket = line >> m_shift;
    if (m_buckets.size() <= bucket) {
        m_buckets.resize(bucket + 1, 0);
    }
    if (m_buckets[bucket] == 0) {
        m_buckets[bucket] = static_cast<std::uint8_t>(std::min<std::size_t>(keyword + 1, 255));
    }
}

void KeywordLines::claim()
{
    m_running = true;
    if (m_scanGeneration != m_generation) {
        const TextShowing showing = m_doc.textShowing();
        m_scan = std::make_unique<KeywordScan>(m_keywords, m_form, showing);
        for (std::unique_ptr<KeywordScan>& scan : m_laneScans) {
            scan = std::make_unique<KeywordScan>(m_keywords, m_form, showing);
        }
        m_scanGeneration = m_generation;
    }
}

namespace {

// Lines [from, to) of run read from file and scanned into found (rows of the run) a piece at
// a time: a piece the size of a processor's cache is still there when the search goes over
// it. False when the file could not be read.
bool readAndScan(const quill::ReadOnlyFile& file, const LogDocument::LineRun& run, std::size_t from,
                 std::size_t to, KeywordScan& scan, std::vector<std::uint8_t>& bytes,
                 std::vector<KeywordScan::Line>& found, std::uint64_t& bytesRead)
{
    for (std::size_t done = from; done < to;) {
        std::size_t end = done + 1;
        while (end < to && run.starts[end + 1] - run.starts[done] <= PieceBytes) {
            ++end;
        }
        const FileOffset* starts = run.starts.data() + done;
        FileOffset cut[2] = {run.starts[done], run.starts[end]};
        if (cut[1] - cut[0] > MaxLineBytes) {
            cut[1] = cut[0] + MaxLineBytes; // a line of its own, too long to read whole
            starts = cut;
        }
        const std::size_t size = static_cast<std::size_t>(cut[1] - cut[0]);
        bytes.resize(size);
        if (file.readAt(bytes.data(), size, cut[0]) != std::int64_t(size)) {
            return false; // the file shrank or went: the reload that follows starts over
        }
        bytesRead += size;
        const std::size_t before = found.size();
        scan.scan(bytes.data(), starts, end - done, found);
        for (std::size_t k = before; k < found.size(); ++k) {
            found[k].row += std::uint32_t(done);
        }
        done = end;
    }
    if (bytes.capacity() > std::size_t(4 * PieceBytes)) {
        bytes = std::vector<std::uint8_t>(); // a long line passed
    }
    return true;
}

// The lines that start in a stretch of bytes, on one of two threads (engine/TwoLanes.h).
struct ScanLane {
    KeywordScan* scan = nullptr;
    LogDocument::LineRun run;
    std::size_t count = 0; // lines from run.first
    std::vector<std::uint8_t> bytes;
    std::vector<KeywordScan::Line> found;
    std::uint64_t bytesRead = 0;
    bool readable = true;
    bool current = true; // the run was taken from the pass's index
};

} // namespace

bool KeywordLines::openFile(const std::string& path)
{
    if (m_fileGeneration != m_scanGeneration || !m_file.isOpen()) {
        m_file = quill::ReadOnlyFile::open(path);
        m_fileGeneration = m_scanGeneration;
    }
    return m_file.isOpen();
}

bool KeywordLines::scanFromFile(const LogDocument::LineRun& run, std::size_t from,
                                std::size_t count, const std::string& path)
{
    if (!openFile(path)) {
        return false;
    }
    std::uint64_t bytesRead = 0;
    const bool readable =
        readAndScan(m_file, run, from, count, *m_scan, m_bytes, m_found, bytesRead);
    m_bytesRead += bytesRead;
    return readable;
}

bool KeywordLines::scanInLanes(std::uint64_t generation, std::uint64_t epoch, LineNumber next,
                               LineNumber target, const std::string& path)
{
    if (!openFile(path)) {
        return false;
    }
    m_doc.copyLineRun(next, target, 1, 0, m_run);
    if (m_run.starts.empty() || m_run.first != next || m_run.epoch != epoch) {
        return false; // the index started over under the pass
    }
    const FileOffset base = m_run.starts[0];
    // Each lane copies its own stretch's line starts: nothing of the pass waits for one
    // thread alone, and the lines found are recorded while the other lane searches on.
    std::atomic<std::size_t> scansGiven{0};
    TwoLanes<ScanLane> lanes([&](ScanLane& lane, std::size_t k) {
        const FileOffset from = base + FileOffset(k) * LanePieceBytes;
        m_doc.copyLinesStartingIn(next, target, from, from + LanePieceBytes, lane.run);
        lane.current = lane.run.epoch == epoch;
        if (lane.current && lane.run.first >= std::min(target, lane.run.lineCount)) {
            return false; // past the pass's last line
        }
        if (lane.scan == nullptr) {
            lane.scan = m_laneScans[scansGiven++].get();
        }
        lane.count = lane.run.starts.empty() ? 0 : lane.run.starts.size() - 1;
        lane.found.clear();
        lane.readable = !lane.current || readAndScan(m_file, lane.run, 0, lane.count, *lane.scan,
                                                     lane.bytes, lane.found, lane.bytesRead);
        return true;
    });
    while (ScanLane* lane = lanes.next()) {
        m_bytesRead += lane->bytesRead;
        lane->bytesRead = 0;
        if (!lane->current || !lane->readable) {
            return false;
        }
        std::unique_lock lock(m_mutex);
        if (!record(generation, epoch, lane->run.first, lane->count, lane->found)) {
            return false; // started over meanwhile
        }
        // New results are told during a pass too, at most every NoticeInterval.
        const auto now = std::chrono::steady_clock::now();
        if (m_noticeOwed && now - m_lastNotice >= NoticeInterval) {
            m_noticeOwed = false;
            m_lastNotice = now;
            lock.unlock();
            if (m_notify) {
                m_notify();
            }
        }
    }
    return true;
}

void KeywordLines::scanPiece(const std::uint8_t* bytes, const FileOffset* starts,
                             std::size_t firstRow, std::size_t count)
{
    const std::size_t before = m_found.size();
    m_scan->scan(bytes, starts, count, m_found);
    for (std::size_t k = before; k < m_found.size(); ++k) {
        m_found[k].row += std::uint32_t(firstRow);
    }
}

void KeywordLines::finish(std::unique_lock<std::mutex>& lock, std::uint64_t generation,
                          std::uint64_t epoch, LineNumber next, std::size_t count, bool readable)
{
    QUILL_ASSERT(lock.owns_lock());
    m_running = false;
    m_idle.notify_all();
    if (generation != m_generation || epoch != m_epoch || next != m_checked) {
        return; // the work was started over meanwhile
    }
    if (!readable) {
        m_target = m_checked; // the reload that follows starts over
        return;
    }
    record(generation, epoch, next, count, m_found);
}

bool KeywordLines::record(std::uint64_t generation, std::uint64_t epoch, LineNumber first,
                          std::size_t count, const std::vector<KeywordScan::Line>& found)
{
    if (generation != m_generation || epoch != m_epoch || first != m_checked) {
        return false;
    }
    for (const KeywordScan::Line& line : found) {
        addLine(first + LineNumber(line.row), line.keyword);
    }
    m_checked = first + LineNumber(count);
    m_groupCounts.resize(std::size_t((std::uint64_t(m_checked) + CountGroupLines - 1) /
                                     CountGroupLines) *
                             m_keywords.size(),
                         0);
    m_target = std::max(m_target, m_checked);
    m_linesRead += count;
    if (count > 0) {
        m_noticeOwed = true;
    }
    return true;
}

void KeywordLines::workerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_quit) {
            m_idle.notify_all();
            return;
        }
        // New results are told at most every NoticeInterval: following a busy file, the
        // strip repaints a few times a second, not for every piece.
        const auto now = std::chrono::steady_clock::now();
        if (m_noticeOwed && (now - m_lastNotice >= NoticeInterval ||
                             (m_checked >= m_target && now - m_lastNotice >= QuickNotice))) {
            m_noticeOwed = false;
            m_lastNotice = now;
            lock.unlock();
            if (m_notify) {
                m_notify();
            }
            lock.lock();
            continue;
        }
        if (m_checked >= m_target || m_running) {
            if (m_noticeOwed) {
                m_wake.wait_until(lock, m_lastNotice +
                                            (m_checked >= m_target ? QuickNotice : NoticeInterval));
            } else {
                m_wake.wait(lock);
            }
            continue;
        }
        claim();
        const std::uint64_t generation = m_generation;
        const std::uint64_t epoch = m_epoch;
        const std::string path = m_path;
        const LineNumber next = m_checked;
        const LineNumber target = m_target;
        lock.unlock();
        const bool done = scanInLanes(generation, epoch, next, target, path);
        lock.lock();
        m_running = false;
        m_idle.notify_all();
        if (!done && generation == m_generation) {
            // The file could not be read, or the index started over under the pass: the
            // reload or the next sync() starts it again.
            m_target = m_checked;
        }
    }
}

void KeywordLines::textAppended(FileOffset offset, const std::uint8_t* bytes, std::size_t n)
{
    std::unique_lock lock(m_mutex);
    // Only when nothing else is at it: a pass over the file stays the worker's.
    if (m_quit || m_running || !m_active) {
        return;
    }
    claim();
    if (!m_scan->presearch()) {
        // Every line would be decoded: that is work for the worker, not the watcher.
        m_running = false;
        return;
    }
    const std::uint64_t generation = m_generation;
    const std::uint64_t epoch = m_epoch;
    const std::string path = m_path;
    const LineNumber next = m_checked;
    lock.unlock();
    m_found.clear();
    // Every complete line from the first unchecked one to the piece's end, if that one began
    // at most MaxHeadBytes before the piece: lines begun before it are read from the file,
    // the rest are searched where the watcher holds them.
    m_doc.copyLineRun(next, ~LineNumber(0), ~LineNumber(0), FileOffset(n) + MaxHeadBytes, m_run);
    const LogDocument::LineRun& run = m_run;
    std::size_t count = run.starts.empty() ? 0 : run.starts.size() - 1;
    if (count > 0 && run.lastOpen) {
        --count;
    }
    const FileOffset end = offset + FileOffset(n);
    const bool usable = count > 0 && run.first == next && run.epoch == epoch &&
                        run.starts[count] <= end && offset - run.starts[0] <= MaxHeadBytes;
    bool readable = true;
    std::size_t inPiece = 0;
    while (usable && inPiece < count && run.starts[inPiece] < offset) {
        ++inPiece;
    }
    if (usable && inPiece > 0) {
        // Lines begun before the piece (a line the last piece ended inside) come from the
        // file, where they are whole by now.
        readable = scanFromFile(run, 0, inPiece, path);
    }
    if (!usable) {
        m_found.clear();
        count = 0;
    } else if (readable) {
        for (std::size_t done = inPiece; done < count;) {
            std::size_t stop = done + 1;
            while (stop < count && run.starts[stop + 1] - run.starts[done] <= PieceBytes) {
                ++stop;
            }
            scanPiece(bytes + (run.starts[done] - offset), run.starts.data() + done, done,
                      stop - done);
            done = stop;
        }
    }
    lock.lock();
    const bool owed = m_noticeOwed;
    finish(lock, generation, epoch, next, count, readable);
    const bool tell = m_noticeOwed && !owed;
    lock.unlock();
    if (tell) {
        m_wake.notify_all(); // the worker tells the views, in its time; once per notice
    }
}

KeywordLines::Overview KeywordLines::overview() const
{
    Overview overview;
    std::lock_guard lock(m_mutex);
    overview.buckets = m_buckets;
    overview.shift = m_shift;
    overview.checked = m_checked;
    overview.backgrounds.reserve(m_keywords.size());
    for (const Keyword& keyword : m_keywords) {
        overview.backgrounds.push_back(keyword.backgroundColor);
    }
    return overview;
}

KeywordLines::GroupCounts KeywordLines::groupCounts() const
{
    GroupCounts counts;
    std::lock_guard lock(m_mutex);
    counts.counts = m_groupCounts;
    counts.keywords = m_keywords;
    return counts;
}

KeywordLines::Outcome KeywordLines::neighbour(LineNumber from, bool down, LineNumber& line) const
{
    std::lock_guard lock(m_mutex);
    if (down) {
        // The first keyword line past `from`; none past the last line number there is.
        const std::size_t after =
            from < ~LineNumber(0) ? m_lines.lowerBound(from + 1) : m_lines.size();
        if (after < m_lines.size()) {
            line = m_lines.at(after);
            return Outcome::Found;
        }
        return m_checked < m_target ? Outcome::Pending : Outcome::None;
    }
    // Lines before `from` that are not checked yet may hold a nearer one.
    if (m_checked < from && m_checked < m_target) {
        return Outcome::Pending;
    }
    const std::size_t at = m_lines.lowerBound(from);
    if (at > 0) {
        line = m_lines.at(at - 1);
        return Outcome::Found;
    }
    return Outcome::None;
}

LineNumber KeywordLines::checkedLines() const
{
    std::lock_guard lock(m_mutex);
    return m_checked;
}

bool KeywordLines::isIdle() const
{
    std::lock_guard lock(m_mutex);
    return m_checked >= m_target;
}

bool KeywordLines::waitIdle(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [this] { return m_checked >= m_target && !m_running; });
}

std::size_t KeywordLines::memoryBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_lines.memoryBytes() + m_buckets.capacity() + m_groupCounts.capacity();
}

std::uint64_t KeywordLines::bytesRead() const
{
    return m_bytesRead.load();
}

std::uint64_t KeywordLines::linesRead() const
{
    std::lock_guard lock(m_mutex);
    return m_linesRead;
}
