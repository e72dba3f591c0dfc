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
// The version gate keeps at most 125 bytes of a name it reads from disk, so
// a longer known name could never match.
constexpr uint32_t MaxBuildNameLength = 125;
// The failed message names the studio's support address; the packer keeps
// it to printable ASCII, which every code page shows alike.
constexpr uint32_t MaxSupportAddressLength = 100;
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
    const EntryRecord* entries;          // in payload order
    const unsigned char* executable;     // per entry: 1 for a program the game runs, else 0
};

// The compressed payload, one entry of each array per block.
struct BlockTables {
    uint32_t block_count;                 // guards the stream against overruns
    uint32_t payload_length;              // the sum of the entry sizes
    const unsigned char* const* code_lengths;  // SymbolCount bytes each
    const unsigned char* const* streams;       // (bit count + 7) / 8 bytes each
    const uint32_t* bit_counts;
};

// CRC-32C values the packer records so that a damaged image is refused
// before anything is written. Each covers what its image_*_checksum
// function below reads; together they cover every byte the installer
// reads from the image.
struct ImageChecksums {
    uint32_t layout;              // the counts and the four checksums after it
    uint32_t tables;              // bit counts, block and content checksums
    uint32_t directories;         // the folder paths
    uint32_t entries;             // the entry records and their executable marks
    uint32_t builds;              // the known-build names and the support address
    const uint32_t* blocks;       // per block: its code lengths, bit count and stream
    const uint32_t* contents;     // per entry: the bytes it decodes to
};

struct PackageImage {
    DirectoryList directories;
    EntryTable entries;
    const char* const* known_builds;      // KnownBuildCount names
    BlockTables blocks;
    ImageChecksums checksums;
    const char* support_address;          // shown in the failed message
};

// The image the program carries. The generated package data defines it; a
// program that builds images of its own (the packer) points it at those.
extern const PackageImage* Package;

// What the checksums cover, computed from the image as it stands. The
// packer records these values; verify_image recomputes them. The parts read
// through counts are computed only after the counts were found intact.
uint32_t image_layout_checksum(const PackageImage& image);
uint32_t image_tables_checksum(const PackageImage& image);
uint32_t image_directories_checksum(const PackageImage& image);
uint32_t image_entries_checksum(const PackageImage& image);
uint32_t image_builds_checksum(const PackageImage& image);
uint32_t image_block_checksum(const PackageImage& image, uint32_t k);

// Why an image was refused; the first fault verify_image met.
enum ImageFault : uint32_t {
    ImageOk = 0,
    ImageLayoutDamaged,       // a count or a recorded checksum changed
    ImageTablesDamaged,       // a bit count or a block or content checksum changed
    ImageDirectoriesDamaged,  // a folder path changed or does not fit a path
    ImageEntriesDamaged,      // an entry name or size changed, or the sizes miss the payload length
    ImageBuildsDamaged,       // a build name or the support address changed, or a build name is too long
    ImageBlockDamaged,        // a block's code lengths, bit count or stream changed
};

// Recomputes every checksum of the image from its bytes, without decoding
// anything. Returns 1 when all match, else 0 with the fault in *fault.
int verify_image(const PackageImage& image, ImageFault* fault);
