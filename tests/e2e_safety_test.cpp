// The real installer against the faults a real machine produces: a damaged
// executable, pipes at probed names, a kill in the middle of an update,
// version files it may not read, an installation that moves while a
// question waits, and a disk that fills up.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "package/stream.h"
#include "platform/files.h"
#include "tests/e2e_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> bytes_of(const std::string& path)
{
    std::vector<unsigned char> bytes;
    read_file(path, bytes);
    return bytes;
}

// Where these bytes stand in the program file. Debug information may hold a
// second copy of constant data; changing both changes the program alike.
std::vector<size_t> offsets_of(const std::vector<unsigned char>& program, const void* data, size_t size)
{
    const unsigned char* wanted = static_cast<const unsigned char*>(data);
    std::vector<size_t> offsets;
    for (auto at = program.begin(); (at = std::search(at, program.end(), wanted, wanted + size)) != program.end(); at++)
        offsets.push_back(size_t(at - program.begin()));
    return offsets;
}

struct Damage {
    const char* what;
    std::vector<unsigned char> bytes;   // what to find: long enough to be unique
    size_t flip;                        // the byte within it to change
};

// One kind of each of the image's data, taken from the image this test
// program carries, which is the installer's own.
std::vector<Damage> damages()
{
    const PackageImage& image = *Package;
    auto of = [](const void* p, size_t n) {
        const unsigned char* b = static_cast<const unsigned char*>(p);
        return std::vector<unsigned char>(b, b + n);
    };
    const char* folder = image.directories.paths[image.directories.count - 1];
    const EntryRecord& entry = image.entries.entries[10];
    const char* build = image.known_builds[100];
    return {
        {"folder list", of(folder, std::strlen(folder) + 1), 10},
        {"entry name", of(&entry, sizeof entry), 3},
        {"entry size", of(&entry, sizeof entry), 125},
        {"build list", of(build, std::strlen(build) + 1), 1},
        {"code lengths", of(image.blocks.code_lengths[5], SymbolCount), 40},
        {"stream", of(image.blocks.streams[7] + 5000, 64), 20},
    };
}

// Any file or folder whose name ends like a staging file.
std::string staging_left(const std::string& root)
{
    for (auto& entry : fs::recursive_directory_iterator(root)) {
        std::string name = entry.path().string();
        if (name.size() > sizeof platform::StagingSuffix &&
            name.compare(name.size() - (sizeof platform::StagingSuffix - 1), std::string::npos,
                         platform::StagingSuffix) == 0)
            return name;
    }
    return "";
}

}  // namespace

TEST_F(EndToEnd, ADamagedProgramRefusesToUnpackAndTheGoodOneStillUpdates)
{
    std::vector<unsigned char> program = bytes_of(QUORVEL_INSTALLER);
    ASSERT_FALSE(program.empty());
    ScratchFolder bin;
    for (const Damage& damage : damages()) {
        SCOPED_TRACE(damage.what);
        std::vector<size_t> offsets = offsets_of(program, damage.bytes.data(), damage.bytes.size());
        ASSERT_FALSE(offsets.empty()) << "not in the program";
        ASSERT_LE(offsets.size(), 2u) << "not specific enough to find";
        std::vector<unsigned char> damaged = program;
        for (size_t at : offsets)
            damaged[at + damage.flip] ^= 0x08;
        std::string broken = bin / "quorvel-package";
        fs::remove(broken);
        ASSERT_TRUE(write_file(broken, damaged));
        fs::permissions(broken, fs::perms::owner_all);

        fs::remove_all(home.path);
        make_folders(home / "Desktop");
        Tree empty = snapshot(home.path);
        Outcome fresh = run_installer(home.path, "y\n", {}, broken);
        EXPECT_EQ(fresh.code, 1);
        EXPECT_EQ(fresh.out, Ask + Failed);
        EXPECT_EQ(difference(empty, snapshot(home.path)), "") << "a fresh install wrote something";

        old_installation(home / "Desktop/Quorvel");
        Tree installed = snapshot(home.path);
        Outcome update = run_installer(home.path, "y\ny\n", {}, broken);
        EXPECT_EQ(update.code, 1);
        EXPECT_EQ(update.out, Ask + Found + PatchFailed);
        EXPECT_EQ(difference(installed, snapshot(home.path)), "") << "the installed copy changed";

        Tree updated = installed;
        apply_update(updated, "Desktop/Quorvel/");
        expect_run("y\ny\n", 0, Ask + Found + Patched, updated);
    }
}

