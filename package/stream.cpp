#include "package/stream.h"

#include <cstring>

#include "platform/platform.h"

PayloadStream Stream = PayloadStreamStart;
int32_t ErrorCount = 0;

namespace {

uint32_t take_run(uint32_t count, const unsigned char*& bytes)
{
    return take_payload_run(Stream, Package->blocks, count, bytes);
}

// Takes count bytes from the stream without writing them anywhere.
void skip_payload(uint32_t count)
{
    const unsigned char* bytes;
    while (count > 0) {
        uint32_t run = take_run(count, bytes);
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
        uint32_t run = take_run(count, bytes);
        if (run == 0)
            return 0;
        if (written && !platform::fputc_each(bytes, run, file))
            written = 0;
        count -= run;
    }
    return written;
}

void count_error_and_skip(const EntryRecord* entry)
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

int stream_at_start()
{
    const PayloadStream& start = PayloadStreamStart;
    return Stream.pending == start.pending && Stream.block_index == start.block_index &&
           Stream.read_position == start.read_position && Stream.output_length == start.output_length &&
           Stream.broken == start.broken && Stream.checksum == start.checksum &&
           Stream.checksum_from == start.checksum_from && Stream.progress == start.progress && ErrorCount == 0;
}

platform::File* stage_entry(const char* folder, const EntryRecord* entry)
{
    char path[PathBufferSize];
    uint32_t expected = 0;
    int executable = 0;
    platform::File* file = nullptr;
    if (!recorded_facts(entry, expected, executable) || !join_path(folder, entry->name, path) ||
        !(file = executable ? platform::fopen_program(path) : platform::fopen(path, "wb"))) {
        count_error_and_skip(entry);
        return nullptr;
    }
    start_payload_checksum(Stream);
    // Bytes that are not the package's own never replace the file there.
    if (!copy_payload(file, entry_size(entry)) || payload_checksum(Stream) != expected) {
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

void rewind_payload()
{
    Stream = PayloadStreamStart;
    ErrorCount = 0;
}

int entry_paths_fit(const char* folder)
{
    char path[PathBufferSize];
    const EntryTable& entries = Package->entries;
    for (uint32_t i = 0; i < entries.count; i++)
        if (!join_path(folder, entries.entries[i].name, path))
            return 0;
    return 1;
}

namespace {

const char TopFolder[] = "\\Quorvel";
constexpr size_t TopFolderLength = sizeof TopFolder - 1;

// Length of the folder part of an entry's name, 0 for one in the top folder.
size_t folder_part(const char* name)
{
    const char* slash = std::strrchr(name, '/');
    return slash ? size_t(slash - name) : 0;
}

// Whether an earlier entry lies in the folder of entry i.
int folder_seen(const EntryTable& entries, uint32_t i)
{
    const char* name = entries.entries[i].name;
    size_t length = folder_part(name);
    for (uint32_t j = 0; j < i; j++) {
        const char* earlier = entries.entries[j].name;
        if (folder_part(earlier) == length && std::strncmp(earlier, name, length) == 0)
            return 1;
    }
    return 0;
}

// The folders of the entries seen so far, by a hash of their names: an update
// of tens of thousands of files spent seconds comparing each entry's folder
// with every one before it. Past half full, that comparison finds the rest.
constexpr uint32_t FolderSlotCount = 1u << 16;
struct FolderTable {
    uint32_t slots[FolderSlotCount];   // 1 + the index of the folder's first entry; 0 free
    uint32_t used;
};
FolderTable SeenFolders;

uint32_t folder_hash(const char* name, size_t length)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < length; i++)
        hash = (hash ^ (unsigned char)name[i]) * 16777619u;
    return hash;
}

// folder_seen in about constant time, for entries taken in order from 0.
int folder_seen_before(const EntryTable& entries, uint32_t i)
{
    const char* name = entries.entries[i].name;
    size_t length = folder_part(name);
    uint32_t s = folder_hash(name, length) & (FolderSlotCount - 1);
    for (; SeenFolders.slots[s] != 0; s = (s + 1) & (FolderSlotCount - 1)) {
        const char* earlier = entries.entries[SeenFolders.slots[s] - 1].name;
        if (folder_part(earlier) == length && std::strncmp(earlier, name, length) == 0)
            return 1;
    }
    if (SeenFolders.used >= FolderSlotCount / 2)
        return folder_seen(entries, i);
    SeenFolders.slots[s] = i + 1;
    SeenFolders.used++;
    return 0;
}

void sync_or_count(const char* path)
{
    if (!platform::sync_folder(path))
        ErrorCount++;
}

// The image's folder "\\Quorvel\\x" below the staging tree: staging + "\\x".
// A path outside the top folder is refused: it would be written outside.
int staged_folder_path(const char* staging, const char* image_path, char* out)
{
    if (std::strncmp(image_path, TopFolder, TopFolderLength) != 0 || image_path[TopFolderLength] != '\\')
        return 0;
    return format_path(out, "%s%s", staging, image_path + TopFolderLength);
}

int fresh_paths_fit(const char* staging)
{
    char path[PathBufferSize];
    const DirectoryList& directories = Package->directories;
    for (int32_t i = 0; i < directories.count; i++)
        if (!staged_folder_path(staging, directories.paths[i], path))
            return 0;
    return entry_paths_fit(staging);
}

// Every folder and entry below staging, the files' bytes and then the
// folders' names flushed after. Nothing below staging is seen before the
// tree is moved to its name, so its files are flushed together at the end.
void build_tree(const char* staging)
{
    char path[PathBufferSize];
    const DirectoryList& directories = Package->directories;
    for (int32_t i = 0; i < directories.count; i++)
        if (!staged_folder_path(staging, directories.paths[i], path) || !platform::CreateDirectoryA(path, nullptr))
            ErrorCount++;
    const EntryTable& entries = Package->entries;
    platform::begin_flush_batch();
    for (uint32_t i = 0; i < entries.count; i++)
        extract_entry(staging, &entries.entries[i]);
    if (!platform::end_flush_batch())
        ErrorCount++;
    for (int32_t i = 0; i < directories.count; i++)
        if (staged_folder_path(staging, directories.paths[i], path))
            sync_or_count(path);
    sync_or_count(staging);
}

}  // namespace

void sync_entry_folders(const char* folder)
{
    char path[PathBufferSize];
    const EntryTable& entries = Package->entries;
    std::memset(&SeenFolders, 0, sizeof SeenFolders);
    for (uint32_t i = 0; i < entries.count; i++) {
        const char* name = entries.entries[i].name;
        if (folder_seen_before(entries, i))
            continue;
        size_t length = folder_part(name);
        if (length == 0)
            sync_or_count(folder);
        else if (format_path(path, "%s/%.*s", folder, int(length), name))
            sync_or_count(path);
        else
            ErrorCount++;
    }
}

FreshOutcome install_fresh(const char* folder)
{
    char top[PathBufferSize];
    char staging[PathBufferSize];
    if (!format_path(top, "%s%s", folder, TopFolder) ||
        !format_path(staging, "%s%s%s", folder, TopFolder, platform::StagingSuffix) || !fresh_paths_fit(staging))
        return FreshFailed;
    if (!platform::remove_tree(staging) || !platform::CreateDirectoryA(staging, nullptr))
        return FreshFailed;
    build_tree(staging);
    switch (platform::move_folder(staging, top)) {
    case platform::Moved:
        sync_or_count(folder);
        return ErrorCount <= 0 ? FreshUnpacked : FreshFailed;
    case platform::NameTaken:
        return platform::remove_tree(staging) ? FreshTaken : FreshFailed;
    case platform::MoveFailed:
        break;
    }
    platform::remove_tree(staging);
    return FreshFailed;
}
