#include "engine/LineIndex.h"

#include "platform/Contract.h"
#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

void LineIndex::reset()
{
    clearBlocks();
    m_end = 0;
    m_open = false;
    m_overflow = false;
    m_memoryFull = false;
    m_probe.reset();
    m_decided = false;
    m_utf16 = false;
    m_bigEndian = false;
    m_markBytes = 0;
    m_halfUnit = false;
    m_lowByte = 0;
}

void LineIndex::chooseEncoding(bool utf16, bool bigEndian, std::size_t markBytes)
{
    m_utf16 = utf16;
    m_bigEndian = utf16 && bigEndian;
    m_markBytes = markBytes;
    m_decided = true;
    m_probe.release();
}

void LineIndex::restartAtEnd()
{
    clearBlocks();
    m_open = false;
    m_overflow = false;
    m_memoryFull = false;
    m_decided = true;
    m_probe.release();
}

namespace {

// Bytes beyond the low one that a start this far from its group's first line needs; 5 when
// it cannot be stored.
unsigned highBytesFor(FileOffset rel)
{
    return rel <= 0xFFFF ? 1u : rel <= 0xFFFFFF ? 2u : rel <= 0xFFFFFFFF ? 3u
                              : rel <= 0xFFFFFFFFFF ? 4u : 5u;
}

// The sum of entries 1..k of a short group (entry 0 is always zero).
inline FileOffset sumEntries(const std::uint8_t* e, unsigned k)
{
    static_assert(LineIndex::GroupLines % 16 == 0);
#if defined(__SSE2__)
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    // Whole stretches of 16 entries, then the one holding entry k with the lanes after it
    // cleared (lane numbers are compared as signed bytes: k - 16c is below 16 there).
    unsigned c = 0;
    for (; c + 16 <= k; c += 16) {
        sums = _mm_add_epi64(
            sums, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(e + c)), zero));
    }
    const __m128i last = _mm_set1_epi8(char(k - c));
    sums = _mm_add_epi64(
        sums,
        _mm_sad_epu8(_mm_andnot_si128(_mm_cmpgt_epi8(lanes, last),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + c))),
                     zero));
    return FileOffset(_mm_cvtsi128_si32(sums)) +
           FileOffset(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
#else
    FileOffset sum = 0;
    for (unsigned j = 1; j <= k; ++j) {
        sum += e[j];
    }
    return sum;
#endif
}

// How many of a group's carry bits 1..k are set.
inline unsigned carriesUpTo(const std::uint64_t* words, unsigned k)
{
    unsigned n = 0;
    unsigned w = 0;
    for (; (w + 1) * 64 <= k; ++w) {
        n += unsigned(std::popcount(words[w]));
    }
    // Bits 0..k % 64 of the word holding bit k (bit 0 of a group is never set).
    const unsigned top = k % 64;
    return n + unsigned(std::popcount(words[w] & (~std::uint64_t(0) >> (63 - top))));
}

inline bool carryBit(const std::uint64_t* words, unsigned k)
{
    return (words[k / 64] >> (k % 64)) & 1u;
}

} // namespace

FileOffset LineIndex::checkpoint(const Block& block, unsigned group) const
{
    std::uint32_t low;
    std::memcpy(&low, block.group(group), 4);
    FileOffset value = low;
    if (block.wide && block.wide->checkpointHigh) {
        value |= FileOffset(block.wide->checkpointHigh[group]) << 32;
    }
    return value;
}

FileOffset LineIndex::startInGroup(const Block& block, unsigned group, unsigned k) const
{
    const std::uint8_t* e = block.group(group) + 4;
    if (k == 0) {
        return 0;
    }
    if (block.wide && (block.wide->mask >> group) & 1u) {
        const Wide& wide = *block.wide;
        const unsigned slot = unsigned(__builtin_popcount(wide.mask & ((1u << group) - 1)));
        const std::uint8_t* h = wide.high.data() + (std::size_t(slot) * (GroupLines - 1) + k - 1) * wide.width;
        FileOffset rel = e[k];
        for (unsigned b = 0; b < wide.width; ++b) {
            rel |= FileOffset(h[b]) << (8 * (b + 1));
        }
        return rel;
    }
    const FileOffset sum = sumEntries(e, k);
    if (!block.carry) {
        return sum;
    }
    return sum +
           (FileOffset(carriesUpTo(block.carry.get() + std::size_t(group) * CarryWords, k)) << 8);
}

