// Each file's keyword lines and timeline counts told over the merged rows, against a plain
// model: the rows sorted here by (running latest time, file, line), every question answered
// by walking them. Random walks of lines arriving (in time, a little late, far too late for
// the kept keys, without a time), lines the index has read before the merge took them, and
// files starting over; each file's lines may begin at a later document line than its first.
// The keyword searches are stand-ins that have searched only part of some files.

#include "engine/MergedRowMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace {

constexpr TimeMs None = MergedOrder::NoTime;

struct File {
    LineNumber base = 0;               // document lines before the merged ones
    std::vector<TimeMs> own;           // every document line's own time
    std::vector<std::uint8_t> keyword; // 1 + a keyword's index, 0 for none
    std::size_t merged = 0;            // lines from base on that the order holds
    LineNumber searched = 0;           // lines the keyword search has checked
};

// (file, document line) of each row, sorted without the code under test.
std::vector<std::pair<std::size_t, LineNumber>> modelRows(const std::vector<File>& files)
{
    std::vector<std::tuple<TimeMs, std::size_t, LineNumber>> all;
    for (std::size_t s = 0; s < files.size(); ++s) {
        bool seen = false;
        TimeMs latest = 0;
        for (std::size_t i = 0; i < files[s].merged; ++i) {
            const TimeMs t = files[s].own[files[s].base + i];
            if (t != None && (!seen || t > latest)) {
                latest = t;
                seen = true;
            }
            all.emplace_back(seen ? latest : None, s, files[s].base + LineNumber(i));
        }
    }
    std::sort(all.begin(), all.end());
    std::vector<std::pair<std::size_t, LineNumber>> rows;
    for (const auto& [key, s, line] : all) {
        rows.emplace_back(s, line);
    }
    return rows;
}

// The search stand-in: KeywordLines::neighbour's answers over the first `searched` lines.
MergedRowMap::Outcome searchedNeighbour(const File& file, LineNumber from, bool down,
                                        LineNumber& line)
{
    const auto total = LineNumber(file.own.size());
    if (down) {
        for (LineNumber l = from + 1; l < file.searched; ++l) {
            if (file.keyword[l] != 0) {
                line = l;
                return MergedRowMap::Outcome::Found;
            }
        }
        return file.searched < total ? MergedRowMap::Outcome::Pending : MergedRowMap::Outcome::None;
    }
    if (file.searched < from && file.searched < total) {
        return MergedRowMap::Outcome::Pending;
    }
    for (LineNumber l = std::min(from, file.searched); l-- > 0;) {
        if (file.keyword[l] != 0) {
            line = l;
            return MergedRowMap::Outcome::Found;
        }
    }
    return MergedRowMap::Outcome::None;
}

