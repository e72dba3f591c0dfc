#include "tools/pack/packer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "package/checksum.h"
#include "package/decoder.h"
#include "package/stream.h"

namespace {

// A C++ string literal for any bytes. Every unusual byte becomes a 3-digit
// octal escape, so no escape can swallow the digit after it and no "??"
// trigraph can form.
void append_literal(std::string& out, const unsigned char* bytes, size_t size)
{
    static const char digits[] = "01234567";
    out += '"';
    size_t line_start = out.size();
    for (size_t i = 0; i < size; i++) {
        unsigned char c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
            out += char(c);
        } else {
            out += '\\';
            out += digits[c >> 6];
            out += digits[(c >> 3) & 7];
            out += digits[c & 7];
        }
        if (out.size() - line_start >= 120 && i + 1 < size) {
            out += "\"\n    \"";
            line_start = out.size();
        }
    }
    out += '"';
}

std::string literal(const std::string& text)
{
    std::string out;
    append_literal(out, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return out;
}

std::string literal(const char* text)
{
    return literal(std::string(text));
}

// "{a, b, c}" lines of numbers, eight or 32 to a line.
template <typename T>
void append_numbers(std::string& out, const T* values, size_t count, size_t per_line, const char* suffix)
{
    for (size_t i = 0; i < count; i++)
        out += (i % per_line ? " " : "\n    ") + std::to_string(values[i]) + suffix + ",";
    out += "\n";
}

// An empty array is not C++; a list with nothing in it gets one unused
// element.
void close_array(std::string& out, size_t count, const char* filler)
{
    if (count == 0)
        out += std::string("    ") + filler + ",\n";
    out += "};\n\n";
}

void emit_lists(std::string& out, const PackageImage& image)
{
    uint32_t directories = uint32_t(image.directories.count);
    out += "const char* const directory_paths[] = {\n";
    for (uint32_t i = 0; i < directories; i++)
        out += "    " + literal(image.directories.paths[i]) + ",\n";
    close_array(out, directories, "nullptr");

    out += "const EntryRecord entries[] = {\n";
    for (uint32_t i = 0; i < image.entries.count; i++) {
        const EntryRecord& e = image.entries.entries[i];
        out += "    {" + literal(e.name) + ", {" + std::to_string(e.size[0]) + ", " + std::to_string(e.size[1]) +
               ", " + std::to_string(e.size[2]) + ", " + std::to_string(e.size[3]) + "}},\n";
    }
    close_array(out, image.entries.count, "{{0}, {0, 0, 0, 0}}");

    out += "const char* const known_builds[KnownBuildCount] = {\n";
    for (uint32_t i = 0; i < KnownBuildCount; i++)
        out += "    " + literal(image.known_builds[i]) + ",\n";
    out += "};\n\n";
}

void emit_blocks(std::string& out, const BlockTables& blocks)
{
    for (uint32_t k = 0; k < blocks.block_count; k++) {
        out += "const unsigned char code_lengths_" + std::to_string(k) + "[SymbolCount] = {";
        append_numbers(out, blocks.code_lengths[k], SymbolCount, 32, "");
        out += "};\n";
        out += "const unsigned char stream_" + std::to_string(k) + "[] =\n    ";
        append_literal(out, blocks.streams[k], (blocks.bit_counts[k] + 7) / 8);
        out += ";\n\n";
    }
    const char* arrays[] = {"code_lengths", "stream"};
    for (const char* name : arrays) {
        out += std::string("const unsigned char* const ") + name + "[] = {";
        for (uint32_t k = 0; k < blocks.block_count; k++)
            out += (k % 8 ? " " : "\n    ") + std::string(name) + "_" + std::to_string(k) + ",";
        out += "\n";
        close_array(out, blocks.block_count, "nullptr");
    }
    out += "const uint32_t bit_counts[] = {";
    append_numbers(out, blocks.bit_counts, blocks.block_count, 8, "u");
    close_array(out, blocks.block_count, "0");
}

void emit_checksums(std::string& out, const PackageImage& image)
{
    const ImageChecksums& sums = image.checksums;
    out += "const uint32_t block_checksums[] = {";
    append_numbers(out, sums.blocks, image.blocks.block_count, 8, "u");
    close_array(out, image.blocks.block_count, "0");
    out += "const uint32_t content_checksums[] = {";
    append_numbers(out, sums.contents, image.entries.count, 8, "u");
    close_array(out, image.entries.count, "0");
}

}  // namespace

