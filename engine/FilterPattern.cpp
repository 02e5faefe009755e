#include "engine/FilterPattern.h"

#include "engine/LineText.h"
#include "engine/RegexLiteral.h"
#include "engine/SgrParser.h"
#include "engine/ShownRuns.h"
#include "engine/TwoLanes.h"
#include "platform/NarrowCodec.h"

#define PCRE2_CODE_UNIT_WIDTH 0
#include <pcre2.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// How far the plain code may go from one start of a match before the line is matched
// again with the clock watched. The JIT counts steps from each start apart, and a step may
// scan as far as the line is long (a backtracking `.*` looking for its next text), so the
// steps shrink as the longest line of the subject grows: a start costs at most a few
// milliseconds of scanning here, whatever the line. Lines of up to a few hundred bytes keep
// a limit of tens of thousands of steps and more, beyond what a usual pattern needs. The
// interpreter, used when the JIT cannot compile a pattern, takes about ten times as long a
// step. The depth limit keeps the interpreter's backtracking memory small. The JIT stack is
// eight times PCRE2's usual advice of a megabyte, so that a group repeated along a long line
// does not run out of it (a line that does is undecided); it is reserved address space,
// touched only as deep as a match goes.
constexpr std::uint64_t JitScanSteps = 10'000'000;
constexpr std::uint32_t JitMatchLimit = 1'000'000;
constexpr std::uint32_t InterpreterMatchLimit = 100'000;
constexpr std::uint32_t MinMatchLimit = 2;
constexpr std::uint32_t DepthLimit = 50'000;
constexpr std::size_t JitStackSize = std::size_t{8} << 20;

// How long a regular expression may take on one line once the plain code has given up on
// it: ten milliseconds, and more for a long line, at the pace of a watched match that goes
// through the line once (the callouts cost some nanoseconds each): 60 ms for 5 MB. The
// callouts look at Stop and a new filter every WatchEvery calls (a call comes before each
// item of the pattern), and at the clock as well.
constexpr auto LineTime = std::chrono::milliseconds(10);
constexpr std::uint64_t NanosecondsPerUnit = 10;
constexpr int WatchEvery = 64;

// The run-at-once search goes over this many bytes of whole lines per call, so that its
// step limit can follow the longest of them and the pass looks at Stop between calls.
constexpr std::size_t SliceBytes = std::size_t{64} << 10;

std::chrono::nanoseconds lineTime(std::size_t length, const FilterScratch& scratch)
{
    const std::uint64_t perUnit = NanosecondsPerUnit / (scratch.quick() ? 10 : 1);
    return scratch.lineBudget() + std::chrono::nanoseconds(std::uint64_t(length) * perUnit);
}

// The steps for a subject whose longest line is `longest` units: halved each time the length
// doubles (a shift, as this is asked for every line matched alone).
std::uint32_t stepLimit(std::size_t longest, bool jit, bool quick)
{
    constexpr std::uint64_t Work[2][2] = {{JitScanSteps / 10, JitScanSteps / 100},
                                          {JitScanSteps, JitScanSteps / 10}};
    constexpr std::uint64_t Cap[2][2] = {{InterpreterMatchLimit, InterpreterMatchLimit / 10},
                                         {JitMatchLimit, JitMatchLimit / 10}};
    const int halvings = std::bit_width(std::max<std::size_t>(longest, 1)) - 1;
    return std::uint32_t(
        std::clamp<std::uint64_t>(Work[jit][quick] >> halvings, MinMatchLimit, Cap[jit][quick]));
}

// Whole word: not after and not before a character other than Find's word delimiters;
// the line ends count as delimiters, so a line inside a run behaves as the line alone.
constexpr char16_t WordBefore[] = u"(?<![^\\t ,;:\\\\/.\\r\\n])(?:";
constexpr char16_t WordAfter[] = u")(?![^\\t ,;:\\\\/.\\r\\n])";

