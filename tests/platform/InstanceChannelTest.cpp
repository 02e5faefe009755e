// The channel to the running window: which runtime folders are trusted, the socket's name for
// a display, the request's wire form under hostile bytes, and a descriptor carried across.

#include "platform/InstanceChannel.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace quill;
using quilltest::TempDir;

namespace {

int listenAt(const std::string& path, bool listening)
{
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    if (listening) {
        EXPECT_EQ(::listen(sock, 4), 0);
    }
    return sock;
}

InstanceRequest randomRequest(std::mt19937& random)
{
    const auto bytes = [&random](std::size_t most) {
        std::string text(random() % (most + 1), '\0');
        for (char& c : text) {
            c = static_cast<char>(random() % 256);
        }
        return text;
    };
    InstanceRequest request;
    for (unsigned i = random() % 4; i > 0; --i) {
        std::string path = "/" + bytes(20);
        std::replace(path.begin(), path.end(), '\0', 'x');
        std::optional<std::uint32_t> line;
        if (random() % 2 != 0) {
            line = random() % 3 == 0 ? UINT32_MAX : static_cast<std::uint32_t>(random() % 1000);
        }
        request.files.push_back({path, line, random() % 3 == 0});
    }
    request.standardInput = random() % 2 != 0;
    if (random() % 2 != 0) {
        std::string command = bytes(30);
        std::replace(command.begin(), command.end(), '\0', ' ');
        request.command = command;
    }
    if (random() % 2 != 0) {
        request.folder = "/srv/" + std::to_string(random() % 100);
    }
    if (random() % 2 != 0) {
        std::string at = bytes(24);
        std::replace(at.begin(), at.end(), '\0', ':');
        request.at = at;
    }
    request.merge = random() % 3 == 0;
    return request;
}

// The wire form written out by hand, independent of the encoder.
std::string message(const std::string& body, std::uint8_t version = 1)
{
    std::string out = "QSIR";
    out.push_back(static_cast<char>(version));
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((size >> shift) & 0xFF));
    }
    return out + body;
}

std::string record(char tag, const std::string& value)
{
    std::string out(1, tag);
    const auto size = static_cast<std::uint32_t>(value.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((size >> shift) & 0xFF));
    }
    return out + value;
}

} // namespace

TEST(InstanceChannelTest, OnlyAPrivateFolderOfTheUsersOwnHoldsTheSocket)
{
    TempDir dir;
    const std::string good = dir.file("good");
    ASSERT_EQ(::mkdir(good.c_str(), 0700), 0);
    const std::string group = dir.file("group");
    ASSERT_EQ(::mkdir(group.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(group.c_str(), 0710), 0);
    const std::string others = dir.file("others");
    ASSERT_EQ(::mkdir(others.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(others.c_str(), 0701), 0);
    const std::string link = dir.file("link");
    ASSERT_EQ(::symlink(good.c_str(), link.c_str()), 0);
    quilltest::writeFile(dir.file("file"), "");
    ASSERT_EQ(::chmod(dir.file("file").c_str(), 0700), 0);

    EXPECT_EQ(checkRuntimeFolder(good), RuntimeFolderState::Safe);
    EXPECT_EQ(checkRuntimeFolder(group), RuntimeFolderState::OpenToOthers);
    EXPECT_EQ(checkRuntimeFolder(others), RuntimeFolderState::OpenToOthers);
    EXPECT_EQ(checkRuntimeFolder(link), RuntimeFolderState::NotAFolder) << "a link is not trusted";
    EXPECT_EQ(checkRuntimeFolder(dir.file("file")), RuntimeFolderState::NotAFolder);
    EXPECT_EQ(checkRuntimeFolder(dir.file("gone")), RuntimeFolderState::Missing);
    EXPECT_EQ(checkRuntimeFolder(""), RuntimeFolderState::Unset);
    if (::geteuid() != 0) {
        EXPECT_EQ(checkRuntimeFolder("/"), RuntimeFolderState::OtherOwner);
    }

    EXPECT_EQ(instanceSocketPath(good.c_str(), nullptr, ":0"), good + "/quillstream-x-_3a0.socket");
    EXPECT_EQ(instanceSocketPath((good + "/").c_str(), "wayland-1", ":0"),
              good + "/quillstream-wl-wayland-1.socket")
        << "Wayland's display wins where XWayland sets both";
    for (const std::string& bad : {group, others, link, dir.file("gone")}) {
        EXPECT_EQ(instanceSocketPath(bad.c_str(), nullptr, ":0"), "") << bad;
    }
    EXPECT_EQ(instanceSocketPath(nullptr, nullptr, ":0"), "");
    // sun_path holds 108 bytes with the NUL: one name that fits, one a byte too long.
    const std::string fixed = good + "/quillstream-x-.socket";
    const std::string fits = std::string(107 - fixed.size(), 'a');
    EXPECT_EQ(instanceSocketPath(good.c_str(), nullptr, fits.c_str()).size(), 107u);
    EXPECT_EQ(instanceSocketPath(good.c_str(), nullptr, (fits + "a").c_str()), "");
}

TEST(InstanceChannelTest, DisplayTagsAreFileNamesAndNeverMeet)
{
    EXPECT_EQ(displayTag(nullptr, nullptr), "none");
    EXPECT_EQ(displayTag("", ""), "none");
    EXPECT_EQ(displayTag("", ":1.0"), "x-_3a1.0");
    EXPECT_EQ(displayTag("/run/user/1000/wayland-0", nullptr),
              "wl-_2frun_2fuser_2f1000_2fwayland-0");
    EXPECT_NE(displayTag(":0", nullptr), displayTag(nullptr, ":0"));
    EXPECT_NE(displayTag(nullptr, "_3a0"), displayTag(nullptr, ":0"));
    std::mt19937 random(7);
    std::set<std::string> names;
    std::set<std::string> tags;
    for (int i = 0; i < 3000; ++i) {
        std::string name(1 + random() % 6, '\0');
        for (char& c : name) {
            c = static_cast<char>(1 + random() % 255);
        }
        const std::string tag = displayTag(nullptr, name.c_str());
        for (const char c : tag) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ||
                        c == '_')
                << tag;
        }
        if (names.insert(name).second) {
            EXPECT_TRUE(tags.insert(tag).second) << "two names, one socket: " << tag;
        }
    }
}

