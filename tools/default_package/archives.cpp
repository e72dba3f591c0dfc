// The game's data archives (WAD files): a palette, levels, scripts,
// textures, music, packed lumps and sounds, and their directory at the end.
#include <algorithm>

#include "tools/common/deflate.h"
#include "tools/default_package/generator.h"

namespace {

struct Lump {
    std::string name;
    Bytes data;
};

// 16 colour ramps of 16 shades, the usual layout of a paletted game.
Bytes palette()
{
    Bytes b;
    for (int ramp = 0; ramp < 16; ramp++)
        for (int shade = 0; shade < 16; shade++)
            for (int c = 0; c < 3; c++)
                put8(b, uint32_t(std::min((60 + (ramp * 37 + c * 71) % 170) * (shade + 2) / 14, 255)));
    return b;
}

// Palette indices of one ramp, bricks, planks, rough stone or moss, after
// a header of the size and origin.
Bytes texture(Rng& r, int w, int h)
{
    int style = int(below(r, 4)), ramp = int(below(r, 16));
    uint32_t seed = next32(r);
    Bytes b;
    for (int v : {w, h, w / 2, h - 4})
        put16(b, uint32_t(v));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int grain = chance(r, 45) ? int(below(r, 3)) - 1 : 0, bx = x + (y / 16 % 2) * 16, shade;
            if (style == 0)
                shade = y % 16 == 0 || bx % 32 == 0 ? 3 : 8 + value_noise(seed, bx / 32 * 8, y / 16 * 8, 8) % 5;
            else if (style == 1)
                shade = (x % 16 == 0 ? 4 : 8) + (int_sine(uint32_t(y * 900 + x / 16 * 7919)) >> 13);
            else
                shade = 3 + value_noise(seed, x, y, style == 2 ? 16 : 8) * 9 / 256 + (style == 3 && chance(r, 10) ? 3 : 0);
            put8(b, uint32_t(ramp * 16 + std::clamp(shade + grain, 0, 15)));
        }
    return b;
}

// A header, then 16-bit samples of a tone sweeping between two pitches with
// filtered noise under it, in a linear attack and decay.
Bytes sound(Rng& r, size_t samples)
{
    uint32_t rate = chance(r, 60) ? 11025 : 22050, phase = 0;
    int from = between(r, 70, 1200), to = chance(r, 30) ? between(r, 60, 2400) : from;
    int noise = between(r, 900, 3500), tone = between(r, 9000, 20000), low = 0;
    size_t attack = samples / size_t(between(r, 8, 60)) + 1;
    Bytes b;
    for (uint32_t v : {0x10001u, rate, uint32_t(samples)})   // format, channels, rate, count
        put32(b, v);
    for (size_t i = 0; i < samples; i++) {
        int64_t pitch = from + int64_t(to - from) * int64_t(i) / int64_t(samples);
        phase += uint32_t((uint64_t(pitch) << 32) / rate);
        int wave = int_sine(phase >> 16) + int_sine(phase >> 15) / 3;
        low += (int(next32(r) >> 16) - 32768 - low) / 4;
        int envelope = int(i < attack ? i * 1024 / attack : (samples - i) * 1024 / (samples - attack + 1));
        put16(b, uint32_t(std::clamp((wave * tone / 32767 + low * noise / 16384) * envelope / 1024, -32768, 32767)));
    }
    return b;
}

// Note events (delay, channel, pitch, velocity): a walk over a scale,
// played again and again with a transposition and a varying touch.
Bytes music(Rng& r)
{
    static const uint32_t Scale[] = {0, 3, 5, 7, 10, 12, 15, 17};
    Bytes b = bytes_of("QMUS"), pattern;
    for (int i = between(r, 48, 144), step = 0; i > 0; i--) {
        step = std::clamp(step + between(r, -2, 2), 0, 7);
        uint32_t channel = below(r, 3);
        for (uint32_t v : {chance(r, 30) ? 0 : 24 * (1 + below(r, 2)), 0x10 | channel, 48 + 6 * channel + Scale[step]})
            put8(pattern, v);
    }
    for (size_t end = size_t(between(r, 6000, 24000)); b.size() < end;)
        for (uint32_t i = 0, transpose = chance(r, 50) ? 0 : below(r, 8); i < pattern.size(); i += 3)
            for (uint32_t v : {uint32_t(pattern[i]), uint32_t(pattern[i + 1]), pattern[i + 2] + transpose, 64 + 4 * below(r, 12)})
                put8(b, v);
    return b;
}

// Rooms with their handlers, then a comment that brings it to size.
std::string script(Rng& r, size_t size)
{
    std::string text;
    for (int room = between(r, 1, 40);; room++) {
        std::string block = "room " + std::to_string(room) + "\n";
        for (int handler = between(r, 1, 3); handler > 0; handler--) {
            block += chance(r, 50) ? "  on enter\n" : "  on use " + std::to_string(between(r, 1, 60)) + "\n";
            for (int line = between(r, 1, 4); line > 0; line--)
                block += "    " + expand(r, "{script}") + "\n";
            block += "  end\n";
        }
        if (text.size() + block.size() + 300 > size)
            return text + text_of_size(r, size - text.size(), "\n", "# ");
        text += block + "end\n\n";
    }
}