FileOffset LineIndex::lineStart(LineNumber i) const
{
    if (i >= m_count) {
        return m_end;
    }
    const Block& block = m_blocks[i >> BlockShift];
    if (!block.data) {
        return block.base + FileOffset(i & (BlockLines - 1)) * block.stride;
    }
    const unsigned group = (i >> GroupShift) & (BlockGroups - 1);
    return block.base + checkpoint(block, group) +
           startInGroup(block, group, i & (GroupLines - 1));
}

LineNumber LineIndex::copyStarts(LineNumber first, LineNumber count, FileOffset limit,
                                 std::vector<FileOffset>& out) const
{
    LineNumber copied = 0;
    LineNumber i = first;
    const auto stop =
        LineNumber(std::min<std::uint64_t>(std::uint64_t(first) + count, std::uint64_t(m_count) + 1));
    while (i < stop && i < m_count) {
        const Block& block = m_blocks[i >> BlockShift];
        if (!block.data) {
            const LineNumber blockEnd = std::min({stop, m_count, (i | (BlockLines - 1)) + 1});
            for (; i < blockEnd; ++i) {
                const FileOffset start =
                    block.base + FileOffset(i & (BlockLines - 1)) * block.stride;
                if (start > limit) {
                    return copied;
                }
                out.push_back(start);
                ++copied;
            }
            continue;
        }
        const unsigned group = (i >> GroupShift) & (BlockGroups - 1);
        const LineNumber groupEnd = std::min({stop, m_count, (i | (GroupLines - 1)) + 1});
        const FileOffset groupStart = block.base + checkpoint(block, group);
        const bool wide = block.wide && (block.wide->mask >> group) & 1u;
        const std::uint8_t* e = block.group(group) + 4;
        const std::uint64_t* carry =
            block.carry ? block.carry.get() + std::size_t(group) * CarryWords : nullptr;
        unsigned k = i & (GroupLines - 1);
        FileOffset start = groupStart + startInGroup(block, group, k);
        for (;;) {
            if (start > limit) {
                return copied;
            }
            out.push_back(start);
            ++copied;
            ++i;
            ++k;
            if (i >= groupEnd) {
                break;
            }
            // A short group's entry is the length of the line before, its carry bit 256.
            start = wide    ? groupStart + startInGroup(block, group, k)
                    : carry ? start + e[k] + (FileOffset(carryBit(carry, k)) << 8)
                            : start + e[k];
        }
    }
    if (i < stop && i == m_count && m_end <= limit) {
        out.push_back(m_end);
        ++copied;
    }
    return copied;
}

LineNumber LineIndex::lineAt(FileOffset offset) const
{
    if (m_count == 0) {
        return 0;
    }
    // Last block, then last group, whose first line starts at or before the offset.
    std::size_t lo = 0;
    std::size_t hi = m_blocks.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (m_blocks[mid].base <= offset) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const Block& block = m_blocks[lo];
    const LineNumber first = LineNumber(lo << BlockShift);
    const LineNumber lines = std::min<LineNumber>(BlockLines, m_count - first);
    const FileOffset rel = offset - block.base;
    if (!block.data) {
        // Lines of one length: the quotient, the last line holding the rest.
        return first + (block.stride == 0
                            ? 0
                            : LineNumber(std::min<FileOffset>(rel / block.stride, lines - 1)));
    }
    unsigned ga = 0;
    unsigned gb = (lines + GroupLines - 1) >> GroupShift;
    while (gb - ga > 1) {
        const unsigned mid = (ga + gb) / 2;
        if (checkpoint(block, mid) <= rel) {
            ga = mid;
        } else {
            gb = mid;
        }
    }
    const LineNumber groupFirst = first + (ga << GroupShift);
    const FileOffset inGroup = rel - checkpoint(block, ga);
    unsigned a = 0;
    unsigned b = std::min<LineNumber>(GroupLines, m_count - groupFirst);
    while (b - a > 1) {
        const unsigned mid = (a + b) / 2;
        if (startInGroup(block, ga, mid) <= inGroup) {
            a = mid;
        } else {
            b = mid;
        }
    }
    return groupFirst + a;
}

