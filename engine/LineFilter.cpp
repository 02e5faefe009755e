#include "engine/LineFilter.h"
#include "platform/Contract.h"

#include "engine/FilterHost.h"
#include "engine/FilterPattern.h"
#include "engine/LogDocument.h"
#include "engine/TwoLanes.h"
#include "platform/NarrowCodec.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// One chunk of work: its line starts are copied under docAccess, its bytes read in one
// pread and matched without any lock. The matchers look for Stop and a new filter between
// lines, so a chunk's size sets only how often the lock is taken and rows are handed over.
constexpr LineNumber ChunkLines = LineNumber{64} << 10;
constexpr FileOffset ChunkBytes = FileOffset{4} << 20;
// What one of two threads reads of a chunk at a time.
constexpr std::size_t ReadPieceBytes = std::size_t{512} << 10;
// A single line longer than this is not held whole: it is shown as undecided.
constexpr FileOffset MaxLineBytes = FileOffset{256} << 20;
// The most the watcher's own run may take before it leaves the rest to the worker.
constexpr auto WatcherBudget = std::chrono::milliseconds(2);
// How much lower than the window the filter's worker runs (a nice value added).
constexpr int WorkerNiceness = 5;
// Progress notices during a long pass, at most this often.
constexpr auto NoticeInterval = std::chrono::milliseconds(50);

FilterTextForm textForm(const LogDocument& doc)
{
    switch (doc.encodingForm()) {
    case quill::TextEncoding::Utf16Le:
        return FilterTextForm::Utf16;
    case quill::TextEncoding::Utf16Be:
        return FilterTextForm::Utf16Be;
    case quill::TextEncoding::Utf8:
        return FilterTextForm::Utf8;
    case quill::TextEncoding::Locale:
        return quill::narrowCharset().isUtf8 ? FilterTextForm::Utf8 : FilterTextForm::Narrow;
    default:
        return FilterTextForm::Narrow;
    }
}

} // namespace

struct LineFilter::Job {
    std::uint64_t generation = 0;
    std::uint64_t epoch = 0;
    std::string path;
    FilterTextForm form = FilterTextForm::Utf8;
    bool terminal = false; // lines are matched as shown without control sequences
    bool controls = false; // carriage returns inside lines shown as crSymbol, not applied
    char16_t crSymbol = LoneCrSymbol;
    quill::TextEncoding encoding = quill::TextEncoding::Locale;
    bool foldInPlace = false; // see FilterScratch::newFoldedChunk
    std::chrono::microseconds watcherBudget = WatcherBudget;
    LineNumber chunkLines = ChunkLines;
    FileOffset chunkBytes = ChunkBytes;
    FileOffset longLineBytes = MaxLineBytes;
    std::shared_ptr<const LineMatcher> include;
    std::vector<std::shared_ptr<const LineMatcher>> excludes;
};

// The worker's own state: where it is in the current job, and its buffers.
struct LineFilter::Worker {
    std::uint64_t generation = ~std::uint64_t(0);
    LineNumber next = 0; // the first line not checked for good
    // The document's open last line was checked as it was then; it is checked again
    // (and its row taken back first when it matched) once it has grown.
    bool provisional = false;
    LineNumber provisionalLine = 0;
    FileOffset provisionalEnd = 0;
    bool provisionalMatched = false;

    LogDocument::LineRun lines;
    quill::ReadOnlyFile file; // the job's file, once a run has read from it
    std::uint64_t fileGeneration = 0;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> verdicts; // per line of the chunk: Excluded, Unsure
    std::vector<std::uint32_t> rows;
    std::vector<std::uint32_t> unsureRows;
    std::vector<LineNumber> found;
    std::vector<LineNumber> undecided; // of found
    std::uint64_t undecidedTerms = 0;  // as undecidedTerms()
    FilterScratch scratch;
};

namespace {
constexpr std::uint8_t Excluded = 1; // an exclude matched: hidden
constexpr std::uint8_t Unsure = 2;   // an exclude could not decide: kept, marked

std::uint64_t excludeBit(std::size_t index)
{
    return std::uint64_t(1) << std::min<std::size_t>(index + 1, 63);
}
} // namespace

