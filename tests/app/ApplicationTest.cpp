// Start-up and shutdown of the application object: the help switch, the file from the
// command line, the last viewed file, the Open dialog, the trace log's lines and the
// recent-file list written at exit.

#include "app/Application.h"
#include "app/SignalBridge.h"
#include "diagnostics/TraceLog.h"
#include "engine/AlertRule.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "platform/FileName.h"
#include "resources/ResourceHandler.h"
#include "resources/ResourceIds.h"
#include "resources/VersionInfo.h"
#include "settings/RecentFileList.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

using quilltest::NullSound;
using quilltest::TempDir;
using quilltest::u16;

namespace {

class ApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        store = quilltest::installApplicationStore(dir);
        app = std::make_unique<Application>();
        app->setSoundService(&sound);
        app->setUsagePresenter([this](const QString& text) { usage.append(text); });
    }

    void TearDown() override
    {
        if (app) {
            app->exitInstance();
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
        list.readList();
        return list;
    }

    TempDir dir;
    quilltest::ScopedEnv tmp{"TMPDIR", dir.path()};
    std::unique_ptr<SettingsStore> store;
    NullSound sound;
    std::unique_ptr<Application> app;
    QStringList usage;
};

} // namespace

TEST_F(ApplicationTest, HelpSwitchShowsTheUsageAndEndsStartUp)
{
    const std::string file = logFile("a.log");
    EXPECT_FALSE(app->initInstance({file, "-HELP"}));
    ASSERT_EQ(usage.size(), 1);
    EXPECT_TRUE(usage.front().contains(QStringLiteral("Quillstream")));
    EXPECT_TRUE(usage.front().contains(QStringLiteral("quillstream [options] [--] [file ...] - ")));
    for (const char* option : {"\n  -h, -?, --help ", "\n  --version ", "\n  -- "}) {
        EXPECT_TRUE(usage.front().contains(QLatin1String(option))) << option;
    }
    EXPECT_EQ(app->mainFrame(), nullptr) << "no window";
    EXPECT_EQ(app->exitInstance(), 0);
}

TEST_F(ApplicationTest, PlusNOpensAtThatLineAndLineWithoutANumberIsRefused)
{
    std::string lines;
    for (int i = 1; i <= 400; ++i) {
        lines += "row " + std::to_string(i) + "\n";
    }
    const std::string file = logFile("long.log", lines);
    ASSERT_TRUE(app->initInstance({"+120", file}));
    const DocSelection selection = app->document()->selection();
    ASSERT_TRUE(selection.valid);
    EXPECT_EQ(selection.startLine, 119u);
    EXPECT_EQ(app->document()->line(selection.startLine), u"row 120");
    EXPECT_EQ(app->mainFrame()->activeView()->firstVisibleLine(), 118u) << "a line of context";
    EXPECT_FALSE(app->mainFrame()->activeView()->isFollowing());
    app->exitInstance();
    app.reset();

    // Past the end: the last line.
    app = std::make_unique<Application>();
    app->setSoundService(&sound);
    ASSERT_TRUE(app->initInstance({"--line", "99999999999", file}));
    EXPECT_EQ(app->document()->selection().startLine, 399u);
    EXPECT_TRUE(app->document()->selection().valid);
    app->exitInstance();
    app.reset();

    app = std::make_unique<Application>();
    app->setSoundService(&sound);
    app->setUsagePresenter([this](const QString& text) { usage.append(text); });
    EXPECT_FALSE(app->initInstance({"--line", file}));
    ASSERT_EQ(usage.size(), 1);
    EXPECT_TRUE(usage.front().startsWith(QStringLiteral("The option --line needs a line number")))
        << usage.front().toStdString();
    EXPECT_EQ(app->mainFrame(), nullptr);
    EXPECT_EQ(app->exitInstance(), 1);
}

TEST_F(ApplicationTest, GermanUsageTranslatesTheSyntaxLine)
{
    store->setString(Setting::GuiLanguage, u"DE");
    EXPECT_FALSE(app->initInstance({"--help"}));
    ASSERT_EQ(usage.size(), 1);
    EXPECT_TRUE(
        usage.front().contains(QStringLiteral("quillstream [Optionen] [--] [Datei ...] - ")))
        << usage.front().toStdString();
    EXPECT_TRUE(usage.front().contains(QStringLiteral("\n  --version "))) << "the option list";
    EXPECT_FALSE(usage.front().contains(QStringLiteral("filename")));
}