bool LineIndex::mayTake(std::size_t more, FileOffset offset)
{
    if (memoryBytes() + more <= m_memoryLimit) {
        return true;
    }
    m_overflow = true;
    m_memoryFull = true;
    m_end = offset;
    return false;
}

void LineIndex::clearBlocks()
{
    m_blocks.clear();
    m_count = 0;
    m_prevStart = 0;
    m_groupStart = 0;
    m_groupEntries = nullptr;
    m_groupShort = false;
    m_stride = NoStride;
    m_heapBytes = 0;
}

bool LineIndex::widenGroup(Block& block, unsigned group, FileOffset rel, FileOffset offset)
{
    const unsigned need = highBytesFor(rel);
    if (need > 4) {
        return false;
    }
    // What the wide store grows by, taken or refused before anything changes.
    const bool isWide = block.wide && ((block.wide->mask >> group) & 1u) != 0;
    const unsigned width = block.wide ? std::max(block.wide->width, need) : need;
    const unsigned wideGroups =
        (block.wide ? unsigned(__builtin_popcount(block.wide->mask)) : 0) + (isWide ? 0 : 1);
    const std::size_t highBytes = std::size_t(wideGroups) * (GroupLines - 1) * width;
    const std::size_t held = block.wide ? block.wide->high.capacity() : 0;
    if (!mayTake((block.wide ? 0 : sizeof(Wide)) + (highBytes > held ? highBytes - held : 0),
                 offset)) {
        return false;
    }
    if (!block.wide) {
        block.wide = std::make_unique<Wide>();
        m_heapBytes += sizeof(Wide);
    }
    Wide& wide = *block.wide;
    const std::size_t before = wide.high.capacity();
    if (need > wide.width) {
        // Every wide group of the block takes the new width; entries keep their values.
        const unsigned groups = unsigned(__builtin_popcount(wide.mask));
        std::vector<std::uint8_t> high(std::size_t(groups) * (GroupLines - 1) * need, 0);
        for (std::size_t entry = 0; entry < std::size_t(groups) * (GroupLines - 1); ++entry) {
            std::memcpy(high.data() + entry * need, wide.high.data() + entry * wide.width,
                        wide.width);
        }
        wide.high = std::move(high);
        wide.width = need;
    }
    if (((wide.mask >> group) & 1u) == 0) {
        // The group being filled is the block's last: its entries go at the end.
        const unsigned slot = unsigned(__builtin_popcount(wide.mask));
        // One group's room at a time: most blocks have one wide group or none.
        wide.high.reserve(std::size_t(slot + 1) * (GroupLines - 1) * wide.width);
        wide.high.resize(std::size_t(slot + 1) * (GroupLines - 1) * wide.width, 0);
        wide.mask |= 1u << group;
        std::uint8_t* e = block.group(group) + 4;
        std::uint8_t* h = wide.high.data() + std::size_t(slot) * (GroupLines - 1) * wide.width;
        std::uint64_t* carry =
            block.carry ? block.carry.get() + std::size_t(group) * CarryWords : nullptr;
        const unsigned filled = m_count & (GroupLines - 1);
        FileOffset sum = 0;
        for (unsigned k = 1; k < filled; ++k) {
            sum += e[k] + (carry ? FileOffset(carryBit(carry, k)) << 8 : 0);
            e[k] = std::uint8_t(sum);
            // 127 lengths under 512 sum to under 2^16: one higher byte holds it.
            h[std::size_t(k - 1) * wide.width] = std::uint8_t(sum >> 8);
        }
        if (carry) {
            std::fill(carry, carry + CarryWords, 0);
        }
        m_groupShort = false;
    }
    m_heapBytes = m_heapBytes - before + wide.high.capacity();
    return true;
}

