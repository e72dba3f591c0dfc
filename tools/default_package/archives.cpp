// The game's data archives (WAD files): palettes, textures, levels, scripts,
// music, sounds and packed lumps, in a directory at the end.
#include <algorithm>

#include "tools/common/deflate.h"
#include "tools/default_package/document.h"
#include "tools/default_package/package_files.h"
#include "tools/default_package/words.h"

namespace {

struct Lump {
    std::string name;
    Bytes data;
};

std::string lump_name(std::string_view stem, int number) {
    std::string n = std::to_string(number);
    return std::string(stem.substr(0, 8 - n.size())) + n;
}

// 16 colour ramps of 16 shades, the usual layout of a paletted game.
const int kRampColours[16][3] = {
    {200, 200, 200}, {140, 90, 60},  {170, 60, 40},  {90, 130, 60},  {60, 100, 40},  {110, 110, 130},
    {150, 130, 90},  {60, 80, 140},  {190, 160, 60}, {120, 70, 110}, {80, 140, 140}, {200, 120, 60},
    {100, 80, 60},   {160, 170, 120}, {70, 70, 80},  {230, 210, 170},
};

Bytes palette_lump() {
    Bytes b;
    static constexpr int kTints[4][3] = {{0, 0, 0}, {60, -20, -20}, {-10, 40, -10}, {30, 30, 30}};
    for (const auto& tint : kTints)
        for (const auto& ramp : kRampColours)
            for (int shade = 0; shade < 16; ++shade)
                for (int ch = 0; ch < 3; ++ch)
                    put8(b, static_cast<std::uint32_t>(clamp_int(ramp[ch] * (shade + 2) / 14 + tint[ch], 0, 255)));
    return b;
}

Bytes colormap_lump() {
    Bytes b;
    for (int level = 0; level < 32; ++level)
        for (int index = 0; index < 256; ++index) {
            const int shade = index % 16;
            put8(b, static_cast<std::uint32_t>(index - shade + shade * (32 - level) / 32));
        }
    return b;
}

int texture_shade(Rng& r, int style, std::uint32_t seed, int x, int y) {
    const int grain = static_cast<int>(below(r, 3)) - 1;
    switch (style) {
    case 0: {  // bricks
        const int row = y / 16, bx = x + (row % 2) * 16;
        if (y % 16 == 0 || bx % 32 == 0) return 3 + grain;
        return 8 + static_cast<int>(lattice(seed, bx / 32, row) % 5) - 2 + (y % 16 == 1 ? 2 : 0) + grain;
    }
    case 1: {  // planks
        const int board = x / 16;
        const int wave = isin(static_cast<std::uint32_t>(y * 900) + lattice(seed, board, 0)) >> 13;
        return 8 + wave + (x % 16 == 0 ? -4 : 0) + grain;
    }
    case 2:  // rough stone
        return 3 + value_noise(seed, x, y, 16) * 9 / 256 + value_noise(seed + 1, x, y, 4) / 96 + grain;
    case 3:  // riveted metal
        if (x % 64 == 0 || y % 64 == 0) return 2;
        if (x % 32 >= 3 && x % 32 <= 5 && y % 32 >= 3 && y % 32 <= 5) return 14;
        return 5 + y * 6 / 128 + (grain > 0 ? 1 : 0);
    default:  // moss
        return 4 + value_noise(seed, x, y, 8) * 8 / 256 + (chance(r, 10) ? 3 : 0) + grain;
    }
}

Bytes texture_pixels(Rng& r, int w, int h) {
    Bytes b;
    const int style = static_cast<int>(below(r, 5));
    const std::uint32_t ramp = below(r, 16), seed = next_u32(r);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            put8(b, ramp * 16 + static_cast<std::uint32_t>(clamp_int(texture_shade(r, style, seed, x, y), 0, 15)));
    return b;
}

Bytes texture_lump(Rng& r) {
    static constexpr int kSizes[][2] = {{64, 64}, {64, 64}, {64, 128}, {128, 128}, {128, 64}, {32, 32}, {256, 128}};
    const auto& size = pick(r, kSizes);
    Bytes b;
    put16(b, static_cast<std::uint32_t>(size[0]));
    put16(b, static_cast<std::uint32_t>(size[1]));
    put_s16(b, size[0] / 2);
    put_s16(b, size[1] - 4);
    append(b, texture_pixels(r, size[0], size[1]));
    return b;
}

// Integer synthesis: oscillators, noise and a linear attack/decay envelope.
Bytes sound_samples(Rng& r, std::size_t samples, std::uint32_t rate) {
    Bytes b;
    const std::uint32_t kind = below(r, 5);
    const int f0 = between(r, 70, 1200), f1 = kind == 1 ? between(r, 60, 2400) : f0;
    const int noise = kind == 2 ? 9000 : between(r, 900, 3500);
    const int tone = kind == 2 ? 6000 : between(r, 9000, 20000);
    const std::size_t attack = std::max<std::size_t>(1, samples / between_z(r, 8, 60));
    std::uint32_t phase = 0, mod_phase = 0;
    int low = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const auto f = static_cast<std::uint64_t>(f0 + static_cast<std::int64_t>(f1 - f0) * static_cast<std::int64_t>(i) /
                                                           static_cast<std::int64_t>(samples));
        phase += static_cast<std::uint32_t>((f << 32) / rate);
        mod_phase += static_cast<std::uint32_t>((f << 31) / rate);
        std::uint32_t p = phase >> 16;
        if (kind == 3) p += static_cast<std::uint32_t>(isin(mod_phase >> 16) / 4);  // growl: phase modulation
        int wave = isin(p) + isin(p * 2) / 3;
        if (kind == 0 && i > samples / 2) wave = isin(p * 3 / 2);  // two-note chime
        if (kind == 4 && (i / (rate / 8)) % 2 == 1) wave = 0;      // footsteps
        const int white = static_cast<int>(next_u32(r) >> 16) - 32768;
        low += (white - low) / 4;
        const int env = static_cast<int>(i < attack ? i * 1024 / attack : (samples - i) * 1024 / (samples - attack + 1));
        const int v = (wave * tone / 32767 + low * noise / 16384) * env / 1024;
        put_s16(b, clamp_int(v, -32768, 32767));
    }
    return b;
}

