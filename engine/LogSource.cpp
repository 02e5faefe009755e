#include "engine/LogSource.h"

#include "engine/RotatedSpool.h"
#include "engine/SpoolWriter.h"
#include "platform/ReadOnlyFile.h"
#include "platform/SpoolFolder.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::size_t PumpBytes = 64 << 10;
// What is kept of a remote source's standard error: the reason ssh failed comes in its last
// lines, and a long follow's notes (each rotation makes some) must not grow without end.
constexpr std::size_t ErrorBytesKept = 16 << 10;
constexpr int ErrorDrainMs = 200;
// A rotated set's live file is looked at this often without a change notice.
constexpr int RotatedLookMs = 1000;
constexpr auto ReapStep = std::chrono::milliseconds(10);
// While an ending waits for what it signalled: the process table is read this often.
constexpr auto EndingStep = std::chrono::milliseconds(20);
// A command that ended by itself but left processes behind: looked at this often.
constexpr auto SurvivorStep = std::chrono::seconds(1);
// After SIGKILL: how long a process in an uninterruptible wait may take to go.
constexpr auto KillSettle = std::chrono::seconds(2);
constexpr auto OrphanScanEvery = std::chrono::seconds(1);
constexpr char MarkName[] = "QUILLSTREAM_SOURCE=";
std::atomic<std::uint64_t> s_serials{0};
std::atomic<bool> s_subreaper{false};

void closeFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

using Clock = std::chrono::steady_clock;

struct ProcessEntry {
    pid_t pid = 0;
    pid_t parent = 0;
    pid_t group = 0;
    char state = '?';
};

// /proc/<pid>/stat: the name in parentheses may hold anything, so the fields are counted
// from its last ')'.
bool parseStat(const std::string& text, ProcessEntry& entry)
{
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) {
        return false;
    }
    entry.state = text[close + 2];
    long parent = 0;
    long group = 0;
    if (std::sscanf(text.c_str() + close + 3, "%ld %ld", &parent, &group) != 2) {
        return false;
    }
    entry.parent = static_cast<pid_t>(parent);
    entry.group = static_cast<pid_t>(group);
    return true;
}

std::vector<ProcessEntry> readProcessTable()
{
    std::vector<ProcessEntry> table;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return table;
    }
    while (const dirent* item = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(item->d_name, &end, 10);
        if (pid <= 0 || end == item->d_name || *end != '\0') {
            continue;
        }
        ProcessEntry entry;
        entry.pid = static_cast<pid_t>(pid);
        const std::optional<std::string> stat =
            quill::readSmallFile(std::string("/proc/") + item->d_name + "/stat", 4096);
        if (stat && parseStat(*stat, entry)) {
            table.push_back(entry);
        }
    }
    ::closedir(proc);
    return table;
}

