#pragma once

// One compiled filter term and how it is matched against a run of whole lines read from
// the file. Literal terms use the byte-level pre-search of find (BytePattern: a rare-byte search
// over the run, then only the lines with a hit are decoded and checked, when a hit is not exact
// by itself). Regular expressions use PCRE2 with its JIT: on UTF-8 text over the whole run
// at once where the pattern cannot tell a line in a run from a line alone (no lookaround,
// \A, \z, \G, \K, verbs or unset options), with a check of the line alone only when a
// match runs past its end; line by line otherwise, and always on UTF-16 and other narrow
// sets (16-bit PCRE2 on the decoded line).
//
// A compiled pattern is immutable and may be used by several threads at once, each with
// its own FilterScratch.
//
// The time of one line is bounded. PCRE2's step limit alone does not bound it: the JIT
// counts the steps from each start of a match apart, and one step may scan the whole line
// (`(.*a){20}` takes seconds on a line of 10 kB well within a million steps). So a line is
// first matched by the plain code with a step limit that shrinks as lines grow; a line over
// it is matched again by a copy of the pattern that calls back before each of its items,
// where the clock and Stop are looked at. A line over its time is reported as undecided,
// never as "no match"; Stop and a new filter are seen inside such a line, and between lines
// the matcher asks the scratch whether the pass is still wanted.

#include "engine/BytePattern.h"
#include "engine/DocumentTypes.h"
#include "engine/FilterSet.h"
#include "engine/ShownLines.h"
#include "engine/ShownLiteral.h"
#include "engine/ShownText.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// How the document's bytes are text.
enum class FilterTextForm : int {
    Utf8,    // UTF-8 (chosen, or the locale's set)
    Utf16,   // UTF-16 little-endian
    Narrow,  // another narrow set, decoded line by line
    Utf16Be, // UTF-16 big-endian, decoded line by line
};

// The file's bytes of lines first .. first + count - 1: bytes[0] is the byte at starts[0].
struct LineChunk {
    const std::uint8_t* bytes = nullptr;
    const FileOffset* starts = nullptr; // count + 1 entries, the last the end of the last line
    std::size_t count = 0;
    FilterTextForm form = FilterTextForm::Utf8;
    // Terminal colours are on: lines are matched as shown, without their control
    // sequences (engine/SgrParser.h).
    bool terminal = false;
    // The encoding the lines decode in (the document's encodingForm()).
    quill::TextEncoding encoding = quill::TextEncoding::Locale;
    // Carriage returns inside lines are shown, not applied, and drawn as crSymbol
    // (engine/ShownText.h): a line that holds one is matched as shown.
    bool controls = false;
    char16_t crSymbol = LoneCrSymbol;
};

// Tells a matcher that the pass it serves is no longer wanted: the generation moved on, or
// Stop was pressed. Either pointer may be null.
struct FilterAbort {
    const std::atomic<std::uint64_t>* generation = nullptr;
    std::uint64_t wanted = 0;
    const std::atomic<bool>* stopped = nullptr;
    // Also when this time has passed (checked every few lines); none when zero.
    std::chrono::steady_clock::time_point deadline{};
};

// Matching state of one thread: PCRE2 match data and JIT stacks, decoding buffers, and the
// case-folded copy of the current chunk (shared by every term that needs it). Call
// newChunk() before matching the terms of each chunk.
class FilterScratch {
  public:
    FilterScratch();
    ~FilterScratch();
    FilterScratch(const FilterScratch&) = delete;
    FilterScratch& operator=(const FilterScratch&) = delete;

    void newChunk() { m_foldedValid = m_foldedInPlace = false; }
    // The chunk's bytes are themselves folded already (every term of the filter ignores
    // case and is a literal on UTF-8 text, so none needs the bytes as they were).
    void newFoldedChunk() { m_foldedValid = m_foldedInPlace = true; }
    // Gives back buffers that grew for an unusually long line.
    void trim(std::size_t keepBytes);

