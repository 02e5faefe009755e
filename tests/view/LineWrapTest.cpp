// Where wrapped rows break, against a model of the rule written apart from the code: the
// exact width boundary (a character ending on the edge stays), blanks that break and
// blanks that reach over, words longer than a row, tabs counted from the row's start,
// surrogate pairs, the cap on characters without width, segments of long lines, and what
// is laid out to answer a question about a huge line.

#include "view/LineWrap.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

QFont testFont()
{
    return LogRenderer::fontFromRecord(LogRenderer::defaultFontRecord(96));
}

// The rule as the header states it, from the font's metrics alone.
class Model {
  public:
    explicit Model(const QFont& font) : m_metrics(font) {}

    int advance(const std::u16string& text, std::size_t i, int x) const
    {
        if (text[i] == u'\t') {
            const int stop = 8 * std::max(1, m_metrics.averageCharWidth());
            return (x / stop + 1) * stop - x;
        }
        return m_metrics.horizontalAdvance(QString::fromUtf16(&text[i], qsizetype(length(text, i))));
    }
    static std::size_t length(const std::u16string& text, std::size_t i)
    {
        return QChar::isHighSurrogate(text[i]) && i + 1 < text.size() &&
                       QChar::isLowSurrogate(text[i + 1])
                   ? 2
                   : 1;
    }
    static bool blank(char16_t c) { return c == u' ' || c == u'\t'; }

    std::size_t rowEnd(const std::u16string& text, std::size_t start, std::size_t end,
                       int width) const
    {
        // The first character boundary at least MaxRowChars past the start.
        std::size_t cap = start;
        while (cap < end && cap - start < std::size_t(LineWrap::MaxRowChars)) {
            cap += length(text, cap);
        }
        int x = 0;
        std::size_t over = end;
        for (std::size_t i = start; i < end; i += length(text, i)) {
            x += advance(text, i, x);
            if (x > width && i > start) {
                over = i;
                break;
            }
        }
        if (over >= cap) {
            return std::min(cap, end);
        }
        if (blank(text[over])) {
            std::size_t after = over + 1;
            while (after < end && blank(text[after]) && after - start < std::size_t(LineWrap::MaxRowChars)) {
                ++after;
            }
            return after;
        }
        for (std::size_t b = over; b-- > start;) {
            if (blank(text[b])) {
                return b + 1;
            }
        }
        return over;
    }

    std::vector<qsizetype> starts(const std::u16string& text, int width, std::size_t segment) const
    {
        std::vector<std::size_t> bounds{0};
        for (std::size_t at = segment; at < text.size(); at += segment) {
            std::size_t b = at;
            if (QChar::isLowSurrogate(text[b]) && QChar::isHighSurrogate(text[b - 1])) {
                ++b;
            }
            if (b < text.size()) {
                bounds.push_back(b);
            }
        }
        bounds.push_back(text.size());
        std::vector<qsizetype> rows;
        for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
            std::size_t at = bounds[k];
            do {
                rows.push_back(qsizetype(at));
                at = rowEnd(text, at, bounds[k + 1], width);
            } while (at < bounds[k + 1]);
        }
        if (rows.empty()) {
            rows.push_back(0);
        }
        return rows;
    }

  private:
    QFontMetrics m_metrics;
};

std::vector<qsizetype> wrapStarts(LineWrap& wrap, const std::u16string& text)
{
    const QStringView view(text.data(), qsizetype(text.size()));
    std::vector<qsizetype> rows{0};
    while (const std::optional<qsizetype> next = wrap.nextRow(7, view, rows.back())) {
        rows.push_back(*next);
    }
    return rows;
}

std::vector<std::u16string> split(const std::u16string& text, const std::vector<qsizetype>& starts)
{
    std::vector<std::u16string> rows;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? std::size_t(starts[k + 1]) : text.size();
        rows.push_back(text.substr(std::size_t(starts[k]), end - std::size_t(starts[k])));
    }
    return rows;
}

class LineWrapTest : public ::testing::Test {
  protected:
    LogRenderer renderer{testFont()};
    Model model{testFont()};
    int cell = renderer.averageCharWidth();
};

} // namespace

