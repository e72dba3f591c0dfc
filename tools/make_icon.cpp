// make-icon OUTPUT.ico
// Draws the installer's icon, a green ring with a tail on a dark tile, at
// 16, 32 and 48 pixels, as a Windows icon file of 32-bit images.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void put16(std::vector<unsigned char>& out, unsigned v)
{
    out.push_back((unsigned char)(v & 0xFF));
    out.push_back((unsigned char)(v >> 8));
}

void put32(std::vector<unsigned char>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Coverage 0-1 of the emblem at a point of the unit square, by 4x4 samples.
double emblem(double x, double y)
{
    double dx = x - 0.47, dy = y - 0.47;
    double r = std::sqrt(dx * dx + dy * dy);
    bool ring = r > 0.23 && r < 0.36;
    bool tail = x > 0.55 && y > 0.55 && std::fabs((x - 0.55) - (y - 0.55)) < 0.07 && x < 0.86;
    return ring || tail ? 1.0 : 0.0;
}

// One image entry: BITMAPINFOHEADER, BGRA rows bottom-up, then the AND mask.
std::vector<unsigned char> icon_image(int size)
{
    std::vector<unsigned char> out;
    put32(out, 40);
    put32(out, uint32_t(size));
    put32(out, uint32_t(size * 2));   // colour and mask stacked, as icons store them
    put16(out, 1);
    put16(out, 32);
    for (int i = 0; i < 6; i++)
        put32(out, 0);
    for (int row = size - 1; row >= 0; row--)
        for (int col = 0; col < size; col++) {
            double cover = 0;
            for (int s = 0; s < 16; s++)
                cover += emblem((col + (s % 4 + 0.5) / 4) / size, (row + (s / 4 + 0.5) / 4) / size);
            cover /= 16;
            bool edge = row == 0 || col == 0 || row == size - 1 || col == size - 1;
            unsigned char tile = edge ? 0x30 : 0x22;
            out.push_back((unsigned char)(tile + cover * (0x40 - tile)));   // blue
            out.push_back((unsigned char)(tile + cover * (0xC8 - tile)));   // green
            out.push_back((unsigned char)(tile + cover * (0x58 - tile)));   // red
            out.push_back(0xFF);
        }
    int mask_row = ((size + 31) / 32) * 4;
    out.insert(out.end(), size_t(mask_row * size), 0);   // all opaque
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-icon OUTPUT.ico\n");
        return 2;
    }
    const int sizes[] = {16, 32, 48};
    std::vector<std::vector<unsigned char>> images;
    for (int size : sizes)
        images.push_back(icon_image(size));
    std::vector<unsigned char> file;
    put16(file, 0);
    put16(file, 1);   // an icon, not a cursor
    put16(file, 3);
    uint32_t offset = 6 + 16 * 3;
    for (size_t i = 0; i < 3; i++) {
        file.push_back((unsigned char)sizes[i]);
        file.push_back((unsigned char)sizes[i]);
        file.push_back(0);
        file.push_back(0);
        put16(file, 1);
        put16(file, 32);
        put32(file, uint32_t(images[i].size()));
        put32(file, offset);
        offset += uint32_t(images[i].size());
    }
    for (const auto& image : images)
        file.insert(file.end(), image.begin(), image.end());
    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "make-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
