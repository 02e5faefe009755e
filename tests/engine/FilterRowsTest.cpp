// The filter pane's rows, matches and marks merged, against a plain merge of the two lists
// on random lists (marks on matches, before the first, after the last, in a block of their
// own), after matches are added and marks toggled.

#include "engine/FilterRows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

TEST(FilterRows, RowsAreTheMatchesAndTheMarksInFileOrderEachLineOnce)
{
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        FilterMatches matches;
        std::set<LineNumber> matchSet;
        std::vector<LineNumber> marks;
        std::set<LineNumber> markSet;
        FilterRows rows(matches);
        const bool showMarks = seed % 4 != 0;
        rows.setMarks(showMarks ? &marks : nullptr);
        EXPECT_EQ(rows.showsMarks(), showMarks);
        LineNumber next = 0;
        std::vector<std::pair<LineNumber, std::size_t>> previousExtras;
        for (int step = 0; step < 12; ++step) {
            if (random() % 2) {
                // Matches arrive in order, sometimes in blocks that cross 256 rows.
                for (int k = int(random() % (random() % 5 == 0 ? 600 : 6)); k > 0; --k) {
                    next += 1 + LineNumber(random() % 4);
                    matches.push_back(next);
                    matchSet.insert(next);
                }
            } else {
                const LineNumber line = LineNumber(random() % (next + 20));
                if (!markSet.erase(line)) {
                    markSet.insert(line);
                }
                marks.assign(markSet.begin(), markSet.end());
            }
            const bool changed = rows.update();
            std::set<LineNumber> all = matchSet;
            if (showMarks) {
                all.insert(markSet.begin(), markSet.end());
            }
            const std::vector<LineNumber> model(all.begin(), all.end());
            ASSERT_EQ(rows.size(), model.size()) << "seed " << seed;
            ASSERT_EQ(rows.empty(), model.empty());
            for (std::size_t r = 0; r < model.size(); ++r) {
                ASSERT_EQ(rows.at(r), model[r]) << "seed " << seed << " row " << r;
            }
            if (!model.empty()) {
                EXPECT_EQ(rows.back(), model.back());
            }
            for (LineNumber line = 0; line < next + 25; line += 1 + LineNumber(random() % 3)) {
                const auto at = std::lower_bound(model.begin(), model.end(), line);
                ASSERT_EQ(rows.lowerBound(line), std::size_t(at - model.begin()))
                    << "seed " << seed << " line " << line;
            }
            for (std::size_t m = 0; m <= matches.size(); m += 1 + random() % 7) {
                const std::size_t expected =
                    m < matches.size()
                        ? std::size_t(std::find(model.begin(), model.end(), matches.at(m)) -
                                      model.begin())
                        : model.size();
                ASSERT_EQ(rows.rowOfMatch(m), expected) << "seed " << seed << " match " << m;
            }
            // Update tells whether the marks listed beside the matches, or their rows, changed.
            std::vector<std::pair<LineNumber, std::size_t>> extras;
            for (std::size_t r = 0; r < model.size(); ++r) {
                if (!matchSet.count(model[r])) {
                    extras.emplace_back(model[r], r);
                }
            }
            EXPECT_EQ(changed, extras != previousExtras) << "seed " << seed << " step " << step;
            previousExtras = extras;
        }
    }
}
