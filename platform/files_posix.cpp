// POSIX files and folders, behaving as the Windows runtime and file system do
// for the calls the installer makes.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/image.h"
#include "platform/files_common.h"
#include "platform/platform.h"

namespace platform {

namespace {

// The installer's paths mix "\\" and "/"; on POSIX both mean "/".
int native_path(const char* path, char* out)
{
    size_t length = std::strlen(path);
    if (length >= PathBufferSize)
        return 0;
    for (size_t i = 0; i <= length; i++)
        out[i] = path[i] == '\\' ? '/' : path[i];
    return 1;
}

File* open_for_reading(const char* path)
{
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    File* file = nullptr;
    if (::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode) && (file = take_file()))
        file->stream = ::fdopen(fd, "r");
    if (!file || !file->stream) {
        if (file)
            give_back(file);
        ::close(fd);
        return nullptr;
    }
    file->text = 1;
    return file;
}

// Creates a staging file beside the target that nobody else has: O_EXCL and
// O_NOFOLLOW so a link planted at that name is never written through.
int create_staging(File* file)
{
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        std::snprintf(file->staging, sizeof file->staging, "%s.part%u", file->target, attempt);
        int fd = ::open(file->staging, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

File* open_for_writing(const char* path)
{
    struct stat info;
    if (::lstat(path, &info) == 0 && S_ISDIR(info.st_mode))
        return nullptr;   // as on Windows: a folder never opens as a file
    File* file = take_file();
    if (!file)
        return nullptr;
    std::memcpy(file->target, path, std::strlen(path) + 1);
    int fd = create_staging(file);
    if (fd >= 0 && !(file->stream = ::fdopen(fd, "wb"))) {
        ::close(fd);
        ::unlink(file->staging);
    }
    if (!file->stream) {
        give_back(file);
        return nullptr;
    }
    return file;
}

}  // namespace

File* fopen(const char* path, const char* mode)
{
    char native[PathBufferSize];
    if (!native_path(path, native))
        return nullptr;
    if (std::strcmp(mode, "r") == 0)
        return open_for_reading(native);
    if (std::strcmp(mode, "wb") == 0)
        return open_for_writing(native);
    return nullptr;
}

int fgetc(File* file)
{
    int c = ::fgetc(file->stream);
    if (c != '\r' || !file->text)
        return c;
    int next = ::fgetc(file->stream);
    if (next == '\n')
        return '\n';
    if (next == EOF)
        ::clearerr(file->stream);   // the CR is this read's byte; the end comes next
    else
        ::ungetc(next, file->stream);
    return '\r';
}

int land_staging(File* file)
{
    return ::rename(file->staging, file->target) == 0;
}

void remove_staging(File* file)
{
    ::unlink(file->staging);
}

int CreateDirectoryA(const char* path, void*)
{
    char native[PathBufferSize];
    return native_path(path, native) && ::mkdir(native, 0777) == 0;
}

int DeleteFileA(const char* path)
{
    char native[PathBufferSize];
    return native_path(path, native) && ::unlink(native) == 0;
}

int SetCurrentDirectoryA(const char* path)
{
    char native[PathBufferSize];
    return native_path(path, native) && ::chdir(native) == 0;
}

}  // namespace platform
