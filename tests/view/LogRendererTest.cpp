// The renderer painted into images: backgrounds, colours across the text's extent only,
// the inverted selection, tab stops, measuring round trips and the stored font record.

#include "view/LogRenderer.h"

#include <QFontInfo>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

const QColor Black(0, 0, 0);
const QColor Blue(0, 0, 255);
const QColor Green(0, 255, 0);
const QColor Red(255, 0, 0);
const QColor White(255, 255, 255);

QFont testFont()
{
    return LogRenderer::fontFromRecord(LogRenderer::defaultFontRecord(96));
}

LogRenderer::RowStyle colours(const QColor& text, const QColor& background)
{
    LogRenderer::RowStyle style;
    style.text = text;
    style.background = background;
    return style;
}

// Paints one row at y 0 on a black image as wide as given.
QImage paintRow(const LogRenderer& renderer, const QString& text,
                const LogRenderer::RowStyle& style, int width = 400, int scrollX = 0)
{
    QImage image(width, renderer.lineHeight(), QImage::Format_RGB32);
    image.fill(Black);
    QPainter painter(&image);
    renderer.paintRow(painter, 0, scrollX, 0, width, text, style);
    painter.end();
    return image;
}

// How many pixels of the top pixel row in [from, to) have the colour. The top row lies
// above the glyphs, so it shows backgrounds only.
int countTop(const QImage& image, int from, int to, const QColor& color)
{
    int count = 0;
    for (int x = std::max(0, from); x < std::min(to, image.width()); ++x) {
        count += QColor(image.pixel(x, 0)) == color ? 1 : 0;
    }
    return count;
}

bool anyPixel(const QImage& image, int from, int to, const QColor& color)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = std::max(0, from); x < std::min(to, image.width()); ++x) {
            if (QColor(image.pixel(x, y)) == color) {
                return true;
            }
        }
    }
    return false;
}

