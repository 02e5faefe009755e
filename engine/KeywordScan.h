#pragma once

// KeywordScan: which lines of a run of whole lines a keyword colours, and which keyword,
// by exactly the rule of KeywordMatcher (findKeyword on a line's text as line gives it,
// without its terminator), in one pass over the run's bytes for all keywords together.
//
// The bytes of every keyword that colours lines are searched for at once (MultiPattern); a
// line without a hit holds none of them. Where a hit is an occurrence by itself (UTF-8 text,
// see BytePattern::exact; and no escape character in the line while terminal colours hide
// sequences) the line is settled on its bytes: the first keyword of the list with a hit in
// it whose first hit there stands as a whole word when the keyword asks for one. Any other
// line with a hit, and every line with an escape character while terminal colours are on,
// is decoded and findKeyword decides. When some keyword's bytes cannot be predicted (empty
// text, a multi-byte set other than UTF-8, U+FFFD or the lone-CR symbol in the text) every
// line is decoded.
//
// The first scan() tunes the search to the text (MultiPattern::tune on its first bytes): a
// file's first lines tell which of a keyword's bytes are rare in it.
//
// One object per thread: scan() keeps its buffers between calls.

#include "engine/DocumentTypes.h"
#include "engine/MultiPattern.h"
#include "engine/ShownText.h"
#include "platform/TextEncoding.h"
#include "settings/Keyword.h"

#include <cstdint>
#include <string>
#include <vector>

class KeywordScan {
  public:
    struct Line {
        std::uint32_t row = 0;     // of the run
        std::uint32_t keyword = 0; // index in the list
        bool operator==(const Line&) const = default;
    };

    // form: how the document's lines decode (its encodingForm(), not Automatic); showing: how its
    // lines are shown (engine/ShownText.h); terminal: without their control sequences.
    KeywordScan(std::vector<Keyword> keywords, quill::TextEncoding form,
                const TextShowing& showing);
    KeywordScan(std::vector<Keyword> keywords, quill::TextEncoding form, bool terminal)
        : KeywordScan(std::move(keywords), form, TextShowing{terminal})
    {
    }

    // Appends the coloured lines of the run, rows ascending. bytes[0] is the byte at
    // starts[0]; starts holds count + 1 offsets, the last where the last line's bytes end
    // (a line cut short is judged on the bytes it has).
    void scan(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count,
              std::vector<Line>& lines);

    // The keywords' bytes are searched (false: every line is decoded).
    bool presearch() const { return m_presearch; }
    // Tests: without the vector search (see MultiPattern).
    void setVectorAllowed(bool allowed) { m_patterns.setVectorAllowed(allowed); }

  private:
    struct Needle {
        std::uint32_t keyword = 0;
        std::size_t length = 0; // bytes
        bool exact = false;     // a hit is an occurrence in the line's text
        bool wholeWord = false;
    };
    void decodeLine(const std::uint8_t* bytes, const FileOffset* starts, std::size_t row,
                    std::vector<Line>& lines);
    // The occurrence at `at` of `length` bytes in the line [lineStart, lineEnd) stands as a
    // whole word (KeywordMatcher's rule).
    static bool standsAsWord(const std::uint8_t* bytes, std::size_t lineStart, std::size_t lineEnd,
                             std::size_t at, std::size_t length);
    // Settles row from its hits (m_lineNeedles, m_first), decoding it where they do not tell.
    void settle(const std::uint8_t* bytes, const FileOffset* starts, std::size_t row,
                std::vector<Line>& lines);

    std::vector<Keyword> m_keywords;
    quill::TextEncoding m_form;
    bool m_terminal;
    TextShowing m_showing;
    bool m_presearch = true;
    bool m_tuned = false;
    MultiPattern m_patterns;
    std::vector<Needle> m_needles; // by pattern index, in list order
    std::vector<MultiPattern::Hit> m_hits;
    std::vector<std::uint32_t> m_escapeRows;
    std::vector<std::uint64_t> m_seen; // by needle: the line stamp of its last hit
    std::vector<std::size_t> m_first;  // by needle: its first hit in the current line
    std::vector<std::uint32_t> m_lineNeedles;
    std::uint64_t m_stamp = 0;
    std::u16string m_text;
};
