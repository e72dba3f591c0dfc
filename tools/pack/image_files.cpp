#include "tools/pack/image_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

// A stretch of the data file that the assembler source labels. The
// assembler aligns each label, so the data file itself holds no padding.
struct Region {
    const char* symbol;
    uint64_t offset;
    uint64_t size;
    unsigned alignment;
};

// An array of addresses into a region, one per block, folder or build.
struct AddressTable {
    const char* symbol;
    const char* region;
    std::vector<uint64_t> offsets;
};

struct Layout {
    std::vector<Region> regions;
    std::vector<AddressTable> tables;
};

void write_bytes(ImageWriter& writer, const void* from, uint64_t count)
{
    writer.data.write(static_cast<const char*>(from), std::streamsize(count));
    writer.size += count;
}

// Little-endian, as every target is; the C++ source refuses any other.
void write_words(ImageWriter& writer, Layout& layout, const char* symbol, const uint32_t* values, uint32_t count)
{
    layout.regions.push_back({symbol, writer.size, uint64_t(count) * 4, 4});
    for (uint32_t i = 0; i < count; i++) {
        const unsigned char b[4] = {(unsigned char)values[i], (unsigned char)(values[i] >> 8),
                                    (unsigned char)(values[i] >> 16), (unsigned char)(values[i] >> 24)};
        write_bytes(writer, b, 4);
    }
}

// The blocks are already in the data file, each block's code lengths and
// stream back to back, as the decoder reads them.
void lay_out_blocks(const ImageWriter& writer, Layout& layout)
{
    uint64_t end = writer.size;
    layout.regions.push_back({"quorvel_image_blocks", 0, end, 1});
    AddressTable lengths{"quorvel_image_code_lengths", "quorvel_image_blocks", writer.blocks};
    AddressTable streams{"quorvel_image_streams", "quorvel_image_blocks", writer.blocks};
    for (uint64_t& offset : streams.offsets)
        offset += SymbolCount;
    layout.tables.push_back(std::move(lengths));
    layout.tables.push_back(std::move(streams));
}

void write_strings(ImageWriter& writer, Layout& layout, const PackageImage& image)
{
    uint64_t start = writer.size;
    AddressTable paths{"quorvel_image_directory_paths", "quorvel_image_strings", {}};
    AddressTable builds{"quorvel_image_known_builds", "quorvel_image_strings", {}};
    auto text = [&](AddressTable& table, const char* s) {
        table.offsets.push_back(writer.size - start);
        write_bytes(writer, s, std::char_traits<char>::length(s) + 1);
    };
    for (int32_t i = 0; i < image.directories.count; i++)
        text(paths, image.directories.paths[i]);
    for (uint32_t i = 0; i < KnownBuildCount; i++)
        text(builds, image.known_builds[i]);
    layout.regions.push_back({"quorvel_image_strings", start, writer.size - start, 1});
    layout.tables.push_back(std::move(paths));
    layout.tables.push_back(std::move(builds));
}

void write_rest(ImageWriter& writer, Layout& layout, const PackageImage& image)
{
    lay_out_blocks(writer, layout);
    write_strings(writer, layout, image);
    uint64_t entries = uint64_t(image.entries.count) * sizeof(EntryRecord);
    layout.regions.push_back({"quorvel_image_entries", writer.size, entries, 1});
    write_bytes(writer, image.entries.entries, entries);
    layout.regions.push_back({"quorvel_image_executable", writer.size, image.entries.count, 1});
    write_bytes(writer, image.entries.executable, image.entries.count);
    uint64_t address = std::char_traits<char>::length(image.support_address) + 1;
    layout.regions.push_back({"quorvel_image_support_address", writer.size, address, 1});
    write_bytes(writer, image.support_address, address);
    uint32_t blocks = image.blocks.block_count;
    write_words(writer, layout, "quorvel_image_bit_counts", image.blocks.bit_counts, blocks);
    write_words(writer, layout, "quorvel_image_block_checksums", image.checksums.blocks, blocks);
    write_words(writer, layout, "quorvel_image_content_checksums", image.checksums.contents, image.entries.count);
}

