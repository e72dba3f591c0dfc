// The shell's allocator, item lists, desktop lookup and folder picker, as a
// POSIX desktop provides them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "platform/platform.h"
#include "platform/posix_dialogs.h"

namespace platform {

constexpr long ShellOk = 0;
constexpr long ShellFailed = static_cast<long>(0x80004005L);         // E_FAIL
constexpr long ShellInvalidArgument = static_cast<long>(0x80070057L);  // E_INVALIDARG
constexpr size_t LongestShellPath = 4096;
constexpr size_t DisplayNameSize = 260;   // the shell's MAX_PATH

struct IMalloc {
    long references;
};

// A folder's handle: its absolute path, in memory from the shell's allocator.
struct ITEMIDLIST {
    char path[LongestShellPath];
};

namespace {

IMalloc ShellAllocator = {0};

// The value of XDG_DESKTOP_DIR in a user-dirs file: "$HOME/..." or absolute.
int desktop_from_user_dirs(const char* file, const char* home, char* out, size_t size)
{
    FILE* in = std::fopen(file, "r");
    if (!in)
        return 0;
    char line[LongestShellPath];
    int found = 0;
    const char key[] = "XDG_DESKTOP_DIR=\"";
    while (std::fgets(line, sizeof line, in)) {
        char* value = line + std::strspn(line, " \t");
        if (std::strncmp(value, key, sizeof key - 1) != 0)
            continue;
        value += sizeof key - 1;
        char* end = std::strchr(value, '"');
        if (!end)
            continue;
        *end = '\0';
        int written = -1;
        if (std::strncmp(value, "$HOME", 5) == 0 && (value[5] == '/' || value[5] == '\0'))
            written = std::snprintf(out, size, "%s%s", home, value + 5);
        else if (value[0] == '/')
            written = std::snprintf(out, size, "%s", value);
        found = written > 0 && size_t(written) < size;
    }
    std::fclose(in);
    return found;
}

// XDG_DESKTOP_DIR from the user-dirs file, else ~/Desktop. The folder must
// exist; a path with a backslash cannot be used by the installer's paths.
int desktop_folder(char* out, size_t size)
{
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return 0;
    char file[LongestShellPath];
    const char* config = std::getenv("XDG_CONFIG_HOME");
    int written = config && config[0] == '/' ? std::snprintf(file, sizeof file, "%s/user-dirs.dirs", config)
                                             : std::snprintf(file, sizeof file, "%s/.config/user-dirs.dirs", home);
    if (written < 0 || size_t(written) >= sizeof file || !desktop_from_user_dirs(file, home, out, size)) {
        written = std::snprintf(out, size, "%s/Desktop", home);
        if (written < 0 || size_t(written) >= size)
            return 0;
    }
    return is_directory(out) && !std::strchr(out, '\\');
}

ITEMIDLIST* new_item_list(const char* path)
{
    auto* list = static_cast<ITEMIDLIST*>(std::malloc(sizeof(ITEMIDLIST)));
    if (list)
        std::snprintf(list->path, sizeof list->path, "%s", path);
    return list;
}

void copy_display_name(const char* path, char* display_name)
{
    if (!display_name)
        return;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash && slash[1] ? slash + 1 : path;
    size_t length = std::min(std::strlen(name), DisplayNameSize - 1);   // the shell cuts long names too
    std::memcpy(display_name, name, length);
    display_name[length] = '\0';
}

}  // namespace

long SHGetMalloc(IMalloc** allocator)
{
    ShellAllocator.references++;
    *allocator = &ShellAllocator;
    return ShellOk;
}

void IMalloc_Free(IMalloc*, void* block)
{
    std::free(block);
}

unsigned long IMalloc_Release(IMalloc* allocator)
{
    return static_cast<unsigned long>(--allocator->references);
}

long SHGetSpecialFolderLocation(void*, int folder, ITEMIDLIST** list)
{
    *list = nullptr;
    if (folder != DesktopDirectoryFolder)
        return ShellInvalidArgument;
    char path[LongestShellPath];
    if (!desktop_folder(path, sizeof path))
        return ShellFailed;
    *list = new_item_list(path);
    return *list ? ShellOk : ShellFailed;
}

int SHGetPathFromIDListA(const ITEMIDLIST* list, char* path)
{
    if (!list || std::strlen(list->path) >= PathBufferSize) {
        path[0] = '\0';
        return 0;
    }
    std::memcpy(path, list->path, std::strlen(list->path) + 1);
    return 1;
}

ITEMIDLIST* SHBrowseForFolderA(BROWSEINFOA* request)
{
    char path[LongestShellPath];
    if (!pick_folder(request->title, path, sizeof path))
        return nullptr;
    copy_display_name(path, request->display_name);
    return new_item_list(path);
}

void start_up()
{
    remember_launch_folder();
}

}  // namespace platform
