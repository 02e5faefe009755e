#include "view/LogRenderer.h"

#include <QFontDatabase>
#include <QPaintEngine>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr int TabColumns = 8;

// LOGFONT pitch and family bits.
constexpr std::uint8_t FixedPitch = 0x01;
constexpr std::uint8_t FamilyMask = 0xF0;
constexpr std::uint8_t FamilyModern = 0x30;

QString faceName(const LogFontRecord& record)
{
    qsizetype length = 0;
    while (length < 32 && record.lfFaceName[length] != 0) {
        ++length;
    }
    return QString::fromUtf16(record.lfFaceName, length);
}

// Cells are a few pixels wide: a library call per cell line would cost more than the copy
// itself, so the pixels are moved in fixed 16-byte pieces the compiler inlines.
inline void copyPixels(QRgb* to, const QRgb* from, int count)
{
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        std::memcpy(to + k, from + k, 4 * sizeof(QRgb));
    }
    for (; k < count; ++k) {
        to[k] = from[k];
    }
}

// A whole cell of a width known at compile time: each line is a fixed-size copy the
// compiler turns into a few vector moves, with no loop over pixels.
template <int Width> void copyWholeCell(QRgb* to, qsizetype stride, const QRgb* from, int lines)
{
    for (int line = 0; line < lines; ++line, to += stride, from += Width) {
        std::memcpy(to, from, Width * sizeof(QRgb));
    }
}

using CellCopy = void (*)(QRgb*, qsizetype, const QRgb*, int);

// Monospaced text at usual sizes has cells of 5 to 16 pixels.
template <int... Widths>
constexpr std::array<CellCopy, 17> makeCellCopies(std::integer_sequence<int, Widths...>)
{
    return {{(Widths == 0 ? nullptr : &copyWholeCell < Widths == 0 ? 1 : Widths >)...}};
}
constexpr std::array<CellCopy, 17> WholeCellCopies =
    makeCellCopies(std::make_integer_sequence<int, 17>());

} // namespace

