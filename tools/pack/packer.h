// From a manifest to generated package source, checked by decoding it again.
#pragma once

#include <string>
#include <vector>

#include "tools/pack/encoder.h"
#include "tools/pack/image_tables.h"
#include "tools/pack/manifest.h"

struct PackedPayload {
    std::vector<unsigned char> payload;   // every file's bytes, in order
    std::vector<EncodedBlock> blocks;
};

// Cuts the payload into blocks of PackerBlockSize and encodes them, on as
// many threads as the machine has.
PackedPayload pack_payload(const Manifest& manifest, const EncoderOptions& options = DefaultEncoderOptions);

// A package image over a manifest and its packed payload, built in memory
// so the installer's own code can run on it. Package points at it while it
// lives, and the payload stream starts afresh.
struct LoadedImage {
    ImageTables tables;
    LoadedImage(const Manifest& manifest, const PackedPayload& packed);
};

// Code length tables plus bit streams, as the image stores them.
size_t compressed_size(const PackedPayload& packed);

// Decodes packed with the installer's own decoder and compares every entry's
// bytes with the manifest's. Returns 0 with a message on any difference.
int verify_payload(const Manifest& manifest, const PackedPayload& packed, std::string& error);

// The C++ source that defines the image and points Package at it.
std::string generated_source(const Manifest& manifest, const PackedPayload& packed, const std::string& origin);

// "14 files, 4092096 bytes, 40 blocks, 1234567 compressed"
std::string summary_line(const Manifest& manifest, const PackedPayload& packed);
