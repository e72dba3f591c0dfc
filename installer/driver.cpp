#include "installer/driver.h"

#include <cstring>

#include "installer/location.h"
#include "installer/messages.h"
#include "installer/probes.h"
#include "package/layout.h"
#include "package/stream.h"
#include "platform/paths.h"
#include "platform/platform.h"

namespace {

// Payloads above this take about half a second or more to unpack; smaller
// ones finish before a player would wonder, with no window in between.
constexpr uint32_t ProgressPayloadBytes = 64u << 20;

enum InstallerState { Desktop, Pick, Classify, Found, Update, FreshCheck, Done };

// One run's path buffers, its lock and its result.
struct InstallerRun {
    char target[PathBufferSize];      // A: the chosen folder; in an update, the installation
    char quorvel[PathBufferSize];     // A\Quorvel
    char rizedaziv[PathBufferSize];   // A\Quorvel Rizedaziv
    char file[PathBufferSize];        // a file an update replaces or deletes
    platform::FolderLock lock;        // held from the last check before the first change
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

// The failed message with the image's support address. run.file is free by
// then: no launcher is deleted after a failure.
static_assert(MaxSupportAddressLength == 100, "the precision in message::FailedFormat");
InstallerState fail(InstallerRun& run, const char* caption)
{
    format_path(run.file, message::FailedFormat, Package->support_address);
    return finish(run, 1, {message::Failed.kind, caption, run.file});
}

// A path that did not fit its buffer is empty; it names no installation.
int installed_at(const char* folder)
{
    return folder[0] != '\0' && is_installed(folder);
}

InstallerState choose_desktop(InstallerRun& run)
{
    if (get_special_folder(run.target, platform::DesktopDirectoryFolder) && ask(message::AskDesktop))
        return Classify;
    return Pick;
}

InstallerState classify(InstallerRun& run)
{
    format_path(run.quorvel, "%s\\%s", run.target, "Quorvel");
    format_path(run.rizedaziv, "%s\\%s", run.target, "Quorvel Rizedaziv");
    if (is_installed(run.target) || installed_at(run.quorvel) || installed_at(run.rizedaziv))
        return Found;
    return FreshCheck;
}

// Before the first change to the disk: a damaged image, or a damaged start
// of the stream, writes nothing.
int image_intact()
{
    ImageFault fault;
    return verify_image(*Package, &fault) && stream_at_start();
}

// The lock on the folder this run is about to change, then the image check,
// before anything reads the image. Returns 0, the run ended with its
// message shown, when it must stop here.
int lock_and_check(InstallerRun& run, const Message& busy)
{
    platform::LockResult lock = platform::lock_folder(run.target, run.lock);
    if (lock == platform::LockHeld && image_intact())
        return 1;
    if (lock == platform::LockBusy)
        finish(run, 1, busy);
    else
        fail(run, busy.caption);
    return 0;
}

// The first file the update would replace or delete that another program
// holds, its path in run.file; 0 when there is none.
int held_file(InstallerRun& run)
{
    for (const char* launcher : RetiredLaunchers)
        if (join_path(run.target, launcher, run.file) && platform::file_in_use(run.file))
            return 1;
    const EntryTable& entries = Package->entries;
    for (uint32_t i = 0; i < entries.count; i++)
        if (join_path(run.target, entries.entries[i].name, run.file) && platform::file_in_use(run.file))
            return 1;
    return 0;
}

// Half an update beside a running game would leave a mix of two builds:
// nothing changes until every file is free, and Cancel leaves it all.
int files_free(InstallerRun& run)
{
    char text[PathBufferSize + 256];
    while (held_file(run)) {
        format_text(text, sizeof text, "%s%s%s", message::InUse.text, run.file, message::InUseClosing);
        if (platform::message_box(text, message::InUse.caption, message::InUse.kind) != platform::AnswerRetry)
            return 0;
    }
    return 1;
}

// A launcher left behind is an error; one that is not there is none.
void delete_launchers(InstallerRun& run)
{
    for (const char* launcher : RetiredLaunchers)
        if (!join_path(run.target, launcher, run.file) ||
            (!platform::DeleteFileA(run.file) && platform::probe_path(run.file) != platform::NothingThere))
            ErrorCount++;
}

// The version files change last, so an update that stops part-way never
// claims the new build.
void extract_all(const char* folder)
{
    platform::File* versions[2] = {nullptr, nullptr};
    uint32_t held = 0;
    const EntryTable& entries = Package->entries;
    for (uint32_t i = 0; i < entries.count; i++) {
        const EntryRecord* entry = &entries.entries[i];
        if (held < 2 && is_version_file(entry->name))
            versions[held++] = stage_entry(folder, entry);
        else
            extract_entry(folder, entry);
    }
    for (platform::File* staged : versions)
        land_entry(staged);
}

void begin_unpacking(const char* caption)
{
    if (Package->blocks.payload_length <= ProgressPayloadBytes)
        return;
    platform::begin_progress(caption, message::UnpackingText);
    Stream.progress = platform::advance_progress;
}

void end_unpacking()
{
    if (!Stream.progress)
        return;
    Stream.progress = nullptr;
    platform::end_progress();
}

InstallerState update(InstallerRun& run)
{
    if (installed_at(run.quorvel))
        std::strcpy(run.target, run.quorvel);
    else if (installed_at(run.rizedaziv))
        std::strcpy(run.target, run.rizedaziv);
    if (!lock_and_check(run, message::PatchBusy))
        return Done;
    if (!files_free(run)) {
        run.result = 1;
        return Done;
    }
    if (!check_version(run.target))
        return finish(run, 1, message::Older);
    // The copy may have moved or gone while a question waited; its parent
    // (the desktop, say) must never receive the game's files. A path that
    // would not fit is found before anything changes.
    if (!is_installed(run.target) || !entry_paths_fit(run.target))
        return fail(run, message::PatchFailed.caption);
    delete_launchers(run);
    begin_unpacking(message::PatchCaption);
    extract_all(run.target);
    sync_entry_folders(run.target);
    end_unpacking();
    return finish(run, 0, ErrorCount > 0 ? message::PatchErrors : message::Patched);
}

// Something named Quorvel: a file that opens, or anything else at B (a
// folder, a pipe, a name we cannot even look at). Nothing enters B, so the
// player's folder is never kept busy.
int location_taken(InstallerRun& run)
{
    return file_exists(run.target, "Quorvel") ||
           (run.quorvel[0] != '\0' && platform::probe_path(run.quorvel) != platform::NothingThere);
}

InstallerState ask_another_location(InstallerRun& run)
{
    if (ask(message::Taken))
        return Pick;
    run.result = 1;
    return Done;
}

InstallerState fresh_check(InstallerRun& run)
{
    if (location_taken(run))
        return ask_another_location(run);
    if (!lock_and_check(run, message::Busy))
        return Done;
    begin_unpacking(message::PackageCaption);
    FreshOutcome outcome = install_fresh(run.target);
    end_unpacking();
    switch (outcome) {
    case FreshUnpacked:
        return finish(run, 0, message::Unpacked);
    case FreshTaken:
        // Something took the name after the check; the next pick unpacks
        // from the start again.
        platform::unlock_folder(run.lock);
        rewind_payload();
        return ask_another_location(run);
    case FreshFailed:
        break;
    }
    return fail(run, message::Failed.caption);
}

InstallerState step(InstallerRun& run, InstallerState state)
{
    switch (state) {
    case Desktop:
        return choose_desktop(run);
    case Pick:
        return browse_for_folder(run.target, message::PickerTitle) ? Classify : Done;
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
    run.lock.handle = 0;
    run.result = 1;
    for (InstallerState state = Desktop; state != Done;)
        state = step(run, state);
    platform::unlock_folder(run.lock);
    return run.result;
}