// Constructs that let a pattern see past a line's ends or the subject's start, so that a
// line inside a run may match differently than the line alone: lookaround, \A \z \Z \G
// \K, verbs and newline overrides "(*...)", and unsetting options (multi-line mode off).
// A conservative textual test: an escaped look-alike only costs speed.
bool seesPastLine(std::u16string_view p)
{
    for (std::size_t i = 0; i + 1 < p.size(); ++i) {
        if (p[i] == u'\\') {
            const char16_t c = p[i + 1];
            if (c == u'A' || c == u'z' || c == u'Z' || c == u'G' || c == u'K') {
                return true;
            }
            ++i;
            continue;
        }
        if (p[i] == u'(' && p[i + 1] == u'*') {
            return true;
        }
        if (p[i] == u'(' && p[i + 1] == u'?') {
            std::size_t k = i + 2;
            if (k < p.size() && (p[k] == u'=' || p[k] == u'!' || p[k] == u'^')) {
                return true;
            }
            if (k + 1 < p.size() && p[k] == u'<' && (p[k + 1] == u'=' || p[k + 1] == u'!')) {
                return true;
            }
            while (k < p.size() &&
                   ((p[k] >= u'a' && p[k] <= u'z') || (p[k] >= u'A' && p[k] <= u'Z'))) {
                ++k;
            }
            if (k < p.size() && p[k] == u'-') {
                return true;
            }
        }
    }
    return false;
}

// The length of a line's text without its end: a final LF, a CR before it, or a final CR
// of a line still being written (it may be the first half of a CR LF).
template <typename Unit> std::size_t contentLength(const Unit* p, std::size_t n)
{
    if (n > 0 && p[n - 1] == Unit('\n')) {
        --n;
    }
    if (n > 0 && p[n - 1] == Unit('\r')) {
        --n;
    }
    return n;
}

} // namespace

struct FilterPattern::Codes {
    pcre2_code_8* code8 = nullptr; // null when the pattern cannot be had as UTF-8
    pcre2_code_16* code16 = nullptr;
    // The same, calling back before every item (PCRE2_AUTO_CALLOUT): slower, but the clock
    // and Stop are seen inside a match.
    pcre2_code_8* watched8 = nullptr;
    pcre2_code_16* watched16 = nullptr;
    bool jit8 = false;
    bool jit16 = false;
    bool watchedJit8 = false;
    bool watchedJit16 = false;
    ~Codes()
    {
        pcre2_code_free_8(code8);
        pcre2_code_free_16(code16);
        pcre2_code_free_8(watched8);
        pcre2_code_free_16(watched16);
    }
};

namespace {

// What the watched code's callouts look at, and what they found.
struct Watch {
    FilterScratch* scratch = nullptr;
    std::chrono::steady_clock::time_point deadline; // the line's, or the pass's when sooner
    std::chrono::steady_clock::time_point passDeadline;
    int countdown = 0;
    bool abandoned = false; // true: the pass, not just the line, is over
};

int watchCallout(Watch& watch)
{
    if (--watch.countdown > 0) {
        return 0;
    }
    watch.countdown = WatchEvery;
    if (watch.scratch->abandoned()) {
        watch.abandoned = true;
        return PCRE2_ERROR_CALLOUT;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < watch.deadline) {
        return 0;
    }
    watch.abandoned =
        watch.passDeadline != std::chrono::steady_clock::time_point() && now >= watch.passDeadline;
    return PCRE2_ERROR_CALLOUT;
}

int watchCallout8(pcre2_callout_block_8*, void* data)
{
    return watchCallout(*static_cast<Watch*>(data));
}

int watchCallout16(pcre2_callout_block_16*, void* data)
{
    return watchCallout(*static_cast<Watch*>(data));
}

} // namespace

