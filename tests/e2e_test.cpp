// The real installer as a user meets it without a display: fresh installs,
// updates, refusals and cancels, each compared with the whole home after.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <elf.h>

#include "tests/e2e_support.h"

namespace fs = std::filesystem;

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
    // A NUL inside an answer ends nothing but that answer's meaning.
    expect_run(std::string("No\0yes\nnowhere\nnotes\nodd\\name\n~/games\n", 38), 0,
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
    expect_run("n\n\n", 1, Ask + Picker + Cancelled, before);
    expect_run("n\n", 1, Ask + Picker + Cancelled, before);
    expect_run("", 1, Ask + Picker + Cancelled, before);
}

// Enter takes Yes, as the desktop dialogs' default button does.
TEST_F(EndToEnd, EnterTakesYes)
{
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    expect_run("\n", 0, Ask + Unpacked, after);

    // Found, then updated.
    fs::remove_all(home / "Desktop/Quorvel");
    install_old_copy(home / "Desktop/Quorvel", package);
    after = snapshot(home.path);
    apply_update(after, "Desktop/Quorvel/");
    expect_run("\n\n", 0, Ask + Found + Patched, after);

    // Taken: Enter asks for another place.
    fs::remove_all(home / "Desktop/Quorvel");
    write_text(home / "Desktop/Quorvel", "someone else's file");
    expect_run("\n\n", 1, Ask + Taken + Picker + Cancelled, snapshot(home.path));
}

// When the program cannot read where it started, a relative answer has
// nothing to count from: it is refused, never resolved against the folder
// the taken check entered.
TEST_F(EndToEnd, RelativeAnswerRefusedWhenTheLaunchFolderIsUnreadable)
{
    make_folders(home / "Desktop/Quorvel/games");
    make_folders(home / "games");
    ScratchFolder outside;
    make_folders(outside / "start");
    Tree before = snapshot(home.path);
    Tree after = before;
    add_fresh_install(after, "games/Quorvel");
    const std::string refusal =
        "Relative paths cannot be used, as the folder this program started in could not be read: games\n";
    Outcome run = run_installer(home.path, "y\ny\ngames\n~/games\n", {}, QUORVEL_INSTALLER, outside / "start", true);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, Ask + Taken + Picker + refusal + "Folder: " + Unpacked);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(difference(after, snapshot(home.path)), "");
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
    for (std::string marker : MarkerFiles) {
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
        install_old_copy(home / top, package);
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
        {"build100\r\n", "build100\r\n", "y\nn\n\n", Ask + Found + Picker + Cancelled, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exec_ver + c.data_ver + c.input);
        fs::remove_all(home.path);
        make_folders(home / "Desktop");
        install_old_copy(home / "Desktop/Quorvel", package, c.exec_ver, c.data_ver);
        expect_run(c.input, c.code, c.transcript, snapshot(home.path));
    }
}

TEST_F(EndToEnd, UpdateWithAMissingFolderReportsErrors)
{
    make_folders(home / "Desktop");
    install_old_copy(home / "Desktop/Quorvel", package);
    fs::remove_all(home / "Desktop/Quorvel/dravik/maps");
    Tree after = snapshot(home.path);
    apply_update(after, "Desktop/Quorvel/");
    expect_run("y\ny\n", 0, Ask + Found + PatchErrors, after);
}