LineFilter::LineFilter(LogDocument& document, FilterHost* host)
    : m_doc(document), m_host(host), m_chunkLines(ChunkLines), m_chunkBytes(ChunkBytes),
      m_longLineBytes(MaxLineBytes), m_watcherBudget(WatcherBudget),
      m_worker(std::make_unique<Worker>())
{
    m_doc.addAppendListener(this);
}

void LineFilter::setChunkLimits(LineNumber lines, FileOffset bytes)
{
    m_chunkLines = std::max<LineNumber>(1, lines);
    m_chunkBytes = std::max<FileOffset>(1, bytes);
}

void LineFilter::setLongLineLimit(FileOffset bytes)
{
    m_longLineBytes = std::max<FileOffset>(1, bytes);
}

LineFilter::~LineFilter()
{
    // Returns once a call in progress on the watcher's thread has ended.
    m_doc.removeAppendListener(this);
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_generation.store(++m_nextGeneration);
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::vector<FilterError> LineFilter::setFilter(const FilterSet& filterSet)
{
    std::vector<FilterError> errors;
    std::shared_ptr<const LineMatcher> include;
    std::vector<std::shared_ptr<const LineMatcher>> excludes;
    auto compile = [&](const FilterTerm& term, bool exclude, std::size_t index) {
        FilterError error;
        std::shared_ptr<const FilterPattern> pattern =
            FilterPattern::compile(term, error.message, error.offset);
        if (!pattern) {
            error.exclude = exclude;
            error.excludeIndex = index;
            errors.push_back(std::move(error));
        }
        return pattern;
    };
    if (!filterSet.include.text.empty()) {
        include = compile(filterSet.include, false, 0);
    }
    for (std::size_t i = 0; i < filterSet.excludes.size(); ++i) {
        if (!filterSet.excludes[i].text.empty()) {
            if (auto pattern = compile(filterSet.excludes[i], true, i)) {
                excludes.push_back(std::move(pattern));
            }
        }
    }
    if (!errors.empty() || filterSet.isEmpty()) {
        clearFilter();
        return errors;
    }
    setMatchers(std::move(include), std::move(excludes));
    m_filterSet = filterSet;
    return errors;
}

void LineFilter::setMatchers(std::shared_ptr<const LineMatcher> include,
                             std::vector<std::shared_ptr<const LineMatcher>> excludes)
{
    m_filterSet = FilterSet();
    m_include = std::move(include);
    m_excludes = std::move(excludes);
    m_active = true;
    m_stopped.store(false);
    startJob();
}

void LineFilter::clearFilter()
{
    m_active = false;
    m_filterSet = FilterSet();
    m_include.reset();
    m_excludes.clear();
    if (!m_matches.empty()) {
        m_resetPending = true;
    }
    m_matches.clear();
    m_undecided.clear();
    m_undecidedTerms = 0;
    m_windowFirst.store(0);
    m_windowEnd.store(~LineNumber(0));
    {
        std::lock_guard lock(m_mutex);
        m_job.reset();
        m_generation.store(++m_nextGeneration);
        m_pending = Pending{m_nextGeneration, {}, {}, {}};
        m_target = 0;
        m_done = 0;
        m_noticeOutstanding = false;
    }
    m_idle.notify_all();
}

void LineFilter::startJob()
{
    const LineNumber count = m_doc.lineCount();
    if (count > 0 && !m_doc.isEncodingDecided()) {
        m_doc.line(count - 1); // decides the encoding, as the view's first paint would
    }
    auto job = std::make_shared<Job>();
    job->epoch = m_doc.indexEpoch();
    job->path = m_doc.nativePath();
    job->form = textForm(m_doc);
    job->terminal = m_doc.terminalColors();
    job->controls = m_doc.showControlCharacters();
    job->crSymbol = m_doc.textShowing().crSymbol;
    job->encoding = m_doc.encodingForm();
    job->include = m_include;
    job->excludes = m_excludes;
    job->foldInPlace = job->form == FilterTextForm::Utf8;
    if (m_include && !m_include->foldedBytesSuffice()) {
        job->foldInPlace = false;
    }
    for (const auto& matcher : m_excludes) {
        if (!matcher->foldedBytesSuffice()) {
            job->foldInPlace = false;
        }
    }
    job->chunkLines = m_chunkLines;
    // A line too long to hold always comes as a chunk of its own.
    job->chunkBytes = std::min(m_chunkBytes, m_longLineBytes);
    job->longLineBytes = m_longLineBytes;
    job->watcherBudget = m_watcherBudget;
    m_epoch = job->epoch;
    m_form = job->form;
    m_syncedCount = m_doc.lineCount();
    m_syncedEnd = m_doc.indexedEnd();
    m_matches.clear();
    m_undecided.clear();
    m_undecidedTerms = 0;
    m_resetPending = true;
    {
        std::lock_guard lock(m_mutex);
        job->generation = ++m_nextGeneration;
        m_generation.store(job->generation);
        m_job = std::move(job);
        m_target = m_syncedCount;
        m_pending = Pending{m_nextGeneration, {}, {}, {}};
        m_done = 0;
        ++m_request;
        m_noticeOutstanding = false;
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] {
                quill::nameThisThread("quill-filter");
                workerLoop();
            });
        }
    }
    m_wake.notify_all();
}

