// Probes that classify a folder, and the version gate for updates.
#pragma once

// MarkerFiles and VersionFiles: the paths below an installation, and how a
// version file reads.
#include "package/layout.h"

// folder + "/" + name opens for reading: an existing file, never a folder.
int file_exists(const char* folder, const char* name);

// Both marker files of an installed copy are present.
int is_installed(const char* folder);

// name, relative to an installation, is one of its version files.
int is_version_file(const char* name);

// The build name in folder/relative_path, trailing line feeds removed.
// Returns 0, with the empty name, when the file cannot be opened or read.
int read_version_name(const char* folder, const char* relative_path, char* name);

// The name is one of the image's known builds, byte for byte.
int is_known_build(const char* name);

// The installed copy's build is one this package knows, so it may be
// updated: each version file names a known build or does not exist.
int check_version(const char* folder);
