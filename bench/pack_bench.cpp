// The packer on a game-sized tree, beside gzip -9 and gzip -6 of the same
// tree as one tar: time, size and peak memory, each run once as its own
// process, one after the other, so that their ratios hold up on a busy
// machine even when the absolute figures do not.
//
// The tree is generated in a scratch folder: QUORVEL_PACK_BENCH_MB
// megabytes (300 unless set), then deleted.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/generated_tree.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Run {
    double seconds = 0;
    double processor_seconds = 0;   // user and system, over all threads
    double peak_mb = 0;
    uintmax_t output_bytes = 0;
};

// Runs argv to completion through sh, standard output to out; the peak is
// the child's own, as wait4 reports it.
int run(const std::string& command, const fs::path& out, Run& result)
{
    std::string line = command + " >" + out.string();
    const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return 0;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 0;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peak_mb = double(usage.ru_maxrss) / 1024;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    result.processor_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void pack_tree(benchmark::State& state)
{
    uint64_t megabytes = 300;
    if (const char* mb = std::getenv("QUORVEL_PACK_BENCH_MB"))
        megabytes = std::strtoull(mb, nullptr, 10);
    fs::path folder = fs::temp_directory_path() / ("quorvel-pack-bench-" + std::to_string(getpid()));
    fs::path tree = folder / "tree";
    make_generated_tree(tree, megabytes << 20);
    std::string tar = (folder / "tree.tar").string();
    Run unused;
    if (!run("tar -cf " + tar + " -C " + tree.string() + " data", "/dev/null", unused)) {
        state.SkipWithError("tar failed");
        return;
    }
    double raw = double(fs::file_size(tar));
    std::string manifest = (tree / "package.manifest").string();
    struct Side {
        const char* name;
        std::string command;
        fs::path output;
    } sides[] = {
        {"default", std::string(QUORVEL_PACK) + " " + manifest + " " + (folder / "default.cpp").string(),
         folder / "default.cpp"},
        {"fast", std::string(QUORVEL_PACK) + " " + manifest + " " + (folder / "fast.cpp").string() + " --level fast",
         folder / "fast.cpp"},
        {"gzip9", "gzip -9 -c " + tar, folder / "tar.gz9"},
        {"gzip6", "gzip -6 -c " + tar, folder / "tar.gz6"},
    };
    std::vector<Run> runs(std::size(sides));
    for (auto _ : state) {
        for (size_t i = 0; i < std::size(sides); i++) {
            bool packer = i < 2;
            fs::path out = packer ? folder / "summary.txt" : sides[i].output;
            if (!run(sides[i].command, out, runs[i])) {
                state.SkipWithError(sides[i].name);
                break;
            }
            if (packer) {
                // The package's size is the summary line's compressed count.
                std::ifstream summary(out);
                std::string word, last;
                while (summary >> word && word != "compressed")
                    last = word;
                runs[i].output_bytes = std::strtoull(last.c_str(), nullptr, 10);
            } else {
                runs[i].output_bytes = fs::file_size(out);
            }
        }
    }
    state.counters["raw_mb"] = raw / 1e6;
    for (size_t i = 0; i < std::size(sides); i++) {
        std::string name = sides[i].name;
        state.counters[name + "_mb_per_s"] = raw / 1e6 / runs[i].seconds;
        state.counters[name + "_size_pct"] = 100.0 * double(runs[i].output_bytes) / raw;
        state.counters[name + "_peak_mb"] = runs[i].peak_mb;
        state.counters[name + "_cpu_s"] = runs[i].processor_seconds;
    }
    // On a shared machine the wall-time ratios hold only as far as the load
    // stayed the same through the run.
    double load[1] = {0};
    if (getloadavg(load, 1) == 1)
        state.counters["load_average"] = load[0];
    // Above 1, the packer is the faster or the smaller.
    state.counters["default_speed_vs_gzip9"] = runs[2].seconds / runs[0].seconds;
    state.counters["fast_speed_vs_gzip6"] = runs[3].seconds / runs[1].seconds;
    state.counters["default_size_vs_gzip9"] = double(runs[0].output_bytes) / double(runs[2].output_bytes);
    state.counters["fast_size_vs_default"] = double(runs[1].output_bytes) / double(runs[0].output_bytes);
    fs::remove_all(folder);
}

}  // namespace

BENCHMARK(pack_tree)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