Bytes sound_lump(Rng& r, std::size_t samples) {
    Bytes b;
    const std::uint32_t rate = chance(r, 60) ? 11025u : 22050u;
    put16(b, 1);
    put16(b, 1);
    put32(b, rate);
    put32(b, u32(samples));
    append(b, sound_samples(r, samples, rate));
    return b;
}

Bytes music_lump(Rng& r, std::size_t events) {
    static constexpr int kScale[] = {0, 3, 5, 7, 10, 12, 15, 17};
    Bytes b;
    put_text(b, "QMUS");
    put16(b, 8);
    put16(b, 96);
    put16(b, u32(static_cast<std::size_t>(between(r, 80, 140))));
    const int patterns = between(r, 3, 6);
    put16(b, static_cast<std::uint32_t>(patterns));
    put32(b, u32(events));
    std::vector<Bytes> bank;
    for (int p = 0; p < patterns; ++p) {
        Bytes pat;
        int step = between(r, 0, 7);
        for (int i = between(r, 24, 48); i > 0; --i) {
            step = clamp_int(step + between(r, -2, 2), 0, 7);
            const std::uint32_t channel = below(r, 3);
            put8(pat, chance(r, 30) ? 0u : 24u * (1u + below(r, 2)));
            put8(pat, 0x10u | channel);
            put8(pat, static_cast<std::uint32_t>(48 + 12 * static_cast<int>(channel) / 2 + kScale[step]));
            put8(pat, 64u + below(r, 48));
        }
        bank.push_back(pat);
    }
    const std::size_t end = b.size() + 4 * events;
    while (b.size() < end) {
        const Bytes& pat = bank[below(r, u32(bank.size()))];
        static constexpr int kTransposes[] = {0, 0, 5, 7, -2};
        const int transpose = pick(r, kTransposes);
        for (std::size_t i = 0; i + 3 < pat.size() && b.size() < end; i += 4) {
            put8(b, pat[i]);
            put8(b, pat[i + 1]);
            put8(b, static_cast<std::uint32_t>(pat[i + 2] + transpose));
            put8(b, static_cast<std::uint32_t>(pat[i + 3]) - below(r, 6));
        }
    }
    return b;
}