// A pipe at any name the installer probes: today's answer, not a hang.
TEST_F(EndToEnd, PipesAtProbedNamesGetAnAnswer)
{
    make_folders(home / "Desktop");
    ASSERT_EQ(::mkfifo((home / "Desktop/Quorvel").c_str(), 0644), 0);
    expect_run("y\nn\n", 1, Ask + Taken, snapshot(home.path));

    fs::remove(home / "Desktop/Quorvel");
    old_installation(home / "Desktop/Quorvel");
    fs::remove(home / "Desktop/Quorvel/dravik/dravik.exe");
    ASSERT_EQ(::mkfifo((home / "Desktop/Quorvel/dravik/dravik.exe").c_str(), 0644), 0);
    // A pipe is no marker file: a folder that is no installation.
    expect_run("y\nn\n", 1, Ask + Taken, snapshot(home.path));

    fs::remove(home / "Desktop/Quorvel/dravik/dravik.exe");
    write_text(home / "Desktop/Quorvel/dravik/dravik.exe", "older");
    for (const char* version : {"dravik/exec.ver", "dravik/playerdata/data.ver"}) {
        SCOPED_TRACE(version);
        std::string path = home / (std::string("Desktop/Quorvel/") + version);
        fs::remove(path);
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        expect_run("y\ny\n", 1, Ask + Found + Older, snapshot(home.path));
        fs::remove(path);
        write_text(path, "build100\r\n");
    }
}

// Killed at any moment, an update leaves every file whole; the next run
// finishes the job and leaves no staging file behind.
TEST_F(EndToEnd, AnUpdateKilledMidwayLeavesWholeFilesAndTheRerunCleansUp)
{
    make_folders(home / "Desktop");
    std::string top = home / "Desktop/Quorvel";
    old_installation(top);
    Tree before = snapshot(home.path);
    Tree after = before;
    apply_update(after, "Desktop/Quorvel/");
    std::string input_file = home / "../answers";
    int killed_with_staging = 0;
    for (int attempt = 0; attempt < 8; attempt++) {
        write_text(input_file, "y\ny\n");
        pid_t child = ::fork();
        if (child == 0) {
            int in = ::open(input_file.c_str(), O_RDONLY);
            int out = ::open("/dev/null", O_WRONLY);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::setenv("HOME", home.path.c_str(), 1);
            ::unsetenv("DISPLAY");
            ::unsetenv("XDG_CONFIG_HOME");
            ::execl(QUORVEL_INSTALLER, QUORVEL_INSTALLER, nullptr);
            ::_exit(127);
        }
        // Kill when a staging file first shows, or a little later each time.
        auto start = std::chrono::steady_clock::now();
        auto delay = std::chrono::milliseconds(attempt * 10);
        bool staged = false;
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
            staged = !staging_left(top).empty();
            if (staged && std::chrono::steady_clock::now() - start >= delay)
                break;
            int status;
            if (::waitpid(child, &status, WNOHANG) == child) {
                child = -1;
                break;
            }
        }
        if (child > 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            killed_with_staging += staged;
        }
        // Whatever the moment: each file is the old one or the new one.
        Tree now = snapshot(home.path);
        for (auto& [name, bytes] : now) {
            if (name.find(platform::StagingSuffix) != std::string::npos)
                continue;
            bool old_file = before.count(name) && before.at(name) == bytes;
            bool new_file = after.count(name) && after.at(name) == bytes;
            EXPECT_TRUE(old_file || new_file) << "attempt " << attempt << ": a broken file " << name;
        }
        expect_run("y\ny\n", 0, Ask + Found + Patched, after);
        EXPECT_EQ(staging_left(home.path), "");
        fs::remove_all(top);
        old_installation(top);
    }
    EXPECT_GT(killed_with_staging, 0) << "no run was caught in the middle of a file";
}

