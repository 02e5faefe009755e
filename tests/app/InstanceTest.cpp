// One window a display: the real program started a second time hands its files, standard
// input and command to the window of this test, which shows them as tabs; the socket's
// place and mode, a socket left by a crash, hostile bytes on it, --new-window and starts at
// the same moment. Also where "+N" puts each file, and File > Open with several names.

#include "app/Application.h"
#include "app/InstanceServer.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"
#include "platform/FileName.h"
#include "platform/InstanceChannel.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"
#include "view/MergedRowSource.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using quilltest::NullSound;
using quilltest::TempDir;

namespace {

std::string numbered(int count, const char* word)
{
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += std::string(word) + " " + std::to_string(i) + "\n";
    }
    return text;
}

int connectTo(const std::string& path)
{
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0)
        << std::strerror(errno);
    return sock;
}

class InstanceTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        store = quilltest::installApplicationStore(dir);
        ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
        app = std::make_unique<Application>();
        app->setSoundService(&sound);
        app->setUsagePresenter([](const QString&) {});
        socket = quill::instanceSocketPath(runtime.c_str(), nullptr, nullptr);
        app->setInstanceSocket(socket);
        std::filesystem::create_directories(dir.file("xdg/quillstream"));
        quilltest::writeFile(dir.file("xdg/quillstream/machine.reg"),
                             "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Orix\\Quillstream\\Logging]\r\n"
                             "\"LogLevel\"=dword:00000003\r\n");
    }

    void TearDown() override
    {
        for (auto& process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        if (app) {
            app->exitInstance();
        }
        app.reset();
        SettingsStore::overrideInstance(nullptr);
    }

    std::string logFile(const std::string& name, const std::string& text)
    {
        const std::string path = dir.file(name);
        quilltest::writeFile(path, text);
        return path;
    }

    // The real program with its own settings and trace (in tmp-<n>), on no display but the
    // test's runtime folder, started in folder.
    QProcess& start(const std::vector<std::string>& words, const std::string& folder = {},
                    const std::string& runtimeFolder = {})
    {
        QStringList args;
        for (const std::string& word : words) {
            args.append(QString::fromStdString(word));
        }
        auto process = std::make_unique<QProcess>();
        const std::string own = dir.file("tmp-" + std::to_string(processes.size()));
        std::filesystem::create_directories(own);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
            env.remove(QString::fromLatin1(name));
        }
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(own));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                   QString::fromStdString(runtimeFolder.empty() ? runtime : runtimeFolder));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.file("config")));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), QString::fromStdString(dir.file("xdg")));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(QString::fromStdString(folder.empty() ? dir.path() : folder));
        process->start(QStringLiteral(QUILL_PROGRAM), args);
        EXPECT_TRUE(process->waitForStarted(10000));
        processes.push_back(std::move(process));
        return *processes.back();
    }

    std::string trace(std::size_t process) const
    {
        return quilltest::readFile(dir.file("tmp-" + std::to_string(process) + "/Quillstream.log"));
    }

    // A second start must end at once, with 0, having handed its request over.
    void expectHandedOver(QProcess& process, std::size_t index)
    {
        // The event loop runs meanwhile: the window of this test answers from it.
        ASSERT_TRUE(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000))
            << "the second start still runs";
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_NE(trace(index).find("Handed to the running window"), std::string::npos)
            << trace(index);
    }

    LogTab* tabOf(const std::string& path) const
    {
        MainFrame* frame = app->mainFrame();
        for (int i = 0; i < frame->tabCount(); ++i) {
            if (frame->tab(i)->path() == quill::fileNameToUtf16(path)) {
                return frame->tab(i);
            }
        }
        return nullptr;
    }

    TempDir dir;
    quilltest::ScopedEnv tmp{"TMPDIR", dir.path()};
    const std::string runtime = dir.file("runtime");
    std::string socket;
    std::unique_ptr<SettingsStore> store;
    NullSound sound;
    std::unique_ptr<Application> app;
    std::vector<std::unique_ptr<QProcess>> processes;
};

} // namespace

