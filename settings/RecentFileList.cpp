#include "settings/RecentFileList.h"

#include "settings/SettingsStore.h"

#include <algorithm>

namespace {

const std::u16string ValueNamePrefix = u"File";

std::u16string valueName(std::size_t index)
{
    const std::string digits = std::to_string(index + 1);
    return ValueNamePrefix + std::u16string(digits.begin(), digits.end());
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

void RecentFileList::ReadList()
{
    m_entries.clear();
    const std::u16string key = keyPath();
    for (std::size_t i = 0; i < m_maxSize; ++i) {
        const std::u16string path = m_settings.ReadFileNameAt(key, valueName(i));
        // An emptied slot ends nothing: later slots still count, in their order.
        if (!path.empty() &&
            std::find(m_entries.begin(), m_entries.end(), path) == m_entries.end()) {
            m_entries.push_back(path);
        }
    }
}

void RecentFileList::WriteList()
{
    const std::u16string key = keyPath();
    // Removing the key first drops the values of entries that left the list.
    m_settings.DeleteUserTree(key);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        m_settings.WriteStringAt(key, valueName(i), m_entries[i]);
    }
}

void RecentFileList::Add(const std::u16string& path)
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
    }
}

void RecentFileList::Remove(std::size_t index)
{
    if (index < m_entries.size()) {
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
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
