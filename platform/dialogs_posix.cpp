// Message boxes and the folder picker on POSIX. With a display and zenity
// they are real desktop dialogs; otherwise they talk on the terminal in a
// fixed form that people and scripts can both answer.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
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

// ---- The terminal ---------------------------------------------------------

// One line of standard input without its line end. Returns 0 at the end of
// input. The rest of an over-long line is read and dropped.
int read_line(char* line, size_t size)
{
    std::fflush(stdout);
    if (!std::fgets(line, int(size), stdin))
        return 0;
    size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] != '\n')
        for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
        }
    line[std::strcspn(line, "\r\n")] = '\0';
    return 1;
}

int is_yes(const char* answer)
{
    return strcasecmp(answer, "y") == 0 || strcasecmp(answer, "yes") == 0;
}

int terminal_message(const char* text, const char* caption, int yes_no)
{
    std::printf("[%s]\n%s\n", caption, text);
    if (!yes_no) {
        std::fflush(stdout);
        return 1;
    }
    std::printf("[y/n] ");
    char answer[LineSize];
    return read_line(answer, sizeof answer) && is_yes(answer);
}

int is_directory(const char* path)
{
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder the program was started in. The installer's taken check may
// change the current folder later; a relative answer must not follow it.
char LaunchFolder[LineSize];

const char* launch_folder()
{
    if (!LaunchFolder[0] && !::getcwd(LaunchFolder, sizeof LaunchFolder))
        LaunchFolder[0] = '\0';
    return LaunchFolder;
}

// "~" and "~/x" from the home folder, a relative path from the launch folder.
int absolute_path(const char* typed, char* path, size_t size)
{
    const char* home = std::getenv("HOME");
    const char* base = launch_folder();
    int written;
    if (typed[0] == '~' && (typed[1] == '\0' || typed[1] == '/') && home && *home)
        written = std::snprintf(path, size, "%s%s", home, typed + 1);
    else if (typed[0] == '/')
        written = std::snprintf(path, size, "%s", typed);
    else if (base[0])
        written = std::snprintf(path, size, "%s/%s", base, typed);
    else
        return 0;
    return written >= 0 && size_t(written) < size;
}

int terminal_pick_folder(const char* title, char* path, size_t size)
{
    std::printf("%s\n", title);
    char typed[LineSize];
    for (;;) {
        std::printf("Folder: ");
        if (!read_line(typed, sizeof typed) || typed[0] == '\0')
            return 0;
        if (!absolute_path(typed, path, size) || !is_directory(path))
            std::printf("Not a folder: %s\n", typed);
        else if (std::strchr(path, '\\'))
            std::printf(BackslashNotice, path);
        else
            return 1;
    }
}

// ---- zenity -----------------------------------------------------------------

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

int desktop_available(char* zenity, size_t size)
{
    const char* display = std::getenv("DISPLAY");
    return display && *display && find_in_path("zenity", zenity, size);
}

// Runs zenity with args and waits. Its standard output, if wanted, lands in
// output. Returns its exit status, or -1 when it could not run.
int run_zenity(const char* zenity, const char* const* args, char* output, size_t size)
{
    int pipe_ends[2] = {-1, -1};
    if (output && ::pipe(pipe_ends) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (output) {
        posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    }
    pid_t child;
    int spawned = posix_spawn(&child, zenity, &actions, nullptr, const_cast<char* const*>(args), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    size_t used = 0;
    if (output) {
        ::close(pipe_ends[1]);
        for (ssize_t got; spawned && (got = ::read(pipe_ends[0], output + used, size - 1 - used)) > 0;)
            used += size_t(got);
        ::close(pipe_ends[0]);
        output[used] = '\0';
    }
    int status = 0;
    if (!spawned || ::waitpid(child, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int desktop_message(const char* zenity, const char* text, const char* caption, int yes_no)
{
    char title[LineSize];
    char body[LineSize * 4];
    std::snprintf(title, sizeof title, "--title=%s", caption);
    std::snprintf(body, sizeof body, "--text=%s", text);
    const char* args[] = {"zenity", yes_no ? "--question" : "--info", "--no-markup", title, body, nullptr};
    int status = run_zenity(zenity, args, nullptr, 0);
    if (status < 0)
        return terminal_message(text, caption, yes_no);
    return status == 0;
}

int desktop_pick_folder(const char* zenity, const char* title, char* path, size_t size)
{
    char title_arg[LineSize];
    std::snprintf(title_arg, sizeof title_arg, "--title=%s", title);
    const char* args[] = {"zenity", "--file-selection", "--directory", title_arg, nullptr};
    for (;;) {
        int status = run_zenity(zenity, args, path, size);
        if (status < 0)
            return terminal_pick_folder(title, path, size);
        path[std::strcspn(path, "\n")] = '\0';
        if (status != 0 || path[0] == '\0')
            return 0;
        if (!std::strchr(path, '\\'))
            return 1;
        char notice[LineSize + 128];
        std::snprintf(notice, sizeof notice, BackslashNotice, path);
        desktop_message(zenity, notice, title, 0);
    }
}

}  // namespace

void remember_launch_folder()
{
    launch_folder();
}

int show_message(const char* text, const char* caption, int yes_no)
{
    char zenity[LineSize];
    if (desktop_available(zenity, sizeof zenity))
        return desktop_message(zenity, text, caption, yes_no);
    return terminal_message(text, caption, yes_no);
}

int pick_folder(const char* title, char* path, size_t size)
{
    char zenity[LineSize];
    if (desktop_available(zenity, sizeof zenity))
        return desktop_pick_folder(zenity, title, path, size);
    return terminal_pick_folder(title, path, size);
}

int MessageBoxA(void*, const char* text, const char* caption, unsigned type)
{
    int yes_no = type == MessageBoxYesNo;
    int answer = show_message(text, caption, yes_no);
    if (!yes_no)
        return AnswerOk;
    return answer ? AnswerYes : AnswerNo;
}

}  // namespace platform