// Glyphs are anti-aliased: their darkest pixels are near, not always at, black.
bool anyDark(const QImage& image, int from, int to)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = std::max(0, from); x < std::min(to, image.width()); ++x) {
            if (QColor(image.pixel(x, y)).green() < 96) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

TEST(LogRendererTest, DefaultRecordIsTenPointCourierNewAndResolvesToAFixedPitchFont)
{
    const LogFontRecord record = LogRenderer::defaultFontRecord(96);
    EXPECT_EQ(record.lfHeight, -13);
    EXPECT_EQ(std::u16string(record.lfFaceName), u"Courier New");
    EXPECT_EQ(record.lfWeight, 0);
    EXPECT_EQ(LogRenderer::defaultFontRecord(120).lfHeight, -17);

    const QFont font = LogRenderer::fontFromRecord(record);
    EXPECT_EQ(font.pixelSize(), 13);
    EXPECT_TRUE(LogRenderer::isMonospaced(font)) << QFontInfo(font).family().toStdString();
}

TEST(LogRendererTest, UnknownFixedPitchFaceFallsBackToMonospace)
{
    LogFontRecord record = LogRenderer::defaultFontRecord(96);
    const std::u16string face = u"No Such Face 1234";
    std::fill(std::begin(record.lfFaceName), std::end(record.lfFaceName), u'\0');
    std::copy(face.begin(), face.end(), record.lfFaceName);
    record.lfPitchAndFamily = 0x31; // FIXED_PITCH | FF_MODERN
    record.lfWeight = 700;
    record.lfItalic = 1;
    const QFont font = LogRenderer::fontFromRecord(record);
    EXPECT_TRUE(LogRenderer::isMonospaced(font)) << QFontInfo(font).family().toStdString();
    EXPECT_EQ(font.weight(), QFont::Bold);
    EXPECT_TRUE(font.italic());
}

TEST(LogRendererTest, FontRecordRoundTripsFaceHeightWeightAndEffects)
{
    struct Row {
        const char16_t* face;
        int height;
        int weight;
        bool italic, underline, strikeOut;
        std::uint8_t pitchAndFamily;
    };
    for (const Row& row : {Row{u"DejaVu Sans Mono", -13, 700, true, true, true, 0x31},
                           Row{u"Liberation Serif", -20, 400, false, false, false, 0},
                           Row{u"DejaVu Sans", -1, 300, false, true, false, 0},
                           Row{u"Liberation Mono", -64, 900, true, false, true, 0x31}}) {
        LogFontRecord record;
        record.lfHeight = row.height;
        record.lfWeight = row.weight;
        record.lfItalic = row.italic;
        record.lfUnderline = row.underline;
        record.lfStrikeOut = row.strikeOut;
        record.lfPitchAndFamily = row.pitchAndFamily;
        std::u16string_view face(row.face);
        std::copy(face.begin(), face.end(), record.lfFaceName);
        const QFont font = LogRenderer::fontFromRecord(record);
        const LogFontRecord back = LogRenderer::recordFromFont(font, 96);
        EXPECT_EQ(std::u16string(back.lfFaceName), face);
        EXPECT_EQ(back.lfHeight, row.height);
        EXPECT_EQ(back.lfWeight, row.weight);
        EXPECT_EQ(back.lfItalic, record.lfItalic);
        EXPECT_EQ(back.lfUnderline, record.lfUnderline);
        EXPECT_EQ(back.lfStrikeOut, record.lfStrikeOut);
        EXPECT_EQ(back.lfPitchAndFamily, row.pitchAndFamily);
        // And the font once more from the record: the same font.
        EXPECT_EQ(LogRenderer::fontFromRecord(back), font)
            << QString::fromUtf16(row.face).toStdString();
    }
}

// Underline and strike-out across the gaps between letters: ink in a space's cell can come
// only from a line drawn through it, below the baseline for the underline, above it for the
// strike-out. Rows with a background colour go through the same glyph runs.
TEST(LogRendererTest, UnderlineAndStrikeOutAreDrawnAtTheTextsBaseline)
{
    const QString text = QStringLiteral("x x x x");
    for (bool background : {false, true}) {
        for (int effect = 0; effect < 3; ++effect) {
            QFont font = testFont();
            font.setUnderline(effect == 1);
            font.setStrikeOut(effect == 2);
            const LogRenderer renderer(font);
            const QFontMetrics metrics(font);
            LogRenderer::RowStyle style = colours(White, Blue);
            style.fillBackground = background;
            const QImage image = paintRow(renderer, text, style);
            const int gapFrom = int(renderer.prefixWidth(text, 1)) + 1;
            const int gapTo = int(renderer.prefixWidth(text, 2)) - 1;
            const int ascent = metrics.ascent();
            int below = 0;
            int above = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = gapFrom; x < gapTo; ++x) {
                    const QColor pixel(image.pixel(x, y));
                    if (pixel.red() > 96) { // the white pen, wherever it lands
                        (y > ascent ? below : above) += 1;
                    }
                }
            }
            const std::string what = std::to_string(effect) + (background ? " on blue" : "");
            EXPECT_EQ(below > 0, effect == 1) << what << ": ink below the baseline";
            EXPECT_EQ(above > 0, effect == 2) << what << ": ink above the baseline";
        }
    }
    // A piece after a tab keeps its glyphs and its line together, within the text's extent.
    QFont font = testFont();
    font.setUnderline(true);
    const LogRenderer renderer(font);
    const QString tabbed = QStringLiteral("\tx x");
    const QImage image = paintRow(renderer, tabbed, colours(White, Blue));
    const int end = int(renderer.textWidth(tabbed));
    EXPECT_TRUE(anyPixel(image, renderer.tabStop(), end, White));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = end + 1; x < image.width(); ++x) {
            ASSERT_LT(QColor(image.pixel(x, y)).red(), 96) << "ink at " << x << "," << y;
        }
    }
}

