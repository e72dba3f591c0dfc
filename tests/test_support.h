// Shared helpers for the tests: images made on the spot, scratch folders,
// whole-file reads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "package/image.h"
#include "package/layout.h"
#include "tools/pack/image_tables.h"
#include "tools/pack/installed_image.h"
#include "tools/pack/packer.h"

// One block given by hand: its code lengths and its bit stream as a string
// of '0' and '1' (spaces ignored); pad bits beyond the stream are set to
// pad_value.
struct HandBlock {
    std::vector<unsigned char> code_lengths;   // SymbolCount entries
    std::vector<unsigned char> stream;
    uint32_t bit_count = 0;
};
HandBlock hand_block(const std::vector<std::pair<uint32_t, uint32_t>>& lengths, const std::string& bits,
                     int pad_value = 0);

// Code words of the canonical code for lengths, as '0'/'1' strings.
std::vector<std::string> code_words(const std::vector<unsigned char>& lengths);

// A complete code over all 320 symbols (8 and 9 bits).
std::vector<unsigned char> all_symbols_code();

// A block of the given symbols under the given code lengths.
HandBlock coded_block(const std::vector<unsigned char>& lengths, const std::vector<uint16_t>& symbols,
                      int pad_value = 0);

// Symbols for count literal bytes followed by nothing else.
std::vector<uint16_t> literal_symbols(const std::vector<unsigned char>& bytes);

// A package image of hand-made blocks that Package points at while this
// lives, with the stream and ErrorCount reset. Each entry's recorded
// checksum is that of the bytes the blocks decode to there, as the packer
// would record for files that decode right.
struct TestImage {
    std::vector<HandBlock> blocks;
    InstalledTables tables;
    std::vector<EntryRecord>& entries = tables.entries;

    void add_entry(const std::string& name, uint32_t size);
    void install();
};

// An image of real files, packed with the packer's encoder at its fastest
// level (what it decodes to is the point, not its size); ErrorCount starts
// at 0.
struct PackedTestImage {
    Manifest manifest;
    PackedPayload packed;
    LoadedImage loaded;
    explicit PackedTestImage(Manifest m);
};

// The folders, build names and entry names of the image this program
// carries, with small files of made-up bytes, so installer tests run fast.
Manifest small_quorvel_manifest(uint32_t seed = 1);

// A save file of the player's, as an installed copy holds it.
extern const char* const SaveFile;

// An installed copy of an older build at top: every file of package with
// other bytes ("older NAME"), the given version files, the retired
// launchers and a save file.
void install_old_copy(const std::string& top, const Manifest& package, const std::string& exec_ver = "build100\r\n",
                      const std::string& data_ver = "build100\r\n");

void reset_payload_state();

// The next byte 0-255 of the installer's stream, or -1 once it is broken:
// the stream a byte at a time, as no install reads it but tests can.
int next_payload_byte();

std::vector<unsigned char> random_bytes(size_t size, uint32_t seed);

// A fresh folder below the system's temporary folder, removed with all it
// holds when this goes out of scope.
struct ScratchFolder {
    std::string path;
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    std::string operator/(const std::string& relative) const { return path + "/" + relative; }
};

int read_file(const std::string& path, std::vector<unsigned char>& bytes);
int write_file(const std::string& path, const std::vector<unsigned char>& bytes);
int write_text(const std::string& path, const std::string& text);
int exists(const std::string& path);
int is_folder(const std::string& path);
int make_folders(const std::string& path);   // like mkdir -p
#ifndef _WIN32
// The permission bits of the file at path, or 07777 + 1 when there is none.
unsigned permission_bits(const std::string& path);
// Runs what with every write past limit bytes of a file failing, the way a
// full disk makes writes fail.
void with_file_size_limit(uint64_t limit, const std::function<void()>& what);
#endif

// Every regular file below root, as relative "/" paths, sorted.
std::vector<std::string> files_below(const std::string& root);

// Everything below a folder: files with their bytes, folders as "name/",
// other things (links, pipes) as "name@".
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::string& root);
std::string text_of(const std::vector<unsigned char>& bytes);

// The names that differ; a byte dump of megabytes helps nobody.
std::string difference(const Tree& expected, const Tree& actual);
