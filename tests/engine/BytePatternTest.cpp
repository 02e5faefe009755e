// The byte search and the ASCII fold that Find and the filter run over raw file bytes,
// against plain per-byte models, with every alignment around the sixteen-byte steps.

#include "engine/BytePattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

std::uint8_t foldModel(std::uint8_t b)
{
    return b >= 'A' && b <= 'Z' ? std::uint8_t(b + 32) : b;
}

const std::uint8_t* searchModel(const std::uint8_t* s, const std::uint8_t* end,
                                const std::vector<std::uint8_t>& pattern)
{
    const std::uint8_t* hit = std::search(s, end, pattern.begin(), pattern.end());
    return hit == end && !pattern.empty() ? nullptr : hit;
}

} // namespace

TEST(BytePattern, FoldLowersExactlyTheCapitalsAtEveryLengthAndAlignment)
{
    // Every byte value, so the neighbours of the range ('@', '[', '`', '{') and the bytes
    // whose low seven bits are capitals (0xC1..0xDA) are all there, in and out of place.
    std::vector<std::uint8_t> all(256 + 64);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = std::uint8_t(i * 7 + 3);
    }
    for (std::size_t offset = 0; offset < 17; ++offset) {
        for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 255u, 256u + 47u}) {
            std::vector<std::uint8_t> out(all.size(), 0xEE);
            foldAsciiBytes(all.data() + offset, out.data(), n);
            for (std::size_t i = 0; i < out.size(); ++i) {
                const std::uint8_t want = i < n ? foldModel(all[offset + i]) : 0xEE;
                ASSERT_EQ(out[i], want) << "offset " << offset << " length " << n << " at " << i;
            }
            std::vector<std::uint8_t> inPlace(all.begin() + std::ptrdiff_t(offset), all.end());
            foldAsciiBytes(inPlace.data(), n);
            ASSERT_TRUE(
                std::equal(inPlace.begin(), inPlace.begin() + std::ptrdiff_t(n), out.begin()));
        }
    }
}

TEST(BytePattern, Utf8EncodingChangesLengthAtEachBoundary)
{
    struct Row {
        std::u16string text;
        const char* bytes; // nullptr: cannot be encoded
    };
    for (const Row& row : {
             Row{u"\u007F\u0080", "\x7F\xC2\x80"},
             Row{u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
             Row{u"\uFFFF\U00010000", "\xEF\xBF\xBF\xF0\x90\x80\x80"},
             Row{u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
             Row{std::u16string(1, char16_t(0xD800)) + u"a", nullptr},
             Row{std::u16string(1, char16_t(0xDC00)), nullptr},
         }) {
        std::string out;
        const bool ok = encodeUtf8Exact(row.text, out);
        EXPECT_EQ(ok, row.bytes != nullptr) << out;
        if (row.bytes != nullptr) {
            EXPECT_EQ(out, row.bytes);
        }
    }
}

TEST(BytePattern, SearchFindsTheFirstOccurrenceAsAPlainSearchDoes)
{
    // A small alphabet gives many starts where one or both tested bytes agree and the rest
    // does not; occurrences are planted at the very end and across the steps' edges (16 and
    // 32 starts a step). Ignoring case, the text is searched as if folded: the alphabet
    // holds the first and last letters in both cases and the bytes one bit away from them
    // ('@' and '`', '[' and '{', 0xC1 and 0xE1), which must not be taken for letters.
    const std::uint8_t alphabet[] = {'a', 'b', 'z', 'A', 'B', 'Z', '@', '`', '[', '{', 0xC1, 0xE1};
    std::mt19937 random(20261208);
    for (int round = 0; round < 4000; ++round) {
        const std::size_t size = random() % 170;
        const int letters = 2 + int(random() % 3);
        const bool mixed = round % 2 == 1;
        auto pick = [&] {
            return mixed ? alphabet[random() % std::size(alphabet)]
                         : std::uint8_t('a' + random() % unsigned(letters));
        };
        std::vector<std::uint8_t> hay(size);
        for (auto& b : hay) {
            b = pick();
        }
        const std::size_t plen = 1 + random() % 12;
        std::vector<std::uint8_t> pattern(plen);
        for (auto& b : pattern) {
            b = pick();
        }
        if (size >= plen && random() % 2 == 0) {
            const std::size_t at = random() % 3 == 0 ? size - plen : random() % (size - plen + 1);
            std::copy(pattern.begin(), pattern.end(), hay.begin() + std::ptrdiff_t(at));
        }
        const std::size_t rare = random() % plen;
        for (std::size_t from = 0; from <= std::min<std::size_t>(size, 17); ++from) {
            const std::uint8_t* s = hay.data() + from;
            const std::uint8_t* end = hay.data() + size;
            ASSERT_EQ(findPatternBytes(s, end, pattern.data(), plen, rare),
                      searchModel(s, end, pattern))
                << "round " << round << " from " << from << " size " << size << " plen " << plen;
        }
        std::vector<std::uint8_t> foldedHay = hay;
        foldAsciiBytes(foldedHay.data(), foldedHay.size());
        std::vector<std::uint8_t> foldedPattern = pattern;
        foldAsciiBytes(foldedPattern.data(), foldedPattern.size());
        const ByteFinder caseless(foldedPattern.data(), plen, rare, true);
        for (std::size_t from = 0; from <= std::min<std::size_t>(size, 33); ++from) {
            const std::uint8_t* found = caseless.find(hay.data() + from, hay.data() + size);
            const std::uint8_t* model =
                searchModel(foldedHay.data() + from, foldedHay.data() + size, foldedPattern);
            ASSERT_EQ(found == nullptr ? -1 : found - hay.data(),
                      model == nullptr ? -1 : model - foldedHay.data())
                << "round " << round << " from " << from << " size " << size << " plen " << plen;
        }
    }
}
