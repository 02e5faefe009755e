// The look of Find's matches against every colour a row can have: each keyword colour the
// colour dialog offers (with the readable one of black and white as its text), the sixteen
// terminal colours, the default colours and the default keyword list's. For each row: the
// other matches' text reads on their tint (WCAG AA, 4.5:1), the tint stands apart from the
// row's background and from the current match (the selection: the row's colours inverted),
// and the current match stands apart from the row. The model computes contrast and
// distance itself.

#include "engine/SgrParser.h"
#include "view/FindHighlight.h"

#include <QColorDialog>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

double linear(int v)
{
    const double c = v / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double lum(const QColor& c)
{
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

double contrast(const QColor& a, const QColor& b)
{
    const double x = lum(a);
    const double y = lum(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// Plain RGB distance: what the eye tells apart well beyond about a third of black-white.
double apart(const QColor& a, const QColor& b)
{
    const double dr = a.red() - b.red();
    const double dg = a.green() - b.green();
    const double db = a.blue() - b.blue();
    return std::sqrt(dr * dr + dg * dg + db * db);
}

constexpr double Readable = 4.5;
constexpr double Distinct = 110.0;

struct RowColors {
    QColor text;
    QColor background;
    const char* what;
};

QColor readableOn(const QColor& background)
{
    return contrast(Qt::black, background) >= contrast(Qt::white, background) ? QColor(Qt::black)
                                                                              : QColor(Qt::white);
}

std::vector<RowColors> everyRow()
{
    std::vector<RowColors> rows;
    rows.push_back({QColor(0, 255, 0), QColor(0, 0, 0), "default green on black"});
    rows.push_back({QColor(255, 255, 255), QColor(255, 0, 0), "new keyword, white on red"});
    rows.push_back({QColor(255, 255, 255), QColor(192, 0, 0), "default list, errors"});
    rows.push_back({QColor(0, 0, 0), QColor(255, 255, 0), "default list, warnings"});
    for (int i = 0; i < 48; ++i) {
        const QColor background = QColorDialog::standardColor(i);
        rows.push_back({readableOn(background), background, "colour dialog"});
    }
    for (unsigned n = 0; n < 16; ++n) {
        const ColorRef ref = sgrPaletteColor(n);
        const QColor colour(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
        rows.push_back({readableOn(colour), colour, "terminal background"});
        if (apart(colour, Qt::black) >= Distinct) {
            rows.push_back({colour, QColor(Qt::black), "terminal text on black"});
        }
    }
    return rows;
}

} // namespace

TEST(FindLookTest, EveryRowColourGivesReadableDistinctMatches)
{
    for (const RowColors& row : everyRow()) {
        SCOPED_TRACE(testing::Message() << row.what << " " << row.text.name().toStdString()
                                        << " on " << row.background.name().toStdString());
        const quill::MatchLook look = quill::otherMatchLook(row.text, row.background);
        EXPECT_GE(contrast(look.text, look.background), Readable) << "match text on its tint";
        EXPECT_GE(apart(look.background, row.background), Distinct) << "tint against the row";
        EXPECT_GE(apart(look.background, row.text), Distinct) << "tint against the current match";
        // The current match is the row inverted: its text (the row's background) on the
        // row's text colour.
        EXPECT_GE(apart(row.text, row.background), Distinct) << "current match against the row";
    }
}

TEST(FindLookTest, SpansOverRunsKeepTheRunsOutsideThemAndTakeTheirPlaceInside)
{
    using Run = LogRenderer::RowStyle::Run;
    auto run = [](qsizetype start, qsizetype end, QColor text) {
        Run r;
        r.start = start;
        r.end = end;
        r.text = text;
        return r;
    };
    const quill::MatchLook look{Qt::black, Qt::yellow};
    std::vector<Run> runs{run(0, 4, Qt::red), run(6, 12, Qt::blue), run(20, 22, Qt::green)};
    quill::overlaySpans(runs, {{2, 7}, {9, 10}, {11, 15}, {22, 23}}, look);
    // Expected, character by character: which colour the text has.
    const std::vector<std::pair<qsizetype, qsizetype>> want{{0, 2},   {2, 7},   {7, 9},   {9, 10},
                                                            {10, 11}, {11, 15}, {20, 22}, {22, 23}};
    ASSERT_EQ(runs.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(runs[i].start, want[i].first);
        EXPECT_EQ(runs[i].end, want[i].second);
    }
    EXPECT_EQ(runs[0].text, QColor(Qt::red));
    EXPECT_EQ(runs[1].background, QColor(Qt::yellow));
    EXPECT_EQ(runs[1].text, QColor(Qt::black));
    EXPECT_EQ(runs[2].text, QColor(Qt::blue));
    EXPECT_EQ(runs[4].text, QColor(Qt::blue));
    EXPECT_EQ(runs[6].text, QColor(Qt::green));
}

TEST(FindLookTest, ContrastMatchesTheKnownRatios)
{
    EXPECT_NEAR(quill::contrastRatio(Qt::white, Qt::black), 21.0, 0.01);
    // The grey just below the AA threshold on white, and pure red on white.
    EXPECT_NEAR(quill::contrastRatio(QColor(0x77, 0x77, 0x77), Qt::white), 4.48, 0.01);
    EXPECT_NEAR(quill::contrastRatio(QColor(255, 0, 0), Qt::white), 4.0, 0.01);
}

TEST(FindLookTest, EveryOccurrenceReachingIntoTheStretchIsTintedWithTheOptionsInForce)
{
    auto spans = [](FindHighlight& find, std::u16string_view text, qsizetype from, qsizetype to) {
        LogRenderer::RowStyle style;
        style.text = QColor(0, 255, 0);
        style.background = QColor(0, 0, 0);
        find.apply(text, from, to, style);
        std::vector<std::pair<qsizetype, qsizetype>> out;
        for (const auto& run : style.runs) {
            out.emplace_back(run.start, run.end);
        }
        return out;
    };
    using Spans = std::vector<std::pair<qsizetype, qsizetype>>;
    FindHighlight find;
    EXPECT_TRUE(find.set(u"beta", 0));
    const std::u16string_view line = u"xx BETA yy beta";
    // A row of a wrapped line that starts inside the first occurrence still shows it.
    EXPECT_EQ(spans(find, line, 5, 9), (Spans{{3, 7}}));
    EXPECT_EQ(spans(find, line, 0, 15), (Spans{{3, 7}, {11, 15}})) << "case ignored";
    EXPECT_TRUE(find.set(u"beta", SearchMatchCase)) << "another option is another highlight";
    EXPECT_EQ(spans(find, line, 0, 15), (Spans{{11, 15}}));
    EXPECT_FALSE(find.set(u"beta", SearchMatchCase | SearchDown))
        << "the direction changes nothing";
}