std::string check(std::mt19937& rng, const std::vector<File>& files, const MergedOrder& order,
                  std::size_t keywords, const std::string& at)
{
    const auto rows = modelRows(files);
    if (order.rowCount() != rows.size()) {
        return "row count " + at;
    }
    std::vector<LineNumber> bases;
    for (const File& file : files) {
        bases.push_back(file.base);
    }
    const MergedRowMap map(order.rows(), bases);
    const std::size_t count = rows.size();

    // Lines at a row and rows of lines.
    for (int i = 0; i < 16 && count > 0; ++i) {
        const std::size_t row = rng() % (count + 1);
        std::vector<LineNumber> before(bases);
        for (std::size_t r = 0; r < row; ++r) {
            ++before[rows[r].first];
        }
        for (std::size_t s = 0; s < files.size(); ++s) {
            if (map.lineAt(s, row) != before[s]) {
                return "lineAt " + at;
            }
        }
        if (row < count && map.rowOf(rows[row].first, rows[row].second) != row) {
            return "rowOf " + at;
        }
    }
    for (std::size_t s = 0; s < files.size(); ++s) {
        if ((files[s].base > 0 && map.rowOf(s, files[s].base - 1) != count) ||
            map.rowOf(s, files[s].base + LineNumber(files[s].merged)) != count) {
            return "rowOf a line not merged " + at;
        }
    }

    // The jumps: the nearest keyword row, or Pending only while a file is not all searched.
    const bool allSearched = std::all_of(files.begin(), files.end(),
                                         [](const File& f) { return f.searched == f.own.size(); });
    const auto neighbour = [&](std::size_t s, LineNumber from, bool down, LineNumber& line) {
        return searchedNeighbour(files[s], from, down, line);
    };
    for (int i = 0; i < 12 && count > 0; ++i) {
        const std::size_t row = i < 2 ? (i == 0 ? 0 : count - 1) : rng() % count;
        const bool down = rng() % 2 == 0;
        std::optional<std::size_t> expected;
        if (down) {
            for (std::size_t r = row + 1; r < count && !expected; ++r) {
                if (files[rows[r].first].keyword[rows[r].second] != 0) {
                    expected = r;
                }
            }
        } else {
            for (std::size_t r = row; r-- > 0 && !expected;) {
                if (files[rows[r].first].keyword[rows[r].second] != 0) {
                    expected = r;
                }
            }
        }
        std::size_t found = count + 7;
        const MergedRowMap::Outcome outcome = map.neighbourRow(row, down, neighbour, found);
        if (outcome == MergedRowMap::Outcome::Pending) {
            if (allSearched) {
                return "pending with every file searched " + at;
            }
            continue;
        }
        if ((outcome == MergedRowMap::Outcome::Found) != expected.has_value() ||
            (expected && found != *expected)) {
            return std::string(down ? "next" : "previous") + " keyword row from " +
                   std::to_string(row) + " " + at;
        }
    }

    // The strip: a keyword of the buckets the rows' lines lie in, none when all are empty.
    const unsigned shift = rng() % 3;
    std::vector<std::vector<std::uint8_t>> buckets(files.size());
    std::vector<MergedRowMap::Buckets> spans;
    for (std::size_t s = 0; s < files.size(); ++s) {
        for (std::size_t l = 0; l < files[s].keyword.size(); ++l) {
            if (buckets[s].size() <= l >> shift) {
                buckets[s].push_back(files[s].keyword[l]);
            }
        }
        // Buckets of lines not searched yet are not there.
        buckets[s].resize(std::min(buckets[s].size(), std::size_t(files[s].searched >> shift)));
        spans.push_back({buckets[s], shift});
    }
    for (int i = 0; i < 8 && count > 0; ++i) {
        const std::size_t first = rng() % count;
        const std::size_t end = std::min(count, first + 1 + rng() % 40);
        std::set<std::uint8_t> there;
        for (std::size_t r = first; r < end; ++r) {
            const auto& [s, line] = rows[r];
            const std::size_t b = line >> shift;
            if (b < buckets[s].size() && buckets[s][b] != 0) {
                there.insert(buckets[s][b]);
            }
        }
        const std::uint8_t got = map.keywordIn(first, end, spans);
        if (there.empty() ? got != 0 : !there.contains(got)) {
            return "strip rows " + std::to_string(first) + "-" + std::to_string(end) + " " + at;
        }
    }

    // The timeline: every file's groups (as far as its index has read, the merge's lag
    // included) in the step of their running latest time, the step's rows from its first
    // merged line to its last.
    const LineNumber groupLines = 1 + rng() % 9;
    const TimeMs step = std::array<TimeMs, 4>{1, 10, 100, 100000}[rng() % 4];
    std::vector<TimelineCounts::Input> inputs(files.size());
    struct Expected {
        std::uint64_t lines = 0;
        std::vector<std::uint32_t> keywordLines;
        std::size_t first = SIZE_MAX;
        std::size_t end = 0;
    };
    std::map<TimeMs, Expected> expected;
    std::vector<std::vector<std::size_t>> rowOfLine(files.size());
    for (std::size_t s = 0; s < files.size(); ++s) {
        rowOfLine[s].assign(files[s].own.size(), SIZE_MAX);
    }
    for (std::size_t r = 0; r < count; ++r) {
        rowOfLine[rows[r].first][rows[r].second] = r;
    }
    for (std::size_t s = 0; s < files.size(); ++s) {
        const File& file = files[s];
        // The index may have read fewer lines than there are, or more than the merge took.
        const auto indexed =
            LineNumber(rng() % 4 == 0 ? rng() % (file.own.size() + 1) : file.own.size());
        TimelineCounts::Input& input = inputs[s];
        input.groupLines = groupLines;
        input.lines = indexed;
        input.keywords = keywords;
        TimeMs latest = None;
        for (LineNumber first = 0; first < indexed; first += groupLines) {
            const LineNumber end = std::min(indexed, first + groupLines);
            std::vector<std::uint8_t> counts(keywords, 0);
            for (LineNumber l = first; l < end; ++l) {
                latest = std::max(latest, file.own[l]);
                if (file.keyword[l] != 0) {
                    ++counts[file.keyword[l] - 1];
                }
            }
            input.groupLatest.push_back(latest);
            input.keywordCounts.insert(input.keywordCounts.end(), counts.begin(), counts.end());
            if (latest == None) {
                continue;
            }
            TimeMs start = latest / step * step;
            start -= latest < 0 && latest % step != 0 ? step : 0;
            Expected& sum = expected[start];
            sum.keywordLines.resize(keywords, 0);
            sum.lines += end - first;
            for (std::size_t k = 0; k < keywords; ++k) {
                sum.keywordLines[k] += counts[k];
            }
            for (LineNumber l = first; l < end; ++l) {
                if (const std::size_t r = rowOfLine[s][l]; r != SIZE_MAX) {
                    sum.first = std::min(sum.first, r);
                    sum.end = std::max(sum.end, r + 1);
                }
            }
        }
    }
    const std::vector<TimelineCounts::Step> steps = map.timeline(inputs, step);
    if (steps.size() != expected.size()) {
        return "timeline steps " + at;
    }
    std::size_t i = 0;
    for (const auto& [start, sum] : expected) {
        const TimelineCounts::Step& got = steps[i++];
        const std::size_t first = sum.first == SIZE_MAX ? count : sum.first;
        const std::size_t end = sum.first == SIZE_MAX ? count : sum.end;
        if (got.start != start || got.lines != sum.lines || got.keywordLines != sum.keywordLines ||
            got.firstLine != first || got.endLine != end) {
            return "timeline step at " + std::to_string(start) + " " + at;
        }
    }
    return {};
}

