#pragma once

// Paints rows of log text onto any QPainter: one font, tabs expanded at every eight average
// character widths from the start of the line, an opaque background that covers exactly the
// text's extent, and an optional inverted column span (the selection).
//
// Every measurement walks the characters of a line from its start and stops as soon as the
// question is answered, and painting stops at the right edge of the clip: a line of several
// megabytes costs only what lies left of the visible area, never a layout of the whole line.
// Character advances are cached per font (a table for Latin-1, a hash for the rest).
//
// Not thread-safe; the user-interface thread owns its renderer. Holds no document data.

#include "engine/DocumentTypes.h"
#include "engine/StyleRuns.h"
#include "settings/SettingsStore.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QRawFont>
#include <QStringView>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace quill {

// Colours as the settings keep them: 0x00BBGGRR.
inline QColor colorFromRef(ColorRef ref)
{
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                  static_cast<int>((ref >> 16) & 0xFF));
}

inline ColorRef colorRefFrom(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return static_cast<ColorRef>(rgb.red()) | (static_cast<ColorRef>(rgb.green()) << 8) |
           (static_cast<ColorRef>(rgb.blue()) << 16);
}

} // namespace quill

// A run of selected characters on one row: first..last inclusive; last < 0 means through
// the end of the line.
struct ColumnSpan {
    qsizetype first = 0;
    qsizetype last = -1;
};

class LogRenderer {
  public:
    // The largest character height the view accepts, in pixels (150 points at 96 dpi):
    // a stored height beyond it, from a damaged hive or a slip of the hand, is drawn at it.
    static constexpr int MaxFontPixels = 200;
    // Memory the pre-rendered glyph tiles may take together. A font whose tiles for one
    // colour pair would not fit is drawn glyph by glyph instead.
    static constexpr std::size_t TileCacheBudget = 16u << 20;

    LogRenderer();
    explicit LogRenderer(const QFont& font);

    void setFont(const QFont& font);
    const QFont& font() const { return m_font; }

    // Row height: the font's ascent plus descent (what a measurement of any text reports).
    int lineHeight() const { return m_lineHeight; }
    int averageCharWidth() const { return m_averageCharWidth; }
    // Distance between the default tab stops.
    int tabStop() const { return m_tabStop; }

    // Document x is 64-bit: a line of hundreds of megabytes is wider than an int counts.
    // Width of the whole text, tabs expanded.
    qint64 textWidth(QStringView text) const { return prefixWidth(text, text.size()); }
    // Width of the first count characters (clamped to the text), tabs expanded.
    qint64 prefixWidth(QStringView text, qsizetype count) const;
    // Width of the first count characters when the first `from` of them are x wide (a
    // measurement continued where an earlier one stopped; from must not split a surrogate
    // pair).
    qint64 continueWidth(QStringView text, qsizetype from, qint64 x, qsizetype count) const;
    // The character under document x: the smallest k >= 1 whose prefix of k characters is
    // wider than x gives k - 1; the text's length when the point is right of the text.
    qsizetype charAt(QStringView text, qint64 x) const;
    // The first character whose cell reaches right of document x `left`, and in x where its
    // cell starts (the text's length and width when none does). Long lines start from the
    // points their paints remembered, so this costs what painting the row costs.
    qsizetype seekX(QStringView text, qint64 left, qint64& x) const;
    // The same walk from character `from`, whose cell starts at x.
    qsizetype walkTo(QStringView text, qsizetype from, qint64& x, qint64 left) const;
    // The characters [first, end) that reach into document x [left, right): what a paint
    // of that part draws. starts from the remembered points of a long line, as the paint
    // does, so asking costs no more than painting.
    void visibleRange(QStringView text, qint64 left, qint64 right, qsizetype& first,
                      qsizetype& end) const;
    // Advances x over the character at text[i] (a surrogate pair counts as one character
    // and is consumed whole; a tab goes to the next stop counted from x 0); returns the
    // index after it.
    qsizetype step(QStringView text, qsizetype i, qint64& x) const;

