// What every file maker of the default package shares: byte buffers, a
// random stream that is the same on every host and compiler, integer noise,
// text grown to an exact size, and the makers themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

[[noreturn]] void die(const std::string& message);

void put8(Bytes& b, uint32_t v);
void put16(Bytes& b, uint32_t v);
void put32(Bytes& b, uint32_t v);
void put_text(Bytes& b, std::string_view s);
// The text in exactly width bytes, cut or padded with zeros.
void put_fixed(Bytes& b, std::string_view s, size_t width);
void pad_to(Bytes& b, size_t size);
void align_to(Bytes& b, size_t alignment, uint8_t fill = 0);
Bytes bytes_of(std::string_view s);

// splitmix64; std:: distributions differ between standard libraries.
struct Rng {
    uint64_t state;
};

// Each file draws from a stream of its own, so that changing one maker
// leaves every other file's bytes as they were.
Rng seeded(std::string_view tag);
uint32_t next32(Rng& r);
uint32_t below(Rng& r, uint32_t n);
int between(Rng& r, int low, int high);
bool chance(Rng& r, uint32_t percent);

template <typename T, size_t N>
const T& pick(Rng& r, const T (&items)[N])
{
    return items[below(r, uint32_t(N))];
}

// Bilinear value noise in 0..255 over cells of the given size, by position
// only, so that a picture does not depend on the order it is drawn in.
int value_noise(uint32_t seed, int x, int y, int cell);
// Sine of a 16-bit phase, +-32767, in integers: libm may round differently.
int int_sine(uint32_t phase);

// texts.cpp: sentences of the made-up game, and text of an exact size.
std::string made_up_word(Rng& r, int syllables);
std::string person_name(Rng& r);
// The pattern with each {tag} replaced by a random word or phrase of that
// kind ({game}, {change} and {law} are whole sentences); {num} is a number.
std::string expand(Rng& r, std::string_view pattern);
std::string sentence(Rng& r, std::string_view pattern);
// Lines of sentences wrapped at 72 columns and cut to exactly size bytes
// (more than eol's); every line starts with indent and ends in eol.
std::string text_of_size(Rng& r, size_t size, std::string_view eol, std::string_view indent = "",
                         std::string_view pattern = "{game}");
// The licence, the change log, the instructions and the readme, by which.
Bytes text_file(int which, size_t size);

// The makers of the binary files, each to exactly the size given.
struct Program {
    const char* tag;                  // seeds its random stream
    size_t size;
    bool library;
    unsigned code_percent;            // of the file; data takes 3 %, read-only data the rest
};
Bytes windows_program(const Program& program);
struct WadMix {
    unsigned textures, levels, scripts, music, packed;   // percent of the file; sounds take the rest
};
Bytes wad(std::string_view tag, size_t size, const WadMix& mix);
Bytes desktop_picture(size_t size);
Bytes tile_map(size_t size);
