// Images made in memory handed to the installer's own code, which reads
// the image it carries through Package and its one stream: for the tests,
// benchmarks and fuzz targets, never the packer.
#pragma once

#include "tools/pack/image_tables.h"
#include "tools/pack/packer.h"

struct InstalledTables : ImageTables {
    InstalledTables() = default;
    ~InstalledTables();

    // seal, then make this the Package with the payload stream at its start;
    // the previous Package comes back when this goes.
    void install();

private:
    const PackageImage* previous = nullptr;
    int installed = 0;
};

// A package image over a manifest and its packed payload, installed.
struct LoadedImage {
    InstalledTables tables;
    LoadedImage(const Manifest& manifest, const PackedPayload& packed);
};
