#pragma once

// The real main frame with one tab of a log, its filter bar and pane, for the filter's
// widget tests.

#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/MainFrame.h"
#include "resources/ResourceHandler.h"
#include "resources/ResourceIds.h"
#include "settings/FilterHistory.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/FilterView.h"
#include "view/LogView.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QRawFont>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

using quilltest::NullSound;
using quilltest::ReopeningOwner;
using quilltest::TempDir;
using quilltest::u16;

class FilterPaneTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        path = dir.file("app.log");
    }

    void open(const std::string& bytes, bool watch = false)
    {
        content = bytes;
        quilltest::writeFile(path, bytes);
        frame.reset();
        frame = std::make_unique<MainFrame>(&owner, &sound);
        document = frame->activeDocument();
        WatchTiming timing;
        timing.poll = std::chrono::milliseconds(20);
        document->setWatchTiming(timing);
        owner.document = document;
        owner.frame = frame.get();
        frame->setMessageHandler([](const QString&) {});
        frame->resize(700, 500);
        frame->show();
        frame->activeView()->initialUpdate();
        ASSERT_TRUE(document->openDocument(u16(path)));
        if (!watch) {
            document->stopWatching();
        }
        frame->activeView()->initialUpdate();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        QApplication::processEvents();
    }

    void append(const std::string& bytes)
    {
        content += bytes;
        std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
    }

    FilterPane* pane() const { return frame->filterPane(); }
    FilterView* rows() const { return pane()->view(); }
    QWidget* focused() const { return QApplication::focusWidget(); }

    void key(int k, Qt::KeyboardModifiers mods = {})
    {
        QTest::keyClick(focused(), Qt::Key(k), mods);
        QApplication::processEvents();
    }

    // Ctrl+Shift+F, the text, Enter: as a user sets a filter.
    void filterBy(const char* text)
    {
        key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClicks(focused(), QString::fromUtf8(text));
        key(Qt::Key_Return);
    }

    // The line numbers shown, once the filter has caught up with `lines` lines.
    std::vector<LineNumber> shown(LineNumber lines)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const FilterProgress p = pane()->filter()->progress();
            return p.state == FilterState::Done && p.total == lines &&
                   pane()->filter()->isCollected();
        })) << "the filter did not reach "
            << lines << " lines";
        QApplication::processEvents();
        std::vector<LineNumber> result;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            result.push_back(rows()->lineOfRow(row));
        }
        return result;
    }

    // The independent model: the lines of the content that hold `include` and none of the
    // `excludes`, compared as bytes.
    std::vector<LineNumber> expected(const std::string& include,
                                     const std::vector<std::string>& excludes = {}) const
    {
        std::vector<LineNumber> result;
        std::size_t start = 0;
        for (LineNumber line = 0; start < content.size(); ++line) {
            std::size_t end = content.find('\n', start);
            end = end == std::string::npos ? content.size() : end;
            const std::string text = content.substr(start, end - start);
            bool keep = text.find(include) != std::string::npos;
            for (const std::string& exclude : excludes) {
                keep = keep && text.find(exclude) == std::string::npos;
            }
            if (keep) {
                result.push_back(line);
            }
            start = end + 1;
        }
        return result;
    }

    QPoint rowPoint(std::size_t row, int x = -1) const
    {
        const int h = rows()->rowHeight();
        const std::size_t first = rows()->firstVisibleRow();
        return QPoint(x >= 0 ? x : rows()->gutterWidth() + 4, int(row - first) * h + h / 2);
    }

    quilltest::EnglishPackage package;
    TempDir& dir = package.dir;
    std::unique_ptr<SettingsStore>& store = package.store;
    NullSound sound;
    ReopeningOwner owner;
    LogDocument* document = nullptr; // the first tab's
    std::unique_ptr<MainFrame> frame;
    std::string path;
    std::string content;
};