FilterChange LineFilter::sync()
{
    FilterChange change;
    if (!m_active) {
        return change;
    }
    const LineNumber count = m_doc.lineCount();
    if (count > 0 && !m_doc.isEncodingDecided()) {
        m_doc.line(count - 1);
    }
    if (m_doc.indexEpoch() != m_epoch || textForm(m_doc) != m_form) {
        if (m_windowFirst.load() != 0 || m_windowEnd.load() != ~LineNumber(0)) {
            // The window's lines were those of the old index.
            m_windowFirst.store(0);
            m_windowEnd.store(0);
        }
        startJob();
        m_resetPending = false;
        change.reset = true;
        return change;
    }
    const LineNumber now = m_doc.lineCount();
    const FileOffset end = m_doc.indexedEnd();
    if (now != m_syncedCount || end != m_syncedEnd) {
        m_syncedCount = now;
        m_syncedEnd = end;
        if (!checkedByWatcher(now, end)) {
            {
                std::lock_guard lock(m_mutex);
                m_target = now;
                ++m_request;
            }
            m_wake.notify_all();
        }
    }
    change.firstNewRow = change.rowCount = m_matches.size();
    return change;
}

bool LineFilter::checkedByWatcher(LineNumber count, FileOffset end)
{
    // Waking the worker for lines the watcher's own run has checked costs a switch to it and
    // a notice back while the window paints the same lines; a run in progress, or anything
    // left over, still goes to the worker.
    std::unique_lock running(m_runMutex, std::try_to_lock);
    if (!running.owns_lock()) {
        return false;
    }
    const Worker& worker = *m_worker;
    std::unique_lock lock(m_mutex);
    if (!m_job || m_stopped.load() || m_running || m_served != m_request ||
        worker.generation != m_job->generation || m_generation.load() != m_job->generation ||
        worker.next < m_windowFirst.load()) {
        return false;
    }
    const LineNumber target = std::min(count, m_windowEnd.load());
    // The open last line counts as checked while it has not grown since the run saw it.
    const bool unchangedOpenLine = worker.provisional && worker.provisionalLine == worker.next &&
                                   worker.next + 1 == target && worker.provisionalEnd == end &&
                                   m_doc.lastLineOpen();
    if (worker.next < target && !unchangedOpenLine) {
        return false;
    }
    m_target = count;
    m_done = count;
    if (!m_pending.lines.empty() || m_pending.retract) {
        // The rows the watcher found go out with a notice, as the worker's would.
        postNotice(lock, true);
    }
    return true;
}

void LineFilter::setLineWindow(LineNumber first, LineNumber end)
{
    m_windowFirst.store(first);
    m_windowEnd.store(std::max(first, end));
    if (!m_active) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        ++m_request;
    }
    m_wake.notify_all();
}

void LineFilter::stop()
{
    m_stopped.store(true);
    m_idle.notify_all();
}

void LineFilter::resume()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped.store(false);
    }
    m_wake.notify_all();
}