// Data already compressed by the game's own packer: a header, then a zlib stream.
Bytes packed(Rng& r)
{
    Bytes raw;
    for (int i = between(r, 2, 6), kind = int(below(r, 3)); i > 0; i--) {
        Bytes part = kind == 0 ? texture(r, 128, 64)
                   : kind == 1 ? bytes_of(script(r, size_t(between(r, 4000, 12000))))
                               : sound(r, size_t(between(r, 2000, 6000)));
        raw.insert(raw.end(), part.begin(), part.end());
    }
    Bytes b = bytes_of("ZPK1");
    put32(b, uint32_t(raw.size()));
    put32(b, crc32_ieee(0, raw.data(), raw.size()));
    Bytes stream = zlib_compress(raw.data(), raw.size());
    b.insert(b.end(), stream.begin(), stream.end());
    return b;
}

// A level: per room its floor, ceiling and light, its corners, the walls
// between them, and the things standing in it.
Bytes level(Rng& r)
{
    Bytes b;
    for (uint32_t room = 0; room < 80; room++) {
        int x0 = int(room % 9) * 512 + 32 * between(r, 0, 4), y0 = int(room / 9) * 512 + 32 * between(r, 0, 4);
        int x1 = x0 + 32 * between(r, 8, 14), y1 = y0 + 32 * between(r, 8, 14), floor = 8 * between(r, -8, 16);
        for (uint32_t v : {uint32_t(floor), uint32_t(floor + 8 * between(r, 16, 32)), 16 * (6 + below(r, 10))})
            put16(b, v);
        for (uint32_t i = 0; i < 16; i++) {
            put32(b, uint32_t(16 * (i / 4 % 3 == 0 ? x0 + (x1 - x0) * int(i % 4) / 4 : i < 8 ? x1 : x0)));
            put32(b, uint32_t(16 * (i < 4 ? y0 : i < 12 ? y0 + (y1 - y0) * int(i % 4) / 4 : y1)));
            for (uint32_t v : {i, (i + 1) % 16, chance(r, 6) ? below(r, 90) : 0xFFFF, below(r, 40)})
                put16(b, v);
        }
        for (int e = between(r, 2, 9); e > 0; e--)
            for (uint32_t v : {uint32_t(16 * between(r, x0, x1)), uint32_t(16 * between(r, y0, y1)), 45 * below(r, 8),
                               1 + below(r, 60), chance(r, 80) ? 0 : below(r, 90)})
                put32(b, v);
    }
    return b;
}

// WAD format notes: "QWAD", the lump count and the directory's offset; the
// lumps, each 4-aligned; then per lump its offset, size and 8-byte name.
size_t wad_size(const std::vector<Lump>& lumps, size_t more_entries)
{
    size_t at = 12;
    for (const Lump& lump : lumps)
        at = (at + 3) / 4 * 4 + lump.data.size();
    return (at + 3) / 4 * 4 + 16 * (lumps.size() + more_entries);
}

Bytes wad_file(const std::vector<Lump>& lumps)
{
    Bytes b = bytes_of("QWAD"), directory;
    put32(b, uint32_t(lumps.size()));
    put32(b, uint32_t(wad_size(lumps, 0) - 16 * lumps.size()));
    for (const Lump& lump : lumps) {
        align_to(b, 4);
        put32(directory, uint32_t(b.size()));
        put32(directory, uint32_t(lump.data.size()));
        put_fixed(directory, lump.name, 8);
        b.insert(b.end(), lump.data.begin(), lump.data.end());
    }
    align_to(b, 4);
    b.insert(b.end(), directory.begin(), directory.end());
    return b;
}

// Lumps from make until they take up share percent of size.
void add_share(Rng& r, std::vector<Lump>& lumps, size_t size, unsigned share, const std::string& stem,
               Bytes (*make)(Rng&))
{
    for (size_t end = wad_size(lumps, 0) + size * share / 100, n = 1; wad_size(lumps, 0) < end; n++)
        lumps.push_back({stem + std::to_string(n), make(r)});
}

}  // namespace

Bytes wad(std::string_view tag, size_t size, const WadMix& mix)
{
    const size_t CreditsSize = 4096, LongestSound = 12 + 2 * 30000;
    Rng r = seeded(tag);
    std::vector<Lump> lumps = {{"PALETTE", palette()}};
    add_share(r, lumps, size, mix.levels, "LEVEL", level);
    add_share(r, lumps, size, mix.scripts, "SCR_", [](Rng& s) { return bytes_of(script(s, size_t(between(s, 1500, 9000)))); });
    lumps.push_back({"TX_START", {}});
    add_share(r, lumps, size, mix.textures, "TX_", [](Rng& s) {
        static const int Sizes[][2] = {{64, 64}, {64, 128}, {128, 128}, {128, 64}, {32, 32}, {256, 128}};
        const auto& side = pick(s, Sizes);
        return texture(s, side[0], side[1]);
    });
    lumps.push_back({"TX_END", {}});
    add_share(r, lumps, size, mix.music, "MU_", music);
    add_share(r, lumps, size, mix.packed, "ZP_", packed);
    lumps.push_back({"SN_START", {}});
    for (int n = 1;; n++) {
        size_t room = size - wad_size(lumps, 3) - CreditsSize;
        bool last = room < LongestSound + 64;
        lumps.push_back({"SN_" + std::to_string(n), sound(r, last ? (room - 12) / 2 : size_t(between(r, 2000, 30000)))});
        if (last)
            break;
    }
    lumps.push_back({"SN_END", {}});
    std::string credits = "Quorvel data archive, build128\n\n";
    credits += text_of_size(r, size - wad_size(lumps, 1) - credits.size(), "\n");
    lumps.push_back({"CREDITS", bytes_of(credits)});
    return wad_file(lumps);
}
