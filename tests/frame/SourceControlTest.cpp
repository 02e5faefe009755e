// The sources as the window offers them, on the real frame with the English package: a real
// pipe followed to its end, File > Follow Command... through the menu's action (a second
// command in a tab of its own, ended when its tab closes), a command that fails or does not
// exist, a line that cannot be split, and compressed files that are shown as decompressed
// copies (whole and damaged).

#include "frame/SourceControl.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "resources/LanguageResources.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using quilltest::TempDir;
using quilltest::u16;

namespace {

class NoOwner : public FrameOwner {
  public:
    bool openDocumentFile(const std::u16string&) override { return false; }
    void onFileNew() override {}
    void onFileOpen() override {}
    void onAppAbout() override {}
    void onOpenRecentFile(int) override {}
    std::vector<std::u16string> recentFiles() const override { return {}; }
};

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

class SourceControlTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        frame = std::make_unique<MainFrame>(&owner, &sound);
        frame->setDocumentSetup([](LogDocument& document) {
            document.setWatchTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20),
                                     std::chrono::milliseconds(10)});
        });
        frame->activeView()->initialUpdate();
        frame->setMessageHandler([this](const QString& text) { messages.append(text); });
        sources()->setSpoolFolder(dir.file("spool"));
        sources()->setCommandPrompt([this](const QStringList& history) {
            prompted.append(history);
            return answer;
        });
        frame->show();
    }
    void TearDown() override { frame.reset(); }

    SourceControl* sources() const { return frame->sources(); }
    QString status() const
    {
        return sources()->label()->isVisible() ? sources()->label()->text() : QString();
    }
    QString string(int id) const { return LanguageResources::current().string(id); }
    // The front tab's document.
    LogDocument* document() const { return frame->activeDocument(); }
    std::u16string line(LineNumber index) { return document()->line(index); }

    quilltest::EnglishPackage package;
    TempDir& dir = package.dir;
    std::unique_ptr<SettingsStore>& store = package.store;
    quilltest::NullSound sound;
    NoOwner owner;
    std::unique_ptr<MainFrame> frame;
    QStringList messages;
    QList<QStringList> prompted;
    QString answer;
};

TEST_F(SourceControlTest, FollowsARealPipeToItsEndAndRemovesTheSpoolOnClose)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_TRUE(sources()->followStandardInput(fds[0]));
    ::close(fds[0]);
    ASSERT_NE(document()->source(), nullptr);
    const std::string spool = document()->source()->spoolPath();
    EXPECT_TRUE(frame->windowTitle().endsWith(QStringLiteral("  -  standard input")))
        << frame->windowTitle().toStdString();
    EXPECT_EQ(frame->pane(1)->text(), QStringLiteral("standard input"));
    EXPECT_TRUE(waitFor([&] { return status() == string(426); }));

    ASSERT_EQ(::write(fds[1], "ERROR first\nsecond\n", 19), 19);
    EXPECT_TRUE(waitFor([&] { return document()->lineCount() >= 2 && line(1) == u"second"; }));
    EXPECT_EQ(line(0), u"ERROR first");
    ASSERT_EQ(::write(fds[1], "third\n", 6), 6);
    ::close(fds[1]);
    EXPECT_TRUE(waitFor([&] { return status() == QStringLiteral("End of input"); }));
    EXPECT_TRUE(waitFor([&] { return line(2) == u"third"; }));
    EXPECT_FALSE(frame->pausePane()->isVisible());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();

    frame->close();
    EXPECT_EQ(document()->source(), nullptr);
    EXPECT_FALSE(exists(spool));
}

