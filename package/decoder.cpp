#include "package/decoder.h"

#include "package/stream.h"

DecoderState Decoder;
unsigned char BlockBuffer[BlockBufferSize];

namespace {

int fail(DecodeFault fault)
{
    Decoder.fault = fault;
    return 0;
}

DecodeNode* new_internal(DecodeNode* child0, DecodeNode* child1)
{
    DecodeNode* node = &Decoder.internals[Decoder.internal_count++];
    node->child0 = child0;
    node->child1 = child1;
    return node;
}

// One leaf per coded symbol, bucketed by code length. Ascending symbols each
// pushed to the front leave every bucket highest symbol first, which is what
// gives the highest symbol of a length the smallest code word.
void fill_buckets(uint32_t count[SymbolCount], DecodeNode* bucket[SymbolCount])
{
    for (uint32_t n = 0; n < SymbolCount; n++) {
        count[n] = 0;
        bucket[n] = nullptr;
    }
    Decoder.leaf_count = 0;
    for (uint32_t symbol = 0; symbol < SymbolCount; symbol++) {
        uint32_t n = Decoder.code_lengths[symbol];
        if (n == 0)
            continue;
        DecodeNode* leaf = &Decoder.leaves[Decoder.leaf_count++];
        leaf->child0 = nullptr;
        leaf->child1 = bucket[n];
        bucket[n] = leaf;
        leaf->symbol = symbol;
        count[n]++;
    }
}

// Nodes a level of the pairing makes: half its leaves plus the previous
// level's nodes, rounded up.
uint32_t level_node_count(uint32_t leaves, uint32_t previous_level)
{
    return (leaves + previous_level + 1) / 2;
}

// Pairs the leaves of one code length, highest symbol first, then the nodes
// made at the next longer length (internals s..e), two at a time.
void pair_level(DecodeNode* p, uint32_t& s, uint32_t e)
{
    while (p && p->child1) {
        new_internal(p, p->child1);
        p = p->child1->child1;
    }
    if (p) {
        DecodeNode* partner = s < e ? &Decoder.internals[s++] : nullptr;
        new_internal(p, partner);
    }
    while (s < e) {
        DecodeNode* first = &Decoder.internals[s++];
        DecodeNode* second = s < e ? &Decoder.internals[s++] : nullptr;
        new_internal(first, second);
    }
}

uint32_t read_bit(uint32_t position)
{
    return (Decoder.stream[position / 8] >> (7 - position % 8)) & 1u;
}

// The child a bit leads to. Chosen without a branch: the bits of a code
// word are as good as random, and a mispredicted branch a bit would cost
// more than the whole step.
const DecodeNode* child(const DecodeNode* node, uint32_t bit)
{
    uintptr_t zero = reinterpret_cast<uintptr_t>(node->child0);
    uintptr_t one = reinterpret_cast<uintptr_t>(node->child1);
    return reinterpret_cast<const DecodeNode*>(zero ^ ((zero ^ one) & (uintptr_t(0) - bit)));
}

// Walks the tree from the root, one bit a step, to the next symbol.
int decode_symbol(uint32_t& position, uint32_t& symbol)
{
    const DecodeNode* node = Decoder.root;
    while (!is_leaf(node)) {
        if (position >= Decoder.bit_count)
            return fail(FaultStreamOverrun);
        node = child(node, read_bit(position++));
        if (!node)
            return fail(FaultAbsentChild);
    }
    symbol = node->symbol;
    return 1;
}

int decode_symbols()
{
    uint32_t position = 0;
    Decoder.symbol_count = 0;
    while (position < Decoder.bit_count) {
        uint32_t symbol = 0;
        if (!decode_symbol(position, symbol))
            return 0;
        if (Decoder.symbol_count >= MaxBlockSymbols)
            return fail(FaultTooManySymbols);
        Decoder.symbols[Decoder.symbol_count++] = static_cast<uint16_t>(symbol);
    }
    return 1;
}

int expand_symbols()
{
    uint32_t& out = Stream.output_length;
    const uint16_t* symbols = Decoder.symbols;
    uint32_t i = 0;
    while (i < Decoder.symbol_count) {
        uint32_t symbol = symbols[i];
        if (symbol < LiteralCount) {
            if (out >= BlockBufferSize)
                return fail(FaultOutputOverflow);
            BlockBuffer[out++] = static_cast<unsigned char>(symbol);
            i++;
            continue;
        }
        if (Decoder.symbol_count - i < 3)
            return fail(FaultMissingDigits);
        uint32_t length = symbol - LengthSymbolBias;
        uint32_t position = symbols[i + 1] * SymbolCount + symbols[i + 2];
        if (position >= out)
            return fail(FaultPositionAhead);
        if (length > BlockBufferSize - out)
            return fail(FaultOutputOverflow);
        copy_back_reference(position, out, length);
        out += length;
        i += 3;
    }
    return 1;
}

}  // namespace

int is_leaf(const DecodeNode* node)
{
    return node->child0 == nullptr;
}

int build_code_tree()
{
    uint32_t count[SymbolCount];
    DecodeNode* bucket[SymbolCount];
    fill_buckets(count, bucket);
    if (Decoder.leaf_count == 0)
        return fail(FaultNoCode);

    uint32_t longest = SymbolCount - 1;
    while (count[longest] == 0)
        longest--;

    // Check the pool before pairing: incomplete codes may need more
    // internal nodes than a complete code of the same symbols.
    uint32_t needed = 0;
    uint32_t level = 0;
    for (uint32_t n = longest; n >= 1; n--) {
        level = level_node_count(count[n], level);
        needed += level;
    }
    if (needed > SymbolCount)
        return fail(FaultTooManyNodes);

    uint32_t s = 0;
    uint32_t e = 0;
    Decoder.internal_count = 0;
    for (uint32_t n = longest; n >= 1; n--) {
        pair_level(bucket[n], s, e);
        e = Decoder.internal_count;
    }
    Decoder.root = &Decoder.internals[Decoder.internal_count - 1];
    return 1;
}

void copy_back_reference(uint32_t source, uint32_t destination, uint32_t length)
{
    for (uint32_t j = 0; j < length; j++)
        BlockBuffer[destination + j] = BlockBuffer[source + j];
}

int decode_block(uint32_t k)
{
    Decoder.fault = DecodeOk;
    Stream.output_length = 0;
    const BlockTables& blocks = Package->blocks;
    if (k >= blocks.block_count)
        return fail(FaultNoSuchBlock);
    Decoder.code_lengths = blocks.code_lengths[k];
    Decoder.stream = blocks.streams[k];
    Decoder.bit_count = blocks.bit_counts[k];
    if (!build_code_tree() || !decode_symbols() || !expand_symbols()) {
        Stream.output_length = 0;
        return 0;
    }
    return 1;
}