TEST_F(InstanceTest, ASecondStartAddsItsFilesAsTabsAtTheirLinesAndEnds)
{
    const std::string first = logFile("first.log", numbered(10, "first"));
    logFile("g.log", numbered(1000, "g"));
    logFile("h.log", numbered(1000, "h"));
    ASSERT_TRUE(app->initInstance({first}));
    ASSERT_NE(app->instanceServer(), nullptr);
    EXPECT_TRUE(app->instanceServer()->isListening());
    EXPECT_EQ(socket, runtime + "/quillstream-none.socket");
    struct stat st {};
    ASSERT_EQ(::lstat(socket.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << "nobody else may connect";
    app->mainFrame()->showMinimized();

    // Relative names, from the second start's folder; g.log at 300, h.log at 40.
    expectHandedOver(start({"+300", "g.log", "+40", "h.log"}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->mainFrame()->tabCount() == 3; }, 10000));
    LogTab* g = tabOf(dir.file("g.log"));
    LogTab* h = tabOf(dir.file("h.log"));
    ASSERT_NE(g, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(app->mainFrame()->currentTab(), g) << "the first file named in front";
    EXPECT_EQ(g->document()->selection().startLine, 299u);
    EXPECT_EQ(g->view()->firstVisibleLine(), 298u);
    EXPECT_EQ(h->document()->selection().startLine, 39u);
    EXPECT_EQ(h->view()->firstVisibleLine(), 38u);
    EXPECT_FALSE(app->mainFrame()->isMinimized()) << "brought to the front";

    // A file open already comes to the front, moved to its line, not opened twice.
    expectHandedOver(start({"+5", first}), 1);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return app->mainFrame()->currentTab() == tabOf(first); }, 10000));
    EXPECT_EQ(app->mainFrame()->tabCount(), 3);
    EXPECT_EQ(tabOf(first)->document()->selection().startLine, 4u);
}

TEST_F(InstanceTest, ASecondStartsMergeOpensOneMergedTabInTheRunningWindow)
{
    const std::string first = logFile("first.log", numbered(10, "first"));
    logFile("a.log", "2026-12-07 12:00:01 a one\n2026-12-07 12:00:03 a two\n");
    logFile("b.log", "2026-12-07 12:00:02 b one\n");
    ASSERT_TRUE(app->initInstance({first}));
    expectHandedOver(start({"--merge", "a.log", "b.log"}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->mainFrame()->tabCount() == 2; }, 10000));
    MergedPart* merged = app->mainFrame()->currentTab()->merged();
    ASSERT_NE(merged, nullptr) << "the merged tab in front";
    EXPECT_EQ(merged->paths(),
              (std::vector<std::u16string>{quill::fileNameToUtf16(dir.file("a.log")),
                                           quill::fileNameToUtf16(dir.file("b.log"))}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return merged->rows()->rowCount() == 3; }, 10000));
    EXPECT_EQ(merged->rows()->rowText(1), u"2026-12-07 12:00:02 b one");
}

TEST_F(InstanceTest, ASecondStartsTimeShowsItsFileAtThatTimeInTheRunningWindow)
{
    // Line i at 12:00:00 + i seconds.
    std::string lines;
    for (int i = 0; i < 600; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "2026-12-07 12:%02d:%02d.000 INFO row %d\n", i / 60,
                      i % 60, i);
        lines += text;
    }
    const std::string timed = logFile("timed.log", lines);
    const std::string first = logFile("first.log", numbered(10, "first"));
    ASSERT_TRUE(app->initInstance({first}));
    expectHandedOver(start({"--at", "2026-12-07 12:05:09", "timed.log"}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tabOf(timed) != nullptr; }, 10000));
    LogTab* tab = tabOf(timed);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return tab->document()->selection().startLine == 309u; }, 10000))
        << tab->document()->selection().startLine;
    EXPECT_FALSE(tab->view()->isFollowing());

    // Open already, in front: moved to the time before the last line's.
    expectHandedOver(start({"--at=-100s", timed}), 1);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return tab->document()->selection().startLine == 499u; }, 10000))
        << tab->document()->selection().startLine;
}

