#include "platform/paths.h"

#include <cstdarg>
#include <cstdio>

int format_path(char* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(out, PathBufferSize, format, args);
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
