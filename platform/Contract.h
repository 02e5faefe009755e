#pragma once

// Contract checks at the places where an invariant is born: a selection the view makes, a
// block the index starts, a find position, a row the filter hands over. A broken one stops
// the program at once with the condition and its place, where the fault is, instead of a
// wrong line or a crash somewhere later.
//
// Active in Debug builds and wherever QUILL_CONTRACTS is defined (the test trees define
// it: `-DQUILL_CONTRACTS=ON`); otherwise the condition is not even evaluated, so a check
// may cost what it needs to.

#if !defined(NDEBUG) || defined(QUILL_CONTRACTS)
#define QUILL_ASSERT(condition)                                                                \
    ((condition) ? static_cast<void>(0) : ::quill::contractBroken(#condition, __FILE__, __LINE__))
#else
#define QUILL_ASSERT(condition) static_cast<void>(sizeof(!(condition)))
#endif

namespace quill {

// Writes "contract broken: <condition> at <file>:<line>" to standard error and aborts.
[[noreturn]] void contractBroken(const char* condition, const char* file, int line) noexcept;

} // namespace quill
