#pragma once

// Indexes a stretch of a file on two threads: the stretch is cut into pieces of equal size;
// this thread takes them in order and extends the index with each, while a helper scans
// pieces ahead of it for their line feeds, which this thread then adds as line starts
// (LineIndex::appendLineStarts). A piece the helper has not taken when this thread gets to
// it, or has not finished within half a millisecond, this thread scans itself, so a busy
// machine that gives the helper no time costs the overlap, never a stall.
//
// The encoding must be final before (LineIndex::acceptsLineStarts()): the index then equals
// the one that appending the same bytes would give. Pieces are of an even size, so in a
// UTF-16 file every piece starts at an even offset and a code unit is never cut.

#include "engine/DocumentTypes.h"
#include "engine/LineIndex.h"
#include "platform/ReadOnlyFile.h"

#include <cstddef>
#include <functional>

// How many threads indexing may use: 2 when this process may run on two processors or
// more, else 1.
unsigned indexingThreads();

enum class PiecesOutcome {
    Indexed, // whole pieces up to a point; the caller indexes the rest as usual
    Stopped  // the stop request said so
};

// Extends `index` with the file's bytes from index.end() on, in whole pieces of pieceBytes
// (rounded up to even) that end at or before `to`. Stops early, with the pieces before
// indexed, where a piece reads short (the file shrank or a read failed) or the index
// overflows; the caller's own reading then finds out why. `stop` is asked on this thread
// between reads.
PiecesOutcome indexInPieces(LineIndex& index, const quill::ReadOnlyFile& file, FileOffset to,
                            std::size_t pieceBytes, const std::function<bool()>& stop);
