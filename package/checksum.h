// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78): the check the
// packer records for every part of the image and every file's bytes, and
// the installer recomputes before it trusts them.
#pragma once

#include <cstddef>
#include <cstdint>

// Extends crc, the checksum of the bytes before data (0 for none), over
// size more bytes. crc32c(0, "123456789", 9) is 0xE3069283.
uint32_t crc32c(uint32_t crc, const void* data, size_t size);

// The same over a 32-bit value taken as its four little-endian bytes, so a
// count means the same on every host.
uint32_t crc32c_u32(uint32_t crc, uint32_t value);

// The table-driven path that machines without the CRC instruction take;
// crc32c picks it by itself, tests call it to hold both paths to one answer.
uint32_t crc32c_portable(uint32_t crc, const void* data, size_t size);
