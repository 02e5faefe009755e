#pragma once

// The document's host for the engine's benchmarks: no window, no views, no boxes. It counts
// what the watcher posts (appends and reloads), declines a missing file and prints an open
// error.

#include "engine/DocumentHost.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quillbench {

class QuietHost : public DocumentHost {
  public:
    void postFileAppended() override { ++appended; }
    void postFileReload() override { ++reloads; }
    void postFileUnreadable(int) override { ++reloads; }
    void updateAllViews() override {}
    void scrollViewsToEnd() override {}
    void resetViewsScroll() override {}
    void ensureSelectionVisibleInViews() override {}
    void setFilePathText(const std::u16string&) override {}
    void titleChanged(const std::u16string&) override {}
    MissingFileAnswer askMissingFile(const std::u16string&) override { return {true, false}; }
    void showOpenError(const std::u16string&, const std::u16string&, int error) override
    {
        std::fprintf(stderr, "open error %d\n", error);
    }
    std::u16string loadResourceString(std::uint32_t) override { return {}; }
    std::u16string fileVersionText() override { return {}; }

    std::atomic<int> appended{0};
    std::atomic<int> reloads{0};
};

} // namespace quillbench