TEST(LogRendererTest, FontRecordFromAPointSizeAndALongFace)
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPointSizeF(10.5);
    const LogFontRecord at96 = LogRenderer::recordFromFont(font, 96);
    EXPECT_EQ(at96.lfHeight, -14);
    EXPECT_EQ(at96.lfPitchAndFamily, 0x31) << "monospaced: fixed pitch, modern family";

    // 31 units and the terminating zero; a surrogate pair at the cut goes whole.
    QFont longFace(QString(30, u'x') + QString::fromUtf16(u"\U0001F600yy"));
    const LogFontRecord cut = LogRenderer::recordFromFont(longFace, 96);
    EXPECT_EQ(std::u16string(cut.lfFaceName), std::u16string(30, u'x'));
    QFont exact(QString(31, u'y'));
    EXPECT_EQ(std::u16string(LogRenderer::recordFromFont(exact, 96).lfFaceName).size(), 31u);
}

TEST(LogRendererTest, TabsStopAtEveryEightAverageCharacterWidths)
{
    const LogRenderer renderer(testFont());
    const int tab = renderer.tabStop();
    ASSERT_EQ(tab, 8 * renderer.averageCharWidth());
    const int a = renderer.textWidth(u"a");
    EXPECT_EQ(renderer.textWidth(u"\t"), tab);
    EXPECT_EQ(renderer.textWidth(u"a\t"), tab);
    EXPECT_EQ(renderer.textWidth(u"a\tb"), tab + a);
    EXPECT_EQ(renderer.textWidth(u"abcdefgh\t"), 2 * tab);
    EXPECT_EQ(renderer.textWidth(u"\t\t"), 2 * tab);
}

TEST(LogRendererTest, CharAtAndPrefixWidthRoundTrip)
{
    const LogRenderer renderer(testFont());
    const QString text = QStringLiteral("ab\tcd \u00e9f \U0001F600 end");
    for (qsizetype k = 0; k < text.size(); ++k) {
        if (text[k].isLowSurrogate()) {
            continue;
        }
        const int left = renderer.prefixWidth(text, k);
        const int right = renderer.prefixWidth(text, k + (text[k].isHighSurrogate() ? 2 : 1));
        ASSERT_LT(left, right) << k;
        EXPECT_EQ(renderer.charAt(text, left), k) << k;
        EXPECT_EQ(renderer.charAt(text, right - 1), k) << k;
    }
    EXPECT_EQ(renderer.charAt(text, renderer.textWidth(text) + 50), text.size());
}

TEST(LogRendererTest, BackgroundCoversExactlyTheTextExtent)
{
    const LogRenderer renderer(testFont());
    LogRenderer::RowStyle style = colours(Green, Red);
    const QString text = QStringLiteral("ERROR\tdisk full");
    const int width = renderer.textWidth(text);
    const QImage image = paintRow(renderer, text, style);
    EXPECT_EQ(countTop(image, 0, width, Red), width);
    EXPECT_FALSE(anyPixel(image, width, image.width(), Red));
    EXPECT_TRUE(anyPixel(image, 0, width, Green)) << "the text itself is drawn";
    EXPECT_FALSE(anyPixel(image, width, image.width(), Green));
}

TEST(LogRendererTest, SelectionIsPaintedWithTheRowColoursExchanged)
{
    const LogRenderer renderer(testFont());
    const QString text = QStringLiteral("0123456789");
    struct Row {
        qsizetype first;
        qsizetype last;
        qsizetype selectedEnd; // exclusive
    };
    for (const Row& row : {Row{2, 4, 5}, Row{3, -1, 10}, Row{0, 0, 1}}) {
        LogRenderer::RowStyle style = colours(Green, Black);
        style.hasSelection = true;
        style.selection = {row.first, row.last};
        const QImage image = paintRow(renderer, text, style);
        const int from = renderer.prefixWidth(text, row.first);
        const int to = renderer.prefixWidth(text, row.selectedEnd);
        EXPECT_EQ(countTop(image, from, to, Green), to - from) << row.first;
        EXPECT_EQ(countTop(image, 0, from, Green), 0) << row.first;
        EXPECT_EQ(countTop(image, to, image.width(), Green), 0) << row.first;
        EXPECT_TRUE(anyDark(image, from, to)) << "selected glyphs in the background colour";
    }
}

