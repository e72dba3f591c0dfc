#include "tools/pack/packer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

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

void emit_lists(std::string& out, const Manifest& manifest)
{
    out += "const char* const directory_paths[] = {\n";
    for (const std::string& d : manifest.directories)
        out += "    " + literal(d) + ",\n";
    out += manifest.directories.empty() ? "    nullptr,\n};\n\n" : "};\n\n";

    out += "const EntryRecord entries[] = {\n";
    for (const ManifestFile& f : manifest.files) {
        uint32_t size = uint32_t(f.bytes.size());
        out += "    {" + literal(f.name) + ", {" + std::to_string(size & 0xFF) + ", " +
               std::to_string((size >> 8) & 0xFF) + ", " + std::to_string((size >> 16) & 0xFF) + ", " +
               std::to_string(size >> 24) + "}},\n";
    }
    out += manifest.files.empty() ? "    {{0}, {0, 0, 0, 0}},\n};\n\n" : "};\n\n";

    out += "const char* const known_builds[KnownBuildCount] = {\n";
    for (const std::string& b : manifest.builds)
        out += "    " + literal(b) + ",\n";
    out += "};\n\n";
}

void emit_blocks(std::string& out, const PackedPayload& packed)
{
    for (size_t k = 0; k < packed.blocks.size(); k++) {
        const EncodedBlock& b = packed.blocks[k];
        out += "const unsigned char code_lengths_" + std::to_string(k) + "[SymbolCount] = {";
        for (uint32_t s = 0; s < SymbolCount; s++)
            out += (s % 32 ? " " : "\n    ") + std::to_string(b.code_lengths[s]) + ",";
        out += "\n};\n";
        out += "const unsigned char stream_" + std::to_string(k) + "[] =\n    ";
        append_literal(out, b.stream.data(), b.stream.size());
        out += ";\n\n";
    }
    const char* arrays[] = {"code_lengths", "stream"};
    for (const char* name : arrays) {
        out += std::string("const unsigned char* const ") + name + "[] = {";
        for (size_t k = 0; k < packed.blocks.size(); k++)
            out += (k % 8 ? " " : "\n    ") + std::string(name) + "_" + std::to_string(k) + ",";
        out += packed.blocks.empty() ? "\n    nullptr,\n};\n" : "\n};\n";
    }
    out += "const uint32_t bit_counts[] = {";
    for (size_t k = 0; k < packed.blocks.size(); k++)
        out += (k % 8 ? " " : "\n    ") + std::to_string(packed.blocks[k].bit_count) + ",";
    out += packed.blocks.empty() ? "\n    0,\n};\n\n" : "\n};\n\n";
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

LoadedImage::LoadedImage(const Manifest& manifest, const PackedPayload& packed) : previous(Package)
{
    for (const ManifestFile& f : manifest.files) {
        EntryRecord entry{};
        std::memcpy(entry.name, f.name.c_str(), std::min(f.name.size(), sizeof entry.name - 1));
        uint32_t size = uint32_t(f.bytes.size());
        for (int i = 0; i < 4; i++)
            entry.size[i] = static_cast<unsigned char>(size >> (8 * i));
        entries.push_back(entry);
    }
    for (const std::string& d : manifest.directories)
        directories.push_back(d.c_str());
    for (const std::string& b : manifest.builds)
        builds.push_back(b.c_str());
    builds.resize(KnownBuildCount, "");
    for (const EncodedBlock& b : packed.blocks) {
        code_lengths.push_back(b.code_lengths);
        streams.push_back(b.stream.data());
        bit_counts.push_back(b.bit_count);
    }
    image.directories = {int32_t(directories.size()), directories.data()};
    image.entries = {uint32_t(entries.size()), entries.data()};
    image.known_builds = builds.data();
    image.blocks = {uint32_t(packed.blocks.size()), uint32_t(packed.payload.size()), code_lengths.data(),
                    streams.data(), bit_counts.data()};
    Package = &image;
    Stream = PayloadStream{1, 0, 0, 0, 0};
}

LoadedImage::~LoadedImage()
{
    Package = previous;
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
    std::string out = "// Generated by quorvel-pack from " + origin + ". Do not edit.\n"
                      "#include \"package/image.h\"\n\nnamespace {\n\n";
    emit_lists(out, manifest);
    emit_blocks(out, packed);
    out += "const PackageImage QuorvelImage = {\n";
    out += "    {" + std::to_string(manifest.directories.size()) + ", directory_paths},\n";
    out += "    {" + std::to_string(manifest.files.size()) + "u, entries},\n";
    out += "    known_builds,\n";
    out += "    {" + std::to_string(packed.blocks.size()) + "u, " + std::to_string(packed.payload.size()) +
           "u, code_lengths, stream, bit_counts},\n};\n\n";
    out += "}  // namespace\n\nconst PackageImage* Package = &QuorvelImage;\n";
    return out;
}

std::string summary_line(const Manifest& manifest, const PackedPayload& packed)
{
    return std::to_string(manifest.files.size()) + " files, " + std::to_string(packed.payload.size()) + " bytes, " +
           std::to_string(packed.blocks.size()) + " blocks, " + std::to_string(compressed_size(packed)) +
           " compressed";
}
