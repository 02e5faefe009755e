#pragma once

// Reads a file from an offset to its end in fixed-size pieces, a helper thread reading
// ahead into a small ring of aligned buffers while the caller scans the previous piece.
// The kernel's copy and the caller's scan then overlap instead of adding up. Used for
// indexing whole files; owned and used by one thread, which must call next() until it
// returns false or destroy the reader (which stops the helper).
//
// The caller never waits for the helper: a piece the helper has not read yet (it is behind,
// or descheduled on a busy machine) the caller reads itself into a buffer of its own, and
// the helper skips ahead past it. So a busy machine costs the overlap, never a stall.

#include "engine/DocumentTypes.h"
#include "platform/ReadOnlyFile.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

class SequentialReader {
  public:
    static constexpr std::size_t PieceSize = std::size_t{256} << 10;
    static constexpr int Pieces = 8;

    // The file must stay open for the reader's lifetime.
    SequentialReader(const quill::ReadOnlyFile& file, FileOffset start);
    ~SequentialReader();
    SequentialReader(const SequentialReader&) = delete;
    SequentialReader& operator=(const SequentialReader&) = delete;

    // The next piece (valid until the next call); false at the end of the file or on a
    // read error (failed() tells which).
    bool next(const std::uint8_t*& data, std::size_t& size);
    bool failed() const { return m_failed; }
    bool valid() const { return m_valid; }
    // Pieces the caller read itself because the helper had not (for the benchmark).
    std::int64_t readByCaller() const { return m_readByCaller; }

  private:
    void readAhead();
    FileOffset pieceOffset(std::int64_t piece) const
    {
        return m_start + piece * FileOffset(PieceSize);
    }

    struct Slot {
        quill::AlignedBuffer buffer{PieceSize};
        std::atomic<std::int64_t> piece{-1}; // the piece the buffer holds, once read
        std::int64_t size = 0;               // bytes read, or -1 for a read error
    };

    const quill::ReadOnlyFile& m_file;
    const FileOffset m_start;
    std::vector<Slot> m_slots;
    quill::AlignedBuffer m_own{PieceSize};         // the caller's buffer for pieces it reads
    std::atomic<std::int64_t> m_consumed{0};       // pieces the caller is done with
    std::atomic<std::int64_t> m_reading{-1};       // the piece the helper is reading
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::int64_t m_next = 0; // the piece the caller hands out next
    std::int64_t m_readByCaller = 0;
    bool m_done = false;
    bool m_failed = false;
    bool m_valid = true;
};
