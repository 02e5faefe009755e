#pragma once

// MultiPattern: several byte patterns looked for in one pass over a buffer, so that the
// keyword lines of a whole file cost one read of its bytes however many keywords there are.
//
// Each pattern has an anchor: two of its bytes in a row (the whole pattern when it is a
// single byte), where its bytes look rarest in a log, or (after Tune) where they are rarest
// in a sample of the text to be searched: "status=500" is anchored on "=5" in a log where
// "status=200" is on every line. Where even the rarest pairs turn up on every line of the
// sample ("line 12" in a log of "line <n>" and times of day at 12), Tune tries pairs with
// one or two bytes between them ("e?1" is on one line in nine), and else takes three bytes
// in a row: a third table costs a little on every position, a comparison per line costs
// more.
// All patterns share the distance between their anchor's bytes. Patterns are spread over
// eight groups;
// every position of the buffer is tested against the anchors of all groups at once, by
// nibble tables (with AVX-512 sixty-four positions a step, with AVX2 thirty-two, the
// "Teddy" method of Hyperscan; byte tables one position a step where both are missing), and only
// where a group's anchor bytes all fit are that group's patterns compared whole. A pattern that
// ignores case takes the ASCII letters of the buffer in either case (its own bytes are given
// folded), so no folded copy of the buffer is made.
//
// Cost: one pass at any number of patterns. Up to eight each have a group of their own;
// beyond that patterns share groups, and a shared group lets more positions through to the
// whole comparison, so thousands of patterns are slow (but still one pass).
//
// Built by add(), then find() may run on several threads at once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class MultiPattern {
  public:
    static constexpr std::size_t MaxAnchorBytes = 3;
    static constexpr std::size_t GroupCount = 8;

    struct Hit {
        std::size_t start = 0;  // where the occurrence starts in the buffer
        std::size_t anchor = 0; // where its anchor lies: inside the occurrence
        std::uint32_t pattern = 0;
    };

    // Adds a pattern and returns its index (0, 1, ... in the order added). bytes must not be
    // empty; with caseless they hold no A-Z, and a-z in the buffer match A-Z there too.
    std::size_t add(std::string_view bytes, bool caseless);
    std::size_t size() const { return m_patterns.size(); }
    // Where the anchor of pattern `index` starts inside it.
    std::size_t anchorOffset(std::size_t index) const { return m_patterns[index].anchor; }
    // The bytes an anchor is: two, or three in a row after Tune where pairs are common.
    std::size_t anchorBytes() const { return m_anchorBytes; }
    // How far an anchor's second byte lies from its first: 1 (in a row), or after Tune 2 or
    // 3 where pairs in a row are common.
    std::size_t anchorGap() const { return m_at[1]; }
    // Anchors each pattern longer than an anchor on its two bytes in a row that occur least
    // often in the sample (ties: where they look rarest), and groups the patterns again. A
    // counting pass over the sample per such place: meant for a sample of some hundred
    // kilobytes and tens of patterns (more than MaxTunedPatterns keep their anchors). When
    // the anchors chosen so occur once in fewer than DenseAnchorBytes bytes of the sample
    // together, pairs two and then three bytes apart (one or two bytes between them) are
    // tried the same way, each given up once it is as common (a pattern shorter than the
    // pair counts with its first byte alone), and where those are as common, three bytes in
    // a row are chosen.
    void tune(const std::uint8_t* sample, std::size_t n);
    static constexpr std::size_t MaxTunedPatterns = 64;
    static constexpr std::size_t DenseAnchorBytes = 128;
    static constexpr std::size_t MaxAnchorGap = 3;

    // Appends every occurrence of every pattern in [data, data + n), overlapping ones too,
    // in ascending order of their anchors (at one anchor, in no particular order).
    void find(const std::uint8_t* data, std::size_t n, std::vector<Hit>& hits) const;

    // Tests: the steps a machine without the widest vectors takes (they find the same):
    // AVX2 at most, or none.
    enum class Steps { Fastest, Avx2, Portable };
    // Tests: anchors of two bytes `gap` apart or three in a row, placed where their bytes look
    // rarest, as tune() might leave them.
    void setAnchorLayout(std::size_t bytes, std::size_t gap);
    void setSteps(Steps steps) { m_steps = steps; }
    void setVectorAllowed(bool allowed) { m_steps = allowed ? Steps::Fastest : Steps::Portable; }

  private:
    struct Pattern {
        std::string bytes;
        bool caseless = false;
        std::size_t anchor = 0;
        std::uint8_t group = 0;
        // The first bytes (up to eight) as one word, and which of its bytes count: most
        // comparisons end there without a call.
        std::uint64_t head = 0;
        std::uint64_t headMask = 0;
    };
    // The bytes a pattern takes at anchor position j: one or two (a letter in both cases),
    // or every byte past its end.
    std::vector<std::uint8_t> acceptedAt(const Pattern& pattern, std::size_t j) const;
    std::uint8_t chooseGroup(const Pattern& pattern, std::size_t index) const;
    // Puts the pattern into a group and the group's tables.
    void place(Pattern& pattern, std::size_t index);
    // Compares the patterns of the groups in `groups` whose anchor lies at `anchor`.
    void verify(const std::uint8_t* data, std::size_t n, std::size_t anchor, unsigned groups,
                std::vector<Hit>& hits) const;
    void findPlain(const std::uint8_t* data, std::size_t n, std::size_t from,
                   std::vector<Hit>& hits) const;
    template <bool Three>
    std::size_t findAvx2(const std::uint8_t* data, std::size_t n, std::vector<Hit>& hits) const;
    // Sixty-four positions a step, their tests ending in a mask register.
    template <bool Three>
    std::size_t findAvx512(const std::uint8_t* data, std::size_t n, std::vector<Hit>& hits) const;
    // The positions whose anchor bytes fit exactly, gathered by the vector steps and compared
    // whole in batches, in order.
    struct Pending {
        static constexpr std::size_t Capacity = 256;
        std::size_t count = 0;
        std::size_t size() const { return count; }
        std::array<std::size_t, Capacity> anchors;
        std::array<std::uint8_t, Capacity> groups;
    };
    // Adds the candidates of a step's `mask` (groups[t]: the groups position at + t may hold).
    void stepCandidates(const std::uint8_t* data, std::size_t at, std::uint64_t mask,
                        const std::uint8_t* groups, bool three, Pending& pending) const;
    void verifyPending(const std::uint8_t* data, std::size_t n, Pending& pending,
                       std::vector<Hit>& hits) const;
    // Anchors the pattern where its anchor bytes look rarest in a log.
    void anchorByLooks(Pattern& pattern) const;
    // Anchors each pattern on its anchor bytes (m_at) that the sample holds least; returns
    // how often the anchors occur there together. countShort: a pattern too short to move
    // its anchor counts too. Past `enough` occurrences it stops (the later patterns keep
    // their anchors) and returns more than enough.
    std::size_t anchorOnSample(const std::uint8_t* sample, std::size_t n, bool countShort,
                               std::size_t enough = SIZE_MAX);
    // One past the last byte an anchor reads, from its first.
    std::size_t anchorSpan() const { return m_at[m_anchorBytes - 1] + 1; }
    // Empties the groups and tables and places every pattern again.
    void placeAll();

    // What the comparison of one pattern needs, side by side, the patterns of a group in a
    // row: a candidate costs no walk through the patterns' own storage.
    struct Probe {
        std::uint64_t head = 0;
        std::uint64_t headMask = 0;
        // Or-ed into the buffer's bytes before the comparison: the case bit where a caseless
        // pattern has a letter.
        std::uint64_t headFold = 0;
        // Of a pattern longer than eight bytes, its last eight the same way.
        std::uint64_t tail = 0;
        std::uint64_t tailFold = 0;
        const char* bytes = nullptr;
        std::uint32_t length = 0;
        std::uint32_t anchor = 0;
        std::uint32_t index = 0;
        bool caseless = false;
    };
    void buildProbes();
    // Appends the occurrence of the probe's pattern whose anchor lies at `anchor`, if any.
    void compare(const std::uint8_t* data, std::size_t n, std::size_t anchor, const Probe& probe,
                 std::vector<Hit>& hits) const;
    // The case bits of the pattern's eight bytes from `from` (those past its end: none).
    static std::uint64_t foldBits(const Pattern& pattern, std::size_t from);

    std::vector<Pattern> m_patterns;
    std::array<std::vector<std::uint32_t>, GroupCount> m_members;
    std::vector<Probe> m_probes;
    std::array<std::uint32_t, GroupCount + 1> m_groupBegin{};
    std::size_t m_anchorBytes = 2;
    // Where anchor byte j lies from the anchor's first byte: {0, 1, 2} in a row, or
    // {0, gap, gap} for a pair apart (the third table then takes every byte).
    std::array<std::size_t, MaxAnchorBytes> m_at{0, 1, 1};
    // Bit g of m_bytes[j][c]: some pattern of group g takes byte c as anchor byte j, at
    // m_at[j] from the anchor's first (every group every byte past m_anchorBytes).
    std::array<std::array<std::uint8_t, 256>, MaxAnchorBytes> m_bytes{};
    // The same by nibbles: the low and high nibble of c each fit (a superset of m_bytes).
    alignas(16) std::array<std::array<std::uint8_t, 16>, MaxAnchorBytes> m_low{};
    alignas(16) std::array<std::array<std::uint8_t, 16>, MaxAnchorBytes> m_high{};
    Steps m_steps = Steps::Fastest;
};
