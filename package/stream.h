// Extraction: the package's payload into files on disk, through the
// installer's stream over the image it carries.
#pragma once

#include <cstdint>

#include "package/payload_stream.h"
#include "platform/files.h"
#include "platform/paths.h"

// The installer's stream over Package's blocks; one pass per process.
extern PayloadStream Stream;

// Output files that could not be written whole. Only grows.
extern int32_t ErrorCount;

// The stream and ErrorCount stand as they start: the start state is part of
// the program's initial data, which no image checksum covers, and a damaged
// one would make a run act on blocks or counts that are not the package's.
int stream_at_start();

// Writes one entry's file below folder from the stream. A file that cannot
// be written whole, or whose bytes do not match the entry's recorded
// checksum, counts in ErrorCount and replaces nothing; its bytes are still
// taken from the stream so that every later entry receives its own.
void extract_entry(const char* folder, const EntryRecord* entry);

// extract_entry in two steps, for a file that must change after others: the
// checked file waits at its staging name until land_entry moves it into
// place. Null, counted in ErrorCount, when it could not be written whole.
platform::File* stage_entry(const char* folder, const EntryRecord* entry);
void land_entry(platform::File* staged);   // counts a failure; null does nothing

// The stream back at its start and ErrorCount at 0, for a run that unpacks
// again after an install that could not take its place.
void rewind_payload();

// Whether every entry's path below folder fits a path buffer. Checked before
// the first change, so that no path is found too long halfway.
int entry_paths_fit(const char* folder);

// Flushes the names in every folder that holds an entry below folder, once
// each; a folder that cannot be flushed counts in ErrorCount.
void sync_entry_folders(const char* folder);

enum FreshOutcome {
    FreshFailed = 0,     // nothing usable: ErrorCount > 0, or nothing could be built
    FreshUnpacked = 1,   // every entry written and on the disk
    FreshTaken = 2,      // something else took folder\Quorvel first; nothing is left
};

// Builds the installation under a staging name beside folder\Quorvel (what
// a killed run left there is removed first) and gives it that name in one
// step at the end, only while the name is free. With errors the tree still
// takes the name, its written files staying. The caller holds the lock on
// folder. Nothing is written when a path would not fit.
FreshOutcome install_fresh(const char* folder);