bool LineIndex::spreadEvenBlock(Block& block, FileOffset offset)
{
    const LineNumber held = m_count & (BlockLines - 1);
    const unsigned groups = (held + GroupLines - 1) >> GroupShift;
    // Room for whole steps of GrowGroups, as a block that had groups from its start has.
    const unsigned room =
        std::min(BlockGroups, (groups + GrowGroups - 1) / GrowGroups * GrowGroups);
    if (!mayTake(std::size_t(room) * GroupBytes, offset)) {
        return false;
    }
    block.data.reset(new std::uint8_t[std::size_t(room) * GroupBytes]());
    m_heapBytes += std::size_t(room) * GroupBytes;
    // With one line there is no stride yet, and nothing to write but a zero checkpoint.
    for (unsigned g = 0; g < groups; ++g) {
        const auto checkpoint = std::uint32_t(g * GroupLines * block.stride);
        std::memcpy(block.group(g), &checkpoint, 4);
        const LineNumber lines = std::min<LineNumber>(GroupLines, held - g * GroupLines);
        std::memset(block.group(g) + 5, int(block.stride), lines - 1);
    }
    m_groupStart = block.base + FileOffset((groups - 1) * GroupLines * block.stride);
    m_groupEntries = block.group(groups - 1) + 4;
    m_groupShort = true;
    m_stride = NoStride;
    return true;
}

void LineIndex::pushLineStart(FileOffset offset)
{
    if (m_overflow) {
        return;
    }
    if (m_count >= MaxLines) {
        m_overflow = true;
        m_end = offset;
        return;
    }
    const unsigned k = m_count & (GroupLines - 1);
    const unsigned group = (m_count >> GroupShift) & (BlockGroups - 1);
    if ((m_count & (BlockLines - 1)) == 0) {
        // Blocks are found by binary search on their bases: they must ascend.
        QUILL_ASSERT(m_blocks.empty() || m_blocks.back().base < offset);
        if (!mayTake(sizeof(Block), offset)) {
            return;
        }
        // No groups yet: the block's lines may all be of one length.
        Block block;
        block.base = offset;
        m_blocks.push_back(std::move(block));
        m_groupShort = false;
        m_groupEntries = nullptr;
        m_stride = NoStride;
        m_prevStart = offset;
        ++m_count;
        return;
    }
    Block& block = m_blocks.back();
    if (!block.data) {
        const FileOffset delta = offset - m_prevStart;
        if ((m_count & (BlockLines - 1)) == 1 ? delta <= MaxStride : delta == block.stride) {
            block.stride = std::uint32_t(delta);
            m_stride = delta;
            m_prevStart = offset;
            ++m_count;
            return;
        }
        if (!spreadEvenBlock(block, offset)) {
            return;
        }
    }
    if (k == 0 && group % GrowGroups == 0) {
        const std::size_t room = std::min(BlockGroups, group + GrowGroups) * GroupBytes;
        if (!mayTake(room - group * GroupBytes, offset)) {
            return;
        }
        std::unique_ptr<std::uint8_t[]> more(new std::uint8_t[room]());
        std::memcpy(more.get(), block.data.get(), group * GroupBytes);
        block.data = std::move(more);
        m_heapBytes += room - group * GroupBytes;
    }
    if (k == 0) {
        const FileOffset rel = offset - block.base;
        if (rel > 0xFFFFFFFFFF) {
            // A block spanning a terabyte needs lines of gigabytes; such a line start
            // cannot be stored, and dropping it would misalign every later line.
            m_overflow = true;
            m_end = offset;
            return;
        }
        if (rel > 0xFFFFFFFF && !(block.wide && block.wide->checkpointHigh)) {
            if (!mayTake((block.wide ? 0 : sizeof(Wide)) + BlockGroups, offset)) {
                return;
            }
            if (!block.wide) {
                block.wide = std::make_unique<Wide>();
                m_heapBytes += sizeof(Wide);
            }
            block.wide->checkpointHigh.reset(new std::uint8_t[BlockGroups]());
            m_heapBytes += BlockGroups;
        }
        const auto low = std::uint32_t(rel);
        std::memcpy(block.group(group), &low, 4);
        if (block.wide && block.wide->checkpointHigh) {
            block.wide->checkpointHigh[group] = std::uint8_t(rel >> 32);
        }
        m_groupStart = offset;
        m_groupEntries = block.group(group) + 4;
        m_groupShort = true;
    } else if (m_groupShort && offset - m_prevStart <= 0xFF) {
        m_groupEntries[k] = std::uint8_t(offset - m_prevStart);
    } else if (m_groupShort && offset - m_prevStart <= 0x1FF) {
        if (!block.carry) {
            const std::size_t bytes = std::size_t(BlockGroups) * CarryWords * sizeof(std::uint64_t);
            if (!mayTake(bytes, offset)) {
                return;
            }
            block.carry.reset(new std::uint64_t[std::size_t(BlockGroups) * CarryWords]());
            m_heapBytes += bytes;
        }
        m_groupEntries[k] = std::uint8_t(offset - m_prevStart);
        block.carry[group * CarryWords + k / 64] |= std::uint64_t(1) << (k % 64);
    } else {
        const FileOffset rel = offset - m_groupStart;
        if (!widenGroup(block, group, rel, offset)) {
            m_overflow = true;
            m_end = offset;
            return;
        }
        const Wide& wide = *block.wide;
        const unsigned slot = unsigned(__builtin_popcount(wide.mask & ((1u << group) - 1)));
        std::uint8_t* h = block.wide->high.data() + (std::size_t(slot) * (GroupLines - 1) + k - 1) * wide.width;
        m_groupEntries[k] = std::uint8_t(rel);
        for (unsigned b = 0; b < wide.width; ++b) {
            h[b] = std::uint8_t(rel >> (8 * (b + 1)));
        }
    }
    m_prevStart = offset;
    ++m_count;
}