// A pipe that brings more lines than the memory figure lets the index hold (a figure of
// 2 MiB: a bound of 1 MiB, about 900,000 lines): reading stops, the status bar and one
// message say why with the line count, and the lines so far are all there.
TEST_F(SourceControlTest, APipePastTheIndexBoundStopsAndSaysWhyWithTheLinesKept)
{
    frame->setDocumentSetup([](LogDocument& document) {
        document.setWatchTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20),
                                 std::chrono::milliseconds(10)});
        document.setAvailableMemory([] { return std::uint64_t(2) << 20; });
    });
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    ASSERT_TRUE(sources()->followStandardInput(fds[0]));
    std::size_t written = 0;
    std::string pending;
    auto lineText = [](std::size_t i) { return "line " + std::to_string(i * 7919 % 100003); };
    int idle = 0;
    while (idle < 100) {
        while (pending.size() < 65536) {
            pending += lineText(written++) + '\n';
        }
        const ssize_t put = ::write(fds[1], pending.data(), pending.size());
        if (put > 0) {
            pending.erase(0, std::size_t(put));
            idle = 0;
        } else {
            ++idle;
            QTest::qWait(10); // the window's loop goes on meanwhile
        }
        ASSERT_LT(written, 20000000u) << "the pipe was read on and on";
    }
    // The reading that stopped, then why.
    const QString prefix =
        QStringLiteral("Standard input is no longer read - Indexing stopped at ");
    ASSERT_TRUE(waitFor([&] { return status().startsWith(prefix); })) << status().toStdString();
    const LineNumber kept = document()->lineCount();
    const QString stop = QStringLiteral("Indexing stopped at %1 lines: the line index reached its "
                                        "share of the memory available (1 MB)")
                             .arg(kept);
    EXPECT_EQ(status(), QStringLiteral("Standard input is no longer read - ") + stop);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    QTest::qWait(3 * SourceControl::PollMs);
    EXPECT_EQ(messages,
              QStringList{stop + QStringLiteral(". ") + string(438) + QStringLiteral(" ") +
                          string(439) + QStringLiteral(" ") + string(440)});
    EXPECT_GT(kept, 800000u);
    EXPECT_LT(kept, written);
    for (LineNumber i = 0; i < kept; i += 1 + i % 97) {
        ASSERT_EQ(line(i), u16(lineText(i))) << "line " << i;
    }
    EXPECT_EQ(line(kept - 1), u16(lineText(kept - 1)));
    frame->close();
    ::close(fds[1]);
    ::close(fds[0]);
}

TEST_F(SourceControlTest, FollowCommandFromTheMenuShowsItsExitStatusAndKeepsItInTheHistory)
{
    answer = QStringLiteral("sh -c 'echo \"from the command\"; exit 4'");
    frame->action(Command::FollowCommand)->trigger();
    ASSERT_EQ(prompted.size(), 1);
    EXPECT_TRUE(prompted.front().isEmpty());
    EXPECT_TRUE(waitFor([&] {
        return status() == QStringLiteral("Command ended with exit status 4");
    })) << status().toStdString();
    EXPECT_TRUE(waitFor([&] { return line(0) == u"from the command"; }));
    EXPECT_TRUE(frame->windowTitle().endsWith(answer));
    EXPECT_TRUE(frame->openPaths().empty()) << "a source's spool is no file of the session";

    // The next prompt offers it; a second command gets a tab of its own.
    LogTab* first = frame->currentTab();
    const std::string firstSpool = document()->source()->spoolPath();
    answer = QStringLiteral("sh -c 'echo second; exec sleep 1000'");
    frame->action(Command::FollowCommand)->trigger();
    ASSERT_EQ(prompted.size(), 2);
    EXPECT_EQ(prompted.back(),
              QStringList{QStringLiteral("sh -c 'echo \"from the command\"; exit 4'")});
    ASSERT_EQ(frame->tabCount(), 2);
    EXPECT_NE(frame->currentTab(), first);
    EXPECT_EQ(frame->currentTab()->label(), answer);
    EXPECT_TRUE(exists(firstSpool));
    EXPECT_TRUE(waitFor([&] { return line(0) == u"second"; }));
    EXPECT_EQ(status(), QStringLiteral("Command running"));
    const pid_t pid = document()->source()->processId();
    ASSERT_GT(pid, 0);
    const std::string secondSpool = document()->source()->spoolPath();

    // Closing the tab ends the command and removes its spool; the first tab keeps its own.
    frame->closeTab(frame->currentTab());
    EXPECT_EQ(frame->tabCount(), 1);
    EXPECT_FALSE(exists(secondSpool));
    EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }, std::chrono::seconds(5)))
        << "the command outlived its tab";
    EXPECT_TRUE(exists(firstSpool));
    EXPECT_TRUE(
        waitFor([&] { return status() == QStringLiteral("Command ended with exit status 4"); }));
    EXPECT_EQ(sources()->history().front(), answer);
    EXPECT_EQ(sources()->history().size(), 2);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

