#pragma once

// The channel between a second start of the program and the window already running for the
// same user on the same display: where its socket lives, the request it carries and the
// sending of that request with standard input's descriptor attached.
//
// The socket lives in the user's runtime folder ($XDG_RUNTIME_DIR), which must be a folder
// of the user's own that nobody else may enter; any other folder gives no socket, and the
// program then runs alone. Its name carries the display, so that another display, another
// user or another runtime folder is never reached.
//
// A request is a small message: the magic "QSIR", a version byte, the body's length (four
// bytes, most significant first, at most MaxRequestBytes) and the body, records of a tag
// byte, a four-byte length and that many bytes. Standard input travels as the descriptor
// itself (SCM_RIGHTS): the second process ends at once, and the running one reads the pipe
// or file as its own, to its end, however long the writer keeps writing.
// Pure functions but sendRequest and receiveSome; any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

inline constexpr std::size_t MaxRequestBytes = 1 << 20;
inline constexpr std::size_t RequestHeaderBytes = 9;
inline constexpr std::uint8_t RequestVersion = 1;
// The running window's answer once it has taken the request.
inline constexpr char RequestTaken = 'K';

enum class RuntimeFolderState { Safe, Unset, Missing, NotAFolder, OtherOwner, OpenToOthers };

// lstat(2) of folder: a link is not a folder here.
RuntimeFolderState checkRuntimeFolder(const std::string& folder);

// The display's name as a part of a file name: letters, digits, '.' and '-' stay, every
// other byte becomes "_XX" (hexadecimal), so that two names never meet. Wayland's name
// wins over X11's (XWayland sets both); none: "none".
std::string displayTag(const char* waylandDisplay, const char* display);

// runtimeFolder/quillstream-<tag>.socket, or empty when the folder is not safe or the path
// does not fit a socket's address.
std::string instanceSocketPath(const char* runtimeFolder, const char* waylandDisplay,
                               const char* display);

struct InstanceFile {
    std::string path; // absolute, bytes
    std::optional<std::uint32_t> line;
    // Opened with the rotated files beside it (--with-rotated).
    bool withRotated = false;
    bool operator==(const InstanceFile&) const = default;
};

struct InstanceRequest {
    std::vector<InstanceFile> files;
    // Standard input's descriptor comes with the request.
    bool standardInput = false;
    std::optional<std::string> command;
    // The second process's working folder, where its command runs.
    std::string folder;
    // --at's text, as typed: the window shows the first file at that time.
    std::optional<std::string> at;
    // --merge: the files open in one tab, their lines merged by time.
    bool merge = false;
    bool operator==(const InstanceRequest&) const = default;
};

std::string encodeRequest(const InstanceRequest& request);

enum class DecodeState { Incomplete, Complete, Bad };
struct DecodedRequest {
    DecodeState state = DecodeState::Incomplete;
    InstanceRequest request;
};
// bytes: what has arrived so far. Bad for a wrong magic or version, a length over the
// limit, an unknown tag, a relative or empty path, a line without its file, bytes past the
// end or a NUL where a path or command cannot hold one.
DecodedRequest decodeRequest(std::string_view bytes);

enum class SendResult { Taken, NoListener, Failed };
// Connects to path, sends message with fd attached (-1: none) and waits up to timeoutMs for
// the answer. NoListener: nobody listens there (no socket, or one left by a process that
// ended): the caller may take the place.
SendResult sendRequest(const std::string& path, const std::string& message, int fd, int timeoutMs);

// Reads what socket has (non-blocking) onto buffer; a descriptor that comes along goes to
// *fd when that is -1, else it is closed. Returns the bytes read, 0 at the end, -1 on an
// error (EAGAIN included; errno tells).
long receiveSome(int socket, std::string& buffer, int* fd);

// An exclusive lock on path (created 0600), held while the descriptor is open: the check
// for a running window and the taking of its place happen under it. -1 when it fails.
int lockInstance(const std::string& path);

} // namespace quill
