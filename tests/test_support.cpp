#include "tests/test_support.h"

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "package/stream.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

HandBlock hand_block(const std::vector<std::pair<uint32_t, uint32_t>>& lengths, const std::string& bits,
                     int pad_value)
{
    HandBlock block;
    block.code_lengths.assign(SymbolCount, 0);
    for (auto [symbol, length] : lengths)
        block.code_lengths[symbol] = static_cast<unsigned char>(length);
    for (char c : bits) {
        if (c != '0' && c != '1')
            continue;
        if (block.bit_count % 8 == 0)
            block.stream.push_back(pad_value ? 0xFF : 0x00);
        unsigned char mask = static_cast<unsigned char>(0x80u >> (block.bit_count % 8));
        if (c == '1')
            block.stream.back() |= mask;
        else
            block.stream.back() &= static_cast<unsigned char>(~mask);
        block.bit_count++;
    }
    return block;
}

std::vector<std::string> code_words(const std::vector<unsigned char>& lengths)
{
    uint32_t codes[SymbolCount];
    canonical_codes(lengths.data(), codes);
    std::vector<std::string> words(SymbolCount);
    for (uint32_t s = 0; s < SymbolCount; s++)
        for (uint32_t k = lengths[s]; k-- > 0;)
            words[s] += (codes[s] >> k) & 1 ? '1' : '0';
    return words;
}

std::vector<unsigned char> all_symbols_code()
{
    uint64_t frequency[SymbolCount];
    for (uint64_t& f : frequency)
        f = 1;
    unsigned char lengths[SymbolCount];
    huffman_code_lengths(frequency, lengths);
    return std::vector<unsigned char>(lengths, lengths + SymbolCount);
}

HandBlock coded_block(const std::vector<unsigned char>& lengths, const std::vector<uint16_t>& symbols,
                      int pad_value)
{
    std::vector<std::string> words = code_words(lengths);
    std::string bits;
    for (uint16_t s : symbols)
        bits += words[s];
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (uint32_t s = 0; s < SymbolCount; s++)
        if (lengths[s])
            pairs.push_back({s, lengths[s]});
    return hand_block(pairs, bits, pad_value);
}

std::vector<uint16_t> literal_symbols(const std::vector<unsigned char>& bytes)
{
    return std::vector<uint16_t>(bytes.begin(), bytes.end());
}

void reset_payload_state()
{
    Stream = PayloadStreamStart;
    ErrorCount = 0;
}

int next_payload_byte()
{
    const unsigned char* byte;
    return take_payload_run(Stream, Package->blocks, 1, byte) ? *byte : -1;
}

void TestImage::add_entry(const std::string& name, uint32_t size)
{
    entries.push_back(entry_record(name, size));
}

void TestImage::install()
{
    tables.code_lengths.clear();
    tables.streams.clear();
    tables.bit_counts.clear();
    for (const HandBlock& b : blocks) {
        tables.code_lengths.push_back(b.code_lengths.data());
        tables.streams.push_back(b.stream.data());
        tables.bit_counts.push_back(b.bit_count);
    }
    tables.install();
    tables.contents.assign(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); i++) {
        start_payload_checksum(Stream);
        for (uint32_t n = entry_size(&entries[i]); n > 0 && next_payload_byte() >= 0; n--) {
        }
        tables.contents[i] = payload_checksum(Stream);
    }
    tables.install();
    reset_payload_state();
}

PackedTestImage::PackedTestImage(Manifest m)
    : manifest(std::move(m)), packed(pack_payload(manifest, FastEncoderOptions)), loaded(manifest, packed)
{
    ErrorCount = 0;
}

