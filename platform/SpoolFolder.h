#pragma once

// Spools: private files that hold what arrives from a pipe, a command or a decompressed
// archive, so the document can follow them as any file. They live in one folder of the
// user's cache directory ($XDG_CACHE_HOME/quillstream/spool, default ~/.cache/...), on disk
// rather than in the runtime directory's memory-backed file system, because a pipe may
// bring gigabytes.
//
// The folder is used only when it is a real directory (not a link) owned by the user with
// no access for anyone else; each spool is created there with O_CREAT|O_EXCL|O_NOFOLLOW and
// mode 0600 relative to the verified folder's descriptor, so nothing planted under a name
// can redirect the writes. A spool's name carries its process's id and that process's start
// time ("<pid>-<start>-<serial>.spool"), so a spool left by a crash is told apart from one
// of a running copy even after the process id was reused. All functions are thread-safe.

#include <cstdint>
#include <string>
#include <string_view>

namespace quill {

struct SpoolFile {
    int fd = -1;      // read-write, close-on-exec; owned by the caller
    std::string path; // absolute
    int error = 0;    // errno of the failed step; EPERM for a folder that is not private

    explicit operator bool() const { return fd >= 0; }
};

// The default folder from the environment, read at each call.
std::string spoolFolderPath();

// Creates the folder (and missing parents) and checks that it is private. 0 or an errno
// (EPERM: a link, another owner, or access for group or others; ENOTDIR: not a directory).
int prepareSpoolFolder(const std::string& folder);

// Why a folder is not private enough for spools (prepareSpoolFolder's EPERM), for the
// message that refuses it. mode: the folder's permission bits.
struct SpoolFolderFault {
    enum class Kind { None, Link, OtherOwner, OpenToOthers };
    Kind kind = Kind::None;
    unsigned mode = 0;
};
SpoolFolderFault spoolFolderFault(const std::string& folder);

// A new empty spool in a prepared folder.
SpoolFile createSpool(const std::string& folder);

// Whether a spool name belongs to a process that no longer runs (or to an earlier process
// of the same id). Names that are not spool names are never stale.
bool isStaleSpoolName(std::string_view name);

// Removes the stale spools of the folder (only regular files named as spools); returns how
// many went. A folder that is missing or not private is left alone.
int removeStaleSpools(const std::string& folder);

// Bytes an unprivileged user may still write on the file system of fd; -1 when unknown.
std::int64_t freeBytesOf(int fd);

// What a spool keeps free on its file system: 2% of its size, but at least 64 MiB and at
// most 1 GiB. A spool that would leave less stops there.
std::int64_t spoolReserveBytes(int fd);

} // namespace quill
