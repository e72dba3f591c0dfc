// The block decoder: the code it builds, the references it expands, and the
// damaged blocks it must refuse without touching memory it does not own.
#include <gtest/gtest.h>

#include <cstring>

#include "package/decoder.h"
#include "package/stream.h"
#include "tests/test_support.h"

namespace {

// Decodes block 0 of a one-block image.
int decode_only(const HandBlock& block)
{
    TestImage image;
    image.blocks.push_back(block);
    image.install();
    return decode_block(Package->blocks, 0, Stream.output_length);
}

std::vector<unsigned char> output()
{
    return std::vector<unsigned char>(BlockBuffer, BlockBuffer + Stream.output_length);
}

std::vector<uint16_t> reference(uint32_t length, uint32_t position)
{
    return {uint16_t(length + LengthSymbolBias), uint16_t(position / SymbolCount), uint16_t(position % SymbolCount)};
}

std::vector<uint16_t> operator+(std::vector<uint16_t> a, const std::vector<uint16_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Follows a '0'/'1' word from the root; the symbol of the leaf it ends on,
// or -1 when it ends elsewhere or falls off the tree.
int walk(const std::string& word)
{
    const DecodeNode* node = Decoder.root;
    for (char bit : word) {
        if (!node || is_leaf(node))
            return -1;
        node = bit == '1' ? node->child[1] : node->child[0];
    }
    return node && is_leaf(node) ? int(node->symbol) : -1;
}

// Symbols that decode to size copies of 'z': one literal, then references
// that repeat it.
std::vector<uint16_t> filled(uint32_t size)
{
    std::vector<uint16_t> symbols = {'z'};
    for (uint32_t left = size - 1; left > 0;) {
        uint32_t n = left >= LongestReference + ShortestReference ? LongestReference : left;
        symbols = symbols + reference(n, 0);
        left -= n;
    }
    return symbols;
}

// The worked example: 7 has length 1, 3 length 2, 1 and 2 length 3.
const std::vector<std::pair<uint32_t, uint32_t>> Example = {{7, 1}, {3, 2}, {1, 3}, {2, 3}};

// Symbols 0 to count - 1, each with the longest code length a byte allows.
std::vector<std::pair<uint32_t, uint32_t>> longest_words(uint32_t count)
{
    std::vector<std::pair<uint32_t, uint32_t>> lengths;
    for (uint32_t s = 0; s < count; s++)
        lengths.push_back({s, MaxCodeLength});
    return lengths;
}

}  // namespace

TEST(CodeTree, WorkedExampleGivesTheDocumentedWordsAndShape)
{
    HandBlock block = hand_block(Example, "0 10 110 111");
    std::vector<std::string> words = code_words(block.code_lengths);
    EXPECT_EQ(words[7], "0");
    EXPECT_EQ(words[3], "10");
    EXPECT_EQ(words[2], "110");   // the higher symbol of a length gets the smaller word
    EXPECT_EQ(words[1], "111");

    ASSERT_EQ(decode_only(block), 1);
    EXPECT_EQ(output(), (std::vector<unsigned char>{7, 3, 2, 1}));
    EXPECT_EQ(Decoder.leaf_count, 4u);
    EXPECT_EQ(Decoder.internal_count, 3u);
    const DecodeNode* a = &Decoder.internals[0];
    const DecodeNode* b = &Decoder.internals[1];
    EXPECT_EQ(a->child[0]->symbol, 2u);
    EXPECT_EQ(a->child[1]->symbol, 1u);
    EXPECT_EQ(b->child[0]->symbol, 3u);   // the odd leaf pairs with the node from the longer length
    EXPECT_EQ(b->child[1], a);
    EXPECT_EQ(Decoder.root, &Decoder.internals[2]);
    EXPECT_EQ(Decoder.root->child[0]->symbol, 7u);
    EXPECT_EQ(Decoder.root->child[1], b);
}

TEST(CodeTree, PackerAndDecoderAgreeOnEveryWordOfRandomCodes)
{
    for (uint32_t seed = 1; seed <= 200; seed++) {
        std::vector<unsigned char> noise = random_bytes(SymbolCount * 2, seed);
        uint64_t frequency[SymbolCount] = {};
        uint32_t used = 2 + seed % (SymbolCount - 2);
        for (uint32_t i = 0; i < used; i++)
            frequency[(i * 7 + seed) % SymbolCount] = 1 + (uint64_t(noise[2 * i]) << (noise[2 * i + 1] % 12));
        unsigned char lengths[SymbolCount];
        huffman_code_lengths(frequency, lengths);
        std::vector<unsigned char> table(lengths, lengths + SymbolCount);
        TestImage image;
        image.blocks.push_back(hand_block({{0, 1}}, "0"));
        image.blocks[0].code_lengths = table;
        image.install();
        Decoder.code_lengths = table.data();
        ASSERT_EQ(build_code_tree(), 1);
        EXPECT_EQ(Decoder.internal_count, Decoder.leaf_count - 1) << "a complete code has n - 1 inner nodes";
        EXPECT_TRUE(Decoder.complete) << "seed " << seed;
        std::vector<std::string> words = code_words(table);
        for (uint32_t s = 0; s < SymbolCount; s++) {
            if (table[s]) {
                ASSERT_EQ(walk(words[s]), int(s)) << "seed " << seed << " symbol " << s;
            }
        }
    }
}

// A complete code over some of the bytes (about one in `sparsity` left
// out), from frequencies spread over 2^spread, so that its words take many
// lengths.
std::vector<unsigned char> random_literal_code(uint32_t seed, uint32_t sparsity, uint32_t spread)
{
    std::vector<unsigned char> noise = random_bytes(LiteralCount * 2, seed);
    uint64_t frequency[SymbolCount] = {};
    for (uint32_t s = 0; s < LiteralCount; s++)
        frequency[s] = noise[2 * s] % sparsity == 0 ? 0 : 1 + (uint64_t(noise[2 * s]) << (noise[2 * s + 1] % spread));
    frequency[0] = frequency[1] = 1;
    unsigned char lengths[SymbolCount];
    huffman_code_lengths(frequency, lengths);
    return std::vector<unsigned char>(lengths, lengths + SymbolCount);
}

// Every coded byte of a code, in an order that mixes short and long words.
std::vector<uint16_t> every_literal(const std::vector<unsigned char>& lengths, uint32_t seed)
{
    std::vector<uint16_t> symbols;
    for (uint32_t s = 0; s < LiteralCount; s++)
        if (lengths[s])
            symbols.push_back(uint16_t(s));
    std::vector<unsigned char> noise = random_bytes(symbols.size(), seed);
    for (size_t i = symbols.size(); i-- > 1;)
        std::swap(symbols[i], symbols[noise[i] % (i + 1)]);
    return symbols;
}

TEST(CodeTree, DecodingFindsEveryWordOfCompleteCodesAtEveryDepth)
{
    // Leaves and inner nodes side by side at every depth.
    for (uint32_t seed = 1; seed <= 100; seed++) {
        std::vector<unsigned char> table = random_literal_code(seed, 4, 16);
        std::vector<uint16_t> symbols = every_literal(table, seed);
        ASSERT_EQ(decode_only(coded_block(table, symbols)), 1) << "seed " << seed << " fault " << Decoder.fault;
        EXPECT_EQ(output(), std::vector<unsigned char>(symbols.begin(), symbols.end())) << "seed " << seed;
    }
    // Chains, whose deepest words are longer than a lane's window and, at
    // 255 bits, than the gap a stretch leaves before the stream's end:
    // symbol s < n - 1 is s ones and a zero; n - 1 and n share the last depth.
    for (uint32_t n : {3u, 56u, 57u, 200u, 255u}) {
        std::vector<std::pair<uint32_t, uint32_t>> lengths;
        std::vector<std::string> words(n + 1);
        for (uint32_t s = 0; s <= n; s++) {
            uint32_t depth = s + 1 < n ? s + 1 : n;
            lengths.push_back({s, depth});
            words[s] = std::string(depth - 1, '1') + (s == n - 1 ? '1' : '0');
        }
        std::vector<unsigned char> expected;
        std::string bits;
        for (uint32_t round = 0; round < 2 + 2 * StretchBits / (n * n); round++)
            for (uint32_t s = 0; s <= n; s++) {
                uint32_t symbol = (s * 5 + round) % (n + 1);
                bits += words[symbol];
                expected.push_back(static_cast<unsigned char>(symbol));
            }
        ASSERT_EQ(decode_only(hand_block(lengths, bits)), 1) << "longest " << n;
        EXPECT_EQ(output(), expected) << "longest " << n;
    }
}

// Symbols drawn from a code's literals, as many as fill `bits` bits or a
// little more, the short words more often than the long ones.
std::vector<uint16_t> literals_filling(const std::vector<unsigned char>& lengths, uint64_t bits, uint32_t seed)
{
    std::vector<uint16_t> coded;
    for (uint32_t s = 0; s < LiteralCount; s++)
        for (uint32_t copies = lengths[s] && lengths[s] < 12 ? 12 - lengths[s] : lengths[s] ? 1 : 0; copies; copies--)
            coded.push_back(uint16_t(s));
    std::vector<uint16_t> symbols;
    std::vector<unsigned char> noise = random_bytes(2 * bits, seed);
    for (uint64_t taken = 0, i = 0; taken < bits; i += 2) {
        uint16_t s = coded[(noise[i] << 8 | noise[i + 1]) % coded.size()];
        symbols.push_back(s);
        taken += lengths[s];
    }
    return symbols;
}

std::vector<uint16_t> decoded_symbols()
{
    return std::vector<uint16_t>(Decoder.symbols, Decoder.symbols + Decoder.symbol_count);
}

TEST(LongStreams, RandomCodesDecodeAlikeAcrossStretchesAndTheirJoins)
{
    // Lanes start inside words and must fall into step with the true walk;
    // stretch ends and the walk of the rest fall anywhere in a word.
    for (uint32_t seed = 1; seed <= 24; seed++) {
        std::vector<unsigned char> table = random_literal_code(seed + 500, 3, 20);
        uint64_t bits = (1 + seed % 4) * StretchBits + 64 + seed * 1237 % StretchBits;
        std::vector<uint16_t> symbols = literals_filling(table, bits, seed);
        ASSERT_EQ(decode_only(coded_block(table, symbols)), 1) << "seed " << seed << " fault " << Decoder.fault;
        ASSERT_EQ(decoded_symbols(), symbols) << "seed " << seed;
        EXPECT_EQ(output(), std::vector<unsigned char>(symbols.begin(), symbols.end())) << "seed " << seed;
    }
}

TEST(LongStreams, CodesWhoseLanesNeverFallIntoStep)
{
    // All words of one length: a lane that starts inside a word stays inside
    // words to its end, and the true walk must then walk the lane's bits
    // itself. One bit a word fills a lane's symbols to the last place.
    for (uint32_t length : {1u, 3u, 4u, 5u, 7u}) {
        std::vector<std::pair<uint32_t, uint32_t>> code;
        for (uint32_t s = 0; s < (1u << length); s++)
            code.push_back({s, length});
        HandBlock block = hand_block(code, "");
        std::vector<uint16_t> symbols = literals_filling(block.code_lengths, StretchBits * 3 / 2 + 64 + 11 * length, length);
        ASSERT_EQ(decode_only(coded_block(block.code_lengths, symbols)), 1) << "length " << length;
        EXPECT_EQ(decoded_symbols(), symbols) << "length " << length;
    }
}

TEST(LongStreams, FaultsOfLongStreams)
{
    std::vector<unsigned char> code = all_symbols_code();
    std::vector<uint16_t> symbols = literals_filling(code, 2 * StretchBits + 500, 4);
    HandBlock cut = coded_block(code, symbols);
    cut.bit_count -= 1;
    EXPECT_EQ(decode_only(cut), 0);
    EXPECT_EQ(Decoder.fault, FaultStreamOverrun) << "the last word runs past the count";

    // One bit a word: far more words than the SymbolBuffer holds, found
    // while the stretches are joined.
    HandBlock ones = hand_block({{'a', 1}, {'b', 1}}, "");
    ones.stream = random_bytes(MaxBlockSymbols / 8 + StretchBits, 5);
    ones.bit_count = uint32_t(ones.stream.size() * 8);
    EXPECT_EQ(decode_only(ones), 0);
    EXPECT_EQ(Decoder.fault, FaultTooManySymbols);
}

TEST(CodeTree, SingleSymbolCodeIsAChainOfZeroBits)
{
    const uint32_t n = 5;
    HandBlock block = hand_block({{65, n}}, "00000 00000 00000");
    ASSERT_EQ(decode_only(block), 1);
    EXPECT_EQ(output(), (std::vector<unsigned char>{'A', 'A', 'A'}));
    EXPECT_EQ(Decoder.internal_count, n);
    for (uint32_t i = 0; i < n; i++)
        EXPECT_EQ(Decoder.internals[i].child[1], nullptr);

    EXPECT_EQ(decode_only(hand_block({{65, n}}, "00000 00100")), 0);
    EXPECT_EQ(Decoder.fault, FaultAbsentChild);
    EXPECT_EQ(Stream.output_length, 0u);
}

TEST(CodeTree, LongestCodeLengthsBuild)
{
    // A chain from a single symbol of length 255: the longest a byte allows.
    std::string bits(255 * 2, '0');
    ASSERT_EQ(decode_only(hand_block({{9, 255}}, bits)), 1);
    EXPECT_EQ(output(), (std::vector<unsigned char>{9, 9}));

    // 67 words of 255 bits and one of 254 take the pool's last inner node.
    std::vector<std::pair<uint32_t, uint32_t>> lengths = longest_words(67);
    lengths.push_back({300, MaxCodeLength - 1});
    ASSERT_EQ(decode_only(hand_block(lengths, "")), 1);
    EXPECT_EQ(Decoder.internal_count, SymbolCount);
}

TEST(References, ShortestLongestAndDigitsOfTheFullAlphabet)
{
    std::vector<unsigned char> code = all_symbols_code();
    std::vector<unsigned char> start = random_bytes(400, 3);
    // Position 300: a low digit that is not a byte value, so it must be read as a digit.
    std::vector<uint16_t> symbols = literal_symbols(start) + reference(4, 300) + reference(67, 0);
    ASSERT_EQ(decode_only(coded_block(code, symbols)), 1);
    std::vector<unsigned char> expected = start;
    expected.insert(expected.end(), start.begin() + 300, start.begin() + 304);
    expected.insert(expected.end(), start.begin(), start.begin() + 67);
    EXPECT_EQ(output(), expected);
}

TEST(References, HighDigitAboveTheByteRange)
{
    // The largest positions need a high digit of 256 and up.
    std::vector<unsigned char> start = random_bytes(BlockBufferSize - 67, 4);
    uint32_t position = BlockBufferSize - 67 - 10;   // high digit 319
    std::vector<uint16_t> symbols = literal_symbols(start) + reference(67, position);
    ASSERT_EQ(decode_only(coded_block(all_symbols_code(), symbols)), 1);
    ASSERT_EQ(Stream.output_length, BlockBufferSize);
    EXPECT_EQ(0, std::memcmp(BlockBuffer + BlockBufferSize - 67, start.data() + position, 10));
    EXPECT_EQ(0, std::memcmp(BlockBuffer + BlockBufferSize - 57, BlockBuffer + BlockBufferSize - 67, 57))
        << "the tail of the reference reads what it has just written";
}

TEST(References, OverlappingSourceRepeats)
{
    std::vector<uint16_t> symbols = std::vector<uint16_t>{'x', 'y'} + reference(4, 0) + reference(5, 3);
    ASSERT_EQ(decode_only(coded_block(all_symbols_code(), symbols)), 1);
    std::vector<unsigned char> bytes = output();
    // The second reference starts three bytes back, so "yxy" repeats into it.
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "xyxyxy" "yxyyx");
}

