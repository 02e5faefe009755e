#include "frame/RecentFileList.h"

#include "settings/SettingsStore.h"

#include <QStringList>

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
        const std::u16string path = m_settings.ReadStringAt(key, valueName(i), u"");
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

QString RecentFileList::abbreviate(const QString& path, int maxLength)
{
    if (path.size() <= maxLength) {
        return path;
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = slash < 0 ? path : path.mid(slash + 1);
    const QString ellipsis = QStringLiteral("...");
    if (slash < 0 || name.size() + ellipsis.size() + 1 > maxLength) {
        return name;
    }
    // Keep the leading folders that fit in front of ".../name".
    const QStringList parts = path.left(slash).split(u'/');
    QString head;
    for (const QString& part : parts) {
        const QString candidate = head.isEmpty() && part.isEmpty() ? QString() : head + part + u'/';
        if (candidate.size() + ellipsis.size() + 1 + name.size() > maxLength) {
            break;
        }
        head = candidate.isEmpty() ? QStringLiteral("/") : candidate;
    }
    return head + ellipsis + u'/' + name;
}