std::string script_text(Rng& r, std::size_t size, std::string_view eol) {
    Doc d{{}, size, eol};
    for (int room = between(r, 1, 40);; ++room) {
        std::vector<std::string> block{"room " + std::to_string(room) + " \"" +
                                       capitalise(expand(r, "{adj} {thing}")) + "\""};
        for (int h = between(r, 1, 3); h > 0; --h) {
            if (chance(r, 50)) block.push_back("  on enter");
            else {
                const std::string use = expand(r, "  on use {thing} ");
                block.push_back(use + std::to_string(between(r, 1, 60)));
            }
            for (int a = between(r, 1, 4); a > 0; --a) {
                switch (below(r, 5)) {
                case 0: block.push_back("    play sound \"" + lump_name("SN_", between(r, 1, 300)) + "\""); break;
                case 1: block.push_back("    set light " + std::to_string(16 * between(r, 2, 15))); break;
                case 2: {
                    const std::string door = "    open door " + std::to_string(between(r, 1, 90));
                    block.push_back(door + " speed " + std::to_string(between(r, 1, 4)));
                    break;
                }
                case 3: {
                    const std::string spawn = expand(r, "    spawn {creature} at ");
                    block.push_back(spawn + std::to_string(between(r, 1, 200)));
                    break;
                }
                default: block.push_back("    say \"" + game_sentence(r) + "\""); break;
                }
            }
            block.push_back("  end");
        }
        block.push_back("end");
        block.emplace_back();
        if (!add_block(d, block, 200)) break;
    }
    finish_doc(r, d, game_sentence, "# ", "# ");
    return d.text;
}

Bytes packed_lump(Rng& r) {
    Bytes raw;
    switch (below(r, 3)) {
    case 0:
        for (int i = between(r, 2, 6); i > 0; --i) append(raw, texture_pixels(r, 128, 64));
        break;
    case 1: append(raw, to_bytes(script_text(r, between_z(r, 12000, 40000), "\n"))); break;
    default: append(raw, sound_samples(r, between_z(r, 4000, 16000), 11025)); break;
    }
    Bytes b;
    put_text(b, "ZPK1");
    put32(b, u32(raw.size()));
    put32(b, crc32_ieee(0, raw.data(), raw.size()));
    append(b, zlib_compress(raw.data(), raw.size()));
    return b;
}

void add_level(Rng& r, std::vector<Lump>& lumps, int number) {
    struct Room {
        int x0, y0, x1, y1;
    };
    std::vector<Room> rooms;
    const int cols = between(r, 7, 10), rows = between(r, 7, 10);
    for (int gy = 0; gy < rows; ++gy)
        for (int gx = 0; gx < cols; ++gx)
            if (chance(r, 70)) {
                const int x0 = gx * 512 + 32 * between(r, 0, 4), y0 = gy * 512 + 32 * between(r, 0, 4);
                rooms.push_back({x0, y0, gx * 512 + 512 - 32 * between(r, 0, 4), gy * 512 + 512 - 32 * between(r, 0, 4)});
            }
    Bytes verts, lines, sectors, ents, nav;
    std::uint32_t vcount = 0;
    for (std::size_t s = 0; s < rooms.size(); ++s) {
        const Room& rm = rooms[s];
        const std::uint32_t first = vcount;
        auto vertex = [&](int x, int y) {
            put_s32(verts, x * 16);
            put_s32(verts, y * 16);
            ++vcount;
        };
        for (int x = rm.x0; x < rm.x1; x += 64) vertex(x, rm.y0);
        for (int y = rm.y0; y < rm.y1; y += 64) vertex(rm.x1, y);
        for (int x = rm.x1; x > rm.x0; x -= 64) vertex(x, rm.y1);
        for (int y = rm.y1; y > rm.y0; y -= 64) vertex(rm.x0, y);
        for (std::uint32_t v = first; v < vcount; ++v) {
            const bool door = chance(r, 6);
            put16(lines, v);
            put16(lines, v + 1 < vcount ? v + 1 : first);
            put16(lines, door ? 0x0004u : 0x0001u);
            put16(lines, u32(s));
            put16(lines, door ? below(r, u32(rooms.size())) : 0xFFFFu);
            put16(lines, below(r, 40));
            put16(lines, door ? below(r, 90) : 0u);
            put16(lines, 0);
        }
        const int floor = 8 * between(r, -8, 16);
        put_s16(sectors, floor);
        put_s16(sectors, floor + 8 * between(r, 16, 32));
        put16(sectors, below(r, 24));
        put16(sectors, below(r, 24));
        put8(sectors, 16u * (6u + below(r, 10)));
        put8(sectors, chance(r, 85) ? 0u : below(r, 12));
        put16(sectors, chance(r, 80) ? 0u : below(r, 90));
        for (int e = between(r, 2, 9); e > 0; --e) {
            put_s32(ents, (rm.x0 + 16 + static_cast<int>(below(r, u32(static_cast<std::size_t>(rm.x1 - rm.x0 - 32))))) * 16);
            put_s32(ents, (rm.y0 + 16 + static_cast<int>(below(r, u32(static_cast<std::size_t>(rm.y1 - rm.y0 - 32))))) * 16);
            put16(ents, 45u * below(r, 8));
            put16(ents, 1u + below(r, 60));
            put16(ents, 7);
            put16(ents, chance(r, 80) ? 0u : below(r, 90));
        }
    }
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            std::uint32_t cell = 0;
            for (const Room& rm : rooms)
                if (x * 80 >= rm.x0 && x * 80 < rm.x1 && y * 80 >= rm.y0 && y * 80 < rm.y1)
                    cell = (x * 80 - rm.x0 < 80 || rm.x1 - x * 80 <= 80) ? 2u : 1u;
            put8(nav, cell);
        }
    lumps.push_back({lump_name("LEVEL", number), {}});
    lumps.push_back({"VERTS", verts});
    lumps.push_back({"LINES", lines});
    lumps.push_back({"SECTS", sectors});
    lumps.push_back({"ENTS", ents});
    lumps.push_back({"NAV", nav});
}

