// A remote file's quoting against the shell itself (the remote side runs the command through
// one), with hostile and random paths; what is refused before ssh ever runs; and ssh's and
// tail's own error lines, as they write them, read into the failure they tell.

#include "engine/RemoteFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// What /bin/sh makes of "printf %s WORD": the word the remote shell would hand to tail.
std::string throughShell(const std::string& word)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        return "<no pipe>";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string script = "printf %s " + word;
    const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    ssize_t got;
    while (spawned == 0 && (got = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    if (spawned == 0) {
        ::waitpid(pid, &status, 0);
    }
    return out;
}

TEST(RemoteFile, HostilePathsReachTheRemoteShellAsOneUnchangedWord)
{
    const std::vector<std::string> paths = {
        "/var/log/app.log",
        "/var/log/my app.log",
        "it's",
        "'",
        "''",
        "a'\\''b",
        "$(touch /tmp/quillstream-pwned)",
        "`id`",
        "a; rm -rf ~",
        "line\nbreak",
        "-n",
        "--",
        "\\",
        "*",
        "~root/x",
        "\"$HOME\"",
        "a\tb",
        "\xc3\xa4\xe2\x82\xac",
    };
    for (const std::string& path : paths) {
        EXPECT_EQ(throughShell(quoteForRemoteShell(path)), path) << path;
    }
    // Random bytes but NUL, which no path holds.
    std::mt19937 random(20261210);
    for (int round = 0; round < 200; ++round) {
        std::string path(random() % 24, ' ');
        for (char& c : path) {
            c = static_cast<char>(1 + random() % 255);
        }
        ASSERT_EQ(throughShell(quoteForRemoteShell(path)), path) << "round " << round;
    }
}

TEST(RemoteFile, SshIsGivenTheHostAfterItsOptionsAndTheQuotedCommandLast)
{
    RemoteFile file;
    ASSERT_EQ(makeRemoteFile(" alice@db1 ", "", " 2222 ", "-x 'y'", file), RemoteFileError::None);
    EXPECT_EQ(file.user, "alice");
    EXPECT_EQ(file.host, "db1");
    EXPECT_EQ(file.port, 2222);
    EXPECT_EQ(file.path, "-x 'y'"); // kept exactly, blanks and all
    const std::vector<std::string> words = sshWords(file, {"-F", "/tmp/config"});
    ASSERT_GE(words.size(), 4u);
    EXPECT_EQ(words.front(), "ssh");
    // Batch mode before anything a configuration could override on the command line.
    const std::vector<std::string> batch = {"-o", "BatchMode=yes"};
    EXPECT_NE(std::search(words.begin(), words.end(), batch.begin(), batch.end()), words.end());
    for (const std::string& word : words) {
        EXPECT_EQ(word.find("StrictHostKeyChecking"), std::string::npos) << word;
    }
    const std::vector<std::string> tail(words.end() - 3, words.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"--", "db1",
                                              "env LC_ALL=C tail -F -n +1 -- '-x '\\''y'\\'''"}));
    const std::vector<std::string> extra = {"-F", "/tmp/config"};
    const auto extraAt = std::search(words.begin(), words.end(), extra.begin(), extra.end());
    EXPECT_NE(extraAt, words.end());
    // A host that stops answering ends ssh; the extra options come first, so theirs win.
    const std::vector<std::string> alive = {"-o", "ServerAliveInterval=15", "-o",
                                            "ServerAliveCountMax=3"};
    EXPECT_GT(std::search(words.begin(), words.end(), alive.begin(), alive.end()), extraAt);
    const std::vector<std::string> login = {"-l", "alice", "-p", "2222"};
    EXPECT_NE(std::search(words.begin(), words.end(), login.begin(), login.end()), words.end());
    EXPECT_EQ(remoteFileName(file), "alice@db1:-x 'y'");

    RemoteFile plain;
    ASSERT_EQ(makeRemoteFile("db1", "", "", "/a", plain), RemoteFileError::None);
    const std::vector<std::string> plainWords = sshWords(plain);
    EXPECT_EQ(std::count(plainWords.begin(), plainWords.end(), "-l"), 0);
    EXPECT_EQ(std::count(plainWords.begin(), plainWords.end(), "-p"), 0);
    EXPECT_EQ(remoteFileName(plain), "db1:/a");
}

