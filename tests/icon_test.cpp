// The icon generator's file, read back as Windows reads it: the icon
// directory, then each PNG image's chunks, zlib stream and row filters,
// decoded here independently with zlib.
#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

uint32_t little16(const Bytes& b, size_t at)
{
    return b.at(at) | b.at(at + 1) << 8;
}

uint32_t little32(const Bytes& b, size_t at)
{
    return little16(b, at) | little16(b, at + 2) << 16;
}

uint32_t big32(const Bytes& b, size_t at)
{
    return uint32_t(b.at(at)) << 24 | b.at(at + 1) << 16 | b.at(at + 2) << 8 | b.at(at + 3);
}

Bytes make_icon()
{
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("quorvel-icon-" + std::to_string(::getpid()) + ".ico");
    std::string command = std::string(QUORVEL_MAKE_ICON) + " " + path.string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(path, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return file;
}

struct Entry {
    uint32_t size;   // pixels a side
    Bytes image;
};

// The icon directory; each entry's bytes must lie in the file, one after another.
std::vector<Entry> read_directory(const Bytes& file)
{
    std::vector<Entry> entries;
    EXPECT_EQ(little16(file, 0), 0u);
    EXPECT_EQ(little16(file, 2), 1u) << "an icon, not a cursor";
    uint32_t count = little16(file, 4);
    size_t expected_offset = 6 + 16 * size_t(count);
    for (uint32_t i = 0; i < count; i++) {
        size_t at = 6 + 16 * size_t(i);
        EXPECT_EQ(file.at(at), file.at(at + 1)) << "square";
        EXPECT_EQ(file.at(at + 2), 0) << "no palette";
        EXPECT_EQ(little16(file, at + 4), 1u) << "planes";
        EXPECT_EQ(little16(file, at + 6), 32u) << "bits a pixel";
        uint32_t length = little32(file, at + 8), offset = little32(file, at + 12);
        EXPECT_EQ(offset, expected_offset);
        if (offset > file.size() || length > file.size() - offset)
            return {};
        expected_offset = offset + size_t(length);
        entries.push_back({file[at] == 0 ? 256u : file[at], Bytes(file.begin() + offset, file.begin() + offset + length)});
    }
    EXPECT_EQ(expected_offset, file.size()) << "nothing after the last image";
    return entries;
}

int paeth(int a, int b, int c)
{
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// The PNG's RGBA pixels, top row first; empty, with failures, on any fault.
Bytes decode_png(const Bytes& png, uint32_t size)
{
    const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 8 || !std::equal(signature.begin(), signature.end(), png.begin())) {
        ADD_FAILURE() << "no PNG signature";
        return {};
    }
    Bytes compressed;
    std::vector<std::string> types;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t length = big32(png, at);
        std::string type(png.begin() + at + 4, png.begin() + at + 8);
        types.push_back(type);
        if (length > png.size() - at - 12) {
            ADD_FAILURE() << type << " runs past the image";
            return {};
        }
        uint32_t crc = uint32_t(::crc32(0, png.data() + at + 4, 4 + length));
        EXPECT_EQ(big32(png, at + 8 + length), crc) << type << "'s CRC";
        Bytes data(png.begin() + at + 8, png.begin() + at + 8 + length);
        if (type == "IHDR") {
            EXPECT_EQ(data, (Bytes{0, 0, uint8_t(size >> 8), uint8_t(size), 0, 0, uint8_t(size >> 8), uint8_t(size),
                                   8, 6, 0, 0, 0}))
                << "size, 8-bit RGBA, deflate, row filters, not interlaced";
        }
        if (type == "IDAT")
            compressed.insert(compressed.end(), data.begin(), data.end());
        at += 12 + size_t(length);
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    const size_t stride = 4 * size_t(size);
    Bytes rows(size * (1 + stride) + 1);   // one byte spare: a longer stream fails below
    uLongf length = rows.size();
    if (::uncompress(rows.data(), &length, compressed.data(), compressed.size()) != Z_OK ||
        length != size * (1 + stride)) {
        ADD_FAILURE() << "the zlib stream does not inflate to " << size << " rows";
        return {};
    }
    Bytes pixels(size * stride);
    for (size_t row = 0; row < size; row++) {
        unsigned filter = rows[row * (1 + stride)];
        if (filter > 4) {
            ADD_FAILURE() << "row " << row << " has filter " << filter;
            return {};
        }
        for (size_t i = 0; i < stride; i++) {
            int a = i >= 4 ? pixels[row * stride + i - 4] : 0;
            int b = row > 0 ? pixels[(row - 1) * stride + i] : 0;
            int c = row > 0 && i >= 4 ? pixels[(row - 1) * stride + i - 4] : 0;
            int prediction = filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : filter == 4 ? paeth(a, b, c) : 0;
            pixels[row * stride + i] = uint8_t(rows[row * (1 + stride) + 1 + i] + prediction);
        }
    }
    return pixels;
}

// The pixel at a point of the unit square, as R, G, B, A.
Bytes pixel_at(const Bytes& pixels, uint32_t size, double x, double y)
{
    size_t at = (size_t(y * size) * size + size_t(x * size)) * 4;
    return Bytes(pixels.begin() + at, pixels.begin() + at + 4);
}

TEST(Icon, HoldsSixteenToTwoHundredFiftySixPixelsInAFewKilobytes)
{
    Bytes file = make_icon();
    std::vector<Entry> entries = read_directory(file);
    std::vector<uint32_t> sizes;
    for (const Entry& entry : entries)
        sizes.push_back(entry.size);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{16, 32, 48, 256}));
    // Every byte is in the program, whose overhead has a budget.
    EXPECT_LT(file.size(), 8192u);
}

TEST(Icon, EveryImageDecodesToTheEmblemOnItsTile)
{
    Bytes file = make_icon();
    for (const Entry& entry : read_directory(file)) {
        SCOPED_TRACE(std::to_string(entry.size) + " px");
        Bytes pixels = decode_png(entry.image, entry.size);
        if (pixels.empty())
            continue;
        for (size_t i = 3; i < pixels.size(); i += 4)
            ASSERT_EQ(pixels[i], 0xFF) << "opaque";
        EXPECT_EQ(pixel_at(pixels, entry.size, 0, 0), (Bytes{0x30, 0x30, 0x30, 0xFF})) << "the tile's edge";
        EXPECT_EQ(pixel_at(pixels, entry.size, 0.47, 0.47), (Bytes{0x22, 0x22, 0x22, 0xFF})) << "inside the ring";
        EXPECT_EQ(pixel_at(pixels, entry.size, 0.175, 0.47), (Bytes{0x58, 0xC8, 0x40, 0xFF})) << "the ring";
        EXPECT_EQ(pixel_at(pixels, entry.size, 0.76, 0.76), (Bytes{0x58, 0xC8, 0x40, 0xFF})) << "the tail";
    }
}

}  // namespace