std::size_t lumps_end(const std::vector<Lump>& lumps) {
    std::size_t off = 12;
    for (const auto& l : lumps) off = align_up(off, 4) + l.data.size();
    return align_up(off, 4);
}

// File size if `extra` more directory entries (and no more data) were added.
std::size_t wad_size(const std::vector<Lump>& lumps, std::size_t extra) {
    return lumps_end(lumps) + 16 * (lumps.size() + extra);
}

Bytes build_wad(const std::vector<Lump>& lumps) {
    Bytes b;
    put_text(b, "QWAD");
    put32(b, u32(lumps.size()));
    put32(b, 0);
    std::vector<std::size_t> offsets;
    for (const auto& l : lumps) {
        align_to(b, 4);
        offsets.push_back(b.size());
        append(b, l.data);
    }
    align_to(b, 4);
    poke32(b, 8, u32(b.size()));
    for (std::size_t i = 0; i < lumps.size(); ++i) {
        put32(b, u32(offsets[i]));
        put32(b, u32(lumps[i].data.size()));
        put_fixed(b, lumps[i].name, 8);
    }
    return b;
}

void add_until(std::vector<Lump>& lumps, std::size_t budget, const std::string& stem, Rng& r, Bytes (*make)(Rng&)) {
    const std::size_t start = lumps_end(lumps);
    for (int n = 1; lumps_end(lumps) - start < budget; ++n) lumps.push_back({lump_name(stem, n), make(r)});
}

Bytes script_lump(Rng& r) { return to_bytes(script_text(r, between_z(r, 1500, 9000), "\n")); }
Bytes music_lump_random(Rng& r) { return music_lump(r, between_z(r, 1500, 6000)); }

}  // namespace

Bytes make_wad(std::string_view tag, std::size_t total, const WadMix& mix) {
    Rng r = seeded(tag);
    std::vector<Lump> lumps{{"PALETTE", palette_lump()}, {"COLORMAP", colormap_lump()}};
    for (int level = 1; lumps_end(lumps) < total * mix.levels / 100; ++level) add_level(r, lumps, level);
    add_until(lumps, total * mix.scripts / 100, "SCR_", r, script_lump);
    lumps.push_back({"TX_START", {}});
    add_until(lumps, total * mix.textures / 100, "TX_", r, texture_lump);
    lumps.push_back({"TX_END", {}});
    if (mix.music > 0) add_until(lumps, total * mix.music / 100, "MU_", r, music_lump_random);
    add_until(lumps, total * mix.packed / 100, "ZP_", r, packed_lump);
    lumps.push_back({"SN_START", {}});
    constexpr std::size_t kCredits = 4096;
    constexpr std::size_t kLongestSound = 12 + 2 * 30000;
    int n = 1;
    while (wad_size(lumps, 4) + kLongestSound + kCredits + 64 < total)
        lumps.push_back({lump_name("SN_", n++), sound_lump(r, between_z(r, 2000, 30000))});
    // One last sound sized so that the credits text gets about kCredits bytes.
    const std::size_t room = total - wad_size(lumps, 3);
    if (room > kCredits + 12 + 64) lumps.push_back({lump_name("SN_", n), sound_lump(r, (room - kCredits - 12) / 2)});
    lumps.push_back({"SN_END", {}});
    const std::size_t credits = total - wad_size(lumps, 1);
    if (credits < 512 || wad_size(lumps, 1) > total) die("internal error: archive plan does not fit");
    Doc d{{}, credits, "\n"};
    add_line(d, "Quorvel data archive, build128");
    add_line(d, "");
    for (int i = between(r, 6, 10); i > 0; --i) add_line(d, "  " + person_name(r));
    add_line(d, "");
    finish_doc(r, d, game_sentence, "", "");
    lumps.push_back({"CREDITS", to_bytes(d.text)});
    return build_wad(lumps);
}
