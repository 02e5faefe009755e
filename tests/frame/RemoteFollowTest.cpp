// File > Follow Remote File... end to end: a real sshd on 127.0.0.1 (a free port) with a
// host key, a user key and authorized_keys made here, and the system's ssh pointed at its
// own configuration (-F) through the option only tests give. The box is filled with real
// key events; a hostile path reaches the remote tail as one word; the file grows and
// rotates; closing the tab ends ssh; a wrong key, an unknown or changed host key, a closed
// port and a missing file each get their own message. Several files, remote and local,
// typed into File > Follow Remote Files Merged... merge by time in one tab.

#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"
#include "frame/SourceControl.h"
#include "resources/LanguageResources.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/LogView.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using quilltest::TempDir;
using quilltest::waitFor;

namespace {

constexpr char Sshd[] = "/usr/sbin/sshd";
// A login shell's start files may be slow (a version manager in .bashrc): the connection
// is given its time.
constexpr auto Patience = std::chrono::seconds(40);

class NoOwner : public FrameOwner {
  public:
    bool openDocumentFile(const std::u16string&) override { return false; }
    void onFileNew() override {}
    void onFileOpen() override {}
    void onAppAbout() override {}
    void onOpenRecentFile(int) override {}
    std::vector<std::u16string> recentFiles() const override { return {}; }
};

// Runs a program (no shell) with its output and error into log; its exit status.
int run(const std::vector<std::string>& words, const std::string& log)
{
    std::vector<char*> argv;
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return 0;
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// This process's children named ssh (the ends of the sources that ran it).
int sshChildren()
{
    int count = 0;
    DIR* proc = ::opendir("/proc");
    while (const dirent* item = proc != nullptr ? ::readdir(proc) : nullptr) {
        const std::string stat = "/proc/" + std::string(item->d_name) + "/stat";
        FILE* file = std::fopen(stat.c_str(), "r");
        if (file == nullptr) {
            continue;
        }
        int pid = 0;
        char name[64] = {};
        char state = 0;
        int parent = 0;
        if (std::fscanf(file, "%d (%63[^)]) %c %d", &pid, name, &state, &parent) == 4 &&
            parent == ::getpid() && std::string(name) == "ssh" && state != 'Z') {
            ++count;
        }
        std::fclose(file);
    }
    if (proc != nullptr) {
        ::closedir(proc);
    }
    return count;
}

std::string readText(const std::string& path)
{
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}

} // namespace

class RemoteFollowTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (::access(Sshd, X_OK) != 0) {
            GTEST_SKIP() << Sshd << " is missing: install the Debian package openssh-server "
                         << "(scripts/bootstrap does)";
        }
        ASSERT_TRUE(package.loaded);
        const std::string log = dir.file("keygen.log");
        for (const char* key : {"host_key", "other_host_key", "user_key", "stranger_key"}) {
            ASSERT_EQ(
                run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", key, "-f", dir.file(key)},
                    log),
                0)
                << readText(log);
        }
        quilltest::writeFile(dir.file("authorized_keys"), readText(dir.file("user_key.pub")));
        port = freePort();
        ASSERT_NE(port, 0);
        const std::string sshdConfig = dir.file("sshd_config");
        quilltest::writeFile(sshdConfig, "Port " + std::to_string(port) +
                                             "\n"
                                             "ListenAddress 127.0.0.1\n"
                                             "HostKey " +
                                             dir.file("host_key") +
                                             "\n"
                                             "AuthorizedKeysFile " +
                                             dir.file("authorized_keys") +
                                             "\n"
                                             "PidFile none\n"
                                             "StrictModes no\n"
                                             "UsePAM no\n"
                                             "PasswordAuthentication no\n"
                                             "KbdInteractiveAuthentication no\n"
                                             "PermitRootLogin prohibit-password\n");
        // sshd run by root keeps its unprivileged part in this folder.
        if (::geteuid() == 0) {
            ::mkdir("/run/sshd", 0755);
        }
        startSshd(sshdConfig);

        const std::string known = "[127.0.0.1]:" + std::to_string(port) + " ";
        quilltest::writeFile(dir.file("known_hosts"), known + readText(dir.file("host_key.pub")));
        quilltest::writeFile(dir.file("changed_hosts"),
                             known + readText(dir.file("other_host_key.pub")));
        quilltest::writeFile(dir.file("no_hosts"), "");
        good = clientConfig("good", "user_key", "known_hosts");
        stranger = clientConfig("stranger", "stranger_key", "known_hosts");
        unknownKey = clientConfig("unknown", "user_key", "no_hosts");
        changedKey = clientConfig("changed", "user_key", "changed_hosts");

        frame = std::make_unique<MainFrame>(&owner, &sound);
        frame->setDocumentSetup([](LogDocument& document) {
            document.setWatchTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20),
                                     std::chrono::milliseconds(10)});
        });
        frame->activeView()->initialUpdate();
        frame->setMessageHandler([this](const QString& text) { messages.append(text); });
        sources()->setSpoolFolder(dir.file("spool"));
        sources()->setRemoteOptions({"-F", good});
        // A file of its own in the first tab: each remote file gets a tab that closes.
        quilltest::writeFile(dir.file("local.log"), "local\n");
        ASSERT_TRUE(document()->openDocument(quilltest::u16(dir.file("local.log"))));
        frame->show();
    }

    void TearDown() override
    {
        frame.reset();
        LogSource::waitForEndings();
        if (sshd > 0) {
            ::kill(-sshd, SIGTERM);
            int status = 0;
            ::waitpid(sshd, &status, 0);
        }
    }

    void startSshd(const std::string& config)
    {
        const std::string log = dir.file("sshd.log");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        const char* argv[] = {Sshd, "-D", "-e", "-f", config.c_str(), nullptr};
        const int spawned = ::posix_spawn(&sshd, Sshd, &actions, &attributes,
                                          const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ASSERT_EQ(spawned, 0);
        const bool listening = waitFor(
            [&] {
                int status = 0;
                if (::waitpid(sshd, &status, WNOHANG) == sshd) {
                    sshd = 0;
                    return true;
                }
                return accepts(port);
            },
            std::chrono::seconds(10));
        ASSERT_TRUE(listening && sshd > 0) << "sshd did not start: " << readText(log);
    }

    std::string clientConfig(const std::string& name, const std::string& key,
                             const std::string& knownHosts)
    {
        const std::string path = dir.file(name + ".ssh_config");
        quilltest::writeFile(path, "Host *\n"
                                   "  IdentityFile " +
                                       dir.file(key) +
                                       "\n"
                                       "  IdentitiesOnly yes\n"
                                       "  IdentityAgent none\n"
                                       "  UserKnownHostsFile " +
                                       dir.file(knownHosts) +
                                       "\n"
                                       "  GlobalKnownHostsFile /dev/null\n"
                                       "  ControlMaster no\n");
        return path;
    }

    // File > Follow Remote File..., the box filled with key events and sent with Return.
    void followThroughTheBox(const QString& host, const QString& portText, const QString& path)
    {
        bool filled = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->objectName() != QStringLiteral("followRemoteDialog")) {
                ADD_FAILURE() << "no Follow Remote File box";
                if (dialog != nullptr) {
                    dialog->reject();
                }
                return;
            }
            const std::pair<const char*, QString> fields[] = {
                {"remoteHost", host}, {"remotePort", portText}, {"remotePath", path}};
            for (const auto& [name, text] : fields) {
                auto* edit = dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
                ASSERT_NE(edit, nullptr) << name;
                edit->setFocus();
                QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClick(edit, Qt::Key_Delete);
                QTest::keyClicks(edit, text);
            }
            filled = true;
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        });
        frame->action(CommandId::FollowRemote)->trigger();
        EXPECT_TRUE(filled);
    }

    SourceControl* sources() const { return frame->sources(); }
    LogDocument* document() const { return frame->activeDocument(); }
    std::u16string lastLine() const
    {
        const LineNumber count = document()->lineCount();
        return count == 0 ? std::u16string() : document()->line(count - 1);
    }
    QString portText() const { return QString::number(port); }
    // The message that came last, waited for.
    QString nextMessage(int before)
    {
        waitFor([&] { return messages.size() > before; }, Patience);
        return messages.size() > before ? messages.back() : QString();
    }

    quilltest::EnglishPackage package;
    TempDir& dir = package.dir;
    quilltest::NullSound sound;
    NoOwner owner;
    std::unique_ptr<MainFrame> frame;
    QStringList messages;
    pid_t sshd = 0;
    int port = 0;
    std::string good;
    std::string stranger;
    std::string unknownKey;
    std::string changedKey;
};

