#include "tests/e2e_support.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "installer/messages.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A box as the terminal prints it, with its prompt when it asks.
std::string printed(const Message& message)
{
    std::string text = "[" + std::string(message.caption) + "]\n" + message.text + "\n";
    if (message.kind == platform::Question)
        text += "[Y/n] ";
    if (message.kind == platform::RetryOrCancel)
        text += "[Retry/cancel] ";
    return text;
}

}  // namespace

const std::string Ask = printed(message::AskDesktop);
const std::string Picker = std::string(message::PickerTitle) + "\nFolder: ";
const std::string Cancelled = "No folder chosen.\n";
const std::string Unpacked = printed(message::Unpacked);
const std::string Found = printed(message::Found);
const std::string Taken = printed(message::Taken);
const std::string Patched = printed(message::Patched);
const std::string PatchErrors = printed(message::PatchErrors);
const std::string Older = printed(message::Older);
const std::string Failed = printed(message::Failed);
const std::string PatchFailed = printed(message::PatchFailed);
const std::string Busy = printed(message::Busy);
const std::string PatchBusy = printed(message::PatchBusy);

namespace {

std::string slurp(const std::string& path)
{
    std::vector<unsigned char> bytes;
    read_file(path, bytes);
    return std::string(bytes.begin(), bytes.end());
}

std::string variable_name(const std::string& entry)
{
    return entry.substr(0, entry.find('='));
}

// The test's own variables win over the inherited ones of the same name. No
// display is inherited, not even the one zenity would find on its own.
std::vector<std::string> child_environment(const std::string& home, std::vector<std::string> env)
{
    env.push_back("HOME=" + home);
    std::vector<std::string> given = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME"};
    for (const std::string& entry : env)
        given.push_back(variable_name(entry));
    for (char** e = environ; *e; e++) {
        if (std::find(given.begin(), given.end(), variable_name(*e)) == given.end())
            env.push_back(*e);
    }
    return env;
}

}  // namespace

namespace {

// A terminal for the child's standard output, without the line discipline's
// CR before every LF, so the transcript reads as the program wrote it.
int open_terminal(std::string& name)
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || !::ptsname(master))
        return -1;
    name = ::ptsname(master);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    return master;
}

int open_terminal_end(const std::string& name)
{
    int end = ::open(name.c_str(), O_WRONLY | O_NOCTTY);
    termios settings;
    if (end >= 0 && ::tcgetattr(end, &settings) == 0) {
        settings.c_oflag &= ~OPOST;
        ::tcsetattr(end, TCSANOW, &settings);
    }
    return end;
}

void read_terminal(int master, std::string& out)
{
    char buffer[4096];
    for (ssize_t got; master >= 0 && (got = ::read(master, buffer, sizeof buffer)) > 0;)
        out.append(buffer, size_t(got));
}

// Starts the installer with its input from a file and its output to a file,
// or to the named terminal; the child's pid, or -1 when fork failed.
pid_t spawn_installer(ScratchFolder& io, const std::string& home, const std::string& input,
                      std::vector<std::string> env, const std::string& program, const std::string& start,
                      bool remove_start, const std::string& terminal_name)
{
    write_text(io / "in", input);
    env = child_environment(home, env);
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};
    std::string in = io / "in", out = io / "out", err = io / "err";
    std::string folder = start.empty() ? home : start;
    pid_t child = ::fork();
    if (child == 0) {
        int i = ::open(in.c_str(), O_RDONLY);
        int o = terminal_name.empty() ? ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                                      : open_terminal_end(terminal_name);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (i < 0 || o < 0 || e < 0 || ::dup2(i, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 ||
            ::chdir(folder.c_str()) != 0 || (remove_start && ::rmdir(folder.c_str()) != 0))
            ::_exit(126);
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    return child;
}

}  // namespace

Outcome run_installer(const std::string& home, const std::string& input, std::vector<std::string> env,
                      const std::string& program, const std::string& start, bool remove_start, bool terminal)
{
    ScratchFolder io;
    std::string terminal_name, terminal_out;
    int master = terminal ? open_terminal(terminal_name) : -1;
    if (terminal && master < 0) {
        ADD_FAILURE() << "no terminal for the child";
        return {};
    }
    pid_t child = spawn_installer(io, home, input, env, program, start, remove_start, terminal_name);
    Outcome run;
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return run;
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        read_terminal(master, terminal_out);
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the installer did not finish within 120 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    read_terminal(master, terminal_out);
    if (master >= 0)
        ::close(master);
    run.out = terminal ? terminal_out : slurp(io / "out");
    run.err = slurp(io / "err");
    return run;
}

RunningInstaller start_installer(const std::string& home, const std::string& input, std::vector<std::string> env,
                                 const std::string& program, const std::string& start, bool remove_start)
{
    RunningInstaller child;
    child.io = std::make_unique<ScratchFolder>();
    child.pid = spawn_installer(*child.io, home, input, env, program, start, remove_start, "");
    if (child.pid < 0)
        ADD_FAILURE() << "fork failed";
    return child;
}

Outcome finish_installer(RunningInstaller& child, bool kill_now)
{
    Outcome run;
    if (child.pid < 0)
        return run;
    int status = 0;
    if (kill_now)
        ::kill(child.pid, SIGKILL);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::waitpid(child.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
            ADD_FAILURE() << "the installer did not finish within 120 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    child.pid = -1;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(*child.io / "out");
    run.err = slurp(*child.io / "err");
    return run;
}

void EndToEnd::SetUp()
{
    std::string error;
    ASSERT_TRUE(read_manifest(QUORVEL_PACKAGE_MANIFEST, package, error)) << error;
    ASSERT_FALSE(package.files.empty());
}

void EndToEnd::use_large_package()
{
    std::string error;
    package = Manifest{};
    ASSERT_TRUE(read_manifest(QUORVEL_LARGE_MANIFEST, package, error)) << error;
    installer = QUORVEL_LARGE_INSTALLER;
}

void EndToEnd::add_fresh_install(Tree& tree, const std::string& top) const
{
    tree[top + "/"];
    for (std::string folder : package.directories) {
        folder.replace(0, std::string("\\Quorvel").size(), top);
        for (char& c : folder)
            c = c == '\\' ? '/' : c;
        tree[folder + "/"];
    }
    for (const ManifestFile& file : package.files)
        tree[top + "/" + file.name] = text_of(file.bytes);
}

void EndToEnd::apply_update(Tree& tree, const std::string& top) const
{
    for (const char* launcher : RetiredLaunchers)
        tree.erase(top + launcher);
    for (const ManifestFile& file : package.files)
        if (tree.count(top + file.name))
            tree[top + file.name] = text_of(file.bytes);
}

void EndToEnd::expect_run(const std::string& input, int code, const std::string& transcript, const Tree& after,
                          const std::vector<std::string>& env)
{
    Outcome run = run_installer(home.path, input, env, installer);
    EXPECT_EQ(run.code, code) << "input: " << input;
    EXPECT_EQ(run.out, transcript) << "input: " << input;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(difference(after, snapshot(home.path)), "") << "input: " << input;
}