TEST_F(SourceControlTest, ACommandThatCannotRunSaysWhyAndLeavesTheDocumentAlone)
{
    const std::string log = dir.file("kept.log");
    quilltest::writeFile(log, "kept\n");
    ASSERT_TRUE(document()->openDocument(u16(log)));

    answer = QStringLiteral("quillstream-no-such-program-24 --flag");
    frame->action(Command::FollowCommand)->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.back().contains(QStringLiteral("quillstream-no-such-program-24")));
    EXPECT_TRUE(messages.back().contains(QStringLiteral("could not be started")));
    EXPECT_EQ(document()->source(), nullptr);
    EXPECT_EQ(line(0), u"kept");
    EXPECT_TRUE(sources()->history().isEmpty());

    answer = QStringLiteral("grep 'unclosed");
    frame->action(Command::FollowCommand)->trigger();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages.back(),
              QStringLiteral("The command line cannot be used: a quotation mark is not closed."));
    EXPECT_EQ(line(0), u"kept");
}

TEST_F(SourceControlTest, ACompressedFileIsShownAsADecompressedCopyThatIsNotFollowed)
{
    const std::string plain = dir.file("rotated.log");
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    quilltest::writeFile(plain, text);
    ASSERT_EQ(std::system(("xz -k '" + plain + "'").c_str()), 0);
    const std::string packed = plain + ".xz";
    ASSERT_EQ(detectCompressionOfFile(packed), CompressionFormat::Xz);
    ASSERT_TRUE(
        sources()->openCompressed(packed, CompressionFormat::Xz, QString::fromStdString(packed)));
    EXPECT_TRUE(waitFor([&] { return !document()->canFollow(); }));
    EXPECT_EQ(document()->lineCount(), 3000u);
    EXPECT_EQ(line(2999), u"line 2999");
    EXPECT_FALSE(document()->isWatching());
    EXPECT_FALSE(frame->action(Command::Resume)->isEnabled());
    EXPECT_FALSE(frame->action(Command::Pause)->isEnabled());
    EXPECT_FALSE(frame->pausePane()->isVisible());
    EXPECT_TRUE(frame->windowTitle().endsWith(QString::fromStdString(packed) +
                                              QStringLiteral(" (decompressed copy)")))
        << frame->windowTitle().toStdString();
    EXPECT_FALSE(sources()->progress()->isVisible());
    EXPECT_FALSE(sources()->cancelButton()->isVisible());
    EXPECT_TRUE(messages.isEmpty());
    // Complete when shown: there is nothing to resume following.
    frame->updateCommandStates();
    EXPECT_FALSE(frame->action(Command::Resume)->isEnabled());
    frame->action(Command::Resume)->trigger();
    EXPECT_FALSE(document()->isWatching());
}

TEST_F(SourceControlTest, ADamagedArchiveShowsWhatCameBeforeAndSaysWhatIsWrong)
{
    const std::string plain = dir.file("d.log");
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    quilltest::writeFile(plain, text);
    ASSERT_EQ(std::system(("gzip -k '" + plain + "'").c_str()), 0);
    std::string archive = quilltest::readFile(plain + ".gz");
    const std::string cut = dir.file("cut.gz");
    quilltest::writeFile(cut, archive.substr(0, archive.size() / 2));
    // What the status bar shows behind the box, while the box waits for the user.
    QStringList behind;
    frame->setMessageHandler([&](const QString& message) {
        messages.append(message);
        behind.append(status());
        if (sources()->progress()->isVisible() || sources()->cancelButton()->isVisible()) {
            behind.append(QStringLiteral("progress or Cancel"));
        }
    });
    ASSERT_TRUE(sources()->openCompressed(cut, CompressionFormat::Gzip, QStringLiteral("cut.gz")));
    EXPECT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(behind, QStringList{status()});
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.front(), string(410));
    EXPECT_TRUE(status().contains(QStringLiteral("truncated")));
    EXPECT_GT(document()->lineCount(), 1000u);
    EXPECT_EQ(line(1000), u"line 1000");
}

