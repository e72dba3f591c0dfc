// The packer's manifest: which folders, build names and files make a package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestFile {
    std::string name;                  // entry name, "/" separated
    std::vector<unsigned char> bytes;
};

struct Manifest {
    std::vector<std::string> directories;   // "\\Quorvel\\..." in creation order
    std::vector<std::string> builds;        // exactly KnownBuildCount
    std::vector<ManifestFile> files;        // in payload order
    std::vector<std::string> inputs;        // every file read, for build dependencies
};

// Reads the manifest at path; file names are relative to its folder.
// Returns 0 with a message naming the line on any bad input.
int read_manifest(const std::string& path, Manifest& manifest, std::string& error);

// Why an entry or folder name would be unsafe to unpack ("" when it is fine).
std::string name_problem(const std::string& name);
