// The installer's conversation, driven through a scripted shell: which
// dialogs appear in which order with which words, what lands on disk, and
// the exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#ifdef _WIN32
#include <windows.h>
#endif

#include "installer/driver.h"
#include "package/stream.h"
#include "tests/fake_shell.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

struct Driver : ::testing::Test {
    fs::path start = fs::current_path();
    ScratchFolder desktop;
    ScratchFolder other;
    Manifest manifest = small_quorvel_manifest();
    PackedTestImage image{manifest};

    void SetUp() override
    {
        reset_fake_shell();
        Fake.desktop = desktop.path;
    }
    // No desktop folder: the picker gives folder, and the questions are
    // answered in turn.
    void pick_and_answer(const std::string& folder, std::deque<bool> answers)
    {
        Fake.desktop_found = false;
        Fake.picks = {folder};
        Fake.answers = std::move(answers);
    }
    std::vector<unsigned char> installed_readme()
    {
        std::vector<unsigned char> bytes;
        read_file(other / "Quorvel/readme.txt", bytes);
        return bytes;
    }
    void TearDown() override
    {
        EXPECT_EQ(Fake.lists_outstanding, 0);
        EXPECT_EQ(Fake.allocator_references, 0);
        EXPECT_TRUE(Fake.answers.empty()) << "every scripted answer was asked for";
        EXPECT_TRUE(Fake.picks.empty()) << "every scripted pick was used";
        EXPECT_EQ(fs::current_path(), start) << "a probe keeps a folder busy";
    }

    // Every package file holds the package's bytes, and nothing else is there
    // but what extra lists.
    void expect_package_at(const std::string& top, std::vector<std::string> extra = {})
    {
        std::vector<std::string> expected = extra;
        for (const ManifestFile& f : manifest.files) {
            std::vector<unsigned char> bytes;
            ASSERT_TRUE(read_file(top + "/" + f.name, bytes)) << f.name;
            EXPECT_TRUE(bytes == f.bytes) << f.name;
            expected.push_back(f.name);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(files_below(top), expected);
    }
};

}  // namespace

TEST_F(Driver, FreshInstallOnTheDesktop)
{
    Fake.answers = {true};
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{AskDesktop, Unpacked}));
    expect_package_at(desktop / "Quorvel");
}

TEST_F(Driver, FreshInstallThroughThePickerWhenTheDesktopIsUnknown)
{
    Fake.desktop_found = false;
    Fake.picks = {other.path + "/"};
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Unpacked}));
    expect_package_at(other / "Quorvel");
    EXPECT_TRUE(files_below(desktop.path).empty());
}

TEST_F(Driver, DecliningTheDesktopThenCancellingEndsQuietly)
{
    Fake.answers = {false};
    Fake.picks = {Cancel};
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{AskDesktop, Picker}));
    EXPECT_EQ(Stream.pending, 1) << "nothing was decoded";
}

TEST_F(Driver, APickedFolderWithoutAPathEndsLikeACancel)
{
    Fake.desktop_found = false;
    Fake.picks = {NoPath};
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker}));
}

TEST_F(Driver, InstallationOnTheDesktopItselfIsFoundAndTheDesktopIsNotAskedAgain)
{
    install_old_copy(desktop.path, manifest);
    Fake.answers = {true, false, false};
    Fake.picks = {desktop.path, Cancel};
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{AskDesktop, Found, Picker, Found, Picker}));
    EXPECT_TRUE(exists(desktop / RetiredLaunchers[0])) << "declining an update touches nothing";
}

TEST_F(Driver, UpdateRewritesEveryFileAndDeletesTheLaunchers)
{
    install_old_copy(other / "Quorvel", manifest);
    pick_and_answer(other.path, {true});
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Patched}));
    expect_package_at(other / "Quorvel", {SaveFile});
}

