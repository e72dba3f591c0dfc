#include "platform/file_records.h"

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

}  // namespace platform
