#include "engine/LogSource.h"

#include "engine/SpoolWriter.h"
#include "platform/SpoolFolder.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::size_t PumpBytes = 64 << 10;
constexpr auto ReapStep = std::chrono::milliseconds(10);
std::atomic<std::uint64_t> s_serials{0};

void closeFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// The whole group first (what the command started), the process itself when the group is
// gone already.
void signalCommand(pid_t pid, int signal)
{
    if (::kill(-pid, signal) != 0) {
        ::kill(pid, signal);
    }
}

} // namespace

LogSource::LogSource(SourceKind kind, std::u16string name, const SourceOptions& options)
    : m_kind(kind), m_serial(++s_serials), m_name(std::move(name)), m_options(options)
{
    m_status.kind = kind;
}

LogSource::~LogSource()
{
    m_stop.store(true);
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
    }
    {
        std::unique_lock lock(m_mutex);
        if (m_pid > 0) {
            signalCommand(m_pid, SIGTERM);
            // The pump sees the pipe end and reaps; a command that outlives the grace time
            // is killed.
            if (!m_exitedChanged.wait_for(lock, m_options.grace, [this] { return m_pid == 0; })) {
                signalCommand(m_pid, SIGKILL);
            }
        }
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    closeFd(m_wakeFd);
    closeFd(m_spoolFd);
    if (!m_spoolPath.empty()) {
        ::unlink(m_spoolPath.c_str());
    }
}

bool LogSource::MakeSpool(int& error)
{
    const std::string folder =
        m_options.folder.empty() ? quill::spoolFolderPath() : m_options.folder;
    error = quill::prepareSpoolFolder(folder);
    if (error != 0) {
        return false;
    }
    quill::SpoolFile spool = quill::createSpool(folder);
    if (!spool) {
        error = spool.error;
        return false;
    }
    m_spoolFd = spool.fd;
    m_spoolPath = spool.path;
    if (m_options.reserveBytes < 0) {
        m_options.reserveBytes = quill::spoolReserveBytes(m_spoolFd);
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        error = errno;
        return false;
    }
    return true;
}

std::unique_ptr<LogSource> LogSource::FollowStream(int fd, std::u16string name,
                                                   const SourceOptions& options, int& error)
{
    std::unique_ptr<LogSource> source(
        new LogSource(SourceKind::StandardInput, std::move(name), options));
    if (!source->MakeSpool(error)) {
        return nullptr;
    }
    const int input = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (input < 0) {
        error = errno;
        return nullptr;
    }
    LogSource* self = source.get();
    source->m_thread = std::thread([self, input] {
        self->Pump(input);
        std::lock_guard lock(self->m_mutex);
        if (self->m_status.phase == SourceStatus::Phase::Running) {
            self->m_status.phase = SourceStatus::Phase::Ended;
        }
    });
    return source;
}

std::unique_ptr<LogSource> LogSource::FollowCommand(const std::vector<std::string>& words,
                                                    std::u16string name,
                                                    const SourceOptions& options, int& error)
{
    std::unique_ptr<LogSource> source(
        new LogSource(SourceKind::Command, std::move(name), options));
    if (words.empty()) {
        error = EINVAL;
        return nullptr;
    }
    if (!source->MakeSpool(error)) {
        return nullptr;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = errno;
        return nullptr;
    }
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
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
    const int spawned =
        ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        source->Finish(SourceStatus::Phase::Failed, SourceStatus::Problem::StartFailed, spawned);
        std::lock_guard lock(source->m_mutex);
        source->m_status.exited = true;
        return source;
    }
    source->m_pid = pid;
    LogSource* self = source.get();
    const int output = pipeFds[0];
    source->m_thread = std::thread([self, output] {
        self->Pump(output);
        self->Reap();
    });
    return source;
}

std::unique_ptr<LogSource> LogSource::Decompress(const std::string& path,
                                                 CompressionFormat format, std::u16string name,
                                                 const SourceOptions& options, int& error)
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
    if (!source->MakeSpool(error)) {
        ::close(input);
        return nullptr;
    }
    source->m_status.inputSize = static_cast<std::uint64_t>(st.st_size);
    LogSource* self = source.get();
    source->m_thread = std::thread([self, input, format] {
        const DecompressResult result = DecompressStream(
            format, input, self->m_spoolFd, self->m_stop, self->m_inputDone,
            self->m_options.reserveBytes);
        ::close(input);
        self->m_spooled.store(result.produced);
        using Outcome = DecompressResult::Outcome;
        using Phase = SourceStatus::Phase;
        using Problem = SourceStatus::Problem;
        switch (result.outcome) {
        case Outcome::Complete:
            self->Finish(Phase::Ended, Problem::None, 0);
            break;
        case Outcome::Cancelled:
            self->Finish(Phase::Cancelled, Problem::None, 0);
            break;
        case Outcome::Damaged:
            self->Finish(Phase::Failed, Problem::Damaged, 0, result.detail);
            break;
        case Outcome::Truncated:
            self->Finish(Phase::Failed, Problem::Truncated, 0);
            break;
        case Outcome::ReadError:
            self->Finish(Phase::Failed, Problem::ReadFailed, result.error);
            break;
        case Outcome::WriteError:
            self->Finish(Phase::Failed, Problem::WriteFailed, result.error);
            break;
        case Outcome::DiskFull:
            self->Finish(Phase::Failed, Problem::DiskFull, result.error);
            break;
        }
    });
    return source;
}

