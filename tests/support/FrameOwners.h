#pragma once

// Owners of a main frame for widget tests that build the frame without the application.
// Header-only; GUI tests only.

#include "engine/LogDocument.h"
#include "frame/MainFrame.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
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

// A new window over the file at `path`, shown and active, as the program shows it after an
// open, with the owner pointed at it. The watcher is stopped: the test decides when lines
// arrive. `messages` gets the window's messages (from the open on); none: they are dropped.
inline void showFrameOver(std::unique_ptr<MainFrame>& frame, ReopeningOwner& owner,
                          SoundService& sound, const std::string& path, QSize size,
                          std::function<void(const QString&)> messages = {})
{
    frame.reset();
    frame = std::make_unique<MainFrame>(&owner, &sound);
    LogDocument* document = frame->activeDocument();
    owner.document = document;
    owner.frame = frame.get();
    frame->setMessageHandler(messages ? std::move(messages) : [](const QString&) {});
    frame->resize(size);
    frame->show();
    frame->activeView()->initialUpdate();
    ASSERT_TRUE(document->openDocument(u16(path)));
    document->stopWatching();
    frame->activeView()->initialUpdate();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// A command as the user picks it: its menu in the window's menu bar updates the commands'
// states as it does before it opens, and the command is triggered if it is on. False when it
// is off; a command in no menu fails the test too.
inline bool pickFromMenu(MainFrame& frame, int id)
{
    QAction* wanted = frame.action(id);
    for (QAction* top : frame.menuBar()->actions()) {
        if (wanted != nullptr && top->menu() != nullptr &&
            top->menu()->actions().contains(wanted)) {
            emit top->menu()->aboutToShow();
            if (!wanted->isEnabled()) {
                return false;
            }
            wanted->trigger();
            return true;
        }
    }
    ADD_FAILURE() << "not in a menu: " << id;
    return false;
}

} // namespace quilltest