TEST(LogRendererTest, ScrolledRowShowsTheSameColumnsShifted)
{
    const LogRenderer renderer(testFont());
    const QString text = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    LogRenderer::RowStyle style = colours(White, Red);
    const int shift = renderer.prefixWidth(text, 10);
    const QImage whole = paintRow(renderer, text, style, 600);
    const QImage scrolled = paintRow(renderer, text, style, 600, shift);
    const int rest = renderer.textWidth(text) - shift;
    for (int y = 0; y < whole.height(); ++y) {
        for (int x = 0; x < rest; ++x) {
            ASSERT_EQ(scrolled.pixel(x, y), whole.pixel(x + shift, y)) << x << "," << y;
        }
    }
    EXPECT_FALSE(anyPixel(scrolled, rest, scrolled.width(), Red));
}

TEST(LogRendererTest, HugeLineIsPaintedOnlyWhereVisible)
{
    const LogRenderer renderer(testFont());
    // Four million characters: painting the far end must cost a walk, not a layout.
    QString text(4'000'000, u'x');
    text.replace(3'999'990, 5, QStringLiteral("ERROR"));
    const int scrollX = renderer.prefixWidth(text, 3'999'980);
    LogRenderer::RowStyle style = colours(Green, Red);
    const QImage image = paintRow(renderer, text, style, 300, scrollX);
    const int end = renderer.textWidth(text) - scrollX;
    ASSERT_GT(end, 0);
    ASSERT_LT(end, 300);
    EXPECT_EQ(countTop(image, 0, end, Red), end);
    EXPECT_FALSE(anyPixel(image, end, 300, Red));
}

TEST(LogRendererTest, CharactersBeyondLatin1AreDrawnInTheirCells)
{
    const LogRenderer renderer(testFont());
    const QString text = QStringLiteral("a\u20ac\u00e9\u4e2d b");
    LogRenderer::RowStyle style = colours(Green, Red);
    style.hasSelection = true;
    style.selection = {3, 3};
    const QImage image = paintRow(renderer, text, style);
    for (qsizetype k : {1, 2, 3}) {
        const int from = renderer.prefixWidth(text, k);
        const int to = renderer.prefixWidth(text, k + 1);
        ASSERT_LT(from, to);
        if (k == 3) {
            // A fallback font's glyph may reach into the top pixel row.
            EXPECT_GT(countTop(image, from, to, Green), (to - from) / 2) << "selected cell inverted";
            EXPECT_TRUE(anyPixel(image, from, to, Red) || anyDark(image, from, to));
        } else {
            EXPECT_TRUE(anyPixel(image, from, to, Green)) << "glyph of character " << k;
            EXPECT_EQ(countTop(image, from, to, Red), to - from);
        }
    }
}