LogRenderer::LogRenderer() : LogRenderer(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {}

LogRenderer::LogRenderer(const QFont& font) : m_metrics(font)
{
    setFont(font);
}

void LogRenderer::setFont(const QFont& font)
{
    m_font = font;
    m_metrics = QFontMetrics(m_font);
    m_ascent = m_metrics.ascent();
    m_lineHeight = m_metrics.ascent() + m_metrics.descent();
    m_averageCharWidth = std::max(1, m_metrics.averageCharWidth());
    m_tabStop = TabColumns * m_averageCharWidth;
    m_rawFont = QRawFont::fromFont(m_font);
    for (int c = 0; c < 256; ++c) {
        m_latin1Advances[c] = m_metrics.horizontalAdvance(QChar(c));
        m_latin1Glyphs[c] = 0;
    }
    if (m_rawFont.isValid()) {
        QString latin1(256, Qt::Uninitialized);
        for (int c = 0; c < 256; ++c) {
            latin1[c] = QChar(c);
        }
        const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(latin1);
        for (int c = 32; c < 256 && c < glyphs.size(); ++c) {
            // Control characters keep 0: they are drawn by the text layout, as before.
            m_latin1Glyphs[c] = (c >= 0x7F && c < 0xA0) ? 0 : glyphs[c];
        }
    }
    // U+240D, the return arrow, the left arrow, the negation sign of Latin-1; a caret where
    // the font has none of them.
    m_crSymbol = u'^';
    for (const char16_t symbol : {u'\u240D', u'\u21B5', u'\u2190', u'\u00AC'}) {
        if (m_rawFont.isValid() ? m_rawFont.supportsCharacter(QChar(symbol))
                                : m_metrics.inFont(QChar(symbol))) {
            m_crSymbol = symbol;
            break;
        }
    }
    m_otherAdvances.clear();
    m_tileSets.clear();
    m_tileSetBytes = 0;
    for (int c = 0; c < 256; ++c) {
        m_tileSetBytes += std::size_t(std::max(1, m_latin1Advances[c])) *
                          std::size_t(std::max(0, m_lineHeight)) * sizeof(QRgb);
    }
    // The tiles grow with the square of the font size; past the budget, glyph runs (which
    // Qt caches itself, bounded) cost less than the memory.
    m_tilesUsable = m_rawFont.isValid() && !m_font.italic() && !m_font.underline() &&
                    !m_font.strikeOut() && m_lineHeight > 0 && m_tileSetBytes <= TileCacheBudget;
}

int LogRenderer::advance(char32_t c) const
{
    if (c < 256) {
        return m_latin1Advances[c];
    }
    auto it = m_otherAdvances.constFind(c);
    if (it != m_otherAdvances.constEnd()) {
        return *it;
    }
    const int width = m_metrics.horizontalAdvance(QString::fromUcs4(&c, 1));
    m_otherAdvances.insert(c, width);
    return width;
}

void LogRenderer::seekWalk(QStringView text, qint64 left, qsizetype& i, qint64& x) const
{
    i = 0;
    x = 0;
    if (text.size() < 4 * MarkEvery) {
        return;
    }
    // The same text is recognised by its place, its length and a sample of its characters
    // (a line that replaced another in the same buffer differs in one of them).
    std::uint64_t sample = std::uint64_t(text.size());
    for (qsizetype k = 0; k < 64; ++k) {
        sample = sample * 1099511628211ull + text[k * (text.size() - 1) / 63].unicode();
    }
    if (m_marks.data != text.data() || m_marks.size != text.size() || m_marks.sample != sample) {
        m_marks = WalkMarks{text.data(), text.size(), sample, {}};
        return;
    }
    const auto& points = m_marks.points;
    auto it =
        std::upper_bound(points.begin(), points.end(), left,
                         [](qint64 value, const auto& point) { return value < point.second; });
    if (it != points.begin()) {
        --it;
        i = it->first;
        x = it->second;
    }
}

void LogRenderer::markWalk(QStringView text, qsizetype i, qint64 x) const
{
    if (text.size() < 4 * MarkEvery || m_marks.data != text.data() || m_marks.size != text.size()) {
        return;
    }
    if (m_marks.points.empty() || m_marks.points.back().first < i) {
        m_marks.points.emplace_back(i, x);
    }
}

qsizetype LogRenderer::step(QStringView text, qsizetype i, qint64& x) const
{
    const char16_t c = text[i].unicode();
    if (c == u'\t') {
        x = (x / m_tabStop + 1) * m_tabStop;
        return i + 1;
    }
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
        QChar::isLowSurrogate(text[i + 1].unicode())) {
        x += advance(QChar::surrogateToUcs4(c, text[i + 1].unicode()));
        return i + 2;
    }
    x += advance(c);
    return i + 1;
}

qint64 LogRenderer::prefixWidth(QStringView text, qsizetype count) const
{
    return continueWidth(text, 0, 0, count);
}

qint64 LogRenderer::continueWidth(QStringView text, qsizetype from, qint64 x, qsizetype count) const
{
    const qsizetype end = std::clamp<qsizetype>(count, 0, text.size());
    for (qsizetype i = std::max<qsizetype>(from, 0); i < end;) {
        i = step(text, i, x);
    }
    return x;
}

qsizetype LogRenderer::charAt(QStringView text, qint64 x) const
{
    qint64 right = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype next = step(text, i, right);
        if (right > x) {
            return i;
        }
        i = next;
    }
    return text.size();
}

qsizetype LogRenderer::seekX(QStringView text, qint64 left, qint64& x) const
{
    qsizetype i = 0;
    seekWalk(text, left, i, x);
    return walkTo(text, i, x, left);
}

qsizetype LogRenderer::walkTo(QStringView text, qsizetype from, qint64& x, qint64 left) const
{
    qsizetype i = from;
    while (i < text.size()) {
        qint64 right = x;
        const qsizetype next = step(text, i, right);
        if (right > left) {
            break;
        }
        x = right;
        i = next;
    }
    return i;
}

