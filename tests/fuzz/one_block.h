// What both decoder targets do with their input: make it the one block of
// an image and decode it.
#pragma once

#include <vector>

#include "package/decoder.h"
#include "package/stream.h"
#include "tools/pack/installed_image.h"

inline int decode_one_block(const unsigned char* lengths, const std::vector<unsigned char>& stream, uint32_t bits)
{
    InstalledTables tables;
    tables.code_lengths.push_back(lengths);
    tables.streams.push_back(stream.data());
    tables.bit_counts.push_back(bits);
    tables.install();
    return decode_block(Package->blocks, 0, Stream.output_length);
}
