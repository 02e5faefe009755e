#pragma once

// Reads a file from an offset to its end in fixed-size pieces, a helper thread reading
// ahead into a small ring of aligned buffers while the caller scans the previous piece.
// The kernel's copy and the caller's scan then overlap instead of adding up. Used for
// indexing whole files; owned and used by one thread, which must call next() until it
// returns false or destroy the reader (which stops the helper).

#include "engine/DocumentTypes.h"
#include "platform/ReadOnlyFile.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <semaphore>
#include <thread>
#include <vector>

class SequentialReader {
  public:
    static constexpr std::size_t PieceSize = 256 * 1024;
    static constexpr int Pieces = 4;

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

  private:
    void readAhead();

    const quill::ReadOnlyFile& m_file;
    FileOffset m_offset;
    std::vector<quill::AlignedBuffer> m_buffers;
    std::int64_t m_sizes[Pieces] = {};
    std::counting_semaphore<Pieces + 1> m_free{Pieces};
    std::counting_semaphore<Pieces + 1> m_filled{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    int m_next = 0;
    bool m_started = false; // the caller holds a piece that it must give back
    bool m_done = false;
    bool m_failed = false;
    bool m_valid = true;
};
