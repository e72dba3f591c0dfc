// The real installer against the faults a real machine produces: a damaged
// executable, the machines of the shared safety cases, a kill in the middle
// of an update, and a disk that fills up.
#include <algorithm>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "installer/probes.h"
#include "package/stream.h"
#include "platform/files.h"
#include "tests/e2e_support.h"
#include "tests/safety_cases.h"

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
    for (const ImageDamage& damage : image_damages(*Package)) {
        SCOPED_TRACE(damage.what);
        std::vector<size_t> offsets = offsets_of(program, damage.bytes, damage.size);
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

        install_old_copy(home / "Desktop/Quorvel", package);
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

// Killed at any moment, an update leaves every file whole; the next run
// finishes the job and leaves no staging file behind.
TEST_F(EndToEnd, AnUpdateKilledMidwayLeavesWholeFilesAndTheRerunCleansUp)
{
    make_folders(home / "Desktop");
    std::string top = home / "Desktop/Quorvel";
    const std::string top_name = "Desktop/Quorvel/";
    install_old_copy(top, package);
    Tree before = snapshot(home.path);
    Tree after = before;
    apply_update(after, top_name);
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
        // The version files change last: a new build is never claimed
        // beside an old file or a launcher.
        auto is_version = [&](const std::string& name) {
            return name == top_name + VersionFiles[0] || name == top_name + VersionFiles[1];
        };
        bool claims_new = false;
        for (const char* version : VersionFiles)
            claims_new |= now.at(top_name + version) != before.at(top_name + version);
        for (auto& [name, bytes] : after) {
            if (claims_new && !is_version(name)) {
                EXPECT_TRUE(now.count(name) && now.at(name) == bytes) << "attempt " << attempt << ": " << name;
            }
        }
        for (const char* launcher : RetiredLaunchers)
            EXPECT_FALSE(claims_new && now.count(top_name + launcher)) << "attempt " << attempt << ": " << launcher;
        expect_run("y\ny\n", 0, Ask + Found + Patched, after);
        EXPECT_EQ(staging_left(home.path), "");
        fs::remove_all(top);
        install_old_copy(top, package);
    }
    EXPECT_GT(killed_with_staging, 0) << "no run was caught in the middle of a file";
}