TEST(References, EveryLengthAndDistanceCopiesAsOneByteAtATime)
{
    // The copy moves whole words where it can; it must still write exactly
    // the reference's bytes, each as the byte-wise copy would.
    const uint32_t destination = 1200;
    const std::vector<unsigned char> start = random_bytes(2 * destination, 9);
    for (uint32_t distance : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 66u, 1000u})
        for (uint32_t length = 1; length <= LongestReference + 3; length++) {
            std::memcpy(BlockBuffer, start.data(), start.size());
            std::vector<unsigned char> expected = start;
            for (uint32_t j = 0; j < length; j++)
                expected[destination + j] = expected[destination - distance + j];
            copy_back_reference(destination - distance, destination, length);
            ASSERT_EQ(0, std::memcmp(BlockBuffer, expected.data(), expected.size()))
                << "length " << length << ", distance " << distance;
        }
    // The expansion's own copy may write past a reference's end, and must
    // still leave the bytes the reference owes; near the buffer's end it
    // must not write past the buffer (the sanitizer's build sees that).
    const std::vector<unsigned char> first(start.begin(), start.begin() + destination);
    for (uint32_t distance : {1u, 15u, 16u, 17u, 31u, 32u, 1000u})
        for (uint32_t length = ShortestReference; length <= LongestReference; length++) {
            ASSERT_EQ(decode_only(coded_block(all_symbols_code(), literal_symbols(first) +
                                                                      reference(length, destination - distance))),
                      1);
            std::vector<unsigned char> expected = first;
            for (uint32_t j = 0; j < length; j++)
                expected.push_back(expected[destination - distance + j]);
            ASSERT_EQ(output(), expected) << "length " << length << ", distance " << distance;
        }
    const std::vector<unsigned char> sixteen(start.begin(), start.begin() + 16);
    for (uint32_t left : {33u, 79u, 80u, 81u}) {
        const uint32_t at = BlockBufferSize - left - 16;
        ASSERT_EQ(decode_only(coded_block(all_symbols_code(),
                                          filled(at) + literal_symbols(sixteen) + reference(33, at))),
                  1);
        std::vector<unsigned char> tail(BlockBuffer + at + 16, BlockBuffer + at + 16 + 33);
        for (uint32_t j = 0; j < 33; j++)
            EXPECT_EQ(tail[j], sixteen[j % 16]) << left << " bytes left, byte " << j;
    }
}

