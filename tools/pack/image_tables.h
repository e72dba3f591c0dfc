// A package image held in memory: the arrays the generated source would
// hold, and the image over them, so the payload code can run on a package
// before it is compiled in (the packer's self-check, tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/image.h"

EntryRecord entry_record(const std::string& name, uint32_t size);

struct ImageTables {
    std::vector<const char*> directories;
    std::vector<EntryRecord> entries;
    std::vector<unsigned char> executable;   // per entry, 0 where the filler gave none
    std::vector<uint32_t> contents;       // per entry: the checksum of its bytes
    std::vector<const char*> builds;      // padded with "" to KnownBuildCount
    const char* support_address = "";
    std::vector<const unsigned char*> code_lengths;
    std::vector<const unsigned char*> streams;
    std::vector<uint32_t> bit_counts;
    std::vector<uint32_t> block_checksums;
    PackageImage image{};

    ImageTables() = default;
    ImageTables(const ImageTables&) = delete;

    // Points image at the arrays and records every checksum but the
    // contents', which the filler provides.
    void seal();
};
