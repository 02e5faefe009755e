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

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

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
    bool OpenDocumentFile(const std::u16string&) override { return false; }
    void OnFileNew() override {}
    void OnFileOpen() override {}
    void OnAppAbout() override {}
    void OnOpenRecentFile(int) override {}
    std::vector<std::u16string> RecentFiles() const override { return {}; }
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
            document.SetWatchTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20),
                                     std::chrono::milliseconds(10)});
        });
        frame->GetView()->OnInitialUpdate();
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
    LogDocument* document() const { return frame->GetActiveDocument(); }
    std::u16string line(LineNumber index) { return document()->GetLine(index); }

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
    ASSERT_NE(document()->Source(), nullptr);
    const std::string spool = document()->Source()->SpoolPath();
    EXPECT_TRUE(frame->windowTitle().endsWith(QStringLiteral("  -  standard input")))
        << frame->windowTitle().toStdString();
    EXPECT_EQ(frame->pane(1)->text(), QStringLiteral("standard input"));
    EXPECT_TRUE(waitFor([&] { return status() == string(426); }));

    ASSERT_EQ(::write(fds[1], "ERROR first\nsecond\n", 19), 19);
    EXPECT_TRUE(waitFor([&] { return document()->GetLineCount() >= 2 && line(1) == u"second"; }));
    EXPECT_EQ(line(0), u"ERROR first");
    ASSERT_EQ(::write(fds[1], "third\n", 6), 6);
    ::close(fds[1]);
    EXPECT_TRUE(waitFor([&] { return status() == QStringLiteral("End of input"); }));
    EXPECT_TRUE(waitFor([&] { return line(2) == u"third"; }));
    EXPECT_FALSE(frame->pausePane()->isVisible());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();

    frame->close();
    EXPECT_EQ(document()->Source(), nullptr);
    EXPECT_FALSE(exists(spool));
}

// A pipe that brings more lines than the memory figure lets the index hold (a figure of
// 2 MiB: a bound of 1 MiB, about 900,000 lines): reading stops, the status bar and one
// message say why with the line count, and the lines so far are all there.
TEST_F(SourceControlTest, APipePastTheIndexBoundStopsAndSaysWhyWithTheLinesKept)
{
    frame->setDocumentSetup([](LogDocument& document) {
        document.SetWatchTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20),
                                 std::chrono::milliseconds(10)});
        document.SetAvailableMemory([] { return std::uint64_t(2) << 20; });
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
    const QString prefix = QStringLiteral("Standard input is no longer read - Indexing stopped at ");
    ASSERT_TRUE(waitFor([&] { return status().startsWith(prefix); })) << status().toStdString();
    const LineNumber kept = document()->GetLineCount();
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
    const std::string firstSpool = document()->Source()->SpoolPath();
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
    const pid_t pid = document()->Source()->ProcessId();
    ASSERT_GT(pid, 0);
    const std::string secondSpool = document()->Source()->SpoolPath();

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
    ASSERT_TRUE(document()->OnOpenDocument(u16(log)));

    answer = QStringLiteral("quillstream-no-such-program-24 --flag");
    frame->action(Command::FollowCommand)->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.back().contains(QStringLiteral("quillstream-no-such-program-24")));
    EXPECT_TRUE(messages.back().contains(QStringLiteral("could not be started")));
    EXPECT_EQ(document()->Source(), nullptr);
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
    ASSERT_EQ(DetectCompressionOfFile(packed), CompressionFormat::Xz);
    ASSERT_TRUE(
        sources()->openCompressed(packed, CompressionFormat::Xz, QString::fromStdString(packed)));
    EXPECT_TRUE(waitFor([&] { return !document()->CanFollow(); }));
    EXPECT_EQ(document()->GetLineCount(), 3000u);
    EXPECT_EQ(line(2999), u"line 2999");
    EXPECT_FALSE(document()->IsWatching());
    EXPECT_FALSE(frame->action(Command::Resume)->isEnabled());
    EXPECT_FALSE(frame->action(Command::Pause)->isEnabled());
    EXPECT_FALSE(frame->pausePane()->isVisible());
    EXPECT_TRUE(frame->windowTitle().endsWith(QString::fromStdString(packed) +
                                              QStringLiteral(" (decompressed copy)")))
        << frame->windowTitle().toStdString();
    EXPECT_FALSE(sources()->progress()->isVisible());
    EXPECT_FALSE(sources()->cancelButton()->isVisible());
    EXPECT_TRUE(messages.isEmpty());
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
    ASSERT_TRUE(sources()->openCompressed(cut, CompressionFormat::Gzip, QStringLiteral("cut.gz")));
    EXPECT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.front(), string(410));
    EXPECT_TRUE(status().contains(QStringLiteral("truncated")));
    EXPECT_GT(document()->GetLineCount(), 1000u);
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
    EXPECT_TRUE(waitFor([&] { return !behind->CanFollow(); }));
    EXPECT_EQ(behind->GetLineCount(), 200000u);
    EXPECT_EQ(behind->GetLine(199999), u"behind 199999");
    EXPECT_FALSE(behind->IsWatching());
    EXPECT_TRUE(waitFor([&] { return line(0) == u"front"; }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

// Cancel, clicked while a command runs, ends the command and keeps its lines and its tab.
TEST_F(SourceControlTest, CancelEndsARunningCommandAndKeepsItsLines)
{
    ASSERT_TRUE(sources()->followCommandLine(QStringLiteral("sh -c 'echo quiet; exec sleep 600'")));
    EXPECT_TRUE(waitFor([&] { return line(0) == u"quiet"; }));
    const pid_t pid = document()->Source()->ProcessId();
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
        [&] { return document()->GetLineCount() > 0 || !sources()->progress()->isVisible(); }));
    ASSERT_GT(document()->GetLineCount(), 0u);
    ASSERT_TRUE(sources()->progress()->isVisible()) << "no line before the end";
    EXPECT_TRUE(sources()->cancelButton()->isVisible());
    EXPECT_EQ(line(0), bigLine(0));
    frame->action(Command::Pause)->trigger();
    EXPECT_FALSE(document()->IsWatching());
    if (sources()->progress()->isVisible()) {
        EXPECT_TRUE(frame->action(Command::Resume)->isEnabled());
        EXPECT_TRUE(frame->pausePane()->isVisible());
    }
    EXPECT_TRUE(waitFor([&] { return !document()->CanFollow(); }));
    ASSERT_EQ(document()->GetLineCount(), 600000u);
    EXPECT_EQ(line(599999), bigLine(599999));
    EXPECT_EQ(line(300001), bigLine(300001));
    EXPECT_FALSE(document()->IsWatching());
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
        [&] { return document()->GetLineCount() > 0 || !sources()->cancelButton()->isVisible(); }));
    ASSERT_TRUE(sources()->cancelButton()->isVisible()) << "decompressed before a line showed";
    QTest::mouseClick(sources()->cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.front(), string(408));
    EXPECT_FALSE(document()->CanFollow());
    const LineNumber count = document()->GetLineCount();
    ASSERT_GT(count, 0u);
    EXPECT_LT(count, 600000u);
    // What was decoded when it stopped is kept: the last line maybe in part.
    EXPECT_EQ(line(count / 2), bigLine(count / 2));
    EXPECT_EQ(bigLine(count - 1).rfind(line(count - 1), 0), 0u);
    EXPECT_FALSE(document()->IsWatching());
    EXPECT_FALSE(frame->action(Command::Resume)->isEnabled());
    EXPECT_FALSE(sources()->cancelButton()->isVisible());
}
