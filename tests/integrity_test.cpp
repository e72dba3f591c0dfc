// The image's checksums: every kind of damage is refused before anything is
// written, and bytes that decode wrong never replace a file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "package/checksum.h"
#include "package/stream.h"
#include "tests/test_support.h"

namespace {

std::string text_of_file(const std::string& path)
{
    std::vector<unsigned char> bytes;
    return read_file(path, bytes) ? std::string(bytes.begin(), bytes.end()) : "<missing>";
}

ImageFault fault_of(const PackageImage& image)
{
    ImageFault fault = ImageOk;
    verify_image(image, &fault);
    return fault;
}

}  // namespace

TEST(Checksum, KnownValueChainingAndBothPathsAgree)
{
    EXPECT_EQ(crc32c(0, "123456789", 9), 0xE3069283u);
    EXPECT_EQ(crc32c_portable(0, "123456789", 9), 0xE3069283u);
    EXPECT_EQ(crc32c(0, "", 0), 0u);
    std::vector<unsigned char> bytes = random_bytes(5000, 7);
    for (size_t start : {0u, 1u, 3u, 7u})
        for (size_t size : {0u, 1u, 7u, 8u, 9u, 63u, 4093u}) {
            const unsigned char* p = bytes.data() + start;
            uint32_t whole = crc32c(0, p, size);
            ASSERT_EQ(crc32c_portable(0, p, size), whole) << start << "+" << size;
            size_t half = size / 2;
            ASSERT_EQ(crc32c(crc32c(0, p, half), p + half, size - half), whole) << "chained " << start << "+" << size;
        }
    EXPECT_EQ(crc32c_u32(0, 0x04030201u), crc32c(0, "\x01\x02\x03\x04", 4)) << "counts are summed little-endian";
}

// One bit flipped in each kind of data the installer reads from the image.
TEST(ImageVerification, EveryKindOfDamageIsRefused)
{
    struct Case {
        const char* what;
        std::function<void(PackedTestImage&)> damage;
        ImageFault fault;
    } cases[] = {
        {"folder path", [](PackedTestImage& p) { p.manifest.directories[2][9] ^= 0x20; }, ImageDirectoriesDamaged},
        {"entry name", [](PackedTestImage& p) { p.loaded.tables.entries[4].name[2] ^= 1; }, ImageEntriesDamaged},
        {"entry size", [](PackedTestImage& p) { p.loaded.tables.entries[1].size[0] ^= 4; }, ImageEntriesDamaged},
        {"executable mark", [](PackedTestImage& p) { p.loaded.tables.executable[5] ^= 1; }, ImageEntriesDamaged},
        {"build name", [](PackedTestImage& p) { p.manifest.builds[77][3] ^= 1; }, ImageBuildsDamaged},
        {"support address", [](PackedTestImage& p) { p.manifest.support_address[2] ^= 1; }, ImageBuildsDamaged},
        {"code length", [](PackedTestImage& p) { p.packed.blocks[0].code_lengths[97] ^= 1; }, ImageBlockDamaged},
        {"stream", [](PackedTestImage& p) { p.packed.blocks[0].stream[100] ^= 0x10; }, ImageBlockDamaged},
        {"bit count", [](PackedTestImage& p) { p.loaded.tables.bit_counts[0] ^= 1; }, ImageTablesDamaged},
        {"content checksum", [](PackedTestImage& p) { p.loaded.tables.contents[3] ^= 1; }, ImageTablesDamaged},
        {"block checksum", [](PackedTestImage& p) { p.loaded.tables.block_checksums[0] ^= 1; }, ImageTablesDamaged},
        {"entry count", [](PackedTestImage& p) { p.loaded.tables.image.entries.count--; }, ImageLayoutDamaged},
        {"block count", [](PackedTestImage& p) { p.loaded.tables.image.blocks.block_count++; }, ImageLayoutDamaged},
        {"folder count", [](PackedTestImage& p) { p.loaded.tables.image.directories.count = -1; }, ImageLayoutDamaged},
        {"payload length", [](PackedTestImage& p) { p.loaded.tables.image.blocks.payload_length ^= 1; },
         ImageLayoutDamaged},
        {"recorded checksum", [](PackedTestImage& p) { p.loaded.tables.image.checksums.builds ^= 1; },
         ImageLayoutDamaged},
    };
    for (Case& c : cases) {
        PackedTestImage image(small_quorvel_manifest());
        ASSERT_EQ(fault_of(image.loaded.tables.image), ImageOk) << c.what;
        c.damage(image);
        EXPECT_EQ(fault_of(image.loaded.tables.image), c.fault) << c.what;
    }
}