std::string walk(std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const std::size_t sources = 1 + rng() % 4;
    const std::size_t keywords = rng() % 4;
    MergedOrder order(sources, rng() % 2 ? 1 + rng() % 30 : 4096);
    std::vector<File> files(sources);
    std::vector<TimeMs> clock(sources, TimeMs(1'700'000'000'000) + TimeMs(rng() % 1000));
    const auto newLine = [&](std::size_t s, bool timeless) {
        const int kind = int(rng() % 100);
        TimeMs t = None;
        if (!timeless && kind >= 20) {
            if (kind < 23) {
                t = clock[s] - TimeMs(rng() % 100'000); // far behind
            } else {
                clock[s] += TimeMs(rng() % 40) - 5;
                t = clock[s];
            }
        }
        files[s].own.push_back(t);
        files[s].keyword.push_back(
            keywords > 0 && rng() % 4 == 0 ? std::uint8_t(1 + rng() % keywords) : 0);
    };
    for (std::size_t s = 0; s < sources; ++s) {
        // Document lines before the merged ones (a provisional order of the last lines).
        if (rng() % 3 == 0) {
            const auto before = LineNumber(1 + rng() % 20);
            for (LineNumber l = 0; l < before; ++l) {
                newLine(s, false);
            }
            files[s].base = before;
        }
    }
    const auto read = [&](std::size_t s, LineNumber first, LineNumber end,
                          std::vector<TimeMs>& times) {
        const auto from = files[s].own.begin() + files[s].base;
        times.assign(from + first, from + end);
        return true;
    };
    for (int step = 0; step < 60; ++step) {
        const std::size_t s = rng() % sources;
        const int roll = int(rng() % 100);
        File& file = files[s];
        if (roll < 6) {
            file.own.resize(file.base);
            file.keyword.resize(file.base);
            file.merged = 0;
            order.restart(s);
        } else {
            // Lines the merge has not taken yet join first; then the new ones, some of them
            // left for the next time.
            const std::size_t count = roll < 60 ? 1 + rng() % 3 : 1 + rng() % 200;
            const bool timeless = rng() % 10 == 0;
            for (std::size_t i = 0; i < count; ++i) {
                newLine(s, timeless);
            }
            const std::size_t available = file.own.size() - file.base;
            const std::size_t take =
                rng() % 3 == 0 ? file.merged + rng() % (available - file.merged + 1) : available;
            const std::vector<TimeMs> own(file.own.begin() + file.base + file.merged,
                                          file.own.begin() + file.base + take);
            file.merged = take;
            order.add(s, own, read);
        }
        for (File& f : files) {
            f.searched =
                rng() % 3 == 0 ? LineNumber(rng() % (f.own.size() + 1)) : LineNumber(f.own.size());
        }
        const std::string failure =
            check(rng, files, order, keywords, "at step " + std::to_string(step));
        if (!failure.empty()) {
            return failure;
        }
    }
    return {};
}

} // namespace

TEST(MergedRowMapTest, RandomWalksMatchTheRowsModel)
{
    // Seeds that once failed stay first.
    std::vector<std::uint32_t> seeds = {};
    for (std::uint32_t seed = 1; seed <= 80; ++seed) {
        seeds.push_back(seed);
    }
    for (const std::uint32_t seed : seeds) {
        const std::string failure = walk(seed);
        ASSERT_TRUE(failure.empty()) << "seed " << seed << ": " << failure;
    }
}

// The lines before a row right at a checkpoint and at the very end, where the count comes
// from the source's total, not from a checkpoint that is not there.
TEST(MergedRowMapTest, LinesBeforeRowsAtCheckpointsAndTheEnd)
{
    for (const std::size_t total : {MergedRows::CheckpointRows, 2 * MergedRows::CheckpointRows,
                                    2 * MergedRows::CheckpointRows + 1}) {
        MergedRows rows(3);
        std::vector<LineNumber> counted(3, 0);
        std::vector<std::vector<LineNumber>> before;
        for (std::size_t row = 0; row < total; ++row) {
            before.push_back(counted);
            const std::size_t source = (row * 7 / 5) % 3;
            rows.push(source);
            ++counted[source];
        }
        before.push_back(counted);
        for (const std::size_t row : {std::size_t(0), MergedRows::CheckpointRows - 1,
                                      MergedRows::CheckpointRows, total - 1, total}) {
            for (std::size_t s = 0; s < 3; ++s) {
                EXPECT_EQ(rows.linesBefore(s, row), before[row][s])
                    << "row " << row << " of " << total << ", source " << s;
            }
        }
    }
}