// Version files that exist but cannot be read might name a newer build:
// the update is refused and nothing is touched.
TEST_F(EndToEnd, UnreadableVersionFilesRefuseTheUpdate)
{
    make_folders(home / "Desktop");
    old_installation(home / "Desktop/Quorvel", "build999\r\n", "build999\r\n");
    std::vector<std::string> env;
    uid_t user = ::geteuid();
    if (user == 0) {
        // Root reads everything: the run is made as an ordinary user who
        // owns the copy but not its version files.
        user = 65534;
        for (auto& entry : fs::recursive_directory_iterator(home.path))
            ::lchown(entry.path().c_str(), user, user);
        ::chown(home.path.c_str(), user, user);
    }
    for (const char* version : {"dravik/exec.ver", "dravik/playerdata/data.ver"}) {
        std::string path = home / (std::string("Desktop/Quorvel/") + version);
        ::chown(path.c_str(), 0, 0);
        ::chmod(path.c_str(), 0);
    }
    Tree before = snapshot(home.path);
    ScratchFolder io;
    ::chmod(io.path.c_str(), 0777);
    write_text(io / "in", "y\ny\n");
    pid_t child = ::fork();
    if (child == 0) {
        int in = ::open((io / "in").c_str(), O_RDONLY);
        int out = ::open((io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(in, 0);
        ::dup2(out, 1);
        if (::geteuid() == 0 && (::setgid(user) != 0 || ::setuid(user) != 0))
            ::_exit(126);
        ::setenv("HOME", home.path.c_str(), 1);
        ::unsetenv("DISPLAY");
        ::chdir(home.path.c_str());
        ::execl(QUORVEL_INSTALLER, QUORVEL_INSTALLER, nullptr);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::vector<unsigned char> out = bytes_of(io / "out");
    EXPECT_EQ(std::string(out.begin(), out.end()), Ask + Found + Older);
    EXPECT_EQ(difference(before, snapshot(home.path)), "");
}

// The copy moves while the found question waits for its answer.
TEST_F(EndToEnd, AnInstallationMovedWhileFoundWaitsIsNotWrittenInto)
{
    make_folders(home / "Desktop");
    old_installation(home / "Desktop/Quorvel");
    int to_child[2];
    int from_child[2];
    ASSERT_EQ(::pipe(to_child), 0);
    ASSERT_EQ(::pipe(from_child), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(to_child[0], 0);
        ::dup2(from_child[1], 1);
        ::close(to_child[1]);
        ::close(from_child[0]);
        ::setenv("HOME", home.path.c_str(), 1);
        ::unsetenv("DISPLAY");
        ::chdir(home.path.c_str());
        ::execl(QUORVEL_INSTALLER, QUORVEL_INSTALLER, nullptr);
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    std::string said;
    auto read_until = [&](const std::string& wanted) {
        char buffer[4096];
        while (said.find(wanted) == std::string::npos) {
            ssize_t got = ::read(from_child[0], buffer, sizeof buffer);
            if (got <= 0)
                return false;
            said.append(buffer, size_t(got));
        }
        return true;
    };
    ASSERT_TRUE(::write(to_child[1], "y\n", 2) == 2);
    ASSERT_TRUE(read_until(Found)) << said;
    fs::rename(home / "Desktop/Quorvel", home / "moved");
    Tree before = snapshot(home.path);
    ASSERT_TRUE(::write(to_child[1], "y\n", 2) == 2);
    ::close(to_child[1]);
    read_until("\n\n\n\n\n\n");   // to the end of its output
    ::close(from_child[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(said, Ask + Found + PatchFailed);
    EXPECT_EQ(difference(before, snapshot(home.path)), "") << "files landed on the desktop";
}

// A real full disk: a small tmpfs of the test's own (root only).
struct FullDisk : EndToEnd {
    std::string mounted;
    bool mount_tmpfs(const std::string& where, const char* size)
    {
        make_folders(where);
        std::string options = std::string("size=") + size + ",mode=0755";
        if (::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return false;
        mounted = where;
        return true;
    }
    void TearDown() override
    {
        if (!mounted.empty())
            ::umount2(mounted.c_str(), MNT_DETACH);
    }
};

TEST_F(FullDisk, AFreshInstallIntoOneMebibyteFailsHonestlyAndAnUpdateOnAFullDiskKeepsOldFiles)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root; run the suite as root to test a real full disk";
    if (!mount_tmpfs(home / "Desktop", "1m"))
        GTEST_SKIP() << "this machine refuses to mount a tmpfs: " << std::strerror(errno);
    Outcome fresh = run_installer(home.path, "y\n");
    EXPECT_EQ(fresh.code, 1);
    EXPECT_EQ(fresh.out, Ask + Failed);
    EXPECT_EQ(staging_left(home.path), "");
    for (const ManifestFile& file : package.files) {
        std::string path = home / ("Desktop/Quorvel/" + file.name);
        if (exists(path)) {
            EXPECT_TRUE(bytes_of(path) == file.bytes) << "a cut file: " << file.name;
        }
    }
    ASSERT_EQ(::umount2(mounted.c_str(), MNT_DETACH), 0);
    mounted.clear();

    // Room for the old copy and little more: an update runs out of space.
    ASSERT_TRUE(mount_tmpfs(home / "Desktop", "6m"));
    old_installation(home / "Desktop/Quorvel");
    {
        std::ofstream filler(home / "Desktop/filler", std::ios::binary);
        std::vector<char> chunk(65536, 'f');
        while (filler.write(chunk.data(), chunk.size()))
            ;
    }
    fs::resize_file(home / "Desktop/filler", fs::file_size(home / "Desktop/filler") - 600 * 1024);
    Tree before = snapshot(home.path);
    Tree after = before;
    apply_update(after, "Desktop/Quorvel/");
    Outcome update = run_installer(home.path, "y\ny\n");
    EXPECT_EQ(update.code, 0);
    EXPECT_EQ(update.out, Ask + Found + PatchErrors);
    EXPECT_EQ(staging_left(home.path), "");
    Tree now = snapshot(home.path);
    int written = 0;
    for (auto& [name, bytes] : now) {
        bool old_file = before.count(name) && before.at(name) == bytes;
        bool new_file = after.count(name) && after.at(name) == bytes;
        EXPECT_TRUE(old_file || new_file) << name;
        written += new_file && !old_file;
    }
    EXPECT_GT(written, 0) << "the small files still fit";
    fs::remove(home / "Desktop/filler");
    after.erase("Desktop/filler");
    expect_run("y\ny\n", 0, Ask + Found + Patched, after);
}