FilterChange LineFilter::collect()
{
    if (m_active && m_doc.indexEpoch() != m_epoch) {
        return sync(); // a reload or Clear nobody has told the pane of
    }
    FilterChange change;
    change.reset = m_resetPending;
    m_resetPending = false;
    std::lock_guard lock(m_mutex);
    m_noticeOutstanding = false;
    if (m_job && m_pending.generation == m_job->generation) {
        if (m_pending.retract && !m_matches.empty() && m_matches.back() == *m_pending.retract) {
            m_matches.pop_back();
            change.lastRowRemoved = true;
            if (!m_undecided.empty() && m_undecided.back() == *m_pending.retract) {
                m_undecided.pop_back();
            }
        }
        m_pending.retract.reset();
        change.firstNewRow = m_matches.size();
        for (LineNumber line : m_pending.lines) {
            m_matches.push_back(line);
        }
        m_pending.lines.clear();
        m_undecided.insert(m_undecided.end(), m_pending.undecided.begin(),
                           m_pending.undecided.end());
        m_pending.undecided.clear();
        m_undecidedTerms |= m_pending.undecidedTerms;
        if (m_pending.lines.capacity() > std::size_t{1} << 20) {
            m_pending.lines.shrink_to_fit();
        }
    } else {
        change.firstNewRow = m_matches.size();
    }
    change.rowCount = m_matches.size();
    return change;
}

FilterProgress LineFilter::progress() const
{
    FilterProgress progress;
    std::lock_guard lock(m_mutex);
    if (!m_active || !m_job) {
        return progress;
    }
    // The watcher's runs may have checked lines the window has not heard of yet.
    progress.total = m_target;
    progress.done = std::min(m_done, m_target);
    if (m_stopped.load()) {
        progress.state = FilterState::Stopped;
    } else if (m_served == m_request && !m_running) {
        progress.state = FilterState::Done;
    } else {
        progress.state = FilterState::Running;
    }
    return progress;
}

bool LineFilter::isCollected() const
{
    std::lock_guard lock(m_mutex);
    return !m_noticeOutstanding && m_pending.lines.empty() && !m_pending.retract;
}

bool LineFilter::waitIdle(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [this] {
        return !m_job || m_stopped.load() || (m_served == m_request && !m_running);
    });
}

void LineFilter::postNotice(std::unique_lock<std::mutex>& lock, bool force)
{
    if (!m_host || m_noticeOutstanding) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastNotice < NoticeInterval) {
        return;
    }
    m_noticeOutstanding = true;
    m_lastNotice = now;
    lock.unlock();
    m_host->postFilterProgress();
    lock.lock();
}

void LineFilter::workerLoop()
{
    // A long pass or a pattern that backtracks must not take the processor from the window
    // and the watcher on a busy machine: new lines reach the screen first, rows come after.
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, ::gettid());
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, ::gettid(), std::min(nice + WorkerNiceness, 19));
    }
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] {
            return m_quit || (m_job && !m_stopped.load() && m_served != m_request);
        });
        if (m_quit) {
            return;
        }
        const std::shared_ptr<const Job> job = m_job;
        const LineNumber target = m_target;
        const std::uint64_t request = m_request;
        m_running = true;
        lock.unlock();
        RunEnd end = RunEnd::CaughtUp;
        {
            std::lock_guard running(m_runMutex);
            Worker& worker = *m_worker;
            if (worker.generation != job->generation) {
                worker.generation = job->generation;
                worker.next = 0;
                worker.provisional = false;
                worker.undecidedTerms = 0;
            }
            end = run(*job, target, worker, nullptr);
        }
        lock.lock();
        m_running = false;
        if ((end == RunEnd::CaughtUp || end == RunEnd::Unreadable) &&
            job->generation == m_generation.load()) {
            m_served = request;
            if (end == RunEnd::CaughtUp) {
                m_done = target; // the open last line counts as checked, as it is now
            }
        }
        if (end != RunEnd::Superseded) {
            postNotice(lock, true);
        }
        m_idle.notify_all();
    }
}

