#include "platform/TempFolder.h"

#include <cstdlib>

namespace quill {

std::string tempFolder()
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

} // namespace quill
