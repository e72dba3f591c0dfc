// Deterministic randomness and integer noise. Every file maker draws from
// these alone, so the package comes out the same on every host and compiler.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

struct Rng {
    std::uint64_t state;
};

// splitmix64: tiny, fast and identical on every platform.
inline std::uint64_t next_u64(Rng& r) {
    r.state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = r.state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline std::uint32_t next_u32(Rng& r) { return static_cast<std::uint32_t>(next_u64(r) >> 32); }

// Multiply-shift instead of std:: distributions, whose output differs
// between standard library implementations.
inline std::uint32_t below(Rng& r, std::uint32_t n) {
    return static_cast<std::uint32_t>((std::uint64_t{next_u32(r)} * n) >> 32);
}

inline int between(Rng& r, int lo, int hi) {
    return lo + static_cast<int>(below(r, static_cast<std::uint32_t>(hi - lo + 1)));
}

inline std::size_t between_z(Rng& r, std::size_t lo, std::size_t hi) {
    return lo + below(r, static_cast<std::uint32_t>(hi - lo + 1));
}

inline bool chance(Rng& r, std::uint32_t percent) { return below(r, 100) < percent; }

// Each file gets its own stream so that changing one generator leaves the
// bytes of all the others untouched.
inline Rng seeded(std::string_view tag) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (char c : tag) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ull;
    }
    return Rng{h};
}

template <typename T, std::size_t N>
const T& pick(Rng& r, const T (&items)[N]) {
    return items[below(r, static_cast<std::uint32_t>(N))];
}

// Position-keyed noise, so pictures do not depend on drawing order.
inline std::uint32_t lattice(std::uint32_t seed, int x, int y) {
    Rng r{(std::uint64_t{seed} << 40) ^
          (std::uint64_t{static_cast<std::uint32_t>(x)} << 20) ^ static_cast<std::uint32_t>(y)};
    return next_u32(r);
}

// Bilinear value noise in 0..255; integer only so results never depend on libm.
inline int value_noise(std::uint32_t seed, int x, int y, int cell) {
    const int cx = x / cell, cy = y / cell, fx = x % cell, fy = y % cell;
    const int a = static_cast<int>(lattice(seed, cx, cy) & 255u);
    const int b = static_cast<int>(lattice(seed, cx + 1, cy) & 255u);
    const int c = static_cast<int>(lattice(seed, cx, cy + 1) & 255u);
    const int d = static_cast<int>(lattice(seed, cx + 1, cy + 1) & 255u);
    const int top = a * (cell - fx) + b * fx;
    const int bottom = c * (cell - fx) + d * fx;
    return (top * (cell - fy) + bottom * fy) / (cell * cell);
}

// Sine with a 16-bit phase and a +-32767 result (Bhaskara's rational
// approximation); libm's sin may round differently between machines.
inline int isin(std::uint32_t phase) {
    phase &= 0xFFFFu;
    const bool negative = phase >= 0x8000u;
    const std::int64_t x = phase & 0x7FFFu;
    const std::int64_t p = 0x8000;
    const std::int64_t num = 16 * x * (p - x);
    const std::int64_t den = 5 * p * p - 4 * x * (p - x);
    const int v = static_cast<int>(num * 32767 / den);
    return negative ? -v : v;
}

inline int clamp_int(int v, int lo, int hi) { return std::min(hi, std::max(lo, v)); }
