#pragma once

// Stretches of a line's characters drawn in their own style: the colours of terminal
// escape sequences, or of the keywords that colour only their matches. Plain data, no Qt;
// the view turns them into colours. Thread-safe (pure functions).

#include "settings/Keyword.h"

#include <cstddef>
#include <vector>

struct StyleRun {
    // Characters [start, end) of the line as shown.
    std::size_t start = 0;
    std::size_t end = 0;
    // A colour that is absent leaves the one underneath (the line's own) in place.
    bool hasText = false;
    bool hasBackground = false;
    ColorRef text = 0;
    ColorRef background = 0;
    bool bold = false;
    bool underline = false;

    bool operator==(const StyleRun&) const = default;
    // The same look, wherever it lies.
    bool sameStyle(const StyleRun& other) const
    {
        return hasText == other.hasText && hasBackground == other.hasBackground &&
               (!hasText || text == other.text) &&
               (!hasBackground || background == other.background) && bold == other.bold &&
               underline == other.underline;
    }
};

// Runs in ascending order that neither overlap nor are empty.
using StyleRuns = std::vector<StyleRun>;

// Where a run of top covers a character, that run's style holds there; elsewhere base's.
// Both in the form above; so is the result.
StyleRuns overlayRuns(const StyleRuns& base, const StyleRuns& top);