namespace {

// The installer as a child with pipes for its terminal: each answer is
// given once its question shows, and while_found runs as the found question
// waits. Run as user when one is given: this program's own folders may be
// closed to that user (a checkout in root's home), so a copy of the
// installer in a folder the user can reach is run.
Outcome converse(const std::string& home, const std::vector<bool>& answers,
                 const std::function<void()>& while_found, int user)
{
    ScratchFolder bin;
    std::string program = QUORVEL_INSTALLER;
    if (user >= 0) {
        const fs::perms reachable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec;
        program = bin / "quorvel-package";
        fs::copy_file(QUORVEL_INSTALLER, program);
        fs::permissions(program, reachable);
        fs::permissions(bin.path, reachable);
    }
    // An installer that ends before reading its answer must fail the case,
    // not end this program.
    auto previous_handler = std::signal(SIGPIPE, SIG_IGN);
    int to_child[2];
    int from_child[2];
    Outcome run;
    if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) {
        ADD_FAILURE() << "no pipes";
        return run;
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(to_child[0], 0);
        ::dup2(from_child[1], 1);
        ::close(to_child[1]);
        ::close(from_child[0]);
        if (user >= 0 && (::setgid(gid_t(user)) != 0 || ::setuid(uid_t(user)) != 0))
            ::_exit(126);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("XDG_CONFIG_HOME");
        if (::chdir(home.c_str()) != 0)
            ::_exit(126);
        ::execl(program.c_str(), program.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    // Reads until the output holds count questions, or to its end; a child
    // silent for 20 s counts as hung.
    auto questions = [&] {
        size_t n = 0;
        for (size_t at = 0; (at = run.out.find("[Y/n] ", at)) != std::string::npos; at++)
            n++;
        return n;
    };
    auto read_until = [&](size_t count) {
        char buffer[4096];
        while (count == 0 || questions() < count) {
            pollfd ready = {from_child[0], POLLIN, 0};
            if (::poll(&ready, 1, 20000) != 1) {
                ADD_FAILURE() << "the installer hung after: " << run.out;
                return false;
            }
            ssize_t got = ::read(from_child[0], buffer, sizeof buffer);
            if (got <= 0)
                return count == 0;
            run.out.append(buffer, size_t(got));
        }
        return true;
    };
    std::vector<bool> all = {true};   // yes to the desktop
    all.insert(all.end(), answers.begin(), answers.end());
    for (size_t i = 0; i < all.size() && read_until(i + 1); i++) {
        if (while_found && run.out.size() >= Found.size() &&
            run.out.compare(run.out.size() - Found.size(), Found.size(), Found) == 0)
            while_found();
        if (::write(to_child[1], all[i] ? "y\n" : "n\n", 2) != 2)
            break;
    }
    ::close(to_child[1]);
    if (!read_until(0))
        ::kill(child, SIGKILL);
    ::close(from_child[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::signal(SIGPIPE, previous_handler);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string transcript_of(const std::vector<Told>& told)
{
    std::string text = Ask;
    for (Told t : told)
        text += t == Told::FoundQuestion ? Found : t == Told::TakenQuestion ? Taken : t == Told::OlderRefusal ? Older : PatchFailed;
    return text;
}

}  // namespace

TEST_F(EndToEnd, WhatCannotBeTrustedIsRefusedAndNothingChanges)
{
    for (const SafetyCase& c : safety_cases()) {
        SCOPED_TRACE(c.what);
        fs::remove_all(home.path);
        make_folders(home / "Desktop");
        ScratchFolder elsewhere;
        c.prepare(home / "Desktop", package);
        int user = -1;
        if (c.needs_unprivileged_user && ::geteuid() == 0) {
            // Root reads everything: an ordinary user owns the home and runs it.
            user = 65534;
            for (auto& entry : fs::recursive_directory_iterator(home.path))
                ::lchown(entry.path().c_str(), uid_t(user), gid_t(user));
            ::chown(home.path.c_str(), uid_t(user), gid_t(user));
        }
        Tree expected = snapshot(home.path);
        auto while_found = [&] {
            if (c.while_found) {
                c.while_found(home / "Desktop", elsewhere.path);
                expected = snapshot(home.path);
            }
        };
        Outcome run = converse(home.path, c.answers, while_found, user);
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.out, transcript_of(c.told));
        EXPECT_EQ(difference(expected, snapshot(home.path)), "");
    }
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
    install_old_copy(home / "Desktop/Quorvel", package);
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

namespace {

// Each file of now is the old one or the new one; names of staging files
// are passed over.
void expect_whole_files(const Tree& now, const Tree& before, const Tree& after, const std::string& when)
{
    for (auto& [name, bytes] : now) {
        if (name.find(platform::StagingSuffix) != std::string::npos)
            continue;
        bool old_file = before.count(name) && before.at(name) == bytes;
        bool new_file = after.count(name) && after.at(name) == bytes;
        EXPECT_TRUE(old_file || new_file) << when << ": a broken file " << name;
    }
}

std::chrono::milliseconds spread(int attempt, int limit_ms)
{
    return std::chrono::milliseconds((attempt * 37) % limit_ms);
}

}  // namespace

// Two copies update one installation, one of them (each in turn) killed at
// some moment: no file is ever damaged, and a copy that says patched
// patched everything.
TEST_F(EndToEnd, TwoUpdatesAtOnceNeverDamageAFileOrClaimSuccessFalsely)
{
    make_folders(home / "Desktop");
    std::string top = home / "Desktop/Quorvel";
    install_old_copy(top, package);
    Tree before = snapshot(home.path);
    Tree after = before;
    apply_update(after, "Desktop/Quorvel/");
    std::map<std::string, int> outcomes;
    for (int attempt = 0; attempt < 24; attempt++) {
        std::string when = "attempt " + std::to_string(attempt);
        // The second copy picks the installation itself: another spelling
        // of the same folder.
        RunningInstaller first = start_installer(home.path, "y\ny\n");
        RunningInstaller second = start_installer(home.path, "n\n" + top + "\ny\n");
        std::this_thread::sleep_for(spread(attempt, 90));
        bool kill_first = attempt % 2 == 1;
        Outcome killed = finish_installer(kill_first ? first : second, true);
        Outcome survivor = finish_installer(kill_first ? second : first);
        if (kill_first) {   // the other spelling's transcript, as the first one's
            size_t at = survivor.out.find(Picker);
            if (at != std::string::npos)
                survivor.out.erase(at, Picker.size());
        }
        if (survivor.out == Ask + Found + Patched) {
            EXPECT_EQ(survivor.code, 0) << when;
            EXPECT_EQ(difference(after, snapshot(home.path)), "") << when << ": patched, yet not every file";
        } else {
            EXPECT_EQ(survivor.out, Ask + Found + PatchBusy) << when;
            EXPECT_EQ(survivor.code, 1) << when;
            expect_whole_files(snapshot(home.path), before, after, when);
        }
        outcomes[survivor.out == Ask + Found + PatchBusy ? "the survivor was told of the other copy"
                 : killed.code == 1                       ? "the survivor patched, the other copy was told"
                                                          : "the survivor patched"]++;
        expect_run("y\ny\n", 0, Ask + Found + Patched, after);
        EXPECT_EQ(staging_left(home.path), "") << when;
        fs::remove_all(top);
        install_old_copy(top, package);
    }
    for (auto& [what, n] : outcomes)
        std::cout << "  " << n << " x " << what << "\n";
    EXPECT_GT(outcomes.size(), 1u) << "the copies never met";
}

// Two fresh installs started together: exactly one unpacks, the other
// changes nothing and says why.
TEST_F(EndToEnd, TwoFreshInstallsAtOnceUnpackExactlyOnce)
{
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    for (int attempt = 0; attempt < 6; attempt++) {
        std::string when = "attempt " + std::to_string(attempt);
        RunningInstaller one = start_installer(home.path, "y\nn\n");
        RunningInstaller two = start_installer(home.path, "y\nn\n");
        Outcome runs[2] = {finish_installer(one), finish_installer(two)};
        int unpacked = 0;
        for (const Outcome& run : runs) {
            if (run.out == Ask + Unpacked) {
                EXPECT_EQ(run.code, 0) << when;
                unpacked++;
            } else {
                EXPECT_TRUE(run.out == Ask + Busy || run.out == Ask + Taken) << when << ": " << run.out;
                EXPECT_EQ(run.code, 1) << when;
            }
        }
        EXPECT_EQ(unpacked, 1) << when;
        EXPECT_EQ(difference(after, snapshot(home.path)), "") << when;
        fs::remove_all(home / "Desktop/Quorvel");
    }
}

// Killed at any moment, a fresh install leaves no trap: the next run
// installs (or finds the finished tree and updates it), never asks the
// taken question, and nothing of the killed run is left.
TEST_F(EndToEnd, AFreshInstallKilledAtAnyMomentIsCompletedByTheNextRun)
{
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    // Looked at by name alone: the tree moves while it is looked at.
    std::string building = home / (std::string("Desktop/Quorvel") + platform::StagingSuffix);
    auto is_building = [&] {
        std::error_code error;
        return fs::exists(building, error);
    };
    int killed_while_building = 0;
    for (int attempt = 0; attempt < 10; attempt++) {
        std::string when = "attempt " + std::to_string(attempt);
        RunningInstaller child = start_installer(home.path, "y\n");
        auto start = std::chrono::steady_clock::now();
        siginfo_t ended{};
        while (!is_building() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10) &&
               ::waitid(P_PID, id_t(child.pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == 0) {
        }
        std::this_thread::sleep_for(spread(attempt, 60));
        killed_while_building += is_building();
        finish_installer(child, true);
        Outcome next = run_installer(home.path, "y\ny\n");
        EXPECT_TRUE(next.out == Ask + Unpacked || next.out == Ask + Found + Patched) << when << ": " << next.out;
        EXPECT_EQ(next.code, 0) << when;
        EXPECT_EQ(difference(after, snapshot(home.path)), "") << when;
        fs::remove_all(home / "Desktop/Quorvel");
    }
    EXPECT_GT(killed_while_building, 0) << "no run was caught building its tree";
}

// A power cut a second after success: a disk of the test's own (ext4 on a
// loop device), copied as it stands and checked as the next boot would.
struct PowerCut : EndToEnd {
    ScratchFolder disk;
    std::string mounted;
    void TearDown() override
    {
        if (!mounted.empty())
            ::umount2(mounted.c_str(), MNT_DETACH);
    }
    // The game's tree on the copy, after the file system's own check.
    Tree tree_after_cut(const std::string& folder)
    {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::string copy = disk / "copy.img", out = disk / "out";
        fs::remove_all(out);
        make_folders(out);
        EXPECT_EQ(std::system(("cp --sparse=always " + disk / "disk.img" + " " + copy).c_str()), 0);
        int fsck = std::system(("e2fsck -fy " + copy + " >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(fsck) && WEXITSTATUS(fsck) < 4) << "e2fsck found damage it could not mend";
        EXPECT_EQ(std::system(("debugfs -R 'rdump " + folder + " " + out + "' " + copy + " >/dev/null 2>&1").c_str()), 0);
        return snapshot(out);
    }
};

TEST_F(PowerCut, AFreshInstallAndAnUpdateAreOnTheDiskWhenTheySaySo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a disk of its own needs root; run the suite as root to test a power cut";
    if (std::system("command -v mkfs.ext4 e2fsck debugfs losetup >/dev/null") != 0)
        GTEST_SKIP() << "mkfs.ext4, e2fsck, debugfs or losetup is missing (Debian: e2fsprogs, mount)";
    std::string image = disk / "disk.img";
    make_folders(home / "Desktop");
    // A long commit interval: only the installer's own flushing can put the
    // files on the disk within the second.
    if (std::system(("mkfs.ext4 -q -F " + image + " 64M").c_str()) != 0 ||
        std::system(("mount -o loop,commit=60 " + image + " " + home / "Desktop").c_str()) != 0)
        GTEST_SKIP() << "this machine gives no loop device to mount";
    mounted = home / "Desktop";
    Tree fresh;
    add_fresh_install(fresh, "Quorvel");
    Outcome install = run_installer(home.path, "y\n");
    ASSERT_EQ(install.out, Ask + Unpacked);
    EXPECT_EQ(difference(fresh, tree_after_cut("/Quorvel")), "") << "a fresh install lost files";

    fs::remove_all(home / "Desktop/Quorvel");
    install_old_copy(home / "Desktop/Quorvel", package);
    ::sync();
    Tree updated = snapshot(home / "Desktop/Quorvel");
    apply_update(updated, "");
    Outcome update = run_installer(home.path, "y\ny\n");
    ASSERT_EQ(update.out, Ask + Found + Patched);
    Tree cut = tree_after_cut("/Quorvel");
    Tree rooted;
    for (auto& [name, bytes] : cut)
        rooted[name.substr(std::string("Quorvel/").size())] = bytes;   // rdump puts the folder itself in out
    rooted.erase("");
    EXPECT_EQ(difference(updated, rooted), "") << "an update lost files";
}
