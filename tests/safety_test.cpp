// What the installer owes its users when the machine is not as it should
// be, run in this process: a damaged image, special files at probed names,
// version files that cannot be read, an installation that goes away while a
// question waits, and paths that do not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include <unistd.h>

#include "installer/driver.h"
#include "installer/probes.h"
#include "package/stream.h"
#include "platform/platform.h"
#include "tests/fake_shell.h"
#include "tests/safety_cases.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

struct Safety : ::testing::Test {
    ScratchFolder place;
    Manifest manifest = small_quorvel_manifest();
    PackedTestImage image{manifest};

    void SetUp() override { start_run(); }
    void TearDown() override
    {
        EXPECT_EQ(Fake.lists_outstanding, 0);
        EXPECT_EQ(Fake.allocator_references, 0);
        EXPECT_TRUE(Fake.answers.empty()) << "every scripted answer was asked for";
        EXPECT_TRUE(Fake.picks.empty()) << "every scripted pick was used";
    }
    void start_run()
    {
        reset_fake_shell();
        Fake.desktop_found = false;
        reset_payload_state();
    }
    int run(std::vector<std::string> picks, std::deque<bool> answers)
    {
        Fake.picks.assign(picks.begin(), picks.end());
        Fake.answers = answers;
        return run_installer();
    }
};

ShownDialog dialog_of(Told told)
{
    switch (told) {
    case Told::FoundQuestion:
        return Found;
    case Told::TakenQuestion:
        return Taken;
    case Told::OlderRefusal:
        return Older;
    case Told::UpdateFailure:
        break;
    }
    return PatchFailed;
}

}  // namespace

TEST_F(Safety, ADamagedImageWritesNothingInAFreshInstallOrAnUpdate)
{
    for (const ImageDamage& damage : image_damages(image.loaded.tables.image)) {
        SCOPED_TRACE(damage.what);
        // The test image's own arrays, which this test may change.
        unsigned char& byte = const_cast<unsigned char&>(damage.bytes[damage.flip]);
        byte ^= 0x08;
        fs::remove_all(place / "Quorvel");
        start_run();
        EXPECT_EQ(run({place.path}, {}), 1);
        EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Failed}));
        EXPECT_TRUE(files_below(place.path).empty());
        EXPECT_FALSE(exists(place / "Quorvel")) << "not even the top folder";
        EXPECT_EQ(Stream.pending, 1) << "nothing was decoded";

        install_old_copy(place / "Quorvel", manifest);
        Tree before = snapshot(place.path);
        start_run();
        EXPECT_EQ(run({place.path}, {true}), 1);
        EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchFailed}));
        EXPECT_EQ(difference(before, snapshot(place.path)), "") << "launchers and files untouched";

        byte ^= 0x08;
        start_run();
        EXPECT_EQ(run({place.path}, {true}), 0) << "the image made whole updates";
        EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Patched}));
    }
}

// The stream's start state is the program's initial data, outside the
// image's checksums: damaged, it writes and deletes nothing either.
TEST_F(Safety, ADamagedStreamStartWritesNothingInAFreshInstallOrAnUpdate)
{
    const std::vector<std::pair<const char*, std::function<void()>>> damages = {
        {"the pending flag", [] { Stream.pending = 0; }},
        {"the block index", [] { Stream.block_index = 2; }},
        // would be called, wherever it points, before the first block
        {"the progress hook", [] { Stream.progress = reinterpret_cast<void (*)(uint32_t, uint32_t)>(uintptr_t(64)); }},
        {"the error count", [] { ErrorCount = -5; }},   // would hide five errors
    };
    for (auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        fs::remove_all(place / "Quorvel");
        start_run();
        damage();
        EXPECT_EQ(run({place.path}, {}), 1);
        EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Failed}));
        EXPECT_TRUE(fs::is_empty(place.path)) << "not even the top folder";

        install_old_copy(place / "Quorvel", manifest);
        Tree before = snapshot(place.path);
        start_run();
        damage();
        EXPECT_EQ(run({place.path}, {true}), 1);
        EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchFailed}));
        EXPECT_EQ(difference(before, snapshot(place.path)), "") << "launchers and files untouched";
    }
}

// Another copy of the installer holds the location, under another spelling:
// told once, nothing changed, and the run after it works.
TEST_F(Safety, ALocationAnotherCopyWorksOnIsLeftAlone)
{
    ScratchFolder other_spelling;
    fs::create_directory_symlink(place.path, other_spelling / "link");
    platform::FolderLock other;
    ASSERT_EQ(platform::lock_folder((other_spelling / "link").c_str(), other), platform::LockHeld);
    EXPECT_EQ(run({place.path}, {}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Busy}));
    EXPECT_TRUE(fs::is_empty(place.path));
    platform::unlock_folder(other);

    install_old_copy(place / "Quorvel", manifest);
    Tree before = snapshot(place.path);
    ASSERT_EQ(platform::lock_folder((place / "Quorvel").c_str(), other), platform::LockHeld);
    start_run();
    EXPECT_EQ(run({place.path}, {true}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchBusy}));
    EXPECT_EQ(difference(before, snapshot(place.path)), "");
    platform::unlock_folder(other);

    start_run();
    EXPECT_EQ(run({place.path}, {true}), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Patched}));
}

