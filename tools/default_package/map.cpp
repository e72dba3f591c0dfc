// The first area's tile map: four 128 x 128 layers of tiles and a list of
// entities, after a text header.
#include "tools/default_package/package_files.h"
#include "tools/default_package/words.h"

Bytes make_map(std::size_t total) {
    constexpr int kW = 128, kH = 128;
    constexpr std::size_t kLayerBytes = kW * kH * 2;
    Rng r = seeded("wendle");
    std::vector<std::uint16_t> floor(kW * kH), walls(kW * kH, 0), decor(kW * kH, 0), solid(kW * kH, 0);
    auto at = [](int x, int y) { return static_cast<std::size_t>(y * kW + x); };
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const int n = value_noise(21, x, y, 24);
            std::uint16_t tile = n < 70 ? 40 : n < 90 ? 41 : n < 170 ? 1 : 3;  // water, shore, grass, heath
            if (tile == 1 && chance(r, 4)) tile = 2;
            floor[at(x, y)] = tile;
            if (tile <= 3 && chance(r, 3)) decor[at(x, y)] = static_cast<std::uint16_t>(300 + below(r, 6));
            if (tile == 40 || (decor[at(x, y)] >= 300 && decor[at(x, y)] < 303)) solid[at(x, y)] = 1;
        }
    for (int x = 0; x < kW; ++x) {  // the road through the crossing
        const int y = 64 + (isin(static_cast<std::uint32_t>(x * 700)) >> 12);
        for (int dy = -1; dy <= 1; ++dy) {
            floor[at(x, y + dy)] = 30;
            decor[at(x, y + dy)] = 0;
            solid[at(x, y + dy)] = 0;
        }
    }
    for (int house = 0; house < 14; ++house) {
        const int w = between(r, 6, 14), h = between(r, 5, 10);
        const int x0 = between(r, 2, kW - w - 3), y0 = between(r, 2, kH - h - 3);
        for (int y = y0; y <= y0 + h; ++y)
            for (int x = x0; x <= x0 + w; ++x) {
                const bool edge_x = x == x0 || x == x0 + w, edge_y = y == y0 || y == y0 + h;
                floor[at(x, y)] = static_cast<std::uint16_t>(100 + house % 4);
                decor[at(x, y)] = (!edge_x && !edge_y && chance(r, 8)) ? static_cast<std::uint16_t>(320 + below(r, 9)) : 0;
                walls[at(x, y)] = edge_x && edge_y ? 203 : edge_x ? 202 : edge_y ? 201 : 0;
                solid[at(x, y)] = walls[at(x, y)] != 0 ? 1 : 0;
            }
        const int door = x0 + w / 2;
        walls[at(door, y0 + h)] = 210;
        solid[at(door, y0 + h)] = 0;
    }

    const std::string author = person_name(r);
    std::string header;
    std::size_t entities = 0;
    for (int pass = 0; pass < 4; ++pass) {  // the header states the count, which depends on its own length
        header = "QMAP 2\nname = Wendle Crossing\nauthor = " + author +
                 "\nwidth = 128\nheight = 128\ntile_size = 32\nlayers = floor walls decor collision\n"
                 "layer_format = u16le\ntileset = dravik/tiles/marsh.til\nmusic = MU_3\nambient_light = 112\n"
                 "spawn = 12 97\nentity_size = 32\nentities = " +
                 std::to_string(entities) + "\nend\n";
        const std::size_t start = align_up(header.size(), 32);
        entities = (total - start - 4 * kLayerBytes - 32) / 32;
    }
    Bytes b = to_bytes(header);
    align_to(b, 32);
    for (const auto* layer : {&floor, &walls, &decor, &solid})
        for (std::uint16_t t : *layer) put16(b, t);
    put_text(b, "ENTS");
    put32(b, u32(entities));
    put32(b, 32);
    pad_to(b, b.size() + 20);
    static constexpr std::string_view kKinds[] = {"torch", "lantern", "chest", "sign", "mossling", "fenhound",
                                                  "murkfly", "barrel", "crate", "well", "trigger", "sound"};
    for (std::size_t i = 0; i < entities; ++i) {
        const std::uint32_t kind = below(r, u32(std::size(kKinds)));
        put16(b, 16u + 32u * below(r, kW));
        put16(b, 16u + 32u * below(r, kH));
        put16(b, kind + 1);
        put16(b, chance(r, 70) ? 7u : below(r, 8));
        put16(b, 45u * below(r, 8));
        put16(b, chance(r, 85) ? 0u : below(r, 40));
        put32(b, chance(r, 60) ? 0u : below(r, 1000));
        put_fixed(b, std::string(kKinds[kind]) + "_" + std::to_string(i + 1), 16);
    }
    return b;
}