void LineFilter::textAppended(FileOffset offset, const std::uint8_t* bytes, std::size_t n)
{
    std::shared_ptr<const Job> job;
    {
        std::lock_guard lock(m_mutex);
        if (!m_job || m_quit || m_stopped.load()) {
            return;
        }
        job = m_job;
    }
    // Only where the worker is not at it and has begun this filter: a pass over the whole
    // file, or a new filter, stays the worker's.
    std::unique_lock running(m_runMutex, std::try_to_lock);
    if (!running.owns_lock() || m_worker->generation != job->generation ||
        job->generation != m_generation.load()) {
        return;
    }
    const Piece piece{offset, bytes, n};
    const LineNumber count = m_doc.lineCount();
    if (run(*job, count, *m_worker, &piece) != RunEnd::Deferred) {
        return;
    }
    running.unlock();
    {
        std::lock_guard lock(m_mutex);
        m_target = std::max(m_target, count);
        ++m_request;
    }
    m_wake.notify_all();
}

void LineFilter::indexRestarted()
{
    if (!m_active) {
        return;
    }
    std::unique_lock lock(m_mutex);
    postNotice(lock, true);
}

LineFilter::RunEnd LineFilter::interruption(const Job& job) const
{
    if (m_generation.load() != job.generation) {
        return RunEnd::Superseded;
    }
    if (m_stopped.load()) {
        return RunEnd::Stopped;
    }
    return RunEnd::CaughtUp;
}

LineFilter::RunEnd LineFilter::readChunk(const Job& job, Worker& worker, std::size_t size)
{
    const LogDocument::LineRun& lines = worker.lines;
    try {
        if (worker.bytes.size() < size) {
            worker.bytes.resize(size);
        }
    } catch (const std::bad_alloc&) {
        return RunEnd::Unreadable;
    }
    if (!worker.file.isOpen() || worker.fileGeneration != job.generation) {
        worker.file = quill::ReadOnlyFile::open(job.path);
        worker.fileGeneration = job.generation;
        if (!worker.file.isOpen()) {
            return RunEnd::Unreadable;
        }
    }
    if (job.terminal && size <= std::size_t(ChunkBytes) && size > ReadPieceBytes) {
        // The lines are matched as shown on two lanes (engine/FilterPattern.cpp), so the
        // pass takes both processors anyway: they read its chunk together too, as the
        // overview's lanes read theirs. Alone, the read would be a third of the pass with
        // one processor idle.
        struct ReadLane {
            bool read = true;
        };
        TwoLanes<ReadLane> lanes([&](ReadLane& lane, std::size_t k) {
            const std::size_t at = k * ReadPieceBytes;
            if (at >= size) {
                return false;
            }
            const std::size_t n = std::min(size - at, ReadPieceBytes);
            lane.read = worker.file.readAt(worker.bytes.data() + at, n,
                                           lines.starts[0] + FileOffset(at)) == std::int64_t(n);
            return true;
        });
        bool read = true;
        while (const ReadLane* lane = lanes.next()) {
            read = read && lane->read;
        }
        return read ? RunEnd::CaughtUp : RunEnd::Unreadable; // short: the file shrank
    }
    // A long line is read in pieces, so Stop need not wait for hundreds of megabytes.
    for (std::size_t at = 0; at < size;) {
        const std::size_t n = std::min(size - at, std::size_t(ChunkBytes));
        if (worker.file.readAt(worker.bytes.data() + at, n, lines.starts[0] + FileOffset(at)) !=
            std::int64_t(n)) {
            return RunEnd::Unreadable; // the file shrank: a reload follows
        }
        at += n;
        if (at < size) {
            if (const RunEnd end = interruption(job); end != RunEnd::CaughtUp) {
                return end;
            }
        }
    }
    return RunEnd::CaughtUp;
}

