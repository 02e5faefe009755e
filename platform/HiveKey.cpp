#include "platform/HiveKey.h"

#include <algorithm>
#include <utility>

namespace quill {

std::vector<std::uint8_t> szData(std::u16string_view text)
{
    std::vector<std::uint8_t> data;
    data.reserve(2 * (text.size() + 1));
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

namespace {

char16_t foldChar(char16_t c)
{
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    }
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x450 && c <= 0x45F) {
        return static_cast<char16_t>(c - 0x50);
    }
    // Latin Extended-A pairs its letters as (upper, lower), with the two runs below offset
    // by one; dotless i, kra and long s have no partner here.
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        const bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        const bool isLower = oddRun ? (c % 2 == 0) : (c % 2 == 1);
        return isLower ? static_cast<char16_t>(c - 1) : c;
    }
    return c;
}

bool isWellFormedUtf16(std::u16string_view s)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}


std::vector<std::u16string_view> splitPath(std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

} // namespace

std::u16string foldName(std::u16string_view name)
{
    std::u16string out(name);
    for (char16_t& c : out) {
        c = foldChar(c);
    }
    return out;
}

bool isValidValueName(std::u16string_view name)
{
    return name.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string_view::npos &&
           isWellFormedUtf16(name);
}

bool isValidKeyName(std::u16string_view name)
{
    return !name.empty() && name.find(u'\\') == std::u16string_view::npos &&
           isValidValueName(name);
}

HiveKey::HiveKey(std::u16string name) : m_name(std::move(name)) {}

const HiveKey* HiveKey::subkey(std::u16string_view name) const
{
    const auto it = m_subkeys.find(foldName(name));
    return it == m_subkeys.end() ? nullptr : it->second.get();
}

HiveKey* HiveKey::subkey(std::u16string_view name)
{
    return const_cast<HiveKey*>(std::as_const(*this).subkey(name));
}

HiveKey* HiveKey::createSubkey(std::u16string_view name)
{
    if (!isValidKeyName(name)) {
        return nullptr;
    }
    auto& slot = m_subkeys[foldName(name)];
    if (!slot) {
        slot = std::make_unique<HiveKey>(std::u16string(name));
    }
    return slot.get();
}

bool HiveKey::removeSubkey(std::u16string_view name)
{
    return m_subkeys.erase(foldName(name)) > 0;
}

const HiveKey* HiveKey::findPath(std::u16string_view path) const
{
    const HiveKey* key = this;
    for (std::u16string_view part : splitPath(path)) {
        key = key->subkey(part);
        if (!key) {
            return nullptr;
        }
    }
    return key;
}

HiveKey* HiveKey::findPath(std::u16string_view path)
{
    return const_cast<HiveKey*>(std::as_const(*this).findPath(path));
}

HiveKey* HiveKey::createPath(std::u16string_view path)
{
    const std::vector<std::u16string_view> parts = splitPath(path);
    if (parts.size() > MaxKeyDepth ||
        !std::all_of(parts.begin(), parts.end(), [](auto p) { return isValidKeyName(p); })) {
        return nullptr;
    }
    HiveKey* key = this;
    for (std::u16string_view part : parts) {
        key = key->createSubkey(part);
    }
    return key;
}

bool HiveKey::removePath(std::u16string_view path)
{
    std::vector<std::u16string_view> parts = splitPath(path);
    if (parts.empty()) {
        return false;
    }
    const std::u16string_view last = parts.back();
    parts.pop_back();
    HiveKey* parent = this;
    for (std::u16string_view part : parts) {
        parent = parent->subkey(part);
        if (!parent) {
            return false;
        }
    }
    return parent->removeSubkey(last);
}

const HiveValue* HiveKey::value(std::u16string_view name) const
{
    const auto it = m_valueIndex.find(foldName(name));
    return it == m_valueIndex.end() ? nullptr : &m_values[it->second];
}

bool HiveKey::setValue(std::u16string_view name, std::uint32_t type, std::vector<std::uint8_t> data)
{
    if (!isValidValueName(name)) {
        return false;
    }
    const auto [it, inserted] = m_valueIndex.try_emplace(foldName(name), m_values.size());
    if (inserted) {
        m_values.push_back(HiveValue{std::u16string(name), type, std::move(data)});
    } else {
        HiveValue& v = m_values[it->second];
        v.type = type;
        v.data = std::move(data);
    }
    return true;
}

bool HiveKey::removeValue(std::u16string_view name)
{
    const auto it = m_valueIndex.find(foldName(name));
    if (it == m_valueIndex.end()) {
        return false;
    }
    const std::size_t index = it->second;
    m_values.erase(m_values.begin() + static_cast<std::ptrdiff_t>(index));
    m_valueIndex.erase(it);
    for (auto& [fold, i] : m_valueIndex) {
        if (i > index) {
            --i;
        }
    }
    return true;
}

void HiveKey::addNote(std::string_view line)
{
    if (!line.empty() && line.front() == ';') {
        m_notes.emplace_back(line);
    } else {
        m_notes.push_back(';' + std::string(line));
    }
}

} // namespace quill
