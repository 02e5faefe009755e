// The document's decoded lines: the window of decoded lines around what the view shows, the
// tail that an append extends, long lines shown and read in pieces of columns, and the text
// of one line read straight from the file.

#include "engine/LogDocument.h"

#include "engine/LineText.h"
#include "engine/LongLine.h"
#include "engine/SgrParser.h"
#include "engine/ShownText.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <limits>
#include <new>
#include <optional>

namespace {

// A long line is shown from a part of three pieces of this many columns around the focus:
// the view's width fits in one piece, so a scroll within the line decodes anew only when
// it leaves the middle piece, and a window of long lines holds at most 96 KiB a line.
constexpr std::int64_t LongPieceColumns = std::int64_t{1} << 14;
// A copy or a search of a long line reads it in pieces of this many columns.
constexpr std::int64_t LongReadColumns = std::int64_t{1} << 20;
// Bytes read around a part: a character cut by its edges (4 bytes of UTF-8), the bytes of
// a terminator.
constexpr FileOffset LongPartMargin = 4;

} // namespace

void LogDocument::copyLineRun(LineNumber first, LineNumber limit, LineNumber maxLines,
                              FileOffset maxBytes, LineRun& run) const
{
    std::lock_guard lock(m_docAccess);
    run.epoch = m_indexEpoch;
    run.first = first;
    run.starts.clear();
    run.lineCount = m_index.lineCount();
    run.lastOpen = false;
    const LineNumber end = std::min(limit, m_index.lineCount());
    if (first >= end) {
        return;
    }
    const LineNumber most = std::min(end - first, maxLines);
    const FileOffset base = m_index.lineStart(first);
    run.starts.reserve(std::size_t(most) + 1);
    // The first line's end is always included, however far it is.
    const FileOffset far = std::numeric_limits<FileOffset>::max();
    m_index.copyStarts(first, 2, far, run.starts);
    m_index.copyStarts(first + 2, most - 1, maxBytes > far - base ? far : base + maxBytes,
                       run.starts);
    const LineNumber last = first + LineNumber(run.starts.size()) - 2;
    run.lastOpen = last + 1 == m_index.lineCount() && m_index.lastLineOpen();
}

void LogDocument::copyLinesStartingIn(LineNumber first, LineNumber limit, FileOffset from,
                                      FileOffset to, LineRun& run) const
{
    std::lock_guard lock(m_docAccess);
    run.epoch = m_indexEpoch;
    run.starts.clear();
    run.lineCount = m_index.lineCount();
    run.lastOpen = false;
    const LineNumber end = std::min(limit, m_index.lineCount());
    run.first = first;
    if (first >= end) {
        return;
    }
    if (from > m_index.lineStart(first)) {
        if (from >= m_index.lineStart(end)) {
            run.first = end;
            return;
        }
        // The line holding `from`, or the next one when it began before.
        const LineNumber holder = m_index.lineAt(from);
        run.first = std::max(first, m_index.lineStart(holder) < from ? holder + 1 : holder);
    }
    if (run.first >= end || to <= m_index.lineStart(run.first)) {
        return;
    }
    const LineNumber copied = m_index.copyStarts(run.first, end - run.first, to - 1, run.starts);
    m_index.copyStarts(run.first + copied, 1, std::numeric_limits<FileOffset>::max(), run.starts);
    const LineNumber last = run.first + copied - 1;
    run.lastOpen = last + 1 == m_index.lineCount() && m_index.lastLineOpen();
}

void LogDocument::computeWindow(LineNumber line, LineNumber lineCount, LineNumber& first,
                                LineNumber& end)
{
    const LineNumber half = std::min(lineCount, WindowLines) / 2;
    if (line > half) {
        first = line - half;
        end = line + half;
        if (end > lineCount) {
            end = lineCount;
            first = lineCount >= WindowLines ? lineCount - WindowLines : 0;
        }
    } else {
        first = 0;
        end = std::min(lineCount, WindowLines);
    }
}

std::u16string LogDocument::line(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    return std::u16string(lineView(index));
}

