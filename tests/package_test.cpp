// The default package the installer carries: its tables as the product
// defines them, and a fresh install that reproduces its files exactly.
#include <gtest/gtest.h>

#include <cstring>

#include "package/stream.h"
#include "tests/test_support.h"

namespace {

std::string entry_name(uint32_t i)
{
    return Package->entries.entries[i].name;
}

// The index of the entry named name, or the entry count when there is none.
uint32_t entry_index(const char* name)
{
    uint32_t i = 0;
    while (i < Package->entries.count && entry_name(i) != name)
        i++;
    return i;
}

std::vector<unsigned char> decoded_entry(uint32_t wanted)
{
    reset_payload_state();
    std::vector<unsigned char> bytes;
    for (uint32_t i = 0; i <= wanted && wanted < Package->entries.count; i++)
        for (uint32_t n = entry_size(&Package->entries.entries[i]); n > 0; n--) {
            int byte = next_payload_byte();
            if (i == wanted)
                bytes.push_back((unsigned char)byte);
        }
    return bytes;
}

// The image made for a manifest other than the default one says nothing
// about the default package.
bool default_package_built()
{
    return std::string(QUORVEL_PACKAGE_MANIFEST).find("default-package/package.manifest") != std::string::npos;
}

}  // namespace

// The generator's manifest is where the default package's folders and files
// are listed; the program's tables must hold them in its order.
TEST(DefaultPackage, TablesAreTheProductsOwn)
{
    if (!default_package_built())
        GTEST_SKIP() << "built from " << QUORVEL_PACKAGE_MANIFEST;
    Manifest manifest;
    std::string error;
    ASSERT_EQ(read_manifest(QUORVEL_PACKAGE_MANIFEST, manifest, error, FileBytes::OnDemand), 1) << error;
    ASSERT_EQ(Package->directories.count, 4);
    ASSERT_EQ(manifest.directories.size(), 4u);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(Package->directories.paths[i], manifest.directories[i]);

    ASSERT_EQ(Package->entries.count, 14u);
    ASSERT_EQ(manifest.files.size(), 14u);
    uint64_t total = 0;
    for (uint32_t i = 0; i < 14; i++) {
        EXPECT_EQ(entry_name(i), manifest.files[i].name);
        EXPECT_EQ(entry_size(&Package->entries.entries[i]), file_size(manifest.files[i])) << entry_name(i);
        total += entry_size(&Package->entries.entries[i]);
    }
    EXPECT_EQ(total, 4092096u);
    EXPECT_EQ(Package->blocks.block_count, 40u);
    EXPECT_EQ(Package->blocks.payload_length, 4092096u);

    for (const char* version : VersionFiles) {
        std::vector<unsigned char> bytes = decoded_entry(entry_index(version));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "build128\r\n") << version;
    }
    std::vector<unsigned char> png = decoded_entry(entry_index(MarkerFiles[1]));
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(0, std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8));
}

TEST(DefaultPackage, KnownBuildsAreEightyEightNumbersThenFortyCodeNames)
{
    if (!default_package_built())
        GTEST_SKIP() << "built from " << QUORVEL_PACKAGE_MANIFEST;
    for (uint32_t i = 0; i < 88; i++)
        EXPECT_EQ(std::string(Package->known_builds[i]), "build" + std::to_string(128 - i));
    for (uint32_t i = 88; i < KnownBuildCount; i++) {
        std::string name = Package->known_builds[i];
        EXPECT_GE(name.size(), 4u) << name;
        EXPECT_LE(name.size(), 12u) << name;
        for (char c : name)
            EXPECT_TRUE(c >= 'a' && c <= 'z') << name;
        for (uint32_t j = 0; j < i; j++)
            EXPECT_NE(name, Package->known_builds[j]);
    }
}

// The packer records the checksums from the image it built in memory; the
// program's own tables, copied in by the toolchain, must give them all.
TEST(DefaultPackage, LinkedTablesAreTheBytesThePackerChecksummed)
{
    ImageFault fault = ImageOk;
    EXPECT_EQ(verify_image(*Package, &fault), 1);
    EXPECT_EQ(fault, ImageOk);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(Package->checksums.blocks) % alignof(uint32_t), 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(Package->blocks.bit_counts) % alignof(uint32_t), 0u);
}

TEST(DefaultPackage, OnePassDecodesEachBlockOnceWithACompleteCode)
{
    const BlockTables& blocks = Package->blocks;
    for (uint32_t k = 0; k < blocks.block_count; k++) {
        // Kraft sum in units of 2^-32: exactly 1 for a complete code.
        uint64_t kraft = 0;
        for (uint32_t s = 0; s < SymbolCount; s++) {
            uint32_t n = blocks.code_lengths[k][s];
            ASSERT_LE(n, 32u);
            if (n)
                kraft += uint64_t(1) << (32 - n);
        }
        EXPECT_EQ(kraft, uint64_t(1) << 32) << "block " << k;
    }
    reset_payload_state();
    std::vector<uint32_t> lengths;
    uint64_t handed_out = 0;
    for (uint32_t i = 0; i < Package->entries.count; i++)
        for (uint32_t n = entry_size(&Package->entries.entries[i]); n > 0; n--) {
            ASSERT_GE(next_payload_byte(), 0);
            handed_out++;
            if (Stream.read_position == 1) {
                ASSERT_EQ(Stream.block_index, lengths.size()) << "blocks are decoded in order, each once";
            }
            if (Stream.read_position == Stream.output_length)
                lengths.push_back(Stream.output_length);
        }
    EXPECT_EQ(handed_out, blocks.payload_length);
    EXPECT_EQ(Stream.broken, 0);
    ASSERT_EQ(lengths.size(), blocks.block_count);
    for (uint32_t k = 0; k + 1 < lengths.size(); k++)
        EXPECT_EQ(lengths[k], PackerBlockSize);
    if (default_package_built()) {
        EXPECT_EQ(lengths.back(), 98535u);
    }
}

TEST(DefaultPackage, InstallFreshReproducesTheInputTree)
{
    Manifest manifest;
    std::string error;
    ASSERT_EQ(read_manifest(QUORVEL_PACKAGE_MANIFEST, manifest, error), 1) << error;
    reset_payload_state();
    ScratchFolder folder;
    ASSERT_EQ(install_fresh(folder.path.c_str()), 1);
    std::vector<std::string> expected;
    for (const ManifestFile& f : manifest.files) {
        expected.push_back("Quorvel/" + f.name);
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(read_file(folder / ("Quorvel/" + f.name), bytes)) << f.name;
        EXPECT_TRUE(bytes == f.bytes) << f.name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files_below(folder.path), expected);
    EXPECT_EQ(Stream.read_position, Stream.output_length);
}
