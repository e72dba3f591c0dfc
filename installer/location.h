// Turning the user's choice of a place into a folder path.
#pragma once

// The path of a well-known shell folder (platform::DesktopDirectoryFolder)
// into a PathBufferSize buffer. Returns 0 when there is none.
int get_special_folder(char* buffer, int folder);

// The shell's modal folder picker. Returns 1 with the chosen folder in buffer,
// one trailing separator removed; 0 on cancel or when no path can be had.
int browse_for_folder(char* buffer, const char* title);