std::u16string_view LogDocument::lineView(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    if (index >= m_index.lineCount()) {
        return {};
    }
    if ((index < m_windowFirst || index >= m_windowEnd) && !fetchWindow(index)) {
        return {};
    }
    if (m_tail.stale && index == m_tail.line) {
        refreshTail();
    }
    if (index < m_windowFirst || index >= m_windowEnd) {
        return {};
    }
    if (isLongLineLocked(index)) {
        return longLinePart(index).text;
    }
    return stripTerminator(m_lineCache[index - m_windowFirst]);
}

LogDocument::LinePart LogDocument::linePart(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    const std::u16string_view text = lineView(index);
    if (index < m_windowFirst || index >= m_windowEnd || !isLongLineLocked(index)) {
        return LinePart{text, 0, -1};
    }
    return longLinePart(index);
}

bool LogDocument::isLongLine(LineNumber index) const
{
    std::lock_guard lock(m_docAccess);
    return index < m_index.lineCount() && isLongLineLocked(index);
}

bool LogDocument::isLongLineLocked(LineNumber line) const
{
    return std::uint64_t(m_index.lineStart(line + 1) - m_index.lineStart(line)) > LongLineBytes;
}

std::int64_t LogDocument::longestLongLineColumns() const
{
    std::lock_guard lock(m_docAccess);
    FileOffset longest = 0;
    const LineNumber end = std::min(m_windowEnd, m_index.lineCount());
    for (LineNumber line = m_windowFirst; line < end; ++line) {
        longest = std::max(longest, m_index.lineStart(line + 1) - m_index.lineStart(line));
    }
    return std::uint64_t(longest) > LongLineBytes
               ? longLineColumns(std::uint64_t(longest), encodingForm())
               : 0;
}

std::int64_t LogDocument::lineTextBytes(const quill::ReadOnlyFile& file, LineNumber line) const
{
    const FileOffset start = m_index.lineStart(line);
    const FileOffset size = m_index.lineStart(line + 1) - start;
    if (line + 1 == m_index.lineCount() && m_index.lastLineOpen()) {
        return size;
    }
    // A terminator is a line feed, maybe after a carriage return, of the line's encoding.
    std::uint8_t tail[4] = {0, 0, 0, 0};
    const FileOffset want = std::min<FileOffset>(size, 4);
    if (file.readAt(tail + (4 - want), std::size_t(want), start + size - want) != want) {
        return -1;
    }
    const quill::TextEncoding form = encodingForm();
    if (quill::isUtf16(form)) {
        const bool big = form == quill::TextEncoding::Utf16Be;
        auto unitAt = [&](int k) {
            return big ? char16_t((tail[k] << 8) | tail[k + 1])
                       : char16_t(tail[k] | (tail[k + 1] << 8));
        };
        if (want < 2 || unitAt(2) != u'\n') {
            return size;
        }
        return size - (want == 4 && unitAt(0) == u'\r' ? 4 : 2);
    }
    if (want < 1 || tail[3] != '\n') {
        return size;
    }
    return size - (want >= 2 && tail[2] == '\r' ? 2 : 1);
}

LogDocument::LongPart& LogDocument::longEntry(std::vector<std::unique_ptr<LongPart>>& parts,
                                              LineNumber line)
{
    const FileOffset bytes = m_index.lineStart(line + 1) - m_index.lineStart(line);
    auto it = std::find_if(parts.begin(), parts.end(),
                           [&](const auto& part) { return part->line == line; });
    if (it == parts.end()) {
        parts.push_back(std::make_unique<LongPart>());
        it = parts.end() - 1;
        (*it)->line = line;
    }
    LongPart& part = **it;
    // The text generation tells a reindex or a switch of terminal colours: the same bytes
    // may then read as other text.
    if (part.bytes != bytes || part.generation != m_textGeneration) {
        part.text.clear();
        part.piece = -1;
        part.columns = -1;
        part.bytes = bytes;
        part.generation = m_textGeneration;
    }
    return part;
}

LogDocument::LinePart LogDocument::longLinePart(LineNumber line)
{
    const FileOffset bytes = m_index.lineStart(line + 1) - m_index.lineStart(line);
    const std::int64_t lastPiece = std::max<std::int64_t>(
        0, (longLineColumns(std::uint64_t(bytes), encodingForm()) - 1) / LongPieceColumns);
    const std::int64_t piece = std::min(m_longFocus / LongPieceColumns, lastPiece);
    return decodeLongPieces(longEntry(m_longParts, line), std::max<std::int64_t>(0, piece - 1),
                            piece + 2);
}

