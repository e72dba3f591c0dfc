#include "installer/location.h"

#include <cstring>

#include "platform/platform.h"

using namespace platform;

// Every item list the shell hands out goes back through its allocator, and
// the allocator is released, on every path out.

int get_special_folder(char* buffer, int folder)
{
    int result = 1;
    ITEMIDLIST* list = nullptr;
    IMalloc* allocator = nullptr;
    if (SHGetMalloc(&allocator) != 0)
        return 0;
    if (SHGetSpecialFolderLocation(nullptr, folder, &list) != 0)
        result = 0;
    else if (!SHGetPathFromIDListA(list, buffer))
        result = 0;
    if (list)
        IMalloc_Free(allocator, list);
    IMalloc_Release(allocator);
    return result;
}

int browse_for_folder(char* buffer, const char* title)
{
    int result = 1;
    BROWSEINFOA request = {nullptr, nullptr, buffer, title, ReturnOnlyFileSystemDirs, nullptr, 0, 0};
    IMalloc* allocator = nullptr;
    if (SHGetMalloc(&allocator) != 0)
        return 0;
    ITEMIDLIST* list = SHBrowseForFolderA(&request);
    if (!list) {
        result = 0;
    } else if (!SHGetPathFromIDListA(list, buffer)) {
        result = 0;
    } else {
        size_t length = std::strlen(buffer);
        if (length > 0 && (buffer[length - 1] == '/' || buffer[length - 1] == '\\'))
            buffer[length - 1] = '\0';
    }
    if (list)
        IMalloc_Free(allocator, list);
    IMalloc_Release(allocator);
    return result;
}
