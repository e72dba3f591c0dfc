// The real installer with a display: what zenity is asked to show, through
// a stand-in zenity first on PATH that records each call and answers it;
// and the fallback to the terminal when the display is dead or hung.
#include <sys/stat.h>

#include <filesystem>

#include "installer/messages.h"
#include "tests/e2e_support.h"

namespace fs = std::filesystem;

namespace {

using Call = std::vector<std::string>;

const std::string PackageTitle = std::string("--title=") + message::PackageCaption;
const std::string PatchTitle = std::string("--title=") + message::PatchCaption;
const std::string PickerTitle = std::string("--title=") + message::PickerTitle;
const std::string AskText = message::AskDesktop.text;
const std::string UnpackedText = message::Unpacked.text;
const std::string FoundText = message::Found.text;
const std::string FailedText = message::FailedText;
const std::string OlderText = message::Older.text;
const std::string PatchErrorsText = message::PatchErrors.text;
const std::string PatchedText = message::Patched.text;

const Call Probe = {"--version"};
const std::string ProbeAnswer = "0 3.44.0";

Call dialog(const std::string& kind, const std::string& title, const std::string& text)
{
    return {kind, "--no-markup", title, "--text=" + text};
}

std::string listed(const std::vector<Call>& calls)
{
    std::string text;
    for (const Call& call : calls) {
        for (const std::string& arg : call)
            text += "[" + arg + "] ";
        text += "\n";
    }
    return text;
}

struct DesktopDialogs : EndToEnd {
    ScratchFolder tools;

    // The installer on a display that the stand-in answers, call by call.
    Outcome run_with(const std::vector<std::string>& answers, const std::string& input = "")
    {
        fs::remove_all(tools / "calls");
        fs::remove(tools / "calls-progress");
        make_folders(tools / "calls");
        make_folders(tools / "bin");
        std::string script;
        for (const std::string& answer : answers)
            script += answer + "\n";
        write_text(tools / "answers", script);
        write_text(tools / "bin/zenity", "#!/bin/sh\nexec sh '" ZENITY_STAND_IN "' \"$@\"\n");
        ::chmod((tools / "bin/zenity").c_str(), 0755);
        const char* path = std::getenv("PATH");
        return run_installer(home.path, input,
                             {"DISPLAY=:42", "PATH=" + tools / "bin" + ":" + (path ? path : "/usr/bin:/bin"),
                              "STAND_IN_CALLS=" + tools / "calls", "STAND_IN_ANSWERS=" + tools / "answers"},
                             installer);
    }

    Call picker() const
    {
        return {"--file-selection", "--directory", PickerTitle,
                "--filename=" + home.path + "/"};
    }

    // Each call's arguments, in the order zenity was started.
    std::vector<Call> calls() const
    {
        std::vector<Call> all;
        for (int n = 0; exists(tools / "calls/" + std::to_string(n)); n++) {
            std::vector<unsigned char> bytes;
            read_file(tools / "calls/" + std::to_string(n), bytes);
            Call call;
            std::string arg;
            for (unsigned char byte : bytes) {
                if (byte) {
                    arg += char(byte);
                } else {
                    call.push_back(arg);
                    arg.clear();
                }
            }
            all.push_back(call);
        }
        return all;
    }

