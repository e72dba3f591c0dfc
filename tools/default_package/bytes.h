// Byte buffers, the helpers that write numbers and text into them, and the
// one way the generator fails.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] inline void die(const std::string& message) {
    std::fprintf(stderr, "make-default-package: %s\n", message.c_str());
    std::exit(1);
}

inline void put8(Bytes& b, std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v & 0xFFu)); }
inline void put16(Bytes& b, std::uint32_t v) {
    put8(b, v);
    put8(b, v >> 8);
}
inline void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFFu);
    put16(b, v >> 16);
}
inline void put64(Bytes& b, std::uint64_t v) {
    put32(b, static_cast<std::uint32_t>(v));
    put32(b, static_cast<std::uint32_t>(v >> 32));
}
inline void put32_be(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) put8(b, v >> shift);
}
inline void put_s16(Bytes& b, int v) { put16(b, static_cast<std::uint32_t>(v) & 0xFFFFu); }
inline void put_s32(Bytes& b, int v) { put32(b, static_cast<std::uint32_t>(v)); }

inline void put_text(Bytes& b, std::string_view s) {
    for (char c : s) put8(b, static_cast<unsigned char>(c));
}
inline void put_textz(Bytes& b, std::string_view s) {
    put_text(b, s);
    put8(b, 0);
}
inline void put_fixed(Bytes& b, std::string_view s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) put8(b, i < s.size() ? static_cast<unsigned char>(s[i]) : 0u);
}
inline void put_utf16z(Bytes& b, std::string_view s) {
    for (char c : s) put16(b, static_cast<unsigned char>(c));
    put16(b, 0);
}
inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline std::size_t align_up(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }
inline void pad_to(Bytes& b, std::size_t size, std::uint8_t fill = 0) {
    if (b.size() < size) b.resize(size, fill);
}
inline void align_to(Bytes& b, std::size_t a, std::uint8_t fill = 0) { pad_to(b, align_up(b.size(), a), fill); }

inline void poke16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFFu);
    b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFFu);
}
inline void poke32(Bytes& b, std::size_t at, std::uint32_t v) {
    poke16(b, at, v & 0xFFFFu);
    poke16(b, at + 2, v >> 16);
}
inline void poke64(Bytes& b, std::size_t at, std::uint64_t v) {
    poke32(b, at, static_cast<std::uint32_t>(v));
    poke32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// Sizes and offsets in the files' 32-bit fields.
inline std::uint32_t u32(std::size_t v) { return static_cast<std::uint32_t>(v); }

inline Bytes to_bytes(std::string_view s) {
    Bytes b;
    put_text(b, s);
    return b;
}
