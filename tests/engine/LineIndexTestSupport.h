#pragma once

// What the line index's tests share: a file cut into random pieces, fed as they come, and
// the index compared with the byte-by-byte reference.

#include "EngineTestSupport.h"

#include "engine/LineIndex.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quilltest {

inline std::vector<std::string> randomSplit(std::mt19937& rng, const std::string& bytes)
{
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t n = (rng() % 4 == 0) ? 1 : 1 + rng() % 700;
        pieces.push_back(bytes.substr(pos, n));
        pos += pieces.back().size();
    }
    if (rng() % 4 == 0) {
        pieces.insert(pieces.begin() + std::ptrdiff_t(rng() % (pieces.size() + 1)), std::string());
    }
    return pieces;
}

inline void expectIndex(const LineIndex& index, const ReferenceIndex& reference, const char* what)
{
    ASSERT_EQ(index.lineCount() + 1, reference.starts.size()) << what;
    for (std::size_t i = 0; i < reference.starts.size(); ++i) {
        ASSERT_EQ(index.lineStart(LineNumber(i)), reference.starts[i]) << what << " line " << i;
    }
    EXPECT_EQ(index.end(), reference.starts.back()) << what;
    EXPECT_EQ(index.lastLineOpen(), reference.lastLineOpen) << what;
}

inline void feed(LineIndex& index, const std::string& bytes)
{
    index.append(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace quilltest
