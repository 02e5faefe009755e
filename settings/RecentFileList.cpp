#include "settings/RecentFileList.h"

#include "settings/SettingsStore.h"

#include <algorithm>

namespace {

const std::u16string ValueNamePrefix = u"File";
const std::u16string EncodingNamePrefix = u"Encoding";

std::u16string valueName(std::size_t index, const std::u16string& prefix = ValueNamePrefix)
{
    const std::string digits = std::to_string(index + 1);
    return prefix + std::u16string(digits.begin(), digits.end());
}

} // namespace

RecentFileList::RecentFileList(SettingsStore& settings, std::u16string appName, std::size_t size)
    : m_settings(settings), m_appName(std::move(appName)), m_maxSize(size)
{
}

std::u16string RecentFileList::keyPath() const
{
    return u"Software\\Local AppWizard-Generated Applications\\" + m_appName +
           u"\\Recent File List";
}

void RecentFileList::readList()
{
    m_entries.clear();
    m_encodings.clear();
    const std::u16string key = keyPath();
    for (std::size_t i = 0; i < m_maxSize; ++i) {
        const std::u16string path = m_settings.readFileNameAt(key, valueName(i));
        // An emptied slot ends nothing: later slots still count, in their order.
        if (!path.empty() &&
            std::find(m_entries.begin(), m_entries.end(), path) == m_entries.end()) {
            m_entries.push_back(path);
            setEncoding(path, m_settings.readDwordAt(key, valueName(i, EncodingNamePrefix), 0));
        }
    }
}

void RecentFileList::writeList()
{
    const std::u16string key = keyPath();
    // Removing the key first drops the values of entries that left the list.
    m_settings.deleteUserTree(key);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        m_settings.writeStringAt(key, valueName(i), m_entries[i]);
        if (const std::uint32_t encoding = encodingOf(m_entries[i]); encoding != 0) {
            m_settings.writeDwordAt(key, valueName(i, EncodingNamePrefix), encoding);
        }
    }
}

std::uint32_t RecentFileList::encodingOf(const std::u16string& path) const
{
    const auto it = m_encodings.find(path);
    return it != m_encodings.end() ? it->second : 0;
}

void RecentFileList::setEncoding(const std::u16string& path, std::uint32_t encoding)
{
    if (encoding == 0) {
        m_encodings.erase(path);
    } else {
        m_encodings[path] = encoding;
    }
}

void RecentFileList::dropUnlisted()
{
    std::erase_if(m_encodings, [&](const auto& entry) {
        return std::find(m_entries.begin(), m_entries.end(), entry.first) == m_entries.end();
    });
}

void RecentFileList::add(const std::u16string& path)
{
    if (path.empty() || m_maxSize == 0) {
        return;
    }
    auto it = std::find(m_entries.begin(), m_entries.end(), path);
    if (it != m_entries.end()) {
        m_entries.erase(it);
    }
    m_entries.insert(m_entries.begin(), path);
    if (m_entries.size() > m_maxSize) {
        m_entries.resize(m_maxSize);
        dropUnlisted();
    }
}

void RecentFileList::remove(std::size_t index)
{
    if (index < m_entries.size()) {
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
        dropUnlisted();
    }
}

std::u16string RecentFileList::abbreviate(const std::u16string& path, std::size_t maxLength)
{
    if (path.size() <= maxLength) {
        return path;
    }
    const std::size_t slash = path.rfind(u'/');
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    const std::u16string ellipsis = u"...";
    if (slash == std::u16string::npos || name.size() + ellipsis.size() + 1 > maxLength) {
        return name;
    }
    // Keep the leading folders that fit in front of ".../name".
    std::u16string head;
    std::size_t partStart = 0;
    while (partStart <= slash) {
        std::size_t partEnd = path.find(u'/', partStart);
        if (partEnd == std::u16string::npos || partEnd > slash) {
            partEnd = slash;
        }
        const std::u16string part = path.substr(partStart, partEnd - partStart);
        const std::u16string candidate =
            head.empty() && part.empty() ? std::u16string() : head + part + u'/';
        if (candidate.size() + ellipsis.size() + 1 + name.size() > maxLength) {
            break;
        }
        head = candidate.empty() ? std::u16string(u"/") : candidate;
        if (partEnd == slash) {
            break;
        }
        partStart = partEnd + 1;
    }
    return head + ellipsis + u'/' + name;
}
