#include "platform/AtomicFile.h"

#include "platform/ReplacingFile.h"

#include <sys/stat.h>

#include <cerrno>

namespace quill {

bool ensurePrivateFolder(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos == folder.size() || folder[pos] == '/') {
            const std::string part = folder.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool replaceFileAtomically(const std::string& path, std::string_view bytes)
{
    ReplacingFile file;
    if (file.begin(path, ReplacingFile::Permissions::Private) &&
        file.write(bytes.data(), bytes.size()) && file.commit()) {
        return true;
    }
    errno = file.error();
    return false;
}

} // namespace quill