// A packer could only make these with a fault of its own; the checksums
// would match, so the plain checks must catch them.
TEST(ImageVerification, NamesWithoutAnEndAndSizesThatMissThePayloadAreRefused)
{
    PackedTestImage unterminated(small_quorvel_manifest());
    std::memset(unterminated.loaded.tables.entries[0].name, 'x', sizeof(EntryRecord{}.name));
    unterminated.loaded.tables.seal();
    EXPECT_EQ(fault_of(unterminated.loaded.tables.image), ImageEntriesDamaged);

    PackedTestImage long_build(small_quorvel_manifest());
    long_build.manifest.builds[5] = std::string(MaxBuildNameLength + 1, 'b');
    long_build.loaded.tables.builds[5] = long_build.manifest.builds[5].c_str();
    long_build.loaded.tables.seal();
    EXPECT_EQ(fault_of(long_build.loaded.tables.image), ImageBuildsDamaged);

    PackedTestImage sizes(small_quorvel_manifest());
    sizes.loaded.tables.seal();
    sizes.loaded.tables.image.blocks.payload_length++;
    sizes.loaded.tables.image.checksums.layout = image_layout_checksum(sizes.loaded.tables.image);
    EXPECT_EQ(fault_of(sizes.loaded.tables.image), ImageEntriesDamaged);
}

TEST(Extraction, BytesThatDoNotMatchTheirChecksumReplaceNothing)
{
    Manifest manifest = small_quorvel_manifest();
    manifest.files.resize(3);
    PackedTestImage image(manifest);
    // Damage that still decodes: the second file's recorded checksum is off.
    image.loaded.tables.contents[1] ^= 1;
    image.loaded.tables.seal();
    ScratchFolder folder;
    ASSERT_TRUE(make_folders(folder / "dravik"));
    ASSERT_TRUE(write_text(folder / "dravik/SDL.dll", "installed"));
    for (const EntryRecord& entry : image.loaded.tables.entries)
        extract_entry(folder.path.c_str(), &entry);
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_EQ(text_of_file(folder / "dravik/SDL.dll"), "installed");
    std::vector<unsigned char> after;
    ASSERT_TRUE(read_file(folder / "dravik/hesk.wad", after));
    EXPECT_EQ(after, manifest.files[2].bytes) << "the next file is checked on its own";
    EXPECT_EQ(files_below(folder.path), (std::vector<std::string>{"Quorvel (fullscreen).exe", "dravik/SDL.dll",
                                                                  "dravik/hesk.wad"}));
}

TEST(Extraction, AnEntryRecordNotInTheImageCannotBeChecked)
{
    PackedTestImage image(small_quorvel_manifest());
    EntryRecord stray = image.loaded.tables.entries[0];
    ScratchFolder folder;
    extract_entry(folder.path.c_str(), &stray);
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_TRUE(files_below(folder.path).empty());
}

TEST(Extraction, EachFilesBytesAreSummedAcrossBlockBoundaries)
{
    // Files larger than a block, so sums run over two and three blocks.
    Manifest manifest = small_quorvel_manifest();
    manifest.files.resize(2);
    manifest.files[0].bytes = random_bytes(150000, 3);
    manifest.files[1].bytes = random_bytes(120000, 4);
    PackedTestImage image(manifest);
    ASSERT_GE(image.packed.blocks.size(), 3u);
    ScratchFolder folder;
    ASSERT_TRUE(make_folders(folder / "dravik"));
    for (const EntryRecord& entry : image.loaded.tables.entries)
        extract_entry(folder.path.c_str(), &entry);
    EXPECT_EQ(ErrorCount, 0);
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(read_file(folder / "dravik/SDL.dll", bytes));
    EXPECT_TRUE(bytes == manifest.files[1].bytes);
}