struct FilterScratch::Pcre {
    pcre2_match_data_8* data8 = pcre2_match_data_create_8(1, nullptr);
    pcre2_match_data_16* data16 = pcre2_match_data_create_16(1, nullptr);
    // The plain code's contexts; their step limit is set before each call.
    pcre2_match_context_8* context8 = pcre2_match_context_create_8(nullptr);
    pcre2_match_context_16* context16 = pcre2_match_context_create_16(nullptr);
    // The watched code's: no step limit but the clock.
    pcre2_match_context_8* watch8 = pcre2_match_context_create_8(nullptr);
    pcre2_match_context_16* watch16 = pcre2_match_context_create_16(nullptr);
    pcre2_jit_stack_8* stack8 =
        pcre2_jit_stack_create_8(std::size_t{32} << 10, JitStackSize, nullptr);
    pcre2_jit_stack_16* stack16 =
        pcre2_jit_stack_create_16(std::size_t{32} << 10, JitStackSize, nullptr);
    Watch watch;
    Pcre()
    {
        for (pcre2_match_context_8* context : {context8, watch8}) {
            if (context) {
                pcre2_set_depth_limit_8(context, DepthLimit);
                if (stack8) {
                    pcre2_jit_stack_assign_8(context, nullptr, stack8);
                }
            }
        }
        for (pcre2_match_context_16* context : {context16, watch16}) {
            if (context) {
                pcre2_set_depth_limit_16(context, DepthLimit);
                if (stack16) {
                    pcre2_jit_stack_assign_16(context, nullptr, stack16);
                }
            }
        }
        if (watch8) {
            pcre2_set_match_limit_8(watch8, ~std::uint32_t(0));
            pcre2_set_callout_8(watch8, watchCallout8, &watch);
        }
        if (watch16) {
            pcre2_set_match_limit_16(watch16, ~std::uint32_t(0));
            pcre2_set_callout_16(watch16, watchCallout16, &watch);
        }
    }
    ~Pcre()
    {
        pcre2_match_data_free_8(data8);
        pcre2_match_data_free_16(data16);
        pcre2_match_context_free_8(context8);
        pcre2_match_context_free_16(context16);
        pcre2_match_context_free_8(watch8);
        pcre2_match_context_free_16(watch16);
        pcre2_jit_stack_free_8(stack8);
        pcre2_jit_stack_free_16(stack16);
    }
    Pcre(const Pcre&) = delete;
    Pcre& operator=(const Pcre&) = delete;
    // Starts the clock of one line's watched match.
    void startWatch(FilterScratch& scratch, const FilterAbort& abort,
                    std::chrono::nanoseconds budget)
    {
        const auto now = std::chrono::steady_clock::now();
        watch.scratch = &scratch;
        watch.passDeadline = abort.deadline;
        watch.deadline =
            now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(budget);
        if (abort.deadline != std::chrono::steady_clock::time_point()) {
            watch.deadline = std::min(watch.deadline, abort.deadline);
        }
        watch.countdown = 1; // the flags at the first callout already
        watch.abandoned = false;
    }
};

FilterScratch::FilterScratch() : m_pcre(std::make_unique<Pcre>()), m_lineBudget(LineTime) {}
FilterScratch::~FilterScratch() = default;

const std::uint8_t* FilterScratch::folded(const LineChunk& chunk)
{
    if (m_foldedInPlace) {
        return chunk.bytes;
    }
    if (!m_foldedValid) {
        const std::size_t n = std::size_t(chunk.starts[chunk.count] - chunk.starts[0]);
        if (m_folded.size() < n) {
            m_folded.resize(n);
        }
        foldAsciiBytes(chunk.bytes, m_folded.data(), n);
        m_foldedValid = true;
    }
    return m_folded.data();
}

FilterScratch& FilterScratch::lane(std::size_t k)
{
    if (!m_lanes[k]) {
        m_lanes[k] = std::make_unique<FilterScratch>();
    }
    m_lanes[k]->takeSettings(*this);
    return *m_lanes[k];
}

void FilterScratch::setQuick(bool quick)
{
    m_quick = quick;
}

