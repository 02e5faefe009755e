#include "engine/RemoteAddress.h"

#include "engine/MergedLogs.h"

#include <algorithm>

namespace {

constexpr std::string_view Scheme = "ssh://";
// The path part that names the home folder on the remote side.
constexpr std::string_view Home = "/~/";

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// host, or [host] for an address with colons; the port after a ':' that follows it.
RemoteFileError splitHostPort(std::string_view text, std::string_view& host, std::string_view& port)
{
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return RemoteFileError::BadHost;
        }
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            return RemoteFileError::BadHost;
        }
        port = rest.empty() ? rest : rest.substr(1);
        return RemoteFileError::None;
    }
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    return RemoteFileError::None;
}

} // namespace

bool isRemoteAddress(std::string_view text)
{
    return text.starts_with(Scheme);
}

RemoteFileError parseRemoteAddress(std::string_view text, RemoteFile& file)
{
    text.remove_prefix(std::min(text.size(), Scheme.size()));
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        return RemoteFileError::NoPath;
    }
    std::string_view authority = text.substr(0, slash);
    std::string_view path = text.substr(slash);
    std::string_view user;
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        user = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (user.empty()) {
            return RemoteFileError::BadUser;
        }
    }
    std::string_view host;
    std::string_view port;
    if (const RemoteFileError error = splitHostPort(authority, host, port);
        error != RemoteFileError::None) {
        return error;
    }
    if (path.starts_with(Home)) {
        path.remove_prefix(Home.size());
    }
    return makeRemoteFile(host, user, port, path, file);
}

std::string remoteAddress(const RemoteFile& file)
{
    std::string text(Scheme);
    if (!file.user.empty()) {
        text += file.user + '@';
    }
    text += file.host.find(':') == std::string::npos ? file.host : '[' + file.host + ']';
    if (file.port != 0) {
        text += ':' + std::to_string(file.port);
    }
    // A relative path is in the home folder; an absolute one that reads as the home
    // folder's mark gets a second '/', which names the same file.
    if (file.path.front() != '/') {
        text += Home;
    } else if (file.path.starts_with(Home)) {
        text += '/';
    }
    return text + file.path;
}

RemoteFileError mergedEntryFromLine(std::string_view line, std::string& entry)
{
    line = trimmed(line);
    entry.clear();
    if (line.empty()) {
        return RemoteFileError::None;
    }
    RemoteFile file;
    if (line.front() == '/') {
        entry = std::string(line);
        return RemoteFileError::None;
    }
    if (isRemoteAddress(line)) {
        const RemoteFileError error = parseRemoteAddress(line, file);
        if (error == RemoteFileError::None) {
            entry = remoteAddress(file);
        }
        return error;
    }
    // [user@]host:path, or [user@][address]:path; a '/' before the ':' makes a local path.
    // The user ends at an '@' before any ':' or '/' (the path may hold '@').
    std::size_t at = line.find_first_of("@:/");
    if (at != std::string_view::npos && line[at] != '@') {
        at = std::string_view::npos;
    }
    const std::size_t hostStart = at == std::string_view::npos ? 0 : at + 1;
    const std::size_t close =
        line.substr(hostStart).starts_with("[") ? line.find(']', hostStart) : hostStart;
    const std::size_t colon =
        close == std::string_view::npos ? std::string_view::npos : line.find(':', close);
    if (colon == std::string_view::npos ||
        line.substr(0, colon).find('/') != std::string_view::npos) {
        return RemoteFileError::NoHost;
    }
    std::string_view host = line.substr(hostStart, colon - hostStart);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string_view user =
        at == std::string_view::npos ? std::string_view() : line.substr(0, at);
    if (at != std::string_view::npos && user.empty()) {
        return RemoteFileError::BadUser;
    }
    const RemoteFileError error = makeRemoteFile(host, user, {}, line.substr(colon + 1), file);
    if (error == RemoteFileError::None) {
        entry = remoteAddress(file);
    }
    return error;
}

std::vector<std::string> mergedEntryNames(const std::vector<std::string>& entries)
{
    // The host in front of a remote path's part: the same path on two machines reads
    // host:app.log, not the whole path.
    std::vector<std::string> paths;
    std::vector<std::string> prefixes;
    for (const std::string& entry : entries) {
        RemoteFile file;
        const bool remote =
            isRemoteAddress(entry) && parseRemoteAddress(entry, file) == RemoteFileError::None;
        paths.push_back(remote ? file.path : entry);
        prefixes.push_back(remote ? file.host + ':' : std::string());
    }
    return MergedLogs::shortNames(paths, prefixes);
}
