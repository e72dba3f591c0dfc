#include "tools/pack/updates.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "package/image.h"
#include "package/layout.h"

namespace {

const std::string PlaceholderStart = "(unused slot ";

const ManifestFile* file_named(const Manifest& manifest, const std::string& name, bool as_windows)
{
    std::string wanted = as_windows ? folded_name(name) : name;
    for (const ManifestFile& f : manifest.files)
        if ((as_windows ? folded_name(f.name) : f.name) == wanted)
            return &f;
    return nullptr;
}

}  // namespace

std::string version_name_in(const std::vector<unsigned char>& bytes)
{
    // read_version_name's loop over a text-mode stream: at most
    // VersionNameSize - 2 reads, a CR LF pair read as one LF, and the read
    // that finds the end stored like a byte. Windows' text mode also ends a
    // file at a Ctrl-Z; here it stays in the name, which then matches no
    // build name, so such a file is refused rather than read two ways.
    char name[VersionNameSize];
    int count = 0;
    size_t at = 0;
    while (count <= int(VersionNameSize) - 3 && at < bytes.size()) {
        bool pair = bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n';
        name[count++] = pair ? '\n' : char(bytes[at]);
        at += pair ? 2 : 1;
    }
    if (count <= int(VersionNameSize) - 3)
        name[count++] = char(EOF);
    end_version_name(name, count);
    return name;
}

std::string version_file_problem(const std::vector<unsigned char>& bytes)
{
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return "starts with a UTF-8 byte-order mark, which the installer would read as part of the build name; "
               "save it without one";
    return "";
}

std::string placeholder_build(unsigned slot)
{
    std::string digits = std::to_string(slot);
    return PlaceholderStart + std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits + ")";
}

bool is_placeholder_build(const std::string& name)
{
    if (name.size() != PlaceholderStart.size() + 4 || name.compare(0, PlaceholderStart.size(), PlaceholderStart) != 0 ||
        name.back() != ')')
        return false;
    for (size_t i = PlaceholderStart.size(); i + 1 < name.size(); i++)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

int check_version_files(const Manifest& manifest, std::string& error)
{
    for (const char* version_file : VersionFiles) {
        const ManifestFile* file = file_named(manifest, version_file, true);
        if (!file)
            continue;
        std::vector<unsigned char> bytes;
        if (!file_bytes(*file, bytes, error))
            return 0;
        if (!(error = version_file_problem(bytes)).empty()) {
            error = "file " + quote(file->name) + " " + error;
            return 0;
        }
        std::string name = version_name_in(bytes);
        bool known = false;
        for (const std::string& b : manifest.builds)
            known = known || b == name;
        std::string start = "file '" + file->name + "' reads as ";
        if (name.empty())
            error = start + "an empty build name, which no build list holds";
        else if (is_placeholder_build(name))
            error = start + quote(name) + ", a placeholder that names no build";
        else if (!known)
            error = start + "build " + quote(name) + ", which is not one of the package's build names";
        if (!error.empty()) {
            error += "; the installer would refuse to update its own installations";
            return 0;
        }
    }
    return 1;
}

std::string marker_warning(const Manifest& manifest)
{
    std::string missing;
    for (const char* marker : MarkerFiles)
        if (!file_named(manifest, marker, false))
            missing += std::string(missing.empty() ? "" : " and ") + marker;
    if (missing.empty())
        return "";
    return "warning: the payload lacks " + missing +
           ", so the installer cannot recognise its installations to update them";
}

namespace {

// "\\Quorvel\\a\\b" as "a/b", the way file names are written.
std::string relative_folder(const std::string& directory)
{
    std::string relative = directory.substr(directory.find('\\', 1) + 1);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return relative;
}

std::string listed(const std::vector<std::string>& names)
{
    std::string text;
    for (size_t i = 0; i < names.size(); i++)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + quote(names[i]);
    return text;
}

}  // namespace

UpdateNotes update_notes(const Manifest& package, const Manifest& previous)
{
    UpdateNotes notes;
    std::string since = "since " + (previous.builds.empty() ? std::string("the previous release")
                                                           : "build " + quote(previous.builds[0])) + ", ";
    for (const std::string& directory : package.directories) {
        if (std::find(previous.directories.begin(), previous.directories.end(), directory) !=
            previous.directories.end())
            continue;
        std::string folder = relative_folder(directory);
        std::vector<std::string> inside;
        for (const ManifestFile& f : package.files)
            if (f.name.rfind(folder + "/", 0) == 0 && f.name.find('/', folder.size() + 1) == std::string::npos)
                inside.push_back(f.name);
        notes.new_folders.push_back(since + "the folder " + quote(folder) +
                                    " is new: an update creates no folders, so updated installations will lack " +
                                    (inside.empty() ? "it" : "it and " + listed(inside)));
    }
    for (const ManifestFile& old : previous.files)
        if (!file_named(package, old.name, false))
            notes.dropped_files.push_back(since + quote(old.name) +
                                          " is no longer in the package: it stays on updated installations");
    notes.launchers = "every update first deletes " +
                      listed(std::vector<std::string>(std::begin(RetiredLaunchers), std::end(RetiredLaunchers))) +
                      " in the installation's top folder";
    return notes;
}

std::vector<std::string> update_lines(const UpdateNotes& notes, bool refuse_new_folders,
                                      std::vector<std::string>& problems)
{
    std::vector<std::string> lines;
    for (const std::string& line : notes.new_folders)
        if (refuse_new_folders)
            problems.push_back(line + " (refused by --no-new-folders)");
        else
            lines.push_back("warning: " + line);
    for (const std::string& line : notes.dropped_files)
        lines.push_back("warning: " + line);
    lines.push_back("note: " + notes.launchers);
    return lines;
}
