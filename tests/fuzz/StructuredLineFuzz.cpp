// Feeds arbitrary bytes to Line Details as one line of text: read one byte a code unit, or,
// when the first byte is odd, two bytes a code unit (so raw lone surrogates come too). Every
// object found must be a well-formed tree within the bounds, its strings well-formed UTF-16,
// and its printed JSON must read back as the same document; every failure and every pair
// must point into the line, and the pairs must be in line order.

#include "engine/JsonText.h"
#include "engine/LineDetails.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool wellFormed(const std::u16string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

void checkDocument(const JsonDocument& document)
{
    const std::vector<JsonNode>& nodes = document.nodes;
    check(!nodes.empty() && nodes[0].kind == JsonKind::Object && nodes[0].depth == 0);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const JsonNode& node = nodes[i];
        check(node.depth <= JsonMaxDepth);
        check(i == 0 || node.depth >= 1);
        check(wellFormed(node.key) && wellFormed(node.text));
        if (i + 1 < nodes.size() && nodes[i + 1].depth > node.depth) {
            check(nodes[i + 1].depth == node.depth + 1);
            check(node.kind == JsonKind::Object || node.kind == JsonKind::Array);
            // Members of an object have names; elements of an array have none.
            check(nodes[i + 1].hasKey == (node.kind == JsonKind::Object));
        }
    }
    std::vector<PrintedLine> lines;
    printJson(document, JsonStyle::Json, lines);
    const JsonRead again = readJsonObject(joinPrintedLines(lines, 2));
    check(again.ok() && again.document == document);
    lines.clear();
    printJson(document, JsonStyle::Display, lines);
    check(lines.size() >= nodes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    std::u16string line;
    if (data[0] % 2 == 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2) {
            line += char16_t(data[i] | (data[i + 1] << 8));
        }
    } else {
        for (std::size_t i = 1; i < size; ++i) {
            line += char16_t(data[i]);
        }
    }

    const LineDetails details = analyzeLine(line);
    check(details.objects.size() <= LineDetails::MaxObjects);
    for (const JsonDocument& object : details.objects) {
        checkDocument(object);
    }
    check(details.error.offset <= line.size());
    check((details.kind == LineDetails::Kind::AlmostJson) ==
          (details.objects.empty() && details.error.fault != JsonFault::None));
    if (details.error.fault != JsonFault::None) {
        const Excerpt excerpt = excerptAt(line, details.error.offset);
        check(excerpt.caret <= excerpt.text.size() && excerpt.caretColumn <= excerpt.caret);
    }
    (void)detailLines(details);

    const std::size_t brace = line.find(u'{');
    if (brace != std::u16string::npos) {
        const JsonRead read = readJsonObject(line, brace);
        if (read.ok()) {
            check(read.end > brace && read.end <= line.size());
            check(read.end - brace <= JsonMaxChars);
            check(line[read.end - 1] == u'}');
            checkDocument(read.document);
        } else {
            check(read.error.offset >= brace && read.error.offset <= line.size());
        }
    }

    std::size_t after = 0;
    for (const KeyValue& pair : splitKeyValues(line)) {
        check(pair.offset >= after);
        check(line.compare(pair.offset, pair.key.size() + 1, pair.key + u"=") == 0);
        after = pair.offset + pair.key.size() + 1;
    }
    return 0;
}
