#include "tools/pack/manifest.h"

#include <algorithm>
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
    bool listing_only = false;  // dir and file lines are taken as written, no file read
    bool support_seen = false;
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

int add_file(Parser& p, Manifest& m, const std::string& value, bool executable)
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
    file.executable = executable;
    if (p.mode == FileBytes::OnDemand)
        file.source = source;
    else if (!read_bytes(source, file.bytes) || file.bytes.size() != size)
        return p.fail("file '" + value + "': cannot read " + source);
    p.payload += size;
    m.inputs.push_back(source);
    m.files.push_back(std::move(file));
    return 1;
}

// Printable ASCII, which the message box shows alike in every code page.
int set_support_address(Parser& p, Manifest& m, const std::string& value)
{
    if (p.support_seen)
        return p.fail("a second support line; a package names one support address");
    p.support_seen = true;
    if (value.size() > MaxSupportAddressLength)
        return p.fail("support address of " + std::to_string(value.size()) + " bytes; at most " +
                      std::to_string(MaxSupportAddressLength) + " fit the failed message");
    for (char c : value)
        if (c < 0x20 || c > 0x7E)
            return p.fail("support address " + quote(value) + ": only printable ASCII characters");
    m.support_address = value;
    return 1;
}

// Up to four dot-separated numbers of 0 to 65535, as a version resource holds them.
int set_version(Parser& p, Manifest& m, const std::string& value)
{
    if (!m.version.empty())
        return p.fail("a second version line");
    std::string why = version_problem(value);
    if (!why.empty())
        return p.fail("version " + quote(value) + ": " + why);
    m.version = value;
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
    if (keyword != "dir" && keyword != "build" && keyword != "file" && keyword != "exec" && keyword != "support" &&
        keyword != "version")
        return p.fail("unknown keyword " + quote(keyword) + " (expected dir, build, file, exec, support or version)");
    if (space == std::string::npos || value.empty())
        return p.fail(keyword + " needs a value after one space");
    if (keyword == "build")
        return add_build(p, m, value);
    if (keyword == "support")
        return set_support_address(p, m, value);
    if (keyword == "version")
        return set_version(p, m, value);
    if (p.listing_only) {
        if (keyword == "dir")
            m.directories.push_back(value);
        else
            m.files.emplace_back(value).executable = keyword == "exec";
        return 1;
    }
    if (keyword == "dir")
        return add_directory(p, m, value);
    return add_file(p, m, value, keyword == "exec");
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

std::string version_problem(const std::string& version)
{
    size_t parts = 0;
    for (size_t start = 0; start <= version.size(); parts++) {
        size_t dot = std::min(version.find('.', start), version.size());
        std::string part = version.substr(start, dot - start);
        if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(part) > 65535)
            return "each part must be a number of 0 to 65535";
        start = dot + 1;
    }
    return parts > 4 ? "at most four parts" : "";
}

uint64_t file_size(const ManifestFile& file)
{
    return file.source.empty() ? file.bytes.size() : file.size;
}

uint64_t payload_length(const Manifest& manifest)
{
    uint64_t length = 0;
    for (const ManifestFile& f : manifest.files)
        length += file_size(f);
    return length;
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

int read_manifest_listing(const std::string& path, Manifest& manifest, std::string& error)
{
    Parser p;
    p.origin = path;
    p.listing_only = true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read the manifest";
        return 0;
    }
    manifest = Manifest{};
    return parse_lines(p, in, manifest, error);
}