TEST_F(SourceControlTest, ADecompressionBehindTheFrontTabIsShownInItsOwnTab)
{
    const std::string plain = dir.file("behind.log");
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text += "behind " + std::to_string(i) + "\n";
    }
    quilltest::writeFile(plain, text);
    ASSERT_EQ(std::system(("xz -k -0 '" + plain + "'").c_str()), 0);
    ASSERT_TRUE(sources()->openCompressed(plain + ".xz", CompressionFormat::Xz,
                                          QString::fromStdString(plain + ".xz")));
    LogTab* archiveTab = frame->currentTab();
    // The waiting tab is not empty: the command gets a tab of its own and comes to the front.
    answer = QStringLiteral("echo front");
    frame->action(Command::FollowCommand)->trigger();
    ASSERT_EQ(frame->tabCount(), 2);
    ASSERT_NE(frame->currentTab(), archiveTab);
    EXPECT_EQ(archiveTab->label(), QStringLiteral("behind.log.xz"));
    LogDocument* behind = archiveTab->document();
    EXPECT_TRUE(waitFor([&] { return !behind->canFollow(); }));
    EXPECT_EQ(behind->lineCount(), 200000u);
    EXPECT_EQ(behind->line(199999), u"behind 199999");
    EXPECT_FALSE(behind->isWatching());
    EXPECT_TRUE(waitFor([&] { return line(0) == u"front"; }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

// Cancel, clicked while a command runs, ends the command and keeps its lines and its tab.
TEST_F(SourceControlTest, CancelEndsARunningCommandAndKeepsItsLines)
{
    ASSERT_TRUE(sources()->followCommandLine(QStringLiteral("sh -c 'echo quiet; exec sleep 600'")));
    EXPECT_TRUE(waitFor([&] { return line(0) == u"quiet"; }));
    const pid_t pid = document()->source()->processId();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(status(), QStringLiteral("Command running"));
    ASSERT_TRUE(sources()->cancelButton()->isVisible());
    QTest::mouseClick(sources()->cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return status() == QStringLiteral("Command ended by signal 15"); }))
        << status().toStdString();
    EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }, std::chrono::seconds(5)));
    EXPECT_FALSE(sources()->cancelButton()->isVisible());
    EXPECT_EQ(line(0), u"quiet");
    EXPECT_EQ(frame->tabCount(), 1);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

// The disk bound stops the reading while the writer still holds the pipe: that is no end of
// input, and the status bar says what happened and why.
TEST_F(SourceControlTest, StandardInputStoppedByTheDiskBoundSaysSo)
{
    sources()->setSpoolReserve(std::int64_t(1) << 60); // more than any disk has
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_TRUE(sources()->followStandardInput(fds[0]));
    ::close(fds[0]);
    ASSERT_EQ(::write(fds[1], "too much\n", 9), 9);
    EXPECT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_TRUE(status().startsWith(QStringLiteral("Standard input is no longer read - Stopped: "
                                                   "the disk that holds the spool folder")))
        << status().toStdString();
    EXPECT_FALSE(status().contains(string(402)));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().startsWith(QStringLiteral("Stopped: the disk")));
    ::close(fds[1]);
}

// A menu's status tip and the source's state never share the bar: the tip hides the state
// (the poll does not bring it back over the tip) and the state returns when the tip goes.
TEST_F(SourceControlTest, AStatusTipHidesTheSourceStateUntilTheTipGoes)
{
    ASSERT_TRUE(sources()->followCommandLine(QStringLiteral("sh -c 'echo on; exec sleep 600'")));
    EXPECT_TRUE(waitFor([&] { return line(0) == u"on"; }));
    ASSERT_TRUE(sources()->label()->isVisible());
    QStatusTipEvent tip(QStringLiteral("Open a file"));
    QApplication::sendEvent(frame.get(), &tip);
    EXPECT_EQ(frame->statusBar()->currentMessage(), QStringLiteral("Open a file"));
    QTest::qWait(3 * SourceControl::PollMs);
    EXPECT_FALSE(sources()->label()->isVisible());
    EXPECT_FALSE(sources()->cancelButton()->isVisible());
    QStatusTipEvent gone{QString()};
    QApplication::sendEvent(frame.get(), &gone);
    EXPECT_TRUE(sources()->label()->isVisible());
    EXPECT_TRUE(sources()->cancelButton()->isVisible());
    QTest::mouseClick(sources()->cancelButton(), Qt::LeftButton);
}

// The Follow Command box keeps a sensible width in both languages: its long label wraps
// and shows whole.
TEST_F(SourceControlTest, TheFollowCommandBoxWrapsItsLabelInEveryLanguage)
{
    sources()->setCommandPrompt({});
    for (const char16_t* language : {u"EN", u"DE"}) {
        store->setString(Setting::GuiLanguage, language);
        ASSERT_TRUE(package.resources->loadLanguageResources());
        QSize size;
        bool whole = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            QApplication::processEvents();
            size = box->size();
            whole = true;
            for (QLabel* label : box->findChildren<QLabel*>()) {
                if (label->isVisible() && label->wordWrap()) {
                    whole = whole && label->heightForWidth(label->width()) <= label->height() &&
                            label->width() <= box->width();
                } else if (label->isVisible()) {
                    whole = false;
                }
            }
            QTest::keyClick(box, Qt::Key_Escape);
        });
        frame->action(Command::FollowCommand)->trigger();
        EXPECT_GT(size.width(), 0);
        EXPECT_LE(size.width(), 700) << QString::fromStdU16String(language).toStdString();
        EXPECT_TRUE(whole) << "the label wraps and shows whole";
    }
    EXPECT_EQ(frame->tabCount(), 1);
}