void FilterScratch::trim(std::size_t keepBytes)
{
    if (m_folded.size() > keepBytes) {
        m_folded = std::vector<std::uint8_t>();
        m_foldedValid = false;
    }
    if (m_text.capacity() > keepBytes) {
        m_text = std::u16string();
    }
    m_shown.trim(keepBytes);
    for (const std::unique_ptr<FilterScratch>& lane : m_lanes) {
        if (lane) {
            lane->trim(keepBytes);
        }
    }
}

FilterPattern::~FilterPattern() = default;

std::unique_ptr<FilterPattern> FilterPattern::compile(const FilterTerm& term,
                                                      std::u16string& message, std::size_t& offset)
{
    std::unique_ptr<FilterPattern> pattern(new FilterPattern);
    pattern->m_term = term;
    if (!term.regularExpression) {
        pattern->m_foldedText = term.text;
        if (!term.matchCase) {
            foldAsciiCase(pattern->m_foldedText);
        }
        for (int e = 1; e < quill::TextEncodingCount; ++e) {
            const BytePattern& bytes = pattern->m_bytes[std::size_t(e)] =
                makeBytePattern(pattern->m_foldedText, quill::TextEncoding(e), term.matchCase);
            // Terminal colours are searched in the raw bytes of byte-oriented text only.
            if (bytes.usable && !bytes.bytes.empty() && !quill::isUtf16(quill::TextEncoding(e))) {
                pattern->m_shownBytes[std::size_t(e)] = ShownLiteral(bytes.bytes, bytes.rare);
            }
        }
        return pattern;
    }

    auto codes = std::make_unique<Codes>();
    pcre2_compile_context_16* context16 = pcre2_compile_context_create_16(nullptr);
    pcre2_compile_context_8* context8 = pcre2_compile_context_create_8(nullptr);
    if (context16) {
        pcre2_set_newline_16(context16, PCRE2_NEWLINE_ANYCRLF);
    }
    if (context8) {
        pcre2_set_newline_8(context8, PCRE2_NEWLINE_ANYCRLF);
    }
    const std::uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_MULTILINE |
                                  (term.matchCase ? 0u : PCRE2_CASELESS);
    // The term's own text first, so that an error's offset points into what the user typed.
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    codes->code16 = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(term.text.data()),
                                     term.text.size(), options, &error, &errorOffset, context16);
    if (codes->code16 && term.wholeWord) {
        pcre2_code_free_16(codes->code16);
        const std::u16string wrapped = WordBefore + term.text + WordAfter;
        codes->code16 = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(wrapped.data()),
                                         wrapped.size(), options, &error, &errorOffset, context16);
        errorOffset = std::min<PCRE2_SIZE>(errorOffset, term.text.size());
    }
    if (!codes->code16) {
        PCRE2_UCHAR16 buffer[256] = {};
        const int length = pcre2_get_error_message_16(error, buffer, 256);
        message.assign(reinterpret_cast<const char16_t*>(buffer),
                       length > 0 ? std::size_t(length) : 0);
        offset = errorOffset;
        pcre2_compile_context_free_16(context16);
        pcre2_compile_context_free_8(context8);
        return nullptr;
    }
    codes->jit16 = pcre2_jit_compile_16(codes->code16, PCRE2_JIT_COMPLETE) == 0;

    std::u16string source = term.text;
    if (term.wholeWord) {
        source = WordBefore + term.text + WordAfter;
    }
    // The watched copies compile wherever the plain code did; should one not, its lines
    // stay undecided.
    codes->watched16 =
        pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(source.data()), source.size(),
                         options | PCRE2_AUTO_CALLOUT, &error, &errorOffset, context16);
    if (codes->watched16) {
        codes->watchedJit16 = pcre2_jit_compile_16(codes->watched16, PCRE2_JIT_COMPLETE) == 0;
    }
    std::string utf8;
    if (encodeUtf8Exact(source, utf8)) {
        codes->code8 = pcre2_compile_8(reinterpret_cast<PCRE2_SPTR8>(utf8.data()), utf8.size(),
                                       options, &error, &errorOffset, context8);
        if (codes->code8) {
            codes->jit8 = pcre2_jit_compile_8(codes->code8, PCRE2_JIT_COMPLETE) == 0;
            codes->watched8 =
                pcre2_compile_8(reinterpret_cast<PCRE2_SPTR8>(utf8.data()), utf8.size(),
                                options | PCRE2_AUTO_CALLOUT, &error, &errorOffset, context8);
        }
        if (codes->watched8) {
            codes->watchedJit8 = pcre2_jit_compile_8(codes->watched8, PCRE2_JIT_COMPLETE) == 0;
        }
    }
    pcre2_compile_context_free_16(context16);
    pcre2_compile_context_free_8(context8);
    pattern->m_runSafe = codes->code8 && !seesPastLine(term.text);
    // A single byte, or one beside a class or two, would name nearly every line.
    if (const RequiredText required = requiredLiteral(term.text, !term.matchCase);
        requiredWeight(required) >= 4) {
        // The rarest single byte is looked for first (a class's place is never one).
        std::size_t rare = 0;
        for (std::size_t i = 0; i < required.size(); ++i) {
            if (required[i].size() == 1 &&
                (required[rare].size() != 1 || byteRarity(std::uint8_t(required[i][0])) >
                                                   byteRarity(std::uint8_t(required[rare][0])))) {
                rare = i;
            }
        }
        pattern->m_required = ShownLiteral(required, rare);
    }
    pattern->m_codes = std::move(codes);
    return pattern;
}

