#pragma once

// The lines of a run whose text as terminal colours show it (engine/ShownLines.h) may hold
// a literal, found on the run's own bytes, without taking the sequences out first. Taking
// them out of a whole coloured run costs more than the search of the run: with this, only
// the lines named are taken out of their sequences and searched, by the caller.
//
// An occurrence as shown either lies whole in the bytes (no sequence inside it), which a
// search for the literal's bytes finds, or it has a first sequence inside it: then the
// bytes just before that ESC are a start of the literal (one byte at least, not all of it),
// and past the sequences from there on, the bytes go on with the rest. The second kind is
// looked for at each ESC whose two bytes before can end such a start (a nibble-table test
// of sixty-four positions a step, with AVX-512 or AVX2, fused with the probes of the first
// kind), and followed through the sequences. Every line that holds the literal as shown is
// named; a line whose bytes hold the literal inside a sequence is named too, and left to
// the caller's exact check. The literal may be one of several bytes at some places (an
// expression's required text, engine/RegexLiteral.h).
//
// Immutable once built; lines() may run on several threads at once.

#include "engine/BytePattern.h"
#include "engine/DocumentTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class ShownLiteral {
  public:
    ShownLiteral() = default;
    // literal: the bytes as the searched bytes hold them (folded when case is ignored);
    // rare: the index of the byte to look for first (BytePattern's choice).
    ShownLiteral(std::string_view literal, std::size_t rare);
    // A text that may be one of several bytes at some places (an expression's class):
    // places[k] holds the bytes it may be at k. The probes of a whole occurrence are taken
    // in its longest stretch of single bytes, and rare moves there if it lies outside.
    ShownLiteral(const std::vector<std::string>& places, std::size_t rare);

    // False for an empty literal, one longer than MaxLength, one with an ESC or a line
    // feed, or one without a single byte of its own: the caller then takes the sequences
    // out of the whole run.
    bool usable() const { return m_usable; }
    static constexpr std::size_t MaxLength = 64;

    // Appends, ascending, the lines of bytes[0, starts[count] - starts[0]) (line i from
    // starts[i]) that may hold the literal as shown; all those that do are among them.
    void lines(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count,
               std::vector<std::uint32_t>& lines) const;

    // Tests: the steps a processor without the widest vectors takes (they find the same
    // lines): AVX2 at most, or none.
    enum class Steps { Fastest, Avx2, Portable };
    void setSteps(Steps steps) { m_steps = steps; }

  private:
    bool holds(std::size_t k, std::uint8_t b) const
    {
        return b == std::uint8_t(m_literal[k]) ||
               (((m_classes >> k) & 1) != 0 && ((m_sets[k][b >> 6] >> (b & 63)) & 1) != 0);
    }
    // The text lies whole at p (length bytes readable).
    bool matchesAt(const std::uint8_t* p) const;
    // Where the first whole occurrence from `at` on starts; n when there is none.
    std::size_t findWhole(const std::uint8_t* bytes, std::size_t at, std::size_t n) const;
    // An occurrence with a sequence inside it starts before the ESC at bytes[at], of n.
    bool splitAt(const std::uint8_t* bytes, std::size_t n, std::size_t at) const;
    // Names the line that holds bytes[at] (from line on); returns where the next one
    // starts, or the end.
    static std::size_t lineHit(std::size_t at, const FileOffset* starts, std::size_t count,
                               std::size_t& line, std::vector<std::uint32_t>& lines);
    // The first hit among a step's candidates (i + bit: whole, the probes of an occurrence
    // that lies whole in the bytes fit; split, an ESC that may lie inside one): named,
    // and where its next line starts returned; i + 64 when there is none.
    std::size_t stepHits(const std::uint8_t* bytes, std::size_t n, std::size_t i,
                         std::uint64_t whole, std::uint64_t split, const FileOffset* starts,
                         std::size_t count, std::size_t& line,
                         std::vector<std::uint32_t>& lines) const;
    // From `from` on, sixty-four positions a step while they and the literal fit before n;
    // return where they stopped.
    std::size_t scanAvx2(const std::uint8_t* bytes, std::size_t from, std::size_t n,
                         std::size_t& line, const FileOffset* starts, std::size_t count,
                         std::vector<std::uint32_t>& lines) const;
    std::size_t scanAvx512(const std::uint8_t* bytes, std::size_t from, std::size_t n,
                           std::size_t& line, const FileOffset* starts, std::size_t count,
                           std::vector<std::uint32_t>& lines) const;

    std::string m_literal; // a byte of each place: the one, or a class's first
    std::size_t m_rare = 0;
    // Bit k: place k is a class, whose bytes are the set bits of m_sets[k].
    std::uint64_t m_classes = 0;
    std::vector<std::array<std::uint64_t, 4>> m_sets;
    // The longest stretch of single-byte places.
    std::size_t m_plainFrom = 0;
    std::size_t m_plainLength = 0;
    PatternProbes m_probes;
    bool m_usable = false;
    Steps m_steps = Steps::Fastest;
    // Bit j - 1 of m_ends[c]: the literal's first j bytes end with c (1 <= j < length).
    std::array<std::uint64_t, 256> m_ends{};
    // Bit j - 1 of m_nexts[c]: the literal's byte j (after its first j) is c.
    std::array<std::uint64_t, 256> m_nexts{};
    // Nibble tables of the byte before an ESC (0) and the one before that (1): bit b of
    // both of a byte's entries when some start of the literal in group b can end there.
    alignas(64) std::array<std::array<std::uint8_t, 64>, 2> m_low{};
    alignas(64) std::array<std::array<std::uint8_t, 64>, 2> m_high{};
};