TEST_F(ApplicationTest, PathContainingDashHOpensNormally)
{
    const std::string file = logFile("my-history.log", "one\ntwo\n");
    ASSERT_TRUE(app->initInstance({file}));
    EXPECT_TRUE(usage.isEmpty());
    ASSERT_NE(app->mainFrame(), nullptr);
    EXPECT_EQ(app->document()->pathName(), u16(file));
    EXPECT_EQ(app->document()->lineCount(), 2u);
    EXPECT_TRUE(app->mainFrame()->isVisible());
    EXPECT_EQ(app->recentFiles().front(), u16(file));
}

TEST_F(ApplicationTest, TwoFileArgumentsOpenInTwoTabsTheFirstInFront)
{
    const std::string first = logFile("first.log");
    const std::string second = logFile("second.log");
    ASSERT_TRUE(app->initInstance({first, second, first}));
    ASSERT_EQ(app->mainFrame()->tabCount(), 2) << "a file named twice opens once";
    EXPECT_EQ(app->mainFrame()->tab(0)->path(), u16(first));
    EXPECT_EQ(app->mainFrame()->tab(1)->path(), u16(second));
    EXPECT_EQ(app->document()->pathName(), u16(first));
    EXPECT_EQ(app->recentFiles().size(), 2u);
}

TEST_F(ApplicationTest, RelativePathIsOpenedAsAnAbsolutePath)
{
    logFile("relative.log");
    const QString before = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path()));
    const bool started = app->initInstance({"relative.log"});
    QDir::setCurrent(before);
    ASSERT_TRUE(started);
    EXPECT_EQ(app->document()->pathName(), u16(dir.file("relative.log")));
}

TEST_F(ApplicationTest, LastViewedFileIsReopenedWhenAsked)
{
    const std::string file = logFile("last.log");
    RecentFileList list = storedRecent();
    list.add(u16(file));
    list.writeList();
    store->setBool(Setting::ShowLastViewedFile, true);
    ASSERT_TRUE(app->initInstance({}));
    EXPECT_EQ(app->document()->pathName(), u16(file));
}

TEST_F(ApplicationTest, DeletedLastViewedFileLeavesTheListAndAnEmptyWindow)
{
    const std::string kept = logFile("kept.log");
    RecentFileList list = storedRecent();
    list.add(u16(kept));
    list.add(u16(dir.file("deleted.log")));
    list.writeList();
    store->setBool(Setting::ShowLastViewedFile, true);
    ASSERT_TRUE(app->initInstance({}));
    EXPECT_EQ(app->document()->lineCount(), 0u);
    EXPECT_EQ(app->recentFiles(), std::vector<std::u16string>{u16(kept)});
    EXPECT_TRUE(app->mainFrame()->isVisible());
}

TEST_F(ApplicationTest, WithoutLastViewedFileTheWindowStartsEmpty)
{
    const std::string file = logFile("last.log");
    RecentFileList list = storedRecent();
    list.add(u16(file));
    list.writeList();
    ASSERT_TRUE(app->initInstance({}));
    EXPECT_EQ(app->document()->lineCount(), 0u);
    EXPECT_TRUE(app->document()->pathName().empty());
}

