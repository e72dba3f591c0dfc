// The first area's tile map: a text header, four 128 x 128 layers of 16-bit
// tiles (floor, walls, decoration, collision), and a table of entities.
#include "tools/default_package/generator.h"

namespace {

const int Side = 128;

// Water, shore, grass and heath along a winding road, with houses of
// walls around a tiled floor: the tile of one layer at one place.
uint32_t tile(int layer, int x, int y)
{
    int n = value_noise(21, x, y, 24), road = 63 + (int_sine(uint32_t(x * 700)) >> 12), spot = value_noise(22, x, y, 1);
    bool house = value_noise(23, x / 12, y / 9, 1) < 40, edge = x % 12 == 0 || y % 9 == 0;
    uint32_t floor = y >= road && y < road + 3 ? 30 : house ? 100 + uint32_t(x / 12 % 4) : n < 70 ? 40 : n < 90 ? 41
                   : n < 170 ? 1 + (spot < 10) : 3;
    uint32_t wall = house && edge ? (x % 12 == 0 && y % 9 == 0 ? 203 : x % 12 == 0 ? 202 : 201) : 0;
    uint32_t decor = floor <= 3 && spot > 248 ? 300 + uint32_t(spot % 6) : house && !edge && spot < 20 ? 320 : 0;
    uint32_t tiles[] = {floor, wall, decor, floor == 40 || wall || (decor >= 300 && decor < 303)};
    return tiles[layer];
}

}  // namespace

Bytes tile_map(size_t size)
{
    static const char* const Kinds[] = {"torch", "lantern", "chest", "sign", "mossling", "fenhound",
                                        "murkfly", "barrel", "crate", "well", "trigger", "sound"};
    Rng r = seeded("wendle");
    const size_t layers_end = 512 + 4 * Side * Side * 2, entities = (size - layers_end - 16) / 32;
    Bytes b = bytes_of("QMAP 2\nname = Wendle Crossing\nauthor = " + person_name(r) +
                       "\nwidth = 128\nheight = 128\ntile_size = 32\nlayers = floor walls decor collision\n"
                       "layer_format = u16le\ntileset = dravik/tiles/marsh.til\nmusic = MU_3\n"
                       "spawn = 12 97\nentity_size = 32\nentities = " + std::to_string(entities) + "\nend\n");
    pad_to(b, 512);
    for (int layer = 0; layer < 4; layer++)
        for (int y = 0; y < Side; y++)
            for (int x = 0; x < Side; x++)
                put16(b, tile(layer, x, y));
    put_text(b, "ENTS");
    put32(b, uint32_t(entities));
    pad_to(b, layers_end + 16);
    for (size_t i = 0; i < entities; i++) {   // x, y, kind, skill, angle, tag, argument, name
        uint32_t kind = below(r, 12);
        for (uint32_t v : {16 + 32 * below(r, Side), 16 + 32 * below(r, Side), kind + 1, chance(r, 70) ? 7 : below(r, 8),
                           45 * below(r, 8), chance(r, 85) ? 0 : below(r, 40)})
            put16(b, v);
        put32(b, chance(r, 60) ? 0 : below(r, 1000));
        put_fixed(b, std::string(Kinds[kind]) + "_" + std::to_string(i + 1), 16);
    }
    pad_to(b, size);
    return b;
}
