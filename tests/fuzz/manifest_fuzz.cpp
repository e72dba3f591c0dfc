// libFuzzer: the packer's manifest reader on any text. It must accept or
// refuse with a message naming a line, and what it accepts must be a
// package the installer can hold.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "package/image.h"
#include "tools/pack/manifest.h"

const PackageImage* Package = nullptr;

namespace {

std::string folder;

void remove_work_folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

// A folder with a few files the manifests may name, made once and removed
// when the run ends.
std::string work_folder()
{
    if (folder.empty()) {
        char pattern[] = "/tmp/quorvel-manifest-fuzz-XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        folder = pattern;
        std::atexit(remove_work_folder);
        std::filesystem::create_directories(folder + "/d/e");
        std::ofstream(folder + "/a") << "a";
        std::ofstream(folder + "/d/b") << "bb";
        std::ofstream(folder + "/d/e/c") << "";
    }
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string manifest_path = work_folder() + "/m.manifest";
    {
        std::ofstream out(manifest_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    Manifest manifest;
    std::string error;
    if (!read_manifest(manifest_path, manifest, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (manifest.builds.size() != KnownBuildCount)
        std::abort();
    for (const ManifestFile& file : manifest.files) {
        if (file.name.empty() || file.name.size() >= sizeof(EntryRecord{}.name) || file.name[0] == '/')
            std::abort();
        std::string wrapped = "/" + file.name + "/";
        if (wrapped.find("/../") != std::string::npos || wrapped.find("/./") != std::string::npos ||
            file.name.find('\\') != std::string::npos)
            std::abort();
    }
    for (const std::string& directory : manifest.directories)
        if (directory.rfind("\\Quorvel\\", 0) != 0)
            std::abort();
    if (manifest.support_address.empty() || manifest.support_address.size() > MaxSupportAddressLength)
        std::abort();
    for (char c : manifest.support_address)
        if (c < 0x20 || c > 0x7E)
            std::abort();
    if (!manifest.version.empty() && !version_problem(manifest.version).empty())
        std::abort();
    return 0;
}
