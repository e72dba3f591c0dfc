// Files and folders on Windows: the C runtime's streams and the real
// directory calls. A "wb" file is written beside its target and moved over
// it in one step on close.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/files_common.h"
#include "platform/platform.h"

namespace platform {

namespace {

// "\\?\" and the absolute path, backslashes only: the form in which a
// path may pass MAX_PATH. The staging name is longer than its target, and
// must never make a target that fits fail.
constexpr DWORD LongPathSize = StagingPathSize + 16;

int long_form(const char* path, wchar_t* out)
{
    wchar_t wide[LongPathSize];
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, LongPathSize) <= 0)
        return 0;
    for (wchar_t* c = wide; *c; c++)
        if (*c == L'/')
            *c = L'\\';
    wchar_t full[LongPathSize];
    DWORD length = ::GetFullPathNameW(wide, LongPathSize, full, nullptr);
    if (length == 0 || length >= LongPathSize - 8)
        return 0;
    // wcscat, not swprintf: the runtime's wide formatter alone is 10 KB.
    const wchar_t* prefix = L"\\\\?\\";
    const wchar_t* rest = full;
    if (std::wcsncmp(full, L"\\\\?\\", 4) == 0) {
        prefix = L"";
    } else if (std::wcsncmp(full, L"\\\\", 2) == 0) {
        prefix = L"\\\\?\\UNC\\";
        rest = full + 2;
    }
    std::wcscpy(out, prefix);
    std::wcscat(out, rest);
    return 1;
}

