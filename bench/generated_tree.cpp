#include "bench/generated_tree.h"

#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

uint64_t next_random(uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// A file of one of four kinds: words (text), a structured table (records
// that differ in a few fields), noise with repeats (like packed media with
// headers), and noise.
std::vector<unsigned char> file_bytes(size_t size, uint64_t seed)
{
    static const char* words[] = {"the ",   "map ",   "of ",   "dravik ", "shows ", "a ",
                                  "quiet ", "valley", "and\n", "stone ",  "river ", "cairn "};
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    std::vector<unsigned char> out;
    out.reserve(size);
    int kind = int(seed % 4);
    while (out.size() < size) {
        uint64_t r = next_random(state);
        if (kind == 0) {
            for (const char* c = words[r % 12]; *c; c++)
                out.push_back((unsigned char)*c);
        } else if (kind == 1) {
            unsigned char record[32] = {'R', 'E', 'C', 0, 1, 0, 0, 0};
            for (int i = 8; i < 12; i++)
                record[i] = (unsigned char)(r >> (8 * i));
            out.insert(out.end(), record, record + sizeof record);
        } else if (kind == 2 && r % 8 == 0 && out.size() > 4096) {
            size_t from = size_t(r >> 8) % (out.size() - 64);
            out.insert(out.end(), out.begin() + long(from), out.begin() + long(from) + 64);
        } else {
            for (int i = 0; i < 8; i++)
                out.push_back((unsigned char)(r >> (8 * i)));
        }
    }
    out.resize(size);
    return out;
}

}  // namespace

// Files of 4 KB to 4 MB in one folder, the same for every run.
void make_generated_tree(const fs::path& tree, uint64_t total)
{
    fs::create_directories(tree / "data");
    std::string manifest = "dir \\Quorvel\\data\n";
    for (int b = 0; b < 128; b++)
        manifest += "build bench" + std::to_string(b) + "\n";
    uint64_t state = 7;
    uint64_t made = 0;
    for (int n = 0; made < total; n++) {
        size_t size = size_t(4096u << (next_random(state) % 11));
        std::string name = "data/file" + std::to_string(n) + ".bin";
        std::vector<unsigned char> bytes = file_bytes(size, uint64_t(n));
        std::ofstream(tree / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(size));
        manifest += "file " + name + "\n";
        made += size;
    }
    std::ofstream(tree / "package.manifest") << manifest;
}
