// Several byte patterns found in one pass, against a model that compares every pattern at
// every position, with the vector search and without it, at every length around its steps.

#include "engine/MultiPattern.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Wanted {
    std::string bytes; // folded when caseless
    bool caseless = false;
};

using Found = std::vector<std::tuple<std::size_t, std::uint32_t>>; // start, pattern

Found model(const std::string& buffer, const std::vector<Wanted>& wanted)
{
    Found found;
    for (std::size_t at = 0; at < buffer.size(); ++at) {
        for (std::uint32_t p = 0; p < wanted.size(); ++p) {
            const std::string& bytes = wanted[p].bytes;
            if (at + bytes.size() > buffer.size()) {
                continue;
            }
            bool same = true;
            for (std::size_t i = 0; i < bytes.size() && same; ++i) {
                char c = buffer[at + i];
                if (wanted[p].caseless && c >= 'A' && c <= 'Z') {
                    c = char(c - 'A' + 'a');
                }
                same = c == bytes[i];
            }
            if (same) {
                found.emplace_back(at, p);
            }
        }
    }
    return found;
}

Found search(const MultiPattern& patterns, const std::string& buffer, std::size_t offset)
{
    // The buffer at an odd place, so loads cross every alignment.
    std::string shifted(offset, '#');
    shifted += buffer;
    std::vector<MultiPattern::Hit> hits;
    patterns.find(reinterpret_cast<const std::uint8_t*>(shifted.data()) + offset, buffer.size(),
                  hits);
    Found found;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const MultiPattern::Hit& hit = hits[i];
        EXPECT_EQ(hit.anchor, hit.start + patterns.anchorOffset(hit.pattern));
        if (i > 0) {
            EXPECT_LE(hits[i - 1].anchor, hit.anchor) << "by anchors";
        }
        found.emplace_back(hit.start, hit.pattern);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string randomBytes(std::mt19937& random, std::size_t n)
{
    // Few byte values, so patterns turn up often and share nibbles with the rest.
    static const char alphabet[] = "abcABC .\n\0\x80\xE0xyzXYZ";
    std::string out(n, ' ');
    for (char& c : out) {
        c = alphabet[random() % (sizeof alphabet - 1)];
    }
    return out;
}

} // namespace