TEST(LogRendererTest, RestColourGivesTheSamePixelsAsErasingFirst)
{
    QFont italic = testFont();
    italic.setItalic(true); // the path that draws glyph runs instead of copying cells
    struct Row {
        const char* name;
        QString text;
        int scrollX;
        int clipLeft;
        bool selectToEnd;
    };
    const QString mixed = QStringLiteral("ERROR\tdisk \u4e2d\u20ac full\u00e9");
    const std::vector<Row> rows = {
        {"empty", QString(), 0, 0, false},
        {"text", mixed, 0, 0, false},
        {"selected to the end", mixed, 0, 0, true},
        {"scrolled into the text", mixed, 30, 7, false},
        {"scrolled past the text", mixed, 2000, 0, false},
    };
    for (const QFont& font : {testFont(), italic}) {
        const LogRenderer renderer(font);
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (font.italic() ? " (italic)" : ""));
            LogRenderer::RowStyle style = colours(Green, Red);
            style.fillBackground = true;
            if (row.selectToEnd) {
                style.hasSelection = true;
                style.selection = {3, -1};
            }
            const int width = 300;
            QImage erased(width, renderer.lineHeight(), QImage::Format_RGB32);
            erased.fill(Blue);
            QPainter first(&erased);
            renderer.paintRow(first, 0, row.scrollX, row.clipLeft, width, row.text, style);
            first.end();

            // The image starts in another colour, except left of the clip, where the rest
            // colour must not reach. (Blue: a fresh row buffer is often black already.)
            QImage inOne(width, renderer.lineHeight(), QImage::Format_RGB32);
            inOne.fill(White);
            if (row.clipLeft > 0) {
                QPainter left(&inOne);
                left.fillRect(0, 0, row.clipLeft, renderer.lineHeight(), Blue);
            }
            style.rest = Blue;
            QPainter second(&inOne);
            renderer.paintRow(second, 0, row.scrollX, row.clipLeft, width, row.text, style);
            second.end();
            EXPECT_EQ(inOne, erased);
        }
    }
}

TEST(LogRendererTest, PaintingInPlaceMatchesPaintingThroughTheRowImage)
{
    // Into an image with nothing clipping, rows are assembled in the image itself; a
    // painter clip sends them through the renderer's own row image and drawImage.
    const LogRenderer renderer(testFont());
    const QString text =
        QStringLiteral("ERROR\tdisk \u4e2d full\u00e9 and more text to pass the right");
    struct Row {
        int scrollX;
        int clipLeft;
        int clipRight;
    };
    for (const Row& row : {Row{0, 0, 300}, Row{3, 0, 300}, Row{37, 11, 200}, Row{0, 5, 299}}) {
        SCOPED_TRACE(testing::Message() << row.scrollX << " " << row.clipLeft);
        LogRenderer::RowStyle style = colours(Green, Red);
        style.rest = Blue;
        style.hasSelection = true;
        style.selection = {2, 7};
        const int height = renderer.lineHeight();
        QImage inPlace(300, height + 3, QImage::Format_RGB32);
        inPlace.fill(White);
        QImage copied = inPlace;
        copied.detach();
        {
            QPainter painter(&inPlace);
            painter.translate(0, 2); // a whole-pixel move still paints in place
            renderer.paintRow(painter, 0, row.scrollX, row.clipLeft, row.clipRight, text, style);
        }
        {
            QPainter painter(&copied);
            painter.translate(0, 2);
            painter.setClipRect(QRect(row.clipLeft, 0, row.clipRight - row.clipLeft, height));
            renderer.paintRow(painter, 0, row.scrollX, row.clipLeft, row.clipRight, text, style);
        }
        EXPECT_EQ(inPlace, copied);
    }
}

TEST(LogRendererTest, ManyColourPairsOfALargeFontStayWithinTheTileBudget)
{
    LogFontRecord record = LogRenderer::defaultFontRecord(96);
    record.lfHeight = -60; // one colour pair's tiles take megabytes
    const LogRenderer renderer(LogRenderer::fontFromRecord(record));
    ASSERT_TRUE(renderer.usesTiles());
    for (int pair = 0; pair < 24; ++pair) {
        const QImage row = paintRow(renderer, QStringLiteral("ERROR 42"),
                                    colours(QColor(pair * 10, 255, 0), Black));
        EXPECT_TRUE(anyPixel(row, 0, row.width(), QColor(pair * 10, 255, 0))) << pair;
        ASSERT_LE(renderer.tileCacheBytes(), LogRenderer::TileCacheBudget) << pair;
    }
}

