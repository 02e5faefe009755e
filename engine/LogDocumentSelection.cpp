// The document's selection and its text: the text is built piece by piece straight from the
// file, bounded beforehand so that a copy of a huge selection can be refused before it runs
// out of memory.

#include "engine/LogDocument.h"

#include "engine/LineText.h"
#include "engine/LongLine.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <new>

bool LogDocument::selection(DocSelection& selection) const
{
    selection = m_selection;
    return m_selection.valid;
}

void LogDocument::setSelection(LineNumber startLine, LineNumber endLine, std::int32_t startCol,
                               std::int32_t endCol)
{
    m_selection = DocSelection{true, startLine, endLine, startCol, endCol};
}

void LogDocument::clearSelection()
{
    m_selection = DocSelection();
}

std::u16string LogDocument::selectedText()
{
    std::u16string result;
    if (!m_selection.valid) {
        return result;
    }
    try {
        forEachSelectedPiece(
            m_selection,
            [](void* context, std::u16string_view piece) {
                static_cast<std::u16string*>(context)->append(piece);
                return true;
            },
            &result);
    } catch (const std::bad_alloc&) {
        result.clear(); // more than memory holds: nothing rather than a cut-off text
    }
    return result;
}

std::uint64_t LogDocument::selectedTextBound(const DocSelection& selection) const
{
    if (!selection.valid || selection.endLine < selection.startLine) {
        return 0;
    }
    std::lock_guard lock(m_docAccess);
    const LineNumber count = m_index.lineCount();
    const LineNumber first = std::min(selection.startLine, count);
    const LineNumber end = std::min<std::uint64_t>(std::uint64_t(selection.endLine) + 1, count);
    const std::uint64_t bytes =
        end > first ? std::uint64_t(m_index.lineStart(end) - m_index.lineStart(first)) : 0;
    // A narrow byte decodes to at most one unit (four UTF-8 bytes to two), a UTF-16 code
    // unit is two bytes; each line's terminator (at least one unit) becomes one line feed,
    // and hidden sequences and written-over text only take units away.
    return m_index.isUtf16() ? bytes / 2 : bytes;
}

PieceOutcome LogDocument::forEachSelectedPiece(const DocSelection& selection, TextSink sink,
                                               void* context, std::uint64_t generation)
{
    if (!selection.valid || selection.endLine < selection.startLine) {
        return PieceOutcome::Complete;
    }
    // Whole lines are read in blocks of about this size; a longer line is read alone.
    constexpr FileOffset BlockBytes = 1 << 20;
    quill::TextEncoding form = quill::TextEncoding::Locale;
    TextShowing showing;
    LineNumber count = 0;
    quill::ReadOnlyFile file;
    {
        std::lock_guard lock(m_docAccess);
        if (generation == AnyGeneration) {
            generation = m_contentGeneration;
        } else if (generation != m_contentGeneration) {
            return PieceOutcome::Reset; // the lines the record names are gone
        }
        form = encodingForm();
        showing = textShowing();
        showing.crSymbol = 0; // a copy takes a shown carriage return as it is
        count = m_index.lineCount();
        if (selection.startLine < count) {
            file = openFile();
            if (!file.isOpen()) {
                return PieceOutcome::Unreadable;
            }
        }
    }
    // A record that reaches past the empty line after the last one (taken before the text
    // shrank) ends there: nothing beyond it exists. Lines appended meanwhile are not part
    // of a selection made before them.
    const LineNumber endLine = std::min(selection.endLine, count);
    std::vector<std::uint8_t> bytes;
    std::vector<FileOffset> starts;
    std::u16string decoded;
    bool going = true;
    auto emit = [&](std::u16string_view piece) { going = going && sink(context, piece); };
    auto emitPart = [&](LineNumber line, std::u16string_view text) {
        std::size_t from = 0;
        if (line == selection.startLine) {
            from = std::size_t(std::max(0, selection.startCol));
        }
        if (from >= text.size()) {
            return;
        }
        std::size_t length = text.size() - from;
        if (line == selection.endLine && selection.endCol != -1) {
            if (std::int64_t(selection.endCol) < std::int64_t(from)) {
                return;
            }
            length = std::min<std::size_t>(length, std::size_t(selection.endCol) - from + 1);
        }
        emit(text.substr(from, length));
    };
    LineNumber line = selection.startLine;
    while (line < count && line <= endLine) {
        // A block of whole lines, at least one. docAccess is held only to find the block's
        // line starts, so that a copy on another thread leaves the paint and the watcher
        // free; a reset since the start ends the copy, whose text no longer exists.
        const LineNumber lastEnd = std::min<LineNumber>(endLine + 1, count);
        const LineNumber blockFirst = line;
        LineNumber blockEnd = line + 1;
        std::int64_t longTextBytes = -1; // a long line's text bytes; -1: not a long line
        {
            std::lock_guard lock(m_docAccess);
            if (m_contentGeneration != generation) {
                return PieceOutcome::Reset;
            }
            const FileOffset base = m_index.lineStart(line);
            while (blockEnd < lastEnd && m_index.lineStart(blockEnd + 1) - base <= BlockBytes) {
                ++blockEnd;
            }
            starts.clear();
            for (LineNumber l = line; l <= blockEnd; ++l) {
                starts.push_back(m_index.lineStart(l));
            }
            if (blockEnd == line + 1 && isLongLineLocked(line)) {
                longTextBytes = lineTextBytes(file, line);
                if (longTextBytes < 0) {
                    return PieceOutcome::Unreadable;
                }
            }
        }
        if (longTextBytes >= 0) {
            // Streamed in pieces, never held whole.
            if (line != selection.startLine) {
                emit(u"\r\n");
            }
            std::int64_t from = line == selection.startLine ? std::max(0, selection.startCol) : 0;
            std::int64_t to = -1;
            if (line == selection.endLine && selection.endCol != -1) {
                to = std::max<std::int64_t>(from, std::int64_t(selection.endCol) + 1);
            }
            bool unreadable = false;
            if (going) {
                emitLongLine(
                    file, starts.front(), longTextBytes, form, from, to,
                    [&](std::u16string_view piece) {
                        emit(piece);
                        return going;
                    },
                    unreadable, showing.terminal);
            }
            if (unreadable) {
                return PieceOutcome::Unreadable;
            }
            if (!going) {
                return PieceOutcome::Stopped;
            }
            ++line;
            continue;
        }
        const FileOffset base = starts.front();
        bytes.resize(std::size_t(starts.back() - base));
        const std::int64_t got = file.readAt(bytes.data(), bytes.size(), base);
        if (got < 0) {
            return PieceOutcome::Unreadable;
        }
        for (; line < blockEnd && going; ++line) {
            if (line != selection.startLine) {
                emit(u"\n");
            }
            const std::size_t k = std::size_t(line - blockFirst);
            const std::int64_t from = starts[k] - base;
            const std::int64_t to = std::min<std::int64_t>(got, starts[k + 1] - base);
            decoded.clear();
            std::size_t shown = 0;
            if (to > from) {
                decodeLineBytes(bytes.data() + from, std::size_t(to - from), form, decoded);
                shown = showLineText(decoded, nullptr, showing);
            }
            emitPart(line, std::u16string_view(decoded).substr(0, shown));
        }
        if (!going) {
            return PieceOutcome::Stopped;
        }
    }
    // Lines at or beyond the count (Select All's empty line after the last) are empty.
    for (; line <= endLine && going; ++line) {
        if (line != selection.startLine) {
            emit(u"\n");
        }
    }
    return going ? PieceOutcome::Complete : PieceOutcome::Stopped;
}