TEST_F(InstanceTest, StandardInputAndTheCommandTravelWithTheRequest)
{
    ASSERT_TRUE(app->initInstance({}));
    // Standard input is read by the window, from the pipe the second start was given; the
    // second start itself never reads it.
    QProcess& piped = start({"-"});
    piped.write("piped one\npiped two\n");
    piped.waitForBytesWritten(5000);
    piped.closeWriteChannel();
    expectHandedOver(piped, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            LogDocument* document = app->document();
            return document != nullptr && document->source() != nullptr &&
                   document->source()->kind() == SourceKind::StandardInput &&
                   document->lineCount() == 2;
        },
        10000));
    EXPECT_EQ(app->document()->line(1), u"piped two");

    // The command runs in the second start's folder: its relative name is found there.
    std::filesystem::create_directories(dir.file("elsewhere"));
    logFile("elsewhere/rel.txt", "r1\nr2\nr3\n");
    expectHandedOver(start({"--command", "cat rel.txt"}, dir.file("elsewhere")), 1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            LogDocument* document = app->document();
            return document->source() != nullptr &&
                   document->source()->kind() == SourceKind::Command && document->lineCount() == 3;
        },
        10000));
    EXPECT_EQ(app->document()->line(2), u"r3");
    EXPECT_EQ(app->mainFrame()->tabCount(), 2);
}

TEST_F(InstanceTest, AStaleSocketIsReplacedAndHostileBytesAreDropped)
{
    {
        // Left by a copy that crashed: bound, nobody listening.
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(stale);
    }
    ASSERT_TRUE(app->initInstance({}));
    ASSERT_NE(app->instanceServer(), nullptr);
    EXPECT_TRUE(app->instanceServer()->isListening());

    std::string tooLong = "QSIR\x01";
    tooLong += std::string("\x7f\xff\xff\xff", 4);
    for (const std::string& garbage :
         {std::string("GET / HTTP/1.0\r\n\r\n"), tooLong,
          quill::encodeRequest({{{"/a", std::nullopt}}, false, std::nullopt, {}, std::nullopt}) +
              "extra"}) {
        const int sock = connectTo(socket);
        ASSERT_EQ(::send(sock, garbage.data(), garbage.size(), MSG_NOSIGNAL),
                  ssize_t(garbage.size()));
        char answer = 0;
        ssize_t got = -1;
        // The window closes the connection without an answer.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (got = ::recv(sock, &answer, 1, MSG_DONTWAIT)) >= 0; }, 10000));
        EXPECT_EQ(got, 0) << garbage;
        ::close(sock);
    }
    EXPECT_EQ(app->mainFrame()->tabCount(), 1);

    // Still listening: a good request after them opens.
    const std::string file = logFile("after.log", "after\n");
    quill::InstanceRequest request;
    request.files.push_back({file, std::nullopt});
    quill::SendResult result = quill::SendResult::Failed;
    std::thread second(
        [&] { result = quill::sendRequest(socket, quill::encodeRequest(request), -1, 10000); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return tabOf(file) != nullptr; }, 10000));
    second.join();
    EXPECT_EQ(result, quill::SendResult::Taken);
}

