// The dialogs that stand in for the Windows shell's on POSIX: real desktop
// dialogs (zenity) when a display is there, the terminal otherwise.
#pragma once

#include <cstddef>

namespace platform {

// Notes the current folder, which relative answers to the picker count from.
void remember_launch_folder();

// Yes/no (yes_no = 1) or OK box. Returns 1 for Yes or OK, 0 for anything else.
int show_message(const char* text, const char* caption, int yes_no);

// Asks for an existing folder. Returns 1 with its absolute path in path
// (size bytes), 0 on cancel.
int pick_folder(const char* title, char* path, size_t size);

}  // namespace platform
