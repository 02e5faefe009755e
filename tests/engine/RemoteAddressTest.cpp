// A remote file written as one word (ssh://...) and a line of the merged remote box: random
// files written and read back, the exact edges of what is refused, and the short names of a
// merged tab's entries.

#include "engine/RemoteAddress.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string pick(std::mt19937& random, std::string_view alphabet, std::size_t low, std::size_t high)
{
    std::string text(std::uniform_int_distribution<std::size_t>(low, high)(random), ' ');
    for (char& c : text) {
        c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
    }
    return text;
}

RemoteFileError parsed(std::string_view text, RemoteFile& file)
{
    return isRemoteAddress(text) ? parseRemoteAddress(text, file) : RemoteFileError::NoHost;
}

} // namespace

// Any file is written so that it reads back as the same file, as an address and as a line of
// the box; its scp form (no port there) gives the same address.
TEST(RemoteAddressTest, RandomFilesReadBackAsWritten)
{
    std::mt19937 random(20261211);
    for (int round = 0; round < 20000; ++round) {
        SCOPED_TRACE(round);
        RemoteFile file;
        file.host = std::uniform_int_distribution<int>(0, 4)(random) == 0
                        ? pick(random, "0123456789abcdef:", 2, 12)
                        : pick(random, "a", 1, 1) + pick(random, "abz09.-_", 0, 10);
        if (random() % 2 != 0) {
            file.user = pick(random, "a", 1, 1) + pick(random, "az.-_:[]", 0, 6);
        }
        file.port = random() % 3 == 0 ? 0 : std::uniform_int_distribution<int>(1, 65535)(random);
        // The box drops blanks around a line, also a path's own last one: none ends so here.
        file.path = (random() % 2 != 0 ? "/" : "") + pick(random, "/~@:[] '%\\a.$", 0, 14) +
                    pick(random, "/~@:a", 1, 1);
        const std::string address = remoteAddress(file);
        RemoteFile back;
        ASSERT_EQ(parsed(address, back), RemoteFileError::None) << address;
        const std::string samePath = file.path.starts_with("/~/") ? "/" + file.path : file.path;
        EXPECT_EQ(back.host, file.host) << address;
        EXPECT_EQ(back.user, file.user) << address;
        EXPECT_EQ(back.port, file.port) << address;
        EXPECT_EQ(back.path, samePath) << address;
        std::string entry;
        ASSERT_EQ(mergedEntryFromLine(" " + address + "\t", entry), RemoteFileError::None);
        EXPECT_EQ(entry, address);
        if (file.port == 0 && file.host.find(':') == std::string::npos &&
            file.user.find(':') == std::string::npos) {
            const std::string scp =
                (file.user.empty() ? "" : file.user + "@") + file.host + ":" + file.path;
            ASSERT_EQ(mergedEntryFromLine(scp, entry), RemoteFileError::None) << scp;
            EXPECT_EQ(entry, address) << scp;
        }
    }
}

TEST(RemoteAddressTest, EdgesOfWhatIsRefused)
{
    struct Case {
        std::string text;
        RemoteFileError error;
        std::string path; // when taken
        int port = 0;
    };
    const std::vector<Case> cases = {
        {"ssh://h", RemoteFileError::NoPath, ""},
        {"ssh:///p", RemoteFileError::NoHost, ""},
        {"ssh://h/", RemoteFileError::None, "/"},
        {"ssh://h/~/", RemoteFileError::NoPath, ""},
        {"ssh://h/~/a b", RemoteFileError::None, "a b"},
        {"ssh://h/~", RemoteFileError::None, "/~"},
        {"ssh://h//~/a", RemoteFileError::None, "//~/a"},
        {"ssh://@h/p", RemoteFileError::BadUser, ""},
        {"ssh://u@v@h/p", RemoteFileError::BadUser, ""},
        {"ssh://h:0/p", RemoteFileError::BadPort, ""},
        {"ssh://h:1/p", RemoteFileError::None, "/p", 1},
        {"ssh://h:65535/p", RemoteFileError::None, "/p", 65535},
        {"ssh://h:65536/p", RemoteFileError::BadPort, ""},
        {"ssh://h:/p", RemoteFileError::None, "/p"},
        {"ssh://h:2x/p", RemoteFileError::BadPort, ""},
        {"ssh://[::1]:22/p", RemoteFileError::None, "/p", 22},
        {"ssh://[::1/p", RemoteFileError::BadHost, ""},
        {"ssh://[::1]x/p", RemoteFileError::BadHost, ""},
        {"ssh://-oProxyCommand=x/p", RemoteFileError::BadHost, ""},
        {"ssh://h o/p", RemoteFileError::BadHost, ""},
        {"SSH://h/p", RemoteFileError::NoHost, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RemoteFile file;
        EXPECT_EQ(parsed(c.text, file), c.error);
        if (c.error == RemoteFileError::None) {
            EXPECT_EQ(file.path, c.path);
            EXPECT_EQ(file.port, c.port);
        }
    }
    // Only the whole scheme: a local file named ssh:/host/x is reached as it is written.
    EXPECT_TRUE(isRemoteAddress("ssh://"));
    EXPECT_FALSE(isRemoteAddress("ssh:/host/x"));
    EXPECT_FALSE(isRemoteAddress("./ssh://host/x"));
    // Lines of the box.
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"  /var/log/a b.log ", "/var/log/a b.log"},
        {"", ""},
        {"east:/var/log/x", "ssh://east/var/log/x"},
        {"me@east:logs/x", "ssh://me@east/~/logs/x"},
        {"[::1]:/p", "ssh://[::1]/p"},
        {"me@[::1]:p", "ssh://me@[::1]/~/p"},
    };
    for (const auto& [line, entry] : lines) {
        std::string made = "stale";
        EXPECT_EQ(mergedEntryFromLine(line, made), RemoteFileError::None) << line;
        EXPECT_EQ(made, entry) << line;
    }
    for (const auto& [line, error] : std::vector<std::pair<std::string, RemoteFileError>>{
             {"app.log", RemoteFileError::NoHost},
             {"logs/a:b", RemoteFileError::NoHost},
             {"h:", RemoteFileError::NoPath},
             {"@h:p", RemoteFileError::BadUser},
             {"-oProxyCommand=x:p", RemoteFileError::BadHost},
             {"[::1:p", RemoteFileError::NoHost}}) {
        std::string made = "stale";
        EXPECT_EQ(mergedEntryFromLine(line, made), error) << line;
        EXPECT_EQ(made, "") << line;
    }
}

TEST(RemoteAddressTest, NamesOfEntriesAreShortAndDistinct)
{
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
        {{"ssh://east/var/log/app.log", "ssh://me@west:2222/var/log/app.log", "/tmp/app.log"},
         {"east:app.log", "west:app.log", "app.log"}},
        {{"ssh://east/a/x.log", "ssh://east/b/x.log", "ssh://west/a/x.log"},
         {"east:a/x.log", "east:b/x.log", "west:x.log"}},
        {{"ssh://east/~/x.log", "ssh://east/x.log"}, {"east:x.log", "east:/x.log"}},
        {{"ssh://east/a.log", "ssh://east/a.log"}, {"east:/a.log", "east:/a.log"}},
    };
    for (const auto& [entries, names] : cases) {
        EXPECT_EQ(mergedEntryNames(entries), names) << entries.front();
    }
}
