// The executables' data sections: imports and exports, messages, tables,
// and the initialised variables.
#include <algorithm>

#include "tools/default_package/executable.h"
#include "tools/default_package/words.h"

namespace {

// Import address table first (as linkers place it), then descriptors, lookup
// tables, hint/name entries and module names.
void write_imports(Rng& r, RdataOut& o, std::uint32_t rva, const std::vector<ImportDll>& dlls) {
    Bytes& b = o.bytes;
    std::vector<std::size_t> iat_at, ilt_at;
    for (const auto& d : dlls) {
        iat_at.push_back(b.size());
        pad_to(b, b.size() + 8 * (d.functions.size() + 1));
    }
    o.iat = {rva, u32(b.size())};
    align_to(b, 16);
    const std::size_t desc_at = b.size();
    pad_to(b, b.size() + 20 * (dlls.size() + 1));
    o.imports = {rva + u32(desc_at), u32(20 * (dlls.size() + 1))};
    for (const auto& d : dlls) {
        ilt_at.push_back(b.size());
        pad_to(b, b.size() + 8 * (d.functions.size() + 1));
    }
    for (std::size_t i = 0; i < dlls.size(); ++i) {
        std::uint32_t hint = below(r, 64);
        for (std::size_t f = 0; f < dlls[i].functions.size(); ++f) {
            align_to(b, 2);
            const std::uint32_t entry = rva + u32(b.size());
            hint += 1 + below(r, 24);
            put16(b, hint);
            put_textz(b, dlls[i].functions[f]);
            poke64(b, iat_at[i] + 8 * f, entry);
            poke64(b, ilt_at[i] + 8 * f, entry);
        }
    }
    for (std::size_t i = 0; i < dlls.size(); ++i) {
        align_to(b, 2);
        const std::size_t d = desc_at + 20 * i;
        poke32(b, d + 0, rva + u32(ilt_at[i]));
        poke32(b, d + 12, rva + u32(b.size()));
        poke32(b, d + 16, rva + u32(iat_at[i]));
        put_textz(b, dlls[i].name);
    }
}

void write_exports(RdataOut& o, std::uint32_t rva, const PeSettings& s, const std::vector<std::uint32_t>& functions) {
    Bytes& b = o.bytes;
    align_to(b, 16);
    const std::size_t dir = b.size();
    const std::size_t n = s.exports.size();
    pad_to(b, dir + 40);
    const std::size_t eat = b.size();
    for (std::size_t i = 0; i < n; ++i) put32(b, functions[1 + i * (functions.size() - 1) / n]);
    const std::size_t name_ptrs = b.size();
    pad_to(b, name_ptrs + 4 * n);
    const std::size_t ordinals = b.size();
    for (std::size_t i = 0; i < n; ++i) put16(b, u32(i));
    const std::size_t module = b.size();
    put_textz(b, s.module_name);
    for (std::size_t i = 0; i < n; ++i) {
        poke32(b, name_ptrs + 4 * i, rva + u32(b.size()));
        put_textz(b, s.exports[i]);
    }
    poke32(b, dir + 4, s.timestamp);
    poke32(b, dir + 12, rva + u32(module));
    poke32(b, dir + 16, 1);
    poke32(b, dir + 20, u32(n));
    poke32(b, dir + 24, u32(n));
    poke32(b, dir + 28, rva + u32(eat));
    poke32(b, dir + 32, rva + u32(name_ptrs));
    poke32(b, dir + 36, rva + u32(ordinals));
    o.exports = {rva + u32(dir), u32(b.size() - dir)};
}

// IEEE single bits of num / 2^shift, built from integers so no FPU is involved.
std::uint32_t float_bits(std::int32_t num, int shift) {
    if (num == 0) return 0;
    const std::uint32_t sign = num < 0 ? 0x80000000u : 0u;
    std::uint32_t mag = static_cast<std::uint32_t>(num < 0 ? -num : num);
    int top = 31;
    while (!(mag & (1u << top))) --top;
    const std::uint32_t mantissa = top >= 23 ? (mag >> (top - 23)) : (mag << (23 - top));
    const auto exponent = static_cast<std::uint32_t>(top - shift + 127);
    return sign | (exponent << 23) | (mantissa & 0x7FFFFFu);
}

std::string message_string(Rng& r) {
    static constexpr std::string_view kPatterns[] = {
        "Could not open {file}.", "Failed to read {file} (error %d).", "Out of memory while loading the {file}.",
        "The {tech} could not be started.", "Unknown setting '%s' in the config file.",
        "{tech}: %d items loaded in %d ms", "Missing texture %s in {file}", "Invalid lump size in %s",
        "Sound %s has an unsupported format", "Could not set the screen resolution to %dx%d.",
        "Saved game %s was written by a newer build.", "Press any key to continue", "Loading {place}...",
        "The {tech} reported {problem}.", "Joystick %d connected", "Script error at line %d: %s",
        "Entering {place}", "The {creature} %d has no spawn point", "{setting} changed to %d",
    };
    switch (below(r, 6)) {
    case 0: {
        static constexpr std::string_view kDirs[] = {"render", "sound", "game", "ui", "sys", "script", "net"};
        const std::string dir(pick(r, kDirs));
        return "src/" + dir + "/" + syllable_word(r, 2) + ".cpp";
    }
    case 1: {
        static constexpr std::string_view kGroups[] = {"video", "sound", "input", "game", "debug", "menu"};
        const std::string group(pick(r, kGroups));
        return group + "." + syllable_word(r, between(r, 1, 3));
    }
    case 2: return game_sentence(r);
    default: return capitalise(expand(r, pick(r, kPatterns)));
    }
}

Bytes rdata_item(Rng& r, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    Bytes b;
    const std::uint32_t roll = below(r, 100);
    if (roll < 55) {
        put_textz(b, message_string(r));
    } else if (roll < 65) {
        put_utf16z(b, message_string(r));
    } else if (roll < 77) {  // vtable-like arrays of code pointers
        const std::uint32_t first = below(r, u32(functions.size()));
        for (int i = between(r, 3, 24); i > 0; --i)
            put64(b, l.image_base + functions[std::min<std::size_t>(functions.size() - 1, first + below(r, 40))]);
    } else if (roll < 85) {  // small integer tables
        const int step = between(r, 1, 64), start = between(r, -200, 200);
        for (int i = 0, n = between(r, 8, 64); i < n; ++i) put_s32(b, start + i * step + between(r, 0, 3));
    } else if (roll < 93) {  // float constant tables
        const int shift = between(r, 2, 10);
        for (int i = 0, n = between(r, 4, 48); i < n; ++i) put32(b, float_bits(between(r, -4096, 4096), shift));
    } else if (roll < 98) {  // fixed-width lump name tables
        static constexpr std::string_view kStems[] = {"BRICK", "PLANK", "STONE", "METAL", "MOSS", "SLATE", "SN_"};
        for (int i = 0, n = between(r, 8, 40); i < n; ++i) {
            const std::string stem(pick(r, kStems));
            put_fixed(b, stem + std::to_string(between(r, 1, 99)), 16);
        }
    } else {  // an 8x8 bitmap font
        for (int glyph = 0; glyph < 96; ++glyph)
            for (int row = 0; row < 8; ++row) put8(b, row == 7 ? 0u : next_u32(r) & 0x7Eu);
    }
    return b;
}

void write_sine_table(Bytes& b) {
    for (std::uint32_t i = 0; i < 1024; ++i) put_s16(b, isin(i * 64));
}

void write_crc_table(Bytes& b) {
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        put32(b, c);
    }
}

