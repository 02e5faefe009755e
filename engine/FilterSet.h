#pragma once

// What the filter view shows: the lines that match the include term (every line when it
// has none) and none of the exclude terms. Plain values; thread-safe to copy.
//
// A literal term matches a line as Find would find its text there: the line's text as
// line gives it; without matchCase the letters A-Z and a-z compare equal (other letters
// exactly); with wholeWord an occurrence counts only between word delimiters (TAB, blank,
// comma, semicolon, colon, backslash, slash, period, or the line's ends).
//
// A regular-expression term is a PCRE2 pattern matched against each line's characters
// without the line end, UTF-aware in both encodings: without matchCase it is caseless
// (Unicode case folding); ^ and $ match at the line's ends; a lone CR inside a line counts
// as a line break to '.', ^ and $; bytes that are not valid text (broken UTF-8, unpaired
// surrogates) match no character. With wholeWord the match must start at the line's start
// or after a word delimiter and end at its end or before one.

#include <cstddef>
#include <string>
#include <vector>

struct FilterTerm {
    std::u16string text; // empty: no term
    bool matchCase = false;
    bool wholeWord = false;
    bool regularExpression = false;
    bool operator==(const FilterTerm&) const = default;
};

struct FilterSet {
    FilterTerm include;
    std::vector<FilterTerm> excludes;

    // Neither an include text nor any exclude text: the filter shows every line, which is
    // no filter at all.
    bool isEmpty() const
    {
        if (!include.text.empty()) {
            return false;
        }
        for (const FilterTerm& term : excludes) {
            if (!term.text.empty()) {
                return false;
            }
        }
        return true;
    }
    bool operator==(const FilterSet&) const = default;
};

// A term that cannot be used: a regular expression that does not compile.
struct FilterError {
    bool exclude = false; // which term: the include, or excludes[excludeIndex]
    std::size_t excludeIndex = 0;
    std::u16string message; // PCRE2's text, in English
    std::size_t offset = 0; // where in the term's text (UTF-16 code units) it failed
};
