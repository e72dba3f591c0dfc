#include "tools/pack/manifest.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

#include "package/image.h"

namespace {

constexpr uint64_t MaxPayload = 0xFFFFFFFFull;   // sizes are 32-bit
const std::string TopFolder = "\\Quorvel";

struct Parser {
    std::string origin;        // how messages name the manifest
    std::string folder;        // where file names start: "" or ending in "/"
    bool builds_only = false;  // dir and file lines are skipped unread
    FileBytes mode = FileBytes::Loaded;
    int line_number = 0;
    uint64_t payload = 0;
    NameSet names;
    std::string error;

    int fail(const std::string& message)
    {
        error = origin + ":" + std::to_string(line_number) + ": " + message;
        return 0;
    }
};

std::string folder_of(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

int is_regular_file(const std::string& path, uint64_t& size)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    size = uint64_t(info.st_size);
    return 1;
}

int read_bytes(const std::string& path, std::vector<unsigned char>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return 0;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Folders a file needs, as DirectoryList paths: "a/b/c.txt" needs
// "\\Quorvel\\a" and "\\Quorvel\\a\\b".
std::vector<std::string> parent_folders(const std::string& name)
{
    std::vector<std::string> folders;
    std::string folder = TopFolder;
    for (size_t start = 0, slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1) {
        folder += '\\';
        folder.append(name, start, slash - start);
        folders.push_back(folder);
    }
    return folders;
}

int add_directory(Parser& p, Manifest& m, const std::string& value)
{
    if (value.rfind(TopFolder + "\\", 0) != 0)
        return p.fail("dir must name a folder inside \\Quorvel, as \\Quorvel\\NAME: " + quote(value));
    std::string inner = value.substr(TopFolder.size() + 1);
    std::string relative;
    for (char c : inner)
        relative += c == '\\' ? '/' : c;
    std::string problem = name_problem(relative);
    if (!problem.empty())
        return p.fail("dir " + quote(value) + ": " + problem);
    problem = add_name(p.names, relative, "dir " + quote(value), true, p.line_number);
    if (!problem.empty())
        return p.fail(problem);
    std::string parent = value.substr(0, value.find_last_of('\\'));
    bool parent_known = parent == TopFolder;
    for (const std::string& d : m.directories)
        parent_known = parent_known || d == parent;
    if (!parent_known)
        return p.fail("dir '" + value + "' comes before its parent '" + parent + "'");
    m.directories.push_back(value);
    return 1;
}

int add_build(Parser& p, Manifest& m, const std::string& value)
{
    std::string problem = build_name_problem(value);
    if (!problem.empty())
        return p.fail(problem + ": " + quote(value));
    for (const std::string& b : m.builds)
        if (b == value)
            return p.fail("duplicate build name '" + value + "'");
    m.builds.push_back(value);
    return 1;
}

int add_file(Parser& p, Manifest& m, const std::string& value)
{
    std::string problem = entry_name_problem(value);
    if (!problem.empty())
        return p.fail("file " + quote(value) + ": " + problem);
    problem = add_name(p.names, value, "file " + quote(value), false, p.line_number);
    if (!problem.empty())
        return p.fail(problem);
    for (const std::string& folder : parent_folders(value)) {
        bool listed = false;
        for (const std::string& d : m.directories)
            listed = listed || d == folder;
        if (!listed)
            return p.fail("file '" + value + "' needs 'dir " + folder + "' on an earlier line");
    }
    std::string source = p.folder + value;
    uint64_t size = 0;
    if (!is_regular_file(source, size))
        return p.fail("file '" + value + "': no readable file at " + source);
    if (size > MaxPayload - p.payload)
        return p.fail("the payload would exceed 4 GiB at file '" + value + "'");
    ManifestFile file(value);
    file.size = size;
    if (p.mode == FileBytes::OnDemand)
        file.source = source;
    else if (!read_bytes(source, file.bytes) || file.bytes.size() != size)
        return p.fail("file '" + value + "': cannot read " + source);
    p.payload += size;
    m.inputs.push_back(source);
    m.files.push_back(std::move(file));
    return 1;
}

int parse_line(Parser& p, Manifest& m, std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty() || line[0] == '#')
        return 1;
    size_t space = line.find(' ');
    std::string keyword = line.substr(0, space);
    std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (keyword != "dir" && keyword != "build" && keyword != "file")
        return p.fail("unknown keyword " + quote(keyword) + " (expected dir, build or file)");
    if (space == std::string::npos || value.empty())
        return p.fail(keyword + " needs a value after one space");
    if (keyword == "build")
        return add_build(p, m, value);
    if (p.builds_only)
        return 1;
    if (keyword == "dir")
        return add_directory(p, m, value);
    return add_file(p, m, value);
}

int parse_lines(Parser& p, std::istream& in, Manifest& manifest, std::string& error)
{
    for (std::string line; std::getline(in, line);) {
        p.line_number++;
        if (!parse_line(p, manifest, line)) {
            error = p.error;
            return 0;
        }
    }
    return 1;
}

int parse_stream(Parser& p, std::istream& in, Manifest& manifest, std::string& error)
{
    if (!parse_lines(p, in, manifest, error))
        return 0;
    if (manifest.builds.size() != KnownBuildCount) {
        error = p.origin + ": " + std::to_string(manifest.builds.size()) + " build names; exactly " +
                std::to_string(KnownBuildCount) + " are needed";
        return 0;
    }
    return 1;
}

}  // namespace

uint64_t file_size(const ManifestFile& file)
{
    return file.source.empty() ? file.bytes.size() : file.size;
}

int file_bytes(const ManifestFile& file, std::vector<unsigned char>& bytes, std::string& error)
{
    if (file.source.empty()) {
        bytes = file.bytes;
        return 1;
    }
    if (!read_bytes(file.source, bytes) || bytes.size() != file.size) {
        error = "file '" + file.name + "': cannot read " + file.source + " as it was listed";
        return 0;
    }
    return 1;
}

int read_manifest(const std::string& path, Manifest& manifest, std::string& error, FileBytes mode)
{
    Parser p;
    p.origin = path;
    p.mode = mode;
    p.folder = folder_of(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read the manifest";
        return 0;
    }
    manifest = Manifest{};
    manifest.inputs.push_back(path);
    return parse_stream(p, in, manifest, error);
}

int parse_manifest(const std::string& text, const std::string& folder, const std::string& origin, Manifest& manifest,
                   std::string& error, FileBytes mode)
{
    Parser p;
    p.origin = origin;
    p.mode = mode;
    p.folder = folder;
    std::istringstream in(text);
    manifest = Manifest{};
    return parse_stream(p, in, manifest, error);
}

int read_manifest_builds(const std::string& path, std::vector<std::string>& builds, std::string& error)
{
    Parser p;
    p.origin = path;
    p.builds_only = true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read the manifest";
        return 0;
    }
    Manifest manifest;
    if (!parse_lines(p, in, manifest, error))
        return 0;
    builds = manifest.builds;
    return 1;
}
