// Payload stream and extraction: the image's payload into files on disk.
#pragma once

#include <cstdint>

#include "package/image.h"

// Read state of the payload across blocks; one pass per process.
struct PayloadStream {
    int pending;              // set until block 0 has been decoded
    uint32_t block_index;     // the block whose bytes are in BlockBuffer
    uint32_t read_position;   // next BlockBuffer byte to hand out
    uint32_t output_length;   // valid bytes in BlockBuffer, set by decode_block
    int broken;               // a block failed to decode or the payload ran out
};

extern PayloadStream Stream;

// Output files that could not be written whole. Only grows.
extern int32_t ErrorCount;

// The next payload byte 0-255, or -1 once the stream is broken: a block was
// malformed or a byte beyond the payload was asked for. Once broken, it stays
// broken, so no later file receives bytes that are not its own.
int next_payload_byte();

// out = a + "/" + b. Returns 0, leaving out empty, when that does not fit
// PathBufferSize bytes.
int join_path(const char* a, const char* b, char* out);

// Writes one entry's file below folder from the stream. A file that cannot
// be written whole counts in ErrorCount; its bytes are still taken from the
// stream so that every later entry receives its own.
void extract_entry(const char* folder, const EntryRecord* entry);

// Creates folder\Quorvel and the image's folders, then writes every entry.
// Returns 1 when ErrorCount <= 0 afterwards.
int install_fresh(const char* folder);

#if defined(__GNUC__)
#define QUORVEL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define QUORVEL_PRINTF(f, a)
#endif

// snprintf into a PathBufferSize buffer. Returns 0, leaving it empty, when
// the result would not fit: a cut path could name some other file.
int format_path(char* out, const char* format, ...) QUORVEL_PRINTF(2, 3);
