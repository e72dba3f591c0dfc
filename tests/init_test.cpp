// A manifest made from a folder, and what the packer demands so that a
// package's installations can be recognised and updated.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include "installer/probes.h"
#include "package/stream.h"
#include "tests/test_support.h"
#include "tools/pack/init.h"
#include "tools/pack/updates.h"

namespace {

const std::string GameProgram = MarkerFiles[0], GamePicture = MarkerFiles[1];
const std::string ExecVersion = VersionFiles[0], DataVersion = VersionFiles[1];
const std::string FastLauncher = RetiredLaunchers[0], SmoothLauncher = RetiredLaunchers[1];

std::vector<unsigned char> bytes_of(const std::string& text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::string builds_text(const std::string& prefix, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; i++)
        text += "build " + prefix + std::to_string(i) + "\n";
    return text;
}

// A game folder below root with both markers and both version files.
std::string write_game(const ScratchFolder& root, const std::string& exec_build, const std::string& data_build)
{
    std::string game = root / "game";
    make_folders(game + "/dravik/images");
    make_folders(game + "/dravik/playerdata");
    write_file(game + "/" + GameProgram, random_bytes(5000, 1));
    write_file(game + "/" + GamePicture, random_bytes(700, 2));
    write_text(game + "/" + ExecVersion, exec_build);
    write_text(game + "/" + DataVersion, data_build);
    return game;
}

InitResult init(const std::string& folder, const std::string& build = "", const std::string& previous = "",
                bool refuse_new_folders = false)
{
    return init_manifest({folder, build, previous, refuse_new_folders, {}, false});
}

// The lines of write_game's manifest that a previous release shares.
const std::string GameListing = "dir \\Quorvel\\dravik\ndir \\Quorvel\\dravik\\images\n"
                                "dir \\Quorvel\\dravik\\playerdata\nfile " + GameProgram + "\nfile " + ExecVersion + "\n"
                                "file " + GamePicture + "\nfile " + DataVersion + "\n";
const std::string LauncherNote = "note: every update first deletes '" + FastLauncher + "' and "
                                 "'" + SmoothLauncher + "' in the installation's top folder";

Manifest manifest_with(const std::vector<std::pair<std::string, std::string>>& files)
{
    Manifest m;
    for (unsigned i = 0; i < KnownBuildCount; i++)
        m.builds.push_back(std::string(1, 'b').append(std::to_string(i)));   // g++ 12 -O2 warns falsely on "b" + string
    for (const auto& [name, text] : files)
        m.files.push_back({name, bytes_of(text)});
    return m;
}

}  // namespace

TEST(Init, ManifestOfATreeInstallsItByteForByte)
{
    ScratchFolder source;
    std::string game = write_game(source, "rel-7\r\n", "rel-7\n");
    make_folders(game + "/a/b/c");
    make_folders(game + "/empty");
    write_file(game + "/a/b/c/deep.bin", random_bytes(150000, 3));
    write_text(game + "/a/x y.txt", "spaces in a name");
    write_text(game + "/a.txt", "sorts before the folder a");
    write_text(game + "/empty file", "");
    write_text(game + "/package.manifest", "left out of its own list");
    bool runnable = false;   // Windows has no run bits to mark by
#ifndef _WIN32
    runnable = ::chmod((game + "/" + GameProgram).c_str(), 0710) == 0;
    make_folders(game + "/\xC3\x89t\xC3\xA9 \xC4\x81");
    write_text(game + "/\xC3\x89t\xC3\xA9 \xC4\x81/na\xC3\xAFve \xC3\xBC.txt", "non-ASCII names");
#endif
    InitResult result = init(game);
    ASSERT_TRUE(result.problems.empty()) << result.problems[0];
    EXPECT_EQ(result.warning, "");
    write_text(game + "/package.manifest", result.manifest);

    Manifest manifest;
    std::string error;
    ASSERT_EQ(read_manifest(game + "/package.manifest", manifest, error), 1) << error;
    EXPECT_EQ(manifest.builds[0], "rel-7") << "exec.ver as the installer reads it";
    EXPECT_EQ(manifest.builds[1], "(unused slot 002)");
    EXPECT_EQ(manifest.builds[127], "(unused slot 128)");
    std::vector<std::string> expected = files_below(game);
    expected.erase(std::find(expected.begin(), expected.end(), "package.manifest"));
    std::vector<std::string> listed;
    for (const ManifestFile& f : manifest.files) {
        listed.push_back(f.name);
        EXPECT_EQ(f.executable, runnable && f.name == GameProgram) << f.name;
    }
    EXPECT_EQ(listed, expected) << "every file once, sorted byte by byte";
    EXPECT_EQ(manifest.directories.front(), "\\Quorvel\\a");

    PackedTestImage image(manifest);
    ScratchFolder target;
    ASSERT_EQ(install_fresh(target.path.c_str()), 1);
    EXPECT_EQ(files_below(target / "Quorvel"), expected);
    for (const std::string& name : expected) {
        std::vector<unsigned char> want, got;
        read_file(game + "/" + name, want);
        EXPECT_TRUE(read_file(target / ("Quorvel/" + name), got) && got == want) << name;
    }
    EXPECT_TRUE(is_folder(target / "Quorvel/empty"));
}

