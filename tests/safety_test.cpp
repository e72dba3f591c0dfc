// What the installer owes its users when the machine is not as it should
// be: a damaged image, special files at probed names, version files that
// cannot be read, an installation that goes away while a question waits,
// and paths that do not fit.
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "installer/driver.h"
#include "installer/probes.h"
#include "package/stream.h"
#include "tests/fake_shell.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

struct Safety : ::testing::Test {
    ScratchFolder place;
    Manifest manifest = small_quorvel_manifest();
    PackedTestImage image{manifest};

    void SetUp() override
    {
        reset_fake_shell();
        Fake.desktop_found = false;
    }
    void TearDown() override
    {
        EXPECT_EQ(Fake.lists_outstanding, 0);
        EXPECT_EQ(Fake.allocator_references, 0);
        EXPECT_TRUE(Fake.answers.empty()) << "every scripted answer was asked for";
        EXPECT_TRUE(Fake.picks.empty()) << "every scripted pick was used";
    }

    void install_old_copy(const std::string& top, const std::string& build = "build100\r\n")
    {
        for (const ManifestFile& f : manifest.files) {
            make_folders(top + "/" + f.name.substr(0, f.name.rfind('/') + 1));
            write_text(top + "/" + f.name, f.name.find(".ver") != std::string::npos ? build : "old " + f.name);
        }
        write_text(top + "/Quorvel (fullscreen, fast).exe", "fast");
    }
    int run(std::vector<std::string> picks, std::deque<bool> answers)
    {
        Fake.picks.assign(picks.begin(), picks.end());
        Fake.answers = answers;
        return run_installer();
    }
};

std::map<std::string, std::string> contents_below(const std::string& root)
{
    std::map<std::string, std::string> tree;
    for (auto& entry : fs::recursive_directory_iterator(root)) {
        std::vector<unsigned char> bytes;
        if (entry.is_regular_file())
            read_file(entry.path().string(), bytes);
        std::string kind = entry.is_regular_file() ? "" : entry.is_directory() ? "/" : "@";
        tree[fs::relative(entry.path(), root).generic_string() + kind] = std::string(bytes.begin(), bytes.end());
    }
    return tree;
}

}  // namespace

TEST_F(Safety, ADamagedImageWritesNothingInAFreshInstallOrAnUpdate)
{
    image.packed.blocks[0].stream[10] ^= 0x04;   // one bit, as a bad download gives
    EXPECT_EQ(run({place.path}, {}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Failed}));
    EXPECT_TRUE(files_below(place.path).empty());
    EXPECT_FALSE(exists(place / "Quorvel")) << "not even the top folder";
    EXPECT_EQ(Stream.pending, 1) << "nothing was decoded";

    install_old_copy(place / "Quorvel");
    auto before = contents_below(place.path);
    Fake.shown.clear();
    EXPECT_EQ(run({place.path}, {true}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchFailed}));
    EXPECT_EQ(contents_below(place.path), before) << "launchers and files untouched";
}

TEST_F(Safety, AnInstallationThatGoesAwayWhileFoundWaitsIsNotWrittenInto)
{
    install_old_copy(place / "Quorvel");
    ScratchFolder elsewhere;
    Fake.while_asking = [&](const std::string& text) {
        if (text == Found.text)
            fs::rename(place / "Quorvel", elsewhere / "Quorvel");
    };
    EXPECT_EQ(run({place.path}, {true}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, PatchFailed}));
    EXPECT_TRUE(files_below(place.path).empty()) << "nothing lands in the parent folder";
}

TEST_F(Safety, PipesAtProbedNamesNeverHangAndNeverCountAsFiles)
{
    ::alarm(20);   // a hang fails the run instead of stalling it
    ASSERT_EQ(::mkfifo((place / "Quorvel").c_str(), 0644), 0);
    EXPECT_EQ(run({place.path}, {false}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Taken})) << "a pipe named Quorvel takes the name";

    ScratchFolder copy;
    install_old_copy(copy.path);
    fs::remove(copy / "dravik/images/mossling.png");
    ASSERT_EQ(::mkfifo((copy / "dravik/images/mossling.png").c_str(), 0644), 0);
    EXPECT_EQ(is_installed(copy.path.c_str()), 0) << "a pipe is no marker file";
    ::alarm(0);
}

TEST_F(Safety, VersionFilesThatCannotBeReadRefuseTheUpdate)
{
    ::alarm(20);
    ScratchFolder copy;
    install_old_copy(copy.path);
    std::string exec = copy / "dravik/exec.ver";
    std::string data = copy / "dravik/playerdata/data.ver";
    auto replace = [](const std::string& path, auto make) {
        fs::remove_all(path);
        make(path);
    };
    replace(exec, [](const std::string& p) { make_folders(p); });
    EXPECT_EQ(check_version(copy.path.c_str()), 0) << "a folder named exec.ver";
    replace(exec, [](const std::string& p) { ::mkfifo(p.c_str(), 0644); });
    EXPECT_EQ(check_version(copy.path.c_str()), 0) << "a pipe named exec.ver";
    replace(exec, [](const std::string& p) { ::symlink("/nonexistent/exec.ver", p.c_str()); });
    EXPECT_EQ(check_version(copy.path.c_str()), 0) << "a link to nothing";
    fs::remove(exec);
    EXPECT_EQ(check_version(copy.path.c_str()), 1) << "absent still passes";
    replace(data, [](const std::string& p) { make_folders(p); });
    EXPECT_EQ(check_version(copy.path.c_str()), 0) << "a folder named data.ver";
    fs::remove_all(data);
    EXPECT_EQ(check_version(copy.path.c_str()), 1);
    ::alarm(0);

    // Through the driver: older is shown and nothing changes.
    install_old_copy(place / "Quorvel");
    fs::remove(place / "Quorvel/dravik/exec.ver");
    make_folders(place / "Quorvel/dravik/exec.ver");
    auto before = contents_below(place.path);
    EXPECT_EQ(run({place.path}, {true}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Older}));
    EXPECT_EQ(contents_below(place.path), before);
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
    install_old_copy(deep);
    std::string cut_launcher = (deep + "/Quorvel (fullscreen, fast).exe").substr(0, PathBufferSize - 1);
    ASSERT_TRUE(write_text(cut_launcher, "someone else's file"));
    EXPECT_EQ(run({deep}, {true}), 0);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Found, Patched}));
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(read_file(cut_launcher, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "someone else's file") << "D was not cut";
    EXPECT_TRUE(exists(deep + "/Quorvel (fullscreen, fast).exe")) << "a launcher beyond the buffer stays";

    // A chosen folder so long that B and C do not fit: nothing is probed
    // there and the fresh install fails without writing.
    Fake.shown.clear();
    std::string longest = deep + "/" + std::string(PathBufferSize - deep.size() - 4, 'e');
    ASSERT_TRUE(make_folders(longest));
    EXPECT_EQ(run({longest}, {}), 1);
    EXPECT_EQ(Fake.shown, (std::vector<ShownDialog>{Picker, Failed}));
    EXPECT_TRUE(files_below(longest).empty());
}
