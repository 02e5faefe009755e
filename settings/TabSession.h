#pragma once

// The tabs of the last session: the files open in the window when it was closed, in the
// order of their tabs, and which of them was in front. Kept in the user hive beside the
// recent-file list, under "Software\Local AppWizard-Generated Applications\<application
// name>\Open Tabs": text values Tab1, Tab2, ... (file names in their escaped UTF-16 form,
// platform/FileName.h) and the dword Front, the number N of the TabN in front.
//
// Reading never fails as a whole: a value that is missing, empty, not text or repeats an
// earlier one is skipped and the others keep their order; a Front that names no restored
// entry puts the first one in front. Main (user-interface) thread only.

#include <cstddef>
#include <string>
#include <vector>

class SettingsStore;

struct TabSessionState {
    std::vector<std::u16string> paths;
    // Index into paths of the tab in front; 0 when paths is empty.
    std::size_t front = 0;
};

class TabSession {
  public:
    // The most tabs a session keeps; further tabs are not restored.
    static constexpr std::size_t MaxTabs = 64;

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