// A path or name in a comment of either source, where a line break or the
// end of a block comment would end it early.
std::string comment_safe(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (static_cast<unsigned char>(c) < 0x20 || (c == '/' && !out.empty() && out.back() == '*')) ? '?' : c;
    return out;
}

std::string assembler_string(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// The section and address directives differ by object format and pointer
// size; the preprocessor picks them for the target. Addresses go where the
// dynamic linker may still fix them up before they turn read-only.
const char* const AssemblyPrologue =
    "#if defined(_WIN32)\n"
    "#define IMAGE_BYTES .section .rdata,\"dr\"\n"
    "#define IMAGE_ADDRESSES .section .rdata,\"dr\"\n"
    "#else\n"
    "#define IMAGE_BYTES .section .rodata\n"
    "#define IMAGE_ADDRESSES .section .data.rel.ro,\"aw\"\n"
    "#endif\n"
    "#if __SIZEOF_POINTER__ == 8\n"
    "#define ADDRESS .quad\n"
    "#else\n"
    "#define ADDRESS .long\n"
    "#endif\n"
    "#define JOIN_(a, b) a##b\n"
    "#define JOIN(a, b) JOIN_(a, b)\n"
    "#define SYMBOL(name) JOIN(__USER_LABEL_PREFIX__, name)\n"
    "#define LABEL(name) .globl SYMBOL(name); SYMBOL(name):\n\n";

std::string assembly_text(const Layout& data, const std::string& data_path, const std::string& origin)
{
    std::string out = "/* Generated by quorvel-pack from " + comment_safe(origin) + ". Do not edit. */\n";
    out += AssemblyPrologue;
    out += "IMAGE_BYTES\n";
    std::string path = assembler_string(data_path);
    for (const Region& r : data.regions) {
        out += ".balign " + std::to_string(r.alignment) + "\nLABEL(" + r.symbol + ")\n";
        if (r.size > 0)
            out += ".incbin " + path + ", " + std::to_string(r.offset) + ", " + std::to_string(r.size) + "\n";
    }
    out += "\nIMAGE_ADDRESSES\n";
    for (const AddressTable& t : data.tables) {
        out += ".balign 8\nLABEL(" + std::string(t.symbol) + ")\n";
        for (size_t i = 0; i < t.offsets.size(); i++)
            out += (i % 8 ? ", SYMBOL(" : "ADDRESS SYMBOL(") + std::string(t.region) +
                   ")+" + std::to_string(t.offsets[i]) + (i % 8 == 7 || i + 1 == t.offsets.size() ? "\n" : "");
    }
    out += "\n#if defined(__ELF__)\n.section .note.GNU-stack,\"\",%progbits\n#endif\n";
    return out;
}

std::string source_text(const PackageImage& image, const std::string& origin)
{
    const ImageChecksums& sums = image.checksums;
    auto u = [](uint32_t value) { return std::to_string(value) + "u"; };
    std::string out = "// Generated by quorvel-pack from " + comment_safe(origin) + ". Do not edit.\n";
    out += "// The tables are linked in from the assembler source beside this one.\n"
           "#include <bit>\n\n"
           "#include \"package/image.h\"\n\n"
           "static_assert(std::endian::native == std::endian::little, \"the tables are little-endian\");\n\n"
           "extern \"C\" {\n"
           "extern const char* const quorvel_image_directory_paths[];\n"
           "extern const EntryRecord quorvel_image_entries[];\n"
           "extern const unsigned char quorvel_image_executable[];\n"
           "extern const char quorvel_image_support_address[];\n"
           "extern const char* const quorvel_image_known_builds[];\n"
           "extern const unsigned char* const quorvel_image_code_lengths[];\n"
           "extern const unsigned char* const quorvel_image_streams[];\n"
           "extern const uint32_t quorvel_image_bit_counts[];\n"
           "extern const uint32_t quorvel_image_block_checksums[];\n"
           "extern const uint32_t quorvel_image_content_checksums[];\n"
           "}\n\nnamespace {\n\n"
           "const PackageImage QuorvelImage = {\n";
    out += "    {" + std::to_string(image.directories.count) + ", quorvel_image_directory_paths},\n";
    out += "    {" + u(image.entries.count) + ", quorvel_image_entries, quorvel_image_executable},\n";
    out += "    quorvel_image_known_builds,\n";
    out += "    {" + u(image.blocks.block_count) + ", " + u(image.blocks.payload_length) +
           ", quorvel_image_code_lengths, quorvel_image_streams, quorvel_image_bit_counts},\n";
    out += "    {" + u(sums.layout) + ", " + u(sums.tables) + ", " + u(sums.directories) + ", " + u(sums.entries) +
           ", " + u(sums.builds) + ", quorvel_image_block_checksums, quorvel_image_content_checksums},\n";
    out += "    quorvel_image_support_address,\n";
    out += "};\n\n}  // namespace\n\nconst PackageImage* Package = &QuorvelImage;\n";
    return out;
}

int write_text(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return bool(out);
}

std::string staging(const std::string& path)
{
    return path + ".part";
}

}  // namespace