bool FilterPattern::matchLines(const LineChunk& chunk, FilterScratch& scratch,
                               std::vector<std::uint32_t>& rows,
                               std::vector<std::uint32_t>& undecided) const
{
    if (chunk.count == 0) {
        return true;
    }
    const std::size_t rowsBefore = rows.size();
    const std::size_t undecidedBefore = undecided.size();
    if (!(m_codes ? matchRegex(chunk, scratch, rows, undecided)
                  : matchLiteral(chunk, scratch, rows))) {
        return false;
    }
    return judgeCarriageReturns(chunk, scratch, rows, rowsBefore, undecided, undecidedBefore);
}

FilterPattern::Verdict FilterPattern::match8(const std::uint8_t* subject, std::size_t length,
                                             std::size_t start, FilterScratch& scratch) const
{
    FilterScratch::Pcre& pcre = *scratch.m_pcre;
    if (!pcre.data8 || !pcre.context8) {
        return Undecided;
    }
    const int rc = m_codes->jit8 ? pcre2_jit_match_8(m_codes->code8, subject, length, start, 0,
                                                     pcre.data8, pcre.context8)
                                 : pcre2_match_8(m_codes->code8, subject, length, start, 0,
                                                 pcre.data8, pcre.context8);
    return rc >= 0 ? Match : rc == PCRE2_ERROR_NOMATCH ? NoMatch : Undecided;
}

void FilterPattern::setSteps8(std::size_t longest, FilterScratch& scratch) const
{
    if (scratch.m_pcre->context8) {
        pcre2_set_match_limit_8(scratch.m_pcre->context8,
                                stepLimit(longest, m_codes->jit8, scratch.quick()));
    }
}

FilterPattern::Verdict FilterPattern::match16(const char16_t* subject, std::size_t length,
                                              FilterScratch& scratch, std::size_t start,
                                              std::uint32_t options) const
{
    FilterScratch::Pcre& pcre = *scratch.m_pcre;
    if (!pcre.data16 || !pcre.context16) {
        return Undecided;
    }
    pcre2_set_match_limit_16(pcre.context16, stepLimit(length, m_codes->jit16, scratch.quick()));
    const auto* s = reinterpret_cast<PCRE2_SPTR16>(subject);
    const int rc = m_codes->jit16 ? pcre2_jit_match_16(m_codes->code16, s, length, start, options,
                                                       pcre.data16, pcre.context16)
                                  : pcre2_match_16(m_codes->code16, s, length, start, options,
                                                   pcre.data16, pcre.context16);
    const Verdict verdict = rc >= 0 ? Match : rc == PCRE2_ERROR_NOMATCH ? NoMatch : Undecided;
    return verdict == Undecided ? watched16(subject, length, scratch, start, options) : verdict;
}

