// make-large-package OUTDIR
//
// A package of a game's size for the tests, made in seconds: 4,000 blocks
// of 17,000 bytes (68,000,000 bytes, over the size at which the installer
// shows progress) cut into files of every size from empty to megabytes.
// Each block holds one of five contents, each encoded once, so no encoder
// time grows with the package; the contents differ in how well they
// compress, so the blocks lie at uneven offsets in the image. Writes the
// files below OUTDIR/files with the package.manifest naming them there, and
// the image files (OUTDIR/package_data.cpp, .S and .bin) the build links in.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/checksum.h"
#include "tools/pack/encoder.h"
#include "tools/pack/image_files.h"
#include "tools/pack/image_tables.h"

namespace {

constexpr uint32_t BlockCount = 4000;
constexpr uint32_t BlockBytes = 17000;
constexpr uint32_t ContentCount = 5;

uint32_t next_random(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Text with a share of noise; the share sets how well it compresses.
std::vector<unsigned char> block_content(uint32_t kind)
{
    const std::string phrase = "Block content " + std::to_string(kind) + ": the ferry leaves at dawn. ";
    const uint32_t noise[ContentCount] = {0, 40, 400, 1500, 4000};
    std::vector<unsigned char> bytes(BlockBytes);
    uint32_t state = kind + 1;
    for (uint32_t i = 0; i < BlockBytes; i++)
        bytes[i] = (unsigned char)(i < noise[kind] ? next_random(state) : phrase[i % phrase.size()]);
    return bytes;
}

// Adjacent blocks differ, and no short cycle lines up with the files.
uint32_t content_of_block(uint32_t k)
{
    return (k * 3 + k / 7) % ContentCount;
}

// Empty files, one-byte files, files ending on a block's edge and files of
// megabytes; the last takes what is left.
std::vector<uint64_t> file_sizes(uint64_t payload)
{
    std::vector<uint64_t> sizes = {0, 1, BlockBytes - 1, 1, BlockBytes, 0, 3 * BlockBytes + 5};
    uint32_t state = 99;
    uint64_t used = 0;
    for (uint64_t s : sizes)
        used += s;
    for (uint64_t size; sizes.size() < 39 && used + (size = 200000 + next_random(state) % 3000000) < payload;) {
        sizes.push_back(size);
        used += size;
    }
    sizes.push_back(payload - used);
    return sizes;
}

int write_bytes(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return bool(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-large-package OUTDIR\n");
        return 2;
    }
    std::filesystem::path out = argv[1];
    std::filesystem::path files = out / "files";
    std::filesystem::create_directories(files / "data/more");

    std::vector<std::vector<unsigned char>> contents;
    std::vector<EncodedBlock> encoded;
    for (uint32_t kind = 0; kind < ContentCount; kind++) {
        contents.push_back(block_content(kind));
        encoded.push_back(encode_block(contents.back().data(), BlockBytes));
    }

    ImageTables tables;
    std::vector<std::string> names;
    std::vector<uint64_t> sizes = file_sizes(uint64_t(BlockCount) * BlockBytes);
    for (size_t i = 0; i < sizes.size(); i++)
        names.push_back((i % 3 ? "data/" : i % 2 ? "data/more/" : "") + std::string("part-") + std::to_string(i) +
                        ".bin");

    // The payload written out file by file, each file's checksum taken as it goes.
    uint64_t position = 0;
    for (size_t i = 0; i < sizes.size(); i++) {
        std::ofstream file(files / names[i], std::ios::binary | std::ios::trunc);
        uint32_t crc = 0;
        for (uint64_t left = sizes[i]; left > 0;) {
            uint32_t at = uint32_t(position % BlockBytes);
            const std::vector<unsigned char>& block = contents[content_of_block(uint32_t(position / BlockBytes))];
            uint32_t run = uint32_t(std::min<uint64_t>(left, BlockBytes - at));
            file.write(reinterpret_cast<const char*>(block.data() + at), run);
            crc = crc32c(crc, block.data() + at, run);
            position += run;
            left -= run;
        }
        file.close();
        if (!file) {
            std::fprintf(stderr, "make-large-package: cannot write %s\n", (files / names[i]).c_str());
            return 1;
        }
        tables.entries.push_back(entry_record(names[i], uint32_t(sizes[i])));
        tables.contents.push_back(crc);
    }

    std::vector<std::string> directories = {"\\Quorvel\\data", "\\Quorvel\\data\\more"};
    std::vector<std::string> builds;
    for (uint32_t i = 0; i < KnownBuildCount; i++)
        builds.push_back("large-" + std::to_string(i + 1));
    std::string manifest = "# Written by make-large-package.\n";
    for (const std::string& d : directories) {
        tables.directories.push_back(d.c_str());
        manifest += "dir " + d + "\n";
    }
    for (const std::string& b : builds) {
        tables.builds.push_back(b.c_str());
        manifest += "build " + b + "\n";
    }
    for (const std::string& name : names)
        manifest += "file " + name + "\n";
    for (uint32_t k = 0; k < BlockCount; k++) {
        const EncodedBlock& block = encoded[content_of_block(k)];
        tables.code_lengths.push_back(block.code_lengths);
        tables.streams.push_back(block.stream.data());
        tables.bit_counts.push_back(block.bit_count);
    }
    tables.seal();

    std::string error;
    if (!write_image_files(tables.image, image_files_beside((out / "package_data.cpp").string()), "make-large-package",
                           error) ||
        !write_bytes(files / "package.manifest", manifest)) {
        std::fprintf(stderr, "make-large-package: %s\n", error.empty() ? "cannot write the manifest" : error.c_str());
        return 1;
    }
    return 0;
}
