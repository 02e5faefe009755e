// The filter rows of a merged tab against a plain model: the files' lines sorted by (running
// latest time, file, line) here, without the merged order, and kept where the file's filter
// has found the line. Random walks of lines that come in time, late and without a time, of
// a merge and a filter that each lag behind the files, of files that start over (the order
// and the filter learning of it at different moments) and of filters that start again. After
// every step every row, every merged row's place among them and the claim that rows only
// came at the end are checked.

#include "engine/MergedFilterRows.h"
#include "engine/FilterMatches.h"
#include "engine/MergedOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

namespace {

constexpr TimeMs None = MergedOrder::NoTime;
using Place = std::pair<std::size_t, LineNumber>;

// Each file's own times; merged: how many of them the order holds.
std::vector<Place> modelOrder(const std::vector<std::vector<TimeMs>>& own,
                              const std::vector<std::size_t>& merged)
{
    std::vector<std::tuple<TimeMs, std::size_t, LineNumber>> all;
    for (std::size_t s = 0; s < own.size(); ++s) {
        bool seen = false;
        TimeMs latest = 0;
        for (std::size_t i = 0; i < merged[s]; ++i) {
            if (own[s][i] != None && (!seen || own[s][i] > latest)) {
                latest = own[s][i];
                seen = true;
            }
            all.emplace_back(seen ? latest : None, s, LineNumber(i));
        }
    }
    std::sort(all.begin(), all.end());
    std::vector<Place> rows;
    for (const auto& [key, s, line] : all) {
        rows.emplace_back(s, line);
    }
    return rows;
}

std::string walk(std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const std::size_t sources = 1 + rng() % 4;
    // Few kept keys: a late line often merges everything again.
    MergedOrder order(sources, 1 + rng() % 6);
    // A provisional order holds each file's lines from a base line on; the filter sees the
    // lines before it too.
    std::vector<LineNumber> bases(sources, 0);
    if (rng() % 3 == 0) {
        for (LineNumber& base : bases) {
            base = rng() % 5;
        }
    }
    std::vector<std::vector<TimeMs>> own(sources);       // the files' lines from the base on
    std::vector<std::vector<bool>> hits(sources);        // which lines the filter takes
    std::vector<std::size_t> merged(sources, 0);         // lines the order holds
    std::vector<std::size_t> filtered(sources, 0);       // file lines the filter has checked
    std::vector<std::vector<LineNumber>> found(sources); // what the filter found, as numbers
    std::vector<FilterMatches> matches(sources);
    std::vector<const FilterMatches*> pointers;
    for (const FilterMatches& m : matches) {
        pointers.push_back(&m);
    }
    MergedFilterRows rows(order.rows(), bases, pointers);
    const MergedOrder::TimeReader reader = [&](std::size_t s, LineNumber first, LineNumber end,
                                               std::vector<TimeMs>& out) {
        out.assign(own[s].begin() + std::ptrdiff_t(first), own[s].begin() + std::ptrdiff_t(end));
        return true;
    };
    std::vector<bool> inverted(sources, false); // the filter's text takes the other lines
    // The filter checks some of the lines written.
    const auto check = [&](std::size_t s) {
        const std::size_t take =
            std::min<std::size_t>(bases[s] + own[s].size() - filtered[s], 1 + rng() % 6);
        for (std::size_t i = 0; i < take; ++i) {
            const std::size_t line = filtered[s] + i;
            // Lines before the base match every other one.
            const bool hit = line < bases[s] ? line % 2 == 0 : bool(hits[s][line - bases[s]]);
            if (hit != inverted[s]) {
                found[s].push_back(LineNumber(line));
                matches[s].push_back(LineNumber(line));
            }
        }
        filtered[s] += take;
    };
    std::vector<TimeMs> clock(sources, 1000);
    std::vector<Place> before;
    const int steps = 60 + int(rng() % 160);
    bool sawAppended = false;
    for (int step = 0; step < steps; ++step) {
        bool orderAppended = true;
        bool matchesGrown = true;
        const unsigned what = rng() % 100;
        const std::size_t s = rng() % sources;
        if (what < 40) {
            // Lines written: in time, a little late, far too late, or without a time.
            for (unsigned n = 1 + rng() % 4; n > 0; --n) {
                const unsigned kind = rng() % 10;
                TimeMs t = None;
                if (kind < 6) {
                    clock[s] += TimeMs(rng() % 3);
                    t = clock[s];
                } else if (kind < 8) {
                    t = clock[s] - 40 - TimeMs(rng() % 400);
                } else if (kind == 8) {
                    t = 900 + TimeMs(rng() % 50);
                }
                own[s].push_back(t);
                hits[s].push_back(rng() % 3 == 0);
            }
        } else if (what < 65) {
            // The merge takes some of the lines written.
            const std::size_t take =
                std::min<std::size_t>(own[s].size() - merged[s], 1 + rng() % 5);
            if (take > 0) {
                const std::size_t rowsBefore = order.rowCount();
                const std::size_t from =
                    order.add(s, std::span<const TimeMs>(own[s]).subspan(merged[s], take), reader);
                merged[s] += take;
                orderAppended = from >= rowsBefore;
            }
        } else if (what < 88) {
            check(s);
        } else if (what < 93) {
            // The file starts over with other lines; the order hears of it now, the filter now
            // or later.
            own[s].clear();
            hits[s].clear();
            clock[s] = 1000 + TimeMs(rng() % 300);
            order.restart(s);
            merged[s] = 0;
            orderAppended = false;
            if (rng() % 2 == 0) {
                filtered[s] = 0;
                found[s].clear();
                matches[s].clear();
                matchesGrown = false;
            }
        } else {
            // The filter starts again on the file (a reset, or a grown last line taken back).
            if (rng() % 2 == 0 && !found[s].empty()) {
                found[s].pop_back();
                matches[s].pop_back();
                filtered[s] = found[s].empty() ? 0 : std::size_t(found[s].back()) + 1;
            } else {
                // Another filter text: its first matches may come with the restart.
                filtered[s] = 0;
                found[s].clear();
                matches[s].clear();
                inverted[s] = !inverted[s];
                if (rng() % 2 == 0) {
                    check(s);
                }
            }
            matchesGrown = false;
        }
        const MergedFilterRows::Update update = rows.update(orderAppended, matchesGrown);

        const std::vector<Place> all = modelOrder(own, merged);
        std::vector<Place> expected;
        std::vector<std::size_t> mergedOf;
        std::vector<std::size_t> below(all.size() + 1, 0); // filter rows before merged row R
        for (std::size_t r = 0; r < all.size(); ++r) {
            const std::size_t src = all[r].first;
            const LineNumber line = all[r].second + bases[src];
            const bool shown =
                std::find(found[src].begin(), found[src].end(), line) != found[src].end();
            if (shown) {
                expected.emplace_back(src, line);
                mergedOf.push_back(r);
            }
            below[r + 1] = below[r] + (shown ? 1 : 0);
        }
        std::ostringstream where;
        where << "seed " << seed << " step " << step << ": ";
        if (rows.size() != expected.size()) {
            return where.str() + "size " + std::to_string(rows.size()) + " expected " +
                   std::to_string(expected.size());
        }
        if (update.oldSize != before.size()) {
            return where.str() + "old size";
        }
        const bool prefixKept = before.size() <= expected.size() &&
                                std::equal(before.begin(), before.end(), expected.begin());
        if (update.appended && !prefixKept) {
            return where.str() + "rows changed before the end, yet only appended";
        }
        if (orderAppended && matchesGrown && prefixKept && !update.appended) {
            return where.str() + "rows only came at the end, yet not appended";
        }
        sawAppended = sawAppended || (update.appended && expected.size() > before.size());
        // In turn (the step from the last row) and out of turn (the search).
        std::vector<std::size_t> visit(expected.size());
        for (std::size_t r = 0; r < visit.size(); ++r) {
            visit[r] = r;
        }
        for (int pass = 0; pass < 2; ++pass) {
            for (const std::size_t r : visit) {
                const MergedFilterRows::Row row = rows.at(r);
                if (Place{row.source, row.line} != expected[r] || row.merged != mergedOf[r]) {
                    return where.str() + "row " + std::to_string(r) + " is file " +
                           std::to_string(row.source) + " line " + std::to_string(row.line);
                }
            }
            std::shuffle(visit.begin(), visit.end(), rng);
        }
        for (std::size_t r = 0; r <= all.size(); ++r) {
            if (rows.lowerBound(r) != below[r]) {
                return where.str() + "lowerBound(" + std::to_string(r) + ")";
            }
        }
        if (rows.lowerBound(all.size() + 5) != expected.size()) {
            return where.str() + "lowerBound past the end";
        }
        before = expected;
    }
    if (!sawAppended && steps > 150) {
        return "seed " + std::to_string(seed) + ": never only appended";
    }
    return {};
}

} // namespace

