#include "engine/LongLine.h"

#include "engine/LineText.h"
#include "engine/SgrParser.h"
#include "platform/NarrowCodec.h"

#include <algorithm>

namespace {

bool isContinuation(std::uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at p (at most `avail` bytes there), 0 when none
// starts there; code receives its code point.
int utf8Sequence(const std::uint8_t* p, std::size_t avail, char32_t& code)
{
    const std::uint8_t b = p[0];
    int length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        code = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        code = b & 0x0F;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        code = b & 0x07;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (avail < std::size_t(length)) {
        return 0;
    }
    for (int k = 1; k < length; ++k) {
        const std::uint8_t c = p[k];
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
            return 0;
        }
        code = (code << 6) | (c & 0x3F);
    }
    return length;
}

char16_t shownUnit(char16_t c)
{
    // Within a line's text a carriage return never ends it (the terminator is not text).
    return c == u'\r' ? LoneCrSymbol : c;
}

} // namespace

std::int64_t longLineColumns(std::uint64_t bytes, quill::TextEncoding form)
{
    const std::uint64_t columns = bytes / std::uint64_t(longLineUnitBytes(form));
    return std::int64_t(std::min<std::uint64_t>(columns, std::uint64_t(LongLineMaxColumns)));
}

std::vector<std::pair<std::int64_t, std::int64_t>>
longLineSequenceColumns(const std::uint8_t* bytes, std::size_t size, std::uint64_t base,
                        std::uint64_t lineBytes, std::int64_t first, std::int64_t end,
                        quill::TextEncoding form)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;
    const std::int64_t unitBytes = longLineUnitBytes(form);
    // The columns whose units the buffer holds whole, within the line's text.
    const std::int64_t known =
        std::int64_t((base + std::uint64_t(unitBytes) - 1) / std::uint64_t(unitBytes));
    const std::int64_t textColumns =
        std::int64_t(std::min<std::uint64_t>(base + size, lineBytes) / std::uint64_t(unitBytes));
    const std::int64_t lo = std::max(known, first - LongSequenceUnits);
    const std::int64_t hi = std::min(textColumns, end + LongSequenceUnits);
    if (first >= end || lo >= hi) {
        return spans;
    }
    // Every byte that decides a sequence is ASCII: what lies beyond it only has to stay
    // beyond it, so each column is one byte here, whatever the encoding.
    std::vector<std::uint8_t> units(std::size_t(hi - lo));
    const bool big = form == quill::TextEncoding::Utf16Be;
    for (std::int64_t c = lo; c < hi; ++c) {
        const std::uint64_t b = std::uint64_t(c * unitBytes) - base;
        unsigned unit = bytes[b];
        if (unitBytes == 2) {
            unit = big ? (unit << 8) | bytes[b + 1] : unit | (unsigned(bytes[b + 1]) << 8);
        }
        units[std::size_t(c - lo)] = std::uint8_t(unit < 0x80 ? unit : 0x80);
    }
    const std::size_t stop = std::size_t(std::min(end, hi) - lo);
    for (std::size_t i = 0; i < stop; ++i) {
        if (units[i] != 0x1B) {
            continue;
        }
        const std::size_t length = sgrSequenceLength(units.data(), units.size(), i);
        if (length == 0 || std::int64_t(length) > LongSequenceUnits) {
            continue;
        }
        const std::int64_t from = std::max(first, lo + std::int64_t(i));
        const std::int64_t to = std::min(end, lo + std::int64_t(i + length));
        if (from < to) {
            // A string's terminator is a sequence of its own inside it: spans only grow.
            if (!spans.empty() && spans.back().second >= from) {
                spans.back().second = std::max(spans.back().second, to);
            } else {
                spans.emplace_back(from, to);
            }
        }
        i += length - 1;
    }
    return spans;
}

