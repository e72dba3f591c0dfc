// The shell, its allocator and the message boxes: the real Win32 calls.
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <commctrl.h>

#include "platform/platform.h"

namespace platform {

namespace {

::IMalloc* com(IMalloc* allocator)
{
    return reinterpret_cast<::IMalloc*>(allocator);
}

}  // namespace

long SHGetMalloc(IMalloc** allocator)
{
    ::IMalloc* shell_allocator = nullptr;
    HRESULT result = ::SHGetMalloc(&shell_allocator);
    *allocator = reinterpret_cast<IMalloc*>(shell_allocator);
    return result;
}

void IMalloc_Free(IMalloc* allocator, void* block)
{
    com(allocator)->Free(block);
}

unsigned long IMalloc_Release(IMalloc* allocator)
{
    return com(allocator)->Release();
}

long SHGetSpecialFolderLocation(void* owner, int folder, ITEMIDLIST** list)
{
    return ::SHGetSpecialFolderLocation(static_cast<HWND>(owner), folder, reinterpret_cast<LPITEMIDLIST*>(list));
}

int SHGetPathFromIDListA(const ITEMIDLIST* list, char* path)
{
    return ::SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(list), path);
}

ITEMIDLIST* SHBrowseForFolderA(BROWSEINFOA* request)
{
    ::BROWSEINFOA info = {static_cast<HWND>(request->owner),
                          reinterpret_cast<PCIDLIST_ABSOLUTE>(request->root),
                          request->display_name,
                          request->title,
                          request->flags,
                          reinterpret_cast<BFFCALLBACK>(request->callback),
                          static_cast<LPARAM>(request->callback_parameter),
                          request->image};
    PIDLIST_ABSOLUTE list = ::SHBrowseForFolderA(&info);
    request->image = info.iImage;
    return reinterpret_cast<ITEMIDLIST*>(list);
}

// The boxes are plain, without an icon; only the buttons follow the kind.
int message_box(const char* text, const char* caption, MessageKind kind)
{
    UINT type = kind == Question ? MB_YESNO : kind == RetryOrCancel ? MB_RETRYCANCEL : MB_OK;
    return ::MessageBoxA(nullptr, text, caption, type);
}

// The progress window is a progress bar with a caption of its own: no
// window class, procedure or close box to add to the program.
HWND ProgressWindow;

// The bar's messages are handled between blocks, so the window keeps
// answering while the payload unpacks.
void advance_progress(uint32_t done, uint32_t total)
{
    ::SendMessageA(ProgressWindow, PBM_SETPOS, WPARAM(uint64_t(done) * 100 / total), 0);
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageA(&message);
}

// The bar says enough; the text would need a window of our own to stand in.
void begin_progress(const char* caption, const char*)
{
    ::InitCommonControls();
    // Sized by the caption's height, so it follows the screen's scale.
    int unit = ::GetSystemMetrics(SM_CYCAPTION);
    int width = 16 * unit, height = 3 * unit;
    ProgressWindow = ::CreateWindowExA(0, PROGRESS_CLASSA, caption, WS_POPUP | WS_CAPTION | WS_VISIBLE,
                                       (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                       (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr,
                                       nullptr, nullptr, nullptr);
    advance_progress(0, 1);
}

void end_progress()
{
    ::DestroyWindow(ProgressWindow);
    ProgressWindow = nullptr;
}

// The folder picker is a COM component and wants a single-threaded apartment.
void start_up()
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

}  // namespace platform