LogDocument::LinePart LogDocument::decodeLongPieces(LongPart& part, std::int64_t piece,
                                                    std::int64_t endPiece)
{
    if (part.piece == piece && part.endPiece == endPiece) {
        return LinePart{part.text, part.first, part.columns};
    }
    const LineNumber line = part.line;
    const FileOffset bytes = part.bytes;
    const quill::TextEncoding form = encodingForm();
    std::u16string& text = part.text;
    text.clear();
    part.piece = -1;
    part.first = piece * LongPieceColumns;
    quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_nativePath);
    const std::int64_t textBytes = file.isOpen() ? lineTextBytes(file, line) : -1;
    part.columns = textBytes >= 0 ? longLineColumns(std::uint64_t(textBytes), form) : 0;
    if (textBytes >= 0) {
        const bool hide = terminalColors();
        const FileOffset margin = LongPartMargin + longSequenceMargin(form, hide);
        const std::int64_t unit = longLineUnitBytes(form);
        const std::int64_t end = std::min(part.columns, endPiece * LongPieceColumns);
        const FileOffset from = std::max<FileOffset>(0, part.first * unit - margin);
        const FileOffset to = std::min<FileOffset>(bytes, end * unit + margin);
        try {
            std::vector<std::uint8_t> buffer(std::size_t(std::max<FileOffset>(0, to - from)));
            const std::int64_t got =
                file.readAt(buffer.data(), buffer.size(), m_index.lineStart(line) + from);
            if (got > 0) {
                text.reserve(std::size_t(std::max<std::int64_t>(0, end - part.first)) + 1);
                decodeLongLinePart(buffer.data(), std::size_t(got), std::uint64_t(from),
                                   std::uint64_t(textBytes), part.first, end - part.first, form,
                                   true, text, nullptr, hide);
                part.piece = piece;
                part.endPiece = endPiece;
            }
        } catch (const std::bad_alloc&) {
            text.clear();
        }
    }
    return LinePart{part.text, part.first, part.columns};
}

LogDocument::LinePart LogDocument::longLineColumnsPart(LineNumber index, std::int64_t first,
                                                       std::int64_t count)
{
    std::lock_guard lock(m_docAccess);
    const std::u16string_view text = lineView(index);
    if (index < m_windowFirst || index >= m_windowEnd || !isLongLineLocked(index)) {
        return LinePart{text, 0, -1};
    }
    first = std::max<std::int64_t>(0, first);
    count = std::clamp<std::int64_t>(count, 1, LongRangeColumns);
    // A piece more on either side: a scroll by a few rows finds its text decoded.
    const std::int64_t piece = std::max<std::int64_t>(0, first / LongPieceColumns - 1);
    const std::int64_t endPiece = (first + count + LongPieceColumns - 1) / LongPieceColumns + 1;
    return decodeLongPieces(longEntry(m_wrapParts, index), piece, endPiece);
}

std::int64_t LogDocument::longLineTextColumns(LineNumber index)
{
    std::lock_guard lock(m_docAccess);
    if (index >= m_index.lineCount() || !isLongLineLocked(index)) {
        return 0;
    }
    LongPart& part = longEntry(m_wrapParts, index);
    if (part.columns < 0) {
        quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_nativePath);
        const std::int64_t textBytes = file.isOpen() ? lineTextBytes(file, index) : -1;
        if (textBytes < 0) {
            return 0;
        }
        part.columns = longLineColumns(std::uint64_t(textBytes), encodingForm());
    }
    return part.columns;
}