TEST(Init, NewBuildFirstThenThePreviousReleasesBuildsThenPlaceholders)
{
    ScratchFolder root;
    std::string game = write_game(root, "rel-9\n", "rel-8");
    write_text(root / "previous.manifest", "file gone/long ago\nbuild rel-8\nbuild rel-9\nbuild (unused slot 003)\n"
                                           "build rel-7\n" + builds_text("(unused slot ", 124));
    // Not placeholders, for want of the ")".
    InitResult result = init(game, "", root / "previous.manifest");
    ASSERT_TRUE(result.problems.empty()) << result.problems[0];
    Manifest manifest;
    std::string error;
    ASSERT_EQ(parse_manifest(result.manifest, game + "/", "init", manifest, error), 1) << error;
    EXPECT_EQ(std::vector<std::string>(manifest.builds.begin(), manifest.builds.begin() + 4),
              (std::vector<std::string>{"rel-9", "rel-8", "rel-7", "(unused slot 0"}));
    EXPECT_EQ(manifest.builds[126], "(unused slot 123");
    EXPECT_EQ(manifest.builds[127], "(unused slot 128)");

    write_text(root / "full.manifest", builds_text("old", KnownBuildCount));
    result = init(game, "rel-10", root / "full.manifest");
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(result.problems[0].find("reads as build 'rel-9', which is not one"), std::string::npos)
        << "exec.ver must agree with --build: " << result.problems[0];

    ScratchFolder bare;
    result = init(bare.path, "new", root / "full.manifest");
    ASSERT_TRUE(result.problems.empty()) << result.problems[0];
    ASSERT_EQ(parse_manifest(result.manifest, bare.path + "/", "init", manifest, error), 1) << error;
    EXPECT_EQ(manifest.builds.front(), "new");
    EXPECT_EQ(manifest.builds.back(), "old126");
    EXPECT_TRUE(manifest.files.empty());
    EXPECT_EQ(result.warning, "warning: the payload lacks " + GameProgram + " and " + GamePicture + ", so the "
                              "installer cannot recognise its installations to update them");
}

TEST(Init, LeavesOutWhatNoOneShipsAndWhatItIsToldTo)
{
    const std::vector<std::string> game_files = {GameProgram, ExecVersion, GamePicture,
                                                 DataVersion};
    const std::vector<std::string> usual = {".git", "Thumbs.db", "dravik/.DS_Store", "dravik/images/Desktop.ini"};
    struct Case {
        const char* what;
        std::vector<std::string> excludes;
        bool keep;
        std::vector<std::string> also_listed;   // beyond game_files
        std::vector<std::string> left_out;      // said in a line each
    } cases[] = {
        {"the usual leftovers", {}, false, {".gitignore", "dravik/a.bak", "notes.bak", "tools/x.txt"}, usual},
        {"kept", {}, true,
         {".git/config", ".git/objects/ab", ".gitignore", "Thumbs.db", "dravik/.DS_Store", "dravik/a.bak",
          "dravik/images/Desktop.ini", "notes.bak", "tools/x.txt"},
         {}},
        {"a star matches across folders, a folder is not entered", {"*.bak", "tools"}, false, {".gitignore"}, usual},
        {"sets and single characters", {"[!d]*/x.txt", "?otes.ba[a-k]", "dravik/[a]*"}, false, {".gitignore"}, usual},
        {"a pattern matches the whole path", {"a.bak", "x.txt"}, false,
         {".gitignore", "dravik/a.bak", "notes.bak", "tools/x.txt"}, usual},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ScratchFolder root;
        std::string game = write_game(root, "rel-1", "rel-1");
        for (const char* name : {".git/config", ".git/objects/ab", ".gitignore", "Thumbs.db", "dravik/.DS_Store",
                                 "dravik/a.bak", "dravik/images/Desktop.ini", "notes.bak", "tools/x.txt"}) {
            make_folders(std::filesystem::path(game + "/" + name).parent_path().string());
            write_text(game + "/" + name, name);
        }
        InitRequest request{game, "", "", false, k.excludes, k.keep};
        InitResult result = init_manifest(request);
        ASSERT_TRUE(result.problems.empty()) << result.problems[0];
        Manifest manifest;
        std::string error;
        ASSERT_EQ(parse_manifest(result.manifest, game + "/", "init", manifest, error), 1) << error;
        std::vector<std::string> listed, expected = game_files;
        for (const ManifestFile& f : manifest.files)
            listed.push_back(f.name);
        expected.insert(expected.end(), k.also_listed.begin(), k.also_listed.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed, expected);
        std::vector<std::string> lines;
        for (const std::string& name : k.left_out)
            lines.push_back("left out '" + game + "/" + name + "', " +
                            (name == ".git" ? "a version-control folder" : "a file the desktop keeps") +
                            " (--keep-usual-leftovers keeps it)");
        EXPECT_EQ(result.left_out, lines);
    }
}