TEST_F(LineWrapTest, RowsBreakAtTheRightPixelAndAtTheLastBlank)
{
    ASSERT_TRUE(LogRenderer::isMonospaced(renderer.font()));
    ASSERT_EQ(renderer.textWidth(u"abcdefgh"), 8 * cell);
    struct Case {
        const char16_t* text;
        int width; // in pixels, as cells * cell + extra
        std::vector<std::u16string> rows;
    };
    auto px = [&](int cells, int extra) { return cells * cell + extra; };
    const Case cases[] = {
        // A character that ends on the edge stays on the row; one pixel less and it goes.
        {u"abcd efgh", px(9, 0), {u"abcd efgh"}},
        {u"abcd efgh", px(9, -1), {u"abcd ", u"efgh"}},
        {u"abcdefgh", px(4, 0), {u"abcd", u"efgh"}},
        {u"abcdefgh", px(4, -1), {u"abc", u"def", u"gh"}},
        // The blanks that reach over end their row, out of sight; the next row starts after
        // them.
        {u"abcd efgh", px(4, 0), {u"abcd ", u"efgh"}},
        {u"abcd  \tefgh", px(4, 0), {u"abcd  \t", u"efgh"}},
        {u"abc  defg", px(4, 0), {u"abc  ", u"defg"}},
        // Without a blank before the edge, the word is cut where it reaches over.
        {u"d efghijk", px(4, -1), {u"d ", u"efg", u"hij", u"k"}},
        // A row's first character stays however wide, so a row never comes out empty.
        {u"abc", 1, {u"a", u"b", u"c"}},
        // Tabs count from the row's start: the second row's tab is a whole stop wide again.
        {u"ab\tcd\tef", px(12, 0), {u"ab\tcd\t", u"ef"}},
        {u"", px(4, 0), {u""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString() + " at " + std::to_string(c.width));
        LineWrap wrap;
        wrap.setGeometry(&renderer, c.width);
        const std::u16string text = c.text;
        EXPECT_EQ(split(text, wrapStarts(wrap, text)), c.rows);
        EXPECT_EQ(split(text, model.starts(text, c.width, std::size_t(LineWrap::SegmentChars))),
                  c.rows)
            << "the model agrees with the rows written out by hand";
    }
}

TEST_F(LineWrapTest, EveryWidthAndStartAgreesWithTheModel)
{
    std::mt19937 random(20261207);
    const std::u16string alphabet = u"abcdefg      \t\t.:\u00e9\u4e2d";
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        const int length = int(random() % 120);
        for (int i = 0; i < length; ++i) {
            if (random() % 17 == 0) {
                text += u"\U0001F600"; // a surrogate pair
            } else {
                text += alphabet[random() % alphabet.size()];
            }
        }
        const int width = 1 + int(random() % (30 * cell));
        const std::size_t segment = random() % 3 == 0 ? 5 + random() % 40 : LineWrap::SegmentChars;
        SCOPED_TRACE("round " + std::to_string(round) + " width " + std::to_string(width) +
                     " segment " + std::to_string(segment));
        LineWrap wrap{qsizetype(segment)};
        wrap.setGeometry(&renderer, width);
        const std::vector<qsizetype> expected = model.starts(text, width, segment);
        ASSERT_EQ(wrapStarts(wrap, text), expected);

        // Every other way of asking gives the same rows.
        const QStringView view(text.data(), qsizetype(text.size()));
        ASSERT_EQ(wrap.rowCount(7, view), expected.size());
        ASSERT_EQ(wrap.lastRowStart(7, view), expected.back());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            ASSERT_EQ(wrap.rowNumber(7, view, expected[k]), k);
            ASSERT_EQ(wrap.rowStartOf(7, view, k), expected[k]);
            const qsizetype end = k + 1 < expected.size() ? expected[k + 1] : view.size();
            ASSERT_EQ(wrap.rowEnd(7, view, expected[k]), end);
            for (qsizetype at = expected[k]; at < end; ++at) {
                ASSERT_EQ(wrap.rowStart(7, view, at), expected[k]) << at;
            }
            ASSERT_EQ(wrap.previousRow(7, view, expected[k]),
                      k == 0 ? std::nullopt : std::optional(expected[k - 1]));
        }
        ASSERT_EQ(wrap.rowStart(7, view, view.size()), expected.back());
    }
}

TEST_F(LineWrapTest, CharactersWithoutWidthStillEndARowAtTheCap)
{
    // U+200B ZERO WIDTH SPACE advances nothing in most fonts; pairs make the cap fall
    // beside a pair.
    std::u16string text(std::size_t(LineWrap::MaxRowChars) * 2 + 7, u'\u200b');
    text.insert(std::size_t(LineWrap::MaxRowChars) - 1, u"\U0001F600");
    LineWrap wrap;
    wrap.setGeometry(&renderer, 50 * cell);
    EXPECT_EQ(wrapStarts(wrap, text), model.starts(text, 50 * cell, std::size_t(LineWrap::SegmentChars)));
    EXPECT_GE(wrapStarts(wrap, text).size(), 3u);
}