    void expect_desktop_run(const std::vector<std::string>& answers, int code, const std::vector<Call>& expected,
                            const Tree& after)
    {
        Outcome run = run_with(answers);
        EXPECT_EQ(run.code, code);
        EXPECT_EQ(run.out, "") << "no terminal dialog expected";
        EXPECT_EQ(listed(calls()), listed(expected));
        EXPECT_EQ(difference(after, snapshot(home.path)), "");
    }
};

TEST_F(DesktopDialogs, FreshInstallOnTheDesktop)
{
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    expect_desktop_run({ProbeAnswer, "0", "0"}, 0,
                       {Probe, dialog("--question", PackageTitle, AskText),
                        dialog("--info", PackageTitle, UnpackedText)},
                       after);
}

// A large package's progress dialog comes between the answer and the
// closing box, is fed the percentage as blocks are done, and closes itself
// at 100; the player can neither answer nor cancel it.
TEST_F(DesktopDialogs, LargePackageShowsProgress)
{
    use_large_package();
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    const Call progress = {"--progress",     "--no-markup",   PackageTitle, "--text=Unpacking...",
                           "--percentage=0", "--auto-close",  "--no-cancel"};
    expect_desktop_run({ProbeAnswer, "0", "0", "0"}, 0,
                       {Probe, dialog("--question", PackageTitle, AskText), progress,
                        dialog("--info", PackageTitle, UnpackedText)},
                       after);
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(read_file(tools / "calls-progress", bytes));
    std::string fed(bytes.begin(), bytes.end());
    std::string expected;
    for (int percent = 0; percent <= 100; percent++)
        expected += std::to_string(percent) + "\n";
    EXPECT_EQ(fed, expected) << "each percentage once, in order";
}

// The picker opens on the home folder; a refused folder is a warning, and
// the picker comes back.
TEST_F(DesktopDialogs, ThePicker)
{
    make_folders(home / "Desktop");
    make_folders(home / "games");
    make_folders(home / "odd\\name");
    Tree before = snapshot(home.path);
    const Call ask = dialog("--question", PackageTitle, AskText);

    expect_desktop_run({ProbeAnswer, "1", "1"}, 1, {Probe, ask, picker()}, before);

    Tree after = before;
    add_fresh_install(after, "games/Quorvel");
    const std::string odd = home / "odd\\name";
    expect_desktop_run({ProbeAnswer, "1", "0 " + odd, "0", "0 " + home / "games", "0"}, 0,
                       {Probe, ask, picker(),
                        dialog("--warning", PickerTitle,
                               "A folder whose path contains a backslash cannot be used here: " + odd + "\n"),
                        picker(), dialog("--info", PackageTitle, UnpackedText)},
                       after);
}

// Refusals and failures carry a warning or an error, never the info icon.
TEST_F(DesktopDialogs, EachOutcomeHasItsKind)
{
    const Call ask = dialog("--question", PackageTitle, AskText);
    const Call found = dialog("--question", PackageTitle, FoundText);
    struct Case {
        std::string exec_ver;
        bool missing_folder;
        int code;
        Call outcome;
    } cases[] = {
        {"build100\r\n", false, 0, dialog("--info", PatchTitle, PatchedText)},
        {"build129\r\n", false, 1, dialog("--warning", PatchTitle, OlderText)},
        {"build100\r\n", true, 0, dialog("--error", PatchTitle, PatchErrorsText)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome[0] + " " + c.exec_ver);
        fs::remove_all(home.path);
        make_folders(home / "Desktop");
        install_old_copy(home / "Desktop/Quorvel", package, c.exec_ver);
        if (c.missing_folder)
            fs::remove_all(home / "Desktop/Quorvel/dravik/maps");
        Tree after = snapshot(home.path);
        if (c.code == 0)
            apply_update(after, "Desktop/Quorvel/");
        expect_desktop_run({ProbeAnswer, "0", "0", "0"}, c.code, {Probe, ask, found, c.outcome}, after);
    }

    // No one, not even root, can make a folder in /proc. Without a desktop
    // the picker comes first.
    fs::remove_all(home.path);
    make_folders(home.path);
    expect_desktop_run({ProbeAnswer, "0 /proc", "0"}, 1,
                       {Probe, picker(), dialog("--error", PackageTitle, FailedText)}, snapshot(home.path));
}

// A display that takes the connection and never answers costs a few
// seconds, then the terminal asks; zenity is not tried again.
TEST_F(DesktopDialogs, HungDisplayFallsBackToTheTerminal)
{
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    Outcome run = run_with({"hang"}, "y\n");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, Ask + Unpacked);
    EXPECT_EQ(listed(calls()), listed({Probe}));
    EXPECT_EQ(difference(after, snapshot(home.path)), "");
}

// A stale display (set, but no server behind it) with the real zenity: the
// terminal asks, and an answer on standard input installs.
TEST_F(EndToEnd, DeadDisplayFallsBackToTheTerminal)
{
    if (std::system("command -v zenity >/dev/null") != 0)
        GTEST_SKIP() << "zenity is not installed (Debian package zenity)";
    if (fs::exists("/tmp/.X11-unix/X987"))
        GTEST_SKIP() << "display :987 has a server here";
    make_folders(home / "Desktop");
    Tree after = snapshot(home.path);
    add_fresh_install(after, "Desktop/Quorvel");
    // The toolkit keeps its caches outside the home compared.
    ScratchFolder cache;
    expect_run("y\n", 0, Ask + Unpacked, after, {"DISPLAY=:987", "XDG_CACHE_HOME=" + cache.path});
}

}  // namespace