    struct RowStyle {
        QColor text;
        QColor background;
        bool hasSelection = false;
        ColumnSpan selection;
        // False when the caller has already filled the row with this background: only
        // the selected part is then filled here.
        bool fillBackground = true;
        // When valid, the rest of the row between clipLeft and clipRight (right of the
        // text, or all of it when no text reaches that far) is filled with this colour in
        // the same paint, and glyphs that overhang their cells are drawn over it: the
        // result is that of erasing the row with it first, without painting the row's
        // pixels twice.
        QColor rest;
        // Stretches of characters [start, end) in a look of their own (terminal colours,
        // keyword matches): ascending, not overlapping. An invalid colour keeps the row's;
        // the selection shows them inverted like the rest of the row.
        struct Run {
            qsizetype start = 0;
            qsizetype end = 0;
            QColor text;
            QColor background;
            bool bold = false;
            bool underline = false;
        };
        std::vector<Run> runs;
    };

    // The runs of the engine as the renderer draws them (see RowStyle::runs).
    static void setRuns(RowStyle& style, const StyleRuns& runs);
    // The runs of a row in layers: the keywords that colour their matches lie over the
    // terminal's colours (which a caller leaves out where a whole-line keyword wins).
    static void setLayeredRuns(RowStyle& style, const StyleRuns& terminal,
                               const StyleRuns& matches);
    // The style of a line's characters [start, end) drawn as a row of their own (a row of a
    // wrapped line): the selection and the runs as that part sees them.
    static void clipToPart(RowStyle& style, qsizetype start, qsizetype end);

    // The style of row `row` of a pane in the settings' colours (text, background): the
    // keyword's colours when the line matched one, and the columns the selection covers
    // on that row.
    static RowStyle rowStyle(ColorRef text, ColorRef background, bool matched, ColorRef keywordText,
                             ColorRef keywordBackground, const DocSelection& selection,
                             LineNumber row);

    // Paints one row whose top is at y; scrollX is the document x shown at painter x 0.
    // Only the part between painter x clipLeft and clipRight is measured and drawn. The row
    // background beyond the text is left alone (the caller has erased it) unless the style
    // gives the colour of the rest.
    void paintRow(QPainter& painter, int y, qint64 scrollX, int clipLeft, int clipRight,
                  QStringView text, const RowStyle& style) const;

    // The font a stored logical-font record describes. A face that fontconfig cannot
    // resolve to a fixed-pitch font falls back to the system's monospace family when the
    // record asks for the default face "Courier New" or for a fixed pitch.
    static QFont fontFromRecord(const LogFontRecord& record);
    // The record that gives this font back through fontFromRecord: face (at most 31
    // UTF-16 units), height as the negative pixel size (a point size converted at the
    // given vertical resolution), weight, italic, underline, strike-out, and fixed pitch
    // with the modern family when the font is monospaced.
    static LogFontRecord recordFromFont(const QFont& font, int logicalDpiY);
    // Bytes the glyph tiles take now (at most TileCacheBudget).
    std::size_t tileCacheBytes() const;
    // Whether rows are assembled from pre-rendered tiles (false for fonts too large for
    // the budget, and for slanted or lined ones).
    bool usesTiles() const { return m_tilesUsable; }

    // What a carriage return shown inside a line is drawn as: U+240D SYMBOL FOR CARRIAGE
    // RETURN where the font has a glyph for it, else the first of a few arrows and signs
    // it has (a font substituted for a missing glyph would draw a box or a wider cell).
    char16_t carriageReturnSymbol() const { return m_crSymbol; }

    // Whether the font's common characters all advance alike.
    static bool isMonospaced(const QFont& font);
    // The record of the default font: 10 points at the given vertical resolution,
    // "Courier New", every other field zero.
    static LogFontRecord defaultFontRecord(int logicalDpiY);

