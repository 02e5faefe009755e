#pragma once

// LineWrap: where the rows of a wrapped text start. A row ends where the next character
// would reach right of the wrap width: after the last blank (space or tab) before that
// character when the row holds one, else before the character itself; when the character
// reaching over is a blank, it and the blanks right after it stay at the end of the row,
// out of sight, so no row starts with the blanks that broke it. A row's first character always stays on it, however wide,
// and a row never holds more than MaxRowChars characters (characters without width would
// otherwise make one row of a whole line). Tab stops count from the row's start. A
// surrogate pair is never split.
//
// A text longer than one segment (SegmentChars) is wrapped segment by segment, each from
// its own start: a segment always starts a row. So only the segments that are looked at
// are ever laid out, and the rows of a line of hundreds of megabytes that lie on screen
// cost what one segment costs, never a layout of the line up to there. Rows of segments
// not laid out yet are counted by an estimate (their characters at the average width),
// corrected as they are laid out.
//
// Layouts are kept per segment for the texts asked about, at most KeptSegments of them
// (the least recently used go first). A text is named by a key of the caller's (a line
// number); a kept layout is used again only while the segment's length and a sample of its
// characters are the same, so the growing last line of a log is laid out again where it
// grew. Widths come from the renderer. User-interface thread only; holds no text.

#include "view/LogRenderer.h"

#include <QStringView>

#include <cstdint>
#include <list>
#include <optional>
#include <unordered_map>
#include <vector>

class LineWrap {
  public:
    static constexpr qsizetype SegmentChars = qsizetype(1) << 16;
    static constexpr qsizetype MaxRowChars = 4096;
    static constexpr std::size_t KeptSegments = 512;

    // segmentChars: tests use short segments.
    explicit LineWrap(qsizetype segmentChars = SegmentChars);

    // Rows at most `width` pixels wide in the renderer's font (the renderer must outlive
    // this object while it is set). A change of either forgets every layout.
    void setGeometry(const LogRenderer* renderer, int width);
    int width() const { return m_width; }
    // The texts may have changed (a reload, another encoding): every layout goes.
    void forget();

    // The end of the row that starts at `start` of text, at most `limit` (the break rule
    // above; start < limit <= text.size()).
    qsizetype breakRow(QStringView text, qsizetype start, qsizetype limit) const;

    // Rows of the text called `key`. A row is known by its start (0 for an empty text).
    // The start of the row that holds character `position` (the last row for the text's
    // length).
    qsizetype rowStart(std::uint64_t key, QStringView text, qsizetype position);
    // The end of the row that starts at `start`: the next row's start, or the text's end.
    qsizetype rowEnd(std::uint64_t key, QStringView text, qsizetype start);
    std::optional<qsizetype> nextRow(std::uint64_t key, QStringView text, qsizetype start);
    std::optional<qsizetype> previousRow(std::uint64_t key, QStringView text, qsizetype start);
    qsizetype lastRowStart(std::uint64_t key, QStringView text);
    // The number of the row starting at `start` (0 first) and the number of rows; exact
    // for a text of one segment, estimated where segments were not laid out.
    std::uint64_t rowNumber(std::uint64_t key, QStringView text, qsizetype start);
    std::uint64_t rowCount(std::uint64_t key, QStringView text);
    // The start of row `number` by the same count (the last row past the end).
    qsizetype rowStartOf(std::uint64_t key, QStringView text, std::uint64_t number);

    // Layouts kept now (tests).
    std::size_t keptSegments() const { return m_kept.size(); }

  private:
    struct Segment {
        qsizetype begin = 0;
        qsizetype end = 0;
    };
    struct Layout {
        qsizetype length = 0;
        std::uint64_t sample = 0;
        std::vector<qsizetype> starts; // ascending; starts[0] is the segment's begin
    };
    struct SegmentKey {
        std::uint64_t text = 0;
        qsizetype segment = 0;
        bool operator==(const SegmentKey&) const = default;
    };
    struct SegmentKeyHash {
        std::size_t operator()(const SegmentKey& key) const
        {
            return std::hash<std::uint64_t>()(key.text * 1000003u ^ std::uint64_t(key.segment));
        }
    };

    qsizetype segmentCount(QStringView text) const;
    // A segment boundary near `position`, moved past a low surrogate that ends a pair.
    static qsizetype boundary(QStringView text, qsizetype position);
    Segment segmentAt(QStringView text, qsizetype index) const;
    qsizetype segmentOf(QStringView text, qsizetype position) const;
    const std::vector<qsizetype>& layout(std::uint64_t key, QStringView text, qsizetype index);
    // Rows of a segment: its layout's when one is kept, else the estimate.
    std::uint64_t segmentRows(std::uint64_t key, QStringView text, qsizetype index) const;

    qsizetype m_segmentChars;
    const LogRenderer* m_renderer = nullptr;
    int m_width = 0;
    QFont m_font;
    // Least recently used first.
    std::list<SegmentKey> m_order;
    struct Kept {
        Layout layout;
        std::list<SegmentKey>::iterator place;
    };
    std::unordered_map<SegmentKey, Kept, SegmentKeyHash> m_kept;
};
