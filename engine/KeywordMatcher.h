#pragma once

// Which keyword colours a line. Pure functions of a keyword list and a line's text (the
// text of line, without terminator); thread-safe as long as the list is not changed.

#include "engine/StyleRuns.h"
#include "settings/Keyword.h"

#include <string_view>
#include <vector>

// TAB, blank, comma, semicolon, colon, backslash, slash, period.
bool isWordDelimiter(char16_t character);

// The occurrence of length characters at position stands as a whole word: the character
// after it is the end of the line or a delimiter, and it starts the line or follows a
// delimiter.
bool wholeWordAt(std::u16string_view line, std::size_t length, std::size_t position);

// The first enabled keyword of the list that colours whole lines, in list order, whose text
// occurs in the line
// (without match case the letters a-z and A-Z compare equal; other letters exactly). With
// match word only the first occurrence is tested. nullptr when none matches.
const Keyword* findKeyword(const std::vector<Keyword>& keywords, std::u16string_view line);

// Sets textColor and bkColor to the matching keyword's colours and matched to true; leaves
// all three alone when no keyword matches (the caller presets them).
void keywordColors(const std::vector<Keyword>& keywords, std::u16string_view line,
                   ColorRef& textColor, ColorRef& bkColor, bool& matched);

// The characters in [from, to) of the line that enabled match-only keywords colour: every
// occurrence of each such keyword (occurrences may overlap; with match word only those
// that stand as whole words), in that keyword's colours, and where the occurrences of two
// keywords cover the same character the one earlier in the list wins. Only occurrences
// that reach into [from, to) are looked at, so a view pays for the part it shows.
void matchRuns(const std::vector<Keyword>& keywords, std::u16string_view line, std::size_t from,
               std::size_t to, StyleRuns& runs);
