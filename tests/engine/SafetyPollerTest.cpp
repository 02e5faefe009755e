// The one safety poll behind every watcher: a random walk of tabs opening and closing,
// files changing, rotated and deleted, watchers polling (some with a state read just before
// a change, as a rotation during a poll leaves it) against a model of what must be woken
// and how far apart the rounds are; and real watchers on real files, which must not wake
// while their files are quiet and must still catch a change no event tells of.

#include "EngineTestSupport.h"

#include "engine/FileWatcher.h"
#include "engine/SafetyPoller.h"
#include "platform/FileChangeNotifier.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace quilltest;
using namespace std::chrono_literals;

namespace {

std::string narrow16(const std::u16string& text)
{
    return std::string(text.begin(), text.end()); // ASCII only here
}

// The files the fake probe sees: a missing name has error ENOENT.
std::map<std::string, NameState>& fakeFiles()
{
    static std::map<std::string, NameState> files;
    return files;
}

NameState fakeProbe(const std::string& path)
{
    const auto found = fakeFiles().find(path);
    if (found == fakeFiles().end()) {
        NameState missing;
        missing.error = ENOENT;
        return missing;
    }
    return found->second;
}

// One tab's watcher as the model sees it.
struct ModelWatcher {
    std::string path;
    std::chrono::milliseconds interval{};
    bool events = true;  // change events wake it too: the rounds may space out
    NameState known;     // what it dealt with, or what a kick will make it look at
    bool kicked = false; // woken and not yet polled
    bool everyRound = false;
    int kicks = 0; // counted by the poller's callback
};

void runWalk(std::uint32_t seed)
{
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto chance = [&](int percent) { return int(rng() % 100) < percent; };
    fakeFiles().clear();
    const std::vector<std::string> names{"/a.log", "/b.log", "/c.log"};
    std::int64_t clock = 1;
    auto touch = [&](const std::string& name) {
        NameState& state = fakeFiles()[name];
        state.mtimeNs = ++clock;
        state.ctimeNs = clock;
        state.size += std::int64_t(1 + rng() % 50);
        if (state.inode == 0) {
            state.inode = std::uint64_t(clock);
        }
    };
    for (const std::string& name : names) {
        touch(name);
    }
    SafetyPoller poller(&fakeProbe, false);
    std::map<std::uint64_t, std::unique_ptr<ModelWatcher>> live;
    std::vector<std::unique_ptr<ModelWatcher>> gone;
    int quiet = 0;
    for (int step = 0; step < 400; ++step) {
        const int what = int(rng() % 100);
        if (what < 12 || live.empty()) {
            // A tab opens (two tabs may follow one file).
            auto watcher = std::make_unique<ModelWatcher>();
            watcher->path = names[rng() % names.size()];
            watcher->interval = std::chrono::milliseconds(10 * (1 + rng() % 4));
            watcher->events = chance(85);
            watcher->known = fakeProbe(watcher->path);
            ModelWatcher* w = watcher.get();
            const std::uint64_t id =
                poller.add(w->path, w->interval, w->events, w->known, [w] { ++w->kicks; });
            ASSERT_NE(id, 0u);
            live.emplace(id, std::move(watcher));
            quiet = 0;
        } else if (what < 20) {
            // A tab closes; its watcher must never be kicked again.
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            poller.remove(it->first);
            gone.push_back(std::move(it->second));
            live.erase(it);
        } else if (what < 45) {
            // A file changes, is rotated (another inode) or deleted, or comes back.
            const std::string& name = names[rng() % names.size()];
            const int how = int(rng() % 10);
            if (how == 0) {
                fakeFiles().erase(name);
            } else {
                if (how == 1) {
                    fakeFiles()[name] = NameState{};
                }
                touch(name);
            }
        } else if (what < 75) {
            // A watcher polls: kicked or woken by an event. Now and then the file changes
            // between its stat and its report (a rotation during the poll): it reports the
            // older state, which is all it dealt with.
            auto it = live.begin();
            std::advance(it, rng() % live.size());
            ModelWatcher& w = *it->second;
            const NameState looked = fakeProbe(w.path);
            if (chance(20)) {
                touch(w.path);
            }
            const bool everyRound = looked.error != 0 && chance(50);
            if (everyRound && !w.everyRound) {
                quiet = 0;
            }
            poller.seen(it->first, looked, everyRound);
            w.known = looked;
            w.kicked = false;
            w.everyRound = everyRound;
        } else {
            // A round: exactly the watchers whose file differs from what they know, and
            // those that asked for every round, are kicked.
            std::map<ModelWatcher*, int> before;
            std::set<ModelWatcher*> expected;
            for (auto& [id, w] : live) {
                before[w.get()] = w->kicks;
                const NameState now = fakeProbe(w->path);
                if (w->everyRound || !(now == w->known)) {
                    expected.insert(w.get());
                    w->known = now;
                    w->kicked = true;
                }
            }
            std::vector<int> goneBefore;
            for (auto& w : gone) {
                goneBefore.push_back(w->kicks);
            }
            const std::chrono::milliseconds next = poller.round();
            for (auto& [id, w] : live) {
                const int kicks = w->kicks - before[w.get()];
                ASSERT_EQ(kicks, expected.count(w.get()) != 0 ? 1 : 0)
                    << "step " << step << " watcher of " << w->path;
            }
            for (std::size_t i = 0; i < gone.size(); ++i) {
                ASSERT_EQ(gone[i]->kicks, goneBefore[i]) << "a closed tab's watcher was woken";
            }
            quiet = expected.empty() ? std::min(quiet + 1, SafetyPoller::QuietFactor) : 0;
            auto shortest = std::chrono::milliseconds::max();
            bool spaced = true;
            for (auto& [id, w] : live) {
                shortest = std::min(shortest, w->interval);
                spaced = spaced && w->events;
            }
            const int factor = spaced ? std::min(1 << quiet, SafetyPoller::QuietFactor) : 1;
            ASSERT_EQ(next, live.empty() ? 0ms : shortest * factor) << "step " << step;
            // Nothing goes unseen: every watcher either knows its file's state or was woken
            // to look at it.
            for (auto& [id, w] : live) {
                ASSERT_TRUE(w->kicked || fakeProbe(w->path) == w->known) << "step " << step;
            }
        }
        ASSERT_EQ(poller.size(), live.size());
    }
}

} // namespace

