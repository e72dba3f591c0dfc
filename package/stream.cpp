#include "package/stream.h"

#include "package/checksum.h"
#include "platform/platform.h"

PayloadStream Stream = PayloadStreamStart;
int32_t ErrorCount = 0;
ProgressHook Progress = {nullptr};

namespace {

void sum_handed_out(uint32_t end)
{
    if (end > Stream.checksum_from)
        Stream.checksum = crc32c(Stream.checksum, BlockBuffer + Stream.checksum_from, end - Stream.checksum_from);
    Stream.checksum_from = end;
}

// Moves to the next block that holds bytes. Returns 0 and breaks the stream
// when there is none or it does not decode.
int advance_block()
{
    sum_handed_out(Stream.output_length);
    do {
        if (Stream.pending)
            Stream.pending = 0;
        else
            Stream.block_index++;
        Stream.read_position = 0;
        Stream.checksum_from = 0;
        if (Progress.advance)
            Progress.advance(Stream.block_index, Package->blocks.block_count);
        if (!decode_block(Stream.block_index)) {
            Stream.broken = 1;
            return 0;
        }
    } while (Stream.output_length == 0);
    return 1;
}

// Takes count bytes from the stream without writing them anywhere.
void skip_payload(uint32_t count)
{
    const unsigned char* bytes;
    while (count > 0) {
        uint32_t run = take_payload_run(count, bytes);
        if (run == 0)
            return;
        count -= run;
    }
}

// Writes count stream bytes to file. Returns 0 on the first failure, after
// taking the rest of the bytes from the stream all the same. A block's bytes
// go to the file a run at a time, so that neither the stream's position nor
// the file's count makes a round trip through memory for every byte.
int copy_payload(platform::File* file, uint32_t count)
{
    int written = 1;
    const unsigned char* bytes;
    while (count > 0) {
        uint32_t run = take_payload_run(count, bytes);
        if (run == 0)
            return 0;
        if (written && !platform::fputc_each(bytes, run, file))
            written = 0;
        count -= run;
    }
    return written;
}

void skip_entry(const EntryRecord* entry)
{
    ErrorCount++;
    skip_payload(entry_size(entry));
}

// The checksum and the executable mark the image records for entry.
// Returns 0 for a record that is not one of the image's own: its bytes
// cannot be checked.
int recorded_facts(const EntryRecord* entry, uint32_t& checksum, int& executable)
{
    const EntryTable& table = Package->entries;
    if (entry < table.entries || entry >= table.entries + table.count)
        return 0;
    checksum = Package->checksums.contents[entry - table.entries];
    executable = table.executable[entry - table.entries];
    return 1;
}

}  // namespace

uint32_t take_payload_run(uint32_t count, const unsigned char*& bytes)
{
    if (Stream.read_position >= Stream.output_length && (Stream.broken || !advance_block()))
        return 0;
    uint32_t left = Stream.output_length - Stream.read_position;
    uint32_t run = count < left ? count : left;
    bytes = BlockBuffer + Stream.read_position;
    Stream.read_position += run;
    return run;
}

int next_payload_byte_from_next_block()
{
    if (Stream.broken || !advance_block())
        return -1;
    return BlockBuffer[Stream.read_position++];
}

void start_payload_checksum()
{
    Stream.checksum = 0;
    Stream.checksum_from = Stream.read_position;
}

uint32_t payload_checksum()
{
    sum_handed_out(Stream.read_position);
    return Stream.checksum;
}

platform::File* stage_entry(const char* folder, const EntryRecord* entry)
{
    char path[PathBufferSize];
    uint32_t expected = 0;
    int executable = 0;
    platform::File* file = nullptr;
    if (!recorded_facts(entry, expected, executable) || !join_path(folder, entry->name, path) ||
        !(file = executable ? platform::fopen_program(path) : platform::fopen(path, "wb"))) {
        skip_entry(entry);
        return nullptr;
    }
    start_payload_checksum();
    // Bytes that are not the package's own never replace the file there.
    if (!copy_payload(file, entry_size(entry)) || payload_checksum() != expected) {
        platform::fdiscard(file);
        ErrorCount++;
        return nullptr;
    }
    if (platform::fclose_staged(file) != 0) {
        ErrorCount++;
        return nullptr;
    }
    return file;
}

void land_entry(platform::File* staged)
{
    if (staged && platform::fland(staged) != 0)
        ErrorCount++;
}

void extract_entry(const char* folder, const EntryRecord* entry)
{
    land_entry(stage_entry(folder, entry));
}

int install_fresh(const char* folder)
{
    char path[PathBufferSize];
    if (format_path(path, "%s%s", folder, "\\Quorvel"))
        platform::CreateDirectoryA(path, nullptr);
    const DirectoryList& directories = Package->directories;
    for (int32_t i = 0; i < directories.count; i++)
        if (format_path(path, "%s%s", folder, directories.paths[i]))
            platform::CreateDirectoryA(path, nullptr);

    const EntryTable& entries = Package->entries;
    int top_fits = format_path(path, "%s%s", folder, "\\Quorvel");
    for (uint32_t i = 0; i < entries.count; i++) {
        if (top_fits)
            extract_entry(path, &entries.entries[i]);
        else
            skip_entry(&entries.entries[i]);
    }
    return ErrorCount <= 0;
}