FilterPattern::Verdict FilterPattern::watched8(const std::uint8_t* subject, std::size_t length,
                                               FilterScratch& scratch) const
{
    FilterScratch::Pcre& pcre = *scratch.m_pcre;
    if (!m_codes->watched8 || !pcre.data8 || !pcre.watch8) {
        return Undecided;
    }
    ++scratch.m_watchedLines;
    pcre.startWatch(scratch, scratch.m_abort, lineTime(length, scratch));
    const int rc =
        m_codes->watchedJit8
            ? pcre2_jit_match_8(m_codes->watched8, subject, length, 0, 0, pcre.data8, pcre.watch8)
            : pcre2_match_8(m_codes->watched8, subject, length, 0, 0, pcre.data8, pcre.watch8);
    if (rc == PCRE2_ERROR_CALLOUT && pcre.watch.abandoned) {
        return Abandoned;
    }
    return rc >= 0 ? Match : rc == PCRE2_ERROR_NOMATCH ? NoMatch : Undecided;
}

FilterPattern::Verdict FilterPattern::watched16(const char16_t* subject, std::size_t length,
                                                FilterScratch& scratch, std::size_t start,
                                                std::uint32_t options) const
{
    FilterScratch::Pcre& pcre = *scratch.m_pcre;
    if (!m_codes->watched16 || !pcre.data16 || !pcre.watch16) {
        return Undecided;
    }
    ++scratch.m_watchedLines;
    pcre.startWatch(scratch, scratch.m_abort, lineTime(length, scratch));
    const auto* s = reinterpret_cast<PCRE2_SPTR16>(subject);
    const int rc = m_codes->watchedJit16 ? pcre2_jit_match_16(m_codes->watched16, s, length, start,
                                                              options, pcre.data16, pcre.watch16)
                                         : pcre2_match_16(m_codes->watched16, s, length, start,
                                                          options, pcre.data16, pcre.watch16);
    if (rc == PCRE2_ERROR_CALLOUT && pcre.watch.abandoned) {
        return Abandoned;
    }
    return rc >= 0 ? Match : rc == PCRE2_ERROR_NOMATCH ? NoMatch : Undecided;
}

FilterPattern::Verdict FilterPattern::findIn(std::u16string_view line, std::size_t start,
                                             FilterScratch& scratch, std::size_t& begin,
                                             std::size_t& end) const
{
    if (!m_codes || start > line.size()) {
        return m_codes ? NoMatch : Undecided;
    }
    const Verdict verdict = match16(line.data(), line.size(), scratch, start, PCRE2_NOTEMPTY);
    if (verdict == Match) {
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer_16(scratch.m_pcre->data16);
        begin = std::size_t(ovector[0]);
        end = std::size_t(ovector[1]);
        if (end <= begin) {
            return Undecided; // \K in a lookaround set the start past the end
        }
    }
    return verdict;
}

