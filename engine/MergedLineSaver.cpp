#include "engine/MergedLineSaver.h"

#include "engine/LogDocument.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ReplacingFile.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

// A stretch of one source's lines, next in the merged order.
struct MergedLineSaver::Run {
    std::size_t source = 0;
    LineNumber first = 0;
    LineNumber end = 0;
    FileOffset begin = 0;
    FileOffset stop = 0;
};

namespace {

// One source's file with a window of its bytes: rows that take turns between files read
// each file a block at a time.
class SourceReader {
  public:
    SourceReader(quill::ReadOnlyFile file, std::size_t blockBytes)
        : m_file(std::move(file)), m_window(blockBytes)
    {
    }

    // The bytes [begin, end) go to out; a file shorter than its index was replaced.
    SaveOutcome copy(FileOffset begin, FileOffset end, quill::ReplacingFile& out,
                     std::vector<std::uint8_t>& buffer, std::size_t blockBytes)
    {
        while (begin < end) {
            if (begin < m_windowStart || begin >= m_windowEnd) {
                const std::int64_t got = m_file.readAt(m_window.data(), m_window.size(), begin);
                if (got < 0) {
                    m_error = errno != 0 ? errno : EIO;
                    return SaveOutcome::Unreadable;
                }
                if (got == 0) {
                    return SaveOutcome::LinesChanged;
                }
                m_windowStart = begin;
                m_windowEnd = begin + got;
            }
            const FileOffset take = std::min(end, m_windowEnd) - begin;
            const std::uint8_t* from = m_window.data() + (begin - m_windowStart);
            buffer.insert(buffer.end(), from, from + take);
            if (buffer.size() >= blockBytes) {
                if (!out.write(buffer.data(), buffer.size())) {
                    return SaveOutcome::WriteFailed;
                }
                buffer.clear();
            }
            begin += take;
        }
        return SaveOutcome::Saved;
    }

    int error() const { return m_error; }

  private:
    quill::ReadOnlyFile m_file;
    std::vector<std::uint8_t> m_window;
    FileOffset m_windowStart = 0;
    FileOffset m_windowEnd = 0;
    int m_error = 0;
};

} // namespace

MergedLineSaver::MergedLineSaver(std::vector<LogDocument*> documents, MergedRows rows,
                                 std::vector<LineNumber> bases, std::size_t first, std::size_t end,
                                 std::string target)
    : m_documents(std::move(documents)), m_rows(std::move(rows)), m_bases(std::move(bases)),
      m_first(first), m_end(std::min(end, m_rows.rowCount())), m_target(std::move(target)),
      m_fileCalls(&quill::FileCalls::system()), m_writeCalls(&quill::WriteCalls::system())
{
    m_bases.resize(m_documents.size(), 0);
    for (LogDocument* document : m_documents) {
        m_sources.push_back(document->nativePath());
        m_epochs.push_back(document->indexEpoch());
    }
}

MergedLineSaver::MergedLineSaver(std::vector<LogDocument*> documents, MergedRows rows,
                                 std::vector<LineNumber> bases, std::vector<std::size_t> chosen,
                                 std::string target)
    : MergedLineSaver(std::move(documents), std::move(rows), std::move(bases), 0, chosen.size(),
                      std::move(target))
{
    m_byChoice = true;
    m_end = chosen.size();
    m_chosen = std::move(chosen);
}

