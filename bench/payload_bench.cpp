// The payload's decoder, install_fresh and package size, each run beside
// what a user would otherwise get: zlib's inflate, tar -xzf, gzip -9, xz -9.
// Both sides run in one process, one after the other, so their ratio holds
// up on a busy machine even when the absolute figures do not.
//
// Subjects: the default package compiled into the program; when
// QUORVEL_CORPUS names a folder made by make-corpus.sh, that corpus packed
// at start-up; and when QUORVEL_LARGE_TREE_MB is set, the packer
// benchmark's generated tree of that many megabytes, packed at start-up and
// installed beside tar -xzf only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <lzma.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <zlib.h>

#include "bench/generated_tree.h"
#include "package/checksum.h"
#include "package/decoder.h"
#include "package/image.h"
#include "package/stream.h"
#include "tools/pack/installed_image.h"
#include "tools/pack/packer.h"

extern char** environ;

// The installer's flushing calls, and the call that starts a flush early,
// come here first (a program's own definitions win over the C library's),
// so that the very same install can be timed without them, beside the
// install as it ships.
namespace {
bool Flushing = true;

template <typename Call>
Call system_call(const char* name)
{
    return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int fdatasync(int fd)
{
    static auto flush = system_call<int (*)(int)>("fdatasync");
    return Flushing ? flush(fd) : 0;
}

extern "C" int fsync(int fd)
{
    static auto flush = system_call<int (*)(int)>("fsync");
    return Flushing ? flush(fd) : 0;
}

extern "C" int sync_file_range(int fd, off64_t from, off64_t count, unsigned int flags)
{
    static auto flush = system_call<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
    return Flushing ? flush(fd, from, count, flags) : 0;
}

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// One set of files and everything made from them before timing starts.
struct Subject {
    std::string name;                      // "default" or "corpus"
    Manifest manifest;                     // the files' names and bytes
    std::optional<PackedPayload> packed;   // absent: the image compiled into the program
    size_t raw_bytes = 0;
    size_t package_bytes = 0;              // code length tables plus bit streams
    std::vector<Bytes> gzip_files;         // each file on its own
    size_t gzip_files_bytes = 0;
    size_t gzip_tar_bytes = 0;
    size_t xz_tar_bytes = 0;
    fs::path folder;                       // scratch: tree/, files.tar.gz, install/
};

// The subject's image as Package while this lives.
struct ImageInUse {
    std::optional<LoadedImage> loaded;
    explicit ImageInUse(const Subject& subject)
    {
        if (subject.packed)
            loaded.emplace(subject.manifest, *subject.packed);
    }
};

fs::path Scratch;   // every file the benchmarks make lies below it

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "payload_bench: %s\n", message.c_str());
    if (!Scratch.empty())
        fs::remove_all(Scratch);
    std::exit(1);
}

// Exit status of the program, or -1 when it could not run or was killed.
// Its standard output goes to output when one is named.
int run(std::vector<std::string> args, const fs::path& output = {})
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int status;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned || waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The installer as a user starts it without a display: its home, the
// answer Yes on standard input, its words to nowhere. Exit status, or -1.
int run_installer_program(const fs::path& home, const fs::path& answers)
{
    std::vector<std::string> env = {"HOME=" + home.string()};
    for (char** e = environ; *e; e++) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name != "HOME" && name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "XDG_CONFIG_HOME")
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = QUORVEL_INSTALLER;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, answers.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int status = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned || waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// What gzip -9 writes: deflate level 9 in a gzip wrapper.
Bytes gzip9(const Bytes& in)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("deflateInit2 failed");
    Bytes out(deflateBound(&z, in.size()));
    z.next_in = const_cast<unsigned char*>(in.data());   // zlib's API is not const
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        fail("deflate did not finish");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

size_t xz9_size(const Bytes& in)
{
    Bytes out(lzma_stream_buffer_bound(in.size()));
    size_t used = 0;
    if (lzma_easy_buffer_encode(9, LZMA_CHECK_CRC64, nullptr, in.data(), in.size(), out.data(), &used, out.size()) !=
        LZMA_OK)
        fail("lzma_easy_buffer_encode failed");
    return used;
}

// 1 when the gzip member inflates to exactly out.size() bytes.
int gunzip_into(const Bytes& in, Bytes& out)
{
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK)
        return 0;
    z.next_in = const_cast<unsigned char*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int done = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == out.size();
    inflateEnd(&z);
    return done;
}

