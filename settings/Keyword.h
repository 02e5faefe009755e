#pragma once

// One highlighting keyword. A plain record with no behaviour, so the settings store can
// build and persist it without depending on the engine library; matching lives in
// engine/KeywordMatcher.h.

#include <cstdint>
#include <string>

using ColorRef = std::uint32_t; // 0x00BBGGRR

class Keyword {
  public:
    // What the Keywords page starts a new keyword with.
    Keyword() = default;
    // What loadKeywords builds from a stored entry.
    // The text is copied, not moved: GCC 12 at -O2 reports moved-from temporaries here as
    // "maybe uninitialized", which -Werror turns into a broken build.
    Keyword(const std::u16string& word, ColorRef fore, ColorRef back, bool caseSensitive,
            bool wholeWord, bool on)
        : text(word), matchCase(caseSensitive), matchWord(wholeWord), enabled(on), textColor(fore),
          backgroundColor(back)
    {
    }

    bool operator==(const Keyword&) const = default;

    std::u16string text;
    bool matchCase = false;
    bool matchWord = false;
    bool enabled = true;
    ColorRef textColor = 0;
    ColorRef backgroundColor = 0;
    // Colours only the text each occurrence covers, in every line, instead of the line;
    // such a keyword never decides a line's own colours.
    bool matchOnly = false;
};
