#pragma once

// A text every match of a regular expression holds, read from the pattern (PCRE2's syntax)
// so that a search for it can pass over the lines that cannot match: the longest run of
// plain ASCII characters outside every group, class and alternative. Read conservatively:
// a construct it does not know ("(?", most letter escapes, a top-level '|') gives nothing,
// and nothing is never wrong. Caseless: the run is folded to lower case, and stops at k and
// s, which match characters beyond ASCII (the Kelvin sign, the long s) without their case.

#include <string>
#include <string_view>

std::string RequiredLiteral(std::u16string_view pattern, bool caseless);
