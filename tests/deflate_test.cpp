// The build tools' deflate writer, read back by zlib's own inflate, and the
// compressed data it puts into the default package.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/test_support.h"
#include "tools/common/deflate.h"
#include "tools/common/deflate_codes.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The whole stream inflated by zlib, or false if zlib refuses it, it ends
// early, or bytes follow its end.
bool inflate_all(const Bytes& stream, Bytes& out)
{
    z_stream z = {};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    out.clear();
    unsigned char chunk[16384];
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (rc == Z_OK);
    bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole;
}

Bytes compressed(const Bytes& data)
{
    return zlib_compress(data.data(), data.size());
}

void expect_round_trip(const Bytes& data, const char* what)
{
    Bytes back;
    EXPECT_TRUE(inflate_all(compressed(data), back)) << what;
    EXPECT_TRUE(back == data) << what << ": " << back.size() << " bytes back of " << data.size();
}

Bytes text_of(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes sample_text(size_t size)
{
    const char* words[] = {"lantern ", "bridge ", "the ", "of ", "mossling ", "crossing ", "a ", "wendle ",
                           "marsh ", "stone ", "\r\n", "quietly ", "door ", "and "};
    Bytes random = random_bytes(size, 7);
    Bytes out;
    for (size_t i = 0; out.size() < size; i++) {
        const char* w = words[random[i % size] % 14];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(size);
    return out;
}

uint32_t zlib_crc(const Bytes& data)
{
    return uint32_t(crc32(0, data.data(), uInt(data.size())));
}

uint32_t big_endian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t little_endian32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string package_file(const std::string& name)
{
    std::string manifest = QUORVEL_PACKAGE_MANIFEST;
    return manifest.substr(0, manifest.rfind('/') + 1) + name;
}

bool default_package_built()
{
    return std::string(QUORVEL_PACKAGE_MANIFEST).find("default-package/package.manifest") != std::string::npos;
}

// The lengths' cost, and whether they fill the code space exactly.
uint64_t cost_of(const std::vector<uint32_t>& frequency, const std::vector<uint8_t>& lengths, bool& complete)
{
    uint64_t cost = 0, kraft = 0;   // in units of 2^-24
    for (size_t s = 0; s < lengths.size(); s++) {
        cost += uint64_t(frequency[s]) * lengths[s];
        if (lengths[s] > 0)
            kraft += uint64_t(1) << (24 - lengths[s]);
    }
    complete = kraft == (uint64_t(1) << 24);
    return cost;
}

// Unlimited Huffman cost: the sum of every merged pair's weight.
uint64_t huffman_cost(std::vector<uint32_t> frequency)
{
    std::vector<uint64_t> w(frequency.begin(), frequency.end());
    w.erase(std::remove(w.begin(), w.end(), 0u), w.end());
    uint64_t cost = 0;
    while (w.size() > 1) {
        std::sort(w.begin(), w.end());
        uint64_t merged = w[0] + w[1];
        cost += merged;
        w.erase(w.begin());
        w[0] = merged;
    }
    return cost;
}

}  // namespace

TEST(Deflate, InflatesBackToTheInputWhateverItsShape)
{
    expect_round_trip({}, "empty");
    expect_round_trip({'Q'}, "one byte");
    expect_round_trip(text_of("abcabcabcabcabcabcabcabc"), "short repeat");
    Bytes distinct;
    for (int i = 0; i < 256; i++)
        distinct.push_back((unsigned char)i);
    expect_round_trip(distinct, "no byte twice");
    expect_round_trip(Bytes(1000000, 0xAA), "one long run");
    Bytes runs;
    for (int i = 0; runs.size() < 300000; i++)
        runs.insert(runs.end(), size_t(i % 300 + 1), (unsigned char)(i * 37));
    expect_round_trip(runs, "runs of every length up to 300");
    expect_round_trip(random_bytes(200000, 3), "random, over 64 KiB");
    expect_round_trip(sample_text(300000), "text, over 64 KiB");
}

TEST(Deflate, CopiesReachExactlyTheWholeWindow)
{
    // A copy at distance 32768 is the farthest allowed; at 32769 it must not be taken.
    for (size_t span : {32767u, 32768u, 32769u}) {
        Bytes data = random_bytes(span, 11), copy = data;
        data.insert(data.end(), copy.begin(), copy.end());
        expect_round_trip(data, ("repeat after " + std::to_string(span)).c_str());
        if (span <= 32768) {
            EXPECT_LT(compressed(data).size(), span + span / 8) << span;
        }
    }
}

TEST(Deflate, CompressesAboutAsWellAsZlibsBestLevel)
{
    // Within a percent of zlib -9 where there is something to find ...
    Bytes records;
    Bytes random = random_bytes(40000, 13);
    for (size_t i = 0; i < random.size(); i += 4) {
        const unsigned char record[] = {'R', 'E', 'C', random[i], 0, 0, random[i + 1],
                                        (unsigned char)(random[i + 2] & 7), 1, 0};
        records.insert(records.end(), record, record + sizeof record);
    }
    for (const Bytes& data : {sample_text(200000), records}) {
        uLongf size = compressBound(uLong(data.size()));
        Bytes theirs(size);
        ASSERT_EQ(compress2(theirs.data(), &size, data.data(), uLong(data.size()), 9), Z_OK);
        EXPECT_LE(compressed(data).size(), size + size / 100);
    }
    // ... and little more than stored blocks' framing where there is nothing.
    Bytes noise = random_bytes(200000, 17);
    EXPECT_LE(compressed(noise).size(), noise.size() + noise.size() / 2000 + 16);
}

TEST(CodeLengths, LimitedCodesAreCompleteWithinTheLimitAndCostNoMoreThanNeeded)
{
    // Fibonacci weights give the deepest Huffman trees: 20 symbols want 19 bits.
    std::vector<uint32_t> fibonacci = {1, 1};
    while (fibonacci.size() < 20)
        fibonacci.push_back(fibonacci[fibonacci.size() - 1] + fibonacci[fibonacci.size() - 2]);
    for (int max_bits : {7, 15, 19}) {
        std::vector<uint8_t> lengths(fibonacci.size());
        limited_code_lengths(fibonacci.data(), int(fibonacci.size()), max_bits, lengths.data());
        bool complete;
        uint64_t cost = cost_of(fibonacci, lengths, complete);
        EXPECT_TRUE(complete) << max_bits;
        EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), max_bits);
        for (size_t s = 1; s < lengths.size(); s++)
            EXPECT_LE(lengths[s], lengths[s - 1]) << "a heavier symbol got a longer code, limit " << max_bits;
        if (max_bits == 19) {
            EXPECT_EQ(cost, huffman_cost(fibonacci));
        }
    }
    // Where the limit does not bind, the cost is Huffman's, on random weights.
    Bytes random = random_bytes(286 * 2, 21);
    std::vector<uint32_t> weights(286);
    for (size_t s = 0; s < weights.size(); s++)
        weights[s] = random[2 * s] % 4 == 0 ? 0 : random[2 * s] * 4u + random[2 * s + 1];
    std::vector<uint8_t> lengths(weights.size());
    limited_code_lengths(weights.data(), int(weights.size()), 15, lengths.data());
    bool complete;
    EXPECT_EQ(cost_of(weights, lengths, complete), huffman_cost(weights));
    EXPECT_TRUE(complete);
    for (size_t s = 0; s < weights.size(); s++)
        EXPECT_EQ(lengths[s] == 0, weights[s] == 0) << s;
}

