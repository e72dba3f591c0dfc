// Deflate writer: hash-chain LZ77 with one step of lazy matching, then the
// symbols in blocks of a fixed count, each block sent as whichever of
// stored, fixed-Huffman or dynamic-Huffman costs the fewest bits.
//
// Everything is integer arithmetic over fixed tables, with ties broken by
// symbol order, so the output is the same on every host and compiler.
#include "tools/common/deflate.h"
#include "tools/common/deflate_codes.h"

#include <algorithm>
#include <array>

namespace {

// Format limits (RFC 1951).
constexpr size_t WindowSize = 32768;
constexpr uint32_t MinMatch = 3;
constexpr uint32_t MaxMatch = 258;
constexpr size_t MaxStoredBytes = 65535;
constexpr int EndOfBlock = 256;
constexpr int FirstLengthSymbol = 257;
constexpr int LiteralLengthSymbols = 286;   // 0-255 bytes, 256 end of block, 257-285 lengths
constexpr int FixedLiteralLengthSymbols = 288;   // the fixed code spends words on 286 and 287
constexpr int DistanceSymbols = 30;
constexpr int CodeLengthSymbols = 19;
constexpr int MaxCodeBits = 15;
constexpr int MaxCodeLengthBits = 7;

// Search effort, about what zlib spends at its best level.
constexpr int HashBits = 15;
constexpr uint32_t MaxChain = 4096;
// A three-byte copy from further back costs about as much as its literals.
constexpr uint32_t TooFarForShortMatch = 4096;
// Short enough for the codes to follow the data, long enough that a dynamic
// block's header is paid rarely.
constexpr size_t BlockSymbols = 16383;

// Copy lengths and distances by code (RFC 1951 3.2.5): each code's smallest
// value and the extra bits that select within its range.
constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                       33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                       1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order a dynamic header lists the code-length code's lengths in.
constexpr uint8_t CodeLengthOrder[CodeLengthSymbols] = {16, 17, 18, 0,  8, 7,  9, 6,  10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};
// Extra bits of the code-length symbols 16 (repeat 3-6), 17 (3-10 zeros), 18 (11-138 zeros).
constexpr uint8_t CodeLengthExtra[CodeLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// ---------------------------------------------------------------- checksums

constexpr std::array<uint32_t, 256> make_crc_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> CrcTable = make_crc_table();

uint32_t adler32(const unsigned char* data, size_t size)
{
    constexpr uint32_t Modulus = 65521;
    // The most bytes whose sums cannot overflow 32 bits before the reduction.
    constexpr size_t Stretch = 5552;
    uint32_t a = 1, b = 0;
    while (size > 0) {
        size_t n = std::min(size, Stretch);
        for (size_t i = 0; i < n; i++) {
            a += data[i];
            b += a;
        }
        a %= Modulus;
        b %= Modulus;
        data += n;
        size -= n;
    }
    return (b << 16) | a;
}

// ---------------------------------------------------------------- matching

constexpr size_t NoPosition = SIZE_MAX;

// One parsed step: a literal byte, or a copy of earlier bytes.
struct Symbol {
    uint16_t length;     // the copy's length, or the literal byte itself
    uint16_t distance;   // how far back the copy starts; 0 for a literal
};

struct Match {
    uint32_t length;     // 0 when no copy is worth taking
    uint32_t distance;
};

// Hash chains over the window: head[h] is the newest position whose first
// three bytes hash to h, previous[p % WindowSize] the one before position p.
struct MatchFinder {
    const unsigned char* data;
    size_t size;
    size_t inserted;                // positions below this are in the chains
    std::vector<size_t> head;
    std::vector<size_t> previous;
};

uint32_t hash3(const unsigned char* p)
{
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - HashBits);
}

void insert_until(MatchFinder& finder, size_t end)
{
    for (; finder.inserted < end && finder.inserted + MinMatch <= finder.size; finder.inserted++) {
        uint32_t h = hash3(finder.data + finder.inserted);
        finder.previous[finder.inserted % WindowSize] = finder.head[h];
        finder.head[h] = finder.inserted;
    }
}

// The longest copy of the bytes at pos from within the window, the nearest
// among equally long ones. Positions are searched in increasing order only:
// an entry of previous is reused once its position has left the window.
Match longest_match(MatchFinder& finder, size_t pos)
{
    insert_until(finder, pos);
    Match best = {0, 0};
    if (pos + MinMatch > finder.size)
        return best;
    const unsigned char* here = finder.data + pos;
    uint32_t limit = uint32_t(std::min<size_t>(MaxMatch, finder.size - pos));
    size_t oldest = pos > WindowSize ? pos - WindowSize : 0;
    size_t candidate = finder.head[hash3(here)];
    for (uint32_t tries = 0; candidate != NoPosition && candidate >= oldest && tries < MaxChain; tries++) {
        const unsigned char* there = finder.data + candidate;
        // Only a candidate that also matches the byte after the best length can beat it.
        if (there[best.length] == here[best.length]) {
            uint32_t n = 0;
            while (n < limit && there[n] == here[n])
                n++;
            if (n > best.length) {
                best = {n, uint32_t(pos - candidate)};
                if (n == limit)
                    break;
            }
        }
        candidate = finder.previous[candidate % WindowSize];
    }
    if (best.length < MinMatch || (best.length == MinMatch && best.distance > TooFarForShortMatch))
        return {0, 0};
    return best;
}

// Greedy parse with one step of lookahead: a copy is put off by a literal
// when the next byte starts a longer one.
std::vector<Symbol> parse(const unsigned char* data, size_t size)
{
    MatchFinder finder = {data, size, 0, std::vector<size_t>(size_t(1) << HashBits, NoPosition),
                          std::vector<size_t>(WindowSize, NoPosition)};
    std::vector<Symbol> symbols;
    size_t pos = 0;
    Match current = longest_match(finder, 0);
    while (pos < size) {
        if (current.length > 0 && current.length < MaxMatch) {
            Match next = longest_match(finder, pos + 1);
            if (next.length > current.length) {
                symbols.push_back({data[pos], 0});
                pos++;
                current = next;
                continue;
            }
        }
        if (current.length == 0) {
            symbols.push_back({data[pos], 0});
            pos++;
        } else {
            symbols.push_back({uint16_t(current.length), uint16_t(current.distance)});
            pos += current.length;
        }
        current = longest_match(finder, pos);
    }
    return symbols;
}

int length_index(uint32_t length)
{
    return int(std::upper_bound(LengthBase, LengthBase + 29, length) - LengthBase) - 1;
}

int distance_index(uint32_t distance)
{
    return int(std::upper_bound(DistanceBase, DistanceBase + 30, distance) - DistanceBase) - 1;
}

// ---------------------------------------------------------------- prefix codes

// A prefix code as deflate sends it: bit lengths (0 for unused symbols) and
// code words already reversed, since deflate sends them first bit first.
struct PrefixCode {
    int count;
    uint8_t lengths[FixedLiteralLengthSymbols];
    uint16_t words[FixedLiteralLengthSymbols];
};

struct MergeItem {
    uint64_t weight;
    int symbol;          // -1 for a package of the two items below
    int left, right;     // indices into the item pool
};

void add_depth(const std::vector<MergeItem>& pool, int item, uint8_t* lengths)
{
    if (pool[size_t(item)].symbol >= 0) {
        lengths[pool[size_t(item)].symbol]++;
        return;
    }
    add_depth(pool, pool[size_t(item)].left, lengths);
    add_depth(pool, pool[size_t(item)].right, lengths);
}

}  // namespace

