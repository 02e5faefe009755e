#pragma once

// The filters used last, offered in the filter field's drop-down: at most 16, most recent
// first, each with its options. Kept in the user hive under
// "Software\Orix\Quillstream\Filter\Recent", one numbered subkey per entry ("1" the most
// recent) holding "SearchString" (text), the flags "MatchCase", "MatchWord",
// "RegularExpression" and "Exclude" (dword 0 or 1), and the filter's time range as typed,
// "From" and "To" (text, left out when empty):
//
//     [HKEY_CURRENT_USER\Software\Orix\Quillstream\Filter\Recent\1]
//     "SearchString"="healthcheck"
//     "MatchCase"=dword:00000000
//     "MatchWord"=dword:00000000
//     "RegularExpression"=dword:00000000
//     "Exclude"=dword:00000001
//     "From"="-2h"
//
// Read when the pane is built, written (in one write of the hive) whenever a filter is
// used; in between it lives in memory. A subkey without text is skipped, later ones still
// count. Main (user-interface) thread only.

#include <cstddef>
#include <string>
#include <vector>

class SettingsStore;

struct FilterHistoryEntry {
    std::u16string text;
    bool matchCase = false;
    bool wholeWord = false;
    bool regularExpression = false;
    bool exclude = false;
    // The From and To times it was used with, as typed (empty: open).
    std::u16string from;
    std::u16string to;
    bool operator==(const FilterHistoryEntry&) const = default;
};

class FilterHistory {
  public:
    static constexpr std::size_t DefaultSize = 16;

    // The store is not owned.
    explicit FilterHistory(SettingsStore& settings, std::size_t size = DefaultSize);

    // The key that holds the entries, relative to the user hive's root.
    std::u16string keyPath() const;

    void readList();
    // Replaces the stored list with the current one.
    void writeList();

    // Puts the entry at the top. An entry with the same text further down is removed (the
    // drop-down shows each text once, with the options it was used with last). Empty text
    // is not added.
    void add(const FilterHistoryEntry& entry);
    void remove(std::size_t index);
    std::size_t size() const { return m_entries.size(); }
    const FilterHistoryEntry& operator[](std::size_t index) const { return m_entries[index]; }
    const std::vector<FilterHistoryEntry>& entries() const { return m_entries; }

  private:
    SettingsStore& m_settings;
    std::size_t m_maxSize;
    std::vector<FilterHistoryEntry> m_entries;
};