TEST(RemoteFile, NamesSshCouldTakeForOptionsOrSplitAreRefused)
{
    struct Case {
        const char* host;
        const char* user;
        const char* port;
        std::string path;
        RemoteFileError error;
    };
    const std::vector<Case> cases = {
        {"", "", "", "/a", RemoteFileError::NoHost},
        {"  ", "", "", "/a", RemoteFileError::NoHost},
        {"alice@", "", "", "/a", RemoteFileError::NoHost},
        {"-oProxyCommand=touch /tmp/x", "", "", "/a", RemoteFileError::BadHost},
        {"-h", "", "", "/a", RemoteFileError::BadHost},
        {"db 1", "", "", "/a", RemoteFileError::BadHost},
        {"db\n1", "", "", "/a", RemoteFileError::BadHost},
        {"db\x7f", "", "", "/a", RemoteFileError::BadHost},
        {"a@b", "carol", "", "/a", RemoteFileError::BadHost}, // two users
        {"db", "-oProxyCommand=x", "", "/a", RemoteFileError::BadUser},
        {"db", "a b", "", "/a", RemoteFileError::BadUser},
        {"db", "a@b", "", "/a", RemoteFileError::BadUser},
        {"-x@db", "", "", "/a", RemoteFileError::BadUser},
        {"db", "", "0", "/a", RemoteFileError::BadPort},
        {"db", "", "65536", "/a", RemoteFileError::BadPort},
        {"db", "", "999999", "/a", RemoteFileError::BadPort},
        {"db", "", "-22", "/a", RemoteFileError::BadPort},
        {"db", "", "22a", "/a", RemoteFileError::BadPort},
        {"db", "", "+22", "/a", RemoteFileError::BadPort},
        {"db", "", "22", "", RemoteFileError::NoPath},
        {"db", "", "22", std::string("/a\0b", 4), RemoteFileError::BadPath},
        {"db", "", "1", "/a", RemoteFileError::None},
        {"db", "", "65535", "/a", RemoteFileError::None},
        {"::1", "", "", " ", RemoteFileError::None},
    };
    for (const Case& c : cases) {
        RemoteFile file;
        EXPECT_EQ(makeRemoteFile(c.host, c.user, c.port, c.path, file), c.error)
            << c.host << " / " << c.user << " / " << c.port;
    }
}

TEST(RemoteFile, SshsOwnLinesTellWhyItFailed)
{
    using Kind = SshFailure::Kind;
    struct Case {
        const char* errors;
        Kind kind;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"", Kind::None, ""},
        {"ssh: Could not resolve hostname nohost.invalid: Name or service not known\n",
         Kind::UnknownHost,
         "ssh: Could not resolve hostname nohost.invalid: Name or service not known"},
        {"ssh: connect to host 127.0.0.1 port 1: Connection refused\r\n", Kind::ConnectionRefused,
         "ssh: connect to host 127.0.0.1 port 1: Connection refused"},
        {"ssh: connect to host 10.0.0.9 port 22: Connection timed out\n", Kind::ConnectionFailed,
         "ssh: connect to host 10.0.0.9 port 22: Connection timed out"},
        {"alice@127.0.0.1: Permission denied (publickey).\n", Kind::PermissionDenied,
         "alice@127.0.0.1: Permission denied (publickey)."},
        {"No ED25519 host key is known for [127.0.0.1]:2222 and you have requested strict "
         "checking.\nHost key verification failed.\n",
         Kind::HostKeyUnknown,
         "No ED25519 host key is known for [127.0.0.1]:2222 and you have requested strict "
         "checking."},
        {"Host key verification failed.\n", Kind::HostKeyUnknown, "Host key verification failed."},
        // The banner of a changed key ends in the verification failure it causes.
        {"@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
         "@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @\n"
         "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
         "IT IS POSSIBLE THAT SOMEONE IS DOING SOMETHING NASTY!\n"
         "Host key verification failed.\n",
         Kind::HostKeyChanged, "@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @"},
        {"tail: cannot open '/var/log/x' for reading: No such file or directory\n",
         Kind::NoSuchFile, "tail: cannot open '/var/log/x' for reading: No such file or directory"},
        {"tail: cannot open '/root/x' for reading: Permission denied\n", Kind::Unreadable,
         "tail: cannot open '/root/x' for reading: Permission denied"},
        {"sh: 1: tail: not found\n", Kind::RemoteError, "sh: 1: tail: not found"},
        // A rotation followed by name: notes, no failure, even with Permission in a name.
        {"tail: '/var/log/a' has become inaccessible: No such file or directory\n"
         "tail: '/var/log/a' has appeared;  following new file\n"
         "tail: '/var/log/a' has been replaced;  following new file\n"
         "tail: /var/log/a: file truncated\n"
         "Warning: Permanently added '[127.0.0.1]:2222' (ED25519) to the list of known hosts.\n"
         "Welcome to db1. Permission denied to strangers.\n",
         Kind::None, ""},
        // The remote side's complaint comes after the connection was made: ssh's own wins
        // over it only where ssh failed.
        {"tail: cannot open 'x' for reading: No such file or directory\n"
         "alice@h: Permission denied (publickey,password).\n",
         Kind::PermissionDenied, "alice@h: Permission denied (publickey,password)."},
        // The keep-alive gave up, or the host dropped the connection, after lines came.
        {"tail: '/var/log/a' has appeared;  following new file\n"
         "Timeout, server db1 not responding.\n",
         Kind::ConnectionLost, "Timeout, server db1 not responding."},
        {"Connection to db1 closed by remote host.\n", Kind::ConnectionLost,
         "Connection to db1 closed by remote host."},
        {"Timeout, server db1 is fine\n", Kind::None, ""},
        {"no newline at the end: Host key verification failed.", Kind::HostKeyUnknown,
         "no newline at the end: Host key verification failed."},
    };
    for (const Case& c : cases) {
        const SshFailure failure = diagnoseSshErrors(c.errors);
        EXPECT_EQ(failure.kind, c.kind) << c.errors;
        EXPECT_EQ(failure.line, c.line) << c.errors;
    }
}

} // namespace