namespace {

LogRenderer::RowStyle::Run run(qsizetype start, qsizetype end, const QColor& text,
                               const QColor& background = QColor(), bool bold = false,
                               bool underline = false)
{
    LogRenderer::RowStyle::Run r;
    r.start = start;
    r.end = end;
    r.text = text;
    r.background = background;
    r.bold = bold;
    r.underline = underline;
    return r;
}

// Anti-aliased glyphs in red on black: some pixel is clearly red.
bool anyReddish(const QImage& image, int from, int to)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = std::max(0, from); x < std::min(to, image.width()); ++x) {
            const QColor c(image.pixel(x, y));
            if (c.red() > 128 && c.green() < 64 && c.blue() < 64) {
                return true;
            }
        }
    }
    return false;
}

// Both ways a row is drawn: from glyph tiles, and (slanted fonts) through Qt's text layout.
std::vector<QFont> bothPaths()
{
    QFont slanted = testFont();
    slanted.setItalic(true);
    return {testFont(), slanted};
}

} // namespace

TEST(LogRendererTest, RunsColourExactlyTheirCharactersAndTheSelectionInvertsThem)
{
    for (const QFont& font : bothPaths()) {
        const LogRenderer renderer(font);
        SCOPED_TRACE(renderer.usesTiles() ? "tiles" : "text layout");
        const QString text = QStringLiteral("0123456789");
        LogRenderer::RowStyle style = colours(White, Black);
        // Adjacent runs, one ending at the line's end; a run without a background keeps
        // the row's.
        style.runs = {run(1, 3, Green, Red), run(3, 4, White, Blue), run(6, 7, Red),
                      run(8, 10, White, Green)};
        const auto cell = [&](qsizetype k) { return renderer.prefixWidth(text, k); };
        QImage image = paintRow(renderer, text, style);
        EXPECT_EQ(countTop(image, 0, cell(1), Black), cell(1));
        EXPECT_EQ(countTop(image, cell(1), cell(3), Red), cell(3) - cell(1));
        EXPECT_EQ(countTop(image, cell(3), cell(4), Blue), cell(4) - cell(3));
        EXPECT_EQ(countTop(image, cell(4), cell(8), Black), cell(8) - cell(4));
        EXPECT_EQ(countTop(image, cell(8), cell(10), Green), cell(10) - cell(8));
        EXPECT_EQ(countTop(image, cell(10), image.width(), Green), 0);
        EXPECT_TRUE(anyReddish(image, cell(6), cell(7))) << "a run's own text colour";
        EXPECT_FALSE(anyReddish(image, cell(4), cell(6)));

        // Selected, a run shows its own colours exchanged.
        style.hasSelection = true;
        style.selection = {2, 3};
        image = paintRow(renderer, text, style);
        EXPECT_EQ(countTop(image, cell(1), cell(2), Red), cell(2) - cell(1));
        EXPECT_EQ(countTop(image, cell(2), cell(3), Green), cell(3) - cell(2));
        EXPECT_EQ(countTop(image, cell(3), cell(4), White), cell(4) - cell(3));
    }
}

TEST(LogRendererTest, UnderlinedRunsAreUnderlinedAndBoldOnesDrawn)
{
    for (const QFont& font : bothPaths()) {
        const LogRenderer renderer(font);
        SCOPED_TRACE(renderer.usesTiles() ? "tiles" : "text layout");
        const QString text = QStringLiteral("____abcd");
        LogRenderer::RowStyle style = colours(White, Black);
        style.runs = {run(4, 6, Green, QColor(), false, true), run(6, 8, Red, QColor(), true)};
        const QImage image = paintRow(renderer, text, style);
        const int from = renderer.prefixWidth(text, 4);
        const int to = renderer.prefixWidth(text, 6);
        const int underline = std::min(QFontMetrics(font).ascent() + 1,
                                       renderer.lineHeight() - 1);
        int green = 0;
        for (int x = from; x < to; ++x) {
            green += QColor(image.pixel(x, underline)) == Green ? 1 : 0;
        }
        EXPECT_EQ(green, to - from);
        EXPECT_TRUE(anyReddish(image, to, renderer.prefixWidth(text, 8)));
        EXPECT_FALSE(anyPixel(image, 0, from, Green));
    }
}