TEST(SafetyPollerWalk, RandomTabsChangesAndPollsAgainstAModel)
{
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        runWalk(seed);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

namespace {

// How often the threads of this process were put on a processor so far (each wake-up is
// one at least): the third figure of each thread's schedstat.
long timesRun()
{
    long total = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            std::ifstream stat(std::string("/proc/self/task/") + entry->d_name + "/schedstat");
            long onCpu = 0;
            long waiting = 0;
            long slices = 0;
            if (stat >> onCpu >> waiting >> slices) {
                total += slices;
            }
        }
        ::closedir(dir);
    }
    return total;
}

// A watch that succeeds but never reports the file: what a network file system gives.
int deafAddWatch(int fd, const char*, std::uint32_t mask)
{
    return ::inotify_add_watch(fd, "/", mask & IN_ATTRIB);
}

int systemInit(int flags)
{
    return quill::NotifierCalls::system().init(flags);
}

} // namespace

// Eight tabs on files that grew once and are quiet since, half of them with change events
// that never come (so the growth reached them through the shared poll's kick), with a safety
// poll of 10 ms: their watchers do not wake again; the one poller does, ever less often.
// Eight timers of their own would run the threads about 8 x 40 times in the 400 ms (this
// machine's timers are coarse: some 40 all told); a watcher that spins, far more.
TEST(SafetyPollerWatchers, QuietFilesWakeNoWatcher)
{
    TestSettings settings;
    FakeHost host;
    const quill::NotifierCalls deaf{systemInit, deafAddWatch};
    std::vector<std::unique_ptr<LogDocument>> documents;
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) {
        WatchTiming timing;
        timing.poll = 10ms;
        timing.notifierCalls = i % 2 == 0 ? &deaf : nullptr;
        paths.push_back(settings.dir.file("quiet-" + std::to_string(i) + ".log"));
        writeFile(paths.back(), "quiet\n");
        documents.push_back(std::make_unique<LogDocument>(&host, settings.store));
        documents.back()->setWatchTiming(timing);
        ASSERT_TRUE(documents.back()->openDocument(u16(paths.back())));
    }
    for (const std::string& path : paths) {
        appendFile(path, "once\n");
    }
    for (auto& document : documents) {
        FakeHost::Message message{};
        while (document->lineCount() < 2 && host.nextMessage(message)) {
        }
        ASSERT_EQ(document->lineCount(), 2u);
    }
    std::this_thread::sleep_for(100ms);
    const long before = timesRun();
    std::this_thread::sleep_for(400ms);
    const long runs = timesRun() - before;
    EXPECT_LT(runs, 20) << "the quiet watchers woke";
    for (auto& document : documents) {
        document->closeDocument();
    }
    EXPECT_EQ(SafetyPoller::shared().size(), 0u);
}

