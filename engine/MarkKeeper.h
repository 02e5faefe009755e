#pragma once

// MarkKeeper: keeps one document's marks and their notes across restarts. A mark is kept by
// the place and the bytes of its line, not by its number: the line's start in the file,
// its length then (terminator included; the open last line: what it held) and a hash of
// those bytes. When the document's lines start over (open, reload, Clear) each kept mark
// goes back on the line that starts at its offset if that line still begins with the same
// bytes, so appends keep marks, while a rotated, truncated or rewritten file drops those
// that no longer match. A mark above a Clear stays kept but unseen until the whole file is
// read again (reload, restart); Clear Marks forgets every mark, seen or not.
//
// One small file per log, $XDG_DATA_HOME/quillstream/marks/<hash of the path>.marks
// (default ~/.local/share/...), in a 0700 folder, replaced atomically on each change and
// removed when no mark is left. A file that does not read whole is moved aside as
// "<name>.damaged" (for the user to look into), what read of it is used, and the user is
// told. Logs that are no file of their own (pipes, commands, decompressed copies) keep no
// marks. Main thread only.

#include "engine/DocumentTypes.h"
#include "engine/LogDocument.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {
class ReadOnlyFile;
}

struct KeptMark {
    FileOffset offset = 0;
    std::uint64_t length = 0;
    std::uint64_t hash = 0;
    std::u16string note;
    bool operator==(const KeptMark&) const = default;
};

// The text of a marks file and back. A line that does not read as a mark is skipped and
// counted; a file without the first two lines reads as no marks and one damaged line.
struct KeptMarksText {
    std::string logPath;
    std::vector<KeptMark> marks; // in file order
    std::size_t damagedLines = 0;
};
std::string formatKeptMarks(const std::string& logPath, const std::vector<KeptMark>& marks);
KeptMarksText parseKeptMarks(std::string_view text);

// The hash of a line's first `length` bytes as a kept mark holds it: all of them up to
// 2 * HashedHalf bytes, else the first and the last HashedHalf, so a huge line costs two
// small reads. Nothing when the bytes cannot be read.
inline constexpr std::uint64_t HashedHalf = std::uint64_t{32} * 1024;
std::optional<std::uint64_t> keptLineHash(const quill::ReadOnlyFile& file, FileOffset offset,
                                          std::uint64_t length);

class MarkKeeper : private LogDocument::AppendListener {
  public:
    struct Problem {
        enum class Kind {
            Damaged,    // file: the marks file; aside: where its bytes were moved
            Unwritable, // file: the marks file; error: errno
        };
        Kind kind = Kind::Damaged;
        std::string file;
        std::string aside;
        int error = 0;
    };
    // Marks files bigger than this are damaged (a file of ours holds a few kilobytes).
    static constexpr std::size_t MaxFileBytes = 4u << 20;

    // folder: where the marks files are kept (defaultFolder() in the program).
    MarkKeeper(LogDocument& document, std::string folder);
    ~MarkKeeper() override;
    MarkKeeper(const MarkKeeper&) = delete;
    MarkKeeper& operator=(const MarkKeeper&) = delete;

    // $XDG_DATA_HOME/quillstream/marks, else $HOME/.local/share/quillstream/marks.
    static std::string defaultFolder();
    // The marks file of a log (an absolute path).
    std::string fileFor(const std::string& logPath) const;

    // After every change of the document's marks or notes: they are kept now. cleared:
    // the user cleared the marks, and the unseen ones go too.
    void marksChanged(bool cleared = false);
    // Marks were put back on the lines (the views repaint them).
    void setRestoredHandler(std::function<void()> handler) { m_restored = std::move(handler); }
    // Something the user should hear of; each kind is told once per log.
    void setProblemHandler(std::function<void(const Problem&)> handler)
    {
        m_problem = std::move(handler);
    }
    // Kept marks the current lines do not show (above a Clear).
    std::size_t unseenCount() const { return m_unseen.size(); }

  private:
    void textAppended(FileOffset, const std::uint8_t*, std::size_t) override {}
    void indexRestarted() override;
    // Reads the kept marks of m_path; a damaged file is moved aside (damaged tells).
    std::vector<KeptMark> load(bool& damaged);
    // Writes the unseen and the seen marks, or removes the file when there are none.
    void save();
    // A kept mark of each marked line: the one held for it, else taken from the file now.
    void capture();
    void tell(const Problem& problem);

    LogDocument& m_document;
    std::string m_folder;
    std::string m_path;    // the log whose marks are held; empty: none are kept
    std::string m_written; // the text of its marks file as read or last written
    std::vector<KeptMark> m_unseen;
    std::map<LineNumber, KeptMark> m_seen; // by the line they are on now
    std::uint64_t m_seenEpoch = 0;
    bool m_toldDamaged = false;
    bool m_toldUnwritable = false;
    std::function<void()> m_restored;
    std::function<void(const Problem&)> m_problem;
};
