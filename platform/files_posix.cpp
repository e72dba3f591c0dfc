// POSIX files and folders, behaving as the Windows runtime and file system do
// for the calls the installer makes.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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
int create_staging(File* file, int replacing, mode_t mode, mode_t created)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(file->staging, flags, created);
    if (fd < 0 && errno == EEXIST && ::unlink(file->staging) == 0)
        fd = ::open(file->staging, flags, created);
    if (fd >= 0 && replacing && ::fchmod(fd, mode) != 0) {
        ::close(fd);
        ::unlink(file->staging);
        return -1;
    }
    return fd;
}

// Whether path holds a file to replace, with the permission bits it passes
// on (exactly, 000 included; set-id bits never go to new content). Returns
// -1 when the path holds something a file must not replace.
int replaced_mode(const char* path, int& replacing, mode_t& mode)
{
    struct stat info;
    replacing = 0;
    mode = 0;
    if (::lstat(path, &info) != 0)
        return errno == ENOENT ? 0 : -1;
    if (S_ISLNK(info.st_mode))
        return 0;   // the link itself is replaced, never written through
    if (!S_ISREG(info.st_mode))
        return -1;   // a folder, pipe, socket or device
    replacing = 1;
    mode = info.st_mode & 0777;
    return 0;
}

// created: the mode a new file asks for; a replaced file keeps its own.
File* open_for_writing(const char* path, mode_t created)
{
    int replacing = 0;
    mode_t mode = 0;
    if (replaced_mode(path, replacing, mode) != 0)
        return nullptr;
    File* file = take_file();
    if (!file)
        return nullptr;
    int fd = -1;
    if (name_staging(file, path) && (fd = create_staging(file, replacing, mode, created)) >= 0 &&
        !(file->stream = ::fdopen(fd, "wb"))) {
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

namespace {

// The batch's files, oldest first from the one at oldest, each held open
// by a copy of its descriptor until its bytes are known to be on the disk.
// A full batch waits for its oldest file only, so the disk is kept busy.
constexpr int BatchSize = 64;
struct FlushBatch {
    int active;
    int failed;
    int count;
    int oldest;
    int fds[BatchSize];
};
FlushBatch Batch;

void wait_for_oldest()
{
    int fd = Batch.fds[Batch.oldest];
    Batch.failed |= ::fdatasync(fd) != 0;
    ::close(fd);
    Batch.oldest = (Batch.oldest + 1) % BatchSize;
    Batch.count--;
}

// The file's writeback starts now and is waited for later, while the next
// files are decoded; without a spare descriptor it is waited for here.
int flush_file_bytes(int fd)
{
    if (!Batch.active)
        return ::fdatasync(fd) == 0;
    if (Batch.count == BatchSize)
        wait_for_oldest();
    int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0)
        return ::fdatasync(fd) == 0;
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    Batch.fds[(Batch.oldest + Batch.count) % BatchSize] = held;
    Batch.count++;
    return 1;
}

}  // namespace

void begin_flush_batch()
{
    Batch.active = 1;
    Batch.failed = 0;
}

int end_flush_batch()
{
    while (Batch.count > 0)
        wait_for_oldest();
    Batch.active = 0;
    return !fault_now() && !Batch.failed;
}

int commit_staging(File* file)
{
    struct stat info;
    int fd = ::fileno(file->stream);
    if (fault_now() || !flush_file_bytes(fd) || ::fstat(fd, &info) != 0)
        return 0;
    file->staged_device = info.st_dev;
    file->staged_inode = info.st_ino;
    return 1;
}

// Only the very file this run wrote and flushed takes the target's name.
int land_staging(File* file)
{
    struct stat info;
    return ::lstat(file->staging, &info) == 0 && info.st_dev == file->staged_device &&
           info.st_ino == file->staged_inode && ::rename(file->staging, file->target) == 0;
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

int sync_folder(const char* path)
{
    char native[PathBufferSize];
    if (fault_now() || !native_path(path, native))
        return 0;
    int fd = ::open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    // EINVAL: a file system that keeps no folders of its own to flush.
    int synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

MoveResult move_folder(const char* from, const char* to)
{
    char source[PathBufferSize];
    char target[PathBufferSize];
    if (fault_now() || !native_path(from, source) || !native_path(to, target))
        return MoveFailed;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE) == 0)
        return Moved;
    if (errno == EEXIST)
        return NameTaken;
    if (errno != EINVAL && errno != ENOSYS)
        return MoveFailed;
#endif
    // Without a no-replace move: claim the name with an empty folder of our
    // own, which rename replaces only while it is still empty.
    if (::mkdir(target, 0700) != 0)
        return errno == EEXIST ? NameTaken : MoveFailed;
    if (::rename(source, target) == 0)
        return Moved;
    ::rmdir(target);
    return MoveFailed;
}

namespace {

// Deeper than any tree the installer makes; a deeper one is not its own.
constexpr int RemovalDepth = 16;

int is_dot_name(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

int empty_folder(int fd, int depth);

// Removes name in the folder open at fd: a file or link itself, or a folder
// entered without following a link.
int remove_at(int fd, const char* name, int depth)
{
    if (::unlinkat(fd, name, 0) == 0)
        return 1;
    int inner = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inner < 0)
        return 0;
    return empty_folder(inner, depth - 1) && ::unlinkat(fd, name, AT_REMOVEDIR) == 0;
}

// Removes everything in the folder open at fd, and closes fd. Passes start
// over until one finds the folder empty, as removing while reading may
// make a reading skip names.
int empty_folder(int fd, int depth)
{
    DIR* folder = depth > 0 ? ::fdopendir(fd) : nullptr;
    if (!folder) {
        ::close(fd);
        return 0;
    }
    int emptied = 0;
    for (int pass = 0, seen = 1; pass < 8 && seen && !emptied; pass++) {
        ::rewinddir(folder);
        seen = 0;
        int failed = 0;
        while (const dirent* entry = ::readdir(folder))
            if (!is_dot_name(entry->d_name)) {
                seen = 1;
                failed |= !remove_at(::dirfd(folder), entry->d_name, depth);
            }
        if (failed)
            break;
        emptied = !seen;
    }
    ::closedir(folder);
    return emptied;
}

}  // namespace

int remove_tree(const char* path)
{
    char native[PathBufferSize];
    if (fault_now() || !native_path(path, native))
        return 0;
    if (::unlink(native) == 0 || errno == ENOENT)
        return 1;
    int fd = ::open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0 && empty_folder(fd, RemovalDepth) && ::rmdir(native) == 0;
}

LockResult lock_folder(const char* folder, FolderLock& lock)
{
    char native[PathBufferSize];
    lock.handle = 0;
    if (fault_now() || !native_path(folder, native))
        return LockFailed;
    int fd = ::open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return LockFailed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? LockBusy : LockFailed;
    }
    lock.handle = fd + 1;
    return LockHeld;
}

void unlock_folder(FolderLock& lock)
{
    if (lock.handle != 0)
        ::close(int(lock.handle - 1));
    lock.handle = 0;
}

}  // namespace platform
