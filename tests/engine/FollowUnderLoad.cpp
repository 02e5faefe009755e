// No loss under load: a writer appends random-sized chunks to a real file for a few
// seconds while the document follows it with random pauses, resumes and clears. At the
// end the document's lines equal the file's lines from the last clear point on. Runs
// under ThreadSanitizer in the test command (label "tsan").

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

using namespace quilltest;
using namespace std::chrono_literals;

TEST(FollowUnderLoad, EveryWrittenLineArrivesThroughPausesResumesAndClears)
{
    TestSettings settings;
    FakeHost host;
    const std::string path = settings.dir.file("load.log");
    writeFile(path, "start\n");
    LogDocument doc(&host, settings.store);
    doc.setWatchTiming(WatchTiming{2ms, 2ms, 1ms});
    ASSERT_TRUE(doc.openDocument(u16(path)));

    std::atomic<bool> writing{true};
    std::thread writer([&] {
        std::mt19937 rng(1234);
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        std::uint64_t serial = 0;
        const auto end = std::chrono::steady_clock::now() + 3s;
        std::string pending;
        while (std::chrono::steady_clock::now() < end) {
            while (pending.size() < 9000) {
                pending += "line " + std::to_string(serial++) + " " +
                           std::string(rng() % 150, char('a' + rng() % 26)) +
                           (rng() % 5 == 0 ? "\r\n" : "\n");
            }
            // Random cuts: lines arrive in pieces, sometimes a byte at a time.
            const std::size_t n = rng() % 8 == 0 ? 1 : 1 + rng() % 8000;
            ASSERT_EQ(::write(fd, pending.data(), n), ssize_t(n));
            pending.erase(0, n);
            if (rng() % 16 == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
            }
        }
        ASSERT_EQ(::write(fd, pending.data(), pending.size()), ssize_t(pending.size()));
        ::close(fd);
        writing = false;
    });

    std::mt19937 rng(5678);
    FileOffset clearPoint = 0;
    while (writing) {
        FakeHost::Message message{};
        if (host.nextMessage(message, 5ms) && message.id == FileMessage::Reload) {
            ADD_FAILURE() << "the growing file was taken for a replaced one";
            break;
        }
        const unsigned action = rng() % 100;
        if (action < 8) {
            doc.stopWatching();
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 20));
            doc.startWatching();
        } else if (action < 10) {
            doc.stopWatching();
            clearPoint = doc.indexedEnd();
            doc.clearText();
            doc.startWatching();
        } else if (action < 30 && doc.lineCount() > 0) {
            doc.line(LineNumber(rng() % doc.lineCount())); // what a paint does
        }
    }
    writer.join();

    const std::string bytes = readFile(path);
    const FileOffset size = FileOffset(bytes.size());
    FakeHost::Message message{};
    while (doc.indexedEnd() < size && host.nextMessage(message)) {
    }
    doc.closeDocument();
    ASSERT_EQ(doc.indexedEnd(), size);

    const std::string shown = bytes.substr(std::size_t(clearPoint));
    const ModelFile model = modelFile(shown, false);
    const LineNumber count = LineNumber(model.lines.size());
    ASSERT_EQ(doc.lineCount(), count);
    for (LineNumber i = 0; i < count; ++i) {
        ASSERT_EQ(doc.lineStart(i), clearPoint + model.index.starts[i]) << i;
        ASSERT_EQ(doc.line(i), model.lines[i]) << i;
    }
    EXPECT_EQ(host.reloadCount(), 0);
}
