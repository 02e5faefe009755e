// Start-up and shutdown of the application object: the help switch, the file from the
// command line, the last viewed file, the Open dialog, the trace log's lines and the
// recent-file list written at exit.

#include "app/Application.h"
#include "resources/ResourceHandler.h"
#include "app/SignalBridge.h"
#include "diagnostics/TraceLog.h"
#include "engine/AlertRule.h"
#include "engine/LogDocument.h"
#include "platform/FileName.h"
#include "settings/RecentFileList.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

using quilltest::NullSound;
using quilltest::TempDir;
using quilltest::u16;

namespace {

class ApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        store = std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg"));
        SettingsStore::overrideInstance(store.get());
        store->SetString(Setting::ResourceDllPath, u16(QUILL_LANGUAGE_DIR));
        store->SetString(Setting::ResourceDllPrefix, u"quillstream_");
        store->SetString(Setting::GuiLanguage, u"EN");
        // A missing file is declined silently instead of asking.
        store->SetBool(Setting::ShowEmptyFileWarning, false);
        store->SetBool(Setting::ShowEmptyFiles, false);
        app = std::make_unique<CBrackenlyApp>();
        app->setSoundService(&sound);
        app->setUsagePresenter([this](const QString& text) { usage.append(text); });
    }

    void TearDown() override
    {
        if (app) {
            app->ExitInstance();
        }
        app.reset();
        SettingsStore::overrideInstance(nullptr);
    }

    std::string logFile(const char* name, const std::string& text = "a line\n")
    {
        const std::string path = dir.file(name);
        quilltest::writeFile(path, text);
        return path;
    }

    RecentFileList storedRecent()
    {
        RecentFileList list(
            *store,
            QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdU16String());
        list.ReadList();
        return list;
    }

    TempDir dir;
    quilltest::ScopedEnv tmp{"TMPDIR", dir.path()};
    std::unique_ptr<SettingsStore> store;
    NullSound sound;
    std::unique_ptr<CBrackenlyApp> app;
    QStringList usage;
};

} // namespace

TEST_F(ApplicationTest, HelpSwitchShowsTheUsageAndEndsStartUp)
{
    const std::string file = logFile("a.log");
    EXPECT_FALSE(app->InitInstance({file, "-HELP"}));
    ASSERT_EQ(usage.size(), 1);
    EXPECT_TRUE(usage.front().contains(QStringLiteral("Quillstream")));
    EXPECT_TRUE(usage.front().contains(QStringLiteral("quillstream [filename] - ")));
    EXPECT_EQ(app->mainFrame(), nullptr) << "no window";
    EXPECT_EQ(app->ExitInstance(), 0);
}

TEST_F(ApplicationTest, PathContainingDashHOpensNormally)
{
    const std::string file = logFile("my-history.log", "one\ntwo\n");
    ASSERT_TRUE(app->InitInstance({file}));
    EXPECT_TRUE(usage.isEmpty());
    ASSERT_NE(app->mainFrame(), nullptr);
    EXPECT_EQ(app->document()->GetPathName(), u16(file));
    EXPECT_EQ(app->document()->GetLineCount(), 2u);
    EXPECT_TRUE(app->mainFrame()->isVisible());
    EXPECT_EQ(app->RecentFiles().front(), u16(file));
}

TEST_F(ApplicationTest, TwoFileArgumentsOpenOnlyTheFirst)
{
    const std::string first = logFile("first.log");
    const std::string second = logFile("second.log");
    ASSERT_TRUE(app->InitInstance({first, second}));
    EXPECT_EQ(app->document()->GetPathName(), u16(first));
    EXPECT_EQ(app->RecentFiles().size(), 1u);
}

TEST_F(ApplicationTest, RelativePathIsOpenedAsAnAbsolutePath)
{
    logFile("relative.log");
    const QString before = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path()));
    const bool started = app->InitInstance({"relative.log"});
    QDir::setCurrent(before);
    ASSERT_TRUE(started);
    EXPECT_EQ(app->document()->GetPathName(), u16(dir.file("relative.log")));
}

TEST_F(ApplicationTest, LastViewedFileIsReopenedWhenAsked)
{
    const std::string file = logFile("last.log");
    RecentFileList list = storedRecent();
    list.Add(u16(file));
    list.WriteList();
    store->SetBool(Setting::ShowLastViewedFile, true);
    ASSERT_TRUE(app->InitInstance({}));
    EXPECT_EQ(app->document()->GetPathName(), u16(file));
}

TEST_F(ApplicationTest, DeletedLastViewedFileLeavesTheListAndAnEmptyWindow)
{
    const std::string kept = logFile("kept.log");
    RecentFileList list = storedRecent();
    list.Add(u16(kept));
    list.Add(u16(dir.file("deleted.log")));
    list.WriteList();
    store->SetBool(Setting::ShowLastViewedFile, true);
    ASSERT_TRUE(app->InitInstance({}));
    EXPECT_EQ(app->document()->GetLineCount(), 0u);
    EXPECT_EQ(app->RecentFiles(), std::vector<std::u16string>{u16(kept)});
    EXPECT_TRUE(app->mainFrame()->isVisible());
}

TEST_F(ApplicationTest, WithoutLastViewedFileTheWindowStartsEmpty)
{
    const std::string file = logFile("last.log");
    RecentFileList list = storedRecent();
    list.Add(u16(file));
    list.WriteList();
    ASSERT_TRUE(app->InitInstance({}));
    EXPECT_EQ(app->document()->GetLineCount(), 0u);
    EXPECT_TRUE(app->document()->GetPathName().empty());
}

