#include "tools/common/png.h"

#include <cstdint>
#include <cstdlib>

#include "tools/common/deflate.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put32_big_endian(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back((unsigned char)(v >> shift));
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

int paeth(int left, int up, int up_left)
{
    int p = left + up - up_left;
    int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - up_left);
    return pa <= pb && pa <= pc ? left : pb <= pc ? up : up_left;
}

// PNG format notes: each row is one filter byte (0 none, 1 left, 2 up,
// 3 average, 4 Paeth) and the row's bytes less that prediction, modulo 256;
// neighbours outside the image are 0, and bytes a pixel apart are one channel.
Bytes filter_rows(const Bytes& pixels, size_t width, size_t height, size_t channels, int filter)
{
    const size_t stride = width * channels;
    Bytes out;
    for (size_t row = 0; row < height; row++) {
        out.push_back((unsigned char)filter);
        for (size_t i = 0; i < stride; i++) {
            int left = i >= channels ? pixels[row * stride + i - channels] : 0;
            int up = row > 0 ? pixels[(row - 1) * stride + i] : 0;
            int up_left = row > 0 && i >= channels ? pixels[(row - 1) * stride + i - channels] : 0;
            int prediction = filter == 1 ? left : filter == 2 ? up : filter == 3 ? (left + up) / 2
                           : filter == 4 ? paeth(left, up, up_left) : 0;
            out.push_back((unsigned char)(pixels[row * stride + i] - prediction));
        }
    }
    return out;
}

}  // namespace

Bytes png_image(const Bytes& pixels, int width, int height, int channels, std::string_view comment)
{
    Bytes best;
    for (int filter = 0; filter <= 4; filter++) {
        Bytes rows = filter_rows(pixels, size_t(width), size_t(height), size_t(channels), filter);
        Bytes compressed = zlib_compress(rows.data(), rows.size());
        if (best.empty() || compressed.size() < best.size())
            best = compressed;
    }
    Bytes header;
    put32_big_endian(header, uint32_t(width));
    put32_big_endian(header, uint32_t(height));
    header.push_back(8);                          // bits a channel
    header.push_back(channels == 4 ? 6 : 2);      // RGBA or RGB
    header.push_back(0);                          // deflate
    header.push_back(0);                          // the five row filters
    header.push_back(0);                          // not interlaced
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", best);
    if (!comment.empty()) {
        Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
        text.insert(text.end(), comment.begin(), comment.end());
        put_chunk(png, "tEXt", text);
    }
    put_chunk(png, "IEND", {});
    return png;
}