void LogRenderer::visibleRange(QStringView text, qint64 left, qint64 right, qsizetype& first,
                               qsizetype& end) const
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    qint64 x = 0;
    seekWalk(text, left, i, x);
    while (i < n) {
        qint64 next = x;
        const qsizetype after = step(text, i, next);
        if (next > left) {
            break;
        }
        x = next;
        i = after;
    }
    first = i;
    while (i < n && x < right) {
        i = step(text, i, x);
    }
    end = i;
}

void LogRenderer::paintRow(QPainter& painter, int y, qint64 scrollX, int clipLeft, int clipRight,
                           QStringView text, const RowStyle& style) const
{
    const qsizetype n = text.size();
    if (clipRight <= clipLeft) {
        return;
    }
    const QRect wholeRow(clipLeft, y, clipRight - clipLeft, m_lineHeight);
    if (n == 0) {
        if (style.rest.isValid()) {
            painter.fillRect(wholeRow, style.rest);
        }
        return;
    }
    const qint64 visibleLeft = scrollX + clipLeft;
    const qint64 visibleRight = scrollX + clipRight;

    // Walk to the first character that reaches into the visible part; nothing left of it is
    // drawn or kept.
    qsizetype i = 0;
    qint64 x = 0;
    seekWalk(text, visibleLeft, i, x);
    qsizetype nextMark = i + MarkEvery;
    while (i < n) {
        qint64 right = x;
        const qsizetype next = step(text, i, right);
        if (right > visibleLeft) {
            break;
        }
        x = right;
        i = next;
        if (i >= nextMark) {
            markWalk(text, i, x);
            nextMark = i + MarkEvery;
        }
    }
    if (i >= n) {
        if (style.rest.isValid()) {
            painter.fillRect(wholeRow, style.rest);
        }
        return;
    }

    const qsizetype selFirst = style.selection.first;
    const qsizetype selLast = style.selection.last < 0 ? n - 1 : style.selection.last;
    auto selected = [&](qsizetype k) {
        return style.hasSelection && k >= selFirst && k <= selLast;
    };

    if (m_tilesUsable) {
        paintTiles(painter, y, scrollX, clipLeft, clipRight, text, i, x, style);
        return;
    }

    if (style.rest.isValid()) {
        painter.fillRect(wholeRow, style.rest);
    }
    painter.setFont(m_font);
    const int baseline = y + m_ascent;

    // A segment is a stretch of characters with one look (selection and run); inside it,
    // tabs split the text into pieces drawn at their own x.
    struct Piece {
        qsizetype start;
        qsizetype length;
        qint64 x;
    };
    std::vector<Piece> pieces;
    pieces.reserve(8);
    std::size_t runIndex = 0;
    const std::size_t noRun = style.runs.size();
    auto runAt = [&](qsizetype k) {
        while (runIndex < style.runs.size() && style.runs[runIndex].end <= k) {
            ++runIndex;
        }
        return runIndex < style.runs.size() && style.runs[runIndex].start <= k ? runIndex : noRun;
    };
    qint64 segmentX = x;
    bool segmentSelected = selected(i);
    std::size_t segmentRun = runAt(i);
    qsizetype pieceStart = i;
    qint64 pieceX = x;

    auto closePiece = [&](qsizetype end) {
        if (end > pieceStart) {
            pieces.push_back({pieceStart, end - pieceStart, pieceX});
        }
    };
    QFont bold = m_font;
    bold.setBold(true);
    auto flushSegment = [&](qint64 endX) {
        const RowStyle::Run* run = segmentRun != noRun ? &style.runs[segmentRun] : nullptr;
        const QColor& ink = run && run->text.isValid() ? run->text : style.text;
        const QColor& paper = run && run->background.isValid() ? run->background : style.background;
        const QColor& fg = segmentSelected ? paper : ink;
        const QColor& bg = segmentSelected ? ink : paper;
        const int left = int(segmentX - scrollX);
        if (segmentSelected || style.fillBackground || (run && run->background.isValid())) {
            painter.fillRect(QRect(left, y, int(endX - segmentX), m_lineHeight), bg);
        }
        painter.setPen(fg);
        if (run && run->bold) {
            painter.setFont(bold);
        }
        for (const Piece& piece : pieces) {
            drawPiece(painter, text, piece.start, piece.length, int(piece.x - scrollX), baseline);
        }
        if (run && run->bold) {
            painter.setFont(m_font);
        }
        if (run && run->underline) {
            painter.fillRect(
                QRect(left, y + std::min(m_ascent + 1, m_lineHeight - 1), int(endX - segmentX), 1),
                fg);
        }
        pieces.clear();
    };

    while (i < n && x < visibleRight) {
        const bool isSelected = selected(i);
        const std::size_t isRun = style.runs.empty() ? noRun : runAt(i);
        if (isSelected != segmentSelected || isRun != segmentRun) {
            closePiece(i);
            flushSegment(x);
            segmentX = x;
            segmentSelected = isSelected;
            segmentRun = isRun;
            pieceStart = i;
            pieceX = x;
        }
        const bool isTab = text[i] == u'\t';
        if (isTab) {
            closePiece(i);
        }
        i = step(text, i, x);
        if (isTab) {
            pieceStart = i;
            pieceX = x;
        }
    }
    closePiece(i);
    flushSegment(x);
}

