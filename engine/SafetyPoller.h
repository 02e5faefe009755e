#pragma once

// SafetyPoller: the one timer behind every watcher's safety poll. Change events miss what
// happens on another machine (NFS, SMB, FUSE) and are gone once the watch limit is reached,
// so each watched file is still looked at now and then; with twenty tabs, twenty timers
// would wake the machine forty times a second for nothing. Instead one thread looks at
// every watched name in turn with a stat alone and wakes a watcher only when what it finds
// differs from what was last seen of that name, by the watcher's own poll or by an earlier
// round. While nothing differs the rounds space out from the shortest interval asked for up
// to QuietFactor times it, as long as every watcher has change events to wake it sooner (one
// without lives on the rounds alone); a difference, a new name or a watcher that asks to be
// woken every round (a file it cannot read yet) brings them back to the shortest at once.
//
// Any thread may Add, Remove and Seen. The kick runs on the poller's thread while it holds
// its lock: it must be quick and take no lock that is held while calling into the poller.
// Once Remove returns, the kick of that entry is never called again.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace quill {
struct FileStat;
}

// What a stat of the name found: the state of the file, or the error (0: none).
struct NameState {
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    std::int64_t birthNs = 0;
    std::int64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    int kind = 0;
    int error = 0;
    bool operator==(const NameState&) const = default;
};

class SafetyPoller {
  public:
    using Probe = NameState (*)(const std::string& path);
    static constexpr int QuietFactor = 8;

    // threaded: false leaves the rounds to the caller (Round), for tests.
    explicit SafetyPoller(Probe probe = &probeName, bool threaded = true);
    ~SafetyPoller();
    SafetyPoller(const SafetyPoller&) = delete;
    SafetyPoller& operator=(const SafetyPoller&) = delete;

    // The poller of the whole program; never destroyed, its thread started by the first Add.
    static SafetyPoller& shared();
    static NameState probeName(const std::string& path);
    // What statByName gave: st when it succeeded, else its errno.
    static NameState stateOf(const quill::FileStat* st, int error);

    // Looks at path at least every interval (QuietFactor times that while nothing changes,
    // if events: change events wake the caller too); seen: the state the caller has dealt
    // with. Returns the entry's id, 0 when no thread could be started (the caller keeps a
    // timer).
    std::uint64_t add(const std::string& path, std::chrono::milliseconds interval, bool events,
                      const NameState& seen, std::function<void()> kick);
    void remove(std::uint64_t id);
    // The caller looked at the file and dealt with this state; everyRound: kick it every
    // round whatever the name shows (a file that could not be read is tried again).
    void seen(std::uint64_t id, const NameState& seen, bool everyRound);

    // One round: every name probed, the watchers whose names differ kicked. Returns the
    // time to the next round (zero: none is needed, no entry).
    std::chrono::milliseconds round();
    std::size_t size() const;

  private:
    struct Entry {
        std::string path;
        std::chrono::milliseconds interval;
        bool events = false;
        NameState seen;
        bool everyRound = false;
        std::function<void()> kick;
    };
    void loop();
    std::chrono::milliseconds nextInterval(bool active);

    Probe m_probe;
    bool m_threaded;
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    std::map<std::uint64_t, Entry> m_entries;
    std::uint64_t m_nextId = 1;
    int m_quietRounds = 0;
    bool m_changedEntries = false; // an entry came or its interval may be shorter
    bool m_stop = false;
    std::thread m_thread;
};
