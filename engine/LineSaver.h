#pragma once

// LineSaver: writes chosen lines of a document to a file, as the file holds them: the
// bytes of each line straight from the log, its line end included (a carriage return, a
// UTF-16 code unit order, escape sequences and invalid bytes all stay as they are), never
// text decoded and encoded again. A log that starts with a byte-order mark gives the saved
// file the same mark when its first saved line is not the log's first (after a Clear, or a
// filter's result), so the copy is read in the same encoding.
//
// The lines are given as spans of line numbers of the document's current lines (the index
// epoch at construction); a reload, Clear or rotation meanwhile ends the save with
// LinesChanged rather than writing other lines under the same numbers. The file's bytes
// are read in blocks that span neighbouring lines, so a filter's result costs about one
// pass over the stretch of the log it covers; docAccess is held only while a batch of
// lines is located, never across a read or a write.
//
// The target is written through quill::ReplacingFile: a failure or a cancel leaves an old
// file of that name as it was and no temporary file behind.
//
// Threads: construct on the main thread (it reads the document's path and epoch); run()
// on any one thread; cancel() and permille() from any thread meanwhile.

#include "engine/DocumentTypes.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class LogDocument;
namespace quill {
struct FileCalls;
struct WriteCalls;
} // namespace quill

// Lines [first, end) of a document.
struct LineSpan {
    LineNumber first = 0;
    LineNumber end = 0;
    bool operator==(const LineSpan&) const = default;
};

// What to save: spans ascending and apart, and optional notes.
struct LinesToSave {
    std::vector<LineSpan> spans;
    // A note is written right after its line as a line of its own, ended as that line is
    // ended (a line without an end gets one first). Its bytes are in the file's encoding
    // already (the caller encodes); ascending by line; a note on a line that is not saved
    // is not written.
    std::vector<std::pair<LineNumber, std::string>> notes;

    // Appends a line after every line given so far, joining a span it continues.
    void addLine(LineNumber line);
    // Every line in spans.
    std::uint64_t lineCount() const;
};

enum class SaveOutcome {
    Saved,
    Cancelled,
    LinesChanged, // the document's lines started over (reload, Clear) while saving
    Unreadable,   // the log could not be read (error: its errno)
    CannotCreate, // no temporary file beside the target (error: its errno)
    WriteFailed,  // a write, the flush or the rename failed (error: its errno)
};

struct SaveResult {
    SaveOutcome outcome = SaveOutcome::Saved;
    int error = 0;
    std::uint64_t bytes = 0; // written to the file, all of it once Saved
};

// A save that runs on a thread of its own: the lines of one document (LineSaver) or the rows
// of several merged by time (engine/MergedLineSaver.h).
class LinesWriter {
  public:
    virtual ~LinesWriter() = default;
    // Writes the file; returns when it is complete, failed or cancelled.
    virtual SaveResult run() = 0;
    // Any thread: the run stops at its next block and removes what it wrote.
    virtual void cancel() = 0;
    // Any thread: the lines written so far, in thousandths of all.
    virtual int permille() const = 0;
};

class LineSaver : public LinesWriter {
  public:
    // Bytes read from the log at a time, and what collects before a write.
    static constexpr std::size_t BlockBytes = std::size_t(1) << 20;
    // Lines located per hold of docAccess.
    static constexpr std::size_t BatchLines = 1 << 14;

    // target: the file to write (bytes of its name, as open(2) takes it). The document
    // must outlive the saver.
    LineSaver(LogDocument& document, LinesToSave lines, std::string target);

    // The calls that read the log and write the file (tests fail them); they must outlive
    // the run. Before run().
    void setFileCalls(const quill::FileCalls& calls) { m_fileCalls = &calls; }
    void setWriteCalls(const quill::WriteCalls& calls) { m_writeCalls = &calls; }
    // Tests make the blocks small, so that lines cross them often. Before run().
    void setBlockBytes(std::size_t bytes) { m_blockBytes = std::max<std::size_t>(1, bytes); }

    SaveResult run() override;
    void cancel() override { m_cancel.store(true, std::memory_order_relaxed); }
    int permille() const override;

  private:
    LogDocument& m_document;
    LinesToSave m_lines;
    std::string m_target;
    std::string m_source;
    std::uint64_t m_epoch = 0;
    std::uint64_t m_total = 0;
    std::size_t m_blockBytes = BlockBytes;
    const quill::FileCalls* m_fileCalls = nullptr;
    const quill::WriteCalls* m_writeCalls = nullptr;
    std::atomic<bool> m_cancel{false};
    std::atomic<std::uint64_t> m_done{0};
};
