#include "platform/RegFileFormat.h"

#include "platform/NarrowCodec.h"

#include <algorithm>
#include <cstdio>

namespace quill {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) {
        ++i;
    }
    return s.substr(i);
}

std::string_view trimRight(std::string_view s)
{
    std::size_t n = s.size();
    while (n > 0 && isSpace(s[n - 1])) {
        --n;
    }
    return s.substr(0, n);
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits, nothing else.
bool parseHex32(std::string_view s, std::uint32_t& out)
{
    if (s.empty() || s.size() > 8) {
        return false;
    }
    std::uint32_t v = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0) {
            return false;
        }
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    out = v;
    return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i];
        if (a >= 'a' && a <= 'z') {
            a = static_cast<char>(a - 32);
        }
        if (a != prefix[i]) {
            return false;
        }
    }
    return true;
}

bool equalsNoCase(std::string_view a, std::string_view upper)
{
    return a.size() == upper.size() && startsWithNoCase(a, upper);
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool parseQuoted(std::string_view s, std::size_t& pos, std::string& out)
{
    out.clear();
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size()) {
            const char e = s[++i];
            switch (e) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            default: // a hand-typed "C:\dir" means what it says
                out += '\\';
                out += e;
                break;
            }
            continue;
        }
        out += c;
    }
    return false;
}

// A line that can continue a hex byte list: hex digits, commas, blanks, a final backslash.
bool looksLikeHexContinuation(std::string_view line)
{
    line = trim(line);
    if (line.empty()) {
        return false;
    }
    return std::all_of(line.begin(), line.end(), [](char c) {
        return hexDigit(c) >= 0 || c == ',' || c == '\\' || isSpace(c);
    });
}

bool parseByteList(std::string_view s, std::vector<std::uint8_t>& out)
{
    out.clear();
    s = trim(s);
    if (s.empty()) {
        return true;
    }
    out.reserve(s.size() / 3 + 1);
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = s.find(',', start);
        const std::string_view token =
            trim(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start));
        if (token.size() != 2 || hexDigit(token[0]) < 0 || hexDigit(token[1]) < 0) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(hexDigit(token[0]) * 16 + hexDigit(token[1])));
        if (comma == std::string_view::npos) {
            return true;
        }
        start = comma + 1;
    }
}

enum class RootKind { CurrentUser, LocalMachine, Unknown };

RootKind rootKind(std::string_view name)
{
    if (equalsNoCase(name, "HKEY_CURRENT_USER") || equalsNoCase(name, "HKCU")) {
        return RootKind::CurrentUser;
    }
    if (equalsNoCase(name, "HKEY_LOCAL_MACHINE") || equalsNoCase(name, "HKLM")) {
        return RootKind::LocalMachine;
    }
    return RootKind::Unknown;
}

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text), m_root(std::make_unique<HiveKey>()) {}

    std::unique_ptr<HiveKey> run()
    {
        m_noteTarget = m_root.get();
        bool first = true;
        std::string_view line;
        while (nextLine(line)) {
            if (first) {
                first = false;
                const std::string_view t = trim(line);
                if (t == RegFileSignature || t == "REGEDIT4") {
                    continue;
                }
            }
            handleLine(line);
        }
        return std::move(m_root);
    }

