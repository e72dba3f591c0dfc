// What both decoder targets do with their input: make it the one block of
// an image and decode it.
#pragma once

#include <vector>

#include "package/decoder.h"
#include "tools/pack/image_tables.h"

inline int decode_one_block(const unsigned char* lengths, const std::vector<unsigned char>& stream, uint32_t bits)
{
    ImageTables tables;
    tables.code_lengths.push_back(lengths);
    tables.streams.push_back(stream.data());
    tables.bit_counts.push_back(bits);
    tables.install();
    return decode_block(0);
}