// Where the chosen folder, its Quorvel and its Quorvel Rizedaziv hold
// copies, the first of Quorvel, Quorvel Rizedaziv and the folder itself is
// updated and the others are left alone.
TEST_F(Driver, OfSeveralCopiesTheOneUpdatedGoesByTheFixedOrder)
{
    struct Case {
        std::vector<std::string> copies;   // below the chosen folder; "" is the folder itself
        std::string updated;
    } cases[] = {
        {{"", "Quorvel"}, "Quorvel"},
        {{"Quorvel Rizedaziv"}, "Quorvel Rizedaziv"},
        {{"Quorvel", "Quorvel Rizedaziv"}, "Quorvel"},
        {{"", "Quorvel Rizedaziv"}, "Quorvel Rizedaziv"},
        {{"", "Quorvel", "Quorvel Rizedaziv"}, "Quorvel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.updated);
        ScratchFolder chosen;
        for (const std::string& copy : c.copies)
            install_old_copy(chosen / copy, manifest);
        auto outside_updated = [&](Tree tree) {
            std::erase_if(tree, [&](const auto& item) { return item.first.rfind(c.updated + "/", 0) == 0; });
            return tree;
        };
        Tree others = outside_updated(snapshot(chosen.path));
        reset_payload_state();
        reset_fake_shell();
        pick_and_answer(chosen.path, {true});
        EXPECT_EQ(run_installer(), 0);
        EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Patched}));
        expect_package_at(chosen / c.updated, {SaveFile});
        EXPECT_EQ(difference(others, outside_updated(snapshot(chosen.path))), "") << "the other copies are untouched";
    }
}

TEST_F(Driver, RefusedGateShowsOlderAndTouchesNothing)
{
    install_old_copy(other / "Quorvel", manifest, "build129\r\n");
    pick_and_answer(other.path, {true});
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Older}));
    EXPECT_TRUE(exists(other / (std::string("Quorvel/") + RetiredLaunchers[0])));
    EXPECT_TRUE(exists(other / (std::string("Quorvel/") + RetiredLaunchers[1])));
    EXPECT_EQ(text_of(installed_readme()), "older readme.txt");
    EXPECT_EQ(Stream.pending, 1) << "nothing was decoded";
}

TEST_F(Driver, UpdateIntoACopyMissingAFolderReportsErrorsAndSucceeds)
{
    install_old_copy(other / "Quorvel", manifest);
    std::filesystem::remove_all(other / "Quorvel/dravik/maps");
    pick_and_answer(other.path, {true});
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchErrors}));
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_TRUE(installed_readme() == manifest.files.back().bytes) << "the entry after the failing one is written";
    EXPECT_FALSE(is_folder(other / "Quorvel/dravik/maps")) << "an update creates no folders";
}

TEST_F(Driver, ALauncherThatCannotBeDeletedIsAnError)
{
    // A folder of that name stands for any launcher that will not go.
    install_old_copy(other / "Quorvel", manifest);
    std::string launcher = other / (std::string("Quorvel/") + RetiredLaunchers[0]);
    fs::remove(launcher);
    make_folders(launcher + "/inside");
    pick_and_answer(other.path, {true});
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchErrors}));
    EXPECT_FALSE(exists(other / (std::string("Quorvel/") + RetiredLaunchers[1])));
    EXPECT_TRUE(installed_readme() == manifest.files.back().bytes) << "the game's files are updated all the same";
}

TEST_F(Driver, APlainFileNamedQuorvelIsTakenAndNoWritesNothing)
{
    write_text(other / "Quorvel", "a file");
    pick_and_answer(other.path, {false});
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Taken}));
    EXPECT_EQ(files_below(other.path), (std::vector<std::string>{"Quorvel"}));
}

TEST_F(Driver, AQuorvelFolderWithoutBothMarkersIsTakenThenAnotherPlaceIsChosen)
{
    make_folders(other / "Quorvel/dravik");
    write_text(other / (std::string("Quorvel/") + MarkerFiles[0]), "MZ");
    ScratchFolder third;
    Fake.desktop = other.path;
    Fake.answers = {true, true, true};
    Fake.picks = {other.path, third.path};
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{AskDesktop, Taken, Picker, Taken, Picker, Unpacked}));
    expect_package_at(third / "Quorvel");
    EXPECT_EQ(files_below(other / "Quorvel"), (std::vector<std::string>{MarkerFiles[0]}));
}

