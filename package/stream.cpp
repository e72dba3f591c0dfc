#include "package/stream.h"

#include <cstdarg>
#include <cstdio>

#include "package/decoder.h"
#include "platform/platform.h"

PayloadStream Stream = {1, 0, 0, 0, 0};
int32_t ErrorCount = 0;

namespace {

// Moves to the next block that holds bytes. Returns 0 and breaks the stream
// when there is none or it does not decode.
int advance_block()
{
    do {
        if (Stream.pending)
            Stream.pending = 0;
        else
            Stream.block_index++;
        Stream.read_position = 0;
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
    for (uint32_t i = 0; i < count; i++)
        if (next_payload_byte() < 0)
            return;
}

// Writes count stream bytes to file. Returns 0 on the first failure, after
// taking the rest of the bytes from the stream all the same.
int copy_payload(platform::File* file, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        int byte = next_payload_byte();
        if (byte < 0)
            return 0;
        if (platform::fputc(byte, file) < 0) {
            skip_payload(count - i - 1);
            return 0;
        }
    }
    return 1;
}

void skip_entry(const EntryRecord* entry)
{
    ErrorCount++;
    skip_payload(entry_size(entry));
}

}  // namespace

uint32_t entry_size(const EntryRecord* entry)
{
    const unsigned char* b = entry->size;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

int next_payload_byte()
{
    if (Stream.broken)
        return -1;
    if ((Stream.pending || Stream.read_position >= Stream.output_length) && !advance_block())
        return -1;
    return BlockBuffer[Stream.read_position++];
}

int format_path(char* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(out, PathBufferSize, format, args);
    va_end(args);
    if (length < 0 || uint32_t(length) >= PathBufferSize) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int join_path(const char* a, const char* b, char* out)
{
    return format_path(out, "%s/%s", a, b);
}

void extract_entry(const char* folder, const EntryRecord* entry)
{
    char path[PathBufferSize];
    platform::File* file = nullptr;
    if (!join_path(folder, entry->name, path) || !(file = platform::fopen(path, "wb"))) {
        skip_entry(entry);
        return;
    }
    if (!copy_payload(file, entry_size(entry))) {
        platform::fdiscard(file);
        ErrorCount++;
        return;
    }
    if (platform::fclose(file) != 0)
        ErrorCount++;
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