TEST(LogRendererTest, ARowOfMoreColourPairsThanTheCacheHoldsIsDrawnWhole)
{
    LogFontRecord record = LogRenderer::defaultFontRecord(96);
    record.lfHeight = -40;
    const LogRenderer renderer(LogRenderer::fontFromRecord(record));
    ASSERT_TRUE(renderer.usesTiles());
    const QString text(80, u'x');
    LogRenderer::RowStyle style = colours(White, Black);
    for (int k = 0; k < 80; ++k) {
        style.runs.push_back(run(k, k + 1, White, QColor(k * 3, 0, 255 - k * 3)));
    }
    const QImage image = paintRow(renderer, text, style, renderer.textWidth(text) + 10);
    for (int k = 0; k < 80; ++k) {
        const int x = renderer.prefixWidth(text, k);
        ASSERT_EQ(QColor(image.pixel(x, 0)), QColor(k * 3, 0, 255 - k * 3)) << k;
    }
}

TEST(LogRendererTest, VisibleRangeIsWhatReachesIntoTheColumns)
{
    const LogRenderer renderer(testFont());
    const QString text = QStringLiteral("ab\tcdefgh");
    const int w = renderer.averageCharWidth();
    qsizetype first = 0;
    qsizetype end = 0;
    renderer.visibleRange(text, 0, 1, first, end);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(end, 1);
    renderer.visibleRange(text, w, 2 * w, first, end); // exactly the second cell
    EXPECT_EQ(first, 1);
    EXPECT_EQ(end, 2);
    renderer.visibleRange(text, 3 * w, 8 * w + 1, first, end); // inside the tab
    EXPECT_EQ(first, 2);
    EXPECT_EQ(end, 4);
    renderer.visibleRange(text, 100 * w, 200 * w, first, end);
    EXPECT_EQ(first, text.size());
    EXPECT_EQ(end, text.size());
}

// A part of a line drawn as a row of its own (a wrapped row) sees the line's selection and
// runs from its own start: what reaches into it, cut at its ends.
TEST(LogRendererTest, APartOfALineSeesTheSelectionAndRunsFromItsOwnStart)
{
    struct Case {
        qsizetype first;
        qsizetype last; // -1: through the line's end
        bool selected;  // on the part [10, 20)
        qsizetype partFirst;
        qsizetype partLast;
    };
    const Case cases[] = {
        {0, 9, false, 0, 0},     // ends just before the part
        {20, 30, false, 0, 0},   // starts just after it
        {0, 10, true, 0, 0},     // its first character only
        {19, 40, true, 9, 9},    // its last character only
        {12, 15, true, 2, 5},    // inside
        {5, 19, true, 0, 9},     // through its last character
        {5, 25, true, 0, 9},     // past it
        {15, -1, true, 5, -1},   // through the line's end
        {0, -1, true, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
        LogRenderer::RowStyle style;
        style.hasSelection = true;
        style.selection = {c.first, c.last};
        LogRenderer::clipToPart(style, 10, 20);
        EXPECT_EQ(style.hasSelection, c.selected);
        if (c.selected) {
            EXPECT_EQ(style.selection.first, c.partFirst);
            EXPECT_EQ(style.selection.last, c.partLast);
        }
    }
    LogRenderer::RowStyle style;
    for (const auto& [start, end] : {std::pair{0, 10}, {8, 12}, {12, 18}, {19, 25}, {20, 30}}) {
        LogRenderer::RowStyle::Run run;
        run.start = start;
        run.end = end;
        style.runs.push_back(run);
    }
    LogRenderer::clipToPart(style, 10, 20);
    std::vector<std::pair<qsizetype, qsizetype>> runs;
    for (const LogRenderer::RowStyle::Run& run : style.runs) {
        runs.emplace_back(run.start, run.end);
    }
    EXPECT_EQ(runs, (std::vector<std::pair<qsizetype, qsizetype>>{{0, 2}, {2, 8}, {9, 10}}));
}
