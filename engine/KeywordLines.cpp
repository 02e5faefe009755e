#include "engine/KeywordLines.h"

#include "engine/BytePattern.h"
#include "engine/KeywordMatcher.h"
#include "engine/LineText.h"
#include "engine/LogDocument.h"
#include "engine/SgrParser.h"
#include "engine/ShownLines.h"
#include "platform/Contract.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>

namespace {

// One chunk of work: at most this many lines and bytes, so a restart or the destructor
// never waits for more than one chunk.
constexpr LineNumber ChunkLines = 64 * 1024;
constexpr FileOffset ChunkBytes = 8 << 20;
// Of a longer line only this much is read: a keyword in the first megabytes of a line of
// hundreds is found, one further in is not.
constexpr FileOffset MaxLineBytes = 4 << 20;
constexpr auto NoticeInterval = std::chrono::milliseconds(100);

// A keyword as the bytes a line holding it must hold (see BytePattern.h).
struct Needle {
    BytePattern pattern;
    bool folded = false; // searched for in the chunk with ASCII letters folded
    // A hit is an occurrence of the keyword in its line: the line needs no decoding to
    // know that this keyword matches it (UTF-8, no whole-word rule).
    bool proves = false;
    std::uint16_t keyword = 0; // index in the list
};

// What the byte search says of one line: the first keyword (index + 1, 0 for none) a hit
// proves, and the first whose hit only makes it a candidate. Keywords earlier in the list
// than both have no hit there, so they cannot match the line.
struct LineHits {
    std::uint16_t proven = 0;
    std::uint16_t unsure = 0;
};

// The needles of the enabled keywords; false when some keyword's bytes cannot be predicted
// (then every line is decoded and matched).
bool makeNeedles(const std::vector<Keyword>& keywords, bool utf16, std::vector<Needle>& needles)
{
    needles.clear();
    if (keywords.size() >= 0xFFFF) {
        return false;
    }
    for (std::size_t index = 0; index < keywords.size(); ++index) {
        const Keyword& keyword = keywords[index];
        if (!keyword.m_enabled) {
            continue;
        }
        std::u16string text = keyword.m_text;
        if (!keyword.m_matchCase) {
            FoldAsciiCase(text);
        }
        BytePattern pattern = MakeBytePattern(text, utf16, keyword.m_matchCase);
        if (pattern.impossible) {
            continue;
        }
        if (!pattern.usable || pattern.bytes.empty()) {
            return false;
        }
        const bool proves = pattern.exact && !keyword.m_matchWord;
        needles.push_back(
            {std::move(pattern), !keyword.m_matchCase, proves, std::uint16_t(index)});
    }
    return true;
}

} // namespace

KeywordLines::KeywordLines(LogDocument& document, std::function<void()> notify,
                           std::function<std::vector<Keyword>()> keywords)
    : m_doc(document), m_notify(std::move(notify)), m_source(std::move(keywords))
{
    m_thread = std::thread([this] { workerLoop(); });
}

KeywordLines::~KeywordLines()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        ++m_generation;
    }
    m_wake.notify_all();
    m_thread.join();
}

void KeywordLines::Sync()
{
    const LineNumber count = m_doc.GetLineCount();
    if (count > 0 && !m_doc.IsEncodingDecided()) {
        m_doc.GetLine(count - 1); // decides the encoding, as the view's first paint would
    }
    const std::uint64_t epoch = m_doc.IndexEpoch();
    const bool open = count > 0 && m_doc.LastLineOpen();
    const bool utf16 = m_doc.IsUtf16();
    const bool terminal = m_doc.TerminalColors();
    const std::vector<Keyword> keywords = m_source ? m_source() : m_doc.GetKeywords();
    const bool anyEnabled = std::any_of(keywords.begin(), keywords.end(),
                                        [](const Keyword& k) { return k.m_enabled; });
    {
        std::lock_guard lock(m_mutex);
        // A line decoded the other way would have other keywords: another encoding (the
        // file's first bytes deciding late) starts over as a new index does.
        if (epoch != m_epoch || utf16 != m_utf16 || terminal != m_terminal ||
            keywords != m_keywords || m_doc.NativePath() != m_path) {
            ++m_generation;
            m_epoch = epoch;
            m_utf16 = utf16;
            m_terminal = terminal;
            m_keywords = keywords;
            m_path = m_doc.NativePath();
            m_lines.clear();
            m_lines.shrink_to_fit();
            m_buckets.clear();
            m_shift = 0;
            m_checked = 0;
        }
        m_target = anyEnabled && !m_path.empty() ? count - (open ? 1 : 0) : 0;
        m_target = std::max(m_target, m_checked);
    }
    m_wake.notify_all();
}

