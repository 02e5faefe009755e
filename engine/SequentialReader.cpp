#include "engine/SequentialReader.h"
#include "platform/ThreadName.h"

#include <chrono>
#include <system_error>

SequentialReader::SequentialReader(const quill::ReadOnlyFile& file, FileOffset start)
    : m_file(file), m_start(start), m_slots(Pieces)
{
    m_valid = m_own.valid();
    for (const Slot& slot : m_slots) {
        m_valid = m_valid && slot.buffer.valid();
    }
    if (!m_valid) {
        return;
    }
    try {
        m_thread = std::thread([this] {
            quill::nameThisThread("quill-readahead");
            readAhead();
        });
    } catch (const std::system_error&) {
        // Reading alone still works: every piece is then the caller's own.
    }
}

SequentialReader::~SequentialReader()
{
    m_stop = true;
    m_consumed.store(INT64_MAX / 2);
    m_consumed.notify_all(); // wakes a helper that waits for a free slot
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SequentialReader::readAhead()
{
    for (std::int64_t piece = 0; !m_stop;) {
        std::int64_t consumed = m_consumed.load(std::memory_order_acquire);
        // A piece the caller already read itself is skipped.
        piece = std::max(piece, consumed);
        // The slot of this piece is free once the caller is done with the piece before it
        // in the ring.
        while (piece >= consumed + Pieces) {
            m_consumed.wait(consumed, std::memory_order_acquire);
            if (m_stop) {
                return;
            }
            consumed = m_consumed.load(std::memory_order_acquire);
        }
        piece = std::max(piece, consumed);
        Slot& slot = m_slots[std::size_t(piece % Pieces)];
        m_reading.store(piece, std::memory_order_release);
        slot.piece.store(-1, std::memory_order_relaxed);
        slot.size = m_file.readAt(slot.buffer.data(), PieceSize, pieceOffset(piece));
        slot.piece.store(piece, std::memory_order_release);
        m_reading.store(-1, std::memory_order_release);
        if (slot.size < std::int64_t(PieceSize)) {
            return; // the end of the file, or a read error: the caller reads it again
        }
        ++piece;
    }
}

bool SequentialReader::next(const std::uint8_t*& data, std::size_t& size)
{
    if (!m_valid || m_done) {
        return false;
    }
    if (m_next > 0) {
        // The piece handed out last time is done with: its slot may be read into again.
        m_consumed.store(m_next, std::memory_order_release);
        m_consumed.notify_one();
    }
    const std::int64_t piece = m_next++;
    Slot& slot = m_slots[std::size_t(piece % Pieces)];
    // The helper is reading this very piece: its copy is due within microseconds unless
    // it was descheduled, so wait only briefly before reading the piece here.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(100);
    while (m_reading.load(std::memory_order_acquire) == piece &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    std::int64_t got;
    if (slot.piece.load(std::memory_order_acquire) == piece) {
        got = slot.size;
        data = slot.buffer.data();
    } else {
        got = m_file.readAt(m_own.data(), PieceSize, pieceOffset(piece));
        data = m_own.data();
        ++m_readByCaller;
    }
    if (got <= 0) {
        m_done = true;
        m_failed = got < 0;
        return false;
    }
    size = std::size_t(got);
    return true;
}