void decodeLongLinePart(const std::uint8_t* bytes, std::size_t size, std::uint64_t base,
                        std::uint64_t lineBytes, std::int64_t first, std::int64_t count,
                        quill::TextEncoding form, bool shown, std::u16string& out,
                        std::vector<std::int64_t>* columns, bool hideSequences)
{
    const std::uint64_t unitBytes = std::uint64_t(longLineUnitBytes(form));
    const std::int64_t lineColumns = longLineColumns(lineBytes, form);
    const std::int64_t end = std::min(first + std::max<std::int64_t>(count, 0), lineColumns);
    if (first < 0 || first >= end || std::uint64_t(first) * unitBytes < base) {
        return;
    }
    // Bytes of the buffer that are text: up to the line's text end.
    const std::uint64_t textEnd = std::min<std::uint64_t>(base + size, lineBytes);
    auto at = [&](std::uint64_t lineByte) { return bytes[lineByte - base]; };
    const std::vector<std::pair<std::int64_t, std::int64_t>> hidden =
        hideSequences ? longLineSequenceColumns(bytes, size, base, lineBytes, first, end, form)
                      : std::vector<std::pair<std::int64_t, std::int64_t>>();
    std::size_t span = 0; // the first hidden span not wholly left of the column put last
    auto put = [&](char16_t unit, std::int64_t column) {
        while (span < hidden.size() && hidden[span].second <= column) {
            ++span;
        }
        if (span < hidden.size() && hidden[span].first <= column) {
            if (!shown) {
                return;
            }
            unit = LongLinePad;
        }
        out.push_back(unit);
        if (columns != nullptr) {
            columns->push_back(column);
        }
    };

    if (quill::isUtf16(form)) {
        const bool big = form == quill::TextEncoding::Utf16Be;
        for (std::int64_t c = first; c < end; ++c) {
            const std::uint64_t b = std::uint64_t(c) * 2;
            if (b + 2 > textEnd) {
                break;
            }
            const char16_t unit =
                big ? char16_t((at(b) << 8) | at(b + 1)) : char16_t(at(b) | (at(b + 1) << 8));
            put(shownUnit(unit), c);
        }
        return;
    }
    const bool utf8 = form == quill::TextEncoding::Utf8 ||
                      (form == quill::TextEncoding::Locale && quill::narrowCharset().isUtf8);
    if (const char16_t* table = quill::singleByteTable(form); table != nullptr || !utf8) {
        if (table != nullptr) {
            for (std::int64_t c = first; c < end && std::uint64_t(c) < textEnd; ++c) {
                put(shownUnit(table[at(std::uint64_t(c))]), c);
            }
            return;
        }
        // A narrow set of several bytes per character: decoded as it comes and fitted to
        // the columns, which may then be off by a few.
        const std::uint64_t from = std::uint64_t(first);
        const std::uint64_t to = std::min<std::uint64_t>(std::uint64_t(end), textEnd);
        if (to <= from) {
            return;
        }
        std::u16string part;
        decodeLineBytes(bytes + (from - base), std::size_t(to - from), form, part);
        if (shown) {
            part.resize(std::size_t(to - from), LongLinePad);
        }
        for (std::size_t i = 0; i < part.size(); ++i) {
            put(shownUnit(part[i]), first + std::int64_t(std::min<std::size_t>(i, to - from - 1)));
        }
        return;
    }

    std::uint64_t p = std::uint64_t(first);
    const std::uint64_t stop = std::min<std::uint64_t>(std::uint64_t(end), textEnd);
    // A column inside a character that began before the part belongs to that character.
    if (p < stop && isContinuation(at(p))) {
        for (std::uint64_t back = 1; back <= 3 && back <= p - base; ++back) {
            const std::uint64_t lead = p - back;
            if (isContinuation(at(lead))) {
                continue;
            }
            char32_t code = 0;
            const int length =
                utf8Sequence(bytes + (lead - base), std::size_t(textEnd - lead), code);
            if (length > int(back)) {
                const std::uint64_t after =
                    std::min<std::uint64_t>(lead + std::uint64_t(length), stop);
                if (shown) {
                    // As the whole character shows there: a pair's second half, then pads.
                    for (; p < after; ++p) {
                        const bool low = code >= 0x10000 && p == lead + 1;
                        put(low ? char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)) : LongLinePad,
                            std::int64_t(p));
                    }
                }
                p = lead + std::uint64_t(length);
            }
            break;
        }
    }
    while (p < stop) {
        const std::uint8_t b = at(p);
        if (b < 0x80) {
            put(shownUnit(char16_t(b)), std::int64_t(p));
            ++p;
            continue;
        }
        char32_t code = 0;
        const int length = utf8Sequence(bytes + (p - base), std::size_t(textEnd - p), code);
        if (length == 0) {
            put(char16_t(0xFFFD), std::int64_t(p));
            ++p;
            continue;
        }
        int units = 1;
        if (code >= 0x10000) {
            put(char16_t(0xD800 + ((code - 0x10000) >> 10)), std::int64_t(p));
            // Shown, the pair's halves take a column each, the second only inside the part.
            if (!shown || p + 1 < stop) {
                put(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)), std::int64_t(p));
            }
            units = 2;
        } else {
            put(char16_t(code), std::int64_t(p));
        }
        if (shown) {
            for (int k = units; k < length && p + std::uint64_t(k) < stop; ++k) {
                put(LongLinePad, std::int64_t(p) + k);
            }
        }
        p += std::uint64_t(length);
    }
}
