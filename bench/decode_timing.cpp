// Times decoding the compiled-in package with the decoder's objects exactly
// as the installer program of this build links them: the Windows one is run
// under wine and compared with the native one by payload_bench.
// usage: decode_timing [PASSES]
// Prints "PAYLOAD_BYTES CHECKSUM MEDIAN_US": the checksum of every decoded
// byte shows both builds decoded the same package alike.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "package/checksum.h"
#include "package/decoder.h"
#include "package/image.h"
#include "package/stream.h"

int main(int argc, char** argv)
{
    int passes = argc > 1 ? std::atoi(argv[1]) : 15;
    if (passes < 1)
        return 2;
    std::vector<double> times;
    uint64_t bytes = 0;
    uint32_t sum = 0;
    for (int pass = 0; pass < passes; pass++) {
        bytes = 0;
        sum = 0;
        double micros = 0;
        for (uint32_t k = 0; k < Package->blocks.block_count; k++) {
            auto start = std::chrono::steady_clock::now();
            int decoded = decode_block(Package->blocks, k, Stream.output_length);
            micros += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
            if (!decoded) {
                std::fprintf(stderr, "decode_timing: block %u did not decode\n", unsigned(k));
                return 1;
            }
            bytes += Stream.output_length;
            sum = crc32c(sum, BlockBuffer, Stream.output_length);
        }
        times.push_back(micros);
    }
    std::sort(times.begin(), times.end());
    std::printf("%llu %08x %.0f\n", static_cast<unsigned long long>(bytes), unsigned(sum), times[times.size() / 2]);
    return 0;
}