FilterPattern::Verdict FilterPattern::regexLine(const LineChunk& chunk, std::size_t i,
                                                FilterScratch& scratch) const
{
    const std::size_t from = std::size_t(chunk.starts[i] - chunk.starts[0]);
    const std::size_t to = std::size_t(chunk.starts[i + 1] - chunk.starts[0]);
    const std::uint8_t* p = chunk.bytes + from;
    const std::size_t n = to - from;
    if ((chunk.terminal && std::memchr(p, 0x1B, n) != nullptr) ||
        findInnerCarriageReturn(p, p + n, chunk.encoding) != nullptr) {
        std::u16string& shown = scratch.m_text;
        shown.clear();
        decodeLineBytes(p, n, chunk.encoding, shown);
        showLineText(shown, nullptr, showingOf(chunk));
        shown.resize(stripTerminator(shown).size());
        return match16(shown.data(), shown.size(), scratch);
    }
    if (chunk.form == FilterTextForm::Utf8 && m_codes->code8) {
        const std::size_t length = contentLength(p, n);
        setSteps8(length, scratch);
        const Verdict verdict = match8(p, length, 0, scratch);
        return verdict == Undecided ? watched8(p, length, scratch) : verdict;
    }
    std::u16string& text = scratch.m_text;
    text.clear();
    if (chunk.form == FilterTextForm::Utf16 || chunk.form == FilterTextForm::Utf16Be) {
        // Unit by unit: the line may start at an odd offset in the buffer.
        const int high = chunk.form == FilterTextForm::Utf16Be ? 0 : 1;
        text.resize(n / 2);
        for (std::size_t k = 0; k < n / 2; ++k) {
            text[k] = char16_t(p[2 * k + 1 - high] | (p[2 * k + high] << 8));
        }
    } else {
        quill::appendBytesAsUtf16(std::string_view(reinterpret_cast<const char*>(p), n),
                                  chunk.encoding, text);
    }
    return match16(text.data(), contentLength(text.data(), text.size()), scratch);
}

bool FilterPattern::shownRegex(const LineChunk& run, FilterScratch& scratch,
                               std::vector<std::uint32_t>& rows,
                               std::vector<std::uint32_t>& undecided) const
{
    // The sequences are ASCII bytes: taken out of the UTF-8 bytes of the whole run, its
    // lines are matched as any others, without decoding them.
    LineChunk plain = run;
    plain.terminal = false;
    if (!scratch.m_shown.strip(run.bytes, run.starts, run.count)) {
        return matchRegex(plain, scratch, rows, undecided);
    }
    plain.bytes = scratch.m_shown.bytes();
    plain.starts = scratch.m_shown.starts();
    return matchRegex(plain, scratch, rows, undecided) &&
           judgeJoined(run, scratch, rows, 0, undecided, 0);
}

bool FilterPattern::matchRegex(const LineChunk& chunk, FilterScratch& scratch,
                               std::vector<std::uint32_t>& rows,
                               std::vector<std::uint32_t>& undecided) const
{
    if (chunk.terminal && chunk.form == FilterTextForm::Utf8 && m_codes->code8) {
        // Where the expression requires a text, only the lines that may hold it as shown
        // are taken out of their sequences (searched folded when case is ignored, each run
        // folded on its own lane).
        const bool required = m_required.usable();
        return forShownRuns(
            chunk, chunk.bytes, scratch, rows, &undecided,
            [&](const LineChunk& run, const std::uint8_t*, FilterScratch& runScratch,
                std::vector<std::uint32_t>& runRows, std::vector<std::uint32_t>& runUndecided) {
                if (!required) {
                    return shownRegex(run, runScratch, runRows, runUndecided);
                }
                const std::uint8_t* hay = run.bytes;
                if (!m_term.matchCase) {
                    runScratch.newChunk();
                    hay = runScratch.folded(run);
                }
                LineChunk gathered;
                const std::uint8_t* gatheredHay = nullptr;
                if (!gatherShown(m_required, run, hay, runScratch, gathered, gatheredHay)) {
                    return !runScratch.abortRequested();
                }
                std::vector<std::uint32_t>& found = runScratch.m_gatheredRows;
                std::vector<std::uint32_t>& unsure = runScratch.m_gatheredUndecided;
                found.clear();
                unsure.clear();
                if (!shownRegex(gathered, runScratch, found, unsure)) {
                    return false;
                }
                for (const std::uint32_t row : found) {
                    runRows.push_back(runScratch.m_gatheredLines[row]);
                }
                for (const std::uint32_t row : unsure) {
                    runUndecided.push_back(runScratch.m_gatheredLines[row]);
                }
                return true;
            });
    }
    if (chunk.form == FilterTextForm::Utf8 && m_runSafe && !chunk.terminal) {
        for (std::size_t line = 0; line < chunk.count;) {
            if (scratch.abortRequested()) {
                return false;
            }
            // Whole lines up to SliceBytes (at least one), and the longest of them.
            const FileOffset sliceEnd = chunk.starts[line] + FileOffset(SliceBytes);
            FileOffset longest = chunk.starts[line + 1] - chunk.starts[line];
            std::size_t end = line + 1;
            for (; end < chunk.count && chunk.starts[end + 1] <= sliceEnd; ++end) {
                longest = std::max(longest, chunk.starts[end + 1] - chunk.starts[end]);
            }
            if (!matchSlice(chunk, line, end, std::size_t(longest), scratch, rows, undecided)) {
                return false;
            }
            line = end;
        }
        return true;
    }
    for (std::size_t line = 0; line < chunk.count; ++line) {
        if (scratch.abortRequested()) {
            return false;
        }
        const Verdict verdict = regexLine(chunk, line, scratch);
        if (verdict == Abandoned) {
            return false;
        }
        if (verdict != NoMatch) {
            (verdict == Match ? rows : undecided).push_back(std::uint32_t(line));
        }
    }
    return true;
}

