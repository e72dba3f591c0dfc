// What both file layers share: the pool of open-file records (fixed, no
// allocation) and the steps of a staged write that do not depend on the
// system.
#pragma once

#include "platform/files.h"

namespace platform {

// A free record, or null when all are open.
File* take_file();
void give_back(File* file);

// target and staging of a "wb" record from its path. Returns 0 when the
// staging path would not fit.
int name_staging(File* file, const char* path);

// Each layer's own steps of a staged write: put its bytes on the disk while
// it is still open, move it over the target in one step (each nonzero on
// success), or remove it.
int commit_staging(File* file);
int land_staging(File* file);
void remove_staging(File* file);

}  // namespace platform
