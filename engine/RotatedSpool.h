#pragma once

// RotatedSpool: a rotated set (engine/RotatedSiblings.h) written into one spool as one log:
// the older members oldest first, compressed ones decompressed (engine/Decompressor.h) and
// plain ones copied by the kernel (copy_file_range), then the live file, followed by its
// name as tail -F does: after a rotation (the name names another file) the rest of the old
// file is read and then the new file from its start; after a truncation the file is read
// from its start again. What is in the spool stays, so lines already shown stay. Every
// member ends its last line in the spool, so no two members share a line.
//
// A member that cannot be read, or an archive that is damaged, is noted and skipped (what
// was decompressed of it stays); only a spool that takes no more stops the set.
// One thread; the spool's descriptor is not owned.

#include "engine/SpoolWriter.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class RotatedSpool {
  public:
    struct MemberProblem {
        std::string path;
        int error = 0;      // errno; 0 for an archive's damage
        std::string detail; // the archive's damage in the library's words
    };

    RotatedSpool(std::vector<std::string> older, std::string live, int spoolFd,
                 std::int64_t reserveBytes);
    ~RotatedSpool();
    RotatedSpool(const RotatedSpool&) = delete;
    RotatedSpool& operator=(const RotatedSpool&) = delete;

    // The older members, oldest first; inputDone counts their bytes read. False when the
    // spool took no more (spoolProblem) or stop was set.
    bool writeOlder(const std::atomic<bool>& stop, std::atomic<std::uint64_t>& inputDone);
    // Reads what the live file holds beyond what was read, across a rotation or a truncation.
    // A live file that is missing is waited for. False when the spool took no more.
    bool followLive();
    // An inotify descriptor that is readable after a name in the live file's folder came or
    // went, or the live file was written (-1: none; then only the caller's own period tells).
    // Drained by drainChanges.
    int changeFd() const { return m_notify; }
    void drainChanges();

    std::uint64_t written() const { return m_writer.written(); }
    std::size_t membersDone() const { return m_membersDone; }
    const std::vector<MemberProblem>& problems() const { return m_problems; }
    // How often the live file was found rotated or truncated.
    int restarts() const { return m_restarts; }
    // Why the spool took no more: SpoolWriter's status and errno.
    SpoolWriter::Status spoolProblem() const { return m_spoolProblem; }
    int spoolError() const { return m_spoolError; }

  private:
    bool writeBytes(const std::uint8_t* bytes, std::size_t n);
    bool copyPlain(int in, off_t size, const std::atomic<bool>& stop,
                   std::atomic<std::uint64_t>& inputDone);
    bool endLine();
    bool readLive();
    void failSpool(SpoolWriter::Status status, int error);

    std::vector<std::string> m_older;
    std::string m_live;
    int m_spool;
    std::int64_t m_reserve;
    SpoolWriter m_writer;
    std::uint8_t m_last = '\n'; // the spool's last byte ('\n' while empty)
    std::size_t m_membersDone = 0;
    std::vector<MemberProblem> m_problems;
    int m_liveFd = -1;
    dev_t m_liveDevice = 0;
    ino_t m_liveInode = 0;
    off_t m_liveOffset = 0;
    int m_restarts = 0;
    int m_notify = -1;
    int m_fileWatch = -1; // the live file's own watch in m_notify
    SpoolWriter::Status m_spoolProblem = SpoolWriter::Status::Written;
    int m_spoolError = 0;
    int m_readError = 0;
    std::vector<std::uint8_t> m_buffer;
};
