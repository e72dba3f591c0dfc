#include "package/decoder.h"

#include <bit>
#include <cstring>

#include "package/stream.h"

DecoderState Decoder;
unsigned char BlockBuffer[BlockBufferSize];

namespace {

int fail(DecodeFault fault)
{
    Decoder.fault = fault;
    return 0;
}

// The next internal node from the pool, or null once the pool is used up.
DecodeNode* new_internal(DecodeNode* child0, DecodeNode* child1)
{
    if (Decoder.internal_count >= SymbolCount)
        return nullptr;
    DecodeNode* node = &Decoder.internals[Decoder.internal_count++];
    node->child[0] = child0;
    node->child[1] = child1;
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
        leaf->child[0] = nullptr;
        leaf->child[1] = bucket[n];
        bucket[n] = leaf;
        leaf->symbol = symbol;
        count[n]++;
    }
}

// Pairs one code length's nodes two at a time: its leaves, highest symbol
// first, then the nodes made at the next longer length (internals s..e).
// A last node without a partner gets an absent child1. Returns 0 when the
// pool runs out, which only an incomplete code can make happen.
int pair_level(DecodeNode* p, uint32_t& s, uint32_t e)
{
    for (; p && p->child[1]; p = p->child[1]->child[1])
        if (!new_internal(p, p->child[1]))
            return 0;
    if (p) {
        DecodeNode* partner = s < e ? &Decoder.internals[s++] : nullptr;
        if (!new_internal(p, partner))
            return 0;
    }
    while (s < e) {
        DecodeNode* first = &Decoder.internals[s++];
        DecodeNode* second = s < e ? &Decoder.internals[s++] : nullptr;
        if (!new_internal(first, second))
            return 0;
    }
    return 1;
}

// A length's nodes are made by pairing one sequence in order: its leaves,
// then the nodes made at the next longer length (from `deeper`). So node
// i's child by bit b, when internal, is node 2i + b + deeper - leaves -
// 2 * start, and as an address 2a + a constant of the depth and the bit.
// The walk computes that in one step instead of waiting for a load.
void record_successors(uint32_t n, uint32_t start, uint32_t deeper, uint32_t leaves)
{
    if (n > FastWordLimit)
        return;
    const int64_t shift = int64_t(deeper) - leaves - 2 * int64_t(start);
    const uintptr_t base = reinterpret_cast<uintptr_t>(Decoder.internals);
    for (uint32_t bit = 0; bit < 2; bit++)
        Decoder.successor[2 * (n - 1) + bit] =
            uintptr_t((shift + bit) * int64_t(sizeof(DecodeNode))) - base;
}

// A complete code leaves no branch out, so its walk needs no check for one.
int tree_is_complete()
{
    for (uint32_t i = 0; i < Decoder.internal_count; i++)
        if (!Decoder.internals[i].child[1])
            return 0;
    return 1;
}

// The stream's next bits, most significant first, in a 64-bit window. Bits
// past the stream's last byte read as 0; whether a code word ran into them
// is judged by the bit count alone.
struct BitReader {
    uint64_t window;            // the next `available` bits, left-aligned
    uint32_t available;
    const unsigned char* next;  // the first byte not yet in the window
    const unsigned char* end;
};

// Tops the window up to at least 56 bits.
void refill(BitReader& r)
{
    if (r.end - r.next >= 8) {
        uint64_t word;
        std::memcpy(&word, r.next, 8);
        r.window |= __builtin_bswap64(word) >> r.available;
        r.next += (63 - r.available) >> 3;
        r.available |= 56;
        return;
    }
    for (; r.available <= 56; r.available += 8)
        r.window |= uint64_t(r.next < r.end ? *r.next++ : 0) << (56 - r.available);
}

// The walk a code word at a time: a refill, then one bit a step down the
// tree. Only for complete codes whose words fit a refilled window, so the
// steps need neither an absent-child check nor a window check.
int decode_complete_code()
{
    BitReader r = {0, 0, Decoder.stream, Decoder.stream + (Decoder.bit_count + 7) / 8};
    refill(r);
    uint32_t position = 0;
    uint32_t count = 0;
    const DecodeNode* root = Decoder.root;
    const uint32_t longest = Decoder.longest;
    while (position < Decoder.bit_count) {
        // Most words find enough bits left from the last refill, and then
        // the walk need not wait for one.
        if (r.available < longest)
            refill(r);
        // `at` is the node the walk stands on, found by arithmetic, so the
        // next step need not wait for a load; `node` is the child loaded
        // from it, which says whether to stop and, at a leaf, the symbol.
        const DecodeNode* node = root;
        uintptr_t at = reinterpret_cast<uintptr_t>(root);
        const uintptr_t* successor = Decoder.successor;
        uint64_t bits = r.window;
#pragma GCC unroll 8
        while (!is_leaf(node)) {
            const uint64_t bit = bits >> 63;
            bits <<= 1;
            node = reinterpret_cast<const DecodeNode*>(at)->child[bit];
            at = 2 * at + successor[bit];
            successor += 2;
        }
        const uint32_t steps = uint32_t(successor - Decoder.successor) / 2;
        r.window = bits;
        r.available -= steps;
        position += steps;
        if (count >= MaxBlockSymbols)
            return fail(FaultTooManySymbols);
        Decoder.symbols[count++] = static_cast<uint16_t>(node->symbol);
    }
    // Only the last word can run past the end: the loop stops after it, and
    // the bits it read past the stream were zeros of the window.
    if (position > Decoder.bit_count)
        return fail(FaultStreamOverrun);
    Decoder.symbol_count = count;
    return 1;
}

