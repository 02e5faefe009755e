#include "engine/LineSaver.h"

#include "engine/LogDocument.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ReplacingFile.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

// A run of whole lines is located as one piece of at most this many lines, so the
// progress moves while a long run is written.
constexpr LineNumber PieceLines = 1 << 12;

struct Piece {
    FileOffset begin = 0;
    FileOffset end = 0;
    LineNumber lines = 0;
    std::size_t note = 0; // index into the notes + 1; 0: none
};

// The line feed and the carriage return of the encoding, as bytes.
std::string_view lineFeed(quill::TextEncoding encoding)
{
    switch (encoding) {
    case quill::TextEncoding::Utf16Le:
        return std::string_view("\n\0", 2);
    case quill::TextEncoding::Utf16Be:
        return std::string_view("\0\n", 2);
    default:
        return "\n";
    }
}

std::string_view carriageReturn(quill::TextEncoding encoding)
{
    switch (encoding) {
    case quill::TextEncoding::Utf16Le:
        return std::string_view("\r\0", 2);
    case quill::TextEncoding::Utf16Be:
        return std::string_view("\0\r", 2);
    default:
        return "\r";
    }
}

// The byte-order mark the file starts with, as far as the encoding it is read in has one.
std::string_view byteOrderMark(quill::TextEncoding encoding, std::string_view head)
{
    static constexpr std::string_view Utf16Le("\xFF\xFE", 2);
    static constexpr std::string_view Utf16Be("\xFE\xFF", 2);
    static constexpr std::string_view Utf8("\xEF\xBB\xBF", 3);
    std::string_view mark;
    if (encoding == quill::TextEncoding::Utf16Le) {
        mark = Utf16Le;
    } else if (encoding == quill::TextEncoding::Utf16Be) {
        mark = Utf16Be;
    } else {
        mark = Utf8;
    }
    return head.substr(0, mark.size()) == mark ? mark : std::string_view();
}

// Copies stretches of the log into the target through one read window and one write
// buffer, and remembers the last bytes written (a note needs to know how its line ended).
class Copier {
  public:
    Copier(const quill::ReadOnlyFile& file, quill::ReplacingFile& out, std::size_t blockBytes)
        : m_file(file), m_out(out), m_block(blockBytes), m_window(blockBytes)
    {
        m_buffer.reserve(blockBytes);
    }

    // [begin, end) of the log; reach: how far past begin a read is still worth making
    // for what follows (at least end).
    SaveOutcome copy(FileOffset begin, FileOffset end, FileOffset reach,
                     const std::atomic<bool>& cancel)
    {
        while (begin < end) {
            if (cancel.load(std::memory_order_relaxed)) {
                return SaveOutcome::Cancelled;
            }
            if (!holds(begin)) {
                const auto want = static_cast<std::size_t>(
                    std::min<FileOffset>(FileOffset(m_block), std::max(reach, end) - begin));
                const std::int64_t got = m_file.readAt(m_window.data(), want, begin);
                if (got < 0) {
                    m_error = errno != 0 ? errno : EIO;
                    return SaveOutcome::Unreadable;
                }
                if (got == 0) {
                    return SaveOutcome::LinesChanged; // shorter than its index: replaced
                }
                m_windowStart = begin;
                m_windowEnd = begin + got;
            }
            const FileOffset take = std::min(end, m_windowEnd) - begin;
            if (!put(m_window.data() + (begin - m_windowStart), std::size_t(take))) {
                return SaveOutcome::WriteFailed;
            }
            begin += take;
        }
        return SaveOutcome::Saved;
    }

    // Whether the read window holds the byte at offset.
    bool holds(FileOffset offset) const { return offset >= m_windowStart && offset < m_windowEnd; }

    bool put(std::string_view bytes)
    {
        return put(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }

    bool put(const std::uint8_t* bytes, std::size_t n)
    {
        if (n == 0) {
            return true;
        }
        remember(bytes, n);
        if (m_buffer.empty() && n >= m_block) {
            return m_out.write(bytes, n); // a whole block: no copy on the way
        }
        m_buffer.insert(m_buffer.end(), bytes, bytes + n);
        return m_buffer.size() < m_block || flush();
    }

    bool flush()
    {
        const bool written = m_out.write(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return written;
    }

    bool endsWith(std::string_view bytes) const
    {
        return bytes.size() <= m_tailSize &&
               std::memcmp(m_tail + (m_tailSize - bytes.size()), bytes.data(), bytes.size()) == 0;
    }

    int error() const { return m_error; }

  private:
    void remember(const std::uint8_t* bytes, std::size_t n)
    {
        if (n >= sizeof m_tail) {
            std::memcpy(m_tail, bytes + (n - sizeof m_tail), sizeof m_tail);
            m_tailSize = sizeof m_tail;
            return;
        }
        const std::size_t keep = std::min(m_tailSize, sizeof m_tail - n);
        std::memmove(m_tail, m_tail + (m_tailSize - keep), keep);
        std::memcpy(m_tail + keep, bytes, n);
        m_tailSize = keep + n;
    }

    const quill::ReadOnlyFile& m_file;
    quill::ReplacingFile& m_out;
    std::size_t m_block;
    std::vector<std::uint8_t> m_window;
    FileOffset m_windowStart = 0;
    FileOffset m_windowEnd = 0;
    std::vector<std::uint8_t> m_buffer;
    std::uint8_t m_tail[4] = {};
    std::size_t m_tailSize = 0;
    int m_error = 0;
};

} // namespace

void LinesToSave::addLine(LineNumber line)
{
    if (!spans.empty() && spans.back().end == line) {
        ++spans.back().end;
    } else {
        spans.push_back({line, line + 1});
    }
}

std::uint64_t LinesToSave::lineCount() const
{
    std::uint64_t count = 0;
    for (const LineSpan& span : spans) {
        count += span.end - span.first;
    }
    return count;
}

LineSaver::LineSaver(LogDocument& document, LinesToSave lines, std::string target)
    : m_document(document), m_lines(std::move(lines)), m_target(std::move(target)),
      m_source(document.nativePath()), m_epoch(document.indexEpoch()), m_total(m_lines.lineCount()),
      m_fileCalls(&quill::FileCalls::system()), m_writeCalls(&quill::WriteCalls::system())
{
}

int LineSaver::permille() const
{
    if (m_total == 0) {
        return 0;
    }
    return int(m_done.load(std::memory_order_relaxed) * 1000 / m_total);
}

SaveResult LineSaver::run()
{
    SaveResult result;
    const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_source, *m_fileCalls);
    if (!file.isOpen()) {
        result.outcome = SaveOutcome::Unreadable;
        result.error = file.error();
        return result;
    }
    quill::ReplacingFile out;
    if (!out.begin(m_target, quill::ReplacingFile::Permissions::Default, *m_writeCalls)) {
        result.outcome = SaveOutcome::CannotCreate;
        result.error = out.error();
        return result;
    }
    const quill::TextEncoding encoding = m_document.encodingForm();
    char head[3] = {};
    const std::int64_t headSize = file.readAt(head, sizeof head, 0);
    const std::string_view mark = byteOrderMark(
        encoding, std::string_view(head, std::size_t(std::max<std::int64_t>(0, headSize))));