Bytes read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        fail("cannot read " + path.string());
    return bytes;
}

void write_bytes(const fs::path& path, const Bytes& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        fail("cannot write " + path.string());
}

// Everything except the timings: the gzip members, the tar.gz that tar -xzf
// unpacks, and the sizes. sizes = false: the tar.gz alone, of a tree that is
// in the subject's folder already.
void prepare(Subject& s, bool sizes = true)
{
    s.folder = Scratch / s.name;
    // Fixed owners and times, so the archive and its sizes repeat from run to run.
    std::vector<std::string> tar = {"tar", "-cf", (s.folder / "files.tar").string(), "--mtime=@0", "--owner=0",
                                    "--group=0", "--numeric-owner", "-C", (s.folder / "tree").string()};
    for (const ManifestFile& f : s.manifest.files) {
        s.raw_bytes += f.bytes.size();
        if (sizes) {
            s.gzip_files.push_back(gzip9(f.bytes));
            s.gzip_files_bytes += s.gzip_files.back().size();
            write_bytes(s.folder / "tree" / f.name, f.bytes);
        }
        tar.push_back(f.name);
    }
    if (run(tar) != 0)
        fail("tar -cf failed for " + s.name);
    Bytes tar_bytes = read_bytes(s.folder / "files.tar");
    Bytes tar_gz = gzip9(tar_bytes);
    write_bytes(s.folder / "files.tar.gz", tar_gz);
    s.gzip_tar_bytes = tar_gz.size();
    if (sizes)
        s.xz_tar_bytes = xz9_size(tar_bytes);
    fs::remove(s.folder / "files.tar");
    fs::create_directories(s.folder / "install");
}

Subject default_subject()
{
    Subject s;
    s.name = "default";
    std::string error;
    if (!read_manifest(QUORVEL_PACKAGE_MANIFEST, s.manifest, error))
        fail(error);
    const BlockTables& blocks = Package->blocks;
    for (uint32_t k = 0; k < blocks.block_count; k++)
        s.package_bytes += SymbolCount + (blocks.bit_counts[k] + 7) / 8;
    prepare(s);
    if (s.raw_bytes != blocks.payload_length)
        fail("the compiled-in package does not hold " QUORVEL_PACKAGE_MANIFEST "; rebuild");
    return s;
}

// The corpus as a manifest: its folders parents first, made-up build names.
Subject corpus_subject(const fs::path& corpus)
{
    Subject s;
    s.name = "corpus";
    std::ifstream list(corpus / "MANIFEST.txt");
    if (!list)
        fail("no MANIFEST.txt in " + corpus.string() + " (make it with make-corpus.sh)");
    std::set<std::string> folders;
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string name;
        size_t size = 0;
        if (!(fields >> name >> size))
            continue;
        std::string folder = "\\Quorvel";
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            folder = "\\Quorvel\\" + name.substr(0, slash);
            std::replace(folder.begin(), folder.end(), '/', '\\');
            if (folders.insert(folder).second)
                s.manifest.directories.push_back(folder);
        }
        s.manifest.files.push_back({name, read_bytes(corpus / name)});
        if (s.manifest.files.back().bytes.size() != size)
            fail(name + " is not the size MANIFEST.txt gives");
    }
    if (s.manifest.files.empty())
        fail("MANIFEST.txt in " + corpus.string() + " lists no files");
    for (uint32_t b = 0; b < KnownBuildCount; b++)
        s.manifest.builds.push_back("BENCH-" + std::to_string(b));
    s.packed = pack_payload(s.manifest);
    s.package_bytes = compressed_size(*s.packed);
    prepare(s);
    return s;
}

// The packer's benchmark tree of megabytes MB, packed as a release is.
Subject large_subject(uint64_t megabytes)
{
    Subject s;
    s.name = "large";
    fs::path tree = Scratch / s.name / "tree";
    make_generated_tree(tree, megabytes << 20);
    std::string error;
    if (!read_manifest((tree / "package.manifest").string(), s.manifest, error))
        fail(error);
    s.packed = pack_payload(s.manifest);
    s.package_bytes = compressed_size(*s.packed);
    prepare(s, false);
    return s;
}

void decode_quorvel(benchmark::State& state, const Subject* s)
{
    ImageInUse image(*s);
    uint64_t bytes = 0;
    for (auto _ : state)
        for (uint32_t k = 0; k < Package->blocks.block_count; k++) {
            if (!decode_block(Package->blocks, k, Stream.output_length)) {
                state.SkipWithError("a block did not decode");
                return;
            }
            bytes += Stream.output_length;
        }
    state.SetBytesProcessed(int64_t(bytes));
}

