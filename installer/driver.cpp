#include "installer/driver.h"

#include <cstring>

#include "installer/location.h"
#include "installer/probes.h"
#include "package/stream.h"
#include "platform/paths.h"
#include "platform/platform.h"

namespace {

const char* const PackageCaption = "Quorvel Package";
const char* const PatchCaption = "Quorvel Patch";
const char* const PickerTitle = "Indicate where to unpack Quorvel.";

const char* const AskDesktopText = "Unpack on the desktop?";
const char* const FoundText =
    "The chosen location already contains a version of Quorvel.\n"
    "This package will NOT overwrite it (and destroy save data).\n"
    "(If you want that, you have to delete it manually.)\n"
    "However, would you like it updated?";
const char* const TakenText =
    "The chosen location already has something named \"Quorvel\".\n"
    "This package won't overwrite it.\n"
    "Would you like to choose another location?";
const char* const UnpackedText =
    "Quorvel has successfully unpacked!\n"
    "The icons for running the game are in the Quorvel folder.";
const char* const FailedText =
    "The installation has failed somehow.\n"
    "Please contact support@quorvel.example for help.";
const char* const OlderText = "This patch is older than your installed version, and can't be applied.";
const char* const PatchErrorsText = "Finished patch attempt.\nErrors occurred!\n";
const char* const PatchedText = "Patch successfully completed!";

enum InstallerState { Desktop, Pick, Classify, Found, Update, FreshCheck, Done };

// One run's path buffers and result; A is the InstallTarget.
struct InstallerRun {
    char a[PathBufferSize];
    char b[PathBufferSize];   // A\Quorvel
    char c[PathBufferSize];   // A\Quorvel Rizedaziv
    char d[PathBufferSize];   // launcher paths to delete
    int result;
};

int ask(const char* text)
{
    return platform::MessageBoxA(nullptr, text, PackageCaption, platform::MessageBoxYesNo) == platform::AnswerYes;
}

void tell(const char* text, const char* caption)
{
    platform::MessageBoxA(nullptr, text, caption, platform::MessageBoxOk);
}

InstallerState finish(InstallerRun& run, int result, const char* text, const char* caption)
{
    tell(text, caption);
    run.result = result;
    return Done;
}

// A path that did not fit its buffer is empty; it names no installation.
int installed_at(const char* folder)
{
    return folder[0] != '\0' && is_installed(folder);
}

InstallerState choose_desktop(InstallerRun& run)
{
    if (get_special_folder(run.a, platform::DesktopDirectoryFolder) && ask(AskDesktopText))
        return Classify;
    return Pick;
}

InstallerState classify(InstallerRun& run)
{
    format_path(run.b, "%s\\%s", run.a, "Quorvel");
    format_path(run.c, "%s\\%s", run.a, "Quorvel Rizedaziv");
    if (is_installed(run.a) || installed_at(run.b) || installed_at(run.c))
        return Found;
    return FreshCheck;
}

// Before the first change to the disk: a damaged image writes nothing.
int image_intact()
{
    ImageFault fault;
    return verify_image(*Package, &fault);
}

InstallerState update(InstallerRun& run)
{
    if (installed_at(run.b))
        std::strcpy(run.a, run.b);
    else if (installed_at(run.c))
        std::strcpy(run.a, run.c);
    if (!check_version(run.a))
        return finish(run, 1, OlderText, PatchCaption);
    // The copy may have moved or gone while the question waited; its parent
    // (the desktop, say) must never receive the game's files.
    if (!is_installed(run.a) || !image_intact())
        return finish(run, 1, FailedText, PatchCaption);
    // Launchers this package no longer ships; a missing one is no error.
    if (format_path(run.d, "%s/Quorvel (fullscreen, fast).exe", run.a))
        platform::DeleteFileA(run.d);
    if (format_path(run.d, "%s/Quorvel (fullscreen, smooth).exe", run.a))
        platform::DeleteFileA(run.d);
    const EntryTable& entries = Package->entries;
    for (uint32_t i = 0; i < entries.count; i++)
        extract_entry(run.a, &entries.entries[i]);
    return finish(run, 0, ErrorCount > 0 ? PatchErrorsText : PatchedText, PatchCaption);
}

// Something named Quorvel: a file that opens, or a folder we can enter. The
// second probe leaves the current folder at B on purpose; nothing after it
// uses relative paths. Anything else there (a pipe, a folder we may not
// enter, a name we cannot even look at) is no free place either.
int location_taken(InstallerRun& run)
{
    if (file_exists(run.a, "Quorvel") || (run.b[0] != '\0' && platform::SetCurrentDirectoryA(run.b)))
        return 1;
    return run.b[0] != '\0' && platform::probe_path(run.b) != platform::NothingThere;
}

InstallerState fresh_check(InstallerRun& run)
{
    if (location_taken(run)) {
        if (ask(TakenText))
            return Pick;
        run.result = 1;
        return Done;
    }
    if (image_intact() && install_fresh(run.a))
        return finish(run, 0, UnpackedText, PackageCaption);
    return finish(run, 1, FailedText, PackageCaption);
}

InstallerState step(InstallerRun& run, InstallerState state)
{
    switch (state) {
    case Desktop:
        return choose_desktop(run);
    case Pick:
        return browse_for_folder(run.a, PickerTitle) ? Classify : Done;
    case Classify:
        return classify(run);
    case Found:
        return ask(FoundText) ? Update : Pick;
    case Update:
        return update(run);
    case FreshCheck:
        return fresh_check(run);
    case Done:
        break;
    }
    return Done;
}

}  // namespace

int run_installer()
{
    InstallerRun run;
    run.result = 1;
    for (InstallerState state = Desktop; state != Done;)
        state = step(run, state);
    return run.result;
}
