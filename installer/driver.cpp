#include "installer/driver.h"

#include <cstring>

#include "installer/location.h"
#include "installer/messages.h"
#include "installer/probes.h"
#include "package/stream.h"
#include "platform/paths.h"
#include "platform/platform.h"

namespace {

enum InstallerState { Desktop, Pick, Classify, Found, Update, FreshCheck, Done };

// One run's path buffers and result; A is the InstallTarget.
struct InstallerRun {
    char a[PathBufferSize];
    char b[PathBufferSize];   // A\Quorvel
    char c[PathBufferSize];   // A\Quorvel Rizedaziv
    char d[PathBufferSize];   // launcher paths to delete
    int result;
};

int show(const Message& message)
{
    return platform::message_box(message.text, message.caption, message.kind);
}

int ask(const Message& question)
{
    return show(question) == platform::AnswerYes;
}

InstallerState finish(InstallerRun& run, int result, const Message& message)
{
    show(message);
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
    if (get_special_folder(run.a, platform::DesktopDirectoryFolder) && ask(message::AskDesktop))
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
        return finish(run, 1, message::Older);
    // The copy may have moved or gone while the question waited; its parent
    // (the desktop, say) must never receive the game's files.
    if (!is_installed(run.a) || !image_intact())
        return finish(run, 1, message::PatchFailed);
    // Launchers this package no longer ships; a missing one is no error.
    if (format_path(run.d, "%s/Quorvel (fullscreen, fast).exe", run.a))
        platform::DeleteFileA(run.d);
    if (format_path(run.d, "%s/Quorvel (fullscreen, smooth).exe", run.a))
        platform::DeleteFileA(run.d);
    const EntryTable& entries = Package->entries;
    for (uint32_t i = 0; i < entries.count; i++)
        extract_entry(run.a, &entries.entries[i]);
    return finish(run, 0, ErrorCount > 0 ? message::PatchErrors : message::Patched);
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
        if (ask(message::Taken))
            return Pick;
        run.result = 1;
        return Done;
    }
    if (image_intact() && install_fresh(run.a))
        return finish(run, 0, message::Unpacked);
    return finish(run, 1, message::Failed);
}

InstallerState step(InstallerRun& run, InstallerState state)
{
    switch (state) {
    case Desktop:
        return choose_desktop(run);
    case Pick:
        return browse_for_folder(run.a, message::PickerTitle) ? Classify : Done;
    case Classify:
        return classify(run);
    case Found:
        return ask(message::Found) ? Update : Pick;
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
