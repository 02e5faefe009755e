#include "platform/InstanceChannel.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace quill {

namespace {

constexpr std::string_view Magic = "QSIR";
constexpr char TagFile = 'F';
constexpr char TagLine = 'L';
constexpr char TagStandardInput = 'S';
constexpr char TagCommand = 'C';
constexpr char TagFolder = 'D';
constexpr char TagAt = 'T';
constexpr char TagRotated = 'R';
constexpr char TagMerge = 'M';

void putNumber(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

std::uint32_t getNumber(std::string_view bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

void putRecord(std::string& out, char tag, std::string_view value)
{
    out.push_back(tag);
    putNumber(out, static_cast<std::uint32_t>(value.size()));
    out.append(value);
}

bool isAbsolutePath(std::string_view path)
{
    return !path.empty() && path.front() == '/' && path.find('\0') == std::string_view::npos;
}

} // namespace

RuntimeFolderState checkRuntimeFolder(const std::string& folder)
{
    if (folder.empty()) {
        return RuntimeFolderState::Unset;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return RuntimeFolderState::Missing;
    }
    if (!S_ISDIR(st.st_mode)) {
        return RuntimeFolderState::NotAFolder;
    }
    if (st.st_uid != ::geteuid()) {
        return RuntimeFolderState::OtherOwner;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return RuntimeFolderState::OpenToOthers;
    }
    return RuntimeFolderState::Safe;
}

std::string displayTag(const char* waylandDisplay, const char* display)
{
    const char* name = waylandDisplay != nullptr && *waylandDisplay != '\0' ? waylandDisplay
                       : display != nullptr && *display != '\0'             ? display
                                                                            : nullptr;
    if (name == nullptr) {
        return "none";
    }
    // Which of the two it is belongs to the name: WAYLAND_DISPLAY=":0" is not X11's ":0".
    std::string tag = name == waylandDisplay ? "wl-" : "x-";
    static constexpr char HexDigits[] = "0123456789abcdef";
    for (const char* p = name; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-') {
            tag.push_back(static_cast<char>(c));
        } else {
            tag.push_back('_');
            tag.push_back(HexDigits[c >> 4]);
            tag.push_back(HexDigits[c & 0xF]);
        }
    }
    return tag;
}

std::string instanceSocketPath(const char* runtimeFolder, const char* waylandDisplay,
                               const char* display)
{
    const std::string folder = runtimeFolder != nullptr ? runtimeFolder : "";
    if (checkRuntimeFolder(folder) != RuntimeFolderState::Safe) {
        return {};
    }
    std::string path = folder;
    if (path.back() != '/') {
        path.push_back('/');
    }
    path += "quillstream-" + displayTag(waylandDisplay, display) + ".socket";
    // sun_path holds the name and its terminating NUL.
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        return {};
    }
    return path;
}

std::string encodeRequest(const InstanceRequest& request)
{
    std::string body;
    for (const InstanceFile& file : request.files) {
        putRecord(body, TagFile, file.path);
        if (file.line) {
            std::string number;
            putNumber(number, *file.line);
            putRecord(body, TagLine, number);
        }
        if (file.withRotated) {
            putRecord(body, TagRotated, {});
        }
    }
    if (request.standardInput) {
        putRecord(body, TagStandardInput, {});
    }
    if (request.command) {
        putRecord(body, TagCommand, *request.command);
    }
    if (!request.folder.empty()) {
        putRecord(body, TagFolder, request.folder);
    }
    if (request.at) {
        putRecord(body, TagAt, *request.at);
    }
    // Only when set: a request without it reads as it always did.
    if (request.merge) {
        putRecord(body, TagMerge, {});
    }
    std::string message(Magic);
    message.push_back(static_cast<char>(RequestVersion));
    putNumber(message, static_cast<std::uint32_t>(body.size()));
    return message + body;
}

