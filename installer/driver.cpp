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

// One run's path buffers and result; A is the InstallTarget.
struct InstallerRun {
    char a[PathBufferSize];
    char b[PathBufferSize];   // A\Quorvel
    char c[PathBufferSize];   // A\Quorvel Rizedaziv
    char d[PathBufferSize];   // the path of a file an update replaces or deletes
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

// The failed message with the image's support address. run.d is free by
// then: no launcher is deleted after a failure.
static_assert(MaxSupportAddressLength == 100, "the precision in message::FailedFormat");
InstallerState fail(InstallerRun& run, const char* caption)
{
    format_path(run.d, message::FailedFormat, Package->support_address);
    return finish(run, 1, {message::Failed.kind, caption, run.d});
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

// The first file the update would replace or delete that another program
// holds, its path in D; 0 when there is none.
int held_file(InstallerRun& run)
{
    for (const char* launcher : RetiredLaunchers)
        if (join_path(run.a, launcher, run.d) && platform::file_in_use(run.d))
            return 1;
    const EntryTable& entries = Package->entries;
    for (uint32_t i = 0; i < entries.count; i++)
        if (join_path(run.a, entries.entries[i].name, run.d) && platform::file_in_use(run.d))
            return 1;
    return 0;
}

// Half an update beside a running game would leave a mix of two builds:
// nothing changes until every file is free, and Cancel leaves it all.
int files_free(InstallerRun& run)
{
    char text[PathBufferSize + 256];
    while (held_file(run)) {
        format_text(text, sizeof text, "%s%s%s", message::InUse.text, run.d, message::InUseClosing);
        if (platform::message_box(text, message::InUse.caption, message::InUse.kind) != platform::AnswerRetry)
            return 0;
    }
    return 1;
}

// A launcher left behind is an error; one that is not there is none.
void delete_launchers(InstallerRun& run)
{
    for (const char* launcher : RetiredLaunchers)
        if (!join_path(run.a, launcher, run.d) ||
            (!platform::DeleteFileA(run.d) && platform::probe_path(run.d) != platform::NothingThere))
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
    Progress.advance = platform::advance_progress;
}

void end_unpacking()
{
    if (!Progress.advance)
        return;
    Progress.advance = nullptr;
    platform::end_progress();
}

InstallerState update(InstallerRun& run)
{
    if (installed_at(run.b))
        std::strcpy(run.a, run.b);
    else if (installed_at(run.c))
        std::strcpy(run.a, run.c);
    if (!files_free(run)) {
        run.result = 1;
        return Done;
    }
    if (!check_version(run.a))
        return finish(run, 1, message::Older);
    // The copy may have moved or gone while a question waited; its parent
    // (the desktop, say) must never receive the game's files.
    if (!is_installed(run.a) || !image_intact())
        return fail(run, message::PatchFailed.caption);
    delete_launchers(run);
    begin_unpacking(message::PatchCaption);
    extract_all(run.a);
    end_unpacking();
    return finish(run, 0, ErrorCount > 0 ? message::PatchErrors : message::Patched);
}

// Something named Quorvel: a file that opens, or anything else at B (a
// folder, a pipe, a name we cannot even look at). Nothing enters B, so the
// player's folder is never kept busy.
int location_taken(InstallerRun& run)
{
    return file_exists(run.a, "Quorvel") ||
           (run.b[0] != '\0' && platform::probe_path(run.b) != platform::NothingThere);
}

InstallerState fresh_check(InstallerRun& run)
{
    if (location_taken(run)) {
        if (ask(message::Taken))
            return Pick;
        run.result = 1;
        return Done;
    }
    int installed = 0;
    if (image_intact()) {
        begin_unpacking(message::PackageCaption);
        installed = install_fresh(run.a);
        end_unpacking();
    }
    if (installed)
        return finish(run, 0, message::Unpacked);
    return fail(run, message::Failed.caption);
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
