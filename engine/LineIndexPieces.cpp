#include "engine/LineIndexPieces.h"
#include "platform/ThreadName.h"

#include <sched.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Each read stays in the cache while it is scanned.
constexpr std::size_t ReadBytes = std::size_t{256} << 10;
// The helper stays at most this many pieces ahead of this thread, which bounds the line
// starts waiting to be added.
constexpr std::size_t HelperAhead = 3;
// How long this thread waits for a piece the helper is scanning before taking it back.
constexpr auto HelperGrace = std::chrono::microseconds(500);

enum PieceState : int { Free, Helper, HelperDone, Mine };

struct Piece {
    std::atomic<int> state{Free};
    std::vector<std::uint32_t> starts; // the helper's, once HelperDone
    bool whole = false;                // the helper read all of the piece
};

} // namespace

unsigned indexingThreads()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        return 1;
    }
    return CPU_COUNT(&set) >= 2 ? 2 : 1;
}

PiecesOutcome indexInPieces(LineIndex& index, const quill::ReadOnlyFile& file, FileOffset to,
                            std::size_t pieceBytes, const std::function<bool()>& stop)
{
    pieceBytes += pieceBytes % 2;
    const FileOffset from = index.end();
    if (!index.acceptsLineStarts() || pieceBytes == 0 || to <= from) {
        return PiecesOutcome::Indexed;
    }
    const std::size_t count = std::size_t((to - from) / FileOffset(pieceBytes));
    if (count < 2) {
        return PiecesOutcome::Indexed;
    }
    const bool utf16 = index.isUtf16();
    const bool bigEndian = index.isBigEndian();
    const auto pieceStart = [&](std::size_t k) { return from + FileOffset(k * pieceBytes); };
    // Reads piece k a buffer at a time and hands each to `take` with its offset in the
    // piece; false when the piece reads short or `quit` says so.
    const auto readPiece = [&](std::size_t k, quill::AlignedBuffer& buffer, auto&& take,
                               auto&& quit) {
        for (std::size_t done = 0; done < pieceBytes;) {
            if (quit()) {
                return false;
            }
            const std::size_t want = std::min(ReadBytes, pieceBytes - done);
            const std::int64_t got =
                file.readAt(buffer.data(), want, pieceStart(k) + FileOffset(done));
            if (got != std::int64_t(want)) {
                return false;
            }
            take(buffer.data(), want, done);
            done += want;
        }
        return true;
    };

    const std::unique_ptr<Piece[]> pieces(new Piece[count]);
    std::atomic<std::size_t> mineAt{0}; // the piece this thread is at
    std::atomic<bool> finished{false};
    const auto helperLoop = [&] {
        quill::AlignedBuffer buffer(ReadBytes);
        // Only the part a read's line starts fill is ever touched.
        const std::unique_ptr<std::uint32_t[]> found(new (std::nothrow)
                                                         std::uint32_t[ReadBytes + 4]);
        if (!buffer.valid() || !found) {
            return;
        }
        const auto quit = [&] { return finished.load(std::memory_order_relaxed); };
        for (std::size_t next = 1; !quit();) {
            const std::size_t at = mineAt.load(std::memory_order_acquire);
            // A piece this thread has reached is its own; every other piece is left to it,
            // so that both keep scanning instead of one adding up what the other found.
            next = std::max(next, at + 1);
            if (next >= count) {
                return;
            }
            if (next > at + HelperAhead) {
                mineAt.wait(at, std::memory_order_acquire);
                continue;
            }
            Piece& piece = pieces[next];
            int expected = Free;
            if (piece.state.compare_exchange_strong(expected, Helper)) {
                piece.whole = readPiece(
                    next, buffer,
                    [&](const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
                        const std::size_t got = LineIndex::findLineStarts(
                            bytes, n, utf16, std::uint32_t(offset), found.get(), bigEndian);
                        if (offset == 0) {
                            // Room for the piece's starts at the first read's density and
                            // an eighth more: doubling would hold up to twice as many
                            // (and three times while it copies), all while the index grows.
                            piece.starts.reserve(got * (pieceBytes / n) + got / 8 + 16);
                        }
                        piece.starts.insert(piece.starts.end(), found.get(), found.get() + got);
                    },
                    quit);
                int mine = Helper;
                if (!piece.state.compare_exchange_strong(mine, HelperDone,
                                                         std::memory_order_acq_rel)) {
                    // Taken back meanwhile: nobody reads these.
                    std::vector<std::uint32_t>().swap(piece.starts);
                }
            }
            next += 2;
        }
    };
    std::thread helper;
    try {
        helper = std::thread([&] {
            quill::nameThisThread("quill-index");
            helperLoop();
        });
    } catch (const std::system_error&) {
        // This thread then takes every piece itself.
    }

    PiecesOutcome outcome = PiecesOutcome::Indexed;
    quill::AlignedBuffer buffer(ReadBytes);
    bool stopped = false;
    const auto quit = [&] {
        stopped = stopped || (stop && stop());
        return stopped;
    };
    for (std::size_t k = 0; k < count && buffer.valid(); ++k) {
        mineAt.store(k, std::memory_order_release);
        mineAt.notify_all();
        Piece& piece = pieces[k];
        int expected = Free;
        bool whole;
        if (piece.state.compare_exchange_strong(expected, Mine)) {
            whole = readPiece(
                k, buffer,
                [&](const std::uint8_t* bytes, std::size_t n, std::size_t) {
                    index.append(bytes, n);
                },
                [&] { return quit() || index.overflowed(); });
        } else {
            // The helper's line starts are due within moments unless it lost its processor
            // (a busy machine): then this thread takes the piece back and reads it itself.
            const auto deadline = std::chrono::steady_clock::now() + HelperGrace;
            int state = expected;
            while (state == Helper && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
                state = piece.state.load(std::memory_order_acquire);
            }
            if (state == Helper &&
                piece.state.compare_exchange_strong(state, Mine, std::memory_order_acq_rel)) {
                whole = readPiece(
                    k, buffer,
                    [&](const std::uint8_t* bytes, std::size_t n, std::size_t) {
                        index.append(bytes, n);
                    },
                    [&] { return quit() || index.overflowed(); });
            } else {
                whole = piece.whole && !quit();
                if (whole) {
                    index.appendLineStarts(pieceStart(k + 1), piece.starts.data(),
                                           piece.starts.size());
                }
                std::vector<std::uint32_t>().swap(piece.starts);
            }
        }
        if (stopped) {
            outcome = PiecesOutcome::Stopped;
        }
        if (!whole || index.overflowed()) {
            break;
        }
    }
    finished = true;
    mineAt.store(count, std::memory_order_release);
    mineAt.notify_all();
    if (helper.joinable()) {
        helper.join();
    }
    return outcome;
}