void LogDocument::lines(const std::vector<LineNumber>& lines, std::vector<std::u16string>& texts,
                        std::vector<StyleRuns>* runs)
{
    std::lock_guard lock(m_docAccess);
    texts.assign(lines.size(), std::u16string());
    if (runs != nullptr) {
        runs->assign(lines.size(), StyleRuns());
    }
    std::optional<quill::ReadOnlyFile> file;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineNumber line = lines[i];
        if (line >= m_index.lineCount()) {
            continue;
        }
        if (line >= m_windowFirst && line < m_windowEnd) {
            texts[i] = lineView(line);
            if (runs != nullptr) {
                (*runs)[i] = lineRuns(line);
            }
            continue;
        }
        if (!file) {
            file.emplace(openFile());
        }
        if (file->isOpen()) {
            readLineText(*file, line, texts[i], runs != nullptr ? &(*runs)[i] : nullptr);
        }
    }
}

std::u16string LogDocument::longestLine() const
{
    std::lock_guard lock(m_docAccess);
    LongestLineKey key;
    return std::u16string(longestLineView(key));
}

std::u16string_view LogDocument::longestLineView(LongestLineKey& key) const
{
    std::lock_guard lock(m_docAccess);
    if (m_longestLength == 0) {
        key = LongestLineKey{m_textGeneration, 0, 0, 0};
        return {};
    }
    const std::u16string& text = m_lineCache[m_longestSlot];
    const LineNumber line = m_windowFirst + m_longestSlot;
    const bool growing = m_tail.valid && m_tail.line == line;
    key = LongestLineKey{m_textGeneration, line, text.size(),
                         growing ? std::min(m_tail.safeLength, text.size()) : text.size()};
    return text;
}

void LogDocument::findLongestLine()
{
    m_longestLength = 0;
    m_longestSlot = 0;
    // Only the window's slots: one past its end may hold a row the watcher dropped.
    const LineNumber shown = m_windowEnd - m_windowFirst;
    for (LineNumber slot = 0; slot < shown; ++slot) {
        if (m_lineCache[slot].size() > m_longestLength) {
            m_longestLength = m_lineCache[slot].size();
            m_longestSlot = slot;
        }
    }
}

bool LogDocument::fetchWindow(LineNumber line)
{
    quill::ReadOnlyFile file = openFile();
    if (!file.isOpen()) {
        return false;
    }
    if (m_tail.stale) {
        refreshTail();
    }
    LineNumber first = 0;
    LineNumber end = 0;
    computeWindow(line, m_index.lineCount(), first, end);

    std::vector<std::u16string> slots(WindowLines + 1);
    const LineNumber oldFirst = m_windowFirst;
    const LineNumber oldEnd = m_windowEnd;
    LineNumber keepFirst = std::max(first, oldFirst);
    LineNumber keepEnd = std::min(end, oldEnd);
    if (oldEnd > oldFirst && keepEnd > keepFirst) {
        // The old window's last line may still grow while it has no line feed; the open
        // tail is kept up to date instead.
        if (keepEnd == oldEnd &&
            m_lineCache[oldEnd - 1 - oldFirst].find(u'\n') == std::u16string::npos &&
            !(m_tail.valid && m_tail.line == oldEnd - 1)) {
            --keepEnd;
        }
        for (LineNumber l = keepFirst; l < keepEnd; ++l) {
            slots[l - first] = std::move(m_lineCache[l - oldFirst]);
        }
    } else {
        keepFirst = keepEnd = first;
    }
    if (m_tail.valid && (m_tail.line < keepFirst || m_tail.line >= keepEnd)) {
        m_tail = OpenTail();
    }
    m_lineCache.swap(slots);
    slots.clear();
    decodeRange(file, first, keepFirst, 0, m_lineCache);
    decodeRange(file, keepEnd, end, keepEnd - first, m_lineCache);
    m_windowFirst = first;
    m_windowEnd = end;
    std::erase_if(m_lineRuns,
                  [&](const auto& entry) { return entry.first < first || entry.first >= end; });
    std::erase_if(m_longParts,
                  [&](const auto& part) { return part->line < first || part->line >= end; });
    std::erase_if(m_wrapParts,
                  [&](const auto& part) { return part->line < first || part->line >= end; });
    findLongestLine();
    return true;
}

