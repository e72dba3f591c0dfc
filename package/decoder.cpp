#include "package/decoder.h"

#include <bit>
#include <cstring>

DecoderState Decoder;
unsigned char BlockBuffer[BlockBufferSize];

namespace {

int fail(DecodeFault fault)
{
    Decoder.fault = fault;
    return 0;
}

// The next internal node from the pool, which build_code_tree has proven
// large enough for the whole tree.
DecodeNode* new_internal(DecodeNode* child0, DecodeNode* child1)
{
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
// A last node without a partner gets an absent child1.
void pair_level(DecodeNode* p, uint32_t& s, uint32_t e)
{
    for (; p && p->child[1]; p = p->child[1]->child[1])
        new_internal(p, p->child[1]);
    if (p)
        new_internal(p, s < e ? &Decoder.internals[s++] : nullptr);
    while (s < e) {
        DecodeNode* first = &Decoder.internals[s++];
        new_internal(first, s < e ? &Decoder.internals[s++] : nullptr);
    }
}

enum CodeShape { CodeComplete, CodeIncomplete, CodeOversubscribed };

// The Kraft sum of the code lengths, kept as the number of words still free
// at each length. None free at the end: complete, and no branch of the tree
// is left out. More taken at a length than are free: over-subscribed. Once
// more are free than symbols are left to take them, the code can only end
// incomplete; stopping there keeps the count below 2 * SymbolCount.
CodeShape code_shape(const uint32_t count[SymbolCount])
{
    uint32_t free_words = 1;
    uint32_t left = Decoder.leaf_count;
    for (uint32_t n = 1; left > 0; n++) {
        free_words *= 2;
        if (count[n] > free_words)
            return CodeOversubscribed;
        free_words -= count[n];
        left -= count[n];
        if (free_words > left)
            return CodeIncomplete;
    }
    return CodeComplete;
}

// The pairing makes half of each length's nodes, rounded up: its leaves and
// the nodes made one length longer.
uint32_t internal_nodes_needed(const uint32_t count[SymbolCount], uint32_t longest)
{
    uint32_t made = 0;
    uint32_t total = 0;
    for (uint32_t n = longest; n >= 1; n--) {
        made = (count[n] + made + 1) / 2;
        total += made;
    }
    return total;
}

uint32_t read_bit(uint32_t position)
{
    return (Decoder.stream[position / 8] >> (7 - position % 8)) & 1u;
}

// Walks in lanes. One walk cannot know where a word ends before the word's
// last load, and guessing wrong costs a pipeline's worth of work at every
// word. Lanes start walks at evenly spaced bits of a stretch of the stream
// and step them in turn without a branch: each waits on its own loads while
// the others go on. A lane that started inside a word walks words of its
// own until one of them ends where a true word ends; from there on its
// words are the true ones. With the packer's codes that comes after some
// twenty words on average, walked by the true walk one at a time, so lanes
// are long to make joins few; but nothing makes it come: in a code whose
// words all have one length, a lane that starts inside a word never meets
// the true walk. A lane's words, at most one a bit.
uint16_t LaneSymbols[LaneCount][LaneBits];

// The lanes' copy of a complete code's tree: the leaves at their symbols,
// then the inner nodes at SymbolCount on from their indices in
// Decoder.internals. A lane leaf is also a copy of the root, so that
// stepping on from it begins the next word: a lane's step is one load that
// waits on the last, whatever the word's end. A lane stores the low bits of
// the node's address at every step, which says its symbol once the array's
// start is taken off, without a load of its own; only a leaf's advance
// keeps it.
struct alignas(32) LaneNode {
    const LaneNode* child[2];
    uint64_t advance;   // the bytes a lane's symbols grow by here: a symbol's at a leaf, none at an inner node
};
constexpr uint32_t LaneNodeShift = 5;
static_assert(sizeof(LaneNode) == 1u << LaneNodeShift);
LaneNode LaneNodes[2 * SymbolCount];
static_assert(sizeof LaneNodes <= 1u << 16, "a node's offset must fit the 16 bits a lane stores");

const LaneNode* lane_node(const DecodeNode* node)
{
    return is_leaf(node) ? &LaneNodes[node->symbol] : &LaneNodes[SymbolCount + (node - Decoder.internals)];
}

// Where the true walk stands when a lane stops at `node`: between words
// after a leaf.
const DecodeNode* tree_node(const LaneNode* node)
{
    const uint32_t i = uint32_t(node - LaneNodes);
    return i < SymbolCount ? Decoder.root : &Decoder.internals[i - SymbolCount];
}

void copy_tree_for_lanes()
{
    for (uint32_t i = 0; i < Decoder.internal_count; i++) {
        const DecodeNode& node = Decoder.internals[i];
        LaneNodes[SymbolCount + i] = {{lane_node(node.child[0]), lane_node(node.child[1])}, 0};
    }
    const LaneNode& root = *lane_node(Decoder.root);
    for (uint32_t i = 0; i < Decoder.leaf_count; i++)
        LaneNodes[Decoder.leaves[i].symbol] = {{root.child[0], root.child[1]}, sizeof(uint16_t)};
}

uint16_t stored_address(const LaneNode* node)
{
    return static_cast<uint16_t>(reinterpret_cast<uintptr_t>(node));
}

// What a lane stored, made symbols: a leaf's offset in LaneNodes is its
// symbol's.
void symbols_of_leaves(uint16_t* from, const uint16_t* end)
{
    const uint16_t start = stored_address(LaneNodes);
    for (; from < end; from++)
        *from = static_cast<uint16_t>(static_cast<uint16_t>(*from - start) >> LaneNodeShift);
}

struct Lane {
    uint64_t window;
    const LaneNode* node;   // a leaf when the lane stands between words
    uint16_t* out;          // its next symbol's place
};

// The true walk: where it stands (the root between words) and what it has
// decoded.
struct Walk {
    const DecodeNode* node;
    uint32_t position;
    uint32_t count;
};

// The stream's bits from position on, most significant first: the 8 bytes
// from position / 8 on, so position + 64 must not pass the bit count. The
// bits below the first are lost to the shift, up to 7 of them.
constexpr uint32_t WindowBits = 64 - 7;
static_assert(LaneRefillBits <= WindowBits, "a lane's refill must not take bits its window lost");
uint64_t window_at(uint32_t position)
{
    uint64_t word;
    std::memcpy(&word, Decoder.stream + position / 8, 8);
    return __builtin_bswap64(word) << (position % 8);
}

// Every lane takes lane_bits bits, one a step. Each step stores where the
// node lies and keeps it only at a leaf: no branch depends on where a word
// ends. The lanes are walked in a local copy, and compiled apart from their
// caller: otherwise g++ keeps some of their state in memory, a third more
// work a step.
[[gnu::noinline]] void walk_lanes(Lane* lanes, uint32_t start, uint32_t lane_bits)
{
    for (uint32_t done = 0; done < lane_bits; done += LaneRefillBits) {
        Lane in[LaneCount];
        for (uint32_t l = 0; l < LaneCount; l++)
            in[l] = {window_at(start + l * lane_bits + done), lanes[l].node, lanes[l].out};
        for (uint32_t step = 0; step < LaneRefillBits; step++) {
#pragma GCC unroll 4
            for (uint32_t l = 0; l < LaneCount; l++) {
                Lane& lane = in[l];
                lane.node = lane.node->child[lane.window >> 63];
                lane.window <<= 1;
                *lane.out = stored_address(lane.node);
                lane.out = reinterpret_cast<uint16_t*>(reinterpret_cast<char*>(lane.out) + lane.node->advance);
            }
        }
        for (uint32_t l = 0; l < LaneCount; l++)
            lanes[l] = in[l];
    }
}

int append_symbol(Walk& w, uint32_t symbol)
{
    if (w.count >= MaxBlockSymbols)
        return fail(FaultTooManySymbols);
    Decoder.symbols[w.count++] = static_cast<uint16_t>(symbol);
    return 1;
}

int append_symbols(Walk& w, const uint16_t* from, const uint16_t* end)
{
    const uint32_t n = uint32_t(end - from);
    if (n > MaxBlockSymbols - w.count)
        return fail(FaultTooManySymbols);
    std::memcpy(Decoder.symbols + w.count, from, n * sizeof *from);
    w.count += n;
    return 1;
}

// Steps on from the inner node `node`, a bit at a time, until a leaf or
// until position reaches stop. Returns 1 at a leaf, with node the leaf;
// otherwise node is the inner node where the walk stopped, or null where
// an incomplete code left the branch out.
int step_until(const DecodeNode*& node, uint32_t& position, uint32_t stop)
{
    for (;;) {
        node = node->child[read_bit(position++)];
        if (!node)
            return 0;
        if (is_leaf(node))
            return 1;
        if (position >= stop)
            return 0;
    }
}

// Joins the lane that walked from the root at `start` to the true walk,
// which stands at `start` too, maybe inside a word. The lane's words end
// where their code lengths say; the true walk goes on a word at a time
// until it ends one on such a bit, and takes the lane's later words from
// there. A lane it never meets leaves it to walk the lane's bits itself.
int join_lane(Walk& w, const Lane& lane, const uint16_t* symbols, uint32_t start, uint32_t end)
{
    uint32_t lane_position = start;   // where the lane's word `symbols` begins
    for (;;) {
        while (symbols < lane.out && lane_position < w.position)
            lane_position += Decoder.code_lengths[*symbols++];
        if (lane_position == w.position && w.node == Decoder.root) {
            w.node = tree_node(lane.node);
            w.position = end;
            return append_symbols(w, symbols, lane.out);
        }
        if (w.position >= end)
            return 1;
        const DecodeNode* node = w.node;
        if (!step_until(node, w.position, end)) {
            w.node = node;
            return 1;
        }
        w.node = Decoder.root;
        if (!append_symbol(w, node->symbol))
            return 0;
    }
}

// Each lane's share of a stretch that has `left` bits of the stream from
// its start on: whole refills, as many as the lane's symbols have room for,
// while the last window read (64 bits from the last lane's last refill,
// which ends the stretch LaneRefillBits on) stays inside the stream.
uint32_t lane_share(uint32_t left)
{
    constexpr uint32_t overhang = 64 - LaneRefillBits;
    if (left < overhang)
        return 0;
    const uint32_t refills = (left - overhang) / (LaneCount * LaneRefillBits);
    return refills < LaneBits / LaneRefillBits ? refills * LaneRefillBits : LaneBits;
}

// Stretches in lanes, the first lane going on from where the true walk
// stands, as long as the stream leaves a refill's worth for each lane. Only
// for complete codes: a lane must never meet an absent branch.
int walk_stretches(Walk& w)
{
    if (lane_share(Decoder.bit_count) != 0)
        copy_tree_for_lanes();
    for (;;) {
        const uint32_t lane_bits = lane_share(Decoder.bit_count - w.position);
        if (lane_bits == 0)
            return 1;
        const uint32_t start = w.position;
        Lane lanes[LaneCount];
        for (uint32_t l = 0; l < LaneCount; l++)
            lanes[l] = {0, lane_node(l == 0 ? w.node : Decoder.root), LaneSymbols[l]};
        walk_lanes(lanes, start, lane_bits);
        for (uint32_t l = 0; l < LaneCount; l++)
            symbols_of_leaves(LaneSymbols[l], lanes[l].out);
        w.node = tree_node(lanes[0].node);
        w.position = start + lane_bits;
        if (!append_symbols(w, LaneSymbols[0], lanes[0].out))
            return 0;
        for (uint32_t l = 1; l < LaneCount; l++)
            if (!join_lane(w, lanes[l], LaneSymbols[l], start + l * lane_bits, start + (l + 1) * lane_bits))
                return 0;
    }
}

// Complete codes in stretches first; then, and for any other code, a word
// at a time with every step checked.
int decode_symbols()
{
    Walk w = {Decoder.root, 0, 0};
    if (Decoder.complete && !walk_stretches(w))
        return 0;
    while (w.position < Decoder.bit_count) {
        const DecodeNode* node = w.node;
        if (!step_until(node, w.position, Decoder.bit_count))
            return fail(node ? FaultStreamOverrun : FaultAbsentChild);
        w.node = Decoder.root;
        if (!append_symbol(w, node->symbol))
            return 0;
    }
    Decoder.symbol_count = w.count;
    return 1;
}

// Every symbol is below 512, so its bit 8 alone tells a literal from a
// length symbol.
static_assert(SymbolCount <= 512 && LiteralCount == 256);
constexpr uint64_t LengthSymbolBits = 0x0100010001000100u;

// Four symbols' low bytes.
uint32_t low_bytes(uint64_t four)
{
    four = (four | four >> 8) & 0x0000FFFF0000FFFFu;
    return uint32_t(four | four >> 16);
}

// Writes the low bytes of the next eight symbols and says how many of them
// are literals before the first length symbol: a run of literals costs one
// unpredictable branch however it ends. Bytes past the run are written
// too, and later overwritten; the caller leaves room for all eight.
uint32_t literal_run(const uint16_t* symbols, unsigned char* to)
{
    static_assert(std::endian::native == std::endian::little);
    uint64_t first;
    uint64_t second;
    std::memcpy(&first, symbols, 8);
    std::memcpy(&second, symbols + 4, 8);
    const uint64_t bytes = low_bytes(first) | uint64_t(low_bytes(second)) << 32;
    std::memcpy(to, &bytes, 8);
    const uint32_t in_first = uint32_t(std::countr_zero(first & LengthSymbolBits)) / 16;
    const uint32_t in_second = uint32_t(std::countr_zero(second & LengthSymbolBits)) / 16;
    return in_first < 4 ? in_first : 4 + in_second;
}

// A reference whose source ends at least a chunk before its destination
// begins is copied a chunk at a time, the last chunk running past its end:
// every byte read is already final, and the bytes written past the end lie
// beyond the output so far, for later symbols to overwrite. Most references
// take one chunk, so the copy's one branch is seldom mispredicted.
constexpr uint32_t CopyChunk = 16;
constexpr uint32_t CopyRoom = (LongestReference + CopyChunk - 1) / CopyChunk * CopyChunk;

void copy_in_chunks(unsigned char* to, const unsigned char* from, uint32_t length)
{
    for (uint32_t j = 0; j < length; j += CopyChunk)
        std::memcpy(to + j, from + j, CopyChunk);
}

int expand_symbols(uint32_t& output_length)
{
    // The output length lives in a register here: stores into the buffer
    // could otherwise alias it and force it through memory every byte.
    uint32_t out = 0;
    const uint16_t* symbols = Decoder.symbols;
    const uint32_t count = Decoder.symbol_count;
    int result = 1;
    for (uint32_t i = 0; i < count;) {
        if (count - i >= 8 && BlockBufferSize - out >= 8) {
            const uint32_t run = literal_run(symbols + i, BlockBuffer + out);
            out += run;
            i += run;
            if (run == 8)
                continue;
        } else if (symbols[i] < LiteralCount) {
            if (out >= BlockBufferSize) {
                result = fail(FaultOutputOverflow);
                break;
            }
            BlockBuffer[out++] = static_cast<unsigned char>(symbols[i]);
            i++;
            continue;
        }
        if (count - i < 3) {
            result = fail(FaultMissingDigits);
            break;
        }
        uint32_t length = symbols[i] - LengthSymbolBias;
        uint32_t position = symbols[i + 1] * SymbolCount + symbols[i + 2];
        if (position >= out) {
            result = fail(FaultPositionAhead);
            break;
        }
        if (length > BlockBufferSize - out) {
            result = fail(FaultOutputOverflow);
            break;
        }
        if (out - position >= CopyChunk && BlockBufferSize - out >= CopyRoom)
            copy_in_chunks(BlockBuffer + out, BlockBuffer + position, length);
        else
            copy_back_reference(position, out, length);
        out += length;
        i += 3;
    }
    output_length = out;
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
    const CodeShape shape = code_shape(count);
    if (shape == CodeOversubscribed)
        return fail(FaultOversubscribed);

    uint32_t longest = MaxCodeLength;
    while (count[longest] == 0)
        longest--;
    if (internal_nodes_needed(count, longest) > SymbolCount)
        return fail(FaultTooManyNodes);

    uint32_t s = 0;
    uint32_t e = 0;
    Decoder.internal_count = 0;
    for (uint32_t n = longest; n >= 1; n--) {
        pair_level(bucket[n], s, e);
        e = Decoder.internal_count;
    }
    Decoder.root = &Decoder.internals[Decoder.internal_count - 1];
    // Only a complete code's walk may leave out the checks for absent branches.
    Decoder.complete = shape == CodeComplete;
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

int decode_block(const BlockTables& blocks, uint32_t k, uint32_t& output_length)
{
    Decoder.fault = DecodeOk;
    output_length = 0;
    if (k >= blocks.block_count)
        return fail(FaultNoSuchBlock);
    Decoder.code_lengths = blocks.code_lengths[k];
    Decoder.stream = blocks.streams[k];
    Decoder.bit_count = blocks.bit_counts[k];
    if (!build_code_tree() || !decode_symbols() || !expand_symbols(output_length)) {
        output_length = 0;
        return 0;
    }
    return 1;
}