void decode_inflate(benchmark::State& state, const Subject* s)
{
    std::vector<Bytes> out;
    for (const ManifestFile& f : s->manifest.files)
        out.emplace_back(f.bytes.size());
    for (auto _ : state)
        for (size_t i = 0; i < out.size(); i++)
            if (!gunzip_into(s->gzip_files[i], out[i])) {
                state.SkipWithError("a gzip member did not inflate");
                return;
            }
    state.SetBytesProcessed(int64_t(state.iterations() * s->raw_bytes));
}

// Removing the tree and resetting the stream lie outside the timed part.
// flushing = false: the same install with no file or folder flushed to the
// disk, to show what making it durable costs.
void install_quorvel(benchmark::State& state, const Subject* s, bool flushing)
{
    ImageInUse image(*s);
    Flushing = flushing;
    fs::path folder = s->folder / "install";
    for (auto _ : state) {
        Stream = PayloadStreamStart;
        ErrorCount = 0;
        auto start = std::chrono::steady_clock::now();
        int installed = install_fresh(folder.c_str()) == FreshUnpacked;
        state.SetIterationTime(seconds_since(start));
        fs::remove_all(folder / "Quorvel");
        if (!installed) {
            state.SkipWithError("install_fresh reported errors");
            return;
        }
    }
    Flushing = true;
    state.SetBytesProcessed(int64_t(state.iterations() * s->raw_bytes));
}

// What the integrity checks add to an install: verifying the image before
// the first write, and summing every file's bytes as they are written. Each
// is timed on its own, beside the install it is part of.
void verify_image_cost(benchmark::State& state, const Subject* s)
{
    ImageInUse image(*s);
    for (auto _ : state) {
        ImageFault fault;
        if (!verify_image(*Package, &fault)) {
            state.SkipWithError("the image does not verify");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations() * s->package_bytes));
}

void file_checksums_cost(benchmark::State& state, const Subject* s)
{
    uint32_t sum = 0;
    for (auto _ : state)
        for (const ManifestFile& f : s->manifest.files)
            sum ^= crc32c(0, f.bytes.data(), f.bytes.size());
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(int64_t(state.iterations() * s->raw_bytes));
}

// Our install beside tar -xzf, one of each in turn; the counters give the
// medians and the median of the pairs' ratios, which a busy machine
// disturbs least. install returns 1 on success and leaves its tree at ours.
template <typename Install>
void paired_with_tar(benchmark::State& state, const Subject* s, const fs::path& ours, Install install)
{
    fs::path folder = s->folder / "install";
    std::vector<std::string> tar = {"tar", "-xzf", (s->folder / "files.tar.gz").string(), "-C", folder.string()};
    std::vector<double> our_times, tar_times, ratios;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        int installed = install();
        double our_time = seconds_since(start);
        start = std::chrono::steady_clock::now();
        int status = run(tar);
        double tar_time = seconds_since(start);
        state.SetIterationTime(our_time);
        fs::remove_all(ours);
        for (const fs::directory_entry& e : fs::directory_iterator(folder))
            fs::remove_all(e.path());
        if (!installed || status != 0) {
            state.SkipWithError("our install or tar failed");
            return;
        }
        our_times.push_back(our_time);
        tar_times.push_back(tar_time);
        ratios.push_back(our_time / tar_time);
    }
    state.counters["quorvel_ms"] = 1000 * median(our_times);
    state.counters["tar_ms"] = 1000 * median(tar_times);
    state.counters["ratio"] = median(ratios);
    state.SetBytesProcessed(int64_t(state.iterations() * s->raw_bytes));
}

// The whole installer program, as a process a user starts, answers and
// start-up included.
void install_process(benchmark::State& state, const Subject* s)
{
    fs::path home = s->folder / "home";
    fs::create_directories(home / "Desktop");
    write_bytes(s->folder / "answers", Bytes{'y', '\n'});
    paired_with_tar(state, s, home / "Desktop/Quorvel",
                    [&] { return run_installer_program(home, s->folder / "answers") == 0; });
}