std::vector<unsigned char> random_bytes(size_t size, uint32_t seed)
{
    std::vector<unsigned char> bytes(size);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (unsigned char& b : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        b = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

namespace {
// Taken before any test installs an image of its own in Package.
const PackageImage* const CarriedImage = Package;
}  // namespace

Manifest small_quorvel_manifest(uint32_t seed)
{
    const PackageImage& image = *CarriedImage;
    Manifest m;
    for (int32_t i = 0; i < image.directories.count; i++)
        m.directories.push_back(image.directories.paths[i]);
    for (uint32_t i = 0; i < KnownBuildCount; i++)
        m.builds.push_back(image.known_builds[i]);
    const std::string version = m.builds[0] + "\r\n";
    for (uint32_t n = 0; n < image.entries.count; n++) {
        ManifestFile f{image.entries.entries[n].name, {}};
        if (f.name.size() > 4 && f.name.substr(f.name.size() - 4) == ".ver")
            f.bytes.assign(version.begin(), version.end());
        else
            f.bytes = random_bytes(200 + 97 * n, seed * 31 + n);
        m.files.push_back(std::move(f));
    }
    return m;
}

const char* const SaveFile = "dravik/playerdata/slot1.sav";

void install_old_copy(const std::string& top, const Manifest& package, const std::string& exec_ver,
                      const std::string& data_ver)
{
    for (const ManifestFile& file : package.files) {
        make_folders(fs::path(top + "/" + file.name).parent_path().string());
        write_text(top + "/" + file.name, "older " + file.name);
    }
    write_text(top + "/" + VersionFiles[0], exec_ver);
    write_text(top + "/" + VersionFiles[1], data_ver);
    for (const char* launcher : RetiredLaunchers)
        write_text(top + "/" + launcher, "retired");
    write_text(top + "/" + SaveFile, "the player's progress");
}

namespace {
std::atomic<unsigned> ScratchCount{0};
}

ScratchFolder::ScratchFolder()
{
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path p = fs::temp_directory_path() /
                 ("quorvel-test-" + std::to_string(stamp) + "-" + std::to_string(ScratchCount++));
    fs::create_directories(p);
    path = p.generic_string();
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto& entry : fs::recursive_directory_iterator(path, ignored))
        if (entry.is_directory(ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path, ignored);
}

int read_file(const std::string& path, std::vector<unsigned char>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return 0;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return 1;
}

int write_file(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

int write_text(const std::string& path, const std::string& text)
{
    return write_file(path, std::vector<unsigned char>(text.begin(), text.end()));
}

int exists(const std::string& path)
{
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

int is_folder(const std::string& path)
{
    std::error_code ignored;
    return fs::is_directory(path, ignored);
}

#ifndef _WIN32
unsigned permission_bits(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? unsigned(info.st_mode & 07777) : 07777 + 1;
}
#endif

int make_folders(const std::string& path)
{
    std::error_code error;
    fs::create_directories(path, error);
    return !error;
}

#ifndef _WIN32
void with_file_size_limit(uint64_t limit, const std::function<void()>& what)
{
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = limit;
    auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    what();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous_handler);
}
#endif

std::vector<std::string> files_below(const std::string& root)
{
    std::vector<std::string> files;
    for (auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.push_back(fs::relative(entry.path(), root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

Tree snapshot(const std::string& root)
{
    Tree tree;
    for (auto& entry : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(entry.path(), root).generic_string();
        if (entry.is_symlink() || (!entry.is_directory() && !entry.is_regular_file())) {
            tree[name + "@"];
        } else if (entry.is_directory()) {
            tree[name + "/"];
        } else {
            std::vector<unsigned char> bytes;
            read_file(entry.path().string(), bytes);
            tree[name] = text_of(bytes);
        }
    }
    return tree;
}

std::string text_of(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string difference(const Tree& expected, const Tree& actual)
{
    std::string report;
    for (auto& [name, bytes] : expected) {
        auto found = actual.find(name);
        if (found == actual.end())
            report += "missing " + name + "\n";
        else if (found->second != bytes)
            report += "other bytes in " + name + "\n";
    }
    for (auto& [name, bytes] : actual)
        if (!expected.count(name))
            report += "unexpected " + name + "\n";
    return report;
}