PackedPayload pack_payload(const Manifest& manifest, const EncoderOptions& options)
{
    PackedPayload packed;
    for (const ManifestFile& f : manifest.files)
        packed.payload.insert(packed.payload.end(), f.bytes.begin(), f.bytes.end());
    size_t count = (packed.payload.size() + PackerBlockSize - 1) / PackerBlockSize;
    packed.blocks.resize(count);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k; (k = next++) < count;) {
            size_t start = k * PackerBlockSize;
            size_t size = std::min<size_t>(PackerBlockSize, packed.payload.size() - start);
            packed.blocks[k] = encode_block(packed.payload.data() + start, size, options);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < std::max(1u, std::thread::hardware_concurrency()); t++)
        workers.emplace_back(work);
    work();
    for (std::thread& w : workers)
        w.join();
    return packed;
}

LoadedImage::LoadedImage(const Manifest& manifest, const PackedPayload& packed)
{
    for (const ManifestFile& f : manifest.files) {
        tables.entries.push_back(entry_record(f.name, uint32_t(f.bytes.size())));
        tables.contents.push_back(crc32c(0, f.bytes.data(), f.bytes.size()));
    }
    for (const std::string& d : manifest.directories)
        tables.directories.push_back(d.c_str());
    for (const std::string& b : manifest.builds)
        tables.builds.push_back(b.c_str());
    for (const EncodedBlock& b : packed.blocks) {
        tables.code_lengths.push_back(b.code_lengths);
        tables.streams.push_back(b.stream.data());
        tables.bit_counts.push_back(b.bit_count);
    }
    tables.install();
}

size_t compressed_size(const PackedPayload& packed)
{
    size_t total = 0;
    for (const EncodedBlock& b : packed.blocks)
        total += SymbolCount + b.stream.size();
    return total;
}

int verify_payload(const Manifest& manifest, const PackedPayload& packed, std::string& error)
{
    LoadedImage loaded(manifest, packed);
    for (const ManifestFile& f : manifest.files)
        for (size_t i = 0; i < f.bytes.size(); i++) {
            int byte = next_payload_byte();
            if (byte != f.bytes[i]) {
                error = "decoding the package gives a different byte at offset " + std::to_string(i) + " of '" +
                        f.name + "' (block " + std::to_string(Stream.block_index) + ", decoder fault " +
                        std::to_string(Decoder.fault) + ")";
                return 0;
            }
        }
    bool at_end = packed.blocks.empty() ||
                  (Stream.block_index + 1 == packed.blocks.size() && Stream.read_position == Stream.output_length);
    if (!at_end) {
        error = "the decoded payload is longer than the files";
        return 0;
    }
    return 1;
}

std::string generated_source(const Manifest& manifest, const PackedPayload& packed, const std::string& origin)
{
    LoadedImage loaded(manifest, packed);
    const PackageImage& image = loaded.tables.image;
    const ImageChecksums& sums = image.checksums;
    std::string out = "// Generated by quorvel-pack from " + origin + ". Do not edit.\n"
                      "#include \"package/image.h\"\n\nnamespace {\n\n";
    emit_lists(out, image);
    emit_blocks(out, image.blocks);
    emit_checksums(out, image);
    out += "const PackageImage QuorvelImage = {\n";
    out += "    {" + std::to_string(image.directories.count) + ", directory_paths},\n";
    out += "    {" + std::to_string(image.entries.count) + "u, entries},\n";
    out += "    known_builds,\n";
    out += "    {" + std::to_string(image.blocks.block_count) + "u, " + std::to_string(image.blocks.payload_length) +
           "u, code_lengths, stream, bit_counts},\n";
    out += "    {" + std::to_string(sums.layout) + "u, " + std::to_string(sums.tables) + "u, " +
           std::to_string(sums.directories) + "u, " + std::to_string(sums.entries) + "u, " +
           std::to_string(sums.builds) + "u, block_checksums, content_checksums},\n};\n\n";
    out += "}  // namespace\n\nconst PackageImage* Package = &QuorvelImage;\n";
    return out;
}

std::string summary_line(const Manifest& manifest, const PackedPayload& packed)
{
    return std::to_string(manifest.files.size()) + " files, " + std::to_string(packed.payload.size()) + " bytes, " +
           std::to_string(packed.blocks.size()) + " blocks, " + std::to_string(compressed_size(packed)) +
           " compressed";
}