TEST_F(ApplicationTest, OpenDialogUsesTheLogFilterAndStartsInTheFollowedFilesFolder)
{
    store->setString(Setting::LogFileExt, u"*.csv");
    ASSERT_TRUE(app->initInstance({}));
    QStringList seenFilters;
    QString seenFolder;
    const std::string chosen = logFile("chosen.csv");
    app->setOpenDialog([&](const QString&, const QStringList& filters, const QString& folder) {
        seenFilters = filters;
        seenFolder = folder;
        return QStringList{QString::fromStdString(chosen)};
    });
    app->onFileOpen();
    ASSERT_EQ(seenFilters.size(), 2);
    EXPECT_TRUE(seenFilters[0].endsWith(QStringLiteral(" (*.csv)")))
        << seenFilters[0].toStdString();
    EXPECT_TRUE(seenFilters[1].endsWith(QStringLiteral("(*)")));
    EXPECT_EQ(seenFolder, QString::fromStdString(dir.path() + "/"));
    EXPECT_EQ(app->document()->pathName(), u16(chosen));
    EXPECT_EQ(app->openDialogFolder(), QString::fromStdString(dir.path()))
        << "the followed file's folder";

    std::filesystem::create_directory(dir.file("nested"));
    const std::string nested = logFile("nested/other.log");
    ASSERT_TRUE(app->openDocumentFile(u16(nested)));
    EXPECT_EQ(app->openDialogFolder(), QString::fromStdString(dir.file("nested")));
    app->onFileNew();
    EXPECT_TRUE(app->openDialogFolder().isEmpty()) << "no file and not a first run";

    store->setString(Setting::LogFileExt, u"*.log;*.txt");
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
    ASSERT_TRUE(app->initInstance({}));
    QString chosen;
    app->setOpenDialog(
        [&](const QString&, const QStringList&, const QString&) { return QStringList{chosen}; });

    chosen = QFile::decodeName(QByteArray::fromStdString(folder + "/y\xC0.log"));
    app->onFileOpen();
    EXPECT_EQ(app->document()->lineCount(), 0u);
    EXPECT_TRUE(app->recentFiles().empty());

    chosen = QFile::decodeName(QByteArray::fromStdString(file));
    ASSERT_TRUE(chosen.contains(QChar::ReplacementCharacter));
    app->onFileOpen();
    EXPECT_EQ(app->document()->pathName(), quill::fileNameToUtf16(file));
    EXPECT_EQ(app->document()->lineCount(), 2u);
}

TEST_F(ApplicationTest, TraceLogHasStartAndExitLinesAndTheRecentListIsSavedAtExit)
{
    store->setDword(Setting::LogLevel, 3);
    const std::string file = logFile("traced.log");
    ASSERT_TRUE(app->initInstance({file}));
    app->mainFrame()->close();
    app->exitInstance();
    const std::string log = quilltest::readFile(dir.file("Quillstream.log"));
    EXPECT_NE(log.find(std::string(77, '-') + "\r\n"), std::string::npos);
    const auto started = log.find("Quillstream was started\r\n");
    const auto exited = log.find("ExitInstance\r\n");
    ASSERT_NE(started, std::string::npos);
    ASSERT_NE(exited, std::string::npos);
    EXPECT_LT(started, exited);
    EXPECT_EQ(storedRecent().entries(), std::vector<std::u16string>{u16(file)});
    EXPECT_NE(store->dword(Setting::WindowPosRight), 0u) << "closing stored the position";
}

// The encoding chosen for a file is kept with it: a reload and the next run read it so,
// another file opens automatic.
TEST_F(ApplicationTest, AChosenEncodingIsKeptForItsFileAcrossReloadAndRuns)
{
    const std::string file = logFile("latin.log", "caf\xE9\n");
    const std::string other = logFile("other.log", "caf\xC3\xA9\n");
    ASSERT_TRUE(app->initInstance({file}));
    MainFrame* frame = app->mainFrame();
    frame->action(CommandId::ViewEncodingFirst + int(quill::TextEncoding::Latin1))->trigger();
    EXPECT_EQ(app->document()->line(0), u"caf\u00E9");
    frame->action(CommandId::Reload)->trigger();
    EXPECT_EQ(app->document()->chosenEncoding(), quill::TextEncoding::Latin1);
    EXPECT_EQ(app->document()->line(0), u"caf\u00E9");
    ASSERT_TRUE(app->openDocumentFile(u16(other)));
    EXPECT_EQ(app->document()->chosenEncoding(), quill::TextEncoding::Automatic);
    app->mainFrame()->close();
    app->exitInstance();
    EXPECT_EQ(storedRecent().encodingOf(u16(file)), std::uint32_t(quill::TextEncoding::Latin1));
    EXPECT_EQ(storedRecent().encodingOf(u16(other)), 0u);
}

TEST_F(ApplicationTest, MissingLanguagePackageEndsStartUpWithItsMessage)
{
    store->setString(Setting::ResourceDllPath, u16(dir.file("nowhere")));
    store->setDword(Setting::LogLevel, 3);
    QStringList reported;
    app->resourceHandler().setFailureReporter([&](const QString& text) { reported.append(text); });
    EXPECT_FALSE(app->initInstance({}));
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(reported.front().endsWith(QStringLiteral("EN")));
    EXPECT_EQ(app->mainFrame(), nullptr);
    EXPECT_NE(app->exitInstance(), 0);
    EXPECT_NE(quilltest::readFile(dir.file("Quillstream.log")).find("ExitInstance"),
              std::string::npos);
}

