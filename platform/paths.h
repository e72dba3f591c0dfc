// Path strings as the installer builds them: NUL-terminated, in fixed
// buffers, with "\\" and "/" both separating folders.
#pragma once

#include <cstdint>

constexpr uint32_t PathBufferSize = 2048;

#if defined(__GNUC__)
#define QUORVEL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define QUORVEL_PRINTF(f, a)
#endif

// snprintf into a PathBufferSize buffer. Returns 0, leaving it empty, when
// the result would not fit: a cut path could name some other file.
int format_path(char* out, const char* format, ...) QUORVEL_PRINTF(2, 3);

// format_path into a buffer of size bytes, for texts that hold a path.
int format_text(char* out, uint32_t size, const char* format, ...) QUORVEL_PRINTF(3, 4);

// out = a + "/" + b, or empty with 0 returned when that does not fit.
int join_path(const char* a, const char* b, char* out);
