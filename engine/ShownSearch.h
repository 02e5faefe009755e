#pragma once

// Where the text shown with terminal colours on may hold a literal, worked out from the
// bytes of whole lines of a byte-oriented encoding (UTF-8 or a single-byte set), without
// taking the sequences out of every line: Find and the filter then check only these lines.
//
// A line's text as shown holds the literal only where the line's bytes hold it, or where
// runs of complete control sequences sit between neighbouring bytes of it (the sequences
// are ASCII bytes and nothing else is taken out). So the candidates are the lines with a
// byte hit, and the lines where the bytes on both sides of a run of sequences are two
// neighbouring bytes of the literal. Pure function; thread-safe.

#include "engine/DocumentTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct ShownCandidate {
    std::size_t line = 0; // index into the lines given
    // The line's bytes hold the literal at a place no control sequence touches: the text
    // shown holds it there too, wherever the bytes decode as themselves (ASCII, or UTF-8
    // compared as exact bytes).
    bool clean = false;
};

// hay: the bytes of `count` whole lines, line i from starts[i] - starts[0] to
// starts[i + 1] - starts[0]; folded like the literal when case is ignored. pattern: the
// literal's bytes, rare: the index of its byte to search for first (BytePattern). Appends
// the candidates in ascending order of line, each line once. abort, when set, is asked now
// and then; true stops the search, which then returns false.
bool FindShownCandidates(const std::uint8_t* hay, const FileOffset* starts, std::size_t count,
                         const std::uint8_t* pattern, std::size_t plen, std::size_t rare,
                         std::vector<ShownCandidate>& out,
                         const std::function<bool()>& abort = {});