TEST_F(ApplicationTest, TerminationSignalsCloseTheWindowInTheOrderlyWay)
{
    const std::string file = logFile("signalled.log");
    ASSERT_TRUE(app->initInstance({file}));
    SignalBridge bridge;
    ASSERT_TRUE(bridge.isInstalled());
    QObject::connect(&bridge, &SignalBridge::terminationRequested, app.get(),
                     [this](int) { app->requestClose(); });
    QSignalSpy spy(&bridge, &SignalBridge::terminationRequested);
    ::raise(SIGTERM);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.front().front().toInt(), SIGTERM);
    EXPECT_FALSE(app->mainFrame()->isVisible());
    EXPECT_FALSE(app->document()->isWatching()) << "the document was closed";
    EXPECT_NE(store->dword(Setting::WindowPosRight), 0u) << "the position was stored";

    ::raise(SIGINT);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.back().front().toInt(), SIGINT);
}

TEST_F(ApplicationTest, SigtermEndsTheOpenDialogAndEveryBoxShownAfterIt)
{
    const std::string file = logFile("followed.log");
    ASSERT_TRUE(app->initInstance({file}));
    SignalBridge bridge;
    QObject::connect(&bridge, &SignalBridge::terminationRequested, app.get(),
                     [this](int) { app->requestClose(); });
    // The signal arrives while the real Open dialog waits for the user.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() != nullptr) {
            poll.stop();
            ::raise(SIGTERM);
        }
    });
    poll.start(10);
    // Should the signal be ignored, the test fails instead of waiting for ever.
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [] {
        while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->done(QDialog::Rejected);
        }
    });
    rescue.start(10000);
    QElapsedTimer clock;
    clock.start();
    app->onFileOpen();
    app->onAppAbout(); // a box shown afterwards ends at once too
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(app->isTerminating());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(app->mainFrame()->isVisible());
    EXPECT_FALSE(app->document()->isWatching()) << "closed in order";
    EXPECT_EQ(app->document()->pathName(), u16(file)) << "nothing was opened instead";
}

TEST_F(ApplicationTest, SigtermDuringAReloadStopsTheIndexingAndClosesInOrder)
{
    store->setDword(Setting::LogLevel, 3);
    const std::string file = logFile("reloaded.log", "one\ntwo\n");
    ASSERT_TRUE(app->initInstance({file}));
    SignalBridge bridge;
    QObject::connect(&bridge, &SignalBridge::terminationRequested, app.get(),
                     [this](int) { app->requestClose(); });
    // The signal arrives as the reload begins to read the file; from then on the real
    // handler's flag is what the indexing sees.
    bool raised = false;
    app->setTerminationPending([&raised] {
        if (!raised) {
            raised = true;
            ::raise(SIGTERM);
        }
        return SignalBridge::isPending();
    });
    QSignalSpy spy(&bridge, &SignalBridge::terminationRequested);
    app->mainFrame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainFrame()));
    QTest::keyClick(app->mainFrame()->activeView(), Qt::Key_F5);
    ASSERT_TRUE(raised) << "F5 reloads";
    EXPECT_TRUE(app->document()->openWasStopped());
    EXPECT_EQ(app->document()->lineCount(), 0u);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_FALSE(SignalBridge::isPending()) << "lowered once delivered";
    EXPECT_TRUE(app->isTerminating());
    EXPECT_FALSE(app->mainFrame()->isVisible());
    EXPECT_FALSE(app->document()->isWatching());
    EXPECT_EQ(app->recentFiles().front(), u16(file)) << "a stopped open keeps its entry";
    const std::string trace = quilltest::readFile(dir.file("Quillstream.log"));
    EXPECT_NE(trace.find("Open stopped: " + file), std::string::npos) << trace;
}

