// The desktop picture: the mossling as an RGB PNG with a comment that brings
// it to its exact size.
#include <algorithm>
#include <cstdlib>

#include "tools/common/deflate.h"
#include "tools/default_package/document.h"
#include "tools/default_package/mossling.h"
#include "tools/default_package/package_files.h"
#include "tools/default_package/words.h"

namespace {

void png_chunk(Bytes& png, std::string_view type, const Bytes& data) {
    put32_be(png, u32(data.size()));
    const std::size_t start = png.size();
    put_text(png, type);
    append(png, data);
    put32_be(png, crc32_ieee(0, png.data() + start, png.size() - start));
}

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Per-row filter choice by smallest sum of absolute differences, the
// heuristic most encoders use.
Bytes png_filtered_rows(const Bytes& rgb, int width, int height) {
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    Bytes out;
    Bytes prev(stride, 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgb.data() + static_cast<std::size_t>(y) * stride;
        Bytes best;
        long best_cost = -1;
        for (std::uint32_t type = 0; type < 5; ++type) {
            Bytes line{static_cast<std::uint8_t>(type)};
            long cost = 0;
            for (std::size_t i = 0; i < stride; ++i) {
                const int a = i >= 3 ? row[i - 3] : 0, b = prev[i], c = i >= 3 ? prev[i - 3] : 0;
                const int predict = type == 0 ? 0 : type == 1 ? a : type == 2 ? b : type == 3 ? (a + b) / 2 : paeth(a, b, c);
                const auto v = static_cast<std::uint8_t>((row[i] - predict) & 0xFF);
                line.push_back(v);
                cost += v < 128 ? v : 256 - v;
            }
            if (best_cost < 0 || cost < best_cost) {
                best_cost = cost;
                best = std::move(line);
            }
        }
        append(out, best);
        prev.assign(row, row + stride);
    }
    return out;
}

// `grain` is the percentage of pixels given a small luminance jitter (one
// value for all three channels, like film grain); dense grain does not fit.
Bytes png_pixels(int size, int grain) {
    Rng r = seeded("mossling grain");
    Bytes rgb;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const Rgb p = mossling_pixel(x * 256 / size, y * 256 / size);
            int jitter = 0;
            if (chance(r, static_cast<std::uint32_t>(grain))) jitter = chance(r, 50) ? between(r, 1, 2) : -between(r, 1, 2);
            for (int v : {p.r, p.g, p.b}) put8(rgb, static_cast<std::uint32_t>(clamp_int(v + jitter, 0, 255)));
        }
    return rgb;
}

Bytes png_idat(int size, int grain) {
    const Bytes rows = png_filtered_rows(png_pixels(size, grain), size, size);
    return zlib_compress(rows.data(), rows.size());
}

constexpr std::size_t kIdatPiece = 8192;

// Everything but the comment text: signature, IHDR, IDAT pieces, tEXt framing
// with its keyword, IEND.
std::size_t png_size_without_comment(std::size_t idat_size) {
    const std::size_t pieces = (idat_size + kIdatPiece - 1) / kIdatPiece;
    return 8 + 25 + idat_size + 12 * pieces + 12 + 8 + 12;
}

Bytes assemble_png(int size, const Bytes& idat, std::size_t total) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    put32_be(ihdr, static_cast<std::uint32_t>(size));
    put32_be(ihdr, static_cast<std::uint32_t>(size));
    for (std::uint32_t v : {8u, 2u, 0u, 0u, 0u}) put8(ihdr, v);  // 8-bit RGB, no interlace
    png_chunk(png, "IHDR", ihdr);
    for (std::size_t at = 0; at < idat.size(); at += kIdatPiece)
        png_chunk(png, "IDAT", Bytes(idat.begin() + static_cast<std::ptrdiff_t>(at),
                                     idat.begin() + static_cast<std::ptrdiff_t>(std::min(idat.size(), at + kIdatPiece))));
    Rng r = seeded("mossling comment");
    Doc d{{}, total - png_size_without_comment(idat.size()), "\n"};
    add_line(d, "Mossling, a shy marsh creature from Quorvel. Desktop picture, build128.");
    finish_doc(r, d, game_sentence, "", "");
    Bytes text = to_bytes("Comment");
    put8(text, 0);
    append(text, to_bytes(d.text));
    png_chunk(png, "tEXt", text);
    png_chunk(png, "IEND", {});
    return png;
}

}  // namespace

// The grainiest picture that still leaves room for a comment. 28 % is the
// largest grain that fits with our deflate writer (30 % needs 448 bytes more
// than there are); lower grains and smaller pictures are only tried should the
// writer ever compress worse, so normally one pass is enough.
Bytes make_png(std::size_t total) {
    constexpr std::size_t kMinComment = 1024;
    constexpr int kGrain = 28;
    for (int size : {256, 192, 128})
        for (int grain = kGrain; grain >= 0; grain -= 2) {
            const Bytes idat = png_idat(size, grain);
            if (png_size_without_comment(idat.size()) + kMinComment <= total) return assemble_png(size, idat, total);
        }
    die("internal error: the picture does not fit its size");
}