TEST_F(ApplicationTest, OpenDialogUsesTheLogFilterAndStartsInTheTemporaryFolderOnAFirstRun)
{
    store->SetString(Setting::LogFileExt, u"*.csv");
    ASSERT_TRUE(app->InitInstance({}));
    QStringList seenFilters;
    QString seenFolder;
    const std::string chosen = logFile("chosen.csv");
    app->setOpenDialog([&](const QString&, const QStringList& filters, const QString& folder) {
        seenFilters = filters;
        seenFolder = folder;
        return QString::fromStdString(chosen);
    });
    app->OnFileOpen();
    ASSERT_EQ(seenFilters.size(), 2);
    EXPECT_TRUE(seenFilters[0].endsWith(QStringLiteral(" (*.csv)")))
        << seenFilters[0].toStdString();
    EXPECT_TRUE(seenFilters[1].endsWith(QStringLiteral("(*)")));
    EXPECT_EQ(seenFolder, QString::fromStdString(dir.path() + "/"));
    EXPECT_EQ(app->document()->GetPathName(), u16(chosen));
    EXPECT_TRUE(app->openDialogFolder().isEmpty()) << "later the dialog chooses";

    store->SetString(Setting::LogFileExt, u"*.log;*.txt");
    EXPECT_TRUE(app->openDialogFilters()[0].endsWith(QStringLiteral(" (*.log *.txt)")));
}

TEST_F(ApplicationTest, OpenDialogChoiceThatQtShowsWithReplacementsOpensTheFileOnDisk)
{
    const std::string folder = dir.file("logs\xFE");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/x\xFF.log";
    quilltest::writeFile(file, "one\ntwo\n");
    // Two names that Qt shows alike: which one was meant cannot be told, so neither opens.
    quilltest::writeFile(folder + "/y\xC0.log", "y\n");
    quilltest::writeFile(folder + "/y\xC1.log", "y\n");
    ASSERT_TRUE(app->InitInstance({}));
    QString chosen;
    app->setOpenDialog([&](const QString&, const QStringList&, const QString&) { return chosen; });

    chosen = QFile::decodeName(QByteArray::fromStdString(folder + "/y\xC0.log"));
    app->OnFileOpen();
    EXPECT_EQ(app->document()->GetLineCount(), 0u);
    EXPECT_TRUE(app->RecentFiles().empty());

    chosen = QFile::decodeName(QByteArray::fromStdString(file));
    ASSERT_TRUE(chosen.contains(QChar::ReplacementCharacter));
    app->OnFileOpen();
    EXPECT_EQ(app->document()->GetPathName(), quill::fileNameToUtf16(file));
    EXPECT_EQ(app->document()->GetLineCount(), 2u);
}

TEST_F(ApplicationTest, TraceLogHasStartAndExitLinesAndTheRecentListIsSavedAtExit)
{
    store->SetDword(Setting::LogLevel, 3);
    const std::string file = logFile("traced.log");
    ASSERT_TRUE(app->InitInstance({file}));
    app->mainFrame()->close();
    app->ExitInstance();
    const std::string log = quilltest::readFile(dir.file("Quillstream.log"));
    EXPECT_NE(log.find(std::string(77, '-') + "\r\n"), std::string::npos);
    const auto started = log.find("Quillstream was started\r\n");
    const auto exited = log.find("ExitInstance\r\n");
    ASSERT_NE(started, std::string::npos);
    ASSERT_NE(exited, std::string::npos);
    EXPECT_LT(started, exited);
    EXPECT_EQ(storedRecent().entries(), std::vector<std::u16string>{u16(file)});
    EXPECT_NE(store->GetDword(Setting::WindowPosRight), 0u) << "closing stored the position";
}

TEST_F(ApplicationTest, MissingLanguagePackageEndsStartUpWithItsMessage)
{
    store->SetString(Setting::ResourceDllPath, u16(dir.file("nowhere")));
    store->SetDword(Setting::LogLevel, 3);
    QStringList reported;
    app->resourceHandler().setFailureReporter([&](const QString& text) { reported.append(text); });
    EXPECT_FALSE(app->InitInstance({}));
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported.front().endsWith(QStringLiteral("EN")));
    EXPECT_EQ(app->mainFrame(), nullptr);
    EXPECT_NE(app->ExitInstance(), 0);
    EXPECT_NE(quilltest::readFile(dir.file("Quillstream.log")).find("ExitInstance"),
              std::string::npos);
}

TEST_F(ApplicationTest, TerminationSignalsCloseTheWindowInTheOrderlyWay)
{
    const std::string file = logFile("signalled.log");
    ASSERT_TRUE(app->InitInstance({file}));
    SignalBridge bridge;
    ASSERT_TRUE(bridge.isInstalled());
    QObject::connect(&bridge, &SignalBridge::terminationRequested, app.get(),
                     [this](int) { app->requestClose(); });
    QSignalSpy spy(&bridge, &SignalBridge::terminationRequested);
    ::raise(SIGTERM);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.front().front().toInt(), SIGTERM);
    EXPECT_FALSE(app->mainFrame()->isVisible());
    EXPECT_FALSE(app->document()->IsWatching()) << "the document was closed";
    EXPECT_NE(store->GetDword(Setting::WindowPosRight), 0u) << "the position was stored";

    ::raise(SIGINT);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.back().front().toInt(), SIGINT);
}
