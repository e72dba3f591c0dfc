// A small deflate writer for the build tools, so that they need no zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A zlib stream (RFC 1950 wrapper around RFC 1951 deflate) of the bytes,
// compressed as well as this writer can: LZ77 matches with Huffman blocks.
std::vector<unsigned char> zlib_compress(const unsigned char* data, size_t size);

// CRC-32 as PNG and zlib's gzip use it (reflected 0xEDB88320), crc = 0 to start.
uint32_t crc32_ieee(uint32_t crc, const unsigned char* data, size_t size);