bool LineFilter::matchChunk(const Job& job, const LineChunk& chunk, Worker& worker)
{
    const LineNumber first = worker.lines.first;
    const std::size_t count = chunk.count;
    worker.found.clear();
    worker.undecided.clear();
    const bool anyExcludes = !job.excludes.empty();
    if (anyExcludes) {
        worker.verdicts.assign(count, 0);
        for (const auto& exclude : job.excludes) {
            worker.rows.clear();
            worker.unsureRows.clear();
            if (!exclude->matchLines(chunk, worker.scratch, worker.rows, worker.unsureRows)) {
                return false;
            }
            if (!worker.unsureRows.empty()) {
                worker.undecidedTerms |= excludeBit(std::size_t(&exclude - job.excludes.data()));
            }
            for (std::uint32_t row : worker.rows) {
                worker.verdicts[row] |= Excluded;
            }
            for (std::uint32_t row : worker.unsureRows) {
                worker.verdicts[row] |= Unsure;
            }
        }
    }
    auto take = [&](std::uint32_t row, bool unsure) {
        const std::uint8_t verdict = anyExcludes ? worker.verdicts[row] : 0;
        if ((verdict & Excluded) == 0) {
            worker.found.push_back(first + row);
            if (unsure || (verdict & Unsure) != 0) {
                worker.undecided.push_back(first + row);
            }
        }
    };
    if (job.include) {
        worker.rows.clear();
        worker.unsureRows.clear();
        if (!job.include->matchLines(chunk, worker.scratch, worker.rows, worker.unsureRows)) {
            return false;
        }
        if (!worker.unsureRows.empty()) {
            worker.undecidedTerms |= 1;
        }
        // Both lists ascend and never share a line.
        std::size_t u = 0;
        for (std::uint32_t row : worker.rows) {
            for (; u < worker.unsureRows.size() && worker.unsureRows[u] < row; ++u) {
                take(worker.unsureRows[u], true);
            }
            take(row, false);
        }
        for (; u < worker.unsureRows.size(); ++u) {
            take(worker.unsureRows[u], true);
        }
    } else {
        for (std::size_t row = 0; row < count; ++row) {
            take(std::uint32_t(row), false);
        }
    }
    return true;
}

LineFilter::RunEnd LineFilter::run(const Job& job, LineNumber target, Worker& worker,
                                   const Piece* piece)
{
    LogDocument::LineRun& lines = worker.lines;
    FilterAbort abort{&m_generation, job.generation, &m_stopped, {}};
    if (piece != nullptr) {
        abort.deadline = std::chrono::steady_clock::now() + job.watcherBudget;
    }
    worker.scratch.setAbort(abort);
    worker.scratch.setQuick(piece != nullptr);
    // Lines before the window are out of it for good; those past its end are not yet known
    // to be in it.
    if (const LineNumber first = m_windowFirst.load(); worker.next < first) {
        worker.next = first;
        worker.provisional = false;
    }
    target = std::min(target, m_windowEnd.load());
    while (worker.next < target) {
        if (const RunEnd end = interruption(job); end != RunEnd::CaughtUp) {
            return end;
        }
        // With a piece in memory, a run either ends where lines start to come from the
        // piece (what lies before it is read from the file), or starts in it and ends
        // with the last line it holds whole; a line that runs on past it goes alone.
        FileOffset runBytes = job.chunkBytes;
        bool inPiece = false;
        if (piece != nullptr) {
            if (std::chrono::steady_clock::now() >= abort.deadline) {
                return RunEnd::Deferred;
            }
            const FileOffset from = m_doc.lineStart(worker.next);
            const FileOffset pieceEnd = piece->offset + FileOffset(piece->size);
            if (from < piece->offset) {
                runBytes = std::min(runBytes, piece->offset - from);
            } else if (from < pieceEnd) {
                runBytes = std::min(runBytes, pieceEnd - from);
                inPiece = true;
            }
        }
        m_doc.copyLineRun(worker.next, target, job.chunkLines, runBytes, lines);
        if (lines.epoch != job.epoch) {
            return RunEnd::Unreadable;
        }
        if (lines.starts.size() < 2) {
            return RunEnd::CaughtUp;
        }
        const std::uint8_t* inMemory = nullptr;
        if (inPiece) {
            const FileOffset pieceEnd = piece->offset + FileOffset(piece->size);
            const std::size_t whole = std::size_t(
                std::upper_bound(lines.starts.begin() + 1, lines.starts.end(), pieceEnd) -
                lines.starts.begin() - 1);
            if (whole + 1 < lines.starts.size()) {
                lines.starts.resize(std::max<std::size_t>(whole, 1) + 1);
                lines.lastOpen = false;
            }
            if (whole > 0 && lines.starts[0] >= piece->offset) {
                inMemory = piece->bytes + (lines.starts[0] - piece->offset);
            }
        }
        const std::size_t count = lines.starts.size() - 1;
        std::optional<LineNumber> retract;
        if (worker.provisional && worker.provisionalLine == worker.next) {
            if (count == 1 && lines.starts[1] == worker.provisionalEnd && lines.lastOpen) {
                return RunEnd::CaughtUp; // the open last line has not changed
            }
            if (worker.provisionalMatched) {
                retract = worker.provisionalLine;
            }
        }

        const FileOffset runEnd = lines.starts[count];
        if (count == 1 && runEnd - lines.starts[0] > job.longLineBytes) {
            // Too long to hold: shown, as a line no term could decide.
            worker.found.assign(1, lines.first);
            worker.undecided.assign(1, lines.first);
            worker.undecidedTerms |= job.include ? 1 : 0;
            for (std::size_t i = 0; i < job.excludes.size(); ++i) {
                worker.undecidedTerms |= excludeBit(i);
            }
        } else {
            const std::size_t size = std::size_t(runEnd - lines.starts[0]);
            if (inMemory == nullptr) {
                if (const RunEnd end = readChunk(job, worker, size); end != RunEnd::CaughtUp) {
                    return end;
                }
            }
            const LineChunk chunk{inMemory != nullptr ? inMemory : worker.bytes.data(),
                                  lines.starts.data(),
                                  count,
                                  job.form,
                                  job.terminal,
                                  job.encoding,
                                  job.controls,
                                  job.crSymbol};
            if (job.foldInPlace && inMemory == nullptr) {
                foldAsciiBytes(worker.bytes.data(), size);
                worker.scratch.newFoldedChunk();
            } else {
                worker.scratch.newChunk();
            }
            if (!matchChunk(job, chunk, worker)) {
                const RunEnd end = interruption(job);
                return end != RunEnd::CaughtUp ? end
                       : piece != nullptr      ? RunEnd::Deferred
                                               : RunEnd::Stopped;
            }
            if (piece != nullptr && !worker.undecided.empty()) {
                return RunEnd::Deferred; // the worker may take all the steps it needs
            }
        }
        worker.provisional = false;

        const LineNumber last = lines.first + LineNumber(count) - 1;
        const LineNumber done = lines.lastOpen ? last : last + 1;
        // The watcher's own runs post nothing: their rows go out with the notice that
        // answers the window's update for the same lines, so the pane repaints no more
        // often than the log view.
        if (!handOver(job, retract, worker.found, worker.undecided, done, piece == nullptr)) {
            return RunEnd::Superseded;
        }
        worker.next = done;
        if (worker.bytes.size() > std::size_t(2 * ChunkBytes)) {
            worker.bytes = std::vector<std::uint8_t>(); // a very long line passed
            worker.scratch.trim(std::size_t(2 * ChunkBytes));
        }
        if (lines.lastOpen) {
            worker.provisional = true;
            worker.provisionalLine = last;
            worker.provisionalEnd = runEnd;
            worker.provisionalMatched = !worker.found.empty() && worker.found.back() == last;
        }
    }
    return RunEnd::CaughtUp;
}