std::shared_ptr<const LogRenderer::TileSet> LogRenderer::tileSet(const QColor& text,
                                                                 const QColor& background) const
{
    const quint64 key = (quint64(text.rgb() & 0xFFFFFF) << 24) | (background.rgb() & 0xFFFFFF);
    auto it = m_tileSets.find(key);
    if (it == m_tileSets.end()) {
        // A handful of colour pairs is normal (text, keywords, selection); a flood of them
        // only costs re-rendering, never more memory than the budget.
        if (m_tileSets.size() > 64 ||
            (std::size_t(m_tileSets.size()) + 1) * m_tileSetBytes > TileCacheBudget) {
            m_tileSets.clear();
        }
        it = m_tileSets.insert(key, std::make_shared<TileSet>());
    }
    std::shared_ptr<TileSet> held = *it;
    TileSet& tiles = *held;
    if (tiles.pixels.empty()) {
        std::size_t total = 0;
        for (int c = 0; c < 256; ++c) {
            tiles.offset[c] = static_cast<std::uint32_t>(total);
            total += std::size_t(std::max(1, m_latin1Advances[c])) * std::size_t(m_lineHeight);
        }
        tiles.pixels.resize(total);
        QImage tile;
        for (int c = 0; c < 256; ++c) {
            const int width = std::max(1, m_latin1Advances[c]);
            if (tile.width() != width) {
                tile = QImage(width, m_lineHeight, QImage::Format_RGB32);
            }
            tile.fill(background.rgb());
            if (m_latin1Glyphs[c] != 0) {
                QPainter painter(&tile);
                painter.setPen(text);
                QGlyphRun run;
                run.setRawFont(m_rawFont);
                run.setGlyphIndexes({m_latin1Glyphs[c]});
                run.setPositions({QPointF(0, m_ascent)});
                painter.drawGlyphRun(QPointF(0, 0), run);
            }
            QRgb* out = tiles.pixels.data() + tiles.offset[c];
            for (int line = 0; line < m_lineHeight; ++line, out += width) {
                const auto* in = reinterpret_cast<const QRgb*>(tile.constScanLine(line));
                std::copy_n(in, width, out);
            }
        }
    }
    return held;
}

std::size_t LogRenderer::tileCacheBytes() const
{
    std::size_t bytes = 0;
    for (const auto& tiles : m_tileSets) {
        bytes += tiles->pixels.size() * sizeof(QRgb);
    }
    return bytes;
}

LogRenderer::RowTarget LogRenderer::rowTarget() const
{
    // bits() detaches, so it is asked once per row, not once per cell line.
    return {reinterpret_cast<QRgb*>(m_row.bits()), m_row.bytesPerLine() / qsizetype(sizeof(QRgb)),
            0, m_row.width(), false};
}

