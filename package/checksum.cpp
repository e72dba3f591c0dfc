#include "package/checksum.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <nmmintrin.h>
#define QUORVEL_CRC_HARDWARE 1
#endif

namespace {

constexpr uint32_t Polynomial = 0x82F63B78u;

// Slicing by eight: table[k][b] is the CRC of byte b followed by k zero
// bytes. Filled on first use, so it costs the program file nothing.
uint32_t Table[8][256];
int TableReady;

void fill_table()
{
    for (uint32_t b = 0; b < 256; b++) {
        uint32_t crc = b;
        for (int bit = 0; bit < 8; bit++)
            crc = crc & 1 ? (crc >> 1) ^ Polynomial : crc >> 1;
        Table[0][b] = crc;
    }
    for (uint32_t b = 0; b < 256; b++)
        for (int k = 1; k < 8; k++)
            Table[k][b] = (Table[k - 1][b] >> 8) ^ Table[0][Table[k - 1][b] & 0xFF];
    TableReady = 1;
}

uint32_t software_crc(uint32_t crc, const unsigned char* p, size_t size)
{
    if (!TableReady)
        fill_table();
    for (; size >= 8; p += 8, size -= 8) {
        uint32_t low;
        uint32_t high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low ^= crc;   // the tables assume little-endian words, as on every target we build
        crc = Table[7][low & 0xFF] ^ Table[6][(low >> 8) & 0xFF] ^ Table[5][(low >> 16) & 0xFF] ^
              Table[4][low >> 24] ^ Table[3][high & 0xFF] ^ Table[2][(high >> 8) & 0xFF] ^
              Table[1][(high >> 16) & 0xFF] ^ Table[0][high >> 24];
    }
    for (; size > 0; p++, size--)
        crc = (crc >> 8) ^ Table[0][(crc ^ *p) & 0xFF];
    return crc;
}

#ifdef QUORVEL_CRC_HARDWARE
// The SSE4.2 crc32 instruction computes exactly this polynomial, eight bytes
// a step.
__attribute__((target("sse4.2"))) uint32_t hardware_crc(uint32_t crc, const unsigned char* p, size_t size)
{
    uint64_t wide = crc;
    for (; size >= 8; p += 8, size -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        wide = _mm_crc32_u64(wide, word);
    }
    crc = uint32_t(wide);
    for (; size > 0; p++, size--)
        crc = _mm_crc32_u8(crc, *p);
    return crc;
}

int has_hardware_crc()
{
    static int known = -1;
    // cpuid itself: __builtin_cpu_supports links the runtime's 5 KB CPU model.
    if (known < 0) {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        known = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSE4_2) ? 1 : 0;
    }
    return known;
}
#endif

}  // namespace

uint32_t crc32c(uint32_t crc, const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
#ifdef QUORVEL_CRC_HARDWARE
    if (has_hardware_crc())
        return ~hardware_crc(crc, p, size);
#endif
    return ~software_crc(crc, p, size);
}

uint32_t crc32c_portable(uint32_t crc, const void* data, size_t size)
{
    return ~software_crc(~crc, static_cast<const unsigned char*>(data), size);
}

uint32_t crc32c_u32(uint32_t crc, uint32_t value)
{
    unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                              static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return crc32c(crc, bytes, 4);
}
