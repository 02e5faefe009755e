#include "engine/ShownSearch.h"

#include "engine/BytePattern.h"
#include "engine/SgrParser.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>


namespace {

// Whether the hit at [at, at + plen) of the line [from, to) touches a control sequence:
// one starts inside it, or the last one that starts before it reaches into it. A sequence
// holds no ESC, so no earlier one can reach past that last ESC.
bool touchesSequence(const std::uint8_t* hay, std::size_t from, std::size_t to, std::size_t at,
                     std::size_t plen)
{
    if (std::memchr(hay + at, 0x1B, plen) != nullptr) {
        return true;
    }
    const void* before = memrchr(hay + from, 0x1B, at - from);
    if (before == nullptr) {
        return false;
    }
    const std::size_t q = std::size_t(static_cast<const std::uint8_t*>(before) - hay);
    return q + SgrSequenceLength(hay + from, to - from, q - from) > at;
}

// How rare a byte is likely to be in a coloured log, higher is rarer: the bytes of SGR
// sequences ("ESC [ 1 ; 31 m") are everywhere there, besides blanks and common letters.
int rarityInColour(std::uint8_t b)
{
    if (b == 0x1B || b == ' ' || b == '[' || b == ';' || b == ':' || b == 'm' ||
        (b >= '0' && b <= '9')) {
        return 0;
    }
    if (b >= 'a' && b <= 'z') {
        return std::strchr("etaoinsrhldcu", b) != nullptr ? 2 : 3;
    }
    if (std::strchr(".-/]_=,()", b) != nullptr) {
        return 1;
    }
    return 4;
}

// Whether a run of complete sequences in the line [from, to) sits between two bytes that
// are neighbours in the literal.
bool splitInLine(const std::uint8_t* hay, std::size_t from, std::size_t to,
                 const std::bitset<65536>& neighbours, const std::array<bool, 256>& leads)
{
    std::size_t pos = from + 1;
    while (pos < to) {
        const void* found = std::memchr(hay + pos, 0x1B, to - pos);
        if (!found) {
            return false;
        }
        const std::size_t q = std::size_t(static_cast<const std::uint8_t*>(found) - hay);
        if (!leads[hay[q - 1]]) {
            pos = q + 1;
            continue;
        }
        std::size_t end = q;
        while (end < to && hay[end] == 0x1B) {
            const std::size_t n = SgrSequenceLength(hay + from, to - from, end - from);
            if (n == 0) {
                break;
            }
            end += n;
        }
        if (end > q && end < to && neighbours.test(std::size_t(hay[q - 1]) << 8 | hay[end])) {
            return true;
        }
        pos = std::max(end, q + 1);
    }
    return false;
}

} // namespace

bool FindShownCandidates(const std::uint8_t* hay, const FileOffset* starts, std::size_t count,
                         const std::uint8_t* pattern, std::size_t plen, std::size_t rare,
                         std::vector<ShownCandidate>& out, const std::function<bool()>& abort)
{
    if (count == 0 || plen == 0) {
        return true;
    }
    const FileOffset base = starts[0];
    const std::size_t length = std::size_t(starts[count] - base);
    const FileOffset* const startsEnd = starts + count + 1;
    auto lineOf = [&](std::size_t offset, std::size_t after) {
        return std::size_t(std::upper_bound(starts + after + 1, startsEnd, base + FileOffset(offset)) -
                           starts) - 1;
    };

    // Lines whose bytes hold the literal.
    std::vector<ShownCandidate> hits;
    std::size_t line = 0;
    std::size_t pos = 0;
    while (length - pos >= plen) {
        const void* found = FindPatternBytes(hay + pos, hay + length, pattern, plen, rare);
        if (!found) {
            break;
        }
        if (abort && abort()) {
            return false;
        }
        const std::size_t at = std::size_t(static_cast<const std::uint8_t*>(found) - hay);
        line = lineOf(at, line);
        const std::size_t from = std::size_t(starts[line] - base);
        const std::size_t to = std::size_t(starts[line + 1] - base);
        hits.push_back({line, !touchesSequence(hay, from, to, at, plen)});
        if (++line >= count) {
            break;
        }
        pos = std::size_t(starts[line] - base);
    }

    // Lines where a run of sequences sits between two neighbouring bytes of the literal.
    // Such a line holds every byte of the literal, so only the lines with its byte that is
    // rarest in coloured text are looked at; there, each run of sequences after a byte
    // that can begin such a pair is measured.
    std::vector<ShownCandidate> splits;
    if (plen > 1) {
        std::bitset<65536> neighbours;
        std::array<bool, 256> leads{};
        std::size_t key = 0;
        for (std::size_t k = 0; k < plen; ++k) {
            if (k > 0) {
                neighbours.set(std::size_t(pattern[k - 1]) << 8 | pattern[k]);
                leads[pattern[k - 1]] = true;
            }
            if (rarityInColour(pattern[k]) > rarityInColour(pattern[key])) {
                key = k;
            }
        }
        line = 0;
        pos = 0;
        std::size_t hit = 0; // the lines with a byte hit are candidates already
        while (pos < length) {
            const void* found = std::memchr(hay + pos, pattern[key], length - pos);
            if (!found) {
                break;
            }
            if (abort && abort()) {
                return false;
            }
            line = lineOf(std::size_t(static_cast<const std::uint8_t*>(found) - hay), line);
            while (hit < hits.size() && hits[hit].line < line) {
                ++hit;
            }
            const std::size_t from = std::size_t(starts[line] - base);
            const std::size_t to = std::size_t(starts[line + 1] - base);
            if ((hit >= hits.size() || hits[hit].line != line) &&
                splitInLine(hay, from, to, neighbours, leads)) {
                splits.push_back({line, false});
            }
            if (++line >= count) {
                break;
            }
            pos = std::size_t(starts[line] - base);
        }
    }

    // Both, in order, each line once (a clean hit wins).
    std::size_t a = 0;
    std::size_t b = 0;
    while (a < hits.size() || b < splits.size()) {
        if (b >= splits.size() || (a < hits.size() && hits[a].line < splits[b].line)) {
            out.push_back(hits[a++]);
        } else if (a >= hits.size() || splits[b].line < hits[a].line) {
            out.push_back(splits[b++]);
        } else {
            out.push_back(hits[a++]);
            ++b;
        }
    }
    return true;
}