// install_fresh, for a subject the program does not carry: at a game's size
// the process's start-up is lost in the noise.
void install_in_process(benchmark::State& state, const Subject* s)
{
    ImageInUse image(*s);
    fs::path folder = s->folder / "ours";
    fs::create_directories(folder);
    paired_with_tar(state, s, folder / "Quorvel", [&] {
        Stream = PayloadStreamStart;
        ErrorCount = 0;
        return install_fresh(folder.c_str()) == FreshUnpacked;
    });
}

// tar and its gzip child as separate processes, start-up included, as a
// user would run them.
void install_tar(benchmark::State& state, const Subject* s)
{
    fs::path folder = s->folder / "install";
    std::vector<std::string> tar = {"tar", "-xzf", (s->folder / "files.tar.gz").string(), "-C", folder.string()};
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        int status = run(tar);
        state.SetIterationTime(seconds_since(start));
        for (const fs::directory_entry& e : fs::directory_iterator(folder))
            fs::remove_all(e.path());
        if (status != 0) {
            state.SkipWithError("tar -xzf failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations() * s->raw_bytes));
}

// Counters only: percent of the raw bytes. The timing it prints means nothing.
void package_size(benchmark::State& state, const Subject* s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s->raw_bytes);
    auto percent = [s](size_t bytes) { return 100.0 * double(bytes) / double(s->raw_bytes); };
    state.counters["raw_bytes"] = double(s->raw_bytes);
    state.counters["quorvel_pct"] = percent(s->package_bytes);
    state.counters["gzip9_files_pct"] = percent(s->gzip_files_bytes);
    state.counters["gzip9_tar_pct"] = percent(s->gzip_tar_bytes);
    state.counters["xz9_tar_pct"] = percent(s->xz_tar_bytes);
}

// Counters only: inputs that are one string over and over, in bytes packed
// by us and by gzip -9. The format caps a reference at 67 bytes and starts
// every block afresh, so these show how well the parse shares sources.
void repetitive_sizes(benchmark::State& state)
{
    const std::string paragraph =
        "The valley lies quiet under the stones of Dravik. Travellers who cross the old bridge at dusk "
        "report lights on the far ridge, moving slowly, never closer. The keepers of the map say the lights "
        "are lanterns of the first settlers, still walking the roads they cut, and that a careful traveller "
        "follows them only as far as the second cairn.\n";
    Bytes paragraphs;
    while (paragraphs.size() < 300000)
        paragraphs.insert(paragraphs.end(), paragraph.begin(), paragraph.end());
    paragraphs.resize(300000);
    const std::pair<const char*, Bytes> inputs[] = {
        {"zeros_102399", Bytes(PackerBlockSize, 0)},
        {"byte_250000", Bytes(250000, 0xAB)},
        {"paragraph_300000", paragraphs},
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(inputs);
    for (const auto& [name, bytes] : inputs) {
        Manifest manifest;
        manifest.files.push_back({name, bytes});
        state.counters[std::string(name) + "_quorvel"] = double(compressed_size(pack_payload(manifest)));
        state.counters[std::string(name) + "_gzip9"] = double(gzip9(bytes).size());
    }
}

// One decode_timing run: the median pass, or a negative time when it failed.
struct DecodeTiming {
    std::string payload;   // its byte count and checksum, to compare builds by
    double ms = -1;
};

DecodeTiming time_decoding(std::vector<std::string> command)
{
    fs::path output = Scratch / "decode_timing.txt";
    DecodeTiming timing;
    if (run(std::move(command), output) != 0)
        return timing;
    std::ifstream in(output);
    std::string bytes, sum;
    double micros = -1;
    if (in >> bytes >> sum >> micros) {
        timing.payload = bytes + " " + sum;
        timing.ms = micros / 1000;
    }
    return timing;
}

// The decoder as the Windows program compiles it, QUORVEL_WINDOWS_DECODE's
// decode_timing.exe under wine, beside this build's, in pairs of runs. Each
// times its own passes, so wine's start-up is left out.
void decode_windows(benchmark::State& state)
{
    const std::string windows = std::getenv("QUORVEL_WINDOWS_DECODE");
    // A prefix of its own unless one is given: wine makes one on first use.
    int own_prefix = !std::getenv("WINEPREFIX");
    if (own_prefix)
        setenv("WINEPREFIX", (Scratch / "wine").c_str(), 1);
    // Untimed: a new prefix's set-up runs on for a while after its first program.
    time_decoding({"wine", windows, "1"});
    std::vector<double> windows_ms, linux_ms, ratios;
    for (auto _ : state) {
        DecodeTiming native = time_decoding({QUORVEL_DECODE_TIMING});
        DecodeTiming wine = time_decoding({"wine", windows});
        if (native.ms <= 0 || wine.ms <= 0 || native.payload != wine.payload) {
            state.SkipWithError("decode_timing failed, or the two builds decoded different payloads");
            break;
        }
        state.SetIterationTime(wine.ms / 1000);
        windows_ms.push_back(wine.ms);
        linux_ms.push_back(native.ms);
        ratios.push_back(wine.ms / native.ms);
    }
    if (own_prefix) {
        run({"wineserver", "-k"});
        unsetenv("WINEPREFIX");
    }
    state.counters["windows_ms"] = median(windows_ms);
    state.counters["linux_ms"] = median(linux_ms);
    state.counters["ratio"] = median(ratios);
}

// Counters only: the Windows program's own bytes, its size less the package
// it carries, for QUORVEL_WINDOWS_EXE built from the same manifest.
void windows_program_size(benchmark::State& state, const Subject* s)
{
    const char* exe = std::getenv("QUORVEL_WINDOWS_EXE");
    for (auto _ : state)
        benchmark::DoNotOptimize(exe);
    std::error_code error;
    uintmax_t size = fs::file_size(exe, error);
    if (error) {
        state.SkipWithError("QUORVEL_WINDOWS_EXE names no file");
        return;
    }
    state.counters["exe_bytes"] = double(size);
    state.counters["package_bytes"] = double(s->package_bytes);
    state.counters["overhead_bytes"] = double(size) - double(s->package_bytes);
}

void register_subject(const Subject& s)
{
    auto name = [&s](const char* what) { return std::string(what) + "/" + s.name; };
    // Decoding rates are per CPU second, which another build on the machine
    // disturbs less than wall time; installs are wall time, tar's children included.
    benchmark::RegisterBenchmark(name("decode/quorvel").c_str(), decode_quorvel, &s)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(name("decode/inflate").c_str(), decode_inflate, &s)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(name("install/quorvel").c_str(), install_quorvel, &s, true)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(name("install/quorvel_unflushed").c_str(), install_quorvel, &s, false)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(name("install/tar_xzf").c_str(), install_tar, &s)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(name("integrity/verify_image").c_str(), verify_image_cost, &s)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(name("integrity/file_checksums").c_str(), file_checksums_cost, &s)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(name("size").c_str(), package_size, &s)->Iterations(1);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    std::string scratch_template = (fs::temp_directory_path() / "quorvel-bench-XXXXXX").string();
    if (!mkdtemp(scratch_template.data()))
        fail("cannot make a scratch folder in " + fs::temp_directory_path().string());
    Scratch = scratch_template;

    Subject default_package = default_subject();
    register_subject(default_package);
    benchmark::RegisterBenchmark("size/repetitive", repetitive_sizes)->Iterations(1);
    if (std::getenv("QUORVEL_WINDOWS_EXE"))
        benchmark::RegisterBenchmark("size/windows_program", windows_program_size, &default_package)->Iterations(1);
    if (std::getenv("QUORVEL_WINDOWS_DECODE"))
        benchmark::RegisterBenchmark("decode/windows_under_wine/default", decode_windows)
            ->UseManualTime()
            ->Iterations(9)
            ->Unit(benchmark::kMillisecond);
    // The program carries the default package only.
    benchmark::RegisterBenchmark("install/process/default", install_process, &default_package)
        ->UseManualTime()
        ->Iterations(21)
        ->Unit(benchmark::kMillisecond);
    std::optional<Subject> corpus;
    if (const char* folder = std::getenv("QUORVEL_CORPUS")) {
        corpus = corpus_subject(folder);
        register_subject(*corpus);
    } else {
        std::fprintf(stderr, "payload_bench: QUORVEL_CORPUS is not set, so the corpus benchmarks are skipped "
                             "(make one with make-corpus.sh OUTDIR and set QUORVEL_CORPUS=OUTDIR)\n");
    }

    // A game's size: long, so only when asked for.
    std::optional<Subject> large;
    if (const char* megabytes = std::getenv("QUORVEL_LARGE_TREE_MB")) {
        large = large_subject(std::strtoull(megabytes, nullptr, 10));
        benchmark::RegisterBenchmark("install/in_process/large", install_in_process, &*large)
            ->UseManualTime()
            ->Iterations(5)
            ->Unit(benchmark::kMillisecond);
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(Scratch);
    return 0;
}