    Copier copier(file, out, m_blockBytes);
    const auto finish = [&](SaveOutcome outcome) {
        result.outcome = outcome;
        if (outcome == SaveOutcome::Unreadable) {
            result.error = copier.error();
        } else if (outcome == SaveOutcome::WriteFailed) {
            result.error = out.error();
        }
        out.abandon();
        return result;
    };

    const std::vector<LineSpan>& spans = m_lines.spans;
    const auto& notes = m_lines.notes;
    std::size_t spanIndex = 0;
    LineNumber next = spans.empty() ? 0 : spans.front().first;
    std::size_t noteIndex = 0;
    bool first = true;
    std::vector<Piece> pieces;
    while (spanIndex < spans.size()) {
        if (m_cancel.load(std::memory_order_relaxed)) {
            return finish(SaveOutcome::Cancelled);
        }
        pieces.clear();
        {
            std::lock_guard lock(m_document.docAccess());
            if (m_document.indexEpoch() != m_epoch) {
                return finish(SaveOutcome::LinesChanged);
            }
            const LineNumber count = m_document.lineCount();
            while (spanIndex < spans.size() && pieces.size() < BatchLines) {
                const LineSpan span = spans[spanIndex];
                const LineNumber from = std::max(next, span.first);
                if (from >= span.end) {
                    if (++spanIndex < spans.size()) {
                        next = spans[spanIndex].first;
                    }
                    continue;
                }
                if (span.end > count) {
                    return finish(SaveOutcome::LinesChanged);
                }
                while (noteIndex < notes.size() && notes[noteIndex].first < from) {
                    ++noteIndex; // on a line that is not saved
                }
                LineNumber to =
                    std::min<LineNumber>(span.end, from + std::min(PieceLines, span.end - from));
                std::size_t note = 0;
                if (noteIndex < notes.size() && notes[noteIndex].first < to) {
                    if (notes[noteIndex].first == from) {
                        to = from + 1;
                        note = ++noteIndex;
                    } else {
                        to = notes[noteIndex].first;
                    }
                }
                pieces.push_back(
                    {m_document.lineStart(from), m_document.lineStart(to), to - from, note});
                next = to;
            }
        }
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const Piece& piece = pieces[i];
            if (first) {
                first = false;
                if (piece.begin > 0 && !copier.put(mark)) {
                    return finish(SaveOutcome::WriteFailed);
                }
            }
            // Neighbours that start within a block of this one come with the same read.
            // Looked for only when a read is due: once per block, not once per line.
            FileOffset reach = piece.end;
            if (!copier.holds(piece.begin)) {
                const FileOffset blockEnd = piece.begin + FileOffset(m_blockBytes);
                for (std::size_t j = i + 1; j < pieces.size() && pieces[j].begin < blockEnd; ++j) {
                    reach = std::max(reach, pieces[j].end);
                }
            }
            const SaveOutcome copied = copier.copy(piece.begin, piece.end, reach, m_cancel);
            if (copied != SaveOutcome::Saved) {
                return finish(copied);
            }
            if (piece.note != 0) {
                const std::string_view lf = lineFeed(encoding);
                const bool ended = copier.endsWith(lf);
                std::string end(lf);
                if (ended && copier.endsWith(std::string(carriageReturn(encoding)).append(lf))) {
                    end.insert(0, carriageReturn(encoding));
                }
                if ((!ended && !copier.put(lf)) || !copier.put(notes[piece.note - 1].second) ||
                    !copier.put(end)) {
                    return finish(SaveOutcome::WriteFailed);
                }
            }
            m_done.fetch_add(piece.lines, std::memory_order_relaxed);
        }
    }
    if (!copier.flush()) {
        return finish(SaveOutcome::WriteFailed);
    }
    // Lines that started over after the last batch was located may have been read from
    // the new file: such a copy is not the lines the user chose.
    if (m_document.indexEpoch() != m_epoch) {
        return finish(SaveOutcome::LinesChanged);
    }
    if (m_cancel.load(std::memory_order_relaxed)) {
        return finish(SaveOutcome::Cancelled);
    }
    const std::uint64_t written = out.written();
    if (!out.commit()) {
        return finish(SaveOutcome::WriteFailed);
    }
    result.bytes = written;
    return result;
}
