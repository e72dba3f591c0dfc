// The desktop picture: the mossling as an RGB PNG, with a comment that
// brings it to its exact size.
#include <algorithm>

#include "tools/common/png.h"
#include "tools/default_package/generator.h"

namespace {

struct Colour {
    int r, g, b;
};

bool in_ellipse(int x, int y, int cx, int cy, int rx, int ry)
{
    long dx = x - cx, dy = y - cy;
    return dx * dx * ry * ry + dy * dy * rx * rx <= long(rx) * rx * ry * ry;
}

// The mossling, a round green creature with big eyes, standing in a marsh
// at dusk, on a 256 x 256 canvas.
Colour mossling(int x, int y)
{
    int haze = value_noise(11, x, y, 32) - 128;
    Colour c = {70 + y / 3 + haze / 10, 90 + y / 3 + haze / 12, 125 + y / 6};
    if (y >= 150) {
        int grass = value_noise(12, x, y * 3, 6) - 128;
        c = {60 + grass / 8 + haze / 12, 84 + grass / 5, 40 + grass / 12};
    }
    if (in_ellipse(x, y, 128, 148, 84, 70)) {
        long dx = x - 128, dy = y - 148;
        int light = int(1024 - dx * dx * 1024 / (84 * 84) - dy * dy * 1024 / (70 * 70)) / 10 - int(dx + dy) / 3;
        c = {60 + light / 3, 120 + light / 2, 45 + light / 5};
        for (int eye : {100, 156}) {
            if (in_ellipse(x, y, eye, 128, 17, 17))
                c = {236, 234, 218};
            if (in_ellipse(x, y, eye + 3, 131, 7, 7))
                c = {22, 20, 30};
        }
    }
    return {std::clamp(c.r, 0, 255), std::clamp(c.g, 0, 255), std::clamp(c.b, 0, 255)};
}

// grain is the share in thousandths of pixels given a small jitter of
// brightness, as film grain is; it is what makes a picture hard to compress.
Bytes picture_pixels(int grain)
{
    Rng r = seeded("mossling grain");
    Bytes rgb;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            Colour c = mossling(x, y);
            int jitter = below(r, 1000) < uint32_t(grain) ? between(r, -2, 2) : 0;
            for (int v : {c.r, c.g, c.b})
                put8(rgb, uint32_t(std::clamp(v + jitter, 0, 255)));
        }
    return rgb;
}

}  // namespace

// The grainiest picture, from 58.5 % of pixels down, that still leaves a
// kilobyte for its comment.
Bytes desktop_picture(size_t size)
{
    Rng r = seeded("mossling comment");
    for (int grain = 585; grain >= 0; grain -= 5) {
        Bytes pixels = picture_pixels(grain);
        size_t framing = png_image(pixels, 256, 256, 3, "").size() + PngCommentOverhead;
        if (framing + 1024 > size)
            continue;
        std::string comment = "Mossling, a shy marsh creature from Quorvel. Desktop picture, build128.\n";
        comment += text_of_size(r, size - framing - comment.size(), "\n");
        return png_image(pixels, 256, 256, 3, comment);
    }
    die("internal error: the picture does not fit its size");
}
