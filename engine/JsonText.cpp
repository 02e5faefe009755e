#include "engine/JsonText.h"

#include <algorithm>

namespace {

constexpr char16_t Replacement = 0xFFFD;

bool isHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

int hexValue(char16_t c)
{
    if (isDigit(c)) {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

class Reader {
  public:
    Reader(std::u16string_view text, std::size_t start) : m_text(text), m_pos(start)
    {
        // Only the object's allowed span is read; running out of it is TooLong rather than
        // the end of the line.
        const std::size_t room = text.size() - std::min(start, text.size());
        m_end = start + std::min(room, JsonMaxChars);
        m_cut = room > JsonMaxChars;
    }

    JsonRead read();

  private:
    struct Frame {
        bool object;
    };
    enum class Want { Value, KeyOrClose, Key, ValueOrClose, CommaOrClose };

    bool fail(JsonFault fault, std::size_t offset)
    {
        m_result.error = JsonError{fault, offset};
        return false;
    }
    bool failAtEnd() { return fail(m_cut ? JsonFault::TooLong : JsonFault::UnexpectedEnd, m_end); }
    void skipSpace()
    {
        while (m_pos < m_end && (m_text[m_pos] == u' ' || m_text[m_pos] == u'\t' ||
                                 m_text[m_pos] == u'\n' || m_text[m_pos] == u'\r')) {
            ++m_pos;
        }
    }
    bool readString(std::u16string& out);
    bool readEscape(std::u16string& out);
    bool readNumber(std::u16string& out);
    bool readLiteral(std::u16string_view word);
    bool readValue();
    JsonNode& addNode(JsonKind kind);

    std::u16string_view m_text;
    std::size_t m_pos;
    std::size_t m_end = 0;
    bool m_cut = false;
    std::vector<Frame> m_stack;
    std::u16string m_key;
    bool m_hasKey = false;
    JsonRead m_result;
};

JsonNode& Reader::addNode(JsonKind kind)
{
    JsonNode& node = m_result.document.nodes.emplace_back();
    node.kind = kind;
    node.depth = std::uint32_t(m_stack.size());
    node.hasKey = m_hasKey;
    if (m_hasKey) {
        node.key = std::move(m_key);
        m_key.clear();
        m_hasKey = false;
    }
    return node;
}

bool Reader::readEscape(std::u16string& out)
{
    // m_pos is on the backslash.
    if (m_pos + 1 >= m_end) {
        return failAtEnd();
    }
    const char16_t c = m_text[m_pos + 1];
    char16_t plain = 0;
    switch (c) {
    case u'"':
    case u'\\':
    case u'/':
        plain = c;
        break;
    case u'b':
        plain = u'\b';
        break;
    case u'f':
        plain = u'\f';
        break;
    case u'n':
        plain = u'\n';
        break;
    case u'r':
        plain = u'\r';
        break;
    case u't':
        plain = u'\t';
        break;
    case u'u':
        break;
    default:
        return fail(JsonFault::BadEscape, m_pos);
    }
    if (plain != 0) {
        out += plain;
        m_pos += 2;
        return true;
    }
    // at is on the 'u': 1 read, 0 not four hex digits, -1 the text ends first.
    const auto unitAt = [this](std::size_t at, char16_t& unit) {
        int value = 0;
        for (std::size_t i = 1; i <= 4; ++i) {
            if (at + i >= m_end) {
                return -1;
            }
            const int digit = hexValue(m_text[at + i]);
            if (digit < 0) {
                return 0;
            }
            value = value * 16 + digit;
        }
        unit = char16_t(value);
        return 1;
    };
    char16_t unit = 0;
    if (const int got = unitAt(m_pos + 1, unit); got <= 0) {
        return got < 0 ? failAtEnd() : fail(JsonFault::BadEscape, m_pos);
    }
    m_pos += 6;
    if (isHighSurrogate(unit)) {
        char16_t low = 0;
        if (m_pos + 1 < m_end && m_text[m_pos] == u'\\' && m_text[m_pos + 1] == u'u' &&
            unitAt(m_pos + 1, low) == 1 && isLowSurrogate(low)) {
            out += unit;
            out += low;
            m_pos += 6;
            return true;
        }
        out += Replacement;
        return true;
    }
    out += isLowSurrogate(unit) ? Replacement : unit;
    return true;
}

bool Reader::readString(std::u16string& out)
{
    // m_pos is on the opening quote.
    ++m_pos;
    while (m_pos < m_end) {
        const char16_t c = m_text[m_pos];
        if (c == u'"') {
            ++m_pos;
            return true;
        }
        if (c == u'\\') {
            if (!readEscape(out)) {
                return false;
            }
            continue;
        }
        if (c < 0x20) {
            return fail(JsonFault::ControlCharacter, m_pos);
        }
        if (isHighSurrogate(c) && m_pos + 1 < m_end && isLowSurrogate(m_text[m_pos + 1])) {
            out += c;
            out += m_text[m_pos + 1];
            m_pos += 2;
            continue;
        }
        out += isHighSurrogate(c) || isLowSurrogate(c) ? Replacement : c;
        ++m_pos;
    }
    return failAtEnd();
}

bool Reader::readNumber(std::u16string& out)
{
    const std::size_t first = m_pos;
    const auto digits = [this] {
        const std::size_t from = m_pos;
        while (m_pos < m_end && isDigit(m_text[m_pos])) {
            ++m_pos;
        }
        return m_pos - from;
    };
    const auto needDigits = [&] {
        if (digits() > 0) {
            return true;
        }
        return m_pos >= m_end ? failAtEnd() : fail(JsonFault::BadNumber, m_pos);
    };
    if (m_text[m_pos] == u'-') {
        ++m_pos;
    }
    if (m_pos < m_end && m_text[m_pos] == u'0') {
        ++m_pos; // a leading zero stands alone; a digit after it is ExpectedCommaOrEnd
    } else if (!needDigits()) {
        return false;
    }
    if (m_pos < m_end && m_text[m_pos] == u'.') {
        ++m_pos;
        if (!needDigits()) {
            return false;
        }
    }
    if (m_pos < m_end && (m_text[m_pos] == u'e' || m_text[m_pos] == u'E')) {
        ++m_pos;
        if (m_pos < m_end && (m_text[m_pos] == u'+' || m_text[m_pos] == u'-')) {
            ++m_pos;
        }
        if (!needDigits()) {
            return false;
        }
    }
    out.assign(m_text.substr(first, m_pos - first));
    return true;
}

bool Reader::readLiteral(std::u16string_view word)
{
    for (const char16_t c : word) {
        if (m_pos >= m_end) {
            return failAtEnd();
        }
        if (m_text[m_pos] != c) {
            return fail(JsonFault::ExpectedValue, m_pos);
        }
        ++m_pos;
    }
    return true;
}

bool Reader::readValue()
{
    const char16_t c = m_text[m_pos];
    if (m_stack.empty() && c != u'{') {
        // Only an object is read from a line.
        return fail(JsonFault::ExpectedValue, m_pos);
    }
    if (c == u'{' || c == u'[') {
        if (m_stack.size() >= JsonMaxDepth) {
            return fail(JsonFault::TooDeep, m_pos);
        }
        addNode(c == u'{' ? JsonKind::Object : JsonKind::Array);
        m_stack.push_back(Frame{c == u'{'});
        ++m_pos;
        return true;
    }
    if (c == u'"') {
        std::u16string text;
        if (!readString(text)) {
            return false;
        }
        addNode(JsonKind::String).text = std::move(text);
        return true;
    }
    if (c == u'-' || isDigit(c)) {
        std::u16string text;
        if (!readNumber(text)) {
            return false;
        }
        addNode(JsonKind::Number).text = std::move(text);
        return true;
    }
    const JsonKind literal = c == u't'   ? JsonKind::True
                             : c == u'f' ? JsonKind::False
                             : c == u'n' ? JsonKind::Null
                                         : JsonKind::Object;
    if (literal == JsonKind::Object) {
        return fail(JsonFault::ExpectedValue, m_pos);
    }
    if (!readLiteral(literal == JsonKind::True    ? u"true"
                     : literal == JsonKind::False ? u"false"
                                                  : u"null")) {
        return false;
    }
    addNode(literal);
    return true;
}

JsonRead Reader::read()
{
    Want want = Want::Value;
    while (true) {
        skipSpace();
        if (m_pos >= m_end) {
            failAtEnd();
            return std::move(m_result);
        }
        const char16_t c = m_text[m_pos];
        if ((want == Want::KeyOrClose && c == u'}') || (want == Want::ValueOrClose && c == u']')) {
            want = Want::CommaOrClose;
        }
        switch (want) {
        case Want::KeyOrClose:
        case Want::Key:
            if (c != u'"') {
                fail(JsonFault::ExpectedKey, m_pos);
                return std::move(m_result);
            }
            if (!readString(m_key)) {
                return std::move(m_result);
            }
            skipSpace();
            if (m_pos >= m_end) {
                failAtEnd();
                return std::move(m_result);
            }
            if (m_text[m_pos] != u':') {
                fail(JsonFault::ExpectedColon, m_pos);
                return std::move(m_result);
            }
            ++m_pos;
            m_hasKey = true;
            want = Want::Value;
            break;
        case Want::Value:
        case Want::ValueOrClose: {
            const std::size_t depth = m_stack.size();
            if (!readValue()) {
                return std::move(m_result);
            }
            if (m_stack.size() > depth) {
                want = m_stack.back().object ? Want::KeyOrClose : Want::ValueOrClose;
            } else {
                want = Want::CommaOrClose;
            }
            break;
        }
        case Want::CommaOrClose: {
            const bool object = m_stack.back().object;
            if (c == u',') {
                ++m_pos;
                want = object ? Want::Key : Want::Value;
            } else if (c == (object ? u'}' : u']')) {
                ++m_pos;
                m_stack.pop_back();
                if (m_stack.empty()) {
                    m_result.end = m_pos;
                    return std::move(m_result);
                }
            } else {
                fail(JsonFault::ExpectedCommaOrEnd, m_pos);
                return std::move(m_result);
            }
            break;
        }
        }
    }
}

// Appends a string's text, escaped as the style wants. In Display a line feed ends the line:
// the rest goes to new lines, one level deeper than first.
void appendString(std::u16string_view text, JsonStyle style, std::uint32_t depth,
                  std::vector<PrintedLine>& out)
{
    static constexpr char16_t Hex[] = u"0123456789abcdef";
    std::u16string* line = &out.back().text;
    line->push_back(u'"');
    for (const char16_t c : text) {
        if (c == u'\n' && style == JsonStyle::Display) {
            out.push_back(PrintedLine{depth + 1, {}});
            line = &out.back().text;
            continue;
        }
        if ((c == u'"' || c == u'\\') && style == JsonStyle::Json) {
            line->push_back(u'\\');
            line->push_back(c);
        } else if (c >= 0x20) {
            line->push_back(c);
        } else {
            switch (c) {
            case u'\n':
                line->append(u"\\n");
                break;
            case u'\t':
                line->append(u"\\t");
                break;
            case u'\r':
                line->append(u"\\r");
                break;
            case u'\b':
                line->append(u"\\b");
                break;
            case u'\f':
                line->append(u"\\f");
                break;
            default:
                line->append(u"\\u00");
                line->push_back(Hex[c >> 4]);
                line->push_back(Hex[c & 15]);
                break;
            }
        }
    }
    line->push_back(u'"');
}

} // namespace

JsonRead readJsonObject(std::u16string_view text, std::size_t start)
{
    if (start >= text.size()) {
        JsonRead read;
        read.error = JsonError{JsonFault::UnexpectedEnd, text.size()};
        return read;
    }
    return Reader(text, start).read();
}

void printJson(const JsonDocument& document, JsonStyle style, std::vector<PrintedLine>& out)
{
    const std::vector<JsonNode>& nodes = document.nodes;
    // The kinds of the open containers, outermost first.
    std::vector<bool> open;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const JsonNode& node = nodes[i];
        const std::uint32_t nextDepth = i + 1 < nodes.size() ? nodes[i + 1].depth : 0;
        out.push_back(PrintedLine{node.depth, {}});
        if (node.hasKey) {
            // Keys are one line in either style.
            appendString(node.key, JsonStyle::Json, node.depth, out);
            out.back().text.append(u": ");
        }
        const bool object = node.kind == JsonKind::Object;
        switch (node.kind) {
        case JsonKind::Object:
        case JsonKind::Array:
            out.back().text.push_back(object ? u'{' : u'[');
            if (i + 1 < nodes.size() && nextDepth > node.depth) {
                open.push_back(object);
                continue; // its members follow
            }
            out.back().text.push_back(object ? u'}' : u']');
            break;
        case JsonKind::String:
            appendString(node.text, style, node.depth, out);
            break;
        case JsonKind::Number:
            out.back().text.append(node.text);
            break;
        case JsonKind::True:
            out.back().text.append(u"true");
            break;
        case JsonKind::False:
            out.back().text.append(u"false");
            break;
        case JsonKind::Null:
            out.back().text.append(u"null");
            break;
        }
        // The containers that end here close, innermost first.
        const std::uint32_t keep = i + 1 < nodes.size() ? nextDepth : 0;
        while (open.size() > keep) {
            const bool closingObject = open.back();
            open.pop_back();
            out.push_back(PrintedLine{std::uint32_t(open.size()), closingObject ? u"}" : u"]"});
        }
        if (i + 1 < nodes.size()) {
            out.back().text.push_back(u',');
        }
    }
}

std::u16string joinPrintedLines(const std::vector<PrintedLine>& lines, std::size_t indentWidth)
{
    std::u16string text;
    for (const PrintedLine& line : lines) {
        text.append(std::size_t(line.depth) * indentWidth, u' ');
        text.append(line.text);
        text.push_back(u'\n');
    }
    return text;
}
