#pragma once

// MergedLineSaver: writes rows of several documents merged by time (engine/MergedOrder.h)
// to a file, in the merged order, each line as its own file holds it (its line end
// included; never decoded and encoded again). Every merged row is a complete line, so the
// lines of different files never run into one another.
//
// The rows are given as a copy of the order (MergedRows and the base line of each source,
// as the user interface mirrors them) and a range of rows; each document's lines are those
// of its index epoch at construction, and a reload, Clear or rotation of any of them
// meanwhile ends the save with LinesChanged. Each file is read through a window of its own,
// so rows that take turns between files cost one read a window of each file, not one a row
// (the windows of all files together about one block).
// docAccess of a document is held only while a batch of its lines is located.
//
// The target is written through quill::ReplacingFile, as LineSaver does.
//
// Threads: construct on the main thread; run() on any one thread; cancel() and permille()
// from any thread meanwhile. The documents must outlive the saver.

#include "engine/LineSaver.h"
#include "engine/MergedOrder.h"

#include <atomic>
#include <string>
#include <vector>

class LogDocument;

class MergedLineSaver : public LinesWriter {
    struct Run;

  public:
    // Rows [first, end) of rows (end <= rows.rowCount()); bases: each source's first line in
    // the order (zero once the order is complete).
    MergedLineSaver(std::vector<LogDocument*> documents, MergedRows rows,
                    std::vector<LineNumber> bases, std::size_t first, std::size_t end,
                    std::string target);
    // The rows chosen (ascending, each < rows.rowCount()): a filter's rows.
    MergedLineSaver(std::vector<LogDocument*> documents, MergedRows rows,
                    std::vector<LineNumber> bases, std::vector<std::size_t> chosen,
                    std::string target);

    void setFileCalls(const quill::FileCalls& calls) { m_fileCalls = &calls; }
    void setWriteCalls(const quill::WriteCalls& calls) { m_writeCalls = &calls; }
    // Tests make the read windows and batches small. Before run().
    void setBlockBytes(std::size_t bytes) { m_blockBytes = std::max<std::size_t>(1, bytes); }
    void setBatchRows(std::size_t rows) { m_batchRows = std::max<std::size_t>(1, rows); }

    // The source's lines in rows [0, row) of the order.
    static LineNumber linesBefore(const MergedRows& rows, std::size_t source, std::size_t row);

    SaveResult run() override;
    void cancel() override { m_cancel.store(true, std::memory_order_relaxed); }
    int permille() const override;

  private:
    std::vector<LogDocument*> m_documents;
    MergedRows m_rows;
    std::vector<LineNumber> m_bases;
    std::size_t m_first;
    std::size_t m_end;
    // Set: only these rows, else rows [m_first, m_end).
    bool m_byChoice = false;
    std::vector<std::size_t> m_chosen;
    std::string m_target;
    std::vector<std::string> m_sources;
    std::vector<std::uint64_t> m_epochs;
    std::size_t m_blockBytes = LineSaver::BlockBytes;
    std::size_t m_batchRows = LineSaver::BatchLines;
    const quill::FileCalls* m_fileCalls = nullptr;
    const quill::WriteCalls* m_writeCalls = nullptr;
    std::atomic<bool> m_cancel{false};
    std::atomic<std::uint64_t> m_done{0};
};
