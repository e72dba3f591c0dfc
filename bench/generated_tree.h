// A game-sized tree of generated files, for the benchmarks that need more
// than the default package: files of 4 KB to 4 MB of every kind of
// compressibility, from text to noise, in a data folder, with the manifest
// the packer reads.
#pragma once

#include <cstdint>
#include <filesystem>

// Writes at least total bytes of files below tree, and tree/package.manifest.
void make_generated_tree(const std::filesystem::path& tree, uint64_t total);