uint32_t read_bit(uint32_t position)
{
    return (Decoder.stream[position / 8] >> (7 - position % 8)) & 1u;
}

// Any code: a bit at a time, checking every step. Codes with absent
// branches or words longer than the window come this way.
int decode_any_code()
{
    uint32_t position = 0;
    Decoder.symbol_count = 0;
    while (position < Decoder.bit_count) {
        const DecodeNode* node = Decoder.root;
        while (!is_leaf(node)) {
            if (position >= Decoder.bit_count)
                return fail(FaultStreamOverrun);
            node = node->child[read_bit(position++)];
            if (!node)
                return fail(FaultAbsentChild);
        }
        if (Decoder.symbol_count >= MaxBlockSymbols)
            return fail(FaultTooManySymbols);
        Decoder.symbols[Decoder.symbol_count++] = static_cast<uint16_t>(node->symbol);
    }
    return 1;
}

int decode_symbols()
{
    if (Decoder.complete && Decoder.longest <= FastWordLimit)
        return decode_complete_code();
    return decode_any_code();
}

// Literals go out four at a time where four come in a row: four symbols
// below 256 have zero high bytes, and their low bytes are the output.
int four_literals(const uint16_t* symbols, unsigned char* to)
{
    static_assert(std::endian::native == std::endian::little);
    uint64_t four;
    std::memcpy(&four, symbols, 8);
    if (four & 0xFF00FF00FF00FF00u)
        return 0;
    four = (four | four >> 8) & 0x0000FFFF0000FFFFu;
    const uint32_t bytes = uint32_t(four | four >> 16);
    std::memcpy(to, &bytes, 4);
    return 1;
}

int expand_symbols()
{
    // The output length lives in a register here: stores into the buffer
    // could otherwise alias it and force it through memory every byte.
    uint32_t out = 0;
    const uint16_t* symbols = Decoder.symbols;
    const uint32_t count = Decoder.symbol_count;
    int result = 1;
    for (uint32_t i = 0; i < count;) {
        if (count - i >= 4 && BlockBufferSize - out >= 4 && four_literals(symbols + i, BlockBuffer + out)) {
            out += 4;
            i += 4;
            continue;
        }
        uint32_t symbol = symbols[i];
        if (symbol < LiteralCount) {
            if (out >= BlockBufferSize) {
                result = fail(FaultOutputOverflow);
                break;
            }
            BlockBuffer[out++] = static_cast<unsigned char>(symbol);
            i++;
            continue;
        }
        if (count - i < 3) {
            result = fail(FaultMissingDigits);
            break;
        }
        uint32_t length = symbol - LengthSymbolBias;
        uint32_t position = symbols[i + 1] * SymbolCount + symbols[i + 2];
        if (position >= out) {
            result = fail(FaultPositionAhead);
            break;
        }
        if (length > BlockBufferSize - out) {
            result = fail(FaultOutputOverflow);
            break;
        }
        copy_back_reference(position, out, length);
        out += length;
        i += 3;
    }
    Stream.output_length = out;
    return result;
}

}  // namespace

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
    Decoder.longest = longest;

    uint32_t s = 0;
    uint32_t e = 0;
    Decoder.internal_count = 0;
    for (uint32_t n = longest; n >= 1; n--) {
        const uint32_t deeper = s;
        const uint32_t start = Decoder.internal_count;
        if (!pair_level(bucket[n], s, e))
            return fail(FaultTooManyNodes);
        record_successors(n, start, deeper, count[n]);
        e = Decoder.internal_count;
    }
    Decoder.root = &Decoder.internals[Decoder.internal_count - 1];
    Decoder.complete = tree_is_complete();
    return 1;
}

void copy_back_reference(uint32_t source, uint32_t destination, uint32_t length)
{
    unsigned char* to = BlockBuffer + destination;
    const unsigned char* from = BlockBuffer + source;
    const uint32_t distance = destination - source;
    // A word read from at least its own size behind reads only bytes
    // written before it, as the byte-wise copy does. The last word ends
    // where the reference ends, overlapping the one before it, so nothing
    // past the reference is written and no byte-wise tail is left.
    if (length >= 4 && length <= 8 && distance >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + length - 4, from + length - 4, 4);
        return;
    }
    if (length > 8 && distance >= 8) {
        for (uint32_t j = 0; j + 8 < length; j += 8)
            std::memcpy(to + j, from + j, 8);
        std::memcpy(to + length - 8, from + length - 8, 8);
        return;
    }
    for (uint32_t j = 0; j < length; j++)
        to[j] = from[j];
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