void LineIndex::appendLineStarts(FileOffset to, const std::uint32_t* starts, std::size_t n)
{
    const FileOffset from = m_end;
    if (m_overflow || to <= from) {
        return;
    }
    m_end = to;
    if (!m_open) {
        pushLineStartFast(from);
        m_open = true;
    }
    for (std::size_t i = 0; i < n && !m_overflow; ++i) {
        const FileOffset start = from + FileOffset(starts[i]);
        if (start >= to) {
            m_open = false; // the piece ends with a line feed
            break;
        }
        pushLineStartFast(start);
    }
    if (m_overflow) {
        m_open = false;
    }
}

LineIndex::AppendOutcome LineIndex::append(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0 || m_overflow) {
        return AppendOutcome::Extended;
    }
    AppendOutcome outcome = AppendOutcome::Extended;
    if (!m_decided) {
        const std::uint64_t zeroRun = m_probe.zeroRun();
        const std::size_t windowBytes = m_probe.window().size();
        m_probe.feed(bytes, n);
        if (m_probe.utf16() != m_utf16 || m_probe.bigEndian() != m_bigEndian ||
            m_probe.markBytes() != m_markBytes) {
            m_utf16 = m_probe.utf16();
            m_bigEndian = m_probe.bigEndian();
            m_markBytes = m_probe.markBytes();
            if (m_end > 0) {
                reindexProbed(zeroRun, windowBytes);
                outcome = AppendOutcome::Reindexed;
            }
        }
        if (m_probe.final()) {
            m_decided = true;
            m_probe.release();
        }
    }
    scan(bytes, bytes + n);
    return outcome;
}

void LineIndex::reindexProbed(std::uint64_t zeroRun, std::size_t windowBytes)
{
    clearBlocks();
    m_end = 0;
    m_open = false;
    m_halfUnit = false;
    if (zeroRun > 0) {
        // Zero bytes hold no line feed in either encoding: one open line.
        pushLineStart(0);
        m_open = true;
        m_end = FileOffset(zeroRun);
        m_halfUnit = m_utf16 && zeroRun % 2 != 0;
        m_lowByte = 0;
    }
    const std::uint8_t* kept = m_probe.window().data();
    scan(kept, kept + windowBytes);
}

void LineIndex::scan(const std::uint8_t* p, const std::uint8_t* e)
{
    if (m_end < FileOffset(m_markBytes)) {
        const auto skip =
            std::min<std::ptrdiff_t>(e - p, std::ptrdiff_t(FileOffset(m_markBytes) - m_end));
        m_end += skip;
        p += skip;
    }
    if (p == e) {
        return;
    }
    if (m_utf16) {
        scanUtf16(p, e);
    } else {
        scanNarrow(p, e);
    }
    if (m_overflow) {
        m_open = false; // the index ends where the first unstored line starts
    }
}

