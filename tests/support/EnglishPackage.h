#pragma once

// The settings and language a widget test of the frame runs with: a store of its own in a
// temporary folder, installed as the program's, and the English package loaded from the
// build tree. Declare it before the document and the frame, so that it is torn down after
// them. Header-only; GUI tests only.

#include "resources/ResourceHandler.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"

#include <gtest/gtest.h>

#include <memory>

namespace quilltest {

struct EnglishPackage {
    EnglishPackage()
        : store(std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg")))
    {
        SettingsStore::overrideInstance(store.get());
        store->setString(Setting::ResourceDllPath, u16(QUILL_LANGUAGE_DIR));
        store->setString(Setting::ResourceDllPrefix, u"quillstream_");
        store->setString(Setting::GuiLanguage, u"EN");
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
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<ResourceHandler> resources;
    bool loaded = false;
};

} // namespace quilltest
