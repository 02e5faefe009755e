#include "engine/SafetyPoller.h"

#include "platform/ReadOnlyFile.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

SafetyPoller::SafetyPoller(Probe probe, bool threaded) : m_probe(probe), m_threaded(threaded) {}

SafetyPoller::~SafetyPoller()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cond.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

SafetyPoller& SafetyPoller::shared()
{
    // Never destroyed: a watcher may still stop while the program's statics go away.
    static SafetyPoller* const shared = new SafetyPoller();
    return *shared;
}

NameState SafetyPoller::probeName(const std::string& path)
{
    quill::FileStat st;
    const bool found = quill::statByName(path, st);
    return stateOf(found ? &st : nullptr, found ? 0 : errno);
}

NameState SafetyPoller::stateOf(const quill::FileStat* st, int error)
{
    NameState state;
    if (st == nullptr) {
        state.error = error != 0 ? error : EIO;
        return state;
    }
    state.mtimeNs = st->mtimeNs;
    state.ctimeNs = st->ctimeNs;
    state.birthNs = st->birthNs;
    state.size = st->size;
    state.device = st->device;
    state.inode = st->inode;
    state.kind = int(st->kind);
    return state;
}

std::uint64_t SafetyPoller::add(const std::string& path, std::chrono::milliseconds interval,
                                bool events, const NameState& seen, std::function<void()> kick)
{
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_threaded && !m_thread.joinable()) {
            try {
                m_thread = std::thread([this] {
                    quill::nameThisThread("quill-poll");
                    loop();
                });
            } catch (const std::system_error&) {
                return 0;
            }
        }
        id = m_nextId++;
        m_entries.emplace(id, Entry{path, std::max(interval, std::chrono::milliseconds(1)), events,
                                    seen, false, std::move(kick)});
        m_quietRounds = 0;
        m_changedEntries = true;
    }
    m_cond.notify_all();
    return id;
}

void SafetyPoller::remove(std::uint64_t id)
{
    // The kick runs under the lock, so once the entry is gone here it runs no more.
    std::lock_guard lock(m_mutex);
    m_entries.erase(id);
}

void SafetyPoller::seen(std::uint64_t id, const NameState& seen, bool everyRound)
{
    bool sooner = false;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_entries.find(id);
        if (found == m_entries.end()) {
            return;
        }
        found->second.seen = seen;
        sooner = everyRound && !found->second.everyRound;
        found->second.everyRound = everyRound;
        if (sooner) {
            m_quietRounds = 0;
            m_changedEntries = true;
        }
    }
    if (sooner) {
        m_cond.notify_all();
    }
}

std::size_t SafetyPoller::size() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

std::chrono::milliseconds SafetyPoller::nextInterval(bool active)
{
    if (m_entries.empty()) {
        return std::chrono::milliseconds(0);
    }
    m_quietRounds = active ? 0 : std::min(m_quietRounds + 1, QuietFactor);
    auto shortest = std::chrono::milliseconds::max();
    bool events = true;
    for (const auto& [id, entry] : m_entries) {
        shortest = std::min(shortest, entry.interval);
        events = events && entry.events;
    }
    const int factor = events ? std::min(1 << std::min(m_quietRounds, 30), QuietFactor) : 1;
    if (shortest > std::chrono::milliseconds::max() / factor) {
        return shortest;
    }
    return shortest * factor;
}

std::chrono::milliseconds SafetyPoller::round()
{
    std::vector<std::pair<std::uint64_t, std::string>> names;
    {
        std::lock_guard lock(m_mutex);
        names.reserve(m_entries.size());
        for (const auto& [id, entry] : m_entries) {
            names.emplace_back(id, entry.path);
        }
    }
    // A stat of a name on a hung network share may take long: it is made without the lock,
    // so that a watcher stopping meanwhile is not held up.
    std::vector<NameState> states;
    states.reserve(names.size());
    for (const auto& name : names) {
        states.push_back(m_probe(name.second));
    }
    std::lock_guard lock(m_mutex);
    bool active = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto found = m_entries.find(names[i].first);
        if (found == m_entries.end()) {
            continue; // removed meanwhile
        }
        Entry& entry = found->second;
        if (entry.everyRound || states[i] != entry.seen) {
            // What the watcher will look at is at least as new as this: a later change
            // differs from it again.
            entry.seen = states[i];
            entry.kick();
            active = true;
        }
    }
    return nextInterval(active);
}

void SafetyPoller::loop()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    auto next = nextInterval(true);
    auto last = Clock::now();
    while (!m_stop) {
        if (m_entries.empty()) {
            // Nothing to look at: asleep without a timer until a watcher comes.
            m_cond.wait(lock, [this] { return m_stop || !m_entries.empty(); });
            next = nextInterval(true);
            last = Clock::now();
            m_changedEntries = false;
            continue;
        }
        if (m_cond.wait_until(lock, last + next, [this] { return m_stop || m_changedEntries; })) {
            // A new entry may ask for a shorter interval: the round is timed again from
            // the last one.
            m_changedEntries = false;
            next = nextInterval(true);
            continue;
        }
        lock.unlock();
        next = round();
        lock.lock();
        last = Clock::now();
    }
}