TEST(References, LiteralRunsOfEveryLengthAroundReferences)
{
    // Runs of literals go out several at a time; runs of every length up to
    // twice that, each followed by a reference, and a short run to end.
    std::vector<unsigned char> bytes = random_bytes(160, 12);
    std::vector<uint16_t> symbols;
    std::vector<unsigned char> expected;
    uint32_t next = 0;
    for (uint32_t run = 0; run <= 17; run++) {
        for (uint32_t j = 0; j < run; j++, next++) {
            symbols.push_back(bytes[next]);
            expected.push_back(bytes[next]);
        }
        if (expected.empty())
            continue;
        uint32_t position = uint32_t(expected.size()) / 2;
        uint32_t length = ShortestReference + run;
        symbols = symbols + reference(length, position);
        for (uint32_t j = 0; j < length; j++)
            expected.push_back(expected[position + j]);
    }
    symbols = symbols + literal_symbols({'e', 'n', 'd'});
    expected.insert(expected.end(), {'e', 'n', 'd'});
    ASSERT_EQ(decode_only(coded_block(all_symbols_code(), symbols)), 1);
    EXPECT_EQ(output(), expected);

    // A run where only it fits, then where one byte of it does not.
    for (std::vector<unsigned char> run : {std::vector<unsigned char>{1, 2, 3, 4}, {1, 2, 3, 4, 5, 6, 7, 8}}) {
        const uint32_t n = uint32_t(run.size());
        ASSERT_EQ(decode_only(coded_block(all_symbols_code(), filled(BlockBufferSize - n) + literal_symbols(run))), 1);
        EXPECT_EQ(Stream.output_length, BlockBufferSize);
        EXPECT_EQ(0, std::memcmp(BlockBuffer + BlockBufferSize - n, run.data(), n));
        EXPECT_EQ(decode_only(coded_block(all_symbols_code(), filled(BlockBufferSize - n + 1) + literal_symbols(run))), 0);
        EXPECT_EQ(Decoder.fault, FaultOutputOverflow);
    }
}