TEST(MultiPattern, EveryOccurrenceOfEveryPatternAtEveryLengthWithAndWithoutVectors)
{
    std::array<int, 4> anchorBytes{}; // how often each anchor length was searched with
    std::array<int, MultiPattern::MaxAnchorGap + 1> gaps{}; // and each distance of a pair
    for (unsigned seed = 1; seed <= 400; ++seed) {
        std::mt19937 random(seed);
        std::vector<Wanted> wanted;
        // One to eight patterns, or more than eight groups can hold.
        const std::size_t count = 1 + random() % (seed % 5 == 0 ? 20 : 8);
        for (std::size_t p = 0; p < count; ++p) {
            Wanted one;
            one.caseless = random() % 2 == 0;
            // Longer ones too: a whole comparison by a word at each end, and past sixteen
            // bytes one by one between them.
            one.bytes = randomBytes(random, 1 + random() % (seed % 3 == 0 ? 24 : 7));
            if (one.caseless) {
                for (char& c : one.bytes) {
                    c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
                }
            }
            wanted.push_back(one);
        }
        MultiPattern vector;
        MultiPattern avx2;
        MultiPattern plain;
        avx2.setSteps(MultiPattern::Steps::Avx2);
        plain.setVectorAllowed(false);
        for (const Wanted& one : wanted) {
            vector.add(one.bytes, one.caseless);
            avx2.add(one.bytes, one.caseless);
            plain.add(one.bytes, one.caseless);
        }
        // Around the 32-byte steps and the two bytes an anchor reads past a step.
        // Every 25th a long buffer: more candidates than one batch of them holds.
        const std::size_t n = seed < 100 ? seed : (seed % 25 == 0 ? 3000 : 100) + random() % 400;
        std::string buffer = randomBytes(random, n);
        // Copies of the patterns, in either case and some with one byte changed, so that
        // long ones occur and nearly occur.
        for (std::size_t copies = random() % (n / 8 + 1); copies > 0; --copies) {
            std::string copy = wanted[random() % wanted.size()].bytes;
            if (copy.size() > n) {
                continue;
            }
            for (char& c : copy) {
                c = random() % 2 == 0 && c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
            }
            if (random() % 3 == 0) {
                copy[random() % copy.size()] ^= char(1u << (random() % 8));
            }
            buffer.replace(random() % (n - copy.size() + 1), copy.size(), copy);
        }
        if (seed % 2 == 0) {
            // Anchored where the buffer itself (or other bytes) hold them least.
            const std::string sample = seed % 4 == 0 ? buffer : randomBytes(random, 300);
            for (MultiPattern* patterns : {&vector, &avx2, &plain}) {
                patterns->tune(reinterpret_cast<const std::uint8_t*>(sample.data()), sample.size());
            }
        } else {
            // Every layout a tune may leave: pairs in a row, one or two apart, three in a row.
            const std::size_t layout = (seed / 2) % 4;
            for (MultiPattern* patterns : {&vector, &avx2, &plain}) {
                patterns->setAnchorLayout(layout == 3 ? 3 : 2, layout == 3 ? 1 : layout + 1);
            }
        }
        const Found expected = model(buffer, wanted);
        const std::size_t offset = random() % 32;
        ASSERT_EQ(search(vector, buffer, offset), expected) << "seed " << seed;
        ASSERT_EQ(search(avx2, buffer, offset), expected) << "seed " << seed << " AVX2";
        ASSERT_EQ(search(plain, buffer, offset), expected) << "seed " << seed << " plain";
        ++anchorBytes[vector.anchorBytes()];
        ++gaps[vector.anchorBytes() == 2 ? vector.anchorGap() : 0];
    }
    // Samples of these few bytes hold pairs often: many searches took three bytes.
    EXPECT_GT(anchorBytes[2], 100);
    EXPECT_GT(anchorBytes[3], 50);
    EXPECT_GT(gaps[2], 40);
    EXPECT_GT(gaps[3], 40);
}

// A log where every pair of a keyword's bytes is on every line: three bytes in a row are
// taken where they are rarest, and the keywords are still found wherever they are.
TEST(MultiPattern, TuningTakesThreeBytesWherePairsAreOnEveryLine)
{
    std::string sample;
    for (int i = 0; i < 100; ++i) {
        sample += "2026-12-07 12:00:00.000 INFO follow line " + std::to_string(i) +
                  " with some payload text\n";
    }
    MultiPattern patterns;
    patterns.add("line 12", false);
    patterns.add("7 with", false);
    patterns.add("ne 5", false); // its rarest pair, " 5", ends it
    patterns.add("12:", false);  // as long as three bytes: all of it
    patterns.tune(reinterpret_cast<const std::uint8_t*>(sample.data()), sample.size());
    EXPECT_EQ(patterns.anchorBytes(), 3u);
    EXPECT_EQ(patterns.anchorOffset(0), 3u) << "'e 1' on a line in nine; ' 12' on all";
    EXPECT_EQ(patterns.anchorOffset(1), 0u) << "'7 w' on a line in ten";
    EXPECT_EQ(patterns.anchorOffset(2), 1u) << "'e 5' on a line in nine; 'ne ' on all";
    EXPECT_EQ(patterns.anchorOffset(3), 0u) << "not the pair '2:' it had";
    const std::vector<Wanted> wanted{
        {"line 12", false}, {"7 with", false}, {"ne 5", false}, {"12:", false}};
    for (std::size_t offset : {0, 5, 31}) {
        EXPECT_EQ(search(patterns, sample, offset), model(sample, wanted));
    }
    EXPECT_EQ(model(sample, wanted).size(), 122u);

    // Without "12:", which is on every line itself, pairs two apart are rare enough: "7?w" on
    // a line in ten, "e?1" on a line in nine.
    MultiPattern apart;
    apart.add("line 12", false);
    apart.add("7 with", false);
    apart.add("ne 5", false);
    apart.tune(reinterpret_cast<const std::uint8_t*>(sample.data()), sample.size());
    EXPECT_EQ(apart.anchorBytes(), 2u);
    EXPECT_EQ(apart.anchorGap(), 2u);
    EXPECT_EQ(apart.anchorOffset(0), 3u) << "'e?1'";
    EXPECT_EQ(apart.anchorOffset(1), 0u) << "'7?w'";
    EXPECT_EQ(apart.anchorOffset(2), 1u) << "'e?5'";
    for (std::size_t offset : {0, 5, 31}) {
        EXPECT_EQ(search(apart, sample, offset), model(sample, {wanted.begin(), wanted.end() - 1}));
    }

    // Pairs in a row and two apart on every line, three apart on none: three apart it is.
    std::string far;
    for (int i = 0; i < 100; ++i) {
        far += "abc--bcda-c--b-d\n";
    }
    MultiPattern threeApart;
    threeApart.add("abcd", false);
    threeApart.tune(reinterpret_cast<const std::uint8_t*>(far.data()), far.size());
    EXPECT_EQ(threeApart.anchorBytes(), 2u);
    EXPECT_EQ(threeApart.anchorGap(), 3u);
    far.replace(far.size() / 2, 4, "abcd");
    EXPECT_EQ(search(threeApart, far, 3), model(far, {{"abcd", false}}));

    // A pattern no longer than a pair gains nothing from a third byte: however often it
    // turns up, the pairs stay.
    MultiPattern shortOnly;
    shortOnly.add("12", false);
    shortOnly.tune(reinterpret_cast<const std::uint8_t*>(sample.data()), sample.size());
    EXPECT_EQ(shortOnly.anchorBytes(), 2u);

    // Where the pairs are rare, two bytes stay.
    const std::string rare(4000, 'x');
    patterns.tune(reinterpret_cast<const std::uint8_t*>(rare.data()), rare.size());
    EXPECT_EQ(patterns.anchorBytes(), 2u);
    EXPECT_EQ(search(patterns, sample, 7), model(sample, wanted));
}

