#pragma once

// A log view on a real document over a real file, with settings in a temporary folder and
// a host that forwards the document's calls to the one view. The watcher is stopped after
// opening so the tests decide when text arrives (append()). Sounds are recorded.

#include "engine/AlertRule.h"
#include "engine/DocumentHost.h"
#include "engine/LogDocument.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"
#include "view/LogView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace quilltest {

// Records the sounds, and whether the document lock was held when one started (asked
// from another thread, as the watcher would ask).
class RecordingSound : public SoundService {
  public:
    void playSoundFile(const std::u16string& path) override
    {
        ++plays;
        lastFile = path;
        noteLock();
    }
    void beep() override
    {
        ++beeps;
        noteLock();
    }
    int plays = 0;
    int beeps = 0;
    int startedUnderLock = 0;
    std::u16string lastFile;
    std::recursive_mutex* documentLock = nullptr;

  private:
    void noteLock()
    {
        if (documentLock == nullptr) {
            return;
        }
        std::thread([this] {
            if (documentLock->try_lock()) {
                documentLock->unlock();
            } else {
                ++startedUnderLock;
            }
        }).join();
    }
};

class ViewHost : public DocumentHost {
  public:
    void postFileAppended() override {}
    void postFileReload() override {}
    void postFileUnreadable(int) override {}
    void updateAllViews() override { view->updateFromDocument(); }
    void scrollViewsToEnd() override { view->scrollToEnd(); }
    void resetViewsScroll() override { view->resetScroll(); }
    void ensureSelectionVisibleInViews() override { view->ensureSelectionVisible(); }
    void setFilePathText(const std::u16string&) override {}
    void titleChanged(const std::u16string&) override {}
    MissingFileAnswer askMissingFile(const std::u16string&) override { return {}; }
    void showOpenError(const std::u16string&, const std::u16string&, int) override {}
    std::u16string loadResourceString(std::uint32_t) override { return {}; }
    std::u16string fileVersionText() override { return u"1.0.0.0001"; }

    LogView* view = nullptr;
};

class ViewFixture : public ::testing::Test {
  protected:
    void SetUp() override
    {
        store = std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg"));
        SettingsStore::overrideInstance(store.get());
        path = dir.file("watched.log");
    }

    void TearDown() override
    {
        view.reset();
        document.reset();
        SettingsStore::overrideInstance(nullptr);
    }

    static std::string numberedLines(int from, int count, const std::string& text = "line")
    {
        std::string bytes;
        for (int i = from; i < from + count; ++i) {
            bytes += text + " " + std::to_string(i) + "\n";
        }
        return bytes;
    }

    // Opens the file holding bytes in a view whose client area shows exactly `rows` rows.
    void open(const std::string& bytes, int rows = 20, int width = 500)
    {
        writeFile(path, bytes);
        openWritten(rows, width);
    }

    // The same for the file at path as it is.
    void openWritten(int rows = 20, int width = 500)
    {
        document = std::make_unique<LogDocument>(&host, *store);
        view = std::make_unique<LogView>();
        view->setSoundService(&sound);
        sound.documentLock = &document->docAccess();
        view->setDocument(document.get());
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        host.view = view.get();
        view->resize(width, 100);
        view->show();
        view->initialUpdate();
        lineHeight = static_cast<int>(view->lineHeight());
        ASSERT_GT(lineHeight, 0);
        view->resize(width, rows * lineHeight);
        ASSERT_TRUE(document->openDocument(std::u16string(path.begin(), path.end())));
        document->stopWatching();
        // What the framework does after every open.
        view->initialUpdate();
        settle();
        ASSERT_EQ(view->viewport()->height(), rows * lineHeight);
    }

    // What the watcher and the frame do when text arrives: extend the index, set the
    // new-text flag, update the view.
    void append(const std::string& bytes)
    {
        appendFile(path, bytes);
        {
            std::lock_guard lock(document->docAccess());
            document->appendText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 false);
        }
        document->setNewTextArrived(true);
        view->updateFromDocument();
        settle();
    }

    // Runs the posted scroll requests and measurements.
    static void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }

    // What View > Wrap Long Lines does: the setting, and the views brought up to date.
    void setWrap(bool wrap)
    {
        store->setBool(Setting::WrapLongLines, wrap);
        view->updateFromDocument();
        settle();
    }

    // The pixels of the row at y of `shown` that differ from the renderer painting `text`
    // alone in the text and background colours (the last two columns, where a caret may
    // be, left out).
    int rowDifference(const QImage& shown, int y, const std::u16string& text) const
    {
        QImage expected(shown.width(), lineHeight, QImage::Format_RGB32);
        const QColor background = quill::colorFromRef(store->dword(Setting::BackgroundColor));
        expected.fill(background);
        LogRenderer::RowStyle style;
        style.text = quill::colorFromRef(store->dword(Setting::TextColor));
        style.background = background;
        {
            QPainter painter(&expected);
            view->renderer().paintRow(painter, 0, 0, 0, expected.width(),
                                      QStringView(text.data(), qsizetype(text.size())), style);
        }
        int differing = 0;
        for (int py = 0; py < lineHeight; ++py) {
            for (int px = 0; px < shown.width() - 2; ++px) {
                differing += QColor(shown.pixel(px, y + py)) != QColor(expected.pixel(px, py));
            }
        }
        return differing;
    }

    QScrollBar* vbar() const { return view->verticalScrollBar(); }
    QScrollBar* hbar() const { return view->horizontalScrollBar(); }

    TempDir dir;
    std::unique_ptr<SettingsStore> store;
    ViewHost host;
    RecordingSound sound;
    std::unique_ptr<LogDocument> document;
    std::unique_ptr<LogView> view;
    std::string path;
    int lineHeight = 0;
};

} // namespace quilltest