private:
    bool nextLine(std::string_view& line)
    {
        if (m_pos >= m_text.size()) {
            return false;
        }
        const std::size_t end = m_text.find('\n', m_pos);
        const std::size_t stop = end == std::string_view::npos ? m_text.size() : end;
        line = m_text.substr(m_pos, stop - m_pos);
        while (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        m_pos = end == std::string_view::npos ? m_text.size() : end + 1;
        return true;
    }

    void note(std::string_view line) { m_noteTarget->addNote(line); }

    void handleLine(std::string_view line)
    {
        const std::string_view t = trimLeft(line);
        if (t.empty()) {
            return;
        }
        if (t.front() == '[') {
            handleHeader(line, trimRight(t));
        } else if ((t.front() == '"' || t.front() == '@') && m_current) {
            handleValue(line, t);
        } else {
            note(line);
        }
    }

    void handleHeader(std::string_view line, std::string_view t)
    {
        m_current = nullptr;
        if (t.size() < 2 || t.back() != ']') {
            note(line);
            return;
        }
        std::string_view inner = t.substr(1, t.size() - 2);
        const bool deletion = !inner.empty() && inner.front() == '-';
        if (deletion) {
            inner.remove_prefix(1);
        }
        const std::size_t slash = inner.find('\\');
        const std::string_view rootName = inner.substr(0, slash);
        const std::string_view rest =
            slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
        if (rootKind(rootName) == RootKind::Unknown) {
            note(line);
            return;
        }
        const std::u16string path = utf8ToUtf16(rest);
        if (deletion) {
            // An import file may remove a key; the removal is applied and the line kept
            // as a comment so the file still shows it.
            note(line);
            if (!path.empty()) {
                m_root->removePath(path);
                m_noteTarget = m_root.get(); // it may have been inside the removed tree
            }
            return;
        }
        HiveKey* key = m_root->createPath(path);
        if (!key) {
            note(line);
            return;
        }
        m_current = key;
        m_noteTarget = key;
    }

    void handleValue(std::string_view firstLine, std::string_view t)
    {
        std::string name;
        std::size_t pos = 0;
        if (t.front() == '@') {
            pos = 1;
        } else if (!parseQuoted(t, pos, name)) {
            note(firstLine);
            return;
        }
        std::string_view rest = trimLeft(t.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            note(firstLine);
            return;
        }
        rest = trim(rest.substr(1));
        const std::u16string valueName = utf8ToUtf16(name);
        if (!isValidValueName(valueName)) {
            note(firstLine);
            return;
        }

        if (rest == "-") {
            m_current->removeValue(valueName);
            return;
        }
        if (!rest.empty() && rest.front() == '"') {
            std::string text;
            std::size_t end = 0;
            if (!parseQuoted(rest, end, text) || end != rest.size()) {
                note(firstLine);
                return;
            }
            m_current->setValue(valueName, RegType::Sz, szData(utf8ToUtf16(text)));
            return;
        }
        if (startsWithNoCase(rest, "DWORD:")) {
            std::uint32_t v = 0;
            if (!parseHex32(trim(rest.substr(6)), v)) {
                note(firstLine);
                return;
            }
            m_current->setValue(valueName, RegType::Dword,
                                {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                 static_cast<std::uint8_t>(v >> 16),
                                 static_cast<std::uint8_t>(v >> 24)});
            return;
        }
        if (startsWithNoCase(rest, "HEX")) {
            handleHexValue(firstLine, valueName, rest.substr(3));
            return;
        }
        note(firstLine);
    }

    void handleHexValue(std::string_view firstLine, const std::u16string& valueName,
                        std::string_view typeAndData)
    {
        std::uint32_t type = RegType::Binary;
        if (!typeAndData.empty() && typeAndData.front() == '(') {
            const std::size_t close = typeAndData.find(')');
            if (close == std::string_view::npos || !parseHex32(typeAndData.substr(1, close - 1), type)) {
                note(firstLine);
                return;
            }
            typeAndData.remove_prefix(close + 1);
        }
        if (typeAndData.empty() || typeAndData.front() != ':') {
            note(firstLine);
            return;
        }
        typeAndData.remove_prefix(1);

        // Long byte lists continue on the following lines after a trailing backslash.
        std::string joined;
        std::vector<std::string_view> consumed{firstLine};
        std::string_view part = trimRight(typeAndData);
        while (!part.empty() && part.back() == '\\') {
            joined.append(part.substr(0, part.size() - 1));
            const std::size_t savedPos = m_pos;
            std::string_view next;
            if (!nextLine(next) || !looksLikeHexContinuation(next)) {
                m_pos = savedPos; // the cut-off value is dropped; the next line stands alone
                for (std::string_view l : consumed) {
                    note(l);
                }
                return;
            }
            consumed.push_back(next);
            part = trim(next);
        }
        joined.append(part);

        std::vector<std::uint8_t> bytes;
        if (!parseByteList(joined, bytes)) {
            for (std::string_view l : consumed) {
                note(l);
            }
            return;
        }
        m_current->setValue(valueName, type, std::move(bytes));
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    std::unique_ptr<HiveKey> m_root;
    HiveKey* m_current = nullptr;    // where values go; nullptr after an unusable header
    HiveKey* m_noteTarget = nullptr; // where unreadable lines go
};

void appendEscaped(std::string& out, std::u16string_view text)
{
    for (char c : utf16ToUtf8(text)) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
}

// A REG_SZ whose bytes the quoted form reproduces exactly.
bool isQuotableSz(const std::vector<std::uint8_t>& data, std::u16string& text)
{
    if (data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    text.clear();
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c < 0x20 && c != u'\t') {
            return false;
        }
        text += c;
    }
    return data[data.size() - 2] == 0 && data[data.size() - 1] == 0 && isValidValueName(text);
}