TEST_F(LineWrapTest, TheEndOfAHugeLineLaysOutItsLastSegmentOnly)
{
    const std::u16string text = std::u16string(8'000'000, u'x') + u" tail";
    const QStringView view(text.data(), qsizetype(text.size()));
    LineWrap wrap;
    wrap.setGeometry(&renderer, 80 * cell);
    const qsizetype last = wrap.lastRowStart(1, view);
    EXPECT_EQ(wrap.keptSegments(), 1u);
    // The last segment starts a row of its own; its rows count from there.
    const std::size_t segments = (text.size() + LineWrap::SegmentChars - 1) / LineWrap::SegmentChars;
    const std::size_t lastSegment = (segments - 1) * std::size_t(LineWrap::SegmentChars);
    const std::size_t lastLength = text.size() - lastSegment;
    EXPECT_EQ(view.sliced(last),
              std::u16string((lastLength - 5) % 80, u'x') + u" tail");
    // Segments never laid out are counted by their characters at the average width.
    const std::uint64_t perSegment = (LineWrap::SegmentChars + 79) / 80;
    EXPECT_EQ(wrap.rowCount(1, view), (segments - 1) * perSegment + (lastLength + 79) / 80);
    EXPECT_EQ(wrap.rowNumber(1, view, last), wrap.rowCount(1, view) - 1);
    EXPECT_EQ(wrap.keptSegments(), 1u);
    // The row a thumb would go to in the middle: one segment more, no walk from the start.
    const qsizetype middle = wrap.rowStartOf(1, view, wrap.rowCount(1, view) / 2);
    EXPECT_GT(middle, view.size() / 2 - LineWrap::SegmentChars);
    EXPECT_LT(middle, view.size() / 2 + LineWrap::SegmentChars);
    EXPECT_EQ(wrap.keptSegments(), 2u);
}

TEST_F(LineWrapTest, AGrownTextIsLaidOutAgainWhereItGrew)
{
    LineWrap wrap;
    wrap.setGeometry(&renderer, 10 * cell);
    std::u16string text = u"0123456789abc";
    EXPECT_EQ(split(text, wrapStarts(wrap, text)),
              (std::vector<std::u16string>{u"0123456789", u"abc"}));
    text += u"defghijklmn"; // the open last line of a log, grown
    EXPECT_EQ(split(text, wrapStarts(wrap, text)),
              (std::vector<std::u16string>{u"0123456789", u"abcdefghij", u"klmn"}));
    text[12] = u' '; // same length, other text: the sample tells
    text[text.size() - 1] = u' ';
    EXPECT_EQ(split(text, wrapStarts(wrap, text)),
              (std::vector<std::u16string>{u"0123456789", u"ab ", u"defghijklm "}));
    wrap.setGeometry(&renderer, 13 * cell);
    EXPECT_EQ(split(text, wrapStarts(wrap, text)),
              (std::vector<std::u16string>{u"0123456789ab ", u"defghijklm "}))
        << "a new width lays everything out again";
}

// Asked first, before any row of the line was laid out, the row count and the row numbers
// are the line's own, not an estimate from its length (a line of one segment).
TEST_F(LineWrapTest, RowsCountedBeforeTheLineWasLaidOutAreExact)
{
    std::mt19937 random(20261210);
    const std::u16string alphabet = u"abcdefghij     \t.W";
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        const int length = int(random() % 300);
        for (int i = 0; i < length; ++i) {
            text += alphabet[random() % alphabet.size()];
        }
        const int width = 3 * cell + int(random() % (25 * cell));
        SCOPED_TRACE("round " + std::to_string(round) + " width " + std::to_string(width));
        const std::vector<qsizetype> expected =
            model.starts(text, width, std::size_t(LineWrap::SegmentChars));
        const QStringView view(text.data(), qsizetype(text.size()));
        LineWrap counted;
        counted.setGeometry(&renderer, width);
        ASSERT_EQ(counted.rowCount(9, view), expected.size());
        LineWrap numbered;
        numbered.setGeometry(&renderer, width);
        ASSERT_EQ(numbered.rowNumber(9, view, expected.back()), expected.size() - 1);
    }
}
