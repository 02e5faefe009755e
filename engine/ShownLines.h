#pragma once

// A run of whole lines of a byte-oriented encoding (UTF-8 or a narrow set that keeps ASCII
// as it is) as terminal colours show it: the bytes of every line without its complete
// control sequences (engine/SgrParser.h), all lines in one pass, for Find and the filter to
// search as they search the plain bytes.
//
// A sequence never includes a line feed, so taking them out of the run at once is taking
// them out of each line alone; it starts and ends with ASCII bytes (only a string's inside
// may be beyond ASCII, a window title's), and no byte of any other character is an ESC.
// The text shown holds a literal only where these bytes hold its bytes: between
// neighbouring characters of an occurrence lie only removed sequences. The reverse holds
// too, except where a removed sequence sat between two bytes beyond ASCII (the halves of a
// character a sequence broke): the line decodes to U+FFFD there, while these bytes join
// into a character again. Such a line is joined(), and is to be checked on its decoded
// text.
//
// A run without any ESC byte is its own shown form: strip() then copies nothing. Not
// thread-safe; one per thread, its buffers reused from run to run.

#include "engine/DocumentTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ShownLines {
  public:
    // Portable: without the processor's wider vector steps (which give the same bytes),
    // for the tests of the steps every processor takes.
    enum class Steps { Fastest, Portable };
    explicit ShownLines(Steps steps = Steps::Fastest);

    // The lines of bytes[0, starts[count] - starts[0]), line i from starts[i]. Returns false
    // when they hold no ESC byte: nothing is hidden and bytes() and starts() are not set.
    bool strip(const std::uint8_t* bytes, const FileOffset* starts, std::size_t count);

    // The same for a block of whole lines whose starts are not at hand: starts() and the
    // lines' flags are of the block as one line (its lines still end where its line feeds
    // are).
    bool stripBlock(const std::uint8_t* bytes, std::size_t n);

    // The shown bytes; line i is [starts()[i], starts()[i + 1]) counted from starts()[0],
    // which is the run's own first start.
    const std::uint8_t* bytes() const { return m_bytes.data(); }
    const FileOffset* starts() const { return m_starts.data(); }
    // Something was taken out of line i (starts: the run's own, as given to Strip).
    bool changed(std::size_t line, const FileOffset* starts) const
    {
        return m_starts[line + 1] - m_starts[line] != starts[line + 1] - starts[line];
    }
    // A sequence was taken out between two bytes beyond ASCII in line i.
    bool joined(std::size_t line) const;
    // Those lines, ascending.
    const std::vector<std::size_t>& joinedLines() const { return m_joined; }

    // Gives back buffers that grew for an unusually long run.
    void trim(std::size_t keepBytes);

  private:
    Steps m_steps;
    std::vector<std::uint8_t> m_bytes;
    std::vector<FileOffset> m_starts;
    std::vector<std::size_t> m_joined;
};