void LogSource::Finish(SourceStatus::Phase phase, SourceStatus::Problem problem, int error,
                       std::string detail)
{
    std::lock_guard lock(m_mutex);
    m_status.phase = phase;
    m_status.problem = problem;
    m_status.error = error;
    m_status.detail = std::move(detail);
}

void LogSource::Pump(int fd)
{
    SpoolWriter writer(m_spoolFd, m_options.reserveBytes);
    std::vector<std::uint8_t> buffer(PumpBytes);
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    while (!m_stop.load()) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Finish(SourceStatus::Phase::Failed, SourceStatus::Problem::ReadFailed, errno);
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got < 0) {
            Finish(SourceStatus::Phase::Failed, SourceStatus::Problem::ReadFailed, errno);
            break;
        }
        if (got == 0) {
            break;
        }
        const SpoolWriter::Status written =
            writer.Write(buffer.data(), static_cast<std::size_t>(got));
        m_spooled.store(writer.written());
        if (written != SpoolWriter::Status::Written) {
            Finish(SourceStatus::Phase::Failed,
                   written == SpoolWriter::Status::DiskFull ? SourceStatus::Problem::DiskFull
                                                            : SourceStatus::Problem::WriteFailed,
                   writer.error());
            // A command has nowhere to write to any more.
            EndCommand();
            break;
        }
    }
    ::close(fd);
}

void LogSource::EndCommand()
{
    std::lock_guard lock(m_mutex);
    if (m_pid > 0) {
        signalCommand(m_pid, SIGTERM);
    }
}

void LogSource::Reap()
{
    pid_t pid;
    {
        std::lock_guard lock(m_mutex);
        pid = m_pid;
    }
    auto since = std::chrono::steady_clock::now();
    bool killed = false;
    for (;;) {
        // WNOWAIT: the process stays a zombie, so its id cannot be reused before m_pid is
        // cleared under the lock and no signal can reach another process.
        siginfo_t info{};
        const int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info,
                                    WEXITED | WNOHANG | WNOWAIT);
        if (waited != 0 && errno == EINTR) {
            continue;
        }
        if (waited != 0 || info.si_pid == pid) {
            std::lock_guard lock(m_mutex);
            if (waited == 0) {
                if (info.si_code == CLD_EXITED) {
                    m_status.exitCode = info.si_status;
                } else {
                    m_status.exitSignal = info.si_status;
                }
                int ignored;
                ::waitpid(pid, &ignored, WNOHANG);
            }
            m_pid = 0;
            m_status.exited = true;
            if (m_status.phase == SourceStatus::Phase::Running) {
                m_status.phase = SourceStatus::Phase::Ended;
            }
            m_exitedChanged.notify_all();
            return;
        }
        // The pipe is closed but the process lives on: after a disk-full stop it was sent
        // SIGTERM, and it gets SIGKILL after the grace time.
        bool stopped;
        {
            std::lock_guard lock(m_mutex);
            stopped = m_status.problem == SourceStatus::Problem::DiskFull ||
                      m_status.problem == SourceStatus::Problem::IndexFull;
        }
        if (stopped && !killed && std::chrono::steady_clock::now() - since > m_options.grace) {
            std::lock_guard lock(m_mutex);
            signalCommand(pid, SIGKILL);
            killed = true;
        }
        if (!stopped) {
            since = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(ReapStep);
    }
}

SourceStatus LogSource::Status() const
{
    std::lock_guard lock(m_mutex);
    SourceStatus status = m_status;
    status.inputDone = m_inputDone.load();
    status.spooled = m_spooled.load();
    status.reserveBytes = m_options.reserveBytes;
    if (m_kind == SourceKind::Decompressed && status.phase == SourceStatus::Phase::Running &&
        m_spoolFd >= 0) {
        struct stat st {};
        if (::fstat(m_spoolFd, &st) == 0) {
            status.spooled = static_cast<std::uint64_t>(st.st_size);
        }
    }
    return status;
}

void LogSource::Cancel()
{
    m_stop.store(true);
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
    }
    EndCommand();
}

void LogSource::StopInput()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_status.phase != SourceStatus::Phase::Running) {
            return;
        }
        m_status.phase = SourceStatus::Phase::Failed;
        m_status.problem = SourceStatus::Problem::IndexFull;
    }
    m_stop.store(true);
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
    }
    EndCommand();
}

pid_t LogSource::ProcessId() const
{
    std::lock_guard lock(m_mutex);
    return m_pid;
}
