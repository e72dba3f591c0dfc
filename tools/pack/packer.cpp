#include "tools/pack/packer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

#include "package/checksum.h"
#include "package/decoder.h"
#include "package/payload_stream.h"

namespace {

// The lists of an image over manifest without its blocks.
struct ListedImage {
    ImageTables tables;
    explicit ListedImage(const Manifest& manifest)
    {
        for (const ManifestFile& f : manifest.files) {
            tables.entries.push_back(entry_record(f.name, uint32_t(file_size(f))));
            tables.executable.push_back(f.executable);
        }
        for (const std::string& d : manifest.directories)
            tables.directories.push_back(d.c_str());
        for (const std::string& b : manifest.builds)
            tables.builds.push_back(b.c_str());
        tables.support_address = manifest.support_address.c_str();
        tables.seal();
    }
};

// Where the blocks of pack_blocks are decoded again: an image that holds
// only the block being checked, so that the stream moves on to it from the one
// before exactly as an install does, and can go no further.
struct StreamCheck {
    std::vector<const unsigned char*> code_lengths;
    std::vector<const unsigned char*> streams;
    std::vector<uint32_t> bit_counts;
    PackageImage image{};
    PayloadStream stream = PayloadStreamStart;

    explicit StreamCheck(size_t count)
        : code_lengths(count, nullptr), streams(count, nullptr), bit_counts(count, 0)
    {
        image.blocks = {0, 0, code_lengths.data(), streams.data(), bit_counts.data()};
    }
    StreamCheck(const StreamCheck&) = delete;
};

// Where payload offset at falls, for messages.
std::string place_of(const Manifest& manifest, uint64_t at)
{
    for (const ManifestFile& f : manifest.files) {
        if (at < file_size(f))
            return "offset " + std::to_string(at) + " of '" + f.name + "'";
        at -= file_size(f);
    }
    return "the end of the payload";
}

// Decodes block k through the payload stream and compares it with bytes,
// the payload from offset start on.
int check_block(StreamCheck& check, uint32_t k, const EncodedBlock& block, const unsigned char* bytes, uint32_t size,
                const Manifest& manifest, uint64_t start, std::string& error)
{
    check.code_lengths[k] = block.code_lengths;
    check.streams[k] = block.stream.data();
    check.bit_counts[k] = block.bit_count;
    check.image.blocks.block_count = k + 1;
    if (k > 0)
        check.code_lengths[k - 1] = check.streams[k - 1] = nullptr;
    for (uint32_t done = 0; done < size;) {
        const unsigned char* run = nullptr;
        uint32_t n = take_payload_run(check.stream, check.image.blocks, size - done, run);
        if (n == 0) {
            error = "block " + std::to_string(k) + " does not decode (decoder fault " +
                    std::to_string(Decoder.fault) + ")";
            return 0;
        }
        if (check.stream.block_index != k) {
            error = "block " + std::to_string(check.stream.block_index) + " decodes to more bytes than it was made of";
            return 0;
        }
        const unsigned char* difference = std::mismatch(run, run + n, bytes + done).first;
        if (difference != run + n) {
            error = "decoding the package gives a different byte at " +
                    place_of(manifest, start + done + uint64_t(difference - run)) + " (block " + std::to_string(k) + ")";
            return 0;
        }
        done += n;
    }
    if (check.stream.read_position != check.stream.output_length) {
        error = "the decoded payload is longer than the files";
        return 0;
    }
    return 1;
}

// The payload's bytes in order, from the files as they come up.
struct PayloadReader {
    const Manifest& manifest;
    std::vector<uint32_t>& contents;
    size_t file = 0;
    uint64_t offset = 0;   // within the current file
    std::ifstream in;

    // Goes to payload offset at, for reading blocks out of order.
    void seek(uint64_t at)
    {
        in.close();
        for (file = 0; file + 1 < manifest.files.size() && at >= file_size(manifest.files[file]); file++)
            at -= file_size(manifest.files[file]);
        offset = at;
        const ManifestFile& f = manifest.files[file];
        if (offset > 0 && !f.source.empty()) {
            in.open(f.source, std::ios::binary);
            in.seekg(std::streamoff(offset));
        }
    }