std::optional<LogRenderer::RowTarget> LogRenderer::directTarget(QPainter& painter, int originX,
                                                                int y, int left, int right) const
{
    // Assembling the row in m_row and drawing it costs a second pass over every pixel;
    // when the device is an image (a widget's backing store, or any QImage) and the
    // painter would copy the row unchanged, the cells go straight to their place.
    QPaintEngine* engine = painter.paintEngine();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster || painter.hasClipping() ||
        painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver || right <= left) {
        return std::nullopt;
    }
    QPaintDevice* device = engine->paintDevice();
    if (device == nullptr || device->devType() != QInternal::Image) {
        return std::nullopt;
    }
    auto* image = static_cast<QImage*>(device);
    // A shared image would detach on bits(), leaving the engine painting the old copy.
    if ((image->format() != QImage::Format_RGB32 &&
         image->format() != QImage::Format_ARGB32_Premultiplied) ||
        !image->isDetached()) {
        return std::nullopt;
    }
    const QTransform transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxTranslate ||
        transform.dx() != std::trunc(transform.dx()) ||
        transform.dy() != std::trunc(transform.dy())) {
        return std::nullopt;
    }
    const QPoint offset(int(transform.dx()), int(transform.dy()));
    const QRect area = QRect(originX + left, y, right - left, m_lineHeight).translated(offset);
    // The system clip (the widget's exposed region, in device pixels) must hold the row.
    const QRegion clip = engine->systemClip();
    if (!image->rect().contains(area) ||
        (!clip.isEmpty() && !QRegion(area).subtracted(clip).isEmpty())) {
        return std::nullopt;
    }
    uchar* line = image->bits() + qsizetype(area.top()) * image->bytesPerLine();
    QRgb* bits = reinterpret_cast<QRgb*>(line) + area.left();
    return RowTarget{bits, image->bytesPerLine() / qsizetype(sizeof(QRgb)), left, right, true};
}

void LogRenderer::copyCell(const RowTarget& row, const TileSet& tiles, char16_t c, int x) const
{
    const int tileWidth = std::max(1, m_latin1Advances[c]);
    const int from = std::max(x, row.left);
    const int width = std::min(x + tileWidth, row.right) - from;
    if (width <= 0) {
        return;
    }
    const QRgb* source = tiles.pixels.data() + tiles.offset[c] + (from - x);
    QRgb* to = row.bits + (from - row.left);
    if (width == tileWidth && width < int(WholeCellCopies.size())) {
        WholeCellCopies[width](to, row.stride, source, m_lineHeight);
        return;
    }
    for (int line = 0; line < m_lineHeight; ++line) {
        copyPixels(to, source, width);
        to += row.stride;
        source += tileWidth;
    }
}

void LogRenderer::fillCell(const RowTarget& row, int x, int width, QRgb color) const
{
    const int from = std::max(x, row.left);
    width = std::min(x + width, row.right) - from;
    if (width <= 0) {
        return;
    }
    QRgb* to = row.bits + (from - row.left);
    for (int line = 0; line < m_lineHeight; ++line, to += row.stride) {
        std::fill_n(to, width, color);
    }
}

