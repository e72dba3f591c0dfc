#include "tools/pack/installed_image.h"

#include "package/checksum.h"
#include "package/stream.h"

InstalledTables::~InstalledTables()
{
    if (installed)
        Package = previous;
}

void InstalledTables::install()
{
    seal();
    if (!installed)
        previous = Package;
    installed = 1;
    Package = &image;
    Stream = PayloadStreamStart;
}

LoadedImage::LoadedImage(const Manifest& manifest, const PackedPayload& packed)
{
    size_t at = 0;
    for (const ManifestFile& f : manifest.files) {
        size_t size = size_t(file_size(f));
        tables.entries.push_back(entry_record(f.name, uint32_t(size)));
        tables.executable.push_back(f.executable);
        tables.contents.push_back(crc32c(0, packed.payload.data() + at, size));
        at += size;
    }
    for (const std::string& d : manifest.directories)
        tables.directories.push_back(d.c_str());
    for (const std::string& b : manifest.builds)
        tables.builds.push_back(b.c_str());
    tables.support_address = manifest.support_address.c_str();
    for (const EncodedBlock& b : packed.blocks) {
        tables.code_lengths.push_back(b.code_lengths);
        tables.streams.push_back(b.stream.data());
        tables.bit_counts.push_back(b.bit_count);
    }
    tables.install();
}

