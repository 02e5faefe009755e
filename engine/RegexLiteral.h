#pragma once

// A text every match of a regular expression holds, read from the pattern (PCRE2's syntax)
// so that a search for it can pass over the lines that cannot match: the weightiest run of
// plain ASCII characters and small classes of them, outside every group, repeat and
// alternative. A class stands at its place for the bytes it may be there ("t0[34]" names a
// fifth of the lines "t0" does). read conservatively: a construct it does not know ("(?",
// most letter escapes, a top-level '|') gives nothing, a class it does not know ends the
// run, and nothing is never wrong. Caseless: the run is folded to lower case, and stops at
// k and s, which match characters beyond ASCII (the Kelvin sign, the long s) without their
// case.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// At each place of the text, the bytes it may be there: one for a plain character, up to
// MaxClassBytes for a class.
using RequiredText = std::vector<std::string>;
constexpr std::size_t MaxClassBytes = 16;

RequiredText requiredLiteral(std::u16string_view pattern, bool caseless);

// How much a required text narrows a search: two for each plain byte, one for each class.
std::size_t requiredWeight(const RequiredText& text);
