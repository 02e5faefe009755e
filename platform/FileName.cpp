#include "platform/FileName.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace quill {

namespace {

constexpr char16_t EscapeBase = 0xDC00;
constexpr char16_t EscapeFirst = 0xDC80;
constexpr char16_t EscapeLast = 0xDCFF;

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The code point of the well-formed UTF-8 sequence at p, and its length; 0 when the byte
// at p does not start one (the caller escapes that byte alone and goes on after it).
std::size_t decodeSequence(const unsigned char* p, const unsigned char* end, char32_t& cp)
{
    const unsigned char c = p[0];
    std::size_t length = 0;
    char32_t min = 0;
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
        min = 0x10000;
    } else {
        return 0; // continuation byte, overlong lead 0xC0/0xC1, or 0xF5..0xFF
    }
    if (static_cast<std::size_t>(end - p) < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(p[i])) {
            return 0;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

void appendUtf8(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

} // namespace

std::u16string fileNameToUtf16(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        char32_t cp = 0;
        const std::size_t length = decodeSequence(p, end, cp);
        if (length == 0) {
            out += static_cast<char16_t>(EscapeBase + *p);
            ++p;
            continue;
        }
        if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
        p += length;
    }
    return out;
}

std::string fileNameToBytes(std::u16string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (isHighSurrogate(c) && i + 1 < name.size() && isLowSurrogate(name[i + 1])) {
            appendUtf8(0x10000 + ((char32_t(c) - 0xD800) << 10) + (name[i + 1] - 0xDC00), out);
            ++i;
        } else if (c >= EscapeFirst && c <= EscapeLast) {
            out += static_cast<char>(c - EscapeBase);
        } else {
            appendUtf8(c, out);
        }
    }
    return out;
}

std::u16string fileNameForDisplay(std::u16string_view name)
{
    std::u16string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (isHighSurrogate(out[i]) && i + 1 < out.size() && isLowSurrogate(out[i + 1])) {
            ++i;
        } else if (isHighSurrogate(out[i]) || isLowSurrogate(out[i])) {
            out[i] = 0xFFFD;
        }
    }
    return out;
}

std::string absoluteFileName(std::string_view name)
{
    if (name.empty()) {
        return {};
    }
    std::string joined;
    if (name.front() != '/') {
        // getcwd with a growing buffer: a deep folder is longer than any fixed one.
        std::string cwd(256, '\0');
        while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) {
                return std::string(name);
            }
            cwd.resize(cwd.size() * 2);
        }
        joined = cwd.c_str();
        joined += '/';
    }
    joined.append(name);

    std::vector<std::string_view> parts;
    std::string_view rest = joined;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const std::string_view part : parts) {
        out += '/';
        out.append(part);
    }
    return out.empty() ? std::string("/") : out;
}

std::vector<std::string> folderEntryNames(const std::string& folder)
{
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    return names;
}

} // namespace quill
