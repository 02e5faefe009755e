#pragma once

// A file on another machine, followed through the system's ssh client: what the user names
// (host, optional user and port, path), the words ssh is started with, and what ssh's
// standard error says when it fails. Pure; any thread.
//
// ssh runs without a local shell (its own words, engine/LogSource.h), but the remote side
// always runs its command through the user's shell there, so the path is quoted for that
// shell: one single-quoted word, each ' in it written '\''. tail -F follows the path by name
// from its first line on, across rotation, and waits for a file that is not there yet.
// ssh runs in batch mode: a key or an agent, never a password prompt, and a host key that
// is not known already is refused rather than accepted (StrictHostKeyChecking stays as the
// user's configuration has it).

#include <string>
#include <string_view>
#include <vector>

struct RemoteFile {
    std::string host;
    std::string user; // empty: ssh's own choice (the configuration, else the local user)
    int port = 0;     // 0: ssh's own choice
    std::string path;
};

enum class RemoteFileError {
    None,
    NoHost,  // the host is empty
    BadHost, // blanks, control characters, or a leading '-' (ssh would take it for an option)
    BadUser, // blanks, control characters, '@' or a leading '-'
    BadPort, // not a number from 1 to 65535
    NoPath,  // the path is empty
    BadPath, // a NUL byte, which no path holds
};

// Trims the blanks around host, user and port text; the path is kept exactly as given.
// portText: empty for ssh's choice.
RemoteFileError makeRemoteFile(std::string_view host, std::string_view user,
                               std::string_view portText, std::string_view path, RemoteFile& file);

// text as one word of a POSIX shell: 'text', with each ' written '\''.
std::string quoteForRemoteShell(std::string_view text);

// The command the remote shell runs: tail -F -n +1 -- 'path'.
std::string remoteFollowCommand(const RemoteFile& file);

// ssh's words: batch mode, no terminal, no forwarding, extraOptions (the tests' own
// configuration; users never give any), keep-alive probes (a host that stops answering ends
// ssh after about 45 seconds instead of never), then -- host and the remote command.
std::vector<std::string> sshWords(const RemoteFile& file,
                                  const std::vector<std::string>& extraOptions = {});

// What a tab and the title call it: host:path (user@host:path when a user was given).
std::string remoteFileName(const RemoteFile& file);

// Why following failed, as far as ssh's (and the remote tail's) standard error tells.
struct SshFailure {
    enum class Kind {
        None,              // nothing said that stops the following
        UnknownHost,       // the host name cannot be resolved
        ConnectionRefused, // nothing listens on the port
        ConnectionFailed,  // another reason the connection could not be made (line)
        HostKeyChanged,    // the host's key differs from the one known for it
        HostKeyUnknown,    // no key is known for the host and batch mode accepts none
        PermissionDenied,  // no key or agent identity was accepted
        NoSuchFile,        // the remote file is not there (tail waits for it)
        Unreadable,        // the remote file cannot be read (tail's own reason in line)
        ConnectionLost,    // the connection was made, then the host stopped answering or
                           // dropped it (ssh's keep-alive gave up)
        RemoteError,       // another complaint of the remote side (line)
    };
    Kind kind = Kind::None;
    std::string line; // the line that told it, as ssh or tail wrote it
};

// Reads ssh's standard error, line by line; the most telling failure wins (a changed host
// key over the verification failure it causes). tail's notes while it follows a rotation
// ("has become inaccessible", "has appeared", "has been replaced") are no failure.
SshFailure diagnoseSshErrors(std::string_view errors);
