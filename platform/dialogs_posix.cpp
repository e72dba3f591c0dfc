// Message boxes and the folder picker on POSIX. With a display zenity can
// open they are real desktop dialogs; otherwise they talk on the terminal
// in a fixed form that people and scripts can both answer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix_dialogs.h"

extern char** environ;

namespace platform {

namespace {

constexpr size_t LineSize = 4096;
const char* const BackslashNotice = "A folder whose path contains a backslash cannot be used here: %s\n";
const char* const RelativeRefusal =
    "Relative paths cannot be used, as the folder this program started in could not be read: %s\n";
const char* const CancelNotice = "No folder chosen.\n";

// ---- The terminal ---------------------------------------------------------

// One line of standard input without its line end. Returns 0 at the end of
// input. The rest of an over-long line is read and dropped. Read byte by
// byte up to the line feed itself, so a NUL in the line never hides where
// it ends; the answer is what comes before a NUL.
int read_line(char* line, size_t size)
{
    std::fflush(stdout);
    size_t length = 0;
    int c = std::getchar();
    if (c == EOF)
        return 0;
    for (; c != EOF && c != '\n'; c = std::getchar())
        if (length + 1 < size)
            line[length++] = char(c);
    line[length] = '\0';
    line[std::strcspn(line, "\r")] = '\0';
    return 1;
}

// An empty answer takes the default, Yes or Retry, as the desktop dialogs'
// default button does; so do that word and its first letter, in any case.
int takes_default(const char* answer, const char* word)
{
    return answer[0] == '\0' || strcasecmp(answer, word) == 0 ||
           (answer[1] == '\0' && strncasecmp(answer, word, 1) == 0);
}

int terminal_message(const char* text, const char* caption, MessageKind kind)
{
    std::printf("[%s]\n%s\n", caption, text);
    if (kind != Question && kind != RetryOrCancel) {
        std::fflush(stdout);
        return 1;
    }
    std::printf(kind == Question ? "[Y/n] " : "[Retry/cancel] ");
    char answer[LineSize];
    return read_line(answer, sizeof answer) && takes_default(answer, kind == Question ? "yes" : "retry");
}

// The folder the program was started in, looked up once at start-up: a
// relative answer counts from there whatever the current folder is later,
// and is refused when this first look failed.
struct LaunchFolderRecord {
    int looked;             // getcwd has been tried
    char path[LineSize];    // empty when it failed
};
LaunchFolderRecord LaunchFolder;

const char* launch_folder()
{
    if (!LaunchFolder.looked && !::getcwd(LaunchFolder.path, sizeof LaunchFolder.path))
        LaunchFolder.path[0] = '\0';
    LaunchFolder.looked = 1;
    return LaunchFolder.path;
}

// The home folder, when typed starts with "~" or "~/" and there is one.
const char* tilde_home(const char* typed)
{
    const char* home = std::getenv("HOME");
    int tilde = typed[0] == '~' && (typed[1] == '\0' || typed[1] == '/');
    return tilde && home && *home ? home : nullptr;
}

int is_relative(const char* typed)
{
    return typed[0] != '/' && !tilde_home(typed);
}

// "~" and "~/x" from the home folder, a relative path from the launch
// folder; 0 when that is unknown or the result does not fit.
int absolute_path(const char* typed, char* path, size_t size)
{
    const char* home = tilde_home(typed);
    int written = -1;
    if (home)
        written = std::snprintf(path, size, "%s%s", home, typed + 1);
    else if (typed[0] == '/')
        written = std::snprintf(path, size, "%s", typed);
    else if (launch_folder()[0])
        written = std::snprintf(path, size, "%s/%s", launch_folder(), typed);
    return written >= 0 && size_t(written) < size;
}

int terminal_pick_folder(const char* title, char* path, size_t size)
{
    std::printf("%s\n", title);
    char typed[LineSize];
    for (;;) {
        std::printf("Folder: ");
        if (!read_line(typed, sizeof typed) || typed[0] == '\0') {
            std::printf("%s", CancelNotice);
            std::fflush(stdout);
            return 0;
        }
        if (is_relative(typed) && !launch_folder()[0])
            std::printf(RelativeRefusal, typed);
        else if (!absolute_path(typed, path, size) || !is_directory(path))
            std::printf("Not a folder: %s\n", typed);
        else if (std::strchr(path, '\\'))
            std::printf(BackslashNotice, path);
        else
            return 1;
    }
}

// ---- zenity -----------------------------------------------------------------

// Whether this run's dialogs are zenity's, decided at the first dialog.
enum DialogMode { Undecided, DesktopDialogs, TerminalDialogs };
struct DialogChoice {
    DialogMode mode;
    char zenity[LineSize];   // its path, for DesktopDialogs
};
DialogChoice Dialogs;

// A display that accepts the connection and never answers hangs zenity;
// one it cannot open within this counts as dead.
constexpr long DisplayProbeMilliseconds = 5000;

int find_in_path(const char* program, char* found, size_t size)
{
    const char* search = std::getenv("PATH");
    if (!search)
        return 0;
    for (const char* start = search; *start;) {
        size_t length = std::strcspn(start, ":");
        int written = std::snprintf(found, size, "%.*s/%s", int(length), start, program);
        if (length > 0 && written > 0 && size_t(written) < size && ::access(found, X_OK) == 0)
            return 1;
        start += length + (start[length] == ':');
    }
    return 0;
}

// Starts zenity with its standard output on output (-1: none) and, when
// given, its standard input on input. Its standard error, toolkit chatter,
// is dropped. Returns the child, or -1.
pid_t start_zenity(const char* const* args, int output, int input = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    if (output < 0)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    pid_t child;
    int spawned = posix_spawn(&child, Dialogs.zenity, &actions, nullptr, const_cast<char* const*>(args), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return spawned ? child : -1;
}

int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The child's exit status, or -1 when it did not end normally within
// limit_ms; then it is killed.
int wait_at_most(pid_t child, long limit_ms)
{
    const timespec tick = {0, 10 * 1000 * 1000};
    int status = 0;
    for (long waited = 0; waited < limit_ms; waited += 10) {
        pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child)
            return exit_status(status);
        if (ended < 0)
            return -1;
        ::nanosleep(&tick, nullptr);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

// A display can be set and still dead (a stale one in an ssh session).
// zenity opens it before anything else, even for --version, which shows
// nothing and fails at once when no server answers.
int zenity_opens_display()
{
    const char* args[] = {"zenity", "--version", nullptr};
    pid_t child = start_zenity(args, -1);
    return child > 0 && wait_at_most(child, DisplayProbeMilliseconds) == 0;
}

int use_desktop_dialogs()
{
    if (Dialogs.mode == Undecided) {
        const char* display = std::getenv("DISPLAY");
        int usable = display && *display && find_in_path("zenity", Dialogs.zenity, sizeof Dialogs.zenity) &&
                     zenity_opens_display();
        Dialogs.mode = usable ? DesktopDialogs : TerminalDialogs;
    }
    return Dialogs.mode == DesktopDialogs;
}

// Everything the child writes to read_end, as much as fits in output.
// The rest is drained, so a child never blocks on a full pipe.
void collect_output(int read_end, char* output, size_t size)
{
    char scrap[256];
    size_t used = 0;
    for (ssize_t got = 1; got > 0;) {
        int room = used + 1 < size;
        got = ::read(read_end, room ? output + used : scrap, room ? size - 1 - used : sizeof scrap);
        if (got > 0 && room)
            used += size_t(got);
    }
    output[used] = '\0';
}

// Runs zenity and waits. Its standard output, if wanted, lands in output.
// Returns its exit status; -1 when it could not run or was killed, after
// which this run stays on the terminal.
int run_zenity(const char* const* args, char* output, size_t size)
{
    int pipe_ends[2] = {-1, -1};
    int piped = output && ::pipe(pipe_ends) == 0;
    if (piped) {
        ::fcntl(pipe_ends[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(pipe_ends[1], F_SETFD, FD_CLOEXEC);
    }
    pid_t child = output && !piped ? -1 : start_zenity(args, pipe_ends[1]);
    if (output)
        output[0] = '\0';
    if (piped) {
        ::close(pipe_ends[1]);
        if (child > 0)
            collect_output(pipe_ends[0], output, size);
        ::close(pipe_ends[0]);
    }
    int status = 0;
    if (child <= 0 || ::waitpid(child, &status, 0) < 0 || exit_status(status) < 0) {
        Dialogs.mode = TerminalDialogs;
        return -1;
    }
    return exit_status(status);
}

// zenity's dialog for each MessageKind, in its order; a retry is a
// question with buttons of its own.
const char* const KindOptions[] = {"--question", "--info", "--warning", "--error", "--question"};

// Returns the answer, or -1 when zenity could not run.
int desktop_message(MessageKind kind, const char* text, const char* caption)
{
    char title[LineSize];
    char body[LineSize * 4];
    std::snprintf(title, sizeof title, "--title=%s", caption);
    std::snprintf(body, sizeof body, "--text=%s", text);
    const char* args[] = {"zenity", KindOptions[kind], "--no-markup", title, body, nullptr, nullptr, nullptr};
    if (kind == RetryOrCancel) {
        args[5] = "--ok-label=Retry";
        args[6] = "--cancel-label=Cancel";
    }
    int status = run_zenity(args, nullptr, 0);
    return status < 0 ? -1 : status == 0;
}

// Returns 1 with a folder, 0 on cancel, -1 when zenity could not run.
int desktop_pick_folder(const char* title, char* path, size_t size)
{
    char title_arg[LineSize];
    char start_arg[LineSize];
    std::snprintf(title_arg, sizeof title_arg, "--title=%s", title);
    // It opens on Home, not on the empty recent-files view.
    const char* args[] = {"zenity", "--file-selection", "--directory", title_arg, nullptr, nullptr};
    const char* home = std::getenv("HOME");
    int written = home && *home ? std::snprintf(start_arg, sizeof start_arg, "--filename=%s/", home) : -1;
    if (written > 0 && size_t(written) < sizeof start_arg)
        args[4] = start_arg;
    for (;;) {
        int status = run_zenity(args, path, size);
        if (status < 0)
            return -1;
        path[std::strcspn(path, "\n")] = '\0';
        if (status != 0 || path[0] == '\0')
            return 0;
        if (!std::strchr(path, '\\'))
            return 1;
        char notice[LineSize + 128];
        std::snprintf(notice, sizeof notice, BackslashNotice, path);
        if (desktop_message(Warning, notice, title) < 0)
            return -1;
    }
}

// ---- Progress -------------------------------------------------------------

// The run's one progress display: zenity's dialog fed through a socket (a
// send to a dialog that was closed fails instead of killing the run), or
// a line on the terminal.
struct ProgressDisplay {
    int shown;          // begun and not yet ended
    pid_t zenity;       // the dialog, or -1
    int feed;           // its standard input, our end
    int terminal;       // the line on standard output
    int percent;        // last shown, -1 before the first
    char line[LineSize];   // "[caption] text" for the terminal
};
ProgressDisplay ProgressShown;

void start_desktop_progress(const char* caption, const char* text)
{
    char title[LineSize];
    char text_arg[LineSize];
    std::snprintf(title, sizeof title, "--title=%s", caption);
    std::snprintf(text_arg, sizeof text_arg, "--text=%s", text);
    const char* args[] = {"zenity", "--progress", "--no-markup", title, text_arg, "--percentage=0",
                          "--auto-close", "--no-cancel", nullptr};
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    ProgressShown.zenity = start_zenity(args, -1, ends[1]);
    ::close(ends[1]);
    if (ProgressShown.zenity > 0)
        ProgressShown.feed = ends[0];
    else
        ::close(ends[0]);
}

void show_percent(int percent)
{
    if (percent == ProgressShown.percent)
        return;
    ProgressShown.percent = percent;
    if (ProgressShown.feed >= 0) {
        char line[16];
        int length = std::snprintf(line, sizeof line, "%d\n", percent);
        ::send(ProgressShown.feed, line, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    } else if (ProgressShown.terminal) {
        std::printf("\r%s %d%%", ProgressShown.line, percent);
        std::fflush(stdout);
    }
}

}  // namespace

void begin_progress(const char* caption, const char* text)
{
    ProgressShown = {1, -1, -1, 0, -1, {0}};
    std::snprintf(ProgressShown.line, sizeof ProgressShown.line, "[%s] %s", caption, text);
    if (use_desktop_dialogs())
        start_desktop_progress(caption, text);
    ProgressShown.terminal = ProgressShown.feed < 0 && ::isatty(1);
    show_percent(0);
}

void advance_progress(uint32_t done, uint32_t total)
{
    if (ProgressShown.shown && total > 0)
        show_percent(int(uint64_t(done) * 100 / total));
}

// At 100 the dialog closes itself; one that does not is not waited for long.
void end_progress()
{
    if (!ProgressShown.shown)
        return;
    show_percent(100);
    if (ProgressShown.feed >= 0) {
        ::close(ProgressShown.feed);
        wait_at_most(ProgressShown.zenity, DisplayProbeMilliseconds);
    } else if (ProgressShown.terminal) {
        std::printf("\n");
        std::fflush(stdout);
    }
    ProgressShown.shown = 0;
}

int is_directory(const char* path)
{
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

void remember_launch_folder()
{
    launch_folder();
}

int show_message(const char* text, const char* caption, MessageKind kind)
{
    int answer = use_desktop_dialogs() ? desktop_message(kind, text, caption) : -1;
    return answer < 0 ? terminal_message(text, caption, kind) : answer;
}

int pick_folder(const char* title, char* path, size_t size)
{
    int picked = use_desktop_dialogs() ? desktop_pick_folder(title, path, size) : -1;
    return picked < 0 ? terminal_pick_folder(title, path, size) : picked;
}

int message_box(const char* text, const char* caption, MessageKind kind)
{
    int chosen = show_message(text, caption, kind);
    if (kind == Question)
        return chosen ? AnswerYes : AnswerNo;
    if (kind == RetryOrCancel)
        return chosen ? AnswerRetry : AnswerCancel;
    return AnswerOk;
}

}  // namespace platform
