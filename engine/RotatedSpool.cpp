#include "engine/RotatedSpool.h"

#include "engine/Decompressor.h"
#include "platform/SpoolFolder.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t ReadBytes = 256 << 10;
// The kernel copies this much between two looks at stop.
constexpr std::size_t CopyStep = 64 << 20;

} // namespace

RotatedSpool::RotatedSpool(std::vector<std::string> older, std::string live, int spoolFd,
                           std::int64_t reserveBytes)
    : m_older(std::move(older)), m_live(std::move(live)), m_spool(spoolFd), m_reserve(reserveBytes),
      m_writer(spoolFd, reserveBytes)
{
    const std::size_t slash = m_live.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : m_live.substr(0, slash);
    m_notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The folder only for names that come and go: a busy log folder's other writes would
    // wake the follower for nothing. The live file's own writes come from a watch of its own.
    if (m_notify >= 0 &&
        ::inotify_add_watch(m_notify, folder.c_str(),
                            IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE) < 0) {
        ::close(m_notify);
        m_notify = -1;
    }
}

RotatedSpool::~RotatedSpool()
{
    if (m_liveFd >= 0) {
        ::close(m_liveFd);
    }
    if (m_notify >= 0) {
        ::close(m_notify);
    }
}

void RotatedSpool::drainChanges()
{
    alignas(inotify_event) char events[4096];
    while (m_notify >= 0 && ::read(m_notify, events, sizeof events) > 0) {
    }
}

void RotatedSpool::failSpool(SpoolWriter::Status status, int error)
{
    m_spoolProblem = status;
    m_spoolError = error;
}

bool RotatedSpool::writeBytes(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0) {
        return true;
    }
    const SpoolWriter::Status status = m_writer.write(bytes, n);
    if (status != SpoolWriter::Status::Written) {
        failSpool(status, m_writer.error());
        return false;
    }
    m_last = bytes[n - 1];
    return true;
}

bool RotatedSpool::endLine()
{
    if (m_last == '\n') {
        return true;
    }
    const std::uint8_t lineFeed = '\n';
    return writeBytes(&lineFeed, 1);
}

bool RotatedSpool::copyPlain(int in, off_t size, const std::atomic<bool>& stop,
                             std::atomic<std::uint64_t>& inputDone)
{
    // The whole copy is checked against the reserve at once: the kernel's copy passes no
    // bytes through the writer.
    const std::int64_t free = m_reserve > 0 ? quill::freeBytesOf(m_spool) : -1;
    if (free >= 0 && free - static_cast<std::int64_t>(size) < m_reserve) {
        failSpool(SpoolWriter::Status::DiskFull, ENOSPC);
        return false;
    }
    off_t done = 0;
    bool kernel = true;
    while (!stop.load()) {
        ssize_t got = 0;
        if (kernel) {
            got = ::copy_file_range(in, nullptr, m_spool, nullptr, CopyStep, 0);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 && (errno == EIO || errno == EISDIR)) {
                m_readError = errno;
                return false;
            }
            if (got < 0 && done == 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                 errno == EBADF)) {
                kernel = false; // another file system that cannot: through the buffer
                continue;
            }
            if (got < 0) {
                failSpool(errno == ENOSPC || errno == EDQUOT ? SpoolWriter::Status::DiskFull
                                                             : SpoolWriter::Status::Failed,
                          errno);
                return false;
            }
            if (got > 0) {
                m_writer.noteWritten(static_cast<std::uint64_t>(got));
                std::uint8_t last = 0;
                if (::pread(m_spool, &last, 1, static_cast<off_t>(m_writer.written()) - 1) == 1) {
                    m_last = last;
                }
            }
        } else {
            got = ::read(in, m_buffer.data(), m_buffer.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                m_readError = errno; // the caller notes the member
                return false;
            }
            if (!writeBytes(m_buffer.data(), static_cast<std::size_t>(got))) {
                return false;
            }
        }
        if (got == 0) {
            break;
        }
        done += got;
        inputDone.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
    }
    return true;
}

