// The package image as the build links it: the bulk as a binary file the
// assembler copies in whole (.incbin), an assembler source that labels its
// parts and holds the pointer tables into them, and a C++ source of fixed
// size that defines the image over those labels. Only the pointer tables
// grow with the payload, two addresses a block; the compiler never sees the
// bytes.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "package/image.h"

struct ImageFiles {
    std::string data;       // the bytes
    std::string assembly;   // includes data by its absolute path
    std::string source;     // what the build names as the package source
};

// The files beside a C++ source path: "x/out.cpp" gives x/out.bin and x/out.S.
ImageFiles image_files_beside(const std::string& source);

// The files written as the image is made: the blocks go to the data file
// one by one as they are packed, everything else at the end. Each file is
// written beside its target and moved over it, the C++ source last.
struct ImageWriter {
    ImageFiles files;
    std::string origin;          // only for the sources' opening comments
    std::ofstream data;          // the data file's staging copy
    uint64_t size = 0;           // bytes in it so far
    std::vector<uint64_t> blocks;   // where each block's code lengths begin; its stream follows them
};

// Returns 0 when the data file cannot be made.
int begin_image(ImageWriter& writer, const ImageFiles& files, const std::string& origin);
int add_image_block(ImageWriter& writer, const unsigned char* code_lengths, const unsigned char* stream,
                    uint32_t bit_count);
// The rest from image, whose block pointers are not read: its blocks are
// those added. On failure no file is left behind and error names the file.
int finish_image(ImageWriter& writer, const PackageImage& image, std::string& error);
// Gives up an image begun: nothing of it is left behind.
void abandon_image(ImageWriter& writer);

// All of the above for an image held whole in memory.
int write_image_files(const PackageImage& image, const ImageFiles& files, const std::string& origin,
                      std::string& error);
