#include "tools/pack/init.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "package/image.h"
#include "tools/pack/manifest.h"
#include "tools/pack/updates.h"

namespace {

namespace fs = std::filesystem;

const char* const ManifestName = "package.manifest";

struct Listing {
    std::string root;                    // the folder as the user named it
    std::vector<std::string> folders;    // "/" separated, relative to root
    std::vector<std::string> files;
    NameSet names;
    std::vector<std::string> problems;

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
        else if (!(relative.empty() && name == ManifestName) && take_name(listing, name, false))
            listing.files.push_back(name);
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
        source = request.folder + "/dravik/exec.ver";
        std::vector<unsigned char> bytes;
        if (!read_whole_file(fs::path(request.folder) / "dravik" / "exec.ver", bytes)) {
            problems.push_back("no build name: give --build NAME, or put the build's name in " + source);
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
std::vector<std::string> previous_builds(const std::string& previous, std::vector<std::string>& problems)
{
    std::vector<std::string> builds;
    std::string error;
    if (!read_manifest_builds(previous, builds, error)) {
        problems.push_back(error);
        return {};
    }
    if (builds.size() != KnownBuildCount) {
        problems.push_back(previous + ": " + std::to_string(builds.size()) +
                           " build names where a packed manifest has " + std::to_string(KnownBuildCount) +
                           " (was it emptied by the redirection meant to replace it?)");
        return {};
    }
    return builds;
}

std::vector<std::string> build_list(const InitRequest& request, std::vector<std::string>& problems)
{
    std::vector<std::string> builds;
    std::string name = new_build_name(request, problems);
    if (!name.empty())
        builds.push_back(name);
    std::vector<std::string> older;
    if (!request.previous.empty())
        older = previous_builds(request.previous, problems);
    for (const std::string& b : older)
        if (builds.size() < KnownBuildCount && !is_placeholder_build(b) &&
            std::find(builds.begin(), builds.end(), b) == builds.end())
            builds.push_back(b);
    while (builds.size() < KnownBuildCount)
        builds.push_back(placeholder_build(unsigned(builds.size() + 1)));
    return builds;
}

std::string manifest_text(const Listing& listing, const std::vector<std::string>& builds)
{
    std::string text = "# Written by quorvel-pack init; see quorvel-pack --help.\n";
    for (std::string folder : listing.folders) {
        std::replace(folder.begin(), folder.end(), '/', '\\');
        text += "dir \\Quorvel\\" + folder + "\n";
    }
    for (const std::string& b : builds)
        text += "build " + b + "\n";
    for (const std::string& f : listing.files)
        text += "file " + f + "\n";
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
    listing.root = asked.folder;
    list_folder(listing, asked.folder, "");
    std::sort(listing.folders.begin(), listing.folders.end());
    std::sort(listing.files.begin(), listing.files.end());
    std::vector<std::string> builds = build_list(asked, listing.problems);
    result.problems = listing.problems;
    if (!result.problems.empty())
        return result;

    std::string text = manifest_text(listing, builds);
    Manifest manifest;
    std::string problem;
    if (!parse_manifest(text, asked.folder + "/", asked.folder + "/" + ManifestName, manifest, problem,
                        FileBytes::OnDemand) ||
        !check_version_files(manifest, problem)) {
        result.problems.push_back(problem);
        return result;
    }
    result.manifest = text;
    result.warning = marker_warning(manifest);
    return result;
}