TEST(CodeLengths, FewerThanTwoSymbolsStillMakeACompleteCode)
{
    const std::vector<uint32_t> none(30, 0);
    std::vector<uint32_t> one(30, 0);
    one[7] = 500;
    for (const auto& frequency : {none, one}) {
        std::vector<uint8_t> lengths(30);
        limited_code_lengths(frequency.data(), 30, 15, lengths.data());
        bool complete;
        cost_of(frequency, lengths, complete);
        EXPECT_TRUE(complete);
        EXPECT_EQ(std::count(lengths.begin(), lengths.end(), 1), 2);
        if (frequency[7] > 0) {
            EXPECT_EQ(lengths[7], 1);
        }
    }
}

TEST(Crc32, MatchesTheCheckValueAndZlibAndChains)
{
    Bytes check = text_of("123456789");
    EXPECT_EQ(crc32_ieee(0, check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32_ieee(0, nullptr, 0), 0u);
    Bytes data = random_bytes(100000, 9);
    uint32_t whole = crc32_ieee(0, data.data(), data.size());
    EXPECT_EQ(whole, zlib_crc(data));
    uint32_t pieces = crc32_ieee(0, data.data(), 12345);
    pieces = crc32_ieee(pieces, data.data() + 12345, data.size() - 12345);
    EXPECT_EQ(pieces, whole);
}

TEST(GeneratedPackage, PictureIsAWholePngOfItsStatedSize)
{
    if (!default_package_built())
        GTEST_SKIP() << "built from " << QUORVEL_PACKAGE_MANIFEST;
    Bytes png;
    ASSERT_EQ(read_file(package_file(MarkerFiles[1]), png), 1);
    ASSERT_EQ(png.size(), 65536u);
    const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_EQ(std::memcmp(png.data(), signature, 8), 0);
    std::vector<std::string> types;
    Bytes ihdr, idat;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length = big_endian32(&png[at]);
        ASSERT_LE(at + 12 + length, png.size());
        std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
        Bytes typed(png.begin() + long(at) + 4, png.begin() + long(at + 8 + length));
        EXPECT_EQ(big_endian32(&png[at + 8 + length]), zlib_crc(typed)) << type << " at " << at;
        Bytes body(typed.begin() + 4, typed.end());
        if (type == "IHDR")
            ihdr = body;
        if (type == "IDAT")
            idat.insert(idat.end(), body.begin(), body.end());
        types.push_back(type);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ(types.front(), "IHDR");
    EXPECT_EQ(types.back(), "IEND");
    ASSERT_EQ(ihdr.size(), 13u);
    uint32_t width = big_endian32(&ihdr[0]), height = big_endian32(&ihdr[4]);
    EXPECT_EQ(ihdr[8], 8);   // bits per channel
    EXPECT_EQ(ihdr[9], 2);   // RGB
    EXPECT_EQ(ihdr[12], 0);  // not interlaced

    Bytes rows;
    ASSERT_TRUE(inflate_all(idat, rows));
    const size_t stride = 1 + 3 * size_t(width);
    ASSERT_EQ(rows.size(), stride * height);
    for (uint32_t y = 0; y < height; y++)
        EXPECT_LE(rows[y * stride], 4) << "filter of row " << y;
}

TEST(GeneratedPackage, PackedLumpsInflateToTheSizeAndCrcTheyRecord)
{
    if (!default_package_built())
        GTEST_SKIP() << "built from " << QUORVEL_PACKAGE_MANIFEST;
    for (const char* name : {"dravik/hesk.wad", "dravik/trovin.wad"}) {
        Bytes wad;
        ASSERT_EQ(read_file(package_file(name), wad), 1);
        ASSERT_GE(wad.size(), 12u);
        ASSERT_EQ(std::memcmp(wad.data(), "QWAD", 4), 0);
        uint32_t count = little_endian32(&wad[4]), directory = little_endian32(&wad[8]);
        ASSERT_EQ(directory + 16 * size_t(count), wad.size()) << name;
        int packed = 0;
        for (uint32_t i = 0; i < count; i++) {
            const unsigned char* entry = &wad[directory + 16 * i];
            uint32_t offset = little_endian32(entry), size = little_endian32(entry + 4);
            ASSERT_LE(size_t(offset) + size, directory);
            if (size < 12 || std::memcmp(&wad[offset], "ZPK1", 4) != 0)
                continue;
            Bytes stream(wad.begin() + offset + 12, wad.begin() + offset + size), raw;
            ASSERT_TRUE(inflate_all(stream, raw)) << name << " lump " << i;
            EXPECT_EQ(raw.size(), little_endian32(&wad[offset + 4])) << name << " lump " << i;
            EXPECT_EQ(zlib_crc(raw), little_endian32(&wad[offset + 8])) << name << " lump " << i;
            packed++;
        }
        EXPECT_GT(packed, 0) << name;
    }
}
