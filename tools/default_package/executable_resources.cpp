// The executables' resources: the mossling icons, the version information
// and the application manifest, in the resource tree.
#include <algorithm>

#include "tools/default_package/executable.h"
#include "tools/default_package/mossling.h"

namespace {

// BITMAPINFOHEADER + bottom-up BGRA pixels + AND mask, as stored in RT_ICON.
Bytes icon_image(int size) {
    Bytes b;
    put32(b, 40);
    put_s32(b, size);
    put_s32(b, size * 2);
    put16(b, 1);
    put16(b, 32);
    put32(b, 0);
    const std::size_t mask_row = align_up(static_cast<std::size_t>(size + 7) / 8, 4);
    put32(b, u32(static_cast<std::size_t>(size * size * 4) + mask_row * static_cast<std::size_t>(size)));
    for (int i = 0; i < 4; ++i) put32(b, 0);
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) {
            const Rgb p = mossling_pixel(x * 256 / size, y * 256 / size);
            put8(b, static_cast<std::uint32_t>(p.b));
            put8(b, static_cast<std::uint32_t>(p.g));
            put8(b, static_cast<std::uint32_t>(p.r));
            put8(b, p.creature ? 255u : 0u);
        }
    for (int y = size - 1; y >= 0; --y) {
        Bytes row(mask_row, 0);
        for (int x = 0; x < size; ++x)
            if (!mossling_pixel(x * 256 / size, y * 256 / size).creature)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
        append(b, row);
    }
    return b;
}

Bytes version_node(std::string_view key, const Bytes& value, std::uint32_t value_length, std::uint32_t type,
                   const std::vector<Bytes>& children) {
    Bytes n;
    put16(n, 0);
    put16(n, value_length);
    put16(n, type);
    put_utf16z(n, key);
    align_to(n, 4);
    append(n, value);
    for (const auto& c : children) {
        align_to(n, 4);
        append(n, c);
    }
    poke16(n, 0, u32(n.size()));
    return n;
}

Bytes version_string(std::string_view key, std::string_view text) {
    Bytes v;
    put_utf16z(v, text);
    return version_node(key, v, u32(text.size() + 1), 1, {});
}

Bytes version_info(const PeSettings& s) {
    Bytes fixed;
    put32(fixed, 0xFEEF04BDu);
    put32(fixed, 0x00010000u);
    for (int i = 0; i < 2; ++i) {  // file version, then product version: 1.0.128.0
        put32(fixed, 0x00010000u);
        put32(fixed, 0x00800000u);
    }
    put32(fixed, 0x3F);
    put32(fixed, 0);
    put32(fixed, 0x00040004u);
    put32(fixed, s.dll ? 2u : 1u);
    put32(fixed, 0);
    put32(fixed, 0);
    put32(fixed, 0);
    const std::string base = s.module_name.substr(0, s.module_name.rfind('.'));
    std::vector<Bytes> strings{
        version_string("CompanyName", "Brackmoor Softworks"),
        version_string("FileDescription", s.description),
        version_string("FileVersion", "1.0.128.0"),
        version_string("InternalName", base),
        version_string("LegalCopyright", "Copyright (C) 2004-2006 Brackmoor Softworks"),
        version_string("OriginalFilename", s.module_name),
        version_string("ProductName", "Quorvel"),
        version_string("ProductVersion", "build128"),
    };
    Bytes table = version_node("040904B0", {}, 0, 1, strings);
    Bytes translation;
    put16(translation, 0x0409);
    put16(translation, 0x04B0);
    Bytes var_info = version_node("VarFileInfo", {}, 0, 1, {version_node("Translation", translation, 4, 0, {})});
    return version_node("VS_VERSION_INFO", fixed, u32(fixed.size()), 0,
                        {version_node("StringFileInfo", {}, 0, 1, {table}), var_info});
}

std::string app_manifest(const PeSettings& s) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
           "  <assemblyIdentity type=\"win32\" name=\"Brackmoor.Quorvel." +
           s.tag +
           "\" version=\"1.0.128.0\" processorArchitecture=\"amd64\"/>\r\n"
           "  <description>" +
           s.description +
           "</description>\r\n"
           "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
           "    <security>\r\n"
           "      <requestedPrivileges>\r\n"
           "        <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
           "      </requestedPrivileges>\r\n"
           "    </security>\r\n"
           "  </trustInfo>\r\n"
           "</assembly>\r\n";
}

}  // namespace

Bytes build_rsrc(const std::vector<Resource>& items, std::uint32_t rva) {
    std::vector<std::uint32_t> types;
    for (const auto& it : items)
        if (types.empty() || types.back() != it.type) types.push_back(it.type);
    std::vector<std::size_t> type_dir(types.size()), id_dir(items.size()), entry(items.size()), data(items.size());
    std::size_t off = 16 + 8 * types.size();
    for (std::size_t t = 0; t < types.size(); ++t) {
        type_dir[t] = off;
        off += 16 + 8 * static_cast<std::size_t>(std::count_if(items.begin(), items.end(),
                                                                [&](const Resource& x) { return x.type == types[t]; }));
    }
    for (std::size_t i = 0; i < items.size(); ++i, off += 24) id_dir[i] = off;
    for (std::size_t i = 0; i < items.size(); ++i, off += 16) entry[i] = off;
    for (std::size_t i = 0; i < items.size(); ++i) {
        data[i] = align_up(off, 8);
        off = data[i] + items[i].data.size();
    }
    auto directory = [](Bytes& b, std::size_t ids) {
        put32(b, 0);
        put32(b, 0);
        put32(b, 0);
        put16(b, 0);
        put16(b, u32(ids));
    };
    Bytes b;
    directory(b, types.size());
    for (std::size_t t = 0; t < types.size(); ++t) {
        put32(b, types[t]);
        put32(b, 0x80000000u | u32(type_dir[t]));
    }
    for (std::uint32_t type : types) {
        std::vector<std::size_t> members;
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i].type == type) members.push_back(i);
        directory(b, members.size());
        for (std::size_t i : members) {
            put32(b, items[i].id);
            put32(b, 0x80000000u | u32(id_dir[i]));
        }
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        directory(b, 1);
        put32(b, 0x0409);
        put32(b, u32(entry[i]));
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        put32(b, rva + u32(data[i]));
        put32(b, u32(items[i].data.size()));
        put32(b, 0);
        put32(b, 0);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        pad_to(b, data[i]);
        append(b, items[i].data);
    }
    return b;
}

std::vector<Resource> pe_resources(const PeSettings& s) {
    constexpr std::uint32_t kIcon = 3, kGroupIcon = 14, kVersion = 16, kManifest = 24;
    std::vector<Resource> res;
    Bytes group;
    put16(group, 0);
    put16(group, 1);
    put16(group, u32(s.icon_sizes.size()));
    std::uint32_t id = 1;
    for (int size : s.icon_sizes) {
        Bytes image = icon_image(size);
        put8(group, static_cast<std::uint32_t>(size));
        put8(group, static_cast<std::uint32_t>(size));
        put8(group, 0);
        put8(group, 0);
        put16(group, 1);
        put16(group, 32);
        put32(group, u32(image.size()));
        put16(group, id);
        res.push_back({kIcon, id++, std::move(image)});
    }
    if (!s.icon_sizes.empty()) res.push_back({kGroupIcon, 101, group});
    res.push_back({kVersion, 1, version_info(s)});
    if (s.manifest) res.push_back({kManifest, 1, to_bytes(app_manifest(s))});
    return res;
}
