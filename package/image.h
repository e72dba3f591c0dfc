// The package image: everything the installer knows about what it installs,
// compiled into the program as static tables by the packer.
#pragma once

#include <cstdint>

// Block coding constants. A block's alphabet is 320 symbols; a back
// reference names an absolute position with two base-320 digits, so one
// block can address 320 * 320 bytes.
constexpr uint32_t SymbolCount = 320;
constexpr uint32_t LiteralCount = 256;            // symbols 0-255 are bytes
constexpr uint32_t LengthSymbolBias = 252;        // length = symbol - 252
constexpr uint32_t ShortestReference = LiteralCount - LengthSymbolBias;
constexpr uint32_t LongestReference = SymbolCount - 1 - LengthSymbolBias;
constexpr uint32_t BlockBufferSize = SymbolCount * SymbolCount;
constexpr uint32_t MaxBlockSymbols = BlockBufferSize;
constexpr uint32_t MaxCodeLength = 255;           // a code length is one byte
constexpr uint32_t KnownBuildCount = 128;         // fixed by the version gate
constexpr uint32_t PathBufferSize = 2048;
static_assert(ShortestReference == 4 && LongestReference == 67);
static_assert(BlockBufferSize == 102400);

// One file of the payload. Exactly 128 bytes, the size little-endian so the
// generated tables mean the same on every host.
struct EntryRecord {
    char name[124];          // NUL-terminated, "/" separated, relative to the top folder
    unsigned char size[4];   // byte count, little-endian
};
static_assert(sizeof(EntryRecord) == 128);

uint32_t entry_size(const EntryRecord* entry);

// Folders a fresh install creates below the chosen folder; parents first.
struct DirectoryList {
    int32_t count;
    const char* const* paths;   // each begins with "\\Quorvel\\"
};

struct EntryTable {
    uint32_t count;
    const EntryRecord* entries; // in payload order
};

// The compressed payload, one entry of each array per block.
struct BlockTables {
    uint32_t block_count;                 // guards the stream against overruns
    uint32_t payload_length;              // informational
    const unsigned char* const* code_lengths;  // SymbolCount bytes each
    const unsigned char* const* streams;       // (bit count + 7) / 8 bytes each
    const uint32_t* bit_counts;
};

struct PackageImage {
    DirectoryList directories;
    EntryTable entries;
    const char* const* known_builds;      // KnownBuildCount names
    BlockTables blocks;
};

// The image the program carries. The generated package data defines it; a
// program that builds images of its own (the packer) points it at those.
extern const PackageImage* Package;
