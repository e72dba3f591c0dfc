// The thin layer between the installer and the operating system. On Windows
// these are the real Win32 and C runtime calls; on POSIX they are faithful
// equivalents. The names follow the Win32 calls they stand for; they live in
// a namespace so the Windows implementation can call the real ones.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace platform {

// ---- Files and folders --------------------------------------------------

// "r" opens an existing regular file for reading in text mode: a CR LF pair
// reads as one LF. Folders, pipes, sockets and devices never open, and
// opening never waits for one of them.
// "wb" opens a new, empty file for writing in binary mode; the bytes go to
// the staging file (the path plus StagingSuffix), which fclose moves over
// the path in one step, so a write that fails never leaves a truncated file
// behind and never writes through a link at the path. A staging file that a
// killed run left at that name is removed first. A replaced file's
// permission bits carry over. A folder or special file at the path is not
// replaced: the open fails.
// Both "\\" and "/" separate folders. Returns null on failure.
File* fopen(const char* path, const char* mode);
// fopen(path, "wb") for a program the game runs: a new file gets the run
// bits (0777 less the umask) where files have them; a replaced file still
// keeps its own permission bits. Windows has no run bits.
#ifdef _WIN32
inline File* fopen_program(const char* path)
{
    return fopen(path, "wb");
}
#else
File* fopen_program(const char* path);
#endif
int fgetc(File* file);                 // a byte 0-255, or -1 at the end or on an error
int feof(File* file);                  // set only by a read that found the end
int ferror(File* file);                // set by a read that failed
// fputc: see platform/files.h.
// 0 on success. For "wb", success means every byte reached the path; on
// any failure the staging file is removed and the path is untouched.
int fclose(File* file);
// Gives up a "wb" file: the staging file is removed, the path untouched.
void fdiscard(File* file);
// fclose of a "wb" file in two steps, so that a run chooses when each file
// changes. fclose_staged ends the writing: 0 when every byte reached the
// staging file; on failure that is removed and the record is free again.
// fland then moves it over the path, as fclose would.
int fclose_staged(File* file);
int fland(File* file);

// What stands at a path, without opening it. Only NothingThere means the
// name is free; CannotTell (no permission to look, an I/O error) is never
// taken for it.
enum PathKind { NothingThere, RegularFile, SomethingElse, CannotTell };
PathKind probe_path(const char* path);

int CreateDirectoryA(const char* path, void* security);   // nonzero on success
int DeleteFileA(const char* path);                        // nonzero on success

// Another program holds the file at path so that it cannot be replaced or
// deleted now: the running game, or a handle that does not share deletion.
// Never on POSIX, where a rename replaces an open file.
int file_in_use(const char* path);

// Puts the names a folder holds on the disk, as a file's bytes are before
// its staging file replaces anything. Nonzero on success; a folder that is
// not there holds no names to flush.
int sync_folder(const char* path);

// A new tree's files need to be on the disk only before the tree takes its
// name. Between these two calls, a file's fclose sends its bytes on their
// way without waiting for them; end_flush_batch waits for every one, and
// is nonzero when all reached the disk. Windows flushes each as it closes.
void begin_flush_batch();
int end_flush_batch();

// Gives the folder at from the name to in one step, only while nothing at
// all stands at to: a folder or link that appeared there is never replaced
// or entered.
enum MoveResult { Moved, NameTaken, MoveFailed };
MoveResult move_folder(const char* from, const char* to);

// Removes whatever stands at path: a file or a link itself, or a folder
// with everything in it, never following a link out of it. Nonzero when
// nothing is left there.
int remove_tree(const char* path);

// ---- One run at a time --------------------------------------------------

// A folder this run works in, kept from other copies of the installer until
// unlocked or the process ends. The lock writes nothing: on POSIX it is an
// advisory lock on the folder itself, on Windows a mutex named after the
// folder's identity, so every spelling of one folder meets the same lock.
struct FolderLock {
    intptr_t handle;   // 0 when none is held
};
enum LockResult { LockHeld, LockBusy, LockFailed };
LockResult lock_folder(const char* folder, FolderLock& lock);
void unlock_folder(FolderLock& lock);

// ---- Shell ------------------------------------------------------------------

struct IMalloc;      // the shell's allocator
struct ITEMIDLIST;   // the shell's handle for a folder

// The folder picker's request, fields in the order the shell takes them.
struct BROWSEINFOA {
    void* owner;
    const ITEMIDLIST* root;
    char* display_name;          // receives the chosen folder's display name
    const char* title;
    unsigned flags;
    void* callback;
    long callback_parameter;
    int image;
};

constexpr int DesktopDirectoryFolder = 16;      // CSIDL_DESKTOPDIRECTORY
constexpr unsigned ReturnOnlyFileSystemDirs = 1;  // BIF_RETURNONLYFSDIRS

// Results follow the shell: 0 is success for the long-returning calls.
long SHGetMalloc(IMalloc** allocator);
void IMalloc_Free(IMalloc* allocator, void* block);
unsigned long IMalloc_Release(IMalloc* allocator);
long SHGetSpecialFolderLocation(void* owner, int folder, ITEMIDLIST** list);
int SHGetPathFromIDListA(const ITEMIDLIST* list, char* path);   // path: 2048 bytes
ITEMIDLIST* SHBrowseForFolderA(BROWSEINFOA* request);           // null on cancel

// ---- Message boxes ---------------------------------------------------------

// What a box tells the player. It settles the buttons (yes/no for a
// question, retry/cancel, OK for the rest) and, where the platform shows
// one, the icon.
enum MessageKind { Question, Information, Warning, Error, RetryOrCancel };

// The button chosen, numbered as Windows numbers them.
constexpr int AnswerOk = 1;       // IDOK
constexpr int AnswerCancel = 2;   // IDCANCEL
constexpr int AnswerRetry = 4;    // IDRETRY
constexpr int AnswerYes = 6;      // IDYES
constexpr int AnswerNo = 7;       // IDNO

// A modal box with no owner window.
int message_box(const char* text, const char* caption, MessageKind kind);

// ---- Progress ---------------------------------------------------------------

// Shown while a large payload unpacks: a window with the caption and a bar
// on Windows; zenity's progress dialog with the text, or the text and a
// percentage on one line when standard output is a terminal, on POSIX.
// Nothing is asked and nothing cancels. advance_progress, called between
// blocks, keeps the window answering.
void begin_progress(const char* caption, const char* text);
void advance_progress(uint32_t done, uint32_t total);
void end_progress();

// ---- Process ----------------------------------------------------------------

// What the platform's runtime needs before the first dialog (COM on Windows).
void start_up();

}  // namespace platform