TEST(BitStream, PadBitsBeyondTheCountAreIgnored)
{
    std::vector<uint16_t> symbols = literal_symbols({'q', 'u', 'o'});
    HandBlock zeros = coded_block(all_symbols_code(), symbols, 0);
    HandBlock ones = coded_block(all_symbols_code(), symbols, 1);
    ASSERT_NE(zeros.bit_count % 8, 0u);
    ASSERT_NE(zeros.stream, ones.stream);
    ASSERT_EQ(decode_only(ones), 1);
    EXPECT_EQ(output(), (std::vector<unsigned char>{'q', 'u', 'o'}));
}

TEST(BitStream, EmptyStreamDecodesToNothing)
{
    ASSERT_EQ(decode_only(hand_block({{1, 1}, {2, 1}}, "")), 1);
    EXPECT_EQ(Stream.output_length, 0u);
}

TEST(MalformedBlocks, AreRefusedWithTheirOwnFault)
{
    std::vector<unsigned char> code = all_symbols_code();
    std::vector<unsigned char> many_long_codes(SymbolCount, 255);
    struct Case {
        const char* what;
        HandBlock block;
        DecodeFault fault;
    } cases[] = {
        {"no code", hand_block({}, "0101"), FaultNoCode},
        {"stream ends inside a word", hand_block(Example, "0 10 11"), FaultStreamOverrun},
        {"incomplete code, missing branch", hand_block({{1, 2}, {2, 2}}, "00 11"), FaultAbsentChild},
        {"incomplete code, missing branch deep in a long stream",
         hand_block({{0, 1}, {3, 2}}, std::string(100, '0') + "11" + std::string(898, '0')), FaultAbsentChild},
        // Walked, this one would meet its absent branch at bit 100 too.
        {"over-subscribed code, one length short of a branch",
         hand_block({{0, 1}, {1, 1}, {2, 1}, {3, 2}}, std::string(100, '0') + "11" + std::string(898, '0')),
         FaultOversubscribed},
        {"over-subscribed code, every branch there", hand_block({{1, 1}, {2, 1}, {3, 1}, {4, 1}}, "0101"),
         FaultOversubscribed},
        {"length symbol without digits", coded_block(code, {'a', 300, 0}), FaultMissingDigits},
        {"reference to a byte not yet written", coded_block(code, std::vector<uint16_t>{'a'} + reference(4, 1)),
         FaultPositionAhead},
        {"reference past the buffer", coded_block(code, filled(BlockBufferSize - 2) + reference(4, 0)),
         FaultOutputOverflow},
        {"literal past the buffer", HandBlock{}, FaultOutputOverflow},
        {"more symbols than the buffer", HandBlock{}, FaultTooManySymbols},
        {"tree larger than the pool", hand_block({}, "0"), FaultTooManyNodes},
        {"tree one node larger than the pool", hand_block(longest_words(69), ""), FaultTooManyNodes},
    };
    // Built here: these need whole-buffer streams or unusual tables.
    cases[9].block = coded_block(code, filled(BlockBufferSize) + std::vector<uint16_t>{'a'});
    cases[10].block = coded_block(code, std::vector<uint16_t>(MaxBlockSymbols + 1, 'a'));
    cases[11].block.code_lengths = many_long_codes;
    for (Case& c : cases) {
        EXPECT_EQ(decode_only(c.block), 0) << c.what;
        EXPECT_EQ(Decoder.fault, c.fault) << c.what;
        EXPECT_EQ(Stream.output_length, 0u) << c.what;
    }
}

