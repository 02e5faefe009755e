#include "view/FindHighlight.h"

#include "engine/LineText.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quill {

namespace {

double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) +
           0.0722 * channel(rgb.blue());
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

double colorDistance(const QColor& a, const QColor& b)
{
    const QColor x = a.toRgb();
    const QColor y = b.toRgb();
    const double mean = (x.red() + y.red()) / 2.0;
    const double dr = x.red() - y.red();
    const double dg = x.green() - y.green();
    const double db = x.blue() - y.blue();
    return std::sqrt((2 + mean / 256) * dr * dr + 4 * dg * dg + (2 + (255 - mean) / 256) * db * db);
}

MatchLook otherMatchLook(const QColor& rowText, const QColor& rowBackground)
{
    // Light tints carry black text and dark ones white, so the text is always readable;
    // which tint a row gets is the one farthest from whichever of its two colours is
    // nearer, so it neither melts into the line nor looks like the current match.
    static const std::array<QColor, 4> tints{QColor(255, 200, 0), QColor(90, 200, 255),
                                             QColor(110, 40, 170), QColor(230, 230, 230)};
    const QColor* best = &tints[0];
    double bestDistance = -1;
    for (const QColor& tint : tints) {
        const double distance =
            std::min(colorDistance(tint, rowBackground), colorDistance(tint, rowText));
        if (distance > bestDistance) {
            bestDistance = distance;
            best = &tint;
        }
    }
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    return {contrastRatio(*best, black) >= contrastRatio(*best, white) ? black : white, *best};
}

void overlaySpans(std::vector<LogRenderer::RowStyle::Run>& runs,
                  const std::vector<std::pair<qsizetype, qsizetype>>& spans, const MatchLook& look)
{
    if (spans.empty()) {
        return;
    }
    using Run = LogRenderer::RowStyle::Run;
    std::vector<Run> out;
    out.reserve(runs.size() + spans.size() * 2);
    std::size_t k = 0;
    for (const Run& run : runs) {
        // Spans that end at or before this run's start end before every later run too.
        while (k < spans.size() && spans[k].second <= run.start) {
            ++k;
        }
        qsizetype at = run.start;
        for (std::size_t j = k; at < run.end; ++j) {
            if (j >= spans.size() || spans[j].first >= run.end) {
                Run piece = run;
                piece.start = at;
                out.push_back(piece);
                break;
            }
            if (spans[j].first > at) {
                Run piece = run;
                piece.start = at;
                piece.end = spans[j].first;
                out.push_back(piece);
            }
            at = std::max(at, spans[j].second);
        }
    }
    for (const auto& [start, end] : spans) {
        Run run;
        run.start = start;
        run.end = end;
        run.text = look.text;
        run.background = look.background;
        out.push_back(run);
    }
    std::sort(out.begin(), out.end(), [](const Run& a, const Run& b) { return a.start < b.start; });
    runs = std::move(out);
}

} // namespace quill

bool FindHighlight::set(const std::u16string& text, unsigned flags)
{
    const unsigned kept = flags & (SearchMatchCase | SearchWholeWord);
    if (text == m_text && kept == m_flags) {
        return false;
    }
    m_text = text;
    m_flags = kept;
    m_pattern = text;
    if (!(kept & SearchMatchCase)) {
        foldAsciiCase(m_pattern);
    }
    return true;
}

void FindHighlight::apply(std::u16string_view text, qsizetype from, qsizetype to,
                          LogRenderer::RowStyle& style)
{
    const qsizetype length = qsizetype(m_pattern.size());
    const qsizetype n = qsizetype(text.size());
    from = std::max<qsizetype>(0, from);
    to = std::min(n, to);
    if (length == 0 || from >= to) {
        return;
    }
    // Occurrences that reach in from either side, and the characters around them that
    // decide a whole word.
    const qsizetype begin = std::max<qsizetype>(0, from - length);
    const qsizetype end = std::min(n, to + length);
    if (end - begin < length) {
        return;
    }
    m_fold.assign(text.substr(std::size_t(begin), std::size_t(end - begin)));
    if (!(m_flags & SearchMatchCase)) {
        foldAsciiCase(m_fold);
    }
    const bool wholeWord = (m_flags & SearchWholeWord) != 0;
    m_spans.clear();
    for (std::int64_t col = 0;;) {
        col = findInLineForward(m_fold, m_pattern, col, wholeWord);
        if (col < 0) {
            break;
        }
        const qsizetype start = begin + qsizetype(col);
        const qsizetype stop = start + length;
        col += length;
        if (start >= to) {
            break;
        }
        if (stop <= from) {
            continue;
        }
        const bool current = style.hasSelection && style.selection.first == start &&
                             style.selection.last == stop - 1;
        if (!current) {
            m_spans.emplace_back(start, stop);
        }
    }
    if (!m_spans.empty()) {
        quill::overlaySpans(style.runs, m_spans,
                            quill::otherMatchLook(style.text, style.background));
    }
}
