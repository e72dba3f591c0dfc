// The open-file records both file layers hand out: a fixed pool, no
// allocation.
#pragma once

#include <cstdio>

#include "package/image.h"

namespace platform {

struct File {
    FILE* stream;
    int in_use;
    int text;                           // opened "r"; CR LF reads as LF
    char target[PathBufferSize];        // where a "wb" file lands on fclose
    char staging[PathBufferSize + 16];  // where its bytes are written first
};

// A free record, or null when all are open.
File* take_file();
void give_back(File* file);

}  // namespace platform