ImageFiles image_files_beside(const std::string& source)
{
    std::filesystem::path path(source);
    return {std::filesystem::path(path).replace_extension(".bin").string(),
            std::filesystem::path(path).replace_extension(".S").string(), source};
}

int begin_image(ImageWriter& writer, const ImageFiles& files, const std::string& origin)
{
    writer.files = files;
    writer.origin = origin;
    writer.size = 0;
    writer.blocks.clear();
    writer.data.open(staging(files.data), std::ios::binary | std::ios::trunc);
    return bool(writer.data);
}

int add_image_block(ImageWriter& writer, const unsigned char* code_lengths, const unsigned char* stream,
                    uint32_t bit_count)
{
    writer.blocks.push_back(writer.size);
    write_bytes(writer, code_lengths, SymbolCount);
    write_bytes(writer, stream, (uint64_t(bit_count) + 7) / 8);
    return bool(writer.data);
}

void abandon_image(ImageWriter& writer)
{
    if (writer.data.is_open())
        writer.data.close();
    for (const std::string& path : {writer.files.data, writer.files.assembly, writer.files.source})
        std::remove(staging(path).c_str());
}

int finish_image(ImageWriter& writer, const PackageImage& image, std::string& error)
{
    Layout layout;
    if (image.blocks.block_count != writer.blocks.size()) {
        error = "the image has " + std::to_string(image.blocks.block_count) + " blocks, " +
                std::to_string(writer.blocks.size()) + " were written";
        abandon_image(writer);
        return 0;
    }
    write_rest(writer, layout, image);
    writer.data.close();
    const ImageFiles& files = writer.files;
    // The assembler is given the absolute path, so no include path is needed;
    // the path reaches no program, as the data's object has no debug lines.
    std::string data_path = std::filesystem::absolute(files.data).string();
    const std::string* failed = nullptr;
    if (!writer.data)
        failed = &files.data;
    else if (!write_text(staging(files.assembly), assembly_text(layout, data_path, writer.origin)))
        failed = &files.assembly;
    else if (!write_text(staging(files.source), source_text(image, writer.origin)))
        failed = &files.source;
    const std::string* order[] = {&files.data, &files.assembly, &files.source};
    int moved = 0;
    while (!failed && moved < 3) {
        if (std::rename(staging(*order[moved]).c_str(), order[moved]->c_str()) != 0)
            failed = order[moved];
        else
            moved++;
    }
    if (!failed)
        return 1;
    error = "cannot write " + *failed;
    abandon_image(writer);
    // New data beside an old source would be a different image.
    for (int i = 0; moved > 0 && i < 3; i++)
        std::remove(order[i]->c_str());
    return 0;
}

int write_image_files(const PackageImage& image, const ImageFiles& files, const std::string& origin,
                      std::string& error)
{
    ImageWriter writer;
    if (!begin_image(writer, files, origin)) {
        error = "cannot write " + files.data;
        return 0;
    }
    const BlockTables& blocks = image.blocks;
    for (uint32_t k = 0; k < blocks.block_count; k++)
        if (!add_image_block(writer, blocks.code_lengths[k], blocks.streams[k], blocks.bit_counts[k])) {
            error = "cannot write " + files.data;
            abandon_image(writer);
            return 0;
        }
    return finish_image(writer, image, error);
}