namespace {

// The positions of the line feeds in 64 bytes, as a bit mask.
inline std::uint64_t lineFeedMask(const std::uint8_t* q)
{
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    auto part = [&](int k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + std::ptrdiff_t{16} * k));
        return std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf))));
    };
    return part(0) | (part(1) << 16) | (part(2) << 32) | (part(3) << 48);
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
        mask |= std::uint64_t(q[k] == '\n') << k;
    }
    return mask;
#endif
}

// Line feeds in 64 bytes that start at an even offset of the file, as a bit mask of the
// bytes that begin a unit 0x000A.
inline std::uint64_t lineFeedUnitMask(const std::uint8_t* q, bool bigEndian = false)
{
#if defined(__SSE2__)
    // The unit as this (little-endian) processor loads it: 0A 00, or 00 0A in big-endian.
    const __m128i lf = _mm_set1_epi16(bigEndian ? 0x0A00 : 0x000A);
    auto part = [&](int k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + std::ptrdiff_t{16} * k));
        return std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi16(v, lf))));
    };
    const std::uint64_t both = part(0) | (part(1) << 16) | (part(2) << 32) | (part(3) << 48);
    return both & 0x5555555555555555ull;
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; k += 2) {
        mask |= std::uint64_t(bigEndian ? q[k] == 0 && q[k + 1] == 0x0A
                                        : q[k] == 0x0A && q[k + 1] == 0) << k;
    }
    return mask;
#endif
}

} // namespace

namespace {

#if defined(__x86_64__)
// The same masks from two 32-byte loads, where the processor has AVX2.
__attribute__((target("avx2"))) inline std::uint64_t lineFeedMaskAvx2(const std::uint8_t* q)
{
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 32));
    return std::uint64_t(std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v0, lf)))) |
           (std::uint64_t(std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v1, lf)))) << 32);
}

__attribute__((target("avx2"))) inline std::uint64_t lineFeedUnitMaskAvx2(const std::uint8_t* q,
                                                                        bool bigEndian)
{
    const __m256i lf = _mm256_set1_epi16(bigEndian ? 0x0A00 : 0x000A);
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 32));
    const std::uint64_t both =
        std::uint64_t(std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v0, lf)))) |
        (std::uint64_t(std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v1, lf)))) << 32);
    return both & 0x5555555555555555ull;
}
#endif

template <bool Avx2>
[[gnu::always_inline]] inline std::size_t collectLineStarts(const std::uint8_t* bytes,
                                                            std::size_t n, bool utf16,
                                                            std::uint32_t from,
                                                            std::uint32_t* out, bool bigEndian)
{
    const std::uint8_t* q = bytes;
    const std::uint8_t* const e = bytes + n;
    const unsigned unit = utf16 ? 2 : 1;
    std::size_t count = 0;
    for (; e - q >= 64; q += 64) {
        std::uint64_t mask;
#if defined(__x86_64__)
        if constexpr (Avx2) {
            mask = utf16 ? lineFeedUnitMaskAvx2(q, bigEndian) : lineFeedMaskAvx2(q);
        } else
#endif
        {
            mask = utf16 ? lineFeedUnitMask(q, bigEndian) : lineFeedMask(q);
        }
        // A line every hundred bytes or so leaves a branch per line feed unpredictable:
        // two starts are written whether they exist or not, and only more costs a loop.
        // Two and not four: each start waits for the mask the one before it cleared, and
        // that chain costs more than the rare loop (measured even on lines of 30 bytes).
        const auto at = from + std::uint32_t(q - bytes) + unit;
        const int found = std::popcount(mask);
        std::uint32_t* o = out + count;
        // The top bit keeps the count of trailing zeros of an emptied mask defined and
        // branch-free; it changes no other count.
        for (int j = 0; j < 2; ++j) {
            o[j] = at + std::uint32_t(__builtin_ctzll(mask | (1ull << 63)));
            mask &= mask - 1;
        }
        for (int j = 2; j < found; ++j) {
            o[j] = at + std::uint32_t(__builtin_ctzll(mask));
            mask &= mask - 1;
        }
        count += std::size_t(found);
    }
    for (; e - q >= std::ptrdiff_t(unit); q += unit) {
        const bool lineFeed = !utf16 ? q[0] == 0x0A
                              : bigEndian ? q[0] == 0 && q[1] == 0x0A
                                          : q[0] == 0x0A && q[1] == 0;
        if (lineFeed) {
            out[count++] = from + std::uint32_t(q - bytes) + unit;
        }
    }
    return count;
}

