// From a manifest to the package image files, checked by decoding it again.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/pack/encoder.h"
#include "tools/pack/image_files.h"
#include "tools/pack/image_tables.h"
#include "tools/pack/manifest.h"

struct PackedPayload {
    std::vector<unsigned char> payload;   // every file's bytes, in order
    std::vector<EncodedBlock> blocks;
};

// What the image keeps of every block once the blocks themselves are out.
struct PackedTables {
    uint64_t payload_length = 0;
    std::vector<uint32_t> bit_counts;
    std::vector<uint32_t> block_checksums;
    std::vector<uint32_t> contents;   // per file: the checksum of its bytes
    uint64_t compressed = 0;          // code length tables plus streams
    bool unreadable = false;          // a file could not be read as listed
    bool too_large = false;           // the blocks would not fit the limit
};

// The most an executable can carry of a package's blocks. Windows maps no
// image of 2 GiB or more, and an x86-64 program's data must lie within
// 2 GiB of its code on either platform; the rest is left for the program.
constexpr uint64_t MaxImageBytes = (uint64_t(2) << 30) - (uint64_t(64) << 20);

// What a package's blocks will come to, judged before packing from a sample.
struct ImageEstimate {
    uint32_t sampled = 0;    // blocks packed; 0 when the payload is too small to judge
    uint64_t bytes = 0;      // code tables and streams, the sample's sizes scaled to every block
    uint64_t margin = 0;     // four standard errors of bytes
    bool exceeds = false;    // over the limit even less the margin
};
// Enough that a package of mixed files is judged within a few percent, few
// enough to take a second or two.
constexpr uint32_t ImageSampleBlocks = 256;

// Packs one block from each of samples equal stretches of the payload, so a
// package that cannot fit limit is refused in seconds rather than after
// minutes of packing. A payload of under a quarter of limit, or of too few
// blocks for a sample to save time, is not judged, nor is one with fewer
// than two samples: the packing finds out.
// Returns 0 with a message when a file cannot be read as listed.
int estimate_image(const Manifest& manifest, const EncoderOptions& options, uint64_t limit, uint32_t samples,
                   ImageEstimate& estimate, std::string& error);

// Takes each block in order once it has decoded back to its bytes; returns
// 0 to stop the packing.
using BlockSink = std::function<int(uint32_t k, const EncodedBlock& block)>;
// Told after each block how many payload bytes and whole files are done.
using PackProgress = std::function<void(uint64_t bytes, size_t files)>;

// Cuts the payload into blocks of PackerBlockSize and encodes them on as
// many threads as it may run on, reading the files as their blocks come
// up and handing each block to sink as soon as it and all before it are
// done, so that only a few blocks are ever held. Every block is decoded
// with the installer's stream and compared with its bytes first. Returns 0
// with a message when a file cannot be read as listed, a block does not
// decode back, the blocks so far exceed image_limit bytes, or sink refuses.
int pack_blocks(const Manifest& manifest, const EncoderOptions& options, uint64_t image_limit, const BlockSink& sink,
                const PackProgress& progress, PackedTables& tables, std::string& error);

// The same, held in memory.
PackedPayload pack_payload(const Manifest& manifest, const EncoderOptions& options = DefaultEncoderOptions);

// Code length tables plus bit streams, as the image stores them.
size_t compressed_size(const PackedPayload& packed);

// Decodes packed with the installer's own decoder and compares every entry's
// bytes with the manifest's. Returns 0 with a message on any difference.
int verify_payload(const Manifest& manifest, const PackedPayload& packed, std::string& error);

// Writes the rest of the image files for a manifest whose blocks went to
// writer as they were packed: the lists, the tables and every checksum.
int finish_image_files(ImageWriter& writer, const Manifest& manifest, const PackedTables& tables, std::string& error);

// "14 files, 4092096 bytes, 40 blocks, 1234567 compressed"
std::string summary_line(const Manifest& manifest, const PackedPayload& packed);
std::string summary_line(const Manifest& manifest, const PackedTables& tables);
