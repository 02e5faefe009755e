#pragma once

// Decides from a file's first bytes, fed in any pieces from offset 0 on, whether it is
// UTF-16 (of which byte order) or narrow text, and whether a byte-order mark comes first.
// The answer depends only on the bytes, never on how they were split, so an index built
// from appends equals one built from the whole file.
//
//  - A byte-order mark at offset 0 decides at once, final: FF FE UTF-16 little-endian,
//    FE FF UTF-16 big-endian, EF BB BF UTF-8. The mark is no text: the first line starts
//    after it.
//  - Otherwise a leading run of zero bytes is passed over (a copytruncate rotation leaves
//    one before the writer's next line; it says nothing about the text), and the first
//    WindowBytes bytes after it go to the UTF-16 test (platform/Utf16Detector.h). The run
//    is passed over in whole code units, so the window keeps the file's unit alignment.
//  - The answer is final once the window is full; before that it is provisional and may
//    change with every piece (the caller then indexes the bytes seen so far again, which
//    the probe keeps: the zero run as a count, the window as bytes).
//
// Not thread-safe; owned by the line index.

#include <cstddef>
#include <cstdint>
#include <vector>

class EncodingProbe {
  public:
    static constexpr std::size_t WindowBytes = 8192;

    // Forgets everything: the next bytes are the file's from offset 0.
    void reset();
    // Takes the next bytes and decides again (only while not final).
    void feed(const std::uint8_t* bytes, std::size_t n);

    bool utf16() const { return m_utf16; }
    // UTF-16 with the high byte of each unit first.
    bool bigEndian() const { return m_bigEndian; }
    // The bytes of the byte-order mark the file begins with (0, 2 or 3): its first line
    // starts after them. Three is the UTF-8 mark, and says the narrow text is UTF-8.
    std::size_t markBytes() const { return m_markBytes; }
    bool final() const { return m_final; }

    // What was fed so far, for indexing it again: zeroRun() zero bytes, then window().
    std::uint64_t zeroRun() const { return m_zeros; }
    const std::vector<std::uint8_t>& window() const { return m_window; }
    // Drops the kept bytes once the answer is final.
    void release();

  private:
    void decide();

    std::uint64_t m_zeros = 0;
    std::vector<std::uint8_t> m_window;
    bool m_utf16 = false;
    bool m_bigEndian = false;
    std::size_t m_markBytes = 0;
    bool m_final = false;
};