void LogRenderer::paintTiles(QPainter& painter, int y, qint64 scrollX, int clipLeft, int clipRight,
                             QStringView text, qsizetype i, qint64 documentX,
                             const RowStyle& style) const
{
    // Row coordinates from here: 0 is the first cell drawn, whose left edge lies at most a
    // cell (or a tab) left of the visible part, so they fit an int however long the line.
    const qsizetype n = text.size();
    const int originX = 0;
    int x = 0;
    const int visibleRight = int(scrollX + clipRight - documentX);
    const int visibleLeft = int(scrollX + clipLeft - documentX);
    const int painterX = int(documentX - scrollX);
    std::optional<RowTarget> direct =
        directTarget(painter, painterX, y, visibleLeft - originX, visibleRight - originX);
    if (!direct) {
        const int needed = visibleRight - originX + 2 * std::max(m_tabStop, 4 * m_lineHeight);
        if (m_row.width() < needed || m_row.height() != m_lineHeight) {
            m_row = QImage(std::max(needed, 256), m_lineHeight, QImage::Format_RGB32);
        }
    }
    RowTarget row = direct ? *direct : rowTarget();
    const std::shared_ptr<const TileSet> normal = tileSet(style.text, style.background);
    const std::shared_ptr<const TileSet> inverted =
        style.hasSelection ? tileSet(style.background, style.text) : nullptr;
    const qsizetype selFirst = style.selection.first;
    const qsizetype selLast = style.selection.last < 0 ? n - 1 : style.selection.last;

    // The look of the run the walk is in; runs ascend with the walk, so each is looked up
    // once, not once per character.
    struct Look {
        QColor text;
        QColor background;
        std::shared_ptr<const TileSet> normal;
        std::shared_ptr<const TileSet> inverted;
        bool bold = false;
        bool underline = false;
    };
    const Look rowLook{style.text, style.background, normal, inverted, false, false};
    Look runLook;
    const Look* look = &rowLook;
    std::size_t runIndex = 0;
    std::size_t lookRun = style.runs.size(); // the run runLook holds; size(): none
    auto lookAt = [&](qsizetype k) -> const Look* {
        const std::vector<RowStyle::Run>& runs = style.runs;
        while (runIndex < runs.size() && runs[runIndex].end <= k) {
            ++runIndex;
        }
        if (runIndex >= runs.size() || runs[runIndex].start > k) {
            return &rowLook;
        }
        if (lookRun != runIndex) {
            const RowStyle::Run& run = runs[runIndex];
            lookRun = runIndex;
            runLook.text = run.text.isValid() ? run.text : style.text;
            runLook.background = run.background.isValid() ? run.background : style.background;
            runLook.normal = tileSet(runLook.text, runLook.background);
            runLook.inverted =
                style.hasSelection ? tileSet(runLook.background, runLook.text) : nullptr;
            runLook.bold = run.bold;
            runLook.underline = run.underline;
        }
        return &runLook;
    };

    struct Other {
        qsizetype start;
        qsizetype end;
        int x;
        QColor pen;
        bool bold;
    };
    std::vector<Other> others;
    struct Underline {
        int left;
        int right;
        QColor color;
    };
    std::vector<Underline> underlines;
    while (i < n && x < visibleRight) {
        const bool selected = inverted != nullptr && i >= selFirst && i <= selLast;
        if (!style.runs.empty()) {
            look = lookAt(i);
        }
        const char16_t c = text[i].unicode();
        const int cellX = x;
        qint64 wideX = documentX + x; // tab stops count from the line's start
        const qsizetype next = step(text, i, wideX);
        x = int(wideX - documentX);
        if (!row.direct && x - originX > row.right) {
            m_row = m_row.copy(0, 0, 2 * (x - originX), m_lineHeight);
            row = rowTarget();
        }
        const QColor& pen = selected ? look->background : look->text;
        if (!look->bold && c < 256 && c != u'\t' && m_latin1Glyphs[c] != 0) {
            copyCell(row, selected ? *look->inverted : *look->normal, c, cellX - originX);
        } else {
            fillCell(row, cellX - originX, x - cellX,
                     (selected ? look->text : look->background).rgb());
            if (c != u'\t') {
                others.push_back({i, next, cellX, pen, look->bold});
            }
        }
        if (look->underline) {
            if (!underlines.empty() && underlines.back().right == cellX &&
                underlines.back().color == pen) {
                underlines.back().right = x;
            } else {
                underlines.push_back({cellX, x, pen});
            }
        }
        i = next;
    }
    // The rest of the row goes into the same image: one copy to the device instead of an
    // erase of the whole row followed by the text over it.
    int end = x;
    if (style.rest.isValid() && x < visibleRight) {
        fillCell(row, x - originX, visibleRight - x, style.rest.rgb());
        end = visibleRight;
    }
    if (!row.direct) {
        painter.drawImage(QPoint(painterX + originX, y), m_row,
                          QRect(0, 0, end - originX, m_lineHeight));
    }
    if (!others.empty()) {
        QFont bold = m_font;
        bold.setBold(true);
        bool boldSet = false;
        painter.setFont(m_font);
        for (const Other& other : others) {
            if (other.bold != boldSet) {
                painter.setFont(other.bold ? bold : m_font);
                boldSet = other.bold;
            }
            painter.setPen(other.pen);
            painter.drawText(QPoint(painterX + other.x, y + m_ascent),
                             text.sliced(other.start, other.end - other.start).toString());
        }
    }
    const int underlineY = y + std::min(m_ascent + 1, m_lineHeight - 1);
    for (const Underline& line : underlines) {
        painter.fillRect(QRect(painterX + line.left, underlineY, line.right - line.left, 1),
                         line.color);
    }
}