DecodedRequest decodeRequest(std::string_view bytes)
{
    DecodedRequest result;
    const auto bad = [&result] {
        result.state = DecodeState::Bad;
        result.request = {};
        return result;
    };
    // Garbage is told at its first byte, not after waiting for a header it never sends.
    if (bytes.substr(0, Magic.size()) != Magic.substr(0, std::min(bytes.size(), Magic.size()))) {
        return bad();
    }
    if (bytes.size() > Magic.size() &&
        static_cast<std::uint8_t>(bytes[Magic.size()]) != RequestVersion) {
        return bad();
    }
    if (bytes.size() < RequestHeaderBytes) {
        return result;
    }
    const std::uint32_t length = getNumber(bytes.substr(Magic.size() + 1));
    if (length > MaxRequestBytes - RequestHeaderBytes) {
        return bad();
    }
    if (bytes.size() < RequestHeaderBytes + length) {
        return result;
    }
    if (bytes.size() > RequestHeaderBytes + length) {
        return bad();
    }
    std::string_view body = bytes.substr(RequestHeaderBytes);
    InstanceRequest& request = result.request;
    bool lineAllowed = false;
    bool folderSeen = false;
    while (!body.empty()) {
        if (body.size() < 5) {
            return bad();
        }
        const char tag = body[0];
        const std::uint32_t size = getNumber(body.substr(1));
        if (size > body.size() - 5) {
            return bad();
        }
        const std::string_view value = body.substr(5, size);
        body.remove_prefix(5 + std::size_t(size));
        switch (tag) {
        case TagFile:
            if (!isAbsolutePath(value)) {
                return bad();
            }
            request.files.push_back({std::string(value), std::nullopt});
            lineAllowed = true;
            continue;
        case TagLine:
            if (!lineAllowed || value.size() != 4 || request.files.back().line) {
                return bad();
            }
            request.files.back().line = getNumber(value);
            // The rotated files' record may still follow the line's.
            continue;
        case TagRotated:
            if (!lineAllowed || !value.empty() || request.files.back().withRotated) {
                return bad();
            }
            request.files.back().withRotated = true;
            continue;
        case TagStandardInput:
            if (request.standardInput || !value.empty()) {
                return bad();
            }
            request.standardInput = true;
            break;
        case TagCommand:
            if (request.command || value.find('\0') != std::string_view::npos) {
                return bad();
            }
            request.command = std::string(value);
            break;
        case TagFolder:
            if (folderSeen || !isAbsolutePath(value)) {
                return bad();
            }
            folderSeen = true;
            request.folder = std::string(value);
            break;
        case TagAt:
            if (request.at || value.find('\0') != std::string_view::npos) {
                return bad();
            }
            request.at = std::string(value);
            break;
        case TagMerge:
            if (request.merge || !value.empty()) {
                return bad();
            }
            request.merge = true;
            break;
        default:
            return bad();
        }
        lineAllowed = false;
    }
    result.state = DecodeState::Complete;
    return result;
}

SendResult sendRequest(const std::string& path, const std::string& message, int fd, int timeoutMs)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path) || message.empty()) {
        return SendResult::Failed;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        return SendResult::Failed;
    }
    // A window that hangs must not keep this process waiting: connect, send and the answer
    // each give up after the timeout.
    timeval limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (::connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno;
        ::close(sock);
        return error == ECONNREFUSED || error == ENOENT ? SendResult::NoListener
                                                        : SendResult::Failed;
    }
    std::size_t sent = 0;
    bool ok = true;
    while (ok && sent < message.size()) {
        iovec part{const_cast<char*>(message.data() + sent), message.size() - sent};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        if (sent == 0 && fd >= 0) {
            header.msg_control = control;
            header.msg_controllen = sizeof(control);
            cmsghdr* item = CMSG_FIRSTHDR(&header);
            item->cmsg_level = SOL_SOCKET;
            item->cmsg_type = SCM_RIGHTS;
            item->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(item), &fd, sizeof(int));
        }
        const ssize_t n = ::sendmsg(sock, &header, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            ok = false;
        }
    }
    char answer = 0;
    ssize_t got = -1;
    while (ok && (got = ::recv(sock, &answer, 1, 0)) < 0 && errno == EINTR) {
    }
    ::close(sock);
    return ok && got == 1 && answer == RequestTaken ? SendResult::Taken : SendResult::Failed;
}

long receiveSome(int socket, std::string& buffer, int* fd)
{
    char data[4096];
    iovec part{data, sizeof(data)};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    ssize_t n = 0;
    while ((n = ::recvmsg(socket, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC)) < 0 &&
           errno == EINTR) {
    }
    for (cmsghdr* item = CMSG_FIRSTHDR(&header); n >= 0 && item != nullptr;
         item = CMSG_NXTHDR(&header, item)) {
        if (item->cmsg_level != SOL_SOCKET || item->cmsg_type != SCM_RIGHTS) {
            continue;
        }
        const std::size_t count = (item->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received = -1;
            std::memcpy(&received, CMSG_DATA(item) + i * sizeof(int), sizeof(int));
            // One descriptor a request; any more would only leak.
            if (fd != nullptr && *fd < 0) {
                *fd = received;
            } else {
                ::close(received);
            }
        }
    }
    if (n > 0) {
        buffer.append(data, std::size_t(n));
    }
    return n;
}

int lockInstance(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return -1;
    }
    int locked = 0;
    while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace quill