void appendHexBytes(std::string& out, std::size_t lineStart, const std::vector<std::uint8_t>& data)
{
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out += ',';
            // regedit breaks after the comma that brings a line to 77 characters or more,
            // so a first line after a long name may reach 80 with its backslash.
            if (out.size() - lineStart >= 77) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
}

void appendValue(std::string& out, const HiveValue& v)
{
    const std::size_t lineStart = out.size();
    if (v.name.empty()) {
        out += '@';
    } else {
        out += '"';
        appendEscaped(out, v.name);
        out += '"';
    }
    out += '=';
    std::u16string text;
    if (v.type == RegType::Sz && isQuotableSz(v.data, text)) {
        out += '"';
        appendEscaped(out, text);
        out += '"';
    } else if (v.type == RegType::Dword && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                            (static_cast<std::uint32_t>(v.data[3]) << 24)));
        out += buf;
    } else {
        if (v.type == RegType::Binary) {
            out += "hex:";
        } else {
            char buf[24];
            std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
            out += buf;
        }
        appendHexBytes(out, lineStart, v.data);
    }
    out += '\n';
}

// `header` is the key's full header text; it is extended for each subkey and restored, so a
// deep tree costs one path's worth of memory, not one per level.
void appendKey(std::string& out, const HiveKey& key, std::string& header)
{
    out += '[';
    out += header;
    out += "]\n";
    for (const std::string& n : key.notes()) {
        out += n;
        out += '\n';
    }
    for (const HiveValue& v : key.values()) {
        appendValue(out, v);
    }
    out += '\n';
    const std::size_t length = header.size();
    for (const auto& [fold, sub] : key.subkeys()) {
        header += '\\';
        header += utf16ToUtf8(sub->name());
        appendKey(out, *sub, header);
        header.resize(length);
    }
}

} // namespace

std::unique_ptr<HiveKey> parseRegFile(std::string_view bytes)
{
    std::string converted;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        // As the registry editor exports it: UTF-16LE with a byte-order mark.
        std::u16string wide;
        wide.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        converted = utf16ToUtf8(wide);
        bytes = converted;
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    return Parser(bytes).run();
}

std::string writeRegFile(const HiveKey& root, std::string_view rootName)
{
    std::string out;
    out += RegFileSignature;
    out += "\n\n";
    for (const std::string& n : root.notes()) {
        out += n;
        out += '\n';
    }
    if (!root.values().empty()) {
        out += '[';
        out += rootName;
        out += "]\n";
        for (const HiveValue& v : root.values()) {
            appendValue(out, v);
        }
        out += '\n';
    }
    std::string header(rootName);
    for (const auto& [fold, sub] : root.subkeys()) {
        header += '\\';
        header += utf16ToUtf8(sub->name());
        appendKey(out, *sub, header);
        header.resize(rootName.size());
    }
    return out;
}

} // namespace quill