TEST(Init, ToldWhatUpdatesFromThePreviousReleaseWillNotDo)
{
    const std::string new_folder = "since build 'old0', the folder 'dlc' is new: an update creates no folders, so "
                                   "updated installations will lack it and 'dlc/a.txt' and 'dlc/b.txt'";
    const std::string new_inner = "since build 'old0', the folder 'dlc/x' is new: an update creates no folders, "
                                  "so updated installations will lack it";
    const std::string dropped = "since build 'old0', 'gone.txt' is no longer in the package: it stays on updated "
                                "installations";
    struct Case {
        const char* what;
        bool new_folders, drop, refuse;
        std::vector<std::string> notes;
        std::vector<std::string> problems;   // none when a manifest is written
    } cases[] = {
        {"the same folders and files", false, false, false, {LauncherNote}, {}},
        {"a new folder", true, false, false, {"warning: " + new_folder, "warning: " + new_inner, LauncherNote}, {}},
        {"a dropped file", false, true, false, {"warning: " + dropped, LauncherNote}, {}},
        {"both", true, true, false,
         {"warning: " + new_folder, "warning: " + new_inner, "warning: " + dropped, LauncherNote}, {}},
        {"a new folder refused", true, true, true, {},
         {new_folder + " (refused by --no-new-folders)", new_inner + " (refused by --no-new-folders)"}},
        {"nothing new to refuse", false, true, true, {"warning: " + dropped, LauncherNote}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ScratchFolder root;
        std::string game = write_game(root, "rel-1", "rel-1");
        if (k.new_folders) {
            make_folders(game + "/dlc/x");
            write_text(game + "/dlc/b.txt", "bonus");
            write_text(game + "/dlc/a.txt", "bonus");
        }
        // The previous release's files need not exist any more.
        write_text(root / "previous.manifest", GameListing + (k.drop ? "file gone.txt\n" : "") +
                                                   "support help@studio.example\nversion 3.1\n" +
                                                   builds_text("old", KnownBuildCount));
        InitResult result = init(game, "", root / "previous.manifest", k.refuse);
        EXPECT_EQ(result.manifest.find("\nversion "), std::string::npos) << "a release's version is its own";
        if (k.problems.empty()) {
            EXPECT_NE(result.manifest.find("\nsupport help@studio.example\n"), std::string::npos) << "carried over";
        }
        EXPECT_EQ(result.problems, k.problems);
        EXPECT_EQ(result.notes, k.problems.empty() ? k.notes : std::vector<std::string>{});
        EXPECT_EQ(result.manifest.empty(), !k.problems.empty());
    }
}

TEST(Init, RefusesWhatThePackerWouldRefuseAndWritesNothing)
{
    struct Case {
        const char* what;
        std::function<void(const std::string& game, const ScratchFolder& root)> make;
        std::string build;
        std::string previous;   // below root
        std::string says;
    } cases[] = {
        {"no name anywhere", [](auto& game, auto&) { std::filesystem::remove(game + "/" + ExecVersion); }, "", "",
         "no build name: give --build NAME, or put the build's name in "},
        {"an empty exec.ver", [](auto& game, auto&) { write_text(game + "/" + ExecVersion, ""); }, "", "",
         "exec.ver (read as ''): build name must be 1 to 125 bytes"},
        {"line feeds only", [](auto& game, auto&) { write_text(game + "/" + ExecVersion, "\r\n\n"); }, "", "",
         "exec.ver (read as '\\x0A'): build name: control characters"},
        {"a control byte in --build", [](auto&, auto&) {}, std::string("v\0", 2), "",
         "--build 'v\\x00': build name: control characters"},
        {"a placeholder for a name", [](auto&, auto&) {}, "(unused slot 042)", "", "never a build's"},
        {"a byte-order mark in exec.ver", [](auto& game, auto&) { write_text(game + "/" + ExecVersion, "\xEF\xBB\xBFrel-1"); },
         "", "", "/" + ExecVersion + " starts with a UTF-8 byte-order mark, which the installer would read as part"},
        {"a byte-order mark in data.ver",
         [](auto& game, auto&) { write_text(game + "/" + DataVersion, "\xEF\xBB\xBFrel-1\r\n"); }, "", "",
         "file '" + DataVersion + "' starts with a UTF-8 byte-order mark"},
        {"a version file naming another build",
         [](auto& game, auto&) { write_text(game + "/" + DataVersion, "rel-0\n"); }, "", "",
         "file '" + DataVersion + "' reads as build 'rel-0', which is not one of the package's build names"},
        {"an emptied previous manifest", [](auto&, auto& root) { write_text(root / "prev", ""); }, "", "prev",
         "prev: 0 build names where a packed manifest has 128"},
        {"a previous manifest that is not one", [](auto&, auto& root) { write_text(root / "prev", "builds x\n"); },
         "", "prev", "prev:1: unknown keyword 'builds'"},
        {"no previous manifest", [](auto&, auto&) {}, "", "missing", "missing: cannot read the manifest"},
        {"a file too long a name", [](auto& game, auto&) { write_text(game + "/" + std::string(124, 'n'), ""); }, "",
         "", "the name is 124 bytes; at most 123 fit"},
#ifndef _WIN32
        {"a symbolic link", [](auto& game, auto&) { std::filesystem::create_symlink("dravik", game + "/link"); }, "",
         "", "/link': a symbolic link"},
        {"a pipe", [](auto& game, auto&) { ::mkfifo((game + "/pipe").c_str(), 0600); }, "", "",
         "/pipe': neither a regular file nor a folder"},
        {"a device name", [](auto& game, auto&) { write_text(game + "/dravik/Aux.cfg", ""); }, "", "",
         "/dravik/Aux.cfg': 'Aux.cfg' is a Windows device name"},
        {"a file and a folder of one name", [](auto& game, auto&) { write_text(game + "/Dravik", ""); }, "", "",
         "/dravik': folder 'dravik' and file 'Dravik' would be one name on Windows"},
        {"names that differ in the case of E acute",
         [](auto& game, auto&) {
             write_text(game + "/\xC3\x89.txt", "");
             write_text(game + "/\xC3\xA9.txt", "");
         },
         "", "", "duplicate file '\xC3\xA9.txt': file '\xC3\x89.txt' differs only in letter case"},
        {"bytes that are not UTF-8", [](auto& game, auto&) { write_text(game + "/\xED\xA0\x80", ""); }, "", "",
         "/\\xED\\xA0\\x80': bytes that are not UTF-8"},
        {"a star", [](auto& game, auto&) { write_text(game + "/a*", ""); }, "", "", "'*' is not allowed"},
#endif
    };
    for (Case& k : cases) {
        ScratchFolder root;
        std::string game = write_game(root, "rel-1", "rel-1");
        k.make(game, root);
        InitResult result = init(game, k.build, k.previous.empty() ? "" : root / k.previous);
        EXPECT_EQ(result.manifest, "") << k.what;
        ASSERT_EQ(result.problems.size(), 1u) << k.what;
        EXPECT_NE(result.problems[0].find(k.says), std::string::npos) << k.what << ": " << result.problems[0];
    }
    ScratchFolder root;
    write_text(root / "file", "");
    InitResult result = init(root / "file", "x");
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(result.problems[0].find("file': not a folder"), std::string::npos) << result.problems[0];
}

TEST(VersionFiles, PackerReadsThemAsTheInstallerDoes)
{
    std::string x125(125, 'x');
    struct Case {
        std::string bytes;
        std::string name;   // what both must read
    } cases[] = {
        {"rel-1", "rel-1"},
        {"rel-1\n", "rel-1"},
        {"rel-1\r\n\r\n\n", "rel-1"},
        {"rel-1\r", "rel-1\r"},
        {"a\r\rb\r\n", "a\r\rb"},
        {"a\r\r\n", "a\r"},
        {"a\nb\n", "a\nb"},
        {"\n", "\n"},
        {"\n\n\n", "\n"},
        {"", ""},
        {std::string("ab\0cd", 5), "ab"},
        {x125, x125},
        {x125 + "y", x125},
        {x125 + "\n", x125},
        {std::string(124, 'x') + "\r\n", std::string(124, 'x')},
        {std::string(124, 'x') + "\n\n", std::string(124, 'x')},
        {std::string(300, 'z'), std::string(125, 'z')},
    };
    ScratchFolder folder;
    for (const Case& k : cases) {
        write_text(folder / "v", k.bytes);
        char name[VersionNameSize];
        ASSERT_EQ(read_version_name(folder.path.c_str(), "v", name), 1);
        EXPECT_EQ(std::string(name), k.name) << quote(k.bytes) << " by the installer";
        EXPECT_EQ(version_name_in(bytes_of(k.bytes)), k.name) << quote(k.bytes) << " by the packer";
    }
}

TEST(VersionFiles, EachMustNameABuildOfThePackage)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> files;
        std::string says;   // "" when accepted
    } cases[] = {
        {{}, ""},
        {{{ExecVersion, "b5\r\n"}, {DataVersion, "b127"}}, ""},
        {{{"other/exec.ver", "nothing"}}, ""},
        {{{ExecVersion, "b128\n"}}, "file '" + ExecVersion + "' reads as build 'b128', which is not one"},
        {{{"DRAVIK/Exec.VER", "B5"}}, "file 'DRAVIK/Exec.VER' reads as build 'B5'"},
        {{{ExecVersion, "b1"}, {DataVersion, "\n\n"}}, "data.ver' reads as build '\\x0A'"},
        {{{DataVersion, ""}}, "reads as an empty build name"},
        {{{ExecVersion, "\xEF\xBB\xBF" "b5"}}, "file '" + ExecVersion + "' starts with a UTF-8 byte-order mark"},
        {{{ExecVersion, "(unused slot 009)"}}, "'(unused slot 009)', a placeholder that names no build"},
    };
    for (const Case& k : cases) {
        Manifest m = manifest_with(k.files);
        m.builds[9] = "(unused slot 009)";
        std::string error;
        EXPECT_EQ(check_version_files(m, error), k.says.empty() ? 1 : 0) << k.says;
        EXPECT_NE(error.find(k.says), std::string::npos) << error;
    }
}

