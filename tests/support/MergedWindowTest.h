#pragma once

// What the window tests of a merged tab share: a private folder with the application's
// settings in it (and $TMPDIR, for the spools), the real application started on arguments,
// its merged tab's rows as shown, and the local times the tests' lines carry. Header-only;
// GUI tests only.

#include "app/Application.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "view/MergedRowSource.h"

#include <QString>
#include <QTest>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace quilltest {

// "YYYY-MM-DD HH:MM:SS", local time, `second` after a fixed moment (the lines' times).
inline std::string stamp(int second)
{
    const std::time_t t = 1'796'000'000 + second;
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

class MergedWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { store = installApplicationStore(dir, true); }
    void TearDown() override
    {
        if (app) {
            app->exitInstance();
        }
        app.reset();
        SettingsStore::overrideInstance(nullptr);
    }
    // The command through its menu, as the user picks it; it must be on.
    void pick(int id) { ASSERT_TRUE(pickFromMenu(*frame, id)) << "off: " << id; }
    MergedPart* merged() const { return frame->currentTab()->merged(); }
    // The merged rows' texts as shown.
    std::vector<std::string> rows() const
    {
        std::vector<std::string> texts;
        MergedRowSource* source = merged()->rows();
        for (std::size_t row = 0; row < source->rowCount(); ++row) {
            texts.push_back(
                QString::fromStdU16String(std::u16string(source->rowText(row))).toStdString());
        }
        return texts;
    }

    TempDir dir;
    ScopedEnv tmp{"TMPDIR", dir.path()};
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Application> app;
    MainFrame* frame = nullptr;
};

} // namespace quilltest
