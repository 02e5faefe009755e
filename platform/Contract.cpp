#include "platform/Contract.h"

#include <cstdio>
#include <cstdlib>

namespace quill {

void contractBroken(const char* condition, const char* file, int line) noexcept
{
    std::fprintf(stderr, "contract broken: %s at %s:%d\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

} // namespace quill
