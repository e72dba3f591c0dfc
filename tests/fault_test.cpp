// The installer against a file layer that fails: in this build the layer's
// k-th call fails as the system would make it fail, for every k of a whole
// fresh install and of a whole update. Each run must end with an honest
// message and exit code, leave every file old or new, leave no staging
// file, and change nothing outside the folder it was pointed at.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include <unistd.h>

#include "installer/driver.h"
#include "installer/messages.h"
#include "package/stream.h"
#include "platform/platform.h"
#include "tests/fake_shell.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string& FoundText = Found.text;
const std::string& TakenText = Taken.text;
const std::string& UnpackedText = Unpacked.text;
const std::string& FailedText = Failed.text;
const std::string& OlderText = Older.text;
const std::string& PatchErrorsText = PatchErrors.text;
const std::string& PatchedText = Patched.text;
// The in-use box, whichever file it names.
bool is_in_use(const std::string& text)
{
    return text.rfind(message::InUse.text, 0) == 0;
}

// The package's own names with a few bytes each: every byte is a call.
Manifest tiny_manifest()
{
    Manifest m = small_quorvel_manifest(5);
    for (size_t i = 0; i < m.files.size(); i++)
        if (m.files[i].name.find(".ver") == std::string::npos)
            m.files[i].bytes.resize(4 + i);
    return m;
}

struct FaultRuns : ::testing::Test {
    Manifest manifest = tiny_manifest();
    PackedTestImage image{manifest};
    ScratchFolder world;                     // the chosen folder and a bystander
    std::string chosen = world / "chosen";
    fs::path start = fs::current_path();
    std::map<std::string, int> outcomes;     // last message and exit code, counted

    void TearDown() override
    {
        platform::Faults = {};
        fs::current_path(start);
    }

    // Runs the installer with call fail_at failing; returns the number of
    // calls the layer saw.
    uint32_t run(uint32_t fail_at, int& result, uint32_t act_at = 0, void (*act)() = nullptr)
    {
        reset_fake_shell();
        Fake.desktop_found = false;
        Fake.picks = {chosen};
        // A file reported in use is retried on odd runs and cancelled on even ones.
        Fake.answer_with = [fail_at](const std::string& text) {
            return text == FoundText || (is_in_use(text) && fail_at % 2 == 1);
        };
        reset_payload_state();
        platform::Faults = {fail_at, 0, act_at, act};
        result = run_installer();
        uint32_t calls = platform::Faults.calls;
        platform::Faults = {};
        EXPECT_EQ(fs::current_path(), start) << "a probe left the process in another folder";
        fs::current_path(start);
        return calls;
    }

    std::string last_message() const { return Fake.shown.empty() ? "" : Fake.shown.back().text; }

    void count(int result)
    {
        std::string key = last_message().substr(0, 24) + " -> " + std::to_string(result);
        outcomes[key]++;
    }

    std::string report() const
    {
        std::string text;
        for (auto& [key, n] : outcomes)
            text += "  " + std::to_string(n) + " x " + key + "\n";
        return text;
    }
};


}  // namespace

TEST_F(FaultRuns, EveryFailingCallOfAFreshInstallEndsHonestly)
{
    make_folders(chosen);
    write_text(world / "bystander.txt", "not the installer's");
    Tree world_before = snapshot(world.path);
    int result = -1;
    uint32_t calls = run(0, result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(last_message(), UnpackedText);
    ASSERT_GT(calls, 100u);

    for (uint32_t k = 1; k <= calls; k++) {
        SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(calls) + " fails");
        fs::remove_all(chosen);
        make_folders(chosen);
        run(k, result);
        count(result);
        std::string message = last_message();
        Tree after = snapshot(world.path);
        for (auto& [name, bytes] : after) {
            ASSERT_EQ(name.find(platform::StagingSuffix), std::string::npos) << "staging file left: " << name;
            if (name.rfind("chosen/", 0) != 0) {
                ASSERT_TRUE(world_before.count(name) && world_before[name] == bytes) << "changed outside: " << name;
            }
        }
        for (const ManifestFile& file : manifest.files) {
            auto found = after.find("chosen/Quorvel/" + file.name);
            if (found != after.end()) {
                ASSERT_EQ(found->second, text_of(file.bytes)) << "a wrong file: " << file.name;
            }
            if (result == 0) {
                ASSERT_NE(found, after.end()) << "success without " << file.name;
            }
        }
        if (result == 0) {
            ASSERT_EQ(message, UnpackedText);
        } else {
            ASSERT_TRUE(message == FailedText || message == TakenText) << message;
        }
    }
    std::cout << "fresh install: " << calls << " runs, one per failing call\n" << report();
}

