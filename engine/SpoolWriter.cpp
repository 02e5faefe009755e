#include "engine/SpoolWriter.h"

#include "platform/SpoolFolder.h"

#include <cerrno>
#include <unistd.h>

SpoolWriter::Status SpoolWriter::write(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0) {
        return Status::Written;
    }
    const auto size = static_cast<std::int64_t>(n);
    if (m_reserve > 0 && (m_sinceCheck + size >= CheckEvery || m_lastFree < 0)) {
        m_lastFree = quill::freeBytesOf(m_fd);
        m_sinceCheck = 0;
    }
    // Between two lookups the space left is estimated from what was written since.
    if (m_reserve > 0 && m_lastFree >= 0 && m_lastFree - m_sinceCheck - size < m_reserve) {
        m_error = ENOSPC;
        return Status::DiskFull;
    }
    std::size_t done = 0;
    while (done < n) {
        const ssize_t wrote = ::write(m_fd, bytes + done, n - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0) {
            m_error = errno;
            m_written += done;
            m_sinceCheck += static_cast<std::int64_t>(done);
            return m_error == ENOSPC || m_error == EDQUOT ? Status::DiskFull : Status::Failed;
        }
        done += static_cast<std::size_t>(wrote);
    }
    m_written += n;
    m_sinceCheck += size;
    return Status::Written;
}
