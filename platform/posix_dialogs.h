// The dialogs that stand in for the Windows shell's on POSIX: real desktop
// dialogs (zenity) when it can open the display, the terminal otherwise;
// which of the two is decided once a run, at the first dialog.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace platform {

// Notes the current folder, which relative answers to the picker count from.
void remember_launch_folder();

// A box of the given kind. Returns 1 for Yes, Retry or OK, 0 for anything else.
int show_message(const char* text, const char* caption, MessageKind kind);

// Asks for an existing folder. Returns 1 with its absolute path in path
// (size bytes), 0 on cancel.
int pick_folder(const char* title, char* path, size_t size);

// 1 when path names a folder, following links.
int is_directory(const char* path);

}  // namespace platform
