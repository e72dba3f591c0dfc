// Payload stream: an image's blocks decoded in order and handed out a run
// of bytes at a time. The state is the caller's: the installer reads its
// image through one global stream, the packer checks what it made through
// one of its own.
#pragma once

#include <cstdint>

#include "package/decoder.h"
#include "package/image.h"

// Read state of a payload across blocks; one pass per stream.
struct PayloadStream {
    int pending;              // set until block 0 has been decoded
    uint32_t block_index;     // the block whose bytes are in BlockBuffer
    uint32_t read_position;   // next BlockBuffer byte to hand out
    uint32_t output_length;   // valid bytes in BlockBuffer, set by decode_block
    int broken;               // a block failed to decode or the payload ran out
    uint32_t checksum;        // CRC-32C of the bytes handed out since start_payload_checksum...
    uint32_t checksum_from;   // ...up to this BlockBuffer position
    // While set, told before each block is decoded how many blocks are done,
    // out of the image's count; the driver sets it for payloads that take a
    // while.
    void (*progress)(uint32_t done, uint32_t total);
};

// The stream before its first byte, as the image's initial data sets it.
constexpr PayloadStream PayloadStreamStart = {1, 0, 0, 0, 0, 0, 0, nullptr};

// Hands out the next bytes of the current block of blocks, at most count,
// and points bytes at them. Decodes the next block that holds bytes only
// once the current one is used up. Returns how many, or 0 once the stream
// is broken: a block was malformed or a byte beyond the payload was asked
// for. Once broken, it stays broken, so no later file receives bytes that
// are not its own.
uint32_t take_payload_run(PayloadStream& stream, const BlockTables& blocks, uint32_t count,
                          const unsigned char*& bytes);

// The checksum of the bytes handed out from here on; the bytes are summed a
// block's span at a time, not one by one.
void start_payload_checksum(PayloadStream& stream);
uint32_t payload_checksum(PayloadStream& stream);
