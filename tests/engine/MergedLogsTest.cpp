// Followed documents merged by time on the worker, against a model that sorts the lines the
// test wrote by (latest time of the file so far, file, line): a file whose clock runs behind
// writes lines older than the merged end, a file without times merges first as a block, and
// a file replaced by another program leaves the order and joins again.

#include "EngineTestSupport.h"

#include "engine/MergedLogs.h"

#include <gtest/gtest.h>

#include <thread>

#include <ctime>
#include <random>

using namespace quilltest;
using namespace std::chrono_literals;

namespace {

struct Followed {
    FakeHost host;
    LogDocument doc;
    std::string path;
    std::vector<std::optional<std::int64_t>> own; // seconds

    Followed(SettingsStore& store, const std::string& file) : doc(&host, store), path(file)
    {
        WatchTiming timing;
        timing.poll = 10ms;
        timing.missingRetry = 5ms;
        timing.sizeRetry = 5ms;
        doc.setWatchTiming(timing);
    }
    ~Followed() { doc.closeDocument(); }

    std::string lines(std::size_t n, std::int64_t& seconds, std::mt19937& rng, bool timed = true)
    {
        std::string bytes;
        for (std::size_t i = 0; i < n; ++i) {
            std::optional<std::int64_t> at;
            if (timed && rng() % 5 != 0) {
                seconds += std::int64_t(rng() % 3);
                at = seconds;
                const std::time_t t = *at;
                std::tm parts{};
                localtime_r(&t, &parts);
                char text[32];
                std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
                bytes += std::string(text) + " INFO " + std::to_string(own.size()) + "\n";
            } else {
                bytes += "    at frame " + std::to_string(own.size()) + "\n";
            }
            own.push_back(at);
        }
        return bytes;
    }
    // Handles the watcher's messages as the window does until the document holds them all.
    bool pump()
    {
        while (doc.lineCount() != own.size() || doc.lastLineOpen()) {
            FakeHost::Message message{};
            if (!host.nextMessage(message)) {
                return false;
            }
            if (message.id == FileMessage::Reload) {
                doc.newDocument();
                doc.openDocument(u16(path));
            }
        }
        return true;
    }
};

std::vector<MergedRows::Place> modelRows(const std::vector<Followed*>& files)
{
    std::vector<std::tuple<std::int64_t, std::size_t, LineNumber>> all;
    for (std::size_t s = 0; s < files.size(); ++s) {
        std::int64_t latest = std::numeric_limits<std::int64_t>::min();
        for (std::size_t i = 0; i < files[s]->own.size(); ++i) {
            if (files[s]->own[i]) {
                latest = std::max(latest, *files[s]->own[i]);
            }
            all.emplace_back(latest, s, LineNumber(i));
        }
    }
    std::sort(all.begin(), all.end());
    std::vector<MergedRows::Place> rows;
    for (const auto& [key, s, line] : all) {
        rows.push_back({s, line});
    }
    return rows;
}

std::vector<MergedRows::Place> mirrorRows(MergedLogs& merged, MergedRows& rows,
                                          std::vector<LineNumber>& bases)
{
    for (const MergedLogs::Change& change : merged.takeChanges()) {
        MergedLogs::applyChange(change, rows, bases);
    }
    std::vector<MergedRows::Place> out;
    for (std::size_t row = 0; row < rows.rowCount(); ++row) {
        MergedRows::Place place = rows.placeOfRow(row);
        place.line += bases[place.source];
        out.push_back(place);
    }
    return out;
}

TEST(MergedLogsTest, FollowsLateLinesTimelessFileAndReplacement)
{
    TestSettings settings;
    std::mt19937 rng(7);
    Followed a(settings.store, settings.dir.file("a.log"));
    Followed b(settings.store, settings.dir.file("b.log"));
    Followed c(settings.store, settings.dir.file("c.log"));
    std::int64_t clockA = 1'796'000'000;
    std::int64_t clockB = clockA - 30; // another machine, its clock behind
    std::int64_t none = 0;
    writeFile(a.path, a.lines(900, clockA, rng));
    writeFile(b.path, b.lines(700, clockB, rng));
    writeFile(c.path, c.lines(40, none, rng, false));
    for (Followed* f : {&a, &b, &c}) {
        ASSERT_TRUE(f->doc.openDocument(u16(f->path)));
    }
    std::vector<Followed*> files{&a, &b, &c};
    MergedLogs merged({&a.doc, &b.doc, &c.doc});
    merged.setOpenLineQuiet(std::chrono::milliseconds(300));
    merged.start();
    ASSERT_TRUE(merged.waitCaughtUp());
    MergedRows rows(3);
    std::vector<LineNumber> bases;
    ASSERT_EQ(mirrorRows(merged, rows, bases), modelRows(files));
    EXPECT_EQ(merged.timeless(), (std::vector<bool>{false, false, true}));

    for (int round = 0; round < 6; ++round) {
        Followed& f = *files[rng() % 2];
        std::int64_t& clock = &f == &a ? clockA : clockB;
        appendFile(f.path, f.lines(1 + rng() % 50, clock, rng));
        ASSERT_TRUE(f.pump());
        ASSERT_TRUE(merged.waitCaughtUp());
        ASSERT_EQ(mirrorRows(merged, rows, bases), modelRows(files)) << "round " << round;
    }

    // A line written in two halves joins once its line feed is there.
    std::string last = b.lines(1, clockB, rng);
    const std::optional<std::int64_t> lastTime = b.own.back();
    b.own.pop_back();
    appendFile(b.path, last.substr(0, last.size() - 1));
    while (b.doc.lineCount() != b.own.size() + 1) {
        FakeHost::Message message{};
        ASSERT_TRUE(b.host.nextMessage(message));
    }
    const auto halfSeen = std::chrono::steady_clock::now();
    ASSERT_TRUE(merged.waitCaughtUp());
    if (std::chrono::steady_clock::now() - halfSeen < std::chrono::milliseconds(250)) {
        ASSERT_EQ(mirrorRows(merged, rows, bases), modelRows(files));
    }
    // Left as it is, it joins by itself (a file that ends without a line feed), and its line
    // feed later changes nothing.
    b.own.push_back(lastTime);
    const auto joined = [&] {
        std::vector<MergedRows::Place> now;
        for (int tries = 0; tries < 100 && now != modelRows(files); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            now = mirrorRows(merged, rows, bases);
        }
        return now;
    };
    ASSERT_EQ(joined(), modelRows(files));
    appendFile(b.path, "\n");
    ASSERT_TRUE(b.pump());
    ASSERT_TRUE(merged.waitCaughtUp());
    ASSERT_EQ(mirrorRows(merged, rows, bases), modelRows(files));

    // Replaced by another program: a's lines leave and the new ones join by their times.
    a.own.clear();
    clockA -= 50;
    writeFile(a.path + ".new", a.lines(300, clockA, rng));
    ASSERT_EQ(std::rename((a.path + ".new").c_str(), a.path.c_str()), 0);
    ASSERT_TRUE(a.pump());
    ASSERT_TRUE(merged.waitCaughtUp());
    ASSERT_EQ(mirrorRows(merged, rows, bases), modelRows(files));
}

// A file of one line that no line feed ends: once it has stayed so, it is merged too.
TEST(MergedLogsTest, AFileOfOneUnfinishedLineJoinsOnceItStaysSo)
{
    TestSettings settings;
    std::mt19937 rng(3);
    Followed a(settings.store, settings.dir.file("a.log"));
    Followed b(settings.store, settings.dir.file("b.log"));
    std::int64_t clock = 1'796'000'000;
    writeFile(a.path, a.lines(5, clock, rng));
    clock -= 3;
    const std::string one = b.lines(1, clock, rng);
    writeFile(b.path, one.substr(0, one.size() - 1));
    for (Followed* f : {&a, &b}) {
        ASSERT_TRUE(f->doc.openDocument(u16(f->path)));
    }
    MergedLogs merged({&a.doc, &b.doc});
    merged.setOpenLineQuiet(std::chrono::milliseconds(200));
    merged.start();
    MergedRows rows(2);
    std::vector<LineNumber> bases;
    std::vector<MergedRows::Place> now;
    for (int tries = 0; tries < 100 && now != modelRows({&a, &b}); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        now = mirrorRows(merged, rows, bases);
    }
    EXPECT_EQ(now, modelRows({&a, &b}));
    EXPECT_EQ(now.size(), 6u);
}

} // namespace