// A spool folder that is not private is refused with what is wrong with it, for a command
// and for an archive alike.
TEST_F(SourceControlTest, ARefusedSpoolFolderSaysWhatIsWrongWithIt)
{
    const std::string real = dir.file("real");
    ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
    const std::string link = dir.file("link");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    const std::string open = dir.file("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0705), 0);
    const std::string foreign = dir.file("foreign");
    ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
    const bool canChown = ::chown(foreign.c_str(), ::geteuid() + 1, static_cast<gid_t>(-1)) == 0;
    struct Case {
        std::string folder;
        QString says;
    };
    std::vector<Case> cases = {{link, QStringLiteral("it is a symbolic link")},
                               {open, QStringLiteral("other users have access to it (mode 705)")}};
    if (canChown) {
        cases.push_back({foreign, QStringLiteral("it belongs to another user")});
    }
    const std::string plain = dir.file("p.log");
    quilltest::writeFile(plain, "packed\n");
    ASSERT_EQ(std::system(("gzip -k '" + plain + "'").c_str()), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        sources()->setSpoolFolder(c.folder);
        messages.clear();
        EXPECT_FALSE(sources()->followCommandLine(QStringLiteral("echo never")));
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages.back().contains(QString::fromStdString(c.folder) +
                                             QStringLiteral(": ") + c.says))
            << messages.back().toStdString();
        EXPECT_FALSE(sources()->openCompressed(plain + ".gz", CompressionFormat::Gzip,
                                               QStringLiteral("p.gz")));
        ASSERT_EQ(messages.size(), 2);
        EXPECT_TRUE(messages.back().contains(c.says)) << messages.back().toStdString();
    }
    EXPECT_EQ(document()->source(), nullptr);
}

// A window of plain files needs no timer: it runs while a source runs and until its end
// was told, then only as the slow look for orphans once a command has run. An index that
// stops on a plain file is still told, woken by the lines' arrival instead of the timer.
TEST_F(SourceControlTest, TheTimerRunsOnlyWhileASourceNeedsIt)
{
    frame->setDocumentSetup([](LogDocument& document) {
        document.setWatchTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20),
                                 std::chrono::milliseconds(10)});
        document.setAvailableMemory([] { return std::uint64_t(2) << 20; });
    });
    const std::string log = dir.file("plain.log");
    quilltest::writeFile(log, "plain\n");
    // Stopped, or the slow look for orphans when an earlier test ran a command.
    const auto resting = [this] {
        return sources()->timerInterval() == -1 ||
               (LogSource::mayHaveOrphans() &&
                sources()->timerInterval() == SourceControl::OrphanPollMs);
    };
    QTest::qWait(50);
    EXPECT_TRUE(resting()) << sources()->timerInterval();
    ASSERT_TRUE(document()->openDocument(u16(log)));
    frame->activeView()->initialUpdate();
    QTest::qWait(50);
    EXPECT_TRUE(resting()) << sources()->timerInterval();

    // Past the bound of 1 MiB of index (about 900,000 short lines) in one growth.
    std::string more;
    for (int i = 0; i < 1200000; ++i) {
        more += "g " + std::to_string(i % 1000) + '\n';
    }
    quilltest::appendFile(log, more);
    const QString prefix = QStringLiteral("Indexing stopped at ");
    ASSERT_TRUE(waitFor([&] { return status().startsWith(prefix); })) << status().toStdString();
    ASSERT_TRUE(waitFor([&] { return messages.size() == 1; }));
    EXPECT_TRUE(messages.front().startsWith(prefix)) << messages.front().toStdString();
    EXPECT_TRUE(waitFor(resting));

    answer = QStringLiteral("sh -c 'sleep 0.3; echo ended'");
    frame->action(Command::FollowCommand)->trigger();
    EXPECT_TRUE(waitFor([&] { return sources()->timerInterval() == SourceControl::PollMs; }));
    ASSERT_TRUE(waitFor([&] {
        return status() == QStringLiteral("Command ended with exit status 0");
    })) << status().toStdString();
    EXPECT_TRUE(waitFor([&] { return sources()->timerInterval() == SourceControl::OrphanPollMs; }));
    // Back to the plain file's tab: the status bar shows its stop again, woken by the
    // change of front, not by the slow timer.
    ASSERT_EQ(frame->tabWidget()->count(), 2);
    frame->tabWidget()->setCurrentIndex(0);
    EXPECT_TRUE(waitFor([&] { return status().startsWith(prefix); },
                        std::chrono::milliseconds(SourceControl::OrphanPollMs / 2)))
        << status().toStdString();
    EXPECT_EQ(messages.size(), 1);
}