    int read(unsigned char* out, size_t count, std::string& error)
    {
        while (count > 0) {
            const ManifestFile& f = manifest.files[file];
            uint64_t left = file_size(f) - offset;
            if (left == 0) {
                file++;
                offset = 0;
                in.close();
                continue;
            }
            size_t n = size_t(std::min<uint64_t>(left, count));
            if (f.source.empty()) {
                std::memcpy(out, f.bytes.data() + offset, n);
            } else {
                if (!in.is_open())
                    in.open(f.source, std::ios::binary);
                if (!in.read(reinterpret_cast<char*>(out), std::streamsize(n)) ||
                    (n == left && in.peek() != std::char_traits<char>::eof())) {
                    error = "file '" + f.name + "': cannot read " + f.source + " as it was listed";
                    return 0;
                }
            }
            contents[file] = crc32c(contents[file], out, n);
            offset += n;
            out += n;
            count -= n;
        }
        return 1;
    }
};

// A block on its way: read, then encoded by a worker, then checked and
// handed on in order.
struct BlockSlot {
    std::vector<unsigned char> bytes;
    EncodedBlock block;
    bool encoded = false;
};

// The processors this process may run on: a build given fewer than the
// machine has (taskset, a container's share) gets no more workers than those.
unsigned packing_threads()
{
#ifdef __linux__
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return unsigned(CPU_COUNT(&allowed));
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

size_t files_done(const Manifest& manifest, uint64_t bytes)
{
    size_t done = 0;
    for (const ManifestFile& f : manifest.files) {
        if (file_size(f) > bytes)
            break;
        bytes -= file_size(f);
        done++;
    }
    return done;
}

size_t blocks_for(uint64_t length)
{
    return size_t((length + PackerBlockSize - 1) / PackerBlockSize);
}

// Counts block into the image, refusing it when the image would then be
// larger than limit.
int over_image_limit(PackedTables& tables, const EncodedBlock& block, uint64_t limit, std::string& error)
{
    tables.compressed += SymbolCount + block.stream.size();
    tables.too_large = tables.compressed > limit;
    if (tables.too_large)
        error = "the package would exceed the " + std::to_string(limit >> 20) + " MiB an executable can carry";
    return tables.too_large;
}

// The bytes of block k, read from wherever the files hold them.
int read_block(PayloadReader& reader, uint64_t length, size_t k, std::vector<unsigned char>& bytes,
               std::string& error)
{
    uint64_t start = uint64_t(k) * PackerBlockSize;
    bytes.resize(size_t(std::min<uint64_t>(PackerBlockSize, length - start)));
    reader.seek(start);
    return reader.read(bytes.data(), bytes.size(), error);
}

// One block from each of samples equal stretches of the first count, at a
// place within the stretch that does not follow a period in the payload.
size_t sampled_block(size_t i, size_t samples, size_t count)
{
    size_t first = i * count / samples, width = (i + 1) * count / samples - first;
    uint64_t mixed = (uint64_t(i) + 1) * 0x9E3779B97F4A7C15ull;
    return first + size_t((mixed >> 32) % width);
}

// Packs one block of each stretch for sizes[0] to sizes[samples - 1], and
// the last block, which may be short, for sizes[samples].
int pack_sample(const Manifest& manifest, const EncoderOptions& options, uint64_t length, size_t count,
                std::vector<uint64_t>& sizes, std::string& error)
{
    size_t samples = sizes.size() - 1;
    std::atomic<size_t> next{0};
    std::atomic<int> ok{1};
    std::mutex failure;
    auto work = [&] {
        EncoderScratchPointer scratch = make_encoder_scratch();
        std::vector<uint32_t> contents(manifest.files.size());
        PayloadReader reader{manifest, contents, 0, 0, {}};
        std::vector<unsigned char> bytes;
        std::string problem;
        for (size_t i; ok && (i = next++) <= samples;) {
            size_t k = i == samples ? count - 1 : sampled_block(i, samples, count - 1);
            if (!read_block(reader, length, k, bytes, problem)) {
                std::lock_guard<std::mutex> held(failure);
                error = problem;
                ok = 0;
                return;
            }
            sizes[i] = SymbolCount + encode_block(bytes.data(), bytes.size(), options, *scratch).stream.size();
        }
    };
    std::vector<std::thread> workers(packing_threads());
    for (std::thread& w : workers)
        w = std::thread(work);
    for (std::thread& w : workers)
        w.join();
    return ok;
}

}  // namespace

int estimate_image(const Manifest& manifest, const EncoderOptions& options, uint64_t limit, uint32_t samples,
                   ImageEstimate& estimate, std::string& error)
{
    estimate = ImageEstimate{};
    uint64_t length = payload_length(manifest);
    size_t count = blocks_for(length);
    // Below these, packing finds out soon enough.
    if (length <= limit / 4 || samples < 2 || count <= 2 * size_t(samples))
        return 1;
    std::vector<uint64_t> sizes(samples + 1);
    if (!pack_sample(manifest, options, length, count, sizes, error))
        return 0;
    double mean = 0, spread = 0, full = double(count - 1);
    for (uint32_t i = 0; i < samples; i++)
        mean += double(sizes[i]) / samples;
    for (uint32_t i = 0; i < samples; i++)
        spread += (double(sizes[i]) - mean) * (double(sizes[i]) - mean) / (samples - 1);
    estimate.sampled = samples;
    estimate.bytes = uint64_t(full * mean) + sizes[samples];
    // Four standard errors of a sample drawn without replacement.
    estimate.margin = uint64_t(4 * full * std::sqrt(spread / samples * (1 - samples / full)));
    estimate.exceeds = estimate.bytes > limit + estimate.margin;
    return 1;
}

int pack_blocks(const Manifest& manifest, const EncoderOptions& options, uint64_t image_limit, const BlockSink& sink,
                const PackProgress& progress, PackedTables& tables, std::string& error)
{
    tables = PackedTables{};
    tables.payload_length = payload_length(manifest);
    tables.contents.assign(manifest.files.size(), 0);
    size_t count = blocks_for(tables.payload_length);
    unsigned threads = packing_threads();
    // Enough blocks ahead that no worker waits for the reading or checking.
    const size_t window = 4 * size_t(threads);
    std::vector<BlockSlot> slots(std::min(window, std::max<size_t>(count, 1)));
    std::mutex lock;
    std::condition_variable changed;
    size_t read = 0, taken = 0;
    bool stop = false;
    auto work = [&] {
        EncoderScratchPointer scratch = make_encoder_scratch();
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            changed.wait(held, [&] { return stop || taken < read || taken == count; });
            if (stop || taken == count)
                return;
            BlockSlot& slot = slots[taken++ % slots.size()];
            held.unlock();
            EncodedBlock block = encode_block(slot.bytes.data(), slot.bytes.size(), options, *scratch);
            held.lock();
            slot.block = std::move(block);
            slot.encoded = true;
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; t++)
        workers.emplace_back(work);

    PayloadReader reader{manifest, tables.contents, 0, 0, {}};
    StreamCheck check(count);
    int ok = 1;
    for (size_t k = 0; ok && k < count; k++) {
        while (ok && read < count && read < k + slots.size()) {
            BlockSlot& slot = slots[read % slots.size()];
            slot.bytes.resize(size_t(std::min<uint64_t>(PackerBlockSize, tables.payload_length - read * PackerBlockSize)));
            ok = reader.read(slot.bytes.data(), slot.bytes.size(), error);
            tables.unreadable = !ok;
            std::lock_guard<std::mutex> held(lock);
            slot.encoded = false;
            read += ok;
            changed.notify_all();
        }
        BlockSlot& slot = slots[k % slots.size()];
        {
            std::unique_lock<std::mutex> held(lock);
            changed.wait(held, [&] { return slot.encoded || !ok; });
        }
        if (!ok)
            break;
        uint64_t start = uint64_t(k) * PackerBlockSize;
        ok = check_block(check, uint32_t(k), slot.block, slot.bytes.data(), uint32_t(slot.bytes.size()), manifest, start,
                         error) &&
             !over_image_limit(tables, slot.block, image_limit, error) && sink(uint32_t(k), slot.block);
        if (!ok)
            break;
        check.image.blocks.block_count = uint32_t(k + 1);
        tables.bit_counts.push_back(slot.block.bit_count);
        tables.block_checksums.push_back(image_block_checksum(check.image, uint32_t(k)));
        slot.block = EncodedBlock{};
        if (progress)
            progress(start + slot.bytes.size(), files_done(manifest, start + slot.bytes.size()));
    }
    {
        std::lock_guard<std::mutex> held(lock);
        stop = true;
        changed.notify_all();
    }
    for (std::thread& w : workers)
        w.join();
    return ok;
}

PackedPayload pack_payload(const Manifest& manifest, const EncoderOptions& options)
{
    PackedPayload packed;
    std::string error;
    for (const ManifestFile& f : manifest.files) {
        std::vector<unsigned char> bytes;
        file_bytes(f, bytes, error);
        packed.payload.insert(packed.payload.end(), bytes.begin(), bytes.end());
    }
    PackedTables tables;
    pack_blocks(
        manifest, options, MaxImageBytes,
        [&](uint32_t, const EncodedBlock& block) {
            packed.blocks.push_back(block);
            return 1;
        },
        nullptr, tables, error);
    return packed;
}

size_t compressed_size(const PackedPayload& packed)
{
    size_t total = 0;
    for (const EncodedBlock& b : packed.blocks)
        total += SymbolCount + b.stream.size();
    return total;
}

int verify_payload(const Manifest& manifest, const PackedPayload& packed, std::string& error)
{
    std::vector<unsigned char> expected;
    for (const ManifestFile& f : manifest.files) {
        std::vector<unsigned char> bytes;
        if (!file_bytes(f, bytes, error))
            return 0;
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    size_t payload = expected.size();
    if (packed.blocks.size() != blocks_for(payload)) {
        error = "the blocks do not cover the payload";
        return 0;
    }
    StreamCheck check(packed.blocks.size());
    for (size_t k = 0; k < packed.blocks.size(); k++) {
        size_t start = k * PackerBlockSize;
        uint32_t size = uint32_t(std::min<size_t>(PackerBlockSize, payload - start));
        if (!check_block(check, uint32_t(k), packed.blocks[k], expected.data() + start, size, manifest, start,
                         error))
            return 0;
    }
    return 1;
}

int finish_image_files(ImageWriter& writer, const Manifest& manifest, const PackedTables& tables, std::string& error)
{
    ListedImage listed(manifest);
    PackageImage image = listed.tables.image;
    image.blocks = {uint32_t(tables.bit_counts.size()), uint32_t(tables.payload_length), nullptr, nullptr,
                    tables.bit_counts.data()};
    ImageChecksums& sums = image.checksums;
    sums.blocks = tables.block_checksums.data();
    sums.contents = tables.contents.data();
    sums.tables = image_tables_checksum(image);
    sums.layout = image_layout_checksum(image);
    return finish_image(writer, image, error);
}

std::string summary_line(const Manifest& manifest, const PackedTables& tables)
{
    return std::to_string(manifest.files.size()) + " files, " + std::to_string(tables.payload_length) + " bytes, " +
           std::to_string(tables.bit_counts.size()) + " blocks, " + std::to_string(tables.compressed) + " compressed";
}

std::string summary_line(const Manifest& manifest, const PackedPayload& packed)
{
    return std::to_string(manifest.files.size()) + " files, " + std::to_string(packed.payload.size()) + " bytes, " +
           std::to_string(packed.blocks.size()) + " blocks, " + std::to_string(compressed_size(packed)) +
           " compressed";
}
