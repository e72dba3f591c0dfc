#include "tools/pack/image_tables.h"

#include <cstring>

EntryRecord entry_record(const std::string& name, uint32_t size)
{
    EntryRecord entry{};
    std::memcpy(entry.name, name.c_str(), std::min(name.size(), sizeof entry.name - 1));
    for (int i = 0; i < 4; i++)
        entry.size[i] = static_cast<unsigned char>(size >> (8 * i));
    return entry;
}

void ImageTables::seal()
{
    builds.resize(KnownBuildCount, "");
    contents.resize(entries.size(), 0);
    executable.resize(entries.size(), 0);
    block_checksums.assign(code_lengths.size(), 0);
    uint64_t payload = 0;
    for (const EntryRecord& entry : entries)
        payload += entry_size(&entry);
    image.directories = {int32_t(directories.size()), directories.data()};
    image.entries = {uint32_t(entries.size()), entries.data(), executable.data()};
    image.known_builds = builds.data();
    image.support_address = support_address;
    image.blocks = {uint32_t(code_lengths.size()), uint32_t(payload), code_lengths.data(), streams.data(),
                    bit_counts.data()};
    ImageChecksums& sums = image.checksums;
    sums.blocks = block_checksums.data();
    sums.contents = contents.data();
    for (uint32_t k = 0; k < block_checksums.size(); k++)
        block_checksums[k] = image_block_checksum(image, k);
    sums.directories = image_directories_checksum(image);
    sums.entries = image_entries_checksum(image);
    sums.builds = image_builds_checksum(image);
    sums.tables = image_tables_checksum(image);
    sums.layout = image_layout_checksum(image);
}
