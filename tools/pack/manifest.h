// The packer's manifest: which folders, build names and files make a package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/names.h"

// What the failed message names unless a support line says otherwise.
inline const char* const DefaultSupportAddress = "support@quorvel.example";

struct ManifestFile {
    std::string name;                  // entry name, "/" separated
    std::vector<unsigned char> bytes;  // the contents, when held in memory
    std::string source;                // else the file to read them from...
    uint64_t size = 0;                 // ...and its size when the manifest was read
    bool executable = false;           // listed by exec: created runnable where files have run bits

    ManifestFile(std::string entry_name = {}, std::vector<unsigned char> contents = {})
        : name(std::move(entry_name)), bytes(std::move(contents))
    {
    }
};

// How a manifest read from disk holds its files: a game's payload need not
// fit in memory, so the packer reads each file as its blocks come up.
enum class FileBytes { Loaded, OnDemand };

uint64_t file_size(const ManifestFile& file);

// The whole contents of file, from memory or from its source. Returns 0
// with a message when the source cannot be read or has changed size.
int file_bytes(const ManifestFile& file, std::vector<unsigned char>& bytes, std::string& error);

struct Manifest {
    std::vector<std::string> directories;   // "\\Quorvel\\..." in creation order
    std::vector<std::string> builds;        // exactly KnownBuildCount
    std::vector<ManifestFile> files;        // in payload order
    std::vector<std::string> inputs;        // every file read, for build dependencies
    std::string support_address = DefaultSupportAddress;   // named by the failed message
    std::string version;                    // what the Windows version information shows; "" for the default
};

// Every file's bytes together.
uint64_t payload_length(const Manifest& manifest);

// Reads the manifest at path; file names are relative to its folder.
// Returns 0 with a message naming the line on any bad input.
int read_manifest(const std::string& path, Manifest& manifest, std::string& error,
                  FileBytes mode = FileBytes::Loaded);

// The same for manifest text in memory: file names are relative to folder
// ("" or ending in "/"), and messages name origin and the line.
int parse_manifest(const std::string& text, const std::string& folder, const std::string& origin, Manifest& manifest,
                   std::string& error, FileBytes mode = FileBytes::Loaded);

// An older release's manifest at path: its build lines in order, each
// checked as read_manifest checks it, and its dir and file lines as
// written, no file read, so the files of that release need not exist any
// more. Any count of builds is taken.
int read_manifest_listing(const std::string& path, Manifest& manifest, std::string& error);

// "" when version is up to four dot-separated numbers of 0 to 65535, as the
// Windows version information holds them, else why not.
std::string version_problem(const std::string& version);
