#pragma once

// Pieces of work 0, 1, 2, ... shared by the calling thread and one helper thread, for a
// search whose every piece costs more than the kernel's copy of its bytes (lines shown
// without their terminal sequences): the caller does the even pieces, the helper the odd
// ones, at most two ahead, and the caller takes every piece's result in order, so that a
// search that stops at its first hit stops as it would alone.
//
// work(lane, k) does piece k into the lane's state and returns false when there is no
// piece k (the search's end). The caller's lane and the helper's two are separate, so work
// shares nothing else but what it only reads. A piece the helper could not do (it threw,
// or no thread could be started) is done by the caller, so a result never goes missing.

#include "engine/DocumentTypes.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

// Piece k of a run of count lines (starts holds count + 1 offsets): the lines that start in
// the k-th stretch of `stretch` bytes from the first line's start, as [first, end), empty
// where a longer line spans the stretch; none past the last line. Known from k alone, so
// either lane can take any piece.
struct StretchLines {
    std::size_t first = 0;
    std::size_t end = 0;
};
inline std::optional<StretchLines> linesOfStretch(const FileOffset* starts, std::size_t count,
                                                  FileOffset stretch, std::size_t k)
{
    const auto firstStartingAt = [&](FileOffset offset) {
        return std::size_t(std::lower_bound(starts, starts + count, offset) - starts);
    };
    const FileOffset low = starts[0] + FileOffset(k) * stretch;
    const std::size_t first = firstStartingAt(low);
    if (first >= count) {
        return std::nullopt;
    }
    return StretchLines{first, firstStartingAt(low + stretch)};
}

// The helper thread of the lanes a thread starts, kept from one set of lanes to the next:
// starting and joining a thread costs a quarter of a millisecond on a virtual machine, as
// much as the work of a chunk of 4 MB. One per thread that starts lanes; a set of lanes
// started while that thread's helper is still busy (lanes inside lanes) gets a thread of its
// own.
class LaneHelper {
  public:
    static LaneHelper& forThisThread()
    {
        thread_local LaneHelper helper;
        return helper;
    }

    LaneHelper() = default;
    LaneHelper(const LaneHelper&) = delete;
    LaneHelper& operator=(const LaneHelper&) = delete;
    ~LaneHelper()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    // Runs job on the helper; false when it is busy or no thread could be started.
    bool start(std::function<void()> job)
    {
        std::lock_guard lock(m_mutex);
        if (m_busy) {
            return false;
        }
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] {
                    quill::nameThisThread("quill-helper");
                    loop();
                });
            } catch (const std::system_error&) {
                return false;
            }
        }
        m_job = std::move(job);
        m_busy = true;
        m_wake.notify_all();
        return true;
    }

    // Until the job started last has returned.
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return !m_busy; });
    }

  private:
    void loop()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || m_job != nullptr; });
            if (m_job == nullptr) {
                return; // quit, with no job left
            }
            std::function<void()> job = std::move(m_job);
            m_job = nullptr;
            lock.unlock();
            job();
            lock.lock();
            m_busy = false;
            m_wake.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::function<void()> m_job;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread;
};

template <typename Lane> class TwoLanes {
  public:
    using Work = std::function<bool(Lane& lane, std::size_t piece)>;

    explicit TwoLanes(Work work) : m_work(std::move(work))
    {
        if (LaneHelper::forThisThread().start([this] { helperLoop(); })) {
            m_pooled = true;
            return;
        }
        try {
            m_helper = std::thread([this] {
                quill::nameThisThread("quill-lane");
                helperLoop();
            });
        } catch (const std::system_error&) {
            m_alone = true; // every piece is then the caller's
        }
    }

    ~TwoLanes()
    {
        m_stop.store(true, std::memory_order_release);
        // A waiting helper wakes only to a state it was not waiting on.
        for (Slot& slot : m_slots) {
            slot.state.store(Stopping, std::memory_order_release);
            slot.state.notify_all();
        }
        if (m_helper.joinable()) {
            m_helper.join();
        }
        if (m_pooled) {
            LaneHelper::forThisThread().wait();
        }
    }

    TwoLanes(const TwoLanes&) = delete;
    TwoLanes& operator=(const TwoLanes&) = delete;

    // The lane that holds the next piece's result, valid until the next call; nullptr at
    // the end.
    Lane* next()
    {
        release();
        if (m_ended) {
            return nullptr;
        }
        const std::size_t piece = m_next++;
        if (piece % 2 == 0 || m_alone) {
            return mine(piece);
        }
        Slot& slot = m_slots[(piece / 2) % 2];
        int state = slot.state.load(std::memory_order_acquire);
        while (state == Free || state == Busy) {
            if (!spinUntilChanged(slot.state, state)) {
                slot.state.wait(state, std::memory_order_acquire);
            }
            state = slot.state.load(std::memory_order_acquire);
        }
        if (state == Failed) {
            slot.state.store(Free, std::memory_order_release);
            slot.state.notify_all();
            return mine(piece);
        }
        if (state == End) {
            m_ended = true;
            return nullptr;
        }
        m_held = &slot;
        return &slot.lane;
    }

  private:
    enum State : int { Free, Busy, Done, End, Failed, Stopping };
    // A piece of the other lane ends in microseconds mostly, less than a sleeping thread
    // takes to be woken on a virtual machine: a short spin first, then the futex.
    static bool spinUntilChanged(const std::atomic<int>& state, int seen)
    {
        for (int i = 0; i < SpinTries; ++i) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
            if (state.load(std::memory_order_acquire) != seen) {
                return true;
            }
        }
        return false;
    }
    static constexpr int SpinTries = 1024;

    struct Slot {
        Lane lane;
        std::atomic<int> state{Free};
    };

    Lane* mine(std::size_t piece)
    {
        if (!m_work(m_mine, piece)) {
            m_ended = true;
            return nullptr;
        }
        return &m_mine;
    }

    // The helper's slot the caller was given last is the helper's again.
    void release()
    {
        if (m_held != nullptr) {
            m_held->state.store(Free, std::memory_order_release);
            m_held->state.notify_all();
            m_held = nullptr;
        }
    }

    void helperLoop()
    {
        for (std::size_t j = 0; !m_stop.load(std::memory_order_acquire); ++j) {
            Slot& slot = m_slots[j % 2];
            for (int state = slot.state.load(std::memory_order_acquire); state != Free;
                 state = slot.state.load(std::memory_order_acquire)) {
                if (m_stop.load(std::memory_order_acquire)) {
                    return;
                }
                if (spinUntilChanged(slot.state, state)) {
                    continue;
                }
                slot.state.wait(state, std::memory_order_acquire);
            }
            slot.state.store(Busy, std::memory_order_relaxed);
            int outcome = Failed;
            try {
                outcome = m_work(slot.lane, 2 * j + 1) ? Done : End;
            } catch (...) {
                // The caller does this piece itself.
            }
            slot.state.store(outcome, std::memory_order_release);
            slot.state.notify_all();
            if (outcome == End) {
                return;
            }
        }
    }

    Work m_work;
    Lane m_mine;
    Slot m_slots[2];
    std::thread m_helper;
    bool m_pooled = false; // the helper is this thread's LaneHelper
    std::atomic<bool> m_stop{false};
    bool m_alone = false;
    bool m_ended = false;
    std::size_t m_next = 0;
    Slot* m_held = nullptr;
};
