// The open-file record both file layers share, and the one call on the byte
// path, inline: a byte goes into the record's own buffer, and the runtime's
// stream sees whole buffers.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/paths.h"

namespace platform {

constexpr uint32_t FileBufferSize = 16384;
// A staging file is its target's path plus this suffix.
constexpr char StagingSuffix[] = ".quorvel-part";
constexpr uint32_t StagingPathSize = PathBufferSize + sizeof StagingSuffix;

struct File {
    FILE* stream;
    int in_use;
    int text;                            // opened "r"; CR LF reads as LF
    int failed;                          // a read or write failed; for "wb", fclose will fail
    uint32_t buffered;                   // bytes waiting in buffer
    unsigned char buffer[FileBufferSize];
    char target[PathBufferSize];         // where a "wb" file lands on fclose
    char staging[StagingPathSize];       // where its bytes are written first
    uint64_t staged_device;              // the staging file this run wrote and flushed
    uint64_t staged_inode;               // (POSIX), which alone may land
};

#ifdef QUORVEL_FAULTS
// The test build's seam: the layer's calls are counted, and the one whose
// number is fail_at fails as the system would make it fail. Just before
// call number act_at, act runs, as the world outside goes on meanwhile.
struct FaultPlan {
    uint32_t fail_at;   // 0: none fails
    uint32_t calls;
    uint32_t act_at;    // 0: nothing happens
    void (*act)();
};
extern FaultPlan Faults;
inline int fault_now()
{
    if (++Faults.calls == Faults.act_at && Faults.act)
        Faults.act();
    return Faults.calls == Faults.fail_at;
}
#else
constexpr int fault_now()
{
    return 0;
}
#endif

// Hands the buffered bytes to the runtime's stream. Returns 0 once a write
// has failed.
int flush_file(File* file);

// The byte, or -1 on failure.
inline int fputc(int byte, File* file)
{
    if (fault_now() || (file->buffered == FileBufferSize && !flush_file(file))) {
        file->failed = 1;
        return -1;
    }
    file->buffer[file->buffered++] = static_cast<unsigned char>(byte);
    return byte;
}

// fputc for each of count bytes in turn, with the record's count kept out of
// memory between them. Returns 1, or 0 on the first failure.
int fputc_each(const unsigned char* bytes, uint32_t count, File* file);

}  // namespace platform
