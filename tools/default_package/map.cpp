// The first area's tile map: a text header, four 128 x 128 layers of 16-bit
// tiles (floor, walls, decoration, collision), and a table of entities.
#include "tools/default_package/generator.h"

namespace {

const int Side = 128;

struct Layers {
    uint16_t floor[Side][Side], walls[Side][Side], decor[Side][Side], solid[Side][Side];
};

// Water, shore, grass and heath, a winding road, and houses with a door each.
void lay_out(Rng& r, Layers& map)
{
    for (int y = 0; y < Side; y++)
        for (int x = 0; x < Side; x++) {
            int n = value_noise(21, x, y, 24), road = 63 + (int_sine(uint32_t(x * 700)) >> 12);
            map.floor[y][x] = y >= road && y < road + 3 ? 30 : n < 70 ? 40 : n < 90 ? 41 : n < 170 ? 1 + chance(r, 4) : 3;
            map.decor[y][x] = map.floor[y][x] <= 3 && chance(r, 3) ? uint16_t(300 + below(r, 6)) : 0;
            map.solid[y][x] = map.floor[y][x] == 40 || (map.decor[y][x] >= 300 && map.decor[y][x] < 303);
        }
    for (int house = 0; house < 14; house++) {
        int w = between(r, 6, 14), h = between(r, 5, 10);
        int x0 = between(r, 2, Side - w - 3), y0 = between(r, 2, Side - h - 3);
        for (int y = y0; y <= y0 + h; y++)
            for (int x = x0; x <= x0 + w; x++) {
                bool edge_x = x == x0 || x == x0 + w, edge_y = y == y0 || y == y0 + h;
                map.floor[y][x] = uint16_t(100 + house % 4);
                map.decor[y][x] = !edge_x && !edge_y && chance(r, 8) ? uint16_t(320 + below(r, 9)) : 0;
                map.walls[y][x] = edge_x && edge_y ? 203 : edge_x ? 202 : edge_y ? 201 : 0;
                map.solid[y][x] = map.walls[y][x] != 0 && !(y == y0 + h && x == x0 + w / 2);
            }
    }
}

}  // namespace

Bytes tile_map(size_t size)
{
    static const char* const Kinds[] = {"torch", "lantern", "chest", "sign", "mossling", "fenhound",
                                        "murkfly", "barrel", "crate", "well", "trigger", "sound"};
    static Layers map = {};
    Rng r = seeded("wendle");
    lay_out(r, map);
    const size_t layers_end = 512 + sizeof map, entities = (size - layers_end - 16) / 32;
    Bytes b = bytes_of("QMAP 2\nname = Wendle Crossing\nauthor = " + person_name(r) +
                       "\nwidth = 128\nheight = 128\ntile_size = 32\nlayers = floor walls decor collision\n"
                       "layer_format = u16le\ntileset = dravik/tiles/marsh.til\nmusic = MU_3\n"
                       "spawn = 12 97\nentity_size = 32\nentities = " + std::to_string(entities) + "\nend\n");
    pad_to(b, 512);
    for (const auto* layer : {&map.floor, &map.walls, &map.decor, &map.solid})
        for (const auto& row : *layer)
            for (uint16_t tile : row)
                put16(b, tile);
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