void KeywordLines::addLine(LineNumber line, std::size_t keyword)
{
    // Chunks are checked in order and each line once: the list stays ascending.
    QUILL_ASSERT(m_lines.empty() || m_lines.back() < line);
    m_lines.push_back(line);
    while ((std::uint64_t(line) >> m_shift) >= MaxBuckets) {
        // Twice the lines a bucket: each keeps the first keyword of its two halves.
        for (std::size_t b = 0; b < m_buckets.size(); b += 2) {
            const std::uint8_t first = m_buckets[b];
            const std::uint8_t second = b + 1 < m_buckets.size() ? m_buckets[b + 1] : 0;
            m_buckets[b / 2] = first != 0 ? first : second;
        }
        m_buckets.resize((m_buckets.size() + 1) / 2);
        ++m_shift;
    }
    const std::size_t bucket = line >> m_shift;
    if (m_buckets.size() <= bucket) {
        m_buckets.resize(bucket + 1, 0);
    }
    if (m_buckets[bucket] == 0) {
        m_buckets[bucket] = static_cast<std::uint8_t>(std::min<std::size_t>(keyword + 1, 255));
    }
}

void KeywordLines::workerLoop()
{
    LogDocument::LineRun run;
    std::vector<std::uint8_t> bytes;
    std::u16string text;
    quill::ReadOnlyFile file;
    std::uint64_t fileGeneration = ~std::uint64_t(0);
    std::vector<std::pair<LineNumber, std::size_t>> found;
    std::vector<Needle> needles;
    bool presearch = false;
    std::uint64_t needlesGeneration = ~std::uint64_t(0);
    std::vector<std::uint8_t> folded;
    std::vector<LineHits> hits;
    ShownLines shown;
    auto lastNotice = std::chrono::steady_clock::now();
    for (;;) {
        std::uint64_t generation = 0;
        std::string path;
        bool utf16 = false;
        bool terminal = false;
        std::vector<Keyword> keywords;
        LineNumber next = 0;
        LineNumber target = 0;
        {
            std::unique_lock lock(m_mutex);
            if (m_busy && m_checked >= m_target) {
                m_busy = false;
                m_idle.notify_all();
                lock.unlock();
                if (m_notify) {
                    m_notify();
                }
                lastNotice = std::chrono::steady_clock::now();
                lock.lock();
            }
            m_wake.wait(lock, [this] { return m_quit || m_checked < m_target; });
            if (m_quit) {
                m_busy = false;
                m_idle.notify_all();
                return;
            }
            m_busy = true;
            generation = m_generation;
            path = m_path;
            utf16 = m_utf16;
            terminal = m_terminal;
            keywords = m_keywords;
            next = m_checked;
            target = m_target;
        }
        m_doc.CopyLineRun(next, target, ChunkLines, ChunkBytes, run);
        std::size_t count = run.starts.empty() ? 0 : run.starts.size() - 1;
        bool usable = count > 0 && run.first == next;
        {
            std::lock_guard lock(m_mutex);
            usable = usable && run.epoch == m_epoch && generation == m_generation;
        }
        if (!usable) {
            // The index started over under the pass: the next Sync() starts it again.
            std::lock_guard lock(m_mutex);
            if (generation == m_generation) {
                m_target = m_checked;
            }
            continue;
        }
        if (fileGeneration != generation || !file.isOpen()) {
            file = quill::ReadOnlyFile::open(path);
            fileGeneration = generation;
        }
        found.clear();
        bool readable = file.isOpen();
        // Lines are read in one go unless one of them is long; a long one alone, cut short.
        const FileOffset start = run.starts.front();
        const FileOffset end = run.starts[count];
        if (needlesGeneration != generation) {
            // UTF-16 lines with terminal colours are decoded before their sequences go.
            presearch = makeNeedles(keywords, utf16, needles) && !(terminal && utf16);
            needlesGeneration = generation;
        }
        // Without the byte search every line is decoded and matched.
        hits.assign(count, LineHits{0, 1});
        if (readable && end - start <= ChunkBytes) {
            bytes.resize(static_cast<std::size_t>(end - start));
            readable = file.readAt(bytes.data(), bytes.size(), start) ==
                       static_cast<std::int64_t>(bytes.size());
            if (readable && presearch) {
                // Only lines whose bytes hold some keyword's bytes can hold the keyword: they
                // are found with the byte search Find uses, and only they are decoded.
                hits.assign(count, LineHits{});
                // With terminal colours, the lines as shown (engine/ShownLines.h).
                const bool stripped =
                    terminal && shown.Strip(bytes.data(), run.starts.data(), count);
                const std::uint8_t* hay = stripped ? shown.Bytes() : bytes.data();
                const FileOffset* starts = stripped ? shown.Starts() : run.starts.data();
                const std::size_t n = std::size_t(starts[count] - start);
                if (std::any_of(needles.begin(), needles.end(),
                                [](const Needle& needle) { return needle.folded; })) {
                    folded.resize(n);
                    FoldAsciiBytes(hay, folded.data(), n);
                }
                for (const Needle& needle : needles) {
                    const std::uint8_t* base = needle.folded ? folded.data() : hay;
                    const std::uint8_t* at = base;
                    while (const std::uint8_t* hit =
                               FindPatternBytes(at, base + n, needle.pattern)) {
                        const FileOffset offset = start + (hit - base);
                        const std::size_t line =
                            std::size_t(std::upper_bound(starts, starts + count + 1, offset) -
                                        starts) -
                            1;
                        const std::uint16_t k = std::uint16_t(needle.keyword + 1);
                        const bool proves =
                            needle.proves && !(stripped && shown.Joined(line));
                        std::uint16_t& slot = proves ? hits[line].proven : hits[line].unsure;
                        slot = slot == 0 ? k : std::min(slot, k);
                        // The rest of that line is settled: on from the next line's start.
                        at = base + (starts[line + 1] - start);
                    }
                }
            }
        }
        for (std::size_t i = 0; readable && i < count; ++i) {
            const LineHits h = hits[i];
            if (h.proven == 0 && h.unsure == 0) {
                continue;
            }
            if (h.proven != 0 && (h.unsure == 0 || h.proven < h.unsure)) {
                found.emplace_back(next + LineNumber(i), std::size_t(h.proven - 1));
                continue;
            }
            const FileOffset from = run.starts[i];
            const FileOffset to = run.starts[i + 1];
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            if (end - start <= ChunkBytes) {
                data = bytes.data() + (from - start);
                size = static_cast<std::size_t>(to - from);
            } else {
                size = static_cast<std::size_t>(std::min(to - from, MaxLineBytes));
                bytes.resize(size);
                readable = file.readAt(bytes.data(), size, from) == std::int64_t(size);
                data = bytes.data();
            }
            text.clear();
            DecodeLineBytes(data, size, utf16, text);
            if (terminal) {
                StripSgrInPlace(text, nullptr);
            }
            if (const Keyword* keyword = FindKeyword(keywords, StripTerminator(text))) {
                found.emplace_back(next + LineNumber(i),
                                   static_cast<std::size_t>(keyword - keywords.data()));
            }
            if (i % 4096 == 4095) {
                std::lock_guard lock(m_mutex);
                if (generation != m_generation) {
                    readable = false;
                }
            }
        }
        bool tell = false;
        {
            std::lock_guard lock(m_mutex);
            if (generation != m_generation) {
                continue;
            }
            if (!readable) {
                // The file shrank or went: the reload that follows starts over.
                m_target = m_checked;
                continue;
            }
            for (const auto& [line, keyword] : found) {
                addLine(line, keyword);
            }
            m_checked = next + LineNumber(count);
            m_linesRead += count;
            const auto now = std::chrono::steady_clock::now();
            if (now - lastNotice >= NoticeInterval && m_checked < m_target) {
                tell = true;
                lastNotice = now;
            }
        }
        if (tell && m_notify) {
            m_notify();
        }
    }
}

