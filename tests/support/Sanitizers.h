#pragma once

// Random model tests run fewer rounds in the sanitizer trees: there a round costs ten to
// thirty times what it costs in an optimised build, and the faults a sanitizer finds show in
// the first rounds as well as in the last.

#include <algorithm>

namespace quilltest {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool UnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool UnderSanitizer = true;
#else
inline constexpr bool UnderSanitizer = false;
#endif
#else
inline constexpr bool UnderSanitizer = false;
#endif

// `rounds` in an ordinary build, a quarter of them (at least one) under a sanitizer.
constexpr int rounds(int rounds)
{
    return UnderSanitizer ? std::max(1, rounds / 4) : rounds;
}

} // namespace quilltest