namespace {

// The real executable with private folders, the trace log at level 3 and no display but
// the one the test names.
class ProgramRun {
  public:
    explicit ProgramRun(const TempDir& dir) : m_dir(dir)
    {
        std::filesystem::create_directories(dir.file("xdg/quillstream"));
        quilltest::writeFile(dir.file("xdg/quillstream/machine.reg"),
                             "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Orix\\Quillstream\\Logging]\r\n"
                             "\"LogLevel\"=dword:00000003\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE",
                                 "LC_ALL", "LC_MESSAGES"}) {
            env.remove(QString::fromLatin1(name));
        }
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(dir.path()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.file("config")));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), QString::fromStdString(dir.file("xdg")));
        // A window of the user's on the same display must never take this run's files.
        std::filesystem::create_directories(dir.file("runtime"));
        std::filesystem::permissions(dir.file("runtime"), std::filesystem::perms::owner_all);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir.file("runtime")));
        m_process.setProcessEnvironment(env);
    }
    ~ProgramRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    void setPlatform(const QString& platform)
    {
        QProcessEnvironment env = m_process.processEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        m_process.setProcessEnvironment(env);
    }
    void start(const QStringList& args) { m_process.start(QStringLiteral(QUILL_PROGRAM), args); }
    std::string trace() const { return quilltest::readFile(m_dir.file("Quillstream.log")); }
    // Waits (a safety limit, not a timing check) until the trace holds the text.
    bool waitForTrace(const std::string& text)
    {
        return QTest::qWaitFor(
            [&] {
                return std::filesystem::exists(m_dir.file("Quillstream.log")) &&
                       trace().find(text) != std::string::npos;
            },
            20000);
    }
    QProcess& process() { return m_process; }

  private:
    const TempDir& m_dir;
    QProcess m_process;
};

struct BoxCase {
    const char* name;
    const char* argument; // "@" stands for the test's folder
    const char* box;      // the trace line of the box
};

class StartUpBoxTest : public ::testing::TestWithParam<BoxCase> {
  protected:
    TempDir dir;
};

} // namespace

TEST_P(StartUpBoxTest, SigtermEndsTheProgramPromptlyAndInOrder)
{
    const BoxCase& c = GetParam();
    ProgramRun run(dir);
    run.setPlatform(QStringLiteral("offscreen"));
    QString argument = QString::fromLatin1(c.argument);
    argument.replace(u'@', QString::fromStdString(dir.path()));
    run.start({argument});
    ASSERT_TRUE(run.waitForTrace(std::string("Modal window shown: ") + c.box)) << run.trace();
    QElapsedTimer clock;
    clock.start();
    run.process().terminate(); // SIGTERM
    ASSERT_TRUE(run.process().waitForFinished(10000)) << "still running after SIGTERM";
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
    const std::string trace = run.trace();
    const auto shown = trace.find("Modal window shown: ");
    const auto exited = trace.find("ExitInstance\r\n");
    ASSERT_NE(exited, std::string::npos) << trace;
    EXPECT_LT(shown, exited);
}

