#pragma once

// One highlighting keyword. A plain record with no behaviour, so the settings store can
// build and persist it without depending on the engine library; matching lives in
// engine/KeywordMatcher.h.

#include <cstdint>
#include <string>

using ColorRef = std::uint32_t; // 0x00BBGGRR

class CKeyword {
public:
    // What the Keywords page starts a new keyword with.
    CKeyword() = default;
    // What LoadKeywords builds from a stored entry.
    // The text is copied, not moved: GCC 12 at -O2 reports moved-from temporaries here as
    // "maybe uninitialized", which -Werror turns into a broken build.
    CKeyword(const std::u16string& text, ColorRef textColor, ColorRef bkColor, bool matchCase,
             bool matchWord, bool enabled)
        : m_strText(text), m_bMatchCase(matchCase), m_bMatchWord(matchWord),
          m_bEnabled(enabled), m_crTextColor(textColor), m_crBkColor(bkColor) {}

    bool operator==(const CKeyword&) const = default;

    std::u16string m_strText;
    bool m_bMatchCase = false;
    bool m_bMatchWord = false;
    bool m_bEnabled = true;
    ColorRef m_crTextColor = 0;
    ColorRef m_crBkColor = 0;
};
