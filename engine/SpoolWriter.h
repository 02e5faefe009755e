#pragma once

// Writes what a source brings into its spool, and stops before the spool's file system
// runs out: the free space is looked up before the first write and again after every
// CheckEvery bytes, and a write that would leave less than the reserve free is refused
// (DiskFull) instead of filling the disk silently. ENOSPC from the system counts the same.
// One thread at a time; the descriptor is not owned.

#include <cstddef>
#include <cstdint>

class SpoolWriter {
  public:
    static constexpr std::int64_t CheckEvery = 1 << 20;
    enum class Status { Written, DiskFull, Failed };

    // reserveBytes <= 0: no lookups, only ENOSPC stops.
    SpoolWriter(int fd, std::int64_t reserveBytes) : m_fd(fd), m_reserve(reserveBytes) {}

    // Writes all n bytes or none of what is refused; a partial write of a failing disk
    // keeps what was written.
    Status write(const std::uint8_t* bytes, std::size_t n);
    std::uint64_t written() const { return m_written; }
    // Bytes that reached the file past the writer (a kernel copy, a decompressor): counted
    // as written and toward the next lookup of the free space.
    void noteWritten(std::uint64_t n)
    {
        m_written += n;
        m_sinceCheck += static_cast<std::int64_t>(n);
    }
    int error() const { return m_error; }
    // Free bytes at the last lookup (-1: none yet).
    std::int64_t lastFree() const { return m_lastFree; }

  private:
    int m_fd;
    std::int64_t m_reserve;
    std::uint64_t m_written = 0;
    std::int64_t m_sinceCheck = CheckEvery; // the first write looks it up
    std::int64_t m_lastFree = -1;
    int m_error = 0;
};
