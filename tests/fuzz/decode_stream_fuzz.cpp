// libFuzzer: decode_block with a complete code and any stream, compared with
// a plain reference decode written here from the code's rules alone: code
// words by length, the highest symbol of a length first, literals and
// references to absolute positions. The stream is cut at a word boundary,
// so every input reaches the expansion of its symbols.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/decoder.h"
#include "package/stream.h"
#include "tools/pack/encoder.h"
#include "tests/fuzz/one_block.h"

const PackageImage* Package = nullptr;

namespace {

struct Reference {
    std::vector<uint16_t> symbols;
    std::vector<unsigned char> bytes;
    DecodeFault fault = DecodeOk;
};

// The canonical code: at each length the words are consecutive, starting at
// twice the previous length's end; within a length the highest symbol takes
// the smallest word.
struct Canonical {
    uint64_t first[MaxCodeLength + 2] = {};
    uint32_t count[MaxCodeLength + 2] = {};
    std::vector<uint16_t> by_length[MaxCodeLength + 2];   // descending symbols
    uint32_t longest = 0;
};

Canonical canonical(const unsigned char* lengths)
{
    Canonical c;
    for (int s = SymbolCount - 1; s >= 0; s--)
        if (lengths[s]) {
            c.by_length[lengths[s]].push_back(uint16_t(s));
            c.count[lengths[s]]++;
            c.longest = std::max<uint32_t>(c.longest, lengths[s]);
        }
    uint64_t code = 0;
    for (uint32_t n = 1; n <= c.longest; n++) {
        c.first[n] = code;
        code = (code + c.count[n]) << 1;
    }
    return c;
}

int bit_at(const std::vector<unsigned char>& stream, uint32_t i)
{
    return (stream[i / 8] >> (7 - i % 8)) & 1;
}

// Decodes whole words from bit 0; returns the end of the last whole word.
uint32_t decode_words(const Canonical& c, const std::vector<unsigned char>& stream, uint32_t bits,
                      std::vector<uint16_t>& symbols)
{
    uint32_t end = 0;
    for (uint32_t at = 0; at < bits;) {
        uint64_t code = 0;
        uint32_t n = 0;
        bool found = false;
        while (at < bits && !found) {
            code = code << 1 | uint64_t(bit_at(stream, at++));
            n++;
            if (code - c.first[n] < c.count[n]) {
                symbols.push_back(c.by_length[n][code - c.first[n]]);
                found = true;
            }
        }
        if (!found)
            break;
        end = at;
    }
    return end;
}

Reference expand(const std::vector<uint16_t>& symbols)
{
    Reference r;
    auto refuse = [&r](DecodeFault fault) {
        r.fault = fault;
        return r;
    };
    if (symbols.size() > MaxBlockSymbols)
        return refuse(FaultTooManySymbols);
    for (size_t i = 0; i < symbols.size();) {
        uint32_t s = symbols[i];
        if (s < LiteralCount) {
            if (r.bytes.size() >= BlockBufferSize)
                return refuse(FaultOutputOverflow);
            r.bytes.push_back(uint8_t(s));
            i++;
            continue;
        }
        if (symbols.size() - i < 3)
            return refuse(FaultMissingDigits);
        uint32_t length = s - LengthSymbolBias;
        uint32_t position = uint32_t(symbols[i + 1]) * SymbolCount + symbols[i + 2];
        if (position >= r.bytes.size())
            return refuse(FaultPositionAhead);
        if (length > BlockBufferSize - r.bytes.size())
            return refuse(FaultOutputOverflow);
        for (uint32_t j = 0; j < length; j++)
            r.bytes.push_back(r.bytes[position + j]);
        i += 3;
    }
    return r;
}

}  // namespace

// Input: a byte that says how many symbols the code has, a frequency byte
// for each of them, then the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    uint32_t used = 2 + data[0] % (SymbolCount - 1);
    uint64_t frequency[SymbolCount] = {};
    size_t at = 1;
    // Symbols spread over the alphabet, length symbols included.
    for (uint32_t i = 0; i < used && i < SymbolCount; i++)
        frequency[(i * 97 + 13) % SymbolCount] = 1 + (at < size ? data[at++] : 0);
    static unsigned char lengths[SymbolCount];
    huffman_code_lengths(frequency, lengths);
    std::vector<unsigned char> stream(data + at, data + size);

    Canonical code = canonical(lengths);
    std::vector<uint16_t> symbols;
    uint32_t bits = decode_words(code, stream, uint32_t(stream.size() * 8), symbols);
    Reference expected = expand(symbols);

    int decoded = decode_one_block(lengths, stream, bits);
    if (!Decoder.complete || decoded != (expected.fault == DecodeOk) || Decoder.fault != expected.fault)
        std::abort();
    if (decoded && (Stream.output_length != expected.bytes.size() ||
                    !std::equal(expected.bytes.begin(), expected.bytes.end(), BlockBuffer)))
        std::abort();
    return 0;
}
