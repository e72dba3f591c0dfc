// The real installer as a user meets it without a display: a child process
// with a home of its own, answering its terminal dialogs from a script.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string Ask = "[Quorvel Package]\nUnpack on the desktop?\n[y/n] ";
const std::string Picker = "Indicate where to unpack Quorvel.\nFolder: ";
const std::string Unpacked =
    "[Quorvel Package]\nQuorvel has successfully unpacked!\n"
    "The icons for running the game are in the Quorvel folder.\n";
const std::string Found =
    "[Quorvel Package]\nThe chosen location already contains a version of Quorvel.\n"
    "This package will NOT overwrite it (and destroy save data).\n"
    "(If you want that, you have to delete it manually.)\n"
    "However, would you like it updated?\n[y/n] ";
const std::string Taken =
    "[Quorvel Package]\nThe chosen location already has something named \"Quorvel\".\n"
    "This package won't overwrite it.\nWould you like to choose another location?\n[y/n] ";
const std::string Patched = "[Quorvel Patch]\nPatch successfully completed!\n";
const std::string PatchErrors = "[Quorvel Patch]\nFinished patch attempt.\nErrors occurred!\n\n";
const std::string Older =
    "[Quorvel Patch]\nThis patch is older than your installed version, and can't be applied.\n";

const char* const Launchers[] = {"Quorvel (fullscreen, fast).exe", "Quorvel (fullscreen, smooth).exe"};
const char* const SaveFile = "dravik/playerdata/slot1.sav";

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path)
{
    std::vector<unsigned char> bytes;
    read_file(path, bytes);
    return std::string(bytes.begin(), bytes.end());
}

