#include "platform/ThreadName.h"

#include <cstring>
#include <pthread.h>

namespace quill {

void nameThisThread(const char* name)
{
    char cut[16] = {};
    std::strncpy(cut, name, sizeof cut - 1);
    // Only a name of more than 15 bytes fails, and it cannot here.
    ::pthread_setname_np(::pthread_self(), cut);
}

} // namespace quill