void LogDocument::refreshTail()
{
    m_tail.stale = false;
    if (isLongLineLocked(m_tail.line)) {
        // Grown past the long-line bound: from now on it is shown from parts.
        m_lineCache[m_tail.line - m_windowFirst].clear();
        m_tail = OpenTail();
        findLongestLine();
        return;
    }
    const LineNumber slot = m_tail.line - m_windowFirst;
    std::u16string& text = m_lineCache[slot];
    const FileOffset lineEnd = m_index.lineStart(m_tail.line + 1);
    const bool stillOpen = m_tail.line + 1 == m_index.lineCount() && m_index.lastLineOpen();
    quill::ReadOnlyFile file = openFile();
    std::vector<std::uint8_t> bytes;
    std::int64_t got = -1;
    if (file.isOpen()) {
        try {
            bytes.resize(std::size_t(lineEnd - m_tail.safeEnd));
            got = file.readAt(bytes.data(), bytes.size(), m_tail.safeEnd);
            // Room to grow by a quarter at a time: a line growing by small appends is
            // then copied a bounded number of times, not once per append.
            const std::size_t need = m_tail.safeLength + bytes.size();
            if (text.capacity() < need) {
                text.reserve(std::max(need, text.capacity() + text.capacity() / 4));
            }
        } catch (const std::bad_alloc&) {
            got = -1;
        }
    }
    if (got < 0 || std::size_t(got) != bytes.size()) {
        // Unreadable now: the line leaves the window and is decoded whole when asked for.
        text.clear();
        m_tail = OpenTail();
        if (slot + 1 == m_windowEnd - m_windowFirst) {
            --m_windowEnd;
        }
        findLongestLine();
        return;
    }
    text.resize(m_tail.safeLength);
    std::size_t safeBytes = 0;
    std::size_t safeLength = 0;
    bool restart = false;
    try {
        decodeLineBytesResumable(bytes.data(), bytes.size(), encodingForm(), text, safeBytes,
                                 safeLength);
        // A sequence may still be half written, a carriage return writes over the start:
        // the line is then decoded whole each time (its resume point goes back to its
        // start) and shown afresh. Its start as decoded is its start as shown until then.
        restart = !shownAsDecoded(text, m_tail.safeLength + safeLength);
        showDecodedLine(m_tail.line, text);
    } catch (const std::bad_alloc&) {
        text.clear();
        m_tail = OpenTail();
        findLongestLine();
        return;
    }
    if (restart) {
        m_tail.safeEnd = m_index.lineStart(m_tail.line);
        m_tail.safeLength = 0;
    } else {
        m_tail.safeEnd += FileOffset(safeBytes);
        m_tail.safeLength += safeLength;
    }
    m_tail.valid = stillOpen;
    if (text.size() > m_longestLength) {
        m_longestLength = text.size();
        m_longestSlot = slot;
    }
}

void LogDocument::decodeRange(const quill::ReadOnlyFile& file, LineNumber first, LineNumber end,
                              LineNumber slot, std::vector<std::u16string>& slots)
{
    // A long line keeps its slot empty (its parts are decoded when it is asked for) and
    // is not read here: the lines around it are read in runs of their own.
    for (LineNumber line = first; line < end;) {
        if (isLongLineLocked(line)) {
            slots[slot + (line - first)].clear();
            ++line;
            continue;
        }
        LineNumber runEnd = line + 1;
        while (runEnd < end && !isLongLineLocked(runEnd)) {
            ++runEnd;
        }
        decodeShortLines(file, line, runEnd, slot + (line - first), slots);
        line = runEnd;
    }
}

void LogDocument::decodeShortLines(const quill::ReadOnlyFile& file, LineNumber first,
                                   LineNumber end, LineNumber slot,
                                   std::vector<std::u16string>& slots)
{
    if (first >= end) {
        return;
    }
    const FileOffset base = m_index.lineStart(first);
    const FileOffset rangeEnd = m_index.lineStart(end);
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(std::size_t(rangeEnd - base));
    } catch (const std::bad_alloc&) {
        return;
    }
    const std::int64_t got = file.readAt(bytes.data(), bytes.size(), base);
    if (got <= 0) {
        return;
    }
    const std::size_t count = std::size_t(got);
    const quill::TextEncoding form = encodingForm();
    try {
        for (LineNumber line = first; line < end; ++line, ++slot) {
            const std::size_t from = std::size_t(m_index.lineStart(line) - base);
            if (from >= count) {
                break;
            }
            const std::size_t to = std::min(count, std::size_t(m_index.lineStart(line + 1) - base));
            std::u16string& text = slots[slot];
            text.clear();
            if (line + 1 == m_index.lineCount() && m_index.lastLineOpen()) {
                std::size_t safeBytes = 0;
                std::size_t safeLength = 0;
                decodeLineBytesResumable(bytes.data() + from, to - from, form, text, safeBytes,
                                         safeLength);
                if (!shownAsDecoded(text, safeLength)) {
                    safeBytes = 0;
                    safeLength = 0;
                }
                m_tail = OpenTail{true, false, line,
                                  m_index.lineStart(line) + FileOffset(safeBytes), safeLength};
            } else {
                decodeLineBytes(bytes.data() + from, to - from, form, text);
            }
            showDecodedLine(line, text);
        }
    } catch (const std::bad_alloc&) {
        // The lines decoded so far stay; the rest read as empty text.
    }
}

