#include "package/image.h"

#include "package/checksum.h"

namespace {

// Longest folder path an image may hold: one that fits no path buffer is
// damage, never a reason to read on.
constexpr uint32_t LongestDirectoryPath = 2047;

// Length of a string that must end within limit bytes, or limit + 1 when
// it does not, so that a damaged string is never read past its bound.
uint32_t bounded_length(const char* text, uint32_t limit)
{
    uint32_t n = 0;
    while (n <= limit && text[n] != '\0')
        n++;
    return n;
}

// The checksum input of a bounded string: its bytes with the NUL, or just
// the bytes up to the bound when it has none there.
uint32_t checked_length(const char* text, uint32_t limit)
{
    uint32_t n = bounded_length(text, limit);
    return n <= limit ? n + 1 : n;
}

uint32_t stream_bytes(uint32_t bit_count)
{
    return bit_count / 8 + (bit_count % 8 != 0);
}

}  // namespace

uint32_t entry_size(const EntryRecord* entry)
{
    const unsigned char* b = entry->size;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t image_layout_checksum(const PackageImage& image)
{
    const uint32_t values[] = {uint32_t(image.directories.count), image.entries.count,  image.blocks.block_count,
                               image.blocks.payload_length,       image.checksums.tables, image.checksums.directories,
                               image.checksums.entries,           image.checksums.builds};
    uint32_t crc = 0;
    for (uint32_t value : values)
        crc = crc32c_u32(crc, value);
    return crc;
}

uint32_t image_tables_checksum(const PackageImage& image)
{
    uint32_t crc = 0;
    for (uint32_t k = 0; k < image.blocks.block_count; k++) {
        crc = crc32c_u32(crc, image.blocks.bit_counts[k]);
        crc = crc32c_u32(crc, image.checksums.blocks[k]);
    }
    for (uint32_t i = 0; i < image.entries.count; i++)
        crc = crc32c_u32(crc, image.checksums.contents[i]);
    return crc;
}

uint32_t image_directories_checksum(const PackageImage& image)
{
    uint32_t crc = 0;
    for (int32_t i = 0; i < image.directories.count; i++) {
        const char* path = image.directories.paths[i];
        crc = crc32c(crc, path, checked_length(path, LongestDirectoryPath));
    }
    return crc;
}

uint32_t image_entries_checksum(const PackageImage& image)
{
    uint32_t crc = crc32c(0, image.entries.entries, uint64_t(image.entries.count) * sizeof(EntryRecord));
    return crc32c(crc, image.entries.executable, image.entries.count);
}

uint32_t image_builds_checksum(const PackageImage& image)
{
    // The support address last, as one more name: it is shorter still.
    static_assert(MaxSupportAddressLength <= MaxBuildNameLength);
    uint32_t crc = 0;
    for (uint32_t i = 0; i <= KnownBuildCount; i++) {
        const char* name = i < KnownBuildCount ? image.known_builds[i] : image.support_address;
        crc = crc32c(crc, name, checked_length(name, MaxBuildNameLength));
    }
    return crc;
}

uint32_t image_block_checksum(const PackageImage& image, uint32_t k)
{
    const BlockTables& blocks = image.blocks;
    uint32_t crc = crc32c(0, blocks.code_lengths[k], SymbolCount);
    crc = crc32c_u32(crc, blocks.bit_counts[k]);
    return crc32c(crc, blocks.streams[k], stream_bytes(blocks.bit_counts[k]));
}

namespace {

int refuse(ImageFault* fault, ImageFault why)
{
    *fault = why;
    return 0;
}

// Every name ends inside its record and the sizes add up to the payload.
int entries_consistent(const PackageImage& image)
{
    uint64_t total = 0;
    for (uint32_t i = 0; i < image.entries.count; i++) {
        const EntryRecord& entry = image.entries.entries[i];
        if (bounded_length(entry.name, sizeof entry.name - 1) >= sizeof entry.name)
            return 0;
        total += entry_size(&entry);
    }
    return total == image.blocks.payload_length;
}

int strings_bounded(const char* const* strings, uint32_t count, uint32_t limit)
{
    for (uint32_t i = 0; i < count; i++)
        if (bounded_length(strings[i], limit) > limit)
            return 0;
    return 1;
}

}  // namespace

int verify_image(const PackageImage& image, ImageFault* fault)
{
    *fault = ImageOk;
    const ImageChecksums& sums = image.checksums;
    // The counts first: everything after is read through them.
    if (image_layout_checksum(image) != sums.layout)
        return refuse(fault, ImageLayoutDamaged);
    if (image_tables_checksum(image) != sums.tables)
        return refuse(fault, ImageTablesDamaged);
    uint32_t directory_count = image.directories.count < 0 ? 0 : uint32_t(image.directories.count);
    if (image_directories_checksum(image) != sums.directories ||
        !strings_bounded(image.directories.paths, directory_count, LongestDirectoryPath))
        return refuse(fault, ImageDirectoriesDamaged);
    if (image_entries_checksum(image) != sums.entries || !entries_consistent(image))
        return refuse(fault, ImageEntriesDamaged);
    if (image_builds_checksum(image) != sums.builds ||
        !strings_bounded(image.known_builds, KnownBuildCount, MaxBuildNameLength))
        return refuse(fault, ImageBuildsDamaged);
    for (uint32_t k = 0; k < image.blocks.block_count; k++)
        if (image_block_checksum(image, k) != sums.blocks[k])
            return refuse(fault, ImageBlockDamaged);
    return 1;
}
