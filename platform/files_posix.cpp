// POSIX files and folders, behaving as the Windows runtime and file system do
// for the calls the installer makes.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// O_NONBLOCK so that a pipe or device at the name never holds the open;
// only a regular file is then read, with blocking reads as usual.
File* open_for_reading(const char* path)
{
    struct stat info;
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return nullptr;   // not even opened: opening some devices does something
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    File* file = nullptr;
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 &&
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && (file = take_file()))
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

// O_EXCL and O_NOFOLLOW so a link planted at the staging name is never
// written through. What stands there is a killed run's leftover: removed
// once, then the name is created afresh, with created as the umask allows.
int create_staging(File* file, mode_t mode, mode_t created)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(file->staging, flags, created);
    if (fd < 0 && errno == EEXIST && ::unlink(file->staging) == 0)
        fd = ::open(file->staging, flags, created);
    if (fd >= 0 && mode && ::fchmod(fd, mode) != 0) {
        ::close(fd);
        ::unlink(file->staging);
        return -1;
    }
    return fd;
}

// The permission bits a replaced file passes on, 0 for a new file, or -1
// when the path holds something a file must not replace.
int replaced_mode(const char* path, mode_t& mode)
{
    struct stat info;
    mode = 0;
    if (::lstat(path, &info) != 0)
        return errno == ENOENT ? 0 : -1;
    if (S_ISLNK(info.st_mode))
        return 0;   // the link itself is replaced, never written through
    if (!S_ISREG(info.st_mode))
        return -1;   // a folder, pipe, socket or device
    mode = info.st_mode & 0777;
    return 0;
}

// created: the mode a new file asks for; a replaced file keeps its own.
File* open_for_writing(const char* path, mode_t created)
{
    mode_t mode = 0;
    if (replaced_mode(path, mode) != 0)
        return nullptr;
    File* file = take_file();
    if (!file)
        return nullptr;
    int fd = -1;
    if (name_staging(file, path) && (fd = create_staging(file, mode, created)) >= 0 && !(file->stream = ::fdopen(fd, "wb"))) {
        ::close(fd);
        ::unlink(file->staging);
    }
    if (!file->stream) {
        give_back(file);
        return nullptr;
    }
    // The record buffers already: its whole buffers go straight to the file.
    std::setvbuf(file->stream, nullptr, _IONBF, 0);
    return file;
}

}  // namespace

File* fopen(const char* path, const char* mode)
{
    char native[PathBufferSize];
    if (fault_now() || !native_path(path, native))
        return nullptr;
    if (std::strcmp(mode, "r") == 0)
        return open_for_reading(native);
    if (std::strcmp(mode, "wb") == 0)
        return open_for_writing(native, 0666);
    return nullptr;
}

File* fopen_program(const char* path)
{
    char native[PathBufferSize];
    if (fault_now() || !native_path(path, native))
        return nullptr;
    return open_for_writing(native, 0777);
}

int fgetc(File* file)
{
    if (fault_now()) {
        file->failed = 1;
        return -1;
    }
    int c = ::getc_unlocked(file->stream);
    if (c != '\r' || !file->text)
        return c;
    int next = ::getc_unlocked(file->stream);
    if (next == '\n')
        return '\n';
    if (next == EOF && !::ferror(file->stream))
        ::clearerr(file->stream);   // the CR is this read's byte; the end comes next
    else if (next != EOF)
        ::ungetc(next, file->stream);
    return '\r';
}

PathKind probe_path(const char* path)
{
    char native[PathBufferSize];
    struct stat info;
    if (fault_now() || !native_path(path, native))
        return CannotTell;
    if (::lstat(native, &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? NothingThere : CannotTell;
    if (S_ISLNK(info.st_mode) && ::stat(native, &info) != 0)
        return SomethingElse;   // a link to nothing still takes the name
    return S_ISREG(info.st_mode) ? RegularFile : SomethingElse;
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
    return !fault_now() && native_path(path, native) && ::mkdir(native, 0777) == 0;
}

int DeleteFileA(const char* path)
{
    char native[PathBufferSize];
    return !fault_now() && native_path(path, native) && ::unlink(native) == 0;
}

// A rename replaces a file whoever holds it open.
int file_in_use(const char*)
{
    return fault_now();
}

}  // namespace platform
