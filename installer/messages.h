// Every text the player reads, with its caption and kind, written once: the
// driver shows these and the tests expect these. Scripts read this file
// too: a message's literals are all of its text (Failed and PatchFailed
// share FailedText), and its record ends with the first ";".
#pragma once

#include "platform/platform.h"

struct Message {
    platform::MessageKind kind;
    const char* caption;
    const char* text;
};

namespace message {

constexpr char PackageCaption[] = "Quorvel Package";   // choosing and the fresh install
constexpr char PatchCaption[] = "Quorvel Patch";       // an update's outcome
constexpr char PickerTitle[] = "Indicate where to unpack Quorvel.";

constexpr Message AskDesktop = {platform::Question, PackageCaption,
    "Unpack on the desktop?"};
constexpr Message Found = {platform::Question, PackageCaption,
    "The chosen location already contains a version of Quorvel.\n"
    "This package will NOT overwrite it (and destroy save data).\n"
    "(If you want that, you have to delete it manually.)\n"
    "However, would you like it updated?"};
constexpr Message Taken = {platform::Question, PackageCaption,
    "The chosen location already has something named \"Quorvel\".\n"
    "This package won't overwrite it.\n"
    "Would you like to choose another location?"};
constexpr Message Unpacked = {platform::Information, PackageCaption,
    "Quorvel has successfully unpacked!\n"
    "The icons for running the game are in the Quorvel folder."};
constexpr char FailedText[] =
    "The installation has failed somehow.\n"
    "Please contact support@quorvel.example for help.";
// What the driver shows: the failed text with the image's support address
// (FailedText is it with the default package's). The precision keeps even a
// damaged image's address from being read past its bound.
constexpr char FailedFormat[] =
    "The installation has failed somehow.\n"
    "Please contact %.100s for help.";
constexpr Message Failed = {platform::Error, PackageCaption, FailedText};
constexpr Message PatchFailed = {platform::Error, PatchCaption, FailedText};
constexpr Message Older = {platform::Warning, PatchCaption,
    "This patch is older than your installed version, and can't be applied."};
constexpr Message PatchErrors = {platform::Error, PatchCaption,
    "Finished patch attempt.\n"
    "Errors occurred!\n"};
constexpr Message Patched = {platform::Information, PatchCaption,
    "Patch successfully completed!"};
// The in-use box says its text, the path of the file in use, then
// InUseClosing.
constexpr Message InUse = {platform::RetryOrCancel, PatchCaption,
    "A file of Quorvel is in use and cannot be updated:\n"};
constexpr char InUseClosing[] =
    "\nPlease close the game, then choose Retry.\n"
    "Cancel stops here and changes nothing.";
// Beside the bar while a large package unpacks, under the run's caption.
constexpr char UnpackingText[] = "Unpacking...";
// Another copy works on the location; under the caption of what this run was doing.
constexpr char BusyText[] =
    "Another copy of this package is already working on the chosen location.\n"
    "Nothing was changed. Let the other copy finish, then start this package again if needed.";
constexpr Message Busy = {platform::Warning, PackageCaption, BusyText};
constexpr Message PatchBusy = {platform::Warning, PatchCaption, BusyText};

}  // namespace message