bool LineFilter::handOver(const Job& job, std::optional<LineNumber> retract,
                          const std::vector<LineNumber>& lines,
                          const std::vector<LineNumber>& undecided, LineNumber done, bool notify)
{
    std::unique_lock lock(m_mutex);
    if (m_pending.generation != job.generation || m_generation.load() != job.generation) {
        return false;
    }
    if (retract) {
        if (!m_pending.lines.empty() && m_pending.lines.back() == *retract) {
            m_pending.lines.pop_back();
            if (!m_pending.undecided.empty() && m_pending.undecided.back() == *retract) {
                m_pending.undecided.pop_back();
            }
        } else {
            QUILL_ASSERT(!m_pending.retract);
            m_pending.retract = retract;
        }
    }
    QUILL_ASSERT(lines.empty() || m_pending.lines.empty() ||
                 lines.front() > m_pending.lines.back());
    // A row is a line the worker has scanned: below the lines done, or the open last line
    // itself, matched for now (and with them below the line count).
    QUILL_ASSERT(lines.empty() || lines.back() <= done);
    m_pending.lines.insert(m_pending.lines.end(), lines.begin(), lines.end());
    m_pending.undecided.insert(m_pending.undecided.end(), undecided.begin(), undecided.end());
    m_pending.undecidedTerms |= m_worker->undecidedTerms;
    m_done = done;
    if (notify) {
        postNotice(lock, false);
    }
    return true;
}
