#include "tests/fake_shell.h"

#include <cstring>
#include <gtest/gtest.h>

#include "installer/messages.h"
#include "platform/paths.h"
#include "platform/platform.h"

FakeShell Fake;
const char* const Cancel = "<cancel>";
const char* const NoPath = "<no path>";

namespace {

const char* const KindNames[] = {"question", "information", "warning", "error", "retry/cancel"};

ShownDialog box(const Message& message)
{
    return {KindNames[message.kind], message.caption, message.text};
}

}  // namespace

const ShownDialog AskDesktop = box(message::AskDesktop);
const ShownDialog Found = box(message::Found);
const ShownDialog Taken = box(message::Taken);
const ShownDialog Unpacked = box(message::Unpacked);
const ShownDialog Failed = box(message::Failed);
const ShownDialog PatchFailed = box(message::PatchFailed);
const ShownDialog Older = box(message::Older);
const ShownDialog PatchErrors = box(message::PatchErrors);
const ShownDialog Patched = box(message::Patched);
const ShownDialog Busy = box(message::Busy);
const ShownDialog PatchBusy = box(message::PatchBusy);
const ShownDialog Picker = {"picker", message::PickerTitle, ""};

ShownDialog in_use(const std::string& path)
{
    std::string text = message::InUse.text + path + message::InUseClosing;
    return box({message::InUse.kind, message::InUse.caption, text.c_str()});
}

void reset_fake_shell()
{
    Fake = FakeShell{};
}

namespace platform {

struct IMalloc {
    int unused;
};

struct ITEMIDLIST {
    std::string path;   // NoPath: a folder with no file-system path
};

namespace {
IMalloc Allocator;

ITEMIDLIST* hand_out(const std::string& path)
{
    Fake.lists_outstanding++;
    return new ITEMIDLIST{path};
}
}  // namespace

long SHGetMalloc(IMalloc** allocator)
{
    if (!Fake.allocator_available)
        return -1;
    Fake.allocator_references++;
    *allocator = &Allocator;
    return 0;
}

void IMalloc_Free(IMalloc* allocator, void* block)
{
    EXPECT_EQ(allocator, &Allocator);
    Fake.lists_outstanding--;
    delete static_cast<ITEMIDLIST*>(block);
}

unsigned long IMalloc_Release(IMalloc* allocator)
{
    EXPECT_EQ(allocator, &Allocator);
    return static_cast<unsigned long>(--Fake.allocator_references);
}

long SHGetSpecialFolderLocation(void* owner, int folder, ITEMIDLIST** list)
{
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(folder, DesktopDirectoryFolder);
    *list = nullptr;
    if (!Fake.desktop_found)
        return -1;
    *list = hand_out(Fake.desktop);
    return 0;
}

int SHGetPathFromIDListA(const ITEMIDLIST* list, char* path)
{
    if (list->path == NoPath)
        return 0;
    std::memcpy(path, list->path.c_str(), list->path.size() + 1);
    return 1;
}

ITEMIDLIST* SHBrowseForFolderA(BROWSEINFOA* request)
{
    EXPECT_EQ(request->owner, nullptr);
    EXPECT_EQ(request->root, nullptr);
    EXPECT_EQ(request->flags, ReturnOnlyFileSystemDirs);
    EXPECT_EQ(request->callback, nullptr);
    EXPECT_EQ(request->callback_parameter, 0);
    Fake.shown.push_back({"picker", request->title, ""});
    if (Fake.picks.empty()) {
        ADD_FAILURE() << "the picker opened more often than the script says";
        return nullptr;
    }
    std::string pick = Fake.picks.front();
    Fake.picks.pop_front();
    if (pick == Cancel)
        return nullptr;
    std::strcpy(request->display_name, "display name");
    return hand_out(pick);
}

int message_box(const char* text, const char* caption, MessageKind kind)
{
    Fake.shown.push_back(box({kind, caption, text}));
    if (kind != Question && kind != RetryOrCancel)
        return AnswerOk;
    if (Fake.while_asking)
        Fake.while_asking(text);
    bool yes = false;
    if (Fake.answer_with) {
        yes = Fake.answer_with(text);
    } else if (Fake.answers.empty()) {
        ADD_FAILURE() << "a question the script does not answer: " << text;
    } else {
        yes = Fake.answers.front();
        Fake.answers.pop_front();
    }
    if (kind == RetryOrCancel)
        return yes ? AnswerRetry : AnswerCancel;
    return yes ? AnswerYes : AnswerNo;
}

// Progress is shown among the dialogs; its steps must only move forward.
void begin_progress(const char* caption, const char* text)
{
    Fake.shown.push_back({"progress", caption, text});
    Fake.progress_done = 0;
}

void advance_progress(uint32_t done, uint32_t total)
{
    EXPECT_GE(done, Fake.progress_done);
    EXPECT_LT(done, total);
    Fake.progress_done = done;
}

void end_progress()
{
}

void start_up()
{
}

}  // namespace platform