// CREATE_NEW never opens an existing file or follows a link planted at the
// name. What stands there is a killed run's leftover: removed once, then
// the name is created afresh.
HANDLE create_staging(const wchar_t* staging)
{
    HANDLE handle = ::CreateFileW(staging, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS && ::DeleteFileW(staging))
        handle = ::CreateFileW(staging, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle;
}

// A folder or device at the path is never replaced by a file. The path in
// its long form, as a fresh install's lie below its staging name.
int replaceable(const char* path)
{
    wchar_t wide[LongPathSize];
    if (!long_form(path, wide))
        return 0;
    DWORD attributes = ::GetFileAttributesW(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

// Windows neither replaces nor deletes a read-only file; a file the
// installer changes loses that attribute first.
void clear_read_only(const wchar_t* path)
{
    DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Puts a runtime stream on handle. Returns 0, the handle closed, on failure.
int attach_stream(File* file, HANDLE handle, int flags, const char* mode)
{
    int fd = ::_open_osfhandle(intptr_t(handle), flags);
    if (fd < 0) {
        ::CloseHandle(handle);
        return 0;
    }
    if (!(file->stream = ::_fdopen(fd, mode))) {
        ::_close(fd);
        return 0;
    }
    return 1;
}

File* open_for_writing(const char* path)
{
    if (!replaceable(path))
        return nullptr;
    File* file = take_file();
    if (!file)
        return nullptr;
    wchar_t staging[LongPathSize];
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (name_staging(file, path) && long_form(file->staging, staging))
        handle = create_staging(staging);
    if (handle == INVALID_HANDLE_VALUE || !attach_stream(file, handle, _O_BINARY | _O_WRONLY, "wb")) {
        if (handle != INVALID_HANDLE_VALUE)
            ::DeleteFileW(staging);
        give_back(file);
        return nullptr;
    }
    // The record buffers already: its whole buffers go straight to the file.
    std::setvbuf(file->stream, nullptr, _IONBF, 0);
    return file;
}

// Only a regular file on a disk is read; opening a pipe or device by name
// must never wait or act on it.
File* open_for_reading(const char* path)
{
    HANDLE handle = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    File* file = ::GetFileType(handle) == FILE_TYPE_DISK ? take_file() : nullptr;
    if (!file) {
        ::CloseHandle(handle);
        return nullptr;
    }
    if (!attach_stream(file, handle, _O_RDONLY | _O_TEXT, "r")) {
        give_back(file);
        return nullptr;
    }
    file->text = 1;
    return file;
}

}  // namespace

File* fopen(const char* path, const char* mode)
{
    if (fault_now() || std::strlen(path) >= PathBufferSize)
        return nullptr;
    if (std::strcmp(mode, "wb") == 0)
        return open_for_writing(path);
    if (std::strcmp(mode, "r") == 0)
        return open_for_reading(path);
    return nullptr;
}

int fgetc(File* file)
{
    if (fault_now()) {
        file->failed = 1;
        return -1;
    }
    return ::fgetc(file->stream);
}

PathKind probe_path(const char* path)
{
    if (fault_now())
        return CannotTell;
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NothingThere : CannotTell;
    }
    return attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE) ? SomethingElse : RegularFile;
}

int commit_staging(File* file)
{
    return !fault_now() && ::FlushFileBuffers(HANDLE(::_get_osfhandle(::_fileno(file->stream))));
}

int land_staging(File* file)
{
    wchar_t staging[LongPathSize];
    wchar_t target[LongPathSize];
    if (!long_form(file->staging, staging) || !long_form(file->target, target))
        return 0;
    clear_read_only(target);
    return ::MoveFileExW(staging, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

void remove_staging(File* file)
{
    wchar_t staging[LongPathSize];
    if (long_form(file->staging, staging))
        ::DeleteFileW(staging);
}

// In the long form: a fresh install's folders lie below its staging name,
// which must not make a folder that fits at its own name fail.
int CreateDirectoryA(const char* path, void* security)
{
    wchar_t wide[LongPathSize];
    return !fault_now() && long_form(path, wide) &&
           ::CreateDirectoryW(wide, static_cast<LPSECURITY_ATTRIBUTES>(security));
}

int DeleteFileA(const char* path)
{
    wchar_t wide[LongPathSize];
    if (fault_now() || !long_form(path, wide))
        return 0;
    clear_read_only(wide);
    return ::DeleteFileW(wide);
}

// Write access meets what a replacing move would: a handle that does not
// share writing or deletion, and a running program's image. A read-only
// file refuses it for a reason of its own, so it is asked for deletion only.
int file_in_use(const char* path)
{
    wchar_t wide[LongPathSize];
    if (fault_now())
        return 1;
    DWORD attributes = long_form(path, wide) ? ::GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    DWORD access = attributes & FILE_ATTRIBUTE_READONLY ? DELETE : DELETE | GENERIC_WRITE;
    HANDLE handle = ::CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return 0;
    }
    DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// NTFS logs every change of a name in its journal, and each move here is
// written through; there is no folder of names left to flush.
int sync_folder(const char*)
{
    return !fault_now();
}

void begin_flush_batch() {}

int end_flush_batch()
{
    return !fault_now();
}

MoveResult move_folder(const char* from, const char* to)
{
    wchar_t source[LongPathSize];
    wchar_t target[LongPathSize];
    if (fault_now() || !long_form(from, source) || !long_form(to, target))
        return MoveFailed;
    // A scanner that opens a new file for a moment makes the move fail until
    // it lets go.
    for (int tries = 0; tries < 20; tries++) {
        if (::MoveFileExW(source, target, MOVEFILE_WRITE_THROUGH))
            return Moved;
        DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return NameTaken;
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            break;
        ::Sleep(50);
    }
    return MoveFailed;
}

namespace {

int remove_entry(wchar_t* path, DWORD attributes, int depth);

// Empties and removes the folder at path, a LongPathSize buffer that names
// of its entries are appended to in turn.
int remove_folder(wchar_t* path, int depth)
{
    size_t length = std::wcslen(path);
    if (depth == 0 || length + 2 + MAX_PATH >= LongPathSize)
        return 0;
    std::wcscpy(path + length, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(path, &found);
    int emptied = search != INVALID_HANDLE_VALUE;
    for (int more = emptied; more && emptied; more = ::FindNextFileW(search, &found)) {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0)
            continue;
        std::wcscpy(path + length + 1, found.cFileName);
        emptied = remove_entry(path, found.dwFileAttributes, depth - 1);
    }
    if (search != INVALID_HANDLE_VALUE)
        ::FindClose(search);
    path[length] = L'\0';
    return emptied && ::RemoveDirectoryW(path);
}

// A link or junction is removed itself, never entered.
int remove_entry(wchar_t* path, DWORD attributes, int depth)
{
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ::DeleteFileW(path);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return ::RemoveDirectoryW(path);
    return remove_folder(path, depth);
}

}  // namespace

int remove_tree(const char* path)
{
    wchar_t wide[LongPathSize];
    if (fault_now() || !long_form(path, wide))
        return 0;
    DWORD attributes = ::GetFileAttributesW(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
    return remove_entry(wide, attributes, 16);
}

// The mutex is named after the folder's volume and index, not its path, so
// that every spelling of one folder (case, short names, links) meets it, in
// every session of the machine.
LockResult lock_folder(const char* folder, FolderLock& lock)
{
    lock.handle = 0;
    wchar_t path[LongPathSize];
    if (fault_now() || !long_form(folder, path))
        return LockFailed;
    HANDLE handle = ::CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LockFailed;
    BY_HANDLE_FILE_INFORMATION info;
    int known = ::GetFileInformationByHandle(handle, &info);
    ::CloseHandle(handle);
    if (!known)
        return LockFailed;
    wchar_t name[] = L"Global\\quorvel-package-vvvvvvvvhhhhhhhhllllllll";
    const DWORD parts[3] = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    wchar_t* digit = name + 23;
    for (DWORD part : parts)
        for (int shift = 28; shift >= 0; shift -= 4)
            *digit++ = L"0123456789abcdef"[(part >> shift) & 15];
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
    // Another user's copy holds a mutex this one may not open.
    if (!mutex)
        return ::GetLastError() == ERROR_ACCESS_DENIED ? LockBusy : LockFailed;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return LockBusy;
    }
    lock.handle = intptr_t(mutex);
    return LockHeld;
}

void unlock_folder(FolderLock& lock)
{
    if (lock.handle != 0)
        ::CloseHandle(HANDLE(lock.handle));
    lock.handle = 0;
}

}  // namespace platform
