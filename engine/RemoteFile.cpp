#include "engine/RemoteFile.h"

#include <algorithm>
#include <array>

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A name that ssh takes as one word and never as an option.
bool plainName(std::string_view name, bool atAllowed)
{
    if (name.empty() || name.front() == '-') {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [atAllowed](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f || (!atAllowed && c == '@');
    });
}

bool contains(std::string_view line, std::string_view part)
{
    return line.find(part) != std::string_view::npos;
}

bool startsWith(std::string_view line, std::string_view part)
{
    return line.substr(0, part.size()) == part;
}

} // namespace

RemoteFileError makeRemoteFile(std::string_view host, std::string_view user,
                               std::string_view portText, std::string_view path, RemoteFile& file)
{
    host = trimmed(host);
    user = trimmed(user);
    portText = trimmed(portText);
    // user@host in the host field, as ssh itself is called.
    const std::size_t at = host.rfind('@');
    if (at != std::string_view::npos && user.empty()) {
        user = host.substr(0, at);
        host = host.substr(at + 1);
    }
    if (host.empty()) {
        return RemoteFileError::NoHost;
    }
    if (!plainName(host, false)) {
        return RemoteFileError::BadHost;
    }
    if (!user.empty() && !plainName(user, false)) {
        return RemoteFileError::BadUser;
    }
    int port = 0;
    if (!portText.empty()) {
        if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(),
                                                [](char c) { return c >= '0' && c <= '9'; })) {
            return RemoteFileError::BadPort;
        }
        port = std::stoi(std::string(portText));
        if (port < 1 || port > 65535) {
            return RemoteFileError::BadPort;
        }
    }
    if (path.empty()) {
        return RemoteFileError::NoPath;
    }
    if (path.find('\0') != std::string_view::npos) {
        return RemoteFileError::BadPath;
    }
    file.host = std::string(host);
    file.user = std::string(user);
    file.port = port;
    file.path = std::string(path);
    return RemoteFileError::None;
}

std::string quoteForRemoteShell(std::string_view text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string remoteFollowCommand(const RemoteFile& file)
{
    // env rather than an assignment before the word: it works in every login shell, and
    // tail's messages come in English, as diagnoseSshErrors reads them.
    return "env LC_ALL=C tail -F -n +1 -- " + quoteForRemoteShell(file.path);
}

std::vector<std::string> sshWords(const RemoteFile& file,
                                  const std::vector<std::string>& extraOptions)
{
    // -T: no terminal (the lines come as written); -a, -x: nothing of this desktop reaches
    // the other machine; ClearAllForwardings: forwardings of the user's configuration for
    // this host would only fail beside a second connection.
    std::vector<std::string> words = {
        "ssh", "-T", "-a", "-x", "-o", "BatchMode=yes", "-o", "ClearAllForwardings=yes"};
    words.insert(words.end(), extraOptions.begin(), extraOptions.end());
    // After the extra options: of two values of one option ssh takes the first.
    for (const char* option : {"ServerAliveInterval=15", "ServerAliveCountMax=3"}) {
        words.push_back("-o");
        words.push_back(option);
    }
    if (!file.user.empty()) {
        words.push_back("-l");
        words.push_back(file.user);
    }
    if (file.port != 0) {
        words.push_back("-p");
        words.push_back(std::to_string(file.port));
    }
    words.push_back("--");
    words.push_back(file.host);
    words.push_back(remoteFollowCommand(file));
    return words;
}

std::string remoteFileName(const RemoteFile& file)
{
    return (file.user.empty() ? std::string() : file.user + '@') + file.host + ':' + file.path;
}

namespace {

using Kind = SshFailure::Kind;

// How telling each failure is: the first cause before its consequences (a changed key
// before the verification that failed because of it), ssh's before the remote side's.
int weight(Kind kind)
{
    static constexpr std::array Order = {
        Kind::None,
        Kind::RemoteError,
        Kind::Unreadable,
        Kind::NoSuchFile,
        Kind::ConnectionLost,
        Kind::ConnectionFailed,
        Kind::ConnectionRefused,
        Kind::UnknownHost,
        Kind::PermissionDenied,
        Kind::HostKeyUnknown,
        Kind::HostKeyChanged,
    };
    return static_cast<int>(std::find(Order.begin(), Order.end(), kind) - Order.begin());
}

Kind classify(std::string_view line)
{
    if (startsWith(line, "tail: ")) {
        // Notes of a rotation followed by name: the file goes and comes back.
        if (contains(line, "has become inaccessible") || contains(line, "has appeared") ||
            contains(line, "has been replaced") || contains(line, "file truncated") ||
            contains(line, "inotify")) {
            return Kind::None;
        }
        if (contains(line, "No such file or directory")) {
            return Kind::NoSuchFile;
        }
        if (contains(line, "cannot open") || contains(line, "Permission denied")) {
            return Kind::Unreadable;
        }
        return Kind::RemoteError;
    }
    if (contains(line, "REMOTE HOST IDENTIFICATION HAS CHANGED")) {
        return Kind::HostKeyChanged;
    }
    if (contains(line, "Host key verification failed") ||
        (contains(line, "host key is known for") && contains(line, "strict checking"))) {
        return Kind::HostKeyUnknown;
    }
    if (contains(line, ": Permission denied (")) {
        return Kind::PermissionDenied;
    }
    if (contains(line, "Could not resolve hostname")) {
        return Kind::UnknownHost;
    }
    if (startsWith(line, "ssh: connect to host ")) {
        return contains(line, "Connection refused") ? Kind::ConnectionRefused
                                                    : Kind::ConnectionFailed;
    }
    // The keep-alive gave up, or the host dropped the connection after it was made.
    if ((startsWith(line, "Timeout, server ") && contains(line, "not responding")) ||
        (startsWith(line, "Connection to ") && contains(line, " closed by remote host")) ||
        startsWith(line, "client_loop: send disconnect")) {
        return Kind::ConnectionLost;
    }
    // The remote shell found no tail.
    if (contains(line, "tail: not found") || contains(line, "tail: command not found")) {
        return Kind::RemoteError;
    }
    return Kind::None;
}

} // namespace

SshFailure diagnoseSshErrors(std::string_view errors)
{
    SshFailure failure;
    std::size_t start = 0;
    while (start < errors.size()) {
        std::size_t end = errors.find('\n', start);
        if (end == std::string_view::npos) {
            end = errors.size();
        }
        std::string_view line = errors.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const Kind kind = classify(line);
        if (weight(kind) > weight(failure.kind)) {
            failure.kind = kind;
            failure.line = std::string(line);
        }
        start = end + 1;
    }
    return failure;
}
