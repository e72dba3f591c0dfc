// What both file layers share: the pool of open-file records (fixed, no
// allocation) and the stream calls that do not depend on the system.
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

// Each layer's own step of a staged write: move the staging file over the
// target in one step (nonzero on success), or remove it.
int land_staging(File* file);
void remove_staging(File* file);

}  // namespace platform