  private:
    int advance(char32_t c) const;
    // Where a walk towards document x `left` may start on this text: the last remembered
    // point at or left of it (index, x), else the line's start. Points are remembered every
    // MarkEvery characters of a long line as walks pass them, so a line of hundreds of
    // megabytes scrolled to its end is not walked from its start on every paint.
    void seekWalk(QStringView text, qint64 left, qsizetype& i, qint64& x) const;
    void markWalk(QStringView text, qsizetype i, qint64 x) const;
    static constexpr qsizetype MarkEvery = qsizetype(1) << 16;
    struct WalkMarks {
        const QChar* data = nullptr;
        qsizetype size = 0;
        std::uint64_t sample = 0;
        std::vector<std::pair<qsizetype, qint64>> points; // ascending in both
    };
    mutable WalkMarks m_marks;
    // Draws text[start, start + length) with its first character at x. Characters of the
    // font's Latin-1 set are placed glyph by glyph at the measured positions, without
    // shaping; anything else goes through Qt's text layout (which also finds fallback fonts).
    void drawPiece(QPainter& painter, QStringView text, qsizetype start, qsizetype length, int x,
                   int baseline) const;

    // The tiles of one colour pair as plain pixels, each cell's lines one after another at
    // its offset (its width is the character's advance, at least 1): a cell is copied from
    // raw pointers, without a QImage call per line.
    struct TileSet {
        std::vector<QRgb> pixels;
        std::array<std::uint32_t, 256> offset{};
    };
    // Where a row is assembled, in row coordinates (0 is the first cell's left edge): the
    // pixels of columns left..right-1, bits pointing at column left. Either m_row or,
    // when the painter allows it, the painter's own image.
    struct RowTarget {
        QRgb* bits;
        qsizetype stride; // in pixels
        int left;
        int right;
        bool direct;
    };

    // The fast path for fonts without slant or lines: each character cell is copied from a
    // tile pre-rendered for its pair of colours, straight into the painter's image when
    // directTarget() allows it, else into one row image drawn in one go. Glyph blending,
    // which costs most of a paint, then happens once per character and colour pair, not
    // once per character drawn. Characters outside Latin-1 are drawn over the row by Qt's
    // text layout.
    void paintTiles(QPainter& painter, int y, qint64 scrollX, int clipLeft, int clipRight,
                    QStringView text, qsizetype i, qint64 x, const RowStyle& style) const;
    // Shared: a later colour pair may empty the cache while a row still copies from this.
    std::shared_ptr<const TileSet> tileSet(const QColor& text, const QColor& background) const;
    RowTarget rowTarget() const;
    // The painter's image as the target of the row whose first cell is at painter x
    // originX and top y, for its columns [left, right): only when the image is plain
    // 32-bit, unshared, the painter moves the row there by whole pixels, would copy it
    // unchanged, and neither the image's edges nor the system clip cut into those columns.
    std::optional<RowTarget> directTarget(QPainter& painter, int originX, int y, int left,
                                          int right) const;
    void copyCell(const RowTarget& row, const TileSet& tiles, char16_t c, int x) const;
    void fillCell(const RowTarget& row, int x, int width, QRgb color) const;

    QFont m_font;
    QRawFont m_rawFont;
    char16_t m_crSymbol = 0x240D;
    bool m_tilesUsable = false;
    // Pixels of one colour pair's tiles, in bytes.
    std::size_t m_tileSetBytes = 0;
    mutable QHash<quint64, std::shared_ptr<TileSet>> m_tileSets;
    mutable QImage m_row;
    std::array<quint32, 256> m_latin1Glyphs{};
    mutable QList<quint32> m_glyphs;
    mutable QList<QPointF> m_positions;
    QFontMetrics m_metrics;
    int m_lineHeight = 0;
    int m_ascent = 0;
    int m_averageCharWidth = 0;
    int m_tabStop = 0;
    std::array<int, 256> m_latin1Advances{};
    mutable QHash<char32_t, int> m_otherAdvances;
};
