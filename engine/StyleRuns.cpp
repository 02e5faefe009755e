#include "engine/StyleRuns.h"

StyleRuns overlayRuns(const StyleRuns& base, const StyleRuns& top)
{
    if (top.empty()) {
        return base;
    }
    StyleRuns out;
    out.reserve(base.size() + top.size());
    std::size_t b = 0;
    for (const StyleRun& run : top) {
        // The parts of base runs left of this top run, cut at its start.
        while (b < base.size() && base[b].start < run.start) {
            StyleRun piece = base[b];
            if (!out.empty() && out.back().end > piece.start) {
                piece.start = out.back().end;
            }
            piece.end = std::min(piece.end, run.start);
            if (piece.start < piece.end) {
                out.push_back(piece);
            }
            if (base[b].end > run.start) {
                break;
            }
            ++b;
        }
        out.push_back(run);
        // Base runs wholly under this one are gone; one reaching past it continues after it.
        while (b < base.size() && base[b].end <= run.end) {
            ++b;
        }
    }
    for (; b < base.size(); ++b) {
        StyleRun piece = base[b];
        if (!out.empty() && out.back().end > piece.start) {
            piece.start = out.back().end;
        }
        if (piece.start < piece.end) {
            out.push_back(piece);
        }
    }
    return out;
}
