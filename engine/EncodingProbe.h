#pragma once

// Decides whether a file is UTF-16 little-endian or narrow text from its first bytes, fed
// in any pieces from offset 0 on. The answer depends only on the bytes, never on how they
// were split, so an index built from appends equals one built from the whole file.
//
//  - FF FE at offset 0 (the byte-order mark): UTF-16, final.
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
    // The file begins with FF FE: its first line starts at offset 2.
    bool byteOrderMark() const { return m_bom; }
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
    bool m_bom = false;
    bool m_final = false;
};
