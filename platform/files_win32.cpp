// Files and folders on Windows: the C runtime's streams and the real
// directory calls. A "wb" file is written beside its target and moved over
// it in one step on close.
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "package/image.h"
#include "platform/files_common.h"
#include "platform/platform.h"

namespace platform {

namespace {

// A staging file nobody else has: CREATE_NEW never opens an existing file
// or follows a link planted at that name.
HANDLE create_staging(File* file)
{
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        std::snprintf(file->staging, sizeof file->staging, "%s.part%u", file->target, attempt);
        HANDLE handle = ::CreateFileA(file->staging, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                      nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
        if (::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

File* open_for_writing(const char* path)
{
    if (std::strlen(path) >= PathBufferSize)
        return nullptr;
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    File* file = take_file();
    if (!file)
        return nullptr;
    std::strcpy(file->target, path);
    HANDLE handle = create_staging(file);
    int fd = handle == INVALID_HANDLE_VALUE ? -1 : ::_open_osfhandle(intptr_t(handle), _O_BINARY | _O_WRONLY);
    if (fd >= 0)
        file->stream = ::_fdopen(fd, "wb");
    if (!file->stream) {
        if (fd >= 0)
            ::_close(fd);
        else if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        if (handle != INVALID_HANDLE_VALUE)
            ::DeleteFileA(file->staging);
        give_back(file);
        return nullptr;
    }
    return file;
}

}  // namespace

File* fopen(const char* path, const char* mode)
{
    if (std::strcmp(mode, "wb") == 0)
        return open_for_writing(path);
    if (std::strcmp(mode, "r") != 0)
        return nullptr;
    File* file = take_file();
    if (!file)
        return nullptr;
    file->stream = ::fopen(path, "r");
    if (!file->stream) {
        give_back(file);
        return nullptr;
    }
    file->text = 1;
    return file;
}

int fgetc(File* file)
{
    return ::fgetc(file->stream);
}

int land_staging(File* file)
{
    return ::MoveFileExA(file->staging, file->target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void remove_staging(File* file)
{
    ::DeleteFileA(file->staging);
}

int CreateDirectoryA(const char* path, void* security)
{
    return ::CreateDirectoryA(path, static_cast<LPSECURITY_ATTRIBUTES>(security));
}

int DeleteFileA(const char* path)
{
    return ::DeleteFileA(path);
}

int SetCurrentDirectoryA(const char* path)
{
    return ::SetCurrentDirectoryA(path);
}

}  // namespace platform