// Change events are set up but never come (a network file system): the shared poll finds
// the growth, with the watcher's own timer out of the way.
TEST(SafetyPollerWatchers, AGrowthNoEventTellsOfIsFollowed)
{
    TestSettings settings;
    FakeHost host;
    const quill::NotifierCalls deaf{systemInit, deafAddWatch};
    WatchTiming timing;
    timing.poll = 20ms;
    timing.notifierCalls = &deaf;
    const std::string path = settings.dir.file("remote.log");
    writeFile(path, "one\n");
    LogDocument doc(&host, settings.store);
    doc.setWatchTiming(timing);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    ASSERT_TRUE(doc.hasChangeEvents());
    std::this_thread::sleep_for(200ms); // the poller spaces its rounds out meanwhile
    appendFile(path, "two\n");
    FakeHost::Message message{};
    while (doc.lineCount() < 2 && host.nextMessage(message)) {
    }
    ASSERT_EQ(doc.lineCount(), 2u);
    EXPECT_EQ(doc.line(1), u"two");
    doc.closeDocument();
}

// Tabs opened and closed on files that grow and are rotated while the shared poller runs
// (no change events): each open tab ends up with its file's last content. The thread
// sanitizer's lane runs it for the lock between the poller, the watchers and the tabs.
TEST(SafetyPollerWatchers, TabsComeAndGoWhileFilesRotate)
{
    TestSettings settings;
    WatchTiming timing;
    timing.changeEvents = false;
    timing.poll = 3ms;
    timing.missingRetry = 3ms;
    timing.sizeRetry = 1ms;
    std::mt19937 rng(11);
    constexpr int Files = 3;
    struct Tab {
        FakeHost host;
        std::unique_ptr<LogDocument> doc;
        std::string path;
        // Plays the main frame: appends are taken, a reload re-opens the file.
        void handle(std::chrono::milliseconds wait)
        {
            FakeHost::Message message{};
            while (doc && host.nextMessage(message, wait)) {
                if (message.id == FileMessage::Appended) {
                    doc->setNewTextArrived(true);
                } else if (message.id == FileMessage::Reload) {
                    doc->newDocument();
                    doc->openDocument(u16(path));
                }
                wait = 0ms;
            }
        }
    };
    std::vector<Tab> tabs(Files);
    std::vector<std::string> contents(Files);
    for (int i = 0; i < Files; ++i) {
        Tab& tab = tabs[std::size_t(i)];
        tab.path = settings.dir.file("rotating-" + std::to_string(i) + ".log");
        contents[std::size_t(i)] = "start " + std::to_string(i) + "\n";
        writeFile(tab.path, contents[std::size_t(i)]);
    }
    auto open = [&](Tab& tab) {
        tab.host.drain();
        tab.doc = std::make_unique<LogDocument>(&tab.host, settings.store);
        tab.doc->setWatchTiming(timing);
        ASSERT_TRUE(tab.doc->openDocument(u16(tab.path)));
    };
    for (int step = 0; step < 150; ++step) {
        const int i = int(rng() % Files);
        const int what = int(rng() % 10);
        Tab& tab = tabs[std::size_t(i)];
        std::string& content = contents[std::size_t(i)];
        if (what < 2) {
            if (tab.doc) {
                tab.doc->closeDocument();
                tab.doc.reset();
            } else {
                open(tab);
            }
        } else if (what < 3) {
            // Rotation: a new file under the name.
            ASSERT_EQ(::rename(tab.path.c_str(), (tab.path + ".1").c_str()), 0);
            content = "rotated " + std::to_string(step) + "\n";
            writeFile(tab.path, content);
        } else {
            const std::string line = "line " + std::to_string(step) + "\n";
            appendFile(tab.path, line);
            content += line;
        }
        for (Tab& each : tabs) {
            each.handle(0ms);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 4));
    }
    // Settled: every tab shows its file's lines.
    for (int i = 0; i < Files; ++i) {
        Tab& tab = tabs[std::size_t(i)];
        if (!tab.doc) {
            open(tab);
        }
        const std::u16string expected = u16(contents[std::size_t(i)]);
        std::u16string shown;
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < until) {
            tab.handle(10ms);
            shown.clear();
            for (LineNumber n = 0; n < tab.doc->lineCount(); ++n) {
                shown += tab.doc->line(n) + u"\n";
            }
            if (shown == expected) {
                break;
            }
        }
        EXPECT_EQ(narrow16(shown), contents[std::size_t(i)]) << "tab " << i;
    }
    for (Tab& tab : tabs) {
        tab.doc->closeDocument();
    }
    EXPECT_EQ(SafetyPoller::shared().size(), 0u);
}