void limited_code_lengths(const uint32_t* frequency, int count, int max_bits, uint8_t* lengths)
{
    std::vector<uint64_t> weight(frequency, frequency + count);
    int used = int(std::count_if(weight.begin(), weight.end(), [](uint64_t w) { return w > 0; }));
    for (int s = 0; used < 2 && s < count; s++)
        if (weight[size_t(s)] == 0) {
            weight[size_t(s)] = 1;
            used++;
        }
    std::vector<MergeItem> pool;
    std::vector<int> leaves;
    for (int s = 0; s < count; s++)
        if (weight[size_t(s)] > 0) {
            pool.push_back({weight[size_t(s)], s, -1, -1});
            leaves.push_back(int(pool.size()) - 1);
        }
    auto lighter = [&pool](int a, int b) { return pool[size_t(a)].weight < pool[size_t(b)].weight; };
    std::stable_sort(leaves.begin(), leaves.end(), lighter);
    // Each level pairs the items of the one below into packages and merges
    // them with the leaves; a symbol's length is the number of the top list's
    // first 2n - 2 items that hold it.
    std::vector<int> list = leaves;
    for (int level = 1; level < max_bits; level++) {
        std::vector<int> packages;
        for (size_t i = 0; i + 1 < list.size(); i += 2) {
            pool.push_back({pool[size_t(list[i])].weight + pool[size_t(list[i + 1])].weight, -1, list[i], list[i + 1]});
            packages.push_back(int(pool.size()) - 1);
        }
        list.clear();
        std::merge(leaves.begin(), leaves.end(), packages.begin(), packages.end(), std::back_inserter(list), lighter);
    }
    std::fill(lengths, lengths + count, uint8_t(0));
    for (size_t i = 0; i < 2 * leaves.size() - 2; i++)
        add_depth(pool, list[i], lengths);
}