TEST_F(FaultRuns, EveryFailingCallOfAnUpdateEndsHonestly)
{
    auto install_old = [&] {
        fs::remove_all(chosen);
        install_old_copy(chosen + "/Quorvel", manifest);
    };
    write_text(world / "bystander.txt", "not the installer's");
    install_old();
    Tree before = snapshot(world.path);
    int result = -1;
    uint32_t calls = run(0, result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(last_message(), PatchedText);

    for (uint32_t k = 1; k <= calls; k++) {
        SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(calls) + " fails");
        install_old();
        run(k, result);
        count(result);
        std::string message = last_message();
        Tree after = snapshot(world.path);
        int replaced = 0;
        for (auto& [name, bytes] : after) {
            ASSERT_EQ(name.find(platform::StagingSuffix), std::string::npos) << "staging file left: " << name;
            ASSERT_TRUE(before.count(name)) << "a new name appeared: " << name;
        }
        for (auto& [name, bytes] : before) {
            bool launcher = false;
            for (const char* retired : RetiredLaunchers)
                launcher = launcher || name.ends_with(retired);
            if (!after.count(name)) {
                ASSERT_TRUE(launcher) << "gone: " << name;
                ASSERT_EQ(result, 0) << "a launcher deleted by a run that refused";
            }
        }
        for (const ManifestFile& file : manifest.files) {
            const std::string& bytes = after["chosen/Quorvel/" + file.name];
            bool is_new = bytes == text_of(file.bytes);
            ASSERT_TRUE(is_new || bytes == before["chosen/Quorvel/" + file.name]) << "neither old nor new: " << file.name;
            replaced += is_new && bytes != before["chosen/Quorvel/" + file.name];
        }
        ASSERT_EQ(after["chosen/Quorvel/" + std::string(SaveFile)], "the player's progress");
        ASSERT_EQ(after["bystander.txt"], "not the installer's");
        if (message == PatchedText) {
            ASSERT_EQ(result, 0);
            ASSERT_EQ(replaced, int(manifest.files.size())) << "success with a file left old";
        } else if (message == PatchErrorsText) {
            ASSERT_EQ(result, 0);
        } else {
            ASSERT_TRUE(message == OlderText || message == FailedText || message == TakenText || is_in_use(message))
                << message;
            ASSERT_EQ(result, 1);
            ASSERT_EQ(after, before) << "a refused or failed update changed something";
        }
    }
    std::cout << "update: " << calls << " runs, one per failing call\n" << report();
}

namespace {

std::string PlantedAt;   // where the world puts a link, and where it points
std::string PlantedTo;

// Inside the layer's call, so it must not throw: a name already there stays.
void plant_link()
{
    (void)::symlink(PlantedTo.c_str(), PlantedAt.c_str());
}

}  // namespace

// A link to another folder appears at chosen/Quorvel at any moment of a
// fresh install. Nothing is ever written through it: the run either made
// the name its own first, or asks the taken question again.
TEST_F(FaultRuns, ALinkPlantedAtAnyMomentOfAFreshInstallIsNeverWrittenThrough)
{
    make_folders(chosen);
    make_folders(world / "other");
    write_text(world / "other/readme.txt", "someone else's");
    PlantedAt = chosen + "/Quorvel";
    PlantedTo = world / "other";
    int result = -1;
    uint32_t calls = run(0, result);
    ASSERT_EQ(last_message(), UnpackedText);
    int taken = 0;
    for (uint32_t k = 1; k <= calls + 1; k++) {
        SCOPED_TRACE("planted before call " + std::to_string(k) + " of " + std::to_string(calls));
        fs::remove_all(chosen);
        make_folders(chosen);
        run(0, result, k, plant_link);
        count(result);
        Tree after = snapshot(world.path);
        ASSERT_EQ(snapshot(world / "other"), (Tree{{"readme.txt", "someone else's"}}));
        for (auto& [name, bytes] : after)
            ASSERT_EQ(name.find(platform::StagingSuffix), std::string::npos) << "staging left: " << name;
        if (fs::is_symlink(PlantedAt)) {
            ASSERT_EQ(result, 1);
            ASSERT_EQ(last_message(), TakenText);
            taken++;
        } else {
            ASSERT_EQ(result, 0);
            ASSERT_EQ(last_message(), UnpackedText);
            for (const ManifestFile& file : manifest.files)
                ASSERT_EQ(after["chosen/Quorvel/" + file.name], text_of(file.bytes)) << file.name;
        }
    }
    EXPECT_GT(taken, 1) << "planted both before the check and after it";
    std::cout << "planted link: " << calls + 1 << " runs\n" << report();
}

// An update flushes each folder that holds an entry once, whatever the
// entries' order and however many folders: one layer call each.
TEST(FolderSync, EachFolderOfTheEntriesOnce)
{
    std::vector<std::string> many;
    for (int round = 0; round < 2; round++)
        for (int k = 0; k < 3000; k++)
            many.push_back("f" + std::to_string(k) + (round ? "/second" : "/first"));
    struct {
        const char* what;
        std::vector<std::string> names;
        uint32_t folders;
    } cases[] = {
        {"only the top folder", {"a", "b"}, 1},
        {"sorted, a folder coming back after its subfolder", {"a", "d/x", "d/e/z", "d/w", "de/v"}, 4},
        {"interleaved", {"d/x", "e/y", "d/z", "e/w", "q"}, 3},
        {"3000 folders, each met twice, far apart", many, 3000},
    };
    ScratchFolder folder;
    for (const auto& k : cases) {
        Manifest m;
        m.builds.assign(KnownBuildCount, "b");
        for (const std::string& name : k.names)
            m.files.push_back({name, {'x'}});
        PackedTestImage image{m};
        platform::Faults = {};
        sync_entry_folders(folder.path.c_str());
        EXPECT_EQ(platform::Faults.calls, k.folders) << k.what;
        EXPECT_EQ(ErrorCount, 0) << k.what;
        platform::Faults = {};
    }
}
