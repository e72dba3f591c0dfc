// make-icon OUTPUT.ico
// Draws the installer's icon, a green ring with a tail on a dark tile, at
// 16, 32, 48 and 256 pixels, as a Windows icon file whose images are
// PNG-compressed (read by Windows Vista and later): 4 KB where bitmaps
// would take 280 KB, all of it in the program.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/common/deflate.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes& out, unsigned v)
{
    out.push_back((unsigned char)(v & 0xFF));
    out.push_back((unsigned char)(v >> 8));
}

void put32(Bytes& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void put32_big_endian(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back((unsigned char)(v >> shift));
}

// Coverage 0-1 of the emblem at a point of the unit square.
double emblem(double x, double y)
{
    double dx = x - 0.47, dy = y - 0.47;
    double r = std::sqrt(dx * dx + dy * dy);
    bool ring = r > 0.23 && r < 0.36;
    bool tail = x > 0.55 && y > 0.55 && std::fabs((x - 0.55) - (y - 0.55)) < 0.07 && x < 0.86;
    return ring || tail ? 1.0 : 0.0;
}

// RGBA rows top-down, every pixel opaque; each covered by 4x4 samples.
Bytes draw(int size)
{
    Bytes pixels;
    for (int row = 0; row < size; row++)
        for (int col = 0; col < size; col++) {
            double cover = 0;
            for (int s = 0; s < 16; s++)
                cover += emblem((col + (s % 4 + 0.5) / 4) / size, (row + (s / 4 + 0.5) / 4) / size);
            cover /= 16;
            bool edge = row == 0 || col == 0 || row == size - 1 || col == size - 1;
            unsigned char tile = edge ? 0x30 : 0x22;
            pixels.push_back((unsigned char)(tile + cover * (0x58 - tile)));   // red
            pixels.push_back((unsigned char)(tile + cover * (0xC8 - tile)));   // green
            pixels.push_back((unsigned char)(tile + cover * (0x40 - tile)));   // blue
            pixels.push_back(0xFF);
        }
    return pixels;
}

unsigned char paeth(int left, int up, int up_left)
{
    int p = left + up - up_left;
    int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - up_left);
    return (unsigned char)(pa <= pb && pa <= pc ? left : pb <= pc ? up : up_left);
}

// PNG format notes: each row is one filter byte (0 none, 1 left, 2 up,
// 3 average, 4 Paeth) and the row's bytes less that prediction, modulo 256;
// neighbours outside the image are 0, and bytes 4 apart are one channel.
Bytes filter_rows(const Bytes& pixels, int size, int filter)
{
    const size_t stride = size_t(size) * 4;
    Bytes out;
    for (size_t row = 0; row < size_t(size); row++) {
        out.push_back((unsigned char)filter);
        for (size_t i = 0; i < stride; i++) {
            int left = i >= 4 ? pixels[row * stride + i - 4] : 0;
            int up = row > 0 ? pixels[(row - 1) * stride + i] : 0;
            int up_left = row > 0 && i >= 4 ? pixels[(row - 1) * stride + i - 4] : 0;
            int prediction = filter == 1 ? left : filter == 2 ? up : filter == 3 ? (left + up) / 2
                           : filter == 4 ? paeth(left, up, up_left) : 0;
            out.push_back((unsigned char)(pixels[row * stride + i] - prediction));
        }
    }
    return out;
}

// A chunk: length, type, data, and the CRC-32 of type and data.
void put_chunk(Bytes& png, const char* type, const Bytes& data)
{
    put32_big_endian(png, uint32_t(data.size()));
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put32_big_endian(png, crc32_ieee(0, png.data() + start, png.size() - start));
}

// The image as a PNG of 8-bit RGBA, with whichever one filter for all
// rows compresses smallest.
Bytes png_image(int size)
{
    Bytes pixels = draw(size);
    Bytes best;
    for (int filter = 0; filter <= 4; filter++) {
        Bytes rows = filter_rows(pixels, size, filter);
        Bytes compressed = zlib_compress(rows.data(), rows.size());
        if (best.empty() || compressed.size() < best.size())
            best = compressed;
    }
    Bytes header;
    put32_big_endian(header, uint32_t(size));
    put32_big_endian(header, uint32_t(size));
    header.push_back(8);   // bits a channel
    header.push_back(6);   // RGBA
    header.push_back(0);   // deflate
    header.push_back(0);   // the five row filters
    header.push_back(0);   // not interlaced
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", best);
    put_chunk(png, "IEND", {});
    return png;
}

// Icon file format notes: a 6-byte header (0, type 1 = icon, count), a
// 16-byte entry per image (width and height with 0 for 256, colours 0,
// reserved 0, planes 1, bits 32, byte count, offset), then the images.
Bytes icon_file(const std::vector<int>& sizes)
{
    std::vector<Bytes> images;
    for (int size : sizes)
        images.push_back(png_image(size));
    Bytes file;
    put16(file, 0);
    put16(file, 1);
    put16(file, unsigned(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); i++) {
        file.push_back((unsigned char)(sizes[i] & 0xFF));
        file.push_back((unsigned char)(sizes[i] & 0xFF));
        file.push_back(0);
        file.push_back(0);
        put16(file, 1);
        put16(file, 32);
        put32(file, uint32_t(images[i].size()));
        put32(file, offset);
        offset += uint32_t(images[i].size());
    }
    for (const Bytes& image : images)
        file.insert(file.end(), image.begin(), image.end());
    return file;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-icon OUTPUT.ico\n");
        return 2;
    }
    Bytes file = icon_file({16, 32, 48, 256});
    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "make-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