// A package of a game's size unpacks for seconds: on a terminal a line
// counts the percentage up under the run's caption, and where standard
// output is no terminal (a script, a log) the transcript is exactly a small
// package's.
TEST_F(EndToEnd, LargePackageCountsUpOnATerminalOnly)
{
    use_large_package();
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    expect_run("y\n", 0, Ask + Unpacked, after);

    auto expect_counted = [&](const std::string& input, const std::string& asked, const std::string& caption,
                              const std::string& closing) {
        Outcome run = run_installer(home.path, input, {}, installer, "", false, true);
        EXPECT_EQ(run.code, 0);
        const std::string line = "\r[" + caption + "] Unpacking... ";
        EXPECT_EQ(run.out.rfind(asked + line + "0%" + line + "1%", 0), 0u) << run.out;
        EXPECT_NE(run.out.find(line + "50%" + line + "51%"), std::string::npos) << run.out;
        const std::string end = line + "99%" + line + "100%\n" + closing;
        EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), end.size())), end) << run.out;
        EXPECT_EQ(difference(after, snapshot(home.path)), "");
    };
    fs::remove_all(home / "Desktop/Quorvel");
    expect_counted("y\n", Ask, "Quorvel Package", Unpacked);

    // An update writes into the folders the copy has, under the patch caption.
    fs::remove_all(home / "Desktop/Quorvel");
    make_folders(home / "Desktop/Quorvel/data/more");
    make_folders(home / "Desktop/Quorvel/dravik/images");
    write_text(home / (std::string("Desktop/Quorvel/") + MarkerFiles[0]), "an older game");
    write_text(home / (std::string("Desktop/Quorvel/") + MarkerFiles[1]), "an older picture");
    after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    expect_counted("y\ny\n", Ask + Found, "Quorvel Patch", Patched);
}

namespace {

// The sizes of an ELF file's sections by name; empty when it is no 64-bit ELF.
std::map<std::string, uint64_t> elf_sections(const std::string& path)
{
    std::vector<unsigned char> bytes;
    std::map<std::string, uint64_t> sections;
    Elf64_Ehdr header;
    if (!read_file(path, bytes) || bytes.size() < sizeof header || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
        return sections;
    std::memcpy(&header, bytes.data(), sizeof header);
    auto section = [&](uint32_t i) {
        Elf64_Shdr s{};
        uint64_t at = header.e_shoff + uint64_t(i) * sizeof s;
        if (at + sizeof s <= bytes.size())
            std::memcpy(&s, bytes.data() + at, sizeof s);
        return s;
    };
    Elf64_Shdr names = section(header.e_shstrndx);
    for (uint32_t i = 1; i < header.e_shnum; i++) {
        Elf64_Shdr s = section(i);
        if (names.sh_offset + s.sh_name < bytes.size())
            sections[reinterpret_cast<const char*>(bytes.data() + names.sh_offset + s.sh_name)] += s.sh_size;
    }
    return sections;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SanitizedBuild = true;
#elif defined(__has_feature)
constexpr bool SanitizedBuild = __has_feature(address_sanitizer);
#else
constexpr bool SanitizedBuild = false;
#endif

// What a release ships is the package and little more: the package's own
// objects carry no debug information whatever the build type, and the
// program, less what stripping removes (a Release build is stripped),
// costs at most 64 KiB over the package's compressed bytes.
TEST(ReleaseSize, TheProgramCostsLittleOverItsPackage)
{
    std::string objects = QUORVEL_PACKAGE_OBJECTS;
    for (size_t start = 0, end; start < objects.size(); start = end + 1) {
        end = std::min(objects.find('|', start), objects.size());
        std::string path = objects.substr(start, end - start);
        std::map<std::string, uint64_t> object = elf_sections(path);
        ASSERT_FALSE(object.empty()) << path;
        for (const auto& [name, size] : object)
            EXPECT_NE(name.rfind(".debug", 0), 0u) << path << " carries " << name << ", " << size << " bytes";
    }

    std::map<std::string, uint64_t> program = elf_sections(QUORVEL_INSTALLER);
    ASSERT_FALSE(program.empty()) << QUORVEL_INSTALLER;
    uint64_t strippable = 0;
    for (const auto& [name, size] : program)
        if (name.rfind(".debug", 0) == 0 || name == ".symtab" || name == ".strtab")
            strippable += size;
    uint64_t package = 0;
    for (uint32_t k = 0; k < Package->blocks.block_count; k++)
        package += SymbolCount + (Package->blocks.bit_counts[k] + 7) / 8;
    uint64_t overhead = fs::file_size(QUORVEL_INSTALLER) - strippable - package;
    std::printf("program overhead: %llu bytes over %llu of package\n", (unsigned long long)overhead,
                (unsigned long long)package);
    if (SanitizedBuild)
        GTEST_SKIP() << "the sanitizers' runtime and checks are no part of a release; the 64 KiB budget is not checked";
    EXPECT_LE(overhead, 65536u);
}