// What a killed fresh install left under the staging name is removed by
// the next one, and a link in it is removed, never followed.
TEST_F(Safety, AKilledFreshInstallsLeftoverIsRemovedWithoutFollowingLinks)
{
    ScratchFolder elsewhere;
    write_text(elsewhere / "readme.txt", "someone else's");
    Tree outside = snapshot(elsewhere.path);
    std::string leftover = place / (std::string("Quorvel") + platform::StagingSuffix);
    make_folders(leftover + "/dravik/images");
    write_text(leftover + "/" + MarkerFiles[0], "half");
    write_text(leftover + "/readme.txt" + platform::StagingSuffix, "half");
    fs::create_directory_symlink(elsewhere.path, leftover + "/dravik/out");
    EXPECT_EQ(run({place.path}, {}), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Unpacked}));
    EXPECT_EQ(difference(outside, snapshot(elsewhere.path)), "");
    std::vector<std::string> expected;
    for (const ManifestFile& f : manifest.files)
        expected.push_back("Quorvel/" + f.name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files_below(place.path), expected) << "nothing of the leftover stays";
}

TEST_F(Safety, WhatCannotBeTrustedIsRefusedAndNothingChanges)
{
    ::alarm(20);   // a hang fails the run instead of stalling it
    for (const SafetyCase& c : safety_cases()) {
        SCOPED_TRACE(c.what);
        // Root reads every file; the real process runs this case as another user.
        if (c.needs_unprivileged_user && ::geteuid() == 0)
            continue;
        ScratchFolder world, elsewhere;
        c.prepare(world.path, manifest);
        Tree expected = snapshot(world.path);
        start_run();
        Fake.while_asking = [&](const std::string& text) {
            if (text == Found.text && c.while_found) {
                c.while_found(world.path, elsewhere.path);
                expected = snapshot(world.path);
            }
        };
        std::vector<ShownDialog> told = {Picker};
        for (Told t : c.told)
            told.push_back(dialog_of(t));
        EXPECT_EQ(run({world.path}, {c.answers.begin(), c.answers.end()}), 1);
        EXPECT_EQ(Fake.shown, told);
        EXPECT_TRUE(Fake.answers.empty());
        EXPECT_EQ(difference(expected, snapshot(world.path)), "");
    }
    ::alarm(0);
}

// A path that does not fit its buffer is never cut: a cut path names some
// other file, which must not be probed, deleted or written.
TEST_F(Safety, PathsThatDoNotFitAreNeverCut)
{
    // A real folder whose path leaves room for the entries but not for the
    // launchers' names (31 bytes).
    std::string deep = place.path;
    while (deep.size() < PathBufferSize - 30) {
        size_t room = PathBufferSize - 30 - deep.size() - 1;
        deep.push_back('/');
        deep.append(std::min<size_t>(200, room), 'd');
    }
    ASSERT_TRUE(make_folders(deep));
    install_old_copy(deep, manifest);
    std::string cut_launcher = (deep + "/" + RetiredLaunchers[0]).substr(0, PathBufferSize - 1);
    ASSERT_TRUE(write_text(cut_launcher, "someone else's file"));
    EXPECT_EQ(run({deep}, {true}), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchErrors})) << "a launcher may be left";
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(read_file(cut_launcher, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "someone else's file") << "D was not cut";
    EXPECT_TRUE(exists(deep + "/" + RetiredLaunchers[0])) << "a launcher beyond the buffer stays";

    // A chosen folder where the top folder fits but the longest entry below
    // its staging name does not: found before anything is created.
    start_run();
    std::string almost = deep.substr(0, PathBufferSize - 248);
    while (almost.back() == '/')
        almost.pop_back();
    almost += "/" + std::string(PathBufferSize - 48 - almost.size() - 1, 'f');
    ASSERT_TRUE(make_folders(almost));
    EXPECT_EQ(run({almost}, {}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Failed}));
    EXPECT_TRUE(fs::is_empty(almost)) << "not even a folder";

    // A chosen folder so long that B and C do not fit: nothing is probed
    // there and the fresh install fails without writing.
    Fake.shown.clear();
    std::string longest = deep + "/" + std::string(PathBufferSize - deep.size() - 4, 'e');
    ASSERT_TRUE(make_folders(longest));
    EXPECT_EQ(run({longest}, {}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Failed}));
    EXPECT_TRUE(files_below(longest).empty());
}
