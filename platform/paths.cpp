#include "platform/paths.h"

#include <cstdarg>
#include <cstdio>

#ifdef _WIN32
// The system runtime's own formatter, enough for the plain %s that paths
// use; the C99 one the toolchain would link in costs over 20 KB. Where the
// result does not fit it returns -1, or the full size without a
// terminator; both fail below.
#define QUORVEL_VSNPRINTF _vsnprintf
#else
#define QUORVEL_VSNPRINTF std::vsnprintf
#endif

int format_path(char* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = QUORVEL_VSNPRINTF(out, PathBufferSize, format, args);
    va_end(args);
    if (length < 0 || uint32_t(length) >= PathBufferSize) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int join_path(const char* a, const char* b, char* out)
{
    return format_path(out, "%s/%s", a, b);
}
