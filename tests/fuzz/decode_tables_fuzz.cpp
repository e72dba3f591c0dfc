// libFuzzer: decode_block on any code length table and any stream. Whatever
// the input, the decoder must stay inside its pools and buffers and either
// decode or name a fault.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/decoder.h"
#include "package/stream.h"
#include "tests/fuzz/one_block.h"

const PackageImage* Package = nullptr;

// Input: 320 code lengths, one byte of pad bits to leave off the end, then
// the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < SymbolCount + 1)
        return 0;
    static unsigned char lengths[SymbolCount];
    std::memcpy(lengths, data, SymbolCount);
    // Exactly the stream's bytes, so a read past them is caught.
    std::vector<unsigned char> stream(data + SymbolCount + 1, data + size);
    uint32_t bits = uint32_t(stream.size() * 8);
    bits -= std::min<uint32_t>(bits, data[SymbolCount] % 8);

    int decoded = decode_one_block(lengths, stream, bits);
    if (Stream.output_length > BlockBufferSize || (decoded == 0) != (Decoder.fault != DecodeOk) ||
        (decoded == 0 && Stream.output_length != 0))
        std::abort();
    return 0;
}
