#pragma once

// How the occurrences of Find's text look in a pane. The current match is the selection and
// is drawn as every selection is (the row's colours inverted); every other occurrence gets
// a tint of its own, opaque, with black or white text, chosen per row so that it stands
// apart from both the row's background and its text (which the current match shows as
// background), whatever colours a keyword, a mark or the terminal gave the row.
//
// FindHighlight keeps the text and options of one pane's highlight and turns the
// occurrences in a stretch of a line into style runs. User-interface thread only.

#include "engine/DocumentTypes.h"
#include "view/LogRenderer.h"

#include <QColor>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quill {

// The WCAG contrast ratio of two colours (1 to 21).
double contrastRatio(const QColor& a, const QColor& b);
// A perceptual distance of two colours ("redmean" weighted RGB; 0 to about 765).
double colorDistance(const QColor& a, const QColor& b);

struct MatchLook {
    QColor text;
    QColor background;
};
// The look of the occurrences that are not the current one on a row drawn in these colours.
MatchLook otherMatchLook(const QColor& rowText, const QColor& rowBackground);

// Lays the spans [first, second) (ascending, not overlapping) over the runs in one look.
void overlaySpans(std::vector<LogRenderer::RowStyle::Run>& runs,
                  const std::vector<std::pair<qsizetype, qsizetype>>& spans, const MatchLook& look);

} // namespace quill

class FindHighlight {
  public:
    // flags: SearchMatchCase, SearchWholeWord. False when nothing changed.
    bool set(const std::u16string& text, unsigned flags);
    bool isEmpty() const { return m_pattern.empty(); }
    const std::u16string& text() const { return m_text; }
    unsigned flags() const { return m_flags; }
    // Longest reach of an occurrence (a caller keeps this much text around what it draws).
    qsizetype reach() const { return qsizetype(m_pattern.size()) + 1; }

    // Adds the look of the occurrences that reach into characters [from, to) of text (line
    // `line`'s characters from column `firstColumn` on) to the style, whose selection is in
    // the same columns as text; the occurrence that the selection covers exactly stays the
    // selection's.
    void apply(std::u16string_view text, qsizetype from, qsizetype to,
               LogRenderer::RowStyle& style);

  private:
    std::u16string m_text;
    std::u16string m_pattern; // folded when the case is ignored
    unsigned m_flags = 0;
    std::u16string m_fold;
    std::vector<std::pair<qsizetype, qsizetype>> m_spans;
};