TEST(VersionFiles, MissingMarkersGiveOneWarning)
{
    EXPECT_EQ(marker_warning(manifest_with({{GameProgram, ""}, {GamePicture, ""}})), "");
    EXPECT_EQ(marker_warning(manifest_with({{GameProgram, ""}})),
              "warning: the payload lacks " + GamePicture + ", so the installer cannot recognise its "
              "installations to update them");
    std::string capitalised = GameProgram;
    capitalised[0] = char(std::toupper(capitalised[0]));
    std::string other_case = marker_warning(manifest_with({{capitalised, ""}, {GamePicture, ""}}));
    EXPECT_NE(other_case.find("lacks " + GameProgram + ","), std::string::npos) << "Linux would miss it: " << other_case;
}

#ifndef _WIN32
namespace {

std::string text_of(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Runs the packer with args; its exit status, standard output and error.
int run_packer(const std::string& args, std::string& out, std::string& err)
{
    ScratchFolder streams;
    int status = std::system((std::string(QUORVEL_PACK) + " " + args + " >" + (streams / "out") + " 2>" +
                              (streams / "err")).c_str());
    std::vector<unsigned char> bytes;
    read_file(streams / "out", bytes);
    out = text_of(bytes);
    read_file(streams / "err", bytes);
    err = text_of(bytes);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(PackerCommand, HelpIsTheWholeUsageOnStandardOutput)
{
    for (const char* option : {"--help", "-h"}) {
        std::string out, err;
        EXPECT_EQ(run_packer(option, out, err), 0) << option;
        EXPECT_EQ(err, "") << option;
        for (const std::string& says : std::vector<std::string>{"quorvel-pack MANIFEST OUTPUT [--depfile FILE]",
                                 "quorvel-pack init FOLDER [--build NAME] [--previous MANIFEST [--no-new-folders]]",
                                 "[--exclude PATTERN]... [--keep-usual-leftovers]", "exec PATH", "exactly 128",
                                 GameProgram + " and " + GamePicture, ExecVersion,
                                 DataVersion, FastLauncher, SmoothLauncher, "(unused slot NNN)", "\n  0  done",
                                 "\n  1  the output could not be written", "\n  2  bad input"})
            EXPECT_NE(out.find(says), std::string::npos) << option << " lacks " << says;
    }
    for (const char* wrong : {"", "--help extra", "-x", "init", "init a b", "init a --build", "a b --depfile",
                              "init a --no-new-folders", "a b --no-new-folders", "a b --previous"}) {
        std::string out, err;
        EXPECT_EQ(run_packer(wrong, out, err), 2) << wrong;
        EXPECT_EQ(err.rfind("usage: quorvel-pack MANIFEST OUTPUT", 0), 0u) << wrong << ": " << err;
        EXPECT_EQ(out, "") << wrong;
    }
}

TEST(PackerCommand, InitThenPackWarningsAndRefusals)
{
    ScratchFolder root;
    std::string game = write_game(root, "rel-3", "rel-3");
    std::string out, err;
    ASSERT_EQ(run_packer("init " + game, out, err), 0) << err;
    EXPECT_EQ(err, "");
    write_text(game + "/package.manifest", out);
    ASSERT_EQ(run_packer(game + "/package.manifest " + (root / "image.cpp"), out, err), 0) << err;
    EXPECT_EQ(err, "");

    // Against the previous release: warnings, or with --no-new-folders a refusal.
    write_text(root / "previous.manifest", GameListing + "file gone.txt\n" + builds_text("old", 128));
    make_folders(game + "/dlc");
    write_text(game + "/dlc/a.txt", "bonus");
    const std::string warnings =
        "quorvel-pack: warning: since build 'old0', the folder 'dlc' is new: an update creates no folders, so updated "
        "installations will lack it and 'dlc/a.txt'\nquorvel-pack: warning: since build 'old0', 'gone.txt' is no "
        "longer in the package: it stays on updated installations\nquorvel-pack: " + LauncherNote + "\n";
    ASSERT_EQ(run_packer("init " + game + " --previous " + (root / "previous.manifest"), out, err), 0) << err;
    EXPECT_EQ(err, warnings);
    write_text(game + "/package.manifest", out);
    std::string pack = game + "/package.manifest " + (root / "image.cpp") + " --previous " + (root / "previous.manifest");
    EXPECT_EQ(run_packer(pack, out, err), 0) << err;
    EXPECT_EQ(err, warnings);
    std::filesystem::remove(root / "image.cpp");
    EXPECT_EQ(run_packer(pack + " --no-new-folders", out, err), 2);
    EXPECT_EQ(err.rfind("quorvel-pack: since build 'old0', the folder 'dlc' is new", 0), 0u) << err;
    EXPECT_NE(err.find("(refused by --no-new-folders)\n"), std::string::npos) << err;
    EXPECT_FALSE(exists(root / "image.cpp"));
    EXPECT_EQ(run_packer("init " + game + " --previous " + (root / "previous.manifest") + " --no-new-folders", out, err),
              2);
    EXPECT_EQ(out, "");
    std::filesystem::remove_all(game + "/dlc");

    std::filesystem::remove(game + "/" + GamePicture);
    write_text(game + "/package.manifest", builds_text("rel-", KnownBuildCount) +
                                               "dir \\Quorvel\\dravik\nfile " + ExecVersion + "\n");
    EXPECT_EQ(run_packer(game + "/package.manifest " + (root / "image.cpp"), out, err), 0) << err;
    EXPECT_EQ(err, "quorvel-pack: warning: the payload lacks " + GameProgram + " and " + GamePicture + ", so "
                   "the installer cannot recognise its installations to update them\n");

    std::filesystem::remove(root / "image.cpp");
    write_text(game + "/" + ExecVersion, "rel-200\n");
    EXPECT_EQ(run_packer(game + "/package.manifest " + (root / "image.cpp"), out, err), 2);
    EXPECT_EQ(err, "quorvel-pack: " + game + "/package.manifest: file '" + ExecVersion + "' reads as build 'rel-200', "
                   "which is not one of the package's build names; the installer would refuse to update its own "
                   "installations\n");
    EXPECT_FALSE(exists(root / "image.cpp"));
    EXPECT_EQ(run_packer("init " + game, out, err), 2);
    EXPECT_EQ(out, "") << "nothing written";
    EXPECT_NE(err.find("data.ver' reads as build 'rel-3'"), std::string::npos) << err;
}
#endif