TEST(MergedFilterRowsTest, RandomWalksMatchModel)
{
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        const std::string failure = walk(seed);
        ASSERT_TRUE(failure.empty()) << failure;
    }
}

// Rows across checkpoints of the merged order: a filter row's merged row far from the last
// one found, read in turn over a checkpoint's edge.
TEST(MergedFilterRowsTest, RowsAcrossCheckpoints)
{
    const std::size_t lines = MergedRows::CheckpointRows * 3 + 7;
    MergedOrder order(2);
    const std::vector<LineNumber> bases(2, 0);
    const MergedOrder::TimeReader none = [](std::size_t, LineNumber, LineNumber,
                                            std::vector<TimeMs>&) { return false; };
    std::vector<TimeMs> a(lines);
    std::vector<TimeMs> b(lines);
    for (std::size_t i = 0; i < lines; ++i) {
        a[i] = TimeMs(2 * i);
        b[i] = TimeMs(2 * i + 1);
    }
    order.add(0, a, none);
    order.add(1, b, none);
    FilterMatches ma;
    FilterMatches mb;
    for (LineNumber line = 0; line < lines; line += 97) {
        ma.push_back(line);
    }
    mb.push_back(LineNumber(lines - 1));
    MergedFilterRows rows(order.rows(), bases, {&ma, &mb});
    ASSERT_EQ(rows.size(), ma.size() + 1);
    for (std::size_t r = 0; r < ma.size(); ++r) {
        EXPECT_EQ(rows.at(r).merged, 2 * std::size_t(ma.at(r))) << r;
    }
    EXPECT_EQ(rows.at(ma.size()).merged, 2 * lines - 1);
    EXPECT_EQ(rows.at(ma.size()).source, 1u);
    EXPECT_EQ(rows.lowerBound(2 * lines - 1), ma.size());
}
