#pragma once

// The tabs of the last session: the files open in the window when it was closed, in the
// order of their tabs, and which of them was in front. Kept in the user hive beside the
// recent-file list, under "Software\Local AppWizard-Generated Applications\<application
// name>\Open Tabs": text values Tab1, Tab2, ... (file names in their escaped UTF-16 form,
// platform/FileName.h) and the dword Front, the number N of the TabN in front.
//
// A tab of several files merged by time keeps its first file in TabN and the others, in
// order, in the text values "TabN Merged2", "TabN Merged3", ...; a rotated set keeps its live
// file in TabN and the dword "TabN Rotated" = 1. A session without them reads as before, and
// an older reader of a newer session opens such a tab's TabN as a file of its own.
//
// Reading never fails as a whole: a value that is missing, empty, not text or repeats an
// earlier tab is skipped and the others keep their order; a Front that names no restored
// entry puts the first one in front. Main (user-interface) thread only.

#include <cstddef>
#include <string>
#include <vector>

class SettingsStore;

// How a tab beyond a plain file was opened.
struct TabSessionExtra {
    bool rotated = false;
    // The merged tab's files after the first (which is its entry in paths).
    std::vector<std::u16string> mergedWith;
    bool operator==(const TabSessionExtra&) const = default;
};

struct TabSessionState {
    std::vector<std::u16string> paths;
    // Index into paths of the tab in front; 0 when paths is empty.
    std::size_t front = 0;
    // One a path, or none at all: every tab a plain file.
    std::vector<TabSessionExtra> extras = {};
};

class TabSession {
  public:
    // The most tabs a session keeps; further tabs are not restored.
    static constexpr std::size_t MaxTabs = 64;
    // The most files of one merged tab.
    static constexpr std::size_t MaxMergedFiles = 256;

    // appName: the executable's base name. The store is not owned.
    TabSession(SettingsStore& settings, std::u16string appName);

    std::u16string keyPath() const;
    TabSessionState read() const;
    // Replaces the stored session in one write of the user hive. Empty paths are left out.
    void write(const TabSessionState& state);

  private:
    SettingsStore& m_settings;
    std::u16string m_appName;
};
