#include "package/payload_stream.h"

#include "package/checksum.h"

namespace {

void sum_handed_out(PayloadStream& stream, uint32_t end)
{
    if (end > stream.checksum_from)
        stream.checksum = crc32c(stream.checksum, BlockBuffer + stream.checksum_from, end - stream.checksum_from);
    stream.checksum_from = end;
}

// Moves to the next block that holds bytes. Returns 0 and breaks the stream
// when there is none or it does not decode.
int advance_block(PayloadStream& stream, const BlockTables& blocks)
{
    sum_handed_out(stream, stream.output_length);
    do {
        if (stream.pending)
            stream.pending = 0;
        else
            stream.block_index++;
        stream.read_position = 0;
        stream.checksum_from = 0;
        if (stream.progress)
            stream.progress(stream.block_index, blocks.block_count);
        if (!decode_block(blocks, stream.block_index, stream.output_length)) {
            stream.broken = 1;
            return 0;
        }
    } while (stream.output_length == 0);
    return 1;
}

}  // namespace

uint32_t take_payload_run(PayloadStream& stream, const BlockTables& blocks, uint32_t count,
                          const unsigned char*& bytes)
{
    if (stream.read_position >= stream.output_length && (stream.broken || !advance_block(stream, blocks)))
        return 0;
    uint32_t left = stream.output_length - stream.read_position;
    uint32_t run = count < left ? count : left;
    bytes = BlockBuffer + stream.read_position;
    stream.read_position += run;
    return run;
}

void start_payload_checksum(PayloadStream& stream)
{
    stream.checksum = 0;
    stream.checksum_from = stream.read_position;
}

uint32_t payload_checksum(PayloadStream& stream)
{
    sum_handed_out(stream, stream.read_position);
    return stream.checksum;
}
