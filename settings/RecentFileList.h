#pragma once

// The recent-file list: at most five paths, most recent first, kept between runs in the
// user hive as the text values File1 (most recent) to File5 of the key
// "Software\Local AppWizard-Generated Applications\<application name>\Recent File List". The list
// is read at start-up and written back at shutdown; in between it lives in memory. Paths
// are file names in their escaped UTF-16 form (platform/FileName.h) and come back from the
// hive with every byte they stand for. Beside each path, the encoding the user chose for
// that file is kept as the number "Encoding<n>" (a dword, see platform/TextEncoding.h;
// absent for the automatic choice), which older versions ignore. Main (user-interface)
// thread only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class SettingsStore;

class RecentFileList {
  public:
    static constexpr std::size_t DefaultSize = 5;
    // The longest text a menu entry shows for a path.
    static constexpr std::size_t MenuTextLength = 30;

    // appName: the executable's base name. The store is not owned.
    RecentFileList(SettingsStore& settings, std::u16string appName, std::size_t size = DefaultSize);

    // The key that holds the values, relative to the user hive's root.
    std::u16string keyPath() const;

    void readList();
    // Replaces the stored list with the current one (entries beyond it are removed).
    void writeList();

    // Puts path at the top; an equal entry further down moves up instead of doubling.
    void add(const std::u16string& path);
    void remove(std::size_t index);
    std::size_t size() const { return m_entries.size(); }
    const std::u16string& operator[](std::size_t index) const { return m_entries[index]; }
    const std::vector<std::u16string>& entries() const { return m_entries; }
    // The encoding chosen for a path of the list (0, automatic, for any other path).
    std::uint32_t encodingOf(const std::u16string& path) const;
    // Keeps an encoding for a path; it stays with the path while the path is in the list.
    void setEncoding(const std::u16string& path, std::uint32_t encoding);

    // The path as a menu shows it: at most MenuTextLength characters, the middle folders
    // replaced by "..." and the file name kept whole.
    static std::u16string abbreviate(const std::u16string& path,
                                     std::size_t maxLength = MenuTextLength);

  private:
    SettingsStore& m_settings;
    std::u16string m_appName;
    std::size_t m_maxSize;
    std::vector<std::u16string> m_entries;
    std::map<std::u16string, std::uint32_t> m_encodings; // non-zero ones only
    // Forgets the encodings of paths no longer listed.
    void dropUnlisted();
};
