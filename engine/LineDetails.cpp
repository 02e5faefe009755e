#include "engine/LineDetails.h"

#include <algorithm>

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

bool isKeyStart(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool isKeyPart(char16_t c)
{
    return isKeyStart(c) || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
}

// Reads a quoted value from line[at] (the opening quote). Returns the position after the
// closing quote, or npos when the quote never closes.
std::size_t readQuoted(std::u16string_view line, std::size_t at, std::u16string& value)
{
    for (std::size_t i = at + 1; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (c == u'"') {
            return i + 1;
        }
        if (c == u'\\' && i + 1 < line.size()) {
            const char16_t next = line[i + 1];
            switch (next) {
            case u'"':
            case u'\\':
                value.push_back(next);
                break;
            case u'n':
                value.push_back(u'\n');
                break;
            case u't':
                value.push_back(u'\t');
                break;
            case u'r':
                value.push_back(u'\r');
                break;
            default:
                // Not an escape this format knows: shown as written.
                value.push_back(c);
                value.push_back(next);
                break;
            }
            ++i;
            continue;
        }
        value.push_back(c);
    }
    return std::u16string_view::npos;
}

// A value's text on one or more printed lines: a line feed goes on a deeper line.
void appendValueLines(std::u16string_view value, std::vector<PrintedLine>& out)
{
    std::size_t from = 0;
    while (true) {
        const std::size_t feed = value.find(u'\n', from);
        out.back().text.append(value.substr(from, feed - from));
        if (feed == std::u16string_view::npos) {
            return;
        }
        out.push_back(PrintedLine{1, {}});
        from = feed + 1;
    }
}

} // namespace

std::vector<KeyValue> splitKeyValues(std::u16string_view line)
{
    std::vector<KeyValue> pairs;
    std::size_t i = 0;
    while (i < line.size() && pairs.size() < LineDetails::MaxPairs) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        const std::size_t word = i;
        std::size_t k = i;
        if (k < line.size() && isKeyStart(line[k])) {
            ++k;
            while (k < line.size() && isKeyPart(line[k])) {
                ++k;
            }
        }
        if (k > word && k < line.size() && line[k] == u'=') {
            KeyValue pair{std::u16string(line.substr(word, k - word)), {}, word};
            std::size_t v = k + 1;
            if (v < line.size() && line[v] == u'"') {
                const std::size_t after = readQuoted(line, v, pair.value);
                if (after == std::u16string_view::npos) {
                    break;
                }
                // A quote followed by more than a blank is not a value of its own.
                if (after == line.size() || isBlank(line[after])) {
                    pairs.push_back(std::move(pair));
                    i = after;
                    continue;
                }
                i = after;
            } else {
                while (v < line.size() && !isBlank(line[v])) {
                    ++v;
                }
                pair.value.assign(line.substr(k + 1, v - k - 1));
                pairs.push_back(std::move(pair));
                i = v;
                continue;
            }
        }
        // Not a pair: the rest of the word is passed over.
        while (i < line.size() && !isBlank(line[i])) {
            ++i;
        }
    }
    return pairs;
}

LineDetails analyzeLine(std::u16string_view line)
{
    LineDetails details;
    std::size_t from = 0;
    while (details.objects.size() < LineDetails::MaxObjects) {
        const std::size_t brace = line.find(u'{', from);
        if (brace == std::u16string_view::npos) {
            break;
        }
        JsonRead read = readJsonObject(line, brace);
        if (read.ok()) {
            details.objects.push_back(std::move(read.document));
            from = read.end;
            continue;
        }
        std::size_t named = brace + 1;
        while (named < line.size() &&
               (isBlank(line[named]) || line[named] == u'\r' || line[named] == u'\n')) {
            ++named;
        }
        if (details.error.fault == JsonFault::None && named < line.size() && line[named] == u'"') {
            details.error = read.error;
        }
        from = std::max(read.error.offset, brace + 1);
    }
    if (!details.objects.empty()) {
        details.kind = LineDetails::Kind::Json;
    } else if (details.error.fault != JsonFault::None) {
        details.kind = LineDetails::Kind::AlmostJson;
    } else {
        details.pairs = splitKeyValues(line);
        if (!details.pairs.empty()) {
            details.kind = LineDetails::Kind::KeyValues;
        }
    }
    return details;
}

std::vector<PrintedLine> detailLines(const LineDetails& details)
{
    std::vector<PrintedLine> lines;
    if (details.kind == LineDetails::Kind::Json) {
        for (const JsonDocument& object : details.objects) {
            if (!lines.empty()) {
                lines.push_back(PrintedLine{});
            }
            printJson(object, JsonStyle::Display, lines);
        }
    } else if (details.kind == LineDetails::Kind::KeyValues) {
        for (const KeyValue& pair : details.pairs) {
            lines.push_back(PrintedLine{0, pair.key + u": "});
            appendValueLines(pair.value, lines);
        }
    }
    return lines;
}

Excerpt excerptAt(std::u16string_view line, std::size_t offset, std::size_t radius)
{
    Excerpt excerpt;
    offset = std::min(offset, line.size());
    std::size_t first = offset > radius ? offset - radius : 0;
    std::size_t last = std::min(line.size(), offset + radius);
    // Never half a surrogate pair at either edge.
    if (first > 0 && first < offset && line[first] >= 0xDC00 && line[first] <= 0xDFFF) {
        ++first;
    }
    if (last < line.size() && last > offset && line[last - 1] >= 0xD800 &&
        line[last - 1] <= 0xDBFF) {
        --last;
    }
    excerpt.text.assign(line.substr(first, last - first));
    for (char16_t& c : excerpt.text) {
        if (c < 0x20) {
            c = u' ';
        }
    }
    excerpt.caret = offset - first;
    excerpt.caretColumn = excerpt.caret;
    for (std::size_t i = 1; i < excerpt.caret; ++i) {
        if (excerpt.text[i] >= 0xDC00 && excerpt.text[i] <= 0xDFFF &&
            excerpt.text[i - 1] >= 0xD800 && excerpt.text[i - 1] <= 0xDBFF) {
            --excerpt.caretColumn;
        }
    }
    excerpt.cutBefore = first > 0;
    excerpt.cutAfter = last < line.size();
    return excerpt;
}