bool FilterPattern::matchSlice(const LineChunk& chunk, std::size_t first, std::size_t end,
                               std::size_t longest, FilterScratch& scratch,
                               std::vector<std::uint32_t>& rows,
                               std::vector<std::uint32_t>& undecided) const
{
    auto judge = [&](std::size_t line) {
        const Verdict verdict = regexLine(chunk, line, scratch);
        if (verdict != NoMatch && verdict != Abandoned) {
            (verdict == Match ? rows : undecided).push_back(std::uint32_t(line));
        }
        return verdict != Abandoned;
    };
    const FileOffset base = chunk.starts[first];
    const std::uint8_t* const bytes = chunk.bytes + std::size_t(base - chunk.starts[0]);
    const std::size_t length = std::size_t(chunk.starts[end] - base);
    const FileOffset* const startsEnd = chunk.starts + end + 1;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer_8(scratch.m_pcre->data8);
    std::size_t line = first;
    std::size_t pos = 0;
    setSteps8(longest, scratch);
    for (;;) {
        const Verdict verdict = match8(bytes, length, pos, scratch);
        if (verdict == Undecided) {
            break; // a line over the steps: the rest of the slice line by line
        }
        if (verdict == NoMatch) {
            return true;
        }
        const std::size_t start = ovector[0];
        if (start >= length) {
            // An empty match at the very end: the last line's, unless that line ended.
            if (length > 0 && bytes[length - 1] != '\n' && line < end) {
                return judge(end - 1);
            }
            return true;
        }
        line = std::size_t(
                   std::upper_bound(chunk.starts + line + 1, startsEnd, base + FileOffset(start)) -
                   chunk.starts) -
               1;
        const std::size_t lineFrom = std::size_t(chunk.starts[line] - base);
        const std::size_t lineTo = std::size_t(chunk.starts[line + 1] - base);
        const std::size_t contentEnd =
            lineFrom + contentLength(bytes + lineFrom, lineTo - lineFrom);
        if (ovector[1] <= contentEnd) {
            rows.push_back(std::uint32_t(line));
        } else if (!judge(line)) {
            return false;
        } else {
            setSteps8(longest, scratch); // the line alone had its own
        }
        if (++line >= end) {
            return true;
        }
        pos = std::size_t(chunk.starts[line] - base);
    }
    for (; line < end; ++line) {
        if ((line > first && scratch.abortRequested()) || !judge(line)) {
            return false;
        }
    }
    return true;
}