TEST_F(Driver, FreshInstallWithErrorsShowsFailedAndKeepsWhatWasWritten)
{
    // An entry in a folder the image never creates cannot be written.
    EntryRecord& last = image.loaded.tables.entries.back();
    std::snprintf(last.name, sizeof last.name, "%s", "no-such-folder/readme.txt");
    image.loaded.tables.seal();
    Fake.desktop_found = false;
    Fake.picks = {other.path};
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Failed}));
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_TRUE(exists(other / "Quorvel/dravik/SDL.dll")) << "nothing is rolled back";

    // The studio's support address is the image's.
    ScratchFolder third;
    Fake.picks = {third.path};
    Fake.shown.clear();
    image.loaded.tables.support_address = "help@studio.example";
    image.loaded.tables.install();
    ErrorCount = 0;
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{
                              Picker, {Failed.kind, Failed.caption,
                                       "The installation has failed somehow.\nPlease contact help@studio.example for help."}}));
}

#ifdef _WIN32
// A handle such as a running game holds on its file: it may share reading,
// never deletion.
struct HeldFile {
    HANDLE handle;
    HeldFile(const std::string& path, DWORD share)
        : handle(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~HeldFile() { release(); }
    void release()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
};

TEST_F(Driver, AFileInUseIsNamedCancelChangesNothingAndRetryPatchesOnceItIsFree)
{
    install_old_copy(other / "Quorvel", manifest);
    std::string game = other / (std::string("Quorvel/") + MarkerFiles[0]);
    ASSERT_TRUE(SetFileAttributesA(game.c_str(), FILE_ATTRIBUTE_READONLY));
    HeldFile holder(game, FILE_SHARE_READ);
    ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
    const ShownDialog held = in_use(other.path + "\\Quorvel/" + MarkerFiles[0]);

    Tree before = snapshot(other.path);
    pick_and_answer(other.path, {true, false});
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, held}));
    EXPECT_EQ(difference(before, snapshot(other.path)), "");
    EXPECT_EQ(Stream.pending, 1) << "nothing was decoded";

    reset_fake_shell();
    pick_and_answer(other.path, {true, true, true});
    Fake.while_asking = [&](const std::string& text) {
        if (text == held.text && Fake.answers.size() == 1)
            holder.release();   // retried once in vain, then the game is closed
    };
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, held, held, Patched}));
    expect_package_at(other / "Quorvel", {SaveFile});
}

TEST_F(Driver, AMarkerHeldWithoutSharingStillMarksAnInstallation)
{
    install_old_copy(other / "Quorvel", manifest);
    HeldFile holder(other / (std::string("Quorvel/") + MarkerFiles[1]), 0);
    ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
    Fake.desktop_found = false;
    Fake.picks = {other.path, Cancel};
    Fake.answers = {false};
    EXPECT_EQ(run_installer(), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Picker}));
}

// Windows neither replaces nor deletes a read-only file as it stands.
TEST_F(Driver, ReadOnlyFilesAreReplacedAndReadOnlyLaunchersDeleted)
{
    install_old_copy(other / "Quorvel", manifest);
    for (std::string name : {RetiredLaunchers[0], RetiredLaunchers[1], "dravik/hesk.wad", VersionFiles[0]})
        ASSERT_TRUE(SetFileAttributesA((other / "Quorvel/" + name).c_str(), FILE_ATTRIBUTE_READONLY)) << name;
    pick_and_answer(other.path, {true});
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Patched}));
    expect_package_at(other / "Quorvel", {SaveFile});
}

TEST_F(Driver, ADriveRootIsUsedWithoutItsBackslash)
{
    // Under wine the C: drive is the test's own throwaway prefix.
    std::filesystem::remove_all("C:/Quorvel");
    Fake.desktop_found = false;
    Fake.picks = {"C:\\"};
    EXPECT_EQ(run_installer(), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Unpacked}));
    expect_package_at("C:/Quorvel");
    std::filesystem::remove_all("C:/Quorvel");
}
#endif
