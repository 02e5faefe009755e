#pragma once

// The settings and language a widget test of the frame runs with: a store of its own in a
// temporary folder, installed as the program's, the English package loaded from the build
// tree, and the user's data folder (kept marks) inside the temporary folder. Declare it before the
// document and the frame, so that it is torn down after them. Header-only; GUI tests only.

#include "resources/ResourceHandler.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"

#include <gtest/gtest.h>

#include <memory>

namespace quilltest {

// A settings store of its own in dir, installed as the program's, that names the English
// package of the build tree: what the program reads at start-up. The caller uninstalls it
// (SettingsStore::overrideInstance(nullptr)) before the store goes.
inline std::unique_ptr<SettingsStore> installEnglishStore(const TempDir& dir)
{
    auto store = std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg"));
    SettingsStore::overrideInstance(store.get());
    store->setString(Setting::ResourceDllPath, u16(QUILL_LANGUAGE_DIR));
    store->setString(Setting::ResourceDllPrefix, u"quillstream_");
    store->setString(Setting::GuiLanguage, u"EN");
    return store;
}

// The same for a test of the whole application, which must not stop at a box: a missing or
// empty file is declined without a question, and opened only where showEmptyFiles says.
inline std::unique_ptr<SettingsStore> installApplicationStore(const TempDir& dir,
                                                              bool showEmptyFiles = false)
{
    auto store = installEnglishStore(dir);
    store->setBool(Setting::ShowEmptyFileWarning, false);
    store->setBool(Setting::ShowEmptyFiles, showEmptyFiles);
    return store;
}

struct EnglishPackage {
    EnglishPackage() : store(installEnglishStore(dir))
    {
        resources = std::make_unique<ResourceHandler>(store.get());
        loaded = resources->loadLanguageResources();
    }
    ~EnglishPackage()
    {
        resources.reset();
        SettingsStore::overrideInstance(nullptr);
    }
    EnglishPackage(const EnglishPackage&) = delete;
    EnglishPackage& operator=(const EnglishPackage&) = delete;

    TempDir dir;
    // Marks kept across restarts go to the test's folder, never to the user's.
    ScopedEnv dataHome{"XDG_DATA_HOME", dir.file("data")};
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<ResourceHandler> resources;
    bool loaded = false;
};

} // namespace quilltest