TEST(MultiPattern, TuningAnchorsEachPatternWhereTheSampleHoldsItsBytesLeast)
{
    MultiPattern patterns;
    patterns.add("status=500", false);
    patterns.add("error", true);
    EXPECT_EQ(patterns.anchorOffset(0), 0u) << "'sta' looks as rare as any by its bytes";
    const std::string sample = "status=200 status=200 ERROR: terror BERRY ferry";
    patterns.tune(reinterpret_cast<const std::uint8_t*>(sample.data()), sample.size());
    EXPECT_EQ(patterns.anchorOffset(0), 6u) << "'=5', which the sample lacks";
    EXPECT_EQ(patterns.anchorOffset(1), 2u)
        << "'ro' and 'or' twice, 'er' and 'rr' in the berries too, in either case";
    const std::string text = "status=500 eRRor";
    std::vector<Wanted> wanted{{"status=500", false}, {"error", true}};
    EXPECT_EQ(search(patterns, text, 3), model(text, wanted));
    EXPECT_EQ(model(text, wanted).size(), 2u);
}

TEST(MultiPattern, CaseIsIgnoredForLettersOnlyAndAnchorsSitOnTheRarestBytes)
{
    MultiPattern patterns;
    ASSERT_EQ(patterns.add("id=42XY", false), 0u);
    ASSERT_EQ(patterns.add("[x]", true), 1u);
    ASSERT_EQ(patterns.add("ab", true), 2u);
    EXPECT_EQ(patterns.anchorOffset(0), 5u) << "capitals outrank digits and lower case";
    EXPECT_EQ(patterns.anchorOffset(2), 0u);
    // '{' and '}' are '[' and ']' with the case bit set: not letters, not the same.
    const std::string buffer = "ID=42XY id=42xy id=42XY {X} [X] [x] aB Ab \xC1\xC2";
    std::vector<Wanted> wanted{{"id=42XY", false}, {"[x]", true}, {"ab", true}};
    EXPECT_EQ(search(patterns, buffer, 0), model(buffer, wanted));
    EXPECT_EQ(model(buffer, wanted).size(), 5u);
}