TEST(InstanceChannelTest, RequestsComeBackWholeAndEveryPrefixWaitsForMore)
{
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        const InstanceRequest request = randomRequest(random);
        const std::string bytes = encodeRequest(request);
        const DecodedRequest decoded = decodeRequest(bytes);
        ASSERT_EQ(decoded.state, DecodeState::Complete) << i;
        EXPECT_EQ(decoded.request, request) << i;
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            ASSERT_EQ(decodeRequest(std::string_view(bytes).substr(0, cut)).state,
                      DecodeState::Incomplete)
                << i << " cut at " << cut;
        }
        EXPECT_EQ(decodeRequest(bytes + record('S', "")).state, DecodeState::Bad)
            << "a whole record past the end";
    }
    // The hand-written form of a file at a line, standard input and a command.
    const std::string body = record('F', "/var/log/a b.log") +
                             record('L', std::string("\0\0\1\0", 4)) + record('S', "") +
                             record('C', "tail -f x") + record('D', "/home/u");
    const DecodedRequest decoded = decodeRequest(message(body));
    ASSERT_EQ(decoded.state, DecodeState::Complete);
    ASSERT_EQ(decoded.request.files.size(), 1u);
    EXPECT_EQ(decoded.request.files[0].path, "/var/log/a b.log");
    EXPECT_EQ(decoded.request.files[0].line, std::optional<std::uint32_t>(256));
    EXPECT_TRUE(decoded.request.standardInput);
    EXPECT_EQ(decoded.request.command, std::optional<std::string>("tail -f x"));
    EXPECT_EQ(decoded.request.folder, "/home/u");
    EXPECT_EQ(decodeRequest(message("")).state, DecodeState::Complete) << "nothing to open";
}

