// What the parts of a PE image share: the settings of one executable, its
// section layout, and the makers of its code, data and resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/default_package/bytes.h"
#include "tools/default_package/random.h"

struct ImportDll {
    std::string name;
    std::vector<std::string> functions;
};

struct PeSettings {
    std::string tag;                 // seeds the image's random stream; names its manifest identity
    std::size_t file_size = 0;
    bool dll = false;
    std::uint32_t timestamp = 0;
    unsigned text_percent = 50;      // share of the file given to code
    unsigned data_percent = 5;       // share given to initialised data; .rdata takes the rest
    std::string module_name;
    std::string description;         // for the version information and the manifest
    std::vector<std::string> slot_strings;   // 32-byte strings at a fixed place in .rdata
    std::uint32_t mode_constant = 0; // the display mode the launch code passes on
    std::vector<int> icon_sizes;     // none: no icon resources
    bool manifest = false;
    std::vector<ImportDll> imports;
    std::vector<std::string> exports;
};

constexpr std::size_t kFileAlign = 0x200;
constexpr std::size_t kSectionAlign = 0x1000;
constexpr std::size_t kHeaderSize = 0x400;
constexpr std::size_t kPeOffset = 0x80;

// Sizes in the file (raw) and addresses once loaded (rva) of the four sections.
struct PeLayout {
    std::uint64_t image_base = 0;
    std::size_t text_raw = 0, rdata_raw = 0, data_raw = 0, rsrc_raw = 0;
    std::uint32_t text_rva = 0, rdata_rva = 0, data_rva = 0, rsrc_rva = 0;
    std::uint32_t data_vsize = 0;    // .data with its zero-filled tail
};

struct DataDir {
    std::uint32_t rva = 0, size = 0;
};

// .rdata and where its directories went.
struct RdataOut {
    Bytes bytes;
    std::uint32_t vsize = 0;
    DataDir imports, iat, exports;
};

struct Resource {
    std::uint32_t type = 0, id = 0;
    Bytes data;
};

// Code filling .text; records where each function starts and the code's length.
Bytes gen_text(Rng& r, const PeSettings& s, const PeLayout& l, const std::vector<std::uint32_t>& iat_slots,
               std::vector<std::uint32_t>& functions, std::uint32_t& vsize);

// Addresses of the import address table's slots, one per imported function.
std::vector<std::uint32_t> plan_iat(const std::vector<ImportDll>& dlls, std::uint32_t rdata_rva);
RdataOut gen_rdata(Rng& r, const PeSettings& s, const PeLayout& l, const std::vector<std::uint32_t>& functions);
Bytes gen_data(Rng& r, const PeLayout& l, const std::vector<std::uint32_t>& functions);

std::vector<Resource> pe_resources(const PeSettings& s);
// The three-level tree Windows expects: type, then id, then language.
Bytes build_rsrc(const std::vector<Resource>& items, std::uint32_t rva);
