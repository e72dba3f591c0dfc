// Block decoder: one block of the image into the BlockBuffer.
#pragma once

#include <cstdint>

#include "package/image.h"

// A node of a block's code tree. child[0] is reached by a 0 bit and
// child[1] by a 1 bit; a leaf has no child[0], and its child[1] links the
// next leaf of the same code length while the tree is being built. Kept as
// a pair so that a bit picks the child by indexing, the cheapest step there
// is.
struct DecodeNode {
    uint32_t symbol;          // leaves only
    DecodeNode* child[2];     // child0, child1
};

// Why a block could not be decoded. The packer never makes such blocks; the
// checks exist so that a damaged image fails instead of touching memory
// outside the decoder's buffers.
enum DecodeFault : uint32_t {
    DecodeOk = 0,
    FaultNoSuchBlock,      // block index beyond the image's block count
    FaultNoCode,           // no symbol has a code length
    FaultOversubscribed,   // the code lengths ask for more words than a prefix code has
    FaultTooManyNodes,     // the tree would need more than SymbolCount internal nodes
    FaultAbsentChild,      // the walk met a branch an incomplete code leaves out
    FaultStreamOverrun,    // the last code word runs past the bit count
    FaultTooManySymbols,   // more than MaxBlockSymbols symbols
    FaultMissingDigits,    // a length symbol among the block's last two symbols
    FaultPositionAhead,    // a reference starts at or beyond the output so far
    FaultOutputOverflow,   // the output would exceed the BlockBuffer
};

// A complete code's stream is walked in stretches, each shared by LaneCount
// lanes of at most LaneBits bits; its last few hundred bits, a word at a
// time.
constexpr uint32_t LaneCount = 4;
constexpr uint32_t LaneRefillBits = 56;   // a lane's window, refilled whole
constexpr uint32_t LaneBits = LaneRefillBits * 256;
constexpr uint32_t StretchBits = LaneCount * LaneBits;

// Process-wide decoder state, reused for every block.
struct DecoderState {
    DecodeNode leaves[SymbolCount];
    uint32_t leaf_count;
    DecodeNode internals[SymbolCount];
    uint32_t internal_count;
    DecodeNode* root;                     // the last internal node made
    int complete;                         // the Kraft sum is 1: no branch is left out
    const unsigned char* code_lengths;    // current block's tables
    const unsigned char* stream;
    uint32_t bit_count;
    uint16_t symbols[MaxBlockSymbols];    // the SymbolBuffer
    uint32_t symbol_count;
    DecodeFault fault;                    // why the last block failed
};

extern DecoderState Decoder;
extern unsigned char BlockBuffer[BlockBufferSize];

// Decodes block k of blocks into BlockBuffer and sets output_length to the
// bytes it holds there. Returns 1, or 0 with Decoder.fault set and an output
// length of 0 when the block is malformed.
int decode_block(const BlockTables& blocks, uint32_t k, uint32_t& output_length);

// Builds the current block's code tree. Returns 0 (with Decoder.fault),
// before any node is made, when no symbol is coded, the code is
// over-subscribed or the tree would not fit the pool.
int build_code_tree();

inline int is_leaf(const DecodeNode* node)
{
    return node->child[0] == nullptr;
}

// Byte-wise copy inside BlockBuffer; an overlapping source repeats itself.
void copy_back_reference(uint32_t source, uint32_t destination, uint32_t length);