bool RotatedSpool::writeOlder(const std::atomic<bool>& stop, std::atomic<std::uint64_t>& inputDone)
{
    m_buffer.resize(ReadBytes);
    for (const std::string& path : m_older) {
        if (stop.load()) {
            return false;
        }
        const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_problems.push_back({path, in < 0 ? errno : EISDIR, {}});
            if (in >= 0) {
                ::close(in);
            }
            ++m_membersDone;
            continue;
        }
        std::uint8_t head[8] = {};
        const ssize_t headBytes = ::pread(in, head, sizeof head, 0);
        const CompressionFormat format =
            detectCompression(head, headBytes > 0 ? static_cast<std::size_t>(headBytes) : 0);
        bool spoolOk = true;
        if (format == CompressionFormat::None) {
            if (!copyPlain(in, st.st_size, stop, inputDone)) {
                spoolOk = m_spoolProblem == SpoolWriter::Status::Written;
                if (spoolOk && !stop.load()) {
                    m_problems.push_back({path, m_readError, {}});
                }
            }
        } else {
            std::atomic<std::uint64_t> consumed{0};
            const DecompressResult result =
                decompressStream(format, in, m_spool, stop, consumed, m_reserve);
            inputDone.fetch_add(consumed.load(), std::memory_order_relaxed);
            m_writer.noteWritten(result.produced);
            if (result.produced > 0) {
                std::uint8_t last = 0;
                if (::pread(m_spool, &last, 1, static_cast<off_t>(m_writer.written()) - 1) == 1) {
                    m_last = last;
                }
            }
            using Outcome = DecompressResult::Outcome;
            switch (result.outcome) {
            case Outcome::Complete:
            case Outcome::Cancelled:
                break;
            case Outcome::Damaged:
            case Outcome::Truncated:
                m_problems.push_back(
                    {path, 0, result.detail.empty() ? "truncated" : result.detail});
                break;
            case Outcome::ReadError:
                m_problems.push_back({path, result.error, {}});
                break;
            case Outcome::WriteError:
                failSpool(SpoolWriter::Status::Failed, result.error);
                spoolOk = false;
                break;
            case Outcome::DiskFull:
                failSpool(SpoolWriter::Status::DiskFull, result.error);
                spoolOk = false;
                break;
            }
        }
        ::close(in);
        if (!spoolOk || !endLine()) {
            return false;
        }
        ++m_membersDone;
    }
    return !stop.load();
}

bool RotatedSpool::readLive()
{
    for (;;) {
        const ssize_t got = ::read(m_liveFd, m_buffer.data(), m_buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return true; // the end for now (a read error is tried again on the next change)
        }
        m_liveOffset += got;
        if (!writeBytes(m_buffer.data(), static_cast<std::size_t>(got))) {
            return false;
        }
    }
}

bool RotatedSpool::followLive()
{
    m_buffer.resize(ReadBytes);
    for (;;) {
        if (m_liveFd < 0) {
            m_liveFd = ::open(m_live.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            struct stat st {};
            if (m_liveFd >= 0 && (::fstat(m_liveFd, &st) != 0 || !S_ISREG(st.st_mode))) {
                ::close(m_liveFd);
                m_liveFd = -1;
            }
            if (m_liveFd < 0) {
                return true; // not there (yet): the next change tells
            }
            m_liveDevice = st.st_dev;
            m_liveInode = st.st_ino;
            m_liveOffset = 0;
            if (m_notify >= 0) {
                // By name, so possibly of a file that replaced this one since: the next
                // change of the folder tells, and the caller's period at the latest.
                if (m_fileWatch >= 0) {
                    ::inotify_rm_watch(m_notify, m_fileWatch);
                }
                m_fileWatch = ::inotify_add_watch(m_notify, m_live.c_str(),
                                                  IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE);
            }
        }
        if (!readLive()) {
            return false;
        }
        struct stat named {};
        if (::stat(m_live.c_str(), &named) != 0) {
            return true; // renamed and not yet created again: the old file may still grow
        }
        if (named.st_dev != m_liveDevice || named.st_ino != m_liveInode) {
            // Rotated: the old file was read to its end above; the new one from its start.
            ::close(m_liveFd);
            m_liveFd = -1;
            ++m_restarts;
            if (!endLine()) {
                return false;
            }
            continue;
        }
        struct stat open {};
        if (::fstat(m_liveFd, &open) == 0 && open.st_size < m_liveOffset) {
            // Truncated (copytruncate): what was read stays, the file is read again.
            ::lseek(m_liveFd, 0, SEEK_SET);
            m_liveOffset = 0;
            ++m_restarts;
            if (!endLine()) {
                return false;
            }
            continue;
        }
        return true;
    }
}
