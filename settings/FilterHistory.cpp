#include "settings/FilterHistory.h"

#include "settings/SettingsStore.h"

#include <algorithm>

namespace {

const std::u16string TextName = u"SearchString";
const std::u16string MatchCaseName = u"MatchCase";
const std::u16string MatchWordName = u"MatchWord";
const std::u16string RegexName = u"RegularExpression";
const std::u16string ExcludeName = u"Exclude";
const std::u16string FromName = u"From";
const std::u16string ToName = u"To";

std::u16string number(std::size_t n)
{
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace

FilterHistory::FilterHistory(SettingsStore& settings, std::size_t size)
    : m_settings(settings), m_maxSize(size)
{
}

std::u16string FilterHistory::keyPath() const
{
    return m_settings.keyPath(Setting::KeyFilter) + u"\\Recent";
}

void FilterHistory::readList()
{
    m_entries.clear();
    const std::u16string base = keyPath();
    for (std::size_t i = 1; i <= m_maxSize; ++i) {
        const std::u16string path = base + u'\\' + number(i);
        FilterHistoryEntry entry;
        entry.text = m_settings.readStringAt(path, TextName, u"");
        if (entry.text.empty() ||
            std::any_of(m_entries.begin(), m_entries.end(),
                        [&](const FilterHistoryEntry& e) { return e.text == entry.text; })) {
            continue;
        }
        entry.matchCase = m_settings.readDwordAt(path, MatchCaseName, 0) != 0;
        entry.wholeWord = m_settings.readDwordAt(path, MatchWordName, 0) != 0;
        entry.regularExpression = m_settings.readDwordAt(path, RegexName, 0) != 0;
        entry.exclude = m_settings.readDwordAt(path, ExcludeName, 0) != 0;
        entry.from = m_settings.readStringAt(path, FromName, u"");
        entry.to = m_settings.readStringAt(path, ToName, u"");
        m_entries.push_back(std::move(entry));
    }
}

void FilterHistory::writeList()
{
    std::vector<StoredValue> values;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const FilterHistoryEntry& entry = m_entries[i];
        const std::u16string key = number(i + 1);
        values.push_back({key, TextName, true, entry.text, 0});
        values.push_back({key, MatchCaseName, false, {}, entry.matchCase ? 1u : 0u});
        values.push_back({key, MatchWordName, false, {}, entry.wholeWord ? 1u : 0u});
        values.push_back({key, RegexName, false, {}, entry.regularExpression ? 1u : 0u});
        values.push_back({key, ExcludeName, false, {}, entry.exclude ? 1u : 0u});
        if (!entry.from.empty()) {
            values.push_back({key, FromName, true, entry.from, 0});
        }
        if (!entry.to.empty()) {
            values.push_back({key, ToName, true, entry.to, 0});
        }
    }
    m_settings.replaceUserTree(keyPath(), values);
}

void FilterHistory::add(const FilterHistoryEntry& entry)
{
    if (entry.text.empty() || m_maxSize == 0) {
        return;
    }
    m_entries.erase(
        std::remove_if(m_entries.begin(), m_entries.end(),
                       [&](const FilterHistoryEntry& e) { return e.text == entry.text; }),
        m_entries.end());
    m_entries.insert(m_entries.begin(), entry);
    if (m_entries.size() > m_maxSize) {
        m_entries.resize(m_maxSize);
    }
}

void FilterHistory::remove(std::size_t index)
{
    if (index < m_entries.size()) {
        m_entries.erase(m_entries.begin() + std::ptrdiff_t(index));
    }
}