    void setAbort(const FilterAbort& abort)
    {
        m_abort = abort;
        m_deadlineCountdown = 0;
    }
    // Asked by matchers between lines: two relaxed loads, and the clock now and then.
    bool abortRequested()
    {
        if (abandoned()) {
            return true;
        }
        if (m_abort.deadline == std::chrono::steady_clock::time_point() ||
            m_deadlineCountdown-- > 0) {
            return false;
        }
        m_deadlineCountdown = m_quick ? 3 : 15;
        return std::chrono::steady_clock::now() >= m_abort.deadline;
    }
    // The pass is no longer wanted (the flags only, not the deadline).
    bool abandoned() const
    {
        return (m_abort.generation != nullptr &&
                m_abort.generation->load(std::memory_order_relaxed) != m_abort.wanted) ||
               (m_abort.stopped != nullptr && m_abort.stopped->load(std::memory_order_relaxed));
    }
    // The scratch of lane k (0-2) of those a chunk's runs are shared out to by two threads
    // (engine/TwoLanes.h), kept from chunk to chunk, with this one's abort and quickness.
    FilterScratch& lane(std::size_t k);
    // Takes another's abort and quickness: a helper thread's scratch for the same chunk.
    void takeSettings(const FilterScratch& other)
    {
        if (m_abort.generation != other.m_abort.generation ||
            m_abort.stopped != other.m_abort.stopped || m_abort.wanted != other.m_abort.wanted ||
            m_abort.deadline != other.m_abort.deadline) {
            setAbort(other.m_abort);
        }
        if (m_quick != other.m_quick) {
            setQuick(other.m_quick);
        }
        m_lineBudget = other.m_lineBudget;
    }
    // Quick: a tenth of the steps and time a regular expression may take on a line (for a
    // caller that must not be held up; a line it cannot decide so is left to one that may).
    void setQuick(bool quick);
    bool quick() const { return m_quick; }
    // How long a regular expression may take on one line (tests and benchmarks change it;
    // Quick takes a tenth of it).
    void setLineBudget(std::chrono::nanoseconds budget) { m_lineBudget = budget; }
    std::chrono::nanoseconds lineBudget() const
    {
        return m_quick ? m_lineBudget / 10 : m_lineBudget;
    }
    // Lines the plain code could not decide within its steps and that were matched again
    // with the clock watched (benchmarks report it).
    std::uint64_t watchedLines() const { return m_watchedLines; }

  private:
    friend class FilterPattern;
    const std::uint8_t* folded(const LineChunk& chunk);
    struct Pcre;
    std::unique_ptr<Pcre> m_pcre;
    std::vector<std::uint8_t> m_folded;
    ShownLines m_shown; // a run of lines as terminal colours show them
    // The lines of a run that ShownLiteral names, copied one after another (and their
    // searched bytes when those are folded), and the rows found among them.
    std::vector<std::uint32_t> m_gatheredLines;
    std::vector<std::uint8_t> m_gatheredBytes;
    std::vector<std::uint8_t> m_gatheredHay;
    std::vector<FileOffset> m_gatheredStarts;
    std::vector<std::uint32_t> m_gatheredRows;
    std::vector<std::uint32_t> m_gatheredUndecided;
    std::array<std::unique_ptr<FilterScratch>, 3> m_lanes;
    bool m_foldedValid = false;
    bool m_foldedInPlace = false;
    std::u16string m_text;
    FilterAbort m_abort;
    int m_deadlineCountdown = 0;
    bool m_quick = false;
    std::chrono::nanoseconds m_lineBudget;
    std::uint64_t m_watchedLines = 0;
};

// How a filter term judges a run of lines. FilterPattern is the one the program uses; tests
// put in matchers whose cost per line they choose.
class LineMatcher {
  public:
    virtual ~LineMatcher() = default;
    // Appends the indexes (ascending, 0 .. count - 1) of the chunk's lines the term matches
    // to rows, and of those it could not decide (too complex for the pattern) to undecided.
    // Returns false when scratch.abortRequested() answered true between two lines: what was
    // appended then covers only part of the chunk and is to be dropped.
    virtual bool matchLines(const LineChunk& chunk, FilterScratch& scratch,
                            std::vector<std::uint32_t>& rows,
                            std::vector<std::uint32_t>& undecided) const = 0;
    // The term needs the bytes only with ASCII letters folded to lower case (a literal that
    // ignores case), so a chunk may be folded in place for it.
    virtual bool foldedBytesSuffice() const { return false; }
};

class FilterPattern : public LineMatcher {
  public:
    // A term with a regular expression that does not compile gives nullptr, PCRE2's
    // message and the offset in the term's text where it failed.
    static std::unique_ptr<FilterPattern> compile(const FilterTerm& term, std::u16string& message,
                                                  std::size_t& offset);
    ~FilterPattern() override;
    FilterPattern(const FilterPattern&) = delete;
    FilterPattern& operator=(const FilterPattern&) = delete;

    bool matchLines(const LineChunk& chunk, FilterScratch& scratch,
                    std::vector<std::uint32_t>& rows,
                    std::vector<std::uint32_t>& undecided) const override;
    bool foldedBytesSuffice() const override
    {
        return !m_term.regularExpression && !m_term.matchCase;
    }

    // What a line is, as regexLine(), match8() and match16() say.
    enum Verdict : int {
        Abandoned = -2, // the pass is no longer wanted: Stop, a new filter, a deadline
        Undecided = -1, // over the line's time, or a limit of PCRE2's own
        NoMatch = 0,
        Match = 1,
    };
    // Find's rule on one decoded line: the first match that starts at or after start and
    // holds at least one character (a match of nothing cannot be selected), its units
    // [begin, end). Text before start is seen by lookbehind and \b. The line's time and the
    // scratch's abort bound it as they bound a filtered line.
    Verdict findIn(std::u16string_view line, std::size_t start, FilterScratch& scratch,
                   std::size_t& begin, std::size_t& end) const;
    const FilterTerm& term() const { return m_term; }
    // The whole run is searched at once for UTF-8 text (tests and benchmarks report it).
    bool matchesRunsAtOnce() const { return m_runSafe; }