KeywordLines::Overview KeywordLines::GetOverview() const
{
    Overview overview;
    std::lock_guard lock(m_mutex);
    overview.buckets = m_buckets;
    overview.shift = m_shift;
    overview.checked = m_checked;
    overview.backgrounds.reserve(m_keywords.size());
    for (const Keyword& keyword : m_keywords) {
        overview.backgrounds.push_back(keyword.m_backgroundColor);
    }
    return overview;
}

KeywordLines::Outcome KeywordLines::Neighbour(LineNumber from, bool down, LineNumber& line) const
{
    std::lock_guard lock(m_mutex);
    if (down) {
        const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), from);
        if (after != m_lines.end()) {
            line = *after;
            return Outcome::Found;
        }
        return m_checked < m_target ? Outcome::Pending : Outcome::None;
    }
    // Lines before `from` that are not checked yet may hold a nearer one.
    if (m_checked < from && m_checked < m_target) {
        return Outcome::Pending;
    }
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), from);
    if (at != m_lines.begin()) {
        line = *(at - 1);
        return Outcome::Found;
    }
    return Outcome::None;
}

LineNumber KeywordLines::CheckedLines() const
{
    std::lock_guard lock(m_mutex);
    return m_checked;
}

bool KeywordLines::IsIdle() const
{
    std::lock_guard lock(m_mutex);
    return m_checked >= m_target;
}

bool KeywordLines::WaitIdle(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [this] { return m_checked >= m_target && !m_busy; });
}

std::size_t KeywordLines::MemoryBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_lines.capacity() * sizeof(LineNumber) + m_buckets.capacity();
}

std::uint64_t KeywordLines::LinesRead() const
{
    std::lock_guard lock(m_mutex);
    return m_linesRead;
}
