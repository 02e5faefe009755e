#pragma once

// Owners of a main frame for widget tests that build the frame without the application.
// Header-only; GUI tests only.

#include "engine/LogDocument.h"
#include "frame/MainFrame.h"
#include "view/LogView.h"

#include <string>
#include <vector>

namespace quilltest {

// Opens for real when the frame asks (F5's reload, File > New), as the application does.
// Point document and frame at the frame's document and the frame before it asks.
class ReopeningOwner : public FrameOwner {
  public:
    bool openDocumentFile(const std::u16string& path) override
    {
        if (document == nullptr || !document->openDocument(path)) {
            return false;
        }
        document->setTitle();
        frame->activeView()->initialUpdate();
        return true;
    }
    void onFileNew() override
    {
        document->newDocument();
        document->setTitle();
        frame->activeView()->initialUpdate();
    }
    void onFileOpen() override {}
    void onAppAbout() override {}
    void onOpenRecentFile(int) override {}
    std::vector<std::u16string> recentFiles() const override { return {}; }

    LogDocument* document = nullptr;
    MainFrame* frame = nullptr;
};

} // namespace quilltest