// The installer reads only HOME, XDG_CONFIG_HOME, DISPLAY and PATH; the first
// three come from the test alone so the machine's desktop never leaks in.
Outcome run_installer(const std::string& home, const std::string& input, std::vector<std::string> env = {})
{
    ScratchFolder io;
    write_text(io / "in", input);
    env.push_back("HOME=" + home);
    for (char** e = environ; *e; e++) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name != "HOME" && name != "DISPLAY" && name != "XDG_CONFIG_HOME")
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = QUORVEL_INSTALLER;
    char* argv[] = {program.data(), nullptr};
    std::string in = io / "in", out = io / "out", err = io / "err";

    pid_t child = ::fork();
    if (child == 0) {
        int i = ::open(in.c_str(), O_RDONLY);
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (i < 0 || o < 0 || e < 0 || ::dup2(i, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 ||
            ::chdir(home.c_str()) != 0)
            ::_exit(126);
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    Outcome run;
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return run;
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the installer did not finish within 120 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

// Everything below a folder: files with their bytes, folders as "name/".
using Tree = std::map<std::string, std::vector<unsigned char>>;

Tree snapshot(const std::string& root)
{
    Tree tree;
    for (auto& entry : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(entry.path(), root).generic_string();
        if (entry.is_directory() && !entry.is_symlink())
            tree[name + "/"];
        else
            read_file(entry.path().string(), tree[name]);
    }
    return tree;
}

// Names only: a byte dump of megabytes helps nobody.
std::string difference(const Tree& expected, const Tree& actual)
{
    std::string report;
    for (auto& [name, bytes] : expected) {
        auto found = actual.find(name);
        if (found == actual.end())
            report += "missing " + name + "\n";
        else if (found->second != bytes)
            report += "other bytes in " + name + "\n";
    }
    for (auto& [name, bytes] : actual)
        if (!expected.count(name))
            report += "unexpected " + name + "\n";
    return report;
}

struct EndToEnd : ::testing::Test {
    ScratchFolder home;
    Manifest package;

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(read_manifest(QUORVEL_PACKAGE_MANIFEST, package, error)) << error;
        ASSERT_FALSE(package.files.empty());
    }

    // What a fresh install adds: the top folder, the package's folders, its files.
    void add_fresh_install(Tree& tree, const std::string& top) const
    {
        tree[top + "/"];
        for (std::string folder : package.directories) {
            folder.replace(0, std::string("\\Quorvel").size(), top);
            for (char& c : folder)
                c = c == '\\' ? '/' : c;
            tree[folder + "/"];
        }
        for (const ManifestFile& file : package.files)
            tree[top + "/" + file.name] = file.bytes;
    }

    // An older copy at root: every package file with other bytes, the given
    // version files, the retired launchers and a save file.
    void old_installation(const std::string& root, const std::string& exec_ver = "build100\r\n",
                          const std::string& data_ver = "build100\r\n") const
    {
        for (const ManifestFile& file : package.files) {
            make_folders(fs::path(root + "/" + file.name).parent_path().string());
            write_text(root + "/" + file.name, "older " + file.name);
        }
        write_text(root + "/dravik/exec.ver", exec_ver);
        write_text(root + "/dravik/playerdata/data.ver", data_ver);
        for (const char* launcher : Launchers)
            write_text(root + "/" + launcher, "retired");
        write_text(root + "/" + SaveFile, "the player's progress");
    }

    // An update's outcome: launchers gone, every package file present in the
    // copy holds the package's bytes, nothing else changed.
    void apply_update(Tree& tree, const std::string& top) const
    {
        for (const char* launcher : Launchers)
            tree.erase(top + launcher);
        for (const ManifestFile& file : package.files)
            if (tree.count(top + file.name))
                tree[top + file.name] = file.bytes;
    }

    void expect_run(const std::string& input, int code, const std::string& transcript, const Tree& after,
                    const std::vector<std::string>& env = {})
    {
        Outcome run = run_installer(home.path, input, env);
        EXPECT_EQ(run.code, code) << "input: " << input;
        EXPECT_EQ(run.out, transcript) << "input: " << input;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(difference(after, snapshot(home.path)), "") << "input: " << input;
    }
};

TEST_F(EndToEnd, FreshInstallOnTheDesktop)
{
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    expect_run("y\n", 0, Ask + Unpacked, after);
}

TEST_F(EndToEnd, FreshInstallThroughThePickerAfterRetries)
{
    make_folders(home / "Desktop");
    make_folders(home / "games");
    make_folders(home / "odd\\name");
    write_text(home / "notes", "not a folder");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "games/Quorvel");
    expect_run("No\nnowhere\nnotes\nodd\\name\n~/games\n", 0,
               Ask + Picker + "Not a folder: nowhere\nFolder: Not a folder: notes\nFolder: " +
                   "A folder whose path contains a backslash cannot be used here: " + home.path +
                   "/odd\\name\nFolder: " + Unpacked,
               after);
}

// A Desktop that is a plain file is no desktop: straight to the picker. A
// relative answer counts from the current folder.
TEST_F(EndToEnd, NoDesktopGoesStraightToThePicker)
{
    write_text(home / "Desktop", "a file");
    make_folders(home / "games");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "games/Quorvel");
    expect_run("games/\n", 0, Picker + Unpacked, after);
}

TEST_F(EndToEnd, DesktopFromUserDirs)
{
    const std::string dirs = "# written by the desktop\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                             "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    make_folders(home / "Desktop");
    make_folders(home / "Schreibtisch");
    make_folders(home / ".config");
    write_text(home / ".config/user-dirs.dirs", dirs);
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Schreibtisch/Quorvel");
    expect_run("YES\n", 0, Ask + Unpacked, after);

    // XDG_CONFIG_HOME, when set, is where the file is looked for.
    make_folders(home / "elsewhere");
    write_text(home / "elsewhere/user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + home.path + "/Bureau\"\n");
    make_folders(home / "Bureau");
    after = snapshot(home.path);
    add_fresh_install(after, "Bureau/Quorvel");
    expect_run("y\n", 0, Ask + Unpacked, after, {"XDG_CONFIG_HOME=" + home.path + "/elsewhere"});
}