TEST(InstanceChannelTest, HostileBytesAreRefusedWithoutWaitingOrCrashing)
{
    const std::string line = record('L', std::string(4, '\0'));
    const std::string file = record('F', "/a");
    const std::pair<const char*, std::string> bad[] = {
        {"another protocol", "GET / HTTP/1.1\r\n"},
        {"garbage's first byte", "x"},
        {"magic's last byte", "QSIX"},
        {"another version", message(file, 2)},
        {"version zero", message(file, 0)},
        {"relative path", message(record('F', "a.log"))},
        {"empty path", message(record('F', ""))},
        {"NUL in a path", message(record('F', std::string("/a\0b", 4)))},
        {"NUL in a command", message(record('C', std::string("ls\0x", 4)))},
        {"line first", message(line + file)},
        {"two lines for one file", message(file + line + line)},
        {"rotated before any file", message(record('R', ""))},
        {"rotated twice", message(file + record('R', "") + line + record('R', ""))},
        {"rotated with bytes", message(file + record('R', "x"))},
        {"merge twice", message(file + record('M', "") + record('M', ""))},
        {"merge with bytes", message(file + record('M', "y"))},
        {"rotated after standard input", message(file + record('S', "") + record('R', ""))},
        {"line after standard input", message(file + record('S', "") + line)},
        {"short line", message(file + record('L', "abc"))},
        {"standard input twice", message(record('S', "") + record('S', ""))},
        {"standard input with bytes", message(record('S', "x"))},
        {"two commands", message(record('C', "a") + record('C', "b"))},
        {"two folders", message(record('D', "/a") + record('D', "/b"))},
        {"two times", message(file + record('T', "-1h") + record('T', "-2h"))},
        {"NUL in a time", message(file + record('T', std::string("12\0:00", 6)))},
        {"relative folder", message(record('D', "a"))},
        {"unknown tag", message(record('Z', ""))},
        {"record longer than the body", message(file.substr(0, file.size() - 1))},
        {"record header cut", message(std::string("F\0\0", 3))},
    };
    for (const auto& [why, bytes] : bad) {
        EXPECT_EQ(decodeRequest(bytes).state, DecodeState::Bad) << why;
    }
    // A length at the limit waits; one past it is refused before its body is awaited.
    std::string header = message("");
    const auto withLength = [&header](std::uint32_t length) {
        std::string out = header.substr(0, 5);
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<char>((length >> shift) & 0xFF));
        }
        return out;
    };
    EXPECT_EQ(decodeRequest(withLength(MaxRequestBytes - RequestHeaderBytes)).state,
              DecodeState::Incomplete);
    EXPECT_EQ(decodeRequest(withLength(MaxRequestBytes - RequestHeaderBytes + 1)).state,
              DecodeState::Bad);
    EXPECT_EQ(decodeRequest(withLength(UINT32_MAX)).state, DecodeState::Bad);

    // Flipped bytes in valid requests: whatever is taken holds only absolute paths.
    std::mt19937 random(23);
    for (int i = 0; i < 3000; ++i) {
        std::string bytes = encodeRequest(randomRequest(random));
        for (unsigned flips = 1 + random() % 3; flips > 0; --flips) {
            bytes[random() % bytes.size()] = static_cast<char>(random() % 256);
        }
        const DecodedRequest decoded = decodeRequest(bytes);
        for (const InstanceFile& taken : decoded.request.files) {
            EXPECT_EQ(taken.path.front(), '/');
        }
        if (decoded.state != DecodeState::Complete) {
            EXPECT_TRUE(decoded.request.files.empty() && !decoded.request.command);
        }
    }
}

TEST(InstanceChannelTest, TheRequestArrivesWithStandardInputsDescriptor)
{
    TempDir dir;
    const std::string path = dir.file("q.socket");
    EXPECT_EQ(sendRequest(path, "x", -1, 1000), SendResult::NoListener) << "no socket";
    // A socket left by a process that ended: bound, nobody listening.
    ::close(listenAt(path, false));
    EXPECT_EQ(sendRequest(path, "x", -1, 1000), SendResult::NoListener) << "a stale socket";
    ASSERT_EQ(::unlink(path.c_str()), 0);

    const int server = listenAt(path, true);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    InstanceRequest request;
    request.standardInput = true;
    // Longer than a socket's buffer: the body comes in several reads, the descriptor once.
    request.command = std::string(600000, 'c');
    const std::string sent = encodeRequest(request);
    std::string received;
    int fd = -1;
    std::thread window([&] {
        const int connection = ::accept(server, nullptr, nullptr);
        while (decodeRequest(received).state == DecodeState::Incomplete) {
            if (receiveSome(connection, received, &fd) == 0) {
                break;
            }
        }
        ::send(connection, &RequestTaken, 1, MSG_NOSIGNAL);
        ::close(connection);
    });
    EXPECT_EQ(sendRequest(path, sent, pipeFds[0], 5000), SendResult::Taken);
    window.join();
    EXPECT_EQ(received, sent);
    ASSERT_GE(fd, 0);
    ::close(pipeFds[0]);
    ASSERT_EQ(::write(pipeFds[1], "log\n", 4), 4);
    ::close(pipeFds[1]);
    char got[8] = {};
    EXPECT_EQ(::read(fd, got, sizeof(got)), 4) << "the same pipe, read by the window";
    EXPECT_STREQ(got, "log\n");
    ::close(fd);

    // A window that takes the connection but never answers is given up on.
    std::thread mute([&] {
        const int connection = ::accept(server, nullptr, nullptr);
        std::string ignored;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        ::close(connection);
    });
    EXPECT_EQ(sendRequest(path, encodeRequest({}), -1, 200), SendResult::Failed);
    mute.join();
    ::close(server);
}