LineNumber MergedLineSaver::linesBefore(const MergedRows& rows, std::size_t source, std::size_t row)
{
    // The first of the source's lines whose row is at or after `row`.
    LineNumber low = 0;
    LineNumber high = rows.sourceLines(source);
    while (low < high) {
        const LineNumber middle = low + (high - low) / 2;
        if (rows.rowOfLine(source, middle) < row) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

int MergedLineSaver::permille() const
{
    const std::uint64_t total = m_end > m_first ? m_end - m_first : 0;
    if (total == 0) {
        return 0;
    }
    return int(m_done.load(std::memory_order_relaxed) * 1000 / total);
}

SaveResult MergedLineSaver::run()
{
    SaveResult result;
    std::vector<std::unique_ptr<SourceReader>> readers(m_documents.size());
    quill::ReplacingFile out;
    if (!out.begin(m_target, quill::ReplacingFile::Permissions::Default, *m_writeCalls)) {
        result.outcome = SaveOutcome::CannotCreate;
        result.error = out.error();
        return result;
    }
    const auto finish = [&](SaveOutcome outcome, int error) {
        result.outcome = outcome;
        result.error = outcome == SaveOutcome::WriteFailed ? out.error() : error;
        out.abandon();
        return result;
    };

    // Each source's next line: its lines before the first row, from its base on.
    std::vector<LineNumber> next(m_documents.size());
    for (std::size_t s = 0; s < m_documents.size() && !m_byChoice; ++s) {
        next[s] = m_bases[s] + linesBefore(m_rows, s, m_first);
    }
    // The files share a block's worth of read windows, each at least a small block: many
    // files do not cost a block each.
    const std::size_t windowBytes =
        std::max(std::min<std::size_t>(m_blockBytes, 64 << 10),
                 m_blockBytes / std::max<std::size_t>(1, m_documents.size()));
    std::vector<Run> runs;
    std::vector<std::uint8_t> buffer;
    buffer.reserve(m_blockBytes);
    std::size_t row = m_first;
    while (row < m_end) {
        if (m_cancel.load(std::memory_order_relaxed)) {
            return finish(SaveOutcome::Cancelled, 0);
        }
        // The next batch of rows as runs of consecutive lines of one source.
        runs.clear();
        const std::size_t batchEnd = std::min(m_end, row + m_batchRows);
        for (; row < batchEnd; ++row) {
            std::size_t source = 0;
            LineNumber line = 0;
            if (m_byChoice) {
                // Rows apart: each is placed on its own.
                const MergedRows::Place place = m_rows.placeOfRow(m_chosen[row]);
                source = place.source;
                line = m_bases[source] + place.line;
            } else {
                source = m_rows.sourceOfRow(row);
                line = next[source]++;
            }
            if (!runs.empty() && runs.back().source == source && runs.back().end == line) {
                ++runs.back().end;
            } else {
                runs.push_back({source, line, line + 1, 0, 0});
            }
        }
        // Located a source at a time, each under its own lock.
        for (std::size_t s = 0; s < m_documents.size(); ++s) {
            LogDocument& document = *m_documents[s];
            std::lock_guard lock(document.docAccess());
            if (document.indexEpoch() != m_epochs[s]) {
                return finish(SaveOutcome::LinesChanged, 0);
            }
            const LineNumber count = document.lineCount();
            for (Run& run : runs) {
                if (run.source != s) {
                    continue;
                }
                if (run.end > count) {
                    return finish(SaveOutcome::LinesChanged, 0);
                }
                run.begin = document.lineStart(run.first);
                run.stop = document.lineStart(run.end);
            }
        }
        for (const Run& run : runs) {
            if (m_cancel.load(std::memory_order_relaxed)) {
                return finish(SaveOutcome::Cancelled, 0);
            }
            std::unique_ptr<SourceReader>& reader = readers[run.source];
            if (!reader) {
                quill::ReadOnlyFile file =
                    quill::ReadOnlyFile::open(m_sources[run.source], *m_fileCalls);
                if (!file.isOpen()) {
                    return finish(SaveOutcome::Unreadable, file.error());
                }
                reader = std::make_unique<SourceReader>(std::move(file), windowBytes);
            }
            const SaveOutcome copied = reader->copy(run.begin, run.stop, out, buffer, m_blockBytes);
            if (copied != SaveOutcome::Saved) {
                return finish(copied, reader->error());
            }
            m_done.fetch_add(run.end - run.first, std::memory_order_relaxed);
        }
    }
    if (!buffer.empty() && !out.write(buffer.data(), buffer.size())) {
        return finish(SaveOutcome::WriteFailed, 0);
    }
    // A file that started over after its last batch was located may have been read anew.
    for (std::size_t s = 0; s < m_documents.size(); ++s) {
        if (m_documents[s]->indexEpoch() != m_epochs[s]) {
            return finish(SaveOutcome::LinesChanged, 0);
        }
    }
    if (m_cancel.load(std::memory_order_relaxed)) {
        return finish(SaveOutcome::Cancelled, 0);
    }
    const std::uint64_t written = out.written();
    if (!out.commit()) {
        return finish(SaveOutcome::WriteFailed, 0);
    }
    result.bytes = written;
    return result;
}