// The environment a process was started with holds exactly this entry.
bool carriesMark(pid_t pid, const std::string& mark)
{
    const std::optional<std::string> read =
        quill::readSmallFile("/proc/" + std::to_string(pid) + "/environ", 1 << 20);
    if (!read) {
        return false;
    }
    const std::string& environment = *read;
    std::size_t start = 0;
    while (start < environment.size()) {
        std::size_t end = environment.find('\0', start);
        if (end == std::string::npos) {
            end = environment.size();
        }
        if (environment.compare(start, end - start, mark) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// What a command made: its group, what descends from the group (also after setsid), and
// the orphans this program adopted that carry the command's mark, with their descendants.
// Each with its state; zombies too, to be reaped when they are this program's.
std::vector<ProcessEntry> commandProcesses(pid_t group, const std::string& mark)
{
    const std::vector<ProcessEntry> table = readProcessTable();
    const pid_t self = ::getpid();
    std::set<pid_t> found;
    std::multimap<pid_t, const ProcessEntry*> children;
    std::vector<const ProcessEntry*> pending;
    for (const ProcessEntry& entry : table) {
        children.emplace(entry.parent, &entry);
        const bool member = entry.group == group;
        const bool adopted =
            !member && entry.parent == self && entry.state != 'Z' && carriesMark(entry.pid, mark);
        if ((member || adopted) && found.insert(entry.pid).second) {
            pending.push_back(&entry);
        }
    }
    std::vector<ProcessEntry> result;
    while (!pending.empty()) {
        const ProcessEntry* entry = pending.back();
        pending.pop_back();
        result.push_back(*entry);
        const auto [first, last] = children.equal_range(entry->pid);
        for (auto child = first; child != last; ++child) {
            if (found.insert(child->second->pid).second) {
                pending.push_back(child->second);
            }
        }
    }
    return result;
}

// Leaders not yet reaped: the orphan reaper leaves them to their sources. The threads of
// destroyed sources are kept here until they end, and joined at exit at the latest.
struct Ending {
    std::thread thread;
    std::shared_ptr<const std::atomic<bool>> finished;
};

struct Endings {
    std::mutex mutex;
    std::set<pid_t> leaders;
    std::vector<Ending> running;

    void add(Ending ending)
    {
        std::vector<Ending> over;
        {
            std::lock_guard lock(mutex);
            auto done = std::stable_partition(running.begin(), running.end(),
                                              [](const Ending& e) { return !e.finished->load(); });
            std::move(done, running.end(), std::back_inserter(over));
            running.erase(done, running.end());
            running.push_back(std::move(ending));
        }
        for (Ending& finished : over) {
            finished.thread.join();
        }
    }
    void joinAll()
    {
        std::vector<Ending> all;
        {
            std::lock_guard lock(mutex);
            all.swap(running);
        }
        for (Ending& ending : all) {
            ending.thread.join();
        }
    }
    ~Endings() { joinAll(); }
};

Endings& endings()
{
    static Endings instance;
    return instance;
}

} // namespace

struct LogSource::State {
    State(SourceKind kind, const SourceOptions& sourceOptions) : options(sourceOptions)
    {
        status.kind = kind;
    }
    ~State()
    {
        closeFd(wakeFd);
        closeFd(spoolFd);
    }

    void wake();
    void finish(SourceStatus::Phase phase, SourceStatus::Problem problem, int error,
                std::string detail = {});
    void pump(int fd, int errorFd = -1);
    void keepErrors(const char* bytes, std::size_t size);
    void beginEnd();
    void reap();
    bool peekLeader(pid_t pid);

    SourceOptions options;
    int spoolFd = -1;
    int wakeFd = -1; // an eventfd that wakes the pump from its poll
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> spooled{0};
    std::atomic<std::uint64_t> inputDone{0};
    // Set last by the source's thread: a destroyed source's ending may be joined at once.
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
    std::string mark;         // a command: the environment entry that its processes carry
    std::string partialError; // the pump's own: an error line not yet complete
    mutable std::mutex mutex;
    std::condition_variable changed;
    SourceStatus status; // guarded by mutex
    pid_t leader = 0;    // guarded by mutex; the command's first process, 0 once reaped
    bool ending = false; // guarded by mutex; SIGTERM was sent at endingSince
    Clock::time_point endingSince;
};

LogSource::LogSource(SourceKind kind, std::u16string name, const SourceOptions& options)
    : m_kind(kind), m_serial(++s_serials), m_name(std::move(name)),
      m_state(std::make_shared<State>(kind, options))
{
}

LogSource::~LogSource()
{
    m_state->stop.store(true);
    m_state->wake();
    if (runsProcess()) {
        m_state->beginEnd();
    }
    // The file goes now; the thread may still hold it open until it ends.
    if (!m_spoolPath.empty()) {
        ::unlink(m_spoolPath.c_str());
    }
    if (!m_thread.joinable()) {
        return;
    }
    if (runsProcess()) {
        // The grace time runs on the source's thread, not on the caller's.
        endings().add({std::move(m_thread), m_state->finished});
    } else {
        m_thread.join();
    }
}

void LogSource::waitForEndings()
{
    endings().joinAll();
}

bool LogSource::makeSpool(int& error)
{
    SourceOptions& options = m_state->options;
    const std::string folder = options.folder.empty() ? quill::spoolFolderPath() : options.folder;
    error = quill::prepareSpoolFolder(folder);
    if (error != 0) {
        return false;
    }
    quill::SpoolFile spool = quill::createSpool(folder);
    if (!spool) {
        error = spool.error;
        return false;
    }
    m_state->spoolFd = spool.fd;
    m_spoolPath = spool.path;
    if (options.reserveBytes < 0) {
        options.reserveBytes = quill::spoolReserveBytes(m_state->spoolFd);
    }
    m_state->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_state->wakeFd < 0) {
        error = errno;
        return false;
    }
    return true;
}

std::unique_ptr<LogSource> LogSource::followStream(int fd, std::u16string name,
                                                   const SourceOptions& options, int& error)
{
    std::unique_ptr<LogSource> source(
        new LogSource(SourceKind::StandardInput, std::move(name), options));
    if (!source->makeSpool(error)) {
        return nullptr;
    }
    const int input = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (input < 0) {
        error = errno;
        return nullptr;
    }
    source->m_thread = std::thread([state = source->m_state, input] {
        quill::nameThisThread("quill-source");
        state->pump(input);
        {
            std::lock_guard lock(state->mutex);
            if (state->status.phase == SourceStatus::Phase::Running) {
                state->status.phase = SourceStatus::Phase::Ended;
            }
        }
        state->finished->store(true);
    });
    return source;
}

std::unique_ptr<LogSource> LogSource::followCommand(const std::vector<std::string>& words,
                                                    std::u16string name,
                                                    const SourceOptions& options, int& error)
{
    return spawn(SourceKind::Command, words, std::move(name), options, error);
}

std::unique_ptr<LogSource> LogSource::followRemote(const RemoteFile& file,
                                                   const std::vector<std::string>& extraOptions,
                                                   std::u16string name,
                                                   const SourceOptions& options, int& error)
{
    return spawn(SourceKind::Remote, sshWords(file, extraOptions), std::move(name), options, error);
}

std::unique_ptr<LogSource> LogSource::spawn(SourceKind kind, const std::vector<std::string>& words,
                                            std::u16string name, const SourceOptions& options,
                                            int& error)
{
    std::unique_ptr<LogSource> source(new LogSource(kind, std::move(name), options));
    if (words.empty()) {
        error = EINVAL;
        return nullptr;
    }
    if (!source->makeSpool(error)) {
        return nullptr;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = errno;
        return nullptr;
    }
    // ssh's complaints are no lines of the remote log: they go to a pipe of their own.
    int errorFds[2] = {-1, -1};
    if (kind == SourceKind::Remote && ::pipe2(errorFds, O_CLOEXEC) != 0) {
        error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return nullptr;
    }
    // Orphans of the command (what it started and left, also after setsid) become this
    // program's children rather than init's, so that they can still be found and ended.
    if (!s_subreaper.load() && ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0) {
        s_subreaper.store(true);
    }
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    State& state = *source->m_state;
    state.mark = MarkName + std::to_string(::getpid()) + '-' + std::to_string(source->m_serial);
    std::vector<char*> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        // One started by a command of another copy: that copy's mark is not this one's.
        if (std::strncmp(*entry, MarkName, sizeof MarkName - 1) != 0) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(state.mark.data());
    environment.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errorFds[1] >= 0 ? errorFds[1] : pipeFds[1], 2);
    if (!options.workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.workingFolder.c_str());
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: SIGTERM on close reaches what the command started too, and a
    // Ctrl+C in the terminal that started Quillstream is not the command's.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    // What this program catches or ignores must not stay so in the command.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int spawned = 0;
    {
        // Registered before the orphan reaper can see it end.
        std::lock_guard registry(endings().mutex);
        spawned =
            ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environment.data());
        if (spawned == 0) {
            endings().leaders.insert(pid);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    closeFd(errorFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        closeFd(errorFds[0]);
        state.finish(SourceStatus::Phase::Failed, SourceStatus::Problem::StartFailed, spawned);
        std::lock_guard lock(state.mutex);
        state.status.exited = true;
        return source;
    }
    {
        std::lock_guard lock(state.mutex);
        state.leader = pid;
    }
    const int output = pipeFds[0];
    source->m_thread = std::thread([state = source->m_state, output, errorOutput = errorFds[0]] {
        quill::nameThisThread("quill-source");
        state->pump(output, errorOutput);
        state->reap();
        state->finished->store(true);
    });
    return source;
}

std::unique_ptr<LogSource> LogSource::decompress(const std::string& path, CompressionFormat format,
                                                 std::u16string name, const SourceOptions& options,
                                                 int& error)
{
    std::unique_ptr<LogSource> source(
        new LogSource(SourceKind::Decompressed, std::move(name), options));
    const int input = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (input < 0) {
        error = errno;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(input, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISREG(st.st_mode) ? errno : ENOTSUP;
        ::close(input);
        return nullptr;
    }
    if (!source->makeSpool(error)) {
        ::close(input);
        return nullptr;
    }
    source->m_state->status.inputSize = static_cast<std::uint64_t>(st.st_size);
    source->m_thread = std::thread([state = source->m_state, input, format] {
        quill::nameThisThread("quill-source");
        const DecompressResult result =
            decompressStream(format, input, state->spoolFd, state->stop, state->inputDone,
                             state->options.reserveBytes);
        ::close(input);
        state->spooled.store(result.produced);
        using Outcome = DecompressResult::Outcome;
        using Phase = SourceStatus::Phase;
        using Problem = SourceStatus::Problem;
        switch (result.outcome) {
        case Outcome::Complete:
            state->finish(Phase::Ended, Problem::None, 0);
            break;
        case Outcome::Cancelled:
            state->finish(Phase::Cancelled, Problem::None, 0);
            break;
        case Outcome::Damaged:
            state->finish(Phase::Failed, Problem::Damaged, 0, result.detail);
            break;
        case Outcome::Truncated:
            state->finish(Phase::Failed, Problem::Truncated, 0);
            break;
        case Outcome::ReadError:
            state->finish(Phase::Failed, Problem::ReadFailed, result.error);
            break;
        case Outcome::WriteError:
            state->finish(Phase::Failed, Problem::WriteFailed, result.error);
            break;
        case Outcome::DiskFull:
            state->finish(Phase::Failed, Problem::DiskFull, result.error);
            break;
        }
        state->finished->store(true);
    });
    return source;
}

std::unique_ptr<LogSource> LogSource::followRotated(const std::vector<std::string>& older,
                                                    const std::string& live, std::u16string name,
                                                    const SourceOptions& options, int& error)
{
    std::unique_ptr<LogSource> source(new LogSource(SourceKind::Rotated, std::move(name), options));
    if (!source->makeSpool(error)) {
        return nullptr;
    }
    source->m_livePath = live;
    SourceStatus& status = source->m_state->status;
    status.members = static_cast<std::uint32_t>(older.size());
    for (const std::string& path : older) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            status.inputSize += static_cast<std::uint64_t>(st.st_size);
        }
    }
    source->m_thread = std::thread([state = source->m_state, older, live] {
        quill::nameThisThread("quill-source");
        RotatedSpool set(older, live, state->spoolFd, state->options.reserveBytes);
        const auto publish = [&] {
            state->spooled.store(set.written());
            std::lock_guard lock(state->mutex);
            state->status.membersDone = static_cast<std::uint32_t>(set.membersDone());
            state->status.restarts = set.restarts();
            state->status.skipped.clear();
            for (const RotatedSpool::MemberProblem& problem : set.problems()) {
                state->status.skipped.push_back(problem.path + ": " +
                                                (problem.error != 0
                                                     ? std::string(std::strerror(problem.error))
                                                     : problem.detail));
            }
        };
        bool spooling = set.writeOlder(state->stop, state->inputDone);
        publish();
        bool first = true;
        while (spooling && !state->stop.load()) {
            spooling = set.followLive();
            publish();
            if (!spooling) {
                break;
            }
            if (first) {
                // Following once the live file's lines so far are in the spool too.
                std::lock_guard lock(state->mutex);
                state->status.following = true;
                first = false;
            }
            // Without a change notice (NFS, the watch limit reached) the name is looked at
            // on every period.
            pollfd fds[2] = {{state->wakeFd, POLLIN, 0}, {set.changeFd(), POLLIN, 0}};
            const int ready = ::poll(fds, set.changeFd() >= 0 ? 2 : 1, RotatedLookMs);
            if (ready > 0 && fds[0].revents != 0) {
                break;
            }
            set.drainChanges();
        }
        if (set.spoolProblem() != SpoolWriter::Status::Written) {
            state->finish(SourceStatus::Phase::Failed,
                          set.spoolProblem() == SpoolWriter::Status::DiskFull
                              ? SourceStatus::Problem::DiskFull
                              : SourceStatus::Problem::WriteFailed,
                          set.spoolError());
        } else {
            std::lock_guard lock(state->mutex);
            if (state->status.phase == SourceStatus::Phase::Running) {
                state->status.phase = SourceStatus::Phase::Ended;
            }
        }
        state->finished->store(true);
    });
    return source;
}

