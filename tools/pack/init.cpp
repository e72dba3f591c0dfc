#include "tools/pack/init.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "package/image.h"
#include "package/layout.h"
#include "tools/pack/manifest.h"
#include "tools/pack/updates.h"

namespace {

namespace fs = std::filesystem;

const char* const ManifestName = "package.manifest";

struct Listing {
    const InitRequest* request;
    std::string root;                    // the folder as the user named it
    std::vector<std::string> folders;    // "/" separated, relative to root
    std::vector<std::string> files;
    std::vector<std::string> executable;   // files with a run bit set, listed by exec lines
    NameSet names;
    std::vector<std::string> problems;
    std::vector<std::string> left_out;

    void refuse(const std::string& relative, const std::string& why)
    {
        problems.push_back(quote(root + "/" + relative) + ": " + why);
    }
};

// The bytes of a name as the packer stores it: UTF-8 on Windows too.
std::string name_bytes(const fs::path& name)
{
#ifdef _WIN32
    std::u8string text = name.u8string();
    return std::string(text.begin(), text.end());
#else
    return name.native();
#endif
}

// A name the packer refuses is reported here, by its path, rather than as
// a line of a manifest nobody has seen.
bool take_name(Listing& listing, const std::string& relative, bool folder)
{
    std::string problem = folder ? name_problem(relative) : entry_name_problem(relative);
    if (problem.empty())
        problem = add_name(listing.names, relative, std::string(folder ? "folder " : "file ") + quote(relative),
                           folder, 0);
    if (!problem.empty())
        listing.refuse(relative, problem);
    return problem.empty();
}

// The shell's pattern match on a whole path, as fnmatch without flags: "*"
// and "?" match "/" too, "[...]" is a set ("!" first negates, "a-z" a
// range), and "\\" takes the next character as it is.
// The "]" that ends the set "[" opens at pattern, or null when none does.
const char* set_end(const char* pattern)
{
    const char* p = pattern + 1;
    p += *p == '!';
    p += *p == ']';   // a "]" first is a member
    return std::strchr(p, ']');
}

bool matches(const char* pattern, const char* text)
{
    for (; *pattern; pattern++, text++) {
        if (*pattern == '*') {
            for (const char* rest = text;; rest++) {
                if (matches(pattern + 1, rest))
                    return true;
                if (!*rest)
                    return false;
            }
        }
        if (!*text)
            return false;
        const char* end = *pattern == '[' ? set_end(pattern) : nullptr;
        if (end) {
            bool negated = pattern[1] == '!', found = false;
            unsigned char c = *text;
            for (const char* p = pattern + 1 + negated; p < end; p++) {
                if (p + 2 < end && p[1] == '-') {
                    found = found || (c >= (unsigned char)p[0] && c <= (unsigned char)p[2]);
                    p += 2;
                } else
                    found = found || c == (unsigned char)*p;
            }
            if (found == negated)
                return false;
            pattern = end;
            continue;
        }
        if (*pattern == '\\' && pattern[1])
            pattern++;
        else if (*pattern == '?')
            continue;
        if (*pattern != *text)
            return false;
    }
    return !*text;
}

bool same_ascii_name(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i]))
            return false;
    return true;
}

// What version control and desktops leave in a folder and no game ships:
// "" for anything else.
std::string usual_leftover(const std::string& name, bool folder)
{
    for (const char* control : {".git", ".svn", ".hg", ".bzr", "CVS"})
        if (name == control)
            return folder ? "a version-control folder" : "a version-control file";
    for (const char* desktop : {".DS_Store", "Thumbs.db", "desktop.ini"})
        if (!folder && same_ascii_name(name, desktop))
            return "a file the desktop keeps";
    return "";
}

// Left out by a pattern, or as a usual leftover (said in a line).
bool left_out(Listing& listing, const std::string& path, const std::string& name, bool folder)
{
    for (const std::string& pattern : listing.request->excludes)
        if (matches(pattern.c_str(), path.c_str()))
            return true;
    std::string what = listing.request->keep_usual_leftovers ? "" : usual_leftover(name, folder);
    if (!what.empty())
        listing.left_out.push_back("left out " + quote(listing.root + "/" + path) + ", " + what +
                                   " (--keep-usual-leftovers keeps it)");
    return !what.empty();
}

// Windows has no run bits; its runtime's own guess by extension is no mark.
bool has_run_bit(fs::file_status status)
{
#ifdef _WIN32
    (void)status;
    return false;
#else
    const fs::perms run = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    return (status.permissions() & run) != fs::perms::none;
#endif
}

// Entries in byte order, so problems come in the same order on every run.
void list_folder(Listing& listing, const fs::path& folder, const std::string& relative)
{
    std::vector<std::pair<std::string, fs::directory_entry>> entries;
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error))
        entries.push_back({relative + name_bytes(entry->path().filename()), *entry});
    if (error)
        listing.refuse(relative, "cannot list the folder: " + error.message());
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [name, found] : entries) {
        fs::file_status status = found.symlink_status(error);
        if (!error && left_out(listing, name, name.substr(relative.size()), fs::is_directory(status)))
            continue;
        if (error)
            listing.refuse(name, "cannot look at it: " + error.message());
        else if (fs::is_symlink(status))
            listing.refuse(name, "a symbolic link; a package holds only regular files and folders");
        else if (fs::is_directory(status)) {
            if (take_name(listing, name, true)) {
                listing.folders.push_back(name);
                list_folder(listing, found.path(), name + "/");
            }
        } else if (!fs::is_regular_file(status))
            listing.refuse(name, "neither a regular file nor a folder (a device, pipe or socket)");
        else if (!(relative.empty() && name == ManifestName) && take_name(listing, name, false)) {
            listing.files.push_back(name);
            if (has_run_bit(status))
                listing.executable.push_back(name);
        }
    }
}