TEST_F(InstanceTest, NewWindowRunsAloneAndStartsAtOnceMakeOneWindow)
{
    ASSERT_TRUE(app->initInstance({}));
    const std::string own = logFile("own.log", "own\n");
    QProcess& alone = start({"--new-window", own});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return trace(0).find("Opened " + own) != std::string::npos; }, 20000))
        << trace(0);
    EXPECT_EQ(alone.state(), QProcess::Running) << "a window of its own";
    EXPECT_EQ(app->mainFrame()->tabCount(), 1);
    EXPECT_EQ(trace(0).find("Listening"), std::string::npos) << "the socket stays ours";
    alone.kill();
    alone.waitForFinished(5000);

    // Three starts at once on a display without a window: one window, the others hand over.
    const std::string otherRuntime = dir.file("runtime2");
    ASSERT_EQ(::mkdir(otherRuntime.c_str(), 0700), 0);
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(logFile("race" + std::to_string(i) + ".log", "x\n"));
        start({files.back()}, {}, otherRuntime);
    }
    std::size_t window = 0;
    int listening = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            int ended = 0;
            listening = 0;
            for (std::size_t i = 1; i <= 3; ++i) {
                ended += processes[i]->state() == QProcess::NotRunning ? 1 : 0;
                if (trace(i).find("Listening for later starts") != std::string::npos) {
                    ++listening;
                    window = i;
                }
            }
            return ended == 2 && listening == 1;
        },
        30000));
    for (std::size_t i = 1; i <= 3; ++i) {
        if (i != window) {
            expectHandedOver(*processes[i], i);
        }
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::string text = trace(window);
            return std::all_of(files.begin(), files.end(), [&](const std::string& file) {
                return text.find("Opened " + file) != std::string::npos;
            });
        },
        20000))
        << trace(window);
    EXPECT_EQ(app->mainFrame()->tabCount(), 1) << "another runtime folder is never reached";
}

TEST_F(InstanceTest, PlusNPlacesEachFileAndATrailingOneTheLast)
{
    const std::string g = logFile("g.log", numbered(1000, "g"));
    const std::string h = logFile("h.log", numbered(1000, "h"));
    const std::string k = logFile("k.log", numbered(1000, "k"));
    app->setInstanceSocket({});
    ASSERT_TRUE(app->initInstance({"+300", g, h, "--line=40", k, "+7"}));
    ASSERT_EQ(app->mainFrame()->tabCount(), 3);
    EXPECT_EQ(app->mainFrame()->currentTab(), tabOf(g));
    EXPECT_EQ(tabOf(g)->document()->selection().startLine, 299u);
    EXPECT_EQ(tabOf(g)->view()->firstVisibleLine(), 298u);
    EXPECT_TRUE(tabOf(h)->view()->isFollowing()) << "no +N: its end";
    EXPECT_EQ(tabOf(k)->document()->selection().startLine, 6u) << "the trailing +7 counts";
    EXPECT_EQ(tabOf(k)->view()->firstVisibleLine(), 5u);
}

TEST_F(InstanceTest, FileOpenWithSeveralNamesOpensEachInATab)
{
    app->setInstanceSocket({});
    ASSERT_TRUE(app->initInstance({}));
    logFile("one.log", "one\n");
    logFile("two.log", "two\n");
    logFile("three.log", "three\n");
    store->setString(Setting::LogFileExt, u"*.log");
    // The real dialog: two names typed into its name box, then Enter.
    // The names are typed again for as long as the dialog stays open: on a busy machine the
    // dialog may not yet take them while its folder is still being read.
    bool typed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        if (!typed) {
            dialog->setDirectory(QString::fromStdString(dir.path()));
        }
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr) {
            return;
        }
        typed = true;
        name->setFocus();
        name->clear();
        QTest::keyClicks(name, QStringLiteral("\"three.log\" \"one.log\""));
        QTest::keyClick(name, Qt::Key_Return);
    });
    poll.start(50);
    app->onFileOpen();
    poll.stop();
    ASSERT_TRUE(typed);
    ASSERT_EQ(app->mainFrame()->tabCount(), 2);
    EXPECT_NE(tabOf(dir.file("one.log")), nullptr);
    EXPECT_EQ(app->mainFrame()->currentTab(), tabOf(dir.file("three.log")))
        << "the first chosen in front";
}