void LogSource::State::wake()
{
    if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeFd, &one, sizeof one);
    }
}

void LogSource::State::finish(SourceStatus::Phase phase, SourceStatus::Problem problem, int error,
                              std::string detail)
{
    std::lock_guard lock(mutex);
    status.phase = phase;
    status.problem = problem;
    status.error = error;
    status.detail = std::move(detail);
}

void LogSource::State::keepErrors(const char* bytes, std::size_t size)
{
    partialError.append(bytes, size);
    const std::size_t lastNewline = partialError.rfind('\n');
    std::size_t complete = lastNewline == std::string::npos ? 0 : lastNewline + 1;
    // A line without end that grows past the bound is kept as far as it came.
    if (complete == 0 && partialError.size() >= ErrorBytesKept) {
        partialError += '\n';
        complete = partialError.size();
    }
    if (complete == 0) {
        return;
    }
    const auto lines = static_cast<std::uint64_t>(std::count(
        partialError.begin(), partialError.begin() + static_cast<std::ptrdiff_t>(complete), '\n'));
    std::lock_guard lock(mutex);
    status.errors.append(partialError, 0, complete);
    status.errorLines += lines;
    partialError.erase(0, complete);
    if (status.errors.size() > ErrorBytesKept) {
        // Whole lines only: from the first line start inside the bound.
        std::size_t cut = status.errors.size() - ErrorBytesKept;
        const std::size_t lineStart = status.errors.find('\n', cut == 0 ? 0 : cut - 1);
        cut = lineStart == std::string::npos ? status.errors.size() : lineStart + 1;
        status.errors.erase(0, cut);
    }
}

