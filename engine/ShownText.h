#pragma once

// A decoded line as the view shows it: without its control sequences while terminal colours
// are on (engine/SgrParser.h), and with its carriage returns as a terminal shows them.
//
// Carriage returns. A progress line (apt, wget, curl) writes each state over the one before
// with a carriage return. A terminal moves back to the first column there and writes on:
// each later character takes the column of the one it lands on, and where a later state is
// shorter, the end of a longer one before it stays in sight. So does the view: column c
// shows the character at c of the last state (the text between two carriage returns) that
// reaches c. A column is a character (a surrogate pair is one; a tab one, as the view keeps
// tabs in the text). The terminator (LF, CR LF, or a CR that ends the bytes, the first half
// of a CR LF still being written) is no carriage return of the text: a CR LF file shows as
// it always did. With control characters shown instead, each carriage return inside the
// line stays one column, drawn as a symbol; a copy takes the carriage return itself.
//
// Sequences are taken out before the carriage returns are applied: a sequence takes no
// column on a terminal. Pure functions; thread-safe.

#include "engine/LineText.h"
#include "engine/StyleRuns.h"
#include "platform/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <string>

// How the lines' text is shown.
struct TextShowing {
    bool terminal = false; // terminal colours: complete sequences hidden
    bool controls = false; // carriage returns shown, not applied
    // What a shown carriage return becomes; 0 keeps the carriage return (a copy's text).
    char16_t crSymbol = LoneCrSymbol;
    bool operator==(const TextShowing&) const = default;
};

// Shows a line as decodeLineBytes decoded it, terminator included (kept at the end). With
// runs, they are the styles of the text as shown (empty without terminal colours). Returns
// the length of the text before its terminator: a carriage return kept as it is (crSymbol
// 0) may now stand just before it and is still the text's.
std::size_t showLineText(std::u16string& text, StyleRuns* runs, const TextShowing& showing);

// Applies the carriage returns of a line's text (no terminator) as a terminal does; runs,
// when not null, follow their characters.
void overwriteCarriageReturns(std::u16string& text, StyleRuns* runs);

// The first carriage return in [p, end) that lies inside a line, not in its terminator: not
// followed by a line feed (one at `end` counts, what follows is not known); in UTF-16 a
// code unit, p being at the start of one. nullptr when there is none.
const std::uint8_t* findInnerCarriageReturn(const std::uint8_t* p, const std::uint8_t* end,
                                            quill::TextEncoding form);
