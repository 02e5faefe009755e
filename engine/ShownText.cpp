#include "engine/ShownText.h"

#include "engine/LineText.h"
#include "engine/SgrParser.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

std::size_t showLineText(std::u16string& text, StyleRuns* runs, const TextShowing& showing)
{
    // The terminator as the bytes have it: a CR that a sequence parts from the line feed
    // is the text's, not half of a CR LF.
    const std::size_t content = stripTerminator(text).size();
    const bool cr =
        std::u16string_view(text).substr(0, content).find(u'\r') != std::u16string_view::npos;
    if (!cr) {
        if (showing.terminal) {
            stripSgrInPlace(text, runs);
        } else if (runs != nullptr) {
            runs->clear();
        }
        return stripTerminator(text).size();
    }
    const std::u16string terminator = text.substr(content);
    text.resize(content);
    if (showing.terminal) {
        stripSgrInPlace(text, runs);
    } else if (runs != nullptr) {
        runs->clear();
    }
    if (!showing.controls) {
        overwriteCarriageReturns(text, runs);
    } else if (showing.crSymbol != 0) {
        std::replace(text.begin(), text.end(), u'\r', showing.crSymbol);
    }
    const std::size_t shown = text.size();
    text += terminator;
    return shown;
}

void overwriteCarriageReturns(std::u16string& text, StyleRuns* runs)
{
    if (text.find(u'\r') == std::u16string::npos) {
        return;
    }
    // Each column's character: where the last state that reaches it has it.
    std::vector<std::pair<std::size_t, std::size_t>> columns; // start, length in units
    std::size_t column = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == u'\r') {
            column = 0;
            ++i;
            continue;
        }
        const bool pair = text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size() &&
                          text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
        const std::size_t length = pair ? 2 : 1;
        if (column < columns.size()) {
            columns[column] = {i, length};
        } else {
            columns.emplace_back(i, length);
        }
        ++column;
        i += length;
    }
    std::u16string shown;
    shown.reserve(text.size());
    StyleRuns moved;
    for (const auto& cell : columns) {
        const std::size_t from = cell.first; // a plain name: lambdas below capture it
        const std::size_t length = cell.second;
        const std::size_t at = shown.size();
        shown.append(text, from, length);
        if (runs == nullptr) {
            continue;
        }
        const auto run = std::partition_point(runs->begin(), runs->end(),
                                              [&](const StyleRun& r) { return r.end <= from; });
        if (run == runs->end() || run->start > from) {
            continue;
        }
        StyleRun piece = *run;
        piece.start = at;
        piece.end = at + length;
        if (!moved.empty() && moved.back().end == at && moved.back().sameStyle(piece)) {
            moved.back().end = piece.end;
        } else {
            moved.push_back(piece);
        }
    }
    text.swap(shown);
    if (runs != nullptr) {
        runs->swap(moved);
    }
}

const std::uint8_t* findInnerCarriageReturn(const std::uint8_t* p, const std::uint8_t* end,
                                            quill::TextEncoding form)
{
    if (!quill::isUtf16(form)) {
        for (const std::uint8_t* at = p; at < end;) {
            const void* found = std::memchr(at, '\r', std::size_t(end - at));
            if (found == nullptr) {
                return nullptr;
            }
            const auto* cr = static_cast<const std::uint8_t*>(found);
            if (cr + 1 >= end || cr[1] != '\n') {
                return cr;
            }
            at = cr + 2;
        }
        return nullptr;
    }
    // The byte 0x0D is the low half of the unit: first in little-endian, second in big.
    const std::size_t low = form == quill::TextEncoding::Utf16Be ? 1 : 0;
    for (const std::uint8_t* at = p + low; at < end;) {
        const void* found = std::memchr(at, '\r', std::size_t(end - at));
        if (found == nullptr) {
            return nullptr;
        }
        const auto* byte = static_cast<const std::uint8_t*>(found);
        const std::uint8_t* unit = byte - low;
        if (std::size_t(unit - p) % 2 != 0 || unit + 1 >= end || unit[1 - low] != 0) {
            at = byte + 1;
            continue;
        }
        if (unit + 3 >= end || unit[2 + low] != '\n' || unit[3 - low] != 0) {
            return unit;
        }
        at = byte + 4;
    }
    return nullptr;
}
