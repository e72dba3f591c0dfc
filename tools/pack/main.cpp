// quorvel-pack MANIFEST OUTPUT [--depfile FILE]
// Turns the files a manifest names into the package image source that the
// installer compiles in. Exit status: 0 done, 1 could not write or the
// package did not decode back to its input, 2 bad input.
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/pack/packer.h"

// The packer carries no image of its own; verification points this at the
// image it has just made.
const PackageImage* Package = nullptr;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: quorvel-pack MANIFEST OUTPUT [--depfile FILE]\n");
    return 2;
}

// Written beside the target and moved over it, so a failed run leaves no
// output behind and a build never sees half a file.
int write_file(const std::string& path, const std::string& text)
{
    std::string staging = path + ".part";
    {
        std::ofstream out(staging, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::remove(staging.c_str());
            return 0;
        }
    }
    if (std::rename(staging.c_str(), path.c_str()) != 0) {
        std::remove(staging.c_str());
        return 0;
    }
    return 1;
}

std::string escaped_for_make(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#' || c == '\\')
            out += '\\';
        if (c == '$')
            out += '$';
        out += c;
    }
    return out;
}

std::string depfile_text(const std::string& output, const Manifest& manifest)
{
    std::string text = escaped_for_make(output) + ":";
    for (const std::string& input : manifest.inputs)
        text += " \\\n  " + escaped_for_make(input);
    return text + "\n";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--depfile"))
        return usage();
    std::string manifest_path = argv[1];
    std::string output = argv[2];

    Manifest manifest;
    std::string error;
    if (!read_manifest(manifest_path, manifest, error)) {
        std::fprintf(stderr, "quorvel-pack: %s\n", error.c_str());
        return 2;
    }
    PackedPayload packed = pack_payload(manifest);
    if (!verify_payload(manifest, packed, error)) {
        std::fprintf(stderr, "quorvel-pack: internal error: %s\n", error.c_str());
        return 1;
    }
    if (!write_file(output, generated_source(manifest, packed, manifest_path))) {
        std::fprintf(stderr, "quorvel-pack: cannot write %s\n", output.c_str());
        return 1;
    }
    if (argc == 5 && !write_file(argv[4], depfile_text(output, manifest))) {
        std::fprintf(stderr, "quorvel-pack: cannot write %s\n", argv[4]);
        std::remove(output.c_str());
        return 1;
    }
    std::printf("%s\n", summary_line(manifest, packed).c_str());
    return 0;
}