void LogRenderer::drawPiece(QPainter& painter, QStringView text, qsizetype start, qsizetype length,
                            int x, int baseline) const
{
    m_glyphs.resize(length);
    m_positions.resize(length);
    int pen = x;
    bool simple = m_rawFont.isValid();
    for (qsizetype k = 0; simple && k < length; ++k) {
        const char16_t c = text[start + k].unicode();
        const quint32 glyph = c < 256 ? m_latin1Glyphs[c] : 0;
        if (glyph == 0) {
            simple = false;
            break;
        }
        m_glyphs[k] = glyph;
        m_positions[k] = QPointF(pen - x, 0);
        pen += m_latin1Advances[c];
    }
    if (!simple) {
        painter.drawText(QPoint(x, baseline), text.sliced(start, length).toString());
        return;
    }
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(m_glyphs);
    run.setPositions(m_positions);
    run.setUnderline(m_font.underline());
    run.setStrikeOut(m_font.strikeOut());
    // Qt places the underline and the strike-out relative to this point, not to the
    // glyphs: the positions are relative to the piece's own baseline start.
    painter.drawGlyphRun(QPointF(x, baseline), run);
}

QFont LogRenderer::fontFromRecord(const LogFontRecord& record)
{
    QString face = faceName(record);
    const bool wantsFixed = face.isEmpty() ||
                            face.compare(u"Courier New", Qt::CaseInsensitive) == 0 ||
                            (record.lfPitchAndFamily & 0x03) == FixedPitch ||
                            (record.lfPitchAndFamily & FamilyMask) == FamilyModern;
    QFont font;
    if (!face.isEmpty()) {
        font.setFamily(face);
    }
    font.setStyleHint(wantsFixed ? QFont::TypeWriter : QFont::AnyStyle);
    // 64-bit: the negation of the smallest 32-bit height does not fit in 32 bits.
    const std::int64_t height = record.lfHeight;
    if (height < 0) {
        font.setPixelSize(static_cast<int>(std::min<std::int64_t>(-height, MaxFontPixels)));
    } else if (height > 0) {
        // A positive height is the cell height (ascent plus descent); the character height
        // is about 7/8 of it for the usual text faces.
        const std::int64_t pixels = std::max<std::int64_t>(1, std::llround(height * 7.0 / 8.0));
        font.setPixelSize(static_cast<int>(std::min<std::int64_t>(pixels, MaxFontPixels)));
    }
    if (record.lfWeight > 0) {
        font.setWeight(static_cast<QFont::Weight>(std::clamp(record.lfWeight, 1, 1000)));
    }
    font.setItalic(record.lfItalic != 0);
    font.setUnderline(record.lfUnderline != 0);
    font.setStrikeOut(record.lfStrikeOut != 0);
    font.setKerning(false);
    // Fully hinted glyphs advance by whole pixels, as the text is measured: a run of
    // characters then ends exactly where the sum of their widths says, so selections, the
    // caret and pieces drawn after a tab line up with the glyphs however long the line.
    font.setHintingPreference(QFont::PreferFullHinting);
    if (wantsFixed && (face.isEmpty() || !LogRenderer::isMonospaced(font))) {
        const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setFamilies({fixed.family()});
    }
    return font;
}

