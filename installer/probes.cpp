#include "installer/probes.h"

#include <cstring>

#include "package/image.h"
#include "platform/paths.h"
#include "platform/platform.h"

namespace {

platform::File* open_in(const char* folder, const char* name)
{
    char path[PathBufferSize];
    if (!join_path(folder, name, path))
        return nullptr;
    return platform::fopen(path, "r");
}

int nothing_at(const char* folder, const char* name)
{
    char path[PathBufferSize];
    return join_path(folder, name, path) && platform::probe_path(path) == platform::NothingThere;
}

// A version file must name a known build. Only one that does not exist is
// no objection: one that cannot be read (no permission, an I/O error, a
// folder or pipe of that name) might name a newer build, so it refuses.
int version_file_allows(const char* folder, const char* relative_path)
{
    if (!file_exists(folder, relative_path))
        return nothing_at(folder, relative_path);
    char name[VersionNameSize];
    return read_version_name(folder, relative_path, name) && is_known_build(name);
}

// A marker another program holds without sharing cannot be opened, and is
// there all the same: a running game never hides its installation.
int marker_present(const char* folder, const char* name)
{
    char path[PathBufferSize];
    return file_exists(folder, name) || (join_path(folder, name, path) && platform::file_in_use(path));
}

}  // namespace

int file_exists(const char* folder, const char* name)
{
    platform::File* file = open_in(folder, name);
    if (!file)
        return 0;
    platform::fclose(file);
    return 1;
}

int is_installed(const char* folder)
{
    return marker_present(folder, MarkerFiles[0]) && marker_present(folder, MarkerFiles[1]);
}

int is_version_file(const char* name)
{
    return std::strcmp(name, VersionFiles[0]) == 0 || std::strcmp(name, VersionFiles[1]) == 0;
}

int read_version_name(const char* folder, const char* relative_path, char* name)
{
    name[0] = '\0';
    platform::File* file = open_in(folder, relative_path);
    if (!file)
        return 0;
    // The end-of-file value of the read that finds the end is stored like a
    // byte and then cut off as the last stored byte; a file of 126 bytes or
    // more loses its 126th instead. A line feed at index 0 always stays.
    int n = 0;
    while (n <= int(VersionNameSize) - 3 && !platform::feof(file) && !platform::ferror(file))
        name[n++] = static_cast<char>(platform::fgetc(file));
    int read = !platform::ferror(file);
    platform::fclose(file);
    end_version_name(name, n);
    if (!read)
        name[0] = '\0';
    return read;
}

int is_known_build(const char* name)
{
    for (unsigned i = 0; i < KnownBuildCount; i++)
        if (std::strcmp(name, Package->known_builds[i]) == 0)
            return 1;
    return 0;
}

int check_version(const char* folder)
{
    // exec.ver first: when it refuses, data.ver is not looked at.
    return version_file_allows(folder, VersionFiles[0]) && version_file_allows(folder, VersionFiles[1]);
}