#if defined(__x86_64__)
__attribute__((target("avx2,popcnt,bmi"))) std::size_t
collectLineStartsAvx2(const std::uint8_t* bytes, std::size_t n, bool utf16, std::uint32_t from,
                      std::uint32_t* out, bool bigEndian)
{
    return collectLineStarts<true>(bytes, n, utf16, from, out, bigEndian);
}

const bool HaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
           __builtin_cpu_supports("bmi");
}();
#endif

} // namespace

std::size_t LineIndex::findLineStarts(const std::uint8_t* bytes, std::size_t n, bool utf16,
                                      std::uint32_t from, std::uint32_t* out, bool bigEndian)
{
#if defined(__x86_64__)
    if (HaveAvx2) {
        return collectLineStartsAvx2(bytes, n, utf16, from, out, bigEndian);
    }
#endif
    return collectLineStarts<false>(bytes, n, utf16, from, out, bigEndian);
}

void LineIndex::scanNarrow(const std::uint8_t* p, const std::uint8_t* e)
{
    const FileOffset base = m_end;
    m_end = base + (e - p);
    if (!m_open) {
        pushLineStartFast(base);
        m_open = true;
    }
    // Each line feed closes the open line; the next line opens with the byte after it.
    constexpr std::size_t Stretch = 4096;
    std::uint32_t starts[Stretch + 4];
    for (const std::uint8_t* q = p; q < e && !m_overflow; q += Stretch) {
        const std::size_t n = std::min<std::size_t>(Stretch, std::size_t(e - q));
        const std::size_t found = findLineStarts(q, n, false, 0, starts);
        const FileOffset at = base + (q - p);
        for (std::size_t i = 0; i < found && !m_overflow; ++i) {
            const FileOffset next = at + FileOffset(starts[i]);
            if (next == m_end) {
                m_open = false;
                break;
            }
            pushLineStartFast(next);
        }
    }
}

void LineIndex::scanUtf16(const std::uint8_t* p, const std::uint8_t* e)
{
    const std::uint8_t* const origin = p;
    const FileOffset base = m_end;
    m_end = base + (e - origin);
    if (m_halfUnit) {
        // The second byte of a unit whose first byte came with the last append. Without an
        // open line the unit began before a clear: it is not indexed.
        m_halfUnit = false;
        const bool isLineFeed = m_bigEndian ? m_lowByte == 0 && *p == 0x0A
                                            : m_lowByte == 0x0A && *p == 0;
        ++p;
        if (isLineFeed || !m_open) {
            m_open = false;
        }
        if (p == e) {
            return;
        }
    }
    if (!m_open) {
        pushLineStartFast(base + (p - origin));
        m_open = true;
    }
    // From here p is at an even offset of the file. Each unit 0x000A closes the open line;
    // the next line opens with the byte after it.
    auto lineFeed = [&](const std::uint8_t* q) {
        const std::uint8_t* next = q + 2;
        if (next == e) {
            m_open = false;
            return;
        }
        pushLineStartFast(base + (next - origin));
    };
    const std::uint8_t* q = p;
    for (; e - q >= 64 && !m_overflow; q += 64) {
        std::uint64_t mask = lineFeedUnitMask(q, m_bigEndian);
        while (mask) {
            lineFeed(q + __builtin_ctzll(mask));
            mask &= mask - 1;
        }
    }
    const std::uint8_t first = m_bigEndian ? 0 : 0x0A;
    const std::uint8_t second = m_bigEndian ? 0x0A : 0;
    for (; e - q >= 2 && !m_overflow; q += 2) {
        if (q[0] == first && q[1] == second) {
            lineFeed(q);
        }
    }
    if (q < e && !m_overflow) {
        m_halfUnit = true;
        m_lowByte = *q;
    }
}