namespace {

// A log large enough that bzip2 takes a while over it: "big N" lines.
std::string bigLog(const std::string& path)
{
    std::string text;
    for (int i = 0; i < 600000; ++i) {
        text += "big " + std::to_string(i) + " " + std::string(std::size_t(i % 23), 'x') + "\n";
    }
    quilltest::writeFile(path, text);
    EXPECT_EQ(std::system(("bzip2 -1 -k '" + path + "'").c_str()), 0);
    return path + ".bz2";
}

std::u16string bigLine(LineNumber i)
{
    return u16("big " + std::to_string(i) + " " + std::string(std::size_t(i % 23), 'x'));
}

} // namespace

// Through the window: the lines of an archive show while its progress bar still runs;
// Pause on the way holds them and leaves Resume on; once complete every line is there,
// and there is nothing to pause or resume any more, nor a paused pane.
TEST_F(SourceControlTest, LinesShowWhileDecompressingAndPauseHoldsThemUntilTheCopyIsComplete)
{
    const std::string packed = bigLog(dir.file("big.log"));
    ASSERT_TRUE(
        sources()->openCompressed(packed, CompressionFormat::Bzip2, QStringLiteral("big.log.bz2")));
    EXPECT_TRUE(waitFor(
        [&] { return document()->lineCount() > 0 || !sources()->progress()->isVisible(); }));
    ASSERT_GT(document()->lineCount(), 0u);
    ASSERT_TRUE(sources()->progress()->isVisible()) << "no line before the end";
    EXPECT_TRUE(sources()->cancelButton()->isVisible());
    EXPECT_EQ(line(0), bigLine(0));
    frame->action(Command::Pause)->trigger();
    EXPECT_FALSE(document()->isWatching());
    if (sources()->progress()->isVisible()) {
        EXPECT_TRUE(frame->action(Command::Resume)->isEnabled());
        EXPECT_TRUE(frame->pausePane()->isVisible());
    }
    EXPECT_TRUE(waitFor([&] { return !document()->canFollow(); }));
    ASSERT_EQ(document()->lineCount(), 600000u);
    EXPECT_EQ(line(599999), bigLine(599999));
    EXPECT_EQ(line(300001), bigLine(300001));
    EXPECT_FALSE(document()->isWatching());
    EXPECT_FALSE(frame->action(Command::Resume)->isEnabled());
    EXPECT_FALSE(frame->action(Command::Pause)->isEnabled());
    EXPECT_FALSE(frame->pausePane()->isVisible());
    EXPECT_FALSE(sources()->progress()->isVisible());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

// Cancel, clicked midway, keeps the lines decompressed so far and says so once they are
// all shown; the copy is not followed after.
TEST_F(SourceControlTest, CancelMidwayKeepsTheLinesDecompressedSoFar)
{
    const std::string packed = bigLog(dir.file("cancel.log"));
    ASSERT_TRUE(sources()->openCompressed(packed, CompressionFormat::Bzip2,
                                          QStringLiteral("cancel.log.bz2")));
    EXPECT_TRUE(waitFor(
        [&] { return document()->lineCount() > 0 || !sources()->cancelButton()->isVisible(); }));
    ASSERT_TRUE(sources()->cancelButton()->isVisible()) << "decompressed before a line showed";
    QTest::mouseClick(sources()->cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.front(), string(408));
    EXPECT_FALSE(document()->canFollow());
    const LineNumber count = document()->lineCount();
    ASSERT_GT(count, 0u);
    EXPECT_LT(count, 600000u);
    // What was decoded when it stopped is kept: the last line maybe in part.
    EXPECT_EQ(line(count / 2), bigLine(count / 2));
    EXPECT_EQ(bigLine(count - 1).rfind(line(count - 1), 0), 0u);
    EXPECT_FALSE(document()->isWatching());
    EXPECT_FALSE(frame->action(Command::Resume)->isEnabled());
    EXPECT_FALSE(sources()->cancelButton()->isVisible());
}
