// The makers of the package's files, one per kind. Each returns a file of
// exactly the size the package gives it, from a random stream of its own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/default_package/bytes.h"

// executables.cpp
Bytes make_launcher(bool fullscreen, std::size_t size);
Bytes make_game(std::size_t size);
Bytes make_library(std::size_t size);

// archives.cpp
struct WadMix {
    unsigned textures, levels, scripts, music, packed;  // percent of the file; sounds take the rest
};
Bytes make_wad(std::string_view tag, std::size_t total, const WadMix& mix);

// picture.cpp
Bytes make_png(std::size_t total);

// map.cpp
Bytes make_map(std::size_t total);

// texts.cpp
std::string version_file();
std::string make_licence(std::size_t size);
std::string make_changelog(std::size_t size);
std::string make_instructions(std::size_t size);
std::string make_readme(std::size_t size);