bool LogDocument::readLineText(const quill::ReadOnlyFile& file, LineNumber line,
                               std::u16string& text, StyleRuns* runs)
{
    text.clear();
    const FileOffset from = m_index.lineStart(line);
    const FileOffset to = m_index.lineStart(line + 1);
    if (isLongLineLocked(line)) {
        // Its first piece, as the view shows it at the line's start.
        const std::int64_t textBytes = lineTextBytes(file, line);
        if (textBytes < 0) {
            return false;
        }
        const quill::TextEncoding form = encodingForm();
        const bool hide = terminalColors();
        const std::int64_t count = 3 * LongPieceColumns;
        const FileOffset want =
            std::min<FileOffset>(to - from, count * longLineUnitBytes(form) + LongPartMargin +
                                                longSequenceMargin(form, hide));
        try {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(want));
            const std::int64_t got = file.readAt(bytes.data(), bytes.size(), from);
            if (got < 0) {
                return false;
            }
            decodeLongLinePart(bytes.data(), std::size_t(got), 0, std::uint64_t(textBytes), 0,
                               count, form, true, text, nullptr, hide);
        } catch (const std::bad_alloc&) {
            text.clear();
            return false;
        }
        return true;
    }
    try {
        std::vector<std::uint8_t> bytes(std::size_t(to - from));
        const std::int64_t got = file.readAt(bytes.data(), bytes.size(), from);
        if (got < 0) {
            return false;
        }
        std::u16string decoded;
        decodeLineBytes(bytes.data(), std::size_t(got), encodingForm(), decoded);
        showLineText(decoded, runs, textShowing());
        text.assign(stripTerminator(decoded));
    } catch (const std::bad_alloc&) {
        text.clear(); // a line too long to hold is searched as empty
        return false;
    }
    return true;
}

bool LogDocument::emitLongLine(const quill::ReadOnlyFile& file, FileOffset lineStart,
                               std::int64_t textBytes, quill::TextEncoding form, std::int64_t from,
                               std::int64_t to,
                               const std::function<bool(std::u16string_view)>& sink,
                               bool& unreadable, bool hideSequences)
{
    const FileOffset margin = LongPartMargin + longSequenceMargin(form, hideSequences);
    const std::int64_t unit = longLineUnitBytes(form);
    // To its end: all of it, also past the columns a selection can name.
    const std::int64_t columns = textBytes / unit;
    if (to < 0 || to > columns) {
        to = columns;
    }
    std::vector<std::uint8_t> buffer;
    std::u16string text;
    for (std::int64_t c = std::max<std::int64_t>(0, from); c < to; c += LongReadColumns) {
        const std::int64_t end = std::min(to, c + LongReadColumns);
        const FileOffset a = std::max<FileOffset>(0, c * unit - margin);
        const FileOffset b = end * unit + margin;
        buffer.resize(std::size_t(b - a));
        const std::int64_t got = file.readAt(buffer.data(), buffer.size(), lineStart + a);
        if (got < 0) {
            unreadable = true;
            return false;
        }
        text.clear();
        decodeLongLinePart(buffer.data(), std::size_t(got), std::uint64_t(a),
                           std::uint64_t(textBytes), c, end - c, form, false, text, nullptr,
                           hideSequences);
        if (!sink(text)) {
            return false;
        }
    }
    return true;
}