TEST_F(EndToEnd, CancelWritesNothing)
{
    make_folders(home / "Desktop");
    Tree before = snapshot(home.path);
    expect_run("n\n\n", 1, Ask + Picker, before);
    expect_run("n\n", 1, Ask + Picker, before);
    expect_run("", 1, Ask + Picker, before);
}

TEST_F(EndToEnd, TakenLocation)
{
    make_folders(home / "Desktop");
    make_folders(home / "games");
    write_text(home / "Desktop/Quorvel", "someone else's file");
    Tree before = snapshot(home.path);
    expect_run("y\nn\n", 1, Ask + Taken, before);

    // Choosing another place installs there and leaves the file alone.
    Tree after = before;
    add_fresh_install(after, "games/Quorvel");
    expect_run("y\ny\n~/games\n", 0, Ask + Taken + Picker + Unpacked, after);

    // The taken check enters Desktop/Quorvel; a relative answer still counts
    // from where the program was started, never from inside that folder.
    fs::remove_all(home / "games/Quorvel");
    fs::remove(home / "Desktop/Quorvel");
    make_folders(home / "Desktop/Quorvel/games");
    before = snapshot(home.path);
    after = before;
    add_fresh_install(after, "games/Quorvel");
    expect_run("y\ny\ngames\n", 0, Ask + Taken + Picker + Unpacked, after);
}

// An installation needs both marker files; either alone is just a folder.
TEST_F(EndToEnd, TakenByAFolderThatIsNoInstallation)
{
    for (std::string marker : {"dravik/dravik.exe", "dravik/images/mossling.png"}) {
        SCOPED_TRACE(marker);
        fs::remove_all(home.path);
        make_folders(fs::path(home / "Desktop/Quorvel/" + marker).parent_path().string());
        write_text(home / "Desktop/Quorvel/" + marker, "half a copy");
        expect_run("y\nn\n", 1, Ask + Taken, snapshot(home.path));
    }
}

// The installation may be the chosen folder's Quorvel, its Quorvel
// Rizedaziv, or the chosen folder itself.
TEST_F(EndToEnd, UpdateRewritesThePackageAndKeepsSaves)
{
    for (std::string top : {"Desktop/Quorvel/", "Desktop/Quorvel Rizedaziv/", "Desktop/"}) {
        SCOPED_TRACE(top);
        fs::remove_all(home.path);
        make_folders(home / "Desktop");
        old_installation(home / top);
        Tree after = snapshot(home.path);
        apply_update(after, top);
        ASSERT_TRUE(after.count(top + SaveFile));
        expect_run("y\ny\n", 0, Ask + Found + Patched, after);
    }
}

TEST_F(EndToEnd, InstallationUntouchedWhenRefusedOrDeclined)
{
    struct Case {
        std::string exec_ver, data_ver, input, transcript;
        int code;
    } cases[] = {
        {"build129\r\n", "build100\r\n", "y\ny\n", Ask + Found + Older, 1},
        {"build100\r\n", "build129\r\n", "y\ny\n", Ask + Found + Older, 1},
        {"build100\r\n", "build100\r\n", "y\nn\n\n", Ask + Found + Picker, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exec_ver + c.data_ver + c.input);
        fs::remove_all(home.path);
        make_folders(home / "Desktop");
        old_installation(home / "Desktop/Quorvel", c.exec_ver, c.data_ver);
        expect_run(c.input, c.code, c.transcript, snapshot(home.path));
    }
}

TEST_F(EndToEnd, UpdateWithAMissingFolderReportsErrors)
{
    make_folders(home / "Desktop");
    old_installation(home / "Desktop/Quorvel");
    fs::remove_all(home / "Desktop/Quorvel/dravik/maps");
    Tree after = snapshot(home.path);
    apply_update(after, "Desktop/Quorvel/");
    expect_run("y\ny\n", 0, Ask + Found + PatchErrors, after);
}

}  // namespace
