#pragma once

// The window's owner for benchmarks that open a main window: it opens nothing else.

#include "frame/MainFrame.h"

#include <string>
#include <vector>

namespace quillbench {

class NoOwner : public FrameOwner {
  public:
    bool openDocumentFile(const std::u16string&) override { return false; }
    void onFileNew() override {}
    void onFileOpen() override {}
    void onAppAbout() override {}
    void onOpenRecentFile(int) override {}
    std::vector<std::u16string> recentFiles() const override { return {}; }
};

} // namespace quillbench
