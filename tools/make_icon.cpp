// make-icon OUTPUT.ico
// Draws the installer's icon, a green ring with a tail on a dark tile, at
// 16, 32, 48 and 256 pixels, as a Windows icon file whose images are
// PNG-compressed (read by Windows Vista and later): 4 KB where bitmaps
// would take 280 KB, all of it in the program.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tools/common/png.h"

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

// Icon file format notes: a 6-byte header (0, type 1 = icon, count), a
// 16-byte entry per image (width and height with 0 for 256, colours 0,
// reserved 0, planes 1, bits 32, byte count, offset), then the images.
Bytes icon_file(const std::vector<int>& sizes)
{
    std::vector<Bytes> images;
    for (int size : sizes)
        images.push_back(png_image(draw(size), size, size, 4));
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
