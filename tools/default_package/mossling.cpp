// The mossling drawn point by point, in integers only, so the icons and the
// picture come out the same everywhere.
#include "tools/default_package/mossling.h"

#include "tools/default_package/random.h"

namespace {

bool in_ellipse(int x, int y, int cx, int cy, int rx, int ry) {
    const long dx = x - cx, dy = y - cy;
    return dx * dx * ry * ry + dy * dy * rx * rx <= static_cast<long>(rx) * rx * ry * ry;
}

bool in_circle(int x, int y, int cx, int cy, int radius) { return in_ellipse(x, y, cx, cy, radius, radius); }

}  // namespace

Rgb mossling_pixel(int x, int y) {
    Rgb c;
    const int haze = value_noise(11, x, y, 32) - 128;
    if (y < 150) {
        c = {70 + y / 3 + haze / 10, 90 + y / 3 + haze / 12, 125 + y / 6, false};
    } else {
        const int grass = value_noise(12, x, y * 3, 6) - 128;
        c = {60 + grass / 8 + haze / 12, 84 + grass / 5, 40 + grass / 12, false};
        if (in_ellipse(x, y, 128, 222, 92, 16)) c = {c.r * 2 / 3, c.g * 2 / 3, c.b * 2 / 3, false};
    }
    const bool leaf = in_ellipse(x, y, 104, 78, 14, 26) || in_ellipse(x, y, 152, 74, 16, 24);
    const bool foot = in_ellipse(x, y, 96, 214, 22, 12) || in_ellipse(x, y, 160, 214, 22, 12);
    if (leaf) c = {80 + (y - 50) / 2, 160 + (x % 7), 60, true};
    if (foot) c = {46, 92, 40, true};
    if (in_ellipse(x, y, 128, 148, 84, 70)) {
        const long dx = x - 128, dy = y - 148;
        const long t = (dx * dx * 1024) / (84 * 84) + (dy * dy * 1024) / (70 * 70);
        const int light = static_cast<int>(1024 - t) / 10 - static_cast<int>(dx + dy) / 3;
        const bool moss = value_noise(13, x, y, 5) > 160;
        c = {60 + light / 3, 120 + light / 2, 45 + light / 5, true};
        if (moss) c = {c.r - 18, c.g - 10, c.b - 12, true};
        if (in_circle(x, y, 100, 128, 17) || in_circle(x, y, 156, 128, 17)) c = {236, 234, 218, true};
        if (in_circle(x, y, 103, 131, 7) || in_circle(x, y, 159, 131, 7)) c = {22, 20, 30, true};
        if (in_circle(x, y, 97, 124, 3) || in_circle(x, y, 153, 124, 3)) c = {255, 255, 250, true};
        const long mx = x - 128, my = y - 150;
        const long d2 = mx * mx + my * my;
        if (y > 168 && d2 > 27 * 27 && d2 < 32 * 32) c = {38, 52, 30, true};
    }
    c.r = clamp_int(c.r, 0, 255);
    c.g = clamp_int(c.g, 0, 255);
    c.b = clamp_int(c.b, 0, 255);
    return c;
}