INSTANTIATE_TEST_SUITE_P(Boxes, StartUpBoxTest,
                         ::testing::Values(BoxCase{"MissingFileQuestion", "@/not-yet.log",
                                                   "File not found"},
                                           BoxCase{"OpenError", "@", "Quillstream"},
                                           BoxCase{"HelpBox", "--help", "Quillstream"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(LongStartTest, SigtermWhileAHugeFileIsIndexedEndsTheProgramPromptlyAndInOrder)
{
    TempDir dir;
    const std::string huge = dir.file("huge.log");
    {
        // About 400 MB of short lines, written in large pieces.
        std::string piece;
        for (int i = 0; piece.size() < (8u << 20); ++i) {
            piece += "12:00:00 worker " + std::to_string(i) + " done\n";
        }
        std::FILE* out = std::fopen(huge.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(std::fwrite(piece.data(), 1, piece.size(), out), piece.size());
        }
        ASSERT_EQ(std::fclose(out), 0);
    }
    ProgramRun run(dir);
    run.setPlatform(QStringLiteral("offscreen"));
    run.start({QString::fromStdString(huge)});
    ASSERT_TRUE(run.waitForTrace("Opening ")) << run.trace();
    QElapsedTimer clock;
    clock.start();
    run.process().terminate(); // SIGTERM
    ASSERT_TRUE(run.process().waitForFinished(10000)) << "still running after SIGTERM";
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
    const std::string trace = run.trace();
    const auto stopped = trace.find("Open stopped: " + huge);
    const auto exited = trace.find("ExitInstance\r\n");
    ASSERT_NE(stopped, std::string::npos) << "the signal came after the indexing\n" << trace;
    ASSERT_NE(exited, std::string::npos) << trace;
    EXPECT_LT(stopped, exited);
    EXPECT_NE(trace.find("Start-up ended by a signal"), std::string::npos) << trace;
    std::filesystem::remove(huge);
}

TEST(ProgramWithoutDisplayTest, HelpAndVersionGoToStandardOutput)
{
    TempDir dir;
    // The version dpkg and the metainfo show, not the About box's padded form.
    const std::string version = QUILL_PROJECT_VERSION;
    for (const char* platform : {"", "offscreen"}) {
        SCOPED_TRACE(platform);
        ProgramRun run(dir);
        if (*platform != '\0') {
            run.setPlatform(QString::fromLatin1(platform));
        }
        run.start({QStringLiteral("--version")});
        ASSERT_TRUE(run.process().waitForFinished(20000));
        EXPECT_EQ(run.process().exitCode(), 0);
        EXPECT_EQ(run.process().readAllStandardOutput().toStdString(),
                  "Quillstream " + version + "\n");
    }
    ProgramRun run(dir);
    run.start({QStringLiteral("/var/log/a.log"), QStringLiteral("-h")});
    ASSERT_TRUE(run.process().waitForFinished(20000));
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
    const QString usage = QString::fromLocal8Bit(run.process().readAllStandardOutput());
    EXPECT_TRUE(usage.contains(QStringLiteral("quillstream [options] [--] [file ...] - ")))
        << usage.toStdString();
    EXPECT_NE(run.trace().find("ExitInstance"), std::string::npos) << "the usual start and end";
}

TEST(ProgramWithoutDisplayTest, HelpWithADisplayGoesToStandardOutputToo)
{
    TempDir dir;
    ProgramRun run(dir);
    run.setPlatform(QStringLiteral("offscreen"));
    run.start({QStringLiteral("--help")});
    QByteArray out;
    // The box may stay open: the text must reach standard output before anyone closes it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            out += run.process().readAllStandardOutput();
            return out.contains("--version") || run.process().state() == QProcess::NotRunning;
        },
        20000));
    EXPECT_TRUE(out.contains("quillstream [options] [--] [file ...] - ")) << out.toStdString();
    EXPECT_TRUE(out.contains("--version")) << out.toStdString();
}

TEST_F(ApplicationTest, AtShowsTheFirstLineAtOrAfterTheTimeOnceTheTimesAreReadAndABadTimeIsRefused)
{
    // Line i at 12:00:00 + i seconds, every fifth line without a time.
    std::string lines;
    for (int i = 0; i < 600; ++i) {
        lines += i % 5 == 4 ? std::string("    at frame\n")
                            : "2026-12-07 12:" + std::string(i / 60 < 10 ? "0" : "") +
                                  std::to_string(i / 60) + ":" + (i % 60 < 10 ? "0" : "") +
                                  std::to_string(i % 60) + ".000 INFO row\n";
    }
    const std::string file = logFile("timed.log", lines);
    // 12:05:09 is line 309's time, which has none: line 310 is the first at or after it.
    ASSERT_TRUE(app->initInstance({"--at", "2026-12-07 12:05:09", file}));
    LogView* view = app->mainFrame()->activeView();
    static_cast<void>(QTest::qWaitFor(
        [&] {
            const DocSelection s = app->document()->selection();
            return s.valid && s.startLine == 310u;
        },
        10000));
    EXPECT_EQ(app->document()->selection().startLine, 310u);
    EXPECT_FALSE(view->isFollowing());
    app->exitInstance();
    app.reset();

    app = std::make_unique<Application>();
    app->setSoundService(&sound);
    app->setUsagePresenter([this](const QString& text) { usage.append(text); });
    EXPECT_FALSE(app->initInstance({"--at", "noon", file}));
    ASSERT_EQ(usage.size(), 1);
    EXPECT_TRUE(usage.front().startsWith(QStringLiteral("The option --at needs a time")))
        << usage.front().toStdString();
    EXPECT_EQ(app->mainFrame(), nullptr);
}
