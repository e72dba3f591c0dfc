// The mossling, the creature drawn on the game's icons and desktop picture.
#pragma once

// An 8-bit colour, and whether the point is on the creature (opaque in icons).
struct Rgb {
    int r = 0, g = 0, b = 0;
    bool creature = false;
};

// The mossling, on a 256x256 canvas: a round green creature with leaf ears,
// big eyes and a mossy coat, standing in a marsh at dusk.
Rgb mossling_pixel(int x, int y);