Bytes data_table(Rng& r, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    Bytes b;
    switch (below(r, 4)) {
    case 0:
        for (int i = between(r, 4, 32); i > 0; --i)
            put64(b, l.image_base + functions[below(r, u32(functions.size()))]);
        break;
    case 1:
        for (int i = between(r, 8, 96); i > 0; --i) put_s32(b, chance(r, 30) ? 0 : between(r, -1, 300));
        break;
    case 2: {
        static constexpr std::string_view kDefaults[] = {"player", "default.cfg", "english", "slot01",
                                                         "wendle", "dravik", "autosave", "journal"};
        for (int i = between(r, 2, 8); i > 0; --i) put_fixed(b, pick(r, kDefaults), 32);
        break;
    }
    default:
        for (int i = between(r, 16, 256); i > 0; --i) put8(b, chance(r, 60) ? 0u : below(r, 256));
        break;
    }
    return b;
}

}  // namespace

std::vector<std::uint32_t> plan_iat(const std::vector<ImportDll>& dlls, std::uint32_t rdata_rva) {
    std::vector<std::uint32_t> slots;
    std::uint32_t offset = 0;
    for (const auto& d : dlls) {
        for (std::size_t i = 0; i < d.functions.size(); ++i, offset += 8) slots.push_back(rdata_rva + offset);
        offset += 8;
    }
    return slots;
}

RdataOut gen_rdata(Rng& r, const PeSettings& s, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    RdataOut o;
    Bytes& b = o.bytes;
    write_imports(r, o, l.rdata_rva, s.imports);
    if (!s.exports.empty()) write_exports(o, l.rdata_rva, s, functions);
    // Fixed-width slots keep the layout identical between launcher variants.
    align_to(b, 16);
    for (const auto& str : s.slot_strings) put_fixed(b, str, 32);
    align_to(b, 16);
    write_crc_table(b);
    write_sine_table(b);
    for (int misses = 0; misses < 40;) {
        Bytes item = rdata_item(r, l, functions);
        const std::size_t at = align_up(b.size(), 8);
        if (at + item.size() + 8 > l.rdata_raw) {
            ++misses;
            continue;
        }
        pad_to(b, at);
        append(b, item);
    }
    o.vsize = u32(b.size());
    pad_to(b, l.rdata_raw);
    return o;
}

Bytes gen_data(Rng& r, const PeLayout& l, const std::vector<std::uint32_t>& functions) {
    Bytes b;
    while (b.size() + 128 < l.data_raw) {
        pad_to(b, std::min(l.data_raw, align_up(b.size() + between_z(r, 16, 900), 8)));
        Bytes t = data_table(r, l, functions);
        if (b.size() + t.size() > l.data_raw) break;
        append(b, t);
    }
    pad_to(b, l.data_raw);
    return b;
}