int read_whole_file(const fs::path& path, std::vector<unsigned char>& bytes)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return 0;
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

// The new build's name: the one asked for, else what the installer will
// read from the folder's exec.ver once it is installed.
std::string new_build_name(const InitRequest& request, std::vector<std::string>& problems)
{
    std::string name = request.build;
    std::string source = "--build " + quote(name);
    if (name.empty()) {
        source = request.folder + "/" + VersionFiles[0];
        std::vector<unsigned char> bytes;
        if (!read_whole_file(fs::path(request.folder) / VersionFiles[0], bytes)) {
            problems.push_back("no build name: give --build NAME, or put the build's name in " + source);
            return "";
        }
        std::string problem = version_file_problem(bytes);
        if (!problem.empty()) {
            problems.push_back(source + " " + problem);
            return "";
        }
        name = version_name_in(bytes);
        source += " (read as " + quote(name) + ")";
    }
    std::string problem = build_name_problem(name);
    if (problem.empty() && is_placeholder_build(name))
        problem = "names of this form fill unused slots and are never a build's";
    if (!problem.empty())
        problems.push_back(source + ": " + problem);
    return problem.empty() ? name : "";
}

// An empty or short previous manifest is refused rather than taken for a
// first release: the usual cause is a shell redirection that emptied it.
Manifest previous_release(const std::string& previous, std::vector<std::string>& problems)
{
    Manifest release;
    std::string error;
    if (!read_manifest_listing(previous, release, error)) {
        problems.push_back(error);
        return {};
    }
    if (release.builds.size() != KnownBuildCount) {
        problems.push_back(previous + ": " + std::to_string(release.builds.size()) +
                           " build names where a packed manifest has " + std::to_string(KnownBuildCount) +
                           " (was it emptied by the redirection meant to replace it?)");
        return {};
    }
    return release;
}

std::vector<std::string> build_list(const InitRequest& request, const std::vector<std::string>& older,
                                    std::vector<std::string>& problems)
{
    std::vector<std::string> builds;
    std::string name = new_build_name(request, problems);
    if (!name.empty())
        builds.push_back(name);
    for (const std::string& b : older)
        if (builds.size() < KnownBuildCount && !is_placeholder_build(b) &&
            std::find(builds.begin(), builds.end(), b) == builds.end())
            builds.push_back(b);
    while (builds.size() < KnownBuildCount)
        builds.push_back(placeholder_build(unsigned(builds.size() + 1)));
    return builds;
}

// The previous release's support address carries over; its version does not.
std::string manifest_text(const Listing& listing, const std::vector<std::string>& builds, const Manifest& previous)
{
    std::string text = "# Written by quorvel-pack init; see quorvel-pack --help.\n";
    if (previous.support_address != DefaultSupportAddress)
        text += "support " + previous.support_address + "\n";
    for (std::string folder : listing.folders) {
        std::replace(folder.begin(), folder.end(), '/', '\\');
        text += "dir \\Quorvel\\" + folder + "\n";
    }
    for (const std::string& b : builds)
        text += "build " + b + "\n";
    for (const std::string& f : listing.files) {
        bool executable = std::find(listing.executable.begin(), listing.executable.end(), f) != listing.executable.end();
        text += (executable ? "exec " : "file ") + f + "\n";
    }
    return text;
}

}  // namespace

InitResult init_manifest(const InitRequest& request)
{
    InitResult result;
    InitRequest asked = request;
    while (asked.folder.size() > 1 && asked.folder.back() == '/')
        asked.folder.pop_back();
    std::error_code error;
    if (!fs::is_directory(asked.folder, error)) {
        result.problems.push_back(quote(request.folder) + ": not a folder");
        return result;
    }
    Listing listing;
    listing.request = &asked;
    listing.root = asked.folder;
    list_folder(listing, asked.folder, "");
    std::sort(listing.folders.begin(), listing.folders.end());
    std::sort(listing.files.begin(), listing.files.end());
    Manifest previous;
    if (!asked.previous.empty())
        previous = previous_release(asked.previous, listing.problems);
    std::vector<std::string> builds = build_list(asked, previous.builds, listing.problems);
    result.problems = listing.problems;
    result.left_out = listing.left_out;
    if (!result.problems.empty())
        return result;

    std::string text = manifest_text(listing, builds, previous);
    Manifest manifest;
    std::string problem;
    if (!parse_manifest(text, asked.folder + "/", asked.folder + "/" + ManifestName, manifest, problem,
                        FileBytes::OnDemand) ||
        !check_version_files(manifest, problem)) {
        result.problems.push_back(problem);
        return result;
    }
    if (!asked.previous.empty())
        result.notes = update_lines(update_notes(manifest, previous), asked.refuse_new_folders, result.problems);
    if (!result.problems.empty()) {
        result.notes.clear();
        return result;
    }
    result.manifest = text;
    result.warning = marker_warning(manifest);
    return result;
}