TEST_F(RemoteFollowTest, AGrowingFileIsFollowedAcrossRotationAndItsSshEndsWithItsTab)
{
    // What the box refuses never reaches ssh.
    followThroughTheBox(QStringLiteral("-oProxyCommand=touch pwned"), {}, QStringLiteral("/a"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.back().startsWith(QStringLiteral("The remote file cannot be followed")))
        << messages.back().toStdString();
    EXPECT_EQ(document()->source(), nullptr);
    messages.clear();

    // Spaces, quotes, a command substitution and a semicolon: one word for the remote tail.
    const std::string folder = dir.file("it's a $(touch pwned); folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string log = folder + "/-app.log";
    quilltest::writeFile(log, "first\nsecond\n");
    const QString path = QString::fromStdString(log);
    followThroughTheBox(QStringLiteral("127.0.0.1"), portText(), path);
    ASSERT_NE(document()->source(), nullptr) << messages.join(u'|').toStdString();
    EXPECT_EQ(document()->source()->kind(), SourceKind::Remote);
    EXPECT_EQ(frame->currentTab()->label(), QStringLiteral("127.0.0.1:") + path);
    EXPECT_TRUE(waitFor([&] { return document()->lineCount() >= 2; }, Patience))
        << messages.join(u'|').toStdString() << readText(dir.file("sshd.log"));
    EXPECT_EQ(document()->line(0), u"first");

    quilltest::appendFile(log, "third\n");
    EXPECT_TRUE(waitFor([&] { return lastLine() == u"third"; }, Patience));

    // Rotated: the old file moves away, a new one takes its name and is read from its start.
    ASSERT_EQ(::rename(log.c_str(), (log + ".1").c_str()), 0);
    quilltest::writeFile(log, "after rotation\n");
    EXPECT_TRUE(waitFor([&] { return lastLine() == u"after rotation"; }, Patience))
        << "last: " << QString::fromStdU16String(lastLine()).toStdString();
    EXPECT_FALSE(::access(dir.file("pwned").c_str(), F_OK) == 0 ||
                 ::access((folder + "/pwned").c_str(), F_OK) == 0 || ::access("pwned", F_OK) == 0)
        << "the path was run as a command";

    const pid_t ssh = document()->source()->processId();
    ASSERT_GT(ssh, 0);
    EXPECT_EQ(sshChildren(), 1);
    frame->closeTab(frame->currentTab());
    EXPECT_TRUE(waitFor([&] { return ::kill(ssh, 0) != 0; }, std::chrono::seconds(10)))
        << "ssh outlived its tab";
    EXPECT_EQ(sshChildren(), 0);
    // A rotation's notes on tail's standard error are no failure.
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

TEST_F(RemoteFollowTest, EachReasonSshFailsForIsToldInPlainWords)
{
    struct Case {
        const std::string* config;
        int port;
        std::string path;
        QString reason;
    };
    const std::string present = dir.file("present.log");
    quilltest::writeFile(present, "there\n");
    const int closed = freePort();
    const std::vector<Case> cases = {
        {&stranger, port, present, QStringLiteral("accepted none of your keys")},
        {&unknownKey, port, present, QStringLiteral("key is not known")},
        {&changedKey, port, present, QStringLiteral("not the one known for it")},
        {&good, closed, present, QStringLiteral("refuses the connection")},
        {&good, port, dir.file("missing.log"), QStringLiteral("does not exist on that host")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(*c.config + " " + std::to_string(c.port) + " " + c.path);
        sources()->setRemoteOptions({"-F", *c.config});
        const int before = messages.size();
        followThroughTheBox(QStringLiteral("127.0.0.1"), QString::number(c.port),
                            QString::fromStdString(c.path));
        const QString message = nextMessage(before);
        EXPECT_TRUE(message.contains(c.reason)) << message.toStdString();
        // ssh's own line is shown too, as it wrote it.
        EXPECT_TRUE(message.contains(QStringLiteral("ssh said: "))) << message.toStdString();
        EXPECT_EQ(messages.size(), before + 1) << "told once";
        QTest::qWait(3 * SourceControl::PollMs);
        EXPECT_EQ(messages.size(), before + 1) << "told once";
        EXPECT_EQ(document()->lineCount(), 0u) << "ssh's complaints are no lines of the log";
        frame->closeTab(frame->currentTab());
    }
    EXPECT_TRUE(waitFor([] { return sshChildren() == 0; }, std::chrono::seconds(10)));
}

// A failure no line of ssh's explains (here its configuration, which it refuses) is still
// told, with ssh's last line as it wrote it and its exit status.
TEST_F(RemoteFollowTest, AnUnrecognisedFailureShowsSshsLastLineAndItsExitStatus)
{
    const std::string broken = dir.file("broken.ssh_config");
    quilltest::writeFile(broken, readText(good) + "  NoSuchOptionAtAll yes\n");
    sources()->setRemoteOptions({"-F", broken});
    const std::string present = dir.file("present.log");
    quilltest::writeFile(present, "there\n");
    const int before = messages.size();
    followThroughTheBox(QStringLiteral("127.0.0.1"), portText(), QString::fromStdString(present));
    const QString message = nextMessage(before);
    EXPECT_TRUE(message.contains(QStringLiteral("ssh ended with exit status 255")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("ssh said: ") + QString::fromStdString(broken) +
                                 QStringLiteral(": terminating, 1 bad configuration options")))
        << message.toStdString();
    EXPECT_EQ(document()->lineCount(), 0u);
}

// ssh made quiet and sent to a port where nothing listens ends failing without a word: the
// message gives its exit status and no empty "ssh said" line.
TEST_F(RemoteFollowTest, ASilentFailureIsToldByItsExitStatusAlone)
{
    sources()->setRemoteOptions({"-F", good, "-o", "LogLevel=QUIET"});
    const int before = messages.size();
    followThroughTheBox(QStringLiteral("127.0.0.1"), QStringLiteral("1"),
                        QString::fromStdString(dir.file("any.log")));
    const QString message = nextMessage(before);
    EXPECT_TRUE(message.contains(QStringLiteral("ssh ended with exit status 255")))
        << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("ssh said"))) << message.toStdString();
}

// A host that stops answering after lines came: ssh's keep-alive gives up, and the message
// and the status bar say that the connection was lost; the lines stay.
TEST_F(RemoteFollowTest, AHostThatStopsAnsweringIsToldAsALostConnection)
{
    // The test's own values come first, so ssh takes them over the program's 15 s x 3.
    sources()->setRemoteOptions(
        {"-F", good, "-o", "ServerAliveInterval=1", "-o", "ServerAliveCountMax=2"});
    const std::string log = dir.file("alive.log");
    quilltest::writeFile(log, "before\n");
    followThroughTheBox(QStringLiteral("127.0.0.1"), portText(), QString::fromStdString(log));
    ASSERT_TRUE(waitFor([&] { return lastLine() == u"before"; }, Patience))
        << messages.join(u'|').toStdString();
    // Everything the listening sshd started for this connection stops, as a machine that
    // hangs or a cable that is pulled: nothing answers, nothing closes.
    std::vector<pid_t> session;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        pid_t pid = std::stoi(name);
        for (int depth = 0; depth < 8 && pid > 1; ++depth) {
            const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos) {
                break;
            }
            pid = static_cast<pid_t>(std::atoi(stat.c_str() + close + 4));
            if (pid == sshd) {
                session.push_back(std::stoi(name));
                break;
            }
        }
    }
    ASSERT_FALSE(session.empty());
    for (pid_t pid : session) {
        ::kill(pid, SIGSTOP);
    }
    const int before = messages.size();
    const QString message = nextMessage(before);
    for (pid_t pid : session) {
        ::kill(pid, SIGKILL);
        ::kill(pid, SIGCONT);
    }
    EXPECT_TRUE(message.contains(QStringLiteral("connection was lost"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("ssh said: Timeout, server")))
        << message.toStdString();
    EXPECT_TRUE(waitFor([&] {
        return sources()->label()->text().startsWith(QStringLiteral("Connection lost"));
    })) << sources()->label()->text().toStdString();
    EXPECT_EQ(lastLine(), u"before");
}

// Two files on "two machines" (aliases of the test's sshd), a local one, one on a host that
// refuses and a line that names no file, typed into the box: the lines of the three merge
// by time, new ones join, the refused host and the line are each named, and closing the tab
// ends every ssh.
TEST_F(RemoteFollowTest, SeveralRemoteFilesMergeByTimeAndAFailingHostIsNamed)
{
    const std::string aliases = dir.file("aliases.ssh_config");
    quilltest::writeFile(aliases, "Host east west\n  HostName 127.0.0.1\n  Port " +
                                      std::to_string(port) + "\n" + readText(good));
    sources()->setRemoteOptions({"-F", aliases});
    const std::string east = dir.file("east.log");
    const std::string west = dir.file("west.log");
    const std::string here = dir.file("here.log");
    quilltest::writeFile(east, "2026-12-11 10:00:01 east one\n2026-12-11 10:00:04 east two\n");
    quilltest::writeFile(west, "2026-12-11 10:00:02 west one\n2026-12-11 10:00:05 west two\n");
    quilltest::writeFile(here, "2026-12-11 10:00:03 here one\n");
    const int closed = freePort();
    const QString typed = QStringLiteral("east:%1\n  %5@west:%2  \n\nssh://127.0.0.1:%3%1\n"
                                         "app.log\n%4\n")
                              .arg(QString::fromStdString(east), QString::fromStdString(west),
                                   QString::number(closed), QString::fromStdString(here),
                                   QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name));
    const int tabs = frame->tabCount();
    bool filled = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr ||
            dialog->objectName() != QStringLiteral("followRemoteMergedDialog")) {
            ADD_FAILURE() << "no Follow Remote Files Merged box";
            if (dialog != nullptr) {
                dialog->reject();
            }
            return;
        }
        auto* edit = dialog->findChild<QPlainTextEdit*>(QStringLiteral("remoteEntries"));
        ASSERT_NE(edit, nullptr);
        for (const QString& line : typed.split(u'\n')) {
            QTest::keyClicks(edit, line);
            QTest::keyClick(edit, Qt::Key_Return);
        }
        const auto buttons = dialog->findChildren<QPushButton*>();
        for (QPushButton* button : buttons) {
            if (button->text().remove(u'&') == QStringLiteral("OK")) {
                filled = true;
                QTest::mouseClick(button, Qt::LeftButton);
            }
        }
    });
    frame->action(CommandId::FollowRemoteMerged)->trigger();
    ASSERT_TRUE(filled);
    ASSERT_EQ(frame->tabCount(), tabs + 1);
    MergedPart* merged = frame->currentTab()->merged();
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->label(),
              QStringLiteral("east:east.log + west:west.log + 127.0.0.1:east.log + here.log"));
    ASSERT_GE(messages.size(), 1);
    EXPECT_TRUE(messages.front().contains(QStringLiteral("app.log: no host is given")))
        << messages.front().toStdString();
    const auto rowsRead = [&] {
        QStringList rows;
        for (std::size_t row = 0; row < merged->rows()->rowCount(); ++row) {
            rows.append(QString::fromStdU16String(std::u16string(merged->rows()->rowText(row))));
        }
        return rows.join(u'|');
    };
    const QString expected = QStringLiteral(
        "2026-12-11 10:00:01 east one|2026-12-11 10:00:02 west one|2026-12-11 10:00:03 here one|"
        "2026-12-11 10:00:04 east two|2026-12-11 10:00:05 west two");
    EXPECT_TRUE(waitFor([&] { return rowsRead() == expected; }, Patience))
        << rowsRead().toStdString() << " | " << messages.join(u'|').toStdString();
    // The refusing host is named once, with ssh's reason; the others merge on.
    EXPECT_TRUE(waitFor([&] { return messages.size() >= 2; }, Patience));
    ASSERT_EQ(messages.size(), 2) << messages.join(u'|').toStdString();
    EXPECT_TRUE(
        messages.back().startsWith(QStringLiteral("127.0.0.1:") + QString::fromStdString(east)))
        << messages.back().toStdString();
    EXPECT_TRUE(messages.back().contains(QStringLiteral("refuses the connection")))
        << messages.back().toStdString();

    // A new line of east older than west's last takes its place by time.
    quilltest::appendFile(east, "2026-12-11 10:00:04 east three\n");
    EXPECT_TRUE(waitFor(
        [&] {
            return rowsRead() ==
                   QStringLiteral("2026-12-11 10:00:01 east one|2026-12-11 10:00:02 west one|"
                                  "2026-12-11 10:00:03 here one|2026-12-11 10:00:04 east two|"
                                  "2026-12-11 10:00:04 east three|2026-12-11 10:00:05 west two");
        },
        Patience))
        << rowsRead().toStdString();
    EXPECT_EQ(sshChildren(), 2);

    // West's tail ends on the other side long after the start: that failure is told too.
    std::string westTail;
    for (const std::string& word : {std::string("tail"), std::string("-F"), std::string("-n"),
                                    std::string("+1"), std::string("--"), west}) {
        westTail += word + '\0';
    }
    pid_t tail = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            readText(entry.path().string() + "/cmdline") == westTail) {
            tail = std::stoi(name);
        }
    }
    ASSERT_GT(tail, 0) << "no remote tail of " << west;
    ASSERT_EQ(::kill(tail, SIGTERM), 0);
    EXPECT_TRUE(waitFor([&] { return messages.size() >= 3; }, Patience));
    ASSERT_EQ(messages.size(), 3) << messages.join(u'|').toStdString();
    EXPECT_TRUE(messages.back().contains(QStringLiteral("@west:") + QString::fromStdString(west)))
        << messages.back().toStdString();
    frame->closeTab(frame->currentTab());
    EXPECT_TRUE(waitFor([] { return sshChildren() == 0; }, std::chrono::seconds(10)))
        << "ssh outlived its tab";
    EXPECT_EQ(messages.size(), 3) << messages.join(u'|').toStdString();
}
