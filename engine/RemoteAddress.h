#pragma once

// A file on another machine written as one word, as the command line and a merged tab's
// list name it: ssh://[user@]host[:port]/path. A path that starts with /~/ is in the user's
// home folder there (ssh://host/~/logs/app.log follows logs/app.log); an IPv6 address is
// written in brackets (ssh://[::1]/var/log/syslog). The path is taken byte for byte: no
// percent escapes, so a file named a%20b is written as it is. Pure; any thread.

#include "engine/RemoteFile.h"

#include <string>
#include <string_view>
#include <vector>

// Whether text is written as a remote file (starts with ssh://). A local file of that name
// is reached through its folder: ./ssh:/host/path.
bool isRemoteAddress(std::string_view text);

// Reads text (which isRemoteAddress) into file; the reasons are makeRemoteFile's, NoPath also
// when no '/' ends the host.
RemoteFileError parseRemoteAddress(std::string_view text, RemoteFile& file);

// file written as an address that parseRemoteAddress reads back (its host and user hold no '/').
std::string remoteAddress(const RemoteFile& file);

// One line of File > Follow Remote Files Merged as the entry a merged tab opens: a full
// local path as it is, an address, or host:path and user@host:path as scp reads them (a path
// without '/' in front is in the home folder there) turned into an address. Blanks around the
// line are dropped; an empty line gives an empty entry and None. A line that is neither (a
// relative local path, a ':' only after a '/') gives NoHost.
RemoteFileError mergedEntryFromLine(std::string_view line, std::string& entry);

// The short name of each entry of a merged tab for its name column, as
// MergedLogs::shortNames gives them, a remote file's with its host in front: host:app.log
// for the same path on several machines, host:a/app.log beside host:b/app.log.
std::vector<std::string> mergedEntryNames(const std::vector<std::string>& entries);