  private:
    FilterPattern() = default;
    bool matchLiteral(const LineChunk& chunk, FilterScratch& scratch,
                      std::vector<std::uint32_t>& rows) const;
    bool literalLine(const LineChunk& chunk, std::size_t i, FilterScratch& scratch) const;
    // A run of lines (hay: its searched bytes) with terminal colours on, searched as shown.
    bool shownLiteral(const LineChunk& run, const std::uint8_t* hay, FilterScratch& scratch,
                      std::vector<std::uint32_t>& rows) const;
    bool shownRegex(const LineChunk& run, FilterScratch& scratch, std::vector<std::uint32_t>& rows,
                    std::vector<std::uint32_t>& undecided) const;
    // Copies the lines of run that `literal` finds in hay into the scratch, as `gathered`
    // (and their hay as gatheredHay): the lines to match in the run's place. False when
    // there are none.
    static bool gatherShown(const ShownLiteral& literal, const LineChunk& run,
                            const std::uint8_t* hay, FilterScratch& scratch, LineChunk& gathered,
                            const std::uint8_t*& gatheredHay);
    // The byte search over hay, a chunk's bytes or its lines as shown (starts then the shown
    // starts); hits are checked by the exact rule where a byte hit is not an occurrence.
    // ignoreCase: hay is not folded, the search folds as it compares.
    bool searchLiteral(const LineChunk& chunk, const std::uint8_t* hay, const FileOffset* starts,
                       const ShownLines* shown, FilterScratch& scratch,
                       std::vector<std::uint32_t>& rows, bool ignoreCase = false) const;
    // After a run's lines were matched as shown: its joined() lines judged again on their
    // decoded text (rows and undecided from the given sizes on are the run's).
    // False when the pass was abandoned.
    bool judgeJoined(const LineChunk& run, FilterScratch& scratch, std::vector<std::uint32_t>& rows,
                     std::size_t rowsBefore, std::vector<std::uint32_t>& undecided,
                     std::size_t undecidedBefore) const;
    bool terminalLines(const LineChunk& chunk, FilterScratch& scratch,
                       std::vector<std::uint32_t>& rows, std::size_t firstRow) const;
    bool matchRegex(const LineChunk& chunk, FilterScratch& scratch,
                    std::vector<std::uint32_t>& rows, std::vector<std::uint32_t>& undecided) const;
    // Lines [first, end) of a chunk of UTF-8 lines, the longest of `longest` bytes, searched
    // as one subject; false when the pass was abandoned.
    bool matchSlice(const LineChunk& chunk, std::size_t first, std::size_t end, std::size_t longest,
                    FilterScratch& scratch, std::vector<std::uint32_t>& rows,
                    std::vector<std::uint32_t>& undecided) const;
    Verdict regexLine(const LineChunk& chunk, std::size_t i, FilterScratch& scratch) const;
    // Sets the plain 8-bit code's step limit for lines of up to `longest` bytes.
    void setSteps8(std::size_t longest, FilterScratch& scratch) const;
    // The plain code (Undecided when over its steps); ovector of the 8-bit match data holds
    // the match. The 16-bit one sets its steps itself and matches again watched when over.
    Verdict match8(const std::uint8_t* subject, std::size_t length, std::size_t start,
                   FilterScratch& scratch) const;
    Verdict match16(const char16_t* subject, std::size_t length, FilterScratch& scratch,
                    std::size_t start = 0, std::uint32_t options = 0) const;
    // One line again with the watched code, within the line's time.
    Verdict watched8(const std::uint8_t* subject, std::size_t length, FilterScratch& scratch) const;
    Verdict watched16(const char16_t* subject, std::size_t length, FilterScratch& scratch,
                      std::size_t start = 0, std::uint32_t options = 0) const;
    // The lines of the chunk with a carriage return inside them are judged again on their
    // text as shown (a terminal's writing over, or the symbol), whatever the bytes said:
    // rows and undecided from their given sizes on.
    bool judgeCarriageReturns(const LineChunk& chunk, FilterScratch& scratch,
                              std::vector<std::uint32_t>& rows, std::size_t rowsBefore,
                              std::vector<std::uint32_t>& undecided,
                              std::size_t undecidedBefore) const;

    FilterTerm m_term;
    std::u16string m_foldedText; // the literal, folded when case is ignored
    // The literal's bytes in each encoding a file may be read in, by TextEncoding.
    std::array<BytePattern, quill::TextEncodingCount> m_bytes;
    // The same for the search as terminal colours show the lines.
    std::array<ShownLiteral, quill::TextEncodingCount> m_shownBytes;
    // A regular expression's required text (engine/RegexLiteral.h), for that search.
    ShownLiteral m_required;
    struct Codes;
    std::unique_ptr<Codes> m_codes; // regular expressions only
    bool m_runSafe = false;
};