void LogSource::State::pump(int fd, int errorFd)
{
    SpoolWriter writer(spoolFd, options.reserveBytes);
    std::vector<std::uint8_t> buffer(PumpBytes);
    // The output and the wake always; standard error apart while it is open.
    pollfd fds[3] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}, {errorFd, POLLIN, 0}};
    while (!stop.load()) {
        if (::poll(fds, errorFd >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            finish(SourceStatus::Phase::Failed, SourceStatus::Problem::ReadFailed, errno);
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (errorFd >= 0 && fds[2].revents != 0) {
            const ssize_t got = ::read(errorFd, buffer.data(), buffer.size());
            if (got > 0) {
                keepErrors(reinterpret_cast<const char*>(buffer.data()),
                           static_cast<std::size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                closeFd(errorFd);
                fds[2].fd = -1;
            }
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got < 0) {
            finish(SourceStatus::Phase::Failed, SourceStatus::Problem::ReadFailed, errno);
            break;
        }
        if (got == 0) {
            break;
        }
        const SpoolWriter::Status written =
            writer.write(buffer.data(), static_cast<std::size_t>(got));
        spooled.store(writer.written());
        if (written != SpoolWriter::Status::Written) {
            finish(SourceStatus::Phase::Failed,
                   written == SpoolWriter::Status::DiskFull ? SourceStatus::Problem::DiskFull
                                                            : SourceStatus::Problem::WriteFailed,
                   writer.error());
            // A command has nowhere to write to any more.
            beginEnd();
            break;
        }
    }
    ::close(fd);
    // ssh says why it failed as it ends: what it wrote before its output closed is in the
    // pipe already. Not waited for longer: a process it left (a connection master of the
    // user's configuration) may hold the pipe open.
    while (errorFd >= 0 && !stop.load()) {
        pollfd rest[2] = {{errorFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(rest, 2, ErrorDrainMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || rest[1].revents != 0) {
            break;
        }
        const ssize_t got = ::read(errorFd, buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        keepErrors(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(got));
    }
    if (!partialError.empty()) {
        keepErrors("\n", 1);
    }
    closeFd(errorFd);
}

namespace {

// While the leader is not reaped its id cannot name another group, so the group and,
// should the leader have left it, the leader alone are safe to signal.
void signalGroup(pid_t leader, int signal)
{
    if (::kill(-leader, signal) != 0) {
        ::kill(leader, signal);
    }
}

} // namespace

void LogSource::State::beginEnd()
{
    std::lock_guard lock(mutex);
    if (leader == 0 || ending) {
        return;
    }
    ending = true;
    endingSince = Clock::now();
    signalGroup(leader, SIGTERM);
    changed.notify_all();
}

// WNOWAIT: the leader stays a zombie, so that its id and its group's stay taken until the
// group is gone. Its status is shown at once.
bool LogSource::State::peekLeader(pid_t pid)
{
    siginfo_t info{};
    int waited;
    do {
        waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (waited != 0 && errno == EINTR);
    if (waited == 0 && info.si_pid != pid) {
        return false;
    }
    std::lock_guard lock(mutex);
    if (waited == 0) {
        if (info.si_code == CLD_EXITED) {
            status.exitCode = info.si_status;
        } else {
            status.exitSignal = info.si_status;
        }
    }
    status.exited = true;
    if (status.phase == SourceStatus::Phase::Running) {
        status.phase = SourceStatus::Phase::Ended;
    }
    changed.notify_all();
    return true;
}

// After the pipe's end: waits for the leader, then for the rest of what the command made
// (its group, what left the group, adopted orphans with its mark). A command that ended by
// itself may leave processes running; once the source ends it, they get SIGTERM, and what
// is left after the grace time gets SIGKILL, whether or not the leader is still there.
void LogSource::State::reap()
{
    pid_t group;
    {
        std::lock_guard lock(mutex);
        group = leader;
    }
    bool leaderEnded = false;
    bool killed = false;
    Clock::time_point killedAt;
    std::set<pid_t> seen;   // every process of the command seen, to reap those of this program
    std::set<pid_t> termed; // outside the group: SIGTERM sent one by one
    for (;;) {
        if (!leaderEnded) {
            leaderEnded = peekLeader(group);
        }
        bool endingNow;
        Clock::time_point since;
        {
            std::unique_lock lock(mutex);
            if (!leaderEnded && !ending) {
                // The pipe is closed but the leader runs on: nothing to do until it ends or
                // the source ends it.
                changed.wait_for(lock, ReapStep, [this] { return ending; });
                continue;
            }
            endingNow = ending;
            since = endingSince;
        }
        std::vector<pid_t> alive;
        std::vector<pid_t> outside;
        for (const ProcessEntry& entry : commandProcesses(group, mark)) {
            seen.insert(entry.pid);
            if (entry.state != 'Z' && entry.state != 'X') {
                alive.push_back(entry.pid);
                if (entry.group != group) {
                    outside.push_back(entry.pid);
                }
            }
        }
        if (leaderEnded && alive.empty()) {
            break;
        }
        if (!endingNow) {
            // Ended by itself, with processes left behind: the leader is kept until they end
            // or the source ends them.
            std::unique_lock lock(mutex);
            changed.wait_for(lock, SurvivorStep, [this] { return ending; });
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (!killed && now - since >= options.grace) {
            signalGroup(group, SIGKILL);
            for (pid_t pid : outside) {
                ::kill(pid, SIGKILL);
            }
            killed = true;
            killedAt = now;
        } else if (!killed) {
            for (pid_t pid : outside) {
                if (termed.insert(pid).second) {
                    ::kill(pid, SIGTERM);
                }
            }
        }
        if (killed && now - killedAt > KillSettle) {
            break; // an uninterruptible wait: the orphan reaper takes what remains
        }
        std::this_thread::sleep_for(EndingStep);
    }
    // Adopted orphans that ended: nobody else waits for them.
    const pid_t self = ::getpid();
    for (const ProcessEntry& entry : readProcessTable()) {
        if (entry.pid != group && entry.parent == self && entry.state == 'Z' &&
            seen.count(entry.pid) != 0) {
            int ignored;
            ::waitpid(entry.pid, &ignored, WNOHANG);
        }
    }
    {
        std::lock_guard registry(endings().mutex);
        endings().leaders.erase(group);
    }
    if (leaderEnded) {
        int ignored;
        ::waitpid(group, &ignored, WNOHANG);
    }
    std::lock_guard lock(mutex);
    leader = 0;
    status.exited = true;
    if (status.phase == SourceStatus::Phase::Running) {
        status.phase = SourceStatus::Phase::Ended;
    }
    changed.notify_all();
}

SourceStatus LogSource::status() const
{
    const State& state = *m_state;
    std::lock_guard lock(state.mutex);
    SourceStatus status = state.status;
    status.inputDone = state.inputDone.load();
    status.spooled = state.spooled.load();
    status.reserveBytes = state.options.reserveBytes;
    status.ending = state.ending;
    if (m_kind == SourceKind::Decompressed && status.phase == SourceStatus::Phase::Running &&
        state.spoolFd >= 0) {
        struct stat st {};
        if (::fstat(state.spoolFd, &st) == 0) {
            status.spooled = static_cast<std::uint64_t>(st.st_size);
        }
    }
    return status;
}

void LogSource::cancel()
{
    m_state->stop.store(true);
    m_state->wake();
    if (runsProcess()) {
        m_state->beginEnd();
    }
}

void LogSource::stopInput()
{
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->status.phase != SourceStatus::Phase::Running) {
            return;
        }
        m_state->status.phase = SourceStatus::Phase::Failed;
        m_state->status.problem = SourceStatus::Problem::IndexFull;
    }
    m_state->stop.store(true);
    m_state->wake();
    if (runsProcess()) {
        // Its output has nowhere to go any more, as after a disk-full stop.
        m_state->beginEnd();
    }
}

pid_t LogSource::processId() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->status.exited ? 0 : m_state->leader;
}

bool LogSource::mayHaveOrphans()
{
    return s_subreaper.load();
}

int LogSource::reapAdoptedOrphans()
{
    if (!s_subreaper.load()) {
        return 0;
    }
    static Clock::time_point lastScan;
    static std::set<pid_t> zombiesBefore;
    // Most of the time there is no zombie child at all: one call says so.
    siginfo_t info{};
    if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) {
        zombiesBefore.clear();
        return 0;
    }
    const Clock::time_point now = Clock::now();
    if (now - lastScan < OrphanScanEvery) {
        return 0;
    }
    lastScan = now;
    const pid_t self = ::getpid();
    std::set<pid_t> zombies;
    int reaped = 0;
    Endings& registry = endings();
    std::lock_guard lock(registry.mutex);
    for (const ProcessEntry& entry : readProcessTable()) {
        if (entry.parent != self || entry.state != 'Z' || registry.leaders.count(entry.pid) != 0) {
            continue;
        }
        // A child that some other code started and waits for is reaped by it at once; one
        // still a zombie a second later is an orphan nobody waits for.
        int ignored;
        if (zombiesBefore.count(entry.pid) == 0) {
            zombies.insert(entry.pid);
        } else if (::waitpid(entry.pid, &ignored, WNOHANG) == entry.pid) {
            ++reaped;
        }
    }
    zombiesBefore.swap(zombies);
    return reaped;
}