LogFontRecord LogRenderer::recordFromFont(const QFont& font, int logicalDpiY)
{
    LogFontRecord record;
    int pixels = font.pixelSize();
    if (pixels <= 0) {
        pixels = static_cast<int>(std::lround(font.pointSizeF() * logicalDpiY / 72.0));
    }
    record.lfHeight = -std::max(1, pixels);
    record.lfWeight = font.weight();
    record.lfItalic = font.italic() ? 1 : 0;
    record.lfUnderline = font.underline() ? 1 : 0;
    record.lfStrikeOut = font.strikeOut() ? 1 : 0;
    if (isMonospaced(font)) {
        record.lfPitchAndFamily = FixedPitch | FamilyModern;
    }
    const QString face = font.family();
    // The last unit stays the terminating zero; a pair is never cut in half.
    qsizetype length = std::min<qsizetype>(face.size(), std::size(record.lfFaceName) - 1);
    if (length > 0 && length < face.size() && face.at(length - 1).isHighSurrogate()) {
        --length;
    }
    std::copy_n(reinterpret_cast<const char16_t*>(face.utf16()), length, record.lfFaceName);
    return record;
}

bool LogRenderer::isMonospaced(const QFont& font)
{
    // By the advances, not by the font's pitch flag: fontconfig marks some monospaced
    // faces (Noto Sans Mono) as proportional because of a few wide symbols.
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QLatin1Char('W'));
    return width > 0 && metrics.horizontalAdvance(QLatin1Char('i')) == width &&
           metrics.horizontalAdvance(QLatin1Char('.')) == width;
}

LogFontRecord LogRenderer::defaultFontRecord(int logicalDpiY)
{
    LogFontRecord record;
    record.lfHeight = -static_cast<std::int32_t>(std::lround(10.0 * logicalDpiY / 72.0));
    const std::u16string_view face = u"Courier New";
    std::copy(face.begin(), face.end(), record.lfFaceName);
    return record;
}

LogRenderer::RowStyle LogRenderer::rowStyle(ColorRef text, ColorRef background, bool matched,
                                            ColorRef keywordText, ColorRef keywordBackground,
                                            const DocSelection& selection, LineNumber row)
{
    RowStyle style;
    style.rest = quill::colorFromRef(background);
    style.text = quill::colorFromRef(matched ? keywordText : text);
    style.background = matched ? quill::colorFromRef(keywordBackground) : style.rest;
    style.fillBackground = matched && keywordBackground != background;
    if (selection.valid && selection.startLine <= row && row <= selection.endLine) {
        style.hasSelection = true;
        style.selection.first = row == selection.startLine ? selection.startCol : 0;
        style.selection.last = row == selection.endLine ? selection.endCol : -1;
    }
    return style;
}

void LogRenderer::clipToPart(RowStyle& style, qsizetype start, qsizetype end)
{
    if (style.hasSelection) {
        const qsizetype first = std::max(style.selection.first, start);
        const bool throughEnd = style.selection.last < 0 || style.selection.last >= end - 1;
        const qsizetype last = throughEnd ? end - 1 : style.selection.last;
        if (first > last) {
            style.hasSelection = false;
        } else {
            style.selection.first = first - start;
            style.selection.last = style.selection.last < 0 ? -1 : last - start;
        }
    }
    std::erase_if(style.runs,
                  [&](const RowStyle::Run& run) { return run.end <= start || run.start >= end; });
    for (RowStyle::Run& run : style.runs) {
        run.start = std::max(run.start, start) - start;
        run.end = std::min(run.end, end) - start;
    }
}

void LogRenderer::setLayeredRuns(RowStyle& style, const StyleRuns& terminal,
                                 const StyleRuns& matches)
{
    if (!matches.empty()) {
        setRuns(style, terminal.empty() ? matches : overlayRuns(terminal, matches));
    } else if (!terminal.empty()) {
        setRuns(style, terminal);
    }
}

void LogRenderer::setRuns(RowStyle& style, const StyleRuns& runs)
{
    style.runs.clear();
    style.runs.reserve(runs.size());
    for (const StyleRun& run : runs) {
        RowStyle::Run out;
        out.start = qsizetype(run.start);
        out.end = qsizetype(run.end);
        if (run.hasText) {
            out.text = quill::colorFromRef(run.text);
        }
        if (run.hasBackground) {
            out.background = quill::colorFromRef(run.background);
        }
        out.bold = run.bold;
        out.underline = run.underline;
        style.runs.push_back(out);
    }
}
