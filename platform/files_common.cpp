#include "platform/files_common.h"
#include "platform/platform.h"

namespace platform {

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
            return &file;
        }
    return nullptr;
}

void give_back(File* file)
{
    file->in_use = 0;
    file->stream = nullptr;
}

int feof(File* file)
{
    return ::feof(file->stream);
}

int fputc(int byte, File* file)
{
    return ::fputc(byte, file->stream) == EOF ? -1 : byte;
}

int fclose(File* file)
{
    int failed = ::ferror(file->stream);
    failed |= ::fclose(file->stream) != 0;
    if (!file->text) {
        if (!failed)
            failed = !land_staging(file);
        if (failed)
            remove_staging(file);
    }
    give_back(file);
    return failed ? -1 : 0;
}

void fdiscard(File* file)
{
    ::fclose(file->stream);
    if (!file->text)
        remove_staging(file);
    give_back(file);
}

}  // namespace platform
