#include <cstdio>
#include <cstring>

#include "platform/files_common.h"
#include "platform/platform.h"

namespace platform {

#ifdef QUORVEL_FAULTS
FaultPlan Faults;
#endif

namespace {

// The installer holds at most one file open at a time; a few spare records
// keep a leaked handle from stopping the next open.
File Files[4];

}  // namespace

File* take_file()
{
    for (File& file : Files)
        if (!file.in_use) {
            file.in_use = 1;
            file.stream = nullptr;
            file.text = 0;
            file.failed = 0;
            file.buffered = 0;
            return &file;
        }
    return nullptr;
}

void give_back(File* file)
{
    file->in_use = 0;
    file->stream = nullptr;
}

int name_staging(File* file, const char* path)
{
    size_t length = std::strlen(path);
    if (length >= PathBufferSize)
        return 0;
    std::memcpy(file->target, path, length + 1);
    std::memcpy(file->staging, path, length);
    std::memcpy(file->staging + length, StagingSuffix, sizeof StagingSuffix);
    return 1;
}

int flush_file(File* file)
{
    if (file->buffered > 0 && !file->failed &&
        std::fwrite(file->buffer, 1, file->buffered, file->stream) != file->buffered)
        file->failed = 1;
    file->buffered = 0;
    return !file->failed;
}

int fputc_each(const unsigned char* bytes, uint32_t count, File* file)
{
    while (count > 0) {
        if (file->buffered == FileBufferSize && !flush_file(file))
            return 0;
        uint32_t room = FileBufferSize - file->buffered;
        uint32_t run = count < room ? count : room;
        unsigned char* to = file->buffer + file->buffered;
#ifdef QUORVEL_FAULTS
        for (uint32_t j = 0; j < run; j++) {
            if (fault_now()) {
                file->buffered += j;
                file->failed = 1;
                return 0;
            }
            to[j] = bytes[j];
        }
#else
        // Whole buffers' worth with nothing waiting go to the file uncopied.
        if (file->buffered == 0 && count >= FileBufferSize) {
            run = count - count % FileBufferSize;
            if (file->failed || std::fwrite(bytes, 1, run, file->stream) != run) {
                file->failed = 1;
                return 0;
            }
            bytes += run;
            count -= run;
            continue;
        }
        std::memcpy(to, bytes, run);
#endif
        file->buffered += run;
        bytes += run;
        count -= run;
    }
    return 1;
}

int feof(File* file)
{
    return ::feof(file->stream);
}

int ferror(File* file)
{
    return file->failed || ::ferror(file->stream);
}

namespace {

// 1 when every byte reached the stream's file and it closed cleanly.
int close_stream(File* file)
{
    int failed = fault_now();
    if (!file->text) {
        failed |= !flush_file(file);
        failed = failed || !commit_staging(file);
    }
    failed |= ::ferror(file->stream) != 0;
    failed |= ::fclose(file->stream) != 0;
    return !failed;
}

}  // namespace

int fclose_staged(File* file)
{
    if (close_stream(file))
        return 0;
    remove_staging(file);
    give_back(file);
    return -1;
}

int fland(File* file)
{
    int landed = land_staging(file);
    if (!landed)
        remove_staging(file);
    give_back(file);
    return landed ? 0 : -1;
}

int fclose(File* file)
{
    if (!file->text)
        return fclose_staged(file) == 0 ? fland(file) : -1;
    int closed = close_stream(file);
    give_back(file);
    return closed ? 0 : -1;
}

void fdiscard(File* file)
{
    ::fclose(file->stream);
    if (!file->text)
        remove_staging(file);
    give_back(file);
}

}  // namespace platform
