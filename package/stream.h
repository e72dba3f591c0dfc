// Payload stream and extraction: the image's payload into files on disk.
#pragma once

#include <cstdint>

#include "package/decoder.h"
#include "package/image.h"
#include "platform/files.h"
#include "platform/paths.h"

// Read state of the payload across blocks; one pass per process.
struct PayloadStream {
    int pending;              // set until block 0 has been decoded
    uint32_t block_index;     // the block whose bytes are in BlockBuffer
    uint32_t read_position;   // next BlockBuffer byte to hand out
    uint32_t output_length;   // valid bytes in BlockBuffer, set by decode_block
    int broken;               // a block failed to decode or the payload ran out
    uint32_t checksum;        // CRC-32C of the bytes handed out since start_payload_checksum...
    uint32_t checksum_from;   // ...up to this BlockBuffer position
};

// The stream before its first byte, as the image's initial data sets it.
constexpr PayloadStream PayloadStreamStart = {1, 0, 0, 0, 0, 0, 0};

extern PayloadStream Stream;

// The stream and ErrorCount stand as they start: the start state is part of
// the program's initial data, which no image checksum covers, and a damaged
// one would make a run act on blocks or counts that are not the package's.
int stream_at_start();

// Output files that could not be written whole. Only grows.
extern int32_t ErrorCount;

// While set, told before each block is decoded how many blocks are done, out
// of the image's count; the driver sets it for payloads that take a while.
struct ProgressHook {
    void (*advance)(uint32_t done, uint32_t total);
};
extern ProgressHook Progress;

// next_payload_byte once the current block is used up: decodes the next
// block that holds bytes, or breaks the stream.
int next_payload_byte_from_next_block();

// The next payload byte 0-255, or -1 once the stream is broken: a block was
// malformed or a byte beyond the payload was asked for. Once broken, it stays
// broken, so no later file receives bytes that are not its own. Before the
// first byte and once broken the output length is 0, so one comparison
// serves every byte but a block's first.
inline int next_payload_byte()
{
    if (Stream.read_position < Stream.output_length)
        return BlockBuffer[Stream.read_position++];
    return next_payload_byte_from_next_block();
}

// Hands out the next bytes of the current block, at most count, as that
// many next_payload_byte calls would, and points bytes at them. Decodes the
// next block only once the current one is used up. Returns how many, or 0
// once the stream is broken. Extraction copies files this way, and the
// packer checks what it made this way.
uint32_t take_payload_run(uint32_t count, const unsigned char*& bytes);

// The checksum of the bytes handed out from here on; the bytes are summed a
// block's span at a time, not one by one.
void start_payload_checksum();
uint32_t payload_checksum();

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
