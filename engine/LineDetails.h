#pragma once

// LineDetails: what View > Line Details shows of one log line. A line's structure is looked
// for in this order:
//
// 1. JSON objects, anywhere in the line (after its time and level, or alone). Each '{' is a
//    candidate; one that reads whole is taken and the search goes on after it, so a line may
//    hold several. One that fails is passed over from where reading stopped, so the members
//    of a broken object are never shown as objects of their own. A failed candidate whose
//    '{' is followed by a quote (a member's name) was meant as JSON: the first such failure
//    is kept, to show where reading stopped.
// 2. Without an object and without such a failure: key=value pairs in the logfmt manner. A
//    pair starts at the line's start or after a blank; its key is a letter or '_' followed
//    by letters, digits, '_', '.', '-'; its value is either quoted (with \" \\ \n \t \r
//    escapes; any other backslash stays as it is) or runs to the next blank, and may be
//    empty. Words that are not pairs (the time, the level, the message) are passed over.
//    An unterminated quote ends the search: what follows it is inside the quote.
//
// Bounds: at most MaxObjects objects and MaxPairs pairs a line; each object is read under
// JsonText's bounds. Pure functions; thread-safe.

#include "engine/JsonText.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct KeyValue {
    std::u16string key;
    std::u16string value;   // unescaped when quoted
    std::size_t offset = 0; // the key's first code unit in the line
    bool operator==(const KeyValue&) const = default;
};

// The key=value pairs of a line, in line order.
std::vector<KeyValue> splitKeyValues(std::u16string_view line);

struct LineDetails {
    static constexpr std::size_t MaxObjects = 16;
    static constexpr std::size_t MaxPairs = 4096;

    enum class Kind { Nothing, Json, KeyValues, AlmostJson };
    Kind kind = Kind::Nothing;
    std::vector<JsonDocument> objects;
    std::vector<KeyValue> pairs;
    // The first candidate meant as JSON that failed (fault None: there was none). Kept with
    // Json too, when such a candidate follows the objects.
    JsonError error;
};

LineDetails analyzeLine(std::u16string_view line);

// The details as lines to show: the objects (Display style, a blank line between two), or
// the pairs as "key: value" (a line feed in a value goes on a deeper line). Nothing and
// AlmostJson print nothing: their words are the caller's.
std::vector<PrintedLine> detailLines(const LineDetails& details);

// A piece of the line around an offset, with the column of the offset in it: for showing
// where reading stopped with a caret under it. The piece takes at most `radius` code units
// either side, on one line: characters below U+0020 show as spaces, so the caret's column
// stays that of the offset.
struct Excerpt {
    std::u16string text;
    std::size_t caret = 0;       // in code units
    std::size_t caretColumn = 0; // in characters: a surrogate pair is one
    bool cutBefore = false;      // the line goes on before the piece
    bool cutAfter = false;       // and after it
};
Excerpt excerptAt(std::u16string_view line, std::size_t offset, std::size_t radius = 30);
