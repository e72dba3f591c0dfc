// Block encoder: bytes into one block of the image's code (literals and
// back references to absolute positions, under a canonical prefix code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "package/image.h"

constexpr uint32_t PackerBlockSize = BlockBufferSize - 1;

struct EncodedBlock {
    unsigned char code_lengths[SymbolCount];
    std::vector<unsigned char> stream;
    uint32_t bit_count;
};

struct EncoderOptions {
    uint32_t passes;       // optimal parses after the greedy one; more is smaller and slower
    uint32_t max_chain;    // match candidates looked at per position
    // A candidate this long is taken whole: the parse goes on at its end
    // without trying the positions inside it. 0 for never.
    uint32_t take_whole_from = 0;
};

// The packer's named levels, fastest first.
struct EncoderLevel {
    const char* name;
    EncoderOptions options;
};
constexpr EncoderLevel EncoderLevels[] = {
    {"fast", {1, 2, LongestReference}}, {"default", {1, 32, LongestReference}}, {"best", {4, 96}}};
constexpr EncoderOptions FastEncoderOptions = EncoderLevels[0].options;
constexpr EncoderOptions DefaultEncoderOptions = EncoderLevels[1].options;

// A worker's buffers, sized by its first block and reused for every later
// one: fresh ones per block cost a tenth of the time in page faults.
struct EncoderScratch;
struct EncoderScratchDeleter {
    void operator()(EncoderScratch* scratch) const;
};
using EncoderScratchPointer = std::unique_ptr<EncoderScratch, EncoderScratchDeleter>;
EncoderScratchPointer make_encoder_scratch();

// Encodes size bytes (1 to BlockBufferSize) as one block.
EncodedBlock encode_block(const unsigned char* data, size_t size, const EncoderOptions& options,
                          EncoderScratch& scratch);
EncodedBlock encode_block(const unsigned char* data, size_t size,
                          const EncoderOptions& options = DefaultEncoderOptions);

// Code lengths for the given symbol frequencies, a complete code whenever two
// or more symbols occur; a lone symbol gets length 1. Every length fits a byte.
void huffman_code_lengths(const uint64_t frequency[SymbolCount], unsigned char lengths[SymbolCount]);

// Code words by the decoder's rule: within a length, the highest symbol gets
// the smallest code word. Returns 0 when the lengths over-subscribe the code.
int canonical_codes(const unsigned char lengths[SymbolCount], uint32_t codes[SymbolCount]);
