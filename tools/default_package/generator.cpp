#include "tools/default_package/generator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void die(const std::string& message)
{
    std::fprintf(stderr, "make-default-package: %s\n", message.c_str());
    std::exit(1);
}

void put8(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
}

void put16(Bytes& b, uint32_t v)
{
    put8(b, v);
    put8(b, v >> 8);
}

void put32(Bytes& b, uint32_t v)
{
    put16(b, v);
    put16(b, v >> 16);
}

void put_text(Bytes& b, std::string_view s)
{
    b.insert(b.end(), s.begin(), s.end());
}

void put_fixed(Bytes& b, std::string_view s, size_t width)
{
    put_text(b, s.substr(0, width));
    b.resize(b.size() + width - std::min(width, s.size()));
}

void pad_to(Bytes& b, size_t size)
{
    if (b.size() < size)
        b.resize(size);
}

void align_to(Bytes& b, size_t alignment, uint8_t fill)
{
    b.resize((b.size() + alignment - 1) / alignment * alignment, fill);
}

Bytes bytes_of(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

Rng seeded(std::string_view tag)
{
    uint64_t h = 0xCBF29CE484222325ull;   // FNV-1a
    for (char c : tag)
        h = (h ^ uint8_t(c)) * 0x100000001B3ull;
    return Rng{h};
}

uint32_t next32(Rng& r)
{
    uint64_t z = r.state += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return uint32_t((z ^ (z >> 31)) >> 32);
}

uint32_t below(Rng& r, uint32_t n)
{
    return uint32_t((uint64_t(next32(r)) * n) >> 32);
}

int between(Rng& r, int low, int high)
{
    return low + int(below(r, uint32_t(high - low + 1)));
}

bool chance(Rng& r, uint32_t percent)
{
    return below(r, 100) < percent;
}

int value_noise(uint32_t seed, int x, int y, int cell)
{
    auto lattice = [seed](int corner_x, int corner_y) {
        Rng r{uint64_t(seed) << 40 ^ uint64_t(uint32_t(corner_x)) << 20 ^ uint32_t(corner_y)};
        return int(next32(r) & 255);
    };
    int cx = x / cell, cy = y / cell, fx = x % cell, fy = y % cell;
    int top = lattice(cx, cy) * (cell - fx) + lattice(cx + 1, cy) * fx;
    int bottom = lattice(cx, cy + 1) * (cell - fx) + lattice(cx + 1, cy + 1) * fx;
    return (top * (cell - fy) + bottom * fy) / (cell * cell);
}

// Bhaskara's rational approximation, on each half wave.
int int_sine(uint32_t phase)
{
    int64_t x = phase & 0x7FFF, half = 0x8000;
    int v = int(16 * x * (half - x) * 32767 / (5 * half * half - 4 * x * (half - x)));
    return (phase & 0x8000) ? -v : v;
}
