// The sound service never lets a sound hold its caller: what may be handed to libcanberra
// (only a regular file, checked without blocking), and a FIFO at the sound's path, which
// once froze the window for good inside libcanberra's fopen.

#include "view/CanberraSound.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

using quilltest::TempDir;
using quilltest::u16;

namespace {

// A WAV file of `seconds` of silence: long enough that a caller waiting for its end would
// be seen waiting.
void writeSilence(const std::string& path, int seconds)
{
    const std::uint32_t rate = 8000;
    const std::uint32_t bytes = rate * std::uint32_t(seconds);
    auto u32 = [](std::uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto u16le = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    std::ofstream out(path, std::ios::binary);
    out << "RIFF" << u32(36 + bytes) << "WAVEfmt " << u32(16) << u16le(1) << u16le(1) << u32(rate)
        << u32(rate) << u16le(1) << u16le(8) << "data" << u32(bytes)
        << std::string(bytes, char(0x80));
}

} // namespace

TEST(CanberraSoundTest, OnlyARegularReadableFileIsHandedOn)
{
    TempDir dir;
    const std::string wav = dir.file("alert.wav");
    writeSilence(wav, 1);
    const std::string fifo = dir.file("alert.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string unreadable = dir.file("locked.wav");
    writeSilence(unreadable, 1);
    ::chmod(unreadable.c_str(), 0);

    struct Row {
        std::string path;
        bool playable;
    };
    const bool root = ::geteuid() == 0; // root reads a file of mode 0 all the same
    for (const Row& row :
         {Row{wav, true}, Row{fifo, false}, Row{dir.path(), false}, Row{"/dev/null", false},
          Row{dir.file("missing.wav"), false}, Row{unreadable, root}, Row{"", false}}) {
        SCOPED_TRACE(row.path);
        const int fd = CanberraSound::openPlayableFile(u16(row.path));
        EXPECT_EQ(fd >= 0, row.playable);
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

TEST(CanberraSoundTest, AFifoFallsBackToTheWarningWithoutHangingCallerOrShutdown)
{
    TempDir dir;
    const std::string fifo = dir.file("alert.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    {
        CanberraSound sound;
        QSignalSpy finished(&sound, &CanberraSound::finished);
        sound.playSoundFile(u16(fifo));
        ASSERT_TRUE(finished.wait(10000)) << "the request never ended";
        EXPECT_NE(finished.at(0).at(0).value<CanberraSound::Outcome>(),
                  CanberraSound::Outcome::File);
    } // the service's thread ends here; a hang would time the test out
}

TEST(CanberraSoundTest, ALongSoundAndItsSuccessorsNeverQueueUp)
{
    TempDir dir;
    const std::string wav = dir.file("long.wav");
    writeSilence(wav, 20);
    CanberraSound sound;
    QSignalSpy finished(&sound, &CanberraSound::finished);
    // A burst of alerts while the first sound plays for seconds: every request is answered
    // within the burst, and only the first is played (without a sound server, none is).
    for (int i = 0; i < 5; ++i) {
        sound.playSoundFile(u16(wav));
        QTest::qWait(20);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished.count() == 5; }, 10000));
    int played = 0;
    for (const QList<QVariant>& call : finished) {
        played += call.at(0).value<CanberraSound::Outcome>() == CanberraSound::Outcome::File;
    }
    EXPECT_LE(played, 1) << "a second sound while the first still plays";
}