TEST(MalformedBlocks, BlockIndexBeyondTheImage)
{
    TestImage image;
    image.blocks.push_back(hand_block(Example, "0"));
    image.install();
    EXPECT_EQ(decode_block(Package->blocks, 1, Stream.output_length), 0);
    EXPECT_EQ(Decoder.fault, FaultNoSuchBlock);
}

TEST(MalformedBlocks, RandomGarbageNeverEscapesTheBuffers)
{
    // Any table and any stream: the result may be a fault or bytes, but the
    // sanitizer build turns any stray access into a failure here.
    for (uint32_t seed = 1; seed <= 300; seed++) {
        std::vector<unsigned char> noise = random_bytes(SymbolCount + 4096, seed);
        HandBlock block;
        block.code_lengths.assign(noise.begin(), noise.begin() + SymbolCount);
        for (unsigned char& length : block.code_lengths)
            length = seed % 3 == 0 ? length : (length % 7 == 0 ? 0 : length % 11);
        block.stream.assign(noise.begin() + SymbolCount, noise.end());
        block.bit_count = uint32_t(block.stream.size() * 8 - seed % 8);
        int decoded = decode_only(block);
        EXPECT_LE(Stream.output_length, BlockBufferSize);
        EXPECT_EQ(decoded == 0, Decoder.fault != DecodeOk);
    }
}
