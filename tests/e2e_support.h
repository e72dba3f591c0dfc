// The real installer in a child process, as a user meets it without a
// display: a home of its own, terminal dialogs answered from a script, and
// the whole home compared byte for byte afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/test_support.h"

// What the terminal dialogs print.
extern const std::string Ask;
extern const std::string Picker;
extern const std::string Cancelled;
extern const std::string Unpacked;
extern const std::string Found;
extern const std::string Taken;
extern const std::string Patched;
extern const std::string PatchErrors;
extern const std::string Older;
extern const std::string Failed;
extern const std::string PatchFailed;
extern const std::string Busy;
extern const std::string PatchBusy;

struct Outcome {
    int code = -1;   // exit status; -1 when killed
    std::string out;
    std::string err;
};

// The installer reads only HOME, XDG_CONFIG_HOME, DISPLAY and PATH; the first
// three come from the test alone so the machine's desktop never leaks in.
// It starts in home unless start says otherwise; with remove_start, start
// (an empty folder) is removed once the child is in it, so the program
// cannot read where it started.
// With terminal, its standard output is a terminal, and out what it wrote there.
Outcome run_installer(const std::string& home, const std::string& input, std::vector<std::string> env = {},
                      const std::string& program = QUORVEL_INSTALLER, const std::string& start = "",
                      bool remove_start = false, bool terminal = false);

// The same started and not yet waited for, for runs side by side or killed.
struct RunningInstaller {
    pid_t pid = -1;
    std::unique_ptr<ScratchFolder> io;   // its input and outputs
};
RunningInstaller start_installer(const std::string& home, const std::string& input, std::vector<std::string> env = {},
                                 const std::string& program = QUORVEL_INSTALLER, const std::string& start = "",
                                 bool remove_start = false);
// Waits for it to end, or kills it first (code -1 when the kill found it running).
Outcome finish_installer(RunningInstaller& child, bool kill_now = false);

struct EndToEnd : ::testing::Test {
    ScratchFolder home;
    Manifest package;
    std::string installer = QUORVEL_INSTALLER;

    void SetUp() override;
    // The installer that carries a package of a game's size, and its files.
    void use_large_package();

    // What a fresh install adds: the top folder, the package's folders, its files.
    void add_fresh_install(Tree& tree, const std::string& top) const;
    // An update's outcome: launchers gone, every package file present in the
    // copy holds the package's bytes, nothing else changed.
    void apply_update(Tree& tree, const std::string& top) const;
    void expect_run(const std::string& input, int code, const std::string& transcript, const Tree& after,
                    const std::vector<std::string>& env = {});
};