namespace {

uint16_t reverse_bits(uint32_t word, int bits)
{
    uint32_t r = 0;
    for (int i = 0; i < bits; i++, word >>= 1)
        r = (r << 1) | (word & 1);
    return uint16_t(r);
}

// Canonical words (RFC 1951 3.2.2): by length, then by symbol.
void assign_words(PrefixCode& code)
{
    uint32_t per_length[MaxCodeBits + 1] = {};
    for (int s = 0; s < code.count; s++)
        per_length[code.lengths[s]]++;
    per_length[0] = 0;
    uint32_t next[MaxCodeBits + 1] = {};
    for (int bits = 1, word = 0; bits <= MaxCodeBits; bits++) {
        word = (word + int(per_length[bits - 1])) << 1;
        next[bits] = uint32_t(word);
    }
    for (int s = 0; s < code.count; s++)
        code.words[s] = code.lengths[s] ? reverse_bits(next[code.lengths[s]]++, code.lengths[s]) : 0;
}

PrefixCode code_for(const uint32_t* frequency, int count, int max_bits)
{
    PrefixCode code;
    code.count = count;
    limited_code_lengths(frequency, count, max_bits, code.lengths);
    assign_words(code);
    return code;
}

PrefixCode fixed_literal_code()
{
    PrefixCode code;
    code.count = FixedLiteralLengthSymbols;
    for (int s = 0; s < FixedLiteralLengthSymbols; s++)
        code.lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    assign_words(code);
    return code;
}

PrefixCode fixed_distance_code()
{
    PrefixCode code;
    code.count = DistanceSymbols;
    std::fill(code.lengths, code.lengths + DistanceSymbols, uint8_t(5));
    assign_words(code);
    return code;
}

// ---------------------------------------------------------------- blocks

struct BitWriter {
    std::vector<unsigned char>* out;
    uint64_t pending;      // bits not yet a whole byte, the first one lowest
    int pending_count;
};

void put_bits(BitWriter& writer, uint32_t value, int count)
{
    writer.pending |= uint64_t(value) << writer.pending_count;
    writer.pending_count += count;
    for (; writer.pending_count >= 8; writer.pending_count -= 8, writer.pending >>= 8)
        writer.out->push_back((unsigned char)(writer.pending & 0xFF));
}

void align_to_byte(BitWriter& writer)
{
    if (writer.pending_count > 0)
        put_bits(writer, 0, 8 - writer.pending_count);
}

// A run of symbols coded together, and the input bytes they stand for.
struct Block {
    const Symbol* symbols;
    size_t count;
    const unsigned char* bytes;
    size_t size;
    bool last;
};

struct Frequencies {
    uint32_t literals[LiteralLengthSymbols];
    uint32_t distances[DistanceSymbols];
};

Frequencies count_symbols(const Block& block)
{
    Frequencies f = {};
    for (size_t i = 0; i < block.count; i++) {
        const Symbol& s = block.symbols[i];
        if (s.distance == 0) {
            f.literals[s.length]++;
        } else {
            f.literals[FirstLengthSymbol + length_index(s.length)]++;
            f.distances[distance_index(s.distance)]++;
        }
    }
    f.literals[EndOfBlock] = 1;
    return f;
}

uint64_t symbol_bits(const Frequencies& f, const PrefixCode& literals, const PrefixCode& distances)
{
    uint64_t bits = 0;
    for (int s = 0; s < LiteralLengthSymbols; s++) {
        uint32_t extra = s >= FirstLengthSymbol ? LengthExtra[s - FirstLengthSymbol] : 0;
        bits += uint64_t(f.literals[s]) * (literals.lengths[s] + extra);
    }
    for (int d = 0; d < DistanceSymbols; d++)
        bits += uint64_t(f.distances[d]) * (distances.lengths[d] + DistanceExtra[d]);
    return bits;
}

// A dynamic block's header: the two codes' lengths, run-length coded with
// the code-length alphabet, and that alphabet's own code.
struct DynamicHeader {
    int literal_count;       // HLIT + 257
    int distance_count;      // HDIST + 1
    int code_length_count;   // HCLEN + 4
    std::vector<uint8_t> runs;     // code-length symbols, 0-18
    std::vector<uint8_t> extras;   // the extra-bit value of each of them
    PrefixCode code_lengths;
};

void add_run(DynamicHeader& header, uint8_t symbol, uint8_t extra)
{
    header.runs.push_back(symbol);
    header.extras.push_back(extra);
}

// Runs may cross from the literal lengths into the distance lengths (RFC 1951 3.2.7).
void run_length_code(DynamicHeader& header, const uint8_t* lengths, size_t count)
{
    for (size_t i = 0; i < count;) {
        uint8_t v = lengths[i];
        size_t run = 1;
        while (i + run < count && lengths[i + run] == v)
            run++;
        i += run;
        if (v != 0) {
            add_run(header, v, 0);
            run--;
        }
        while (run >= 3) {
            size_t take = std::min<size_t>(run, v == 0 ? 138 : 6);
            if (v != 0)
                add_run(header, 16, uint8_t(take - 3));
            else if (take >= 11)
                add_run(header, 18, uint8_t(take - 11));
            else
                add_run(header, 17, uint8_t(take - 3));
            run -= take;
        }
        for (; run > 0; run--)
            add_run(header, v, 0);
    }
}

DynamicHeader dynamic_header(const PrefixCode& literals, const PrefixCode& distances)
{
    DynamicHeader header;
    header.literal_count = LiteralLengthSymbols;
    while (header.literal_count > FirstLengthSymbol && literals.lengths[header.literal_count - 1] == 0)
        header.literal_count--;
    header.distance_count = DistanceSymbols;
    while (header.distance_count > 1 && distances.lengths[header.distance_count - 1] == 0)
        header.distance_count--;
    std::vector<uint8_t> all(literals.lengths, literals.lengths + header.literal_count);
    all.insert(all.end(), distances.lengths, distances.lengths + header.distance_count);
    run_length_code(header, all.data(), all.size());
    uint32_t frequency[CodeLengthSymbols] = {};
    for (uint8_t r : header.runs)
        frequency[r]++;
    header.code_lengths = code_for(frequency, CodeLengthSymbols, MaxCodeLengthBits);
    header.code_length_count = CodeLengthSymbols;
    while (header.code_length_count > 4 &&
           header.code_lengths.lengths[CodeLengthOrder[header.code_length_count - 1]] == 0)
        header.code_length_count--;
    return header;
}

uint64_t header_bits(const DynamicHeader& header)
{
    uint64_t bits = 5 + 5 + 4 + 3 * uint64_t(header.code_length_count);
    for (uint8_t r : header.runs)
        bits += header.code_lengths.lengths[r] + CodeLengthExtra[r];
    return bits;
}

void write_header(BitWriter& writer, const DynamicHeader& header)
{
    put_bits(writer, uint32_t(header.literal_count - FirstLengthSymbol), 5);
    put_bits(writer, uint32_t(header.distance_count - 1), 5);
    put_bits(writer, uint32_t(header.code_length_count - 4), 4);
    for (int i = 0; i < header.code_length_count; i++)
        put_bits(writer, header.code_lengths.lengths[CodeLengthOrder[i]], 3);
    for (size_t i = 0; i < header.runs.size(); i++) {
        uint8_t r = header.runs[i];
        put_bits(writer, header.code_lengths.words[r], header.code_lengths.lengths[r]);
        put_bits(writer, header.extras[i], CodeLengthExtra[r]);
    }
}

void write_symbols(BitWriter& writer, const Block& block, const PrefixCode& literals, const PrefixCode& distances)
{
    for (size_t i = 0; i < block.count; i++) {
        const Symbol& s = block.symbols[i];
        if (s.distance == 0) {
            put_bits(writer, literals.words[s.length], literals.lengths[s.length]);
            continue;
        }
        int l = length_index(s.length), d = distance_index(s.distance);
        put_bits(writer, literals.words[FirstLengthSymbol + l], literals.lengths[FirstLengthSymbol + l]);
        put_bits(writer, s.length - LengthBase[l], LengthExtra[l]);
        put_bits(writer, distances.words[d], distances.lengths[d]);
        put_bits(writer, s.distance - DistanceBase[d], DistanceExtra[d]);
    }
    put_bits(writer, literals.words[EndOfBlock], literals.lengths[EndOfBlock]);
}

// Stored blocks hold at most MaxStoredBytes each; only the first one pays
// for the writer's current bit position.
uint64_t stored_bits(const BitWriter& writer, const Block& block)
{
    size_t pieces = std::max<size_t>(1, (block.size + MaxStoredBytes - 1) / MaxStoredBytes);
    uint64_t first_padding = (8 - (writer.pending_count + 3) % 8) % 8;
    return first_padding + (pieces - 1) * 5 + pieces * (3 + 32) + 8 * uint64_t(block.size);
}

void write_stored(BitWriter& writer, const Block& block)
{
    size_t at = 0;
    do {
        size_t n = std::min(MaxStoredBytes, block.size - at);
        put_bits(writer, block.last && at + n == block.size ? 1 : 0, 1);
        put_bits(writer, 0, 2);
        align_to_byte(writer);
        put_bits(writer, uint32_t(n), 16);
        put_bits(writer, uint32_t(~n & 0xFFFF), 16);
        writer.out->insert(writer.out->end(), block.bytes + at, block.bytes + at + n);
        at += n;
    } while (at < block.size);
}

void write_block(BitWriter& writer, const Block& block)
{
    static const PrefixCode fixed_literals = fixed_literal_code();
    static const PrefixCode fixed_distances = fixed_distance_code();
    Frequencies f = count_symbols(block);
    PrefixCode literals = code_for(f.literals, LiteralLengthSymbols, MaxCodeBits);
    PrefixCode distances = code_for(f.distances, DistanceSymbols, MaxCodeBits);
    DynamicHeader header = dynamic_header(literals, distances);
    uint64_t dynamic = header_bits(header) + symbol_bits(f, literals, distances);
    uint64_t fixed = symbol_bits(f, fixed_literals, fixed_distances);
    uint64_t stored = stored_bits(writer, block);
    if (stored < 3 + std::min(dynamic, fixed)) {
        write_stored(writer, block);
        return;
    }
    put_bits(writer, block.last ? 1 : 0, 1);
    if (fixed <= dynamic) {
        put_bits(writer, 1, 2);
        write_symbols(writer, block, fixed_literals, fixed_distances);
    } else {
        put_bits(writer, 2, 2);
        write_header(writer, header);
        write_symbols(writer, block, literals, distances);
    }
}

size_t bytes_of(const Symbol* symbols, size_t count)
{
    size_t n = 0;
    for (size_t i = 0; i < count; i++)
        n += symbols[i].distance == 0 ? 1 : symbols[i].length;
    return n;
}

}  // namespace

uint32_t crc32_ieee(uint32_t crc, const unsigned char* data, size_t size)
{
    crc = ~crc;
    for (size_t i = 0; i < size; i++)
        crc = CrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<unsigned char> zlib_compress(const unsigned char* data, size_t size)
{
    // 32 KiB window, deflate, "maximum compression"; 0x78DA is a multiple of 31.
    std::vector<unsigned char> out = {0x78, 0xDA};
    BitWriter writer = {&out, 0, 0};
    std::vector<Symbol> symbols = parse(data, size);
    size_t first = 0, byte = 0;
    do {
        size_t count = std::min(BlockSymbols, symbols.size() - first);
        Block block = {symbols.data() + first, count, data + byte, bytes_of(symbols.data() + first, count),
                       first + count == symbols.size()};
        write_block(writer, block);
        first += count;
        byte += block.size;
    } while (first < symbols.size());
    align_to_byte(writer);
    uint32_t check = adler32(data, size);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back((unsigned char)(check >> shift));
    return out;
}