// Past a pattern's first eight bytes, and in the last bytes of a buffer, bytes are compared
// one at a time: there too '[' is not '{' with the case bit, and letters alone fold.
TEST(MultiPattern, OneByOneComparisonsFoldLettersOnly)
{
    // Anchored on their rare first bytes, so the bytes after them are compared.
    const std::string head = "\xF7\xF3";
    MultiPattern patterns;
    ASSERT_EQ(patterns.add(head + "abcdef{z}", true), 0u);
    ASSERT_EQ(patterns.add(head + "{q}", true), 1u);
    ASSERT_EQ(patterns.anchorOffset(0), 0u);
    ASSERT_EQ(patterns.anchorOffset(1), 0u);
    const std::vector<Wanted> wanted{{head + "abcdef{z}", true}, {head + "{q}", true}};
    for (const std::string& buffer :
         {head + "ABCDEF[Z} " + head + "abcdef{Z} xx", head + "ABCDEF{Z]", head + "[Q}",
          ".." + head + "{Q}", ".." + head + "[q}"}) {
        SCOPED_TRACE(buffer);
        EXPECT_EQ(search(patterns, buffer, 0), model(buffer, wanted));
    }
    EXPECT_EQ(model(head + "ABCDEF[Z} " + head + "abcdef{Z} xx", wanted).size(), 1u);
}

// Patterns of every length up to three words, each byte changed in turn (one bit, or the case
// bit): only the unchanged copy is found, and where case is ignored the one in other case.
TEST(MultiPattern, EveryByteIsComparedAtEveryLength)
{
    const std::string letters = "\xF7\xF3"
                                "abcdefghij0123456789klmnopqr";
    for (std::size_t length = 1; length <= 26; ++length) {
        for (const bool caseless : {false, true}) {
            const std::string pattern = letters.substr(0, length);
            std::string buffer;
            for (std::size_t i = 0; i < length; ++i) {
                for (const char flip : {'\x01', '\x20'}) {
                    std::string copy = pattern;
                    copy[i] = char(copy[i] ^ flip);
                    buffer += copy + " ";
                }
            }
            buffer += pattern;
            MultiPattern patterns;
            patterns.add(pattern, caseless);
            const std::vector<Wanted> wanted{{pattern, caseless}};
            SCOPED_TRACE(testing::Message() << length << (caseless ? " caseless" : ""));
            EXPECT_EQ(search(patterns, buffer, 0), model(buffer, wanted));
        }
    }
}

// The last byte of the buffer is the last byte read, with and without vectors: the buffer
// ends where a page that may not be read begins.
TEST(MultiPattern, NothingPastTheBufferIsRead)
{
    const long page = sysconf(_SC_PAGESIZE);
    auto* area =
        static_cast<std::uint8_t*>(mmap(nullptr, std::size_t(2 * page), PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(area + page, std::size_t(page), PROT_NONE), 0);
    std::uint8_t* const end = area + page;
    MultiPattern patterns;
    patterns.add("x", false);
    patterns.add("yz", true);
    patterns.add("abcdefghij", false);
    std::mt19937 random(7);
    // Anchors of three bytes, or of a pair apart, read further past the step.
    const std::pair<std::size_t, std::size_t> layouts[] = {{2, 1}, {2, 2}, {2, 3}, {3, 1}};
    for (const auto& [anchorBytes, gap] : layouts) {
        patterns.setAnchorLayout(anchorBytes, gap);
        for (const MultiPattern::Steps steps :
             {MultiPattern::Steps::Fastest, MultiPattern::Steps::Avx2,
              MultiPattern::Steps::Portable}) {
            patterns.setSteps(steps);
            for (std::size_t n = 1; n <= 200; ++n) {
                const std::string buffer = randomBytes(random, n - 1) + "x";
                std::copy(buffer.begin(), buffer.end(), end - n);
                std::vector<MultiPattern::Hit> hits;
                patterns.find(end - n, n, hits);
                ASSERT_FALSE(hits.empty()) << n;
                EXPECT_EQ(hits.back().start, n - 1)
                    << "the last byte is found, " << n << ", anchors of " << anchorBytes << " gap "
                    << gap;
            }
        }
    }
    munmap(area, std::size_t(2 * page));
}
