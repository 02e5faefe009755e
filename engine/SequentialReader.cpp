#include "engine/SequentialReader.h"

#include <system_error>

SequentialReader::SequentialReader(const quill::ReadOnlyFile& file, FileOffset start)
    : m_file(file), m_offset(start)
{
    m_buffers.reserve(Pieces);
    for (int i = 0; i < Pieces; ++i) {
        m_buffers.emplace_back(PieceSize);
        m_valid = m_valid && m_buffers.back().valid();
    }
    if (!m_valid) {
        return;
    }
    try {
        m_thread = std::thread([this] { readAhead(); });
    } catch (const std::system_error&) {
        m_valid = false;
    }
}

SequentialReader::~SequentialReader()
{
    m_stop = true;
    m_free.release(); // wakes a helper that waits for a free piece
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SequentialReader::readAhead()
{
    FileOffset offset = m_offset;
    for (int slot = 0;; slot = (slot + 1) % Pieces) {
        m_free.acquire();
        if (m_stop) {
            return;
        }
        const std::int64_t got =
            m_file.readAt(m_buffers[std::size_t(slot)].data(), PieceSize, offset);
        m_sizes[slot] = got;
        m_filled.release();
        if (got <= 0) {
            return; // the end (0) or an error (-1) ends the stream
        }
        offset += got;
    }
}

bool SequentialReader::next(const std::uint8_t*& data, std::size_t& size)
{
    if (!m_valid || m_done) {
        return false;
    }
    if (m_started) {
        m_free.release(); // the piece handed out last time
    }
    m_filled.acquire();
    m_started = true;
    const int slot = m_next;
    m_next = (m_next + 1) % Pieces;
    const std::int64_t got = m_sizes[slot];
    if (got <= 0) {
        m_done = true;
        m_failed = got < 0;
        return false;
    }
    data = m_buffers[std::size_t(slot)].data();
    size = std::size_t(got);
    return true;
}
