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

namespace {

QUORVEL_PRINTF(3, 0) int format_into(char* out, uint32_t size, const char* format, va_list args)
{
    int length = QUORVEL_VSNPRINTF(out, size, format, args);
    if (length < 0 || uint32_t(length) >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

}  // namespace

int format_path(char* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int formatted = format_into(out, PathBufferSize, format, args);
    va_end(args);
    return formatted;
}

int format_text(char* out, uint32_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int formatted = format_into(out, size, format, args);
    va_end(args);
    return formatted;
}

int join_path(const char* a, const char* b, char* out)
{
    return format_path(out, "%s/%s", a, b);
}
