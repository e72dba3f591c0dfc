// Holds a file open the way a running game holds its files, for the wine
// tests: file_holder PATH none|read RELEASE opens PATH sharing nothing, or
// reading only, says "holding", and closes it once RELEASE exists.
#include <cstdio>
#include <cstring>

#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    DWORD share = std::strcmp(argv[2], "read") == 0 ? FILE_SHARE_READ : 0;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::printf("holding\n");
    std::fflush(stdout);
    while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    CloseHandle(file);
    return 0;
}
