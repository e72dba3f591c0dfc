#include "tests/fake_shell.h"

#include <cstring>
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/platform.h"

FakeShell Fake;
const char* const Cancel = "<cancel>";
const char* const NoPath = "<no path>";

const ShownDialog AskDesktop = {"yes/no", "Quorvel Package", "Unpack on the desktop?"};
const ShownDialog Found = {"yes/no", "Quorvel Package",
                           "The chosen location already contains a version of Quorvel.\n"
                           "This package will NOT overwrite it (and destroy save data).\n"
                           "(If you want that, you have to delete it manually.)\n"
                           "However, would you like it updated?"};
const ShownDialog Taken = {"yes/no", "Quorvel Package",
                           "The chosen location already has something named \"Quorvel\".\n"
                           "This package won't overwrite it.\n"
                           "Would you like to choose another location?"};
const ShownDialog Unpacked = {"ok", "Quorvel Package",
                              "Quorvel has successfully unpacked!\n"
                              "The icons for running the game are in the Quorvel folder."};
// A failed fresh install and a failed update say the same under their own captions.
const char* const FailedText = "The installation has failed somehow.\n"
                               "Please contact support@quorvel.example for help.";
const ShownDialog Failed = {"ok", "Quorvel Package", FailedText};
const ShownDialog PatchFailed = {"ok", "Quorvel Patch", FailedText};
const ShownDialog Older = {"ok", "Quorvel Patch",
                           "This patch is older than your installed version, and can't be applied."};
const ShownDialog PatchErrors = {"ok", "Quorvel Patch", "Finished patch attempt.\nErrors occurred!\n"};
const ShownDialog Patched = {"ok", "Quorvel Patch", "Patch successfully completed!"};
const ShownDialog Picker = {"picker", "Indicate where to unpack Quorvel.", ""};

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

int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type)
{
    EXPECT_EQ(owner, nullptr);
    EXPECT_TRUE(type == MessageBoxOk || type == MessageBoxYesNo) << type;
    Fake.shown.push_back({type == MessageBoxYesNo ? "yes/no" : "ok", caption, text});
    if (type != MessageBoxYesNo)
        return AnswerOk;
    if (Fake.while_asking)
        Fake.while_asking(text);
    if (Fake.answer_with)
        return Fake.answer_with(text) ? AnswerYes : AnswerNo;
    if (Fake.answers.empty()) {
        ADD_FAILURE() << "a question the script does not answer: " << text;
        return AnswerNo;
    }
    bool yes = Fake.answers.front();
    Fake.answers.pop_front();
    return yes ? AnswerYes : AnswerNo;
}

void start_up()
{
}

}  // namespace platform
